// The benchmark program scripts/bench.sh runs under Wine: one measured operation per command.
//
//   tamsel_bench fetch URL PATH [--hold]     FetchToFile through the agent
//   tamsel_bench fetchsink URL PATH          FetchToFile with a sink that counts its reports, never cancels
//   tamsel_bench fetchex URL PATH            FetchToFileEx, REPLACE_SAFELY | RESUME, no expected size
//   tamsel_bench queryfetchex URL CODE PATH  QueryDownload, then FetchToFileEx of its URL on the same object
//   tamsel_bench fetchsafe URL PATH          FetchToFileEx, REPLACE_SAFELY
//   tamsel_bench fetchverified URL PATH SHA256
//                                            FetchToFileVerified, no flags (REPLACE_SAFELY is implied)
//   tamsel_bench resilient URL PATH SHA256|- [MAX_WAIT_MS]
//                                            FetchToFileResilient over the one URL, no flags, with the digest
//                                            (- for none), under the default policy, or with 32 attempts and
//                                            waits of at most MAX_WAIT_MS; also reports attempts and waited_ms
//   tamsel_bench ratecap URL PATH BYTES_PER_S
//                                            FetchToFileResilient held to that rate: the rate over each 2 s
//                                            window between its progress reports, and the longest gap
//   tamsel_bench hash SIZE [cryptoapi]       the platform's SHA-256 of SIZE pattern bytes in memory (BCrypt,
//                                            or CryptoAPI, the fallback)
//   tamsel_bench steps URL PATH              FetchToFile's steps, each timed (probe, Location look, GET)
//   tamsel_bench cancel URL PATH             FetchToFile whose sink cancels at the first report
//   tamsel_bench raw64|raw256|raw1024 URL PATH
//                                            InternetOpenUrlA + InternetReadFile loop, 64 KiB to 1 MiB reads
//   tamsel_bench rawftp URL PATH             FtpOpenFileA + the same loop
//   tamsel_bench urlmon URL PATH             URLDownloadToFileA
//   tamsel_bench look URL                    a header-only look: open and close timed apart
//   tamsel_bench query URL CODE N            N QueryDownload calls, each timed
//   tamsel_bench querysteps URL CODE N       N times its steps through the session, each timed
//   tamsel_bench rawquery PROBE URL CODE N   N times the same three requests made directly
//
// Results are "name=value" lines; a transfer reports its wall-clock and CPU seconds (cpu_seconds: user
// plus kernel time of the whole process while it ran). --hold waits for a line on stdin before leaving,
// so that the script can read the process's peak memory while it is still there.
#include "tests/support/FacedAgent.h"
#include "agent/Decimal.h"
#include "faces/OpsResult.h"
#include "agent/LocalFile.h"
#include "agent/SafeDownload.h"
#include "agent/Sha256.h"
#include "markup/ReplyField.h"
#include "bench/BenchClock.h"
#include "bench/RawWinInet.h"
#include "web/FixedUrls.h"
#include "web/WebSession.h"

