#pragma once
// A lock held for a whole run, so that two scheduler starts never send the same rows twice.
#include <memory>
#include <string>

#include "platform/FileLock.h"

namespace velmora::platform {

// Where the run lock lives: VELMORA_LOCK_FILE when set; otherwise a file in a folder of this account's
// own (Windows: %LOCALAPPDATA%\Velmora\velmora.lock; elsewhere $XDG_STATE_HOME/velmora/velmora.lock,
// by default ~/.local/state/velmora/velmora.lock). No other account can create, hold or redirect it.
std::string RunLockPath();

class RunLock {
public:
    struct Attempt {
        std::unique_ptr<RunLock> lock;  // set when this run holds the lock
        bool heldElsewhere = false;     // a running run holds it
        std::string path;
        std::string error;              // the lock could not be opened, created or trusted
    };
    // Takes the lock without waiting. A lock left by a killed run is free again.
    static Attempt Acquire();
    // The same, nullptr when the lock was not taken for any reason.
    static std::unique_ptr<RunLock> TryAcquire() { return Acquire().lock; }

    explicit RunLock(std::unique_ptr<FileLock> file) : file_(std::move(file)) {}

private:
    std::unique_ptr<FileLock> file_;
};

} // namespace velmora::platform
