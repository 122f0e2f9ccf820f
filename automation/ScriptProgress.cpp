// The OnProgress handler and the Progress event at a script's pace, the Retrying event, and their cancel.
#include "automation/ScriptProgress.h"

#include "base/Handle.h"
#include "base/Result.h"
#include "automation/DispatchTypeInfo.h"
#include "faces/Ops4Result.h"

#include <dispex.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cwchar>

namespace tamsel::automation {
namespace {

constexpr ULONGLONG REPORT_INTERVAL_MS = 250;

// A handler's answer converted to a Boolean as the platform converts it: True, -1 and other non-zero
// numbers, "True" and "-1" cancel; False, 0, "False", "0" and Empty go on. The words are the English
// ones and, as VARIANT_LOCALBOOL adds, the user's language's. An answer that does not convert (Null, an
// object, "maybe", an error value) goes on and is no error: only a raised error is. An object is not
// asked for its value (VARIANT_NOVALUEPROP), which would call back into the script for a mere answer.
bool IsTrue(VARIANT& value) noexcept {
    VARIANT flag;
    ::VariantInit(&flag);
    const HRESULT hr = ::VariantChangeType(&flag, &value, VARIANT_NOVALUEPROP | VARIANT_LOCALBOOL, VT_BOOL);
    return SUCCEEDED(hr) && flag.boolVal != VARIANT_FALSE;
}

// The handler's member named Progress. Script objects are asked through IDispatchEx first: Wine's
// VBScript answers GetIDsOfNames of a class instance with E_NOTIMPL.
HRESULT FindProgressMember(IDispatch* handler, DISPID& member) noexcept {
    const PlatformString name(::SysAllocString(L"Progress"));
    RETURN_HR_IF(E_OUTOFMEMORY, !name);
    if (ComPointer<IDispatchEx> script; SUCCEEDED(handler->QueryInterface(__uuidof(IDispatchEx), script.put_void()))) {
        const HRESULT hr = script->GetDispID(name.get(), fdexNameCaseInsensitive, &member);
        if (SUCCEEDED(hr)) return hr;
    }
    LPOLESTR names[] = {name.get()};
    return handler->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member);
}

}  // namespace

bool ScriptProgress::Reached(uint64_t received, int64_t total) noexcept {
    m_received = static_cast<double>(received);
    m_total = static_cast<double>(total);
    if (m_handler == nullptr && !m_events.HasSinks()) return true;
    return !Tell();
}

bool ScriptProgress::Retrying(uint32_t attempt, uint32_t waitMs, const agent::AttemptEnd& last,
                              uint32_t source) noexcept {
    if (!m_events.HasSinks()) return true;
    const auto asLong = [](uint32_t value) { return static_cast<LONG>(std::min<uint32_t>(value, LONG_MAX)); };
    return !m_events.FireRetrying(asLong(attempt), asLong(waitMs), faces::AttemptResult(last), asLong(source));
}

void ScriptProgress::Finish() noexcept {
    if ((m_handler != nullptr || m_events.HasSinks()) && (!m_told || m_toldReceived != m_received)) {
        m_told = false;  // the end is told whatever the pace
        Tell();
    }
}

bool ScriptProgress::Due(LONG percent) const noexcept {
    return !m_told || percent != m_toldPercent || ::GetTickCount64() - m_toldAt >= REPORT_INTERVAL_MS;
}

bool ScriptProgress::Tell() noexcept {
    const double percent = m_total > 0 ? std::floor(std::min(m_received, m_total) * 100 / m_total) : -1;
    const LONG wholePercent = static_cast<LONG>(percent);
    if (!Due(wholePercent)) return false;
    m_told = true;
    m_toldReceived = m_received;
    m_toldPercent = wholePercent;
    m_toldAt = ::GetTickCount64();
    const bool handlerStops = m_handler != nullptr && CallHandler(percent);
    const bool sinkStops = m_events.HasSinks() && m_events.FireProgress(m_received, m_total, wholePercent);
    return handlerStops || sinkStops;
}

bool ScriptProgress::CallHandler(double percent) noexcept {
    VARIANTARG arguments[] = {DoubleArgument(percent), DoubleArgument(m_total), DoubleArgument(m_received)};
    DISPPARAMS parameters = {arguments, nullptr, 3, 0};
    VARIANT result;
    ::VariantInit(&result);
    EXCEPINFO exception = {};
    const HRESULT hr = InvokeHandler(parameters, result, exception);
    if (FAILED(hr)) {
        KeepRaised(hr, exception);
        return true;
    }
    const bool stop = IsTrue(result);
    ::VariantClear(&result);
    return stop;
}

// The default member, or, for an object without one (a VBScript class), its member named Progress.
HRESULT ScriptProgress::InvokeHandler(DISPPARAMS& parameters, VARIANT& result, EXCEPINFO& exception) noexcept {
    HRESULT hr = m_handler->Invoke(m_member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, &result,
                                   &exception, nullptr);
    if (m_member == DISPID_VALUE && (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME)) {
        DISPID member = DISPID_UNKNOWN;
        if (SUCCEEDED(FindProgressMember(m_handler, member))) {
            m_member = member;
            hr = m_handler->Invoke(m_member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                                   &result, &exception, nullptr);
        }
    }
    return hr;
}

// The handler's own error becomes Download's: its number and its text.
void ScriptProgress::KeepRaised(HRESULT hr, EXCEPINFO& exception) noexcept {
    if (hr == DISP_E_EXCEPTION && exception.pfnDeferredFillIn != nullptr) {
        exception.pfnDeferredFillIn(&exception);
    }
    HRESULT raised = hr;
    if (hr == DISP_E_EXCEPTION) {
        raised = exception.scode != 0 ? exception.scode : E_FAIL;
    }
    ComBoundary([&] {
        std::wstring text = exception.bstrDescription != nullptr ? exception.bstrDescription : L"";
        if (text.empty()) {  // Wine's script engines raise without a description
            wchar_t code[96];
            std::swprintf(code, 96, L"the OnProgress handler failed with 0x%08lX and cancelled the download",
                          static_cast<unsigned long>(raised));
            text = code;
        }
        m_raised = Failure(raised, std::move(text));
        return S_OK;
    });
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrHelpFile);
}

}  // namespace tamsel::automation
