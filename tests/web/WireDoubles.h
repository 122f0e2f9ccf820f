// Doubles for the exchange wire tests: a recording progress sink, a recording consumer, a bounded runner.
#pragma once

#include "include/NorvikTamselAgent.h"
#include "support/Testbed.h"
#include "web/BodyConsumer.h"
#include "web/Handle.h"
#include "web/Internet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tamsel::web::wire {

// One call the download made on the sink: NotifyCode(value), or NotifyProgress(value, &flag) with the
// flag as it was handed over.
struct SinkCall {
    enum Kind { Code, Progress };
    Kind kind;
    LONG value;
    LONG cancelHandedOver;
};

// Records every call; asks for a stop at the cancelAt-th NotifyProgress (1-based; 0: never).
// Its count starts at 1 and must not move: the download neither adds nor releases references.
class RecordingSink final : public ProgressSink {
public:
    explicit RecordingSink(size_t cancelAt = 0) : m_cancelAt(cancelAt) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_ProgressSink) return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }

    HRESULT STDMETHODCALLTYPE NotifyCode(LONG code) override {
        calls.push_back({SinkCall::Code, code, 0});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NotifyProgress(LONG percent, LONG* cancel) override {
        calls.push_back({SinkCall::Progress, percent, cancel != nullptr ? *cancel : -1});
        if (cancel != nullptr && ++m_reports == m_cancelAt) {
            *cancel = 1;
        }
        // A sink may answer anything: the download ignores it.
        return E_FAIL;
    }

    std::vector<LONG> Percents() const {
        std::vector<LONG> percents;
        for (const SinkCall& call : calls) {
            if (call.kind == SinkCall::Progress) percents.push_back(call.value);
        }
        return percents;
    }

    std::vector<SinkCall> calls;
    LONG references = 1;

private:
    size_t m_cancelAt;
    size_t m_reports = 0;
};

// Every call made on the sink comes in pairs: NotifyCode(5913), then NotifyProgress with the flag
// cleared; percents strictly rise and never show 0.
inline ::testing::AssertionResult WellFormedReports(const RecordingSink& sink) {
    if (sink.calls.size() % 2 != 0) {
        return ::testing::AssertionFailure() << sink.calls.size() << " calls: not whole pairs";
    }
    LONG last = 0;
    for (size_t i = 0; i < sink.calls.size(); i += 2) {
        const SinkCall& code = sink.calls[i];
        const SinkCall& progress = sink.calls[i + 1];
        if (code.kind != SinkCall::Code || code.value != 5913) {
            return ::testing::AssertionFailure() << "call " << i << " is not NotifyCode(5913)";
        }
        if (progress.kind != SinkCall::Progress || progress.cancelHandedOver != 0) {
            return ::testing::AssertionFailure() << "call " << i + 1 << " is not NotifyProgress with a cleared flag";
        }
        if (progress.value <= last || progress.value > 100) {
            return ::testing::AssertionFailure() << "percent " << progress.value << " after " << last;
        }
        last = progress.value;
    }
    return ::testing::AssertionSuccess();
}

// Keeps what it is given; can refuse the body at its start, or fail the failWriteAt-th write (1-based).
class RecordingConsumer final : public BodyConsumer {
public:
    bool Start(int32_t status) override {
        starts.push_back(status);
        return acceptStart;
    }
    bool Write(const char* data, size_t size) override {
        writes.push_back(size);
        if (writes.size() == failWriteAt) return false;
        body.append(data, size);
        return true;
    }

    bool acceptStart = true;
    size_t failWriteAt = 0;
    std::vector<int32_t> starts;
    std::vector<size_t> writes;
    std::string body;
};

// The bench's generated body: byte i is PatternByte(first + i).
inline ::testing::AssertionResult IsPattern(const std::string& bytes, uint64_t size, uint64_t first = 0) {
    if (bytes.size() != size) {
        return ::testing::AssertionFailure() << bytes.size() << " bytes instead of " << size;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (static_cast<unsigned char>(bytes[i]) != testbed::PatternByte(first + i)) {
            return ::testing::AssertionFailure() << "byte " << i << " differs: lost, doubled or out of order";
        }
    }
    return ::testing::AssertionSuccess();
}

// Runs work on a thread of its own and waits at most limitMs for it. On time out the thread is left
// running with everything it owns (capture by value or shared_ptr), so a hang fails the test instead of
// stalling the suite.
class BoundedRun {
public:
    explicit BoundedRun(std::function<void()> work) : m_work(std::move(work)) {}

    // True when the work ended within limitMs; elapsed tells how long it ran (or was waited for).
    bool Within(DWORD limitMs) {
        auto* owned = new std::function<void()>(std::move(m_work));
        const auto start = std::chrono::steady_clock::now();
        ThreadHandle thread(::CreateThread(nullptr, 0, Run, owned, 0, nullptr));
        if (!thread) {
            delete owned;
            ADD_FAILURE() << "no thread for the bounded run";
            return false;
        }
        const bool ended = ::WaitForSingleObject(thread.get(), limitMs) == WAIT_OBJECT_0;
        elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                        .count();
        return ended;
    }

    long long elapsedMs = 0;

private:
    static DWORD WINAPI Run(void* argument) {
        std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(argument));
        (*work)();
        return 0;
    }

    std::function<void()> m_work;
};

// Shortens every bounded wait for the length of a test and restores the product's value afterwards.
class ShortTimeouts {
public:
    explicit ShortTimeouts(uint32_t milliseconds) { SetExchangeTimeoutMs(milliseconds); }
    ~ShortTimeouts() { SetExchangeTimeoutMs(DEFAULT_EXCHANGE_TIMEOUT_MS); }
    ShortTimeouts(const ShortTimeouts&) = delete;
    ShortTimeouts& operator=(const ShortTimeouts&) = delete;
};

// A fresh folder under the prefix's temp folder, for files the test serves or posts; removed with
// its files at scope exit.
class ScratchFolder {
public:
    ScratchFolder() {
        char base[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, base);
        path = std::string(base) + "tamsel-wire-" + std::to_string(::GetCurrentProcessId()) + "-" +
               std::to_string(++Counter());
        ::CreateDirectoryA(path.c_str(), nullptr);
    }
    ~ScratchFolder() {
        for (const std::string& file : m_files) ::DeleteFileA(file.c_str());
        ::RemoveDirectoryA(path.c_str());
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Writes bytes to name inside the folder; answers the file's full path.
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string file = path + "\\" + name;
        FileHandle handle(::CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        EXPECT_TRUE(handle && ::WriteFile(handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                                          nullptr) &&
                    written == bytes.size())
            << "cannot write " << file;
        m_files.push_back(file);
        return file;
    }

    std::string path;

private:
    static unsigned& Counter() {
        static unsigned counter = 0;
        return counter;
    }
    std::vector<std::string> m_files;
};

}  // namespace tamsel::web::wire
