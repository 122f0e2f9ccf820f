// The progress sink handed to FetchToFile, and the Ctrl+C flag it passes on as a cancel.
#include "host/ConsoleProgress.h"

#include "host/ProgressLine.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

namespace tamsel::host {
namespace {

std::atomic<bool> g_interrupted{false};

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
    if (iid != IID_IUnknown && iid != IID_ProgressSink) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    *object = static_cast<ProgressSink*>(this);
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

HRESULT ConsoleProgress::NotifyProgress(LONG percent, LONG* cancel) noexcept {
    Draw(percent);
    if (g_interrupted.load() && cancel != nullptr) {
        *cancel = 1;
        m_cancelled = true;
    }
    return S_OK;
}

void ConsoleProgress::Draw(LONG percent) noexcept {
    // The rate is measured from the first report, so that the probe and the connection set-up before
    // the first byte do not count against it.
    const uint64_t now = ::GetTickCount64();
    if (m_firstPercent < 0) {
        m_firstPercent = percent;
        m_firstTick = now;
    }
    // Below half a second the figures are mostly buffering noise; they are left out until then.
    const double seconds = static_cast<double>(now - m_firstTick) / 1000.0;
    const double done = static_cast<double>(percent - m_firstPercent);
    const bool measured = seconds >= 0.5 && done > 0;
    const double rate = measured ? done / 100.0 * static_cast<double>(m_totalBytes) / seconds : 0;
    const double left = measured ? (100 - percent) * seconds / done : -1;
    try {
        std::string line = FormatProgressLine(percent, m_totalBytes, rate, left);
        const size_t length = line.size();
        // Pad over whatever a longer earlier line left on the console.
        line.resize(std::max(length, m_lineLength), ' ');
        m_lineLength = length;
        std::fprintf(stderr, "\r%s", line.c_str());
        std::fflush(stderr);
        m_drawn = true;
    } catch (...) {
        // Out of memory for a line of text: skip this drawing, the download goes on.
    }
}

void ConsoleProgress::Finish() noexcept {
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
