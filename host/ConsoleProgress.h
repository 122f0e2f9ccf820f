// The host's ProgressSink: draws the progress line on stderr and turns Ctrl+C into a cancel.
#pragma once

#include "include/NorvikTamselAgent.h"

#include <cstdint>

namespace tamsel::host {

// Lives on the caller's stack for one FetchToFile. The agent takes no reference; the count is kept
// anyway so that a component that did would still see a well-behaved object.
class ConsoleProgress final : public ProgressSink {
public:
    // `totalBytes` is the download's size when known (from a query), else 0.
    explicit ConsoleProgress(uint64_t totalBytes) noexcept : m_totalBytes(totalBytes) {}
    ConsoleProgress(const ConsoleProgress&) = delete;
    ConsoleProgress& operator=(const ConsoleProgress&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;
    HRESULT STDMETHODCALLTYPE NotifyCode(LONG code) noexcept override;
    HRESULT STDMETHODCALLTYPE NotifyProgress(LONG percent, LONG* cancel) noexcept override;

    // Ends the progress line, if one was drawn.
    void Finish() noexcept;
    // True once the sink asked the component to stop.
    bool Cancelled() const noexcept { return m_cancelled; }

private:
    void Draw(LONG percent) noexcept;

    uint64_t m_totalBytes;
    ULONG m_references = 1;
    bool m_cancelled = false;
    bool m_drawn = false;
    size_t m_lineLength = 0;
    LONG m_firstPercent = -1;
    uint64_t m_firstTick = 0;
};

// Catches Ctrl+C and Ctrl+Break for its lifetime: the first press asks the running download to stop
// at its next progress report; a second press ends the process as usual.
class CtrlCScope {
public:
    CtrlCScope() noexcept;
    ~CtrlCScope();
    CtrlCScope(const CtrlCScope&) = delete;
    CtrlCScope& operator=(const CtrlCScope&) = delete;
};

}  // namespace tamsel::host
