// UTF-8 inside the host, UTF-16 at the platform's wide calls: the two conversions between them.
#pragma once

#include <string>

namespace tamsel::host {

// Sequences that are not valid UTF-8 (or UTF-16) become U+FFFD rather than failing: a name the host
// cannot read is still shown, and a file call with it fails with the platform's own answer.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

}  // namespace tamsel::host
