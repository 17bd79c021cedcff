#pragma once
// The embedded database's own rules: how declared types and stored texts read as values, and which
// actions a statement may not take.
#include <string>

#include "db/DbValue.h"

namespace velmora::db {

// The kind a column's declared type stands for; Null for expressions and unknown types.
ValueKind KindOfDeclaredType(const char* decl);
// Within the range of date-time values.
bool InDateRange(double d);
// The stored form "YYYY-MM-DD HH:MM:SS.ZZZ" exactly.
bool IsStoredDateTime(const char* s, int n, TDateTime& out);

// True when the authorizer must refuse the action (SQLITE_ATTACH, SQLITE_PRAGMA, ...; a1 and a2 as SQLite
// hands them), with the reason in why. A statement may not open other files, load extensions or set pragmas.
bool RefusedAction(int action, const char* a1, const char* a2, std::string& why);

} // namespace velmora::db
