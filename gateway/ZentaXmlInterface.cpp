// The gateway's documents: writing the requests and reading the answers.
#include "gateway/ZentaXmlInterface.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "gateway/StreamedAnswer.h"
#include "gateway/ZentaApiService.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "soap/SoapClient.h"
#include "xml/XmlDocument.h"
#include "xml/XmlEscape.h"

namespace velmora::gateway {

namespace {

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n";

// ---- Writing ---------------------------------------------------------------------------------------
// Each document is written twice by the same code: once into a counter, once into a string reserved to that
// size, or to the room it needs to become its SOAP envelope in place. A batch of any size then costs one
// allocation and no DOM.

// Line breaks in texts are written as LF, as the gateway's parser would read them anyway.
constexpr xml::CarriageReturns kLineBreaks = xml::CarriageReturns::AsLineFeed;

// Counts the document's length, and the room it needs to become its SOAP envelope where it lies.
class CountingSink {
public:
    void Raw(std::string_view s) {
        size_ += s.size();
        room_ += soap::EscapedTextLength(s);
    }
    void Text(std::string_view s) {
        size_ += xml::EscapedXmlTextLength(s, kLineBreaks);
        written_.clear();
        xml::AppendEscapedXmlText(written_, s, kLineBreaks);
        room_ += soap::EscapedTextLength(written_);
    }
    size_t Size() const { return size_; }
    size_t Room() const { return room_ + soap::kEnvelopeFrameRoom; }

private:
    size_t size_ = 0;
    size_t room_ = 0;
    std::string written_;
};

class StringSink {
public:
    explicit StringSink(size_t room) { out_.reserve(room); }
    void Raw(std::string_view s) { out_.append(s); }
    void Text(std::string_view s) { xml::AppendEscapedXmlText(out_, s, kLineBreaks); }
    std::string Take() { return std::move(out_); }

private:
    std::string out_;
};

template <class Sink>
void Open(Sink& sink, std::string_view name) {
    sink.Raw("<");
    sink.Raw(name);
    sink.Raw(">");
}

template <class Sink>
void Close(Sink& sink, std::string_view name) {
    sink.Raw("</");
    sink.Raw(name);
    sink.Raw(">");
}

template <class Sink>
void EmptyElement(Sink& sink, std::string_view name) {
    sink.Raw("<");
    sink.Raw(name);
    sink.Raw("/>");
}

template <class Sink>
void Element(Sink& sink, std::string_view name, std::string_view value) {
    if (value.empty()) {
        EmptyElement(sink, name);
        return;
    }
    Open(sink, name);
    sink.Text(value);
    Close(sink, name);
}

template <class Writer>
std::string WriteDocument(const Writer& write, bool envelopeRoom = false) {
    CountingSink counter;
    counter.Raw(kDeclaration);
    write(counter);
    StringSink sink(envelopeRoom ? std::max(counter.Size(), counter.Room()) : counter.Size());
    sink.Raw(kDeclaration);
    write(sink);
    return sink.Take();
}

// "YYYY-MM-DDTHH:MM:SSZ" of the value itself (no time-zone conversion), or empty when the date is in the
// year 2000 or earlier: then the gateway sends at once.
std::string PlannedDateText(TDateTime value) {
    // 2001-01-01 is day 36892; 10000-01-01 would need a five-digit year.
    if (!std::isfinite(value) || value >= kEndOfDateTimes)
        throw EConvertError("The planned sending date is not a valid date-time");
    if (value < 36000.0) return {};  // well before 2001; spares decoding far-away values
    DateTimeParts p = DecodeDateTime(value);
    if (p.year <= 2000) return {};
    if (p.year > 9999) throw EConvertError("The planned sending date is not a valid date-time");
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", p.year, p.month, p.day, p.hour, p.minute,
                  p.second);
    return buf;
}

// ---- Reading ---------------------------------------------------------------------------------------

// Thrown inside LoadFromString only, to stop at the first missing or malformed value.
struct ReadFailure {};

xml::XmlElement RequiredChild(const xml::XmlElement& parent, const char* name) {
    xml::XmlElement child = parent.ChildNoCase(name);
    if (!child) throw ReadFailure{};
    return child;
}

// A value that holds markup reads as its text: one odd entry must not end the reading of the whole answer
// and leave every row after it pending, to be sent again.
std::string TextValue(const xml::XmlElement& parent, const char* name) {
    return RequiredChild(parent, name).TextContent();
}

int32_t IntegerValue(const xml::XmlElement& parent, const char* name) {
    int32_t value = 0;
    // A number stays strict: markup inside a code or an id is no number.
    if (!platform::ParseWhole(RequiredChild(parent, name).Text(), value, true)) throw ReadFailure{};
    return value;
}

// Parses the answer and hands its root to read; every failure, of any kind, becomes false.
template <class Reader>
bool ReadAnswer(std::string response, const Reader& read) {
    try {
        xml::XmlDocument doc;
        if (!doc.TryLoadReadOnly(std::move(response))) return false;
        read(doc.Root());
        return true;
    } catch (...) {
        return false;
    }
}

// The same readings of a streamed value.
bool IntegerValue(const TStreamedValue& v, int32_t& out) {
    return v.Present && !v.HoldsElements && platform::ParseWhole(v.Text, out, true);
}

// An answer with a list read as a stream, deciding as the tree reading does: the root's values in order up
// to the first that fails (readTop), then the entries in order up to the first broken one (makeItem gives
// false), each added only once it was read whole. -1 when the document is not in the stream reader's plain
// forms (nothing is changed; read it as a tree), else whether the whole answer was read.
template <class Item, class ReadTop, class MakeItem>
int ReadListAnswer(const std::string& document, const TAnswerShape& shape, std::vector<std::unique_ptr<Item>>& list,
                   const ReadTop& readTop, const MakeItem& makeItem) {
    try {
        std::vector<std::unique_ptr<Item>> items;
        bool broken = false;
        std::vector<TStreamedValue> top;
        bool listPresent = false;
        const bool read = ReadStreamedAnswer(document, shape, top, listPresent, [&](std::vector<TStreamedValue>& values) {
            if (broken) return;
            auto item = std::make_unique<Item>();
            if (makeItem(values, *item)) items.push_back(std::move(item));
            else broken = true;
        });
        if (!read) return -1;
        if (!readTop(top) || !listPresent) return 0;
        list.reserve(list.size() + items.size());
        for (auto& item : items) list.push_back(std::move(item));
        return broken ? 0 : 1;
    } catch (...) {
        return 0;  // as the tree reading: every failure, of any kind, becomes false
    }
}

const TAnswerShape& SendAnswerShape() {
    static const TAnswerShape shape{{"RTCD"}, "RSP_LIST", {"MSGID", "EID", "RESULT"}};
    return shape;
}

const TAnswerShape& ReportAnswerShape() {
    static const TAnswerShape shape{{"RTCD", "EXP"}, "RSP_LIST", {"MSGID", "EID", "ERRMSG", "ST", "SDATE", "SRTY", "ERRCD"}};
    return shape;
}

} // namespace

