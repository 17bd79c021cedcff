// The embedded database backend: one SQLite file per database, spoken to in T-SQL through the
// dialect layer. Used by the demo and the tests in place of SQL Server.
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <list>
#include <string_view>
#include <unordered_map>

#include "db/DbBackend.h"
#include "db/SqlLexer.h"
#include "db/SqliteRules.h"
#include "db/SendReportLock.h"
#include "db/TsqlDialect.h"
#include "platform/DateTime.h"
#include "platform/Error.h"
#include "platform/FileLock.h"
#include "platform/Text.h"

namespace velmora::db {

namespace {

// The table of a name such as "dbo.[tbNuvoListe]": its last part, unquoted.
std::string NormalizeTableName(const std::string& table) { return sql::NameParts(table).back(); }

// Plain sqlite3 connections of this process (tools, test set-up) know the collations the schema names.
[[maybe_unused]] const bool kCollationsEverywhere = (tsql::RegisterCollationsForEveryConnection(), true);

// One statement of a cached text.
struct Piece {
    tsql::Statement::Kind kind = tsql::Statement::Kind::Sql;
    std::string dateFormat;        // SetDateFormat
    sqlite3_stmt* stmt = nullptr;  // Sql
    int paramCount = 0;
};

// A T-SQL text with its rewritten, prepared statements. The facade posts the same insert text
// thousands of times, so preparing it once is what keeps the embedded database fast.
struct CachedText {
    std::string sql;          // the original text: the cache key
    std::string startFormat;  // the date order the text was rewritten under
    std::vector<Piece> pieces;
    size_t paramCount = 0;

    CachedText() = default;
    CachedText(const CachedText&) = delete;
    CachedText& operator=(const CachedText&) = delete;
    ~CachedText() {
        for (Piece& p : pieces)
            if (p.stmt) sqlite3_finalize(p.stmt);
    }
};

// Resets a statement whatever way its execution ends, so the cached statement is ready again
// and holds no pointers into the caller's parameters.
class StatementReset {
public:
    explicit StatementReset(sqlite3_stmt* s) : s_(s) {}
    ~StatementReset() {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    StatementReset(const StatementReset&) = delete;
    StatementReset& operator=(const StatementReset&) = delete;

private:
    sqlite3_stmt* s_;
};

class SqliteBackend final : public IDbBackend {
public:
    SqliteBackend(const std::string& path, const ConnectionOptions& options);
    ~SqliteBackend() override;
    SqliteBackend(const SqliteBackend&) = delete;
    SqliteBackend& operator=(const SqliteBackend&) = delete;

    void Execute(const std::string& sql, const std::vector<Value>& params, ResultData* result) override;
    int64_t LastIdentity() override { return sqlite3_last_insert_rowid(db_); }
    std::string KeyColumn(const std::string& table) override;
    std::vector<std::string> TableColumns(const std::string& table) override;
    bool TryLockSendReport() override;
    void UnlockSendReport() override { sendReportLock_.reset(); }

private:
    static int Authorize(void* self, int action, const char* a1, const char* a2, const char* database,
                         const char* trigger);
    int Deny(std::string why) {
        denied_ = std::move(why);
        return SQLITE_DENY;
    }

    struct ColumnInfo {
        std::string name;
        int pk;
    };

    CachedText& Prepare(const std::string& sql);
    void Bind(sqlite3_stmt* stmt, int index, const Value& v);
    Value Read(sqlite3_stmt* stmt, int column, ValueKind declared) const;
    std::vector<ColumnInfo> TableInfo(const std::string& table);
    std::string SchemaText();
    std::string FailureText() const;
    [[noreturn]] void Fail() const { throw EDatabaseError(FailureText()); }
    // A failed step; one that gave up on a lock makes the session stop waiting for locks.
    [[noreturn]] void FailStep();
    // Starts a statement's time: its lock waits and its work end together at one deadline, however
    // many rows or steps it takes.
    void StartDeadline(int seconds);
    static int OnBusy(void* self, int count);
    static int OnProgress(void* self);

    static constexpr size_t kCacheCapacity = 256;

