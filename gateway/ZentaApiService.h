#pragma once
// The gateway's SOAP service interface and its binding.
#include <memory>
#include <string>

namespace velmora::gateway {

// Deployment values of the gateway; registered once at program start (see RegisterGatewayBinding).
struct GatewayBinding {
    std::string host = "api.tellvio.com";               // host[:port], or http:// or https:// before it
    std::string namespaceUri = "http://tellvio.com/api/4.4/";
    long connectTimeoutSeconds = 30;
    long requestTimeoutSeconds = 900;
    size_t maxAnswerBytes = size_t{256} << 20;  // a larger answer is a transport error
    std::string caFile;  // https: the certificate authorities to trust instead of the system's (PEM file)
};
void RegisterGatewayBinding(const GatewayBinding& binding);
const GatewayBinding& CurrentGatewayBinding();

constexpr const char* kServicePath = "/Tellvio/4.4/API/ApiService.asmx";

// The service interface ApiServiceSoap {1880A6F9-C49A-549D-94BB-F24084A4BADB}.
// Each operation posts one SOAP 1.2 request and returns the result element's text; transport
// failures, non-2xx statuses and SOAP faults raise EHttpError / ESoapFault with a message text.
// The document is taken over, so a large batch is let go once its envelope is built.
class ApiServiceSoap {
public:
    virtual ~ApiServiceSoap() = default;
    virtual std::string ApiLogin(std::string data) = 0;
    virtual std::string SendBulkSMS(std::string data) = 0;
    virtual std::string SendOtpSMS(std::string data) = 0;
    virtual std::string CancelSMS(std::string data) = 0;
    virtual std::string SendWap(std::string data) = 0;
    virtual std::string SendEML(std::string data) = 0;
    virtual std::string Report(std::string data) = 0;
};

using ApiServiceSoapRef = std::shared_ptr<ApiServiceSoap>;

// useWsdl: configure from the service description (its location is the address); otherwise the address
// is the endpoint itself. An empty address becomes the default service (description) address.
ApiServiceSoapRef CreateApiServiceClient(bool useWsdl, const std::string& address = "",
                                         ApiServiceSoapRef existing = nullptr);

// "http://<host>" for a bare host[:port]; a host given with its scheme ("https://host:port") keeps it.
std::string ServiceRoot(const std::string& host);
// "<root>/Tellvio/4.4/API/ApiService.asmx" and the same followed by "?WSDL".
std::string DefaultServiceAddress();
std::string DefaultServiceDescriptionAddress();

} // namespace velmora::gateway
