// The one reading of how a download ended: the facts it left, judged in one chain from the question that
// decides first to the last.
#pragma once

#include "agent/Answers.h"
#include "web/WebReply.h"

#include <cstdint>

namespace tamsel::agent {

// What a download left: how the transfer ended, and what the file made of it.
struct DownloadFacts {
    web::DownloadResult transfer;
    bool fileRefused = false;          // the file could not be opened, written or closed
    uint32_t localError = 0;           // the platform's reason the file (or the hash) refused; 0: none given
    bool announcedOtherwise = false;   // the reply announced a whole length other than the expected one
    bool ofExpectedSize = true;        // the file holds as many bytes as expected (any, when none were)
    bool ofAnnouncedSize = true;       // the file holds the whole length the reply announced (or it announced none)
    bool digestMatches = true;         // the file's bytes have the digest asked for (or none was)
};

class ExpectedSize;
class HashedBody;
class PartialDownload;

// What a download into a partial file left to judge.
DownloadFacts SafeFacts(const web::DownloadResult& transfer, const PartialDownload& partial, HashedBody& body,
                        const ExpectedSize& expected);

// Done, or why not. Nothing but the facts is read: the status to keep for an HttpStatus is the transfer's.
Reason Judge(const DownloadFacts& facts) noexcept;

}  // namespace tamsel::agent
