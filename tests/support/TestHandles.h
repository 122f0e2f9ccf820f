// Handle kinds only the test tools open: the loopback server's control socket and the certificate store.
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

using Socket = UniqueHandle<SocketTraits>;        // socket (link ws2_32)
using CertStore = UniqueHandle<CertStoreTraits>;  // CertOpenStore (link crypt32)

}  // namespace tamsel::web
