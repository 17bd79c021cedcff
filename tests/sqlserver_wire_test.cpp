// The SQL Server route end to end: the simulator's protocol as the FreeTDS driver drives it (logins,
// credentials, parameter and result types, catalog questions, application locks, faults), and the
// program's send/report cycle, generation run and built executable over it.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>
#include <chrono>
#include <string>
#include <vector>

#include "campaigns/SMSCheck.h"
#include "config/SenderManager.h"
#include "db/DbBackend.h"
#include "db/DbConnection.h"
#include "db/OdbcConnectionString.h"
#include "gateway/ZentaApiService.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "tests/TestSupport.h"
#include "tests/TestWire.h"
#include "tools/gatewaysim/GatewaySimulator.h"

using namespace velmora;
using sqlsim::ReceivedRequest;

namespace {

const char* kTable = R"(
CREATE TABLE tbOrnek (id INTEGER PRIMARY KEY AUTOINCREMENT, ad VARCHAR(50), sayi INT);
INSERT INTO tbOrnek (ad, sayi) VALUES ('bir', 1);
)";

// A database file with the example table, served by a fresh peer.
class WireTest : public testing::Test {
protected:
    void SetUp() override {
        if (test::WireRouteUnavailable()) GTEST_SKIP() << "VELMORA_ODBC_DRIVER names no SQL Server driver";
        path_ = dir_.File("Deneme.db");
        test::RunSqliteScript(path_, kTable);
        database_ = peer_.Serve(path_);
    }
    void Open(db::TDbConnection& c) {
        peer_.Aim(c, database_);
        c.SetConnected(true);
    }
    int Scalar(db::TDbConnection& c, const std::string& sql) {
        db::TDbQuery q(&c);
        q.SetSQL(sql);
        q.Open();
        return q.Fields(1).AsInteger();
    }
    std::vector<ReceivedRequest> Of(ReceivedRequest::Kind kind) {
        std::vector<ReceivedRequest> out;
        for (const ReceivedRequest& r : peer_->Requests())
            if (r.kind == kind) out.push_back(r);
        return out;
    }

    test::TempDir dir_;
    std::string path_, database_;
    test::WirePeer peer_;
};

// A raw ODBC session through the platform's SQL Server driver, for what the backend does not do itself.
class RawSession {
public:
    RawSession(const test::WirePeer& peer, const std::string& database) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
        SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(SQL_OV_ODBC3)), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
        std::u16string cs = platform::Utf8ToUtf16(db::SqlServerConnectionString(
            {const_cast<test::WirePeer&>(peer)->ServerText(), database, test::kWireUser, test::kWirePassword}));
        connected_ = SQL_SUCCEEDED(SQLDriverConnectW(dbc_, nullptr, reinterpret_cast<SQLWCHAR*>(cs.data()), SQL_NTS,
                                                     nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
        if (connected_) SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st_);
    }
    ~RawSession() {
        if (st_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, st_);
        if (connected_) SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
    }
    bool Connected() const { return connected_; }
    SQLHSTMT Stmt() const { return st_; }
    void DropStatement() {
        SQLFreeHandle(SQL_HANDLE_STMT, st_);
        st_ = SQL_NULL_HSTMT;
    }
    void NewStatement() { SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &st_); }
    std::string Diagnostic() const {
        SQLCHAR state[6] = {}, text[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        SQLGetDiagRec(SQL_HANDLE_STMT, st_, 1, state, &native, text, sizeof text, &len);
        return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(text);
    }
    bool Run(const std::string& sql) {
        std::u16string text = platform::Utf8ToUtf16(sql);
        return SQL_SUCCEEDED(SQLExecDirectW(st_, reinterpret_cast<SQLWCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size())));
    }

private:
    SQLHENV env_ = SQL_NULL_HENV;
    SQLHDBC dbc_ = SQL_NULL_HDBC;
    SQLHSTMT st_ = SQL_NULL_HSTMT;
    bool connected_ = false;
};

// ------------------------------------------------------------------------------------------------
// Logins and credentials

