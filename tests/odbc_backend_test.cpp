// The ODBC backend run for real: through unixODBC against the SQLite ODBC driver ("SQLite3"), and
// against a live SQL Server when VELMORA_TEST_MSSQL holds "server;database;user;password".
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "db/DbBackend.h"
#include "db/DbConnection.h"
#include "db/OdbcConnectionString.h"
#include "db/OdbcResult.h"
#include "platform/Error.h"
#include "tests/TestSupport.h"

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace velmora::db {
namespace {

using ::testing::HasSubstr;
using test::DT;

const std::string kTurkish = "ığüşöç İĞÜŞÖÇ";

std::string SqliteConnectionString(const std::string& path) { return test::SqliteOdbcConnectionString(path); }

std::string Describe(const Value& v) {
    switch (v.kind) {
    case ValueKind::Null: return "NULL";
    case ValueKind::Integer: return "Integer " + std::to_string(v.i);
    case ValueKind::Float: return "Float " + std::to_string(v.f);
    case ValueKind::Text: return "Text '" + v.s + "'";
    case ValueKind::DateTime: return "DateTime " + FormatIsoDateTime(v.f);
    case ValueKind::Blob: return "Blob of " + std::to_string(v.s.size()) + " bytes";
    }
    return "?";
}

void ExpectSameValue(const Value& expected, const Value& actual, const std::string& where) {
    SCOPED_TRACE(where + ": expected " + Describe(expected) + ", got " + Describe(actual));
    ASSERT_EQ(expected.kind, actual.kind);
    switch (expected.kind) {
    case ValueKind::Integer: EXPECT_EQ(expected.i, actual.i); break;
    case ValueKind::Float: EXPECT_DOUBLE_EQ(expected.f, actual.f); break;
    case ValueKind::DateTime: EXPECT_EQ(DateTimeToMilliseconds(expected.f), DateTimeToMilliseconds(actual.f)); break;
    case ValueKind::Text:
    case ValueKind::Blob: EXPECT_EQ(expected.s, actual.s); break;
    case ValueKind::Null: break;
    }
}

class OdbcSqliteTest : public ::testing::Test {
protected:
    void SetUp() override { backend_ = OpenOdbcBackend(SqliteConnectionString(dir_.File("odbc.db"))); }

    ResultData Query(const std::string& sql, const std::vector<Value>& params = {}) {
        ResultData r;
        backend_->Execute(sql, params, &r);
        return r;
    }
    void Exec(const std::string& sql, const std::vector<Value>& params = {}) { backend_->Execute(sql, params, nullptr); }

    test::TempDir dir_;
    std::unique_ptr<IDbBackend> backend_;
};

TEST_F(OdbcSqliteTest, FetchesEveryColumnKindTyped) {
    Exec("CREATE TABLE k (Id INTEGER PRIMARY KEY AUTOINCREMENT, i INTEGER, sm SMALLINT, bg BIGINT, bt BIT,"
         " r REAL, num NUMERIC(10,2), dt DATETIME, dd DATE, tt TIME, vc VARCHAR(50), tx TEXT, bl BLOB)");
    Exec("INSERT INTO k (i, sm, bg, bt, r, num, dt, dd, tt, vc, tx, bl) VALUES (-5, 7, 1099511627776, 1, 1.5,"
         " 0.1, '2024-05-01 10:20:30.123', '2024-02-29', '23:59:58', 'abc', 'uzun metin', X'00FF10')");
    Exec("INSERT INTO k DEFAULT VALUES");

    ResultData r = Query("SELECT * FROM k ORDER BY Id");
    ASSERT_TRUE(r.hasResultSet);
    ASSERT_EQ(r.rows.size(), 2u);

    struct Expect {
        std::string column;
        ValueKind declared;
        Value value;
    };
    const std::vector<Expect> cases = {
        {"Id", ValueKind::Integer, Value::Integer(1)},
        {"i", ValueKind::Integer, Value::Integer(-5)},
        {"sm", ValueKind::Integer, Value::Integer(7)},
        {"bg", ValueKind::Integer, Value::Integer(1099511627776LL)},
        {"bt", ValueKind::Integer, Value::Integer(1)},
        {"r", ValueKind::Float, Value::Float(1.5)},
        {"num", ValueKind::Float, Value::Float(0.1)},
        {"dt", ValueKind::DateTime, Value::DateTime(DT(2024, 5, 1, 10, 20, 30, 123))},
        {"dd", ValueKind::DateTime, Value::DateTime(DT(2024, 2, 29))},
        {"tt", ValueKind::DateTime, Value::DateTime(EncodeTime(23, 59, 58, 0))},
        {"vc", ValueKind::Text, Value::Text("abc")},
        {"tx", ValueKind::Text, Value::Text("uzun metin")},
        {"bl", ValueKind::Blob, Value::Blob(std::string("\x00\xff\x10", 3))},
    };
    ASSERT_EQ(r.columns.size(), cases.size());
    for (size_t c = 0; c < cases.size(); ++c) {
        SCOPED_TRACE(cases[c].column);
        EXPECT_EQ(r.columns[c].name, cases[c].column);
        EXPECT_EQ(r.columns[c].declared, cases[c].declared);
        ExpectSameValue(cases[c].value, r.rows[0][c], "first row");
        if (c > 0) {
            EXPECT_TRUE(r.rows[1][c].IsNull()) << "a column never written reads as NULL";
        }
    }
}

TEST_F(OdbcSqliteTest, BindsParametersOfEveryKind) {
    Exec("CREATE TABLE p (n INTEGER, i INTEGER, r REAL, tx TEXT, dt DATETIME, bl BLOB)");
    std::string allBytes;
    for (int b = 0; b < 256; ++b) allBytes += static_cast<char>(b);

    struct Case {
        std::string column;
        Value value;
        std::string storage;  // SQLite's typeof() of what the driver stored
    };
    const std::vector<Case> cases = {
        {"i", Value::Integer(-9007199254740993LL), "integer"},  // beyond a double's exact range
        {"r", Value::Float(0.1), "real"},
        {"tx", Value::Text(kTurkish), "text"},
        {"tx", Value::Text(""), "text"},  // empty text is not NULL
        {"dt", Value::DateTime(DT(2024, 2, 29, 23, 59, 58, 999)), "text"},
        {"dt", Value::DateTime(DT(2025, 1, 1)), "text"},
        {"bl", Value::Blob(allBytes), "blob"},
        {"i", Value::Null(), "null"},
        {"tx", Value::Null(), "null"},
        {"bl", Value::Null(), "null"},
    };
    for (size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        SCOPED_TRACE(c.column + " <- " + Describe(c.value));
        Exec("INSERT INTO p (n, " + c.column + ") VALUES (?, ?)", {Value::Integer(static_cast<int64_t>(n)), c.value});
        ResultData r = Query("SELECT " + c.column + ", typeof(" + c.column + ") FROM p WHERE n = ?",
                             {Value::Integer(static_cast<int64_t>(n))});
        ASSERT_EQ(r.rows.size(), 1u);
        ExpectSameValue(c.value, r.rows[0][0], "read back");
        EXPECT_EQ(r.rows[0][1].s, c.storage);
    }
}

TEST_F(OdbcSqliteTest, LongTextAndBlobArriveWhole) {
    // Longer than one read chunk, so the value arrives in pieces; the text also has letters
    // outside Latin-1 falling on chunk borders.
    std::string text;
    while (text.size() < 200000) text += kTurkish + " 0123456789 ";
    std::string blob;
    for (int k = 0; k < 150000; ++k) blob += static_cast<char>((k * 7) & 0xFF);

    Exec("CREATE TABLE big (tx TEXT, bl BLOB)");
    Exec("INSERT INTO big (tx, bl) VALUES (?, ?)", {Value::Text(text), Value::Blob(blob)});
    ResultData r = Query("SELECT tx, bl, length(tx) FROM big");
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0][0].s, text);
    EXPECT_EQ(r.rows[0][1].s, blob);
    EXPECT_EQ(r.rows[0][1].kind, ValueKind::Blob);
}

