// The small disk of the tests that run out of room: what the runner named, and emptying it between tests.
#include "support/SmallDisk.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

#include "support/TestHandles.h"

namespace tamsel::testbed {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());  // drive paths of the tests: ASCII
}

// Deletes what lies in `folder` ("T:" or a folder below it), files as they are listed, folders deepest
// first, without recursion. Answers what could not be removed.
std::vector<std::wstring> RemoveEverythingIn(const std::wstring& folder) {
    std::vector<std::wstring> toList{folder};
    std::vector<std::wstring> folders;  // each after the folder it lies in
    std::vector<std::wstring> left;
    while (!toList.empty()) {
        const std::wstring current = toList.back();
        toList.pop_back();
        WIN32_FIND_DATAW found;
        web::FindHandle search(::FindFirstFileW((current + L"\\*").c_str(), &found));
        for (bool more = static_cast<bool>(search); more; more = ::FindNextFileW(search.get(), &found)) {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = current + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                toList.push_back(path);
                folders.push_back(path);
                continue;
            }
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);  // read-only files too
            if (!::DeleteFileW(path.c_str())) left.push_back(path);
        }
    }
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        if (!::RemoveDirectoryW(folder->c_str())) left.push_back(*folder);
    }
    return left;
}

}  // namespace

SmallDisk::SmallDisk() {
    const std::string drive = Environment("TAMSEL_SMALL_DISK");
    m_bytes = std::strtoull(Environment("TAMSEL_SMALL_DISK_BYTES").c_str(), nullptr, 10);
    if (!drive.empty() && m_bytes != 0) {
        m_drive.assign(drive.begin(), drive.end());
        return;
    }
    m_whyMissing = Environment("TAMSEL_SMALL_DISK_SKIPPED");
    if (m_whyMissing.empty()) {
        m_whyMissing = "no small disk: run this test through testbed/with-testbed.sh --small-disk (ctest does)";
    }
}

bool SmallDisk::Clear() const {
    // Everything on the drive goes, so the drive must be the runner's tmpfs: a drive of another size named
    // by mistake (C:, or Z:, the whole Unix tree) is left alone.
    ULARGE_INTEGER total{};
    if (!::GetDiskFreeSpaceExW(Root().c_str(), nullptr, &total, nullptr) || total.QuadPart != m_bytes) {
        ADD_FAILURE() << Narrow(m_drive) << " is not the small disk of " << m_bytes << " bytes (error "
                      << ::GetLastError() << ", size " << total.QuadPart << "): nothing removed";
        return false;
    }
    const std::vector<std::wstring> left = RemoveEverythingIn(m_drive);
    for (const std::wstring& path : left) ADD_FAILURE() << "cannot remove " << Narrow(path) << " from the small disk";
    return left.empty();
}

void SmallDiskTest::SetUp() {
    if (!disk.Ready()) GTEST_SKIP() << disk.WhyMissing();
    TestbedTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(disk.Clear()) << "an earlier test's files still fill the small disk";
}

}  // namespace tamsel::testbed
