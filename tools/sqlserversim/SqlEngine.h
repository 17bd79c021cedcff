#pragma once
// What one session of the SQL Server simulator runs: T-SQL texts on a SQLite file through the
// embedded backend, the catalog procedures the ODBC drivers call, identity read-back and
// session-owned application locks.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "db/DbBackend.h"
#include "db/TsqlDialect.h"
#include "tools/sqlserversim/TdsWire.h"

struct sqlite3;

namespace velmora::sqlsim {

// An error the server reports to the client.
struct SqlError {
    int number = 50000;
    int state = 1;
    int severity = 16;
    std::string message;
};

struct ResultSet {
    std::vector<tds::Column> columns;
    std::vector<std::vector<db::Value>> rows;
};

// What one statement or call produced.
struct Outcome {
    std::vector<ResultSet> sets;
    // Rows a statement without a result set changed; -1: no count (a SELECT counts its own rows, a SET none).
    int64_t rowsAffected = -1;
    bool hasReturnStatus = false;
    int32_t returnStatus = 0;
};

// Application locks of every session, by database and resource.
class AppLocks {
public:
    // 0 when granted (also when the session holds it already), -1 when another session holds it.
    int Acquire(const std::string& database, const std::string& resource, int session);
    bool Release(const std::string& database, const std::string& resource, int session);
    void ReleaseAll(int session);

private:
    std::mutex mutex_;
    std::map<std::pair<std::string, std::string>, int> holders_;
};

class SqlEngine {
public:
    SqlEngine(const std::string& database, const std::string& sqlitePath, int session, AppLocks& locks);
    ~SqlEngine();
    SqlEngine(const SqlEngine&) = delete;
    SqlEngine& operator=(const SqlEngine&) = delete;

    // A batch text, or a statement whose "@name" parameters are declared in declaration
    // ("@P1 int,@P2 nvarchar(4000)") and given by name (or in declaration order when unnamed).
    // Throws SqlError.
    Outcome Run(const std::string& text, const std::string& declaration = "",
                const std::vector<tds::Param>& params = {});
    // A catalog procedure (sp_pkeys, sp_columns, sp_special_columns, ...) with named arguments.
    Outcome CallProcedure(const std::string& name, const std::vector<tds::Param>& params);

private:
    Outcome RunStatement(const std::string& sql, const std::vector<db::Value>& values);
    ResultSet Catalog(const std::string& sql, const std::vector<std::string>& binds, const std::vector<tds::ColumnType>& types);
    std::string ResolveTable(const std::string& pattern);
    int64_t TotalChanges();
    // The declared types of the columns a statement yields, as SQLite reports them ("" for expressions).
    std::vector<std::string> DeclaredTypes(const std::string& sql);

    std::string database_;
    int session_;
    AppLocks& locks_;
    std::unique_ptr<db::IDbBackend> backend_;
    sqlite3* catalog_ = nullptr;  // a second, read-only handle for the catalog questions
    std::unique_ptr<db::tsql::FunctionState> catalogFunctions_;
};

// The result column types that carry these values best; declared holds the columns' declared types
// where known: text declared as char/varchar/text goes as varchar in code page 1254 when it fits.
std::vector<tds::Column> ColumnsFor(const db::ResultData& data, const std::vector<std::string>& declared = {});

} // namespace velmora::sqlsim
