// The per-operation HTTP client: its construction and the bounded connectivity probe.
#pragma once

#include <cstdint>

namespace tamsel::web {

class WebSession {
public:
    WebSession() noexcept;
    virtual ~WebSession();
    WebSession(const WebSession&) = delete;
    WebSession& operator=(const WebSession&) = delete;

    // True only when the probe page answered 200 within ProbeWaitMs. Blocks the caller at most that
    // long, without dispatching messages; a probe still running afterwards is left to finish alone.
    bool ProbeConnectivity() noexcept;

    static constexpr uint32_t ProbeWaitMs = 12000;
};

}  // namespace tamsel::web
