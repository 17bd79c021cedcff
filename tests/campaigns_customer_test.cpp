// The customer campaigns driven one at a time over small ERP fixtures: special-day greetings, after-purchase
// messages, instalment reminders and overdue-payment notices. Each test states the exact queue rows that must
// appear, and by their absence the ones that must not.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "campaigns/SMSCheck.h"
#include "db/DbConnection.h"
#include "tests/TestSupport.h"

using namespace velmora;
using campaigns::TSMSCheck;
using queue::TMesajGrubu;
using test::DT;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

int64_t Ms(TDateTime t) { return DateTimeToMilliseconds(t); }

// One queue row as the campaigns write it; durum, sms_sayisi and the null columns are checked for every row.
struct Row {
    TMesajGrubu group;
    std::string gsm;
    std::string text;
    bool immediately;
    TDateTime start;
    TDateTime end;

    bool operator==(const Row& o) const {
        return group == o.group && gsm == o.gsm && text == o.text && immediately == o.immediately &&
               Ms(start) == Ms(o.start) && Ms(end) == Ms(o.end);
    }
};

std::ostream& operator<<(std::ostream& os, const Row& r) {
    return os << "{" << queue::Ord(r.group) << ", \"" << r.gsm << "\", \"" << r.text << "\", "
              << (r.immediately ? 1 : 0) << ", " << FormatIsoDateTime(r.start) << ", " << FormatIsoDateTime(r.end)
              << "}";
}

class CampaignTest : public ::testing::Test {
protected:
    CampaignTest() {
        path_ = test::MakeTenantDatabase(dir_, "tenant.db");
        conn_.Server = "sqlite:" + path_;
        conn_.SetConnected(true);
        conn_.ExecSQL("SET DATEFORMAT dmy");
    }

    void Sql(const std::string& script) { test::RunSqliteScript(path_, script); }

    std::vector<Row> Queue() {
        db::TDbQuery q(&conn_);
        q.SetSQL("SELECT * FROM tbNuvoListe ORDER BY id");
        q.Open();
        std::vector<Row> rows;
        for (int i = 0, n = q.RecordCount(); i < n; ++i, q.Next()) {
            EXPECT_EQ(q.FieldByName("durum").AsInteger(), 0);
            EXPECT_EQ(q.FieldByName("sms_sayisi").AsInteger(), 1);
            EXPECT_TRUE(q.FieldByName("rapor_id").IsNull() && q.FieldByName("aciklama").IsNull() &&
                        q.FieldByName("gonderme_tarihi").IsNull() && q.FieldByName("originator").IsNull() &&
                        q.FieldByName("sms_tipi").IsNull());
            rows.push_back({static_cast<TMesajGrubu>(q.FieldByName("mesaj_grubu").AsInteger()),
                            q.FieldByName("gsm").AsString(), q.FieldByName("mesaj").AsString(),
                            q.FieldByName("hemen_gonder").AsInteger() == 1,
                            q.FieldByName("gonderme_baslangic").AsDateTime(),
                            q.FieldByName("gonderme_bitis").AsDateTime()});
        }
        return rows;
    }

    std::vector<std::string> Column(const std::string& sql) {
        db::TDbQuery q(&conn_);
        q.SetSQL(sql);
        q.Open();
        std::vector<std::string> out;
        for (int i = 0, n = q.RecordCount(); i < n; ++i, q.Next()) out.push_back(q.Fields(1).AsString());
        return out;
    }

    // A trigger that makes the server refuse queue rows for this number.
    void RejectQueueRowsFor(const std::string& gsm) {
        Sql("CREATE TRIGGER trRejectGsm BEFORE INSERT ON tbNuvoListe WHEN NEW.gsm = '" + gsm +
            "' BEGIN SELECT RAISE(ABORT, 'queue insert refused'); END;");
    }

    test::TempDir dir_;
    std::string path_;
    db::TDbConnection conn_;
    test::RegionalScope regional_{platform::TurkishFormatSettings()};
    TSMSCheck check_;
};

// ================================================================================================
// Special-day greetings

const char* kSpecialDayCustomers = R"SQL(
INSERT INTO tbMusteri (nMusteriID, lKodu, sAdi, sSoyadi, sGSM, dteDogumTarihi, dteEvlilikTarihi) VALUES
  (1, 1, 'Ali', 'Kaya', '0532 111 22 33', '1980-03-22 00:00:00.000', '2000-03-22 00:00:00.000'),
  (2, 2, '  Ayşe ', ' Demir	', '+90 533 222 33 44', '1975-03-22 10:00:00.000', NULL),
  (3, 3, NULL, NULL, '05341112233', '1990-03-22 00:00:00.000', '1900-03-22 00:00:00.000'),
  (4, 4, 'Bora', 'Tan', '0212 123 45 67', '1980-03-22 00:00:00.000', NULL),
  (5, 5, 'Deniz', 'Er', 'GSM: 0535 444 55 66', '1981-03-22 00:00:00.000', NULL),
  (6, 6, 'Eda', 'Su', NULL, '1982-03-22 00:00:00.000', NULL),
  (7, 7, 'Fatma', 'Gül', '0536 777 88 99', '1900-03-22 00:00:00.000', NULL),
  (8, 8, 'Gani', 'Hoş', '0537 777 88 99', '1980-03-23 00:00:00.000', NULL),
  (9, 9, 'Hale', 'İnce', '0538 777 88 99', NULL, NULL),
  (10, 10, 'Işık', 'Jale', '0539 777 88 99', '1980-04-22 00:00:00.000', NULL),
  (11, 11, 'Kemal', 'O''Neil & Co', '05301112233', '1970-03-22 00:00:00.000', NULL);
