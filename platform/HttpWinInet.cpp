// HttpPost with WinInet: one session, connection and request handle per call.
#include "platform/Http.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Error.h"

namespace velmora::platform {

namespace {

class InetHandle {
public:
    explicit InetHandle(HINTERNET h = nullptr) : h_(h) {}
    ~InetHandle() { if (h_) InternetCloseHandle(h_); }
    InetHandle(const InetHandle&) = delete;
    InetHandle& operator=(const InetHandle&) = delete;
    HINTERNET get() const { return h_; }
    void release() { h_ = nullptr; }
    explicit operator bool() const { return h_ != nullptr; }
private:
    HINTERNET h_;
};

// WinInet has no limit for a whole request: its send and receive limits bound each single wait, so
// an answer trickling in a byte at a time would hold a run for ever. Closing the request handle from
// another thread makes a blocked WinInet call on it fail at once; this does so when the time is up.
class RequestDeadline {
public:
    RequestDeadline(InetHandle& request, long seconds)
        : request_(request), seconds_(seconds), started_(std::chrono::steady_clock::now()) {
        if (seconds <= 0) return;
        watcher_ = std::thread([this, seconds] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!wake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
                closed_ = true;
                InternetCloseHandle(request_.get());
            }
        });
    }
    ~RequestDeadline() { Stop(); }
    RequestDeadline(const RequestDeadline&) = delete;
    RequestDeadline& operator=(const RequestDeadline&) = delete;

    // Whether the whole limit has passed (a little slack for the coarse timers of WinInet's own limits).
    bool Passed() const {
        return seconds_ > 0 && std::chrono::steady_clock::now() - started_ >=
                                   std::chrono::seconds(seconds_) - std::chrono::milliseconds(50);
    }

    // Ends the watch; when the time ran out, the request handle is closed already and let go here.
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        if (watcher_.joinable()) watcher_.join();
        if (closed_) request_.release();
    }

private:
    InetHandle& request_;
    const long seconds_;
    const std::chrono::steady_clock::time_point started_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    bool closed_ = false;  // the watcher closed the request handle
    std::thread watcher_;
};

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string Narrow(const wchar_t* text, size_t length) {
    if (length == 0) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

std::string SystemText(DWORD code) {
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             GetModuleHandleW(L"wininet.dll"), code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = n ? Narrow(buffer, n) : std::string();
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text + " (error " + std::to_string(code) + ")";
}

[[noreturn]] void Fail(const std::string& url, const char* step, DWORD code, long timeoutSeconds) {
    std::string what;
    switch (code) {
    case ERROR_INTERNET_TIMEOUT: what = "timed out after " + std::to_string(timeoutSeconds) + " seconds"; break;
    case ERROR_INTERNET_NAME_NOT_RESOLVED: what = "the host name could not be resolved"; break;
    case ERROR_INTERNET_CANNOT_CONNECT: what = "the connection was refused or could not be made"; break;
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET: what = "the connection was dropped"; break;
    case ERROR_HTTP_INVALID_SERVER_RESPONSE: what = "the server closed the connection without an answer"; break;
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_INVALID_CERT: what = "the server's certificate is not trusted"; break;
    case ERROR_INTERNET_SEC_CERT_CN_INVALID: what = "the server's certificate does not name this host"; break;
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID: what = "the server's certificate has expired or is not yet valid"; break;
    default: what = std::string(step) + " failed"; break;
    }
    throw EHttpError("HTTP POST to " + url + " failed: " + what + ": " + SystemText(code));
}

void SetTimeout(HINTERNET h, DWORD option, long seconds) {
    // Zero keeps WinInet's own default; the value is in milliseconds.
    if (seconds <= 0) return;
    unsigned long long ms = static_cast<unsigned long long>(seconds) * 1000ULL;
    DWORD value = ms > std::numeric_limits<DWORD>::max() ? std::numeric_limits<DWORD>::max() : static_cast<DWORD>(ms);
    InternetSetOptionW(h, option, &value, sizeof(value));
}

} // namespace

