// Shared pieces of the hostile-world suites: a scratch folder, file checks, a scripted sink, a bound.
#pragma once

#include "agent/AgentObject.h"
#include "support/Testbed.h"
#include "web/Handle.h"
#include "web/Internet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tamsel::hostile {

inline constexpr char Files[] = "files.norvik.example";
inline constexpr char Service[] = "svc.norvik.example";
inline constexpr LONG ProgressCode = 5913;

// size bytes of the bench's generated pattern, starting at offset from.
inline std::string Pattern(size_t size, uint64_t from = 0) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(testbed::PatternByte(from + i));
    return bytes;
}

inline bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The size of the file at path, or -1 when there is none.
inline int64_t SizeOf(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The whole file, or "<missing>".
inline std::string Contents(const std::string& path) {
    FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return "<missing>";
    std::string bytes;
    std::vector<char> block(1 << 20);
    DWORD got = 0;
    while (::ReadFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr) && got > 0) {
        bytes.append(block.data(), got);
    }
    return bytes;
}

inline bool WriteWhole(const std::string& path, const std::string& bytes) {
    FileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// A folder of the test's own under the prefix's temp folder, emptied and removed at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string File(const std::string& name) const { return path + "\\" + name; }

    std::string path;
};

// What the sink does on each report.
struct SinkScript {
    LONG cancelAtPercent = 1000;  // write cancelValue at the first report of at least this
    bool cancelEveryReport = false;
    LONG cancelValue = 1;
    HRESULT answer = S_OK;  // what both methods return; the download must ignore it
};

// Records reports and follows its script. Its count must not move: the agent takes no reference.
class ScriptedSink final : public ProgressSink {
public:
    explicit ScriptedSink(SinkScript script = {}) : m_script(script) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE NotifyCode(LONG code) override {
        codes.push_back(code);
        return m_script.answer;
    }
    HRESULT STDMETHODCALLTYPE NotifyProgress(LONG percent, LONG* cancel) override {
        handedOver.push_back(*cancel);
        percents.push_back(percent);
        if (m_script.cancelEveryReport || percent >= m_script.cancelAtPercent) *cancel = m_script.cancelValue;
        return m_script.answer;
    }

    // Pairs of NotifyCode(5913) then NotifyProgress with a cleared flag, percents rising in 1..100.
    ::testing::AssertionResult WellFormed() const;

    LONG references = 1;
    std::vector<LONG> codes;
    std::vector<LONG> percents;
    std::vector<LONG> handedOver;

private:
    SinkScript m_script;
};

// Runs work on a thread of its own and waits at most limitMs. A run that overstays is left behind with
// what it owns (capture shared state by shared_ptr), so a hang fails the test instead of the suite.
class BoundedCall {
public:
    explicit BoundedCall(std::function<void()> work) : m_work(std::move(work)) {}
    bool Within(DWORD limitMs);
    long long elapsedMs = 0;

private:
    std::function<void()> m_work;
};

// Shortens every bounded wait of the component for a test, and puts the product's value back.
class ShortWaits {
public:
    explicit ShortWaits(uint32_t milliseconds) { web::SetExchangeTimeoutMs(milliseconds); }
    ~ShortWaits() { web::SetExchangeTimeoutMs(web::DEFAULT_EXCHANGE_TIMEOUT_MS); }
    ShortWaits(const ShortWaits&) = delete;
    ShortWaits& operator=(const ShortWaits&) = delete;
};

// Both status getters report nothing and leave their output alone.
::testing::AssertionResult NoStatusKept(agent::AgentObject& agent);
// GetLastHttpStatus reports exactly status (and the service slot nothing).
::testing::AssertionResult HttpStatusKept(agent::AgentObject& agent, LONG status);

// An agent, a scratch folder and a target path in it, on a bench with no routes.
class HostileTest : public testbed::TestbedTest {
protected:
    // Scripts path on host to answer its Location look with a small 200, so that route answers only
    // the download. A look that met a large body would cost its whole length when it is closed.
    void AddDownload(const testbed::Route& route, const std::string& path, const std::string& host = Files);

    std::shared_ptr<agent::AgentObject> agent = std::make_shared<agent::AgentObject>();
    ScratchFolder folder;
    std::string target = folder.File("download.bin");
};

}  // namespace tamsel::hostile
