#pragma once
// A system-wide lock held for a whole run, so that two scheduler starts never send the same rows twice.
#include <memory>
#include <string>

namespace velmora::platform {

class RunLock {
public:
    // Windows: a named mutex; elsewhere an advisory lock on a file
    // (VELMORA_LOCK_FILE, default velmora.lock in the temporary folder).
    static std::unique_ptr<RunLock> TryAcquire();
    virtual ~RunLock() = default;
};

} // namespace velmora::platform
