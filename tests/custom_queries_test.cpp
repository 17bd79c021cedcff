// Tenant-defined custom queries: their schedule, their definition documents and what their rows queue.
// The temporary folder is pointed at a folder of the test, which must be empty after every test.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "campaigns/OzelSorguXML.h"
#include "campaigns/SMSCheck.h"
#include "db/DbConnection.h"
#include "db/TsqlDialect.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "tests/TestSupport.h"
#include "tests/TestWire.h"

using namespace velmora;
using test::DT;

namespace {

using QueuedRow = test::QueueRow;

std::string SqlText(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

std::string Definition(const std::string& sorgu, const std::string& parametreler = "") {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<OzelSorgu><SorguAdi>Deneme</SorguAdi>"
           "<SorguAciklama>Test sorgusu</SorguAciklama><Sorgu>" + sorgu + "</Sorgu>" + parametreler + "</OzelSorgu>";
}

std::string Parametre(const std::string& adi, const std::string& value) {
    return "<Parametre><Adi>" + adi + "</Adi><Aciklama/><VeriTipi>Metin</VeriTipi><Value>" + value +
           "</Value><MultiSelect>False</MultiSelect></Parametre>";
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    return names;
}

class CustomQueriesTest : public test::TenantTest {
protected:
    void SetUp() override {
        test::TenantTest::SetUp();
        Sql("INSERT INTO tbMusteri (nMusteriID, lKodu, sAdi, sSoyadi, sGSM) VALUES "
            "(1, 7, 'Ayşe', ' O''Brien & Co ', '0532 123 45 67'),"
            "(2, 7, 'Ali', NULL, '0212 555 55 55'),"  // a landline
            "(3, 7, 'Can', 'Öztürk', '5321234567'),"
            "(4, 7, 'Deniz', 'Işık', '0532 123 45 67'),"
            "(5, 8, 'Ece', 'Su', '05320000005');");  // another code
    }

    void TearDown() override {
        // Every definition passes through a temporary file; none may be left behind.
        EXPECT_TRUE(FilesIn(tmp_.Path()).empty()) << "left in the temporary folder: " << FilesIn(tmp_.Path()).size();
    }

    // A schedule row at 08:15 that last ran yesterday; xmlSql is the SQL expression of the xml column.
    void AddQuery(int id, const std::string& xmlSql, const std::string& mesaj = "Merhaba {{sAdi}} {{sSoyadi}}",
                  const std::string& phone = "sGSM", const std::string& lastRun = "'2013-03-20 10:00:00.000'",
                  int otomatik = 1, const std::string& saat = "1899-12-30 08:15:00.000") {
        Sql("INSERT INTO tbNuvoSorguListesi (id, otomatik_calistir, saat, son_gonderme_tarihi, xml, mesaj, "
            "cep_telefonu_alani) VALUES (" + std::to_string(id) + ", " + std::to_string(otomatik) + ", '" + saat +
            "', " + lastRun + ", " + xmlSql + ", " + SqlText(mesaj) + ", " + SqlText(phone) + ");");
    }
    void AddDocument(int id, const std::string& document, const std::string& mesaj = "Merhaba {{sAdi}} {{sSoyadi}}",
                     const std::string& phone = "sGSM") {
        AddQuery(id, "CAST(" + SqlText(document) + " AS BLOB)", mesaj, phone);
    }

    TDateTime LastRun(int id) {
        db::TDbQuery q(&tenant_);
        q.SetSQL("SELECT son_gonderme_tarihi FROM tbNuvoSorguListesi WHERE id = " + std::to_string(id));
        q.Open();
        return q.Fields(1).AsDateTime();
    }

    // The statement LoadCustomQueryDefinition makes of the row.
    std::string Statement(int id) {
        db::TDbQuery q(&tenant_);
        q.SetSQL("SELECT * FROM tbNuvoSorguListesi WHERE id = " + std::to_string(id));
        q.Open();
        return campaigns::LoadCustomQueryDefinition(q);
    }

    void Run(TDateTime now) {
        clock_.Set(now);
        check_.CheckCustomQueries(tenant_, now);
    }

    test::TempDir tmp_;
    test::ScopedEnv tmpdir_{test::TempDirVariable(), tmp_.Path()};
    campaigns::TSMSCheck check_;
    test::FixedClock clock_{2013, 3, 21, 8, 15, 0};
};

const std::string kCustomers = Definition("SELECT sAdi, sSoyadi, sGSM FROM tbMusteri WHERE lKodu = :kod ORDER BY nMusteriID",
                                          Parametre("kod", "7"));

// ---------------------------------------------------------------- schedule

TEST_F(CustomQueriesTest, RunsOnlyInItsMinuteAndOnlyWhenSwitchedOnAndNotYetRunToday) {
    struct Case {
        const char* why;
        TDateTime now;
        std::string lastRun;
        int otomatik;
        bool runs;
    } cases[] = {
        {"at the minute", DT(2013, 3, 21, 8, 15, 0), "'2013-03-20 10:00:00.000'", 1, true},
        {"late in the minute", DT(2013, 3, 21, 8, 15, 59, 999), "'2013-03-20 10:00:00.000'", 1, true},
        {"the minute before", DT(2013, 3, 21, 8, 14, 59, 999), "'2013-03-20 10:00:00.000'", 1, false},
        {"the minute after", DT(2013, 3, 21, 8, 16, 0), "'2013-03-20 10:00:00.000'", 1, false},
        {"another hour", DT(2013, 3, 21, 9, 15, 0), "'2013-03-20 10:00:00.000'", 1, false},
        {"already ran today", DT(2013, 3, 21, 8, 15, 0), "'2013-03-21 00:00:00.000'", 1, false},
        {"never ran: NULL compares neither way", DT(2013, 3, 21, 8, 15, 0), "NULL", 1, false},
        {"not automatic", DT(2013, 3, 21, 8, 15, 0), "'2013-03-20 10:00:00.000'", 0, false},
        {"ran on a later day (clock set back)", DT(2013, 3, 21, 8, 15, 0), "'2013-03-25 08:15:00.000'", 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Sql("DELETE FROM tbNuvoSorguListesi; DELETE FROM tbNuvoListe;");
        AddQuery(1, "CAST(" + SqlText(kCustomers) + " AS BLOB)", "x", "sGSM", c.lastRun, c.otomatik);
        Run(c.now);
        EXPECT_EQ(Queue().size(), c.runs ? 3u : 0u);
        if (c.runs) {
            // Stored in datetime's 1/300 s steps: 08:15:59.999 is kept as 08:16:00.000, as on the server.
            EXPECT_DOUBLE_EQ(LastRun(1), db::tsql::RoundToDatetimeSteps(c.now));
        }
    }
}

TEST_F(CustomQueriesTest, RunsOncePerDayAndAgainOnANewDay) {
    AddDocument(1, kCustomers);
    Run(DT(2013, 3, 21, 8, 15, 10));
    EXPECT_EQ(Queue().size(), 3u);
    EXPECT_DOUBLE_EQ(LastRun(1), DT(2013, 3, 21, 8, 15, 10));

    Run(DT(2013, 3, 21, 8, 15, 40));  // same minute, same day
    EXPECT_EQ(Queue().size(), 3u);
    EXPECT_DOUBLE_EQ(LastRun(1), DT(2013, 3, 21, 8, 15, 10));

    Run(DT(2013, 3, 22, 8, 15, 5));  // the next day
    EXPECT_EQ(Queue().size(), 6u);
    EXPECT_DOUBLE_EQ(LastRun(1), DT(2013, 3, 22, 8, 15, 5));
}

TEST_F(CustomQueriesTest, EachUsableResultRowBecomesOneMessage) {
    AddDocument(1, kCustomers, "Sayın {{SADI}} {{sSoyadi}}, {{Bilinmeyen}} {{sgsm}}");
    Run(DT(2013, 3, 21, 8, 15, 30));
    const std::vector<QueuedRow> rows = Queue();
    // Ali's landline is skipped; Ayşe and Deniz share a number and get one message each.
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].mesaj, "Sayın Ayşe  O'Brien & Co , {{Bilinmeyen}} 0532 123 45 67");  // verbatim, unescaped
    EXPECT_EQ(rows[0].gsm, "05321234567");
    EXPECT_EQ(rows[1].mesaj, "Sayın Can Öztürk, {{Bilinmeyen}} 5321234567");
    EXPECT_EQ(rows[1].gsm, "5321234567");
    EXPECT_EQ(rows[2].gsm, "05321234567");
    for (const QueuedRow& r : rows) {
        EXPECT_EQ(r.grup, 2);  // mgMusteri
        EXPECT_EQ(r.hemen, 1);
        EXPECT_EQ(r.sayi, 1);
        EXPECT_DOUBLE_EQ(r.baslangic, DT(2013, 3, 21, 8, 15, 30));
        EXPECT_DOUBLE_EQ(r.bitis, r.baslangic);  // a window without length
    }
}

TEST_F(CustomQueriesTest, ANullColumnFillsItsPlaceholderWithNothing) {
    AddDocument(1, Definition("SELECT sAdi, sSoyadi, sGSM FROM tbMusteri WHERE nMusteriID = 2"), "[{{sAdi}}|{{sSoyadi}}]",
                "sgsm");
    Sql("UPDATE tbMusteri SET sGSM = '05329998877' WHERE nMusteriID = 2;");
    Run(DT(2013, 3, 21, 8, 15));
    ASSERT_EQ(Queue().size(), 1u);
    EXPECT_EQ(Queue()[0].mesaj, "[Ali|]");
}

TEST_F(CustomQueriesTest, AStatementWithoutRowsQueuesNothingButIsStamped) {
    AddDocument(1, Definition("SELECT sAdi, sGSM FROM tbMusteri WHERE lKodu = 99"), "x", "Telefon");
    Run(DT(2013, 3, 21, 8, 15, 20));
    EXPECT_TRUE(Queue().empty());
    EXPECT_DOUBLE_EQ(LastRun(1), DT(2013, 3, 21, 8, 15, 20));
}

TEST_F(CustomQueriesTest, TenantStatementsRunAsWritten) {
    // T-SQL the tenant may write: TOP, GETDATE, DATEPART, CONVERT, a day-first date literal, ISNULL, brackets.
    AddDocument(1, Definition("SELECT TOP 2 [sAdi] AS Adi, ISNULL(sSoyadi, '-') AS Soyadi, sGSM AS Tel, "
                              "DATEPART(year, GETDATE()) AS Yil FROM tbMusteri "
                              "WHERE GETDATE() &gt; :tarih AND sGSM &lt;&gt; '' ORDER BY nMusteriID",
                              Parametre("tarih", "'01.03.2013'")),
                "{{adi}} {{soyadi}} {{yil}}", "tel");
    Run(DT(2013, 3, 21, 8, 15));
    const std::vector<QueuedRow> rows = Queue();
    ASSERT_EQ(rows.size(), 1u);  // the second of the two rows is the landline
    EXPECT_EQ(rows[0].mesaj, "Ayşe  O'Brien & Co  2013");
}

// ---------------------------------------------------------------- failures

TEST_F(CustomQueriesTest, FailuresLeaveWithAClearMessageAndNoStamp) {
    struct Case {
        const char* why;
        std::string xmlSql;
        std::string phone;
        const char* inMessage;
    } cases[] = {
        {"statement rejected", "CAST(" + SqlText(Definition("SELECT * FROM tbYok")) + " AS BLOB)", "sGSM", "tbYok"},
        {"syntax error", "CAST(" + SqlText(Definition("SELEC sAdi FROM tbMusteri")) + " AS BLOB)", "sGSM", "SELEC"},
        {"result without the phone column", "CAST(" + SqlText(kCustomers) + " AS BLOB)", "Telefon", "\"Telefon\""},
        {"empty phone column name", "CAST(" + SqlText(kCustomers) + " AS BLOB)", "", "cep_telefonu_alani"},
        {"not XML", "CAST('bu bir sorgu değil' AS BLOB)", "sGSM", "could not be read"},
        {"truncated XML", "CAST(" + SqlText(kCustomers.substr(0, 60)) + " AS BLOB)", "sGSM", "could not be read"},
        {"another root", "CAST('<Sorgu>SELECT 1</Sorgu>' AS BLOB)", "sGSM", "OzelSorgu"},
        {"no Sorgu element", "CAST('<OzelSorgu><SorguAdi>x</SorguAdi></OzelSorgu>' AS BLOB)", "sGSM", "Sorgu"},
        {"Sorgu holds elements", "CAST('<OzelSorgu><Sorgu><a/>SELECT 1</Sorgu></OzelSorgu>' AS BLOB)", "sGSM",
         "child elements"},
        {"NULL document", "NULL", "sGSM", "could not be read"},
        {"not a large object", "12345", "sGSM", "large-object"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Sql("DELETE FROM tbNuvoSorguListesi; DELETE FROM tbNuvoListe;");
        AddQuery(5, c.xmlSql, "x", c.phone);
        const TDateTime before = LastRun(5);
        try {
            Run(DT(2013, 3, 21, 8, 15));
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(c.inMessage), std::string::npos) << message;
            EXPECT_NE(message.find("custom query id 5"), std::string::npos) << message;
        }
        EXPECT_DOUBLE_EQ(LastRun(5), before);
        EXPECT_TRUE(Queue().empty());
        EXPECT_TRUE(FilesIn(tmp_.Path()).empty());
    }
}

TEST_F(CustomQueriesTest, RowsBeforeAFailingOneKeepTheirStampAndMessages) {
    AddDocument(1, kCustomers);
    AddDocument(2, Definition("SELECT * FROM tbYok"));
    AddDocument(3, kCustomers);
    EXPECT_THROW(Run(DT(2013, 3, 21, 8, 15)), EDatabaseError);
    EXPECT_EQ(Queue().size(), 3u);
    EXPECT_DOUBLE_EQ(LastRun(1), DT(2013, 3, 21, 8, 15));
    EXPECT_DOUBLE_EQ(LastRun(2), DT(2013, 3, 20, 10));
    EXPECT_DOUBLE_EQ(LastRun(3), DT(2013, 3, 20, 10));
}

TEST_F(CustomQueriesTest, AFailingQueryReachesTheRunResultAndStopsThePrepaidNoticesOfThatTenant) {
    const std::string settings = test::MakeProgramDatabase(dir_, {path_});
    test::ScopedEnv settingsFile("VELMORA_SETTINGS_FILE", settings);
    AddDocument(1, Definition("SELECT * FROM tbYok"));
    Sql("INSERT INTO tbNuvoOnOdemeliSiparis (aktif, mesaj) VALUES (1, 'Siparişiniz onaylandı');"
        "INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, dteFaturaTarihi, lNetTutar) VALUES "
        "(10, 1, '2013-03-21 00:00:00.000', 10);"
        "INSERT INTO tbAlisverisSiparis (nSiparisID, nAlisverisID, bTeslimEdildi, dteOnayTarihi, sAciklama) VALUES "
        "(100, 10, 0, '2013-03-21 00:00:00.000', '1');");
    tenant_.SetConnected(false);

    campaigns::TSMSCheck run;
    const std::string result = run.Execute();
    EXPECT_NE(result.find("custom query id 1"), std::string::npos) << result;
    EXPECT_NE(result.find("tbYok"), std::string::npos) << result;
    tenant_.SetConnected(true);
    EXPECT_TRUE(Queue().empty());

    // Mended, the next run in the same minute serves both.
    Sql("UPDATE tbNuvoSorguListesi SET xml = CAST(" + SqlText(kCustomers) + " AS BLOB);");
    tenant_.SetConnected(false);
    campaigns::TSMSCheck again;
    EXPECT_EQ(again.Execute(), "");
    tenant_.SetConnected(true);
    EXPECT_EQ(Queue().size(), 4u);
}

// ---------------------------------------------------------------- definition documents

TEST_F(CustomQueriesTest, DefinitionDocumentsGiveTheirStatement) {
    struct Case {
        const char* why;
        std::string document;
        std::string statement;
    } cases[] = {
        {"no parameters", Definition("SELECT 1 AS a"), "SELECT 1 AS a"},
        {"parameters in document order, letter case ignored",
         Definition("SELECT * FROM t WHERE a = :Kod AND b = :TARIH AND c = :kod",
                    Parametre("kod", "7") + Parametre("tarih", "'21.03.2013'")),
         "SELECT * FROM t WHERE a = 7 AND b = '21.03.2013' AND c = 7"},
        {"a name that begins a later one takes its start too",
         Definition("SELECT * FROM t WHERE a = :Tarih AND b = :Tarih2",
                    Parametre("Tarih", "'01.01.2013'") + Parametre("Tarih2", "'31.01.2013'")),
         "SELECT * FROM t WHERE a = '01.01.2013' AND b = '01.01.2013'2"},
        {"the later name first avoids it",
         Definition("SELECT * FROM t WHERE a = :Tarih AND b = :Tarih2",
                    Parametre("Tarih2", "'31.01.2013'") + Parametre("Tarih", "'01.01.2013'")),
         "SELECT * FROM t WHERE a = '01.01.2013' AND b = '31.01.2013'"},
        {"an empty name replaces every colon", Definition("SELECT ':' AS a, :x AS b", Parametre("", "5")),
         "SELECT '5' AS a, 5x AS b"},
        {"escaped and CDATA text reads back plain",
         Definition("SELECT 1 WHERE 1 &lt; 2 AND 'a&amp;b' &lt;&gt; ''<![CDATA[ AND 3 > 2]]>"),
         "SELECT 1 WHERE 1 < 2 AND 'a&b' <> '' AND 3 > 2"},
        {"no Sorgu element", "<OzelSorgu><Parametre><Adi>a</Adi></Parametre></OzelSorgu>", ""},
        {"missing Adi and Value",
         Definition("SELECT :a", "<Parametre><Aciklama>yok</Aciklama></Parametre>"), "SELECT a"},
        {"extra elements, attributes, comments and another child order",
         "<?xml version=\"1.0\"?><!-- yorum --><OzelSorgu surum=\"2\"><Parametre><Value>3</Value><Fazla>x</Fazla>"
         "<Adi>n</Adi></Parametre><Ekstra><Sorgu>yanlış</Sorgu></Ekstra><Sorgu>SELECT :n</Sorgu>"
         "<SorguAdi>A</SorguAdi></OzelSorgu>",
         "SELECT 3"},
        {"Turkish letters",
         Definition("SELECT 'Şükrü Işıl' AS ad WHERE şehir = :şehir", Parametre("şehir", "'İğdır'")),
         "SELECT 'Şükrü Işıl' AS ad WHERE şehir = 'İğdır'"},
        {"Turkish code page declared",
         "<?xml version=\"1.0\" encoding=\"windows-1254\"?><OzelSorgu><Sorgu>SELECT '\xDE\xFC\xF0\xFD\xDD\xD0 \x80'"
         "</Sorgu></OzelSorgu>",
         "SELECT 'ŞüğıİĞ €'"},
        {"ISO Turkish declared",
         "<?xml version='1.0' encoding='ISO-8859-9'?><OzelSorgu><Sorgu>SELECT '\xDE\xE7\xFE'</Sorgu></OzelSorgu>",
         "SELECT 'Şçş'"},
        {"Latin-1 declared",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><OzelSorgu><Sorgu>SELECT '\xE7\xF6'</Sorgu></OzelSorgu>",
         "SELECT 'çö'"},
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" + Definition("SELECT 'ğ'"), "SELECT 'ğ'"},
    };
    int id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        AddDocument(++id, c.document);
        try {
            EXPECT_EQ(Statement(id), c.statement);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        EXPECT_TRUE(FilesIn(tmp_.Path()).empty());
    }
}

TEST_F(CustomQueriesTest, AUtf16DefinitionIsRead) {
    const std::string text = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><OzelSorgu><Sorgu>SELECT 'Ş'</Sorgu></OzelSorgu>";
    std::u16string wide;
    for (size_t i = 0; i < text.size();) {  // the text is ASCII apart from one two-byte letter
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) { wide += static_cast<char16_t>(c); ++i; }
        else { wide += static_cast<char16_t>(((c & 0x1F) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F)); i += 2; }
    }
    std::string hex = "X'FFFE";
    const char* digits = "0123456789ABCDEF";
    for (char16_t u : wide) {
        for (int b : {u & 0xFF, u >> 8}) { hex += digits[b >> 4]; hex += digits[b & 15]; }
    }
    AddQuery(1, hex + "'");
    EXPECT_EQ(Statement(1), "SELECT 'Ş'");
}

