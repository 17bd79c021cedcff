#pragma once
// Reading ODBC results: how each column type is fetched, and whole result sets into rows of values.
#include <string>

#include "db/DbBackend.h"
#include "db/OdbcSupport.h"
#include "platform/DateTime.h"

namespace velmora::db::odbc {

// How a column is read, chosen from its SQL type.
enum class Fetch { Integer, Double, Decimal, Timestamp, Time, Text, Binary, DateTimeText };

struct ColumnPlan {
    Fetch fetch = Fetch::Text;
    ValueKind declared = ValueKind::Null;
};

ColumnPlan PlanFor(SQLSMALLINT type);
// The plan for a column from its SQL type and the server's name for that type: the old "SQL Server"
// driver reports date, time, datetime2 and datetimeoffset columns as text, which still read as date-times.
ColumnPlan PlanFor(SQLSMALLINT type, const std::string& typeName);

// "yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss[.fffffff]", "hh:mm:ss[.fffffff]", or a datetimeoffset text
// (its offset left out); false for anything else.
bool ParseDateTimeText(const std::string& text, TDateTime& out);

// Reads the current result set completely: its columns and every row. With sqlServer set, columns that
// SQL Server cannot compare as they are get their compareAs type.
void ReadResultSet(const Statement& st, SQLSMALLINT columnCount, ResultData& out, bool sqlServer = false);

// The compareAs type of a SQL Server column of that SQL type; empty when it compares as it is.
std::string SqlServerCompareAs(SQLSMALLINT type);

} // namespace velmora::db::odbc