TEST_F(WireTest, RefusedLoginsCarrySqlServersText) {
    struct Case {
        const char* name;
        std::string user, password, database;
        bool refuseAll;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"wrong password", test::kWireUser, "yanlis", database_, false, "Login failed for user 'sa'."},
        {"unknown user", "yok", test::kWirePassword, database_, false, "Login failed for user 'yok'."},
        {"logins refused", test::kWireUser, test::kWirePassword, database_, true, "Login failed for user 'sa'."},
        {"unknown database", test::kWireUser, test::kWirePassword, "Yok", false, "Cannot open database \"Yok\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        peer_->SetRefuseLogins(c.refuseAll);
        db::TDbConnection conn;
        conn.Server = peer_->ServerText();
        conn.Database = c.database;
        conn.Username = c.user;
        conn.Password = c.password;
        try {
            conn.SetConnected(true);
            ADD_FAILURE() << "the login was accepted";
        } catch (const EDatabaseError& e) {
            EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
        }
        EXPECT_FALSE(conn.Connected());
    }
    EXPECT_EQ(peer_->LoginCount(), 0);
    peer_->ClearFaults();
    db::TDbConnection conn;
    EXPECT_NO_THROW(Open(conn)) << "a failed attempt leaves nothing behind";
}

TEST_F(WireTest, CredentialsArriveAsWritten) {
    const std::vector<std::pair<std::string, std::string>> logins = {
        {"sade", "a;b"},         {"sade2", "{x}"},          {"sade3", "p}}q"},        {"sade4", "a=b c"},
        {"sade5", " boşluk "},   {"kullanıcı", "Şİğüöç}"}, {"u=1;x", "p"},           {"{kul}", "}{"},
        {"ali veli", "x}"},      {"son", "ab}}"},
    };
    for (const auto& [user, password] : logins) peer_->AddLogin(user, password);
    for (const auto& [user, password] : logins) {
        SCOPED_TRACE(user + " / " + password);
        db::TDbConnection conn;
        conn.Server = peer_->ServerText();
        conn.Database = database_;
        conn.Username = user;
        conn.Password = password;
        ASSERT_NO_THROW(conn.SetConnected(true));
        EXPECT_EQ(Scalar(conn, "SELECT sayi FROM tbOrnek"), 1);
    }
    // A value the driver cannot be given is refused before any attempt, with a clear text.
    const int before = peer_->LoginCount();
    db::TDbConnection conn;
    conn.Server = peer_->ServerText();
    conn.Database = database_;
    conn.Username = "sa";
    conn.Password = "a};DATABASE=master";
    try {
        conn.SetConnected(true);
        ADD_FAILURE() << "connected";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("};"), std::string::npos) << e.what();
    }
    EXPECT_EQ(peer_->LoginCount(), before);
}

// ------------------------------------------------------------------------------------------------
// Types in both directions

TEST_F(WireTest, ParametersArriveTypedAndReadBackUnchanged) {
    struct Case {
        const char* column;  // declared type of the column the value goes into
        db::Value value;
        const char* wireType;  // the type FreeTDS declares for it
    };
    const std::string longText(5000, 'x');
    const std::string longBytes(20000, '\x01');
    const std::vector<Case> cases = {
        {"INT", db::Value::Integer(42), "bigint"},
        {"BIGINT", db::Value::Integer(-5000000000LL), "bigint"},
        {"FLOAT", db::Value::Float(12.3456), "float"},
        {"NVARCHAR(100)", db::Value::Text("İstanbul ğüşöç ĞÜŞÖÇı"), "nvarchar(4000)"},
        {"NTEXT", db::Value::Text(longText + "ş"), "nvarchar(max)"},
        {"DATETIME", db::Value::DateTime(test::DT(2026, 12, 10, 9, 30, 0, 250)), "datetime2(7)"},
        {"VARBINARY", db::Value::Blob(std::string("\x00\xFFveri", 6)), "varbinary(8000)"},
        {"IMAGE", db::Value::Blob(longBytes), "varbinary(max)"},
        {"INT", db::Value::Null(), "varchar(1)"},
    };
    auto backend = db::OpenSqlServerBackend({peer_->ServerText(), database_, test::kWireUser, test::kWirePassword});
    int n = 0;
    for (const Case& c : cases) {
        const std::string table = "tbTip" + std::to_string(++n);
        SCOPED_TRACE(std::string(c.column) + " as " + c.wireType);
        test::RunSqliteScript(path_, "CREATE TABLE " + table + " (id INTEGER PRIMARY KEY AUTOINCREMENT, deger " + c.column + ");");
        peer_->ClearRequests();
        backend->Execute("INSERT INTO " + table + " (deger) VALUES (?)", {c.value}, nullptr);
        auto rpcs = Of(ReceivedRequest::Kind::Rpc);
        ASSERT_EQ(rpcs.size(), 1u);
        ASSERT_GE(rpcs[0].params.size(), 3u);
        EXPECT_EQ(rpcs[0].params[2].typeName, c.wireType);
        EXPECT_EQ(rpcs[0].params[2].isNull, c.value.IsNull());

        db::ResultData r;
        backend->Execute("SELECT deger FROM " + table + " WHERE id = ?", {db::Value::Integer(backend->LastIdentity())}, &r);
        ASSERT_EQ(r.rows.size(), 1u);
        const db::Value& back = r.rows[0][0];
        EXPECT_EQ(back.kind, c.value.kind);
        if (c.value.kind == db::ValueKind::Integer) {
            EXPECT_EQ(back.i, c.value.i);
        } else if (c.value.kind == db::ValueKind::Float || c.value.kind == db::ValueKind::DateTime) {
            EXPECT_DOUBLE_EQ(back.f, c.value.f);
        } else if (c.value.kind == db::ValueKind::Text || c.value.kind == db::ValueKind::Blob) {
            EXPECT_EQ(back.s, c.value.s);
        }
    }
}

