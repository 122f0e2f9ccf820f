// A download's body on its way to the partial file, hashed as it is written, and why the file refused it.
#pragma once

#include "agent/Sha256.h"
#include "web/BodyConsumer.h"

#include <windows.h>

#include <memory>

namespace tamsel::agent {

class BackgroundHash;
class PartialDownload;

class HashedBody final : public web::BodyConsumer {
public:
    // expected null: the bytes only pass on.
    HashedBody(PartialDownload& file, const Digest* expected) noexcept;
    ~HashedBody();
    HashedBody(const HashedBody&) = delete;
    HashedBody& operator=(const HashedBody&) = delete;

    // Before a 206 continues the partial file, hashes what the file already holds: the one read a
    // digest costs, and only after a break (never for a part the partial file will not take).
    bool StartReply(const web::ReplyHead& head) override;
    bool Write(const char* data, size_t size) override;

    // Whether the bytes of the whole file (prefix and body) have the expected digest; true when none was
    // asked for. Call once, after the transfer.
    bool Matches() noexcept;
    // The platform's error when the file (or the hash) refused the reply or its bytes; 0 otherwise.
    DWORD LocalError() const noexcept { return m_error; }

private:
    bool HashPrefix() noexcept;
    bool Refused(DWORD fallback) noexcept;

    PartialDownload& m_file;
    const Digest* m_expected;
    std::unique_ptr<Sha256> m_hash;
    std::unique_ptr<BackgroundHash> m_background;  // the body's hashing; null: on the caller's thread
    DWORD m_error = 0;
};

}  // namespace tamsel::agent
