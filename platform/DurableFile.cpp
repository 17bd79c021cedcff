// Durable whole-file replacement: temporary file, flush to disk, atomic rename.
#include "platform/DurableFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Paths.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velmora::platform {

namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
    throw EFileError("The file \"" + path + "\" cannot be written: " + why);
}

#ifndef _WIN32
std::string ErrnoText() { return std::strerror(errno); }
#endif

} // namespace

void WriteFileDurably(const std::string& path, const std::string& bytes) {
    const std::string dir = ExtractFileDir(path);
#ifdef _WIN32
    ForceDirectories(dir);
    const std::string temp = path + ".yeni";
    std::u16string wtemp = Utf8ToUtf16(temp), wpath = Utf8ToUtf16(path);
    auto wt = reinterpret_cast<const wchar_t*>(wtemp.c_str());
    HANDLE h = CreateFileW(wt, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) Fail(path, "the temporary file cannot be created");
    size_t done = 0;
    bool ok = true;
    while (ok && done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        ok = WriteFile(h, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    ok = ok && FlushFileBuffers(h);
    CloseHandle(h);
    if (!ok || !MoveFileExW(wt, reinterpret_cast<const wchar_t*>(wpath.c_str()),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(wt);
        Fail(path, "writing or renaming the temporary file failed");
    }
#else
    if (!dir.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(dir, ec)) {
            ForceDirectories(dir);
            ::chmod(dir.c_str(), 0700);
        }
    }
    // Exclusive creation: a name planted in the folder is never written through.
    const std::string temp = path + ".yeni." + std::to_string(::getpid());
    ::unlink(temp.c_str());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) Fail(path, "the temporary file cannot be created: " + ErrnoText());
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            std::string why = ErrnoText();
            ::close(fd);
            ::unlink(temp.c_str());
            Fail(path, why);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) {
        std::string why = ErrnoText();
        ::close(fd);
        ::unlink(temp.c_str());
        Fail(path, why);
    }
    ::close(fd);
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        std::string why = ErrnoText();
        ::unlink(temp.c_str());
        Fail(path, why);
    }
    // The rename itself is durable only once the folder is flushed.
    int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
#endif
}

} // namespace velmora::platform
