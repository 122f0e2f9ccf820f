// The parser's scanning steps over zero-terminated text. None of them steps past the terminating zero.
#pragma once

#include <string_view>

namespace tamsel::markup {

// The six C whitespace characters; bytes 0x80 and above never are.
inline bool IsWhitespace(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
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

// A set of stop characters as a table, built at compile time; the terminating zero is always in it.
class StopSet {
public:
    constexpr explicit StopSet(const char* stops) noexcept : member{} {
        member[0] = true;
        for (; *stops != '\0'; ++stops) member[static_cast<unsigned char>(*stops)] = true;
    }
    constexpr bool Has(char c) const noexcept { return member[static_cast<unsigned char>(c)]; }

private:
    bool member[256];
};

// Stops at `stop` or the end. A backslash passes over the next character unseen, whatever escape the
// parse options name, so an escaped stop character does not end the scan. stop is never a backslash.
inline const char* ScanTo(const char* p, char stop) noexcept {
    for (;; p += 2) {
        while (*p != stop && *p != '\\' && *p != '\0') ++p;
        if (*p != '\\') return p;
        if (p[1] == '\0') return p + 1;
    }
}

// Stops at the first of `stops` or the end; backslashes make no difference here.
inline const char* ScanToAny(const char* p, const StopSet& stops) noexcept {
    while (!stops.Has(*p)) ++p;
    return p;
}

}  // namespace tamsel::markup
