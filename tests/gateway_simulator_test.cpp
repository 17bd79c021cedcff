// The gateway simulator as seen on the wire through HttpPost, and HttpPost's own failures.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/Error.h"
#include "platform/Http.h"
#include "tests/TestSockets.h"
#include "tools/gatewaysim/GatewaySimulator.h"
#include "xml/XmlDocument.h"
#include "xml/XmlEscape.h"

namespace {

using velmora::EHttpError;
using velmora::platform::HttpPost;
using velmora::platform::HttpResponse;
using velmora::platform::HttpTimeouts;
using velmora::sim::Fault;
using velmora::sim::GatewaySimulator;
using velmora::sim::SimulatorOptions;
using velmora::xml::XmlDocument;
using velmora::xml::XmlElement;

const std::string kNs = "http://tellvio.com/api/4.4/";
const std::string kPath = "/Tellvio/4.4/API/ApiService.asmx";

std::string Envelope(const std::string& operation, const std::string& data) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
           "<soap12:Envelope xmlns:soap12=\"http://www.w3.org/2003/05/soap-envelope\"><soap12:Body><" +
           operation + " xmlns=\"" + kNs + "\"><data>" + velmora::xml::EscapeXmlText(data) + "</data></" + operation +
           "></soap12:Body></soap12:Envelope>";
}

std::string ContentType(const std::string& operation) {
    return "Content-Type: application/soap+xml; charset=\"utf-8\";action=\"" + kNs + operation + "\"";
}

std::string LocalName(const std::string& name) {
    size_t colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

XmlElement ChildLocal(const XmlElement& parent, const std::string& local) {
    for (const XmlElement& c : parent.Children())
        if (LocalName(c.Name()) == local) return c;
    return {};
}

std::string LoginDoc(const std::string& user, const std::string& password) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<LOGIN><VERSION>1.0</VERSION><USR>" +
           velmora::xml::EscapeXmlText(user) + "</USR><PWD>" + velmora::xml::EscapeXmlText(password) + "</PWD></LOGIN>";
}

struct Rcpt {
    std::string ta, eid, msg;
};

std::string SendDoc(const std::string& token, const std::vector<Rcpt>& rcpts) {
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<SENDSMS><VERSION>1.0</VERSION><TOKEN>" + token +
                      "</TOKEN><JID>dev</JID><CG>CH1</CG><RCPT_LIST>";
    for (const Rcpt& r : rcpts)
        out += "<RCPT><TA>" + r.ta + "</TA><EID>" + r.eid + "</EID><MSG>" + velmora::xml::EscapeXmlText(r.msg) +
               "</MSG></RCPT>";
    return out + "</RCPT_LIST></SENDSMS>";
}

std::string ReportDoc(const std::string& token, const std::vector<std::pair<int, std::string>>& rpts) {
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<GETREPORT><VERSION>1.0</VERSION><TOKEN>" + token +
                      "</TOKEN><JID>dev</JID><RPT_LIST>";
    for (const auto& [id, eid] : rpts) out += "<RPT><MSGID>" + std::to_string(id) + "</MSGID><EID>" + eid + "</EID></RPT>";
    return out + "</RPT_LIST></GETREPORT>";
}

// What an XML reader makes of a text: every line break becomes a line feed.
std::string AsRead(std::string text) {
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    return text;
}

// One parsed answer document, kept alive with its elements.
struct Answer {
    std::unique_ptr<XmlDocument> doc = std::make_unique<XmlDocument>();
    XmlElement Root() const { return doc->Root(); }
    std::string Text(const std::string& name) const { return Root().ChildText(name); }
    std::vector<XmlElement> Entries() const { return Root().Child("RSP_LIST").Children(); }
};

class GatewaySimulatorTest : public ::testing::Test {
protected:
    void SetUp() override { Begin({}); }

