// What each result code means to a person running the host: its name, one line of explanation and
// the host's exit code for it.
#pragma once

#include <windows.h>

#include <string>

namespace tamsel::host {

// Exit codes of outcomes that are not result codes of the component or of COM.
enum ExitCode : int {
    ExitSuccess = 0,
    ExitUsage = 2,          // wrong subcommand, missing or extra arguments, unknown option
    ExitCancelled = 3,      // Ctrl+C stopped a download (E_ABORT); what arrived is kept
    ExitLocalProblem = 4,   // a missing folder, an unusable file name
    ExitUnknownResult = 29  // a result code this host has no entry for
};

struct ResultInfo {
    HRESULT code;
    const char* name;
    const char* explanation;
    int exitCode;
};

// The entry for `code`; an unlisted code gets a generic entry named "unknown result" with
// ExitUnknownResult.
const ResultInfo& DescribeResult(HRESULT code) noexcept;

// "NAME (0x8004....): explanation", followed by "(HTTP status N)" and "(service status N)" for the
// statuses that are not -1 (the component's "none").
std::string DescribeFailure(HRESULT code, LONG httpStatus, LONG serviceStatus);

// Why one attempt of a download failed, in a few words for a line of their own: the table's explanation
// without its advice, or the platform's words for a connection that could not be made (NotifyRetry passes
// those on; no call ends with them), and the HTTP status when one is known (neither -1 nor 0).
std::string DescribeReason(HRESULT code, LONG httpStatus);

// Every listed entry, in exit-code order, for the help text.
const ResultInfo* ResultTableBegin() noexcept;
const ResultInfo* ResultTableEnd() noexcept;

}  // namespace tamsel::host
