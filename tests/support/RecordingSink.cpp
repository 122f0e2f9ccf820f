// Hosts' progress sinks for the tests: one that records every call in order and follows a cancel script,
// and one with bytes that records percents and (received, total) pairs.
#include "support/RecordingSink.h"

namespace tamsel::test {

HRESULT RecordingSink::QueryInterface(REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_ProgressSink) return E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
}

HRESULT RecordingSink::NotifyCode(LONG code) {
    calls.push_back({SinkCall::Code, code, 0});
    return m_script.answer;
}

HRESULT RecordingSink::NotifyProgress(LONG percent, LONG* cancel) {
    calls.push_back({SinkCall::Progress, percent, cancel != nullptr ? *cancel : -1});
    ++m_reports;
    const bool stop = m_script.cancelEveryReport || percent >= m_script.cancelAtPercent ||
                      m_reports == m_script.cancelAtReport;
    if (cancel != nullptr && stop) *cancel = m_script.cancelValue;
    return m_script.answer;
}

std::vector<LONG> RecordingSink::Values(SinkCall::Kind kind) const {
    std::vector<LONG> values;
    for (const SinkCall& call : calls) {
        if (call.kind == kind) values.push_back(call.value);
    }
    return values;
}

::testing::AssertionResult RecordingSink::WellFormed() const {
    if (calls.size() % 2 != 0) {
        return ::testing::AssertionFailure() << calls.size() << " calls: not whole pairs";
    }
    LONG last = 0;
    for (size_t i = 0; i < calls.size(); i += 2) {
        const SinkCall& code = calls[i];
        const SinkCall& progress = calls[i + 1];
        if (code.kind != SinkCall::Code || code.value != PROGRESS_CODE) {
            return ::testing::AssertionFailure() << "call " << i << " is not NotifyCode(" << PROGRESS_CODE << ")";
        }
        if (progress.kind != SinkCall::Progress || progress.flagHandedOver != 0) {
            return ::testing::AssertionFailure() << "call " << i + 1 << " is not NotifyProgress with a cleared flag"
                                                 << " (flag " << progress.flagHandedOver << ")";
        }
        if (progress.value <= last || progress.value > 100) {
            return ::testing::AssertionFailure() << "percent " << progress.value << " after " << last;
        }
        last = progress.value;
    }
    return ::testing::AssertionSuccess();
}

HRESULT BytesSink::QueryInterface(REFIID iid, void** out) {
    *out = ::IsEqualIID(iid, IID_ProgressSink2) || ::IsEqualIID(iid, IID_ProgressSink) ? this : nullptr;
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

HRESULT BytesSink::NotifyProgress(LONG percent, LONG* cancel) {
    percents.push_back(percent);
    if (percent >= cancelAtPercent) *cancel = 1;
    return S_OK;
}

HRESULT BytesSink::NotifyBytes(LONGLONG received, LONGLONG total, LONG* cancel) {
    if (atFirstBytes && bytes.empty()) atFirstBytes();
    bytes.emplace_back(received, total);
    if (received >= cancelAtBytes) *cancel = 1;
    return S_OK;
}

}  // namespace tamsel::test
