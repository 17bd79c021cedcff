// The SQL Server simulator: accepts loopback connections and serves each session on its own thread.
#include "tools/sqlserversim/SqlServerSimulator.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <list>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/DateTime.h"
#include "platform/Text.h"
#include "tools/sqlserversim/SimSockets.h"
#include "tools/sqlserversim/SqlEngine.h"
#include "tools/sqlserversim/TdsWire.h"

namespace velmora::sqlsim {

namespace {

constexpr uint8_t kTokenDone = 0xFD;
constexpr uint8_t kTokenDoneProc = 0xFE;
constexpr uint8_t kTokenDoneInProc = 0xFF;
constexpr uint16_t kCommandSelect = 0xC1;
// A request larger than this is refused: every buffer filled from outside is bounded.
constexpr size_t kMaxMessage = 256u << 20;
const char* const kServerName = "VELMORASIM";

std::string Lower(std::string_view s) { return platform::LowerAscii(s); }

bool Matches(const std::string& pattern, const std::string& text) {
    return !pattern.empty() && Lower(text).find(Lower(pattern)) != std::string::npos;
}

std::string ReceivedText(const db::Value& v) {
    switch (v.kind) {
    case db::ValueKind::Null: return "NULL";
    case db::ValueKind::Integer: return std::to_string(v.i);
    case db::ValueKind::Float: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", v.f);
        return buf;
    }
    case db::ValueKind::DateTime: return FormatIsoDateTime(v.f);
    case db::ValueKind::Text: return v.s;
    case db::ValueKind::Blob: {
        static const char* digits = "0123456789ABCDEF";
        std::string out = "0x";
        for (unsigned char c : v.s) {
            out += digits[c >> 4];
            out += digits[c & 15];
        }
        return out;
    }
    }
    return {};
}

struct Message {
    uint8_t type = 0;
    std::string payload;
};

// Reads one whole message (all its packets); false at the end of the connection.
bool ReadMessage(Socket& s, Message& m) {
    m.payload.clear();
    for (;;) {
        char header[tds::kHeaderSize];
        if (!s.ReceiveAll(header, sizeof header)) return false;
        m.type = static_cast<uint8_t>(header[0]);
        const uint8_t status = static_cast<uint8_t>(header[1]);
        const size_t length = (static_cast<uint8_t>(header[2]) << 8) | static_cast<uint8_t>(header[3]);
        if (length < tds::kHeaderSize) throw tds::ProtocolError("packet length too small");
        const size_t body = length - tds::kHeaderSize;
        if (m.payload.size() + body > kMaxMessage) throw tds::ProtocolError("request too large");
        const size_t at = m.payload.size();
        m.payload.resize(at + body);
        if (body && !s.ReceiveAll(m.payload.data() + at, body)) return false;
        if (status & tds::kStatusEndOfMessage) return true;
    }
}

// Thrown out of a statement the client cancelled; the answer has been sent.
struct Cancelled {};

struct Prepared {
    std::string declaration;
    std::string text;
};

} // namespace

struct SqlServerSimulator::Impl {
    struct Session {
        Socket socket;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    mutable std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> databases;  // name, path
    std::vector<Account> accounts;
    bool refuseLogins = false;
    std::string blockPattern, dropPattern, errorPattern;
    ServerError error;
    int delayMs = 0;
    std::vector<ReceivedRequest> requests;
    size_t cleared = 0;  // requests dropped by ClearRequests, so that a place in the record stays valid
    std::atomic<uint64_t> requestCount{0};
    std::atomic<int> loginCount{0};
    std::atomic<int> openSessions{0};
    std::atomic<int> nextSpid{51};

    Socket listener;
    std::thread acceptor;
    std::atomic<bool> stopping{false};
    std::atomic<bool> running{false};
    int port = 0;
    std::list<std::unique_ptr<Session>> sessions;
    AppLocks locks;

    void Accept();
    void Serve(Session& s);
    // Returns the request's place in the record, for Answered.
    size_t Record(ReceivedRequest r) {
        r.received = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(std::move(r));
        return cleared + requests.size() - 1;
    }
    void Answered(size_t first, size_t count) {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(mutex);
        // ClearRequests may have emptied the record in between.
        for (size_t i = std::max(first, cleared); i < first + count && i - cleared < requests.size(); ++i)
            requests[i - cleared].answered = now;
    }
    void Delay() {
        int ms;
        {
            std::lock_guard<std::mutex> lock(mutex);
            ms = delayMs;
        }
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!stopping && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 5)));
    }
};

