// One table of behaviours of TDbConnection/TDbQuery, run on the embedded SQLite backend, on the
// generic ODBC backend (through the SQLite ODBC driver) and on the SQL Server route (the platform's
// SQL Server driver talking TDS to the loopback simulator), so all honour what the callers rely on.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>

#include "db/DbConnection.h"
#include "db/StatementText.h"
#include "platform/Error.h"
#include "tests/RequestCountingBackend.h"
#include "tests/TestSupport.h"
#include "tests/TestWire.h"

using namespace velmora;
using namespace velmora::db;

namespace {

const char* kSchema = R"(
CREATE TABLE tbOrnek (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  ad VARCHAR(50),
  sayi INTEGER,
  tutar NUMERIC,
  tarih DATETIME,
  notlar VARCHAR(20) DEFAULT 'varsayilan'
);
INSERT INTO tbOrnek (ad, sayi, tutar, tarih) VALUES ('bir', 1, 12.5, '2013-03-21 14:05:10.000');
INSERT INTO tbOrnek (ad, sayi, tutar, tarih) VALUES (NULL, NULL, NULL, NULL);
)";

enum class Backend { Sqlite, OdbcSqlite, SqlServerWire };

const char* NameOf(Backend b) {
    switch (b) {
    case Backend::Sqlite: return "EmbeddedSqlite";
    case Backend::OdbcSqlite: return "OdbcSqliteDriver";
    case Backend::SqlServerWire: return "SqlServerWire";
    }
    return "";
}

void PrintTo(Backend b, std::ostream* os) { *os << NameOf(b); }

std::string BackendName(const testing::TestParamInfo<Backend>& info) { return NameOf(info.param); }

class FacadeTest : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        path_ = dir_.File("facade.db");
        test::RunSqliteScript(path_, kSchema);
        if (GetParam() == Backend::Sqlite) {
            conn_.Server = "sqlite:" + path_;
            conn_.SetConnected(true);
        } else if (GetParam() == Backend::SqlServerWire) {
            if (test::WireRouteUnavailable()) GTEST_SKIP() << "VELMORA_ODBC_DRIVER names no SQL Server driver";
            wire_ = std::make_unique<test::WirePeer>();
            wireDatabase_ = wire_->Serve(path_);
            wire_->Aim(conn_, wireDatabase_);
            conn_.SetConnected(true);
        } else {
            conn_.AttachBackend(OpenOdbcBackend(test::SqliteOdbcConnectionString(path_)));
        }
    }

    test::TempDir dir_;
    std::string path_;
    std::unique_ptr<test::WirePeer> wire_;  // before the connection: it outlives the session
    std::string wireDatabase_;
    TDbConnection conn_;
};

TEST_P(FacadeTest, NullColumnsReadAsEmptyZeroAndTheEpoch) {
    TDbQuery q(&conn_);
    q.SetSQL("SELECT * FROM tbOrnek WHERE ad IS NULL");
    q.Open();
    ASSERT_EQ(q.RecordCount(), 1);
    EXPECT_TRUE(q.FieldByName("ad").IsNull());
    EXPECT_EQ(q.FieldByName("ad").AsString(), "");
    EXPECT_EQ(q.FieldByName("sayi").AsInteger(), 0);
    EXPECT_EQ(q.FieldByName("tutar").AsCurrency().units, 0);
    EXPECT_EQ(q.FieldByName("tarih").AsDateTime(), 0.0);  // 30 December 1899 00:00
    EXPECT_TRUE(q.FieldByName("tarih").AsVariant().IsNull());
}

