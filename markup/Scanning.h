// The parser's scanning steps over zero-terminated text. None of them steps past the terminating zero.
#pragma once

#include <string_view>

namespace tamsel::markup {

// A set of characters as a table, built at compile time.
class CharSet {
public:
    constexpr explicit CharSet(const char* characters) noexcept : member{} {
        for (; *characters != '\0'; ++characters) member[static_cast<unsigned char>(*characters)] = true;
    }
    constexpr bool Has(char c) const noexcept { return member[static_cast<unsigned char>(c)]; }

protected:
    bool member[256];
};

// A set of stop characters; the terminating zero is always in it, so no scan passes the end.
class StopSet : public CharSet {
public:
    constexpr explicit StopSet(const char* stops) noexcept : CharSet(stops) { member[0] = true; }
};

// The six C whitespace characters; bytes 0x80 and above never are. A table, like the stop sets: the
// parser asks this of most characters outside the scans.
inline bool IsWhitespace(char c) noexcept {
    static constexpr CharSet WHITESPACE(" \t\n\v\f\r");
    return WHITESPACE.Has(c);
}

inline bool IsBlank(std::string_view text) noexcept {
    for (char c : text) {
        if (!IsWhitespace(c)) return false;
    }
    return true;
}

inline const char* SkipBlanks(const char* p) noexcept {
    while (IsWhitespace(*p)) ++p;
    return p;
}

// Stops at the first of `stops` or the end; backslashes make no difference here.
inline const char* ScanToAny(const char* p, const StopSet& stops) noexcept {
    while (!stops.Has(*p)) ++p;
    return p;
}

// ScanTo over a set that holds its stop character and the backslash: one table look per character.
inline const char* ScanToUnescaped(const char* p, const StopSet& stopAndBackslash) noexcept {
    for (;; p += 2) {
        p = ScanToAny(p, stopAndBackslash);
        if (*p != '\\') return p;
        if (p[1] == '\0') return p + 1;
    }
}

// Stops at `stop` or the end. A backslash passes over the next character unseen, whatever escape the
// parse options name, so an escaped stop character does not end the scan. stop is never a backslash.
inline const char* ScanTo(const char* p, char stop) noexcept {
    // The parser's three stops get a table; any other takes the plain loop.
    static constexpr StopSet TEXT_END("<\\"), DOUBLE_QUOTE_END("\"\\"), QUOTE_END("'\\");
    switch (stop) {
    case '<': return ScanToUnescaped(p, TEXT_END);
    case '"': return ScanToUnescaped(p, DOUBLE_QUOTE_END);
    case '\'': return ScanToUnescaped(p, QUOTE_END);
    default: break;
    }
    for (;; p += 2) {
        while (*p != stop && *p != '\\' && *p != '\0') ++p;
        if (*p != '\\') return p;
        if (p[1] == '\0') return p + 1;
    }
}

}  // namespace tamsel::markup