TEST_F(WireTest, ResultColumnsReadInTheirKinds) {
    test::RunSqliteScript(path_, R"(
CREATE TABLE tbTurler (id INTEGER PRIMARY KEY AUTOINCREMENT, tutar MONEY, tarih DATETIME, gun DATE, metin TEXT,
  kisa VARCHAR(10), veri BLOB, buyuk BIGINT, bayrak BIT);
INSERT INTO tbTurler (tutar, tarih, gun, metin, kisa, veri, buyuk, bayrak)
  VALUES (1234.5678, '2026-12-10 23:59:59.997', '2026-02-28 00:00:00.000', 'Çağrı', 'İ', X'000102', 9000000000, 1);
INSERT INTO tbTurler (tutar) VALUES (NULL);
)");
    db::TDbConnection conn;
    Open(conn);
    db::TDbQuery q(&conn);
    q.SetSQL("SELECT * FROM tbTurler ORDER BY id");
    q.Open();
    ASSERT_EQ(q.RecordCount(), 2);
    EXPECT_EQ(q.FieldByName("tutar").AsCurrency().units, 12345678);
    EXPECT_DOUBLE_EQ(q.FieldByName("tarih").AsDateTime(), test::DT(2026, 12, 10, 23, 59, 59, 997));
    EXPECT_DOUBLE_EQ(q.FieldByName("gun").AsDateTime(), test::DT(2026, 2, 28));
    EXPECT_EQ(q.FieldByName("metin").AsString(), "Çağrı");
    EXPECT_EQ(q.FieldByName("kisa").AsString(), "İ");
    EXPECT_EQ(q.FieldByName("buyuk").AsString(), "9000000000");
    EXPECT_EQ(q.FieldByName("bayrak").AsInteger(), 1);
    q.Next();
    EXPECT_TRUE(q.FieldByName("tutar").IsNull());
    EXPECT_TRUE(q.FieldByName("tarih").IsNull());
    EXPECT_TRUE(q.FieldByName("veri").IsNull());
}

// Text declared as varchar goes in code page 1254 as SQL Server sends it, unless a letter does not fit.
TEST_F(WireTest, VarcharColumnsTravelInTheTurkishCodePage) {
    test::RunSqliteScript(path_, "CREATE TABLE tbMetin (v VARCHAR(20), n NVARCHAR(20), yabanci VARCHAR(20));"
                                 "INSERT INTO tbMetin VALUES ('Şişli İğdır', 'Ayşe', 'Ωmega');");
    RawSession raw(peer_, database_);
    ASSERT_TRUE(raw.Connected());
    ASSERT_TRUE(raw.Run("SELECT v, n, yabanci FROM tbMetin"));
    const std::vector<std::pair<SQLSMALLINT, std::string>> expected = {
        {SQL_VARCHAR, "Şişli İğdır"}, {SQL_WVARCHAR, "Ayşe"}, {SQL_WVARCHAR, "Ωmega"}};
    ASSERT_TRUE(SQL_SUCCEEDED(SQLFetch(raw.Stmt()))) << raw.Diagnostic();
    for (size_t c = 0; c < expected.size(); ++c) {
        SQLSMALLINT type = 0, digits = 0, nullable = 0, nameLen = 0;
        SQLULEN size = 0;
        SQLCHAR name[64];
        SQLDescribeCol(raw.Stmt(), static_cast<SQLUSMALLINT>(c + 1), name, sizeof name, &nameLen, &type, &size, &digits, &nullable);
        EXPECT_EQ(type, expected[c].first) << c;
        char16_t text[64] = {};
        SQLLEN len = 0;
        ASSERT_TRUE(SQL_SUCCEEDED(SQLGetData(raw.Stmt(), static_cast<SQLUSMALLINT>(c + 1), SQL_C_WCHAR, text, sizeof text, &len)));
        EXPECT_EQ(platform::Utf16ToUtf8(text), expected[c].second) << c;
    }
}