    void Begin(SimulatorOptions options) {
        sim_ = std::make_unique<GatewaySimulator>(options);
        sim_->AddAccount("acme", "p&ss<1>");
        sim_->Start();
    }

    std::string Url() const { return "http://" + sim_->Host() + kPath + "?WSDL"; }

    HttpResponse Post(const std::string& operation, const std::string& data, HttpTimeouts timeouts = {5, 30}) {
        return HttpPost(Url(), {ContentType(operation)}, Envelope(operation, data), timeouts);
    }

    // The result element's text of a successful call.
    std::string ResultText(const HttpResponse& r, const std::string& operation) {
        EXPECT_EQ(r.status, 200) << r.body;
        EXPECT_NE(r.contentType.find("application/soap+xml"), std::string::npos);
        XmlDocument envelope;
        envelope.LoadFromString(r.body);
        XmlElement response = ChildLocal(ChildLocal(envelope.Root(), "Body"), operation + "Response");
        EXPECT_TRUE(response) << r.body;
        XmlElement result = ChildLocal(response, operation + "Result");
        EXPECT_TRUE(result) << r.body;
        return result.Text();
    }

    Answer Call(const std::string& operation, const std::string& data) {
        Answer a;
        a.doc->LoadFromString(ResultText(Post(operation, data), operation));
        return a;
    }

    std::string Login() { return Call("ApiLogin", LoginDoc("acme", "p&ss<1>")).Text("TOKEN"); }

    std::unique_ptr<GatewaySimulator> sim_;
};

TEST_F(GatewaySimulatorTest, LoginAcceptsOnlyKnownAccountsWithTheirPassword) {
    struct Case {
        const char* user;
        const char* password;
        bool refuseFault;
        int code;
    } cases[] = {
        {"acme", "p&ss<1>", false, 1},
        {"acme", "p&ss<2>", false, -1},
        {"nobody", "p&ss<1>", false, -1},
        {"", "", false, -1},
        {"acme", "p&ss<1>", true, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user) + "/" + c.password + (c.refuseFault ? " refused" : ""));
        sim_->ClearFaults();
        if (c.refuseFault) sim_->SetFault(Fault::RefuseLogin, "ApiLogin");
        Answer a = Call("ApiLogin", LoginDoc(c.user, c.password));
        EXPECT_EQ(a.Text("RTCD"), std::to_string(c.code));
        EXPECT_EQ(a.Text("TOKEN").empty(), c.code < 0);
        EXPECT_TRUE(a.Root().Child("EXP"));
    }
}

TEST_F(GatewaySimulatorTest, TokensAreFreshForEveryLogin) {
    EXPECT_NE(Login(), Login());
}

TEST_F(GatewaySimulatorTest, SendGivesFreshIdsUnlessAnAddressHasADecision) {
    sim_->SetSendDecision("905550000002", -3, "Blacklisted");
    sim_->SetSendDecision("905550000003", 77, "Taken");
    std::string token = Login();
    Answer a = Call("SendBulkSMS", SendDoc(token, {{"905550000001", "11", "a"},
                                                   {"905550000002", "12", "b"},
                                                   {"905550000003", "13", "c"},
                                                   {"905550000004", "14", "d"}}));
    EXPECT_EQ(a.Text("RTCD"), "1");
    std::vector<XmlElement> e = a.Entries();
    ASSERT_EQ(e.size(), 4u);
    const char* expected[][3] = {{"1000", "11", "OK"}, {"-3", "12", "Blacklisted"}, {"77", "13", "Taken"},
                                 {"1001", "14", "OK"}};
    for (size_t i = 0; i < e.size(); ++i) {
        EXPECT_EQ(e[i].ChildText("MSGID"), expected[i][0]);
        EXPECT_EQ(e[i].ChildText("EID"), expected[i][1]);
        EXPECT_EQ(e[i].ChildText("RESULT"), expected[i][2]);
    }
    // Ids keep counting across batches.
    Answer next = Call("SendBulkSMS", SendDoc(Login(), {{"905550000009", "15", "e"}}));
    EXPECT_EQ(next.Entries().at(0).ChildText("MSGID"), "1002");
}

