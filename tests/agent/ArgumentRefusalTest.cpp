// Bad arguments, one table for every operation: each is refused with E_INVALIDARG before anything but the
// probe is sent (the first interface probes before it reads its arguments; the later interfaces' checks
// and text that would split a request's lines come before the probe), writes no output it was not meant
// to, keeps no status and makes no file. The automation face, through the DLL beside the test, adds its
// own: a text holding a NUL, refused naming the argument.
#include "support/AgentWire.h"

#include "support/AutomationHost.h"
#include "support/ServiceReply.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamsel::agent {
namespace {

using namespace test;
using namespace std::literals;
using module::test::Argument;
using module::test::CreateAutomation;
using module::test::ErrorText;
using module::test::Text;
using testbed::FILE_PATH;
using testbed::FILE_URL;
using testbed::FILES_HOST;
using testbed::Route;
using testbed::SERVICE_HOST;
using testbed::SERVICE_URL;

constexpr char LOOKUP_URL[] = "http://lookup.norvik.example/find";
constexpr char PROBE_LINE[] = "GET http://www.norvik.example:80/ HTTP/1.1";
constexpr char CANARY = '\x7f';
constexpr LONGLONG SIZE_UNTOUCHED = -7;
constexpr LONG REMAINING_UNTOUCHED = -7;

// What reached the server by the time a call returned. LOOKS_AT_MOST: besides the probe, at most a
// header-only look (HTTP/1.1 GET), neither a POST nor a download's GET (HTTP/1.0).
enum class Sent { NOTHING, THE_PROBE, AT_MOST_THE_PROBE, LOOKS_AT_MOST, ANYTHING };

// The outputs a call may write, each holding what no operation writes until it does.
struct Outputs {
    std::vector<char> buffer = std::vector<char>(512, CANARY);
    std::string digest = std::string(80, CANARY);
    LONGLONG size = SIZE_UNTOUCHED;
    LONG remaining = REMAINING_UNTOUCHED;
};

struct Row {
    std::string what;
    std::function<HRESULT(FacedAgent&, Outputs&)> call;
    Sent sent;
    HRESULT expected = E_INVALIDARG;
    LONGLONG size = SIZE_UNTOUCHED;                           // the size output once the call returned
    std::optional<LONG> remaining = REMAINING_UNTOUCHED;      // likewise; none: whatever the service said
};

class ArgumentRefusal : public AgentWireTest {
protected:
    // Scripts a file and a service that would answer each call, had its arguments been taken.
    void ScriptAnswers() {
        ASSERT_TRUE(loopback.Reset());
        ASSERT_TRUE(loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(1000)));
        ASSERT_TRUE(loopback.Add(Route("/svc", SERVICE_HOST).Method("POST").Body(ServiceReply({{"StatusCode", "1"}}))));
        ASSERT_TRUE(loopback.Add(Route("/find", "lookup.norvik.example").Status(302).Header("Location: http://x/")));
    }

    ::testing::AssertionResult SentOnly(Sent sent) {
        const std::vector<testbed::RecordedRequest> requests = loopback.Requests();
        size_t probes = 0;
        size_t looks = 0;
        for (const auto& request : requests) {
            const std::string line = request.RequestLine();
            probes += line == PROBE_LINE ? 1 : 0;
            looks += line != PROBE_LINE && line.rfind("GET ", 0) == 0 && line.find(" HTTP/1.1") != std::string::npos;
        }
        const bool fits = sent == Sent::ANYTHING || (sent == Sent::NOTHING && requests.empty()) ||
                          (sent == Sent::THE_PROBE && requests.size() == 1 && probes == 1) ||
                          (sent == Sent::AT_MOST_THE_PROBE && probes == requests.size() && probes <= 1) ||
                          (sent == Sent::LOOKS_AT_MOST && probes + looks == requests.size() && probes <= 1);
        if (fits) return ::testing::AssertionSuccess();
        std::string lines;
        for (const auto& request : requests) lines += request.host + " " + request.RequestLine() + "\n";
        return ::testing::AssertionFailure() << requests.size() << " requests:\n" << lines;
    }