TEST_F(OdbcSqliteTest, TurkishLettersRoundTripInStatementTextAndParameters) {
    Exec("CREATE TABLE ad (metin TEXT)");
    Exec("INSERT INTO ad (metin) VALUES ('" + kTurkish + "')");
    Exec("INSERT INTO ad (metin) VALUES (?)", {Value::Text(kTurkish)});

    // length() counts characters, so it tells whether the driver received the letters intact.
    ResultData r = Query("SELECT metin, length(metin) FROM ad WHERE metin = '" + kTurkish + "'");
    ASSERT_EQ(r.rows.size(), 2u);
    for (const auto& row : r.rows) {
        EXPECT_EQ(row[0].s, kTurkish);
        EXPECT_EQ(row[1].i, 13);
    }
    ResultData named = Query("SELECT ? AS \"müşteri_adı\"", {Value::Text(kTurkish)});
    ASSERT_EQ(named.columns.size(), 1u);
    EXPECT_EQ(named.columns[0].name, "müşteri_adı");
    EXPECT_EQ(named.rows[0][0].s, kTurkish);
}

TEST_F(OdbcSqliteTest, ResultShapes) {
    Exec("CREATE TABLE s (a INTEGER, b TEXT)");

    ResultData none = Query("INSERT INTO s (a, b) VALUES (1, 'x')");
    EXPECT_FALSE(none.hasResultSet);
    EXPECT_TRUE(none.columns.empty());

    ResultData empty = Query("SELECT a, b FROM s WHERE a = -1");
    EXPECT_TRUE(empty.hasResultSet);
    ASSERT_EQ(empty.columns.size(), 2u);
    EXPECT_EQ(empty.columns[1].name, "b");
    EXPECT_TRUE(empty.rows.empty());

    // An update that touches nothing is no failure, and neither is a result nobody reads.
    EXPECT_NO_THROW(Exec("UPDATE s SET b = 'y' WHERE a = 99"));
    EXPECT_NO_THROW(Exec("SELECT * FROM s"));

    // A reused result is replaced, not appended to.
    ResultData r = Query("SELECT a FROM s");
    backend_->Execute("SELECT b FROM s", {}, &r);
    ASSERT_EQ(r.columns.size(), 1u);
    EXPECT_EQ(r.columns[0].name, "b");
    EXPECT_EQ(r.rows.size(), 1u);
}

