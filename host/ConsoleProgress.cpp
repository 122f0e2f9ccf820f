// The progress sink handed to the downloads, the retry lines it prints, and the Ctrl+C flag it passes on as
// a cancel.
#include "host/ConsoleProgress.h"

#include "host/ProgressLine.h"
#include "host/ResultCodes.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

namespace tamsel::host {
namespace {

std::atomic<bool> g_interrupted{false};

// Often enough to look alive, seldom enough that a fast download does not spend its time drawing.
constexpr uint64_t REDRAW_MS = 100;
// Below half a second the rate is mostly buffering noise; it is left out until then.
constexpr uint64_t RATE_AFTER_MS = 500;

void PassOnCtrlC(LONG* cancel) noexcept {
    if (g_interrupted.load() && cancel != nullptr) {
        *cancel = 1;
    }
}

// Runs on a thread of its own: only the flag and one message, nothing that could wait on the download.
BOOL WINAPI OnCtrlC(DWORD event) noexcept {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    if (g_interrupted.exchange(true)) {
        return FALSE;  // the second press: let the default handler end the process
    }
    std::fputs("\ntamsel: stopping at the next progress report (Ctrl+C again to quit at once)\n", stderr);
    std::fflush(stderr);
    return TRUE;
}

}  // namespace

HRESULT ConsoleProgress::QueryInterface(REFIID iid, void** object) noexcept {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (iid != IID_IUnknown && iid != IID_ProgressSink && iid != IID_ProgressSink2 && iid != IID_ProgressSink3) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    *object = static_cast<ProgressSink3*>(this);
    AddRef();
    return S_OK;
}

ULONG ConsoleProgress::AddRef() noexcept {
    return ++m_references;
}

ULONG ConsoleProgress::Release() noexcept {
    return --m_references;
}

HRESULT ConsoleProgress::NotifyCode(LONG) noexcept {
    return S_OK;
}

// The line is drawn from NotifyBytes, which carries the same news in bytes; a percentage only cancels.
HRESULT ConsoleProgress::NotifyProgress(LONG, LONG* cancel) noexcept {
    PassOnCtrlC(cancel);
    return S_OK;
}

HRESULT ConsoleProgress::NotifyBytes(LONGLONG received, LONGLONG total, LONG* cancel) noexcept {
    const uint64_t now = ::GetTickCount64();
    m_received = received > 0 ? static_cast<uint64_t>(received) : 0;
    m_total = total;
    // The rate counts from the first report, so that the probe, the connection set-up and the bytes a
    // resumed file held already do not count for it; after a retry, from the end of its wait (the reports
    // during a wait repeat the counts), or from the new start when another source starts the file over.
    if (m_waiting && m_received == m_firstReceived) {
        m_firstTick = now;
    } else {
        m_waiting = false;
    }
    if (!m_reported || m_received < m_firstReceived) {
        m_reported = true;
        m_firstReceived = m_received;
        m_firstTick = now;
    }
    // A wait before anything arrived (a busy server) has no line to show yet.
    m_behind = !(m_waiting && m_received == 0);
    if (m_behind && (!m_drawn || now - m_drawnTick >= REDRAW_MS)) {
        Draw(now);
    }
    PassOnCtrlC(cancel);
    return S_OK;
}

// The line goes below the progress line, which the next report draws anew. Ctrl+C pressed since the last
// report cancels here too, before the wait.
HRESULT ConsoleProgress::NotifyRetry(ULONG, ULONG waitMs, HRESULT reason, ULONG sourceIndex) noexcept {
    LONG httpStatus = -1;
    if (reason == AGENT_E_HTTP_STATUS && m_statuses != nullptr) m_statuses->GetLastHttpStatus(&httpStatus);
    Finish();
    try {
        std::fprintf(stderr, "tamsel: %s\n",
                     FormatRetryLine(waitMs, sourceIndex, DescribeReason(reason, httpStatus)).c_str());
    } catch (...) {
        // Out of memory for a line of text: the retry goes on unannounced.
    }
    std::fflush(stderr);
    m_waiting = true;
    m_firstReceived = m_received;
    m_firstTick = ::GetTickCount64();
    return g_interrupted.load() ? E_ABORT : S_OK;
}

void ConsoleProgress::Draw(uint64_t now) noexcept {
    const uint64_t elapsed = now - m_firstTick;
    const double rate = elapsed >= RATE_AFTER_MS
                            ? static_cast<double>(m_received - m_firstReceived) * 1000.0 / static_cast<double>(elapsed)
                            : 0;
    try {
        std::string line = FormatProgressLine(m_received, m_total, rate);
        const size_t length = line.size();
        // Pad over whatever a longer earlier line left on the console.
        line.resize(std::max(length, m_lineLength), ' ');
        m_lineLength = length;
        std::fprintf(stderr, "\r%s", line.c_str());
        std::fflush(stderr);
        m_drawn = true;
        m_drawnTick = now;
        m_behind = false;
    } catch (...) {
        // Out of memory for a line of text: skip this drawing, the download goes on.
    }
}

void ConsoleProgress::Finish() noexcept {
    if (m_behind) {
        Draw(::GetTickCount64());
    }
    if (m_drawn) {
        std::fputc('\n', stderr);
        m_drawn = false;
    }
}

CtrlCScope::CtrlCScope() noexcept {
    g_interrupted = false;
    ::SetConsoleCtrlHandler(OnCtrlC, TRUE);
}

CtrlCScope::~CtrlCScope() {
    ::SetConsoleCtrlHandler(OnCtrlC, FALSE);
}

}  // namespace tamsel::host