TEST_P(FacadeTest, TypedReadsOfAFullRow) {
    TDbQuery q(&conn_);
    q.SetSQL("SELECT * FROM tbOrnek WHERE sayi = 1");
    q.Open();
    ASSERT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldByName("ad").AsString(), "bir");
    EXPECT_EQ(q.FieldByName("sayi").AsString(), "1");
    EXPECT_EQ(q.FieldByName("tutar").AsCurrency().units, 125000);
    EXPECT_DOUBLE_EQ(q.FieldByName("tarih").AsDateTime(), test::DT(2013, 3, 21, 14, 5, 10));
    test::RegionalScope tr(platform::TurkishFormatSettings());
    EXPECT_EQ(q.FieldByName("tarih").AsString(), "21.03.2013 14:05:10");
}

TEST_P(FacadeTest, EmptyResultCountsZeroAndReadsLikeNull) {
    TDbQuery q(&conn_);
    q.SetSQL("SELECT * FROM tbOrnek WHERE id = -1");
    q.Open();
    EXPECT_EQ(q.RecordCount(), 0);
    EXPECT_TRUE(q.Eof());
    EXPECT_EQ(q.FieldByName("ad").AsString(), "");
    EXPECT_EQ(q.FieldByName("sayi").AsInteger(), 0);
    EXPECT_NO_THROW(q.Next());
}

TEST_P(FacadeTest, FieldByNameIgnoresCaseAndRejectsUnknownColumns) {
    TDbQuery q(&conn_);
    q.SetSQL("SELECT id, ad FROM tbOrnek");
    q.Open();
    EXPECT_EQ(q.FieldByName("Id").FieldName(), "id");
    EXPECT_EQ(q.FieldByName("AD").FieldName(), "ad");
    EXPECT_EQ(q.FieldCount(), 2);
    EXPECT_EQ(q.Fields(2).FieldName(), "ad");
    EXPECT_THROW(q.FieldByName("yok"), EDatabaseError);
}

TEST_P(FacadeTest, NextPastTheLastRowStopsAtTheEnd) {
    TDbQuery q(&conn_);
    q.SetSQL("SELECT * FROM tbOrnek ORDER BY id");
    q.Open();
    ASSERT_EQ(q.RecordCount(), 2);
    q.Next();
    q.Next();
    EXPECT_TRUE(q.Eof());
    EXPECT_NO_THROW(q.Next());
    q.First();
    EXPECT_EQ(q.FieldByName("ad").AsString(), "bir");
}

TEST_P(FacadeTest, AppendPostReadsBackTheIdentityAndLocateFindsPostedRows) {
    TDbQuery q(&conn_);
    q.SetSQL("SELECT * FROM tbOrnek WHERE id = -1");
    q.Open();
    std::vector<int> ids;
    for (int i = 0; i < 3; ++i) {
        q.Append();
        q.FieldByName("ad").SetValue("satır " + std::to_string(i));
        q.FieldByName("sayi").SetValue(i * 10);
        q.FieldByName("tarih").SetDateTime(test::DT(2026, 12, 10, 9, 30, 0, 250));
        q.Post();
        ids.push_back(q.FieldByName("id").AsInteger());
        EXPECT_GT(ids.back(), 2);
        // Columns never written read as NULL in the query's copy, whatever the table's default.
        EXPECT_TRUE(q.FieldByName("notlar").IsNull());
    }
    EXPECT_EQ(q.RecordCount(), 3);
    for (int i = 0; i < 3; ++i) {
        q.First();
        ASSERT_TRUE(q.Locate("id", Value::Integer(ids[i])));
        EXPECT_EQ(q.FieldByName("sayi").AsInteger(), i * 10);
    }
    EXPECT_FALSE(q.Locate("id", Value::Integer(999999)));

    TDbQuery check(&conn_);
    check.SetSQL("SELECT * FROM tbOrnek WHERE id = :id");
    check.ParamByName("id").SetValue(ids[1]);
    check.Open();
    ASSERT_EQ(check.RecordCount(), 1);
    EXPECT_EQ(check.FieldByName("ad").AsString(), "satır 1");
    EXPECT_EQ(check.FieldByName("notlar").AsString(), "varsayilan");
    EXPECT_DOUBLE_EQ(check.FieldByName("tarih").AsDateTime(), test::DT(2026, 12, 10, 9, 30, 0, 250));
}