TEST_F(OdbcSqliteTest, ErrorsCarryTheDriversTextAndLeaveTheSessionUsable) {
    Exec("CREATE TABLE u (id INTEGER PRIMARY KEY, ad TEXT NOT NULL)");
    Exec("INSERT INTO u (id, ad) VALUES (1, 'a')");
    struct Case {
        std::string sql;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"SELECT * FROM nosuch", "no such table: nosuch"},
        {"SELEC 1", "syntax error"},
        {"INSERT INTO u (id, ad) VALUES (1, 'b')", "UNIQUE constraint failed"},
        {"INSERT INTO u (id) VALUES (2)", "NOT NULL constraint failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        try {
            Exec(c.sql);
            ADD_FAILURE() << "no error raised";
        } catch (const EDatabaseError& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.text));
        }
    }
    EXPECT_EQ(Query("SELECT count(*) FROM u").rows[0][0].i, 1);
}

TEST_F(OdbcSqliteTest, ATextRunAgainTakesItsNewValuesAlsoAfterAFailedRun) {
    // The same insert text, row after row, as the facade posts it; one run breaks a constraint.
    Exec("CREATE TABLE r (id INTEGER PRIMARY KEY, ad TEXT NOT NULL, tutar REAL)");
    const std::string insert = "INSERT INTO r (id, ad, tutar) VALUES (?, ?, ?)";
    struct Case {
        int64_t id;
        Value ad;
        Value tutar;
        bool fails;
    };
    const std::vector<Case> cases = {
        {1, Value::Text("bir"), Value::Float(1.5), false},
        {2, Value::Text(kTurkish), Value::Null(), false},
        {1, Value::Text("yinelenen"), Value::Float(9), true},  // the same id again
        {3, Value::Null(), Value::Float(3), true},              // NOT NULL
        {4, Value::Text("dört"), Value::Float(4.25), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        if (c.fails) {
            EXPECT_THROW(Exec(insert, {Value::Integer(c.id), c.ad, c.tutar}), EDatabaseError);
        } else {
            EXPECT_NO_THROW(Exec(insert, {Value::Integer(c.id), c.ad, c.tutar}));
        }
    }
    ResultData r = Query("SELECT id, ad, tutar FROM r WHERE id >= ? ORDER BY id", {Value::Integer(1)});
    ASSERT_EQ(r.rows.size(), 3u);
    EXPECT_EQ(r.rows[0][1].s, "bir");
    EXPECT_EQ(r.rows[1][1].s, kTurkish);
    EXPECT_TRUE(r.rows[1][2].IsNull());
    EXPECT_EQ(r.rows[2][1].s, "dört");
    EXPECT_DOUBLE_EQ(r.rows[2][2].f, 4.25);
    // The reading text again, with another value: a fresh result, not the previous one.
    r = Query("SELECT id, ad, tutar FROM r WHERE id >= ? ORDER BY id", {Value::Integer(4)});
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0][0].i, 4);
}

TEST(OdbcConnectTest, FailuresAreDatabaseErrorsWithTheDriverManagersText) {
    try {
        OpenOdbcBackend("DRIVER={NoSuchOdbcDriver};Database=x");
        ADD_FAILURE() << "connected to a driver that does not exist";
    } catch (const EDatabaseError& e) {
        EXPECT_THAT(e.what(), HasSubstr("NoSuchOdbcDriver"));
    }
    EXPECT_THROW(OpenOdbcBackend(SqliteConnectionString("/nonexistent-folder/sub/x.db")), EDatabaseError);
    // Nothing listens on port 1: the login fails with the driver's text instead of hanging or crashing.
    EXPECT_THROW(OpenSqlServerBackend({"127.0.0.1,1", "db", "user", "secret"}), EDatabaseError);
}