// Prepared statements with the parameter types an ODBC program may bind; FreeTDS prepares and
// executes them through its own RPCs, and the values land as bound.
TEST_F(WireTest, PreparedStatementsCarryEveryParameterType) {
    test::RunSqliteScript(path_, "CREATE TABLE tbTipler (id INTEGER PRIMARY KEY AUTOINCREMENT, i INT, k SMALLINT, "
                                 "u TINYINT, b BIT, d DECIMAL(18,4), gun DATE, saat TIME, zaman DATETIME2, "
                                 "v VARCHAR(50), n NVARCHAR(50), uzun TEXT);");
    RawSession raw(peer_, database_);
    ASSERT_TRUE(raw.Connected());
    SQLHSTMT st = raw.Stmt();
    const char* insert = "INSERT INTO tbTipler (i, k, u, b, d, gun, saat, zaman, v, n, uzun) VALUES (?,?,?,?,?,?,?,?,?,?,?)";
    ASSERT_TRUE(SQL_SUCCEEDED(SQLPrepare(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(insert)), SQL_NTS)));
    SQLINTEGER i = -123456;
    SQLSMALLINT k = -1234;
    SQLCHAR u = 200, b = 1;
    SQLCHAR d[] = "12.3456";
    SQL_DATE_STRUCT gun{2026, 2, 28};
    SQL_TIME_STRUCT saat{14, 5, 10};
    SQL_TIMESTAMP_STRUCT zaman{2026, 12, 10, 9, 30, 15, 250000000};
    SQLCHAR v[] = "\xC3\x87" "a\xC4\x9F" "r\xC4\xB1";  // "Çağrı" in UTF-8, the client's character set
    std::u16string n = u"İstanbul ğş";
    std::string uzun(9000, 'u');
    SQLLEN dLen = SQL_NTS, vLen = SQL_NTS, nLen = static_cast<SQLLEN>(n.size() * 2), uzunLen = static_cast<SQLLEN>(uzun.size());
    SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &i, 0, nullptr);
    SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_SSHORT, SQL_SMALLINT, 0, 0, &k, 0, nullptr);
    SQLBindParameter(st, 3, SQL_PARAM_INPUT, SQL_C_UTINYINT, SQL_TINYINT, 0, 0, &u, 0, nullptr);
    SQLBindParameter(st, 4, SQL_PARAM_INPUT, SQL_C_BIT, SQL_BIT, 0, 0, &b, 0, nullptr);
    SQLBindParameter(st, 5, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_DECIMAL, 18, 4, d, 0, &dLen);
    SQLBindParameter(st, 6, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &gun, 0, nullptr);
    SQLBindParameter(st, 7, SQL_PARAM_INPUT, SQL_C_TYPE_TIME, SQL_TYPE_TIME, 8, 0, &saat, 0, nullptr);
    SQLBindParameter(st, 8, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 27, 7, &zaman, 0, nullptr);
    SQLBindParameter(st, 9, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 50, 0, v, 0, &vLen);
    SQLBindParameter(st, 10, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 50, 0, n.data(), 0, &nLen);
    SQLBindParameter(st, 11, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_LONGVARCHAR, uzun.size(), 0, uzun.data(), 0, &uzunLen);
    peer_->ClearRequests();
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(st))) << raw.Diagnostic();
    i = 7;
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecute(st))) << "executed again with the same handle: " << raw.Diagnostic();
    raw.DropStatement();

    std::vector<std::string> names;
    for (const ReceivedRequest& r : Of(ReceivedRequest::Kind::Rpc)) names.push_back(r.rpcName);
    ASSERT_FALSE(names.empty());
    EXPECT_TRUE(names.front() == "sp_prepexec" || names.front() == "sp_prepare") << names.front();
    EXPECT_NE(std::find(names.begin(), names.end(), "sp_execute"), names.end());

    db::TDbConnection conn;
    Open(conn);
    db::TDbQuery q(&conn);
    q.SetSQL("SELECT * FROM tbTipler ORDER BY id");
    q.Open();
    ASSERT_EQ(q.RecordCount(), 2);
    EXPECT_EQ(q.FieldByName("i").AsInteger(), -123456);
    EXPECT_EQ(q.FieldByName("k").AsInteger(), -1234);
    EXPECT_EQ(q.FieldByName("u").AsInteger(), 200);
    EXPECT_EQ(q.FieldByName("b").AsInteger(), 1);
    EXPECT_EQ(q.FieldByName("d").AsCurrency().units, 123456);
    EXPECT_DOUBLE_EQ(q.FieldByName("gun").AsDateTime(), test::DT(2026, 2, 28));
    EXPECT_DOUBLE_EQ(q.FieldByName("zaman").AsDateTime(), test::DT(2026, 12, 10, 9, 30, 15, 250));
    EXPECT_EQ(q.FieldByName("v").AsString(), "Çağrı") << "varchar in code page 1254";
    EXPECT_EQ(q.FieldByName("n").AsString(), "İstanbul ğş");
    EXPECT_EQ(q.FieldByName("uzun").AsString(), uzun);
    q.Next();
    EXPECT_EQ(q.FieldByName("i").AsInteger(), 7);
    TDateTime time = q.FieldByName("saat").AsDateTime();
    EXPECT_NEAR(time - std::floor(time), test::DT(1899, 12, 30, 14, 5, 10), 1e-9);
}

