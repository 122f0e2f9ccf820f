// The automation face: InvTamselAgent2's members over the agent, its answers turned into BSTRs, VARIANTs and
// error sentences, and IDispatch over its type information.
#include "automation/AutomationFace.h"

#include "automation/DispatchTypeInfo.h"
#include "automation/ScriptArguments.h"
#include "automation/ScriptProgress.h"
#include "base/Result.h"
#include "faces/Ops4Result.h"

#include <optional>

namespace tamsel::automation {
namespace {

const wchar_t* const VERSION = L"1.3.0";

// A URL answered whole, as the later interfaces answer it; AGENT_E_BUFFER_TOO_SMALL when it is no URL a
// download could use.
HRESULT UrlResult(HRESULT hr, const std::string& url) noexcept {
    return SUCCEEDED(hr) && url.size() >= AutomationFace::URL_LIMIT ? AGENT_E_BUFFER_TOO_SMALL : hr;
}

}  // namespace

Outcome AutomationFace::Lookup(BSTR lookupUrl, BSTR serial, BSTR language, BSTR type, BSTR* target) {
    std::string url, serialText, languageText, typeText;
    for (auto& failure : {ReadText(lookupUrl, L"lookupUrl", url), ReadText(serial, L"serial", serialText),
                          ReadText(language, L"language", languageText), ReadText(type, L"type", typeText),
                          NotEmpty(url, L"lookupUrl"), NotEmpty(serialText, L"serial"),
                          NotEmpty(languageText, L"language"), NotEmpty(typeText, L"type")}) {
        if (failure) return *failure;
    }
    const agent::LookupAnswer answer =
        m_agent.LookupRedirect(url.c_str(), serialText.c_str(), languageText.c_str(), typeText.c_str());
    // Nothing found is an answer, not a failure: the empty text.
    if (answer.reason == agent::Reason::NotFound) return Outcome{NewString({}, target), {}};
    const HRESULT hr = UrlResult(faces::Ops2Result(answer), answer.target);
    if (FAILED(hr)) return Failure(hr, DescribeFailure(hr, FactsOf(Operation::LOOKUP, answer)));
    return Outcome{NewString(answer.target, target), {}};
}

Outcome AutomationFace::Query(BSTR serviceUrl, BSTR code, BSTR* downloadUrl) {
    std::string url, codeText;
    for (auto& failure : {ReadText(serviceUrl, L"serviceUrl", url), ReadText(code, L"code", codeText),
                          NotEmpty(url, L"serviceUrl"), NotEmpty(codeText, L"code")}) {
        if (failure) return *failure;
    }
    const agent::QueryAnswer answer = m_agent.QueryDownload(url.c_str(), codeText.c_str(), agent::NamedDigest::Checked);
    const HRESULT hr = UrlResult(faces::Ops3Result(answer), answer.url);
    // A call refused as busy (from a handler, during a download) changes nothing, the last answer included.
    if (answer.reason != agent::Reason::Busy) {
        const bool named = SUCCEEDED(hr) && answer.digestState == agent::DigestState::Named;
        const std::string digest = named ? agent::DigestText(answer.digest) : std::string();
        m_lastFileSize = SUCCEEDED(hr) ? static_cast<double>(answer.size) : -1;
        m_lastSha256.assign(digest.begin(), digest.end());
        m_lastSources.clear();
        if (SUCCEEDED(hr)) {
            m_lastSources.push_back(answer.url);
            m_lastSources.insert(m_lastSources.end(), answer.mirrors.begin(), answer.mirrors.end());
        }
    }
    if (FAILED(hr)) return Failure(hr, DescribeFailure(hr, FactsOf(Operation::QUERY, answer)));
    return Outcome{NewString(answer.url, downloadUrl), {}};
}

Outcome AutomationFace::Fetch(BSTR url, BSTR path, LONG flags, const VARIANT& expectedSize, BSTR sha256) {
    std::string source;
    FileArguments given;
    for (auto& failure : {ReadText(url, L"url", source), NotEmpty(source, L"url"),
                          ReadFileArguments(path, expectedSize, sha256, given)}) {
        if (failure) return *failure;
    }
    // The handler is the one set when the download starts: the script may change it meanwhile.
    const ComPointer<IDispatch> handler = ShareComPointer(m_onProgress.get());
    ScriptProgress progress(handler.get(), m_events);
    // Without a digest, Download is FetchToFileEx; with one, FetchToFileVerified: their requests, their results.
    const bool verified = !given.sha256.empty();
    const ULONG bits = static_cast<ULONG>(flags);
    const agent::DownloadRequest request =
        verified ? faces::VerifiedRequest(source.c_str(), given.path.c_str(), bits, given.expectedSize,
                                          given.sha256.c_str())
                 : faces::FetchExRequest(source.c_str(), given.path.c_str(), bits, given.expectedSize);
    const agent::DownloadOutcome outcome = m_agent.Download(request, &progress);
    const HRESULT hr = verified ? faces::Ops3Result(outcome, outcome.localError) : faces::Ops2Result(outcome);
    return Finished(progress, hr, outcome, given.expectedSize);
}

// A download's outcome as the script sees it: the handler's own error first, then the end told once the
// file is in place, or the failure's sentence.
Outcome AutomationFace::Finished(ScriptProgress& progress, HRESULT hr, const agent::DownloadOutcome& outcome,
                                 LONGLONG expectedSize, uint32_t retryAfterMs) {
    if (progress.Raised()) return *progress.Raised();
    if (SUCCEEDED(hr)) {
        progress.Finish();
        return progress.Raised() ? *progress.Raised() : Outcome{};
    }
    FailureFacts facts = FactsOf(Operation::DOWNLOAD, outcome);
    facts.received = static_cast<double>(outcome.reach.received);
    facts.total = static_cast<double>(outcome.reach.total);
    facts.expected = static_cast<double>(expectedSize);
    facts.retryAfterMs = retryAfterMs;
    return Failure(hr, DescribeFailure(hr, facts));
}

Outcome AutomationFace::Report(BSTR serviceUrl, BSTR code, VARIANT_BOOL success, LONG* remaining,
                               const agent::ReportedDownload* reported) {
    std::string url, codeText;
    for (auto& failure : {ReadText(serviceUrl, L"serviceUrl", url), ReadText(code, L"code", codeText),
                          NotEmpty(url, L"serviceUrl"), NotEmpty(codeText, L"code")}) {
        if (failure) return *failure;
    }
    const bool succeeded = success != VARIANT_FALSE;
    const agent::ReportAnswer answer = reported != nullptr
                                           ? m_agent.ReportDownload(url.c_str(), codeText.c_str(), succeeded, *reported)
                                           : m_agent.ReportDownload(url.c_str(), codeText.c_str(), succeeded);
    if (answer.reason != agent::Reason::Busy) {
        *remaining = answer.reason == agent::Reason::Done ? answer.remaining : -1;
    }
    const HRESULT hr = reported != nullptr ? faces::Ops4Result(answer) : faces::Ops2Result(answer);
    if (FAILED(hr)) return Failure(hr, DescribeFailure(hr, FactsOf(Operation::REPORT, answer)));
    return Outcome{};
}

HRESULT STDMETHODCALLTYPE AutomationFace::LookupRedirect(BSTR lookupUrl, BSTR serial, BSTR language, BSTR type,
                                                     BSTR* target) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, target);
    *target = nullptr;
    const auto alive = Hold();
    return Member([&] { return Lookup(lookupUrl, serial, language, type, target); });
}

