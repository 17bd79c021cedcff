// The crash points tests use to end the program at a chosen moment.
#include "platform/CrashPoint.h"

#include <cstring>
#include <string>

#include "platform/Paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace velmora::platform {

void CrashPoint(const char* name) {
    static const std::string chosen = GetEnv("VELMORA_CRASH_AT");
    if (chosen.empty() || chosen != name) return;
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), 9);
#else
    ::kill(::getpid(), SIGKILL);
    ::_exit(137);
#endif
}

} // namespace velmora::platform
