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
    std::wstring name = L"Global\\VelmoraRun";
    std::string other = GetEnv("VELMORA_LOCK_FILE");
    if (!other.empty()) {
        // A backslash would be read as a namespace separator in a mutex name.
        name += L"-";
        for (char c : other) name += c == '\\' ? L'/' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    // The mutex lives while a run holds a handle to it, so "already exists" means a run is active.
    // Unlike waiting on it, this also refuses a second acquisition by the same thread.
    HANDLE h = CreateMutexW(nullptr, TRUE, name.c_str());
    if (!h) return nullptr;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
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