INSERT INTO tbMusteriCocugu (nMusteriCocuguID, nMusteriID, sAdi, sSoyadi, dteDogumTarihi) VALUES
  (1, 2, ' Can ', 'Demir', '2010-03-22 00:00:00.000'),
  (2, 2, 'Ece', NULL, '2012-03-22 00:00:00.000'),
  (3, 2, 'Efe', 'Demir', '2011-03-21 00:00:00.000'),
  (4, 1, 'Nil', 'Kaya', '1900-03-22 00:00:00.000'),
  (5, 4, 'Ozan', 'Tan', '2005-03-22 00:00:00.000');
)SQL";

TEST_F(CampaignTest, BirthdayGreetingsQueueTheNumberAsReadAtTheConfiguredTime) {
    Sql(kSpecialDayCustomers);
    Sql("INSERT INTO tbNuvoOzelGun (dogum_gunu_gonder, dogum_gunu_saat, dogum_gunu_mesaj, evlilik_yildonumu_gonder, "
        "cocuk_dogum_gunu_gonder) VALUES (1, '1900-01-01 10:30:15.500', "
        "'Sayın {{MusteriAdi}} {{MusteriSoyadi}}{{MusteriCocuguAdi}}{{musteriCOCUGUsoyadi}}, iyi ki doğdunuz!{{Tarih}}{{Tutar}}', 0, 0);");
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    check_.CheckSpecialDays(conn_);
    EXPECT_EQ(check_.ExecutionResult, "");

    const TDateTime start = DT(2013, 3, 22, 10, 30, 15), end = DT(2013, 3, 23, 10, 30, 15);
    const auto g = TMesajGrubu::mgDogumGunu;
    EXPECT_THAT(Queue(), ElementsAre(Row{g, "0532 111 22 33", "Sayın Ali Kaya, iyi ki doğdunuz!", false, start, end},
                                     Row{g, "+90 533 222 33 44", "Sayın Ayşe Demir, iyi ki doğdunuz!", false, start, end},
                                     Row{g, "05341112233", "Sayın  , iyi ki doğdunuz!", false, start, end},
                                     Row{g, "GSM: 0535 444 55 66", "Sayın Deniz Er, iyi ki doğdunuz!", false, start, end},
                                     Row{g, "05301112233", "Sayın Kemal O&apos;Neil &amp; Co, iyi ki doğdunuz!", false,
                                         start, end}));
}

TEST_F(CampaignTest, AnniversaryAndChildrensBirthdaysUseTheirOwnColumns) {
    Sql(kSpecialDayCustomers);
    Sql("INSERT INTO tbNuvoOzelGun (dogum_gunu_gonder, evlilik_yildonumu_gonder, evlilik_yildonumu_saat, "
        "evlilik_yildonumu_mesaj, cocuk_dogum_gunu_gonder, cocuk_dogum_gunu_saat, cocuk_dogum_gunu_mesaj) VALUES "
        "(0, 1, '1900-01-01 09:00:00.000', '{{MusteriAdi}} {{MusteriCocuguAdi}}|', 1, '2013-01-01 08:15:00.000', "
        "'{{MusteriCocuguAdi}} {{MusteriCocuguSoyadi}} ({{MusteriAdi}})');");
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    check_.CheckSpecialDays(conn_);
    EXPECT_EQ(check_.ExecutionResult, "");

    const auto a = TMesajGrubu::mgEvlilikYildonumu;
    const auto c = TMesajGrubu::mgCocuklarinDogumGunu;
    const TDateTime as = DT(2013, 3, 22, 9, 0, 0), cs = DT(2013, 3, 22, 8, 15, 0);
    EXPECT_THAT(Queue(), ElementsAre(Row{a, "0532 111 22 33", "Ali |", false, as, as + 1},
                                     Row{c, "+90 533 222 33 44", "Can Demir (Ayşe)", false, cs, cs + 1},
                                     Row{c, "+90 533 222 33 44", "Ece  (Ayşe)", false, cs, cs + 1}));
}

TEST_F(CampaignTest, SpecialDaysNeedASendColumnOfExactlyOne) {
    Sql(kSpecialDayCustomers);
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    check_.CheckSpecialDays(conn_);  // no settings row at all
    for (const char* value : {"0", "2", "NULL", "-1"}) {
        Sql("DELETE FROM tbNuvoOzelGun;\nINSERT INTO tbNuvoOzelGun (dogum_gunu_gonder, dogum_gunu_mesaj, "
            "evlilik_yildonumu_gonder, evlilik_yildonumu_mesaj, cocuk_dogum_gunu_gonder, cocuk_dogum_gunu_mesaj) "
            "VALUES (" + std::string(value) + ", 'x', " + value + ", 'y', " + value + ", 'z');");
        check_.CheckSpecialDays(conn_);
    }
    EXPECT_EQ(check_.ExecutionResult, "");
    EXPECT_THAT(Queue(), IsEmpty());
}

