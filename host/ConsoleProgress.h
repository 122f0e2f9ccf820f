// The host's progress sink: draws the progress line on stderr, prints a line for each retry, and turns
// Ctrl+C into a cancel.
#pragma once

#include "include/NorvikTamselAgent.h"

#include <cstdint>

namespace tamsel::host {

// Lives on the caller's stack for one download. The agent takes no reference; the count is kept anyway
// so that a component that did would still see a well-behaved object. A retry's line names the HTTP
// status behind it, read from `statuses` (when given) as the component kept it for the failed attempt.
class ConsoleProgress final : public ProgressSink3 {
public:
    explicit ConsoleProgress(InvTamselAgentOps* statuses = nullptr) noexcept : m_statuses(statuses) {}
    ConsoleProgress(const ConsoleProgress&) = delete;
    ConsoleProgress& operator=(const ConsoleProgress&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE NotifyCode(LONG code) noexcept override;
    HRESULT STDMETHODCALLTYPE NotifyProgress(LONG percent, LONG* cancel) noexcept override;
    HRESULT STDMETHODCALLTYPE NotifyBytes(LONGLONG received, LONGLONG total, LONG* cancel) noexcept override;
    HRESULT STDMETHODCALLTYPE NotifyRetry(ULONG attempt, ULONG waitMs, HRESULT reason,
                                          ULONG sourceIndex) noexcept override;

    // Draws the last state, if it was not drawn yet, and ends the progress line.
    void Finish() noexcept;
    // The bytes of the file at the last report.
    uint64_t Received() const noexcept { return m_received; }

private:
    void Draw(uint64_t now) noexcept;

    InvTamselAgentOps* m_statuses;
    ULONG m_references = 1;
    uint64_t m_received = 0;
    int64_t m_total = -1;
    bool m_reported = false;
    uint64_t m_firstReceived = 0;
    uint64_t m_firstTick = 0;
    uint64_t m_drawnTick = 0;
    bool m_drawn = false;
    bool m_behind = false;  // a report came after the last drawing
    bool m_waiting = false;  // between a retry's line and its first new byte
    size_t m_lineLength = 0;
};

// Catches Ctrl+C and Ctrl+Break for its lifetime: the first press asks the running download to stop
// at its next progress report (the component reports during its waits between attempts too, so a wait
// ends as well); a second press ends the process as usual.
class CtrlCScope {
public:
    CtrlCScope() noexcept;
    ~CtrlCScope();
    CtrlCScope(const CtrlCScope&) = delete;
    CtrlCScope& operator=(const CtrlCScope&) = delete;
};

}  // namespace tamsel::host
