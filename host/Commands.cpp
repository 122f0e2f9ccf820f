// What each subcommand asks the agent, prints on success and answers on failure.
#include "host/Commands.h"

#include "host/ConsoleProgress.h"
#include "host/FileName.h"
#include "host/ProgressLine.h"
#include "host/ResultCodes.h"

#include <cstdio>
#include <iterator>

namespace tamsel::host {
namespace {

// Longer than any URL the platform's internet API accepts (INTERNET_MAX_URL_LENGTH is 2084).
constexpr ULONG TEXT_BUFFER_SIZE = 4096;

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
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return false;
    }
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

struct FetchOutcome {
    HRESULT result;
    bool cancelled;
    uint64_t bytesOnDisk;
};

// The download with the progress line and Ctrl+C as its cancel.
FetchOutcome Fetch(InvTamselAgentOps& agent, const std::string& url, const std::string& path, uint64_t size) {
    ConsoleProgress progress(size);
    FetchOutcome outcome{};
    FlushOutput();
    {
        CtrlCScope ctrlC;
        outcome.result = agent.FetchToFile(url.c_str(), path.c_str(), &progress);
    }
    progress.Finish();
    FlushOutput();
    outcome.cancelled = progress.Cancelled();
    GetFileSize(path, outcome.bytesOnDisk);
    return outcome;
}

void PrintCancelled(const std::string& path, uint64_t bytes) {
    std::fprintf(stderr, "tamsel: cancelled; %s keeps the %s that arrived\n", path.c_str(),
                 FormatBytes(bytes).c_str());
}

int RunLookup(InvTamselAgentOps& agent, const Arguments& a) {
    char target[TEXT_BUFFER_SIZE];
    const HRESULT result =
        agent.LookupRedirect(target, TEXT_BUFFER_SIZE, a[0].c_str(), a[1].c_str(), a[2].c_str(), a[3].c_str());
    if (FAILED(result)) {
        return Fail("lookup", result, agent);
    }
    std::printf("%s\n", target);
    return ExitSuccess;
}

int RunQuery(InvTamselAgentOps& agent, const Arguments& a) {
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

// Prints how the download ended and answers its exit code: success only for a complete file (of size
// bytes, when size is known).
int JudgeFetch(InvTamselAgentOps& agent, const FetchOutcome& outcome, const std::string& path, uint64_t size) {
    if (FAILED(outcome.result)) {
        return Fail("fetch", outcome.result, agent);
    }
    if (outcome.cancelled) {
        PrintCancelled(path, outcome.bytesOnDisk);
        return ExitCancelled;
    }
    if (size > 0 && outcome.bytesOnDisk != size) {
        std::fprintf(stderr, "tamsel: %s holds %llu bytes, the service announced %llu\n", path.c_str(),
                     static_cast<unsigned long long>(outcome.bytesOnDisk), static_cast<unsigned long long>(size));
        return ExitLocalProblem;
    }
    std::printf("saved %s (%llu bytes)\n", path.c_str(), static_cast<unsigned long long>(outcome.bytesOnDisk));
    return ExitSuccess;
}

int RunFetch(InvTamselAgentOps& agent, const Arguments& a) {
    return JudgeFetch(agent, Fetch(agent, a[0], a[1], 0), a[1], 0);
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

int RunReport(InvTamselAgentOps& agent, const Arguments& a) {
    return Report(agent, a[0], a[1], a[2] == "success");
}

int RunGet(InvTamselAgentOps& agent, const Arguments& a) {
    const std::string& serviceUrl = a[0];
    const std::string& code = a[1];
    const std::string& folder = a[2];
    if (!IsFolder(folder)) {
        std::fprintf(stderr, "tamsel: the folder %s does not exist\n", folder.c_str());
        return ExitLocalProblem;
    }
    char url[TEXT_BUFFER_SIZE];
    LONGLONG announced = 0;
    const HRESULT queried = agent.QueryDownload(url, TEXT_BUFFER_SIZE, serviceUrl.c_str(), code.c_str(), &announced);
    if (FAILED(queried)) {
        return Fail("query", queried, agent);
    }
    const std::string name = FileNameFromUrl(url);
    if (name.empty()) {
        std::fprintf(stderr, "tamsel: the download URL %s names no usable file name; nothing downloaded\n", url);
        return ExitLocalProblem;
    }
    // A negative size is the service's mistake; the download then runs as one of unknown size.
    const uint64_t size = announced > 0 ? static_cast<uint64_t>(announced) : 0;
    const std::string path = JoinPath(folder, name);
    std::printf("downloading %s (%s)\n         to %s\n", url, FormatBytes(size).c_str(), path.c_str());
    const int fetched = JudgeFetch(agent, Fetch(agent, url, path, size), path, size);
    const int reported = Report(agent, serviceUrl, code, fetched == ExitSuccess);
    return fetched != ExitSuccess ? fetched : reported;
}

const Command COMMANDS[] = {
    {"lookup", 4, "LOOKUP_URL SERIAL LANGUAGE TYPE", "ask where the page for a serial number lives",
     "Asks LOOKUP_URL?SN=SERIAL&LN=LANGUAGE&TYPE=TYPE for its redirect and prints the target URL.\n"
     "A lookup that finds nothing (no redirect, or one to the maker's home page) fails with E_INVALIDARG.",
     nullptr, RunLookup},
    {"query", 2, "SERVICE_URL CODE", "exchange a code for its download URL and file size",
     "Posts CODE to the download service at SERVICE_URL and prints the download URL and the file size.\n"
     "A code the service does not accept fails with AGENT_E_SERVICE_STATUS and the service's status.",
     nullptr, RunQuery},
    {"fetch", 2, "URL FILE", "download a URL into a file, with a progress bar",
     "Downloads URL (http, https or ftp) into FILE, creating or overwriting it, with a progress bar on\n"
     "stderr. An answer other than 200 leaves FILE untouched. Ctrl+C stops the download: FILE keeps\n"
     "what arrived and tamsel exits with 3.",
     nullptr, RunFetch},
    {"report", 3, "SERVICE_URL CODE success|failure", "tell the service how a download ended",
     "Reports the outcome of CODE's download to the service at SERVICE_URL and prints how many\n"
     "downloads remain.",
     CheckOutcome, RunReport},
    {"get", 3, "SERVICE_URL CODE FOLDER", "the whole flow: query, download into FOLDER, report",
     "Queries CODE, downloads its file into FOLDER (which must exist) under the last segment of the\n"
     "download URL's path, overwriting a file of that name, reports the outcome to the service and\n"
     "prints how many downloads remain. Only a complete file counts as a success: a failed, cancelled\n"
     "or short download is reported as a failure and the file keeps what arrived. Ctrl+C stops the\n"
     "download; tamsel then reports the failure and exits with 3. A download URL that names no file\n"
     "Windows can hold is refused before anything is downloaded or reported.",
     nullptr, RunGet},
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
