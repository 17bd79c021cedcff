// Paths, files and folders: the executable's folder, temporary files, whole-file reads and writes.
#include "platform/Paths.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/CodePage.h"
#include "platform/Error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace velmora::platform {

namespace {

// Our paths are UTF-8 text. A narrow path means the ANSI code page to Windows, which cannot hold
// every name; going through the u8 forms keeps a folder named in Turkish reachable everywhere.
fs::path FromUtf8(const std::string& path) { return fs::path(std::u8string(path.begin(), path.end())); }

std::string ToUtf8(const fs::path& path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace

char PathSeparator() {
#ifdef _WIN32
    return '\\';
#else
    return '/';
#endif
}

std::string ExecutableDirectory() {
#ifdef _WIN32
    wchar_t buf[32768];
    DWORD n = GetModuleFileNameW(nullptr, buf, 32768);
    return ToUtf8(fs::path(std::wstring(buf, n)).parent_path()) + "\\";
#else
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return "./";
    return p.parent_path().string() + "/";
#endif
}

std::string GetEnv(const char* name) {
#ifdef _WIN32
    // The narrow environment is in the ANSI code page; the wide one holds any path.
    std::u16string wideName = Utf8ToUtf16(name);
    auto wname = reinterpret_cast<const wchar_t*>(wideName.c_str());
    DWORD n = GetEnvironmentVariableW(wname, nullptr, 0);
    if (n == 0) return {};
    std::u16string value(n, u'\0');
    n = GetEnvironmentVariableW(wname, reinterpret_cast<wchar_t*>(value.data()), n);
    value.resize(n);
    return Utf16ToUtf8(value);
#else
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
#endif
}

std::string TempDirectory() {
    std::error_code ec;
    fs::path p = fs::temp_directory_path(ec);
    if (ec) throw EFileError("The temporary folder cannot be found: " + ec.message());
    std::string s = ToUtf8(p);
    if (s.empty() || s.back() != PathSeparator()) s += PathSeparator();
    return s;
}

std::string CreateUniqueTempFile(const std::string& prefix) {
    std::string dir = TempDirectory();
#ifdef _WIN32
    wchar_t name[MAX_PATH + 1];
    std::wstring wdir = FromUtf8(dir).wstring();
    std::wstring wprefix = FromUtf8(prefix).wstring();
    if (GetTempFileNameW(wdir.c_str(), wprefix.c_str(), 0, name) == 0)
        throw EFileError("A temporary file name cannot be made in \"" + dir + "\"");
    return ToUtf8(fs::path(name));
#else
    std::string templ = dir + prefix + "XXXXXX";
    int fd = mkstemp(templ.data());
    if (fd < 0) throw EFileError("A temporary file cannot be created in \"" + dir + "\"");
    close(fd);
    return templ;
#endif
}

void ForceDirectories(const std::string& path) {
    if (path.empty()) return;
    std::error_code ec;
    fs::create_directories(FromUtf8(path), ec);
    if (ec) throw EFileError("The directory \"" + path + "\" cannot be created: " + ec.message());
}

std::string ExtractFileDir(const std::string& path) {
    size_t pos = path.find_last_of("/\\");
    if (pos == std::string::npos) return {};
    return path.substr(0, pos);
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(FromUtf8(path), ec);
}

bool DirectoryExists(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(FromUtf8(path), ec);
}

bool DeleteFileIfExists(const std::string& path) {
    std::error_code ec;
    return fs::remove(FromUtf8(path), ec);
}

bool RenameFile(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(FromUtf8(from), FromUtf8(to), ec);
    return !ec;
}

void WriteFileReplacing(const std::string& path, const std::string& bytes) {
    std::ofstream out(FromUtf8(path), std::ios::binary | std::ios::trunc);
    if (!out) throw EFileError("The file \"" + path + "\" cannot be written");
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw EFileError("The file \"" + path + "\" cannot be written");
}

bool CreateExclusiveFile(const std::string& path) {
#ifdef _WIN32
    HANDLE h = CreateFileW(FromUtf8(path).wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return false;
        throw EFileError("The file \"" + path + "\" cannot be created (error " + std::to_string(code) + ")");
    }
    CloseHandle(h);
    return true;
#else
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (errno == EEXIST) return false;
        throw EFileError("The file \"" + path + "\" cannot be created: " + std::strerror(errno));
    }
    close(fd);
    return true;
#endif
}

namespace {

// Writes bytes into a new temporary file beside path and flushes it; returns the temporary file's name.
std::string WriteTemporarySibling(const std::string& path, const std::string& bytes, [[maybe_unused]] FileReaders readers) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
#ifdef _WIN32
        const std::string temp = path + "." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(++counter) + ".tmp";
        HANDLE h = CreateFileW(FromUtf8(temp).wstring().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) continue;
            throw EFileError("The file \"" + path + "\" cannot be written: no temporary file beside it (error " +
                             std::to_string(code) + ")");
        }
        size_t done = 0;
        bool ok = true;
        while (ok && done < bytes.size()) {
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
            DWORD written = 0;
            ok = WriteFile(h, bytes.data() + done, chunk, &written, nullptr) && written > 0;
            done += written;
        }
        ok = ok && FlushFileBuffers(h);
        CloseHandle(h);
        if (!ok) {
            DeleteFileW(FromUtf8(temp).wstring().c_str());
            throw EFileError("The file \"" + path + "\" cannot be written (is the disk full?)");
        }
        return temp;
#else
        const std::string temp = path + "." + std::to_string(getpid()) + "." + std::to_string(++counter) + ".tmp";
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            throw EFileError("The file \"" + path + "\" cannot be written: no temporary file beside it: " +
                             std::strerror(errno));
        }
        size_t done = 0;
        int error = 0;
        while (done < bytes.size()) {
            ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = n < 0 ? errno : ENOSPC;
                break;
            }
            done += static_cast<size_t>(n);
        }
        // The writing itself happens owner-only; a log is readable like any once in place.
        if (!error && readers == FileReaders::Everyone && fchmod(fd, 0644) != 0) error = errno;
        if (!error && fsync(fd) != 0) error = errno;
        if (close(fd) != 0 && !error) error = errno;
        if (error) {
            unlink(temp.c_str());
            throw EFileError("The file \"" + path + "\" cannot be written: " + std::strerror(error));
        }
        return temp;
#endif
    }
    throw EFileError("The file \"" + path + "\" cannot be written: no free temporary name beside it");
}

} // namespace

void WriteFileAtomically(const std::string& path, const std::string& bytes, FileReaders readers) {
    const std::string temp = WriteTemporarySibling(path, bytes, readers);
#ifdef _WIN32
    if (!MoveFileExW(FromUtf8(temp).wstring().c_str(), FromUtf8(path).wstring().c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        DeleteFileW(FromUtf8(temp).wstring().c_str());
        throw EFileError("The file \"" + path + "\" cannot be replaced (error " + std::to_string(code) + ")");
    }
#else
    if (rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(temp.c_str());
        throw EFileError("The file \"" + path + "\" cannot be replaced: " + std::strerror(error));
    }
    // The rename itself reaches the disk with the folder.
    const std::string dir = ExtractFileDir(path);
    int dfd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
#endif
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(FromUtf8(path), std::ios::binary);
    if (!in) throw EFileError("The file \"" + path + "\" cannot be opened");
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) throw EFileError("The file \"" + path + "\" cannot be read");
    return ss.str();
}

} // namespace velmora::platform
