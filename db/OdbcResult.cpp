// Reading ODBC results: column descriptions, typed cells read in chunks, whole result sets.
#include "db/OdbcResult.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <vector>

#include "platform/CodePage.h"
#include "platform/DateTime.h"
#include "platform/Error.h"
#include "platform/Text.h"

namespace velmora::db::odbc {

using platform::EqualsNoCase;
using platform::Trim;

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

namespace {

bool ParseTimeOfDay(const std::string& t, int& h, int& m, int& s, int& ms) {
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

} // namespace

bool ParseDateTimeText(const std::string& text, TDateTime& out) {
    std::string t = Trim(text);
    int h = 0, m = 0, s = 0, ms = 0;
    if (t.size() >= 5 && t[2] == ':') {
        if (!ParseTimeOfDay(t, h, m, s, ms)) return false;
        out = EncodeTime(h, m, s, ms);
        return true;
    }
    // datetimeoffset: "yyyy-mm-dd hh:mm:ss[.f] +hh:mm"; the value is kept in its own offset's local time.
    if (t.size() > 26) {
        size_t sign = t.size() - 6;
        if ((t[sign] == '+' || t[sign] == '-') && t[sign + 3] == ':') t = Trim(t.substr(0, sign));
    }
    return TryParseIsoDateTime(t, out);
}

namespace {

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
        case Fetch::DateTimeText: {
            bool isNull = false;
            std::string t = Trim(ReadText(col, isNull));
            if (isNull) return Value::Null();
            TDateTime d = 0;
            if (ParseDateTimeText(t, d)) return Value::DateTime(d);
            return Value::Text(t);
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

} // namespace

// The server's name of the column's type ("datetime2"); empty when the driver does not say.
std::string TypeName(const Statement& st, SQLUSMALLINT col) {
    SQLWCHAR name[64] = {};
    SQLSMALLINT len = 0;
    if (!Succeeded(SQLColAttributeW(st.get(), col, SQL_DESC_TYPE_NAME, name, sizeof name, &len, nullptr))) return {};
    size_t n = std::min(static_cast<size_t>(std::max<SQLSMALLINT>(len, 0)) / sizeof(SQLWCHAR), sizeof name / sizeof name[0] - 1);
    return Narrow(name, n);
}

ColumnPlan PlanFor(SQLSMALLINT type, const std::string& typeName) {
    ColumnPlan plan = PlanFor(type);
    if (plan.fetch != Fetch::Text) return plan;
    for (const char* name : {"date", "time", "datetime2", "datetimeoffset"})
        if (EqualsNoCase(Trim(typeName), name)) return {Fetch::DateTimeText, ValueKind::DateTime};
    return plan;
}

// Reads the current result set completely: its columns and every row.
std::string SqlServerCompareAs(SQLSMALLINT type) {
    switch (type) {
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
        return "nvarchar(max)";  // text, ntext: '=' is refused
    case SQL_LONGVARBINARY:
        return "varbinary(max)";  // image
    case SQL_TIME:
    case SQL_TYPE_TIME:
    case kSsTime2:
        return "time";  // a date-time value does not compare with a time column
    default:
        return {};
    }
}

void ReadResultSet(const Statement& st, SQLSMALLINT columnCount, ResultData& out, bool sqlServer) {
    out.hasResultSet = true;
    std::vector<ColumnPlan> plans;
    for (SQLSMALLINT c = 1; c <= columnCount; ++c) {
        SQLSMALLINT type = 0;
        ColumnDesc desc;
        desc.name = ColumnName(st, static_cast<SQLUSMALLINT>(c), type);
        ColumnPlan plan = PlanFor(type);
        if (plan.fetch == Fetch::Text && plan.declared == ValueKind::Text)
            plan = PlanFor(type, TypeName(st, static_cast<SQLUSMALLINT>(c)));
        desc.declared = plan.declared;
        if (sqlServer) desc.compareAs = SqlServerCompareAs(type);
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

} // namespace velmora::db::odbc