namespace {

// One logged-in session: the answer it is building and what it holds.
class SessionServer {
public:
    SessionServer(SqlServerSimulator::Impl& server, Socket& socket) : server_(server), socket_(socket) {}

    void Run();

private:
    bool Login(const std::string& payload);
    void Batch(const std::string& payload);
    void Rpc(const std::string& payload);
    // Checks the faults for a statement; true when it was answered (or the connection dropped).
    bool Faults(const std::string& text, uint8_t doneToken, bool& dropAfter);
    void WaitForCancel();
    void WriteOutcome(const Outcome& outcome, uint8_t doneToken, bool more);
    void WriteError(const SqlError& e, uint8_t doneToken, bool more);
    void Send();
    void SendPartAndDrop();

    SqlServerSimulator::Impl& server_;
    Socket& socket_;
    tds::Writer out_;
    size_t packetSize_ = 4096;
    int spid_ = 0;
    std::string database_;
    std::unique_ptr<SqlEngine> engine_;
    std::map<int32_t, Prepared> prepared_;
    int32_t nextHandle_ = 1;
    bool closed_ = false;
};

void SessionServer::Send() {
    if (!socket_.SendAll(tds::Packetize(tds::kTabularResult, out_.Bytes(), packetSize_))) closed_ = true;
    out_.Clear();
}

void SessionServer::SendPartAndDrop() {
    std::string packets = tds::Packetize(tds::kTabularResult, out_.Bytes(), packetSize_);
    // The first packet, cut short: the client is in the middle of reading a result.
    socket_.SendAll(packets.substr(0, std::min(packets.size() - 1, std::max<size_t>(packetSize_ / 2, tds::kHeaderSize + 8))));
    out_.Clear();
    socket_.Shutdown();
    closed_ = true;
}

void SessionServer::Run() {
    Message m;
    bool loggedIn = false;
    while (!closed_ && !server_.stopping && ReadMessage(socket_, m)) {
        switch (m.type) {
        case tds::kPreLogin:
            socket_.SendAll(tds::Packetize(tds::kTabularResult, tds::PreLoginAnswer(), packetSize_));
            break;
        case tds::kLogin7:
            loggedIn = Login(m.payload);
            if (!loggedIn) closed_ = true;
            break;
        case tds::kSqlBatch:
            if (!loggedIn) throw tds::ProtocolError("batch before login");
            ++server_.requestCount;
            Batch(m.payload);
            break;
        case tds::kRpc:
            if (!loggedIn) throw tds::ProtocolError("call before login");
            ++server_.requestCount;
            Rpc(m.payload);
            break;
        case tds::kAttention: {
            ReceivedRequest r;
            r.kind = ReceivedRequest::Kind::Attention;
            r.session = spid_;
            r.database = database_;
            server_.Record(std::move(r));
            out_.Done(kTokenDone, tds::kDoneAttention, 0, 0);
            Send();
            break;
        }
        default:
            throw tds::ProtocolError("unexpected packet type " + std::to_string(m.type));
        }
    }
    server_.locks.ReleaseAll(spid_);
}

bool SessionServer::Login(const std::string& payload) {
    tds::Login login = tds::ParseLogin7(payload);
    if (login.packetSize >= 512 && login.packetSize <= 32767) packetSize_ = login.packetSize;
    spid_ = server_.nextSpid++;
    bool refuse = false, known = false;
    std::string path;
    {
        std::lock_guard<std::mutex> lock(server_.mutex);
        refuse = server_.refuseLogins;
        for (const Account& a : server_.accounts)
            if (Lower(a.user) == Lower(login.user) && a.password == login.password) known = true;
        database_ = login.database;
        for (const auto& [name, file] : server_.databases) {
            if ((database_.empty() && path.empty()) || Lower(name) == Lower(database_)) {
                path = file;
                if (database_.empty() || Lower(name) == Lower(database_)) database_ = name;
                if (!login.database.empty()) break;
            }
        }
    }
    auto fail = [&](const SqlError* first) {
        if (first) out_.Error(first->number, first->state, first->severity, first->message, kServerName);
        out_.Error(18456, 1, 14, "Login failed for user '" + login.user + "'.", kServerName);
        out_.Done(kTokenDone, tds::kDoneError, 0, 0);
        Send();
        return false;
    };
    if (refuse || !known) return fail(nullptr);
    if (path.empty()) {
        SqlError e{4060, 1, 11, "Cannot open database \"" + login.database + "\" requested by the login. The login failed."};
        return fail(&e);
    }
    try {
        engine_ = std::make_unique<SqlEngine>(database_, path, spid_, server_.locks);
    } catch (const SqlError& e) {
        return fail(&e);
    }
    ++server_.loginCount;
    out_.EnvChange(1, database_, "master");
    out_.Info(5701, 2, 0, "Changed database context to '" + database_ + "'.", kServerName);
    out_.EnvChangeCollation(tds::TurkishCollation());
    out_.EnvChange(2, "us_english", "");
    out_.Info(5703, 1, 0, "Changed language setting to us_english.", kServerName);
    out_.LoginAck("Microsoft SQL Server");
    out_.EnvChange(4, std::to_string(packetSize_), std::to_string(packetSize_));
    out_.Done(kTokenDone, tds::kDoneFinal, 0, 0);
    Send();
    return true;
}

void SessionServer::WaitForCancel() {
    for (;;) {
        if (server_.stopping) { closed_ = true; return; }
        {
            std::lock_guard<std::mutex> lock(server_.mutex);
            if (server_.blockPattern.empty()) return;  // the lock was let go: the statement runs
        }
        if (!socket_.Readable(20)) continue;
        Message m;
        if (!ReadMessage(socket_, m)) { closed_ = true; return; }
        if (m.type == tds::kAttention) {
            ReceivedRequest r;
            r.kind = ReceivedRequest::Kind::Attention;
            r.session = spid_;
            r.database = database_;
            server_.Record(std::move(r));
            out_.Clear();
            out_.Done(kTokenDone, tds::kDoneAttention, 0, 0);
            Send();
            throw Cancelled{};
        }
    }
}

bool SessionServer::Faults(const std::string& text, uint8_t doneToken, bool& dropAfter) {
    std::string block, drop, errorPattern;
    ServerError error;
    {
        std::lock_guard<std::mutex> lock(server_.mutex);
        block = server_.blockPattern;
        drop = server_.dropPattern;
        errorPattern = server_.errorPattern;
        error = server_.error;
    }
    if (Matches(errorPattern, text)) {
        WriteError(SqlError{error.number, error.state, error.severity, error.message}, doneToken, false);
        return true;
    }
    if (Matches(block, text)) WaitForCancel();  // throws when cancelled
    dropAfter = Matches(drop, text);
    return closed_;
}

void SessionServer::WriteError(const SqlError& e, uint8_t doneToken, bool more) {
    out_.Error(e.number, e.state, e.severity, e.message, kServerName);
    out_.Done(doneToken, static_cast<uint16_t>(tds::kDoneError | (more ? tds::kDoneMore : 0)), 0, 0);
}

void SessionServer::WriteOutcome(const Outcome& o, uint8_t doneToken, bool more) {
    struct Done {
        uint16_t status;
        uint16_t command;
        uint64_t rows;
    };
    // One DONE per statement; the last one ends the answer unless more follows.
    size_t total = (o.rowsAffected >= 0 ? 1 : 0) + o.sets.size();
    size_t written = 0;
    auto done = [&](uint16_t status, uint16_t command, uint64_t rows) {
        ++written;
        bool last = written == total;
        out_.Done(doneToken, static_cast<uint16_t>(status | (!last || more ? tds::kDoneMore : 0)), command, rows);
    };
    if (o.rowsAffected >= 0) done(tds::kDoneCount, 0, static_cast<uint64_t>(o.rowsAffected));
    for (const ResultSet& set : o.sets) {
        out_.ColMetadata(set.columns);
        for (const auto& row : set.rows) out_.Row(set.columns, row);
        done(tds::kDoneCount, kCommandSelect, set.rows.size());
    }
    if (total == 0) out_.Done(doneToken, more ? tds::kDoneMore : tds::kDoneFinal, 0, 0);
}

void SessionServer::Batch(const std::string& payload) {
    std::string text = tds::BatchText(payload);
    ReceivedRequest r;
    r.kind = ReceivedRequest::Kind::Batch;
    r.text = text;
    r.session = spid_;
    r.database = database_;
    const size_t recorded = server_.Record(std::move(r));
    server_.Delay();
    bool drop = false;
    try {
        if (Faults(text, kTokenDone, drop)) {
            if (!closed_) Send();
            return;
        }
        WriteOutcome(engine_->Run(text), kTokenDone, false);
    } catch (const SqlError& e) {
        out_.Clear();
        WriteError(e, kTokenDone, false);
    } catch (const Cancelled&) {
        return;  // cancelled; answered already
    }
    if (drop) SendPartAndDrop();
    else Send();
    server_.Answered(recorded, 1);
}

void SessionServer::Rpc(const std::string& payload) {
    std::vector<tds::RpcCall> calls = tds::ParseRpc(payload);
    auto param = [](const tds::RpcCall& c, size_t i, const char* name) -> const tds::Param* {
        for (const tds::Param& p : c.params)
            if (Lower(p.name) == name) return &p;
        return i < c.params.size() && c.params[i].name.empty() ? &c.params[i] : nullptr;
    };
    auto text = [&](const tds::RpcCall& c, size_t i, const char* name) {
        const tds::Param* p = param(c, i, name);
        return p && p->value.kind == db::ValueKind::Text ? p->value.s : std::string();
    };
    size_t recorded = 0;
    for (const tds::RpcCall& call : calls) {
        ReceivedRequest r;
        r.kind = ReceivedRequest::Kind::Rpc;
        r.rpcName = call.name;
        r.session = spid_;
        r.database = database_;
        const std::string proc = Lower(call.name);
        if (proc == "sp_executesql") r.text = text(call, 0, "@stmt");
        else if (proc == "sp_prepare" || proc == "sp_prepexec") r.text = text(call, 2, "@stmt");
        else if (proc == "sp_execute") {
            // The prepared statement's text, so that a reader of the record sees what ran.
            const tds::Param* h = param(call, 0, "@handle");
            auto it = h ? prepared_.find(static_cast<int32_t>(h->value.i)) : prepared_.end();
            if (it != prepared_.end()) r.text = it->second.text;
        }
        for (const tds::Param& p : call.params) r.params.push_back({p.name, p.typeName, ReceivedText(p.value), p.value.IsNull()});
        const size_t at = server_.Record(r);
        if (&call == &calls.front()) recorded = at;
    }
    server_.Delay();
    bool drop = false;
    for (size_t k = 0; k < calls.size() && !closed_; ++k) {
        const tds::RpcCall& call = calls[k];
        const bool more = k + 1 < calls.size();
        const std::string proc = Lower(call.name);
        try {
            Outcome o;
            std::vector<std::pair<std::string, int32_t>> outputs;  // handle outputs
            auto values = [&](size_t from) { return std::vector<tds::Param>(call.params.begin() + static_cast<long>(std::min(from, call.params.size())), call.params.end()); };
            if (proc == "sp_executesql") {
                std::string stmt = text(call, 0, "@stmt");
                if (Faults(stmt, kTokenDoneProc, drop)) { if (!closed_) Send(); return; }
                o = engine_->Run(stmt, text(call, 1, "@params"), values(2));
            } else if (proc == "sp_prepare" || proc == "sp_prepexec") {
                Prepared p{text(call, 1, "@params"), text(call, 2, "@stmt")};
                int32_t handle = nextHandle_++;
                prepared_[handle] = p;
                const tds::Param* h = param(call, 0, "@handle");
                outputs.emplace_back(h ? h->name : "", handle);
                if (proc == "sp_prepexec") {
                    if (Faults(p.text, kTokenDoneProc, drop)) { if (!closed_) Send(); return; }
                    o = engine_->Run(p.text, p.declaration, values(3));
                }
            } else if (proc == "sp_execute") {
                const tds::Param* h = param(call, 0, "@handle");
                auto it = h ? prepared_.find(static_cast<int32_t>(h->value.i)) : prepared_.end();
                if (it == prepared_.end()) throw SqlError{8179, 2, 16, "Could not find prepared statement with handle " + (h ? std::to_string(h->value.i) : std::string("?")) + "."};
                if (Faults(it->second.text, kTokenDoneProc, drop)) { if (!closed_) Send(); return; }
                o = engine_->Run(it->second.text, it->second.declaration, values(1));
            } else if (proc == "sp_unprepare") {
                const tds::Param* h = param(call, 0, "@handle");
                if (h) prepared_.erase(static_cast<int32_t>(h->value.i));
            } else {
                if (Faults(call.name, kTokenDoneProc, drop)) { if (!closed_) Send(); return; }
                o = engine_->CallProcedure(call.name, call.params);
            }
            WriteOutcome(o, kTokenDoneInProc, true);
            out_.ReturnStatus(0);
            uint16_t ordinal = 0;
            for (const auto& [name, handle] : outputs) out_.ReturnValue(ordinal++, name, tds::Column{"", tds::ColumnType::Int}, db::Value::Integer(handle));
            out_.Done(kTokenDoneProc, more ? tds::kDoneMore : tds::kDoneFinal, 0, 0);
        } catch (const SqlError& e) {
            WriteError(e, kTokenDoneProc, more);
        } catch (const Cancelled&) {
            return;  // cancelled; answered already
        }
    }
    if (drop) SendPartAndDrop();
    else Send();
    server_.Answered(recorded, calls.size());
}

} // namespace

