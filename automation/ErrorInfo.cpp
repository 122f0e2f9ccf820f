// The error record of a failing automation member, the sentences for the agent's result codes, and which
// interface leaves such records.
#include "automation/ErrorInfo.h"

#include "agent/AgentObject.h"
#include "automation/AutomationFace.h"
#include "base/Handle.h"
#include "include/NorvikTamselAgent.h"

#include <oaidl.h>

#include <cwchar>

namespace tamsel::automation {
namespace {

const wchar_t* const ERROR_SOURCE = L"NorvikTamselAgent.nvTamselAgent";

// The reason phrases a script user is most likely to meet; others are given by number alone.
const wchar_t* ReasonPhrase(LONG status) noexcept {
    switch (status) {
        case 400: return L"Bad Request";
        case 401: return L"Unauthorized";
        case 403: return L"Forbidden";
        case 404: return L"Not Found";
        case 407: return L"Proxy Authentication Required";
        case 408: return L"Request Timeout";
        case 410: return L"Gone";
        case 416: return L"Range Not Satisfiable";
        case 500: return L"Internal Server Error";
        case 502: return L"Bad Gateway";
        case 503: return L"Service Unavailable";
        case 504: return L"Gateway Timeout";
        default: return nullptr;
    }
}

std::wstring Number(long long value) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%lld", value);
    return text;
}

std::wstring HttpFailure(const FailureFacts& facts) {
    const wchar_t* who = facts.operation == Operation::DOWNLOAD ? L"the server" : L"the download service";
    if (facts.operation == Operation::LOOKUP) who = L"the lookup server";
    const wchar_t* reason = ReasonPhrase(facts.httpStatus);
    return std::wstring(who) + L" answered " + Number(facts.httpStatus) + (reason ? L" " : L"") +
           (reason ? reason : L"");
}

std::wstring ServiceFailure(const FailureFacts& facts) {
    const wchar_t* what = facts.operation == Operation::REPORT ? L"the report" : L"the code";
    return std::wstring(L"the download service refused ") + what + L" (service status " +
           Number(facts.serviceStatus) + L")";
}

// How far a download that did not end whole got.
std::wstring BytesSoFar(const FailureFacts& facts) {
    std::wstring text = FormatBytes(facts.received);
    if (facts.total >= 0) text += L" of " + FormatBytes(facts.total);
    return text;
}

std::wstring DownloadFailure(const FailureFacts& facts) {
    if (facts.received <= 0) {
        return L"the download failed before any byte arrived, or the file could not be created";
    }
    if (facts.total < 0 || facts.received < facts.total) {
        return L"the download broke off after " + BytesSoFar(facts);
    }
    return L"the file could not be written or put in its place after " + BytesSoFar(facts);
}

// The sentence of a call that stopped where it was, told without taking memory; null for other codes.
const wchar_t* StoppedSentence(HRESULT hr) noexcept {
    switch (hr) {
        case E_OUTOFMEMORY: return L"the component ran out of memory";
        case E_UNEXPECTED:
            return L"the call stopped at a fault of the component's own (E_UNEXPECTED); calling again may succeed";
        default: return nullptr;
    }
}

// The platform's own words for a code of its own (the verified download's local file errors), else
// the code.
std::wstring OtherFailure(HRESULT hr) {
    wchar_t text[80];
    std::swprintf(text, 80, L"the operation failed with 0x%08lX", static_cast<unsigned long>(hr));
    wchar_t message[256] = {};
    if (HRESULT_FACILITY(hr) != FACILITY_WIN32 ||
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, HRESULT_CODE(hr), 0,
                         message, 256, nullptr) == 0) {
        return text;
    }
    std::wstring words(message);
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L'.')) words.pop_back();
    return std::wstring(text) + L" (" + words + L")";
}

}  // namespace

std::wstring FormatBytes(double bytes) {
    static const wchar_t* const UNITS[] = {L"KiB", L"MiB", L"GiB", L"TiB"};
    if (bytes < 1024) return Number(static_cast<long long>(bytes)) + L" bytes";
    int unit = 0;
    for (bytes /= 1024; bytes >= 1024 && unit < 3; bytes /= 1024) ++unit;
    wchar_t text[32];
    std::swprintf(text, 32, L"%.1f %ls", bytes, UNITS[unit]);
    return text;
}

