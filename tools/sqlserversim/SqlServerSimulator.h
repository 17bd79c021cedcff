#pragma once
// A loopback stand-in for SQL Server: speaks TDS 7.4 well enough for the FreeTDS ODBC driver and
// runs what it receives on SQLite files through the embedded backend's T-SQL dialect layer.
// Used in-process by tests and benchmarks, and as a standalone program by the demo.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmora::sqlsim {

// One parameter of a received RPC, as the server decoded it.
struct ReceivedParam {
    std::string name;      // "@P1", "@stmt", ... (empty when sent without a name)
    std::string typeName;  // the declared type as SQL Server names it: "int", "nvarchar(4000)", "datetime2(7)"
    std::string value;     // decoded value as text ("NULL" for none)
    bool isNull = false;
};

// One request as received: a SQL batch, an RPC or an attention.
struct ReceivedRequest {
    enum class Kind { Batch, Rpc, Attention };
    Kind kind = Kind::Batch;
    std::string text;     // the batch text, or the statement text of sp_executesql/sp_prepare/sp_prepexec/sp_execute
    std::string rpcName;  // "sp_executesql", "sp_prepexec", "sp_pkeys", ... (RPCs only)
    std::vector<ReceivedParam> params;
    std::string database;  // the session's database
    int session = 0;       // the session id (SPID) that sent it
    // When it arrived and when its answer went out (benchmarks measure the windows between events with them).
    std::chrono::steady_clock::time_point received;
    std::chrono::steady_clock::time_point answered;
};

// Faults, switchable while the server runs. Patterns are matched as plain substrings, without
// regard to letter case, against the statement text (batch text or the RPC's statement).
struct ServerError {
    int number = 50000;
    int state = 1;
    int severity = 16;
    std::string message;
};

struct Account {
    std::string user;
    std::string password;
};

class SqlServerSimulator {
public:
    SqlServerSimulator();
    ~SqlServerSimulator();  // stops the server
    SqlServerSimulator(const SqlServerSimulator&) = delete;
    SqlServerSimulator& operator=(const SqlServerSimulator&) = delete;

    // A database name the clients log into, kept in this SQLite file (which must exist).
    // The first database added is the login's default.
    void AddDatabase(const std::string& name, const std::string& sqlitePath);
    // A login; user names compare without regard to letter case, passwords exactly.
    void AddLogin(const std::string& user, const std::string& password);

    void Start(int port = 0);  // listens on 127.0.0.1; returns when ready; 0 = a free port
    void Stop();
    int Port() const;
    // "127.0.0.1,<port>": the server text a client puts in its settings.
    std::string ServerText() const;

    // Faults.
    void SetRefuseLogins(bool refuse);
    // A statement matching the pattern waits until the client cancels it (or the server stops,
    // or the pattern is cleared): a lock held by another session.
    void SetBlockingPattern(const std::string& pattern);
    // A statement matching the pattern sends part of its result and the connection is closed.
    void SetDropPattern(const std::string& pattern);
    // A statement matching the pattern fails with this server error.
    void SetErrorPattern(const std::string& pattern, const ServerError& error);
    // Every request is answered only after this delay (a LAN round trip).
    void SetRequestDelayMilliseconds(int ms);
    void ClearFaults();

    // What the server received, oldest first; the count includes every batch, RPC and attention.
    std::vector<ReceivedRequest> Requests() const;
    uint64_t RequestCount() const;
    void ClearRequests();
    // Sessions logged in so far, and the ones still connected.
    int LoginCount() const;
    int OpenSessions() const;

    struct Impl;  // the server's state, shared with its session threads

private:
    std::shared_ptr<Impl> impl_;
};

} // namespace velmora::sqlsim
