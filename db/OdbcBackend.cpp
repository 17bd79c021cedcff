// The ODBC backend: SQL Server through the platform's driver manager (the Windows one, or unixODBC
// with FreeTDS), written against plain ODBC 3 so that it also runs over other drivers.
#include "db/DbBackend.h"
#include "db/SendReportLock.h"
#include "db/OdbcConnectionString.h"
#include "db/SqlLexer.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#ifndef _WIN32
#include <langinfo.h>
#include <locale.h>
#endif

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "platform/DateTime.h"
#include "platform/Error.h"
#include "platform/Paths.h"

namespace velmora::db {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC wide characters must be UTF-16 code units");

// SQL Server's own column types, as Microsoft's drivers and FreeTDS report them.
constexpr SQLSMALLINT kSsVariant = -150;
constexpr SQLSMALLINT kSsXml = -152;
constexpr SQLSMALLINT kSsTime2 = -154;
constexpr SQLSMALLINT kSsTimestampOffset = -155;

// Texts and byte strings longer than these go as the long types (nvarchar(max) / varbinary(max)).
constexpr size_t kMaxShortText = 4000;
constexpr size_t kMaxShortBinary = 8000;

// ---------------------------------------------------------------------------------------------
// Small text helpers

SQLWCHAR* W(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

// Text a driver wrote into a buffer: at most n units, ending early at a terminator. Lengths that
// unixODBC reports for drivers without wide functions count the driver's narrow bytes, which can
// exceed the wide characters actually written.
std::string Narrow(const SQLWCHAR* p, size_t n) {
    size_t len = 0;
    while (len < n && p[len] != 0) ++len;
    return platform::Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(p), len));
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool ContainsNoCase(const std::string& text, const std::string& part) {
    std::string t, p;
    for (char c : text) t += LowerAscii(c);
    for (char c : part) p += LowerAscii(c);
    return t.find(p) != std::string::npos;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// "cat.schema.table" with optional [..] or ".." quoting of each part.
struct QualifiedName {
    std::string catalog, schema, table;
};

QualifiedName SplitTableName(const std::string& name) {
    std::vector<std::string> parts = sql::NameParts(name);
    for (std::string& part : parts) part = Trim(part);
    QualifiedName q;
    q.table = parts.back();
    if (parts.size() >= 2) q.schema = parts[parts.size() - 2];
    if (parts.size() >= 3) q.catalog = parts[parts.size() - 3];
    return q;
}

int64_t ToInt64(const Value& v) {
    switch (v.kind) {
    case ValueKind::Integer: return v.i;
    case ValueKind::Float: return static_cast<int64_t>(std::llround(v.f));
    case ValueKind::Text: {
        std::string t = Trim(v.s);
        int64_t out = 0;
        auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
        if (ec == std::errc() && p == t.data() + t.size()) return out;
        double d = 0;
        auto [p2, ec2] = std::from_chars(t.data(), t.data() + t.size(), d);
        if (ec2 == std::errc() && p2 == t.data() + t.size()) return static_cast<int64_t>(std::llround(d));
        return 0;
    }
    default: return 0;
    }
}

// ---------------------------------------------------------------------------------------------
// Diagnostics

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The diagnostic records' message texts as the driver or server wrote them, joined by a blank.
// Warnings that precede an error (PRINT output, "changed database context") are left out when
// there is an error to report.
std::string DiagnosticText(SQLSMALLINT handleType, SQLHANDLE handle) {
    std::vector<std::string> errors, warnings;
    for (SQLSMALLINT rec = 1; rec <= 100; ++rec) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> text(1024);
        SQLSMALLINT len = 0;
        SQLRETURN rc = SQLGetDiagRecW(handleType, handle, rec, state, &native, text.data(),
                                      static_cast<SQLSMALLINT>(text.size()), &len);
        if (rc == SQL_SUCCESS_WITH_INFO && len >= static_cast<SQLSMALLINT>(text.size()) && len < 32767) {
            text.assign(static_cast<size_t>(len) + 1, 0);
            rc = SQLGetDiagRecW(handleType, handle, rec, state, &native, text.data(),
                                static_cast<SQLSMALLINT>(text.size()), &len);
        }
        if (!Succeeded(rc)) break;
        size_t n = std::min(static_cast<size_t>(std::max<SQLSMALLINT>(len, 0)), text.size() - 1);
        std::string msg = Narrow(text.data(), n);
        if (msg.empty()) continue;
        bool warning = state[0] == '0' && state[1] == '1';
        (warning ? warnings : errors).push_back(std::move(msg));
    }
    const std::vector<std::string>& chosen = errors.empty() ? warnings : errors;
    std::string out;
    for (const std::string& m : chosen) {
        if (!out.empty()) out += ' ';
        out += m;
    }
    return out;
}

[[noreturn]] void Fail(SQLSMALLINT handleType, SQLHANDLE handle, const char* what) {
    std::string text = handle ? DiagnosticText(handleType, handle) : std::string();
    if (text.empty()) text = std::string("ODBC error: ") + what + " failed";
    throw EDatabaseError(text);
}

void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, const char* what) {
    if (!Succeeded(rc)) Fail(handleType, handle, what);
}

