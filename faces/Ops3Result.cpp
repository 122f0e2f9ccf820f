// The third interface generation's answers: the verified download's distinct results over the second
// interface's, what it asks of the agent, and QueryDownloadEx's two texts.
#include "faces/Ops3Result.h"

#include "base/Result.h"
#include "faces/CallerBuffer.h"

namespace tamsel::faces {

HRESULT Ops3Result(const agent::Answer& answer, uint32_t localError) noexcept {
    using agent::Reason;
    switch (answer.reason) {
        case Reason::Broken: return AGENT_E_BROKEN;
        case Reason::DigestMismatch: return AGENT_E_DIGEST_MISMATCH;
        // A read-only target is ERROR_ACCESS_DENIED, which is E_ACCESSDENIED.
        case Reason::LocalFile: return localError != 0 ? HRESULT_FROM_WIN32(localError) : E_FAIL;
        default: return Ops2Result(answer);
    }
}

agent::DownloadRequest VerifiedRequest(const char* url, const wchar_t* path, ULONG flags, LONGLONG expectedSize,
                                       const char* sha256) {
    agent::DownloadRequest request = FetchExRequest(url, path, flags, expectedSize);
    request.safely = true;
    request.sha256 = sha256 != nullptr ? sha256 : "";
    return request;
}

HRESULT QueryExResult(const agent::QueryAnswer& answer, char* downloadUrl, ULONG downloadUrlSize,
                      LONGLONG* fileSize, char* sha256, ULONG sha256Size) {
    RETURN_IF_FAILED(Ops3Result(answer));
    const bool named = answer.digestState == agent::DigestState::Named;
    const std::string digest = named ? agent::DigestText(answer.digest) : std::string();
    RETURN_HR_IF(AGENT_E_BUFFER_TOO_SMALL,
                 !FitsCallerBuffer(answer.url, downloadUrlSize) || !FitsCallerBuffer(digest, sha256Size));
    CopyToCallerBuffer(answer.url, downloadUrl, downloadUrlSize);
    CopyToCallerBuffer(digest, sha256, sha256Size);
    *fileSize = answer.size;
    return S_OK;
}

}  // namespace tamsel::faces
