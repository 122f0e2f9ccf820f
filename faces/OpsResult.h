// The first interface generation's answers: InvTamselAgentOps's result for each way an operation of the
// agent ends, and what its FetchToFile asks of the agent.
#pragma once

#include "agent/AgentObject.h"
#include "include/NorvikTamselAgent.h"

#include <string>

namespace tamsel::faces {

// The first interface's result for how an operation ended: its result table in the README.
HRESULT OpsResult(const agent::Answer& answer) noexcept;

// What FetchToFile asks: the probe first, then the URL's own Location look, then the GET, into the 8-bit
// path as the platform's 8-bit file calls read it, through the target itself.
agent::DownloadRequest FetchRequest(const char* url, const char* path);
// FetchToFile's result. It never told a refused certificate apart: that is the exchange that could not be
// made, whose status 0 its getter reports, as it always did.
HRESULT FetchResult(agent::AgentObject& agent, const agent::DownloadOutcome& outcome) noexcept;

// A status slot as the getters give it: E_FAIL, the output untouched, when it keeps none.
HRESULT StatusResult(int32_t slot, LONG* status) noexcept;

// An 8-bit path as the platform's 8-bit file calls read it (the ANSI code page), widened.
std::wstring WidenPath(const char* path);

}  // namespace tamsel::faces