TEST_P(FacadeTest, RowPostedWithoutColumnsTakesDefaultsAndCanBeEditedLater) {
    TDbQuery q(&conn_);
    q.SetSQL("SELECT * FROM tbOrnek WHERE id = -1");
    q.Open();
    q.Append();
    q.Post();
    const int id = q.FieldByName("id").AsInteger();
    EXPECT_TRUE(q.FieldByName("notlar").IsNull());
    q.Edit();
    q.FieldByName("sayi").SetValue(77);
    q.Post();

    TDbQuery check(&conn_);
    check.SetSQL("SELECT * FROM tbOrnek WHERE id = " + std::to_string(id));
    check.Open();
    ASSERT_EQ(check.RecordCount(), 1);
    EXPECT_EQ(check.FieldByName("sayi").AsInteger(), 77);
    EXPECT_EQ(check.FieldByName("notlar").AsString(), "varsayilan");
}

TEST_P(FacadeTest, EditAndClearUpdateOnlyThatRow) {
    TDbQuery q(&conn_);
    q.SetSQL("SELECT * FROM tbOrnek ORDER BY id");
    q.Open();
    q.Edit();
    q.FieldByName("ad").Clear();
    q.FieldByName("sayi").SetValue(5);
    q.Post();
    q.Close();
    q.SetSQL("SELECT COUNT(*) AS n FROM tbOrnek WHERE ad IS NULL");
    q.Open();
    EXPECT_EQ(q.FieldByName("n").AsInteger(), 2);
}

TEST_P(FacadeTest, MarkersInsideQuotedLiteralsAreText) {
    TDbQuery q(&conn_);
    q.SetSQL("SELECT ':sayi' AS metin, sayi FROM tbOrnek WHERE sayi = :sayi");
    q.ParamByName("SAYI").SetValue(1);
    EXPECT_THROW(q.ParamByName("metin"), EDatabaseError);
    q.Open();
    ASSERT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldByName("metin").AsString(), ":sayi");
}

TEST_P(FacadeTest, DateParameterBindsAsADate) {
    TDbQuery q(&conn_);
    q.SetSQL("SELECT * FROM tbOrnek WHERE tarih < :t");
    q.ParamByName("t").SetAsDate(test::DT(2013, 3, 22));
    q.Open();
    EXPECT_EQ(q.RecordCount(), 1);
}

