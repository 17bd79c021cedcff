// The embedded database backend itself: opening, parameters, value kinds, identities, table
// metadata, errors and the statement cache.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "db/DbBackend.h"
#include "platform/Error.h"
#include "tests/TestSupport.h"

using namespace velmora;
using namespace velmora::db;
using velmora::test::DT;
using velmora::test::TempDir;

namespace {

class SqliteBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.File("tenant.db");
        velmora::test::CreateSqliteDatabase(path_, "tools/schema/tenant.sqlite.sql");
        db_ = OpenSqliteBackend(path_);
    }

    ResultData Query(const std::string& sql, const std::vector<Value>& params = {}) {
        ResultData r;
        db_->Execute(sql, params, &r);
        return r;
    }
    void Exec(const std::string& sql, const std::vector<Value>& params = {}) { db_->Execute(sql, params, nullptr); }
    std::string ErrorOf(const std::string& sql, const std::vector<Value>& params = {}) {
        try {
            Exec(sql, params);
        } catch (const EDatabaseError& e) {
            return e.what();
        }
        return "<no error>";
    }
    int64_t Count(const std::string& table) {
        ResultData r = Query("SELECT count(*) FROM " + table);
        return r.rows.at(0).at(0).i;
    }

    TempDir dir_;
    std::string path_;
    std::unique_ptr<IDbBackend> db_;
};

// --- Opening ----------------------------------------------------------------------------------

