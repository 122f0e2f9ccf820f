// The third interface generation's answers: the verified download's distinct results over the second
// interface's, what it asks of the agent, and QueryDownloadEx's two texts.
#pragma once

#include "faces/Ops2Result.h"

namespace tamsel::faces {

// The third interface's result: a break is AGENT_E_BROKEN, a wrong digest AGENT_E_DIGEST_MISMATCH, a local
// file's failure the platform's own code (localError; E_FAIL when it gave none).
HRESULT Ops3Result(const agent::Answer& answer, uint32_t localError = 0) noexcept;

// What FetchToFileVerified asks: FetchToFileEx's request, always into a partial file, proving sha256 (null
// or empty: no digest).
agent::DownloadRequest VerifiedRequest(const char* url, const wchar_t* path, ULONG flags, LONGLONG expectedSize,
                                       const char* sha256);

// QueryDownloadEx's answer: the download URL and the digest as 64 lowercase digits (empty when the reply
// names none), both or neither, each under the caller-buffer rule; the size with them.
HRESULT QueryExResult(const agent::QueryAnswer& answer, char* downloadUrl, ULONG downloadUrlSize,
                      LONGLONG* fileSize, char* sha256, ULONG sha256Size);

}  // namespace tamsel::faces
