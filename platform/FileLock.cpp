// FileLock: flock on POSIX, an unshared handle on Windows; both vanish with the process that holds them.
#include "platform/FileLock.h"

#include <cerrno>
#include <cstring>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velmora::platform {

namespace {

#ifdef _WIN32
std::wstring Wide(const std::string& utf8) {
    std::u16string w = Utf8ToUtf16(utf8);
    return std::wstring(w.begin(), w.end());
}

std::string SystemText(DWORD code) {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (n && buffer) {
        text = Utf16ToUtf8(std::u16string(buffer, buffer + n));
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    }
    if (buffer) LocalFree(buffer);
    return text.empty() ? "error " + std::to_string(code) : text;
}
#else
std::string ErrnoText(int code) { return std::strerror(code); }
#endif

} // namespace

FileLockAttempt FileLock::TryLock(const std::string& path, bool requireOwner) {
    FileLockAttempt attempt;
#ifdef _WIN32
    (void)requireOwner;  // the handle is not shared: nobody else can open, let alone hold, the file meanwhile
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) attempt.heldElsewhere = true;
        else attempt.error = SystemText(code);
        return attempt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        CloseHandle(h);
        attempt.error = "it is a link or a folder, not a lock file";
        return attempt;
    }
    attempt.lock.reset(new FileLock(path, reinterpret_cast<intptr_t>(h)));
#else
    // O_NOFOLLOW: a link planted in the lock's place must not make us create or lock another file.
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        const int code = errno;
        attempt.error = code == ELOOP ? "it is a symbolic link, not a lock file" : ErrnoText(code);
        return attempt;
    }
    struct stat st{};
    std::string distrust;
    if (fstat(fd, &st) != 0) distrust = ErrnoText(errno);
    else if (!S_ISREG(st.st_mode)) distrust = "it is not a regular file";
    else if (requireOwner && st.st_uid != geteuid()) distrust = "it belongs to another account";
    else if (requireOwner && (st.st_mode & (S_IWGRP | S_IWOTH))) distrust = "others may write to it";
    if (!distrust.empty()) {
        close(fd);
        attempt.error = distrust;
        return attempt;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        close(fd);
        if (code == EWOULDBLOCK) attempt.heldElsewhere = true;
        else attempt.error = ErrnoText(code);
        return attempt;
    }
    attempt.lock.reset(new FileLock(path, fd));
#endif
    return attempt;
}

FileLock::~FileLock() {
#ifdef _WIN32
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
#else
    const int fd = static_cast<int>(handle_);
    flock(fd, LOCK_UN);
    close(fd);
#endif
}

void EnsurePrivateDirectory(const std::string& path) {
    if (path.empty()) return;
#ifdef _WIN32
    // Below the account's own profile folder the inherited access rules already keep others out.
    ForceDirectories(path);
#else
    const std::string parent = ExtractFileDir(path);
    if (!parent.empty() && parent != path) ForceDirectories(parent);
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        throw EFileError("The folder \"" + path + "\" cannot be created: " + ErrnoText(errno));
    struct stat st{};
    if (lstat(path.c_str(), &st) != 0) throw EFileError("The folder \"" + path + "\" cannot be read: " + ErrnoText(errno));
    if (!S_ISDIR(st.st_mode)) throw EFileError("\"" + path + "\" is not a folder (a link or a file is in its place)");
    if (st.st_uid != geteuid()) throw EFileError("The folder \"" + path + "\" belongs to another account");
    if (st.st_mode & (S_IWGRP | S_IWOTH)) throw EFileError("Others may write to the folder \"" + path + "\"");
#endif
}

} // namespace velmora::platform