    void Check(const Row& row) {
        SCOPED_TRACE(row.what);
        ScriptAnswers();
        Outputs out;
        EXPECT_EQ(row.call(*agent, out), row.expected);
        EXPECT_TRUE(SentOnly(row.sent));
        EXPECT_EQ(out.size, row.size);
        if (row.remaining) {
            EXPECT_EQ(out.remaining, *row.remaining);
        }
        EXPECT_EQ(out.buffer, std::vector<char>(512, CANARY)) << "a refusal writes no text";
        EXPECT_EQ(out.digest, std::string(80, CANARY));
        EXPECT_TRUE(NoStatusKept(*agent));
        EXPECT_EQ(folder.Names(), std::vector<std::string>{}) << "a refusal makes no file";
    }
};

// FetchToFile: empty texts, a URL without a scheme, and ports out of range.
std::vector<Row> FetchToFileRows(const std::string& target) {
    struct Case {
        const char* url;
        std::string path;
        Sent sent = Sent::AT_MOST_THE_PROBE;
    };
    // A port out of range is read when the download itself is described, after the Location look, which
    // the platform sends to port 0 taken as the default one.
    const Case cases[] = {
        {"", target},
        {FILE_URL, ""},
        {"", ""},
        {"files.norvik.example/f.bin", target},  // no scheme
        {"http://files.norvik.example:0/f.bin", target, Sent::LOOKS_AT_MOST},
        {"ftp://127.0.0.1:65536/f.bin", target},
    };
    std::vector<Row> rows;
    for (const Case& c : cases) {
        const std::string url = c.url;
        const std::string path = c.path;
        rows.push_back({"FetchToFile \"" + url + "\" to \"" + path + '"',
                        [=](FacedAgent& agent, Outputs&) { return agent.FetchToFile(url.c_str(), path.c_str(), nullptr); },
                        c.sent});
    }
    return rows;
}

// FetchToFileEx and FetchToFileVerified: unknown flags, sizes below -1, a folder as the target (the
// partial file would land inside it, or the replace would fail after the download), a null path, and
// digests that are not 64 hex digits.
std::vector<Row> LaterDownloadRows(const std::string& folder, const std::string& target) {
    const auto ex = [](const std::string& path, ULONG flags, LONGLONG expected) {
        return [=](FacedAgent& agent, Outputs&) {
            return agent.FetchToFileEx(FILE_URL, Wide(path).c_str(), nullptr, flags, expected);
        };
    };
    const auto verified = [=](ULONG flags, const std::string& digest) {
        return [=](FacedAgent& agent, Outputs&) {
            return agent.FetchToFileVerified(FILE_URL, Wide(target).c_str(), nullptr, flags, -1, digest.c_str());
        };
    };
    std::vector<Row> rows = {
        {"FetchToFileEx, flag 0x8", ex(target, 0x8, -1), Sent::NOTHING},
        {"FetchToFileEx, expected size -2", ex(target, TAMSEL_FETCH_REPLACE_SAFELY, -2), Sent::NOTHING},
        {"FetchToFileEx, null path",
         [](FacedAgent& agent, Outputs&) { return agent.FetchToFileEx(FILE_URL, nullptr, nullptr, 0, -1); },
         Sent::AT_MOST_THE_PROBE},
        {"FetchToFileVerified, flag 0x8",
         [=](FacedAgent& agent, Outputs&) {
             return agent.FetchToFileVerified(FILE_URL, Wide(target).c_str(), nullptr, 0x8, -1, nullptr);
         },
         Sent::NOTHING},
    };
    for (const std::string& path : {folder, folder + "\\", folder + "/", target + "\\"}) {
        for (const ULONG flags : {0ul, ULONG{TAMSEL_FETCH_REPLACE_SAFELY},
                                  ULONG{TAMSEL_FETCH_REPLACE_SAFELY | TAMSEL_FETCH_RESUME}}) {
            rows.push_back({"FetchToFileEx into the folder " + path + ", flags " + std::to_string(flags),
                            ex(path, flags, -1), Sent::NOTHING});
        }
    }
    const std::string digest(64, 'a');
    for (const std::string& malformed : {digest.substr(1), digest + "a", digest.substr(0, 63) + "g", " " + digest}) {
        rows.push_back({"FetchToFileVerified, digest \"" + malformed + '"', verified(0, malformed), Sent::NOTHING});
    }
    return rows;
}

