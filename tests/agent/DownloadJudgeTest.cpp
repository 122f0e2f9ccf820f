// The judge of a download's facts: which question decides first, row by row.
#include "agent/DownloadJudge.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wininet.h>

#include <functional>
#include <ostream>

namespace tamsel::agent {

// Reasons by name in failure messages.
void PrintTo(Reason reason, std::ostream* out) {
    static const char* const NAMES[] = {"Done", "Busy", "Refused", "NoInternet", "HttpStatus", "ServiceStatus",
                                        "NotFound", "Cancelled", "Broken", "SizeMismatch", "DigestMismatch",
                                        "Certificate", "InsecureRedirect", "LocalFile", "OutOfMemory", "Unexpected"};
    *out << NAMES[static_cast<int>(reason)];
}

namespace {

using web::TransferEnd;

// A whole 200 and a file with nothing wrong; each row changes what it names.
DownloadFacts Whole() {
    DownloadFacts facts;
    facts.transfer.status = HTTP_STATUS_OK;
    facts.transfer.end = TransferEnd::Complete;
    return facts;
}

void Ended(DownloadFacts& facts, int32_t status, TransferEnd end) {
    facts.transfer.status = status;
    facts.transfer.end = end;
}

TEST(DownloadJudge, TheFirstQuestionThatFailsDecides) {
    const struct {
        const char* why;
        std::function<void(DownloadFacts&)> change;
        Reason expected;
    } cases[] = {
        {"nothing wrong", [](DownloadFacts&) {}, Reason::Done},
        {"the platform's word on the file comes before what the server did",
         [](DownloadFacts& f) {
             f.localError = ERROR_DISK_FULL;
             f.fileRefused = true;
             Ended(f, 404, TransferEnd::Declined);
         },
         Reason::LocalFile},
        {"a refusal without the platform's word is a break another attempt may get past",
         [](DownloadFacts& f) { f.fileRefused = true; Ended(f, 200, TransferEnd::Declined); }, Reason::Broken},
        {"a length announced otherwise, before the certificate",
         [](DownloadFacts& f) { f.announcedOtherwise = true; f.transfer.certificateRefused = true; },
         Reason::SizeMismatch},
        {"a body that ran past the expected size", [](DownloadFacts& f) { Ended(f, 200, TransferEnd::TooLong); },
         Reason::SizeMismatch},
        {"a refused certificate is not the status 0 it leaves",
         [](DownloadFacts& f) { f.transfer.certificateRefused = true; Ended(f, 0, TransferEnd::NoExchange); },
         Reason::Certificate},
        {"a refused redirect is not the status 0 it leaves",
         [](DownloadFacts& f) { f.transfer.insecureRedirect = true; Ended(f, 0, TransferEnd::NoExchange); },
         Reason::InsecureRedirect},
        {"no exchange at all", [](DownloadFacts& f) { Ended(f, 0, TransferEnd::NoExchange); }, Reason::HttpStatus},
        {"a 404 declined", [](DownloadFacts& f) { Ended(f, 404, TransferEnd::Declined); }, Reason::HttpStatus},
        {"a 206 whose body was taken stands for a 200",
         [](DownloadFacts& f) { Ended(f, HTTP_STATUS_PARTIAL_CONTENT, TransferEnd::Complete); }, Reason::Done},
        {"a 206 the file declined is a status",
         [](DownloadFacts& f) { Ended(f, HTTP_STATUS_PARTIAL_CONTENT, TransferEnd::Declined); }, Reason::HttpStatus},
        {"a cancel, whatever size the file came to",
         [](DownloadFacts& f) { f.ofExpectedSize = false; Ended(f, 200, TransferEnd::Cancelled); },
         Reason::Cancelled},
        {"a break, before the size it left",
         [](DownloadFacts& f) {
             f.ofExpectedSize = false;
             f.digestMatches = false;
             Ended(f, 200, TransferEnd::Broken);
         },
         Reason::Broken},
        {"a whole transfer of another size than expected, before the announced length",
         [](DownloadFacts& f) { f.ofExpectedSize = false; f.ofAnnouncedSize = false; }, Reason::SizeMismatch},
        {"a whole transfer short of the length it announced, before the digest",
         [](DownloadFacts& f) { f.ofAnnouncedSize = false; f.digestMatches = false; }, Reason::Broken},
        {"the digest is asked last", [](DownloadFacts& f) { f.digestMatches = false; }, Reason::DigestMismatch},
    };
    for (const auto& c : cases) {
        DownloadFacts facts = Whole();
        c.change(facts);
        EXPECT_EQ(Judge(facts), c.expected) << c.why;
    }
}

}  // namespace
}  // namespace tamsel::agent
