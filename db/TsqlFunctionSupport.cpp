// Helpers shared by the registered SQL Server functions, and their registration on a connection.
#include "db/TsqlFunctionSupport.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "platform/Error.h"

namespace velmora::db::tsql {

FunctionState* StateOf(sqlite3_context* ctx) { return static_cast<FunctionState*>(sqlite3_user_data(ctx)); }

std::string ValueText(sqlite3_value* v) {
    const unsigned char* p = sqlite3_value_text(v);
    int len = sqlite3_value_bytes(v);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(len)) : std::string();
}

void ResultText(sqlite3_context* ctx, const std::string& s) {
    sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void ResultError(sqlite3_context* ctx, const std::string& s) {
    sqlite3_result_error(ctx, s.data(), static_cast<int>(s.size()));
}

bool InRange(TDateTime d) { return d >= kFirstDateTime && d < kEndOfDateTimes; }

bool IsStoredDateTime(const std::string& s, TDateTime& out) {
    return s.size() == 23 && s[4] == '-' && s[7] == '-' && s[10] == ' ' && s[13] == ':' && s[19] == '.' &&
           TryParseIsoDateTime(s, out);
}

namespace {

// 'yyyymmdd' is read as a date whatever the session's date order, as SQL Server reads it.
bool ParseUnseparatedDate(const std::string& s, TDateTime& out) {
    if (s.size() != 8) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    const int y = std::atoi(s.substr(0, 4).c_str()), m = std::atoi(s.substr(4, 2).c_str()),
              d = std::atoi(s.substr(6, 2).c_str());
    if (!IsValidDate(y, m, d)) return false;
    out = EncodeDate(y, m, d);
    return true;
}

} // namespace

Arg DateArg(sqlite3_context* ctx, sqlite3_value* v, TDateTime& out) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
        return Arg::Null;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: {
        double d = sqlite3_value_double(v) + kSqlServerZero;
        if (!InRange(d)) {
            ResultError(ctx, "Arithmetic overflow error converting expression to data type datetime.");
            return Arg::Failed;
        }
        out = d;
        return Arg::Ok;
    }
    case SQLITE_TEXT: {
        std::string s = ValueText(v);
        // Leading and trailing blanks are tolerated, as SQL Server does.
        size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
        if (a != std::string::npos) s = s.substr(a, b - a + 1);
        if (ParseDateLiteral(s, StateOf(ctx)->dateFormat, out) || ParseUnseparatedDate(s, out)) {
            out = RoundToDatetimeSteps(out);
            return Arg::Ok;
        }
        ResultError(ctx, "Conversion failed when converting date and/or time from character string.");
        return Arg::Failed;
    }
    default:
        ResultError(ctx, "Conversion failed: a binary value is not a date and/or time.");
        return Arg::Failed;
    }
}

bool IntegerArg(sqlite3_context* ctx, sqlite3_value* v, int64_t& out) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        out = sqlite3_value_int64(v);
        return true;
    case SQLITE_FLOAT: {
        double d = std::trunc(sqlite3_value_double(v));
        if (!(std::fabs(d) < 9.0e15)) break;
        out = static_cast<int64_t>(d);
        return true;
    }
    case SQLITE_TEXT: {
        std::string s = ValueText(v);
        char* end = nullptr;
        errno = 0;
        long long x = std::strtoll(s.c_str(), &end, 10);
        while (end && *end == ' ') ++end;
        if (!s.empty() && end && *end == '\0' && errno == 0) {
            out = x;
            return true;
        }
        ResultError(ctx, "Conversion failed when converting the varchar value '" + s + "' to data type int.");
        return false;
    }
    default:
        break;
    }
    ResultError(ctx, "Arithmetic overflow error converting expression to data type int.");
    return false;
}

void ResultDateTime(sqlite3_context* ctx, TDateTime d) {
    d = RoundToDatetimeSteps(d);
    if (!InRange(d)) {
        ResultError(ctx, "Arithmetic overflow error converting expression to data type datetime.");
        return;
    }
    ResultText(ctx, FormatIsoDateTime(d));
}

void Register(sqlite3* db, const char* name, int args, void* state,
              void (*fn)(sqlite3_context*, int, sqlite3_value**), bool deterministic) {
    const int flags = SQLITE_UTF8 | (deterministic ? SQLITE_DETERMINISTIC : 0);
    if (sqlite3_create_function_v2(db, name, args, flags, state, fn, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw EDatabaseError(std::string("Cannot register the function ") + name + ": " + sqlite3_errmsg(db));
}

void RegisterFunctions(sqlite3* db, FunctionState* state) {
    RegisterDateFunctions(db, state);
    RegisterConvertFunctions(db, state);
    RegisterStringFunctions(db, state);
    RegisterArithmeticFunctions(db, state);
    RegisterCollationFunctions(db, state);
}

} // namespace velmora::db::tsql
