#pragma once
// An exclusive lock on a file that the operating system drops when its holder ends, killed or not.
#include <cstdint>
#include <memory>
#include <string>

namespace velmora::platform {

class FileLock;

struct FileLockAttempt {
    std::unique_ptr<FileLock> lock;  // set when the lock was taken
    bool heldElsewhere = false;      // another holder has it (another process, or another holder here)
    std::string error;               // set when the file could not be opened, created or trusted
};

class FileLock {
public:
    // Opens the file (creating it, owner-only, when missing) and locks it without waiting. A symbolic
    // link or anything but a regular file is refused; with requireOwner, so is a file another account
    // owns or that others may write to (POSIX; on Windows the file is opened without sharing and
    // without following reparse points). Never throws.
    static FileLockAttempt TryLock(const std::string& path, bool requireOwner);

    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    const std::string& Path() const { return path_; }

private:
    FileLock(std::string path, intptr_t handle) : path_(std::move(path)), handle_(handle) {}
    std::string path_;
    intptr_t handle_;
};

// Creates the directory (and its parents) for files only this account may touch: on POSIX the last
// level is made mode 0700 and must be owned by this account and writable by nobody else. Throws
// EFileError when the folder cannot be made or trusted.
void EnsurePrivateDirectory(const std::string& path);

} // namespace velmora::platform