TEST_F(CampaignTest, OnlyTheFirstSettingsRowCounts) {
    Sql(kSpecialDayCustomers);
    Sql("INSERT INTO tbNuvoOzelGun (id, dogum_gunu_gonder, dogum_gunu_mesaj) VALUES (1, 0, 'first');\n"
        "INSERT INTO tbNuvoOzelGun (id, dogum_gunu_gonder, dogum_gunu_mesaj) VALUES (2, 1, 'second');");
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    check_.CheckSpecialDays(conn_);
    EXPECT_THAT(Queue(), IsEmpty());
}

TEST_F(CampaignTest, NullTimeAndTemplateGiveMidnightAndAnEmptyText) {
    Sql("INSERT INTO tbMusteri (nMusteriID, lKodu, sAdi, sGSM, dteDogumTarihi) "
        "VALUES (1, 1, 'Ali', '05321112233', '1980-03-22 00:00:00.000');\n"
        "INSERT INTO tbNuvoOzelGun (dogum_gunu_gonder) VALUES (1);");
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    check_.CheckSpecialDays(conn_);
    EXPECT_THAT(Queue(), ElementsAre(Row{TMesajGrubu::mgDogumGunu, "05321112233", "", false, DT(2013, 3, 22),
                                         DT(2013, 3, 23)}));
}

TEST_F(CampaignTest, LeapDayBirthdaysOnlyInLeapYears) {
    Sql("INSERT INTO tbMusteri (nMusteriID, lKodu, sAdi, sGSM, dteDogumTarihi) "
        "VALUES (1, 1, 'Ali', '05321112233', '2000-02-29 00:00:00.000');\n"
        "INSERT INTO tbNuvoOzelGun (dogum_gunu_gonder, dogum_gunu_mesaj) VALUES (1, 'x');");
    test::FixedClock clock(2013, 2, 28, 9, 0, 0);
    check_.CheckSpecialDays(conn_);
    clock.Set(DT(2013, 3, 1, 9, 0, 0));
    check_.CheckSpecialDays(conn_);
    EXPECT_THAT(Queue(), IsEmpty());
    clock.Set(DT(2012, 2, 29, 9, 0, 0));
    check_.CheckSpecialDays(conn_);
    EXPECT_EQ(Queue().size(), 1u);
}

TEST_F(CampaignTest, SpecialDaysFailureSkipsTheLaterKindsAndKeepsTheEarlierRows) {
    Sql(kSpecialDayCustomers);
    Sql("ALTER TABLE tbMusteri DROP COLUMN dteEvlilikTarihi;\n"
        "INSERT INTO tbNuvoOzelGun (dogum_gunu_gonder, dogum_gunu_mesaj, evlilik_yildonumu_gonder, "
        "evlilik_yildonumu_mesaj, cocuk_dogum_gunu_gonder, cocuk_dogum_gunu_mesaj) VALUES (1, 'b', 1, 'a', 1, 'c');");
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    check_.CheckSpecialDays(conn_);
    EXPECT_THAT(check_.ExecutionResult, HasSubstr("dteEvlilikTarihi"));
    const std::vector<Row> rows = Queue();
    ASSERT_EQ(rows.size(), 5u);  // the birthdays; no anniversary and no child row
    for (const Row& r : rows) EXPECT_EQ(r.group, TMesajGrubu::mgDogumGunu);
}

TEST_F(CampaignTest, OneRefusedInsertDoesNotStopTheGreetings) {
    Sql(kSpecialDayCustomers);
    Sql("INSERT INTO tbNuvoOzelGun (dogum_gunu_gonder, dogum_gunu_mesaj) VALUES (1, '{{MusteriAdi}}');");
    RejectQueueRowsFor("+90 533 222 33 44");
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    check_.CheckSpecialDays(conn_);
    EXPECT_THAT(check_.ExecutionResult, HasSubstr("queue insert refused"));
    EXPECT_THAT(Column("SELECT mesaj FROM tbNuvoListe ORDER BY id"), ElementsAre("Ali", "", "Deniz", "Kemal"));
}

// ================================================================================================
// After-purchase messages

const char* kPurchaseCustomers = R"SQL(
INSERT INTO tbMusteri (nMusteriID, lKodu, sAdi, sSoyadi, sGSM) VALUES
  (1, 1, ' Ali ', 'Kaya', '0532 111 22 33'),
  (2, 2, 'Ayşe', 'Demir', '+90 533 222 33 44'),
  (3, 3, 'Bora', 'Tan', '0212 123 45 67'),
  (4, 4, NULL, NULL, '44 20 7946 0958'),
  (5, 5, 'Cem', 'Ak', NULL);
)SQL";

// Registered in id order, so that the order the server returns them in does not depend on its plan.
const char* kPurchases = R"SQL(
INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, dteKayitTarihi, lNetTutar, lToplamMiktar) VALUES
  (10, 1, '2013-03-22 14:05:10.000', 100, 1),
  (11, 2, '2013-03-22 14:00:00.000', 100, 1),
  (12, 2, '2013-03-22 14:05:30.003', 100, 1),
  (13, 3, '2013-03-22 14:06:00.000', 100, 1),
  (14, 4, '2013-03-22 14:07:00.000', 100, 1),
  (15, 5, '2013-03-22 14:08:00.000', 100, 1),
  (16, 1, '2013-03-22 13:59:00.000', 100, 1),
  (17, 99, '2013-03-22 14:09:00.000', 100, 1),
  (18, 1, NULL, 100, 1);
)SQL";

