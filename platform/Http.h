#pragma once
// A plain HTTP POST: libcurl on POSIX, WinInet on Windows.
#include <string>
#include <vector>

namespace velmora::platform {

struct HttpTimeouts {
    long connectSeconds = 30;
    // Generous: a batch of 100,000 messages must fit in one request.
    long totalSeconds = 900;
};

struct HttpResponse {
    long status = 0;
    std::string contentType;
    std::string body;
};

// Throws EHttpError with a clear message on a transport failure or an expired time-out.
// A non-2xx status is returned, not thrown: the SOAP layer decides (a SOAP fault travels with 500).
HttpResponse HttpPost(const std::string& url, const std::vector<std::string>& headers,
                      const std::string& body, const HttpTimeouts& timeouts);

} // namespace velmora::platform
