// The loopback gateway simulator: the SOAP 1.2 service with switchable faults.
#include "tools/gatewaysim/GatewaySimulator.h"

#include <httplib.h>

#ifndef _WIN32
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <random>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "xml/XmlDocument.h"
#include "xml/XmlEscape.h"

namespace velmora::sim {

namespace {

constexpr const char* kServicePath = "/Tellvio/4.4/API/ApiService.asmx";
constexpr const char* kSoapEnvelopeNs = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char* kSoapContentType = "application/soap+xml; charset=utf-8";

std::string LocalName(const std::string& qualified) {
    size_t colon = qualified.find(':');
    return colon == std::string::npos ? qualified : qualified.substr(colon + 1);
}

xml::XmlElement ChildByLocalName(const xml::XmlElement& parent, const std::string& local) {
    for (const xml::XmlElement& c : parent.Children())
        if (LocalName(c.Name()) == local) return c;
    return {};
}

using platform::Trim;

// The media type and the "action" parameter of a Content-Type header (quotes removed).
void SplitContentType(const std::string& header, std::string& mediaType, std::string& action, bool& hasAction) {
    hasAction = false;
    size_t semi = header.find(';');
    mediaType = platform::LowerAscii(Trim(header.substr(0, semi)));
    while (semi != std::string::npos) {
        size_t next = header.find(';', semi + 1);
        std::string param = Trim(header.substr(semi + 1, next == std::string::npos ? std::string::npos : next - semi - 1));
        size_t eq = param.find('=');
        if (eq != std::string::npos && platform::LowerAscii(Trim(param.substr(0, eq))) == "action") {
            std::string value = Trim(param.substr(eq + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
            action = value;
            hasAction = true;
        }
        semi = next;
    }
}

void AppendElement(std::string& out, const char* name, const std::string& value) {
    out += '<';
    out += name;
    if (value.empty()) {
        out += "/>";
        return;
    }
    out += '>';
    xml::AppendEscapedXmlText(out, value);
    out += "</";
    out += name;
    out += '>';
}

void AppendElement(std::string& out, const char* name, int value) {
    AppendElement(out, name, std::to_string(value));
}

std::string SoapFaultEnvelope(bool senderFault, const std::string& reason) {
    std::string out;
    out.reserve(512 + reason.size());
    out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    out += "<soap:Envelope xmlns:soap=\"";
    out += kSoapEnvelopeNs;
    out += "\"><soap:Body><soap:Fault><soap:Code><soap:Value>";
    out += senderFault ? "soap:Sender" : "soap:Receiver";
    out += "</soap:Value></soap:Code><soap:Reason><soap:Text xml:lang=\"en\">";
    xml::AppendEscapedXmlText(out, reason);
    out += "</soap:Text></soap:Reason><soap:Detail/></soap:Fault></soap:Body></soap:Envelope>";
    return out;
}

std::string SentDateText() {
    DateTimeParts p = DecodeDateTime(platform::Now());
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second);
    return buffer;
}

// httplib offers no way to abort a connection from a handler; shutting the socket down makes the
// client see the connection closed without a single byte of answer.
void ShutDownConnection(const httplib::Request& req) {
    auto matches = [&](socket_t fd) {
        sockaddr_in local{}, peer{};
        socklen_t ll = sizeof(local), pl = sizeof(peer);
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &ll) != 0 || local.sin_family != AF_INET) return false;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &pl) != 0 || peer.sin_family != AF_INET) return false;
        return ntohs(local.sin_port) == req.local_port && ntohs(peer.sin_port) == req.remote_port;
    };
#ifdef _WIN32
    // Socket handles are kernel handles, multiples of four; a non-socket one fails getsockname.
    for (uintptr_t h = 4; h < (1u << 16); h += 4) {
        auto fd = static_cast<socket_t>(h);
        if (matches(fd)) { ::shutdown(fd, SD_BOTH); return; }
    }
