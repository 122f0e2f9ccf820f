// The service's side of the protocol: the forms posted, and replies read into values, accepted or not.
#include "agent/ServiceProtocol.h"

#include "support/ServiceReply.h"

#include <gtest/gtest.h>

#include <string>

namespace tamsel::agent {
namespace {

constexpr char DIGEST[] = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";

TEST(ServiceProtocol, FormsGoInTheServicesOrder) {
    const std::vector<FormField> query = QueryForm("CODE-1");
    ASSERT_EQ(query.size(), 2u);
    EXPECT_STREQ(query[0].name, "ActivateCode");
    EXPECT_EQ(query[0].value, "CODE-1");
    EXPECT_STREQ(query[1].name, "act");
    EXPECT_EQ(query[1].value, "1");
    const std::vector<FormField> report = ReportForm(nullptr, false);
    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[0].value, "") << "a null code is sent empty";
    EXPECT_STREQ(report[1].name, "success");
    EXPECT_EQ(report[1].value, "false");
    EXPECT_EQ(report[2].value, "2");
}

TEST(ServiceProtocol, TheLongReportAddsWhatTheDownloadDidAfterTheFirstThreeFields) {
    ReportedDownload download;
    download.attempts = 3;
    download.source = 2;
    download.result = 0x80042F08u;
    download.resumedBytes = 5000000000ULL;
    download.waitedMs = 1500;
    const std::vector<FormField> report = ReportForm("CODE-1", true, download);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"ActivateCode", "CODE-1"}, {"success", "true"}, {"act", "2"},   {"attempts", "3"},
        {"source", "2"},            {"result", "80042F08"}, {"resumedBytes", "5000000000"}, {"waitedMs", "1500"}};
    ASSERT_EQ(report.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(report[i].name, expected[i].first) << i;
        EXPECT_EQ(report[i].value, expected[i].second) << i;
    }
    download.result = 0;
    EXPECT_EQ(ReportForm("C", false, download)[5].value, "00000000") << "eight digits, always";
}

TEST(ServiceProtocol, MirrorsAreReadInDocumentOrderUpToEightEmptyOnesPassedOver) {
    std::vector<std::pair<std::string, std::string>> fields = {
        {"StatusCode", "1"}, {"downloadURL", "http://f/x.bin"}, {"mirrorURL", "http://m1/x.bin"}, {"mirrorURL", ""},
        {"filesize", "10"}};
    for (int i = 2; i <= 9; ++i) fields.push_back({"mirrorURL", "http://m" + std::to_string(i) + "/x.bin"});
    QueryAnswer answer;
    ASSERT_TRUE(ReadQueryReply(test::ServiceReply(fields), NamedDigest::Checked, answer).accepted);
    EXPECT_EQ(answer.url, "http://f/x.bin");
    // The first eight fields named so, the empty one among them: seven mirrors.
    ASSERT_EQ(answer.mirrors.size(), 7u);
    EXPECT_EQ(answer.mirrors.front(), "http://m1/x.bin");
    EXPECT_EQ(answer.mirrors.back(), "http://m7/x.bin");
    QueryAnswer none;
    ASSERT_TRUE(ReadQueryReply(test::ServiceReply({{"StatusCode", "1"}, {"downloadURL", "http://f/x.bin"}}),
                               NamedDigest::Checked, none).accepted);
    EXPECT_TRUE(none.mirrors.empty());
}

TEST(ServiceProtocol, AQueryReplysDigestIsReadAsAskedAndOnlyOnceTheServiceAccepted) {
    const struct {
        const char* why;
        std::string status, sha256;
        NamedDigest reading;
        bool accepted;
        int32_t serviceStatus;
        DigestState state;
    } cases[] = {
        {"a digest in either case", "1", DIGEST, NamedDigest::Checked, true, 1, DigestState::Named},
        {"no digest", "1", "", NamedDigest::Checked, true, 1, DigestState::None},
        {"a value that is none, checked: the reply is unreadable", "1", "abc", NamedDigest::Checked, false, 0,
         DigestState::Malformed},
        {"a value that is none, ignored", "1", "abc", NamedDigest::Ignored, true, 1, DigestState::Malformed},
        {"a refusal keeps its status, whatever the digest", "3", "abc", NamedDigest::Checked, false, 3,
         DigestState::None},
        {"2 is no answer to a query", "2", DIGEST, NamedDigest::Checked, false, 2, DigestState::None},
    };
    for (const auto& c : cases) {
        QueryAnswer answer;
        const std::string body = test::ServiceReply({{"StatusCode", c.status}, {"downloadURL", "http://f/x.bin"},
                                                     {"filesize", "5000000000"}, {"sha256", c.sha256}});
        const ServiceVerdict verdict = ReadQueryReply(body, c.reading, answer);
        EXPECT_EQ(verdict.accepted, c.accepted) << c.why;
        EXPECT_EQ(verdict.serviceStatus, c.serviceStatus) << c.why;
        EXPECT_EQ(answer.digestState, c.state) << c.why;
        if (verdict.accepted) {
            EXPECT_EQ(answer.url, "http://f/x.bin") << c.why;
            EXPECT_EQ(answer.size, 5000000000LL) << c.why;
        }
    }
}

TEST(ServiceProtocol, AReportAcceptsOneAndTwoAndCountsWhatRemains) {
    for (const char* status : {"1", "2"}) {
        ReportAnswer answer;
        const ServiceVerdict verdict = ReadReportReply(
            test::ServiceReply({{"StatusCode", status}, {"dltotalcount", "5"}, {"dltimes", "7"}}), answer);
        EXPECT_TRUE(verdict.accepted) << status;
        EXPECT_EQ(answer.remaining, -2) << status;
    }
    ReportAnswer refused;
    EXPECT_FALSE(ReadReportReply(test::ServiceReply({{"StatusCode", "4"}, {"dltotalcount", "5"}}), refused).accepted);
    EXPECT_EQ(refused.remaining, -1) << "nothing counted from a refused report";
}

}  // namespace
}  // namespace tamsel::agent
