// The small disk of the tests that run out of room: a tmpfs the runner gives the Wine prefix as a drive.
// with-testbed.sh --small-disk (tamsel_add_test SMALL_DISK) mounts it and names it in the environment;
// see testbed/README.md. Where the machine mounts none, the tests skip themselves and say why.
#pragma once

#include <cstdint>
#include <string>

#include "support/Testbed.h"

namespace tamsel::testbed {

class SmallDisk {
public:
    // Reads TAMSEL_SMALL_DISK (the drive, "T:") and TAMSEL_SMALL_DISK_BYTES, or TAMSEL_SMALL_DISK_SKIPPED.
    SmallDisk();

    bool Ready() const { return !m_drive.empty(); }
    // Why there is no small disk, when there is none.
    const std::string& WhyMissing() const { return m_whyMissing; }
    // Its size in bytes, as the runner mounted it.
    uint64_t Bytes() const { return m_bytes; }
    // "T:\" and what lies in it.
    std::wstring Root() const { return m_drive + L"\\"; }
    std::wstring Path(const std::wstring& name) const { return Root() + name; }
    // Removes every file and folder on it, so that all of it is free again; false (and a test failure
    // saying what is left) when something stays, or when the drive is not a volume of Bytes().
    bool Clear() const;

private:
    std::wstring m_drive;
    uint64_t m_bytes = 0;
    std::string m_whyMissing;
};

// Fixture base: each test starts beside a reset loopback server with the small disk empty, or is skipped,
// with the reason, where the runner could mount none.
class SmallDiskTest : public TestbedTest {
protected:
    void SetUp() override;

    SmallDisk disk;
};

}  // namespace tamsel::testbed
