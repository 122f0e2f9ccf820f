// Bounds for tests of waits: a call given a time limit on a thread of its own, and shortened product waits.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

namespace tamsel::test {

// Runs work on a thread of its own and waits at most limitMs for it. On time out the thread is left
// running with everything it owns (capture by value or shared_ptr), so a hang fails the test instead
// of stalling the suite.
class BoundedRun {
public:
    explicit BoundedRun(std::function<void()> work) : m_work(std::move(work)) {}

    // True when the work ended within limitMs; elapsedMs then tells how long it ran (or was waited for).
    bool Within(DWORD limitMs);

    long long elapsedMs = 0;

private:
    std::function<void()> m_work;
};

// Shortens every bounded wait of the component for the length of a test, so that a stall is given up
// in seconds, and puts the product's value back at scope exit.
class ShortWaits {
public:
    explicit ShortWaits(uint32_t milliseconds);
    ~ShortWaits();
    ShortWaits(const ShortWaits&) = delete;
    ShortWaits& operator=(const ShortWaits&) = delete;
};

}  // namespace tamsel::test
