#pragma once
// Timing and memory figures for the timed benchmark tools.
#include <sys/resource.h>

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
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

// Adds `rows` queue rows through insertSql, whose three markers take the number, the text and the
// registration moment (one millisecond apart); the caller holds the transaction.
inline void InsertQueueRows(sqlite3* db, const char* insertSql, int rows, const std::function<std::string(int)>& text) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, insertSql, -1, &st, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
    for (int i = 0; i < rows; ++i) {
        const std::string gsm = "0532" + std::to_string(1000000 + i);
        const std::string message = text(i);
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "2026-12-10 %02d:%02d:%02d.%03d", i / 3600000 % 24, i / 60000 % 60,
                      i / 1000 % 60, i % 1000);
        sqlite3_bind_text(st, 1, gsm.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 2, message.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, stamp, -1, SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
}

// Removes a database file with its write-ahead log.
inline void RemoveDb(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
}

} // namespace velmora::bench