TEST_P(FacadeTest, ErrorsCarryTheServersText) {
    TDbQuery q(&conn_);
    q.SetSQL("SELECT * FROM tbYok");
    try {
        q.Open();
        FAIL() << "no error raised";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("tbYok"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(q.Active());
    EXPECT_THROW(conn_.ExecSQL("THIS IS NOT SQL"), EDatabaseError);
}

TEST_P(FacadeTest, WritingOutsideEditOrInsertIsRefused) {
    TDbQuery q(&conn_);
    q.SetSQL("SELECT * FROM tbOrnek");
    q.Open();
    EXPECT_THROW(q.FieldByName("ad").SetValue("x"), EDatabaseError);
    TDbQuery joined(&conn_);
    joined.SetSQL("SELECT a.id FROM tbOrnek a, tbOrnek b");
    joined.Open();
    EXPECT_THROW(joined.Append(), EDatabaseError);
}

// ---------------------------------------------------------------------------------------------
// Tables without identity or primary key: an edited row is found by the values read.

const char* kKeylessSchema = R"(
CREATE TABLE tbNuvoSonKontrol (
  alisveris_sonrasi DATETIME,
  ozel_gunler DATETIME,
  taksit_hatirlatma DATETIME,
  gecikmis_odeme DATETIME,
  notlar VARCHAR(20) DEFAULT 'varsayilan'
);
CREATE TABLE tbNuvoSorguListesi (
  otomatik_calistir INT,
  saat DATETIME,
  son_gonderme_tarihi DATETIME,
  xml BLOB,
  mesaj TEXT,
  cep_telefonu_alani VARCHAR(128)
);
)";

class KeylessFacadeTest : public FacadeTest {
protected:
    void SetUp() override {
        FacadeTest::SetUp();
        test::RunSqliteScript(path_, kKeylessSchema);
    }
    int64_t Count(const std::string& where) {
        TDbQuery q(&conn_);
        q.SetSQL("SELECT COUNT(*) AS n FROM tbNuvoSorguListesi WHERE " + where);
        q.Open();
        return q.FieldByName("n").AsInteger();
    }
};

TEST_P(KeylessFacadeTest, BookkeepingRowIsInsertedThenStampedStepByStep) {
    // The generation run's pattern: insert a row without columns, then post one stamp after another,
    // on this open query and again in a later run.
    const std::vector<std::pair<const char*, TDateTime>> stamps = {
        {"alisveris_sonrasi", test::DT(2026, 12, 10, 9, 30, 15, 250)},
        {"ozel_gunler", test::DT(2026, 12, 10)},
        {"taksit_hatirlatma", test::DT(2026, 12, 10)},
        {"gecikmis_odeme", test::DT(2026, 12, 10)},
    };
    TDbQuery q(&conn_);
    q.SetSQL("SELECT * FROM tbNuvoSonKontrol");
    q.Open();
    ASSERT_EQ(q.RecordCount(), 0);
    q.Append();
    q.Post();  // 'notlar' took its default, which the query does not know
    for (const auto& [column, value] : stamps) {
        SCOPED_TRACE(column);
        q.Edit();
        q.FieldByName(column).SetDateTime(value);
        ASSERT_NO_THROW(q.Post());
    }
    q.Close();

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE("later run " + std::to_string(run));
        q.Open();
        ASSERT_EQ(q.RecordCount(), 1);
        for (const auto& [column, value] : stamps)
            EXPECT_EQ(DateTimeToMilliseconds(q.FieldByName(column).AsDateTime()), DateTimeToMilliseconds(value)) << column;
        EXPECT_EQ(q.FieldByName("notlar").AsString(), "varsayilan");
        q.Edit();
        q.FieldByName("alisveris_sonrasi").SetDateTime(test::DT(2026, 12, 11, 8, 0, 0, 7));
        ASSERT_NO_THROW(q.Post());
        q.Edit();
        q.FieldByName("alisveris_sonrasi").SetDateTime(stamps[0].second);
        ASSERT_NO_THROW(q.Post());
        q.Close();
    }
}

TEST_P(KeylessFacadeTest, UpdateChangesOnlyTheRowHoldingTheValuesRead) {
    // Rows that differ in one column only, NULLs included: each edit reaches its own row alone.
    test::RunSqliteScript(path_, R"(
INSERT INTO tbNuvoSorguListesi VALUES (1, '1899-12-30 08:15:00.000', '2026-12-09 08:15:00.000', X'3C612F3E', 'm', 'GSM');
INSERT INTO tbNuvoSorguListesi VALUES (1, '1899-12-30 08:15:00.000', '2026-12-09 08:15:00.000', X'3C622F3E', 'm', 'GSM');
INSERT INTO tbNuvoSorguListesi VALUES (1, '1899-12-30 08:15:00.000', '2026-12-09 08:15:00.000', X'3C622F3E', NULL, 'GSM');
INSERT INTO tbNuvoSorguListesi VALUES (NULL, NULL, NULL, NULL, NULL, NULL);
)");
    const std::vector<std::string> rows = {
        "xml = X'3C612F3E'",
        "xml = X'3C622F3E' AND mesaj = 'm'",
        "xml = X'3C622F3E' AND mesaj IS NULL",
        "otomatik_calistir IS NULL",
    };
    for (size_t r = 0; r < rows.size(); ++r) {
        SCOPED_TRACE(rows[r]);
        const TDateTime stamp = test::DT(2026, 12, 10, 8, 15, 0) + static_cast<double>(r);
        TDbQuery q(&conn_);
        q.SetSQL("SELECT * FROM tbNuvoSorguListesi WHERE " + rows[r]);
        q.Open();
        ASSERT_EQ(q.RecordCount(), 1);
        q.Edit();
        q.FieldByName("son_gonderme_tarihi").SetDateTime(stamp);
        ASSERT_NO_THROW(q.Post());
        q.Close();
        EXPECT_EQ(Count("son_gonderme_tarihi > '2026-12-09 23:00:00'"), static_cast<int64_t>(r + 1));
        q.SetSQL("SELECT * FROM tbNuvoSorguListesi WHERE " + rows[r]);
        q.Open();
        EXPECT_EQ(DateTimeToMilliseconds(q.FieldByName("son_gonderme_tarihi").AsDateTime()), DateTimeToMilliseconds(stamp));
    }
}

