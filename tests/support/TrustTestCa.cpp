// Adds the loopback test server's test CA to the current user's Root store of the Wine prefix it runs in.
// Usage: tamsel_trust_ca CA-FILE (DER or PEM). Adding a certificate that is already there succeeds.
#include "support/TestHandles.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<BYTE> ReadFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// PEM text becomes DER; anything else is taken as DER already.
std::vector<BYTE> ToDer(const std::vector<BYTE>& contents) {
    const std::string text(contents.begin(), contents.end());
    if (text.find("-----BEGIN") == std::string::npos) {
        return contents;
    }
    DWORD size = 0;
    if (!::CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER,
                                nullptr, &size, nullptr, nullptr)) {
        return {};
    }
    std::vector<BYTE> der(size);
    if (!::CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER,
                                der.data(), &size, nullptr, nullptr)) {
        return {};
    }
    der.resize(size);
    return der;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tamsel_trust_ca CA-FILE\n");
        return 2;
    }
    const std::vector<BYTE> der = ToDer(ReadFile(argv[1]));
    if (der.empty()) {
        std::fprintf(stderr, "tamsel_trust_ca: cannot read a certificate from %s\n", argv[1]);
        return 1;
    }
    tamsel::web::CertStore root(::CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                                                "Root"));
    if (!root) {
        std::fprintf(stderr, "tamsel_trust_ca: cannot open the Root store (%lu)\n", ::GetLastError());
        return 1;
    }
    if (!::CertAddEncodedCertificateToStore(root.get(), X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                            CERT_STORE_ADD_USE_EXISTING, nullptr)) {
        std::fprintf(stderr, "tamsel_trust_ca: cannot add the certificate (%lu)\n", ::GetLastError());
        return 1;
    }
    return 0;
}
