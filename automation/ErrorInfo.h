// What a failing automation member leaves for its caller: the error record that scripts and .NET
// show, the sentences that say what failed and the status behind it, and the object's ISupportErrorInfo.
#pragma once

#include <windows.h>
#include <oaidl.h>

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
};

// The sentence for a member's result code: "the server answered 404 Not Found".
std::wstring DescribeFailure(HRESULT hr, const FailureFacts& facts);

// "7.6 MiB", "512 bytes".
std::wstring FormatBytes(double bytes);

// Tells callers which interface's failures leave an error record: InvTamselAgent2's alone. IUnknown's
// members are the COM object's that composes it.
class ErrorSupport : public ISupportErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) noexcept override;

protected:
    ErrorSupport() noexcept = default;
    ~ErrorSupport() = default;
};

}  // namespace tamsel::automation