TEST_F(OdbcSqliteTest, LastIdentityFollowsEachInsert) {
    Exec("CREATE TABLE q (id INTEGER PRIMARY KEY AUTOINCREMENT, durum INTEGER DEFAULT 0, metin TEXT)");
    for (int64_t expected = 1; expected <= 3; ++expected) {
        Exec("INSERT INTO q (metin) VALUES (?)", {Value::Text("m" + std::to_string(expected))});
        EXPECT_EQ(backend_->LastIdentity(), expected);
    }
    Exec("INSERT INTO q DEFAULT VALUES");
    EXPECT_EQ(backend_->LastIdentity(), 4);
    Exec("SELECT * FROM q");  // reading leaves it alone
    EXPECT_EQ(backend_->LastIdentity(), 4);
}

TEST_F(OdbcSqliteTest, KeyColumnAndTableColumns) {
    Exec("CREATE TABLE tbNuvoListe (id INTEGER PRIMARY KEY AUTOINCREMENT, zaman DATETIME, aciklama TEXT, durum INTEGER)");
    Exec("CREATE TABLE kodlu (Kod TEXT PRIMARY KEY, ad TEXT)");
    Exec("CREATE TABLE anahtarsiz (b TEXT, a TEXT)");
    Exec("CREATE TABLE ikili (x INTEGER, y INTEGER, PRIMARY KEY (x, y))");
    Exec("CREATE TABLE t_x (onlyhere INTEGER)");
    Exec("CREATE TABLE tAx (other INTEGER)");

    struct Case {
        std::string table, key;
        std::vector<std::string> columns;
    };
    const std::vector<Case> cases = {
        {"tbNuvoListe", "id", {"id", "zaman", "aciklama", "durum"}},
        {"TBNUVOLISTE", "id", {"id", "zaman", "aciklama", "durum"}},
        {"kodlu", "Kod", {"Kod", "ad"}},
        {"anahtarsiz", "", {"b", "a"}},
        {"ikili", "", {"x", "y"}},  // one column of a composite key would update several rows
        {"t_x", "", {"onlyhere"}},  // '_' is a wildcard in catalog patterns; tAx must not answer
        {"nosuch", "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        EXPECT_EQ(backend_->KeyColumn(c.table), c.key);
        EXPECT_EQ(backend_->TableColumns(c.table), c.columns);
    }
}

// ---------------------------------------------------------------------------------------------
// The query facade over this backend

TEST_F(OdbcSqliteTest, FacadeAppendsPostsLocatesAndEditsRows) {
    Exec("CREATE TABLE tbNuvoListe (id INTEGER PRIMARY KEY AUTOINCREMENT, durum INTEGER NOT NULL DEFAULT 0,"
         " telefon TEXT, mesaj TEXT, zaman DATETIME)");
    TDbConnection connection;
    connection.AttachBackend(std::move(backend_));

    TDbQuery query(&connection);
    query.SetSQL("SELECT * FROM tbNuvoListe WHERE id = -1");
    query.Open();
    EXPECT_EQ(query.RecordCount(), 0);
    std::vector<int32_t> ids;
    for (int k = 0; k < 3; ++k) {
        query.Append();
        query.FieldByName("telefon").SetValue("90532000000" + std::to_string(k));
        query.FieldByName("mesaj").SetValue(kTurkish);
        query.FieldByName("zaman").SetDateTime(DT(2024, 3, 1 + k, 9, 30));
        query.Post();
        ids.push_back(query.FieldByName("id").AsInteger());
    }
    EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3}));
    query.Append();
    query.Post();  // nothing written: the table's defaults
    int32_t blankId = query.FieldByName("id").AsInteger();
    EXPECT_EQ(blankId, 4);
    EXPECT_TRUE(query.FieldByName("durum").IsNull()) << "defaults are not read back";

    for (int32_t id : ids) {
        ASSERT_TRUE(query.Locate("id", Value::Integer(id)));
        EXPECT_EQ(query.FieldByName("telefon").AsString(), "90532000000" + std::to_string(id - 1));
    }
    ASSERT_TRUE(query.Locate("id", Value::Integer(2)));
    query.Edit();
    query.FieldByName("durum").SetValue(int64_t{1});
    query.Post();
    ASSERT_TRUE(query.Locate("id", Value::Integer(blankId)));
    query.Edit();
    query.FieldByName("mesaj").SetValue("sonradan");
    query.Post();
    query.Close();

    query.SetSQL("SELECT id, durum, mesaj, zaman FROM tbNuvoListe WHERE zaman >= :bas OR id = :bos ORDER BY id");
    query.ParamByName("bas").SetAsDate(DT(2024, 3, 2));
    query.ParamByName("bos").SetValue(int64_t{blankId});
    query.Open();
    ASSERT_EQ(query.RecordCount(), 3);
    EXPECT_EQ(query.FieldByName("id").AsInteger(), 2);
    EXPECT_EQ(query.FieldByName("durum").AsInteger(), 1);
    EXPECT_EQ(query.FieldByName("mesaj").AsString(), kTurkish);
    EXPECT_EQ(DateTimeToMilliseconds(query.FieldByName("zaman").AsDateTime()),
              DateTimeToMilliseconds(DT(2024, 3, 2, 9, 30)));
    query.Next();
    EXPECT_EQ(query.FieldByName("id").AsInteger(), 3);
    query.Next();
    EXPECT_EQ(query.FieldByName("id").AsInteger(), blankId);
    EXPECT_EQ(query.FieldByName("durum").AsInteger(), 0);  // the table's default was applied
    EXPECT_EQ(query.FieldByName("mesaj").AsString(), "sonradan");
    EXPECT_TRUE(query.FieldByName("zaman").IsNull());
}

