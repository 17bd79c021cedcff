// The run lock: one run at a time per account.
#include "platform/SingleInstance.h"

#include "platform/Error.h"
#include "platform/Paths.h"

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace velmora::platform {

namespace {

// The account's own state folder for the lock; throws EFileError when there is none.
std::string PrivateLockFolder() {
#ifdef _WIN32
    // A per-user folder rather than a named mutex: a "Global\" name can be created first by any other
    // session, and even a "Local\" one by another account in the same session, which would shut our runs
    // out or fool the check. The profile folder admits this account, SYSTEM and administrators only.
    std::string base = GetEnv("LOCALAPPDATA");
    if (base.empty()) {
        std::string profile = GetEnv("USERPROFILE");
        if (profile.empty()) throw EFileError("the account has no profile folder (LOCALAPPDATA is not set)");
        base = profile + "\\AppData\\Local";
    }
    return base + "\\Velmora";
#else
    std::string base = GetEnv("XDG_STATE_HOME");
    if (base.empty() || base.front() != '/') {
        std::string home = GetEnv("HOME");
        if (home.empty()) {
            if (const passwd* pw = getpwuid(geteuid())) home = pw->pw_dir ? pw->pw_dir : "";
        }
        if (home.empty() || home.front() != '/') throw EFileError("the account has no home folder");
        base = home + "/.local/state";
    }
    return base + "/velmora";
#endif
}

} // namespace

std::string RunLockPath() {
    std::string path = GetEnv("VELMORA_LOCK_FILE");
    if (!path.empty()) return path;
    return PrivateLockFolder() + PathSeparator() + "velmora.lock";
}

RunLock::Attempt RunLock::Acquire() {
    Attempt attempt;
    try {
        attempt.path = RunLockPath();
        if (GetEnv("VELMORA_LOCK_FILE").empty()) EnsurePrivateDirectory(ExtractFileDir(attempt.path));
    } catch (const std::exception& e) {
        attempt.error = e.what();
        return attempt;
    }
    FileLockAttempt file = FileLock::TryLock(attempt.path, true);
    attempt.heldElsewhere = file.heldElsewhere;
    attempt.error = file.error;
    if (file.lock) attempt.lock = std::make_unique<RunLock>(std::move(file.lock));
    return attempt;
}

} // namespace velmora::platform
