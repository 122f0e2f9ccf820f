// The parser's scanning steps over zero-terminated text. None of them steps past the terminating zero.
#pragma once

#include <cstring>
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

// Stops at `stop` or the end. A backslash passes over the next character unseen, whatever escape the
// parse options name, so an escaped stop character does not end the scan.
inline const char* ScanTo(const char* p, char stop) noexcept {
    while (*p != '\0' && *p != stop) {
        if (*p == '\\') {
            if (p[1] == '\0') return p + 1;
            p += 2;
        } else {
            ++p;
        }
    }
    return p;
}

// Stops at the first of `stops` or the end; backslashes make no difference here.
inline const char* ScanToAny(const char* p, const char* stops) noexcept {
    return p + std::strcspn(p, stops);
}

}  // namespace tamsel::markup