TEST_F(GatewaySimulatorTest, SendAndReportWithAnUnknownTokenAreRefusedWithoutEntries) {
    for (const std::string token : {"", "made-up"}) {
        SCOPED_TRACE("token \"" + token + "\"");
        Answer s = Call("SendBulkSMS", SendDoc(token, {{"905550000001", "11", "a"}}));
        EXPECT_EQ(s.Text("RTCD"), "-1");
        EXPECT_TRUE(s.Entries().empty());
        Answer r = Call("Report", ReportDoc(token, {{1000, "11"}}));
        EXPECT_EQ(r.Text("RTCD"), "-1");
        EXPECT_TRUE(r.Entries().empty());
    }
}

TEST_F(GatewaySimulatorTest, ReportGivesTheConfiguredStatusWithEveryElementWellFormed) {
    sim_->SetDeliveryStatus(1001, "HBN");
    sim_->SetDeliveryStatus(1002, "snt");
    Answer a = Call("Report", ReportDoc(Login(), {{1000, "11"}, {1001, "12"}, {1002, "13"}}));
    EXPECT_EQ(a.Text("RTCD"), "1");
    EXPECT_TRUE(a.Root().Child("EXP"));
    std::vector<XmlElement> e = a.Entries();
    ASSERT_EQ(e.size(), 3u);
    const char* expected[][3] = {{"1000", "11", "OPN"}, {"1001", "12", "HBN"}, {"1002", "13", "snt"}};
    for (size_t i = 0; i < e.size(); ++i) {
        EXPECT_EQ(e[i].ChildText("MSGID"), expected[i][0]);
        EXPECT_EQ(e[i].ChildText("EID"), expected[i][1]);
        EXPECT_EQ(e[i].ChildText("ST"), expected[i][2]);
        for (const char* name : {"ERRMSG", "SDATE", "ERRCD"}) EXPECT_TRUE(e[i].Child(name)) << name;
        EXPECT_EQ(e[i].ChildText("SRTY"), "0");
        EXPECT_EQ(e[i].ChildText("SDATE").size(), 19u);
    }

    sim_->SetDefaultDeliveryStatus("PND");
    Answer later = Call("Report", ReportDoc(Login(), {{1000, "11"}, {1001, "12"}}));
    EXPECT_EQ(later.Entries().at(0).ChildText("ST"), "PND");
    EXPECT_EQ(later.Entries().at(1).ChildText("ST"), "HBN");
}

TEST_F(GatewaySimulatorTest, RequestsAreRecordedAsReceived) {
    std::string doc = LoginDoc("acme", "p&ss<1>");
    Post("ApiLogin", doc);
    std::vector<velmora::sim::ReceivedRequest> r = sim_->Requests();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].path, kPath + "?WSDL");
    EXPECT_EQ(r[0].contentType, ContentType("ApiLogin").substr(strlen("Content-Type: ")));
    EXPECT_EQ(r[0].body, Envelope("ApiLogin", doc));
    EXPECT_EQ(r[0].operation, "ApiLogin");
    EXPECT_EQ(r[0].data, AsRead(doc));

    HttpPost("http://" + sim_->Host() + kPath, {ContentType("ApiLogin")}, Envelope("ApiLogin", doc), {5, 30});
    EXPECT_EQ(sim_->Requests().at(1).path, kPath);

    // A wrong address is not served, but the record shows it.
    HttpResponse elsewhere = HttpPost("http://" + sim_->Host() + "/Tellvio/ApiService.asmx", {ContentType("ApiLogin")},
                                      Envelope("ApiLogin", doc), {5, 30});
    EXPECT_EQ(elsewhere.status, 404);
    EXPECT_EQ(sim_->Requests().at(2).path, "/Tellvio/ApiService.asmx");
    sim_->ClearRequests();
    EXPECT_TRUE(sim_->Requests().empty());
}

