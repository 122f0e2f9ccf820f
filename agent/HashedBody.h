// A download's body on its way to the partial file, hashed as it is written, and why the file refused it.
#pragma once

#include "agent/Sha256.h"
#include "base/Handle.h"
#include "web/BodyConsumer.h"

#include <windows.h>

#include <memory>

namespace tamsel::agent {

class BackgroundHash;
class PartialDownload;

// What one attempt's hashing leaves to the next attempt of the same call: the hash of the partial file's
// first `bytes` bytes, unfinished, and the partial file held open against writers until the next attempt
// takes it, so that the bytes hashed are still the bytes there. The next attempt's reply that goes on at
// exactly that byte needs no read of the file; any other makes its own hash.
struct CarriedHash {
    std::unique_ptr<Sha256> hash;
    uint64_t bytes = 0;
    FileHandle guard;  // read, shared for reading alone
};

class HashedBody final : public web::BodyConsumer {
public:
    // expected null: the bytes only pass on. carried (may be null): what an earlier attempt of the call
    // left, taken by the first reply this body starts.
    HashedBody(PartialDownload& file, const Digest* expected, CarriedHash* carried = nullptr) noexcept;
    ~HashedBody();
    HashedBody(const HashedBody&) = delete;
    HashedBody& operator=(const HashedBody&) = delete;

    // Before a 206 continues the partial file, hashes what the file already holds: the one read a
    // digest costs, and only after a break (never for a part the partial file will not take).
    bool StartReply(const web::ReplyHead& head) override;
    bool Write(const char* data, size_t size) override;

    // Whether the bytes of the whole file (prefix and body) have the expected digest; true when none was
    // asked for. Call once, after a transfer that completed.
    bool Matches() noexcept;
    // After a transfer that did not complete, whose partial file stays for the next attempt: hands that
    // attempt the hash so far when it covers exactly the bytes the file holds.
    void Carry(CarriedHash& carried) noexcept;
    // The platform's error when the file (or the hash) refused the reply or its bytes; 0 otherwise.
    DWORD LocalError() const noexcept { return m_error; }

private:
    bool StartHash(const web::ReplyHead& head) noexcept;
    bool HashPrefix() noexcept;
    bool Refused(DWORD fallback) noexcept;

    PartialDownload& m_file;
    const Digest* m_expected;
    CarriedHash* m_carried;
    std::unique_ptr<Sha256> m_hash;
    uint64_t m_hashed = 0;  // bytes of the file the hash holds
    std::unique_ptr<BackgroundHash> m_background;  // the body's hashing; null: on the caller's thread
    DWORD m_error = 0;
};

}  // namespace tamsel::agent
