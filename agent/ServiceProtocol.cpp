// The download service's protocol: the form fields a query and a report post, the reply fields they read,
// and which service statuses each accepts.
#include "agent/ServiceProtocol.h"

#include "agent/Decimal.h"
#include "markup/ReplyField.h"

#include <cstdio>

namespace tamsel::agent {
namespace {

std::string Text(const char* text) {
    return text != nullptr ? text : "";
}

ServiceVerdict StatusOf(const std::string& body, bool acceptTwo) {
    const int32_t status = ReadDecimal32(markup::GetReplyField(body, "StatusCode"));
    return {status == 1 || (acceptTwo && status == 2), status};
}

// The downloads that remain: total allowed minus done, kept within 32 bits.
int32_t Remaining(int32_t total, int32_t done) noexcept {
    const int64_t remaining = int64_t(total) - int64_t(done);
    if (remaining > INT32_MAX) return INT32_MAX;
    if (remaining < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(remaining);
}

}  // namespace

std::vector<FormField> QueryForm(const char* code) {
    return {{"ActivateCode", Text(code)}, {"act", "1"}};
}

std::vector<FormField> ReportForm(const char* code, bool success) {
    return {{"ActivateCode", Text(code)}, {"success", success ? "true" : "false"}, {"act", "2"}};
}

std::vector<FormField> ReportForm(const char* code, bool success, const ReportedDownload& download) {
    std::vector<FormField> form = ReportForm(code, success);
    char result[9];
    std::snprintf(result, sizeof result, "%08X", static_cast<unsigned>(download.result));
    form.push_back({"attempts", std::to_string(download.attempts)});
    form.push_back({"source", std::to_string(download.source)});
    form.push_back({"result", result});
    form.push_back({"resumedBytes", std::to_string(download.resumedBytes)});
    form.push_back({"waitedMs", std::to_string(download.waitedMs)});
    return form;
}

ServiceVerdict ReadQueryReply(const std::string& body, NamedDigest digest, QueryAnswer& answer) {
    ServiceVerdict verdict = StatusOf(body, false);
    if (!verdict.accepted) return verdict;
    const std::string named = markup::GetReplyField(body, "sha256");
    const std::optional<Digest> parsed = ParseDigest(named);
    answer.digestState = parsed ? DigestState::Named : named.empty() ? DigestState::None : DigestState::Malformed;
    if (parsed) answer.digest = *parsed;
    if (answer.digestState == DigestState::Malformed && digest == NamedDigest::Checked) return {false, 0};
    answer.url = markup::GetReplyField(body, "downloadURL");
    for (std::string& mirror : markup::GetReplyFields(body, "mirrorURL", MAX_MIRRORS)) {
        if (!mirror.empty()) answer.mirrors.push_back(std::move(mirror));
    }
    answer.size = ReadDecimal64(markup::GetReplyField(body, "filesize"));
    return verdict;
}

ServiceVerdict ReadReportReply(const std::string& body, ReportAnswer& answer) {
    const ServiceVerdict verdict = StatusOf(body, true);
    if (!verdict.accepted) return verdict;
    const int32_t total = ReadDecimal32(markup::GetReplyField(body, "dltotalcount"));
    const int32_t done = ReadDecimal32(markup::GetReplyField(body, "dltimes"));
    answer.remaining = Remaining(total, done);
    return verdict;
}

}  // namespace tamsel::agent
