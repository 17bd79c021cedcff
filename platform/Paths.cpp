#include "platform/Paths.h"

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
#include <fcntl.h>
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

bool DeleteFileIfExists(const std::string& path) {
    std::error_code ec;
    return fs::remove(FromUtf8(path), ec);
}

void WriteFileReplacing(const std::string& path, const std::string& bytes) {
    std::ofstream out(FromUtf8(path), std::ios::binary | std::ios::trunc);
    if (!out) throw EFileError("The file \"" + path + "\" cannot be written");
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw EFileError("The file \"" + path + "\" cannot be written");
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
