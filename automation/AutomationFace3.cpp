// InvTamselAgent3's members of the automation face: DownloadFrom over several sources under the policy its
// properties hold, what the last query and the last DownloadFrom left, the long report, and the proxy's
// credentials.
#include "automation/AutomationFace.h"

#include "automation/ScriptArguments.h"
#include "automation/ScriptProgress.h"
#include "base/Result.h"
#include "faces/Ops4Result.h"

#include <climits>

namespace tamsel::automation {
namespace {

using agent::DownloadPolicy;

// The policy's own defaults, which 0 puts back; a property is a long, so its values end at LONG_MAX.
constexpr DownloadPolicy DEFAULTS{};
const PolicyField MAX_ATTEMPTS = {L"MaxAttempts", &DownloadPolicy::maxAttempts, DownloadPolicy::MAX_ATTEMPTS,
                                  DEFAULTS.maxAttempts};
const PolicyField MAX_RETRY_WAIT = {L"MaxRetryWait", &DownloadPolicy::maxRetryWaitMs, LONG_MAX,
                                    DEFAULTS.maxRetryWaitMs};
const PolicyField DEADLINE = {L"Deadline", &DownloadPolicy::deadlineMs, LONG_MAX, DEFAULTS.deadlineMs};
const PolicyField MAX_BYTES_PER_SECOND = {L"MaxBytesPerSecond", &DownloadPolicy::maxBytesPerSecond, LONG_MAX,
                                          DEFAULTS.maxBytesPerSecond};
const PolicyField CONNECTIONS = {L"Connections", &DownloadPolicy::connections, DownloadPolicy::MAX_CONNECTIONS,
                                 DEFAULTS.connections};

const wchar_t* const USER_WITH_COLON = L"the property ProxyUser holds ':', which Basic authentication cannot carry";

LONG AsLong(uint32_t value) noexcept {
    return static_cast<LONG>(value > LONG_MAX ? LONG_MAX : value);
}

}  // namespace

Outcome AutomationFace::FetchFrom(const VARIANT& sources, BSTR path, LONG flags, const VARIANT& expectedSize,
                                  BSTR sha256) {
    agent::ResilientRequest request;
    FileArguments given;
    for (auto& failure : {ReadSources(sources, request.sources), ReadFileArguments(path, expectedSize, sha256, given)}) {
        if (failure) return *failure;
    }
    request.download = faces::VerifiedRequest(request.sources.front().c_str(), given.path.c_str(),
                                              static_cast<ULONG>(flags), given.expectedSize, given.sha256.c_str());
    request.policy = m_policy;
    // The handler is the one set when the download starts: the script may change it meanwhile.
    const ComPointer<IDispatch> handler = ShareComPointer(m_onProgress.get());
    ScriptProgress progress(handler.get(), m_events);
    const agent::ResilientOutcome outcome = m_agent.DownloadResilient(request, &progress);
    const HRESULT hr = faces::Ops4Result(outcome, outcome.localError);
    Outcome finished = Finished(progress, hr, outcome, given.expectedSize, outcome.info.retryAfterMs);
    // A call refused as busy (from a handler, during a download) changes nothing, the last info included.
    if (outcome.reason != agent::Reason::Busy) {
        faces::FillInfo(outcome.info, &m_lastInfo);
        m_lastResult = finished.hr;
    }
    return finished;
}

Outcome AutomationFace::SetPolicy(LONG value, const PolicyField& field) {
    if (value < 0 || static_cast<uint32_t>(value) > field.most) {
        return Failure(E_INVALIDARG, std::wstring(L"the property ") + field.name + L" takes a number from 0 to " +
                                         std::to_wstring(field.most) + L" (0: " +
                                         (field.fallback != 0 ? std::to_wstring(field.fallback) : L"none") + L")");
    }
    m_policy.*field.field = value != 0 ? static_cast<uint32_t>(value) : field.fallback;
    return Outcome{};
}

// The agent holds credentials only with a user: a password set first waits here for it.
Outcome AutomationFace::SetProxy(web::SecretText<wchar_t> user, web::SecretText<wchar_t> password) {
    const agent::Answer answer = user.Empty() ? m_agent.SetProxyCredentials(nullptr, nullptr)
                                              : m_agent.SetProxyCredentials(user.Terminated().Data(),
                                                                            password.Terminated().Data());
    const HRESULT hr = faces::Ops4Result(answer);
    if (hr == E_INVALIDARG) return Failure(hr, USER_WITH_COLON);
    if (FAILED(hr)) return Failure(hr, DescribeFailure(hr, FactsOf(Operation::DOWNLOAD, answer)));
    m_proxyUser = user;
    m_proxyPassword = password;
    return Outcome{};
}

HRESULT STDMETHODCALLTYPE AutomationFace::DownloadFrom(VARIANT sources, BSTR path, LONG flags, VARIANT expectedSize,
                                                       BSTR sha256) noexcept {
    const auto alive = Hold();
    return Member([&] { return FetchFrom(sources, path, flags, expectedSize, sha256); });
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_MaxAttempts(LONG* attempts) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, attempts);
    *attempts = AsLong(m_policy.maxAttempts);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::put_MaxAttempts(LONG attempts) noexcept {
    return Member([&] { return SetPolicy(attempts, MAX_ATTEMPTS); });
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_MaxRetryWait(LONG* waitMs) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, waitMs);
    *waitMs = AsLong(m_policy.maxRetryWaitMs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::put_MaxRetryWait(LONG waitMs) noexcept {
    return Member([&] { return SetPolicy(waitMs, MAX_RETRY_WAIT); });
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_Deadline(LONG* deadlineMs) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, deadlineMs);
    *deadlineMs = AsLong(m_policy.deadlineMs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::put_Deadline(LONG deadlineMs) noexcept {
    return Member([&] { return SetPolicy(deadlineMs, DEADLINE); });
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_MaxBytesPerSecond(LONG* rate) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, rate);
    *rate = AsLong(m_policy.maxBytesPerSecond);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::put_MaxBytesPerSecond(LONG rate) noexcept {
    return Member([&] { return SetPolicy(rate, MAX_BYTES_PER_SECOND); });
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_Connections(LONG* connections) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, connections);
    *connections = AsLong(m_policy.connections);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::put_Connections(LONG connections) noexcept {
    return Member([&] { return SetPolicy(connections, CONNECTIONS); });
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_LastSources(VARIANT* sources) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, sources);
    ::VariantInit(sources);
    return ComBoundary([&] { return NewStringArray(m_lastSources, sources); });
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_LastAttempts(LONG* attempts) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, attempts);
    *attempts = AsLong(m_lastInfo.attempts);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_LastSourceIndex(LONG* sourceIndex) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, sourceIndex);
    *sourceIndex = AsLong(m_lastInfo.sourceIndex);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_LastBytesResumed(double* bytes) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, bytes);
    *bytes = static_cast<double>(m_lastInfo.bytesResumed);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_LastAttemptResult(LONG* result) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, result);
    *result = m_lastInfo.lastAttemptResult;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_LastRetryAfter(double* waitMs) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, waitMs);
    *waitMs = static_cast<double>(m_lastInfo.retryAfterMs);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::ReportDownloadEx(BSTR serviceUrl, BSTR code, VARIANT_BOOL success,
                                                           LONG* remaining) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, remaining);
    const auto alive = Hold();
    const agent::ReportedDownload reported = faces::ReportedOf(m_lastInfo, m_lastResult);
    return Member([&] { return Report(serviceUrl, code, success, remaining, &reported); });
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_ProxyUser(BSTR* user) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, user);
    *user = ::SysAllocStringLen(m_proxyUser.Data(), static_cast<UINT>(m_proxyUser.Size()));
    return *user != nullptr ? S_OK : E_OUTOFMEMORY;
}

// An empty user clears the password too.
HRESULT STDMETHODCALLTYPE AutomationFace::put_ProxyUser(BSTR user) noexcept {
    return Member([&] {
        web::SecretText<wchar_t> given;
        if (auto failure = ReadText(user, L"ProxyUser", given)) return *failure;
        return SetProxy(given, given.Empty() ? web::SecretText<wchar_t>() : m_proxyPassword);
    });
}

HRESULT STDMETHODCALLTYPE AutomationFace::put_ProxyPassword(BSTR password) noexcept {
    return Member([&] {
        web::SecretText<wchar_t> given;
        if (auto failure = ReadText(password, L"ProxyPassword", given)) return *failure;
        return SetProxy(m_proxyUser, given);
    });
}

}  // namespace tamsel::automation