#ifndef _WIN32
// unixODBC hands wide text to drivers that take only narrow text (SQLite's, for one) converted to
// the character set of the locale in force when the connection is made; under the "C" locale of a
// scheduled job that turns every Turkish letter beyond Latin-1 into garbage. Connecting under a
// UTF-8 character set, for this thread only, keeps text whole; Unicode drivers are unaffected.
class Utf8CharacterSetScope {
public:
    Utf8CharacterSetScope() {
        const char* codeset = nl_langinfo(CODESET);
        if (codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0)) return;
        for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
            locale_t base = duplocale(LC_GLOBAL_LOCALE);
            if (base == locale_t(0)) return;
            locale_ = newlocale(LC_CTYPE_MASK, name, base);
            if (locale_ != locale_t(0)) break;
            freelocale(base);
        }
        if (locale_ != locale_t(0)) previous_ = uselocale(locale_);
    }
    ~Utf8CharacterSetScope() {
        if (locale_ == locale_t(0)) return;
        uselocale(previous_);
        freelocale(locale_);
    }
    Utf8CharacterSetScope(const Utf8CharacterSetScope&) = delete;
    Utf8CharacterSetScope& operator=(const Utf8CharacterSetScope&) = delete;

private:
    locale_t locale_ = locale_t(0);
    locale_t previous_ = locale_t(0);
};
#endif

// ---------------------------------------------------------------------------------------------
// Statements

class Statement {
public:
    explicit Statement(SQLHDBC dbc) {
        if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h_))) {
            h_ = SQL_NULL_HSTMT;
            db::Fail(SQL_HANDLE_DBC, dbc, "allocating a statement");
        }
    }
    ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, h_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    SQLHSTMT get() const { return h_; }
    void Check(SQLRETURN rc, const char* what) const { db::Check(rc, SQL_HANDLE_STMT, h_, what); }

private:
    SQLHSTMT h_ = SQL_NULL_HSTMT;
};

// How a column is read, chosen from its SQL type.
enum class Fetch { Integer, Double, Decimal, Timestamp, Time, Text, Binary };

struct ColumnPlan {
    Fetch fetch = Fetch::Text;
    ValueKind declared = ValueKind::Null;
};

ColumnPlan PlanFor(SQLSMALLINT type) {
    switch (type) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        return {Fetch::Integer, ValueKind::Integer};
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return {Fetch::Decimal, ValueKind::Float};
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return {Fetch::Double, ValueKind::Float};
    case SQL_DATE:  // also SQL_DATETIME, the verbose type of all date-time kinds
    case SQL_TIMESTAMP:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case kSsTimestampOffset:
        return {Fetch::Timestamp, ValueKind::DateTime};
    case SQL_TIME:
    case SQL_TYPE_TIME:
    case kSsTime2:
        return {Fetch::Time, ValueKind::DateTime};
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_GUID:
    case kSsXml:
        return {Fetch::Text, ValueKind::Text};
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
        return {Fetch::Binary, ValueKind::Blob};
    case kSsVariant:
    default:
        return {Fetch::Text, ValueKind::Null};  // read as text; the kind is not known in advance
    }
}

// Reads text and bytes in chunks, so long values of any length arrive whole.
class CellReader {
public:
    explicit CellReader(const Statement& st) : st_(st), chunk_(16384) {}