// LookupRedirect: each argument empty, or null as a careless host may pass it (refused as an empty one,
// never read); neither the buffer nor its size is looked at yet, so a size of 0 changes nothing.
std::vector<Row> LookupRows() {
    std::vector<Row> rows;
    for (int empty = 0; empty < 8; ++empty) {
        rows.push_back({"LookupRedirect, argument " + std::to_string(empty % 4) + (empty < 4 ? " empty" : " null"),
                        [=](FacedAgent& agent, Outputs& out) {
                            const char* a[4] = {LOOKUP_URL, "S", "en", "t"};
                            a[empty % 4] = empty < 4 ? "" : nullptr;
                            return agent.LookupRedirect(out.buffer.data(), 0, a[0], a[1], a[2], a[3]);
                        },
                        Sent::THE_PROBE});
    }
    return rows;
}

// QueryDownload and ReportDownload: empty texts, no scheme, a port out of range. Report sends an empty
// code as it is (ServiceOperationsTest.cpp: ReportSendsAnEmptyCodeAsIs), and keeps no status of it.
std::vector<Row> ServiceRows() {
    struct Case {
        const char* what;
        const char* url;
        const char* code;
        HRESULT report;
        Sent sent = Sent::AT_MOST_THE_PROBE;
    };
    // A port out of range is read when the POST is described, after the service URL's Location look,
    // which the platform sends to the port modulo 65536.
    const Case cases[] = {
        {"empty URL", "", "C", E_INVALIDARG},
        {"empty URL and code", "", "", E_INVALIDARG},
        {"empty code", SERVICE_URL, "", S_OK},
        {"no scheme", "svc.norvik.example/svc", "C", E_INVALIDARG},
        {"port out of range", "http://svc.norvik.example:70000/svc", "C", E_INVALIDARG, Sent::LOOKS_AT_MOST},
    };
    std::vector<Row> rows;
    for (const Case& c : cases) {
        const std::string url = c.url;
        const std::string code = c.code;
        rows.push_back({std::string("QueryDownload, ") + c.what,
                        [=](FacedAgent& agent, Outputs& out) {
                            return agent.QueryDownload(out.buffer.data(), 512, url.c_str(), code.c_str(), &out.size);
                        },
                        c.sent, E_INVALIDARG, 0});
        Row report{std::string("ReportDownload, ") + c.what,
                   [=](FacedAgent& agent, Outputs& out) {
                       return agent.ReportDownload(url.c_str(), code.c_str(), 1, &out.remaining);
                   },
                   c.sent, c.report, SIZE_UNTOUCHED, -1};
        if (c.report == S_OK) {
            report.sent = Sent::ANYTHING;
            report.remaining.reset();
        }
        rows.push_back(report);
    }
    return rows;
}