#else
    if (DIR* dir = opendir("/proc/self/fd")) {
        std::vector<int> fds;
        while (dirent* entry = readdir(dir)) {
            int fd = 0;
            if (platform::ParseWhole(entry->d_name, fd)) fds.push_back(fd);
        }
        closedir(dir);
        for (int fd : fds)
            if (matches(fd)) { ::shutdown(fd, SHUT_RDWR); return; }
        return;
    }
    for (int fd = 0; fd < 4096; ++fd)
        if (matches(fd)) { ::shutdown(fd, SHUT_RDWR); return; }
#endif
}

struct Decision {
    int messageId = 0;
    std::string resultText;
};

struct FaultSet {
    bool refuseLogin = false, http500 = false, soapFault = false, drop = false, slow = false;
    bool malformed = false, partial = false, unknownEids = false, repeated = false, batchRefused = false;
};

} // namespace

struct GatewaySimulator::Impl {
    SimulatorOptions options;

    mutable std::mutex mutex;
    std::condition_variable wake;  // cuts slow answers short when the server stops
    bool stopping = false;

    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;

    std::map<std::string, std::string> accounts;
    std::unordered_map<std::string, Decision> sendDecisions;
    std::unordered_map<int, std::string> deliveryStatuses;
    std::string defaultStatus = "OPN";
    std::vector<FaultRule> faults;
    std::vector<ReceivedRequest> requests;
    std::function<void(const ReceivedRequest&)> hook;
    std::unordered_set<std::string> tokens;
    int nextMessageId = 1000;
    uint64_t tokenCounter = 0;
    std::mt19937_64 random{std::random_device{}()};

    FaultSet FaultsFor(const std::string& operation) const;
    void Handle(const httplib::Request& req, httplib::Response& res);
    std::string Login(const std::string& data, const FaultSet& f);
    std::string Send(const std::string& data, const FaultSet& f);
    std::string Report(const std::string& data, const FaultSet& f);
    bool TokenValid(const std::string& token) const { return !token.empty() && tokens.count(token) != 0; }
};

namespace {

void SetBody(httplib::Response& res, int status, std::string body, const char* contentType) {
    res.status = status;
    res.body = std::move(body);
    res.set_header("Content-Type", contentType);
}

void SoapFaultAnswer(httplib::Response& res, bool senderFault, const std::string& reason) {
    SetBody(res, 500, SoapFaultEnvelope(senderFault, reason), kSoapContentType);
}

// Which entries of an answer list to write, in order, after the list faults are applied.
// Negative values stand for invented entries with EIDs the request never held.
std::vector<long> AnswerOrder(size_t count, const FaultSet& f) {
    std::vector<long> order;
    order.reserve(f.repeated ? count * 2 + 2 : count + 2);
    if (f.unknownEids) order.push_back(-1);
    for (size_t i = 0; i < count; ++i) {
        if (f.partial && i % 2 == 1) continue;
        order.push_back(static_cast<long>(i));
    }
    if (f.repeated) {
        size_t n = order.size();
        for (size_t i = 0; i < n; ++i)
            if (order[i] >= 0) order.push_back(order[i]);
    }
    if (f.unknownEids) order.push_back(-2);
    return order;
}

// Decimal EIDs that none of the request's entries hold.
std::vector<std::string> InventedEids(const std::vector<std::string>& requestEids) {
    std::unordered_set<std::string> taken(requestEids.begin(), requestEids.end());
    std::vector<std::string> out;
    for (long candidate = 900000001; out.size() < 2; ++candidate) {
        std::string s = std::to_string(candidate);
        if (!taken.count(s)) out.push_back(s);
    }
    return out;
}

} // namespace

FaultSet GatewaySimulator::Impl::FaultsFor(const std::string& operation) const {
    FaultSet f;
    for (const FaultRule& r : faults) {
        if (!r.operation.empty() && r.operation != operation) continue;
        switch (r.fault) {
        case Fault::None: break;
        case Fault::RefuseLogin: f.refuseLogin = true; break;
        case Fault::Http500: f.http500 = true; break;
        case Fault::SoapFault: f.soapFault = true; break;
        case Fault::DropConnection: f.drop = true; break;
        case Fault::SlowAnswer: f.slow = true; break;
        case Fault::MalformedXml: f.malformed = true; break;
        case Fault::PartialAnswer: f.partial = true; break;
        case Fault::UnknownEids: f.unknownEids = true; break;
        case Fault::RepeatedEids: f.repeated = true; break;
        case Fault::BatchRefused: f.batchRefused = true; break;
        }
    }
    return f;
}