    Value Read(SQLUSMALLINT col, const ColumnPlan& plan) {
        switch (plan.fetch) {
        case Fetch::Integer: {
            SQLBIGINT v = 0;
            SQLLEN ind = 0;
            st_.Check(SQLGetData(st_.get(), col, SQL_C_SBIGINT, &v, sizeof v, &ind), "reading a column");
            return ind == SQL_NULL_DATA ? Value::Null() : Value::Integer(static_cast<int64_t>(v));
        }
        case Fetch::Double: {
            double v = 0;
            SQLLEN ind = 0;
            st_.Check(SQLGetData(st_.get(), col, SQL_C_DOUBLE, &v, sizeof v, &ind), "reading a column");
            return ind == SQL_NULL_DATA ? Value::Null() : Value::Float(v);
        }
        case Fetch::Decimal: {
            // Decimals come as text: converting the exact digits once gives the nearest double,
            // where a driver-side conversion may round twice.
            bool isNull = false;
            std::string t = Trim(ReadText(col, isNull));
            if (isNull) return Value::Null();
            if (!t.empty() && t[0] == '+') t.erase(0, 1);
            double d = 0;
            auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), d);
            if (ec == std::errc() && p == t.data() + t.size() && !t.empty()) return Value::Float(d);
            return Value::Text(t);  // a value that is no number (lenient databases allow it)
        }
        case Fetch::Timestamp: {
            SQL_TIMESTAMP_STRUCT ts{};
            SQLLEN ind = 0;
            st_.Check(SQLGetData(st_.get(), col, SQL_C_TYPE_TIMESTAMP, &ts, sizeof ts, &ind), "reading a column");
            if (ind == SQL_NULL_DATA) return Value::Null();
            DateTimeParts parts;
            parts.year = ts.year;
            parts.month = ts.month;
            parts.day = ts.day;
            parts.hour = ts.hour;
            parts.minute = ts.minute;
            parts.second = ts.second;
            parts.millisecond = static_cast<int>(ts.fraction / 1000000);  // nanoseconds, cut to milliseconds
            return Value::DateTime(EncodeChecked(parts));
        }
        case Fetch::Time: {
            // As text: the time-of-day structure has no fractional seconds.
            bool isNull = false;
            std::string t = Trim(ReadText(col, isNull));
            if (isNull) return Value::Null();
            int h = 0, m = 0, s = 0, ms = 0;
            if (ParseTimeOfDay(t, h, m, s, ms)) return Value::DateTime(EncodeTime(h, m, s, ms));
            return Value::Text(t);
        }
        case Fetch::Text: {
            bool isNull = false;
            std::string t = ReadText(col, isNull);
            return isNull ? Value::Null() : Value::Text(std::move(t));
        }
        case Fetch::Binary: {
            bool isNull = false;
            std::string b = ReadBinary(col, isNull);
            return isNull ? Value::Null() : Value::Blob(std::move(b));
        }
        }
        return Value::Null();
    }

private:
    std::string ReadText(SQLUSMALLINT col, bool& isNull) {
        std::u16string acc;
        const size_t capacity = chunk_.size() / sizeof(SQLWCHAR) - 1;  // room for the terminator
        for (;;) {
            SQLLEN ind = 0;
            SQLRETURN rc = SQLGetData(st_.get(), col, SQL_C_WCHAR, chunk_.data(), static_cast<SQLLEN>(chunk_.size()), &ind);
            if (rc == SQL_NO_DATA) break;
            st_.Check(rc, "reading a column");
            if (ind == SQL_NULL_DATA) { isNull = true; return {}; }
            bool more = rc == SQL_SUCCESS_WITH_INFO &&
                        (ind == SQL_NO_TOTAL || static_cast<size_t>(ind) / sizeof(SQLWCHAR) > capacity);
            size_t n = more ? capacity : std::min(static_cast<size_t>(ind) / sizeof(SQLWCHAR), capacity);
            acc.append(reinterpret_cast<const char16_t*>(chunk_.data()), n);
            if (!more) break;
        }
        return platform::Utf16ToUtf8(acc);
    }

    std::string ReadBinary(SQLUSMALLINT col, bool& isNull) {
        std::string acc;
        for (;;) {
            SQLLEN ind = 0;
            SQLRETURN rc = SQLGetData(st_.get(), col, SQL_C_BINARY, chunk_.data(), static_cast<SQLLEN>(chunk_.size()), &ind);
            if (rc == SQL_NO_DATA) break;
            st_.Check(rc, "reading a column");
            if (ind == SQL_NULL_DATA) { isNull = true; return {}; }
            bool more = rc == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || static_cast<size_t>(ind) > chunk_.size());
            size_t n = more ? chunk_.size() : std::min(static_cast<size_t>(ind), chunk_.size());
            acc.append(chunk_.data(), n);
            if (!more) break;
        }
        return acc;
    }

    static bool ParseTimeOfDay(const std::string& t, int& h, int& m, int& s, int& ms) {
        // "HH:MM[:SS[.fffffff]]"
        auto number = [&](size_t& i, size_t maxDigits, int& out) {
            size_t start = i;
            out = 0;
            while (i < t.size() && i - start < maxDigits && t[i] >= '0' && t[i] <= '9') out = out * 10 + (t[i++] - '0');
            return i > start;
        };
        size_t i = 0;
        s = ms = 0;
        if (!number(i, 2, h) || i >= t.size() || t[i++] != ':' || !number(i, 2, m)) return false;
        if (i < t.size() && t[i] == ':') {
            ++i;
            if (!number(i, 2, s)) return false;
            if (i < t.size() && t[i] == '.') {
                ++i;
                int scale = 100;
                size_t start = i;
                while (i < t.size() && t[i] >= '0' && t[i] <= '9') {
                    if (scale > 0) { ms += (t[i] - '0') * scale; scale /= 10; }
                    ++i;
                }
                if (i == start) return false;
            }
        }
        return i == t.size() && h < 24 && m < 60 && s < 60;
    }

    static TDateTime EncodeChecked(const DateTimeParts& p) {
        try {
            return EncodeDateTime(p);
        } catch (const Error& e) {
            throw EDatabaseError(std::string("Invalid date-time value from the database: ") + e.what());
        }
    }

    const Statement& st_;
    std::vector<char> chunk_;
};

