#include "platform/SingleInstance.h"

#include "platform/Paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace velmora::platform {

namespace {

#ifdef _WIN32
class MutexLock : public RunLock {
public:
    explicit MutexLock(HANDLE h) : handle_(h) {}
    ~MutexLock() override {
        ReleaseMutex(handle_);
        CloseHandle(handle_);
    }
private:
    HANDLE handle_;
};
#else
class FileLock : public RunLock {
public:
    explicit FileLock(int fd) : fd_(fd) {}
    ~FileLock() override {
        flock(fd_, LOCK_UN);
        close(fd_);
    }
private:
    int fd_;
};
#endif

} // namespace

std::unique_ptr<RunLock> RunLock::TryAcquire() {
#ifdef _WIN32
    HANDLE h = CreateMutexW(nullptr, FALSE, L"Global\\VelmoraRun");
    if (!h) return nullptr;
    DWORD r = WaitForSingleObject(h, 0);
    if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) {
        CloseHandle(h);
        return nullptr;
    }
    return std::make_unique<MutexLock>(h);
#else
    std::string path = GetEnv("VELMORA_LOCK_FILE");
    if (path.empty()) {
        try {
            path = TempDirectory() + "velmora.lock";
        } catch (...) {
            path = "/tmp/velmora.lock";
        }
    }
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return nullptr;
    }
    return std::make_unique<FileLock>(fd);
#endif
}

} // namespace velmora::platform