// A text column hands over the document's characters, not its bytes; the declaration inside still
// names an encoding, which the temporary file must then really have.
enum class Route { Embedded, OdbcSqlite, SqlServerWire };

class TextXmlColumnTest : public CustomQueriesTest {
protected:
    void Check(Route route);
};

void TextXmlColumnTest::Check(Route route) {
    const std::string body = "<OzelSorgu><Sorgu>SELECT 'İstanbul' AS il, 'Şükrü Işıl' AS ad WHERE kod = :kod</Sorgu>" +
                             Parametre("kod", "'ĞÜŞİÖÇ ğüşıöç €'") + "</OzelSorgu>";
    const std::string expected = "SELECT 'İstanbul' AS il, 'Şükrü Işıl' AS ad WHERE kod = 'ĞÜŞİÖÇ ğüşıöç €'";
    const std::vector<std::string> declarations = {
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>",
        "<?xml version=\"1.0\" encoding=\"windows-1254\"?>",
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>",
        "<?xml version='1.0' encoding='ISO-8859-9'?>",
        "<?xml version=\"1.0\"?>",
        "",
    };
    const std::vector<std::string> columnTypes = {"TEXT", "NVARCHAR(4000)", "VARCHAR(8000)", "NTEXT"};
    std::unique_ptr<test::WirePeer> wire;
    db::TDbConnection wireConnection;  // after the peer: ends before it
    if (route == Route::SqlServerWire) {
        if (test::WireRouteUnavailable()) GTEST_SKIP() << "VELMORA_ODBC_DRIVER names no SQL Server driver";
        // The server converts a varchar column to Unicode from its code page (1254) on the way.
        wire = std::make_unique<test::WirePeer>();
        wire->Aim(wireConnection, wire->Serve(path_));
        wireConnection.SetConnected(true);
    }
    const std::string routeName = route == Route::Embedded ? "embedded" : route == Route::OdbcSqlite ? "ODBC" : "wire";
    {
        for (const std::string& type : columnTypes) {
            Sql("DROP TABLE tbNuvoSorguListesi;\nCREATE TABLE tbNuvoSorguListesi (id INTEGER PRIMARY KEY, "
                "otomatik_calistir INT, saat DATETIME, son_gonderme_tarihi DATETIME, xml " + type +
                ", mesaj TEXT, cep_telefonu_alani VARCHAR(128));");
            // The SQLite driver describes a table as it was when its session met it: connected afterwards.
            db::TDbConnection odbcConnection;
            if (route == Route::OdbcSqlite)
                odbcConnection.AttachBackend(db::OpenOdbcBackend(test::SqliteOdbcConnectionString(path_)));
            db::TDbConnection& connection = route == Route::Embedded  ? tenant_
                                            : route == Route::OdbcSqlite ? odbcConnection
                                                                         : wireConnection;
            int id = 0;
            for (const std::string& declaration : declarations) {
                SCOPED_TRACE(routeName + ", " + type + ", '" + declaration + "'");
                AddQuery(++id, SqlText(declaration + body));
                db::TDbQuery q(&connection);
                q.SetSQL("SELECT * FROM tbNuvoSorguListesi WHERE id = " + std::to_string(id));
                q.Open();
                ASSERT_EQ(q.FieldByName("xml").AsVariant().kind, db::ValueKind::Text);
                try {
                    EXPECT_EQ(campaigns::LoadCustomQueryDefinition(q), expected);
                } catch (const std::exception& e) {
                    ADD_FAILURE() << e.what();
                }
            }
        }
    }
}

