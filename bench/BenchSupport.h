#pragma once
// Timing and memory figures for the timed benchmark tools.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace velmora::bench {

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double Seconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }
private:
    std::chrono::steady_clock::time_point start_;
};

// Peak resident memory of the process so far, in MiB.
inline double PeakMiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

inline void Report(const char* what, double seconds, long rows) {
    std::printf("%-44s %8.3f s  %10.0f rows/s  peak %7.1f MiB\n", what, seconds, rows / seconds, PeakMiB());
}

} // namespace velmora::bench
