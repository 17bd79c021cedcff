// The SOAP 1.2 layer and the two logged-in call routines, on the wire against the gateway simulator.
#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gateway/ZentaApiService.h"
#include "gateway/ZentaXmlInterface.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "soap/SoapClient.h"
#include "tests/TestSockets.h"
#include "tools/gatewaysim/GatewaySimulator.h"
#include "xml/XmlDocument.h"
#include "xml/XmlEscape.h"

namespace velmora::gateway {
namespace {

const std::string kNs = "http://tellvio.com/api/4.4/";
const std::string kPathWithQuery = "/Tellvio/4.4/API/ApiService.asmx?WSDL";
const std::string kPath = "/Tellvio/4.4/API/ApiService.asmx";

std::string ResultEnvelope(const std::string& operation, const std::string& document) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\">"
           "<s:Body><" + operation + "Response xmlns=\"" + kNs + "\"><" + operation + "Result>" +
           xml::EscapeXmlText(document) + "</" + operation + "Result></" + operation + "Response></s:Body></s:Envelope>";
}

// Restores the gateway binding a test changed.
class BindingScope {
public:
    BindingScope() : saved_(CurrentGatewayBinding()) {}
    ~BindingScope() { RegisterGatewayBinding(saved_); }
    void Use(const std::string& host, long requestTimeoutSeconds = 60) {
        GatewayBinding b = saved_;
        b.host = host;
        b.namespaceUri = kNs;
        b.requestTimeoutSeconds = requestTimeoutSeconds;
        RegisterGatewayBinding(b);
    }

private:
    GatewayBinding saved_;
};

// ---- The SOAP layer without a network ----------------------------------------------------------------

TEST(SoapEnvelope, ExactBytesAndContentType) {
    const std::string document = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<LOGIN><USR>a&amp;b</USR></LOGIN>";
    EXPECT_EQ(soap::BuildEnvelope(kNs, "ApiLogin", document),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
              "<soap12:Envelope xmlns:soap12=\"http://www.w3.org/2003/05/soap-envelope\"><soap12:Body>"
              "<ApiLogin xmlns=\"http://tellvio.com/api/4.4/\"><data>"
              "&lt;?xml version=&quot;1.0&quot; encoding=&quot;utf-8&quot;?&gt;&#13;\n"
              "&lt;LOGIN&gt;&lt;USR&gt;a&amp;amp;b&lt;/USR&gt;&lt;/LOGIN&gt;"
              "</data></ApiLogin></soap12:Body></soap12:Envelope>");
    EXPECT_EQ(soap::ContentType(kNs, "ApiLogin"),
              "application/soap+xml; charset=\"utf-8\";action=\"http://tellvio.com/api/4.4/ApiLogin\"");
    EXPECT_EQ(soap::ContentType(kNs, "Report"),
              "application/soap+xml; charset=\"utf-8\";action=\"http://tellvio.com/api/4.4/Report\"");
}

TEST(SoapEnvelope, CarriesTheDocumentUnchanged) {
    const std::string document = "<?xml version=\"1.0\"?>\r\n<X>\r&<>\"'ş\n</X>";
    xml::XmlDocument doc;
    ASSERT_TRUE(doc.TryLoadFromString(soap::BuildEnvelope(kNs, "SendBulkSMS", document)));
    EXPECT_EQ(doc.Root().Child("soap12:Body").Child("SendBulkSMS").ChildText("data"), document);
}

// A document with room becomes its envelope where it lies, byte for byte what the copying build gives; one
// without room is copied. Every character the envelope escapes, at both ends and in a row.
TEST(SoapEnvelope, BuiltInPlaceWhereTheDocumentHasRoom) {
    const std::string documents[] = {"", "x", "&", "<?xml version=\"1.0\"?>\r\n<X>\r&<>\"'ş\n</X>",
                                     "&&&&<<<>>>\"\"''\r\r\r", "düz metin"};
    for (const std::string& document : documents) {
        const std::string copied = soap::BuildEnvelope(kNs, "SendBulkSMS", document);
        std::string roomy = document;
        roomy.reserve(copied.size());
        const char* buffer = roomy.data();
        const std::string inPlace = soap::BuildEnvelope(kNs, "SendBulkSMS", std::move(roomy));
        EXPECT_EQ(inPlace, copied) << document;
        EXPECT_EQ(inPlace.data(), buffer) << "the same buffer: " << document;
        std::string tight = document;
        tight.shrink_to_fit();
        EXPECT_EQ(soap::BuildEnvelope(kNs, "SendBulkSMS", std::move(tight)), copied) << document;
    }
}

enum class Outcome { Text, HttpError, SoapFault };

struct AnswerCase {
    const char* name;
    long status;
    std::string body;
    Outcome outcome;
    std::string expected;  // the result text, or a part of the error message
};
// Test names print the case name, not the bytes of the case.
void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }


