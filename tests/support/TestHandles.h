// Handle kinds only the test tools open: the loopback server's socket, a certificate store, a folder listing.
#pragma once

#include <winsock2.h>
#include <wincrypt.h>

#include "web/Handle.h"

namespace tamsel::web {

struct SocketTraits {
    using type = SOCKET;
    static type invalid() noexcept { return INVALID_SOCKET; }
    static void close(type h) noexcept { ::closesocket(h); }
};

struct CertStoreTraits {
    using type = HCERTSTORE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::CertCloseStore(h, 0); }
};

// FindFirstFile reports failure with INVALID_HANDLE_VALUE and is closed by FindClose.
struct FindTraits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { ::FindClose(h); }
};

using Socket = UniqueHandle<SocketTraits>;        // socket (link ws2_32)
using CertStore = UniqueHandle<CertStoreTraits>;  // CertOpenStore (link crypt32)
using FindHandle = UniqueHandle<FindTraits>;      // FindFirstFileW

}  // namespace tamsel::web
