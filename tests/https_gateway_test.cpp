// The gateway over HTTPS: an address may carry its scheme, and a loopback TLS peer with a self-signed
// certificate is refused by default and accepted only when its certificate is trusted explicitly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "config/AyarlarXML.h"
#include "gateway/ZentaApiService.h"
#include "platform/Error.h"
#include "tests/TestSupport.h"

#ifdef CPPHTTPLIB_OPENSSL_SUPPORT
#include <httplib.h>
#endif

using namespace velmora;
using ::testing::HasSubstr;

namespace {

// ---------------------------------------------------------------------------------------------
// The address and the trust file from Settings.xml

struct AddressCase {
    const char* name;
    const char* sunucu;  // <SMSServisi><Sunucu>
    const char* expected;
};

class GatewayAddress : public ::testing::TestWithParam<AddressCase> {};

TEST_P(GatewayAddress, KeepsAGivenSchemeAndDefaultsToHttp) {
    test::TempDir dir;
    const std::string settings = dir.File("Settings.xml");
    test::WriteSettingsFile(settings, dir.File("program.db"),
                            std::string("<SMSServisi><Sunucu>") + GetParam().sunucu +
                                "</Sunucu><SertifikaDosyasi>C:\\Velmora\\ag-gecidi.pem</SertifikaDosyasi></SMSServisi>");
    const gateway::GatewayBinding binding = config::GatewayBindingFromSettings(settings);
    EXPECT_EQ(gateway::ServiceRoot(binding.host) + gateway::kServicePath, GetParam().expected);
    EXPECT_EQ(binding.caFile, "C:\\Velmora\\ag-gecidi.pem");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, GatewayAddress,
    ::testing::Values(
        AddressCase{"BareHost", "api.tellvio.com", "http://api.tellvio.com/Tellvio/4.4/API/ApiService.asmx"},
        AddressCase{"HostAndPort", "10.0.0.5:8080", "http://10.0.0.5:8080/Tellvio/4.4/API/ApiService.asmx"},
        AddressCase{"Https", "https://api.tellvio.com", "https://api.tellvio.com/Tellvio/4.4/API/ApiService.asmx"},
        AddressCase{"HttpsPortSlash", "HTTPS://api.tellvio.com:8443/", "https://api.tellvio.com:8443/Tellvio/4.4/API/ApiService.asmx"},
        AddressCase{"ExplicitHttp", "http://127.0.0.1:8085", "http://127.0.0.1:8085/Tellvio/4.4/API/ApiService.asmx"}),
    [](const ::testing::TestParamInfo<AddressCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// A loopback TLS peer

#ifdef CPPHTTPLIB_OPENSSL_SUPPORT

struct Certificate {
    std::string cert;
    std::string key;
};

// A self-signed certificate for 127.0.0.1 and localhost.
Certificate MakeSelfSigned(const test::TempDir& dir, const std::string& name) {
    Certificate c{dir.File(name + ".crt"), dir.File(name + ".key")};
    const std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + c.key + "' -out '" + c.cert +
                            "' -days 2 -subj /CN=localhost -addext subjectAltName=IP:127.0.0.1,DNS:localhost "
                            ">/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return {};
    return c;
}

// Answers every ApiLogin with a SOAP result "GIRIS-TAMAM".
class TlsGateway {
public:
    explicit TlsGateway(const Certificate& c) : server_(c.cert.c_str(), c.key.c_str()) {
        server_.Post(gateway::kServicePath, [](const httplib::Request&, httplib::Response& res) {
            res.set_content(
                "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/"
                "soap-envelope\"><soap:Body><ApiLoginResponse xmlns=\"http://tellvio.com/api/4.4/\"><ApiLoginResult>"
                "GIRIS-TAMAM</ApiLoginResult></ApiLoginResponse></soap:Body></soap:Envelope>",
                "application/soap+xml; charset=utf-8");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        // The socket is bound and listening already: a connection made before the loop starts waits for it.
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~TlsGateway() {
        server_.stop();
        thread_.join();
    }
    bool Valid() const { return port_ > 0 && server_.is_valid(); }
    std::string Host() const { return "https://127.0.0.1:" + std::to_string(port_); }

private:
    httplib::SSLServer server_;
    int port_ = -1;
    std::thread thread_;
};

struct TrustCase {
    const char* name;
    const char* trustFile;  // "" none, "own" the peer's certificate, "other" an unrelated one
    bool accepted;
};

class HttpsGateway : public ::testing::TestWithParam<TrustCase> {
protected:
    ~HttpsGateway() override { gateway::RegisterGatewayBinding(gateway::GatewayBinding{}); }
};

TEST_P(HttpsGateway, TrustsOnlyWhatItIsToldToTrust) {
    test::TempDir dir;
    const Certificate own = MakeSelfSigned(dir, "own");
    const Certificate other = MakeSelfSigned(dir, "other");
    if (own.cert.empty() || other.cert.empty()) GTEST_SKIP() << "openssl could not make a test certificate";
    TlsGateway peer(own);
    ASSERT_TRUE(peer.Valid());

    gateway::GatewayBinding binding;
    binding.host = peer.Host();
    binding.connectTimeoutSeconds = 10;
    binding.requestTimeoutSeconds = 30;
    const std::string which = GetParam().trustFile;
    binding.caFile = which == "own" ? own.cert : which == "other" ? other.cert : "";
    gateway::RegisterGatewayBinding(binding);

    gateway::ApiServiceSoapRef client = gateway::CreateApiServiceClient(false);
    if (GetParam().accepted) {
        EXPECT_EQ(client->ApiLogin("<LOGIN/>"), "GIRIS-TAMAM");
    } else {
        try {
            client->ApiLogin("<LOGIN/>");
            ADD_FAILURE() << "a certificate nobody trusts was accepted";
        } catch (const EHttpError& e) {
            EXPECT_THAT(e.what(), HasSubstr("certificate")) << e.what();
            EXPECT_THAT(e.what(), HasSubstr(peer.Host()));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Trust, HttpsGateway,
                         ::testing::Values(TrustCase{"SystemAuthoritiesOnly", "", false},
                                           TrustCase{"AnotherCertificate", "other", false},
                                           TrustCase{"ItsOwnCertificate", "own", true}),
                         [](const ::testing::TestParamInfo<TrustCase>& info) { return std::string(info.param.name); });

#endif  // CPPHTTPLIB_OPENSSL_SUPPORT

} // namespace
