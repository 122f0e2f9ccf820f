// The small disk as a Windows program under Wine sees it: the size the runner mounted, and a full disk.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <vector>

#include "base/Handle.h"
#include "support/SmallDisk.h"

namespace tamsel::testbed {
namespace {

class SmallDiskDrive : public SmallDiskTest {
protected:
    // Free bytes on the disk, as the platform reports them to a caller that checks before it writes.
    uint64_t FreeBytes() {
        ULARGE_INTEGER available{}, total{}, free{};
        EXPECT_TRUE(::GetDiskFreeSpaceExW(disk.Root().c_str(), &available, &total, &free)) << ::GetLastError();
        EXPECT_EQ(total.QuadPart, disk.Bytes()) << "the drive is not the runner's tmpfs";
        EXPECT_EQ(available.QuadPart, free.QuadPart);
        return available.QuadPart;
    }
};

TEST_F(SmallDiskDrive, ReportsTheSizeTheRunnerMountedAllFree) {
    EXPECT_EQ(disk.Bytes(), 4u << 20);
    EXPECT_EQ(FreeBytes(), disk.Bytes());
}

// What each WriteFile call answered.
struct WriteResult {
    bool ok;
    DWORD written;
    DWORD error;  // GetLastError after a failure; 0 after a success
    bool operator==(const WriteResult& other) const {
        return ok == other.ok && written == other.written && error == other.error;
    }
};

std::ostream& operator<<(std::ostream& out, const WriteResult& r) {
    return out << "{" << (r.ok ? "TRUE" : "FALSE") << ", " << r.written << " bytes, error " << r.error << "}";
}

// The fact the downloads that meet a full disk rely on. Under Wine a write that crosses the end is cut
// short and still answers TRUE, with fewer bytes written than asked; the next one fails with
// ERROR_DISK_FULL (0x70). So a writer must take a short write for a full disk too, not only a FALSE.
TEST_F(SmallDiskDrive, WritesPastItsEndFailWithDiskFull) {
    const DWORD piece = 3u << 19;  // 1.5 MiB: the third crosses the end of the 4 MiB
    const std::vector<char> bytes(piece, 'x');
    std::vector<WriteResult> results;
    {
        FileHandle file(::CreateFileW(disk.Path(L"fill.bin").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file) << ::GetLastError();
        for (int call = 0; call < 5 && (results.empty() || results.back().ok); ++call) {
            DWORD written = 0;
            const bool ok = ::WriteFile(file.get(), bytes.data(), piece, &written, nullptr);
            results.push_back({ok, written, ok ? 0 : ::GetLastError()});
        }
        LARGE_INTEGER size{};
        ASSERT_TRUE(::GetFileSizeEx(file.get(), &size));
        EXPECT_EQ(static_cast<uint64_t>(size.QuadPart), disk.Bytes()) << "the file holds every byte there was room for";
        EXPECT_EQ(FreeBytes(), 0u);
    }
    const std::vector<WriteResult> expected = {
        {true, piece, 0},
        {true, piece, 0},
        {true, (4u << 20) - 2 * piece, 0},  // cut short at the end
        {false, 0, ERROR_DISK_FULL},
    };
    EXPECT_EQ(results, expected);

    ASSERT_TRUE(disk.Clear());
    EXPECT_EQ(FreeBytes(), disk.Bytes()) << "clearing the disk frees all of it for the next test";
}

}  // namespace
}  // namespace tamsel::testbed