// ---- Requests ------------------------------------------------------------------------------------------

TLogin::TLogin() : FVersion("1.0") {}

std::string TLogin::AsString() const {
    return WriteDocument([this](auto& sink) {
        Open(sink, "LOGIN");
        Element(sink, "VERSION", FVersion);
        Element(sink, "USR", FUserName);
        Element(sink, "PWD", FPassword);
        Close(sink, "LOGIN");
    });
}

TSendSMS::TSendSMS(bool AIsOneToN) : FPlannedSendingDate(EncodeDate(1900, 1, 1)), FIsOneToN(AIsOneToN) {}

TTargetSMS& TSendSMS::AddSMSItem(std::string ATargetAddress, std::string AExternalId, std::string AMessageText,
                                 std::string AVariables) {
    auto item = std::make_unique<TTargetSMS>();
    item->SetTargetAddress(std::move(ATargetAddress));
    item->SetExternalId(std::move(AExternalId));
    if (!FIsOneToN) item->SetMessageText(std::move(AMessageText));
    item->SetVariables(std::move(AVariables));
    FTargetAddressList.push_back(std::move(item));
    return *FTargetAddressList.back();
}

std::string TSendSMS::AsString() const { return Write(false); }
std::string TSendSMS::AsStringWithEnvelopeRoom() const { return Write(true); }

