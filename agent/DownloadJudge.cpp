// The one reading of how a download ended: the facts it left, judged in one chain from the question that
// decides first to the last.
#include "agent/DownloadJudge.h"

#include <windows.h>
#include <wininet.h>

namespace tamsel::agent {

Reason Judge(const DownloadFacts& facts) noexcept {
    using web::TransferEnd;
    const web::DownloadResult& transfer = facts.transfer;
    // The file's own failure first, whatever the server did: with the platform's word for it...
    if (facts.localError != 0) return Reason::LocalFile;
    // ...or without: the partial file changed under the download (another process at it), which another
    // attempt may get past.
    if (facts.fileRefused) return Reason::Broken;
    // A length that cannot be the expected one, announced or reached, before how the transfer ended.
    if (facts.announcedOtherwise || transfer.end == TransferEnd::TooLong) return Reason::SizeMismatch;
    if (transfer.certificateRefused) return Reason::Certificate;
    if (transfer.insecureRedirect) return Reason::InsecureRedirect;
    // A 206 stands for a 200 only when its body was taken: the answer to a resume that fits.
    const bool partTaken = transfer.status == HTTP_STATUS_PARTIAL_CONTENT && transfer.end != TransferEnd::Declined;
    if (transfer.status != HTTP_STATUS_OK && !partTaken) return Reason::HttpStatus;
    if (transfer.end == TransferEnd::Cancelled) return Reason::Cancelled;
    if (transfer.end != TransferEnd::Complete) return Reason::Broken;
    // Only a whole transfer tells the size the file came to.
    if (!facts.ofExpectedSize) return Reason::SizeMismatch;
    if (!facts.ofAnnouncedSize) return Reason::Broken;
    if (!facts.digestMatches) return Reason::DigestMismatch;
    return Reason::Done;
}

}  // namespace tamsel::agent