TEST_F(GatewaySimulatorTest, MalformedRequestsAreRefusedAndStillRecorded) {
    struct Case {
        const char* name;
        std::string contentType;
        std::string body;
        long status;
        const char* reasonPart;
    } cases[] = {
        {"not XML", ContentType("ApiLogin"), "<Envelope><Body>", 500, "not a readable XML"},
        {"no envelope", ContentType("ApiLogin"), "<ApiLogin><data/></ApiLogin>", 500, "not a SOAP Envelope"},
        {"wrong action", ContentType("Report"), Envelope("ApiLogin", LoginDoc("acme", "x")), 500, "does not name"},
        {"unknown operation", ContentType("SendWap"), Envelope("SendWap", "<X/>"), 500, "does not provide"},
        {"SOAP 1.1 media type", "Content-Type: text/xml; charset=utf-8", Envelope("ApiLogin", "<X/>"), 415, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim_->ClearRequests();
        HttpResponse r = HttpPost(Url(), {c.contentType}, c.body, {5, 30});
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.body.find(c.reasonPart), std::string::npos) << r.body;
        ASSERT_EQ(sim_->Requests().size(), 1u);
        EXPECT_EQ(sim_->Requests()[0].body, c.body);
    }
}

TEST_F(GatewaySimulatorTest, TransportFaultsAppearOnTheWire) {
    sim_->SetFault(Fault::Http500, "SendBulkSMS");
    HttpResponse plain = Post("SendBulkSMS", SendDoc(Login(), {}));
    EXPECT_EQ(plain.status, 500);
    EXPECT_EQ(plain.contentType.find("soap"), std::string::npos);
    // The fault belongs to one operation: the login still works.
    EXPECT_FALSE(Login().empty());

    sim_->ClearFaults();
    sim_->SetFault(Fault::SoapFault);
    HttpResponse fault = Post("ApiLogin", LoginDoc("acme", "p&ss<1>"));
    EXPECT_EQ(fault.status, 500);
    XmlDocument envelope;
    envelope.LoadFromString(fault.body);
    XmlElement f = ChildLocal(ChildLocal(envelope.Root(), "Body"), "Fault");
    ASSERT_TRUE(f) << fault.body;
    EXPECT_FALSE(ChildLocal(ChildLocal(f, "Reason"), "Text").Text().empty());
    EXPECT_EQ(ChildLocal(ChildLocal(f, "Code"), "Value").Text(), "soap:Receiver");

    sim_->ClearFaults();
    sim_->SetFault(Fault::DropConnection, "Report");
    std::string token = Login();
    try {
        Post("Report", ReportDoc(token, {{1000, "1"}}));
        ADD_FAILURE() << "a dropped connection must raise EHttpError";
    } catch (const EHttpError& e) {
        EXPECT_NE(std::string(e.what()).find(Url()), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("without an answer"), std::string::npos) << e.what();
    }
    sim_->ClearFaults();
    EXPECT_EQ(Call("Report", ReportDoc(token, {{1000, "1"}})).Text("RTCD"), "1");
}