TEST(SqliteBackendOpen, MissingFileFailsAndIsNotCreated) {
    TempDir dir;
    const std::string path = dir.File("mistyped.db");
    try {
        OpenSqliteBackend(path);
        FAIL() << "opened a file that does not exist";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("unable to open database file"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(SqliteBackendOpen, FileThatIsNoDatabaseFails) {
    TempDir dir;
    const std::string path = dir.File("Settings.xml");
    std::ofstream(path) << "<?xml version=\"1.0\"?><Ayarlar><VeriTabani><Sunucu>x</Sunucu></VeriTabani></Ayarlar>"
                        << std::string(200, ' ');
    try {
        OpenSqliteBackend(path);
        FAIL() << "opened a file that is not a database";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("file is not a database"), std::string::npos) << e.what();
    }
}

TEST(SqliteBackendOpen, EmptyPathFails) { EXPECT_THROW(OpenSqliteBackend(""), EDatabaseError); }

TEST_F(SqliteBackendTest, SessionUsesWriteAheadLogging) {
    EXPECT_EQ(Query("PRAGMA journal_mode").rows.at(0).at(0).s, "wal");
    EXPECT_EQ(Query("PRAGMA synchronous").rows.at(0).at(0).i, 1);  // NORMAL
}

// --- Parameters and value kinds -------------------------------------------------------------

TEST_F(SqliteBackendTest, ParametersOfEveryKindRoundTrip) {
    Exec("CREATE TABLE p (i INT, f REAL, t VARCHAR(50), d DATETIME, b BLOB, n INT)");
    const std::string bytes("\x00\x01<OzelSorgu/>\xff", 15);
    const TDateTime moment = DT(2013, 3, 21, 14, 5, 10, 123);
    Exec("INSERT INTO p VALUES (?, ?, ?, ?, ?, ?)",
         {Value::Integer(-5000000000LL), Value::Float(1234.5), Value::Text("Şükrü 'ÇİĞ' :x ?"), Value::DateTime(moment),
          Value::Blob(bytes), Value::Null()});

    ResultData r = Query("SELECT i, f, t, d, b, n, typeof(d), d AS raw FROM p");
    ASSERT_EQ(r.rows.size(), 1u);
    const auto& row = r.rows[0];
    EXPECT_EQ(row[0].kind, ValueKind::Integer);
    EXPECT_EQ(row[0].i, -5000000000LL);
    EXPECT_EQ(row[1].kind, ValueKind::Float);
    EXPECT_EQ(row[1].f, 1234.5);
    EXPECT_EQ(row[2].kind, ValueKind::Text);
    EXPECT_EQ(row[2].s, "Şükrü 'ÇİĞ' :x ?");
    EXPECT_EQ(row[3].kind, ValueKind::DateTime);
    EXPECT_EQ(DateTimeToMilliseconds(row[3].f), DateTimeToMilliseconds(moment));
    EXPECT_EQ(row[4].kind, ValueKind::Blob);
    EXPECT_EQ(row[4].s, bytes);
    EXPECT_EQ(row[5].kind, ValueKind::Null);
    // Date-times are stored as the one fixed-width text.
    EXPECT_EQ(row[6].s, "text");
    EXPECT_EQ(row[7].kind, ValueKind::DateTime);
    EXPECT_EQ(Query("SELECT d || '|' FROM p").rows[0][0].s, "2013-03-21 14:05:10.123|");
}

TEST_F(SqliteBackendTest, ParameterCountMustMatch) {
    EXPECT_EQ(ErrorOf("SELECT ? + ?", {Value::Integer(1)}), "The statement has 2 parameter markers but 1 values were given");
    EXPECT_EQ(ErrorOf("SELECT 1", {Value::Integer(1)}), "The statement has 0 parameter markers but 1 values were given");
}

TEST_F(SqliteBackendTest, DateTimeParameterOutOfRangeIsRefused) {
    EXPECT_NE(ErrorOf("SELECT ?", {Value::DateTime(std::nan(""))}).find("out of range"), std::string::npos);
    EXPECT_NE(ErrorOf("SELECT ?", {Value::DateTime(1e300)}).find("out of range"), std::string::npos);
}

TEST_F(SqliteBackendTest, DeclaredKindsOfColumns) {
    ResultData r = Query("SELECT id, gsm, mesaj, rapor_id, gonderme_baslangic, 1 + 1 AS x FROM tbNuvoListe");
    ASSERT_EQ(r.columns.size(), 6u);
    EXPECT_EQ(r.columns[0].declared, ValueKind::Integer);
    EXPECT_EQ(r.columns[1].declared, ValueKind::Text);
    EXPECT_EQ(r.columns[2].declared, ValueKind::Text);
    EXPECT_EQ(r.columns[3].declared, ValueKind::Integer);
    EXPECT_EQ(r.columns[4].declared, ValueKind::DateTime);
    EXPECT_EQ(r.columns[5].declared, ValueKind::Null);

    r = Query("SELECT xml, saat FROM tbNuvoSorguListesi");
    EXPECT_EQ(r.columns[0].declared, ValueKind::Blob);
    EXPECT_EQ(r.columns[1].declared, ValueKind::DateTime);
    r = Query("SELECT lNetTutar, bTeslimEdildi FROM tbAlisVeris, tbAlisverisSiparis");
    EXPECT_EQ(r.columns[0].declared, ValueKind::Float);
    EXPECT_EQ(r.columns[1].declared, ValueKind::Integer);
}

TEST_F(SqliteBackendTest, ReadingDateTimes) {
    Exec("INSERT INTO tbNuvoSonKontrol (alisveris_sonrasi, ozel_gunler, taksit_hatirlatma, gecikmis_odeme) "
         "VALUES ('2013-03-21', 0, 41352.5, 'yarın')");
    ResultData r = Query("SELECT alisveris_sonrasi, ozel_gunler, taksit_hatirlatma, gecikmis_odeme, "
                         "'2013-03-21 14:05:10.123' || '' AS exact, substr('2013-03-21 14:05:10.123', 1, 10) AS shorter FROM tbNuvoSonKontrol");
    ASSERT_EQ(r.rows.size(), 1u);
    const auto& row = r.rows[0];
    EXPECT_EQ(row[0].kind, ValueKind::DateTime);
    EXPECT_EQ(row[0].f, DT(2013, 3, 21));
    // Numbers are SQL Server datetime numbers: 0 is 1 January 1900.
    EXPECT_EQ(row[1].kind, ValueKind::DateTime);
    EXPECT_EQ(row[1].f, DT(1900, 1, 1));
    EXPECT_EQ(row[2].kind, ValueKind::DateTime);
    EXPECT_EQ(row[2].f, DT(2013, 3, 21, 12));
    EXPECT_EQ(row[3].kind, ValueKind::Text);
    EXPECT_EQ(row[3].s, "yarın");
    EXPECT_EQ(row[4].kind, ValueKind::DateTime);  // an expression in the stored form
    EXPECT_EQ(row[5].kind, ValueKind::Text);      // other text stays text
}

TEST_F(SqliteBackendTest, WholeMoneyAmountsReadAsAmounts) {
    Exec("INSERT INTO tbAlisVeris (nAlisverisID, lNetTutar, lMalBedeli) VALUES (1, 150, 99.95)");
    ResultData r = Query("SELECT lNetTutar, lMalBedeli, nAlisverisID FROM tbAlisVeris");
    EXPECT_EQ(r.rows[0][0].kind, ValueKind::Float);
    EXPECT_EQ(r.rows[0][0].f, 150.0);
    EXPECT_EQ(r.rows[0][1].f, 99.95);
    EXPECT_EQ(r.rows[0][2].kind, ValueKind::Integer);
}

TEST_F(SqliteBackendTest, ResultSetOrNone) {
    ResultData r;
    r.rows.push_back({Value::Integer(1)});  // left over from an earlier use
    db_->Execute("SELECT * FROM tbNuvoListe WHERE id = -1", {}, &r);
    EXPECT_TRUE(r.hasResultSet);
    EXPECT_TRUE(r.rows.empty());
    ASSERT_EQ(r.columns.size(), 15u);
    EXPECT_EQ(r.columns[0].name, "id");

    db_->Execute("INSERT INTO tbNuvoListe DEFAULT VALUES", {}, &r);
    EXPECT_FALSE(r.hasResultSet);
    EXPECT_TRUE(r.columns.empty());
}

TEST_F(SqliteBackendTest, ColumnNamesAsTheServerReturnsThem) {
    ResultData r = Query("SELECT tbMusteri.sAdi, sgsm, lKodu AS Kodu, GETDATE() AS DateTime FROM tbMusteri");
    ASSERT_EQ(r.columns.size(), 4u);
    EXPECT_EQ(r.columns[0].name, "sAdi");
    EXPECT_EQ(r.columns[2].name, "Kodu");
    EXPECT_EQ(r.columns[3].name, "DateTime");
}

// --- Identities and table metadata ----------------------------------------------------------

TEST_F(SqliteBackendTest, LastIdentityOfEachInsert) {
    Exec("INSERT INTO tbNuvoListe (mesaj_grubu, gsm, mesaj, durum) VALUES (?, ?, ?, ?)",
         {Value::Integer(4), Value::Text("05321112233"), Value::Text("a"), Value::Integer(0)});
    EXPECT_EQ(db_->LastIdentity(), 1);
    Exec("INSERT INTO tbNuvoListe DEFAULT VALUES");
    EXPECT_EQ(db_->LastIdentity(), 2);
    ResultData r = Query("SELECT durum FROM tbNuvoListe WHERE id = 2");
    EXPECT_EQ(r.rows.at(0).at(0).i, 0);  // the table's default
    // AUTOINCREMENT: an identity is never given out twice, even after the newest row is deleted.
    Exec("DELETE FROM tbNuvoListe WHERE id = 2");
    Exec("INSERT INTO tbNuvoListe DEFAULT VALUES");
    EXPECT_EQ(db_->LastIdentity(), 3);
}

TEST_F(SqliteBackendTest, KeyColumnOfTables) {
    EXPECT_EQ(db_->KeyColumn("tbNuvoListe"), "id");
    EXPECT_EQ(db_->KeyColumn("tbnuvosonkontrol"), "id");
    EXPECT_EQ(db_->KeyColumn("dbo.tbNuvoSorguListesi"), "id");
    EXPECT_EQ(db_->KeyColumn("[tbDepo]"), "sDepo");
    EXPECT_EQ(db_->KeyColumn("tbNuvoOnOdemeliSiparisGonderilen"), "");
    Exec("CREATE TABLE twoKeys (a INT, b INT, PRIMARY KEY (a, b))");
    EXPECT_EQ(db_->KeyColumn("twoKeys"), "");
    EXPECT_THROW(db_->KeyColumn("tbYok"), EDatabaseError);
}

TEST_F(SqliteBackendTest, TableColumnsInTableOrder) {
    const std::vector<std::string> expected = {"id",          "mesaj_grubu",        "gsm",            "mesaj",
                                               "durum",       "rapor_id",           "aciklama",       "hemen_gonder",
                                               "gonderme_baslangic", "gonderme_bitis", "sms_sayisi",   "kayit_tarihi",
                                               "gonderme_tarihi",    "originator",     "sms_tipi"};
    EXPECT_EQ(db_->TableColumns("tbNuvoListe"), expected);
    try {
        db_->TableColumns("tbYok");
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "no such table: tbYok");
    }
}

// --- Errors ---------------------------------------------------------------------------------

TEST_F(SqliteBackendTest, ErrorsCarrySqliteText) {
    EXPECT_EQ(ErrorOf("SELECT * FROM tbNuvoSMSAyarlariX"), "no such table: tbNuvoSMSAyarlariX");
    EXPECT_EQ(ErrorOf("SELECT yok FROM tbNuvoSMSAyarlari"), "no such column: yok");
    EXPECT_EQ(ErrorOf("SELEC 1"), "near \"SELEC\": syntax error");
    EXPECT_EQ(ErrorOf("INSERT INTO tbNuvoOnOdemeliSiparisGonderilen (SiparisId) VALUES (?)", {Value::Null()}),
              "NOT NULL constraint failed: tbNuvoOnOdemeliSiparisGonderilen.SiparisId");
}

TEST_F(SqliteBackendTest, FailedRunLeavesTheCachedStatementUsable) {
    const std::string insert = "INSERT INTO tbNuvoOnOdemeliSiparisGonderilen (SiparisId) VALUES (?)";
    Exec(insert, {Value::Integer(1)});
    EXPECT_NE(ErrorOf(insert, {Value::Null()}), "<no error>");
    Exec(insert, {Value::Integer(2)});
    EXPECT_EQ(Count("tbNuvoOnOdemeliSiparisGonderilen"), 2);
    // A text that does not prepare fails the same way every time.
    EXPECT_EQ(ErrorOf("SELECT * FROM tbYok"), "no such table: tbYok");
    EXPECT_EQ(ErrorOf("SELECT * FROM tbYok"), "no such table: tbYok");
    Exec("CREATE TABLE tbYok (a INT)");
    EXPECT_EQ(ErrorOf("SELECT * FROM tbYok"), "<no error>");
}

// --- The statement cache --------------------------------------------------------------------

TEST_F(SqliteBackendTest, RepeatedInsertTextWithChangingValues) {
    const std::string insert = "INSERT INTO tbNuvoListe (mesaj_grubu, gsm, kayit_tarihi) VALUES (?, ?, ?)";
    for (int i = 0; i < 500; ++i)
        Exec(insert, {Value::Integer(i), Value::Text("05" + std::to_string(i)), Value::DateTime(DT(2013, 3, 22) + i / 1440.0)});
    ResultData r = Query("SELECT count(*), sum(mesaj_grubu), max(gsm), max(kayit_tarihi) FROM tbNuvoListe");
    EXPECT_EQ(r.rows[0][0].i, 500);
    EXPECT_EQ(r.rows[0][1].i, 499 * 500 / 2);
    EXPECT_EQ(r.rows[0][2].s, "0599");
    EXPECT_EQ(FormatIsoDateTime(r.rows[0][3].f), "2013-03-22 08:19:00.000");
}

TEST_F(SqliteBackendTest, SchemaChangeIsSeenByACachedText) {
    const std::string select = "SELECT * FROM tbNuvoYetkiliKullanici";
    EXPECT_EQ(Query(select).columns.size(), 2u);
    Exec("ALTER TABLE tbNuvoYetkiliKullanici ADD COLUMN adi VARCHAR(50)");
    EXPECT_EQ(Query(select).columns.size(), 3u);
}

TEST_F(SqliteBackendTest, ManyDistinctTextsStayCorrect) {
    // More distinct texts than the cache holds: evicted entries must not disturb later runs.
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 600; ++i) {
            ResultData r = Query("SELECT " + std::to_string(i) + " AS n, ? AS p", {Value::Integer(round)});
            ASSERT_EQ(r.rows.at(0).at(0).i, i);
            ASSERT_EQ(r.rows.at(0).at(1).i, round);
        }
    }
}