const std::string kAddress = "http://gw.example/Tellvio/4.4/API/ApiService.asmx?WSDL";

const std::vector<AnswerCase>& AnswerCases() {
    static const std::vector<AnswerCase> cases = {
        {"Result", 200, ResultEnvelope("ApiLogin", "<R><TOKEN>a&b</TOKEN></R>"), Outcome::Text,
         "<R><TOKEN>a&b</TOKEN></R>"},
        {"AnyPrefixAndCrKept", 200,
         "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\"><env:Body><m:ApiLoginResponse "
         "xmlns:m=\"x\"><m:ApiLoginResult>a&#13;\nb</m:ApiLoginResult></m:ApiLoginResponse></env:Body></env:Envelope>",
         Outcome::Text, "a\r\nb"},
        {"NoPrefix", 202,
         "<Envelope><Body><ApiLoginResponse><ApiLoginResult>x</ApiLoginResult></ApiLoginResponse></Body></Envelope>",
         Outcome::Text, "x"},
        {"ResultAbsentIsEmpty", 200,
         "<s:Envelope xmlns:s=\"u\"><s:Body><ApiLoginResponse/></s:Body></s:Envelope>", Outcome::Text, ""},
        {"ResultOfAnotherOperationIgnored", 200, ResultEnvelope("Report", "<R/>"), Outcome::Text, ""},
        {"Fault12With500", 500,
         "<soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\"><soap:Body><soap:Fault><soap:Code>"
         "<soap:Value>soap:Receiver</soap:Value></soap:Code><soap:Reason><soap:Text xml:lang=\"en\">Token &amp; "
         "account invalid</soap:Text></soap:Reason></soap:Fault></soap:Body></soap:Envelope>",
         Outcome::SoapFault,
         "SOAP fault from " + kAddress + ": Token & account invalid [soap:Receiver]"},
        {"FaultWith200", 200,
         "<s:Envelope xmlns:s=\"u\"><s:Body><s:Fault><s:Reason><s:Text>busy</s:Text></s:Reason></s:Fault></s:Body>"
         "</s:Envelope>",
         Outcome::SoapFault, ": busy"},
        {"Fault11", 500,
         "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><s:Fault><faultcode>s:Server"
         "</faultcode><faultstring>Old style</faultstring></s:Fault></s:Body></s:Envelope>",
         Outcome::SoapFault, "Old style [s:Server]"},
        {"FaultWithoutReason", 500, "<s:Envelope xmlns:s=\"u\"><s:Body><s:Fault/></s:Body></s:Envelope>",
         Outcome::SoapFault, "(no reason given)"},
        {"Plain500", 500, "Internal Server Error", Outcome::HttpError, "HTTP 500 from " + kAddress},
        {"Html404", 404, "<html><body>Not found</body></html>", Outcome::HttpError, "HTTP 404 from " + kAddress},
        {"EnvelopeWith503NoFault", 503, ResultEnvelope("ApiLogin", "<R/>"), Outcome::HttpError, "HTTP 503 from"},
        {"NotXml", 200, "Service Unavailable", Outcome::SoapFault, "is not XML"},
        {"EmptyBody", 200, "", Outcome::SoapFault, "is not XML"},
        {"XmlButNotEnvelope", 200, "<LOGINRESULT><RTCD>1</RTCD></LOGINRESULT>", Outcome::SoapFault,
         "is not a SOAP envelope"},
        {"EnvelopeWithoutBody", 200, "<s:Envelope xmlns:s=\"u\"><s:Header/></s:Envelope>", Outcome::SoapFault,
         "is not a SOAP envelope"},
        {"EmptySoapBody", 200, "<s:Envelope xmlns:s=\"u\"><s:Body/></s:Envelope>", Outcome::SoapFault,
         "empty SOAP body"},
        {"ResultHoldsElements", 200,
         "<s:Envelope xmlns:s=\"u\"><s:Body><ApiLoginResponse><ApiLoginResult><R/></ApiLoginResult>"
         "</ApiLoginResponse></s:Body></s:Envelope>",
         Outcome::SoapFault, "instead of text"},
    };
    return cases;
}

class SoapAnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(SoapAnswerTest, Reads) {
    const AnswerCase& c = GetParam();
    platform::HttpResponse response;
    response.status = c.status;
    response.body = c.body;
    try {
        std::string text = soap::ReadAnswer(response, "ApiLogin", kAddress);
        ASSERT_EQ(c.outcome, Outcome::Text) << "no error raised";
        EXPECT_EQ(text, c.expected);
    } catch (const ESoapFault& e) {
        ASSERT_EQ(c.outcome, Outcome::SoapFault) << e.what();
        EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    } catch (const EHttpError& e) {
        ASSERT_EQ(c.outcome, Outcome::HttpError) << e.what();
        EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Soap, SoapAnswerTest, ::testing::ValuesIn(AnswerCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GatewayAddress, DefaultsFollowTheRegisteredHost) {
    BindingScope scope;
    scope.Use("gw.example:8080");
    EXPECT_EQ(DefaultServiceAddress(), "http://gw.example:8080/Tellvio/4.4/API/ApiService.asmx");
    EXPECT_EQ(DefaultServiceDescriptionAddress(), "http://gw.example:8080/Tellvio/4.4/API/ApiService.asmx?WSDL");
}

// ---- Against the simulator ---------------------------------------------------------------------------

class GatewayCallTest : public ::testing::Test {
protected:
    GatewayCallTest() : sim_(Options()) {}

    static sim::SimulatorOptions Options() {
        sim::SimulatorOptions o;
        o.namespaceUri = kNs;
        o.slowSeconds = 3.0;
        return o;
    }

    void SetUp() override {
        sim_.AddAccount("demo", "secret");
        sim_.Start();
        binding_.Use(sim_.Host());
    }

    std::string Address() const { return "http://" + sim_.Host() + kPathWithQuery; }

    // A one-to-one batch whose external ids are 1..count.
    static void Fill(TSendSMS& sms, int count) {
        for (int i = 1; i <= count; ++i)
            sms.AddSMSItem("90532000000" + std::to_string(i), std::to_string(i), "M" + std::to_string(i), "");
    }

    BindingScope binding_;
    sim::GatewaySimulator sim_;
};

TEST_F(GatewayCallTest, LoginTravelsByteForByte) {
    TLogin login;
    login.SetUserName("demo");
    login.SetPassword("secret");
    const std::string document = login.AsString();
    ApiServiceSoapRef client = CreateApiServiceClient(false, DefaultServiceDescriptionAddress(), nullptr);
    TLoginResult result;
    EXPECT_TRUE(result.LoadFromString(client->ApiLogin(document)));
    EXPECT_EQ(result.ReturnCode(), 1);
    EXPECT_FALSE(result.Token().empty());

    auto requests = sim_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, kPathWithQuery);
    EXPECT_EQ(requests[0].contentType,
              "application/soap+xml; charset=\"utf-8\";action=\"http://tellvio.com/api/4.4/ApiLogin\"");
    EXPECT_EQ(requests[0].body, soap::BuildEnvelope(kNs, "ApiLogin", document));
    EXPECT_EQ(requests[0].operation, "ApiLogin");
    EXPECT_EQ(requests[0].data, document) << "the gateway receives the document byte for byte";
}

TEST_F(GatewayCallTest, SendLogsInThenSendsOneBatch) {
    sim_.SetSendDecision("905320000002", -5, "Numara geçersiz");
    TSendSMS sms(false);
    sms.AddSMSItem("905320000001", "17", "Merhaba", "");
    sms.AddSMSItem("905320000002", "18", "İyi günler", "");
    TSendSMSResponse answer;
    ASSERT_TRUE(SendSMSWithLogin("demo", "secret", "KANAL", "DEV", sms, answer));

    EXPECT_EQ(answer.ResponseCode(), 1);
    ASSERT_EQ(answer.ResponseList().size(), 2u);
    EXPECT_EQ(answer.ResponseList()[0]->ExternalId(), "17");
    EXPECT_GE(answer.ResponseList()[0]->MessageId(), 1000);
    EXPECT_EQ(answer.ResponseList()[1]->ExternalId(), "18");
    EXPECT_EQ(answer.ResponseList()[1]->MessageId(), -5);
    EXPECT_EQ(answer.ResponseList()[1]->ReturnValue(), "Numara geçersiz");

    auto requests = sim_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].operation, "ApiLogin");
    EXPECT_EQ(requests[1].operation, "SendBulkSMS");
    EXPECT_EQ(requests[1].path, kPathWithQuery);
    EXPECT_EQ(requests[1].contentType,
              "application/soap+xml; charset=\"utf-8\";action=\"http://tellvio.com/api/4.4/SendBulkSMS\"");
    EXPECT_FALSE(sms.Token().empty());
    EXPECT_EQ(sms.JobId(), "DEV");
    EXPECT_EQ(sms.CampaignGroup(), "KANAL");
    EXPECT_EQ(requests[1].data, sms.AsString()) << "the batch carries the login's token, the job id and the group";
}