HttpResponse HttpPost(const std::string& url, const std::vector<std::string>& headers,
                      const std::string& body, const HttpTimeouts& timeouts, const HttpsTrust& trust) {
    if (url.empty()) throw EHttpError("HTTP POST failed: the address is empty");
    // WinInet checks certificates against the Windows store only; a file it cannot use must not look trusted.
    if (!trust.caFile.empty())
        throw EHttpError("HTTP POST to " + url + " refused: a trusted certificate file (" + trust.caFile +
                         ") is not used on Windows; import the certificate into the Windows certificate store");
    if (body.size() > std::numeric_limits<DWORD>::max())
        throw EHttpError("HTTP POST to " + url + " refused: the request body is larger than 4 GB");

    // WinInet sends a request again, unasked, when a kept-alive connection drops after taking it: a
    // batch could reach the gateway twice. A connection per request leaves it nothing to reuse.
    std::wstring headerBlock = L"Connection: close\r\n";
    for (const std::string& h : headers) {
        // A line break in a header would let a value smuggle in further headers.
        if (h.find_first_of("\r\n") != std::string::npos)
            throw EHttpError("HTTP POST to " + url + " refused: a request header contains a line break");
        headerBlock += Widen(h);
        headerBlock += L"\r\n";
    }

    std::wstring wideUrl = Widen(url);
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = 1;
    parts.dwHostNameLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!InternetCrackUrlW(wideUrl.c_str(), static_cast<DWORD>(wideUrl.size()), 0, &parts))
        throw EHttpError("HTTP POST to " + url + " failed: the address is not a valid HTTP address");
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        throw EHttpError("HTTP POST to " + url + " failed: only http and https addresses are supported");
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                          std::wstring(parts.lpszExtraInfo ? parts.lpszExtraInfo : L"", parts.dwExtraInfoLength);
    if (object.empty()) object = L"/";
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    InetHandle session(InternetOpenW(L"Velmora", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session) Fail(url, "opening the HTTP client", GetLastError(), 0);
    // The send and receive limits bound each wait; they are set on every handle, since not every
    // WinInet passes a session's limits down to its requests. RequestDeadline bounds the whole request.
    auto limit = [&](HINTERNET h) {
        SetTimeout(h, INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connectSeconds);
        SetTimeout(h, INTERNET_OPTION_SEND_TIMEOUT, timeouts.totalSeconds);
        SetTimeout(h, INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.totalSeconds);
    };
    limit(session.get());

    InetHandle connection(InternetConnectW(session.get(), host.c_str(), parts.nPort, nullptr, nullptr,
                                           INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) Fail(url, "connecting", GetLastError(), timeouts.connectSeconds);
    limit(connection.get());

    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                  INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_PRAGMA_NOCACHE;
    // TLS with the store's certificate checks: no INTERNET_FLAG_IGNORE_CERT_* flag is ever set.
    if (secure) flags |= INTERNET_FLAG_SECURE;
    InetHandle request(HttpOpenRequestW(connection.get(), L"POST", object.c_str(), nullptr, nullptr, nullptr, flags, 0));
    if (!request) Fail(url, "opening the request", GetLastError(), timeouts.connectSeconds);
    limit(request.get());

    RequestDeadline deadline(request, timeouts.totalSeconds);
    // A call that fails once the whole limit has passed failed for that reason, whatever WinInet says:
    // some report an expired receive limit, or the handle the deadline closed, as a dropped connection.
    auto fail = [&](const char* step, DWORD code) {
        deadline.Stop();
        Fail(url, step, deadline.Passed() ? ERROR_INTERNET_TIMEOUT : code, timeouts.totalSeconds);
    };
    if (!HttpSendRequestW(request.get(), headerBlock.c_str(), static_cast<DWORD>(headerBlock.size()),
                          const_cast<char*>(body.data()), static_cast<DWORD>(body.size())))
        fail("sending the request", GetLastError());

    HttpResponse response;
    DWORD status = 0;
    DWORD length = sizeof(status);
    if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &length, nullptr))
        fail("reading the answer status", GetLastError());
    // Without a status line there was no answer: some WinInets report a dropped connection this way.
    if (status < 100 || status > 599)
        throw EHttpError("HTTP POST to " + url + " failed: the server closed the connection without an answer");
    response.status = static_cast<long>(status);

    std::wstring contentType(256, L'\0');
    length = static_cast<DWORD>(contentType.size() * sizeof(wchar_t));
    BOOL ok = HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_TYPE, contentType.data(), &length, nullptr);
    if (!ok && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        contentType.assign(length / sizeof(wchar_t) + 1, L'\0');
        ok = HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_TYPE, contentType.data(), &length, nullptr);
    }
    if (ok) response.contentType = Narrow(contentType.data(), length / sizeof(wchar_t));

    // A read takes only what has arrived: a synchronous read of a larger buffer waits until it is full,
    // and a read blocked that way is not ended by every WinInet when the deadline closes the handle.
    char buffer[64 * 1024];
    for (;;) {
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request.get(), &available, 0, 0)) fail("reading the answer", GetLastError());
        if (deadline.Passed()) fail("reading the answer", ERROR_INTERNET_TIMEOUT);
        if (available == 0) break;
        DWORD read = 0;
        if (!InternetReadFile(request.get(), buffer, std::min<DWORD>(available, sizeof(buffer)), &read))
            fail("reading the answer", GetLastError());
        if (read == 0) break;
        if (read > timeouts.maxAnswerBytes || response.body.size() > timeouts.maxAnswerBytes - read) {
            deadline.Stop();
            throw EHttpError("HTTP POST to " + url + " failed: the answer is larger than the limit of " +
                             std::to_string(timeouts.maxAnswerBytes) + " bytes");
        }
        response.body.append(buffer, read);
    }
    // The whole answer arrived; a deadline passing only now changes nothing.
    deadline.Stop();
    return response;
}

} // namespace velmora::platform
