// The second interface generation's answers: FetchToFileEx's results over the first interface's, and what
// it asks of the agent.
#pragma once

#include "faces/OpsResult.h"

namespace tamsel::faces {

// The result of the second interface, and of every later one for what it does not tell apart: a cancel is
// E_ABORT; a size, a certificate, a redirect and a proxy's refusal have codes of their own; every other
// failure of the file or the transfer is E_FAIL.
HRESULT Ops2Result(const agent::Answer& answer) noexcept;

// What FetchToFileEx asks: the probe beside its first request, into a UTF-16 path (made absolute), as its
// flags say; a flag it does not know makes the request one the agent refuses.
agent::DownloadRequest FetchExRequest(const char* url, const wchar_t* path, ULONG flags, LONGLONG expectedSize);

}  // namespace tamsel::faces
