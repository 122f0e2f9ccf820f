// Registry content as sorted text lines.
#include "tests/module/RegistryDump.h"

#include "base/Handle.h"

#include <algorithm>
#include <vector>

namespace tamsel::module::test {
namespace {

RegistryKey OpenKey(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    return RegistryKey(::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS ? key : nullptr);
}

std::wstring ValueText(DWORD type, const std::vector<BYTE>& data, DWORD size) {
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return L"<type " + std::to_wstring(type) + L">";
    }
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    return text;
}

void DumpInto(HKEY key, const std::wstring& path, std::vector<std::wstring>& lines) {
    lines.push_back(path);
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256, type = 0, size = 4096;
        std::vector<BYTE> data(size);
        if (::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) {
            break;
        }
        lines.push_back(path + L"\\" + (nameLength == 0 ? L"@" : name) + L"=" + ValueText(type, data, size));
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (::RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        RegistryKey child = OpenKey(key, name);
        if (child) {
            DumpInto(child.get(), path + L"\\" + name, lines);
        }
    }
}

}  // namespace

std::vector<std::wstring> KeyLines(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> lines;
    if (RegistryKey key = OpenKey(root, path)) {
        DumpInto(key.get(), path, lines);
    }
    return lines;
}

std::wstring DumpKey(HKEY root, const std::wstring& path) {
    return SortedLines(KeyLines(root, path));
}

bool KeyExists(HKEY root, const std::wstring& path) {
    return static_cast<bool>(OpenKey(root, path));
}

std::wstring DefaultValue(HKEY root, const std::wstring& path) {
    wchar_t data[1024] = L"";
    DWORD size = sizeof data - sizeof(wchar_t);
    if (::RegGetValueW(root, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS) {
        return {};
    }
    return data;
}

std::wstring SortedLines(std::vector<std::wstring> lines) {
    std::sort(lines.begin(), lines.end());
    std::wstring text;
    for (const auto& line : lines) {
        text += line + L"\n";
    }
    return text;
}

std::wstring RegistryForm(const GUID& guid) {
    wchar_t text[40] = L"";
    ::StringFromGUID2(guid, text, 40);
    return text;
}

}  // namespace tamsel::module::test
