// What the agent's operations are asked and what they answer: values that say what happened, which each
// interface's face translates into its own results.
#pragma once

#include "agent/Sha256.h"

#include <cstdint>
#include <string>

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
    int64_t size = 0;  // and the file's size
    DigestState digestState = DigestState::None;
    Digest digest{};   // when Named
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

}  // namespace tamsel::agent
