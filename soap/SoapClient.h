#pragma once
// A small SOAP 1.2 client for document/literal operations that take one text parameter "data" and
// return one text "<Operation>Result", posted over platform::HttpPost.
#include <string>
#include <string_view>

#include "platform/Http.h"

namespace velmora::soap {

class SoapClient {
public:
    SoapClient(std::string endpoint, std::string namespaceUri);

    const std::string& Endpoint() const { return endpoint_; }
    void SetEndpoint(std::string endpoint) { endpoint_ = std::move(endpoint); }
    const std::string& NamespaceUri() const { return namespaceUri_; }
    // Whom an https:// endpoint is trusted from (default: the system's certificate authorities).
    void SetTrust(platform::HttpsTrust trust) { trust_ = std::move(trust); }

    // Posts one call and returns the text of the "<operation>Result" element (empty when the gateway left it
    // out). Throws EHttpError on a transport failure, an expired time-out or a non-2xx status without a
    // SOAP fault; ESoapFault on a SOAP fault (any status) and on a 2xx answer that is not a SOAP envelope.
    // The document is let go once the envelope holds it.
    std::string Call(const std::string& operation, std::string data, const platform::HttpTimeouts& timeouts) const;

private:
    std::string endpoint_;
    std::string namespaceUri_;
    platform::HttpsTrust trust_;
};

// The request envelope: declaration, soap12 Envelope and Body, the operation element in the service
// namespace and its "data" child holding the text escaped (CR as a reference, so the text arrives intact).
std::string BuildEnvelope(const std::string& namespaceUri, const std::string& operation, const std::string& data);
// The same, written where the document lies when its string has the room (see EnvelopeRoom): a batch of
// 100,000 messages is then never held as a document and as an envelope at once.
std::string BuildEnvelope(const std::string& namespaceUri, const std::string& operation, std::string&& data);

// The length of a piece of a document once escaped into the envelope; a document whose string has room for
// the sum over its pieces plus kEnvelopeFrameRoom becomes its envelope in place (for an operation name and
// a namespace of ordinary length).
size_t EscapedTextLength(std::string_view piece);
constexpr size_t kEnvelopeFrameRoom = 1024;

// application/soap+xml; charset="utf-8";action="<namespace><operation>"
std::string ContentType(const std::string& namespaceUri, const std::string& operation);

// Turns an HTTP answer into the result text, or raises as Call does. address names the endpoint in messages.
// The body is parsed in place: a caller that has no more use for the answer moves it in.
std::string ReadAnswer(platform::HttpResponse response, const std::string& operation, const std::string& address);

} // namespace velmora::soap