std::wstring DescribeFailure(HRESULT hr, const FailureFacts& facts) {
    if (const wchar_t* stopped = StoppedSentence(hr)) return stopped;
    switch (hr) {
        case AGENT_E_NO_SESSION:
            return L"the internet could not be reached (the connectivity probe saw no status 200 within " +
                   Number(agent::AgentObject::PROBE_WAIT_MS / 1000) + L" s)";
        case AGENT_E_HTTP_STATUS: return HttpFailure(facts);
        case AGENT_E_SERVICE_STATUS: return ServiceFailure(facts);
        case AGENT_E_BUFFER_TOO_SMALL:
            return L"the service answered a URL longer than " + Number(AutomationFace::URL_LIMIT / 1024) + L" KiB";
        case AGENT_E_BUSY: return L"another operation of this object is still running";
        case AGENT_E_SIZE_MISMATCH:
            return L"the file is not of the expected size of " + Number(static_cast<long long>(facts.expected)) +
                   L" bytes" + (facts.total >= 0 ? L" (the server announced " + FormatBytes(facts.total) + L")" : L"");
        case AGENT_E_CERTIFICATE: return L"strict TLS refused the server's certificate";
        case AGENT_E_INSECURE_REDIRECT:
            return L"strict TLS refused a redirect that leaves https; nothing was fetched in clear";
        case AGENT_E_PROXY_AUTH:
            return L"the proxy asked for credentials (407 Proxy Authentication Required) that it was not given or "
                   L"refused; set the proxy's user name and password for the system";
        case AGENT_E_DIGEST_MISMATCH:
            return L"the file's bytes are not the ones the service named (its SHA-256 differs); nothing was kept";
        case AGENT_E_BROKEN: return L"the download broke off after " + BytesSoFar(facts);
        case AGENT_E_RETRY_LATER:
            return L"the server asked to be asked again in " + Number((static_cast<long long>(facts.retryAfterMs) + 999) / 1000) +
                   L" s, later than the download may wait (MaxRetryWait or Deadline), and no other source remained";
        case E_ABORT: return L"the download was cancelled after " + BytesSoFar(facts);
        case E_INVALIDARG:
            return facts.operation == Operation::DOWNLOAD
                       ? L"the URL, flags or path were refused (http, https or ftp URLs and known flags only)"
                       : L"the service URL was refused (an http or https URL is needed)";
        case E_FAIL:
            if (facts.operation == Operation::DOWNLOAD) return DownloadFailure(facts);
            return OtherFailure(hr);
        default: return OtherFailure(hr);
    }
}

HRESULT RecordOutcome(const Outcome& outcome) noexcept {
    if (SUCCEEDED(outcome.hr)) {
        ::SetErrorInfo(0, nullptr);
        return outcome.hr;
    }
    ComPointer<ICreateErrorInfo> create;
    if (FAILED(::CreateErrorInfo(create.put()))) return outcome.hr;
    create->SetGUID(IID_InvTamselAgent2);
    create->SetSource(const_cast<LPOLESTR>(ERROR_SOURCE));
    // A member stopped by a throw has no sentence of its own: building one could need the memory that ran out.
    const wchar_t* stopped = outcome.description.empty() ? StoppedSentence(outcome.hr) : nullptr;
    const wchar_t* description = stopped != nullptr ? stopped : outcome.description.c_str();
    create->SetDescription(const_cast<LPOLESTR>(description));
    ComPointer<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.put_void()))) {
        ::SetErrorInfo(0, info.get());
    }
    return outcome.hr;
}

HRESULT STDMETHODCALLTYPE ErrorSupport::InterfaceSupportsErrorInfo(REFIID riid) noexcept {
    return ::IsEqualIID(riid, IID_InvTamselAgent2) || ::IsEqualIID(riid, IID_InvTamselAgent3) ? S_OK : S_FALSE;
}

FailureFacts FactsOf(Operation operation, const agent::Answer& answer) noexcept {
    FailureFacts facts;
    facts.operation = operation;
    facts.httpStatus = answer.httpStatus == -1 ? 0 : answer.httpStatus;
    facts.serviceStatus = answer.serviceStatus == -1 ? 0 : answer.serviceStatus;
    return facts;
}

}  // namespace tamsel::automation
