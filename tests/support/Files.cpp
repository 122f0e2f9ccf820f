// Files as the tests see them: a scratch folder of the test's own, and reading, writing and sizing files.
#include "support/Files.h"

#include "base/Handle.h"
#include "support/TestHandles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace tamsel::test {

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int64_t SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string Contents(const std::string& path) {
    FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return "<missing>";
    std::string bytes;
    std::vector<char> block(1 << 20);
    DWORD got = 0;
    while (::ReadFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr) && got > 0) {
        bytes.append(block.data(), got);
    }
    return bytes;
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
    FileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::wstring Wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

ScratchFolder::ScratchFolder() {
    // Process id and a count: suites of both builds and several fixtures of one run never share a folder.
    static unsigned counter = 0;
    char base[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, base);
    path = std::string(base) + "tamsel-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
    ::CreateDirectoryA(path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string file = path + "\\" + found.cFileName;
            ::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileA(file.c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(path.c_str());
}

std::string ScratchFolder::Write(const std::string& name, const std::string& bytes) const {
    const std::string file = File(name);
    EXPECT_TRUE(WriteWhole(file, bytes)) << "cannot write " << file;
    return file;
}

std::vector<std::string> ScratchFolder::Names() const {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    const web::FindHandle search(::FindFirstFileA((path + "\\*").c_str(), &found));
    for (BOOL more = search ? TRUE : FALSE; more; more = ::FindNextFileA(search.get(), &found)) {
        if (std::string(found.cFileName) != "." && std::string(found.cFileName) != "..") {
            names.push_back(found.cFileName);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace tamsel::test
