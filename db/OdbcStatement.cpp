// Running statements over ODBC: parameter binding, execution, every result walked, identity read-back.
#include <algorithm>

#include "db/OdbcBackend.h"
#include "db/OdbcResult.h"
#include "db/SqlLexer.h"
#include "platform/CodePage.h"
#include "platform/DateTime.h"
#include "platform/Error.h"
#include "platform/Text.h"

namespace velmora::db::odbc {

namespace {

// Texts and byte strings longer than these go as the long types (nvarchar(max) / varbinary(max)).
constexpr size_t kMaxShortText = 4000;
constexpr size_t kMaxShortBinary = 8000;

} // namespace


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
        buf.indicator = SQL_NULL_DATA;
        // A NULL for a column of known kind goes as that kind's type, as its values do: no question to the
        // server, and one statement shape whether the value is there or not.
        switch (v.nullAs) {
        case ValueKind::Integer: cType = SQL_C_SBIGINT; sqlType = SQL_BIGINT; size = 0; break;
        case ValueKind::Float: cType = SQL_C_DOUBLE; sqlType = SQL_DOUBLE; size = 15; break;
        case ValueKind::Text: cType = SQL_C_WCHAR; sqlType = SQL_WVARCHAR; size = kMaxShortText; break;
        case ValueKind::DateTime: cType = SQL_C_TYPE_TIMESTAMP; sqlType = SQL_TYPE_TIMESTAMP; size = 23; digits = 3; break;
        case ValueKind::Blob: cType = SQL_C_BINARY; sqlType = SQL_VARBINARY; size = kMaxShortBinary; break;
        case ValueKind::Null: {
            // Otherwise the type the server expects in that place when the driver can tell it; else varchar,
            // which SQL Server converts implicitly to nearly every column type.
            SQLSMALLINT dType = 0, dDigits = 0, dNullable = 0;
            SQLULEN dSize = 0;
            if (prepared && Succeeded(SQLDescribeParam(st.get(), number, &dType, &dSize, &dDigits, &dNullable)) &&
                dType != 0) {
                sqlType = dType;
                size = dSize;
                digits = dDigits;
            }
            break;
        }
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

    // SQL Server keeps SCOPE_IDENTITY() per scope, and a statement with parameters runs in a
    // scope of its own (sp_executesql), so a later batch would read NULL: the identity is read
    // in the same batch as the insert instead.
    const bool captureIdentity = sqlServer_ && platform::LowerAscii(sql::FirstWord(sql)) == "insert";
    const std::u16string text = platform::Utf8ToUtf16(captureIdentity ? sql + "\r\nSELECT SCOPE_IDENTITY()" : sql);

    // Texts without parameters (session settings among them) run directly, in the session's own scope.
    // FreeTDS, the driver that cannot describe parameters, also prepares a statement again whenever its
    // parameters are bound anew (sp_unprepare, then sp_prepexec: two requests a run); there a direct run
    // (sp_executesql) is the one request.
    const bool reuse = !params.empty() && describeParams_;
    std::unique_ptr<Statement> once;
    Statement* st = nullptr;
    if (reuse) {
        st = &PreparedFor(text);
        st->SetTimeout(StatementTimeout());
    } else {
        once = std::make_unique<Statement>(dbc_, StatementTimeout());
        st = once.get();
    }
    try {
        Run(*st, text, captureIdentity, reuse, params, result);
    } catch (const EDatabaseError& e) {
        const bool timedOut = st->TimedOut();
        NoteOutcome(false, timedOut);
        if (reuse) ForgetPrepared(text);  // a statement that failed is not trusted again
        if (timedOut && !database_.empty()) throw EDatabaseError("Database \"" + database_ + "\": " + e.what());
        throw;
    } catch (...) {
        NoteOutcome(false, false);
        if (reuse) ForgetPrepared(text);
        throw;
    }
    if (reuse) {
        SQLFreeStmt(st->get(), SQL_CLOSE);
        SQLFreeStmt(st->get(), SQL_RESET_PARAMS);  // the values bound live only for this run
    }
    NoteOutcome(true, false);
}

Statement& OdbcBackend::PreparedFor(const std::u16string& text) {
    for (auto it = prepared_.begin(); it != prepared_.end(); ++it) {
        if (it->text != text) continue;
        prepared_.splice(prepared_.begin(), prepared_, it);
        return *prepared_.front().statement;
    }
    auto statement = std::make_unique<Statement>(dbc_, StatementTimeout());
    std::u16string copy = text;
    statement->Check(SQLPrepareW(statement->get(), W(copy), static_cast<SQLINTEGER>(copy.size())),
                     "preparing the statement");
    prepared_.push_front({text, std::move(statement)});
    if (prepared_.size() > kPreparedCapacity) prepared_.pop_back();
    return *prepared_.front().statement;
}

void OdbcBackend::ForgetPrepared(const std::u16string& text) {
    prepared_.remove_if([&](const PreparedText& p) { return p.text == text; });
}

void OdbcBackend::Run(const Statement& st, const std::u16string& constText, bool captureIdentity, bool prepared,
                      const std::vector<Value>& params, ResultData* result) {
    std::u16string text = constText;  // the driver takes a non-const pointer
    std::vector<ParamBuffer> buffers(params.size());  // sized once: bound addresses must not move
    for (size_t n = 0; n < params.size(); ++n) Bind(st, static_cast<SQLUSMALLINT>(n + 1), params[n], buffers[n], prepared);

    SQLRETURN rc = prepared ? SQLExecute(st.get()) : SQLExecDirectW(st.get(), W(text), static_cast<SQLINTEGER>(text.size()));
    if (rc != SQL_NO_DATA) st.Check(rc, "running the statement");
    else if (result) result->rowsAffected = 0;  // a searched change that met no row

    // Every result is walked, so errors of later statements surface and the session is left clean.
    std::vector<ResultData> sets;
    bool haveCallerSet = false;
    for (;;) {
        if (rc != SQL_NO_DATA) {
            SQLSMALLINT columns = 0;
            st.Check(SQLNumResultCols(st.get(), &columns), "reading the result");
            if (columns == 0 && result && result->rowsAffected < 0) {
                SQLLEN count = -1;
                if (Succeeded(SQLRowCount(st.get(), &count)) && count >= 0) result->rowsAffected = count;
            }
            if (columns > 0) {
                if (captureIdentity) {
                    sets.emplace_back();
                    ReadResultSet(st, columns, sets.back());
                } else if (result && !haveCallerSet) {
                    ReadResultSet(st, columns, *result, sqlServer_);
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

int64_t OdbcBackend::LastIdentity() {
    if (sqlServer_ && haveIdentity_) return identity_;
    ResultData r;
    Execute(sqlServer_ ? "SELECT SCOPE_IDENTITY()" : "SELECT last_insert_rowid()", {}, &r);
    if (r.rows.empty() || r.rows[0].empty()) return 0;
    return ToInt64(r.rows[0][0]);
}

} // namespace velmora::db::odbc
