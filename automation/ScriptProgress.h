// The progress of an automation download: the agent's progress, told to the script's OnProgress handler
// and to the sinks of Progress events at a script's pace, and its retries to the sinks of Retrying events.
#pragma once

#include "agent/DownloadProgress.h"
#include "automation/ConnectionPoint.h"
#include "automation/ErrorInfo.h"

#include <oaidl.h>

#include <optional>

namespace tamsel::automation {

// Lives on the stack for one download.
class ScriptProgress final : public agent::DownloadProgress {
public:
    // handler may be null (events only, or nothing).
    ScriptProgress(IDispatch* handler, ConnectionPoint& events) noexcept : m_handler(handler), m_events(events) {}
    ScriptProgress(const ScriptProgress&) = delete;
    ScriptProgress& operator=(const ScriptProgress&) = delete;

    bool Reached(uint64_t received, int64_t total) noexcept override;
    // Before a retry's wait: the Retrying event to the sinks, whose cancel stops the download. During the
    // wait the handler and the sinks hear Progress with the counts unchanged (Reached), at least every
    // 250 ms, so that either can cancel it.
    bool Retrying(uint32_t attempt, uint32_t waitMs, const agent::AttemptEnd& last, uint32_t source) noexcept override;

    // The last call, once the download succeeded, unless the last report already said the same.
    void Finish() noexcept;

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
