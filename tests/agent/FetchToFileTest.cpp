// FetchToFile on the wire: bytes stored over http, https and ftp, cancel, and when a file is touched.
#include "agent/AgentObject.h"

#include "support/Testbed.h"
#include "web/Handle.h"
#include "web/Internet.h"

#include <string>
#include <vector>

namespace tamsel::agent {
namespace {

using testbed::Route;

constexpr char FilesHost[] = "files.norvik.example";
constexpr char FileUrl[] = "http://files.norvik.example/pub/f.bin";
constexpr char FilePath[] = "/pub/f.bin";
constexpr LONG ProgressCode = 5913;

std::string Pattern(size_t size, size_t from = 0) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(testbed::PatternByte(from + i));
    return bytes;
}

// Bytes compared with the generated pattern, reporting the first difference rather than the whole body.
::testing::AssertionResult HoldsPattern(const std::string& bytes, size_t size, size_t from = 0) {
    if (bytes.size() != size) {
        return ::testing::AssertionFailure() << bytes.size() << " bytes instead of " << size;
    }
    for (size_t i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(bytes[i]) != testbed::PatternByte(from + i)) {
            return ::testing::AssertionFailure() << "byte " << i << " differs";
        }
    }
    return ::testing::AssertionSuccess();
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The whole file, or "<missing>" when it cannot be opened.
std::string Contents(const std::string& path) {
    FileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return "<missing>";
    std::string bytes;
    char block[65536];
    DWORD got = 0;
    while (::ReadFile(file.get(), block, sizeof block, &got, nullptr) && got > 0) bytes.append(block, got);
    return bytes;
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
    FileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// A host's sink: records every call, and asks to stop at the first report of at least cancelAt %.
class RecordingSink final : public ProgressSink {
public:
    explicit RecordingSink(LONG cancelAt = 1000) : m_cancelAt(cancelAt) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE NotifyCode(LONG code) override {
        codes.push_back(code);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE NotifyProgress(LONG percent, LONG* cancel) override {
        EXPECT_EQ(*cancel, 0) << "the flag is cleared before every report";
        EXPECT_EQ(codes.size(), percents.size() + 1) << "NotifyCode comes right before each report";
        percents.push_back(percent);
        if (percent >= m_cancelAt) *cancel = 1;
        return S_OK;
    }

    ULONG references = 1;
    std::vector<LONG> codes;
    std::vector<LONG> percents;

private:
    LONG m_cancelAt;
};

class FetchToFileWire : public testbed::TestbedTest {
protected:
    void SetUp() override {
        TestbedTest::SetUp();
        char temp[MAX_PATH];
        ASSERT_NE(::GetTempPathA(MAX_PATH, temp), 0u);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::string(temp) + "tamsel-fetch-" + std::to_string(::GetCurrentProcessId()) + "-" + info->name();
        ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr)) << folder;
        target = folder + "\\download.bin";
    }

    void TearDown() override {
        WIN32_FIND_DATAA found;
        const std::string pattern = folder + "\\*";
        HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string path = folder + "\\" + found.cFileName;
                ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileA(path.c_str());
            } while (::FindNextFileA(search, &found));
            ::FindClose(search);
        }
        ::RemoveDirectoryA(folder.c_str());
    }

    void ExpectRefusedTarget(const std::string& path);

    void ExpectNoStatusKept() {
        LONG status = 12345;
        EXPECT_EQ(agent.GetLastHttpStatus(&status), E_FAIL);
        EXPECT_EQ(agent.GetLastServiceStatus(&status), E_FAIL);
        EXPECT_EQ(status, 12345);
    }

    // The GETs of the file's host, the Location look included.
    std::vector<testbed::RecordedRequest> FileRequests(const char* channel = "http") {
        std::vector<testbed::RecordedRequest> chosen;
        for (testbed::RecordedRequest& request : bench.Requests(channel)) {
            if (request.host == FilesHost) chosen.push_back(std::move(request));
        }
        return chosen;
    }

    AgentObject agent;
    std::string folder;
    std::string target;
};

// --- bytes stored ---

