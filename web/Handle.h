// The WinINet handle kinds, owned by the one RAII template of the base, and a reply's handles together.
#pragma once

#include "base/Handle.h"

#include <wininet.h>

namespace tamsel::web {

using InternetTraits = NullIsInvalid<HINTERNET, ::InternetCloseHandle>;

// Declare them in opening order: destruction then closes the newest first.
using InternetSession = UniqueHandle<InternetTraits>;     // InternetOpenA
using InternetConnection = UniqueHandle<InternetTraits>;  // InternetConnectA
using InternetRequest = UniqueHandle<InternetTraits>;     // HttpOpenRequestA, InternetOpenUrlA
using FtpFile = UniqueHandle<InternetTraits>;             // FtpOpenFileA, FtpFindFirstFileA

// A request whose reply body may not have been read to its end, with the handles it was opened under
// (either parent may be empty). Declared in opening order, so that they close newest first.
struct UnreadReply {
    InternetSession session;
    InternetConnection connection;
    InternetRequest request;
};

}  // namespace tamsel::web