HRESULT STDMETHODCALLTYPE AutomationFace::QueryDownload(BSTR serviceUrl, BSTR code, BSTR* downloadUrl) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, downloadUrl);
    *downloadUrl = nullptr;
    const auto alive = Hold();
    return Member([&] { return Query(serviceUrl, code, downloadUrl); });
}

HRESULT STDMETHODCALLTYPE AutomationFace::Download(BSTR url, BSTR path, LONG flags, VARIANT expectedSize,
                                               BSTR sha256) noexcept {
    const auto alive = Hold();
    return Member([&] { return Fetch(url, path, flags, expectedSize, sha256); });
}

HRESULT STDMETHODCALLTYPE AutomationFace::ReportDownload(BSTR serviceUrl, BSTR code, VARIANT_BOOL success,
                                                     LONG* remaining) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, remaining);
    const auto alive = Hold();
    return Member([&] { return Report(serviceUrl, code, success, remaining, nullptr); });
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_LastFileSize(double* size) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, size);
    *size = m_lastFileSize;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_LastSha256(BSTR* digest) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, digest);
    *digest = ::SysAllocStringLen(m_lastSha256.data(), static_cast<UINT>(m_lastSha256.size()));
    return *digest != nullptr ? S_OK : E_OUTOFMEMORY;
}

// 0 where the first interface's getters answer that nothing is kept.
HRESULT STDMETHODCALLTYPE AutomationFace::get_LastHttpStatus(LONG* status) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, status);
    *status = m_agent.LastHttpStatus() == -1 ? 0 : m_agent.LastHttpStatus();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_LastServiceStatus(LONG* status) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, status);
    *status = m_agent.LastServiceStatus() == -1 ? 0 : m_agent.LastServiceStatus();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_OnProgress(IDispatch** handler) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, handler);
    *handler = m_onProgress.get();
    if (*handler != nullptr) (*handler)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::put_OnProgress(IDispatch* handler) noexcept {
    m_onProgress = ShareComPointer(handler);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::putref_OnProgress(IDispatch* handler) noexcept {
    return put_OnProgress(handler);
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_Version(BSTR* version) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, version);
    *version = ::SysAllocString(VERSION);
    return *version != nullptr ? S_OK : E_OUTOFMEMORY;
}

namespace {

// Scripts assign null (JScript) or Empty to drop a handler; the type information would refuse to turn
// either into an IDispatch*.
bool ClearsHandler(DISPID member, WORD flags, const DISPPARAMS* parameters) noexcept {
    if (member != DISPID_TAMSEL_ONPROGRESS || (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) == 0 ||
        parameters == nullptr || parameters->cArgs != 1) {
        return false;
    }
    const VARTYPE type = parameters->rgvarg[0].vt;
    return type == VT_NULL || type == VT_EMPTY;
}

}  // namespace

HRESULT STDMETHODCALLTYPE AutomationFace::GetTypeInfoCount(UINT* count) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, count);
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::GetTypeInfo(UINT, LCID locale, ITypeInfo** info) noexcept {
    return AgentTypeInfo().GetTypeInfo(locale, info);
}

HRESULT STDMETHODCALLTYPE AutomationFace::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale,
                                                        DISPID* ids) noexcept {
    return AgentTypeInfo().GetIDsOfNames(names, count, locale, ids);
}

HRESULT STDMETHODCALLTYPE AutomationFace::Invoke(DISPID member, REFIID, LCID locale, WORD flags,
                                                 DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                                 UINT* argumentError) noexcept {
    if (ClearsHandler(member, flags, parameters)) {
        m_onProgress.reset();
        return S_OK;
    }
    return AgentTypeInfo().Invoke(this, member, locale, flags, parameters, result, exception, argumentError);
}

}  // namespace tamsel::automation