TEST_F(FetchToFileWire, HttpBodyIsStoredByteForByteWithoutTheQuery) {
    bench.Add(Route(FilePath, FilesHost).Generated(300000));
    const std::string url = std::string(FileUrl) + "?token=a1&x=2";
    EXPECT_EQ(agent.FetchToFile(url.c_str(), target.c_str(), nullptr), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 300000));
    ExpectNoStatusKept();

    const auto requests = FileRequests();
    ASSERT_EQ(requests.size(), 2u) << "the Location look, then the download";
    EXPECT_EQ(requests[0].target, "/pub/f.bin?token=a1&x=2");
    EXPECT_EQ(requests[1].target, FilePath) << "the query became form fields, which a GET does not send";
    EXPECT_EQ(requests[1].RequestLine().compare(0, 4, "GET "), 0);
    EXPECT_EQ(requests[1].Body(), "");
}

TEST_F(FetchToFileWire, BodyWithoutContentLengthIsStoredToItsEnd) {
    bench.Add(Route(FilePath, FilesHost).Generated(100000).NoContentLength());
    EXPECT_EQ(agent.FetchToFile(FileUrl, target.c_str(), nullptr), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 100000));
}

TEST_F(FetchToFileWire, HttpsBodyIsStoredThroughTheTunnel) {
    bench.Add(Route(FilePath, "secure.norvik.example").Generated(70001));
    EXPECT_EQ(agent.FetchToFile("https://secure.norvik.example/pub/f.bin", target.c_str(), nullptr), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 70001));
    const auto inside = bench.Requests("https");
    ASSERT_FALSE(inside.empty());
    EXPECT_EQ(inside.back().target, FilePath);
    EXPECT_EQ(inside.back().RequestLine().compare(0, 4, "GET "), 0);
}

TEST_F(FetchToFileWire, FtpFileIsStoredByteForByte) {
    const std::string served = folder + "\\served";
    ASSERT_TRUE(::CreateDirectoryA(served.c_str(), nullptr));
    const std::string source = served + "\\remote.bin";
    ASSERT_TRUE(WriteWhole(source, Pattern(150000, 17)));
    const uint16_t port = bench.StartFtp(served);
    ASSERT_NE(port, 0);
    const std::string base = "ftp://127.0.0.1:" + std::to_string(port);

    EXPECT_EQ(agent.FetchToFile((base + "/remote.bin").c_str(), target.c_str(), nullptr), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 150000, 17));
    ExpectNoStatusKept();

    // A missing remote file is no exchange at all: status 0 kept, no local file made.
    const std::string other = folder + "\\other.bin";
    EXPECT_EQ(agent.FetchToFile((base + "/absent.bin").c_str(), other.c_str(), nullptr), AGENT_E_HTTP_STATUS);
    LONG status = -1;
    EXPECT_EQ(agent.GetLastHttpStatus(&status), S_OK);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(Exists(other));

    EXPECT_TRUE(bench.StopFtp());
    ::DeleteFileA(source.c_str());
    ::RemoveDirectoryA(served.c_str());
}

TEST_F(FetchToFileWire, TheLocationOfTheUrlIsFetchedInstead) {
    bench.Add(Route("/old", FilesHost).Method("GET").Times(1).Status(302).Header(
        "Location: http://files.norvik.example/new/f.bin"));
    bench.Add(Route("/old", FilesHost).Body("the old file"));
    bench.Add(Route("/new/f.bin", FilesHost).Generated(5000));
    EXPECT_EQ(agent.FetchToFile("http://files.norvik.example/old", target.c_str(), nullptr), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 5000));
    const auto requests = FileRequests();
    ASSERT_EQ(requests.size(), 2u) << "one look, one download: the Location is not looked at again";
    EXPECT_EQ(requests[1].target, "/new/f.bin");
}

// --- progress and cancel ---

TEST_F(FetchToFileWire, ProgressIsReportedUpTo100WithoutTakingReferences) {
    bench.Add(Route(FilePath, FilesHost).Generated(409600));
    RecordingSink sink;
    EXPECT_EQ(agent.FetchToFile(FileUrl, target.c_str(), &sink), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 409600));
    ASSERT_FALSE(sink.percents.empty());
    EXPECT_EQ(sink.percents.back(), 100);
    for (size_t i = 1; i < sink.percents.size(); ++i) EXPECT_GT(sink.percents[i], sink.percents[i - 1]);
    EXPECT_EQ(sink.codes, std::vector<LONG>(sink.percents.size(), ProgressCode));
    EXPECT_EQ(sink.references, 1u);
}

