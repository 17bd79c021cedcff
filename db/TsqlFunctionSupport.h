#pragma once
// What the registered SQL Server functions of the embedded database share.
#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "db/TsqlDialect.h"

namespace velmora::db::tsql {

FunctionState* StateOf(sqlite3_context* ctx);
std::string ValueText(sqlite3_value* v);
void ResultText(sqlite3_context* ctx, const std::string& s);
void ResultError(sqlite3_context* ctx, const std::string& s);

// Within the range of date-time values (kFirstDateTime up to kEndOfDateTimes).
bool InRange(TDateTime d);

// The stored date-time form exactly: such a text is a date-time value of this database.
bool IsStoredDateTime(const std::string& s, TDateTime& out);

enum class Arg { Ok, Null, Failed };

// A date-time argument: stored text, a date text in the session's order, or a SQL Server
// datetime number (days since 1900-01-01, the fraction being the time of day).
Arg DateArg(sqlite3_context* ctx, sqlite3_value* v, TDateTime& out);
// A whole-number argument; texts must hold a whole number. Reports the error itself.
bool IntegerArg(sqlite3_context* ctx, sqlite3_value* v, int64_t& out);

// The stored text of a date-time value, in SQL Server's 1/300 s steps.
void ResultDateTime(sqlite3_context* ctx, TDateTime d);

void Register(sqlite3* db, const char* name, int args, void* state,
              void (*fn)(sqlite3_context*, int, sqlite3_value**), bool deterministic = true);

// The families of functions, each registered by the file that holds it.
void RegisterDateFunctions(sqlite3* db, FunctionState* state);
void RegisterConvertFunctions(sqlite3* db, FunctionState* state);
void RegisterStringFunctions(sqlite3* db, FunctionState* state);
void RegisterArithmeticFunctions(sqlite3* db, FunctionState* state);
void RegisterCollationFunctions(sqlite3* db, FunctionState* state);

// Code points of UTF-8 text, and letter case under a collation (Turkish pairs i/İ and ı/I).
char32_t DecodeUtf8At(const unsigned char* s, size_t n, size_t& i);
std::u32string DecodeUtf8(const std::string& s);
std::string EncodeUtf8(const std::u32string& s);
char32_t UpperCase(char32_t c, Collation col);
char32_t LowerCase(char32_t c, Collation col);
// Text comparison under a collation: <0, 0, >0; trailing blanks and letter case do not count.
int CompareText(Collation c, const std::string& a, const std::string& b);
bool SameCharacter(char32_t a, char32_t b, Collation c);

} // namespace velmora::db::tsql