TEST_F(TextXmlColumnTest, GivesTheStoredDefinitionWhateverItsDeclarationEmbeddedSqlite) { Check(Route::Embedded); }
TEST_F(TextXmlColumnTest, GivesTheStoredDefinitionWhateverItsDeclarationOdbcSqliteDriver) { Check(Route::OdbcSqlite); }
TEST_F(TextXmlColumnTest, GivesTheStoredDefinitionWhateverItsDeclarationSqlServerWire) { Check(Route::SqlServerWire); }

TEST_F(CustomQueriesTest, UnreadableDefinitionsAreRejectedWithTheirReason) {
    struct Case {
        const char* why;
        std::string document;
        const char* inMessage;
    } cases[] = {
        {"not XML", "SELECT * FROM tbMusteri", "could not be read"},
        {"empty", "", "could not be read"},
        {"unclosed element", "<OzelSorgu><Sorgu>SELECT 1</OzelSorgu>", "could not be read"},
        {"another root", "<Ayarlar><Sorgu>SELECT 1</Sorgu></Ayarlar>", "\"Ayarlar\" instead of \"OzelSorgu\""},
        {"Value holds elements", Definition("SELECT :a", "<Parametre><Adi>a</Adi><Value><b/></Value></Parametre>"),
         "child elements"},
        {"an unknown code page with letters outside ASCII",
         "<?xml version=\"1.0\" encoding=\"koi8-r\"?><OzelSorgu><Sorgu>SELECT '\xC1'</Sorgu></OzelSorgu>", "koi8-r"},
    };
    int id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        AddDocument(++id, c.document);
        try {
            Statement(id);
            ADD_FAILURE() << "no error";
        } catch (const EXmlError& e) {
            EXPECT_NE(std::string(e.what()).find(c.inMessage), std::string::npos) << e.what();
        }
        EXPECT_TRUE(FilesIn(tmp_.Path()).empty());
    }
}