std::string ColumnName(const Statement& st, SQLUSMALLINT col, SQLSMALLINT& type) {
    std::vector<SQLWCHAR> name(256);
    SQLSMALLINT nameLen = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    st.Check(SQLDescribeColW(st.get(), col, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLen, &type,
                             &size, &digits, &nullable),
             "describing a column");
    if (nameLen >= static_cast<SQLSMALLINT>(name.size())) {
        name.assign(static_cast<size_t>(nameLen) + 1, 0);
        st.Check(SQLDescribeColW(st.get(), col, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLen,
                                 &type, &size, &digits, &nullable),
                 "describing a column");
    }
    return Narrow(name.data(), std::min(static_cast<size_t>(std::max<SQLSMALLINT>(nameLen, 0)), name.size() - 1));
}

// Reads the current result set completely: its columns and every row.
void ReadResultSet(const Statement& st, SQLSMALLINT columnCount, ResultData& out) {
    out.hasResultSet = true;
    std::vector<ColumnPlan> plans;
    for (SQLSMALLINT c = 1; c <= columnCount; ++c) {
        SQLSMALLINT type = 0;
        ColumnDesc desc;
        desc.name = ColumnName(st, static_cast<SQLUSMALLINT>(c), type);
        ColumnPlan plan = PlanFor(type);
        desc.declared = plan.declared;
        out.columns.push_back(std::move(desc));
        plans.push_back(plan);
    }
    CellReader reader(st);
    for (;;) {
        SQLRETURN rc = SQLFetch(st.get());
        if (rc == SQL_NO_DATA) break;
        st.Check(rc, "fetching a row");
        std::vector<Value> row;
        row.reserve(plans.size());
        for (size_t c = 0; c < plans.size(); ++c) row.push_back(reader.Read(static_cast<SQLUSMALLINT>(c + 1), plans[c]));
        out.rows.push_back(std::move(row));
    }
}

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

// ---------------------------------------------------------------------------------------------

class OdbcBackend final : public IDbBackend {
public:
    explicit OdbcBackend(const std::string& connectionString) {
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
    void Bind(const Statement& st, SQLUSMALLINT number, const Value& v, ParamBuffer& buf, bool prepared);
    // The rows of a catalog function's result restricted to the named table.
    std::vector<std::vector<Value>> CatalogRows(ResultData& data, const QualifiedName& name) const;
    // Runs a catalog function (SQLPrimaryKeysW, SQLColumnsW) for the table and returns its rows.
    template <typename CatalogCall>
    std::vector<std::vector<Value>> CatalogQuery(const QualifiedName& name, const char* what, CatalogCall call);

    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    bool connected_ = false;
    bool sqlServer_ = false;
    bool describeParams_ = false;
    bool haveIdentity_ = false;
    int64_t identity_ = 0;
    bool sendReportLocked_ = false;
};

void OdbcBackend::Connect(const std::string& connectionString) {
#ifndef _WIN32
    Utf8CharacterSetScope utf8;  // the driver manager settles the conversion while the handles are made
#endif
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
        env_ = SQL_NULL_HENV;
        throw EDatabaseError("ODBC error: the driver manager could not be initialised");
    }
    Check(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(SQL_OV_ODBC3)), 0),
          SQL_HANDLE_ENV, env_, "selecting ODBC 3");
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
        dbc_ = SQL_NULL_HDBC;
        Fail(SQL_HANDLE_ENV, env_, "allocating a connection");
    }
    // An unreachable server must end the attempt rather than hang the run; drivers that lack
    // the setting simply ignore it.
    SQLSetConnectAttrW(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(30)), 0);

    std::u16string text = platform::Utf8ToUtf16(connectionString);
    std::vector<SQLWCHAR> completed(1024);
    SQLSMALLINT completedLen = 0;
    SQLRETURN rc = SQLDriverConnectW(dbc_, nullptr, W(text), static_cast<SQLSMALLINT>(text.size()), completed.data(),
                                     static_cast<SQLSMALLINT>(completed.size()), &completedLen, SQL_DRIVER_NOPROMPT);
    Check(rc, SQL_HANDLE_DBC, dbc_, "connecting");
    connected_ = true;

    SQLWCHAR dbms[256] = {};
    SQLSMALLINT dbmsLen = 0;
    if (Succeeded(SQLGetInfoW(dbc_, SQL_DBMS_NAME, dbms, static_cast<SQLSMALLINT>(sizeof dbms), &dbmsLen))) {
        size_t n = std::min(static_cast<size_t>(std::max<SQLSMALLINT>(dbmsLen, 0)) / sizeof(SQLWCHAR),
                            sizeof dbms / sizeof dbms[0] - 1);
        sqlServer_ = ContainsNoCase(Narrow(dbms, n), "SQL Server");
    }
    SQLUSMALLINT supported = SQL_FALSE;
    if (Succeeded(SQLGetFunctions(dbc_, SQL_API_SQLDESCRIBEPARAM, &supported))) describeParams_ = supported == SQL_TRUE;
}

