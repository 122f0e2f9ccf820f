// What each subcommand asks the agent, prints on success and answers on failure.
#include "host/Commands.h"

#include "host/ConsoleProgress.h"
#include "host/FileName.h"
#include "host/ProgressLine.h"
#include "host/ResultCodes.h"
#include "host/Text.h"

#include <algorithm>
#include <cstdio>
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

// One download as FetchToFileEx takes it, or FetchToFileVerified when it names a digest; `path` in UTF-8.
struct FetchPlan {
    std::string url;
    std::string path;
    ULONG flags;
    LONGLONG expectedSize;
    std::string sha256;  // empty: no digest to check
};

ULONG FetchFlags(bool resume, bool strictTls) {
    const ULONG resumeFlags = resume ? TAMSEL_FETCH_REPLACE_SAFELY | TAMSEL_FETCH_RESUME : 0;
    return resumeFlags | (strictTls ? TAMSEL_FETCH_STRICT_TLS : 0);
}

struct FetchOutcome {
    HRESULT result;
    uint64_t received;  // the file's bytes at the last progress report
};

// One attempt, with the progress line.
FetchOutcome FetchOnce(InvTamselAgentOps3& agent, const FetchPlan& plan) {
    ConsoleProgress progress;
    FlushOutput();
    const std::wstring path = Widen(plan.path);
    const HRESULT result = plan.sha256.empty()
                               ? agent.FetchToFileEx(plan.url.c_str(), path.c_str(), &progress, plan.flags,
                                                     plan.expectedSize)
                               : agent.FetchToFileVerified(plan.url.c_str(), path.c_str(), &progress, plan.flags,
                                                           plan.expectedSize, plan.sha256.c_str());
    progress.Finish();
    FlushOutput();
    return {result, progress.Received()};
}

// Sleeps between attempts; false as soon as Ctrl+C is pressed.
bool WaitBeforeRetry(DWORD milliseconds) {
    constexpr DWORD STEP_MS = 100;
    for (DWORD waited = 0; waited < milliseconds && !CtrlCScope::Pressed(); waited += STEP_MS) {
        ::Sleep(STEP_MS);
    }
    return !CtrlCScope::Pressed();
}

// The download with Ctrl+C as its cancel, resumed after a broken transfer up to `retries` times,
// waiting 1 s, 2 s, 4 s ... (at most 30 s) in between. Retries need TAMSEL_FETCH_RESUME in the plan:
// each new attempt goes on where the last one stopped.
FetchOutcome Fetch(InvTamselAgentOps3& agent, const FetchPlan& plan, int retries) {
    constexpr DWORD FIRST_WAIT_MS = 1000;
    constexpr DWORD LONGEST_WAIT_MS = 30000;
    CtrlCScope ctrlC;
    DWORD wait = FIRST_WAIT_MS;
    for (int attempt = 0;; ++attempt) {
        const FetchOutcome outcome = FetchOnce(agent, plan);
        // A transfer that broke off (E_FAIL also for a failed write, from FetchToFileEx) is worth another
        // attempt; every other answer would come again.
        const bool broken = outcome.result == E_FAIL || outcome.result == AGENT_E_BROKEN;
        if (!broken || attempt == retries) {
            return outcome;
        }
        std::fprintf(stderr, "tamsel: the download stopped at %s: %s\ntamsel: resuming in %lu s (retry %d of %d)\n",
                     FormatBytes(outcome.received).c_str(), DescribeFailure(outcome.result, -1, -1).c_str(),
                     static_cast<unsigned long>(wait / 1000), attempt + 1, retries);
        FlushOutput();
        if (!WaitBeforeRetry(wait)) {
            return {E_ABORT, outcome.received};
        }
        wait = std::min(wait * 2, LONGEST_WAIT_MS);
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
        return Fail("fetch", outcome.result, agent);
    }
    uint64_t size = 0;
    GetFileSize(plan.path, size);
    std::printf("saved %s (%llu bytes)\n", plan.path.c_str(), static_cast<unsigned long long>(size));
    if (!plan.sha256.empty()) {
        std::printf("verified sha256 %s\n", Lowercase(plan.sha256).c_str());
    }
    return ExitSuccess;
}

int RunFetch(InvTamselAgentOps3& agent, const Arguments& a, const Settings& settings) {
    const FetchPlan plan{a[0], a[1], FetchFlags(settings.resume, settings.strictTls), settings.expectedSize,
                         settings.sha256};
    return JudgeFetch(agent, plan, Fetch(agent, plan, 0));
}