void GatewaySimulator::Impl::Handle(const httplib::Request& req, httplib::Response& res) {
    ReceivedRequest received;
    received.path = req.target.empty() ? req.path : req.target;
    received.contentType = req.get_header_value("Content-Type");

    // Read the envelope first so the record names the operation even when the request is refused.
    xml::XmlDocument envelope;
    std::string parseError;
    std::string soapProblem;
    xml::XmlElement operationElement;
    if (!envelope.TryLoadFromString(req.body, &parseError)) {
        soapProblem = "The request is not a readable XML document: " + parseError;
    } else if (LocalName(envelope.Root().Name()) != "Envelope") {
        soapProblem = "The request's root element is \"" + envelope.Root().Name() + "\", not a SOAP Envelope";
    } else {
        xml::XmlElement body = ChildByLocalName(envelope.Root(), "Body");
        std::vector<xml::XmlElement> inBody = body ? body.Children() : std::vector<xml::XmlElement>{};
        if (!body) soapProblem = "The SOAP envelope has no Body";
        else if (inBody.empty()) soapProblem = "The SOAP Body holds no operation element";
        else operationElement = inBody.front();
    }
    if (operationElement) {
        received.operation = LocalName(operationElement.Name());
        if (xml::XmlElement data = ChildByLocalName(operationElement, "data")) {
            try {
                received.data = data.Text();
            } catch (const Error& e) {
                soapProblem = std::string("The data element could not be read: ") + e.what();
            }
        }
    }
    const std::string operation = received.operation;
    const std::string data = received.data;
    const std::string contentType = received.contentType;
    FaultSet f;
    std::function<void(const ReceivedRequest&)> hooked;
    {
        std::lock_guard<std::mutex> lock(mutex);
        received.body = req.body;
        f = FaultsFor(operation);
        hooked = hook;
        // A batch of 100,000 messages is tens of megabytes: copied only when a hook looks at it.
        if (hooked) requests.push_back(received);
        else requests.push_back(std::move(received));
    }
    if (hooked) hooked(received);

    std::string mediaType, action;
    bool hasAction = false;
    SplitContentType(contentType, mediaType, action, hasAction);
    if (mediaType != "application/soap+xml") {
        SetBody(res, 415, "Unsupported media type \"" + contentType + "\": a SOAP 1.2 request is application/soap+xml",
                "text/plain; charset=utf-8");
        return;
    }
    if (!soapProblem.empty()) return SoapFaultAnswer(res, true, soapProblem);
    if (hasAction && action != options.namespaceUri + operation)
        return SoapFaultAnswer(res, true, "The SOAP action \"" + action + "\" does not name the operation \"" +
                                              operation + "\" of the namespace \"" + options.namespaceUri + "\"");

    if (f.drop) {
        ShutDownConnection(req);
        res.status = 500;
        return;
    }
    if (f.slow) {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait_for(lock, std::chrono::duration<double>(options.slowSeconds), [this] { return stopping; });
    }
    if (f.http500) return SetBody(res, 500, "Internal Server Error", "text/plain; charset=utf-8");
    if (f.soapFault)
        return SoapFaultAnswer(res, false, "Server was unable to process request. ---> Simulated gateway fault");

    std::string answer;
    if (operation == "ApiLogin") answer = Login(data, f);
    else if (operation == "SendBulkSMS") answer = Send(data, f);
    else if (operation == "Report") answer = Report(data, f);
    else return SoapFaultAnswer(res, true, "The gateway simulator does not provide the operation \"" + operation + "\"");

    if (f.malformed) {
        // A document cut off halfway: its root element is never closed.
        answer.resize(answer.size() / 2);
        answer += "<";
    }

    std::string out;
    out.reserve(answer.size() + answer.size() / 2 + 512);
    out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
    out += "<soap:Envelope xmlns:soap=\"";
    out += kSoapEnvelopeNs;
    out += "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">";
    out += "<soap:Body><";
    out += operation;
    out += "Response xmlns=\"";
    xml::AppendEscapedXmlText(out, options.namespaceUri);
    out += "\"><";
    out += operation;
    out += "Result>";
    xml::AppendEscapedXmlText(out, answer);
    out += "</";
    out += operation;
    out += "Result></";
    out += operation;
    out += "Response></soap:Body></soap:Envelope>";
    SetBody(res, 200, std::move(out), kSoapContentType);
}

