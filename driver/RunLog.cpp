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
    platform::WriteFileReplacing(path, FileBytes());
}

std::string LogFilePath() {
#ifdef _WIN32
    return "c:\\Logs\\Velmora.log";
#else
    std::string overridden = platform::GetEnv("VELMORA_LOG_FILE");
    return overridden.empty() ? std::string("/var/log/velmora/Velmora.log") : overridden;
#endif
}

} // namespace velmora::driver
