// What each subcommand asks the agent, prints on success and answers on failure.
#include "host/Commands.h"

#include "base/Handle.h"
#include "host/ConsoleProgress.h"
#include "host/FileName.h"
#include "host/ProgressLine.h"
#include "host/ResultCodes.h"
#include "host/Text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace tamsel::host {
namespace {

// Longer than any URL the platform's internet API accepts (INTERNET_MAX_URL_LENGTH is 2084).
constexpr ULONG TEXT_BUFFER_SIZE = 4096;
constexpr ULONG DIGEST_BUFFER_SIZE = 65;  // 64 hexadecimal digits and the zero

// Where output moves from one stream to the other: what came before appears first.
void FlushOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
}

// Prints the failure with whatever status the agent kept for it, and answers its exit code.
int Fail(const char* operation, HRESULT result, InvTamselAgentOps& agent) {
    LONG httpStatus = -1;
    LONG serviceStatus = -1;
    agent.GetLastHttpStatus(&httpStatus);
    agent.GetLastServiceStatus(&serviceStatus);
    FlushOutput();
    std::fprintf(stderr, "tamsel: %s failed: %s\n", operation,
                 DescribeFailure(result, httpStatus, serviceStatus).c_str());
    FlushOutput();
    return DescribeResult(result).exitCode;
}

