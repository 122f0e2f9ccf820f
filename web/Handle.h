// The WinINet handle kinds, owned by the one RAII template of the base.
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

}  // namespace tamsel::web
