#pragma once
// The run log: lines held in memory for one run, written once at the end, replacing the last run's file.
#include <string>
#include <vector>

namespace velmora::driver {

class TRunLog {
public:
    void Add(const std::string& line) { lines_.push_back(line); }
    const std::vector<std::string>& Lines() const { return lines_; }
    // Every line followed by CR LF, in the ANSI code page, no byte-order mark.
    std::string FileBytes() const;
    // Creates the directory when missing and replaces the file as a whole; throws EFileError on failure,
    // after moving the previous run's file aside (PreviousLogPath), so it is never taken for this run's.
    void WriteTo(const std::string& path) const;
private:
    std::vector<std::string> lines_;
};

// Where a log that could not be replaced is moved: "<path>.onceki".
std::string PreviousLogPath(const std::string& path);

// Windows: "c:\Logs\Velmora.log"; elsewhere VELMORA_LOG_FILE or "/var/log/velmora/Velmora.log".
std::string LogFilePath();

// The folder of the tenants' verdict journals: VELMORA_JOURNAL_DIR, else "Kararlar" beside the run log
// (Windows: "c:\Logs\Kararlar"; elsewhere "/var/log/velmora/Kararlar" or beside VELMORA_LOG_FILE).
std::string JournalFolderPath();

} // namespace velmora::driver
