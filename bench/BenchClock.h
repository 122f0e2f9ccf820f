// Wall-clock and CPU timing, and the one-line results that scripts/bench.sh reads back.
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace tamsel::bench {

class Stopwatch {
public:
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    }
    double Milliseconds() const { return Seconds() * 1000.0; }

private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

// User plus kernel time of the whole process, all its threads (a download's closing worker too), since
// construction. Under Wine the figure comes from times() of the Unix process, in clock ticks (10 ms).
class CpuClock {
public:
    double Seconds() const { return (Now() - m_start) / 1e7; }

private:
    static uint64_t Now() {
        FILETIME created, ended, kernel, user;
        if (!::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user)) return 0;
        return Ticks(kernel) + Ticks(user);
    }
    static uint64_t Ticks(const FILETIME& time) {  // 100 ns units
        return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    }

    uint64_t m_start = Now();
};

// "name=value" on a line of its own, flushed at once: the script may be waiting for it.
inline void Report(const char* name, double value) {
    std::printf("%s=%.6f\n", name, value);
    std::fflush(stdout);
}

inline void Report(const char* name, const char* value) {
    std::printf("%s=%s\n", name, value);
    std::fflush(stdout);
}

}  // namespace tamsel::bench
