#pragma once
// A system-wide lock held for a whole run, so that two scheduler starts never send the same rows twice.
#include <memory>
#include <string>

namespace velmora::platform {

class RunLock {
public:
    // Windows: the named mutex "Global\\VelmoraRun"; elsewhere an advisory lock on a file
    // (default velmora.lock in the temporary folder). VELMORA_LOCK_FILE names another lock (a file,
    // or on Windows a mutex named after it), so tests running side by side do not shut each other out.
    static std::unique_ptr<RunLock> TryAcquire();
    virtual ~RunLock() = default;
};

} // namespace velmora::platform