void OdbcBackend::Release() {
    if (dbc_ != SQL_NULL_HDBC) {
        if (connected_) SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        dbc_ = SQL_NULL_HDBC;
    }
    if (env_ != SQL_NULL_HENV) {
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
        env_ = SQL_NULL_HENV;
    }
    connected_ = false;
}

void OdbcBackend::Bind(const Statement& st, SQLUSMALLINT number, const Value& v, ParamBuffer& buf, bool prepared) {
    SQLSMALLINT cType = SQL_C_CHAR, sqlType = SQL_VARCHAR, digits = 0;
    SQLULEN size = 1;
    SQLPOINTER data = buf.empty;
    SQLLEN length = 0;
    switch (v.kind) {
    case ValueKind::Integer:
        buf.integer = static_cast<SQLBIGINT>(v.i);
        cType = SQL_C_SBIGINT;
        sqlType = SQL_BIGINT;
        size = 0;
        data = &buf.integer;
        buf.indicator = 0;
        break;
    case ValueKind::Float:
        buf.real = v.f;
        cType = SQL_C_DOUBLE;
        sqlType = SQL_DOUBLE;
        size = 15;
        data = &buf.real;
        buf.indicator = 0;
        break;
    case ValueKind::Text:
        buf.text = platform::Utf8ToUtf16(v.s);
        cType = SQL_C_WCHAR;
        // A fixed declared length for short texts lets the server reuse one plan for them all.
        sqlType = buf.text.size() > kMaxShortText ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
        size = buf.text.size() > kMaxShortText ? buf.text.size() : kMaxShortText;
        data = buf.text.data();
        length = static_cast<SQLLEN>((buf.text.size() + 1) * sizeof(char16_t));
        buf.indicator = static_cast<SQLLEN>(buf.text.size() * sizeof(char16_t));
        break;
    case ValueKind::DateTime: {
        DateTimeParts p = DecodeDateTime(v.f);
        buf.timestamp.year = static_cast<SQLSMALLINT>(p.year);
        buf.timestamp.month = static_cast<SQLUSMALLINT>(p.month);
        buf.timestamp.day = static_cast<SQLUSMALLINT>(p.day);
        buf.timestamp.hour = static_cast<SQLUSMALLINT>(p.hour);
        buf.timestamp.minute = static_cast<SQLUSMALLINT>(p.minute);
        buf.timestamp.second = static_cast<SQLUSMALLINT>(p.second);
        buf.timestamp.fraction = static_cast<SQLUINTEGER>(p.millisecond) * 1000000u;
        cType = SQL_C_TYPE_TIMESTAMP;
        sqlType = SQL_TYPE_TIMESTAMP;
        size = 23;  // "yyyy-mm-dd hh:mm:ss.fff"
        digits = 3;
        data = &buf.timestamp;
        buf.indicator = 0;
        break;
    }
    case ValueKind::Blob:
        buf.bytes = v.s;
        cType = SQL_C_BINARY;
        sqlType = buf.bytes.size() > kMaxShortBinary ? SQL_LONGVARBINARY : SQL_VARBINARY;
        size = buf.bytes.size() > kMaxShortBinary ? buf.bytes.size() : kMaxShortBinary;
        data = buf.bytes.empty() ? static_cast<SQLPOINTER>(buf.empty) : static_cast<SQLPOINTER>(buf.bytes.data());
        length = static_cast<SQLLEN>(buf.bytes.size());
        buf.indicator = length;
        break;
    case ValueKind::Null: {
        // A NULL takes the type the server expects in that place when the driver can tell it;
        // otherwise varchar, which SQL Server converts implicitly to nearly every column type.
        buf.indicator = SQL_NULL_DATA;
        SQLSMALLINT dType = 0, dDigits = 0, dNullable = 0;
        SQLULEN dSize = 0;
        if (prepared && Succeeded(SQLDescribeParam(st.get(), number, &dType, &dSize, &dDigits, &dNullable)) && dType != 0) {
            sqlType = dType;
            size = dSize;
            digits = dDigits;
        }
        break;
    }
    }
    st.Check(SQLBindParameter(st.get(), number, SQL_PARAM_INPUT, cType, sqlType, size, digits, data, length,
                              &buf.indicator),
             "binding a parameter");
}

