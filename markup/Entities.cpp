// The entity table and the two character-level transforms of attribute values and element texts.
#include "markup/Entities.h"

#include <cstring>

namespace tamsel::markup {
namespace {

constexpr EntityEntry DEFAULT_ROWS[] = {
    {'&', "&amp;", 5}, {'"', "&quot;", 6}, {'\'', "&apos;", 6}, {'<', "&lt;", 4}, {'>', "&gt;", 4},
};
constexpr EntityTable DEFAULT_TABLE{DEFAULT_ROWS, sizeof DEFAULT_ROWS / sizeof DEFAULT_ROWS[0]};

// The first row whose whole reference begins at `at`, or null.
const EntityEntry* MatchRow(const EntityTable& table, const char* at, size_t available) noexcept {
    for (size_t i = 0; i < table.count; ++i) {
        const EntityEntry& row = table.rows[i];
        if (row.reference[0] != *at) continue;
        const size_t referenceLength = strnlen(row.reference, sizeof row.reference);
        if (referenceLength <= available && std::memcmp(at, row.reference, referenceLength) == 0) {
            return &row;
        }
    }
    return nullptr;
}

// How far a matching row moves the input. Clamped so that a caller's table with a nonsensical length
// can neither stall the loop nor run it past the end.
size_t Advance(const EntityEntry& row, size_t available) noexcept {
    if (row.length < 1) return 1;
    return static_cast<size_t>(row.length) < available ? static_cast<size_t>(row.length) : available;
}

}  // namespace

const EntityTable& DefaultEntityTable() noexcept {
    return DEFAULT_TABLE;
}

void RemoveEscapesInPlace(std::string& text, char escape) noexcept {
    size_t out = text.find(escape);
    if (out == std::string::npos) return;
    bool escaped = false;
    for (size_t in = out; in < text.size(); ++in) {
        const char c = text[in];
        if (c == escape && !escaped) {
            escaped = true;
            continue;
        }
        text[out++] = c;
        escaped = false;
    }
    text.resize(out);
}

void DecodeEntitiesInPlace(const EntityTable& table, std::string& text) noexcept {
    char* const data = text.data();
    const size_t size = text.size();
    size_t in = 0;
    while (in < size && !table.Begins(data[in])) ++in;
    if (in == size) return;  // no reference can start anywhere: the usual case
    // Each step writes one character and consumes at least one, so writing never overtakes reading.
    size_t out = in;
    while (in < size) {
        const size_t available = size - in;
        const EntityEntry* row = table.Begins(data[in]) ? MatchRow(table, data + in, available) : nullptr;
        if (row != nullptr) {
            data[out++] = row->character;
            in += Advance(*row, available);
        } else {
            data[out++] = data[in++];
        }
    }
    text.resize(out);
}

std::string RemoveEscapes(const char* begin, const char* end, char escape) {
    std::string result(begin, end);
    RemoveEscapesInPlace(result, escape);
    return result;
}

std::string DecodeEntities(const EntityTable& table, const char* text) {
    std::string result(text != nullptr ? text : "");
    DecodeEntitiesInPlace(table, result);
    return result;
}

}  // namespace tamsel::markup
