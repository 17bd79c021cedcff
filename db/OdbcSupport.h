#pragma once
// ODBC plumbing shared by the backend's files: statement handles, diagnostics and small text helpers.
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <string>
#include <vector>

#include "db/DbValue.h"

namespace velmora::db::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "ODBC wide characters must be UTF-16 code units");

// SQL Server's own column types, as Microsoft's drivers and FreeTDS report them.
constexpr SQLSMALLINT kSsVariant = -150;
constexpr SQLSMALLINT kSsXml = -152;
constexpr SQLSMALLINT kSsTime2 = -154;
constexpr SQLSMALLINT kSsTimestampOffset = -155;

inline SQLWCHAR* W(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

// Text a driver wrote into a buffer: at most n units, ending early at a terminator. Lengths that
// unixODBC reports for drivers without wide functions count the driver's narrow bytes, which can
// exceed the wide characters actually written.
std::string Narrow(const SQLWCHAR* p, size_t n);

int64_t ToInt64(const Value& v);

// "cat.schema.table" with optional [..] or ".." quoting of each part.
struct QualifiedName {
    std::string catalog, schema, table;
};
QualifiedName SplitTableName(const std::string& name);

inline bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The diagnostic records' message texts as the driver or server wrote them, joined by a blank.
// Warnings that precede an error (PRINT output, "changed database context") are left out when
// there is an error to report.
std::string DiagnosticText(SQLSMALLINT handleType, SQLHANDLE handle);
// The SQLSTATE of the first diagnostic record, empty when there is none.
std::string FirstSqlState(SQLSMALLINT handleType, SQLHANDLE handle);
[[noreturn]] void Fail(SQLSMALLINT handleType, SQLHANDLE handle, const char* what);
void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, const char* what);

// A statement handle whose every request is bounded by the query time-out; the driver cancels a
// request when it expires, and the failure then says so.
class Statement {
public:
    Statement(SQLHDBC dbc, int timeoutSeconds);
    ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, h_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    SQLHSTMT get() const { return h_; }
    void Check(SQLRETURN rc, const char* what) const {
        if (!Succeeded(rc)) Fail(what);
    }
    [[noreturn]] void Fail(const char* what) const;
    bool TimedOut() const { return timedOut_; }
    // A new query time-out for the next execution of a statement kept for reuse.
    void SetTimeout(int timeoutSeconds);

private:
    SQLHSTMT h_ = SQL_NULL_HSTMT;
    int timeoutSeconds_;
    mutable bool timedOut_ = false;
};

// The text of a statement stopped by the command time-out.
std::string CommandTimeoutText(int seconds, const std::string& driverText);

} // namespace velmora::db::odbc
