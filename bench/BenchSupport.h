#pragma once
// Timing and memory figures for the timed benchmark tools.
#include <sys/resource.h>

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

// Runs SQL on a raw connection; a benchmark cannot go on after a failed set-up step.
inline void Exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s\n", err ? err : "unknown error");
        std::exit(1);
    }
}

// Removes a database file with its write-ahead log.
inline void RemoveDb(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
}

} // namespace velmora::bench