TEST_F(SqliteBackendTest, ParametersAreSharedOutAcrossTheStatementsOfOneText) {
    ResultData r = Query("INSERT INTO tbNuvoYetkiliKullanici (cep_telefonu) VALUES (?); SELECT ? AS x, count(*) AS n "
                         "FROM tbNuvoYetkiliKullanici WHERE cep_telefonu = ?",
                         {Value::Text("0532"), Value::Integer(7), Value::Text("0532")});
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(r.rows[0][0].i, 7);
    EXPECT_EQ(r.rows[0][1].i, 1);
}

TEST_F(SqliteBackendTest, TwoSessionsOnOneFile) {
    auto other = OpenSqliteBackend(path_);
    Exec("INSERT INTO tbNuvoYetkiliKullanici (cep_telefonu) VALUES ('1')");
    ResultData r;
    other->Execute("SELECT count(*) FROM tbNuvoYetkiliKullanici", {}, &r);
    EXPECT_EQ(r.rows[0][0].i, 1);
}

// --- Lock waits -------------------------------------------------------------------------------

// Another program's session holding the database's write lock until released.
class WriteLockHolder {
public:
    explicit WriteLockHolder(const std::string& path) {
        EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    }
    ~WriteLockHolder() {
        Release();
        sqlite3_close(db_);
    }
    void Release() {
        if (held_) sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        held_ = false;
    }
private:
    sqlite3* db_ = nullptr;
    bool held_ = true;
};

