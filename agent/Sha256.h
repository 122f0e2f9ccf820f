// SHA-256 through the platform (BCrypt, or CryptoAPI where bcrypt.dll is missing), and digests as text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tamsel::agent {

using Digest = std::array<uint8_t, 32>;

// 64 hexadecimal digits in either case; nothing for anything else (spaces, a prefix, another length).
std::optional<Digest> ParseDigest(const std::string& text);
// 64 lowercase hexadecimal digits.
std::string DigestText(const Digest& digest);

class Sha256 {
public:
    enum class Provider { Any, CryptoApi };

    // Any: BCrypt when bcrypt.dll is there, else CryptoAPI. False (operator bool) when neither works.
    explicit Sha256(Provider provider = Provider::Any) noexcept;
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    explicit operator bool() const noexcept { return m_hash != nullptr; }
    bool Add(const void* data, size_t size) noexcept;
    // The digest of everything added; the object is spent afterwards.
    std::optional<Digest> Finish() noexcept;

    class Hash;

private:
    std::unique_ptr<Hash> m_hash;
};

}  // namespace tamsel::agent
