// The gateway documents: exact bytes of the three requests, and the lenient reading of the three answers.
#include <gtest/gtest.h>

#include <ostream>

#include <climits>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "gateway/ZentaXmlInterface.h"
#include "platform/Error.h"
#include "soap/SoapClient.h"
#include "xml/XmlDocument.h"
#include "tests/TestSupport.h"

namespace velmora::gateway {
namespace {

using test::DT;

std::string Doc(const std::string& body) { return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + body; }

// ---- Requests ------------------------------------------------------------------------------------------

struct RequestCase {
    const char* name;
    std::function<std::string()> write;
    std::string expected;
};
// Test names print the case name, not the bytes of the case.
void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.name; }


std::string Login(const std::string& user, const std::string& password) {
    TLogin login;
    login.SetUserName(user);
    login.SetPassword(password);
    return login.AsString();
}

// A one-to-one request with the given recipients (address, id, text) and header values.
std::string OneToOne(const std::vector<std::vector<std::string>>& recipients, const std::string& token = "T1",
                     const std::string& jobId = "J1", const std::string& group = "CG1") {
    TSendSMS sms(false);
    sms.SetToken(token);
    sms.SetJobId(jobId);
    sms.SetCampaignGroup(group);
    for (const auto& r : recipients) sms.AddSMSItem(r[0], r[1], r[2], "");
    return sms.AsString();
}

std::string Planned(TDateTime when) {
    TSendSMS sms(false);
    sms.SetToken("T1");
    sms.SetJobId("J1");
    sms.SetCampaignGroup("CG1");
    sms.SetPlannedSendingDate(when);
    return sms.AsString();
}

const std::string kHead = "<VERSION>1.0</VERSION><TOKEN>T1</TOKEN><JID>J1</JID>";

const std::vector<RequestCase>& RequestCases() {
    static const std::vector<RequestCase> cases = {
        {"LoginPlain", [] { return Login("demo", "secret"); },
         Doc("<LOGIN><VERSION>1.0</VERSION><USR>demo</USR><PWD>secret</PWD></LOGIN>")},
        {"LoginAmpersands", [] { return Login("a&b", "p&&w"); },
         Doc("<LOGIN><VERSION>1.0</VERSION><USR>a&amp;b</USR><PWD>p&amp;&amp;w</PWD></LOGIN>")},
        {"LoginEmptyValues", [] { return Login("", ""); }, Doc("<LOGIN><VERSION>1.0</VERSION><USR/><PWD/></LOGIN>")},
        {"LoginFiveEscapesTurkishAsIs", [] { return Login("<\"ş'>", "İĞÜÇÖ ığüçö"); },
         Doc("<LOGIN><VERSION>1.0</VERSION><USR>&lt;&quot;ş&apos;&gt;</USR><PWD>İĞÜÇÖ ığüçö</PWD></LOGIN>")},

        {"SendOneToOneTwoRecipients",
         [] { return OneToOne({{"905321112233", "17", "Merhaba"}, {"905324445566", "18", "İyi günler"}}); },
         Doc("<SENDSMS>" + kHead + "<CG>CG1</CG><RCPT_LIST>"
             "<RCPT><TA>905321112233</TA><EID>17</EID><MSG>Merhaba</MSG></RCPT>"
             "<RCPT><TA>905324445566</TA><EID>18</EID><MSG>İyi günler</MSG></RCPT>"
             "</RCPT_LIST></SENDSMS>")},
        {"SendEmptyTokenJobAndGroup", [] { return OneToOne({{"905321112233", "1", "x"}}, "", "", ""); },
         Doc("<SENDSMS><VERSION>1.0</VERSION><TOKEN/><JID/><CG/><RCPT_LIST>"
             "<RCPT><TA>905321112233</TA><EID>1</EID><MSG>x</MSG></RCPT></RCPT_LIST></SENDSMS>")},
        {"SendEmptyRecipientFields", [] { return OneToOne({{"", "", ""}}); },
         Doc("<SENDSMS>" + kHead + "<CG>CG1</CG><RCPT_LIST><RCPT><TA/><EID/><MSG/></RCPT></RCPT_LIST></SENDSMS>")},
        {"SendLineBreaksFoldedToLf", [] { return OneToOne({{"1", "2", "Satır 1\r\nSatır 2\rSon\n\r\r\n."}}); },
         Doc("<SENDSMS>" + kHead + "<CG>CG1</CG><RCPT_LIST><RCPT><TA>1</TA><EID>2</EID>"
             "<MSG>Satır 1\nSatır 2\nSon\n\n\n.</MSG></RCPT></RCPT_LIST></SENDSMS>")},
        {"SendReferenceEscapedAgain", [] { return OneToOne({{"1", "2", "a &lt; b & c > \"d\" 'e'"}}); },
         Doc("<SENDSMS>" + kHead + "<CG>CG1</CG><RCPT_LIST><RCPT><TA>1</TA><EID>2</EID>"
             "<MSG>a &amp;lt; b &amp; c &gt; &quot;d&quot; &apos;e&apos;</MSG></RCPT></RCPT_LIST></SENDSMS>")},
        {"SendNoRecipients", [] { return OneToOne({}); },
         Doc("<SENDSMS>" + kHead + "<CG>CG1</CG><RCPT_LIST/></SENDSMS>")},
        {"SendOneToMany",
         [] {
             TSendSMS sms(true);
             sms.SetToken("T1");
             sms.SetJobId("J1");
             sms.SetCampaignGroup("CG1");
             sms.SetMessageText("Kampanya & indirim\r\n%20");
             sms.AddSMSItem("905321112233", "17", "ignored", "VAR");
             sms.AddSMSItem("905324445566", "18", "ignored", "");
             return sms.AsString();
         },
         Doc("<SENDSMS>" + kHead + "<MSG>Kampanya &amp; indirim\n%20</MSG><CG>CG1</CG><RCPT_LIST>"
             "<RCPT><TA>905321112233</TA><EID>17</EID><MSG/></RCPT>"
             "<RCPT><TA>905324445566</TA><EID>18</EID><MSG/></RCPT></RCPT_LIST></SENDSMS>")},
        {"SendOneToManyEmptyText",
         [] {
             TSendSMS sms(true);
             sms.SetToken("T1");
             sms.SetJobId("J1");
             sms.SetCampaignGroup("CG1");
             return sms.AsString();
         },
         Doc("<SENDSMS>" + kHead + "<MSG/><CG>CG1</CG><RCPT_LIST/></SENDSMS>")},
        {"SendOneToOneIgnoresRequestText",
         [] {
             TSendSMS sms(false);
             sms.SetToken("T1");
             sms.SetJobId("J1");
             sms.SetCampaignGroup("CG1");
             sms.SetMessageText("never written");
             sms.AddSMSItem("1", "2", "own", "never written either");
             return sms.AsString();
         },
         Doc("<SENDSMS>" + kHead + "<CG>CG1</CG><RCPT_LIST><RCPT><TA>1</TA><EID>2</EID><MSG>own</MSG></RCPT>"
             "</RCPT_LIST></SENDSMS>")},

        {"PlannedInitialValue", [] { return OneToOne({}); },
         Doc("<SENDSMS>" + kHead + "<CG>CG1</CG><RCPT_LIST/></SENDSMS>")},
        {"PlannedLastMinuteOf2000", [] { return Planned(DT(2000, 12, 31, 23, 59)); },
         Doc("<SENDSMS>" + kHead + "<CG>CG1</CG><RCPT_LIST/></SENDSMS>")},
        {"PlannedFirstMomentOf2001", [] { return Planned(DT(2001, 1, 1)); },
         Doc("<SENDSMS>" + kHead + "<CG>CG1</CG><PDATE>2001-01-01T00:00:00Z</PDATE><RCPT_LIST/></SENDSMS>")},
        {"PlannedFractionDropped", [] { return Planned(DT(2013, 3, 14, 9, 30, 0, 700)); },
         Doc("<SENDSMS>" + kHead + "<CG>CG1</CG><PDATE>2013-03-14T09:30:00Z</PDATE><RCPT_LIST/></SENDSMS>")},
        {"PlannedEndOfDayNotRoundedUp", [] { return Planned(DT(2024, 12, 31, 23, 59, 59, 999)); },
         Doc("<SENDSMS>" + kHead + "<CG>CG1</CG><PDATE>2024-12-31T23:59:59Z</PDATE><RCPT_LIST/></SENDSMS>")},
        {"PlannedBefore1899", [] { return Planned(-1000.25); },
         Doc("<SENDSMS>" + kHead + "<CG>CG1</CG><RCPT_LIST/></SENDSMS>")},

        {"ReportTwoRequests",
         [] {
             TGetReport report;
             report.SetToken("T&1");
             report.SetJobId("J1");
             report.AddRequest(1000, "17");
             report.AddRequest(-5, "18");
             report.AddRequest(INT32_MIN, "19");
             return report.AsString();
         },
         Doc("<GETREPORT><VERSION>1.0</VERSION><TOKEN>T&amp;1</TOKEN><JID>J1</JID><RPT_LIST>"
             "<RPT><MSGID>1000</MSGID><EID>17</EID></RPT><RPT><MSGID>-5</MSGID><EID>18</EID></RPT>"
             "<RPT><MSGID>-2147483648</MSGID><EID>19</EID></RPT></RPT_LIST></GETREPORT>")},
        {"ReportEmpty", [] { return TGetReport().AsString(); },
         Doc("<GETREPORT><VERSION>1.0</VERSION><TOKEN/><JID/><RPT_LIST/></GETREPORT>")},
        {"ReportZeroIdEmptyEid",
         [] {
             TGetReport report;
             report.SetToken("T1");
             report.SetJobId("J1");
             report.AddRequest(0, "");
             return report.AsString();
         },
         Doc("<GETREPORT>" + kHead + "<RPT_LIST><RPT><MSGID>0</MSGID><EID/></RPT></RPT_LIST></GETREPORT>")},
    };
    return cases;
}

class RequestDocumentTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestDocumentTest, WritesExactBytes) {
    const RequestCase& c = GetParam();
    std::string first = c.write();
    EXPECT_EQ(first, c.expected);
    EXPECT_EQ(c.write(), first) << "AsString must not depend on earlier calls";
}