void OdbcBackend::Execute(const std::string& sql, const std::vector<Value>& params, ResultData* result) {
    if (result) *result = ResultData{};
    Statement st(dbc_);

    // SQL Server keeps SCOPE_IDENTITY() per scope, and a statement with parameters runs in a
    // scope of its own (sp_executesql), so a later batch would read NULL: the identity is read
    // in the same batch as the insert instead.
    bool captureIdentity = sqlServer_ && sql::LowerAscii(sql::FirstWord(sql)) == "insert";
    std::u16string text = platform::Utf8ToUtf16(captureIdentity ? sql + "\r\nSELECT SCOPE_IDENTITY()" : sql);

    bool hasNull = std::any_of(params.begin(), params.end(), [](const Value& v) { return v.IsNull(); });
    bool prepare = hasNull && describeParams_;
    if (prepare) st.Check(SQLPrepareW(st.get(), W(text), static_cast<SQLINTEGER>(text.size())), "preparing the statement");

    std::vector<ParamBuffer> buffers(params.size());  // sized once: bound addresses must not move
    for (size_t n = 0; n < params.size(); ++n) Bind(st, static_cast<SQLUSMALLINT>(n + 1), params[n], buffers[n], prepare);

    SQLRETURN rc = prepare ? SQLExecute(st.get()) : SQLExecDirectW(st.get(), W(text), static_cast<SQLINTEGER>(text.size()));
    if (rc != SQL_NO_DATA) st.Check(rc, "running the statement");

    // Every result is walked, so errors of later statements surface and the session is left clean.
    std::vector<ResultData> sets;
    bool haveCallerSet = false;
    for (;;) {
        if (rc != SQL_NO_DATA) {
            SQLSMALLINT columns = 0;
            st.Check(SQLNumResultCols(st.get(), &columns), "reading the result");
            if (columns > 0) {
                if (captureIdentity) {
                    sets.emplace_back();
                    ReadResultSet(st, columns, sets.back());
                } else if (result && !haveCallerSet) {
                    ReadResultSet(st, columns, *result);
                    haveCallerSet = true;
                }
            }
        }
        rc = SQLMoreResults(st.get());
        if (rc == SQL_NO_DATA) break;
        st.Check(rc, "reading the next result");
    }

    if (captureIdentity && !sets.empty()) {
        // The appended SELECT ran last; results before it belong to the caller.
        const ResultData& id = sets.back();
        identity_ = !id.rows.empty() && !id.rows[0].empty() ? ToInt64(id.rows[0][0]) : 0;
        haveIdentity_ = true;
        if (result && sets.size() > 1) *result = std::move(sets.front());
    }
}

bool OdbcBackend::TryLockSendReport() {
    if (sendReportLocked_) return true;
    if (!sqlServer_) throw EDatabaseError("This ODBC data source offers no application lock to serve a tenant alone");
    ResultData r;
    Execute(kAcquireSendReportLockSql, {}, &r);
    if (r.rows.empty() || r.rows[0].empty() || r.rows[0][0].IsNull())
        throw EDatabaseError("sp_getapplock gave no result");
    const int64_t code = ToInt64(r.rows[0][0]);
    if (code == -999) throw EDatabaseError("sp_getapplock refused its parameters (-999)");
    if (code < 0) return false;
    sendReportLocked_ = true;
    return true;
}

void OdbcBackend::UnlockSendReport() {
    if (!sendReportLocked_) return;
    sendReportLocked_ = false;
    Execute(kReleaseSendReportLockSql, {}, nullptr);
}

int64_t OdbcBackend::LastIdentity() {
    if (sqlServer_ && haveIdentity_) return identity_;
    ResultData r;
    Execute(sqlServer_ ? "SELECT SCOPE_IDENTITY()" : "SELECT last_insert_rowid()", {}, &r);
    if (r.rows.empty() || r.rows[0].empty()) return 0;
    return ToInt64(r.rows[0][0]);
}

