// Character entities and escapes: the five-row entity table, escape removal and entity decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tamsel::markup {

struct EntityEntry {
    char character;      // what the reference stands for
    char reference[11];  // zero-terminated, closing ';' included
    int32_t length;      // input characters consumed when the row matches
};

// An ordered, read-only list of rows; at each input position the first matching row wins.
struct EntityTable {
    constexpr EntityTable(const EntityEntry* tableRows, size_t rowCount) noexcept
        : rows(tableRows), count(rowCount), leads{} {
        for (size_t i = 0; i < count; ++i) leads[static_cast<unsigned char>(rows[i].reference[0])] = true;
        leads[0] = false;
    }
    // Whether some row begins with c: text without such characters passes through untouched.
    constexpr bool Begins(char c) const noexcept { return leads[static_cast<unsigned char>(c)]; }

    const EntityEntry* rows;
    size_t count;

private:
    bool leads[256];
};

// The process-wide table: &amp; &quot; &apos; &lt; &gt;, in that order. It is constant-initialised,
// so it exists before any parse can run and needs no lock.
const EntityTable& DefaultEntityTable() noexcept;

// [begin, end) without its escapes: an escape drops itself and makes the next character literal
// (a doubled escape gives one), and a lone escape at the end is dropped. escape must not be 0.
std::string RemoveEscapes(const char* begin, const char* end, char escape);

// text (zero-terminated) with the table's references replaced by their characters, in one pass, so
// output is never decoded again. Anything else passes through unchanged: other names, numeric
// references, upper-case forms, a reference without its ';', a bare '&'.
std::string DecodeEntities(const EntityTable& table, const char* text);

// The same two transforms over a string in place. Neither makes the text longer, so neither allocates.
void RemoveEscapesInPlace(std::string& text, char escape) noexcept;
void DecodeEntitiesInPlace(const EntityTable& table, std::string& text) noexcept;

}  // namespace tamsel::markup
