// The host's result table: names, explanations and exit codes that scripts and people rely on.
#include "host/ResultCodes.h"

#include "include/NorvikTamselAgent.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace tamsel::host {
namespace {

struct Named {
    HRESULT code;
    const char* name;
    int exitCode;
};

// The exit codes are documented in --help and in the README; changing one breaks callers' scripts.
const Named Documented[] = {
    {S_OK, "S_OK", 0},
    {AGENT_E_NO_SESSION, "AGENT_E_NO_SESSION", 10},
    {AGENT_E_BUFFER_TOO_SMALL, "AGENT_E_BUFFER_TOO_SMALL", 11},
    {AGENT_E_HTTP_STATUS, "AGENT_E_HTTP_STATUS", 12},
    {AGENT_E_SERVICE_STATUS, "AGENT_E_SERVICE_STATUS", 13},
    {E_INVALIDARG, "E_INVALIDARG", 14},
    {E_FAIL, "E_FAIL", 15},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY", 16},
    {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG", 17},
    {CO_E_CLASSSTRING, "CO_E_CLASSSTRING", 18},
    {E_NOINTERFACE, "E_NOINTERFACE", 19},
    {AGENT_E_BUSY, "AGENT_E_BUSY", 27},
    {AGENT_E_SIZE_MISMATCH, "AGENT_E_SIZE_MISMATCH", 28},
    {AGENT_E_CERTIFICATE, "AGENT_E_CERTIFICATE", 30},
    {AGENT_E_DIGEST_MISMATCH, "AGENT_E_DIGEST_MISMATCH", 31},
    {AGENT_E_BROKEN, "AGENT_E_BROKEN", 32},
    {HRESULT_FROM_WIN32(ERROR_DISK_FULL), "ERROR_DISK_FULL", 33},
    {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), "ERROR_SHARING_VIOLATION", 34},
    {AGENT_E_INSECURE_REDIRECT, "AGENT_E_INSECURE_REDIRECT", 35},
    {AGENT_E_PROXY_AUTH, "AGENT_E_PROXY_AUTH", 36},
    {AGENT_E_RETRY_LATER, "AGENT_E_RETRY_LATER", 37},
    {E_ABORT, "E_ABORT", 3},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "ERROR_FILE_NOT_FOUND", 21},
    {HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), "ERROR_BAD_EXE_FORMAT", 24},
    {HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), "ERROR_PROC_NOT_FOUND", 25},
};

TEST(ResultCodes, EachDocumentedCodeHasItsNameAndExitCode) {
    for (const Named& expected : Documented) {
        const ResultInfo& info = DescribeResult(expected.code);
        EXPECT_STREQ(info.name, expected.name) << std::hex << expected.code;
        EXPECT_EQ(info.exitCode, expected.exitCode) << expected.name;
        EXPECT_NE(info.explanation[0], '\0') << expected.name;
    }
}

TEST(ResultCodes, ExitCodesAreDistinctAndClearOfTheHostsOwn) {
    std::set<int> seen = {ExitUsage, ExitCancelled, ExitLocalProblem, ExitUnknownResult};
    for (const ResultInfo* info = ResultTableBegin(); info != ResultTableEnd(); ++info) {
        if (info->code == E_ABORT) {
            // The agent's cancel is the host's Ctrl+C: both must exit alike.
            EXPECT_EQ(info->exitCode, ExitCancelled);
            continue;
        }
        EXPECT_TRUE(seen.insert(info->exitCode).second) << info->name << " reuses exit code " << info->exitCode;
        // A failure must never look like success to a calling script, and exit codes stay below 256.
        EXPECT_EQ(info->code == S_OK, info->exitCode == ExitSuccess) << info->name;
        EXPECT_LT(info->exitCode, 256) << info->name;
    }
}

TEST(ResultCodes, UnknownCodeGetsTheGenericEntry) {
    const ResultInfo& info = DescribeResult(static_cast<HRESULT>(0x80041234L));
    EXPECT_EQ(info.exitCode, ExitUnknownResult);
    EXPECT_STREQ(info.name, "unknown result");
}

TEST(ResultCodes, RegistrationProblemsSayHowToRegister) {
    for (const HRESULT code : {REGDB_E_CLASSNOTREG, CO_E_CLASSSTRING}) {
        EXPECT_NE(std::strstr(DescribeResult(code).explanation, "regsvr32 NorvikTamselAgent.dll"), nullptr)
            << DescribeResult(code).name;
    }
}

TEST(DescribeFailure, NamesTheCodeInHexWithItsExplanation) {
    EXPECT_EQ(DescribeFailure(AGENT_E_NO_SESSION, -1, -1),
              "AGENT_E_NO_SESSION (0x80042EFF): cannot reach the internet (the connectivity probe did not "
              "answer 200)");
}

TEST(DescribeFailure, AddsOnlyTheStatusesThatWereKept) {
    const std::string http = DescribeFailure(AGENT_E_HTTP_STATUS, 404, -1);
    EXPECT_NE(http.find("(HTTP status 404)"), std::string::npos) << http;
    EXPECT_EQ(http.find("service status"), std::string::npos) << http;

    const std::string service = DescribeFailure(AGENT_E_SERVICE_STATUS, -1, 0);
    EXPECT_NE(service.find("(service status 0)"), std::string::npos) << service;
    EXPECT_EQ(service.find("HTTP status"), std::string::npos) << service;
}

TEST(DescribeFailure, UnknownCodeStillShowsItsValue) {
    const std::string text = DescribeFailure(static_cast<HRESULT>(0x80041234L), -1, -1);
    EXPECT_NE(text.find("0x80041234"), std::string::npos) << text;
}

}  // namespace
}  // namespace tamsel::host