std::vector<std::vector<Value>> OdbcBackend::CatalogRows(ResultData& data, const QualifiedName& name) const {
    // Catalog results: TABLE_CAT, TABLE_SCHEM, TABLE_NAME, ... The table argument of SQLColumns
    // is a search pattern ('_' matches any letter), and without a schema every schema answers,
    // so keep the exact table of one schema: the one named, else "dbo", else the first seen.
    std::vector<std::vector<Value>> rows;
    std::string schema = name.schema;
    auto text = [](const std::vector<Value>& row, size_t i) { return i < row.size() && row[i].kind == ValueKind::Text ? row[i].s : std::string(); };
    if (schema.empty()) {
        bool first = true;
        for (const auto& row : data.rows) {
            if (!EqualsNoCase(text(row, 2), name.table)) continue;
            std::string s = text(row, 1);
            if (first || EqualsNoCase(s, "dbo")) schema = s;
            first = false;
            if (EqualsNoCase(s, "dbo")) break;
        }
    }
    for (auto& row : data.rows) {
        if (!EqualsNoCase(text(row, 2), name.table)) continue;
        std::string rowSchema = text(row, 1);
        if (!schema.empty() && !rowSchema.empty() && !EqualsNoCase(rowSchema, schema)) continue;  // drivers without schemas report none
        rows.push_back(std::move(row));
    }
    return rows;
}

template <typename CatalogCall>
std::vector<std::vector<Value>> OdbcBackend::CatalogQuery(const QualifiedName& name, const char* what, CatalogCall call) {
    std::u16string catalog = platform::Utf8ToUtf16(name.catalog);
    std::u16string schema = platform::Utf8ToUtf16(name.schema);
    std::u16string tableW = platform::Utf8ToUtf16(name.table);
    ResultData data;
    {
        Statement st(dbc_);
        st.Check(call(st.get(), catalog.empty() ? nullptr : W(catalog), static_cast<SQLSMALLINT>(catalog.size()),
                      schema.empty() ? nullptr : W(schema), static_cast<SQLSMALLINT>(schema.size()), W(tableW),
                      static_cast<SQLSMALLINT>(tableW.size())),
                 what);
        SQLSMALLINT columns = 0;
        st.Check(SQLNumResultCols(st.get(), &columns), what);
        if (columns > 0) ReadResultSet(st, columns, data);
    }
    return CatalogRows(data, name);
}

std::string OdbcBackend::KeyColumn(const std::string& table) {
    if (sqlServer_) {
        ResultData r;
        Execute("SELECT name FROM sys.identity_columns WHERE object_id = OBJECT_ID(?)", {Value::Text(table)}, &r);
        if (!r.rows.empty() && !r.rows[0].empty() && r.rows[0][0].kind == ValueKind::Text) return r.rows[0][0].s;
    }
    QualifiedName name = SplitTableName(table);
    std::vector<std::vector<Value>> rows =
        CatalogQuery(name, "reading the primary key", [](SQLHSTMT st, SQLWCHAR* c, SQLSMALLINT cn, SQLWCHAR* s, SQLSMALLINT sn,
                                                         SQLWCHAR* t, SQLSMALLINT tn) {
            return SQLPrimaryKeysW(st, c, cn, s, sn, t, tn);
        });
    // A key of several columns cannot identify a row by one of them: updating by a part of it
    // would change other rows too.
    if (rows.size() != 1 || rows[0].size() < 4 || rows[0][3].kind != ValueKind::Text) return {};
    return rows[0][3].s;
}

std::vector<std::string> OdbcBackend::TableColumns(const std::string& table) {
    QualifiedName name = SplitTableName(table);
    std::vector<std::vector<Value>> rows =
        CatalogQuery(name, "reading the table's columns", [](SQLHSTMT st, SQLWCHAR* c, SQLSMALLINT cn, SQLWCHAR* s,
                                                             SQLSMALLINT sn, SQLWCHAR* t, SQLSMALLINT tn) {
            return SQLColumnsW(st, c, cn, s, sn, t, tn, nullptr, 0);
        });
    // COLUMN_NAME is the 4th column, ORDINAL_POSITION the 17th.
    std::vector<std::pair<int64_t, std::string>> ordered;
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[i];
        if (row.size() < 4 || row[3].kind != ValueKind::Text) continue;
        int64_t position = row.size() >= 17 && !row[16].IsNull() ? ToInt64(row[16]) : static_cast<int64_t>(i + 1);
        ordered.emplace_back(position, row[3].s);
    }
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> out;
    for (auto& [position, column] : ordered) out.push_back(std::move(column));
    return out;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Connection strings