bool GetFileSize(const std::string& path, uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

// A digest as the agent writes it: hexadecimal digits in lowercase.
std::string Lowercase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// One download; `path` in UTF-8. `sources` empty: FetchToFileEx, or FetchToFileVerified when it names a
// digest; else FetchToFileResilient over them (the first is `url`) under the settings' policy.
struct FetchPlan {
    std::string url;
    std::string path;
    ULONG flags;
    LONGLONG expectedSize;
    std::string sha256;  // empty: no digest to check
    std::vector<std::string> sources;
};

ULONG FetchFlags(bool resume, bool strictTls) {
    const ULONG resumeFlags = resume ? TAMSEL_FETCH_REPLACE_SAFELY | TAMSEL_FETCH_RESUME : 0;
    return resumeFlags | (strictTls ? TAMSEL_FETCH_STRICT_TLS : 0);
}

struct FetchOutcome {
    HRESULT result;
    uint64_t received;          // the file's bytes at the last progress report
    TAMSEL_DOWNLOAD_INFO info;  // what FetchToFileResilient did (all 0 after the other downloads)
};

TAMSEL_DOWNLOAD_POLICY PolicyOf(const Settings& settings) {
    TAMSEL_DOWNLOAD_POLICY policy = {};
    policy.cbSize = sizeof(policy);
    policy.maxAttempts = settings.attempts;
    policy.maxRetryWaitMs = settings.maxWaitSeconds * 1000;
    policy.maxBytesPerSecond = settings.rate;
    policy.connections = settings.connections;
    return policy;
}

// The sources as the component reads them: each followed by a zero, the list by one more.
std::string SourceList(const std::vector<std::string>& sources) {
    std::string list;
    for (const std::string& source : sources) list += source + '\0';
    return list + '\0';
}

// The download with the progress line and Ctrl+C as its cancel. The component retries by itself: a
// resilient download tells each retry to the progress sink, which prints it.
FetchOutcome FetchOnce(InvTamselAgentOps3& agent, InvTamselAgentOps4* agent4, const FetchPlan& plan,
                       const Settings& settings) {
    CtrlCScope ctrlC;
    ConsoleProgress progress(&agent);
    FlushOutput();
    const std::wstring path = Widen(plan.path);
    const char* digest = plan.sha256.empty() ? nullptr : plan.sha256.c_str();
    FetchOutcome outcome{S_OK, 0, {}};
    outcome.info.cbSize = sizeof(outcome.info);
    if (agent4 != nullptr) {
        const TAMSEL_DOWNLOAD_POLICY policy = PolicyOf(settings);
        outcome.result = agent4->FetchToFileResilient(SourceList(plan.sources).c_str(), path.c_str(), &progress,
                                                      plan.flags, plan.expectedSize, digest, &policy, &outcome.info);
    } else if (digest == nullptr) {
        outcome.result = agent.FetchToFileEx(plan.url.c_str(), path.c_str(), &progress, plan.flags, plan.expectedSize);
    } else {
        outcome.result =
            agent.FetchToFileVerified(plan.url.c_str(), path.c_str(), &progress, plan.flags, plan.expectedSize, digest);
    }
    progress.Finish();
    FlushOutput();
    outcome.received = progress.Received();
    return outcome;
}

// The fourth interface, which the resilient download, its sources and the detailed report need; null,
// with the reason printed, when the component is older.
ComPointer<InvTamselAgentOps4> FourthInterface(InvTamselAgentOps3& agent, const char* command) {
    ComPointer<InvTamselAgentOps4> agent4;
    const HRESULT result = agent.QueryInterface(IID_InvTamselAgentOps4, agent4.put_void());
    if (FAILED(result)) {
        agent4.release();
        std::fprintf(stderr, "tamsel: %s needs NorvikTamselAgent 1.3 or later (InvTamselAgentOps4): %s\n", command,
                     DescribeFailure(result, -1, -1).c_str());
    }
    return agent4;
}

// What a resilient download did on its way, when it did more than one attempt or was told to wait.
void PrintAttempts(const FetchOutcome& outcome) {
    const TAMSEL_DOWNLOAD_INFO& info = outcome.info;
    if (FAILED(outcome.result) && info.retryAfterMs != 0) {
        std::fprintf(stderr, "tamsel: the server asked to be asked again in %s\n",
                     FormatSeconds(info.retryAfterMs).c_str());
    }
    if (info.attempts > 1) {
        const std::string source = info.sourceIndex == 0 ? "the download URL"
                                                         : "mirror " + std::to_string(info.sourceIndex);
        std::fprintf(SUCCEEDED(outcome.result) ? stdout : stderr, "%lu attempts, the last from %s, %s of waits\n",
                     static_cast<unsigned long>(info.attempts), source.c_str(), FormatSeconds(info.waitedMs).c_str());
    }
}

void PrintCancelled(const FetchPlan& plan, uint64_t bytes) {
    if ((plan.flags & TAMSEL_FETCH_RESUME) != 0) {
        std::fprintf(stderr, "tamsel: cancelled; the %s that arrived wait beside %s for the next run to resume\n",
                     FormatBytes(bytes).c_str(), plan.path.c_str());
    } else {
        std::fprintf(stderr, "tamsel: cancelled; %s keeps the %s that arrived\n", plan.path.c_str(),
                     FormatBytes(bytes).c_str());
    }
}

int RunLookup(InvTamselAgentOps3& agent, const Arguments& a, const Settings&) {
    char target[TEXT_BUFFER_SIZE];
    const HRESULT result =
        agent.LookupRedirect(target, TEXT_BUFFER_SIZE, a[0].c_str(), a[1].c_str(), a[2].c_str(), a[3].c_str());
    if (FAILED(result)) {
        return Fail("lookup", result, agent);
    }
    std::printf("%s\n", target);
    return ExitSuccess;
}

int RunQuery(InvTamselAgentOps3& agent, const Arguments& a, const Settings&) {
    char url[TEXT_BUFFER_SIZE];
    LONGLONG size = 0;
    const HRESULT result = agent.QueryDownload(url, TEXT_BUFFER_SIZE, a[0].c_str(), a[1].c_str(), &size);
    if (FAILED(result)) {
        return Fail("query", result, agent);
    }
    std::printf("download URL: %s\nfile size:    %lld bytes (%s)\n", url, size,
                FormatBytes(static_cast<uint64_t>(size)).c_str());
    return ExitSuccess;
}

// Prints how the download ended and answers its exit code. The agent checked the size when one was
// expected, so a success is a whole file.
int JudgeFetch(InvTamselAgentOps& agent, const FetchPlan& plan, const FetchOutcome& outcome) {
    if (outcome.result == E_ABORT) {
        PrintCancelled(plan, outcome.received);
        return ExitCancelled;
    }
    if (FAILED(outcome.result)) {
        const int exitCode = Fail("fetch", outcome.result, agent);
        PrintAttempts(outcome);
        FlushOutput();
        return exitCode;
    }
    PrintAttempts(outcome);
    uint64_t size = 0;
    GetFileSize(plan.path, size);
    std::printf("saved %s (%llu bytes)\n", plan.path.c_str(), static_cast<unsigned long long>(size));
    if (!plan.sha256.empty()) {
        std::printf("verified sha256 %s\n", Lowercase(plan.sha256).c_str());
    }
    return ExitSuccess;
}

// With a policy option, FetchToFileResilient over the one URL (which always goes through a partial file).
int RunFetch(InvTamselAgentOps3& agent, const Arguments& a, const Settings& settings) {
    ComPointer<InvTamselAgentOps4> agent4;
    if (settings.policyGiven && !(agent4 = FourthInterface(agent, "fetch --attempts, --max-wait or --rate"))) {
        return DescribeResult(E_NOINTERFACE).exitCode;
    }
    const FetchPlan plan{a[0], a[1], FetchFlags(settings.resume, settings.strictTls), settings.expectedSize,
                         settings.sha256, {a[0]}};
    return JudgeFetch(agent, plan, FetchOnce(agent, agent4.get(), plan, settings));
}

// Sends the outcome and prints the remaining count; answers the exit code of the report alone. With the
// fourth interface and a download's info, the service also learns what the download did.
int Report(InvTamselAgentOps& agent, const std::string& serviceUrl, const std::string& code, bool success,
           InvTamselAgentOps4* agent4 = nullptr, const TAMSEL_DOWNLOAD_INFO* info = nullptr) {
    FlushOutput();
    LONG remaining = -1;
    const HRESULT result =
        agent4 != nullptr
            ? agent4->ReportDownloadEx(serviceUrl.c_str(), code.c_str(), success ? 1 : 0, info, &remaining)
            : agent.ReportDownload(serviceUrl.c_str(), code.c_str(), success ? 1 : 0, &remaining);
    if (FAILED(result)) {
        return Fail("report", result, agent);
    }
    std::printf("reported %s; remaining downloads: %ld\n", success ? "success" : "failure",
                static_cast<long>(remaining));
    return ExitSuccess;
}

bool CheckOutcome(const Arguments& a) {
    if (a[2] == "success" || a[2] == "failure") {
        return true;
    }
    std::fprintf(stderr, "tamsel: report: the outcome is \"success\" or \"failure\", not \"%s\"\n", a[2].c_str());
    return false;
}

int RunReport(InvTamselAgentOps3& agent, const Arguments& a, const Settings&) {
    return Report(agent, a[0], a[1], a[2] == "success");
}

// The download URL and the mirrors the service names for code, with the file's size and digest; an exit
// code other than ExitSuccess when the query failed.
int QuerySources(InvTamselAgentOps4& agent4, const std::string& serviceUrl, const std::string& code,
                 std::vector<std::string>& sources, LONGLONG& announced, std::string& digest) {
    // Room for the download URL and the 8 mirrors a reply may name, each as long as a URL can be.
    std::vector<char> list(TEXT_BUFFER_SIZE * 9);
    char named[DIGEST_BUFFER_SIZE];
    const HRESULT queried = agent4.QueryDownloadSources(list.data(), static_cast<ULONG>(list.size()),
                                                        serviceUrl.c_str(), code.c_str(), &announced, named,
                                                        DIGEST_BUFFER_SIZE);
    if (FAILED(queried)) {
        return Fail("query", queried, agent4);
    }
    for (const char* at = list.data(); *at != '\0'; at += std::strlen(at) + 1) {
        sources.emplace_back(at);
    }
    digest = named;
    return ExitSuccess;
}

// Passed on, a CR or LF in a source would add lines to the download's request (the component refuses the
// whole list for it too), and printed, lines to this console. Such a reply is refused whole, rather than
// the mirror left out: the mirrors keep the numbers the service gave them, in the retry lines too.
bool SourcesAreClean(const std::vector<std::string>& sources) {
    for (size_t i = 0; i < sources.size(); ++i) {
        if (HasControlCharacter(sources[i])) {
            const std::string which = i == 0 ? "the download URL" : "mirror " + std::to_string(i);
            std::fprintf(stderr, "tamsel: %s %s holds control characters; nothing downloaded\n", which.c_str(),
                         ShowControlCharacters(sources[i]).c_str());
            return false;
        }
    }
    return true;
}

void PrintDownloading(const FetchPlan& plan, LONGLONG announced) {
    std::printf("downloading %s (%s)\n", plan.url.c_str(),
                FormatBytes(static_cast<uint64_t>(std::max<LONGLONG>(announced, 0))).c_str());
    for (size_t i = 1; i < plan.sources.size(); ++i) {
        std::printf("   mirror %u %s\n", static_cast<unsigned>(i), plan.sources[i].c_str());
    }
    std::printf("         to %s\n", plan.path.c_str());
}

int RunGet(InvTamselAgentOps3& agent, const Arguments& a, const Settings& settings) {
    const std::string& serviceUrl = a[0];
    const std::string& code = a[1];
    const std::string& folder = a[2];
    if (!IsFolder(folder)) {
        std::fprintf(stderr, "tamsel: the folder %s does not exist\n", folder.c_str());
        return ExitLocalProblem;
    }
    const ComPointer<InvTamselAgentOps4> agent4 = FourthInterface(agent, "get");
    if (!agent4) return DescribeResult(E_NOINTERFACE).exitCode;
    std::vector<std::string> sources;
    LONGLONG announced = 0;
    std::string digest;
    const int queried = QuerySources(*agent4.get(), serviceUrl, code, sources, announced, digest);
    if (queried != ExitSuccess) return queried;
    if (!SourcesAreClean(sources)) return ExitLocalProblem;
    const std::string name = FileNameFromUrl(sources[0]);
    if (name.empty()) {
        std::fprintf(stderr, "tamsel: the download URL %s names no usable file name; nothing downloaded\n",
                     sources[0].c_str());
        return ExitLocalProblem;
    }
    // A size of 0 or less is the service's mistake; the download then runs with no size to check.
    // Whenever the service names the file's digest, only a file with that digest takes the name.
    const FetchPlan plan{sources[0], JoinPath(folder, name), FetchFlags(true, settings.strictTls),
                         announced > 0 ? announced : -1, digest, sources};
    PrintDownloading(plan, announced);
    const FetchOutcome outcome = FetchOnce(agent, agent4.get(), plan, settings);
    const int fetched = JudgeFetch(agent, plan, outcome);
    const int reported = Report(agent, serviceUrl, code, fetched == ExitSuccess, agent4.get(), &outcome.info);
    return fetched != ExitSuccess ? fetched : reported;
}

const Command COMMANDS[] = {
    {"lookup", 4, "LOOKUP_URL SERIAL LANGUAGE TYPE", "ask where the page for a serial number lives",
     "Asks LOOKUP_URL?SN=SERIAL&LN=LANGUAGE&TYPE=TYPE for its redirect and prints the target URL.\n"
     "A lookup that finds nothing (no redirect, or one to the maker's home page) fails with E_INVALIDARG.",
     0, nullptr, RunLookup},
    {"query", 2, "SERVICE_URL CODE", "exchange a code for its download URL and file size",
     "Posts CODE to the download service at SERVICE_URL and prints the download URL and the file size.\n"
     "A code the service does not accept fails with AGENT_E_SERVICE_STATUS and the service's status.",
     0, nullptr, RunQuery},
    {"fetch", 2,
     "URL FILE [--resume] [--strict-tls] [--expect-size N] [--sha256 HEX] [--attempts N] [--max-wait S]\n"
     "                                 [--rate BYTES/S] [--connections N]",
     "download a URL into a file, with a progress bar",
     "Downloads URL (http, https or ftp) into FILE, creating or overwriting it, with a progress line on\n"
     "stderr (percent and bytes, or bytes and rate when the server announces no length). An answer\n"
     "other than 200 leaves FILE untouched. Ctrl+C stops the download and tamsel exits with 3.\n"
     "  --resume          the body goes to a hidden partial file beside FILE, which replaces FILE only\n"
     "                    when whole; a later --resume of the same URL continues it (Range/If-Range,\n"
     "                    FTP REST). Without it FILE itself is written and keeps what arrived.\n"
     "  --strict-tls      https: refuse a certificate for another host name, out of date, or from an\n"
     "                    unknown authority (AGENT_E_CERTIFICATE) instead of accepting or asking,\n"
     "                    and a redirect from https elsewhere (AGENT_E_INSECURE_REDIRECT).\n"
     "  --expect-size N   fail with AGENT_E_SIZE_MISMATCH unless the file is exactly N bytes.\n"
     "  --sha256 HEX      the file's SHA-256 (64 hex digits): the bytes are hashed as they arrive, in a\n"
     "                    partial file as with --resume, and replace FILE only when the digest matches\n"
     "                    (else AGENT_E_DIGEST_MISMATCH, FILE untouched, nothing kept); prints\n"
     "                    \"verified sha256 HEX\" on success.\n"
     "  --attempts N, --max-wait S, --rate BYTES/S, --connections N\n"
     "                    download as get does, retrying by itself under that policy (see get --help;\n"
     "                    needs NorvikTamselAgent 1.3): always through a partial file, as with --sha256.",
     OPTION_RESUME | OPTION_STRICT_TLS | OPTION_EXPECT_SIZE | OPTION_SHA256 | POLICY_OPTIONS, nullptr, RunFetch},
    {"report", 3, "SERVICE_URL CODE success|failure", "tell the service how a download ended",
     "Reports the outcome of CODE's download to the service at SERVICE_URL and prints how many\n"
     "downloads remain.",
     0, CheckOutcome, RunReport},
    {"get", 3,
     "SERVICE_URL CODE FOLDER [--attempts N] [--max-wait S] [--rate BYTES/S] [--connections N]\n"
     "                                 [--strict-tls]",
     "the whole flow: query, download into FOLDER, report",
     "Queries CODE, downloads its file into FOLDER (which must exist) under the last segment of the\n"
     "download URL's path, reports the outcome to the service and prints how many downloads remain.\n"
     "The file arrives in a hidden partial file beside its final name and replaces a file of that name\n"
     "only when whole and of the size the service announced, and, when the service names the file's\n"
     "SHA-256, only when its bytes have that digest (\"verified sha256 HEX\" is printed); only then is a\n"
     "success reported. The component retries by itself, in the same call: a transfer that breaks off\n"
     "or stalls goes on from where it stopped, a busy server (408, 429, 5xx) is asked again after the\n"
     "wait it names (Retry-After) or a growing one, and a source that fails twice in a row, or serves\n"
     "other bytes, gives way to the next of the mirrors the service names. Each retry is printed on\n"
     "stderr (\"retrying in 2 s from mirror 1: the transfer broke off or stalled\"); the report tells the\n"
     "service the attempts, the source that delivered, the result, the bytes resumed and the waits.\n"
     "Needs NorvikTamselAgent 1.3 or later (InvTamselAgentOps4).\n"
     "  --attempts N      attempts over all sources, 1 to 32 (default 5).\n"
     "  --retries N       the same as --attempts N+1, for older scripts (0 to 31).\n"
     "  --max-wait S      the longest single wait in seconds, 1 to 86400 (default 60); a server asking\n"
     "                    for longer, with no other source left, ends the download with\n"
     "                    AGENT_E_RETRY_LATER (exit code 37) and the time it asked for.\n"
     "  --rate BYTES/S    hold the transfer to this many bytes per second on average (default 0: no cap).\n"
     "  --connections N   up to N connections to one source, 1 to 4 (default 1): a large file whose\n"
     "                    server takes ranges under a validator (or under the digest) comes in slices\n"
     "                    over several connections once it has run 1 s; never with --rate.\n"
     "  --strict-tls      as for fetch.\n"
     "Ctrl+C stops the download, during a wait too; tamsel reports the failure and exits with 3, and the\n"
     "next get of the same code resumes what arrived. A download URL that names no file Windows can\n"
     "hold, or that holds a control character, is refused before anything is downloaded or reported.",
     OPTION_RETRIES | OPTION_STRICT_TLS | POLICY_OPTIONS, nullptr, RunGet},
};

}  // namespace

const Command* FindCommand(const std::string& name) noexcept {
    for (const Command& command : COMMANDS) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

const Command* CommandsBegin() noexcept {
    return std::begin(COMMANDS);
}

const Command* CommandsEnd() noexcept {
    return std::end(COMMANDS);
}

}  // namespace tamsel::host