TEST_F(FetchToFileWire, CancelKeepsTheBytesUpToTheCancellingChunk) {
    // 1 % of 1,000,000 bytes is first reached by the third 4096-byte chunk: 12288 bytes.
    bench.Add(Route(FilePath, FilesHost).Generated(1000000));
    RecordingSink sink(1);
    EXPECT_EQ(agent.FetchToFile(FileUrl, target.c_str(), &sink), S_OK);
    EXPECT_EQ(sink.percents, std::vector<LONG>{1});
    EXPECT_TRUE(HoldsPattern(Contents(target), 12288));
    ExpectNoStatusKept();

    // A later cancel: at 50 %, the chunk that reaches 500,000 bytes ends at 123 * 4096.
    ASSERT_TRUE(bench.Reset());
    bench.Add(Route(FilePath, FilesHost).Generated(1000000));
    RecordingSink later(50);
    EXPECT_EQ(agent.FetchToFile(FileUrl, target.c_str(), &later), S_OK);
    EXPECT_EQ(later.percents.back(), 50);
    EXPECT_TRUE(HoldsPattern(Contents(target), 123 * 4096));
}

// --- when the file is touched ---

TEST_F(FetchToFileWire, NonSuccessStatusLeavesAnExistingFileAlone) {
    for (const int status : {404, 500, 204, 302}) {
        SCOPED_TRACE(status);
        ASSERT_TRUE(bench.Reset());
        ASSERT_TRUE(WriteWhole(target, "the file the host already had"));
        bench.Add(Route(FilePath, FilesHost).Status(status).Body(std::string(20000, 'e')));
        RecordingSink sink;
        EXPECT_EQ(agent.FetchToFile(FileUrl, target.c_str(), &sink), AGENT_E_HTTP_STATUS);
        EXPECT_EQ(Contents(target), "the file the host already had");
        EXPECT_TRUE(sink.percents.empty()) << "the body of a failure is not downloaded";
        LONG kept = -1;
        EXPECT_EQ(agent.GetLastHttpStatus(&kept), S_OK);
        EXPECT_EQ(kept, status);
        EXPECT_EQ(agent.GetLastServiceStatus(&kept), E_FAIL);

        const std::string fresh = folder + "\\fresh.bin";
        EXPECT_EQ(agent.FetchToFile(FileUrl, fresh.c_str(), nullptr), AGENT_E_HTTP_STATUS);
        EXPECT_FALSE(Exists(fresh)) << "no file is made for a failure";
    }
}

TEST_F(FetchToFileWire, EmptyBodyLeavesAnEmptyFile) {
    bench.Add(Route(FilePath, FilesHost).Body(""));
    EXPECT_EQ(agent.FetchToFile(FileUrl, target.c_str(), nullptr), S_OK);
    EXPECT_TRUE(Exists(target));
    EXPECT_EQ(Contents(target), "");

    ASSERT_TRUE(WriteWhole(target, "older contents"));
    EXPECT_EQ(agent.FetchToFile(FileUrl, target.c_str(), nullptr), S_OK);
    EXPECT_EQ(Contents(target), "");
}

TEST_F(FetchToFileWire, ALongerExistingFileIsTruncatedAndOverwritten) {
    ASSERT_TRUE(WriteWhole(target, std::string(100000, 'x')));
    bench.Add(Route(FilePath, FilesHost).Generated(3000));
    EXPECT_EQ(agent.FetchToFile(FileUrl, target.c_str(), nullptr), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 3000));
}

// Neither creatable nor truncatable: the transfer stops at the headers and the target stays as it was.
void FetchToFileWire::ExpectRefusedTarget(const std::string& path) {
    bench.Add(Route(FilePath, FilesHost).Generated(1000000));
    RecordingSink sink;
    EXPECT_EQ(agent.FetchToFile(FileUrl, path.c_str(), &sink), E_FAIL);
    EXPECT_TRUE(sink.percents.empty()) << "nothing is downloaded beyond the headers";
    ExpectNoStatusKept();
}

