// The fourth interface generation's answers: the resilient download's results over the third interface's,
// what it asks of the agent (sources, policy), what it tells (info), QueryDownloadSources' list and the
// report's fields.
#pragma once

#include "faces/Ops3Result.h"

namespace tamsel::faces {

// The fourth interface's result: AGENT_E_RETRY_LATER for a server that asked to be asked later than the
// download may wait; the third's for everything else.
HRESULT Ops4Result(const agent::Answer& answer, uint32_t localError = 0) noexcept;

// How one attempt ended, as NotifyRetry and TAMSEL_DOWNLOAD_INFO tell it: the fourth interface's result,
// but the platform's own code for an exchange that could not be made when it gave one.
HRESULT AttemptResult(const agent::AttemptEnd& end) noexcept;

// What FetchToFileResilient asks: FetchToFileVerified's request over the sources' list (a zero after each,
// one more after the last), under the policy (null: the defaults; 0 in a field: its default). A list or
// policy it cannot take (no source, more than 32, a policy of an unknown size or out of bounds) makes the
// request one the agent refuses.
agent::ResilientRequest ResilientRequestOf(const char* sources, const wchar_t* path, ULONG flags,
                                           LONGLONG expectedSize, const char* sha256,
                                           const TAMSEL_DOWNLOAD_POLICY* policy);

// Whether info is one the agent may fill: null, or of a size it knows.
bool IsKnownInfo(const TAMSEL_DOWNLOAD_INFO* info) noexcept;
// Fills info (when not null) with what the download did; its cbSize stays.
void FillInfo(const agent::AttemptInfo& done, TAMSEL_DOWNLOAD_INFO* info) noexcept;
// What a report tells the service of a download whose info this is, and which ended with result.
agent::ReportedDownload ReportedOf(const TAMSEL_DOWNLOAD_INFO& info, HRESULT result) noexcept;

// QueryDownloadSources' answer: the download URL and each mirror, each followed by a zero and the list by
// one more, and the digest as QueryDownloadEx writes it; both or neither, under the caller-buffer rule.
HRESULT QuerySourcesResult(const agent::QueryAnswer& answer, char* sources, ULONG sourcesSize, LONGLONG* fileSize,
                           char* sha256, ULONG sha256Size);

}  // namespace tamsel::faces