// Control characters in any text of a lookup, query or report, and in a URL of every operation, would
// split the look's or the request's own lines: refused before anything is sent, not even the probe.
std::vector<Row> ControlCharacterRows(const std::string& target) {
    std::vector<Row> rows;
    for (const std::string text : {"X\r\nX-Injected: 1", "X\r\n\r\nGET /smuggled HTTP/1.1", "tab\there", "del\x7f",
                                   "\x01"}) {
        const std::string shown = ::testing::PrintToString(text);
        const auto lookup = [](const std::string& url, const std::string& serial, const std::string& language,
                               const std::string& type) {
            return [=](FacedAgent& agent, Outputs& out) {
                return agent.LookupRedirect(out.buffer.data(), 256, url.c_str(), serial.c_str(), language.c_str(),
                                            type.c_str());
            };
        };
        const auto query = [](const std::string& url, const std::string& code) {
            return [=](FacedAgent& agent, Outputs& out) {
                return agent.QueryDownload(out.buffer.data(), 256, url.c_str(), code.c_str(), &out.size);
            };
        };
        const auto report = [](const std::string& url, const std::string& code) {
            return [=](FacedAgent& agent, Outputs& out) {
                return agent.ReportDownload(url.c_str(), code.c_str(), 1, &out.remaining);
            };
        };
        const std::string lookupUrl = std::string(LOOKUP_URL) + text;
        const std::string serviceUrl = std::string(SERVICE_URL) + "?a=1" + text;
        const std::string fileUrl = std::string(FILE_URL) + "?a=1" + text;
        const std::vector<Row> these = {
            {"LookupRedirect serial " + shown, lookup(LOOKUP_URL, text, "en", "t"), Sent::NOTHING},
            {"LookupRedirect language " + shown, lookup(LOOKUP_URL, "S", text, "t"), Sent::NOTHING},
            {"LookupRedirect type " + shown, lookup(LOOKUP_URL, "S", "en", text), Sent::NOTHING},
            {"LookupRedirect URL " + shown, lookup(lookupUrl, "S", "en", "t"), Sent::NOTHING},
            {"QueryDownload code " + shown, query(SERVICE_URL, text), Sent::NOTHING, E_INVALIDARG, 0},
            {"QueryDownload URL " + shown, query(serviceUrl, "CODE"), Sent::NOTHING, E_INVALIDARG, 0},
            {"ReportDownload code " + shown, report(SERVICE_URL, text), Sent::NOTHING, E_INVALIDARG, SIZE_UNTOUCHED, -1},
            {"ReportDownload URL " + shown, report(serviceUrl, "CODE"), Sent::NOTHING, E_INVALIDARG, SIZE_UNTOUCHED,
             -1},
            {"FetchToFile URL " + shown,
             [=](FacedAgent& agent, Outputs&) { return agent.FetchToFile(fileUrl.c_str(), target.c_str(), nullptr); },
             Sent::NOTHING},
            {"FetchToFileEx URL " + shown,
             [=](FacedAgent& agent, Outputs&) {
                 return agent.FetchToFileEx(fileUrl.c_str(), Wide(target).c_str(), nullptr, TAMSEL_FETCH_RESUME, -1);
             },
             Sent::NOTHING},
        };
        rows.insert(rows.end(), these.begin(), these.end());
    }
    // QueryDownloadEx as QueryDownload: neither its buffer nor the digest's is written.
    const auto queryEx = [](const std::string& url, const std::string& code) {
        return [=](FacedAgent& agent, Outputs& out) {
            return agent.QueryDownloadEx(out.buffer.data(), 512, url.c_str(), code.c_str(), &out.size,
                                         out.digest.data(), 80);
        };
    };
    rows.push_back({"QueryDownloadEx URL with CR LF", queryEx(std::string(SERVICE_URL) + "?a=1\r\nX-Injected: 1", "C"),
                    Sent::NOTHING, E_INVALIDARG, 0});
    rows.push_back({"QueryDownloadEx code with DEL", queryEx(SERVICE_URL, "C\x7f"), Sent::NOTHING, E_INVALIDARG, 0});
    return rows;
}

TEST_F(ArgumentRefusal, EveryOperationRefusesItsBadArgumentsBeforeAnythingButTheProbeIsSent) {
    std::vector<Row> rows = FetchToFileRows(target);
    for (auto more : {LaterDownloadRows(folder.path, target), LookupRows(), ServiceRows(), ControlCharacterRows(target)}) {
        rows.insert(rows.end(), more.begin(), more.end());
    }
    for (const Row& row : rows) Check(row);
}