// ---------------------------------------------------------------------------------------------
// Connection strings for SQL Server

TEST(OdbcConnectionStringTest, QuotesValuesThatCouldEndOrAddAttributes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "plain"},
        {"", ""},
        {"pa;ss", "{pa;ss}"},
        {"a}b", "{a}}b}"},
        {"{x", "{{x}"},
        {"x;PWD=y;DATABASE=master", "{x;PWD=y;DATABASE=master}"},
        {" padded ", "{ padded }"},
        {"p=q", "p=q"},
    };
    for (const auto& [value, quoted] : cases) EXPECT_EQ(QuoteOdbcValue(value), quoted) << value;
}

TEST(OdbcConnectionStringTest, BuildsTheDriversConnectionString) {
    struct Case {
        OdbcDriverFamily family;
        std::string driver;
        ConnectParams params;
        std::string expected;
    };
    const std::string tail = ";TDS_Version=7.4;ClientCharset=UTF-8";
    const std::vector<Case> cases = {
        {OdbcDriverFamily::Microsoft, "SQL Server", {"SRV01\\SQLEXPRESS", "Nuvo", "sa", "gizli"},
         "DRIVER={SQL Server};SERVER=SRV01\\SQLEXPRESS;DATABASE=Nuvo;UID=sa;PWD=gizli"},
        {OdbcDriverFamily::Microsoft, "ODBC Driver 18 for SQL Server", {"10.0.0.5,1450", "Nuvo", "sa", "a;b}"},
         "DRIVER={ODBC Driver 18 for SQL Server};SERVER=10.0.0.5,1450;DATABASE=Nuvo;UID=sa;PWD={a;b}}}"},
        {OdbcDriverFamily::FreeTds, "FreeTDS", {"db.example", "Nuvo", "sa", "gizli"},
         "DRIVER={FreeTDS};SERVER=db.example;PORT=1433;DATABASE=Nuvo;UID=sa;PWD=gizli" + tail},
        {OdbcDriverFamily::FreeTds, "FreeTDS", {" SRV01\\SQLEXPRESS ", "Nuvo", "sa", "gizli"},
         "DRIVER={FreeTDS};SERVER=SRV01\\SQLEXPRESS;DATABASE=Nuvo;UID=sa;PWD=gizli" + tail},
        {OdbcDriverFamily::FreeTds, "FreeTDS", {"10.0.0.5,14330", "Nuvo", "sa", "gizli"},
         "DRIVER={FreeTDS};SERVER=10.0.0.5;PORT=14330;DATABASE=Nuvo;UID=sa;PWD=gizli" + tail},
        {OdbcDriverFamily::FreeTds, "FreeTDS", {"tcp:SRV01\\INST, 1500", "Nuvo", "sa", "gizli"},
         "DRIVER={FreeTDS};SERVER=SRV01;PORT=1500;DATABASE=Nuvo;UID=sa;PWD=gizli" + tail},
        {OdbcDriverFamily::FreeTds, "FreeTDS", {"(local)", "Nuvo", "sa", "gizli"},
         "DRIVER={FreeTDS};SERVER=localhost;PORT=1433;DATABASE=Nuvo;UID=sa;PWD=gizli" + tail},
        {OdbcDriverFamily::FreeTds, "FreeTDS", {".", "Nuvo", "sa", "x;TDS_Version=4.2"},
         "DRIVER={FreeTDS};SERVER=localhost;PORT=1433;DATABASE=Nuvo;UID=sa;PWD={x;TDS_Version=4.2}" + tail},
        {OdbcDriverFamily::FreeTds, "FreeTDS", {"db", "Müşteri DB", "kullanıcı", "şifre}"},
         "DRIVER={FreeTDS};SERVER=db;PORT=1433;DATABASE=Müşteri DB;UID=kullanıcı;PWD={şifre}}" + tail},
        {OdbcDriverFamily::FreeTds, "FreeTDS", {"db", "{Nuvo}", " sa", "a}b;c}}"},
         "DRIVER={FreeTDS};SERVER=db;PORT=1433;DATABASE={{Nuvo}};UID={ sa};PWD={a}b;c}}}" + tail},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params.server);
        EXPECT_EQ(BuildSqlServerConnectionString(c.params, c.family, c.driver), c.expected);
    }
}

