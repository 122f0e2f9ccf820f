// The download's target file (or partial file), opened only once the reply says what to do with it.
#pragma once

#include "base/Handle.h"
#include "web/BodyConsumer.h"

#include <cstdint>
#include <string>

namespace tamsel::agent {

class FileWriter final : public web::BodyConsumer {
public:
    explicit FileWriter(std::wstring path) noexcept : m_path(std::move(path)) {}

    // The download's own rule: declines any status but 200 without touching the file; on 200 creates
    // the file, or else empties an existing one that is not read-only. Declines when neither works, so
    // nothing is downloaded for nothing.
    bool StartReply(const web::ReplyHead& head) override;

    // For a partial file: made anew and hidden (the name removed first, so a link planted there is
    // never written through); or, when it is a plain file of its own that holds at least offset
    // bytes, opened to go on at offset (anything past it cut off).
    bool OpenEmptied() noexcept;
    bool OpenForAppend(uint64_t offset);

    // Writes the bytes whole; a short write counts as a failure.
    bool Write(const char* data, size_t size) override;

    // The bytes the file holds: what it had when opened for appending, and what was written since.
    uint64_t Size() const noexcept { return m_size; }

    // Closes the file; false when it was never opened or closing failed.
    bool Finish() noexcept;

private:
    std::wstring m_path;
    FileHandle m_file;
    uint64_t m_size = 0;
};

// Whether an open file was reached at path itself, not through a link (path absolute, as PlatformPath
// makes it).
bool IsFoundAt(HANDLE file, const std::wstring& path);
// Whether an open file is one a download may write into: a plain file with a single name, found at path.
bool IsPlainFileAt(HANDLE file, const std::wstring& path);

// An 8-bit path as the platform's 8-bit file calls read it (the ANSI code page), widened.
std::wstring WidenPath(const char* path);

}  // namespace tamsel::agent
