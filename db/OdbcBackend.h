#pragma once
// The ODBC session class: one connection handle, statements run on it, catalog questions.
#include <algorithm>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "db/DbBackend.h"
#include "db/OdbcSupport.h"

namespace velmora::db::odbc {

// One bound parameter's storage; it must stay in place until the statement has run.
struct ParamBuffer {
    SQLBIGINT integer = 0;
    double real = 0;
    SQL_TIMESTAMP_STRUCT timestamp{};
    std::u16string text;
    std::string bytes;
    char empty[2] = {0, 0};
    SQLLEN indicator = 0;
};

class OdbcBackend final : public IDbBackend {
public:
    OdbcBackend(const std::string& connectionString, const ConnectionOptions& options) : options_(options) {
        try {
            Connect(connectionString);
        } catch (...) {
            Release();
            throw;
        }
    }
    ~OdbcBackend() override { Release(); }

    void Execute(const std::string& sql, const std::vector<Value>& params, ResultData* result) override;
    int64_t LastIdentity() override;
    std::string KeyColumn(const std::string& table) override;
    std::vector<std::string> TableColumns(const std::string& table) override;
    bool TryLockSendReport() override;
    void UnlockSendReport() override;

private:
    void Connect(const std::string& connectionString);
    void Release();
    // Runs the text on the statement, prepared there already when prepared is set.
    void Run(const Statement& st, const std::u16string& text, bool captureIdentity, bool prepared,
             const std::vector<Value>& params, ResultData* result);
    // The statement prepared for this text on this session, prepared now when it is not yet.
    Statement& PreparedFor(const std::u16string& text);
    void ForgetPrepared(const std::u16string& text);
    void Bind(const Statement& st, SQLUSMALLINT number, const Value& v, ParamBuffer& buf, bool prepared);
    // The rows of a catalog function's result restricted to the named table.
    std::vector<std::vector<Value>> CatalogRows(ResultData& data, const QualifiedName& name) const;
    // Runs a catalog function (SQLPrimaryKeysW, SQLColumnsW) for the table and returns its rows.
    template <typename CatalogCall>
    std::vector<std::vector<Value>> CatalogQuery(const QualifiedName& name, const char* what, CatalogCall call);

    // The query time-out for the next statement: short after a statement ran out of time, until one
    // gets through, so a table locked for the rest of the run costs one full wait per session, not one per row.
    int StatementTimeout() const { return afterTimeout_ ? 1 : options_.commandTimeoutSeconds; }
    // Notes how a statement ended for the rule above.
    void NoteOutcome(bool succeeded, bool timedOut) { afterTimeout_ = succeeded ? false : (afterTimeout_ || timedOut); }

    ConnectionOptions options_;
    // Statements with parameters, prepared once per text and run again with new values: the program
    // posts the same insert and update texts row after row. Most recently used first.
    struct PreparedText {
        std::u16string text;
        std::unique_ptr<Statement> statement;
    };
    std::list<PreparedText> prepared_;
    static constexpr size_t kPreparedCapacity = 32;
    std::string database_;  // the session's database, to name it in time-out messages
    bool afterTimeout_ = false;
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    bool connected_ = false;
    bool sqlServer_ = false;
    bool describeParams_ = false;
    bool haveIdentity_ = false;
    int64_t identity_ = 0;
    bool sendReportLocked_ = false;
};

} // namespace velmora::db::odbc
