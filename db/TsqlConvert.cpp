// CONVERT and CAST of SQL Server on the embedded database, with the date styles tenants use.
#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "db/SqlLexer.h"
#include "db/TsqlFunctionSupport.h"
#include "platform/Text.h"

namespace velmora::db::tsql {

namespace {

size_t Utf8Length(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string Utf8Prefix(const std::string& s, size_t chars) {
    size_t count = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (count == chars) return s.substr(0, i);
            ++count;
        }
    }
    return s;
}


std::string FormatDateStyle(TDateTime d, int style) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    DateTimeParts p = DecodeDateTime(d);
    char buf[64];
    switch (style) {
    case 101: std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", p.month, p.day, p.year); break;
    case 103: std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", p.day, p.month, p.year); break;
    case 104: std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", p.day, p.month, p.year); break;
    case 105: std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", p.day, p.month, p.year); break;
    case 108: std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second); break;
    case 111: std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", p.year, p.month, p.day); break;
    case 112: std::snprintf(buf, sizeof buf, "%04d%02d%02d", p.year, p.month, p.day); break;
    case 23: std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day); break;
    case 20:
    case 120:
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                      p.second);
        break;
    case 21:
    case 121: return FormatIsoDateTime(d);
    case 126:
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour, p.minute,
                      p.second, p.millisecond);
        break;
    default: {  // 0 / 100: "Mar 21 2013  2:05PM"
        int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
        std::snprintf(buf, sizeof buf, "%s %2d %04d %2d:%02d%s", kMonths[p.month - 1], p.day, p.year, h12, p.minute,
                      p.hour < 12 ? "AM" : "PM");
        break;
    }
    }
    return buf;
}

std::string FormatMoney(double x, int style) {
    char buf[64];
    std::snprintf(buf, sizeof buf, style == 2 ? "%.4f" : "%.2f", x);
    if (style != 1) return buf;
    std::string s = buf, out;
    const size_t point = s.find('.');
    const size_t digitsStart = s[0] == '-' ? 1 : 0;
    for (size_t k = 0; k < s.size(); ++k) {
        if (k > digitsStart && k < point && (point - k) % 3 == 0) out += ',';
        out += s[k];
    }
    return out;
}

struct TypeSpec {
    std::string base;
    std::vector<std::string> args;
};