TEST(OdbcConnectionStringTest, FreeTdsRefusesValuesItCannotRead) {
    for (const ConnectParams& p : {ConnectParams{"db", "d", "u", "a};PWD=b"}, ConnectParams{"db", "d", "u};", "p"},
                                   ConnectParams{"db", "x};y", "u", "p"}}) {
        SCOPED_TRACE(p.username + " " + p.password);
        try {
            BuildSqlServerConnectionString(p, OdbcDriverFamily::FreeTds, "FreeTDS");
            ADD_FAILURE() << "no error";
        } catch (const EDatabaseError& e) {
            EXPECT_NE(std::string(e.what()).find("};"), std::string::npos) << e.what();
        }
    }
    // Microsoft's drivers read doubled braces, so the same values reach them.
    EXPECT_EQ(BuildSqlServerConnectionString({"db", "d", "u", "a};b"}, OdbcDriverFamily::Microsoft, "SQL Server"),
              "DRIVER={SQL Server};SERVER=db;DATABASE=d;UID=u;PWD={a}};b}");
}

TEST(OdbcConnectionStringTest, RejectsServerNamesWithoutHostOrWithABadPort) {
    for (const std::string server : {"", "  ", "host,", "host,abc", "host,0", "host,70000", ",1433", "\\INST"}) {
        SCOPED_TRACE("'" + server + "'");
        EXPECT_THROW(BuildSqlServerConnectionString({server, "d", "u", "p"}, OdbcDriverFamily::FreeTds, "FreeTDS"),
                     EDatabaseError);
    }
}

TEST(OdbcConnectionStringTest, EnvironmentVariableOverridesThePlatformsDriver) {
    const ConnectParams params{"db,1500", "Nuvo", "sa", "gizli"};
    {
        test::ScopedEnv scope("VELMORA_ODBC_DRIVER", "");
#ifdef _WIN32
        EXPECT_EQ(SqlServerConnectionString(params), "DRIVER={SQL Server};SERVER=db,1500;DATABASE=Nuvo;UID=sa;PWD=gizli");
#else
        EXPECT_EQ(SqlServerConnectionString(params),
                  "DRIVER={FreeTDS};SERVER=db;PORT=1500;DATABASE=Nuvo;UID=sa;PWD=gizli;TDS_Version=7.4;ClientCharset=UTF-8");
#endif
    }
    {
        test::ScopedEnv scope("VELMORA_ODBC_DRIVER", "ODBC Driver 18 for SQL Server");
        EXPECT_EQ(SqlServerConnectionString(params),
                  "DRIVER={ODBC Driver 18 for SQL Server};SERVER=db,1500;DATABASE=Nuvo;UID=sa;PWD=gizli");
    }
    {
        test::ScopedEnv scope("VELMORA_ODBC_DRIVER", "FreeTDS");
        EXPECT_EQ(SqlServerConnectionString(params),
                  "DRIVER={FreeTDS};SERVER=db;PORT=1500;DATABASE=Nuvo;UID=sa;PWD=gizli;TDS_Version=7.4;ClientCharset=UTF-8");
    }
}