    sqlite3* db_ = nullptr;
    std::string path_;
    std::string denied_;  // why the authorizer refused the statement being prepared
    std::unique_ptr<platform::FileLock> sendReportLock_;
    tsql::FunctionState state_;
    std::list<CachedText> cache_;  // most recently used first
    std::unordered_map<std::string_view, std::list<CachedText>::iterator> cacheIndex_;

    using Clock = std::chrono::steady_clock;
    int commandTimeoutSeconds_;
    Clock::time_point deadline_;
    // The embedded database is the demo's and the tests': a lock held by another session is waited for at most
    // this long (or the command time-out when shorter), as before the command time-out existed, so a locked
    // file costs seconds, not the minutes a long query may take.
    static constexpr int kLockWaitSeconds = 5;
    int lockWaitSeconds_ = kLockWaitSeconds;
    Clock::time_point lockDeadline_;
    bool expired_ = false;    // the current statement ran out of time
    // After a statement gave up waiting for a lock, the next ones do not wait again until one gets
    // through: a locked database then costs one time-out per session, not one per row written.
    bool lockedOut_ = false;
};

void SqliteBackend::StartDeadline(int seconds) {
    expired_ = false;
    const Clock::time_point now = Clock::now();
    deadline_ = now + std::chrono::seconds(std::max(seconds, 1));
    lockWaitSeconds_ = std::min(std::max(seconds, 1), kLockWaitSeconds);
    lockDeadline_ = now + std::chrono::seconds(lockWaitSeconds_);
}

int SqliteBackend::OnBusy(void* self, int count) {
    auto* b = static_cast<SqliteBackend*>(self);
    if (b->lockedOut_) return 0;
    const Clock::time_point now = Clock::now();
    if (now >= b->lockDeadline_) {
        b->expired_ = true;
        return 0;
    }
    // Short naps first, so a lock held for a moment costs little; then at most 50 ms per try.
    const auto nap = std::chrono::milliseconds(count < 5 ? 1 << count : 50);
    std::this_thread::sleep_for(std::min<Clock::duration>(nap, b->lockDeadline_ - now));
    return 1;
}

int SqliteBackend::OnProgress(void* self) {
    auto* b = static_cast<SqliteBackend*>(self);
    if (Clock::now() < b->deadline_) return 0;
    b->expired_ = true;
    return 1;  // interrupts the statement
}

void SqliteBackend::FailStep() {
    std::string text = FailureText();
    if (expired_ && (sqlite3_errcode(db_) & 0xFF) == SQLITE_BUSY) lockedOut_ = true;
    throw EDatabaseError(text);
}

std::string SqliteBackend::FailureText() const {
    // A refusal of ours reads as such (SQLite reports a refused function as a plain error).
    if (!denied_.empty()) return "Not allowed on this database: " + denied_;
    const int code = sqlite3_errcode(db_) & 0xFF;
    if (lockedOut_ && !expired_ && code == SQLITE_BUSY)
        return "The database \"" + path_ + "\" is still locked by another session; this connection stopped waiting "
               "after an earlier statement reached the command time-out (" + std::string(sqlite3_errmsg(db_)) + ")";
    const bool locked = code == SQLITE_BUSY || code == SQLITE_LOCKED;
    if (expired_ && locked && lockWaitSeconds_ < commandTimeoutSeconds_)
        return "The statement on database \"" + path_ + "\" was stopped after waiting " +
               std::to_string(lockWaitSeconds_) + " s for another session's lock (" + sqlite3_errmsg(db_) + ")";
    if (expired_) {
        std::string why = locked ? "the database stayed locked by another session" : "it was still running";
        return "The statement on database \"" + path_ + "\" was stopped after the command time-out of " +
               std::to_string(commandTimeoutSeconds_) + " s (<VeriTabani><KomutZamanAsimi>): " + why + " (" +
               sqlite3_errmsg(db_) + ")";
    }
    return sqlite3_errmsg(db_);
}

SqliteBackend::SqliteBackend(const std::string& path, const ConnectionOptions& options)
    : path_(path), commandTimeoutSeconds_(std::max(options.commandTimeoutSeconds, 1)) {
    if (path.empty()) throw EDatabaseError("Cannot open the database: no database file is named");
    // Without SQLITE_OPEN_CREATE: a mistyped path must fail instead of making an empty database.
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw EDatabaseError("Cannot open the database \"" + path + "\": " + msg);
    }
    try {
        sqlite3_busy_handler(db_, &SqliteBackend::OnBusy, this);
        sqlite3_progress_handler(db_, 10000, &SqliteBackend::OnProgress, this);
        StartDeadline(options.connectTimeoutSeconds);  // opening waits for a lock at most this long
        // The first statement reads the file: a file that is not a database fails here.
        for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL"}) {
            char* err = nullptr;
            if (sqlite3_exec(db_, pragma, nullptr, nullptr, &err) != SQLITE_OK) {
                std::string msg = err ? err : sqlite3_errmsg(db_);
                sqlite3_free(err);
                if (expired_)
                    msg += " (the database stayed locked by another session for the connect time-out of " +
                           std::to_string(std::max(options.connectTimeoutSeconds, 1)) +
                           " s, <VeriTabani><BaglantiZamanAsimi>)";
                throw EDatabaseError("Cannot open the database \"" + path + "\": " + msg);
            }
        }
        tsql::RegisterFunctions(db_, &state_);
        state_.collation = tsql::CollationOfSchema(SchemaText());
        // A tenant's own statements run on this connection too: they must not reach other database files
        // (the program database holds every tenant's password), load code or change settings that other
        // connections or our own statements rely on.
        sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
        sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
        sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 0);
        sqlite3_set_authorizer(db_, &SqliteBackend::Authorize, this);
    } catch (...) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw;
    }
}

