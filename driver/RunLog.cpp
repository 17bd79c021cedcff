// The run log: lines kept in memory and written once, in the ANSI code page, at the end of the run.
#include "driver/RunLog.h"

#include "platform/CodePage.h"
#include "platform/Paths.h"

namespace velmora::driver {

std::string TRunLog::FileBytes() const {
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += "\r\n";
    }
    return platform::Utf8ToAnsi(text);
}

void TRunLog::WriteTo(const std::string& path) const {
    platform::ForceDirectories(platform::ExtractFileDir(path));
    try {
        // Whole or not at all: a full disk must not leave an empty or half-written log.
        platform::WriteFileAtomically(path, FileBytes());
    } catch (...) {
        // The last run's log must not pass for this run's: it is moved aside (a rename needs no free space).
        const std::string aside = PreviousLogPath(path);
        platform::DeleteFileIfExists(aside);
        if (!platform::RenameFile(path, aside)) platform::DeleteFileIfExists(path);
        throw;
    }
}

std::string PreviousLogPath(const std::string& path) { return path + ".onceki"; }

std::string LogFilePath() {
    // The override lets tests and the demo keep their logs apart; a scheduled run never sets it.
    std::string overridden = platform::GetEnv("VELMORA_LOG_FILE");
    if (!overridden.empty()) return overridden;
#ifdef _WIN32
    return "c:\\Logs\\Velmora.log";
#else
    return "/var/log/velmora/Velmora.log";
#endif
}

std::string JournalFolderPath() {
    std::string overridden = platform::GetEnv("VELMORA_JOURNAL_DIR");
    if (!overridden.empty()) return overridden;
    std::string dir = platform::ExtractFileDir(LogFilePath());
    return (dir.empty() ? std::string(".") : dir) + platform::PathSeparator() + "Kararlar";
}

} // namespace velmora::driver
