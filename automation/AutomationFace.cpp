// The automation face: InvTamselAgent2's members over the agent, its answers turned into BSTRs, VARIANTs and
// error sentences, and IDispatch over its type information.
#include "automation/AutomationFace.h"

#include "automation/DispatchTypeInfo.h"
#include "automation/ScriptProgress.h"
#include "base/Result.h"
#include "faces/Ops3Result.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <optional>
#include <type_traits>

namespace tamsel::automation {
namespace {

const wchar_t* const VERSION = L"1.2.0";
// Sizes travel as doubles, which hold every whole number up to 2^53 exactly.
constexpr double LARGEST_EXACT_SIZE = 9007199254740992.0;

// Every text argument is read here, once, before anything else looks at it. A BSTR is counted, but the
// operations, the file system and the platform's number reading stop at its first NUL, and would act on a
// shorter text than the caller gave (a path "C:\dl\av" & Chr(0) & ".exe" would write C:\dl\av): refused.
// Into a std::string goes a text that is sent (URLs, serial, language, type, code, digest), which must be
// printable ASCII: anything else would need an encoding that the service and the lookup pages do not agree
// on. Into a std::wstring goes a path, or a number given as text, as it is.
template <typename Text>
std::optional<Outcome> ReadText(BSTR text, const wchar_t* name, Text& out) {
    const UINT length = ::SysStringLen(text);
    const std::wstring argument = std::wstring(L"the argument ") + name;
    if (length != 0 && std::wmemchr(text, L'\0', length) != nullptr) {
        return Failure(E_INVALIDARG, argument + L" holds a NUL character, which would cut it short");
    }
    constexpr bool sent = std::is_same_v<Text, std::string>;
    if (sent && std::any_of(text, text + length, [](wchar_t c) { return c < 0x20 || c > 0x7E; })) {
        return Failure(E_INVALIDARG, argument + L" holds a character other than printable ASCII");
    }
    out.assign(text, text + length);
    return std::nullopt;
}

std::optional<Outcome> NotEmpty(const std::string& text, const wchar_t* name) {
    if (!text.empty()) return std::nullopt;
    return Failure(E_INVALIDARG, std::wstring(L"the argument ") + name + L" is empty");
}

// expectedSize: missing or Empty means no check (-1); otherwise a whole number of bytes, as exact
// numbers or text that reads as one.
std::optional<Outcome> ToExpectedSize(const VARIANT& argument, LONGLONG& size) {
    size = -1;
    // VBScript passes a variable by reference: the VARIANT it refers to is the argument.
    const bool byReference = argument.vt == (VT_BYREF | VT_VARIANT) && argument.pvarVal != nullptr;
    const VARIANT& given = byReference ? *argument.pvarVal : argument;
    if (given.vt == VT_EMPTY || given.vt == VT_NULL || (given.vt == VT_ERROR && given.scode == DISP_E_PARAMNOTFOUND)) {
        return std::nullopt;
    }
    const bool textByReference = given.vt == (VT_BYREF | VT_BSTR) && given.pbstrVal != nullptr;
    const BSTR text = given.vt == VT_BSTR ? given.bstrVal : textByReference ? *given.pbstrVal : nullptr;
    std::wstring number;
    if (auto failure = ReadText(text, L"expectedSize", number)) return failure;
    VARIANT read;
    ::VariantInit(&read);
    const bool converted = SUCCEEDED(::VariantChangeType(&read, const_cast<VARIANT*>(&given), 0, VT_R8));
    if (!converted || read.dblVal < -1 || read.dblVal > LARGEST_EXACT_SIZE || std::floor(read.dblVal) != read.dblVal) {
        return Failure(E_INVALIDARG, L"the argument expectedSize is not -1 or a whole number of bytes");
    }
    size = static_cast<LONGLONG>(read.dblVal);
    return std::nullopt;
}

// Download's arguments as the agent takes them.
struct FetchArguments {
    std::string url;
    std::wstring path;
    LONGLONG expectedSize = -1;
    std::string sha256;
};

std::optional<Outcome> ReadFetchArguments(BSTR url, BSTR path, const VARIANT& expectedSize, BSTR sha256,
                                          FetchArguments& out) {
    for (auto& failure : {ReadText(url, L"url", out.url), NotEmpty(out.url, L"url"), ReadText(path, L"path", out.path),
                          ToExpectedSize(expectedSize, out.expectedSize), ReadText(sha256, L"sha256", out.sha256)}) {
        if (failure) return failure;
    }
    if (out.path.empty()) return Failure(E_INVALIDARG, L"the argument path is empty");
    if (!out.sha256.empty() && !agent::ParseDigest(out.sha256)) {
        return Failure(E_INVALIDARG, L"the argument sha256 is not 64 hexadecimal digits");
    }
    return std::nullopt;
}

HRESULT NewString(const std::string& text, BSTR* out) {
    // ASCII or the service's 8-bit text, byte by byte: unsigned, or a byte above 127 would become U+FFxx.
    std::wstring wide(text.size(), L'\0');
    std::transform(text.begin(), text.end(), wide.begin(), [](char c) { return static_cast<unsigned char>(c); });
    *out = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// A URL answered whole, as the later interfaces answer it; AGENT_E_BUFFER_TOO_SMALL when it is no URL a
// download could use.
HRESULT UrlResult(HRESULT hr, const std::string& url) noexcept {
    return SUCCEEDED(hr) && url.size() >= AutomationFace::URL_LIMIT ? AGENT_E_BUFFER_TOO_SMALL : hr;
}

// What the sentence of a failed operation tells: the statuses kept behind it.
FailureFacts FactsOf(Operation operation, const agent::Answer& answer) noexcept {
    FailureFacts facts;
    facts.operation = operation;
    facts.httpStatus = answer.httpStatus == -1 ? 0 : answer.httpStatus;
    facts.serviceStatus = answer.serviceStatus == -1 ? 0 : answer.serviceStatus;
    return facts;
}

// Runs one member's work so that nothing escapes and the outcome is recorded.
template <typename Work>
HRESULT Member(Work&& work) noexcept {
    Outcome outcome;
    const HRESULT hr = ComBoundary([&] {
        outcome = work();
        return S_OK;
    });
    if (FAILED(hr)) outcome = Outcome{hr, {}};  // its sentence needs no memory: RecordOutcome finds it
    return RecordOutcome(outcome);
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
    }
    if (FAILED(hr)) return Failure(hr, DescribeFailure(hr, FactsOf(Operation::QUERY, answer)));
    return Outcome{NewString(answer.url, downloadUrl), {}};
}

Outcome AutomationFace::Fetch(BSTR url, BSTR path, LONG flags, const VARIANT& expectedSize, BSTR sha256) {
    FetchArguments given;
    if (auto failure = ReadFetchArguments(url, path, expectedSize, sha256, given)) return *failure;
    // The handler is the one set when the download starts: the script may change it meanwhile.
    const ComPointer<IDispatch> handler = ShareComPointer(m_onProgress.get());
    ScriptProgress progress(handler.get(), m_events);
    // Without a digest, Download is FetchToFileEx; with one, FetchToFileVerified: their requests, their results.
    const bool verified = !given.sha256.empty();
    const ULONG bits = static_cast<ULONG>(flags);
    const agent::DownloadRequest request =
        verified ? faces::VerifiedRequest(given.url.c_str(), given.path.c_str(), bits, given.expectedSize,
                                          given.sha256.c_str())
                 : faces::FetchExRequest(given.url.c_str(), given.path.c_str(), bits, given.expectedSize);
    const agent::DownloadOutcome outcome = m_agent.Download(request, &progress);
    const HRESULT hr = verified ? faces::Ops3Result(outcome, outcome.localError) : faces::Ops2Result(outcome);
    if (progress.Raised()) return *progress.Raised();
    if (SUCCEEDED(hr)) {
        progress.Finish();
        return progress.Raised() ? *progress.Raised() : Outcome{};
    }
    FailureFacts facts = FactsOf(Operation::DOWNLOAD, outcome);
    facts.received = static_cast<double>(outcome.reach.received);
    facts.total = static_cast<double>(outcome.reach.total);
    facts.expected = static_cast<double>(given.expectedSize);
    return Failure(hr, DescribeFailure(hr, facts));
}

Outcome AutomationFace::Report(BSTR serviceUrl, BSTR code, VARIANT_BOOL success, LONG* remaining) {
    std::string url, codeText;
    for (auto& failure : {ReadText(serviceUrl, L"serviceUrl", url), ReadText(code, L"code", codeText),
                          NotEmpty(url, L"serviceUrl"), NotEmpty(codeText, L"code")}) {
        if (failure) return *failure;
    }
    const agent::ReportAnswer answer = m_agent.ReportDownload(url.c_str(), codeText.c_str(), success != VARIANT_FALSE);
    if (answer.reason != agent::Reason::Busy) {
        *remaining = answer.reason == agent::Reason::Done ? answer.remaining : -1;
    }
    const HRESULT hr = faces::Ops2Result(answer);
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
    return Member([&] { return Report(serviceUrl, code, success, remaining); });
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
