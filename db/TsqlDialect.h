#pragma once
// The T-SQL dialect of the embedded database: the rewriter that turns the statements the system (and
// tenants' own queries) write for SQL Server into SQLite text, the SQL Server functions and text
// collations registered on every SQLite connection, and the date-literal reading they share.
// The rewriter is deliberately not a T-SQL parser: it only rewrites the tokens SQLite would read
// differently (and arithmetic, whose meaning depends on the operands' types) and leaves the rest.
//
// Date-times are stored as text "YYYY-MM-DD HH:MM:SS.ZZZ"; every rewritten date literal and every
// function result uses that one fixed-width form, so plain text comparison orders them correctly.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/DateTime.h"

struct sqlite3;

namespace velmora::db::tsql {

// The text collations the embedded database mirrors, registered on every connection under SQL
// Server's names; a schema names one in its text columns ("COLLATE Turkish_CI_AS"). Both ignore
// trailing blanks and letter case and respect accents; Turkish pairs i with İ and ı with I.
enum class Collation { TurkishCiAs, Latin1CiAs };
const char* CollationName(Collation c);
// The collation a schema text names first ("Latin1_General_CI_AS" or "Turkish_CI_AS"); Turkish when none.
Collation CollationOfSchema(const std::string& schemaSql);
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
// Text literals compare under the given collation, as under the database collation on the server.
std::vector<Statement> Rewrite(const std::string& sql, std::string& dateFormat,
                               Collation collation = Collation::TurkishCiAs);

// Reads a date-time written the ways SQL Server reads text: '21.03.2013', '21/03/2013 14:05',
// '21.03.2013 14:05:10:123', '2013-03-21', '2013-03-21T14:05:10.5', ... Ambiguous day/month forms
// follow dateFormat. The whole text must match.
bool ParseDateLiteral(const std::string& text, const std::string& dateFormat, TDateTime& out);

// Canonical name of a DATEPART/DATEADD/DATEDIFF unit keyword ("dd" -> "day"), empty when unknown.
std::string CanonicalDatePartUnit(const std::string& word);

void RegisterCollations(sqlite3* db);  // throws EDatabaseError when SQLite refuses
// Registers the collations on every SQLite connection this process opens from now on, so that
// plain sqlite3 connections (tools, test set-up) can read and create tables that name them.
void RegisterCollationsForEveryConnection();

// SQL Server's datetime keeps time in steps of 1/300 s: milliseconds end in 0, 3 or 7.
TDateTime RoundToDatetimeSteps(TDateTime d);

// Per-connection state the registered functions consult; owned by the backend.
struct FunctionState {
    Collation collation = Collation::TurkishCiAs;  // the database's: literals, LIKE, UPPER, CHARINDEX...
    std::string dateFormat = "mdy";  // the session's SET DATEFORMAT
    uint64_t statementSerial = 0;    // advanced by the backend before every statement it runs
    // GETDATE() is read once per statement, as SQL Server does.
    uint64_t nowSerial = UINT64_MAX;
    TDateTime now = 0;
};

// Registers the SQL Server functions (dates, CONVERT/CAST, texts, exact arithmetic, SUM/AVG,
// LIKE, UPPER/LOWER) the rewritten statements call.
// state must outlive the connection. Throws EDatabaseError when SQLite refuses.
void RegisterFunctions(sqlite3* db, FunctionState* state);

} // namespace velmora::db::tsql