std::string TSendSMS::Write(bool envelopeRoom) const {
    const std::string plannedDate = PlannedDateText(FPlannedSendingDate);
    return WriteDocument([&](auto& sink) {
        Open(sink, "SENDSMS");
        Element(sink, "VERSION", "1.0");
        Element(sink, "TOKEN", FToken);
        Element(sink, "JID", FJobId);
        if (FIsOneToN) Element(sink, "MSG", FMessageText);
        Element(sink, "CG", FCampaignGroup);
        if (!plannedDate.empty()) Element(sink, "PDATE", plannedDate);
        if (FTargetAddressList.empty()) {
            EmptyElement(sink, "RCPT_LIST");
        } else {
            Open(sink, "RCPT_LIST");
            for (const auto& target : FTargetAddressList) {
                Open(sink, "RCPT");
                Element(sink, "TA", target->TargetAddress());
                Element(sink, "EID", target->ExternalId());
                Element(sink, "MSG", target->MessageText());
                Close(sink, "RCPT");
            }
            Close(sink, "RCPT_LIST");
        }
        Close(sink, "SENDSMS");
    }, envelopeRoom);
}

TGetReport::TGetReport() : FVersion("1.0") {}

TReportRequestItem& TGetReport::AddRequest(int32_t AMessageId, std::string AExternalId) {
    auto item = std::make_unique<TReportRequestItem>();
    item->SetMessageId(AMessageId);
    item->SetExternalId(std::move(AExternalId));
    FReportRequestList.push_back(std::move(item));
    return *FReportRequestList.back();
}

std::string TGetReport::AsString() const { return Write(false); }
std::string TGetReport::AsStringWithEnvelopeRoom() const { return Write(true); }

std::string TGetReport::Write(bool envelopeRoom) const {
    return WriteDocument([this](auto& sink) {
        Open(sink, "GETREPORT");
        Element(sink, "VERSION", FVersion);
        Element(sink, "TOKEN", FToken);
        Element(sink, "JID", FJobId);
        if (FReportRequestList.empty()) {
            EmptyElement(sink, "RPT_LIST");
        } else {
            Open(sink, "RPT_LIST");
            char number[16];
            for (const auto& request : FReportRequestList) {
                auto [end, ec] = std::to_chars(number, number + sizeof number, request->MessageId());
                (void)ec;  // an int32 always fits
                Open(sink, "RPT");
                Element(sink, "MSGID", std::string_view(number, static_cast<size_t>(end - number)));
                Element(sink, "EID", request->ExternalId());
                Close(sink, "RPT");
            }
            Close(sink, "RPT_LIST");
        }
        Close(sink, "GETREPORT");
    }, envelopeRoom);
}

// ---- Answers -------------------------------------------------------------------------------------------

bool TLoginResult::LoadFromString(const std::string& AResponse) {
    return ReadAnswer(AResponse, [this](const xml::XmlElement& root) {
        FToken = TextValue(root, "TOKEN");
        FReturnCode = IntegerValue(root, "RTCD");
        FExplanation = TextValue(root, "EXP");
    });
}

bool TSendSMSResponse::LoadFromString(const std::string& AResponse) { return LoadFromString(std::string(AResponse)); }

bool TSendSMSResponse::LoadFromString(std::string&& AResponse) {
    // Read as a stream where it can be: a tree of a 100,000-entry answer costs far more than its entries.
    const int streamed = ReadListAnswer(
        AResponse, SendAnswerShape(), FResponseList,
        [this](const std::vector<TStreamedValue>& top) { return IntegerValue(top[0], FResponseCode); },
        [](std::vector<TStreamedValue>& v, TSendSMSResponseItem& item) {
            int32_t id = 0;
            if (!IntegerValue(v[0], id) || !v[1].Present || !v[2].Present) return false;
            item.SetMessageId(id);
            item.SetExternalId(std::move(v[1].Text));
            item.SetReturnValue(std::move(v[2].Text));
            return true;
        });
    if (streamed >= 0) return streamed == 1;
    return ReadAnswer(std::move(AResponse), [this](const xml::XmlElement& root) {
        FResponseCode = IntegerValue(root, "RTCD");
        std::vector<xml::XmlElement> entries = RequiredChild(root, "RSP_LIST").Children();
        FResponseList.reserve(FResponseList.size() + entries.size());
        for (const xml::XmlElement& entry : entries) {
            // Added only once every field was read: a broken entry is dropped, not half-kept.
            auto item = std::make_unique<TSendSMSResponseItem>();
            item->SetMessageId(IntegerValue(entry, "MSGID"));
            item->SetExternalId(TextValue(entry, "EID"));
            item->SetReturnValue(TextValue(entry, "RESULT"));
            FResponseList.push_back(std::move(item));
        }
    });
}

