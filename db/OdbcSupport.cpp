// ODBC plumbing shared by the backend's files: diagnostics and small text helpers.
#include "db/OdbcSupport.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "db/SqlLexer.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Text.h"

namespace velmora::db::odbc {

using platform::Trim;

std::string Narrow(const SQLWCHAR* p, size_t n) {
    size_t len = 0;
    while (len < n && p[len] != 0) ++len;
    return platform::Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(p), len));
}

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

std::string FirstSqlState(SQLSMALLINT handleType, SQLHANDLE handle) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR text[8];
    SQLSMALLINT len = 0;
    SQLRETURN rc = SQLGetDiagRecW(handleType, handle, 1, state, &native, text, 8, &len);
    if (!Succeeded(rc)) return {};
    return Narrow(state, 5);
}

Statement::Statement(SQLHDBC dbc, int timeoutSeconds) : timeoutSeconds_(timeoutSeconds) {
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &h_))) {
        h_ = SQL_NULL_HSTMT;
        odbc::Fail(SQL_HANDLE_DBC, dbc, "allocating a statement");
    }
    SetTimeout(timeoutSeconds);
}

void Statement::SetTimeout(int timeoutSeconds) {
    timeoutSeconds_ = timeoutSeconds;
    timedOut_ = false;
    // Drivers that cannot bound a statement answer with a warning or an error; the statement still runs.
    SQLSetStmtAttrW(h_, SQL_ATTR_QUERY_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(std::max(timeoutSeconds, 1))), 0);
}

std::string CommandTimeoutText(int seconds, const std::string& driverText) {
    return "The statement was stopped after the command time-out of " + std::to_string(seconds) +
           " s (<VeriTabani><KomutZamanAsimi>): " + (driverText.empty() ? std::string("time-out expired") : driverText);
}

void Statement::Fail(const char* what) const {
    const std::string state = FirstSqlState(SQL_HANDLE_STMT, h_);
    if (state == "HYT00" || state == "HYT01") {
        std::string text = DiagnosticText(SQL_HANDLE_STMT, h_);
        SQLCancel(h_);  // the server must stop too, not only the wait for it
        timedOut_ = true;
        throw EDatabaseError(CommandTimeoutText(timeoutSeconds_, text));
    }
    odbc::Fail(SQL_HANDLE_STMT, h_, what);
}

} // namespace velmora::db::odbc