#include <urlmon.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace tamsel::bench {
namespace {

int Usage() {
    std::fprintf(stderr, "usage: tamsel_bench fetch|fetchsink|fetchex|fetchsafe|steps|cancel|raw64|raw256|raw1024"
                         "|rawftp|urlmon URL PATH | fetchverified URL PATH SHA256 | fetchranges URL PATH CONNECTIONS [--hold]"
                         " | hash SIZE | look URL"
                         " | query URL CODE N | rawquery PROBE URL CODE N | queryfetchex URL CODE PATH"
                         " | resilient URL PATH SHA256|- [MAX_WAIT_MS] | ratecap URL PATH BYTES_PER_S\n");
    return 2;
}

// The size of the file at path, or -1.
int64_t FileSize(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
    return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// A transfer's clocks, started together just before it.
struct TransferClocks {
    Stopwatch wall;
    CpuClock cpu;
};

// A download's figures: seconds, CPU seconds, bytes stored and the rate; 1 when nothing was stored.
int ReportTransfer(const TransferClocks& clocks, int64_t bytes) {
    const double seconds = clocks.wall.Seconds();
    Report("seconds", seconds);
    Report("cpu_seconds", clocks.cpu.Seconds());
    Report("bytes", static_cast<double>(bytes));
    if (bytes > 0) Report("mib_per_s", bytes / seconds / (1024.0 * 1024.0));
    return bytes >= 0 ? 0 : 1;
}

// A sink as a host has one: it counts the reports it hears, and asks to stop at the first when told to
// (how soon a cancel returns).
class BenchSink final : public ProgressSink {
public:
    explicit BenchSink(bool cancelAtFirst) : m_cancelAtFirst(cancelAtFirst) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE NotifyCode(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NotifyProgress(LONG, LONG* cancel) override {
        ++m_reports;
        *cancel = m_cancelAtFirst ? 1 : 0;
        return S_OK;
    }
    long Reports() const { return m_reports; }

private:
    bool m_cancelAtFirst;
    long m_reports = 0;
};

int Fetch(const char* url, const char* path, ProgressSink* sink = nullptr) {
    test::FacedAgent agent;
    TransferClocks clocks;
    const HRESULT result = agent.FetchToFile(url, path, sink);
    if (FAILED(result)) std::fprintf(stderr, "FetchToFile: 0x%08lX\n", static_cast<unsigned long>(result));
    return ReportTransfer(clocks, SUCCEEDED(result) ? FileSize(path) : -1);
}

int FetchWithSink(const char* url, const char* path) {
    BenchSink sink(false);
    const int status = Fetch(url, path, &sink);
    Report("reports", static_cast<double>(sink.Reports()));
    return status;
}

// The target of a download run without what an earlier run left, so that every run downloads the
// whole file.
std::wstring FreshTarget(const char* path) {
    const agent::SafePaths paths = agent::SafePathsFor(faces::WidenPath(path));
    for (const std::wstring* leftover : {&paths.target, &paths.partial, &paths.record}) {
        ::DeleteFileW(leftover->c_str());
    }
    return paths.target;
}

// FetchToFileEx with these flags, as a careful host calls it, or FetchToFileVerified when a digest is
// given.
HRESULT Download(test::FacedAgent& agent, const char* url, const std::wstring& target, ULONG flags,
                 const char* sha256 = nullptr) {
    const HRESULT result =
        sha256 != nullptr ? agent.FetchToFileVerified(url, target.c_str(), nullptr, flags, -1, sha256)
                          : agent.FetchToFileEx(url, target.c_str(), nullptr, flags, -1);
    if (FAILED(result)) std::fprintf(stderr, "download: 0x%08lX\n", static_cast<unsigned long>(result));
    return result;
}

int FetchEx(const char* url, const char* path, ULONG flags, const char* sha256 = nullptr) {
    const std::wstring target = FreshTarget(path);
    test::FacedAgent agent;
    TransferClocks clocks;
    const HRESULT result = Download(agent, url, target, flags, sha256);
    return ReportTransfer(clocks, SUCCEEDED(result) ? FileSize(path) : -1);
}

// A list of sources as FetchToFileResilient reads it: each followed by a zero, the list by one more.
std::string OneSource(const char* url) {
    return std::string(url) + '\0' + '\0';
}

// FetchToFileResilient of url into a fresh target, under policy (null: the defaults); info is filled.
HRESULT DownloadResilient(const char* url, const std::wstring& target, ProgressSink* sink, const char* sha256,
                          const TAMSEL_DOWNLOAD_POLICY* policy, TAMSEL_DOWNLOAD_INFO& info) {
    test::FacedAgent agent;
    info = {};
    info.cbSize = sizeof(info);
    const std::string sources = OneSource(url);
    const HRESULT result =
        agent.FetchToFileResilient(sources.c_str(), target.c_str(), sink, 0, -1, sha256, policy, &info);
    if (FAILED(result)) std::fprintf(stderr, "FetchToFileResilient: 0x%08lX\n", static_cast<unsigned long>(result));
    return result;
}

// A clean download under the defaults, or one that the server cuts, retried at once (waits of at most
// maxWaitMs): the script compares the two, less the waits.
int FetchResilient(const char* url, const char* path, const char* sha256, ULONG maxWaitMs) {
    const std::wstring target = FreshTarget(path);
    TAMSEL_DOWNLOAD_POLICY policy = {};
    policy.cbSize = sizeof(policy);
    policy.maxAttempts = 32;
    policy.maxRetryWaitMs = maxWaitMs;
    TAMSEL_DOWNLOAD_INFO info;
    TransferClocks clocks;
    const HRESULT result = DownloadResilient(url, target, nullptr, std::strcmp(sha256, "-") == 0 ? nullptr : sha256,
                                             maxWaitMs != 0 ? &policy : nullptr, info);
    const int status = ReportTransfer(clocks, SUCCEEDED(result) ? FileSize(path) : -1);
    Report("attempts", static_cast<double>(info.attempts));
    Report("waited_ms", static_cast<double>(info.waitedMs));
    return status;
}

// A ProgressSink2 that notes when each byte count was reported.
class RateSink final : public ProgressSink2 {
public:
    struct Sample {
        double ms;
        int64_t bytes;
    };

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = iid == IID_ProgressSink2 || iid == IID_ProgressSink || iid == IID_IUnknown ? this : nullptr;
        return *out != nullptr ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE NotifyCode(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NotifyProgress(LONG, LONG* cancel) override {
        *cancel = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NotifyBytes(LONGLONG received, LONGLONG, LONG* cancel) override {
        m_samples.push_back({m_clock.Milliseconds(), received});
        *cancel = 0;
        return S_OK;
    }
    const std::vector<Sample>& Samples() const { return m_samples; }

private:
    Stopwatch m_clock;
    std::vector<Sample> m_samples;
};

// The rate over each window from a report to the first report at least windowMs after it, in bytes/s.
std::vector<double> WindowRates(const std::vector<RateSink::Sample>& samples, double windowMs) {
    std::vector<double> rates;
    size_t end = 0;
    for (size_t start = 0; start < samples.size(); ++start) {
        while (end < samples.size() && samples[end].ms - samples[start].ms < windowMs) ++end;
        if (end == samples.size()) break;
        const double ms = samples[end].ms - samples[start].ms;
        rates.push_back(static_cast<double>(samples[end].bytes - samples[start].bytes) * 1000.0 / ms);
    }
    return rates;
}

// The cap held over any 2 s window: each window's rate against the cap, and how often progress came.
int RateCap(const char* url, const char* path, ULONG bytesPerSecond) {
    constexpr double WINDOW_MS = 2000;
    const std::wstring target = FreshTarget(path);
    TAMSEL_DOWNLOAD_POLICY policy = {};
    policy.cbSize = sizeof(policy);
    policy.maxBytesPerSecond = bytesPerSecond;
    RateSink sink;
    TAMSEL_DOWNLOAD_INFO info;
    TransferClocks clocks;
    const HRESULT result = DownloadResilient(url, target, &sink, nullptr, &policy, info);
    const int status = ReportTransfer(clocks, SUCCEEDED(result) ? FileSize(path) : -1);
    std::vector<double> rates = WindowRates(sink.Samples(), WINDOW_MS);
    if (rates.empty()) return 1;
    std::sort(rates.begin(), rates.end());
    const double worst = std::max(bytesPerSecond - rates.front(), rates.back() - bytesPerSecond);
    double gap = 0;
    const std::vector<RateSink::Sample>& samples = sink.Samples();
    for (size_t i = 1; i < samples.size(); ++i) gap = std::max(gap, samples[i].ms - samples[i - 1].ms);
    Report("windows", static_cast<double>(rates.size()));
    Report("window_min", rates.front());
    Report("window_median", rates[rates.size() / 2]);
    Report("window_max", rates.back());
    Report("worst_deviation_pct", worst * 100.0 / bytesPerSecond);
    Report("longest_gap_ms", gap);
    return status;
}

// A host's whole exchange for one code on one object: the query, then the download it names.
int QueryThenFetchEx(const char* serviceUrl, const char* code, const char* path) {
    const std::wstring target = FreshTarget(path);
    test::FacedAgent agent;
    TransferClocks clocks;
    char url[2048];
    LONGLONG size = 0;
    HRESULT result = agent.QueryDownload(url, sizeof(url), serviceUrl, code, &size);
    if (SUCCEEDED(result)) result = Download(agent, url, target, TAMSEL_FETCH_REPLACE_SAFELY | TAMSEL_FETCH_RESUME);
    return ReportTransfer(clocks, SUCCEEDED(result) ? FileSize(path) : -1);
}

// The platform's SHA-256 of size bytes of the server's pattern, in memory, 1 MiB at a time (what one
// download read brings at most): the hashing alone, at the rate a verified download cannot beat.
int HashPattern(uint64_t size, agent::Sha256::Provider provider) {
    constexpr size_t BLOCK = 1024 * 1024;
    constexpr size_t PERIOD = 251;
    std::vector<char> pattern(BLOCK + PERIOD);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<char>(i % PERIOD);
    TransferClocks clocks;
    agent::Sha256 hash(provider);
    bool added = static_cast<bool>(hash);
    for (uint64_t at = 0; at < size && added; at += BLOCK) {
        added = hash.Add(pattern.data() + at % PERIOD, static_cast<size_t>(std::min<uint64_t>(BLOCK, size - at)));
    }
    const auto digest = hash.Finish();
    const double seconds = clocks.wall.Seconds();
    if (!added || !digest) return 1;
    Report("seconds", seconds);
    Report("cpu_seconds", clocks.cpu.Seconds());
    Report("mib_per_s", static_cast<double>(size) / seconds / (1024.0 * 1024.0));
    Report("sha256", agent::DigestText(*digest).c_str());
    return 0;
}

// The raw loop's read size from its command (raw64, raw256, raw1024), in bytes; 0 for another command.
uint32_t RawReadSize(const std::string& command) {
    if (command == "raw64") return 64 * 1024;
    if (command == "raw256") return 256 * 1024;
    if (command == "raw1024") return 1024 * 1024;
    return 0;
}

// The steps of FetchToFile on their own, to show where its time goes.
int Steps(const char* url, const char* path) {
    web::WebSession session;
    Stopwatch probe;
    if (!session.ProbeConnectivity()) return 1;
    Report("probe_ms", probe.Milliseconds());
    Stopwatch look;
    if (!session.SetUrl(url)) return 1;
    Report("look_ms", look.Milliseconds());
    agent::LocalFile file(faces::WidenPath(path));
    agent::DirectTarget target(file, agent::ExpectedSize(-1));
    Stopwatch get;
    const web::TransferEnd end = session.Get({}, target).end;
    const bool stored = file.Finish() && end == web::TransferEnd::Complete;
    Report("get_ms", get.Milliseconds());
    return stored ? 0 : 1;
}

int UrlMon(const char* url, const char* path) {
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    TransferClocks clocks;
    const HRESULT result = ::URLDownloadToFileA(nullptr, url, path, 0, nullptr);
    const int status = ReportTransfer(clocks, SUCCEEDED(result) ? FileSize(path) : -1);
    ::CoUninitialize();
    return status;
}

int Look(const char* url) {
    const LookTimes times = RawLook(url);
    Report("open_ms", times.openMs);
    Report("close_ms", times.closeMs);
    Report("location", times.location.c_str());
    return 0;
}

// Each call's milliseconds, then their median.
template <typename Call>
int TimeCalls(int count, Call&& call) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        Stopwatch clock;
        if (!call()) {
            std::fprintf(stderr, "call %d failed\n", i + 1);
            return 1;
        }
        times.push_back(clock.Milliseconds());
        Report("ms", times.back());
    }
    std::sort(times.begin(), times.end());
    Report("median_ms", times[times.size() / 2]);
    return 0;
}

int Query(const char* url, const char* code, int count) {
    test::FacedAgent agent;
    return TimeCalls(count, [&] {
        char downloadUrl[2048];
        LONGLONG size = 0;
        return agent.QueryDownload(downloadUrl, sizeof(downloadUrl), url, code, &size) == S_OK && size > 0;
    });
}

// The median of each named series.
class StepTimes {
public:
    void Add(const char* name, double ms) {
        for (auto& series : m_series) {
            if (series.first == name) {
                series.second.push_back(ms);
                return;
            }
        }
        m_series.push_back({name, {ms}});
    }
    void ReportMedians() {
        for (auto& series : m_series) {
            std::sort(series.second.begin(), series.second.end());
            Report((series.first + "_median_ms").c_str(), series.second[series.second.size() / 2]);
        }
    }

private:
    std::vector<std::pair<std::string, std::vector<double>>> m_series;
};

// One QueryDownload's work through the session, step by step, as the agent does it.
bool QuerySteps(const char* url, const char* code, StepTimes& steps) {
    web::WebSession session;
    Stopwatch probe;
    if (!session.ProbeConnectivity()) return false;
    steps.Add("probe", probe.Milliseconds());
    Stopwatch look;
    if (!session.SetUrl(url)) return false;
    steps.Add("look", look.Milliseconds());
    Stopwatch post;
    session.AddField("ActivateCode", code);
    session.AddField("act", "1");
    const web::WebReply reply = session.Post(web::BodyEncoding::MULTIPART_FORM_DATA);
    steps.Add("post", post.Milliseconds());
    Stopwatch lookups;
    const bool accepted = agent::ReadDecimal32(markup::GetReplyField(reply.body, "StatusCode")) == 1 &&
                          !markup::GetReplyField(reply.body, "downloadURL").empty() &&
                          agent::ReadDecimal64(markup::GetReplyField(reply.body, "filesize")) > 0;
    steps.Add("lookups", lookups.Milliseconds());
    return reply.status == 200 && accepted;
}

int QueryStepsRepeated(const char* url, const char* code, int count) {
    StepTimes steps;
    for (int i = 0; i < count; ++i) {
        if (!QuerySteps(url, code, steps)) return 1;
    }
    steps.ReportMedians();
    return 0;
}

int RawQueries(const char* probeUrl, const char* url, const char* code, int count) {
    StepTimes steps;
    const int status = TimeCalls(count, [&] {
        QueryTimes times;
        const bool answered = RawQuery(probeUrl, url, code, times).find("StatusCode") != std::string::npos;
        steps.Add("probe", times.probeMs);
        steps.Add("look", times.lookMs);
        steps.Add("post", times.postMs);
        return answered;
    });
    steps.ReportMedians();
    return status;
}

void WaitForRelease() {
    Report("held", "1");
    char line[16];
    std::fgets(line, sizeof(line), stdin);
}

// FetchToFileResilient of one source over up to `connections` connections, no digest; with --hold the
// process waits (for the memory row) until a line comes on its standard input.
int FetchRanges(const char* url, const char* path, ULONG connections, bool hold) {
    const std::wstring target = FreshTarget(path);
    test::FacedAgent agent;
    TAMSEL_DOWNLOAD_POLICY policy = {sizeof(policy), 0, 0, 0, 0, 0, connections};
    TAMSEL_DOWNLOAD_INFO info{};
    info.cbSize = sizeof(info);
    const std::string sources = std::string(url) + '\0' + '\0';
    TransferClocks clocks;
    const HRESULT result =
        agent.FetchToFileResilient(sources.c_str(), target.c_str(), nullptr, 0, -1, nullptr, &policy, &info);
    if (FAILED(result)) std::fprintf(stderr, "download: 0x%08lX\n", static_cast<unsigned long>(result));
    Report("connections", std::to_string(info.connections).c_str());
    const int status = ReportTransfer(clocks, SUCCEEDED(result) ? FileSize(path) : -1);
    if (hold) WaitForRelease();
    return status;
}

int Run(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1];
    if (command == "look") return Look(argv[2]);
    if (command == "hash") {
        const bool cryptoApi = argc > 3 && std::strcmp(argv[3], "cryptoapi") == 0;
        return HashPattern(std::strtoull(argv[2], nullptr, 10),
                           cryptoApi ? agent::Sha256::Provider::CryptoApi : agent::Sha256::Provider::Any);
    }
    if (command == "query" && argc == 5) return Query(argv[2], argv[3], std::atoi(argv[4]));
    if (command == "querysteps" && argc == 5) return QueryStepsRepeated(argv[2], argv[3], std::atoi(argv[4]));
    if (command == "rawquery" && argc == 6) return RawQueries(argv[2], argv[3], argv[4], std::atoi(argv[5]));
    if (command == "queryfetchex" && argc == 5) return QueryThenFetchEx(argv[2], argv[3], argv[4]);
    if (argc < 4) return Usage();
    if (command == "steps") return Steps(argv[2], argv[3]);
    if (command == "cancel") {
        BenchSink sink(true);
        return Fetch(argv[2], argv[3], &sink);
    }
    if (command == "fetchsink") return FetchWithSink(argv[2], argv[3]);
    if (command == "fetchex") return FetchEx(argv[2], argv[3], TAMSEL_FETCH_REPLACE_SAFELY | TAMSEL_FETCH_RESUME);
    if (command == "fetchsafe") return FetchEx(argv[2], argv[3], TAMSEL_FETCH_REPLACE_SAFELY);
    if (command == "fetchverified" && argc == 5) return FetchEx(argv[2], argv[3], 0, argv[4]);
    if (command == "resilient" && (argc == 5 || argc == 6)) {
        return FetchResilient(argv[2], argv[3], argv[4], argc == 6 ? std::strtoul(argv[5], nullptr, 10) : 0);
    }
    if (command == "ratecap" && argc == 5) return RateCap(argv[2], argv[3], std::strtoul(argv[4], nullptr, 10));
    if (command == "fetchranges" && argc >= 5) {
        return FetchRanges(argv[2], argv[3], std::strtoul(argv[4], nullptr, 10),
                           argc > 5 && std::strcmp(argv[5], "--hold") == 0);
    }
    if (command == "urlmon") return UrlMon(argv[2], argv[3]);
    if (const uint32_t readSize = RawReadSize(command)) {
        TransferClocks clocks;
        return ReportTransfer(clocks, RawDownload(argv[2], argv[3], readSize));
    }
    if (command == "rawftp") {
        TransferClocks clocks;
        return ReportTransfer(clocks, RawFtpDownload(argv[2], argv[3]));
    }
    if (command != "fetch") return Usage();
    const int status = Fetch(argv[2], argv[3]);
    if (argc > 4 && std::strcmp(argv[4], "--hold") == 0) WaitForRelease();
    return status;
}

}  // namespace
}  // namespace tamsel::bench

int main(int argc, char** argv) {
    return tamsel::bench::Run(argc, argv);
}
