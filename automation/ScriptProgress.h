// The progress of an automation download: a ProgressSink2 that the agent's download calls after every
// block, turned into calls of the script's OnProgress handler and Progress events at a script's pace.
#pragma once

#include "include/NorvikTamselAgent.h"
#include "automation/ConnectionPoint.h"
#include "automation/ErrorInfo.h"
#include "base/Implements.h"

#include <optional>

// Answering ProgressSink2 answers ProgressSink too.
template <>
struct tamsel::InterfaceBases<ProgressSink2> {
    using type = tamsel::InterfaceList<ProgressSink>;
};

namespace tamsel::automation {

// Lives on the stack for one download; the agent holds no reference past the call.
class ScriptProgress final : public Answers<ScriptProgress, ProgressSink2> {
public:
    // handler may be null (events only, or nothing but the byte count for the error text).
    ScriptProgress(IDispatch* handler, ConnectionPoint& events) noexcept : m_handler(handler), m_events(events) {}
    ScriptProgress(const ScriptProgress&) = delete;
    ScriptProgress& operator=(const ScriptProgress&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }
    HRESULT STDMETHODCALLTYPE NotifyCode(LONG) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NotifyProgress(LONG, LONG*) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NotifyBytes(LONGLONG received, LONGLONG total, LONG* cancel) noexcept override;

    // The last call, once the download succeeded, unless the last report already said the same.
    void Finish() noexcept;

    double Received() const noexcept { return m_received; }
    double Total() const noexcept { return m_total; }
    // The error the handler raised (or its failure to be called), which cancelled the download.
    const std::optional<Outcome>& Raised() const noexcept { return m_raised; }

private:
    bool Due(LONG percent) const noexcept;
    // Tells the handler and the event sinks; true when one of them asked to stop.
    bool Tell() noexcept;
    bool CallHandler(double percent) noexcept;
    HRESULT InvokeHandler(DISPPARAMS& parameters, VARIANT& result, EXCEPINFO& exception) noexcept;
    void KeepRaised(HRESULT hr, EXCEPINFO& exception) noexcept;

    IDispatch* m_handler;
    ConnectionPoint& m_events;
    DISPID m_member = DISPID_VALUE;
    double m_received = 0;
    double m_total = -1;
    bool m_told = false;
    double m_toldReceived = -1;
    LONG m_toldPercent = -2;
    ULONGLONG m_toldAt = 0;
    std::optional<Outcome> m_raised;
};

}  // namespace tamsel::automation
