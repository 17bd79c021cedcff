// The ODBC backend's session: SQL Server through the platform's driver manager (the Windows one, or
// unixODBC with FreeTDS), written against plain ODBC 3 so that it also runs over other drivers.
#include "db/OdbcBackend.h"
#include "db/OdbcConnectionString.h"
#include "db/OdbcResult.h"
#include "db/SendReportLock.h"

#ifndef _WIN32
#include <langinfo.h>
#include <locale.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Text.h"

namespace velmora::db {
namespace odbc {

using platform::ContainsNoCase;
using platform::EqualsNoCase;

namespace {

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

} // namespace

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
    const intptr_t loginTimeout = std::max(options_.connectTimeoutSeconds, 1);
    SQLSetConnectAttrW(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(loginTimeout), 0);

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
    SQLWCHAR database[256] = {};
    SQLSMALLINT databaseLen = 0;
    if (Succeeded(SQLGetInfoW(dbc_, SQL_DATABASE_NAME, database, static_cast<SQLSMALLINT>(sizeof database), &databaseLen)))
        database_ = Narrow(database, std::min(static_cast<size_t>(std::max<SQLSMALLINT>(databaseLen, 0)) / sizeof(SQLWCHAR),
                                              sizeof database / sizeof database[0] - 1));
    SQLUSMALLINT supported = SQL_FALSE;
    if (Succeeded(SQLGetFunctions(dbc_, SQL_API_SQLDESCRIBEPARAM, &supported))) describeParams_ = supported == SQL_TRUE;
}

void OdbcBackend::Release() {
    prepared_.clear();  // statements go before their connection
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
        Statement st(dbc_, StatementTimeout());
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

// The tenant's send/report lock: an application lock held by this session, so it ends with the session
// also when the process is killed.
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

} // namespace odbc

std::unique_ptr<IDbBackend> OpenOdbcBackend(const std::string& connectionString, const ConnectionOptions& options) {
    return std::make_unique<odbc::OdbcBackend>(connectionString, options);
}

std::unique_ptr<IDbBackend> OpenSqlServerBackend(const ConnectParams& params, const ConnectionOptions& options) {
    return OpenOdbcBackend(SqlServerConnectionString(params, options), options);
}

} // namespace velmora::db