TEST_F(GatewaySimulatorTest, SlowAnswerPastTheTimeoutRaisesEHttpError) {
    sim_->Stop();
    SimulatorOptions options;
    options.slowSeconds = 4;
    Begin(options);
    sim_->SetFault(Fault::SlowAnswer, "ApiLogin");
    try {
        Post("ApiLogin", LoginDoc("acme", "p&ss<1>"), {5, 1});
        ADD_FAILURE() << "the time-out must raise EHttpError";
    } catch (const EHttpError& e) {
        EXPECT_NE(std::string(e.what()).find("timed out after 1 seconds"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(Url()), std::string::npos) << e.what();
    }
}

TEST_F(GatewaySimulatorTest, MalformedXmlFaultSpoilsOnlyTheResultText) {
    sim_->SetFault(Fault::MalformedXml, "SendBulkSMS");
    std::string token = Login();
    std::string text = ResultText(Post("SendBulkSMS", SendDoc(token, {{"905550000001", "1", "a"}})), "SendBulkSMS");
    EXPECT_FALSE(text.empty());
    XmlDocument doc;
    EXPECT_FALSE(doc.TryLoadFromString(text));
}

TEST_F(GatewaySimulatorTest, ListFaultsChangeWhichEidsTheAnswersMention) {
    std::vector<Rcpt> rcpts;
    std::vector<std::pair<int, std::string>> rpts;
    for (int i = 1; i <= 5; ++i) {
        rcpts.push_back({"90555000000" + std::to_string(i), std::to_string(i), "m"});
        rpts.push_back({1000 + i, std::to_string(i)});
    }
    struct Case {
        Fault fault;
        std::vector<std::string> known;  // EIDs of the request, in answer order
        size_t unknown;                  // entries with EIDs never sent
    } cases[] = {
        {Fault::None, {"1", "2", "3", "4", "5"}, 0},
        {Fault::PartialAnswer, {"1", "3", "5"}, 0},
        {Fault::RepeatedEids, {"1", "2", "3", "4", "5", "1", "2", "3", "4", "5"}, 0},
        {Fault::UnknownEids, {"1", "2", "3", "4", "5"}, 2},
    };
    for (const Case& c : cases) {
        for (const std::string operation : {"SendBulkSMS", "Report"}) {
            SCOPED_TRACE(operation + " fault " + std::to_string(static_cast<int>(c.fault)));
            sim_->ClearFaults();
            sim_->SetFault(c.fault, operation);
            std::string token = Login();
            Answer a = operation == "Report" ? Call(operation, ReportDoc(token, rpts)) : Call(operation, SendDoc(token, rcpts));
            EXPECT_EQ(a.Text("RTCD"), "1");
            std::vector<std::string> known;
            size_t unknown = 0;
            std::set<std::string> sent = {"1", "2", "3", "4", "5"};
            for (const XmlElement& e : a.Entries()) {
                std::string eid = e.ChildText("EID");
                if (sent.count(eid)) known.push_back(eid);
                else ++unknown;
                EXPECT_NO_THROW((void)std::stoi(e.ChildText("MSGID")));
            }
            EXPECT_EQ(known, c.known);
            EXPECT_EQ(unknown, c.unknown);
        }
    }
}

TEST_F(GatewaySimulatorTest, BatchRefusedAnswersCodeZero) {
    sim_->SetFault(Fault::BatchRefused);
    std::string token = Login();
    EXPECT_FALSE(token.empty());
    Answer s = Call("SendBulkSMS", SendDoc(token, {{"905550000001", "1", "a"}}));
    EXPECT_EQ(s.Text("RTCD"), "0");
    EXPECT_TRUE(s.Entries().empty());
    Answer r = Call("Report", ReportDoc(token, {{1000, "1"}}));
    EXPECT_EQ(r.Text("RTCD"), "0");
    EXPECT_TRUE(r.Entries().empty());
}

TEST_F(GatewaySimulatorTest, MessageTextsTravelUnchangedInTheRecordedDocument) {
    std::string text = "Sayın Ayşe, &lt; indirim <%50> \"bugün\" 'son'\nGörüşmek üzere";
    std::string doc = SendDoc(Login(), {{"905550000001", "1", text}});
    Call("SendBulkSMS", doc);
    std::vector<velmora::sim::ReceivedRequest> r = sim_->Requests();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].data, AsRead(doc));
    XmlDocument recorded;
    recorded.LoadFromString(r[1].data);
    EXPECT_EQ(recorded.Root().Child("RCPT_LIST").Child("RCPT").ChildText("MSG"), text);
}