// ---------------------------------------------------------------- temporary files and the bindings

TEST_F(CustomQueriesTest, TemporaryFileNamesAreUniqueAndLeaveNothingBehind) {
    const std::string a = campaigns::MakeTempFileName(".xml");
    const std::string b = campaigns::MakeTempFileName(".xml");
    EXPECT_NE(a, b);
    for (const std::string& name : {a, b}) {
        EXPECT_EQ(name.rfind(tmp_.Path(), 0), 0u) << name;
        EXPECT_EQ(name.substr(name.size() - 4), ".xml");
        EXPECT_EQ(name.find("tmp", tmp_.Path().size()), tmp_.Path().size()) << name;
        EXPECT_FALSE(platform::FileExists(name));
    }
}

TEST_F(CustomQueriesTest, TheParametreCollectionAddsAndInserts) {
    const std::string file = dir_.File("tanim.xml");
    platform::WriteFileReplacing(file, Definition("SELECT :a, :b", Parametre("a", "1") + Parametre("b", "2")));
    campaigns::IXMLOzelSorguType root = campaigns::ReadCustomQueryFile(file);
    campaigns::IXMLParametreTypeList& list = root->Parametre();
    ASSERT_EQ(list.Count(), 2u);

    campaigns::IXMLParametreType first = list.Insert(0);
    EXPECT_EQ(first.Adi(), "");  // a new, empty element
    first.SetAdi("z");
    first.SetValue("26");
    campaigns::IXMLParametreType last = list.Add();
    last.SetAdi("son");
    last.SetLookupSQL("SELECT 1");
    campaigns::IXMLParametreType middle = list.Insert(2);
    middle.SetAdi("orta");
    list.Insert(99).SetAdi("sonra");  // past the end: appended

    ASSERT_EQ(list.Count(), 6u);
    const char* names[] = {"z", "a", "orta", "b", "son", "sonra"};
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(list.Item(i).Adi(), names[i]) << i;
    EXPECT_EQ(list.Item(0).Value(), "26");
    EXPECT_EQ(list.Item(4).LookupSQL(), "SELECT 1");
    EXPECT_EQ(list.Item(1).VeriTipi(), "Metin");
    EXPECT_EQ(list.Item(1).MultiSelect(), "False");
    EXPECT_THROW(list.Item(6), EXmlError);

    // Writing creates absent elements; the item keeps the document alive after the root is released.
    root->SetSorgu("SELECT 2");
    root->SetSorguAciklama("açıklama");
    EXPECT_EQ(root->Sorgu(), "SELECT 2");
    EXPECT_EQ(root->SorguAciklama(), "açıklama");
    EXPECT_EQ(root->SorguAdi(), "Deneme");
    campaigns::IXMLParametreType kept = list.Item(3);
    root.reset();
    EXPECT_EQ(kept.Adi(), "b");
    kept.SetVeriKaynagi("Liste");
    EXPECT_EQ(kept.VeriKaynagi(), "Liste");
}

} // namespace