TEST_F(GatewayCallTest, ReportLogsInThenAsksOnce) {
    sim_.SetDeliveryStatus(1000, "SNT");
    sim_.SetDeliveryStatus(1001, "FLD");
    TGetReport request;
    request.AddRequest(1000, "17");
    request.AddRequest(1001, "18");
    TReportResponse answer;
    ASSERT_TRUE(GetReportWithLogin("demo", "secret", "DEV", request, answer));

    EXPECT_EQ(answer.ReportStatus(), 1);
    ASSERT_EQ(answer.ReportResponseItemList().size(), 2u);
    EXPECT_EQ(answer.ReportResponseItemList()[0]->ExternalId(), "17");
    EXPECT_EQ(answer.ReportResponseItemList()[0]->Status(), "SNT");
    EXPECT_EQ(answer.ReportResponseItemList()[1]->Status(), "FLD");

    auto requests = sim_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].operation, "Report");
    EXPECT_EQ(requests[1].path, kPathWithQuery);
    EXPECT_EQ(requests[1].contentType,
              "application/soap+xml; charset=\"utf-8\";action=\"http://tellvio.com/api/4.4/Report\"");
    EXPECT_EQ(requests[1].data, request.AsString());
    EXPECT_EQ(request.JobId(), "DEV");
    EXPECT_FALSE(request.Token().empty());
}

TEST_F(GatewayCallTest, RefusedLoginStopsBeforeTheBatch) {
    TSendSMS sms(false);
    Fill(sms, 2);
    TSendSMSResponse sendAnswer;
    EXPECT_FALSE(SendSMSWithLogin("demo", "wrong", "KANAL", "DEV", sms, sendAnswer));
    EXPECT_EQ(sendAnswer.ResponseCode(), 0);

    sim_.SetFault(sim::Fault::RefuseLogin, "ApiLogin");
    TGetReport report;
    report.AddRequest(1000, "1");
    TReportResponse reportAnswer;
    EXPECT_FALSE(GetReportWithLogin("demo", "secret", "DEV", report, reportAnswer));

    auto requests = sim_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].operation, "ApiLogin");
    EXPECT_EQ(requests[1].operation, "ApiLogin");
}

