// Hosts' progress sinks for the tests: one that records every call in order and follows a cancel script,
// and one with bytes that records percents and (received, total) pairs.
#pragma once

#include "include/NorvikTamselAgent.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

namespace tamsel::test {

// What NotifyCode is called with before every report.
inline constexpr LONG PROGRESS_CODE = TAMSEL_PROGRESS_CODE;

// One call a download made on the sink: NotifyCode(value), or NotifyProgress(value, &flag) with the
// flag as it was handed over (-1 for a null flag).
struct SinkCall {
    enum Kind { Code, Progress };
    Kind kind;
    LONG value;
    LONG flagHandedOver;
};

// What the sink does on each report. The flag gets cancelValue at the first report that meets any of
// the three conditions.
struct SinkScript {
    LONG cancelAtPercent = 1000;    // a report of at least this percent (1000: none)
    bool cancelEveryReport = false;
    LONG cancelValue = 1;
    HRESULT answer = S_OK;          // what both methods return; the download must ignore it
    size_t cancelAtReport = 0;      // the report with this number, from 1 (0: none)
};

// Its count starts at 1 and must stay there: a download neither adds nor releases references.
class RecordingSink final : public ProgressSink {
public:
    explicit RecordingSink(SinkScript script = {}) : m_script(script) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE NotifyCode(LONG code) override;
    HRESULT STDMETHODCALLTYPE NotifyProgress(LONG percent, LONG* cancel) override;

    std::vector<LONG> Codes() const { return Values(SinkCall::Code); }
    std::vector<LONG> Percents() const { return Values(SinkCall::Progress); }

    // Whole pairs of NotifyCode(PROGRESS_CODE) then NotifyProgress with the flag cleared; percents strictly
    // rise within 1..100.
    ::testing::AssertionResult WellFormed() const;

    std::vector<SinkCall> calls;
    LONG references = 1;

private:
    std::vector<LONG> Values(SinkCall::Kind kind) const;

    SinkScript m_script;
    size_t m_reports = 0;
};

// A sink with bytes: records percents and (received, total) pairs, and can cancel from either. Its count
// starts at 1; a download that asks it for ProgressSink2 gives that reference back.
class BytesSink final : public ProgressSink2 {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE NotifyCode(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NotifyProgress(LONG percent, LONG* cancel) override;
    HRESULT STDMETHODCALLTYPE NotifyBytes(LONGLONG received, LONGLONG total, LONG* cancel) override;

    LONG references = 1;
    LONG cancelAtPercent = 1000;
    LONGLONG cancelAtBytes = INT64_MAX;
    std::vector<LONG> percents;
    std::vector<std::pair<LONGLONG, LONGLONG>> bytes;
    std::function<void()> atFirstBytes;  // run at the first NotifyBytes, the download held mid-way
};

}  // namespace tamsel::test