class AfterPurchaseRegional : public CampaignTest, public ::testing::WithParamInterface<bool> {};

TEST_P(AfterPurchaseRegional, MinutesAfterModeQueuesEachNewPurchaseOnce) {
    test::RegionalScope regional(GetParam() ? platform::TurkishFormatSettings() : platform::EnglishFormatSettings());
    Sql(kPurchaseCustomers);
    Sql(kPurchases);
    Sql("INSERT INTO tbNuvoAlisVeris (aktif, mesaj, Dakika, gonderme_tipi) "
        "VALUES (1, 'Teşekkürler {{MusteriAdi}} {{MusteriSoyadi}}{{Tarih}}{{Tutar}}', 30, 0);");
    test::FixedClock clock(2013, 3, 22, 14, 10, 0);
    const TDateTime previousCheck = DT(2013, 3, 22, 14, 0, 0);
    check_.CheckAfterPurchase(conn_, previousCheck);
    EXPECT_EQ(check_.ExecutionResult, "");

    const auto g = TMesajGrubu::mgAlisVeris;
    const std::vector<Row> expected = {
        Row{g, "05321112233", "Teşekkürler  Ali  Kaya", true, DT(2013, 3, 22, 14, 35, 10), DT(2013, 3, 23, 14, 35, 10)},
        Row{g, "+905332223344", "Teşekkürler Ayşe Demir", true, DT(2013, 3, 22, 14, 35, 30, 3),
            DT(2013, 3, 23, 14, 35, 30, 3)},
        Row{g, "+442079460958", "Teşekkürler  ", true, DT(2013, 3, 22, 14, 37, 0), DT(2013, 3, 23, 14, 37, 0)}};
    EXPECT_EQ(Queue(), expected);
    EXPECT_THAT(Column("SELECT AlisVerisId FROM tbNuvoAlisverisGonderilen ORDER BY id"), ElementsAre("10", "12", "14"));

    // The next pass with the same moment finds nothing new: the record table excludes them.
    check_.CheckAfterPurchase(conn_, previousCheck);
    EXPECT_EQ(check_.ExecutionResult, "");
    EXPECT_EQ(Queue(), expected);
    EXPECT_EQ(Column("SELECT AlisVerisId FROM tbNuvoAlisverisGonderilen").size(), 3u);
}

TEST_P(AfterPurchaseRegional, MillisecondsOfThePreviousCheckCount) {
    test::RegionalScope regional(GetParam() ? platform::TurkishFormatSettings() : platform::EnglishFormatSettings());
    Sql(kPurchaseCustomers);
    Sql("INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, dteKayitTarihi, lNetTutar, lToplamMiktar) VALUES\n"
        "  (1, 1, '2013-03-22 14:00:00.497', 1, 1), (2, 1, '2013-03-22 14:00:00.500', 1, 1),\n"
        "  (3, 1, '2013-03-22 14:00:00.503', 1, 1);\n"
        "INSERT INTO tbNuvoAlisVeris (aktif, mesaj, gonderme_tipi) VALUES (1, 'x', 0);");
    test::FixedClock clock(2013, 3, 22, 14, 10, 0);
    check_.CheckAfterPurchase(conn_, DT(2013, 3, 22, 14, 0, 0, 500));
    EXPECT_EQ(check_.ExecutionResult, "");
    EXPECT_THAT(Column("SELECT AlisVerisId FROM tbNuvoAlisverisGonderilen"), ElementsAre("3"));
    // Dakika NULL: the window opens at the registration moment.
    EXPECT_THAT(Queue(), ElementsAre(Row{TMesajGrubu::mgAlisVeris, "05321112233", "x", true,
                                         DT(2013, 3, 22, 14, 0, 0, 503), DT(2013, 3, 23, 14, 0, 0, 503)}));
}

