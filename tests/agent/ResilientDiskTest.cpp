// FetchToFileResilient on a small disk: a file that cannot fit is refused before its first byte, and a disk
// that fills during the transfer ends the call at once (never retried), keeping the partial file with RESUME.
#include "support/FacedAgent.h"

#include "support/Files.h"
#include "support/SmallDisk.h"
#include "support/Testbed.h"

#include <string>

namespace tamsel::agent {
namespace {

using testbed::FILES_HOST;
using testbed::Route;

constexpr char FILE_PATH[] = "/f.bin";
constexpr char SOURCES[] = "http://files.norvik.example/f.bin\0";
constexpr HRESULT DISK_FULL = HRESULT_FROM_WIN32(ERROR_DISK_FULL);

class ResilientDisk : public testbed::SmallDiskTest {
protected:
    HRESULT Fetch(ULONG flags, LONGLONG expectedSize = -1) {
        info = {};
        info.cbSize = sizeof(info);
        return agent.FetchToFileResilient(SOURCES, target.c_str(), nullptr, flags, expectedSize, nullptr, &policy,
                                          &info);
    }
    int64_t SizeOn(const std::wstring& path) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
        return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }

    test::FacedAgent agent;
    std::wstring target = disk.Path(L"big.bin");
    std::wstring partial = target + L".tamsel-partial";
    TAMSEL_DOWNLOAD_POLICY policy = {sizeof(TAMSEL_DOWNLOAD_POLICY), 5, 1, 0, 0, 0, 0};
    TAMSEL_DOWNLOAD_INFO info{};
};

TEST_F(ResilientDisk, AFileThatCannotFitIsRefusedBeforeItsFirstByte) {
    const struct {
        const char* why;
        Route route;
        LONGLONG expected;
    } cases[] = {
        {"the length the reply announces", Route(FILE_PATH, FILES_HOST).Generated(4u << 20), -1},
        {"the size expected, the reply announcing none",
         Route(FILE_PATH, FILES_HOST).Generated(4u << 20).NoContentLength(), 4u << 20},
        {"3.5 MiB: the file would fit, the margin of 1 MiB beside it not",
         Route(FILE_PATH, FILES_HOST).Generated(7u << 19), -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        ASSERT_TRUE(loopback.Reset());
        loopback.Add(c.route);
        EXPECT_EQ(Fetch(TAMSEL_FETCH_RESUME, c.expected), DISK_FULL);
        EXPECT_EQ(info.attempts, 1u) << "a local failure is not retried";
        EXPECT_EQ(info.lastAttemptResult, DISK_FULL);
        EXPECT_EQ(info.bytesReceived, 0);
        EXPECT_EQ(SizeOn(target), -1);
        EXPECT_EQ(SizeOn(partial), -1) << "nothing written, not even an empty partial file";
        EXPECT_EQ(SizeOn(target + L".tamsel-resume"), -1);
    }
}

TEST_F(ResilientDisk, ADiskThatFillsDuringTheTransferEndsTheCallAndKeepsThePartialFileWithResume) {
    for (const ULONG flags : {ULONG(TAMSEL_FETCH_RESUME), ULONG(0)}) {
        SCOPED_TRACE(flags);
        ASSERT_TRUE(loopback.Reset());
        // No length announced: the check before the first byte passes, and the disk fills on the way.
        loopback.Add(Route(FILE_PATH, FILES_HOST).Generated(6u << 20).NoContentLength());
        EXPECT_EQ(Fetch(flags), DISK_FULL);
        EXPECT_EQ(info.attempts, 1u);
        EXPECT_EQ(info.lastAttemptResult, DISK_FULL);
        EXPECT_GT(info.bytesReceived, 0);
        EXPECT_EQ(SizeOn(target), -1);
        if (flags != 0) {
            EXPECT_GT(SizeOn(partial), 1 << 20) << "kept to resume once there is room";
        } else {
            EXPECT_EQ(SizeOn(partial), -1) << "without RESUME nothing stays beside the target";
        }
        ASSERT_TRUE(disk.Clear());
    }
}

}  // namespace
}  // namespace tamsel::agent
