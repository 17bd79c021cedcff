// SOAP 1.2 over HTTP: the envelope, the call and the answer's body or fault.
#include "soap/SoapClient.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "xml/XmlDocument.h"
#include "xml/XmlEscape.h"

namespace velmora::soap {

namespace {

constexpr std::string_view kEnvelopeStart =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    "<soap12:Envelope xmlns:soap12=\"http://www.w3.org/2003/05/soap-envelope\"><soap12:Body>";
constexpr std::string_view kEnvelopeEnd = "</soap12:Body></soap12:Envelope>";
// A raw CR would be folded into LF by the receiving parser; the reference keeps the text as it was.
constexpr xml::CarriageReturns kCr = xml::CarriageReturns::AsReference;

std::string_view LocalName(std::string_view name) {
    size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The first child element whose name, without its prefix, is local. The envelope's prefixes are the
// sender's choice, so only local names are compared.
xml::XmlElement ChildByLocalName(const xml::XmlElement& parent, std::string_view local) {
    for (const xml::XmlElement& child : parent.Children()) {
        if (LocalName(child.Name()) == local) return child;
    }
    return {};
}

std::string TextOrEmpty(const xml::XmlElement& element) {
    try {
        return element.Text();
    } catch (const Error&) {
        return {};
    }
}

// Raises the fault as ESoapFault: SOAP 1.2 Code/Value and Reason/Text, or 1.1 faultcode and faultstring.
[[noreturn]] void RaiseFault(const xml::XmlElement& fault, const std::string& address) {
    std::string reason;
    std::string code;
    if (xml::XmlElement r = ChildByLocalName(fault, "Reason")) {
        reason = TextOrEmpty(ChildByLocalName(r, "Text"));
    } else if (xml::XmlElement fs = ChildByLocalName(fault, "faultstring")) {
        reason = TextOrEmpty(fs);
    }
    if (xml::XmlElement c = ChildByLocalName(fault, "Code")) {
        code = TextOrEmpty(ChildByLocalName(c, "Value"));
    } else if (xml::XmlElement fc = ChildByLocalName(fault, "faultcode")) {
        code = TextOrEmpty(fc);
    }
    std::string message = "SOAP fault from " + address + ": " + (reason.empty() ? "(no reason given)" : reason);
    if (!code.empty()) message += " [" + code + "]";
    throw ESoapFault(message);
}

} // namespace

SoapClient::SoapClient(std::string endpoint, std::string namespaceUri)
    : endpoint_(std::move(endpoint)), namespaceUri_(std::move(namespaceUri)) {}

namespace {

// What stands before the escaped document in the envelope, and what after it.
std::string EnvelopeHead(const std::string& namespaceUri, const std::string& operation) {
    std::string head(kEnvelopeStart);
    head.append("<").append(operation).append(" xmlns=\"");
    xml::AppendEscapedXmlText(head, namespaceUri, kCr);
    head.append("\"><data>");
    return head;
}

std::string EnvelopeTail(const std::string& operation) {
    return "</data></" + operation + ">" + std::string(kEnvelopeEnd);
}

} // namespace

std::string BuildEnvelope(const std::string& namespaceUri, const std::string& operation, const std::string& data) {
    // Sized exactly in advance: a batch of 100,000 messages is written once, without regrowing.
    const std::string head = EnvelopeHead(namespaceUri, operation), tail = EnvelopeTail(operation);
    std::string out;
    out.reserve(head.size() + xml::EscapedXmlTextLength(data, kCr) + tail.size());
    out.append(head);
    xml::AppendEscapedXmlText(out, data, kCr);
    out.append(tail);
    return out;
}

std::string BuildEnvelope(const std::string& namespaceUri, const std::string& operation, std::string&& data) {
    const std::string head = EnvelopeHead(namespaceUri, operation), tail = EnvelopeTail(operation);
    const size_t escaped = xml::EscapedXmlTextLength(data, kCr);
    const size_t size = head.size() + escaped + tail.size();
    if (data.capacity() < size) return BuildEnvelope(namespaceUri, operation, static_cast<const std::string&>(data));
    const size_t length = data.size();
    data.resize(size);  // within its room: the same buffer
    // Escaped piece by piece from the end backwards (each character is escaped by itself): a piece's escaped
    // form ends at or after where the piece stood, so nothing is overwritten before it is read.
    constexpr size_t kPiece = 4096;
    std::string piece;
    size_t to = head.size() + escaped;
    for (size_t end = length; end > 0;) {
        const size_t begin = end > kPiece ? end - kPiece : 0;
        piece.clear();
        xml::AppendEscapedXmlText(piece, std::string_view(data).substr(begin, end - begin), kCr);
        to -= piece.size();
        std::memcpy(&data[to], piece.data(), piece.size());
        end = begin;
    }
    std::memcpy(&data[0], head.data(), head.size());
    std::memcpy(&data[head.size() + escaped], tail.data(), tail.size());
    return std::move(data);
}

size_t EscapedTextLength(std::string_view piece) { return xml::EscapedXmlTextLength(piece, kCr); }

std::string ContentType(const std::string& namespaceUri, const std::string& operation) {
    return "application/soap+xml; charset=\"utf-8\";action=\"" + namespaceUri + operation + "\"";
}

std::string ReadAnswer(platform::HttpResponse response, const std::string& operation, const std::string& address) {
    const bool success = response.status >= 200 && response.status < 300;
    xml::XmlDocument doc;
    std::string parseError;
    const bool isXml = doc.TryLoadReadOnly(std::move(response.body), &parseError);
    xml::XmlElement envelope = isXml ? doc.Root() : xml::XmlElement();
    xml::XmlElement body;
    if (envelope && LocalName(envelope.Name()) == "Envelope") body = ChildByLocalName(envelope, "Body");

    // A fault is reported as such whatever the status (SOAP 1.2 sends it with 500).
    if (body) {
        if (xml::XmlElement fault = ChildByLocalName(body, "Fault")) RaiseFault(fault, address);
    }
    if (!success) throw EHttpError("HTTP " + std::to_string(response.status) + " from " + address);

    if (!isXml) throw ESoapFault("The answer from " + address + " to " + operation +
                                 " is not XML: " + parseError);
    if (!body) throw ESoapFault("The answer from " + address + " to " + operation + " is not a SOAP envelope");
    std::vector<xml::XmlElement> parts = body.Children();
    if (parts.empty())
        throw ESoapFault("The answer from " + address + " to " + operation + " has an empty SOAP body");
    // The result element is optional: without it the result is empty text.
    xml::XmlElement result = ChildByLocalName(parts.front(), operation + "Result");
    if (!result) return {};
    try {
        return result.Text();
    } catch (const EXmlError&) {
        throw ESoapFault("The answer from " + address + " to " + operation + " holds elements in \"" + operation +
                         "Result\" instead of text");
    }
}

std::string SoapClient::Call(const std::string& operation, std::string data,
                             const platform::HttpTimeouts& timeouts) const {
    std::vector<std::string> headers{"Content-Type: " + ContentType(namespaceUri_, operation)};
    platform::HttpResponse response;
    {
        // The document becomes the envelope (where it lies when it has the room), and the envelope goes
        // before the answer is parsed: a large batch is held once, not twice.
        const std::string envelope = BuildEnvelope(namespaceUri_, operation, std::move(data));
        response = platform::HttpPost(endpoint_, headers, envelope, timeouts, trust_);
    }
    return ReadAnswer(std::move(response), operation, endpoint_);
}

} // namespace velmora::soap