TEST_P(KeylessFacadeTest, RowsThatCannotBeToldApartOrChangedMeanwhileAreLeftAlone) {
    struct Case {
        const char* name;
        const char* rows;           // the table's rows when the query is opened
        const char* meanwhile;      // another session's change between reading and posting
        const char* message;        // part of the error text
        const char* untouched;      // every row still matches this after the failed post
        int64_t rowCount;
    };
    const Case cases[] = {
        {"two equal rows",
         "INSERT INTO tbNuvoSorguListesi VALUES (1, NULL, '2026-12-09 08:15:00.000', X'00', 'm', 'GSM');"
         "INSERT INTO tbNuvoSorguListesi VALUES (1, NULL, '2026-12-09 08:15:00.000', X'00', 'm', 'GSM');",
         "", "2 rows hold the same values", "son_gonderme_tarihi < '2026-12-10' AND mesaj = 'm'", 2},
        {"row changed by another session",
         "INSERT INTO tbNuvoSorguListesi VALUES (1, NULL, '2026-12-09 08:15:00.000', X'00', 'm', 'GSM');",
         "UPDATE tbNuvoSorguListesi SET mesaj = 'baska';", "no row holds the values read",
         "son_gonderme_tarihi < '2026-12-10' AND mesaj = 'baska'", 1},
        {"row deleted by another session",
         "INSERT INTO tbNuvoSorguListesi VALUES (1, NULL, '2026-12-09 08:15:00.000', X'00', 'm', 'GSM');",
         "DELETE FROM tbNuvoSorguListesi;", "no row holds the values read", "1 = 1", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::RunSqliteScript(path_, std::string("DELETE FROM tbNuvoSorguListesi;") + c.rows);
        TDbQuery q(&conn_);
        q.SetSQL("SELECT * FROM tbNuvoSorguListesi");
        q.Open();
        if (*c.meanwhile) test::RunSqliteScript(path_, c.meanwhile);
        q.Edit();
        q.FieldByName("son_gonderme_tarihi").SetDateTime(test::DT(2026, 12, 10, 8, 15));
        try {
            q.Post();
            ADD_FAILURE() << "the post reported success";
        } catch (const EDatabaseError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("tbNuvoSorguListesi"), std::string::npos) << e.what();
        }
        q.Cancel();
        q.Close();
        EXPECT_EQ(Count("1 = 1"), c.rowCount);
        EXPECT_EQ(Count(c.untouched), c.rowCount);
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, KeylessFacadeTest,
                         testing::Values(Backend::Sqlite, Backend::OdbcSqlite, Backend::SqlServerWire), BackendName);

TEST_P(FacadeTest, AppendOpenIsAskedOncePerSessionAndANewSessionSeesASchemaChange) {
    // Requests sent so far: the SQL Server simulator counts what it receives, the other routes count
    // through a wrapper around the session's backend.
    test::RequestCounter counter;
    auto requests = [&]() -> long long {
        return wire_ ? static_cast<long long>(wire_->Server().RequestCount()) : counter.requests;
    };
    auto openCounted = [&](TDbConnection& c) {
        if (wire_) {
            wire_->Aim(c, wireDatabase_);
            c.SetConnected(true);
            return;
        }
        std::unique_ptr<IDbBackend> inner = GetParam() == Backend::Sqlite
                                                ? OpenSqliteBackend(path_)
                                                : OpenOdbcBackend(test::SqliteOdbcConnectionString(path_));
        c.AttachBackend(std::make_unique<test::RequestCountingBackend>(std::move(inner), &counter));
    };
    auto appendOne = [](TDbConnection& c, const std::string& sql, const std::string& name) {
        TDbQuery q(&c);
        q.SetSQL(sql);
        q.Open();
        EXPECT_EQ(q.RecordCount(), 0);
        q.Append();
        q.FieldByName("ad").SetValue(name);
        q.FieldByName("sayi").Clear();  // a NULL in every row: its type must not cost a request of its own
        q.Post();
        return q.FieldByName("id").AsInteger();
    };
    struct Case {
        const char* sql;
        bool askedOnce;
    };
    const Case cases[] = {
        {"SELECT * FROM tbOrnek WHERE id = -1", true},
        {"select *  from tbOrnek where ID=-7", true},
        {"SELECT * FROM tbOrnek WHERE sayi = -1", false},  // not the key: such a row may appear
        {"SELECT * FROM tbOrnek WHERE id = 0", false},
    };
    for (const Case& c : cases) {
        TDbConnection session;
        openCounted(session);
        appendOne(session, c.sql, "ilk");
        const long long first = requests();
        int lastId = 0;
        for (int i = 0; i < 3; ++i) lastId = appendOne(session, c.sql, "sonraki");
        // Each later append is its insert alone when the open is answered by the session.
        EXPECT_EQ(requests() - first, c.askedOnce ? 3 : 6) << c.sql;
        EXPECT_GT(lastId, 2) << c.sql;
    }
    if (wire_) {
        // The NULL went as the column's integer type, not as a text for the server to convert.
        int nulls = 0;
        for (const sqlsim::ReceivedRequest& r : wire_->Server().Requests()) {
            if (r.text.rfind("INSERT INTO tbOrnek", 0) != 0) continue;
            for (const sqlsim::ReceivedParam& p : r.params)
                if (p.isNull && p.name.empty()) {
                    EXPECT_EQ(p.typeName, "bigint");
                    ++nulls;
                }
        }
        EXPECT_EQ(nulls, 16);
    }

    // The table changes between two sessions: the next session's append sees the new column.
    {
        TDbConnection before;
        openCounted(before);
        appendOne(before, "SELECT * FROM tbOrnek WHERE id = -1", "önce");
    }
    test::RunSqliteScript(path_, "ALTER TABLE tbOrnek ADD COLUMN yeni VARCHAR(10);");
    TDbConnection after;
    openCounted(after);
    TDbQuery q(&after);
    q.SetSQL("SELECT * FROM tbOrnek WHERE id = -1");
    q.Open();
    q.Append();
    q.FieldByName("yeni").SetValue("değer");
    q.Post();
    const int id = q.FieldByName("id").AsInteger();
    TDbQuery check(&after);
    check.SetSQL("SELECT yeni FROM tbOrnek WHERE id = " + std::to_string(id));
    check.Open();
    EXPECT_EQ(check.FieldByName("yeni").AsString(), "değer");
}


INSTANTIATE_TEST_SUITE_P(Backends, FacadeTest, testing::Values(Backend::Sqlite, Backend::OdbcSqlite, Backend::SqlServerWire), BackendName);

TEST(FacadeConnection, DisconnectingAClosedConnectionDoesNothing) {
    TDbConnection c;
    EXPECT_NO_THROW(c.SetConnected(false));
    EXPECT_FALSE(c.Connected());
    EXPECT_THROW(c.ExecSQL("SELECT 1"), EDatabaseError);
}

TEST(FacadeConnection, AFailedConnectLeavesTheConnectionClosedAndUsable) {
    test::TempDir dir;
    TDbConnection c;
    c.Server = "sqlite:" + dir.File("missing.db");
    EXPECT_THROW(c.SetConnected(true), EDatabaseError);
    EXPECT_FALSE(c.Connected());
    test::RunSqliteScript(dir.File("missing.db"), "CREATE TABLE x (id INTEGER);");
    EXPECT_NO_THROW(c.SetConnected(true));
    EXPECT_TRUE(c.Connected());
}

struct MarkerCase {
    const char* sql;
    const char* prepared;
    std::vector<std::string> names;
};

TEST(FacadeText, ParameterMarkers) {
    const MarkerCase cases[] = {
        {"SELECT * FROM t WHERE id = :id", "SELECT * FROM t WHERE id = ?", {"id"}},
        {"WHERE a = :a AND b = ':b' AND c = :c", "WHERE a = ? AND b = ':b' AND c = ?", {"a", "c"}},
        {"WHERE d = '14:05:10' AND h = :saat", "WHERE d = '14:05:10' AND h = ?", {"saat"}},
        {"WHERE s = 'it''s :x' AND y = :y", "WHERE s = 'it''s :x' AND y = ?", {"y"}},
        {"WHERE [col:x] = :v -- :comment", "WHERE [col:x] = ? -- :comment", {"v"}},
        // "]]" inside a bracketed name is one "]", not its end: what follows is still the name.
        {"WHERE [a]]:b] = :v", "WHERE [a]]:b] = ?", {"v"}},
        {"WHERE x = :v /* :a /* :b */ :c */", "WHERE x = ? /* :a /* :b */ :c */", {"v"}},
        {"SELECT 1", "SELECT 1", {}},
    };
    for (const MarkerCase& c : cases) {
        std::vector<std::string> names;
        EXPECT_EQ(ReplaceParamMarkers(c.sql, names), c.prepared) << c.sql;
        EXPECT_EQ(names, c.names) << c.sql;
    }
}

TEST(FacadeText, AppendOpenForm) {
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT * FROM tbNuvoListe WHERE id = -1", "id"},
        {"  select * from dbo.tbNuvoListe where Id = - 12 ;", "Id"},
        {"SELECT * FROM tbNuvoListe WHERE id = 1", ""},
        {"SELECT * FROM tbNuvoListe WHERE id = -1 OR 1 = 1", ""},
        {"SELECT * FROM tbNuvoListe WHERE id = :id", ""},
        {"SELECT id FROM tbNuvoListe WHERE id = -1", ""},
        {"SELECT * FROM tbNuvoAlisverisGonderilen WHERE AlisVerisId = 'QORVANT'", ""},
    };
    for (const auto& [sql, column] : cases) EXPECT_EQ(AppendOpenColumn(sql), column) << sql;
}

TEST(FacadeText, SingleTableOfAStatement) {
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT * FROM tbNuvoListe WHERE id = -1", "tbNuvoListe"},
        {"SELECT id, rapor_id, gsm, durum, aciklama FROM tbNuvoListe WHERE durum = 1", "tbNuvoListe"},
        {"SELECT * FROM tbNuvoSonKontrol", "tbNuvoSonKontrol"},
        {"SELECT * FROM tbNuvoListe WHERE durum = 0 ORDER BY kayit_tarihi", "tbNuvoListe"},
        {"SELECT * FROM tbNuvoSorguListesi WHERE tbNuvoSorguListesi.otomatik_calistir = 1 AND (x IN (SELECT y FROM z))",
         "tbNuvoSorguListesi"},
        {"SELECT * FROM a JOIN b ON a.id = b.id", ""},
        {"SELECT * FROM a, b", ""},
        {"UPDATE a SET x = 1", ""},
    };
    for (const auto& [sql, table] : cases) EXPECT_EQ(SingleTableOf(sql), table) << sql;
}

} // namespace
