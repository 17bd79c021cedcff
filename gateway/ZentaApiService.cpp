// The gateway service: its binding from the settings and the SOAP calls of its operations.
#include "gateway/ZentaApiService.h"


#include "platform/Text.h"
#include "soap/SoapClient.h"

namespace velmora::gateway {

namespace {

GatewayBinding& Binding() {
    static GatewayBinding binding;
    return binding;
}

// The ApiServiceSoap operations over our SOAP layer; time-outs are read at each call so that a binding
// registered later applies to the next request.
class ApiServiceSoapClient final : public ApiServiceSoap {
public:
    ApiServiceSoapClient(std::string endpoint, std::string namespaceUri)
        : soap_(std::move(endpoint), std::move(namespaceUri)) {}

    void SetEndpoint(std::string endpoint) { soap_.SetEndpoint(std::move(endpoint)); }

    std::string ApiLogin(std::string data) override { return Call("ApiLogin", std::move(data)); }
    std::string SendBulkSMS(std::string data) override { return Call("SendBulkSMS", std::move(data)); }
    std::string SendOtpSMS(std::string data) override { return Call("SendOtpSMS", std::move(data)); }
    std::string CancelSMS(std::string data) override { return Call("CancelSMS", std::move(data)); }
    std::string SendWap(std::string data) override { return Call("SendWap", std::move(data)); }
    std::string SendEML(std::string data) override { return Call("SendEML", std::move(data)); }
    std::string Report(std::string data) override { return Call("Report", std::move(data)); }

private:
    std::string Call(const std::string& operation, std::string data) {
        const GatewayBinding& binding = CurrentGatewayBinding();
        platform::HttpTimeouts timeouts;
        timeouts.connectSeconds = binding.connectTimeoutSeconds;
        timeouts.totalSeconds = binding.requestTimeoutSeconds;
        timeouts.maxAnswerBytes = binding.maxAnswerBytes;
        soap_.SetTrust(platform::HttpsTrust{binding.caFile});
        return soap_.Call(operation, std::move(data), timeouts);
    }

    soap::SoapClient soap_;
};

} // namespace

void RegisterGatewayBinding(const GatewayBinding& binding) { Binding() = binding; }

const GatewayBinding& CurrentGatewayBinding() { return Binding(); }

std::string ServiceRoot(const std::string& host) {
    for (const char* scheme : {"http://", "https://"}) {
        const std::string prefix(scheme);
        if (platform::StartsWithNoCase(host, prefix)) {
            std::string root = prefix + host.substr(prefix.size());
            while (!root.empty() && root.back() == '/') root.pop_back();
            return root;
        }
    }
    return "http://" + host;
}

std::string DefaultServiceAddress() { return ServiceRoot(CurrentGatewayBinding().host) + kServicePath; }

std::string DefaultServiceDescriptionAddress() { return DefaultServiceAddress() + "?WSDL"; }

ApiServiceSoapRef CreateApiServiceClient(bool useWsdl, const std::string& address, ApiServiceSoapRef existing) {
    std::string location = address;
    if (location.empty()) location = useWsdl ? DefaultServiceDescriptionAddress() : DefaultServiceAddress();

    // The service description is never fetched. With useWsdl the endpoint is taken to be the one our
    // gateway's description names: its own address, i.e. the location without "?WSDL". Without useWsdl
    // the address is the endpoint as given, query part included.
    std::string endpoint = location;
    if (useWsdl && platform::EndsWithNoCase(endpoint, "?WSDL")) endpoint.resize(endpoint.size() - 5);

    if (existing) {
        // Our own client is pointed at the new endpoint; any other implementation is used as it is.
        if (auto* own = dynamic_cast<ApiServiceSoapClient*>(existing.get())) own->SetEndpoint(endpoint);
        return existing;
    }
    return std::make_shared<ApiServiceSoapClient>(std::move(endpoint), CurrentGatewayBinding().namespaceUri);
}

} // namespace velmora::gateway
