// Wall-clock timing and the one-line results that scripts/bench.sh reads back.
#pragma once

#include <chrono>
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