// The count of changed rows a client reads after a statement, with and without parameters.
TEST_F(WireTest, RowCountsAreTheStatementsOwn) {
    test::RunSqliteScript(path_, "INSERT INTO tbOrnek (ad, sayi) VALUES ('iki', 2), ('üç', 3);");
    RawSession raw(peer_, database_);
    ASSERT_TRUE(raw.Connected());
    struct Case {
        const char* sql;
        SQLBIGINT param;  // bound to '?' when the text has one
        SQLLEN rows;
    };
    const Case cases[] = {
        {"UPDATE tbOrnek SET sayi = sayi + 10 WHERE sayi > 1", 0, 2},
        {"UPDATE tbOrnek SET sayi = 0 WHERE id = -1", 0, 0},
        {"UPDATE tbOrnek SET ad = 'bir' WHERE sayi = ?", 1, 1},
        {"DELETE FROM tbOrnek WHERE sayi = ?", 13, 1},
        {"INSERT INTO tbOrnek (ad, sayi) VALUES ('dört', ?)", 4, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        raw.DropStatement();
        raw.NewStatement();
        SQLBIGINT value = c.param;
        if (std::string(c.sql).find('?') != std::string::npos)
            SQLBindParameter(raw.Stmt(), 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &value, 0, nullptr);
        ASSERT_TRUE(raw.Run(c.sql)) << raw.Diagnostic();
        SQLLEN rows = -1;
        ASSERT_TRUE(SQL_SUCCEEDED(SQLRowCount(raw.Stmt(), &rows)));
        EXPECT_EQ(rows, c.rows);
    }
    raw.DropStatement();
    raw.NewStatement();
    ASSERT_TRUE(raw.Run("SELECT ad FROM tbOrnek ORDER BY id"));
    SQLSMALLINT columns = 0;
    SQLNumResultCols(raw.Stmt(), &columns);
    EXPECT_EQ(columns, 1) << "a result set comes first, with nothing before it";
}

// ------------------------------------------------------------------------------------------------
// Catalog questions

TEST_F(WireTest, KeysAndColumnsAreAnsweredAsSqlServerDoes) {
    test::RunSqliteScript(path_, R"(
CREATE TABLE tbKodlu (kod VARCHAR(10) PRIMARY KEY, ad VARCHAR(20));
CREATE TABLE tbAnahtarsiz (ad VARCHAR(20), sayi INT);
CREATE TABLE tbIkili (a INT, b INT, PRIMARY KEY (a, b));
)");
    auto backend = db::OpenSqlServerBackend({peer_->ServerText(), database_, test::kWireUser, test::kWirePassword});
    const std::vector<std::pair<std::string, std::string>> keys = {
        {"tbOrnek", "id"}, {"dbo.tbKodlu", "kod"}, {"tbAnahtarsiz", ""}, {"tbIkili", ""}};
    for (const auto& [table, key] : keys) EXPECT_EQ(backend->KeyColumn(table), key) << table;
    EXPECT_EQ(backend->TableColumns("tbOrnek"), (std::vector<std::string>{"id", "ad", "sayi"}));
    std::set<std::string> procedures;
    for (const ReceivedRequest& r : Of(ReceivedRequest::Kind::Rpc)) procedures.insert(r.rpcName);
    EXPECT_TRUE(procedures.count("sp_pkeys")) << "a table without identity is asked for its primary key";
    EXPECT_TRUE(procedures.count("sp_columns"));
}

// ------------------------------------------------------------------------------------------------
// Application locks, in the texts the program sends

std::string Acquire(const std::string& resource) {
    return "DECLARE @r int; EXEC @r = sp_getapplock @Resource = N'" + resource +
           "', @LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = 0; SELECT @r AS sonuc";
}
std::string Release(const std::string& resource) {
    return "EXEC sp_releaseapplock @Resource = N'" + resource + "', @LockOwner = 'Session'";
}

TEST_F(WireTest, ApplicationLocksBelongToTheSessionThatTookThem) {
    db::TDbConnection a, b;
    Open(a);
    Open(b);
    EXPECT_EQ(Scalar(a, Acquire("VelmoraSendReport")), 0);
    EXPECT_EQ(Scalar(a, Acquire("VelmoraSendReport")), 0) << "held already by this session";
    EXPECT_EQ(Scalar(b, Acquire("VelmoraSendReport")), -1);
    EXPECT_EQ(Scalar(b, Acquire("VelmoraBaska")), 0) << "another resource is free";
    a.ExecSQL(Release("VelmoraSendReport"));
    EXPECT_EQ(Scalar(b, Acquire("VelmoraSendReport")), 0);
    EXPECT_EQ(Scalar(a, Acquire("VelmoraSendReport")), -1);
    EXPECT_THROW(a.ExecSQL(Release("VelmoraSendReport")), EDatabaseError) << "not held by this session";
    b.SetConnected(false);  // the session's locks end with it
    for (int i = 0; i < 200 && peer_->OpenSessions() > 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Scalar(a, Acquire("VelmoraSendReport")), 0);
}

// ------------------------------------------------------------------------------------------------
// Faults

TEST_F(WireTest, AServerErrorOnAChosenStatementReachesTheCallerWithItsText) {
    db::TDbConnection conn;
    Open(conn);
    peer_->SetErrorPattern("FROM tbOrnek", {1205, 45, 13, "Transaction was deadlocked on lock resources."});
    try {
        Scalar(conn, "SELECT sayi FROM tbOrnek");
        ADD_FAILURE() << "no error";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("deadlocked"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Scalar(conn, "SELECT 7 AS n"), 7) << "the session goes on";
    peer_->ClearFaults();
    EXPECT_EQ(Scalar(conn, "SELECT sayi FROM tbOrnek"), 1);
}

TEST_F(WireTest, AConnectionDroppedMidResultIsAnErrorAndTheNextSessionWorks) {
    std::string rows = "INSERT INTO tbOrnek (ad, sayi) VALUES ";
    for (int i = 0; i < 2000; ++i) rows += std::string(i ? "," : "") + "('satır uzun bir metin', " + std::to_string(i) + ")";
    test::RunSqliteScript(path_, rows + ";");
    db::TDbConnection conn;
    Open(conn);
    peer_->SetDropPattern("tbOrnek");
    db::TDbQuery q(&conn);
    q.SetSQL("SELECT * FROM tbOrnek");
    EXPECT_THROW(q.Open(), EDatabaseError);
    EXPECT_FALSE(q.Active());
    peer_->ClearFaults();
    db::TDbConnection next;
    Open(next);
    EXPECT_EQ(Scalar(next, "SELECT COUNT(*) AS n FROM tbOrnek"), 2001);
}

// A statement held by another session's lock: the client's own query time-out cancels it.
TEST_F(WireTest, ABlockedStatementEndsWhenTheClientCancelsIt) {
    peer_->SetBlockingPattern("UPDATE tbOrnek");
    {
        RawSession raw(peer_, database_);
        ASSERT_TRUE(raw.Connected());
        SQLSetStmtAttr(raw.Stmt(), SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(1)), 0);
        EXPECT_FALSE(raw.Run("UPDATE tbOrnek SET sayi = 2")) << "the statement did not wait for the lock";
        EXPECT_FALSE(Of(ReceivedRequest::Kind::Attention).empty()) << "the driver cancelled it";
        peer_->ClearFaults();
        EXPECT_TRUE(raw.Run("SELECT sayi FROM tbOrnek")) << "the session is usable after the cancel";
    }
    db::TDbConnection check;
    Open(check);
    EXPECT_EQ(Scalar(check, "SELECT sayi FROM tbOrnek"), 1) << "the cancelled update changed nothing";
}

// The program's own time-out on the same held lock: with a high one the statement stays blocked while
// another thread watches and goes through once the lock is gone; with a low one it ends with an error
// naming the time-out, the server is told to stop, and the session serves the next statement.
TEST_F(WireTest, AStatementBlockedByALockEndsAtTheCommandTimeOut) {
    peer_->SetBlockingPattern("UPDATE tbOrnek");
    {
        db::TDbConnection patient;
        patient.Options.commandTimeoutSeconds = 600;
        Open(patient);
        std::atomic<bool> finished{false};
        std::string error;
        std::thread writer([&] {
            try {
                patient.ExecSQL("UPDATE tbOrnek SET sayi = 2");
            } catch (const std::exception& e) {
                error = e.what();
            }
            finished = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_FALSE(finished) << "the update did not wait for the lock";
        peer_->ClearFaults();  // the other session lets go
        writer.join();
        EXPECT_EQ(error, "");
        EXPECT_EQ(Scalar(patient, "SELECT sayi FROM tbOrnek"), 2);
    }
    peer_->SetBlockingPattern("UPDATE tbOrnek");
    db::TDbConnection hasty;
    hasty.Options.commandTimeoutSeconds = 1;
    Open(hasty);
    peer_->ClearRequests();
    try {
        hasty.ExecSQL("UPDATE tbOrnek SET sayi = 3");
        ADD_FAILURE() << "the update went through a held lock";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("command time-out of 1 s"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(database_), std::string::npos) << e.what();
    }
    EXPECT_FALSE(Of(ReceivedRequest::Kind::Attention).empty()) << "the server was not told to stop";
    peer_->ClearFaults();
    EXPECT_EQ(Scalar(hasty, "SELECT sayi FROM tbOrnek"), 2) << "the cancelled update changed nothing";
}

TEST_F(WireTest, EveryRequestIsCountedAndDelayedAlike) {
    peer_->SetRequestDelayMilliseconds(5);
    db::TDbConnection conn;
    Open(conn);
    peer_->ClearRequests();
    conn.ExecSQL("SET DATEFORMAT dmy");
    EXPECT_EQ(Scalar(conn, "SELECT sayi FROM tbOrnek"), 1);
    db::TDbQuery q(&conn);
    q.SetSQL("SELECT * FROM tbOrnek WHERE sayi = :s");
    q.ParamByName("s").SetValue(1);
    q.Open();
    EXPECT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(peer_->RequestCount(), 3u);
    auto received = peer_->Requests();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].text, "SET DATEFORMAT dmy");
    EXPECT_EQ(received[2].rpcName, "sp_executesql");
    EXPECT_EQ(received[2].text, "SELECT * FROM tbOrnek WHERE sayi = @P1");
}

// ------------------------------------------------------------------------------------------------
// The program over the wire

// A gateway simulator with the account "demo"/"secret", bound to the client for the test's duration.
class Gateway {
public:
    Gateway() {
        sim_.AddAccount("demo", "secret");
        sim_.Start();
        gateway::GatewayBinding binding;
        binding.host = sim_.Host();
        gateway::RegisterGatewayBinding(binding);
    }
    ~Gateway() { gateway::RegisterGatewayBinding(gateway::GatewayBinding{}); }
    sim::GatewaySimulator* operator->() { return &sim_; }

private:
    sim::GatewaySimulator sim_;
};

struct QueueRow {
    int grup, durum;
    std::string gsm, mesaj, aciklama;
    bool operator==(const QueueRow& o) const {
        return grup == o.grup && durum == o.durum && gsm == o.gsm && mesaj == o.mesaj && aciklama == o.aciklama;
    }
};

std::ostream& operator<<(std::ostream& os, const QueueRow& r) {
    return os << "{" << r.grup << ", " << r.durum << ", " << r.gsm << ", \"" << r.mesaj << "\", \"" << r.aciklama << "\"}";
}

std::vector<QueueRow> Queue(const std::string& sqlitePath) {
    db::TDbConnection c;
    c.Server = "sqlite:" + sqlitePath;
    c.SetConnected(true);
    db::TDbQuery q(&c);
    q.SetSQL("SELECT * FROM tbNuvoListe ORDER BY id");
    q.Open();
    std::vector<QueueRow> rows;
    for (int i = 0, n = q.RecordCount(); i < n; ++i, q.Next())
        rows.push_back({q.FieldByName("mesaj_grubu").AsInteger(), q.FieldByName("durum").AsInteger(),
                        q.FieldByName("gsm").AsString(), q.FieldByName("mesaj").AsString(),
                        q.FieldByName("aciklama").AsString()});
    return rows;
}

// The demo's tenant: every campaign set to fire on `day` at 10:00, with ERP data for each.
std::string SeededTenant(const test::TempDir& dir, const std::string& name, const std::string& day) {
    std::string path = dir.File(name);
    test::CreateSqliteDatabase(path, "tools/schema/tenant.sqlite.sql");
    std::string command = "bash '" + test::SourcePath("tools/demo/tenant-seed.sh") + "' " + day + " | '" +
                          test::BinaryPath("tools/velmora-sqlite") + "' '" + path + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("seeding failed: " + command);
    return path;
}

// The same generation and send/report phases on the embedded route and over the wire give the same rows.
TEST(WireProgram, GenerationAndSendReportGiveTheSameRowsAsTheEmbeddedRoute) {
#ifdef _WIN32
    GTEST_SKIP() << "the demo's seed script needs bash";
#endif
    const std::string day = "2026-03-21";
    test::TempDir dir;
    test::RegionalScope regional(platform::TurkishFormatSettings());
    test::FixedClock clock(2026, 3, 21, 10, 0, 0);
    Gateway gateway;
    gateway->SetSendDecision("05329999999", -4, "Numara kara listede");

    const std::string embedded = SeededTenant(dir, "gomulu.db", day);
    const std::string wired = SeededTenant(dir, "hatta.db", day);
    test::TempDir embeddedDir, wiredDir;
    const std::string embeddedSettings = test::MakeProgramDatabase(embeddedDir, {embedded});
    test::WirePeer peer;
    const std::string wiredSettings = test::MakeWireProgramDatabase(wiredDir, peer, {wired});

    for (const std::string& settings : {embeddedSettings, wiredSettings}) {
        test::ScopedEnv env("VELMORA_SETTINGS_FILE", settings);
        campaigns::TSMSCheck check;
        EXPECT_EQ(check.Execute(), "") << settings;
    }
    std::vector<QueueRow> generated = Queue(wired);
    EXPECT_EQ(generated, Queue(embedded));
    std::set<int> groups;
    for (const QueueRow& r : generated) groups.insert(r.grup);
    EXPECT_GE(groups.size(), 6u) << "every campaign produced messages";

    for (const std::string& settings : {embeddedSettings, wiredSettings}) {
        test::ScopedEnv env("VELMORA_SETTINGS_FILE", settings);
        config::TVelmora velmora;
        velmora.Execute();
        EXPECT_TRUE(velmora.Failures.empty()) << settings << ": " << (velmora.Failures.empty() ? "" : velmora.Failures[0]);
    }
    std::vector<QueueRow> sent = Queue(wired);
    EXPECT_EQ(sent, Queue(embedded));
    std::set<int> states;
    for (const QueueRow& r : sent) states.insert(r.durum);
    EXPECT_EQ(states, (std::set<int>{2, 3})) << "every row reached a final state";
    EXPECT_GT(peer->RequestCount(), 0u);
}

// The built program, its program and tenant databases behind the simulator, reached by "127.0.0.1,<port>".
TEST(WireProgram, TheBuiltProgramRunsOverTheWire) {
    if (test::WireRouteUnavailable()) GTEST_SKIP() << "VELMORA_ODBC_DRIVER names no SQL Server driver";
    test::TempDir dir;
    sim::GatewaySimulator gateway;
    gateway.AddAccount("demo", "secret");
    gateway.Start();
    test::WirePeer peer;
    std::string tenant = test::MakeTenantDatabase(dir, "Magaza.db");
    test::RunSqliteScript(tenant, "INSERT INTO tbNuvoListe (gsm, mesaj, durum, kayit_tarihi) VALUES "
                                  "('05321234567', 'Merhaba', 0, '2026-12-10 09:00:00.000'),"
                                  "('05321234568', 'Günaydın', 0, '2026-12-10 09:00:01.000');");
    test::MakeWireProgramDatabase(dir, peer, {tenant}, "<SMSServisi><Sunucu>" + gateway.Host() + "</Sunucu></SMSServisi>\n");
    std::string exe = test::CopyProgram("driver/velmora", dir);
    std::string log = dir.File("Velmora.log");
    EXPECT_EQ(test::RunProgram(exe, {{"VELMORA_SETTINGS_FILE", ""},
                                     {"VELMORA_NOW", "2026-12-10 09:30:00"},
                                     {"VELMORA_LOG_FILE", log},
                                     {"VELMORA_LOCK_FILE", dir.File("lock")}}),
              0);
    EXPECT_EQ(platform::ReadWholeFile(log), "\r\n");
    std::vector<int> states;
    for (const QueueRow& r : Queue(tenant)) states.push_back(r.durum);
    EXPECT_EQ(states, (std::vector<int>{3, 3}));
    std::set<std::string> databases;
    for (const ReceivedRequest& r : peer->Requests()) databases.insert(r.database);
    EXPECT_EQ(databases, (std::set<std::string>{"program", "Magaza"}));
}

} // namespace
