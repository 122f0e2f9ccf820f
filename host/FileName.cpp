// File names taken from download URLs, and the checks that keep them to plain files in one folder.
#include "host/FileName.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace tamsel::host {
namespace {

bool IsControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

bool IsDeviceName(const std::string& name) {
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4",
                                          "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                          "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    // "nul.txt" is the device too: only the part before the first dot counts.
    std::string stem = name.substr(0, name.find('.'));
    for (char& c : stem) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (const char* device : devices) {
        if (stem == device) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool IsUsableFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 32 || std::strchr("<>:\"/\\|?*", c) != nullptr) {
            return false;
        }
    }
    const char last = name.back();
    return last != '.' && last != ' ' && !IsDeviceName(name);
}

std::string FileNameFromUrl(const std::string& url) {
    const std::string::size_type scheme = url.find("://");
    if (scheme == std::string::npos) {
        return {};
    }
    // The host part ends at the first "/", "?" or "#"; only a "/" starts a path.
    const std::string::size_type pathStart = url.find_first_of("/?#", scheme + 3);
    if (pathStart == std::string::npos || url[pathStart] != '/') {
        return {};
    }
    const std::string path = url.substr(pathStart, url.find_first_of("?#", pathStart) - pathStart);
    std::string name = path.substr(path.rfind('/') + 1);
    return IsUsableFileName(name) ? name : std::string();
}

bool HasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), IsControl);
}

std::string ShowControlCharacters(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        if (IsControl(c)) {
            char escape[5];
            std::snprintf(escape, sizeof(escape), "\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
            shown += escape;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '\\' || folder.back() == '/') {
        return folder + name;
    }
    return folder + "\\" + name;
}

}  // namespace tamsel::host