TEST_F(SqliteBackendTest, StatementBlockedByAnotherSessionsLockWaitsThenEndsAtTheCommandTimeOut) {
    const std::string insert = "INSERT INTO tbNuvoYetkiliKullanici (cep_telefonu) VALUES ('0532')";
    {
        // A high time-out: the insert stays blocked while the lock is held, and goes through once it is released.
        WriteLockHolder lock(path_);
        ConnectionOptions patient;
        patient.commandTimeoutSeconds = 600;
        auto session = OpenSqliteBackend(path_, patient);
        std::atomic<bool> finished{false};
        std::string error;
        std::thread writer([&] {
            try {
                session->Execute(insert, {}, nullptr);
            } catch (const std::exception& e) {
                error = e.what();
            }
            finished = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_FALSE(finished) << "the insert did not wait for the other session's lock";
        lock.Release();
        writer.join();
        EXPECT_EQ(error, "");
        EXPECT_EQ(Count("tbNuvoYetkiliKullanici"), 1);
    }
    {
        // A low time-out: the same wait ends with an error that says what happened, on every row tried,
        // and the session waits again normally once the lock is gone.
        WriteLockHolder lock(path_);
        ConnectionOptions hasty;
        hasty.commandTimeoutSeconds = 1;
        auto session = OpenSqliteBackend(path_, hasty);
        const char* expected[] = {"was stopped after the command time-out of 1 s", "is still locked by another session",
                                  "is still locked by another session"};
        for (const char* text : expected) {
            try {
                session->Execute(insert, {}, nullptr);
                ADD_FAILURE() << "the insert went through a held lock";
            } catch (const EDatabaseError& e) {
                EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
                EXPECT_NE(std::string(e.what()).find(path_), std::string::npos) << e.what();
            }
        }
        lock.Release();
        EXPECT_NO_THROW(session->Execute(insert, {}, nullptr));
        EXPECT_NO_THROW(session->Execute(insert, {}, nullptr));
        EXPECT_EQ(Count("tbNuvoYetkiliKullanici"), 3);
    }
}

} // namespace