TEST_F(GatewaySimulatorTest, HandlesABatchOfOneHundredThousandMessages) {
    const int n = 100000;
    std::vector<Rcpt> rcpts;
    rcpts.reserve(n);
    for (int i = 0; i < n; ++i)
        rcpts.push_back({"9055" + std::to_string(10000000 + i), std::to_string(i + 1),
                         "Sayın müşterimiz, 12/05/2024 tarihli 1.250,00TL taksitinizi hatırlatırız."});
    Answer a = Call("SendBulkSMS", SendDoc(Login(), rcpts));
    std::vector<XmlElement> e = a.Entries();
    ASSERT_EQ(e.size(), static_cast<size_t>(n));
    EXPECT_EQ(e.back().ChildText("EID"), std::to_string(n));
    EXPECT_EQ(e.back().ChildText("MSGID"), std::to_string(1000 + n - 1));

    std::vector<std::pair<int, std::string>> rpts;
    rpts.reserve(n);
    for (int i = 0; i < n; ++i) rpts.push_back({1000 + i, std::to_string(i + 1)});
    Answer r = Call("Report", ReportDoc(Login(), rpts));
    EXPECT_EQ(r.Entries().size(), static_cast<size_t>(n));
}

TEST_F(GatewaySimulatorTest, StopEndsASlowAnswerAndARestartGetsAPort) {
    sim_->SetFault(Fault::SlowAnswer);
    EXPECT_THROW(Post("ApiLogin", LoginDoc("acme", "p&ss<1>"), {5, 1}), EHttpError);
    sim_->Stop();
    sim_->Start();
    EXPECT_GT(sim_->Port(), 0);
    sim_->ClearFaults();
    EXPECT_FALSE(Login().empty());
}

TEST(HttpPostTest, TransportFailuresNameTheAddress) {
    struct Case {
        std::string url;
        std::vector<std::string> headers;
        const char* part;
    } cases[] = {
        {"http://127.0.0.1:" + std::to_string(velmora::test::ClosedLoopbackPort()) + kPath, {}, "refused"},
        {"http://gateway.invalid" + kPath, {}, "http://gateway.invalid"},
        {"ftp://127.0.0.1/x", {}, "ftp://127.0.0.1/x"},
        {"http://127.0.0.1:1/x", {"X-Test: a\r\nX-Injected: b"}, "line break"},
        {"", {}, "address is empty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        try {
            HttpPost(c.url, c.headers, "<x/>", {2, 5});
            ADD_FAILURE() << "no EHttpError";
        } catch (const EHttpError& e) {
            EXPECT_NE(std::string(e.what()).find(c.part), std::string::npos) << e.what();
            if (!c.url.empty()) {
                EXPECT_NE(std::string(e.what()).find(c.url), std::string::npos) << e.what();
            }
        }
    }
}

// A gateway that answers a byte at a time never lets a single wait expire; the whole request must still end.
TEST(HttpPostTest, AnAnswerTricklingInPastTheWholeRequestLimitTimesOut) {
    velmora::test::LoopbackListener listener;
    std::atomic<bool> stop{false};
    std::thread peer([&] {
        auto c = listener.Accept();
        if (c == -1) return;
        char buf[4096];
        listener.Receive(c, buf, sizeof buf);
        velmora::test::LoopbackListener::SendAll(c, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n");
        for (int i = 0; i < 60 && !stop; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            velmora::test::LoopbackListener::SendAll(c, "x");
        }
        velmora::test::LoopbackListener::Close(c);
    });
    const std::string url = "http://127.0.0.1:" + std::to_string(listener.Port()) + kPath;
    try {
        HttpPost(url, {}, "<x/>", {5, 2});
        ADD_FAILURE() << "no EHttpError";
    } catch (const EHttpError& e) {
        EXPECT_NE(std::string(e.what()).find("timed out after 2 seconds"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(url), std::string::npos) << e.what();
    }
    stop = true;
    listener.Shutdown();
    peer.join();
}

} // namespace