SqliteBackend::~SqliteBackend() {
    cacheIndex_.clear();
    cache_.clear();  // finalizes the statements before the connection goes
    sqlite3_close_v2(db_);
}

int SqliteBackend::Authorize(void* self, int action, const char* a1, const char* a2, const char*, const char*) {
    std::string why;
    return RefusedAction(action, a1, a2, why) ? static_cast<SqliteBackend*>(self)->Deny(why) : SQLITE_OK;
}

bool SqliteBackend::TryLockSendReport() {
    if (sendReportLock_) return true;
    const std::string file = SendReportLockFile(path_);
    platform::FileLockAttempt attempt = platform::FileLock::TryLock(file, false);
    if (attempt.heldElsewhere) return false;
    if (!attempt.lock) throw EDatabaseError("The send/report lock \"" + file + "\" cannot be opened: " + attempt.error);
    sendReportLock_ = std::move(attempt.lock);
    return true;
}

CachedText& SqliteBackend::Prepare(const std::string& sql) {
    denied_.clear();
    auto found = cacheIndex_.find(std::string_view(sql));
    if (found != cacheIndex_.end()) {
        auto entry = found->second;
        if (entry->startFormat == state_.dateFormat) {
            cache_.splice(cache_.begin(), cache_, entry);
            return *entry;
        }
        // Rewritten under another date order: its literals may read differently now.
        cacheIndex_.erase(found);
        cache_.erase(entry);
    }

    std::string format = state_.dateFormat;
    std::vector<tsql::Statement> statements = tsql::Rewrite(sql, format, state_.collation);

    cache_.emplace_front();
    CachedText& entry = cache_.front();
    try {
        entry.sql = sql;
        entry.startFormat = state_.dateFormat;
        for (tsql::Statement& st : statements) {
            if (st.kind == tsql::Statement::Kind::Sql) {
                sqlite3_stmt* stmt = nullptr;
                if (sqlite3_prepare_v3(db_, st.text.c_str(), static_cast<int>(st.text.size()),
                                       SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
                    Fail();
                if (!stmt) continue;  // nothing but comments
                Piece& piece = entry.pieces.emplace_back();
                piece.stmt = stmt;
                piece.paramCount = sqlite3_bind_parameter_count(stmt);
                entry.paramCount += static_cast<size_t>(piece.paramCount);
            } else {
                Piece& piece = entry.pieces.emplace_back();
                piece.kind = st.kind;
                piece.dateFormat = st.text;
            }
        }
    } catch (...) {
        cache_.pop_front();  // a text that does not prepare is not kept
        throw;
    }
    cacheIndex_.emplace(std::string_view(entry.sql), cache_.begin());
    if (cache_.size() > kCacheCapacity) {
        cacheIndex_.erase(std::string_view(cache_.back().sql));
        cache_.pop_back();
    }
    return entry;
}

void SqliteBackend::Bind(sqlite3_stmt* stmt, int index, const Value& v) {
    int rc = SQLITE_OK;
    switch (v.kind) {
    case ValueKind::Null:
        rc = sqlite3_bind_null(stmt, index);
        break;
    case ValueKind::Integer:
        rc = sqlite3_bind_int64(stmt, index, v.i);
        break;
    case ValueKind::Float:
        rc = sqlite3_bind_double(stmt, index, v.f);
        break;
    case ValueKind::Text:
        // The parameters outlive the statement's run; the reset guard unbinds them afterwards.
        rc = sqlite3_bind_text(stmt, index, v.s.data(), static_cast<int>(v.s.size()), SQLITE_STATIC);
        break;
    case ValueKind::DateTime: {
        if (!InDateRange(v.f)) throw EDatabaseError("Parameter " + std::to_string(index) + ": the date-time value is out of range");
        const std::string text = FormatIsoDateTime(tsql::RoundToDatetimeSteps(v.f));
        rc = sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        break;
    }
    case ValueKind::Blob:
        rc = sqlite3_bind_blob(stmt, index, v.s.data(), static_cast<int>(v.s.size()), SQLITE_STATIC);
        break;
    }
    if (rc != SQLITE_OK) Fail();
}

Value SqliteBackend::Read(sqlite3_stmt* stmt, int column, ValueKind declared) const {
    switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_INTEGER: {
        int64_t x = sqlite3_column_int64(stmt, column);
        if (declared == ValueKind::DateTime && InDateRange(static_cast<double>(x) + kSqlServerZero))
            return Value::DateTime(static_cast<double>(x) + kSqlServerZero);
        // A money column holding a whole amount is still an amount.
        if (declared == ValueKind::Float) return Value::Float(static_cast<double>(x));
        return Value::Integer(x);
    }
    case SQLITE_FLOAT: {
        double x = sqlite3_column_double(stmt, column);
        if (declared == ValueKind::DateTime && InDateRange(x + kSqlServerZero)) return Value::DateTime(x + kSqlServerZero);
        return Value::Float(x);
    }
    case SQLITE_TEXT: {
        const char* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
        const int n = sqlite3_column_bytes(stmt, column);
        TDateTime d = 0;
        if (declared == ValueKind::DateTime) {
            std::string s(p, static_cast<size_t>(n));
            if (TryParseIsoDateTime(s, d) || tsql::ParseDateLiteral(s, state_.dateFormat, d)) return Value::DateTime(d);
            return Value::Text(std::move(s));
        }
        if (declared == ValueKind::Null && IsStoredDateTime(p, n, d)) return Value::DateTime(d);
        if (declared == ValueKind::Blob) return Value::Blob(std::string(p, static_cast<size_t>(n)));
        return Value::Text(std::string(p, static_cast<size_t>(n)));
    }
    case SQLITE_BLOB: {
        const char* p = static_cast<const char*>(sqlite3_column_blob(stmt, column));
        const int n = sqlite3_column_bytes(stmt, column);
        return Value::Blob(p ? std::string(p, static_cast<size_t>(n)) : std::string());
    }
    default:
        return Value::Null();
    }
}

void SqliteBackend::Execute(const std::string& sql, const std::vector<Value>& params, ResultData* result) {
    StartDeadline(commandTimeoutSeconds_);
    CachedText& entry = Prepare(sql);
    if (entry.paramCount != params.size())
        throw EDatabaseError("The statement has " + std::to_string(entry.paramCount) + " parameter markers but " +
                             std::to_string(params.size()) + " values were given");
    if (result) {
        result->columns.clear();
        result->rows.clear();
        result->hasResultSet = false;
        result->rowsAffected = -1;
    }
    size_t nextParam = 0;
    bool collected = false;
    for (Piece& piece : entry.pieces) {
        if (piece.kind == tsql::Statement::Kind::SetDateFormat) {
            state_.dateFormat = piece.dateFormat;
            continue;
        }
        if (piece.kind != tsql::Statement::Kind::Sql) continue;

        sqlite3_stmt* stmt = piece.stmt;
        StatementReset reset(stmt);
        ++state_.statementSerial;  // GETDATE() is read afresh for each statement
        for (int i = 1; i <= piece.paramCount; ++i) Bind(stmt, i, params[nextParam++]);

        // The first step comes before the columns are read: it re-prepares a cached statement
        // after a schema change, which can change what "SELECT *" stands for.
        int rc = sqlite3_step(stmt);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            FailStep();
        }

        // The first statement that yields columns gives the result, as the server's first result set.
        const int columnCount = sqlite3_column_count(stmt);
        const bool collect = result && !collected && columnCount > 0;
        std::vector<ValueKind> kinds;
        if (collect) {
            collected = true;
            result->hasResultSet = true;
            result->columns.reserve(static_cast<size_t>(columnCount));
            kinds.reserve(static_cast<size_t>(columnCount));
            for (int c = 0; c < columnCount; ++c) {
                ColumnDesc desc;
                const char* name = sqlite3_column_name(stmt, c);
                desc.name = name ? name : "";
                desc.declared = KindOfDeclaredType(sqlite3_column_decltype(stmt, c));
                kinds.push_back(desc.declared);
                result->columns.push_back(std::move(desc));
            }
        }
        while (rc == SQLITE_ROW) {
            if (collect) {
                std::vector<Value> row;
                row.reserve(static_cast<size_t>(columnCount));
                for (int c = 0; c < columnCount; ++c) row.push_back(Read(stmt, c, kinds[static_cast<size_t>(c)]));
                result->rows.push_back(std::move(row));
            }
            rc = sqlite3_step(stmt);
        }
        if (rc != SQLITE_DONE) {
            FailStep();
        }
        if (result && columnCount == 0) result->rowsAffected = sqlite3_changes64(db_);
    }
    lockedOut_ = false;
}