std::string GatewaySimulator::Impl::Login(const std::string& data, const FaultSet& f) {
    auto answer = [](const std::string& token, int code, const std::string& explanation) {
        std::string out = "<LOGINRESULT>";
        AppendElement(out, "TOKEN", token);
        AppendElement(out, "RTCD", code);
        AppendElement(out, "EXP", explanation);
        out += "</LOGINRESULT>";
        return out;
    };
    xml::XmlDocument doc;
    std::string error;
    if (!doc.TryLoadFromString(data, &error)) return answer("", -1, "The LOGIN document could not be read: " + error);
    if (doc.Root().Name() != "LOGIN") return answer("", -1, "Expected a LOGIN document, got " + doc.Root().Name());
    std::string user, password;
    try {
        user = doc.Root().ChildText("USR");
        password = doc.Root().ChildText("PWD");
    } catch (const Error& e) {
        return answer("", -1, std::string("The LOGIN document could not be read: ") + e.what());
    }
    if (f.refuseLogin) return answer("", -1, "Login refused");

    std::lock_guard<std::mutex> lock(mutex);
    auto it = accounts.find(user);
    if (it == accounts.end() || it->second != password) return answer("", -1, "Invalid user name or password");
    char suffix[17];
    std::snprintf(suffix, sizeof(suffix), "%016llx", static_cast<unsigned long long>(random()));
    std::string token = "SIM" + std::to_string(++tokenCounter) + "-" + suffix;
    tokens.insert(token);
    return answer(token, 1, "OK");
}

std::string GatewaySimulator::Impl::Send(const std::string& data, const FaultSet& f) {
    auto refused = [](int code) {
        std::string out = "<SENDSMSRESULT>";
        AppendElement(out, "RTCD", code);
        out += "<RSP_LIST/></SENDSMSRESULT>";
        return out;
    };
    xml::XmlDocument doc;
    if (!doc.TryLoadFromString(data) || doc.Root().Name() != "SENDSMS") return refused(-1);

    struct Entry {
        int messageId;
        std::string eid, result;
    };
    std::vector<std::string> targets, eids;
    std::string token;
    try {
        token = doc.Root().ChildText("TOKEN");
        std::vector<xml::XmlElement> rcpts = doc.Root().Child("RCPT_LIST").Children("RCPT");
        targets.reserve(rcpts.size());
        eids.reserve(rcpts.size());
        for (const xml::XmlElement& r : rcpts) {
            targets.push_back(r.ChildText("TA"));
            eids.push_back(r.ChildText("EID"));
        }
    } catch (const Error&) {
        return refused(-1);
    }

    std::vector<Entry> entries;
    entries.reserve(targets.size());
    std::vector<std::string> invented;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!TokenValid(token)) return refused(-1);
        if (f.batchRefused) return refused(0);
        for (size_t i = 0; i < targets.size(); ++i) {
            auto it = sendDecisions.find(targets[i]);
            if (it != sendDecisions.end()) entries.push_back({it->second.messageId, eids[i], it->second.resultText});
            else entries.push_back({nextMessageId++, eids[i], "OK"});
        }
        if (f.unknownEids) {
            invented = InventedEids(eids);
            for (const std::string& eid : invented) entries.push_back({nextMessageId++, eid, "OK"});
        }
    }
    const size_t realCount = targets.size();

    std::string out;
    out.reserve(64 + entries.size() * 96);
    out += "<SENDSMSRESULT>";
    AppendElement(out, "RTCD", 1);
    if (entries.empty()) {
        out += "<RSP_LIST/>";
    } else {
        out += "<RSP_LIST>";
        for (long index : AnswerOrder(realCount, f)) {
            const Entry& e = index >= 0 ? entries[static_cast<size_t>(index)] : entries[realCount + (-index - 1)];
            out += "<RSP>";
            AppendElement(out, "MSGID", e.messageId);
            AppendElement(out, "EID", e.eid);
            AppendElement(out, "RESULT", e.result);
            out += "</RSP>";
        }
        out += "</RSP_LIST>";
    }
    out += "</SENDSMSRESULT>";
    return out;
}

