#pragma once
// The T-SQL dialect of the embedded database: a token rewriter that turns the statements the system
// (and tenants' own queries) write for SQL Server into SQLite text, plus the SQL Server functions
// registered on every SQLite connection. It is deliberately not a T-SQL parser: it only rewrites the
// tokens SQLite would read differently and leaves everything else as written.
//
// Date-times are stored as text "YYYY-MM-DD HH:MM:SS.ZZZ"; every rewritten date literal and every
// function result uses that one fixed-width form, so plain text comparison orders them correctly.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/DateTime.h"

struct sqlite3;

namespace velmora::db::tsql {

// One statement of a text after rewriting.
struct Statement {
    enum class Kind {
        Sql,            // text: SQLite statement text
        SetDateFormat,  // text: the new order of ambiguous date literals ("dmy", "mdy", ...)
        Ignored         // a session setting without meaning here (SET NOCOUNT ON)
    };
    Kind kind = Kind::Sql;
    std::string text;
};

// Splits a T-SQL text at its ';' tokens (outside literals and comments) and rewrites each statement.
// dateFormat is the session's order of ambiguous date literals when the text starts ("mdy" is SQL
// Server's us_english default); a SET DATEFORMAT in the text governs the statements after it, and
// dateFormat is left at the order in force at the end. Blank statements are dropped.
// Throws EDatabaseError for a SET DATEFORMAT with an unknown order.
std::vector<Statement> Rewrite(const std::string& sql, std::string& dateFormat);

// Reads a date-time written the ways SQL Server reads text: '21.03.2013', '21/03/2013 14:05',
// '21.03.2013 14:05:10:123', '2013-03-21', '2013-03-21T14:05:10.5', ... Ambiguous day/month forms
// follow dateFormat. The whole text must match.
bool ParseDateLiteral(const std::string& text, const std::string& dateFormat, TDateTime& out);

// Canonical name of a DATEPART/DATEADD/DATEDIFF unit keyword ("dd" -> "day"), empty when unknown.
std::string CanonicalDatePartUnit(const std::string& word);

// Per-connection state the registered functions consult; owned by the backend.
struct FunctionState {
    std::string dateFormat = "mdy";  // the session's SET DATEFORMAT
    uint64_t statementSerial = 0;    // advanced by the backend before every statement it runs
    // GETDATE() is read once per statement, as SQL Server does.
    uint64_t nowSerial = UINT64_MAX;
    TDateTime now = 0;
};

// Registers GETDATE, DATEPART, DATEADD, DATEDIFF and TSQL_CONVERT (the target of CONVERT).
// state must outlive the connection. Throws EDatabaseError when SQLite refuses.
void RegisterFunctions(sqlite3* db, FunctionState* state);

} // namespace velmora::db::tsql