TEST(OdbcConnectionStringTest, ExtraAttributesReplaceOrAddAndCannotChangeTheLogin) {
    const std::string base = "DRIVER={FreeTDS};SERVER=db;PORT=1433;DATABASE=Nuvo;UID=sa;PWD={a;b}}};TDS_Version=7.4";
    struct Case {
        std::string extra;
        std::string expected;  // empty: an error naming the attribute is expected
        std::string error;
    };
    const std::vector<Case> cases = {
        {"", base, ""},
        {"  ", base, ""},
        {"Encrypt=yes;TrustServerCertificate=yes", base + ";Encrypt=yes;TrustServerCertificate=yes", ""},
        {"tds_version=7.3;", "DRIVER={FreeTDS};SERVER=db;PORT=1433;DATABASE=Nuvo;UID=sa;PWD={a;b}}};TDS_Version=7.3", ""},
        {" ApplicationIntent = ReadOnly ; ;MultiSubnetFailover=Yes",
         base + ";ApplicationIntent=ReadOnly;MultiSubnetFailover=Yes", ""},
        {"HostNameInCertificate={sql;01.example}", base + ";HostNameInCertificate={sql;01.example}", ""},
        {"PWD=other", "", "\"PWD\" cannot be set"},
        {"Encrypt=yes;server=evil", "", "\"server\" cannot be set"},
        {"Driver={SQL Server}", "", "\"Driver\" cannot be set"},
        {"Encrypt", "", "\"Encrypt\" has no value"},
        {"Cert={unclosed", "", "unclosed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("'" + c.extra + "'");
        if (c.expected.empty()) {
            try {
                AddConnectionAttributes(base, c.extra);
                ADD_FAILURE() << "accepted";
            } catch (const EDatabaseError& e) {
                EXPECT_THAT(e.what(), HasSubstr(c.error));
            }
        } else {
            EXPECT_EQ(AddConnectionAttributes(base, c.extra), c.expected);
        }
    }
}

TEST(OdbcConnectionStringTest, SettingsDriverWinsOverTheEnvironmentVariableAndAttributesComeLast) {
    const ConnectParams params{"db,1500", "Nuvo", "sa", "gizli"};
    test::ScopedEnv scope("VELMORA_ODBC_DRIVER", "FreeTDS");
    ConnectionOptions options;
    options.odbcDriver = "ODBC Driver 18 for SQL Server";
    options.odbcAttributes = "Encrypt=yes;TrustServerCertificate=yes";
    EXPECT_EQ(SqlServerConnectionString(params, options),
              "DRIVER={ODBC Driver 18 for SQL Server};SERVER=db,1500;DATABASE=Nuvo;UID=sa;PWD=gizli;Encrypt=yes;"
              "TrustServerCertificate=yes");
    options.odbcDriver = "  ";
    EXPECT_EQ(SqlServerConnectionString(params, options),
              "DRIVER={FreeTDS};SERVER=db;PORT=1500;DATABASE=Nuvo;UID=sa;PWD=gizli;TDS_Version=7.4;ClientCharset=UTF-8;"
              "Encrypt=yes;TrustServerCertificate=yes");
}

// ---------------------------------------------------------------------------------------------
// Column kinds: the old "SQL Server" driver reports date, time and datetime2 columns as text

TEST(OdbcColumnPlanTest, DateAndTimeColumnsReportedAsTextReadAsDateTimes) {
    struct Case {
        SQLSMALLINT type;
        std::string typeName;
        ValueKind declared;
    };
    const std::vector<Case> cases = {
        {SQL_WVARCHAR, "date", ValueKind::DateTime},
        {SQL_WVARCHAR, "time", ValueKind::DateTime},
        {SQL_WVARCHAR, "datetime2", ValueKind::DateTime},
        {SQL_VARCHAR, "DateTimeOffset", ValueKind::DateTime},
        {SQL_WVARCHAR, "nvarchar", ValueKind::Text},
        {SQL_VARCHAR, "varchar", ValueKind::Text},
        {SQL_WVARCHAR, "", ValueKind::Text},
        {SQL_TYPE_TIMESTAMP, "datetime", ValueKind::DateTime},
        {SQL_INTEGER, "date", ValueKind::Integer},  // a type the driver knows is read as that type
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typeName);
        EXPECT_EQ(odbc::PlanFor(c.type, c.typeName).declared, c.declared);
    }

    struct Text {
        std::string text;
        TDateTime expected;  // < 0: not a date-time
    };
    const std::vector<Text> texts = {
        {"2024-02-29", DT(2024, 2, 29)},
        {"2024-05-01 10:20:30", DT(2024, 5, 1, 10, 20, 30)},
        {"2024-05-01 10:20:30.1234567", DT(2024, 5, 1, 10, 20, 30, 123)},
        {"2024-05-01 10:20:30.1234567 +03:00", DT(2024, 5, 1, 10, 20, 30, 123)},
        {"10:20:30.2500000", EncodeTime(10, 20, 30, 250)},
        {"23:59:59", EncodeTime(23, 59, 59, 0)},
        {"  2024-05-01  ", DT(2024, 5, 1)},
        {"01/05/2024", -1},
        {"2024-13-01", -1},
        {"25:00:00", -1},
        {"", -1},
    };
    for (const Text& t : texts) {
        SCOPED_TRACE("'" + t.text + "'");
        TDateTime d = 0;
        const bool ok = odbc::ParseDateTimeText(t.text, d);
        EXPECT_EQ(ok, t.expected >= 0);
        if (ok) {
            EXPECT_EQ(DateTimeToMilliseconds(d), DateTimeToMilliseconds(t.expected));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Live SQL Server

class OdbcMssqlTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::optional<ConnectParams> live = test::LiveSqlServer();
        if (!live) GTEST_SKIP() << "VELMORA_TEST_MSSQL not set: live SQL Server tests skipped";
        backend_ = OpenSqlServerBackend(*live);
        table_ = "velmora_odbc_test_" + std::to_string(getpid());
        Exec("IF OBJECT_ID('" + table_ + "') IS NOT NULL DROP TABLE " + table_);
        Exec("CREATE TABLE " + table_ + " (id INT IDENTITY(1,1) PRIMARY KEY, durum INT NOT NULL DEFAULT 0, "
             "metin NVARCHAR(400) NULL, tutar MONEY NULL, zaman DATETIME NULL, veri VARBINARY(MAX) NULL)");
    }
    void TearDown() override {
        if (backend_) {
            try {
                Exec("IF OBJECT_ID('" + table_ + "') IS NOT NULL DROP TABLE " + table_);
            } catch (const Error&) {
            }
        }
    }
    ResultData Query(const std::string& sql, const std::vector<Value>& params = {}) {
        ResultData r;
        backend_->Execute(sql, params, &r);
        return r;
    }
    void Exec(const std::string& sql, const std::vector<Value>& params = {}) { backend_->Execute(sql, params, nullptr); }

    std::unique_ptr<IDbBackend> backend_;
    std::string table_;
};

TEST_F(OdbcMssqlTest, FetchesSqlServerKindsTyped) {
    ResultData r = Query(
        "SELECT CAST(-5 AS int) AS i, CAST(1 AS bit) AS b, CAST(12.3456 AS money) AS m, CAST(0.5 AS decimal(10,4)) AS d,"
        " CAST(1.5 AS float) AS f, CAST('2024-05-01T10:20:30.123' AS datetime2(3)) AS dt, CAST('10:20:30.250' AS time) AS t,"
        " N'" + kTurkish + "' AS n, CAST(0x00FF AS varbinary(10)) AS v, CAST(NULL AS int) AS z");
    ASSERT_EQ(r.rows.size(), 1u);
    const std::vector<Value> expected = {
        Value::Integer(-5), Value::Integer(1), Value::Float(12.3456), Value::Float(0.5), Value::Float(1.5),
        Value::DateTime(DT(2024, 5, 1, 10, 20, 30, 123)), Value::DateTime(EncodeTime(10, 20, 30, 250)),
        Value::Text(kTurkish), Value::Blob(std::string("\x00\xff", 2)), Value::Null(),
    };
    ASSERT_EQ(r.rows[0].size(), expected.size());
    for (size_t c = 0; c < expected.size(); ++c) ExpectSameValue(expected[c], r.rows[0][c], r.columns[c].name);
}

TEST_F(OdbcMssqlTest, InsertsWithParametersReadIdentityAndKeys) {
    for (int64_t expected = 1; expected <= 3; ++expected) {
        Exec("INSERT INTO " + table_ + " (metin, tutar, zaman, veri) VALUES (?, ?, ?, ?)",
             {Value::Text(kTurkish), Value::Float(12.5), Value::DateTime(DT(2024, 1, 13, 8, 30)), Value::Null()});
        EXPECT_EQ(backend_->LastIdentity(), expected);
    }
    Exec("INSERT INTO " + table_ + " DEFAULT VALUES");
    EXPECT_EQ(backend_->LastIdentity(), 4);

    ResultData r = Query("SELECT metin, tutar, zaman, veri, durum FROM " + table_ + " WHERE id = ?", {Value::Integer(2)});
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0][0].s, kTurkish);
    EXPECT_DOUBLE_EQ(r.rows[0][1].f, 12.5);
    EXPECT_EQ(DateTimeToMilliseconds(r.rows[0][2].f), DateTimeToMilliseconds(DT(2024, 1, 13, 8, 30)));
    EXPECT_TRUE(r.rows[0][3].IsNull());
    EXPECT_EQ(r.rows[0][4].i, 0);

    EXPECT_EQ(backend_->KeyColumn(table_), "id");
    EXPECT_EQ(backend_->TableColumns(table_), (std::vector<std::string>{"id", "durum", "metin", "tutar", "zaman", "veri"}));
}

TEST_F(OdbcMssqlTest, ServerErrorTextAndSessionSettings) {
    try {
        Exec("SELECT * FROM velmora_no_such_table");
        ADD_FAILURE() << "no error raised";
    } catch (const EDatabaseError& e) {
        EXPECT_THAT(e.what(), HasSubstr("Invalid object name 'velmora_no_such_table'."));
    }
    Exec("SET DATEFORMAT dmy");
    ResultData r = Query("SELECT CAST('13/01/2024' AS datetime)");
    ExpectSameValue(Value::DateTime(DT(2024, 1, 13)), r.rows[0][0], "day-first literal");
}

} // namespace
} // namespace velmora::db
