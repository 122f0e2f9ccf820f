// The download service's protocol: the form fields a query and a report post, the reply fields they read,
// and which service statuses each accepts.
#pragma once

#include "agent/Answers.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tamsel::agent {

// A form field as posted; the fields go in the order listed.
struct FormField {
    const char* name;
    std::string value;
};

// "ActivateCode" = the code, "act" = "1". A null code is sent as an empty one.
std::vector<FormField> QueryForm(const char* code);
// "ActivateCode" = the code, "success" = "true" or "false", "act" = "2".
std::vector<FormField> ReportForm(const char* code, bool success);

// ReportForm's three fields, then what the download did: "attempts", "source", "result" (8 upper-case hex
// digits), "resumedBytes" and "waitedMs", in that order. A service that knows none of them reads the
// report as ReportForm's.
std::vector<FormField> ReportForm(const char* code, bool success, const ReportedDownload& download);

// The most "mirrorURL" fields a query's reply is read for.
inline constexpr size_t MAX_MIRRORS = 8;

// Whether the service accepted the request, and the status it answered: the reply's "StatusCode" read as a
// decimal number, 0 when it names none or no number (a reply that is not markup).
struct ServiceVerdict {
    bool accepted = false;
    int32_t serviceStatus = 0;
};

// A query's reply, accepted with status 1: "downloadURL", "filesize" and "sha256" into answer, and the
// first MAX_MIRRORS "mirrorURL" fields in document order (empty ones passed over) into its mirrors. With
// NamedDigest::Checked, a "sha256" that is not 64 hex digits (spaces around it aside) makes the reply
// unreadable: refused with status 0, as one that names no StatusCode.
ServiceVerdict ReadQueryReply(const std::string& body, NamedDigest digest, QueryAnswer& answer);
// A report's reply, accepted with status 1 or 2: "dltotalcount" minus "dltimes" into answer.remaining,
// kept within 32 bits.
ServiceVerdict ReadReportReply(const std::string& body, ReportAnswer& answer);

}  // namespace tamsel::agent