std::string QuoteOdbcValue(const std::string& value) {
    bool needsBraces = value.find_first_of(";{}") != std::string::npos ||
                       (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back())));
    if (!needsBraces) return value;
    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    out += '}';
    return out;
}

std::string QuoteFreeTdsValue(const std::string& value) {
    bool needsBraces = value.find_first_of(";{}") != std::string::npos ||
                       (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back())));
    if (!needsBraces) return value;
    // FreeTDS ends a braced value at the first '}' followed by ';' or by the end of the text and
    // keeps doubled braces doubled, so a value is braced as written; one holding "};" cannot be
    // carried at all.
    if (value.find("};") != std::string::npos)
        throw EDatabaseError("The FreeTDS driver cannot be given a user name, password or database name containing \"};\"");
    return "{" + value + "}";
}

SqlServerAddress ParseSqlServerAddress(const std::string& server) {
    std::string s = Trim(server);
    if (s.size() >= 4 && EqualsNoCase(s.substr(0, 4), "tcp:")) s = Trim(s.substr(4));
    SqlServerAddress a;
    size_t comma = s.find(',');
    if (comma != std::string::npos) {
        a.port = Trim(s.substr(comma + 1));
        s = Trim(s.substr(0, comma));
        bool digits = !a.port.empty() && a.port.size() <= 5 &&
                      std::all_of(a.port.begin(), a.port.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || std::stoi(a.port) < 1 || std::stoi(a.port) > 65535)
            throw EDatabaseError("Invalid port in the SQL Server name \"" + server + "\"");
    }
    size_t slash = s.find('\\');
    if (slash != std::string::npos) {
        a.instance = Trim(s.substr(slash + 1));
        s = Trim(s.substr(0, slash));
    }
    a.host = s;
    if (a.host.empty()) throw EDatabaseError("No SQL Server host in the server name \"" + server + "\"");
    return a;
}

std::string BuildSqlServerConnectionString(const ConnectParams& params, OdbcDriverFamily family,
                                           const std::string& driverName) {
    std::string driver = "{";
    for (char c : driverName) {
        driver += c;
        if (c == '}') driver += '}';
    }
    driver += '}';
    auto quote = family == OdbcDriverFamily::FreeTds ? QuoteFreeTdsValue : QuoteOdbcValue;
    std::string login = ";DATABASE=" + quote(params.database) + ";UID=" + quote(params.username) +
                        ";PWD=" + quote(params.password);
    if (family == OdbcDriverFamily::Microsoft) {
        // Microsoft's drivers read "host\instance" and "host,port" themselves.
        return "DRIVER=" + driver + ";SERVER=" + QuoteOdbcValue(Trim(params.server)) + login;
    }
    SqlServerAddress a = ParseSqlServerAddress(params.server);
    std::string host = a.host;
    if (host == "." || EqualsNoCase(host, "(local)")) host = "localhost";  // Windows spellings of this machine
    std::string server;
    if (!a.port.empty()) server = "SERVER=" + QuoteFreeTdsValue(host) + ";PORT=" + a.port;
    else if (!a.instance.empty()) server = "SERVER=" + QuoteFreeTdsValue(host + "\\" + a.instance);  // port from the browser service
    else server = "SERVER=" + QuoteFreeTdsValue(host) + ";PORT=1433";
    return "DRIVER=" + driver + ";" + server + login + ";TDS_Version=7.4;ClientCharset=UTF-8";
}

std::string SqlServerConnectionString(const ConnectParams& params) {
    // VELMORA_ODBC_DRIVER names the ODBC driver to use in place of this platform's default.
    std::string driver = Trim(platform::GetEnv("VELMORA_ODBC_DRIVER"));
#ifdef _WIN32
    if (driver.empty()) driver = "SQL Server";
#else
    if (driver.empty()) driver = "FreeTDS";
#endif
    OdbcDriverFamily family = ContainsNoCase(driver, "freetds") || ContainsNoCase(driver, "libtdsodbc")
                                  ? OdbcDriverFamily::FreeTds
                                  : OdbcDriverFamily::Microsoft;
    return BuildSqlServerConnectionString(params, family, driver);
}

std::unique_ptr<IDbBackend> OpenOdbcBackend(const std::string& connectionString) {
    return std::make_unique<OdbcBackend>(connectionString);
}

std::unique_ptr<IDbBackend> OpenSqlServerBackend(const ConnectParams& params) {
    return OpenOdbcBackend(SqlServerConnectionString(params));
}

} // namespace velmora::db