bool TReportResponse::LoadFromString(const std::string& AResponse) { return LoadFromString(std::string(AResponse)); }

bool TReportResponse::LoadFromString(std::string&& AResponse) {
    const int streamed = ReadListAnswer(
        AResponse, ReportAnswerShape(), FReportResponseItemList,
        [this](std::vector<TStreamedValue>& top) {
            if (!IntegerValue(top[0], FReportStatus) || !top[1].Present) return false;
            FExplanation = std::move(top[1].Text);
            return true;
        },
        [](std::vector<TStreamedValue>& v, TReportResponseItem& item) {
            int32_t id = 0, retry = 0;
            for (size_t k : {1, 2, 3, 4, 6})
                if (!v[k].Present) return false;
            if (!IntegerValue(v[0], id) || !IntegerValue(v[5], retry)) return false;
            item.SetMessageId(id);
            item.SetExternalId(std::move(v[1].Text));
            item.SetErrorMessage(std::move(v[2].Text));
            item.SetStatus(std::move(v[3].Text));
            item.SetSentDate(std::move(v[4].Text));
            item.SetShouldRetry(retry == 1);
            item.SetErrorCode(std::move(v[6].Text));
            return true;
        });
    if (streamed >= 0) return streamed == 1;
    return ReadAnswer(std::move(AResponse), [this](const xml::XmlElement& root) {
        FReportStatus = IntegerValue(root, "RTCD");
        FExplanation = TextValue(root, "EXP");
        std::vector<xml::XmlElement> entries = RequiredChild(root, "RSP_LIST").Children();
        FReportResponseItemList.reserve(FReportResponseItemList.size() + entries.size());
        for (const xml::XmlElement& entry : entries) {
            auto item = std::make_unique<TReportResponseItem>();
            item->SetMessageId(IntegerValue(entry, "MSGID"));
            item->SetExternalId(TextValue(entry, "EID"));
            item->SetErrorMessage(TextValue(entry, "ERRMSG"));
            item->SetStatus(TextValue(entry, "ST"));
            item->SetSentDate(TextValue(entry, "SDATE"));
            item->SetShouldRetry(IntegerValue(entry, "SRTY") == 1);
            item->SetErrorCode(TextValue(entry, "ERRCD"));
            FReportResponseItemList.push_back(std::move(item));
        }
    });
}

// ---- Logged-in calls -----------------------------------------------------------------------------------

namespace {

// Logs in on the client; false when the gateway refused (negative RTCD). An unreadable answer or code 0
// goes on with whatever token was read: the gateway then answers the batch itself.
bool Login(ApiServiceSoap& client, const std::string& AUserName, const std::string& APassword, std::string& token) {
    std::string answer;
    {
        TLogin login;
        login.SetUserName(AUserName);
        login.SetPassword(APassword);
        answer = client.ApiLogin(login.AsString());
    }
    TLoginResult result;
    result.LoadFromString(answer);
    if (result.ReturnCode() < 0) return false;
    token = result.Token();
    return true;
}

} // namespace

bool SendSMSWithLogin(const std::string& AUserName, const std::string& APassword,
                      const std::string& ACampaignGroup, const std::string& AJobId, TSendSMS& ASendSMS,
                      TSendSMSResponse& AResponse) {
    ApiServiceSoapRef client = CreateApiServiceClient(false, DefaultServiceDescriptionAddress(), nullptr);
    std::string token;
    if (!Login(*client, AUserName, APassword, token)) return false;
    ASendSMS.SetToken(std::move(token));
    ASendSMS.SetJobId(AJobId);
    ASendSMS.SetCampaignGroup(ACampaignGroup);
    std::string answer = client->SendBulkSMS(ASendSMS.AsStringWithEnvelopeRoom());
    AResponse.LoadFromString(std::move(answer));
    return true;
}

bool GetReportWithLogin(const std::string& AUserName, const std::string& APassword, const std::string& AJobId,
                        TGetReport& AGetReport, TReportResponse& AResponse) {
    ApiServiceSoapRef client = CreateApiServiceClient(false, DefaultServiceDescriptionAddress(), nullptr);
    std::string token;
    if (!Login(*client, AUserName, APassword, token)) return false;
    AGetReport.SetToken(std::move(token));
    AGetReport.SetJobId(AJobId);
    std::string answer = client->Report(AGetReport.AsStringWithEnvelopeRoom());
    AResponse.LoadFromString(std::move(answer));
    return true;
}

} // namespace velmora::gateway
