// What a failing automation member leaves for its caller: the error record that scripts and .NET
// show, the sentences that say what failed and the status behind it, and the object's ISupportErrorInfo.
#pragma once

#include "agent/Answers.h"
#include "base/Result.h"

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>

namespace tamsel::automation {

// The answer of one automation member: its result and, on failure, the sentence a script shows.
struct Outcome {
    HRESULT hr = S_OK;
    std::wstring description;
};

inline Outcome Failure(HRESULT hr, std::wstring description) {
    return Outcome{hr, std::move(description)};
}

// Sets the thread's error record for a failure (source NorvikTamselAgent.nvTamselAgent) or clears it
// after a success, so that a script never reads an older failure's text; answers outcome.hr.
HRESULT RecordOutcome(const Outcome& outcome) noexcept;

// What the agent's operations were doing when they failed, for the sentence.
enum class Operation { LOOKUP, QUERY, DOWNLOAD, REPORT };

struct FailureFacts {
    Operation operation = Operation::LOOKUP;
    LONG httpStatus = 0;     // 0: none kept
    LONG serviceStatus = 0;  // 0: none kept
    double received = 0;     // bytes of the file when the download ended
    double total = -1;       // its whole length; -1 when none was announced
    double expected = -1;    // the size the caller expected; -1 when none
    uint32_t retryAfterMs = 0;  // what a server last asked a download to wait
};

// What the sentence of a failed operation tells: the statuses kept behind it.
FailureFacts FactsOf(Operation operation, const agent::Answer& answer) noexcept;

// Runs one member's work so that nothing escapes and the outcome is recorded.
template <typename Work>
HRESULT Member(Work&& work) noexcept {
    Outcome outcome;
    const HRESULT hr = ComBoundary([&] {
        outcome = work();
        return S_OK;
    });
    if (FAILED(hr)) outcome = Outcome{hr, {}};  // its sentence needs no memory: RecordOutcome finds it
    return RecordOutcome(outcome);
}

// The sentence for a member's result code: "the server answered 404 Not Found".
std::wstring DescribeFailure(HRESULT hr, const FailureFacts& facts);

// "7.6 MiB", "512 bytes".
std::wstring FormatBytes(double bytes);

// Tells callers which interfaces' failures leave an error record: the automation interfaces' alone. IUnknown's
// members are the COM object's that composes it.
class ErrorSupport : public ISupportErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) noexcept override;

protected:
    ErrorSupport() noexcept = default;
    ~ErrorSupport() = default;
};

}  // namespace tamsel::automation