// The definitions of the database's tables, which name its text collation.
std::string SqliteBackend::SchemaText() {
    sqlite3_stmt* stmt = nullptr;
    static const char kSql[] = "SELECT sql FROM sqlite_schema WHERE type = 'table' AND sql IS NOT NULL";
    if (sqlite3_prepare_v2(db_, kSql, -1, &stmt, nullptr) != SQLITE_OK) Fail();
    std::string text;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const char* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        if (p) text += p;
    }
    sqlite3_finalize(stmt);
    return text;
}

std::vector<SqliteBackend::ColumnInfo> SqliteBackend::TableInfo(const std::string& table) {
    const std::string name = NormalizeTableName(table);
    sqlite3_stmt* stmt = nullptr;
    StartDeadline(commandTimeoutSeconds_);
    static const char kSql[] = "SELECT name, pk FROM pragma_table_info(?1)";
    if (sqlite3_prepare_v2(db_, kSql, -1, &stmt, nullptr) != SQLITE_OK) Fail();
    std::vector<ColumnInfo> columns;
    sqlite3_bind_text(stmt, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const char* col = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        columns.push_back({col ? col : "", sqlite3_column_int(stmt, 1)});
    }
    if (rc != SQLITE_DONE) {
        std::string msg = sqlite3_errmsg(db_);
        sqlite3_finalize(stmt);
        throw EDatabaseError(msg);
    }
    sqlite3_finalize(stmt);
    if (columns.empty()) throw EDatabaseError("no such table: " + table);
    return columns;
}

std::string SqliteBackend::KeyColumn(const std::string& table) {
    // An INTEGER PRIMARY KEY is SQLite's identity column; a key of several columns identifies no row by one value.
    std::string key;
    int keys = 0;
    for (const ColumnInfo& c : TableInfo(table)) {
        if (c.pk > 0) {
            ++keys;
            key = c.name;
        }
    }
    return keys == 1 ? key : std::string();
}

std::vector<std::string> SqliteBackend::TableColumns(const std::string& table) {
    std::vector<std::string> names;
    for (ColumnInfo& c : TableInfo(table)) names.push_back(std::move(c.name));
    return names;
}

} // namespace

std::unique_ptr<IDbBackend> OpenSqliteBackend(const std::string& path, const ConnectionOptions& options) {
    return std::make_unique<SqliteBackend>(path, options);
}

} // namespace velmora::db