// Sends the outcome and prints the remaining count; answers the exit code of the report alone.
int Report(InvTamselAgentOps& agent, const std::string& serviceUrl, const std::string& code, bool success) {
    FlushOutput();
    LONG remaining = -1;
    const HRESULT result = agent.ReportDownload(serviceUrl.c_str(), code.c_str(), success ? 1 : 0, &remaining);
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

int RunGet(InvTamselAgentOps3& agent, const Arguments& a, const Settings& settings) {
    const std::string& serviceUrl = a[0];
    const std::string& code = a[1];
    const std::string& folder = a[2];
    if (!IsFolder(folder)) {
        std::fprintf(stderr, "tamsel: the folder %s does not exist\n", folder.c_str());
        return ExitLocalProblem;
    }
    char url[TEXT_BUFFER_SIZE];
    LONGLONG announced = 0;
    char digest[DIGEST_BUFFER_SIZE];
    const HRESULT queried = agent.QueryDownloadEx(url, TEXT_BUFFER_SIZE, serviceUrl.c_str(), code.c_str(), &announced,
                                                  digest, DIGEST_BUFFER_SIZE);
    if (FAILED(queried)) {
        return Fail("query", queried, agent);
    }
    // Passed on, a CR or LF in it would add lines to the download's request (the component refuses it
    // too), and printed, lines to this console.
    if (HasControlCharacter(url)) {
        std::fprintf(stderr, "tamsel: the download URL %s holds control characters; nothing downloaded\n",
                     ShowControlCharacters(url).c_str());
        return ExitLocalProblem;
    }
    const std::string name = FileNameFromUrl(url);
    if (name.empty()) {
        std::fprintf(stderr, "tamsel: the download URL %s names no usable file name; nothing downloaded\n", url);
        return ExitLocalProblem;
    }
    // A size of 0 or less is the service's mistake; the download then runs with no size to check.
    // Whenever the service names the file's digest, only a file with that digest takes the name.
    const FetchPlan plan{url, JoinPath(folder, name), FetchFlags(true, settings.strictTls),
                         announced > 0 ? announced : -1, digest};
    std::printf("downloading %s (%s)\n         to %s\n", url,
                FormatBytes(static_cast<uint64_t>(std::max<LONGLONG>(announced, 0))).c_str(), plan.path.c_str());
    const int fetched = JudgeFetch(agent, plan, Fetch(agent, plan, settings.retries));
    const int reported = Report(agent, serviceUrl, code, fetched == ExitSuccess);
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
    {"fetch", 2, "URL FILE [--resume] [--strict-tls] [--expect-size N] [--sha256 HEX]",
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
     "                    \"verified sha256 HEX\" on success.",
     OPTION_RESUME | OPTION_STRICT_TLS | OPTION_EXPECT_SIZE | OPTION_SHA256, nullptr, RunFetch},
    {"report", 3, "SERVICE_URL CODE success|failure", "tell the service how a download ended",
     "Reports the outcome of CODE's download to the service at SERVICE_URL and prints how many\n"
     "downloads remain.",
     0, CheckOutcome, RunReport},
    {"get", 3, "SERVICE_URL CODE FOLDER [--retries N] [--strict-tls]",
     "the whole flow: query, download into FOLDER, report",
     "Queries CODE, downloads its file into FOLDER (which must exist) under the last segment of the\n"
     "download URL's path, reports the outcome to the service and prints how many downloads remain.\n"
     "The file arrives in a hidden partial file beside its final name and replaces a file of that name\n"
     "only when whole and of the size the service announced, and, when the service names the file's\n"
     "SHA-256, only when its bytes have that digest (\"verified sha256 HEX\" is printed); only then is a\n"
     "success reported. A transfer that breaks off is resumed where it stopped, after 1 s, 2 s, 4 s ...\n"
     "  --retries N       how many times to resume (0 to 10, default 3); 0 fails at the first break.\n"
     "  --strict-tls      as for fetch.\n"
     "Ctrl+C stops the download; tamsel reports the failure and exits with 3, and the next get of the\n"
     "same code resumes what arrived. A download URL that names no file Windows can hold, or that\n"
     "holds a control character, is refused before anything is downloaded or reported.",
     OPTION_RETRIES | OPTION_STRICT_TLS, nullptr, RunGet},
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