void SqlServerSimulator::Impl::Accept() {
    while (!stopping) {
        Socket::Native c = listener.Accept();
        if (c == -1) {
            if (stopping) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        std::lock_guard<std::mutex> lock(mutex);
        // Sessions that ended are joined here, so a long run does not gather threads.
        for (auto it = sessions.begin(); it != sessions.end();) {
            if ((*it)->done) {
                (*it)->thread.join();
                it = sessions.erase(it);
            } else {
                ++it;
            }
        }
        auto session = std::make_unique<Session>();
        session->socket.Adopt(c);
        Session* s = session.get();
        sessions.push_back(std::move(session));
        s->thread = std::thread([this, s] { Serve(*s); });
    }
}

void SqlServerSimulator::Impl::Serve(Session& s) {
    ++openSessions;
    try {
        SessionServer(*this, s.socket).Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velmora-sqlserversim: session closed: %s\n", e.what());
    }
    s.socket.Shutdown();
    --openSessions;
    s.done = true;
}

SqlServerSimulator::SqlServerSimulator() : impl_(std::make_shared<Impl>()) {}

SqlServerSimulator::~SqlServerSimulator() { Stop(); }

void SqlServerSimulator::AddDatabase(const std::string& name, const std::string& sqlitePath) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->databases.emplace_back(name, sqlitePath);
}