TEST_F(GatewayCallTest, UnreadableLoginAnswerStillSendsWithEmptyToken) {
    sim_.SetFault(sim::Fault::MalformedXml, "ApiLogin");
    TSendSMS sms(false);
    Fill(sms, 1);
    TSendSMSResponse answer;
    EXPECT_TRUE(SendSMSWithLogin("demo", "secret", "KANAL", "DEV", sms, answer));
    auto requests = sim_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].data.find("<TOKEN/>"), std::string::npos);
    EXPECT_EQ(answer.ResponseCode(), -1) << "the gateway itself refuses a batch without a valid token";
}

TEST_F(GatewayCallTest, LargeBatchTravelsInOneCall) {
    TSendSMS sms(false);
    Fill(sms, 5000);
    TSendSMSResponse answer;
    ASSERT_TRUE(SendSMSWithLogin("demo", "secret", "KANAL", "DEV", sms, answer));
    EXPECT_EQ(answer.ResponseCode(), 1);
    ASSERT_EQ(answer.ResponseList().size(), 5000u);
    EXPECT_EQ(answer.ResponseList().back()->ExternalId(), "5000");
    EXPECT_EQ(sim_.Requests().size(), 2u);
}

enum class Routine { Send, Report };
enum class Expect { Answer, HttpError, SoapFault };

struct FaultCase {
    const char* name;
    Routine routine;
    sim::Fault fault;
    std::string operation;
    Expect expect;
    std::string messagePart;  // errors: a part of the message ("@" stands for the address)
    int32_t code;             // answers: ResponseCode / ReportStatus
    std::vector<std::string> eids;
    size_t requests;  // SOAP calls the gateway saw
};
// Test names print the case name, not the bytes of the case.
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }


const std::vector<FaultCase>& FaultCases() {
    static const std::vector<FaultCase> cases = {
        {"LoginHttp500", Routine::Send, sim::Fault::Http500, "ApiLogin", Expect::HttpError, "HTTP 500 from @", 0, {}, 1},
        {"SendHttp500", Routine::Send, sim::Fault::Http500, "SendBulkSMS", Expect::HttpError, "HTTP 500 from @", 0, {}, 2},
        {"SendSoapFault", Routine::Send, sim::Fault::SoapFault, "SendBulkSMS", Expect::SoapFault,
         "Simulated gateway fault [soap:Receiver]", 0, {}, 2},
        {"ReportSoapFault", Routine::Report, sim::Fault::SoapFault, "Report", Expect::SoapFault,
         "SOAP fault from @: Server was unable", 0, {}, 2},
        {"SendDropped", Routine::Send, sim::Fault::DropConnection, "SendBulkSMS", Expect::HttpError, "@", 0, {}, 2},
        {"ReportDropped", Routine::Report, sim::Fault::DropConnection, "", Expect::HttpError, "@", 0, {}, 1},
        {"SendSlow", Routine::Send, sim::Fault::SlowAnswer, "SendBulkSMS", Expect::HttpError, "timed out after 1", 0, {},
         2},
        {"SendMalformed", Routine::Send, sim::Fault::MalformedXml, "SendBulkSMS", Expect::Answer, "", 0, {}, 2},
        {"ReportMalformed", Routine::Report, sim::Fault::MalformedXml, "Report", Expect::Answer, "", 0, {}, 2},
        {"SendPartial", Routine::Send, sim::Fault::PartialAnswer, "SendBulkSMS", Expect::Answer, "", 1, {"1", "3"}, 2},
        {"ReportPartial", Routine::Report, sim::Fault::PartialAnswer, "Report", Expect::Answer, "", 1, {"1", "3"}, 2},
        {"SendRepeated", Routine::Send, sim::Fault::RepeatedEids, "SendBulkSMS", Expect::Answer, "", 1,
         {"1", "2", "3", "1", "2", "3"}, 2},
        {"SendBatchRefused", Routine::Send, sim::Fault::BatchRefused, "SendBulkSMS", Expect::Answer, "", 0, {}, 2},
        {"ReportBatchRefused", Routine::Report, sim::Fault::BatchRefused, "Report", Expect::Answer, "", 0, {}, 2},
    };
    return cases;
}

class GatewayFaultTest : public GatewayCallTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(GatewayFaultTest, TurnsIntoTheExpectedOutcome) {
    const FaultCase& c = GetParam();
    if (c.fault == sim::Fault::SlowAnswer) binding_.Use(sim_.Host(), 1);
    sim_.SetFault(c.fault, c.operation);

