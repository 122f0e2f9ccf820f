// SHA-256 through the platform (BCrypt, or CryptoAPI where bcrypt.dll is missing), and digests as text.
#include "agent/Sha256.h"

#include "base/Handle.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <iterator>
#include <new>
#include <vector>

namespace tamsel::agent {

// One hash under way, whichever provider computes it.
class Sha256::Hash {
public:
    virtual ~Hash() = default;
    virtual bool Add(const uint8_t* data, ULONG size) noexcept = 0;
    virtual bool Finish(Digest& digest) noexcept = 0;
};

namespace {

// bcrypt.dll by its full path in the system folder: by name alone, where it is not one of the
// platform's known DLLs, a file of that name beside the host's program (a downloads folder) loads first.
HMODULE LoadSystemBCrypt() noexcept {
    static constexpr wchar_t NAME[] = L"\\bcrypt.dll";
    wchar_t path[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + std::size(NAME) > MAX_PATH) return nullptr;
    std::copy(std::begin(NAME), std::end(NAME), path + length);
    return ::LoadLibraryW(path);
}

// BCrypt is looked up at run time: bcrypt.dll is missing on the oldest systems the DLL still loads on,
// and a static import would keep it from loading there at all.
class BCryptHash final : public Sha256::Hash {
public:
    BCryptHash() noexcept : m_library(LoadSystemBCrypt()) {}
    ~BCryptHash() override {
        // The closing functions live in the library looked up at run time, so no handle traits can name
        // them: they are closed here, hash before provider, while the library is still loaded.
        if (m_hash != nullptr) m_destroyHash(m_hash);
        if (m_algorithm != nullptr) m_closeProvider(m_algorithm, 0);
    }

    bool Open() noexcept;
    bool Add(const uint8_t* data, ULONG size) noexcept override {
        return m_hashData(m_hash, const_cast<PUCHAR>(data), size, 0) >= 0;
    }
    bool Finish(Digest& digest) noexcept override {
        return m_finishHash(m_hash, digest.data(), static_cast<ULONG>(digest.size()), 0) >= 0;
    }

private:
    template <typename Function>
    bool Find(Function& function, const char* name) noexcept {
        function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(m_library.get(), name)));
        return function != nullptr;
    }

    LibraryHandle m_library;
    decltype(&::BCryptOpenAlgorithmProvider) m_openProvider = nullptr;
    decltype(&::BCryptCloseAlgorithmProvider) m_closeProvider = nullptr;
    decltype(&::BCryptGetProperty) m_getProperty = nullptr;
    decltype(&::BCryptCreateHash) m_createHash = nullptr;
    decltype(&::BCryptHashData) m_hashData = nullptr;
    decltype(&::BCryptFinishHash) m_finishHash = nullptr;
    decltype(&::BCryptDestroyHash) m_destroyHash = nullptr;
    BCRYPT_ALG_HANDLE m_algorithm = nullptr;
    BCRYPT_HASH_HANDLE m_hash = nullptr;
    std::vector<UCHAR> m_object;  // the hash's state: Vista wants it from the caller
};

bool BCryptHash::Open() noexcept {
    if (!m_library || !Find(m_openProvider, "BCryptOpenAlgorithmProvider") ||
        !Find(m_closeProvider, "BCryptCloseAlgorithmProvider") || !Find(m_getProperty, "BCryptGetProperty") ||
        !Find(m_createHash, "BCryptCreateHash") || !Find(m_hashData, "BCryptHashData") ||
        !Find(m_finishHash, "BCryptFinishHash") || !Find(m_destroyHash, "BCryptDestroyHash")) {
        return false;
    }
    if (m_openProvider(&m_algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) {
        m_algorithm = nullptr;
        return false;
    }
    DWORD objectSize = 0;
    ULONG got = 0;
    if (m_getProperty(m_algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize), sizeof(objectSize),
                      &got, 0) < 0) {
        return false;
    }
    try {
        m_object.resize(objectSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (m_createHash(m_algorithm, &m_hash, m_object.data(), objectSize, nullptr, 0, 0) < 0) {
        m_hash = nullptr;
        return false;
    }
    return true;
}

struct CryptProviderTraits {
    using type = HCRYPTPROV;
    static type invalid() noexcept { return 0; }
    static void close(type provider) noexcept { ::CryptReleaseContext(provider, 0); }
};
struct CryptHashTraits {
    using type = HCRYPTHASH;
    static type invalid() noexcept { return 0; }
    static void close(type hash) noexcept { ::CryptDestroyHash(hash); }
};

// CryptoAPI's SHA-256 lives in the AES provider (XP SP3 and later).
class CryptoApiHash final : public Sha256::Hash {
public:
    bool Open() noexcept {
        if (!::CryptAcquireContextW(m_provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
            return false;
        }
        return ::CryptCreateHash(m_provider.get(), CALG_SHA_256, 0, 0, m_hash.put()) != FALSE;
    }
    bool Add(const uint8_t* data, ULONG size) noexcept override {
        return ::CryptHashData(m_hash.get(), data, size, 0) != FALSE;
    }
    bool Finish(Digest& digest) noexcept override {
        DWORD size = static_cast<DWORD>(digest.size());
        return ::CryptGetHashParam(m_hash.get(), HP_HASHVAL, digest.data(), &size, 0) && size == digest.size();
    }

private:
    UniqueHandle<CryptProviderTraits> m_provider;
    UniqueHandle<CryptHashTraits> m_hash;
};

template <typename Kind>
std::unique_ptr<Sha256::Hash> Opened() noexcept {
    std::unique_ptr<Kind> hash(new (std::nothrow) Kind());
    if (!hash || !hash->Open()) return nullptr;
    return hash;
}

int HexValue(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<Digest> ParseDigest(const std::string& text) {
    Digest digest;
    if (text.size() != digest.size() * 2) return std::nullopt;
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return digest;
}

std::string DigestText(const Digest& digest) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t byte : digest) {
        text += DIGITS[byte >> 4];
        text += DIGITS[byte & 0xF];
    }
    return text;
}

Sha256::Sha256(Provider provider) noexcept {
    if (provider == Provider::Any) m_hash = Opened<BCryptHash>();
    if (!m_hash) m_hash = Opened<CryptoApiHash>();
}

Sha256::~Sha256() = default;

bool Sha256::Add(const void* data, size_t size) noexcept {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (m_hash && size > 0) {
        const ULONG piece = static_cast<ULONG>(std::min<size_t>(size, 0x40000000));
        if (!m_hash->Add(bytes, piece)) return false;
        bytes += piece;
        size -= piece;
    }
    return static_cast<bool>(m_hash);
}

std::optional<Digest> Sha256::Finish() noexcept {
    Digest digest;
    const bool done = m_hash && m_hash->Finish(digest);
    m_hash.reset();
    if (!done) return std::nullopt;
    return digest;
}

}  // namespace tamsel::agent
