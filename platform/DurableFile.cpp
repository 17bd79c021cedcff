// Files that must survive a crash: the owner-only folder and the atomic, flushed replacement.
#include "platform/DurableFile.h"

#include "platform/Paths.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace velmora::platform {

void WriteFileDurably(const std::string& path, const std::string& bytes) {
    const std::string dir = ExtractFileDir(path);
    if (!dir.empty() && !DirectoryExists(dir)) {
        ForceDirectories(dir);
#ifndef _WIN32
        ::chmod(dir.c_str(), 0700);
#endif
    }
    WriteFileAtomically(path, bytes, FileReaders::OwnerOnly);
}

} // namespace velmora::platform