    std::string part = c.messagePart;
    if (size_t at = part.find('@'); at != std::string::npos) part.replace(at, 1, Address());

    TSendSMS sms(false);
    Fill(sms, 3);
    TSendSMSResponse sendAnswer;
    TGetReport report;
    for (int i = 1; i <= 3; ++i) report.AddRequest(999 + i, std::to_string(i));
    TReportResponse reportAnswer;
    auto run = [&] {
        return c.routine == Routine::Send ? SendSMSWithLogin("demo", "secret", "KANAL", "DEV", sms, sendAnswer)
                                          : GetReportWithLogin("demo", "secret", "DEV", report, reportAnswer);
    };

    try {
        bool result = run();
        ASSERT_EQ(c.expect, Expect::Answer) << "no error raised";
        EXPECT_TRUE(result);
        std::vector<std::string> eids;
        if (c.routine == Routine::Send) {
            EXPECT_EQ(sendAnswer.ResponseCode(), c.code);
            for (const auto& e : sendAnswer.ResponseList()) eids.push_back(e->ExternalId());
        } else {
            EXPECT_EQ(reportAnswer.ReportStatus(), c.code);
            for (const auto& e : reportAnswer.ReportResponseItemList()) eids.push_back(e->ExternalId());
        }
        EXPECT_EQ(eids, c.eids);
    } catch (const ESoapFault& e) {
        ASSERT_EQ(c.expect, Expect::SoapFault) << e.what();
        EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
    } catch (const EHttpError& e) {
        ASSERT_EQ(c.expect, Expect::HttpError) << e.what();
        EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
    }
    EXPECT_EQ(sim_.Requests().size(), c.requests);
}

INSTANTIATE_TEST_SUITE_P(Gateway, GatewayFaultTest, ::testing::ValuesIn(FaultCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GatewayCallTest, UnknownEidsAreKeptAsAnswered) {
    sim_.SetFault(sim::Fault::UnknownEids, "SendBulkSMS");
    TSendSMS sms(false);
    Fill(sms, 2);
    TSendSMSResponse answer;
    ASSERT_TRUE(SendSMSWithLogin("demo", "secret", "KANAL", "DEV", sms, answer));
    std::vector<std::string> eids;
    for (const auto& e : answer.ResponseList()) eids.push_back(e->ExternalId());
    ASSERT_EQ(eids.size(), 4u);
    EXPECT_EQ(std::count(eids.begin(), eids.end(), "1"), 1);
    EXPECT_EQ(std::count(eids.begin(), eids.end(), "2"), 1);
}

TEST_F(GatewayCallTest, ClientAddressFollowsTheDescriptionFlag) {
    struct Case {
        bool useWsdl;
        std::string address;
        std::string path;
    };
    const std::vector<Case> cases = {
        {false, "", kPath},
        {true, "", kPath},  // the description is not fetched: its service lives at the address without "?WSDL"
        {true, "http://" + sim_.Host() + kPathWithQuery, kPath},
        {false, "http://" + sim_.Host() + kPathWithQuery, kPathWithQuery},
    };
    for (const Case& c : cases) {
        sim_.ClearRequests();
        CreateApiServiceClient(c.useWsdl, c.address)->ApiLogin(TLogin().AsString());
        auto requests = sim_.Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].path, c.path) << c.useWsdl << " " << c.address;
    }

    ApiServiceSoapRef first = CreateApiServiceClient(false, "http://" + sim_.Host() + "/elsewhere");
    ApiServiceSoapRef again = CreateApiServiceClient(false, DefaultServiceAddress(), first);
    EXPECT_EQ(again.get(), first.get()) << "an existing client is used, pointed at the new address";
    sim_.ClearRequests();
    again->ApiLogin(TLogin().AsString());
    ASSERT_EQ(sim_.Requests().size(), 1u);
    EXPECT_EQ(sim_.Requests()[0].path, kPath);
}

