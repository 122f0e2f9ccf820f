// The automation face: InvTamselAgent2's members over the agent, and IDispatch over its type information.
#include "automation/AutomationFace.h"

#include "automation/DispatchTypeInfo.h"
#include "automation/ScriptProgress.h"
#include "base/Result.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <optional>
#include <vector>

namespace tamsel::automation {
namespace {

const wchar_t* const VERSION = L"1.2.0";
// The longest URL a query or lookup answer may carry: a header line or reply value of this size is no
// URL a download could use.
constexpr ULONG URL_BUFFER_SIZE = 64 * 1024;
// Sizes travel as doubles, which hold every whole number up to 2^53 exactly.
constexpr double LARGEST_EXACT_SIZE = 9007199254740992.0;
constexpr size_t SHA256_HEX_LENGTH = 64;

// Every text argument, before it is read: a BSTR is counted, but the operations, the file system and
// the platform's number reading stop at its first NUL, and would act on a shorter text than the caller
// gave: a path "C:\dl\av" & Chr(0) & ".exe" would write C:\dl\av.
std::optional<Outcome> CheckWhole(BSTR text, const wchar_t* name) {
    const UINT length = ::SysStringLen(text);
    if (length == 0 || std::wmemchr(text, L'\0', length) == nullptr) return std::nullopt;
    return Failure(E_INVALIDARG,
                   std::wstring(L"the argument ") + name + L" holds a NUL character, which would cut it short");
}

// The argument as the 8-bit text the operations send, when it is printable ASCII: anything else would
// need an encoding that the service and the lookup pages do not agree on.
std::optional<Outcome> ToAscii(BSTR text, const wchar_t* name, std::string& ascii) {
    if (auto failure = CheckWhole(text, name)) return failure;
    const UINT length = ::SysStringLen(text);
    ascii.assign(length, '\0');
    for (UINT index = 0; index < length; ++index) {
        if (text[index] < 0x20 || text[index] > 0x7E) {
            return Failure(E_INVALIDARG, std::wstring(L"the argument ") + name +
                                             L" holds a character other than printable ASCII");
        }
        ascii[index] = static_cast<char>(text[index]);
    }
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
    if (auto failure = CheckWhole(text, L"expectedSize")) return failure;
    VARIANT number;
    ::VariantInit(&number);
    const bool read = SUCCEEDED(::VariantChangeType(&number, const_cast<VARIANT*>(&given), 0, VT_R8));
    if (!read || number.dblVal < -1 || number.dblVal > LARGEST_EXACT_SIZE || std::floor(number.dblVal) != number.dblVal) {
        return Failure(E_INVALIDARG, L"the argument expectedSize is not -1 or a whole number of bytes");
    }
    size = static_cast<LONGLONG>(number.dblVal);
    return std::nullopt;
}

std::optional<Outcome> CheckSha256(const std::string& digest) {
    bool hex = digest.size() == SHA256_HEX_LENGTH;
    for (const char c : digest) hex = hex && std::isxdigit(static_cast<unsigned char>(c));
    if (hex) return std::nullopt;
    return Failure(E_INVALIDARG, L"the argument sha256 is not 64 hexadecimal digits");
}

HRESULT NewString(const std::string& text, BSTR* out) {
    // ASCII or the service's 8-bit text, byte by byte: unsigned, or a byte above 127 would become U+FFxx.
    std::wstring wide(text.size(), L'\0');
    std::transform(text.begin(), text.end(), wide.begin(), [](char c) { return static_cast<unsigned char>(c); });
    *out = ::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// Runs one member's work so that nothing escapes and the outcome is reported.
template <typename Work>
HRESULT Member(Work&& work) noexcept {
    Outcome outcome;
    const HRESULT hr = ComBoundary([&] {
        outcome = work();
        return S_OK;
    });
    if (FAILED(hr)) outcome = Outcome{hr, {}};
    return Report(outcome);
}

}  // namespace

FailureFacts AutomationFace::Facts(Operation operation) noexcept {
    FailureFacts facts;
    facts.operation = operation;
    m_agent.GetLastHttpStatus(&facts.httpStatus);
    m_agent.GetLastServiceStatus(&facts.serviceStatus);
    return facts;
}

Outcome AutomationFace::Lookup(BSTR lookupUrl, BSTR serial, BSTR language, BSTR type, BSTR* target) {
    std::string url, serialText, languageText, typeText;
    for (auto& failure : {ToAscii(lookupUrl, L"lookupUrl", url), ToAscii(serial, L"serial", serialText),
                          ToAscii(language, L"language", languageText), ToAscii(type, L"type", typeText),
                          NotEmpty(url, L"lookupUrl"), NotEmpty(serialText, L"serial"),
                          NotEmpty(languageText, L"language"), NotEmpty(typeText, L"type")}) {
        if (failure) return *failure;
    }
    std::vector<char> buffer(URL_BUFFER_SIZE);
    HRESULT hr = m_agent.AsLaterInterface(m_agent.LookupRedirect(
        buffer.data(), URL_BUFFER_SIZE, url.c_str(), serialText.c_str(), languageText.c_str(), typeText.c_str()));
    // With the arguments checked above, the first interface's E_INVALIDARG means "nothing found".
    if (hr == E_INVALIDARG) buffer[0] = '\0';
    else if (FAILED(hr)) return Failure(hr, DescribeFailure(hr, Facts(Operation::LOOKUP)));
    hr = NewString(buffer.data(), target);
    return Outcome{hr, {}};
}

Outcome AutomationFace::Query(BSTR serviceUrl, BSTR code, BSTR* downloadUrl) {
    std::string url, codeText;
    for (auto& failure : {ToAscii(serviceUrl, L"serviceUrl", url), ToAscii(code, L"code", codeText),
                          NotEmpty(url, L"serviceUrl"), NotEmpty(codeText, L"code")}) {
        if (failure) return *failure;
    }
    std::vector<char> buffer(URL_BUFFER_SIZE);
    char digest[SHA256_HEX_LENGTH + 1] = {};
    LONGLONG size = 0;
    const HRESULT hr = m_agent.QueryDownloadEx(buffer.data(), URL_BUFFER_SIZE, url.c_str(), codeText.c_str(), &size,
                                               digest, sizeof(digest));
    // A call refused as busy (from a handler, during a download) changes nothing, the last answer included.
    if (hr != AGENT_E_BUSY) {
        m_lastFileSize = SUCCEEDED(hr) ? static_cast<double>(size) : -1;
        m_lastSha256.assign(digest, digest + (SUCCEEDED(hr) ? std::strlen(digest) : 0));
    }
    if (FAILED(hr)) return Failure(hr, DescribeFailure(hr, Facts(Operation::QUERY)));
    return Outcome{NewString(buffer.data(), downloadUrl), {}};
}

Outcome AutomationFace::Fetch(BSTR url, BSTR path, LONG flags, const VARIANT& expectedSize, BSTR sha256) {
    std::string urlText, digest;
    LONGLONG size = -1;
    for (auto& failure : {ToAscii(url, L"url", urlText), NotEmpty(urlText, L"url"),
                          CheckWhole(path, L"path"), ToExpectedSize(expectedSize, size),
                          ToAscii(sha256, L"sha256", digest)}) {
        if (failure) return *failure;
    }
    if (::SysStringLen(path) == 0) return Failure(E_INVALIDARG, L"the argument path is empty");
    if (!digest.empty()) {
        if (auto failure = CheckSha256(digest)) return *failure;
    }
    // The handler is the one set when the download starts: the script may change it meanwhile.
    const ComPointer<IDispatch> handler = ShareComPointer(m_onProgress.get());
    ScriptProgress progress(handler.get(), m_events);
    const ULONG bits = static_cast<ULONG>(flags);
    const HRESULT hr = digest.empty()
                           ? m_agent.FetchToFileEx(urlText.c_str(), path, &progress, bits, size)
                           : m_agent.FetchToFileVerified(urlText.c_str(), path, &progress, bits, size, digest.c_str());
    if (progress.Raised()) return *progress.Raised();
    if (SUCCEEDED(hr)) {
        progress.Finish();
        return progress.Raised() ? *progress.Raised() : Outcome{};
    }
    FailureFacts facts = Facts(Operation::DOWNLOAD);
    facts.received = progress.Received();
    facts.total = progress.Total();
    facts.expected = static_cast<double>(size);
    return Failure(hr, DescribeFailure(hr, facts));
}

Outcome AutomationFace::Tell(BSTR serviceUrl, BSTR code, VARIANT_BOOL success, LONG* remaining) {
    std::string url, codeText;
    for (auto& failure : {ToAscii(serviceUrl, L"serviceUrl", url), ToAscii(code, L"code", codeText),
                          NotEmpty(url, L"serviceUrl"), NotEmpty(codeText, L"code")}) {
        if (failure) return *failure;
    }
    const HRESULT hr = m_agent.AsLaterInterface(
        m_agent.ReportDownload(url.c_str(), codeText.c_str(), success != VARIANT_FALSE, remaining));
    if (FAILED(hr)) return Failure(hr, DescribeFailure(hr, Facts(Operation::REPORT)));
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
    return Member([&] { return Tell(serviceUrl, code, success, remaining); });
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
    *status = 0;
    m_agent.GetLastHttpStatus(status);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE AutomationFace::get_LastServiceStatus(LONG* status) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, status);
    *status = 0;
    m_agent.GetLastServiceStatus(status);
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