std::string GatewaySimulator::Impl::Report(const std::string& data, const FaultSet& f) {
    auto refused = [](int code, const std::string& explanation) {
        std::string out = "<REPORTRESULT>";
        AppendElement(out, "RTCD", code);
        AppendElement(out, "EXP", explanation);
        out += "<RSP_LIST/></REPORTRESULT>";
        return out;
    };
    xml::XmlDocument doc;
    std::string error;
    if (!doc.TryLoadFromString(data, &error)) return refused(-1, "The GETREPORT document could not be read: " + error);
    if (doc.Root().Name() != "GETREPORT") return refused(-1, "Expected a GETREPORT document, got " + doc.Root().Name());

    struct Entry {
        int messageId;
        bool idValid;
        std::string eid, status;
    };
    std::vector<Entry> entries;
    std::vector<std::string> eids;
    std::string token;
    try {
        token = doc.Root().ChildText("TOKEN");
        std::vector<xml::XmlElement> rpts = doc.Root().Child("RPT_LIST").Children("RPT");
        entries.reserve(rpts.size() + 2);
        eids.reserve(rpts.size());
        for (const xml::XmlElement& r : rpts) {
            Entry e{-1, false, r.ChildText("EID"), {}};
            e.idValid = platform::ParseWhole(r.ChildText("MSGID"), e.messageId);
            if (!e.idValid) e.messageId = -1;
            eids.push_back(e.eid);
            entries.push_back(std::move(e));
        }
    } catch (const Error& e) {
        return refused(-1, std::string("The GETREPORT document could not be read: ") + e.what());
    }
    const size_t realCount = entries.size();
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!TokenValid(token)) return refused(-1, "Invalid token");
        if (f.batchRefused) return refused(0, "Report refused");
        for (Entry& e : entries) {
            if (!e.idValid) { e.status = "UKN"; continue; }
            auto it = deliveryStatuses.find(e.messageId);
            e.status = it != deliveryStatuses.end() ? it->second : defaultStatus;
        }
        if (f.unknownEids)
            for (const std::string& eid : InventedEids(eids)) entries.push_back({nextMessageId++, true, eid, defaultStatus});
    }

    const std::string sentDate = SentDateText();
    std::string out;
    out.reserve(96 + entries.size() * 160);
    out += "<REPORTRESULT>";
    AppendElement(out, "RTCD", 1);
    AppendElement(out, "EXP", "OK");
    if (entries.empty()) {
        out += "<RSP_LIST/>";
    } else {
        out += "<RSP_LIST>";
        for (long index : AnswerOrder(realCount, f)) {
            const Entry& e = index >= 0 ? entries[static_cast<size_t>(index)] : entries[realCount + (-index - 1)];
            out += "<RSP>";
            AppendElement(out, "MSGID", e.messageId);
            AppendElement(out, "EID", e.eid);
            AppendElement(out, "ERRMSG", e.idValid ? std::string() : std::string("MSGID is not a number"));
            AppendElement(out, "ST", e.status);
            AppendElement(out, "SDATE", sentDate);
            AppendElement(out, "SRTY", 0);
            AppendElement(out, "ERRCD", e.idValid ? "0" : "1");
            out += "</RSP>";
        }
        out += "</RSP_LIST>";
    }
    out += "</REPORTRESULT>";
    return out;
}

GatewaySimulator::GatewaySimulator(SimulatorOptions options) : impl_(std::make_unique<Impl>()) {
    impl_->options = std::move(options);
}

GatewaySimulator::~GatewaySimulator() {
    try {
        Stop();
    } catch (...) {
    }
}

