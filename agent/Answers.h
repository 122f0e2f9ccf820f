// What the agent's operations are asked and what they answer: values that say what happened, which each
// interface's face translates into its own results.
#pragma once

#include "agent/Sha256.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamsel::agent {

// How an operation ended, as finely as any interface tells it; the coarser interfaces collapse it.
enum class Reason {
    Done,
    Busy,              // another network operation of the object was running: nothing sent, nothing changed
    Refused,           // an argument refused: before anything was sent, or, after the probe, an empty one or a
                       // URL the session cannot use
    NoInternet,        // the probe saw no 200 (httpStatus 407: a proxy asked for credentials it did not get)
    HttpStatus,        // an exchange answered a status other than 200 (httpStatus; 0: none could be made)
    ServiceStatus,     // the service refused the request (serviceStatus; 0: a reply it could not read)
    NotFound,          // the lookup found no target, or only the home page
    Cancelled,         // the progress asked to stop: what arrived until then is in the file
    Broken,            // the transfer broke off or stalled, or ended short of the length it announced
    SizeMismatch,      // the file is not of the expected size, or was announced at another
    DigestMismatch,    // the file's bytes do not have the digest asked for
    Certificate,       // the server's certificate was refused: no exchange
    InsecureRedirect,  // strict TLS refused a redirect that leaves https: nothing fetched
    LocalFile,         // the local file failed (localError says why, when the platform did)
    RetryLater,        // the server asked to be asked again later than the download may wait, and no
                       // other source remained
    OutOfMemory,       // memory ran out: the operation stopped where it was
    Unexpected,        // a fault of the agent's own: the operation stopped where it was
};

// What every answer carries.
struct Answer {
    Reason reason = Reason::Done;
    // The statuses the object keeps for its getters once the operation ended; -1: none.
    int32_t httpStatus = -1;
    int32_t serviceStatus = -1;
};

struct LookupAnswer : Answer {
    std::string target;  // Done: the page the lookup redirects to
};

// How a query reads the reply's "sha256". Checked: a value that is no digest makes the reply unreadable.
enum class NamedDigest { Ignored, Checked };
// What the reply says of the file's SHA-256: nothing, a digest, or a value that is none.
enum class DigestState { None, Named, Malformed };

struct QueryAnswer : Answer {
    std::string url;   // Done: the download URL
    std::vector<std::string> mirrors;  // and the other URLs of the same file the reply names, in its order
    int64_t size = 0;  // and the file's size
    DigestState digestState = DigestState::None;
    Digest digest{};   // when Named
};

// What a report tells of the download beyond whether it succeeded (each interface's own report sends
// none of it).
struct ReportedDownload {
    uint32_t attempts = 0;
    uint32_t source = 0;      // the index of the source that delivered the file (0: the download URL)
    uint32_t result = 0;      // the download call's final result, as its interface answered it
    uint64_t resumedBytes = 0;
    uint32_t waitedMs = 0;
};

struct ReportAnswer : Answer {
    int32_t remaining = -1;  // Done: the downloads that remain
};

// What a download asks.
struct DownloadRequest {
    // How its first request goes on the wire. LookFirst: the probe, then the URL's own Location look, then
    // the GET. ProbeAlongside: the probe beside the first request, which is the Location look as well where
    // the URL allows; a probe that passed on the object a moment ago stands for it.
    enum class Route { LookFirst, ProbeAlongside };

    Route route = Route::ProbeAlongside;
    const char* url = nullptr;
    std::wstring path;
    // The path goes to the platform's file calls as given: not made absolute, never refused for naming a folder.
    bool pathAsGiven = false;
    bool safely = false;  // into a partial file beside the target, which takes its place only when whole
    bool resume = false;  // a record beside the partial file lets a later attempt go on from it; implies safely
    bool strictTls = false;
    int64_t expectedSize = -1;  // -1: any
    std::string sha256;         // the digest to prove, 64 hex digits in either case (implies safely); empty: none
    // An argument the caller's face could not take (a flag it does not know): refused once the object is free.
    bool refused = false;
};

// How far a download came, as last told after a block: bytes of the file, of a whole length (-1: unknown).
struct Reach {
    uint64_t received = 0;
    int64_t total = -1;
};

struct DownloadOutcome : Answer {
    Reach reach;
    uint32_t localError = 0;  // LocalFile: the platform's error (0: it gave none)
};

// How far a download that retries may go. Every field is in force as given: the face applies its defaults.
struct DownloadPolicy {
    uint32_t maxAttempts = 5;         // over all sources, 1..MAX_ATTEMPTS
    uint32_t maxRetryWaitMs = 60000;  // the longest single wait, backoff or Retry-After
    uint32_t deadlineMs = 0;          // the whole call; 0: none
    uint32_t stallMs = 0;             // the stall bound of its transfers; 0: the process-wide one
    uint32_t maxBytesPerSecond = 0;   // 0: no cap
    uint32_t connections = 1;         // to one source at once, 1..MAX_CONNECTIONS

    static constexpr uint32_t MAX_ATTEMPTS = 32;
    static constexpr uint32_t MAX_CONNECTIONS = 4;
};

// A download that retries: the request (its url the first source's) over several sources, under a policy.
struct ResilientRequest {
    DownloadRequest download;
    std::vector<std::string> sources;  // 1..MAX_SOURCES
    DownloadPolicy policy;

    static constexpr size_t MAX_SOURCES = 32;
};

// How one attempt of a download that retries ended, finely enough for any face to tell it.
struct AttemptEnd {
    Reason reason = Reason::Done;
    int32_t httpStatus = 0;      // the status its reply came with; 0: none
    uint32_t localError = 0;     // as DownloadOutcome's
    // HttpStatus with no status: the platform's error of the exchange that could not be made (0: none given).
    uint32_t exchangeError = 0;
};

// What a download that retries did, whatever its outcome.
struct AttemptInfo {
    uint32_t attempts = 0;
    uint32_t sourceIndex = 0;  // of the last attempt
    uint32_t waitedMs = 0;
    uint64_t bytesReceived = 0;  // body bytes over all attempts
    uint64_t bytesResumed = 0;   // of an earlier call's partial file, kept at the start
    AttemptEnd last;             // of the last attempt
    uint32_t retryAfterMs = 0;   // what a server last asked to wait
    uint32_t connections = 0;    // the most at once
};

struct ResilientOutcome : DownloadOutcome {
    AttemptInfo info;
};

}  // namespace tamsel::agent