INSTANTIATE_TEST_SUITE_P(Regional, AfterPurchaseRegional, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Turkish" : "English"; });

struct BoundsCase {
    const char* name;
    const char* tutarMin;
    const char* tutarMax;
    const char* adetMin;
    const char* adetMax;
    std::vector<std::string> selected;  // purchase ids, in id order
};

std::ostream& operator<<(std::ostream& os, const BoundsCase& c) { return os << c.name; }

class AfterPurchaseBounds : public CampaignTest, public ::testing::WithParamInterface<BoundsCase> {};

TEST_P(AfterPurchaseBounds, SelectsByRoundedAmountAndQuantity) {
    const BoundsCase& c = GetParam();
    Sql(kPurchaseCustomers);
    // Amounts around the rounded bounds; quantities around the quantity bounds.
    Sql(R"SQL(
INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, dteKayitTarihi, lNetTutar, lToplamMiktar) VALUES
  (1, 1, '2013-03-22 14:01:00.000', 9.99, 3),
  (2, 1, '2013-03-22 14:01:00.000', 10, 3),
  (3, 1, '2013-03-22 14:01:00.000', 12, 3),
  (4, 1, '2013-03-22 14:01:00.000', 12.01, 3),
  (5, 1, '2013-03-22 14:01:00.000', 99.99, 3),
  (6, 1, '2013-03-22 14:01:00.000', 100, 3),
  (7, 1, '2013-03-22 14:01:00.000', 251, 3),
  (8, 1, '2013-03-22 14:01:00.000', 251.01, 3),
  (9, 1, '2013-03-22 14:01:00.000', 150, 0),
  (20, 1, '2013-03-22 14:01:00.000', 150, 1),
  (21, 1, '2013-03-22 14:01:00.000', 150, 5),
  (22, 1, '2013-03-22 14:01:00.000', 150, 6),
  (23, 1, '2013-03-22 14:01:00.000', -5, 1000000),
  (24, 1, '2013-03-22 14:01:00.000', 999999999, -999999999);
)SQL");
    Sql(std::string("INSERT INTO tbNuvoAlisVeris (aktif, tutar_min, tutar_max, adet_min, adet_max, mesaj, gonderme_tipi) "
                    "VALUES (1, ") + c.tutarMin + ", " + c.tutarMax + ", " + c.adetMin + ", " + c.adetMax + ", 'x', 0);");
    test::FixedClock clock(2013, 3, 22, 14, 10, 0);
    check_.CheckAfterPurchase(conn_, DT(2013, 3, 22, 14, 0, 0));
    EXPECT_EQ(check_.ExecutionResult, "");
    EXPECT_EQ(Column("SELECT AlisVerisId FROM tbNuvoAlisverisGonderilen ORDER BY CAST(AlisVerisId AS INTEGER)"),
              c.selected);
    EXPECT_EQ(Queue().size(), c.selected.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AfterPurchaseBounds,
    ::testing::Values(
        // 99.50 rounds to the even 100, 250.75 to 251.
        BoundsCase{"HalfToEvenUp", "99.50", "250.75", "1", "5", {"6", "7", "20", "21"}},
        // 10.50 rounds to the even 10, 11.50 to the even 12.
        BoundsCase{"HalfToEvenBothWays", "10.50", "11.50", "-999999999", "999999999", {"2", "3"}},
        // 11.50 rounds to the even 12, and so does 12.50.
        BoundsCase{"HalfToEvenDown", "11.50", "12.50", "NULL", "NULL", {"3"}},
        BoundsCase{"AllNull", "NULL", "NULL", "NULL", "NULL",
                   {"1", "2", "3", "4", "5", "6", "7", "8", "9", "20", "21", "22", "23", "24"}},
        BoundsCase{"QuantityOnly", "NULL", "NULL", "1", "5", {"1", "2", "3", "4", "5", "6", "7", "8", "20", "21"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CampaignTest, AfterPurchaseNeedsAktifOfExactlyOne) {
    Sql(kPurchaseCustomers);
    Sql(kPurchases);
    test::FixedClock clock(2013, 3, 22, 14, 10, 0);
    check_.CheckAfterPurchase(conn_, DT(2013, 3, 22, 14, 0, 0));  // no settings row
    for (const char* value : {"0", "2", "NULL"}) {
        Sql("DELETE FROM tbNuvoAlisVeris;\nINSERT INTO tbNuvoAlisVeris (aktif, mesaj, gonderme_tipi) VALUES (" +
            std::string(value) + ", 'x', 0);");
        check_.CheckAfterPurchase(conn_, DT(2013, 3, 22, 14, 0, 0));
    }
    EXPECT_EQ(check_.ExecutionResult, "");
    EXPECT_THAT(Queue(), IsEmpty());
    EXPECT_THAT(Column("SELECT AlisVerisId FROM tbNuvoAlisverisGonderilen"), IsEmpty());
}

struct FixedTimeCase {
    const char* name;
    TDateTime previousCheck;
    std::vector<std::string> selected;
};

std::ostream& operator<<(std::ostream& os, const FixedTimeCase& c) { return os << c.name; }

class AfterPurchaseFixedTime : public CampaignTest, public ::testing::WithParamInterface<FixedTimeCase> {};

TEST_P(AfterPurchaseFixedTime, OnlyThePassWhoseMomentHasTheConfiguredMinute) {
    const FixedTimeCase& c = GetParam();
    Sql(kPurchaseCustomers);
    Sql("INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, dteKayitTarihi, lNetTutar, lToplamMiktar) VALUES\n"
        "  (1, 1, '2013-03-21 19:00:00.000', 1, 1), (2, 1, '2013-03-22 17:59:00.000', 1, 1),\n"
        "  (3, 1, '2013-03-22 18:00:50.000', 1, 1);\n"
        "INSERT INTO tbNuvoAlisVeris (aktif, mesaj, Dakika, gonderme_tipi, saat) "
        "VALUES (1, 'x', 45, 1, '1900-01-01 18:00:00.000');");
    test::FixedClock clock(2013, 3, 22, 18, 5, 0);
    check_.CheckAfterPurchase(conn_, c.previousCheck);
    EXPECT_EQ(check_.ExecutionResult, "");
    EXPECT_EQ(Column("SELECT AlisVerisId FROM tbNuvoAlisverisGonderilen ORDER BY id"), c.selected);
    // Every message's window opens at the previous-check moment, whatever Dakika says.
    for (const Row& r : Queue()) {
        EXPECT_EQ(Ms(r.start), Ms(c.previousCheck));
        EXPECT_EQ(Ms(r.end), Ms(c.previousCheck + 1));
        EXPECT_TRUE(r.immediately);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AfterPurchaseFixedTime,
    ::testing::Values(FixedTimeCase{"AtTheMinute", DT(2013, 3, 22, 18, 0, 45, 123), {"3"}},
                      FixedTimeCase{"LastSecondOfTheMinute", DT(2013, 3, 22, 18, 0, 59, 999), {}},
                      FixedTimeCase{"PreviousDaySameMinute", DT(2013, 3, 21, 18, 0, 0), {"1", "2", "3"}},
                      FixedTimeCase{"OneMinuteLate", DT(2013, 3, 22, 18, 1, 0), {}},
                      FixedTimeCase{"OtherHour", DT(2013, 3, 22, 17, 0, 0), {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CampaignTest, RefusedQueueInsertStillRecordsThePurchase) {
    Sql(kPurchaseCustomers);
    Sql(kPurchases);
    Sql("INSERT INTO tbNuvoAlisVeris (aktif, mesaj, gonderme_tipi) VALUES (1, 'x', 0);");
    RejectQueueRowsFor("05321112233");
    test::FixedClock clock(2013, 3, 22, 14, 10, 0);
    check_.CheckAfterPurchase(conn_, DT(2013, 3, 22, 14, 0, 0));
    EXPECT_THAT(check_.ExecutionResult, HasSubstr("queue insert refused"));
    EXPECT_THAT(Column("SELECT gsm FROM tbNuvoListe ORDER BY id"), ElementsAre("+905332223344", "+442079460958"));
    EXPECT_THAT(Column("SELECT AlisVerisId FROM tbNuvoAlisverisGonderilen ORDER BY id"), ElementsAre("10", "12", "14"));
}

TEST_F(CampaignTest, FailedRecordRowEndsThePass) {
    Sql(kPurchaseCustomers);
    Sql(kPurchases);
    Sql("INSERT INTO tbNuvoAlisVeris (aktif, mesaj, gonderme_tipi) VALUES (1, 'x', 0);\n"
        "CREATE TRIGGER trRejectRecord BEFORE INSERT ON tbNuvoAlisverisGonderilen WHEN CAST(NEW.AlisVerisId AS TEXT) = '12' "
        "BEGIN SELECT RAISE(ABORT, 'record refused'); END;");
    test::FixedClock clock(2013, 3, 22, 14, 10, 0);
    check_.CheckAfterPurchase(conn_, DT(2013, 3, 22, 14, 0, 0));
    EXPECT_THAT(check_.ExecutionResult, HasSubstr("record refused"));
    // Purchase 12 was queued before its record failed; 14 was never visited.
    EXPECT_THAT(Column("SELECT gsm FROM tbNuvoListe ORDER BY id"), ElementsAre("05321112233", "+905332223344"));
    EXPECT_THAT(Column("SELECT AlisVerisId FROM tbNuvoAlisverisGonderilen"), ElementsAre("10"));
}

// ================================================================================================
// Instalment reminders and overdue-payment notices

const char* kInstalmentFixture = R"SQL(
INSERT INTO tbKasiyer (sKasiyerRumuzu, sAdi) VALUES ('K1', 'Kasa 1');
INSERT INTO tbMusteri (nMusteriID, lKodu, sAdi, sSoyadi, sGSM) VALUES
  (1, 100, 'Ali ', ' Kaya', '0532 111 22 33'),
  (2, 50, 'Ayşe', 'Demir', '+90 533 222 33 44'),
  (3, 200, 'Bora', 'Tan', '0212 123 45 67'),
  (4, -1, 'Cem', 'Ak', '05341112233'),
  (5, 300, NULL, NULL, '0535 111 22 33'),
  (6, 400, 'Dilek', 'Ay', 'yok');
INSERT INTO tbMusteriKefil1 (nMusteriId, sAdi, sSoyadi) VALUES (1, 'Kefil', 'Bir');
INSERT INTO tbMusteriKefil2 (nMusteriId, sAdi, sSoyadi) VALUES (1, 'Kefil', 'İki');
INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, sKasiyerRumuzu, dteFaturaTarihi, dteKayitTarihi) VALUES
  (1, 1, 'K1', '2013-01-10 00:00:00.000', '2013-01-10 00:00:00.000'),
  (2, 2, 'K1', '2013-02-01 00:00:00.000', '2013-02-01 00:00:00.000'),
  (3, 3, 'K1', '2013-02-01 00:00:00.000', '2013-02-01 00:00:00.000'),
  (4, 4, 'K1', '2013-02-01 00:00:00.000', '2013-02-01 00:00:00.000'),
  (5, 5, 'K1', '2013-02-01 00:00:00.000', '2013-02-01 00:00:00.000'),
  (6, 1, 'KX', '2013-02-01 00:00:00.000', '2013-02-01 00:00:00.000'),
  (7, 1, 'K1', '2079-01-01 00:00:00.000', '2013-02-01 00:00:00.000'),
  (8, 6, 'K1', '2013-02-01 00:00:00.000', '2013-02-01 00:00:00.000');
INSERT INTO tbTaksit (nTaksitID, nAlisverisID, dteTarihi, lTutari) VALUES
  (1, 1, '2013-03-18 23:59:59.997', 100),
  (2, 1, '2013-03-19 00:00:00.000', 1234.5),
  (3, 1, '2013-03-22 09:00:00.000', 200),
  (4, 1, '2013-03-22 09:00:01.000', 100),
  (5, 2, '2013-03-20 00:00:00.000', 300),
  (6, 2, '2013-03-21 00:00:00.000', 80),
  (7, 2, '2013-03-21 00:00:00.000', 80),
  (8, 3, '2013-03-20 00:00:00.000', 10),
  (9, 4, '2013-03-20 00:00:00.000', 10),
  (10, 5, '2013-03-21 00:00:00.000', 10),
  (11, 6, '2013-03-20 00:00:00.000', 10),
  (12, 7, '2013-03-20 00:00:00.000', 10),
  (13, 1, NULL, 10),
  (14, 1, '2013-03-20 00:00:00.000', NULL),
  (15, 8, '2013-03-20 00:00:00.000', 10),
  (20, 1, '2013-03-12 00:00:00.000', 100.50),
  (21, 2, '2013-03-12 00:00:00.000', 50),
  (22, 1, '2013-03-12 10:00:00.000', 10),
  (23, 5, '2013-03-12 00:00:00.000', 100),
  (24, 5, '2013-03-12 00:00:00.000', 20);
INSERT INTO tbOdeme (nOdemeID, nTaksitID, lOdemeTutar) VALUES
  (1, 3, 200), (2, 5, 100), (3, 5, 50.25), (4, 21, 50), (5, 24, 21);
)SQL";

struct ReminderCase {
    const char* name;
    bool turkish;
    int days;
    std::vector<std::pair<std::string, std::string>> rows;  // gsm as read, text
};

std::ostream& operator<<(std::ostream& os, const ReminderCase& c) { return os << c.name; }

class InstalmentReminders : public CampaignTest, public ::testing::WithParamInterface<ReminderCase> {};

TEST_P(InstalmentReminders, RemindEveryInstalmentDueSinceTheReferenceDay) {
    const ReminderCase& c = GetParam();
    test::RegionalScope regional(c.turkish ? platform::TurkishFormatSettings() : platform::EnglishFormatSettings());
    Sql(kInstalmentFixture);
    Sql("INSERT INTO tbNuvoTaksit (aktif, saat, kalan_gun, mesaj) VALUES (1, '1900-01-01 11:00:00.750', " +
        std::to_string(c.days) + ", '{{MusteriAdi}} {{MusteriSoyadi}}: {{Tarih}} {{Tutar}}');");
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    check_.CheckInstalments(conn_);
    EXPECT_EQ(check_.ExecutionResult, "");

    std::vector<Row> expected;
    for (const auto& [gsm, text] : c.rows)
        expected.push_back(
            Row{TMesajGrubu::mgTaksit, gsm, text, false, DT(2013, 3, 22, 11, 0, 0), DT(2013, 3, 23, 11, 0, 0)});
    EXPECT_EQ(Queue(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstalmentReminders,
    ::testing::Values(
        ReminderCase{"ThreeDaysTurkish", true, 3,
                     {{"+90 533 222 33 44", "Ayşe Demir: 20.03.2013 149,75TL"},
                      {"+90 533 222 33 44", "Ayşe Demir: 21.03.2013 80,00TL"},
                      {"0532 111 22 33", "Ali Kaya: 19.03.2013 1.234,50TL"},
                      {"0532 111 22 33", "Ali Kaya: 22.03.2013 0,00TL"},
                      {"0535 111 22 33", " : 21.03.2013 10,00TL"}}},
        ReminderCase{"ThreeDaysEnglish", false, 3,
                     {{"+90 533 222 33 44", "Ayşe Demir: 20/03/2013 149.75TL"},
                      {"+90 533 222 33 44", "Ayşe Demir: 21/03/2013 80.00TL"},
                      {"0532 111 22 33", "Ali Kaya: 19/03/2013 1,234.50TL"},
                      {"0532 111 22 33", "Ali Kaya: 22/03/2013 0.00TL"},
                      {"0535 111 22 33", " : 21/03/2013 10.00TL"}}},
        ReminderCase{"Today", true, 0, {{"0532 111 22 33", "Ali Kaya: 22.03.2013 0,00TL"}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct OverdueCase {
    const char* name;
    bool turkish;
    const char* tutarMin;
    const char* tutarMax;
    std::vector<std::pair<std::string, std::string>> rows;
};

std::ostream& operator<<(std::ostream& os, const OverdueCase& c) { return os << c.name; }

class OverdueNotices : public CampaignTest, public ::testing::WithParamInterface<OverdueCase> {};

TEST_P(OverdueNotices, NotifyInstalmentsDueExactlyOnTheReferenceDay) {
    const OverdueCase& c = GetParam();
    test::RegionalScope regional(c.turkish ? platform::TurkishFormatSettings() : platform::EnglishFormatSettings());
    Sql(kInstalmentFixture);
    Sql(std::string("INSERT INTO tbNuvoGecikmisOdeme (aktif, tutar_max, tutar_min, geciken_gun, mesaj, saat) VALUES "
                    "(1, ") + c.tutarMax + ", " + c.tutarMin +
        ", 10, 'Gecikmiş {{Tarih}} {{Tutar}} {{MusteriAdi}}', '2013-01-01 12:30:00.000');");
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    check_.CheckOverduePayments(conn_);
    EXPECT_EQ(check_.ExecutionResult, "");

    std::vector<Row> expected;
    for (const auto& [gsm, text] : c.rows)
        expected.push_back(Row{TMesajGrubu::mgGecikmisOdeme, gsm, text, false, DT(2013, 3, 22, 12, 30, 0),
                               DT(2013, 3, 23, 12, 30, 0)});
    EXPECT_EQ(Queue(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OverdueNotices,
    ::testing::Values(
        OverdueCase{"NullBoundsIncludeZero", true, "NULL", "NULL",
                    {{"+90 533 222 33 44", "Gecikmiş 12.03.2013 0,00TL Ayşe"},
                     {"0532 111 22 33", "Gecikmiş 12.03.2013 100,50TL Ali"},
                     {"0535 111 22 33", "Gecikmiş 12.03.2013 100,00TL "}}},
        // 0.50 rounds to the even 0 and 100.50 to the even 100.
        OverdueCase{"HalvesRoundToEven", false, "0.50", "100.50",
                    {{"+90 533 222 33 44", "Gecikmiş 12/03/2013 0.00TL Ayşe"},
                     {"0535 111 22 33", "Gecikmiş 12/03/2013 100.00TL "}}},
        OverdueCase{"NegativeRemainderWithinBounds", true, "-1", "20",
                    {{"+90 533 222 33 44", "Gecikmiş 12.03.2013 0,00TL Ayşe"},
                     {"0535 111 22 33", "Gecikmiş 12.03.2013 -1,00TL "}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CampaignTest, InstalmentCampaignsNeedAktifOfExactlyOne) {
    Sql(kInstalmentFixture);
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    check_.CheckInstalments(conn_);  // no settings rows
    check_.CheckOverduePayments(conn_);
    for (const char* value : {"0", "2", "NULL"}) {
        Sql("DELETE FROM tbNuvoTaksit;\nDELETE FROM tbNuvoGecikmisOdeme;\n"
            "INSERT INTO tbNuvoTaksit (aktif, kalan_gun, mesaj) VALUES (" + std::string(value) + ", 30, 'x');\n"
            "INSERT INTO tbNuvoGecikmisOdeme (aktif, geciken_gun, mesaj) VALUES (" + value + ", 10, 'x');");
        check_.CheckInstalments(conn_);
        check_.CheckOverduePayments(conn_);
    }
    EXPECT_EQ(check_.ExecutionResult, "");
    EXPECT_THAT(Queue(), IsEmpty());
}

TEST_F(CampaignTest, InstalmentFailuresAreRecordedAndRefusedRowsSkipped) {
    Sql(kInstalmentFixture);
    Sql("INSERT INTO tbNuvoTaksit (aktif, kalan_gun, mesaj) VALUES (1, 3, '{{Tutar}}');");
    RejectQueueRowsFor("+90 533 222 33 44");
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    check_.CheckInstalments(conn_);
    EXPECT_THAT(check_.ExecutionResult, HasSubstr("queue insert refused"));
    EXPECT_THAT(Column("SELECT mesaj FROM tbNuvoListe ORDER BY id"), ElementsAre("1.234,50TL", "0,00TL", "10,00TL"));

    // A settings table without its days column ends the method before anything is queued.
    Sql("DROP TABLE tbNuvoGecikmisOdeme;\nCREATE TABLE tbNuvoGecikmisOdeme (id INTEGER PRIMARY KEY, aktif INT, "
        "tutar_max MONEY, tutar_min MONEY, mesaj TEXT, saat DATETIME);\nINSERT INTO tbNuvoGecikmisOdeme (aktif, mesaj) VALUES (1, 'x');");
    check_.CheckOverduePayments(conn_);
    EXPECT_THAT(check_.ExecutionResult, HasSubstr("geciken_gun"));
    EXPECT_EQ(Queue().size(), 3u);
}

TEST_F(CampaignTest, OutlandishDayCountsAreReportedNotSentToTheServer) {
    Sql(kInstalmentFixture);
    Sql("INSERT INTO tbNuvoTaksit (aktif, kalan_gun, mesaj) VALUES (1, 2147483647, 'x');\n"
        "INSERT INTO tbNuvoGecikmisOdeme (aktif, geciken_gun, mesaj) VALUES (1, -2147483648, 'x');");
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    EXPECT_NO_THROW(check_.CheckInstalments(conn_));
    EXPECT_THAT(check_.ExecutionResult, HasSubstr("2147483647"));
    EXPECT_NO_THROW(check_.CheckOverduePayments(conn_));
    EXPECT_THAT(check_.ExecutionResult, HasSubstr("-2147483648"));
    EXPECT_THAT(Queue(), IsEmpty());
}

TEST_F(CampaignTest, MissingErpTableEndsTheInstalmentQuery) {
    Sql(kInstalmentFixture);
    Sql("DROP TABLE tbOdeme;\nINSERT INTO tbNuvoTaksit (aktif, kalan_gun, mesaj) VALUES (1, 3, 'x');");
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    check_.CheckInstalments(conn_);
    EXPECT_THAT(check_.ExecutionResult, HasSubstr("tbOdeme"));
    EXPECT_THAT(Queue(), IsEmpty());
}

} // namespace
