// The local file name a download gets: the last path segment of its URL, when Windows can hold it.
#pragma once

#include <string>

namespace tamsel::host {

// The last segment of the URL's path (after scheme and host, before any "?" or "#"), unchanged:
// nothing is unescaped. Empty when the URL has no path or the segment is not a usable file name.
std::string FileNameFromUrl(const std::string& url);

// False for "", "." and "..", for names with characters Windows refuses (control characters and
// <>:"/\|?*), for names ending in a dot or a space (Windows would silently drop them), and for device
// names (CON, NUL, COM1, ...) with or without an extension, which would write to no file at all.
bool IsUsableFileName(const std::string& name);

// Whether text holds a control character (below 0x20, or 0x7F).
bool HasControlCharacter(const std::string& text);

// text with each control character written as \xNN, fit to be shown on a console.
std::string ShowControlCharacters(const std::string& text);

// `folder` and `name` joined with one backslash.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace tamsel::host
