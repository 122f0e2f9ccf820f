// A local file that a download writes (its target, or a partial file beside it), the direct download's
// rule on top of its target, and what lies at a path.
#pragma once

#include "agent/ExpectedSize.h"
#include "base/Handle.h"
#include "web/BodyConsumer.h"

#include <cstdint>
#include <string>

namespace tamsel::agent {

// Opened one of three ways, written whole, closed.
class LocalFile {
public:
    explicit LocalFile(std::wstring path) noexcept : m_path(std::move(path)) {}

    // A download's target itself: created, or else an existing file that is not read-only emptied.
    bool Open() noexcept;

    // For a partial file: made anew and hidden (the name removed first, so a link planted there is
    // never written through); or, when it is a plain file of its own that holds at least offset
    // bytes, opened to go on at offset (anything past it cut off).
    bool OpenEmptied() noexcept;
    bool OpenForAppend(uint64_t offset);

    // Writes the bytes whole; a short write counts as a failure.
    bool Write(const char* data, size_t size);

    // The bytes the file holds: what it had when opened for appending, and what was written since.
    uint64_t Size() const noexcept { return m_size; }

    // Closes the file; false when it was never opened or closing failed.
    bool Finish() noexcept;

private:
    std::wstring m_path;
    FileHandle m_file;
    uint64_t m_size = 0;
};

// The direct download's rule: any status but 200, or a whole length announced other than the expected
// one, is declined without touching the file; a 200 opens the target. Declined when it cannot be opened,
// so nothing is downloaded for nothing.
class DirectTarget final : public web::BodyConsumer {
public:
    DirectTarget(LocalFile& file, ExpectedSize expected) noexcept : m_file(file), m_expected(expected) {}
    bool StartReply(const web::ReplyHead& head) override;
    bool Write(const char* data, size_t size) override;
    // Closes the target once the transfer is over, when it was opened.
    void Finish() noexcept;

    bool mismatch = false;  // declined for its announced length
    // The target could not be opened, written or closed; localError: the platform's reason, when it gave one.
    bool refused = false;
    DWORD localError = 0;

private:
    bool Refuse() noexcept;

    LocalFile& m_file;
    ExpectedSize m_expected;
    bool m_opened = false;
};

// Whether the file at path is read-only: such a file is never overwritten, nor replaced.
bool IsReadOnly(const std::wstring& path) noexcept;

// Whether an open file was reached at path itself, not through a link (path absolute, as PlatformPath
// makes it).
bool IsFoundAt(HANDLE file, const std::wstring& path);
// Whether an open file is one a download may write into: a plain file with a single name, found at path.
bool IsPlainFileAt(HANDLE file, const std::wstring& path);

}  // namespace tamsel::agent
