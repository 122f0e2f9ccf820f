// A whole local file for a multipart file part: the platform's file API on Windows, the standard library elsewhere.
#include "web/RequestBody.h"

#ifdef _WIN32
#include "base/Handle.h"
#else
#include <cstdint>
#include <filesystem>
#include <fstream>
#endif

namespace tamsel::web {

#ifdef _WIN32

bool ReadFileBytes(const std::string& path, std::string& bytes) {
    bytes.clear();
    // No sharing: nobody may change the file while it is read.
    FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    LARGE_INTEGER fileSize{};
    if (!::GetFileSizeEx(file.get(), &fileSize) || fileSize.QuadPart > MAXDWORD) return false;
    const DWORD size = static_cast<DWORD>(fileSize.QuadPart);
    std::string content;
    if (size > content.max_size()) return false;  // a 32-bit process cannot hold 2 GB or more
    content.resize(size);
    DWORD read = 0;
    if (!::ReadFile(file.get(), content.data(), size, &read, nullptr) || read != size) return false;
    bytes = std::move(content);
    return true;
}

#else

bool ReadFileBytes(const std::string& path, std::string& bytes) {
    bytes.clear();
    // A directory opens as a stream too; only a regular file has content to send.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > UINT32_MAX) return false;
    std::ifstream file(path, std::ios::binary);
    std::string content(static_cast<size_t>(size), '\0');
    const auto length = static_cast<std::streamsize>(size);
    if (!file || !file.read(content.data(), length) || file.gcount() != length) return false;
    bytes = std::move(content);
    return true;
}

#endif

}  // namespace tamsel::web
