// HttpPost with libcurl: one easy handle per request, no connection reuse between calls.
#include "platform/Http.h"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "platform/Error.h"
#include "platform/Text.h"

namespace velmora::platform {

namespace {

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        CURLcode rc = curl_global_init(CURL_GLOBAL_DEFAULT);
        // call_once runs the initialisation again on the next request if this throws.
        if (rc != CURLE_OK)
            throw EHttpError(std::string("The HTTP client could not be initialised: ") + curl_easy_strerror(rc));
    });
}

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

struct BodySink {
    std::string* body;
    size_t limit;
    CURL* handle;
    bool tooLarge = false;
    bool sized = false;
};

size_t CollectBody(char* data, size_t size, size_t count, void* user) {
    // No exception may cross libcurl; a short count makes curl stop with a write error.
    auto* sink = static_cast<BodySink*>(user);
    const size_t n = size * count;
    if (n > sink->limit || sink->body->size() > sink->limit - n) {
        sink->tooLarge = true;
        return 0;
    }
    try {
        if (!sink->sized) {
            // Room for the announced length at once: a large answer grown by doubling holds up to twice itself
            // while it is copied.
            sink->sized = true;
            curl_off_t announced = -1;
            if (curl_easy_getinfo(sink->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) == CURLE_OK &&
                announced > 0 && static_cast<unsigned long long>(announced) <= sink->limit)
                sink->body->reserve(static_cast<size_t>(announced));
        }
        sink->body->append(data, n);
        return n;
    } catch (...) {
        return 0;
    }
}

bool HasHeader(const std::vector<std::string>& headers, const char* name) {
    std::string prefix = std::string(name) + ":";
    for (const std::string& h : headers) {
        if (StartsWithNoCase(h, prefix)) return true;
    }
    return false;
}

bool IsLoopbackUrl(const std::string& url) {
    for (const char* host : {"http://127.0.0.1", "http://localhost", "http://[::1]", "https://127.0.0.1",
                             "https://localhost", "https://[::1]"}) {
        std::string h(host);
        if (url.compare(0, h.size(), h) == 0 &&
            (url.size() == h.size() || url[h.size()] == ':' || url[h.size()] == '/' || url[h.size()] == '?'))
            return true;
    }
    return false;
}

std::string EnvText(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string Describe(CURLcode rc, const char* errorBuffer) {
    std::string detail = errorBuffer[0] ? std::string(errorBuffer) : std::string(curl_easy_strerror(rc));
    while (!detail.empty() && (detail.back() == '\n' || detail.back() == '\r')) detail.pop_back();
    switch (rc) {
    case CURLE_COULDNT_RESOLVE_HOST: return "the host name could not be resolved (" + detail + ")";
    case CURLE_COULDNT_RESOLVE_PROXY: return "the proxy host name could not be resolved (" + detail + ")";
    case CURLE_COULDNT_CONNECT: return "the connection was refused or could not be made (" + detail + ")";
    case CURLE_GOT_NOTHING: return "the server closed the connection without an answer (" + detail + ")";
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE: return "the connection was dropped (" + detail + ")";
    case CURLE_PEER_FAILED_VERIFICATION:
        return "the server's certificate is not trusted or does not name this host (" + detail + ")";
    case CURLE_SSL_CACERT_BADFILE: return "the trusted certificate file could not be read (" + detail + ")";
    case CURLE_SSL_CONNECT_ERROR: return "the secure connection could not be made (" + detail + ")";
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL: return "the address is not a valid HTTP address (" + detail + ")";
    default: return detail;
    }
}

} // namespace

HttpResponse HttpPost(const std::string& url, const std::vector<std::string>& headers,
                      const std::string& body, const HttpTimeouts& timeouts, const HttpsTrust& trust) {
    if (url.empty()) throw EHttpError("HTTP POST failed: the address is empty");
    for (const std::string& h : headers) {
        // A line break in a header would let a value smuggle in further headers.
        if (h.find_first_of("\r\n") != std::string::npos)
            throw EHttpError("HTTP POST to " + url + " refused: a request header contains a line break");
    }
    InitCurlOnce();

    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) throw EHttpError("HTTP POST to " + url + " failed: the HTTP client could not be created");
    CURL* h = easy.get();

    std::unique_ptr<curl_slist, ListDeleter> list;
    auto addHeader = [&](const std::string& line) {
        curl_slist* next = curl_slist_append(list.get(), line.c_str());
        if (!next) throw std::bad_alloc();
        list.release();
        list.reset(next);
    };
    for (const std::string& line : headers) addHeader(line);
    // Large batches would otherwise wait for a "100 Continue" the server may never send.
    if (!HasHeader(headers, "Expect")) addHeader("Expect:");

    HttpResponse response;
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    const long connectSeconds = timeouts.connectSeconds > 0 ? timeouts.connectSeconds : 0;
    const long totalSeconds = timeouts.totalSeconds > 0 ? timeouts.totalSeconds : 0;

    // A proxy taken from the environment must never see requests meant for this machine.
    std::string noProxy = EnvText("no_proxy");
    if (noProxy.empty()) noProxy = EnvText("NO_PROXY");
    const bool overrideNoProxy = IsLoopbackUrl(url) && noProxy != "*";
    if (overrideNoProxy) noProxy += std::string(noProxy.empty() ? "" : ",") + "localhost,127.0.0.1,::1";

    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, list.get());
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, connectSeconds);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, totalSeconds);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CollectBody);
    BodySink sink{&response.body, timeouts.maxAnswerBytes, h};
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    // An announced length over the limit ends the request before anything is read.
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(timeouts.maxAnswerBytes));
    if (overrideNoProxy) curl_easy_setopt(h, CURLOPT_NOPROXY, noProxy.c_str());
    // Certificate and host name are checked whatever the environment says; a file names whom to trust.
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!trust.caFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, trust.caFile.c_str());

    CURLcode rc = curl_easy_perform(h);
    if (rc == CURLE_OPERATION_TIMEDOUT) {
        double connectTime = 0;
        curl_easy_getinfo(h, CURLINFO_CONNECT_TIME, &connectTime);
        // libcurl waits 300 seconds for a connection when no connect time-out is given.
        if (connectTime <= 0)
            throw EHttpError("HTTP POST to " + url + " failed: connecting timed out after " +
                             std::to_string(connectSeconds > 0 ? connectSeconds : 300L) + " seconds");
        throw EHttpError("HTTP POST to " + url + " failed: the request timed out after " +
                         std::to_string(totalSeconds) + " seconds");
    }
    if (rc == CURLE_FILESIZE_EXCEEDED || (rc == CURLE_WRITE_ERROR && sink.tooLarge))
        throw EHttpError("HTTP POST to " + url + " failed: the answer is larger than the limit of " +
                         std::to_string(timeouts.maxAnswerBytes) + " bytes");
    if (rc == CURLE_WRITE_ERROR)
        throw EHttpError("HTTP POST to " + url + " failed: the answer could not be stored (out of memory)");
    if (rc != CURLE_OK) throw EHttpError("HTTP POST to " + url + " failed: " + Describe(rc, errorBuffer));

    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response.status);
    char* contentType = nullptr;
    if (curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK && contentType)
        response.contentType = contentType;
    return response;
}

} // namespace velmora::platform
