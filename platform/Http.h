#pragma once
// An HTTP or HTTPS POST: libcurl on POSIX, WinInet on Windows.
#include <cstddef>
#include <string>
#include <vector>

namespace velmora::platform {

struct HttpTimeouts {
    long connectSeconds = 30;
    // Generous: a batch of 100,000 messages must fit in one request.
    long totalSeconds = 900;
    // An answer larger than this is a transport error, so a runaway peer cannot exhaust the memory.
    // Generous: the answer to a batch of 100,000 messages is some 15 MB.
    size_t maxAnswerBytes = size_t{256} << 20;
};

struct HttpResponse {
    long status = 0;
    std::string contentType;
    std::string body;
};

// Whom an https:// address is trusted from. The server's certificate and name are always checked.
struct HttpsTrust {
    // A PEM file of the certificate authorities to trust instead of the system's; empty: the system's.
    // libcurl only: WinInet trusts the Windows certificate store, and refuses a request that names a file.
    std::string caFile;
};

// Throws EHttpError with a clear message on a transport failure, an untrusted certificate, an expired
// time-out or an answer larger than timeouts.maxAnswerBytes. A non-2xx status is returned, not thrown: the
// SOAP layer decides (a SOAP fault travels with 500).
HttpResponse HttpPost(const std::string& url, const std::vector<std::string>& headers,
                      const std::string& body, const HttpTimeouts& timeouts, const HttpsTrust& trust = {});

} // namespace velmora::platform