INSTANTIATE_TEST_SUITE_P(Gateway, RequestDocumentTest, ::testing::ValuesIn(RequestCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SendSMSRequest, ConstructorAndAddSMSItemFollowTheMode) {
    TSendSMS many(true);
    EXPECT_TRUE(many.IsOneToN());
    EXPECT_EQ(DecodeDateTime(many.PlannedSendingDate()).year, 1900);
    many.AddSMSItem("905321112233", "17", "text", "VARS");
    ASSERT_EQ(many.TargetAddressList().size(), 1u);
    const TTargetSMS& t = *many.TargetAddressList()[0];
    EXPECT_EQ(t.TargetAddress(), "905321112233");
    EXPECT_EQ(t.ExternalId(), "17");
    EXPECT_EQ(t.MessageText(), "");  // one-to-many: the text belongs to the request
    EXPECT_EQ(t.Variables(), "VARS");

    TSendSMS one(false);
    one.AddSMSItem("1", "2", "text", "");
    EXPECT_EQ(one.TargetAddressList()[0]->MessageText(), "text");
}

TEST(SendSMSRequest, UnrepresentablePlannedDateIsAClearError) {
    for (double bad : {1e300, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        TSendSMS sms(false);
        sms.SetPlannedSendingDate(bad);
        EXPECT_THROW(sms.AsString(), EConvertError) << bad;
    }
}

TEST(SendSMSRequest, LargeBatchIsWrittenInOnePiece) {
    TSendSMS sms(false);
    for (int i = 0; i < 2000; ++i)
        sms.AddSMSItem("9053200" + std::to_string(i), std::to_string(i), "Mesaj & <" + std::to_string(i) + ">", "");
    std::string doc = sms.AsString();
    EXPECT_LE(doc.capacity(), doc.size() + 64) << "the builder reserves the exact size, no regrowing";
    EXPECT_NE(doc.find("<RCPT><TA>90532001999</TA><EID>1999</EID><MSG>Mesaj &amp; &lt;1999&gt;</MSG></RCPT>"
                       "</RCPT_LIST></SENDSMS>"),
              std::string::npos);
}

TEST(SendSMSRequest, TheDocumentWithEnvelopeRoomBecomesItsEnvelopeInPlace) {
    TSendSMS sms(false);
    TGetReport report;
    for (int i = 0; i < 500; ++i) {
        sms.AddSMSItem("9053200" + std::to_string(i), std::to_string(i), "Ali'nin \"kodu\" & <" + std::to_string(i) +
                       ">\r\nşğ", "");
        report.AddRequest(1000 + i, std::to_string(i));
    }
    const std::pair<std::string, std::string> documents[] = {{sms.AsString(), sms.AsStringWithEnvelopeRoom()},
                                                             {report.AsString(), report.AsStringWithEnvelopeRoom()}};
    for (const auto& [exact, roomy] : documents) {
        EXPECT_EQ(roomy, exact);
        std::string document = roomy;
        document.reserve(roomy.capacity());
        const char* buffer = document.data();
        EXPECT_EQ(soap::BuildEnvelope("http://tellvio.com/api/4.4/", "SendBulkSMS", std::move(document)).data(), buffer);
    }
}

// ---- Answers -------------------------------------------------------------------------------------------

struct LoginCase {
    const char* name;
    std::string text;
    bool ok;
    std::string token;
    int32_t code;
    std::string explanation;
};
// Test names print the case name, not the bytes of the case.
void PrintTo(const LoginCase& c, std::ostream* os) { *os << c.name; }


const std::vector<LoginCase>& LoginCases() {
    static const std::vector<LoginCase> cases = {
        {"Accepted", "<LOGINRESULT><TOKEN>abc</TOKEN><RTCD>1</RTCD><EXP>OK</EXP></LOGINRESULT>", true, "abc", 1, "OK"},
        {"WithDeclarationAndBreaks",
         "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<R>\r\n  <TOKEN>abc</TOKEN>\r\n  <RTCD>1</RTCD>\r\n  <EXP/>\r\n</R>",
         true, "abc", 1, ""},
        {"NamesAnyCaseRootAnyName", "<whatever><token>t</token><Rtcd>2</Rtcd><exp>e</exp></whatever>", true, "t", 2,
         "e"},
        {"Refused", "<R><TOKEN/><RTCD>-1</RTCD><EXP>Hatalı parola</EXP></R>", true, "", -1, "Hatalı parola"},
        {"ReferencesResolved", "<R><TOKEN>a&amp;b&#x15F;&lt;</TOKEN><RTCD>1</RTCD><EXP><![CDATA[x<y]]></EXP></R>",
         true, "a&bş<", 1, "x<y"},
        {"FirstOfRepeatedChild", "<R><TOKEN>one</TOKEN><TOKEN>two</TOKEN><RTCD>1</RTCD><EXP/></R>", true, "one", 1,
         ""},
        {"OrderOfChildrenFree", "<R><EXP>e</EXP><RTCD>3</RTCD><TOKEN>t</TOKEN></R>", true, "t", 3, "e"},
        {"PlusSign", "<R><TOKEN>t</TOKEN><RTCD>+7</RTCD><EXP/></R>", true, "t", 7, ""},
        {"SmallestInt32", "<R><TOKEN>t</TOKEN><RTCD>-2147483648</RTCD><EXP/></R>", true, "t", INT32_MIN, ""},
        {"CodeNotANumber", "<R><TOKEN>abc</TOKEN><RTCD>x1</RTCD><EXP>e</EXP></R>", false, "abc", 0, ""},
        {"CodeEmpty", "<R><TOKEN>abc</TOKEN><RTCD/><EXP>e</EXP></R>", false, "abc", 0, ""},
        {"CodeWithBlanks", "<R><TOKEN>abc</TOKEN><RTCD> 1</RTCD><EXP>e</EXP></R>", false, "abc", 0, ""},
        {"CodeFraction", "<R><TOKEN>abc</TOKEN><RTCD>1.0</RTCD><EXP>e</EXP></R>", false, "abc", 0, ""},
        {"CodeHex", "<R><TOKEN>abc</TOKEN><RTCD>0x10</RTCD><EXP>e</EXP></R>", false, "abc", 0, ""},
        {"CodeDoubleSign", "<R><TOKEN>abc</TOKEN><RTCD>+-1</RTCD><EXP>e</EXP></R>", false, "abc", 0, ""},
        {"CodeTooLarge", "<R><TOKEN>abc</TOKEN><RTCD>2147483648</RTCD><EXP>e</EXP></R>", false, "abc", 0, ""},
        {"CodeHoldsElements", "<R><TOKEN>abc</TOKEN><RTCD><V>1</V></RTCD><EXP>e</EXP></R>", false, "abc", 0, ""},
        {"TokenMissing", "<R><RTCD>1</RTCD><EXP>e</EXP></R>", false, "", 0, ""},
        {"TokenOnlyDeeper", "<R><X><TOKEN>t</TOKEN></X><RTCD>1</RTCD><EXP/></R>", false, "", 0, ""},
        {"ExplanationMissing", "<R><TOKEN>abc</TOKEN><RTCD>1</RTCD></R>", false, "abc", 1, ""},
        {"NotXml", "Service Unavailable", false, "", 0, ""},
        {"Empty", "", false, "", 0, ""},
        {"DeclarationOnly", "<?xml version=\"1.0\"?>", false, "", 0, ""},
        {"Truncated", "<R><TOKEN>abc</TOKEN><RTCD>1</RT", false, "", 0, ""},
    };
    return cases;
}

class LoginAnswerTest : public ::testing::TestWithParam<LoginCase> {};

TEST_P(LoginAnswerTest, Reads) {
    const LoginCase& c = GetParam();
    TLoginResult result;
    EXPECT_EQ(result.LoadFromString(c.text), c.ok);
    EXPECT_EQ(result.Token(), c.token);
    EXPECT_EQ(result.ReturnCode(), c.code);
    EXPECT_EQ(result.Explanation(), c.explanation);
}

INSTANTIATE_TEST_SUITE_P(Gateway, LoginAnswerTest, ::testing::ValuesIn(LoginCases()),
                         [](const auto& info) { return std::string(info.param.name); });

struct SendEntry {
    int32_t messageId;
    std::string externalId;
    std::string result;
};

struct SendCase {
    const char* name;
    std::string text;
    bool ok;
    int32_t code;
    std::vector<SendEntry> entries;
};
// Test names print the case name, not the bytes of the case.
void PrintTo(const SendCase& c, std::ostream* os) { *os << c.name; }


const std::vector<SendCase>& SendCases() {
    static const std::vector<SendCase> cases = {
        {"TwoEntries",
         "<SENDRESULT><RTCD>1</RTCD><RSP_LIST>"
         "<RSP><MSGID>1000</MSGID><EID>17</EID><RESULT>OK</RESULT></RSP>"
         "<RSP><MSGID>-3</MSGID><EID>18</EID><RESULT>Numara hatalı</RESULT></RSP>"
         "</RSP_LIST></SENDRESULT>",
         true, 1, {{1000, "17", "OK"}, {-3, "18", "Numara hatalı"}}},
        {"EntriesAnyNameTextBetweenIgnored",
         "<R><rtcd>1</rtcd><rsp_list>noise<A><msgid>1</msgid><eid>1</eid><result/></A><!-- c -->\n"
         "<b><MsgId>2</MsgId><Eid>2</Eid><Result>r</Result></b>tail</rsp_list></R>",
         true, 1, {{1, "1", ""}, {2, "2", "r"}}},
        {"EmptyList", "<R><RTCD>1</RTCD><RSP_LIST/></R>", true, 1, {}},
        {"ExplanationNotNeeded", "<R><RTCD>1</RTCD><EXP>ignored</EXP><RSP_LIST></RSP_LIST></R>", true, 1, {}},
        {"BatchRefused", "<R><RTCD>0</RTCD><RSP_LIST/></R>", true, 0, {}},
        {"ListMissing", "<R><RTCD>5</RTCD></R>", false, 5, {}},
        {"CodeMissing", "<R><RSP_LIST><RSP><MSGID>1</MSGID><EID>1</EID><RESULT/></RSP></RSP_LIST></R>", false, 0, {}},
        {"SecondEntryIdNotANumber",
         "<R><RTCD>1</RTCD><RSP_LIST>"
         "<RSP><MSGID>1</MSGID><EID>1</EID><RESULT>a</RESULT></RSP>"
         "<RSP><MSGID>abc</MSGID><EID>2</EID><RESULT>b</RESULT></RSP>"
         "<RSP><MSGID>3</MSGID><EID>3</EID><RESULT>c</RESULT></RSP></RSP_LIST></R>",
         false, 1, {{1, "1", "a"}}},
        {"SecondEntryLacksResult",
         "<R><RTCD>1</RTCD><RSP_LIST>"
         "<RSP><MSGID>1</MSGID><EID>1</EID><RESULT>a</RESULT></RSP>"
         "<RSP><MSGID>2</MSGID><EID>2</EID></RSP>"
         "<RSP><MSGID>3</MSGID><EID>3</EID><RESULT>c</RESULT></RSP></RSP_LIST></R>",
         false, 1, {{1, "1", "a"}}},
        {"RepeatedAndUnknownEidsKeptAsAnswered",
         "<R><RTCD>1</RTCD><RSP_LIST>"
         "<RSP><MSGID>1</MSGID><EID>7</EID><RESULT/></RSP><RSP><MSGID>2</MSGID><EID>7</EID><RESULT/></RSP>"
         "<RSP><MSGID>3</MSGID><EID>x</EID><RESULT/></RSP></RSP_LIST></R>",
         true, 1, {{1, "7", ""}, {2, "7", ""}, {3, "x", ""}}},
        {"NotXml", "<html><body>502 Bad Gateway", false, 0, {}},
    };
    return cases;
}

class SendAnswerTest : public ::testing::TestWithParam<SendCase> {};

TEST_P(SendAnswerTest, Reads) {
    const SendCase& c = GetParam();
    TSendSMSResponse response;
    EXPECT_EQ(response.LoadFromString(c.text), c.ok);
    EXPECT_EQ(response.ResponseCode(), c.code);
    ASSERT_EQ(response.ResponseList().size(), c.entries.size());
    for (size_t i = 0; i < c.entries.size(); ++i) {
        const TSendSMSResponseItem& item = *response.ResponseList()[i];
        EXPECT_EQ(item.MessageId(), c.entries[i].messageId) << i;
        EXPECT_EQ(item.ExternalId(), c.entries[i].externalId) << i;
        EXPECT_EQ(item.ReturnValue(), c.entries[i].result) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Gateway, SendAnswerTest, ::testing::ValuesIn(SendCases()),
                         [](const auto& info) { return std::string(info.param.name); });

struct ReportEntry {
    int32_t messageId;
    std::string externalId, errorMessage, status, sentDate;
    bool shouldRetry;
    std::string errorCode;
};

struct ReportCase {
    const char* name;
    std::string text;
    bool ok;
    int32_t status;
    std::string explanation;
    std::vector<ReportEntry> entries;
};
// Test names print the case name, not the bytes of the case.
void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }


std::string ReportItem(const std::string& msgid, const std::string& srty, const std::string& st = "SNT") {
    return "<RSP><MSGID>" + msgid + "</MSGID><EID>" + msgid + "</EID><ERRMSG>m</ERRMSG><ST>" + st +
           "</ST><SDATE>2013-03-14 09:30:00</SDATE>" + (srty.empty() ? "" : "<SRTY>" + srty + "</SRTY>") +
           "<ERRCD>e</ERRCD></RSP>";
}

const std::vector<ReportCase>& ReportCases() {
    static const std::vector<ReportCase> cases = {
        {"ThreeEntriesRetryOnlyForOne",
         "<REPORTRESULT><RTCD>1</RTCD><EXP>Tamam</EXP><RSP_LIST>" + ReportItem("1", "1") + ReportItem("2", "0") +
             ReportItem("3", "2") + "</RSP_LIST></REPORTRESULT>",
         true, 1, "Tamam",
         {{1, "1", "m", "SNT", "2013-03-14 09:30:00", true, "e"},
          {2, "2", "m", "SNT", "2013-03-14 09:30:00", false, "e"},
          {3, "3", "m", "SNT", "2013-03-14 09:30:00", false, "e"}}},
        {"SecondEntryLacksRetry",
         "<R><RTCD>1</RTCD><EXP/><RSP_LIST>" + ReportItem("1", "0") + ReportItem("2", "") + ReportItem("3", "0") +
             "</RSP_LIST></R>",
         false, 1, "", {{1, "1", "m", "SNT", "2013-03-14 09:30:00", false, "e"}}},
        {"RetryEmpty", "<R><RTCD>1</RTCD><EXP/><RSP_LIST>" + ReportItem("1", "<!---->") + "</RSP_LIST></R>", false, 1,
         "", {}},
        {"StatusKeptUntrimmedAndEmpty",
         "<R><RTCD>1</RTCD><EXP/><RSP_LIST>" + ReportItem("1", "0", " QUE") + ReportItem("2", "0", "") +
             "</RSP_LIST></R>",
         true, 1, "",
         {{1, "1", "m", " QUE", "2013-03-14 09:30:00", false, "e"},
          {2, "2", "m", "", "2013-03-14 09:30:00", false, "e"}}},
        {"ListNamedLikeTheRequest", "<R><RTCD>1</RTCD><EXP>x</EXP><RPT_LIST>" + ReportItem("1", "0") + "</RPT_LIST></R>",
         false, 1, "x", {}},
        {"ExplanationMissing", "<R><RTCD>2</RTCD><RSP_LIST>" + ReportItem("1", "0") + "</RSP_LIST></R>", false, 2, "",
         {}},
        {"ReportRefused", "<R><RTCD>-1</RTCD><EXP>Geçersiz token</EXP><RSP_LIST/></R>", true, -1, "Geçersiz token", {}},
        {"JobIdNeverRead", "<R><JID>J9</JID><RTCD>1</RTCD><EXP/><RSP_LIST/></R>", true, 1, "", {}},
        {"NotXml", "", false, 0, "", {}},
    };
    return cases;
}

class ReportAnswerTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ReportAnswerTest, Reads) {
    const ReportCase& c = GetParam();
    TReportResponse response;
    EXPECT_EQ(response.LoadFromString(c.text), c.ok);
    EXPECT_EQ(response.ReportStatus(), c.status);
    EXPECT_EQ(response.Explanation(), c.explanation);
    EXPECT_EQ(response.JobId(), "");
    ASSERT_EQ(response.ReportResponseItemList().size(), c.entries.size());
    for (size_t i = 0; i < c.entries.size(); ++i) {
        const TReportResponseItem& item = *response.ReportResponseItemList()[i];
        const ReportEntry& e = c.entries[i];
        EXPECT_EQ(item.MessageId(), e.messageId) << i;
        EXPECT_EQ(item.ExternalId(), e.externalId) << i;
        EXPECT_EQ(item.ErrorMessage(), e.errorMessage) << i;
        EXPECT_EQ(item.Status(), e.status) << i;
        EXPECT_EQ(item.SentDate(), e.sentDate) << i;
        EXPECT_EQ(item.ShouldRetry(), e.shouldRetry) << i;
        EXPECT_EQ(item.ErrorCode(), e.errorCode) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Gateway, ReportAnswerTest, ::testing::ValuesIn(ReportCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GatewayAnswers, WhatTheRequestsWriteTheGatewayReadsBack) {
    // A document we wrote, read with the answers' rules, yields the values put in: escaping is reversible.
    TLogin login;
    login.SetUserName("kullanıcı & <ortak>");
    login.SetPassword("p\"'w");
    xml::XmlDocument doc;
    ASSERT_TRUE(doc.TryLoadFromString(login.AsString()));
    EXPECT_EQ(doc.Root().ChildText("USR"), "kullanıcı & <ortak>");
    EXPECT_EQ(doc.Root().ChildText("PWD"), "p\"'w");
}

// A read-only answer (parsed in place, texts kept in their elements) reads exactly like a normal document.
TEST(GatewayAnswers, ReadOnlyDocumentReadsLikeAnEditableOne) {
    const char* docs[] = {
        "<A><B>metin</B><C/><D> </D><E>a &amp; b &#x130;</E></A>",
        "<A><B><![CDATA[<x>]]>sonra</B><C>önce<![CDATA[ve]]></C></A>",
        "<A><B>satır\r\nbir</B><C>x<!-- not -->y</C></A>",
        "<?xml version=\"1.0\"?><A><B>bir<C>iç</C>iki</B></A>",
    };
    for (const char* text : docs) {
        xml::XmlDocument editable, readOnly;
        ASSERT_TRUE(editable.TryLoadFromString(text)) << text;
        ASSERT_TRUE(readOnly.TryLoadReadOnly(std::string(text))) << text;
        const std::vector<xml::XmlElement> a = editable.Root().Children(), b = readOnly.Root().Children();
        ASSERT_EQ(a.size(), b.size()) << text;
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].Name(), b[i].Name()) << text;
            std::string ta, tb;
            try { ta = a[i].Text(); } catch (const EXmlError&) { ta = "<elements>"; }
            try { tb = b[i].Text(); } catch (const EXmlError&) { tb = "<elements>"; }
            EXPECT_EQ(ta, tb) << text << " element " << a[i].Name();
        }
    }
    xml::XmlDocument broken;
    EXPECT_FALSE(broken.TryLoadReadOnly("<A><B></A>"));
    EXPECT_FALSE(broken.TryLoadReadOnly(""));
}

} // namespace
} // namespace velmora::gateway
