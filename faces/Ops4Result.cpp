// The fourth interface generation's answers: the resilient download's results over the third interface's,
// what it asks of the agent, what it tells, QueryDownloadSources' list and the report's fields.
#include "faces/Ops4Result.h"

#include "base/Result.h"
#include "faces/CallerBuffer.h"

#include <cstring>

namespace tamsel::faces {
namespace {

// A field of the policy, or its default when 0.
uint32_t OrDefault(ULONG value, uint32_t fallback) noexcept {
    return value != 0 ? value : fallback;
}

// The sources' list read up to its empty entry; more than the agent takes stops the reading there.
std::vector<std::string> SourcesOf(const char* list) {
    std::vector<std::string> sources;
    for (const char* at = list; at != nullptr && *at != '\0'; at += std::strlen(at) + 1) {
        sources.emplace_back(at);
        if (sources.size() > agent::ResilientRequest::MAX_SOURCES) break;
    }
    return sources;
}

// The policy's fields in force; false when it is not one the agent takes.
bool PolicyOf(const TAMSEL_DOWNLOAD_POLICY* given, agent::DownloadPolicy& policy) noexcept {
    if (given == nullptr) return true;
    if (given->cbSize != sizeof(TAMSEL_DOWNLOAD_POLICY)) return false;
    policy.maxAttempts = OrDefault(given->maxAttempts, policy.maxAttempts);
    policy.maxRetryWaitMs = OrDefault(given->maxRetryWaitMs, policy.maxRetryWaitMs);
    policy.deadlineMs = given->deadlineMs;
    policy.stallMs = given->stallMs;
    policy.maxBytesPerSecond = given->maxBytesPerSecond;
    policy.connections = OrDefault(given->connections, 1);
    return true;
}

}  // namespace

HRESULT Ops4Result(const agent::Answer& answer, uint32_t localError) noexcept {
    return answer.reason == agent::Reason::RetryLater ? AGENT_E_RETRY_LATER : Ops3Result(answer, localError);
}

HRESULT AttemptResult(const agent::AttemptEnd& end) noexcept {
    if (end.reason == agent::Reason::HttpStatus && end.httpStatus == 0 && end.exchangeError != 0) {
        return HRESULT_FROM_WIN32(end.exchangeError);
    }
    agent::Answer answer;
    answer.reason = end.reason;
    answer.httpStatus = end.httpStatus;
    return Ops4Result(answer, end.localError);
}

agent::ResilientRequest ResilientRequestOf(const char* sources, const wchar_t* path, ULONG flags,
                                           LONGLONG expectedSize, const char* sha256,
                                           const TAMSEL_DOWNLOAD_POLICY* policy) {
    agent::ResilientRequest request;
    request.sources = SourcesOf(sources);
    request.download = VerifiedRequest(nullptr, path, flags, expectedSize, sha256);
    request.download.url = request.sources.empty() ? nullptr : request.sources.front().c_str();
    if (!PolicyOf(policy, request.policy)) request.download.refused = true;
    return request;
}

bool IsKnownInfo(const TAMSEL_DOWNLOAD_INFO* info) noexcept {
    return info == nullptr || info->cbSize == sizeof(TAMSEL_DOWNLOAD_INFO);
}

void FillInfo(const agent::AttemptInfo& done, TAMSEL_DOWNLOAD_INFO* info) noexcept {
    if (info == nullptr) return;
    info->attempts = done.attempts;
    info->sourceIndex = done.sourceIndex;
    info->waitedMs = done.waitedMs;
    info->bytesReceived = static_cast<LONGLONG>(done.bytesReceived);
    info->bytesResumed = static_cast<LONGLONG>(done.bytesResumed);
    info->lastAttemptResult = done.attempts == 0 ? S_OK : AttemptResult(done.last);
    info->lastHttpStatus = done.last.httpStatus;
    info->retryAfterMs = done.retryAfterMs;
    info->connections = done.connections;
}

agent::ReportedDownload ReportedOf(const TAMSEL_DOWNLOAD_INFO& info, HRESULT result) noexcept {
    agent::ReportedDownload reported;
    reported.attempts = info.attempts;
    reported.source = info.sourceIndex;
    reported.result = static_cast<uint32_t>(result);
    reported.resumedBytes = info.bytesResumed > 0 ? static_cast<uint64_t>(info.bytesResumed) : 0;
    reported.waitedMs = info.waitedMs;
    return reported;
}

HRESULT QuerySourcesResult(const agent::QueryAnswer& answer, char* sources, ULONG sourcesSize, LONGLONG* fileSize,
                           char* sha256, ULONG sha256Size) {
    RETURN_IF_FAILED(Ops4Result(answer));
    std::string list = answer.url + '\0';
    for (const std::string& mirror : answer.mirrors) list += mirror + '\0';
    // The list's last zero is the one the caller-buffer rule adds to any text.
    const bool named = answer.digestState == agent::DigestState::Named;
    const std::string digest = named ? agent::DigestText(answer.digest) : std::string();
    RETURN_HR_IF(AGENT_E_BUFFER_TOO_SMALL,
                 !FitsCallerBuffer(list, sourcesSize) || !FitsCallerBuffer(digest, sha256Size));
    CopyToCallerBuffer(list, sources, sourcesSize);
    CopyToCallerBuffer(digest, sha256, sha256Size);
    *fileSize = answer.size;
    return S_OK;
}

}  // namespace tamsel::faces