TEST(GatewayUnreachable, ErrorNamesTheAddress) {
    BindingScope scope;
    scope.Use("127.0.0.1:" + std::to_string(test::ClosedLoopbackPort()));

    TSendSMS sms(false);
    TSendSMSResponse answer;
    try {
        SendSMSWithLogin("demo", "secret", "KANAL", "DEV", sms, answer);
        FAIL() << "no error raised";
    } catch (const EHttpError& e) {
        EXPECT_NE(std::string(e.what()).find(DefaultServiceDescriptionAddress()), std::string::npos) << e.what();
    }
}

// ---- A scripted gateway for answers the simulator does not give ---------------------------------------

// Answers each connection with the next canned HTTP answer and records the request bodies.
class ScriptedGateway {
public:
    explicit ScriptedGateway(std::vector<std::string> answers) : answers_(std::move(answers)) {
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedGateway() {
        listener_.Shutdown();  // wakes a pending accept
        thread_.join();
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(listener_.Port()); }
    std::vector<std::string> Bodies() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return bodies_;
    }

private:
    void Serve() {
        for (const std::string& answer : answers_) {
            auto c = listener_.Accept();
            if (c == -1) return;
            std::string in;
            char buf[65536];
            size_t headerEnd = std::string::npos, need = 0;
            while (true) {
                long n = test::LoopbackListener::Receive(c, buf, sizeof buf);
                if (n <= 0) break;
                in.append(buf, static_cast<size_t>(n));
                if (headerEnd == std::string::npos && (headerEnd = in.find("\r\n\r\n")) != std::string::npos) {
                    const std::string head = platform::LowerAscii(in.substr(0, headerEnd));
                    size_t cl = head.find("content-length:");
                    need = cl == std::string::npos ? 0 : std::stoul(head.substr(cl + 15));
                }
                if (headerEnd != std::string::npos && in.size() >= headerEnd + 4 + need) break;
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                bodies_.push_back(headerEnd == std::string::npos ? std::string() : in.substr(headerEnd + 4));
            }
            std::string out = "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " +
                              std::to_string(answer.size()) + "\r\nConnection: close\r\n\r\n" + answer;
            test::LoopbackListener::SendAll(c, out);
            test::LoopbackListener::Close(c);
        }
    }

    std::vector<std::string> answers_;
    test::LoopbackListener listener_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> bodies_;
};

TEST(GatewayLoginCodes, CodeZeroStillSendsTheBatchWithItsToken) {
    ScriptedGateway gateway({ResultEnvelope("ApiLogin", "<R><TOKEN>tok0</TOKEN><RTCD>0</RTCD><EXP/></R>"),
                             ResultEnvelope("SendBulkSMS", "<R><RTCD>1</RTCD><RSP_LIST/></R>")});
    BindingScope scope;
    scope.Use(gateway.Host());
    TSendSMS sms(false);
    sms.AddSMSItem("905320000001", "1", "x", "");
    TSendSMSResponse answer;
    EXPECT_TRUE(SendSMSWithLogin("demo", "secret", "KANAL", "DEV", sms, answer));
    EXPECT_EQ(answer.ResponseCode(), 1);
    auto bodies = gateway.Bodies();
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_NE(bodies[1].find("&lt;TOKEN&gt;tok0&lt;/TOKEN&gt;"), std::string::npos);
}

TEST(GatewayLoginCodes, ResultElementLeftOutGoesOnLikeAnUnreadableAnswer) {
    ScriptedGateway gateway(
        {"<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Body><ApiLoginResponse/></s:Body>"
         "</s:Envelope>",
         ResultEnvelope("Report", "<R><RTCD>1</RTCD><EXP/><RSP_LIST/></R>")});
    BindingScope scope;
    scope.Use(gateway.Host());
    TGetReport report;
    TReportResponse answer;
    EXPECT_TRUE(GetReportWithLogin("demo", "secret", "DEV", report, answer));
    EXPECT_EQ(answer.ReportStatus(), 1);
    ASSERT_EQ(gateway.Bodies().size(), 2u);
    EXPECT_NE(gateway.Bodies()[1].find("&lt;TOKEN/&gt;"), std::string::npos);
}

} // namespace
} // namespace velmora::gateway