// A NUL inside any text argument would cut it short where it is read (the 8-bit operations, the file
// system, the reading of a number): refused, naming the argument, before anything is sent, the probe
// included, and nothing is written under the shortened path.
TEST_F(ArgumentRefusal, TextArgumentHoldingNulIsRefusedBeforeAnythingIsSent) {
    ASSERT_TRUE(loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(300)));
    ASSERT_TRUE(loopback.Add(Route("/svc", SERVICE_HOST).Method("POST").Body(ServiceReply(
        {{"StatusCode", "1"}, {"downloadURL", FILE_URL}, {"filesize", "300"}, {"dltotalcount", "3"}}))));
    InvTamselAgent3* agent = CreateAutomation<InvTamselAgent3>();
    ASSERT_NE(agent, nullptr);
    const std::wstring folderPath(folder.path.begin(), folder.path.end());
    const PlatformString url = Text(L"http://files.norvik.example/f.bin"sv);
    const PlatformString path = Text(folderPath + L"\\av.exe");
    const PlatformString service = Text(L"http://svc.norvik.example/svc"sv);
    const PlatformString code = Text(L"CODE"sv);
    const PlatformString en = Text(L"en"sv);
    VARIANT noSize;
    noSize.vt = VT_ERROR;
    noSize.scode = DISP_E_PARAMNOTFOUND;
    VARIANT sizeText;
    sizeText.vt = VT_BSTR;
    sizeText.bstrVal = ::SysAllocStringLen(L"300\0x", 5);
    BSTR answer = nullptr;
    LONG remaining = 0;
    const auto lookup = [&](BSTR lookupUrl, BSTR serial, BSTR language, BSTR type) {
        const HRESULT hr = agent->LookupRedirect(lookupUrl, serial, language, type, &answer);
        ::SysFreeString(answer);
        return hr;
    };
    const auto query = [&](BSTR serviceUrl, BSTR what) {
        const HRESULT hr = agent->QueryDownload(serviceUrl, what, &answer);
        ::SysFreeString(answer);
        return hr;
    };
    const auto download = [&](BSTR fileUrl, BSTR filePath, const VARIANT& size, BSTR sha256 = nullptr) {
        return agent->Download(fileUrl, filePath, 0, size, sha256);
    };
    const auto report = [&](BSTR serviceUrl, BSTR what) {
        return agent->ReportDownload(serviceUrl, what, VARIANT_TRUE, &remaining);
    };
    struct Row {
        const wchar_t* argument;
        std::function<HRESULT()> call;
    };
    const std::wstring digest(64, L'a');
    const Row rows[] = {
        {L"lookupUrl", [&] { return lookup(Text(L"http://x.example/\0x"sv).get(), code.get(), en.get(), en.get()); }},
        {L"serial", [&] { return lookup(service.get(), Text(L"SN\0X"sv).get(), en.get(), en.get()); }},
        {L"language", [&] { return lookup(service.get(), code.get(), Text(L"en\0"sv).get(), en.get()); }},
        {L"type", [&] { return lookup(service.get(), code.get(), en.get(), Text(L"\0en"sv).get()); }},
        {L"serviceUrl", [&] { return query(Text(L"http://svc.norvik.example/svc\0x"sv).get(), code.get()); }},
        {L"code", [&] { return query(service.get(), Text(L"CODE\0X"sv).get()); }},
        {L"url", [&] { return download(Text(L"http://files.norvik.example/f.bin\0x"sv).get(), path.get(), noSize); }},
        {L"path", [&] { return download(url.get(), Text(folderPath + L"\\av" + L"\0.exe"s).get(), noSize); }},
        {L"expectedSize", [&] { return download(url.get(), path.get(), sizeText); }},
        {L"sha256", [&] { return download(url.get(), path.get(), noSize, Text(digest + L"\0x"s).get()); }},
        {L"serviceUrl", [&] { return report(Text(L"http://svc.norvik.example/svc\0x"sv).get(), code.get()); }},
        {L"code", [&] { return report(service.get(), Text(L"\0CODE"sv).get()); }},
        {L"sources", [&] { return agent->DownloadFrom(Argument(L"http://files.norvik.example/f.bin\0x"sv).value,
                                                       path.get(), 0, noSize, nullptr); }},
        {L"path", [&] { return agent->DownloadFrom(Argument(L"http://files.norvik.example/f.bin"sv).value,
                                                    Text(folderPath + L"\\av" + L"\0.exe"s).get(), 0, noSize, nullptr); }},
        {L"expectedSize", [&] { return agent->DownloadFrom(Argument(L"http://files.norvik.example/f.bin"sv).value,
                                                            path.get(), 0, sizeText, nullptr); }},
        {L"serviceUrl", [&] { return agent->ReportDownloadEx(Text(L"http://svc.norvik.example/svc\0x"sv).get(),
                                                              code.get(), VARIANT_TRUE, &remaining); }},
        {L"ProxyUser", [&] { return agent->put_ProxyUser(Text(L"ann\0x"sv).get()); }},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.call(), E_INVALIDARG) << row.argument;
        const std::wstring error = ErrorText();
        const std::wstring sentence = std::wstring(L"the argument ") + row.argument + L" holds a NUL character";
        EXPECT_NE(error.find(sentence), std::wstring::npos) << error;
    }
    EXPECT_TRUE(loopback.Requests().empty()) << "nothing reached the server, not even the probe";
    EXPECT_FALSE(Exists(folder.File("av"))) << "the shortened path";
    EXPECT_FALSE(Exists(folder.File("av.exe")));
    ::VariantClear(&sizeText);
    EXPECT_EQ(agent->Release(), 0u);
}

}  // namespace
}  // namespace tamsel::agent