TEST_F(FetchToFileWire, ATargetHeldOpenWithoutSharingFails) {
    ASSERT_TRUE(WriteWhole(target, "held contents"));
    FileHandle holder(
        ::CreateFileA(target.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    ExpectRefusedTarget(target);
    holder.reset();
    EXPECT_EQ(Contents(target), "held contents");
}

TEST_F(FetchToFileWire, ATargetThatIsAFolderFails) {
    ASSERT_TRUE(::CreateDirectoryA(target.c_str(), nullptr));
    ExpectRefusedTarget(target);
    EXPECT_TRUE(::GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    ::RemoveDirectoryA(target.c_str());
}

TEST_F(FetchToFileWire, AReadOnlyTargetFails) {
    ASSERT_TRUE(WriteWhole(target, "read-only contents"));
    ASSERT_TRUE(::SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY));
    ExpectRefusedTarget(target);
    EXPECT_EQ(Contents(target), "read-only contents");
}

TEST_F(FetchToFileWire, ATargetInAMissingFolderFails) {
    const std::string missing = folder + "\\no-such-folder\\f.bin";
    bench.Add(Route(FilePath, FilesHost).Generated(1000));
    EXPECT_EQ(agent.FetchToFile(FileUrl, missing.c_str(), nullptr), E_FAIL);
    EXPECT_FALSE(Exists(folder + "\\no-such-folder"));
    ExpectNoStatusKept();
}

TEST_F(FetchToFileWire, ATransferCutShortFailsWithNothingKept) {
    struct Case {
        const char* what;
        Route route;
        size_t atMost;
    };
    const Case cases[] = {
        {"closed mid-body", Route(FilePath, FilesHost).Generated(200000).CloseAfter(50000), 50000},
        {"fewer bytes than announced", Route(FilePath, FilesHost).Generated(100000).ContentLength(300000), 100000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(bench.Reset());
        bench.Add(c.route);
        EXPECT_EQ(agent.FetchToFile(FileUrl, target.c_str(), nullptr), E_FAIL);
        // The status was a 200, so the slots hold nothing: the failure is the transfer's.
        ExpectNoStatusKept();
        const std::string stored = Contents(target);
        EXPECT_LE(stored.size(), c.atMost);
        EXPECT_TRUE(HoldsPattern(stored, stored.size())) << "what was stored is what arrived, in order";
    }
}

TEST_F(FetchToFileWire, ATransferThatStallsEndsAsAFailure) {
    // The bounded wait of every exchange, shortened so that the stall is given up quickly.
    struct ShortWait {
        ShortWait() { web::SetExchangeTimeoutMs(1500); }
        ~ShortWait() { web::SetExchangeTimeoutMs(web::DEFAULT_EXCHANGE_TIMEOUT_MS); }
    } shortWait;
    bench.Add(Route(FilePath, FilesHost).Generated(100000).StallAfter(20000));
    EXPECT_EQ(agent.FetchToFile(FileUrl, target.c_str(), nullptr), E_FAIL);
    ExpectNoStatusKept();
    const std::string stored = Contents(target);
    EXPECT_LE(stored.size(), 20000u);
    EXPECT_TRUE(HoldsPattern(stored, stored.size()));
}

// --- refused before or at the exchange ---

TEST_F(FetchToFileWire, UnknownSchemeIsAnExchangeWithStatus0) {
    EXPECT_EQ(agent.FetchToFile("gopher://files.norvik.example:70/pub/f.bin", target.c_str(), nullptr),
              AGENT_E_HTTP_STATUS);
    LONG status = -1;
    EXPECT_EQ(agent.GetLastHttpStatus(&status), S_OK);
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(Exists(target));
}

TEST_F(FetchToFileWire, EmptyOrRefusedArgumentsMakeNoFile) {
    struct Case {
        const char* url;
        std::string path;
    };
    const Case cases[] = {
        {"", target},
        {FileUrl, ""},
        {"", ""},
        {"files.norvik.example/pub/f.bin", target},  // no scheme
        {"http://files.norvik.example:0/pub/f.bin", target},
        {"ftp://127.0.0.1:65536/f.bin", target},
    };
    bench.Add(Route(FilePath, FilesHost).Generated(1000));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.url << "\" to \"" << c.path << '"');
        EXPECT_EQ(agent.FetchToFile(c.url, c.path.c_str(), nullptr), E_INVALIDARG);
        EXPECT_FALSE(Exists(target));
        ExpectNoStatusKept();
    }
}

}  // namespace
}  // namespace tamsel::agent