void SqlServerSimulator::AddLogin(const std::string& user, const std::string& password) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->accounts.push_back({user, password});
}

void SqlServerSimulator::Start(int port) {
    if (impl_->running) return;
    if (!impl_->listener.Listen(port)) throw std::runtime_error("the SQL Server simulator cannot listen on port " + std::to_string(port));
    impl_->port = impl_->listener.LocalPort();
    impl_->stopping = false;
    impl_->running = true;
    impl_->acceptor = std::thread([impl = impl_.get()] { impl->Accept(); });
}

void SqlServerSimulator::Stop() {
    if (!impl_->running) return;
    impl_->stopping = true;
    impl_->listener.Shutdown();
#ifdef _WIN32
    impl_->listener.Close();  // Winsock wakes a blocked accept only when the socket closes
#endif
    impl_->acceptor.join();
    impl_->listener.Close();
    std::list<std::unique_ptr<Impl::Session>> sessions;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        sessions.swap(impl_->sessions);
    }
    for (auto& s : sessions) s->socket.Shutdown();
    for (auto& s : sessions) s->thread.join();
    impl_->running = false;
}

int SqlServerSimulator::Port() const { return impl_->port; }
std::string SqlServerSimulator::ServerText() const { return "127.0.0.1," + std::to_string(impl_->port); }