TypeSpec ParseType(const std::string& type) {
    TypeSpec t;
    size_t open = type.find('(');
    t.base = type.substr(0, open);
    if (open != std::string::npos) {
        size_t close = type.find(')', open);
        std::string inner = type.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
        size_t start = 0;
        while (start <= inner.size()) {
            size_t comma = inner.find(',', start);
            t.args.push_back(inner.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    return t;
}

bool ParseDouble(const std::string& s, double& out) {
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    while (end && *end == ' ') ++end;
    return !s.empty() && end && *end == '\0' && std::isfinite(out);
}

void ConvertFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const std::string typeText = ValueText(argv[0]);
    const TypeSpec type = ParseType(typeText);
    sqlite3_value* v = argv[1];
    int style = 0;
    if (argc > 2 && sqlite3_value_type(argv[2]) != SQLITE_NULL) style = sqlite3_value_int(argv[2]);
    const int vt = sqlite3_value_type(v);
    if (vt == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    const std::string& b = type.base;
    static const int kStyles[] = {0, 100, 101, 103, 104, 105, 108, 111, 112, 20, 120, 21, 121, 23, 126, 1, 2};
    if (std::find(std::begin(kStyles), std::end(kStyles), style) == std::end(kStyles)) {
        ResultError(ctx, "CONVERT style " + std::to_string(style) + " is not supported by the embedded database's T-SQL dialect.");
        return;
    }

    if (b == "char" || b == "varchar" || b == "nchar" || b == "nvarchar" || b == "text" || b == "ntext") {
        std::string s;
        TDateTime d = 0;
        if (vt == SQLITE_TEXT) {
            s = ValueText(v);
            if (IsStoredDateTime(s, d)) s = FormatDateStyle(d, style);
        } else if (vt == SQLITE_BLOB) {
            s.assign(static_cast<const char*>(sqlite3_value_blob(v)), static_cast<size_t>(sqlite3_value_bytes(v)));
        } else if (vt == SQLITE_FLOAT) {
            // Amounts are money: two decimals (style 0), with thousands commas (1), four decimals (2).
            s = FormatMoney(sqlite3_value_double(v), style);
        } else {
            s = ValueText(v);
        }
        if (b != "text" && b != "ntext") {
            size_t length = 30;  // CONVERT's default length
            bool explicitLength = false;
            if (!type.args.empty()) {
                if (type.args[0] == "max") length = std::string::npos;
                else { length = static_cast<size_t>(std::strtoul(type.args[0].c_str(), nullptr, 10)); explicitLength = true; }
            }
            if (length != std::string::npos) {
                s = Utf8Prefix(s, length);
                // char(n) is fixed length: SQL Server pads it with blanks.
                if ((b == "char" || b == "nchar") && explicitLength && length <= 8000)
                    s.append(length - Utf8Length(s), ' ');
            }
        }
        ResultText(ctx, s);
        return;
    }
    if (b == "int" || b == "integer" || b == "bigint" || b == "smallint" || b == "tinyint" || b == "bit") {
        int64_t x = 0;
        if (vt == SQLITE_TEXT && b == "bit") {
            std::string s = platform::LowerAscii(ValueText(v));
            if (s == "true") { sqlite3_result_int(ctx, 1); return; }
            if (s == "false") { sqlite3_result_int(ctx, 0); return; }
        }
        TDateTime d = 0;
        if (vt == SQLITE_TEXT && IsStoredDateTime(ValueText(v), d)) {
            // A date-time is its day number since 1900-01-01, from noon on the next one.
            sqlite3_result_int64(ctx, static_cast<int64_t>(std::floor(d - kSqlServerZero + 0.5)));
            return;
        }
        if (vt == SQLITE_BLOB || !IntegerArg(ctx, v, x)) {
            if (vt == SQLITE_BLOB) ResultError(ctx, "Conversion failed when converting a binary value to data type " + b + ".");
            return;
        }
        if (b == "bit") x = x != 0 ? 1 : 0;
        int64_t lo = b == "tinyint" ? 0 : b == "smallint" ? -32768 : (b == "int" || b == "integer") ? INT32_MIN : INT64_MIN;
        int64_t hi = b == "tinyint" ? 255 : b == "smallint" ? 32767 : (b == "int" || b == "integer") ? INT32_MAX : INT64_MAX;
        if (x < lo || x > hi) { ResultError(ctx, "Arithmetic overflow error converting expression to data type " + b + "."); return; }
        sqlite3_result_int64(ctx, x);
        return;
    }
    if (b == "float" || b == "real" || b == "decimal" || b == "dec" || b == "numeric" || b == "money" || b == "smallmoney") {
        double x = 0;
        if (vt == SQLITE_TEXT) {
            std::string s = ValueText(v);
            if (!ParseDouble(s, x)) {
                ResultError(ctx, "Error converting data type varchar to " + b + ".");
                return;
            }
        } else if (vt == SQLITE_BLOB) {
            ResultError(ctx, "Conversion failed when converting a binary value to data type " + b + ".");
            return;
        } else {
            x = sqlite3_value_double(v);
        }
        int scale = -1;
        if (b == "money" || b == "smallmoney") scale = 4;
        else if (b == "decimal" || b == "dec" || b == "numeric") scale = type.args.size() > 1 ? std::atoi(type.args[1].c_str()) : 0;
        if (scale >= 0 && scale <= 15) {
            double f = std::pow(10.0, scale);
            x = std::round(x * f) / f;  // half away from zero, as SQL Server rounds
            if (scale == 0 && std::fabs(x) < 9.0e15) { sqlite3_result_int64(ctx, static_cast<int64_t>(x)); return; }
        }
        sqlite3_result_double(ctx, x);
        return;
    }
    if (b == "datetime" || b == "smalldatetime" || b == "datetime2" || b == "date") {
        TDateTime d = 0;
        FunctionState* st = StateOf(ctx);
        std::string saved = st->dateFormat;
        // A style names the order of a text's day and month.
        if (style == 101) st->dateFormat = "mdy";
        else if (style == 103 || style == 104 || style == 105) st->dateFormat = "dmy";
        else if (style == 111 || style == 120 || style == 121) st->dateFormat = "ymd";
        Arg a = DateArg(ctx, v, d);
        st->dateFormat = saved;
        if (a != Arg::Ok) {
            if (a == Arg::Null) sqlite3_result_null(ctx);
            return;
        }
        if (b == "date") d = DateOf(d);
        if (b == "smalldatetime") {
            // Whole minutes; 29.998 seconds and more round up.
            const int64_t ms = DateTimeToMilliseconds(d);
            d = MillisecondsToDateTime((ms + 30002) / 60000 * 60000);
        }
        if (b == "datetime2") ResultText(ctx, FormatIsoDateTime(d));  // finer than datetime's steps
        else ResultDateTime(ctx, d);
        return;
    }
    if (b == "varbinary" || b == "binary" || b == "image") {
        if (vt == SQLITE_BLOB) {
            sqlite3_result_value(ctx, v);
        } else {
            const std::string bytes = ValueText(v);
            sqlite3_result_blob(ctx, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
        }
        return;
    }
    ResultError(ctx, "Type " + typeText + " is not a defined system type.");
}

} // namespace

void RegisterConvertFunctions(sqlite3* db, FunctionState* state) {
    Register(db, "TSQL_CONVERT", 2, state, ConvertFn);
    Register(db, "TSQL_CONVERT", 3, state, ConvertFn);
}

} // namespace velmora::db::tsql