void GatewaySimulator::Start() {
    if (impl_->server) return;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->stopping = false;
    }
    auto server = std::make_unique<httplib::Server>();
    // A batch of 100,000 messages makes bodies of tens of megabytes.
    server->set_payload_max_length(std::numeric_limits<size_t>::max());
    server->set_read_timeout(120);
    server->set_write_timeout(120);
    server->set_keep_alive_timeout(1);
    Impl* impl = impl_.get();
    auto handler = [impl](const httplib::Request& req, httplib::Response& res) {
        try {
            impl->Handle(req, res);
        } catch (const std::exception& e) {
            SoapFaultAnswer(res, false, std::string("The gateway simulator failed: ") + e.what());
        } catch (...) {
            SoapFaultAnswer(res, false, "The gateway simulator failed");
        }
    };
    server->Post(kServicePath, handler);
    // Requests to any other address are recorded too: a client with a wrong path shows up in the record.
    auto elsewhere = [impl](const httplib::Request& req, httplib::Response& res) {
        ReceivedRequest received;
        received.path = req.target.empty() ? req.path : req.target;
        received.contentType = req.get_header_value("Content-Type");
        received.body = req.body;
        {
            std::lock_guard<std::mutex> lock(impl->mutex);
            impl->requests.push_back(std::move(received));
        }
        SetBody(res, 404, "The gateway service lives at " + std::string(kServicePath), "text/plain; charset=utf-8");
    };
    server->Post(".*", elsewhere);
    server->Get(".*", elsewhere);

    int port = impl_->options.port;
    if (port == 0) {
        port = server->bind_to_any_port("127.0.0.1");
        if (port <= 0) throw EHttpError("The gateway simulator could not listen on 127.0.0.1");
    } else if (!server->bind_to_port("127.0.0.1", port)) {
        throw EHttpError("The gateway simulator could not listen on 127.0.0.1:" + std::to_string(port));
    }
    impl_->port = port;
    httplib::Server* raw = server.get();
    impl_->server = std::move(server);
    impl_->thread = std::thread([raw] {
#ifndef _WIN32
        // The worker threads start from here and inherit the mask: a write to a connection the client
        // already closed then fails with EPIPE instead of killing the process.
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
#endif
        raw->listen_after_bind();
    });
    // stop() is ignored until the accept loop runs; wait for it so Stop() right after Start() works.
    while (!raw->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void GatewaySimulator::Stop() {
    if (!impl_->server) return;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wake.notify_all();
    impl_->server->stop();
    if (impl_->thread.joinable()) impl_->thread.join();
    impl_->server.reset();
}

int GatewaySimulator::Port() const { return impl_->port; }

std::string GatewaySimulator::Host() const { return "127.0.0.1:" + std::to_string(impl_->port); }

void GatewaySimulator::AddAccount(const std::string& user, const std::string& password) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->accounts[user] = password;
}

void GatewaySimulator::SetSendDecision(const std::string& targetAddress, int messageId, const std::string& resultText) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->sendDecisions[targetAddress] = Decision{messageId, resultText};
}

void GatewaySimulator::SetDeliveryStatus(int messageId, const std::string& status) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->deliveryStatuses[messageId] = status;
}

void GatewaySimulator::SetDefaultDeliveryStatus(const std::string& status) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->defaultStatus = status;
}

void GatewaySimulator::SetFault(Fault fault, const std::string& operation) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    auto& rules = impl_->faults;
    if (fault == Fault::None) {
        // None switches off every fault of that operation.
        rules.erase(std::remove_if(rules.begin(), rules.end(),
                                   [&](const FaultRule& r) { return r.operation == operation; }),
                    rules.end());
        return;
    }
    for (const FaultRule& r : rules)
        if (r.fault == fault && r.operation == operation) return;
    rules.push_back(FaultRule{fault, operation});
}

void GatewaySimulator::ClearFaults() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults.clear();
}

void GatewaySimulator::SetRequestHook(std::function<void(const ReceivedRequest&)> hook) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->hook = std::move(hook);
}

std::vector<ReceivedRequest> GatewaySimulator::Requests() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->requests;
}

void GatewaySimulator::ClearRequests() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->requests.clear();
}

} // namespace velmora::sim