void SqlServerSimulator::SetRefuseLogins(bool refuse) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->refuseLogins = refuse;
}
void SqlServerSimulator::SetBlockingPattern(const std::string& pattern) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->blockPattern = pattern;
}
void SqlServerSimulator::SetDropPattern(const std::string& pattern) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->dropPattern = pattern;
}
void SqlServerSimulator::SetErrorPattern(const std::string& pattern, const ServerError& error) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->errorPattern = pattern;
    impl_->error = error;
}
void SqlServerSimulator::SetRequestDelayMilliseconds(int ms) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->delayMs = ms < 0 ? 0 : ms;
}
void SqlServerSimulator::ClearFaults() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->refuseLogins = false;
    impl_->blockPattern.clear();
    impl_->dropPattern.clear();
    impl_->errorPattern.clear();
    impl_->delayMs = 0;
}

std::vector<ReceivedRequest> SqlServerSimulator::Requests() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->requests;
}
uint64_t SqlServerSimulator::RequestCount() const { return impl_->requestCount; }
void SqlServerSimulator::ClearRequests() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->cleared += impl_->requests.size();
    impl_->requests.clear();
    impl_->requestCount = 0;
}
int SqlServerSimulator::LoginCount() const { return impl_->loginCount; }
int SqlServerSimulator::OpenSessions() const { return impl_->openSessions; }

} // namespace velmora::sqlsim
