// The generation run over tenants: the once-a-day bookkeeping in "tbNuvoSonKontrol", the after-purchase
// moment, what a failure leaves in the result text, the two time helpers and the one enqueue routine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <string>
#include <vector>

#include "campaigns/SMSCheck.h"
#include "db/DbConnection.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "tests/TestSupport.h"

using namespace velmora;
using campaigns::TSMSCheck;
using queue::TMesajGrubu;
using test::DT;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

namespace {

int64_t Ms(TDateTime t) { return DateTimeToMilliseconds(t); }

struct Queued {
    int group = 0;
    std::string gsm;
    std::string text;
    bool operator==(const Queued& o) const { return group == o.group && gsm == o.gsm && text == o.text; }
};

std::ostream& operator<<(std::ostream& os, const Queued& q) {
    return os << "{" << q.group << ", \"" << q.gsm << "\", \"" << q.text << "\"}";
}

// The queue rows with an id above `afterId`, oldest first.
std::vector<Queued> QueuedSince(const std::string& dbPath, int afterId = 0) {
    db::TDbConnection c;
    c.Server = "sqlite:" + dbPath;
    c.SetConnected(true);
    db::TDbQuery q(&c);
    q.SetSQL("SELECT * FROM tbNuvoListe WHERE id > " + std::to_string(afterId) + " ORDER BY id");
    q.Open();
    std::vector<Queued> rows;
    for (int i = 0, n = q.RecordCount(); i < n; ++i, q.Next())
        rows.push_back({q.FieldByName("mesaj_grubu").AsInteger(), q.FieldByName("gsm").AsString(),
                        q.FieldByName("mesaj").AsString()});
    return rows;
}

int LastQueueId(const std::string& dbPath) {
    db::TDbConnection c;
    c.Server = "sqlite:" + dbPath;
    c.SetConnected(true);
    db::TDbQuery q(&c);
    q.SetSQL("SELECT MAX(id) AS m FROM tbNuvoListe");
    q.Open();
    return q.FieldByName("m").AsInteger();
}

struct Stamps {
    int rows = 0;
    bool afterPurchaseNull = true, specialNull = true, instalmentNull = true, overdueNull = true;
    TDateTime afterPurchase = 0, special = 0, instalment = 0, overdue = 0;
};

Stamps ReadStamps(const std::string& dbPath) {
    db::TDbConnection c;
    c.Server = "sqlite:" + dbPath;
    c.SetConnected(true);
    db::TDbQuery q(&c);
    q.SetSQL("SELECT * FROM tbNuvoSonKontrol");
    q.Open();
    Stamps s;
    s.rows = q.RecordCount();
    s.afterPurchaseNull = q.FieldByName("alisveris_sonrasi").IsNull();
    s.specialNull = q.FieldByName("ozel_gunler").IsNull();
    s.instalmentNull = q.FieldByName("taksit_hatirlatma").IsNull();
    s.overdueNull = q.FieldByName("gecikmis_odeme").IsNull();
    s.afterPurchase = q.FieldByName("alisveris_sonrasi").AsDateTime();
    s.special = q.FieldByName("ozel_gunler").AsDateTime();
    s.instalment = q.FieldByName("taksit_hatirlatma").AsDateTime();
    s.overdue = q.FieldByName("gecikmis_odeme").AsDateTime();
    return s;
}

// Birthday greetings at 10:00, instalment reminders for today's instalments (kalan_gun 0), overdue notices
// for yesterday's (geciken_gun 1) and after-purchase messages right after the purchase.
const char* kCampaigns = R"SQL(
INSERT INTO tbNuvoOzelGun (dogum_gunu_gonder, dogum_gunu_saat, dogum_gunu_mesaj, evlilik_yildonumu_gonder,
  cocuk_dogum_gunu_gonder) VALUES (1, '1900-01-01 10:00:00.000', 'Mutlu yıllar {{MusteriAdi}}', 0, 0);
INSERT INTO tbNuvoTaksit (aktif, saat, kalan_gun, mesaj) VALUES (1, '1900-01-01 11:00:00.000', 0, 'Taksit {{Tarih}} {{Tutar}}');
INSERT INTO tbNuvoGecikmisOdeme (aktif, tutar_max, tutar_min, geciken_gun, mesaj, saat)
  VALUES (1, NULL, NULL, 1, 'Gecikme {{Tarih}} {{Tutar}}', '1900-01-01 12:00:00.000');
INSERT INTO tbNuvoAlisVeris (aktif, mesaj, Dakika, gonderme_tipi) VALUES (1, 'Teşekkürler {{MusteriAdi}}', 0, 0);
INSERT INTO tbKasiyer (sKasiyerRumuzu, sAdi) VALUES ('K1', 'Kasa');
INSERT INTO tbMusteri (nMusteriID, lKodu, sAdi, sSoyadi, sGSM, dteDogumTarihi)
  VALUES (1, 10, 'Ali', 'Kaya', '0532 111 22 33', '1980-03-22 00:00:00.000');
INSERT INTO tbMusteri (nMusteriID, lKodu, sAdi, sSoyadi, sGSM, dteDogumTarihi)
  VALUES (2, 20, 'Ayşe', 'Demir', '0533 222 33 44', '1985-03-23 00:00:00.000');
INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, sKasiyerRumuzu, dteFaturaTarihi, dteKayitTarihi, lNetTutar, lToplamMiktar)
  VALUES (1, 1, 'K1', '2013-01-10 00:00:00.000', '2013-01-10 10:00:00.000', 150, 1);
INSERT INTO tbTaksit (nTaksitID, nAlisverisID, dteTarihi, lTutari) VALUES (1, 1, '2013-03-21 00:00:00.000', 40);
INSERT INTO tbTaksit (nTaksitID, nAlisverisID, dteTarihi, lTutari) VALUES (2, 1, '2013-03-22 00:00:00.000', 50);
INSERT INTO tbTaksit (nTaksitID, nAlisverisID, dteTarihi, lTutari) VALUES (3, 1, '2013-03-23 00:00:00.000', 60);
)SQL";

const int kBirthday = queue::Ord(TMesajGrubu::mgDogumGunu);
const int kReminder = queue::Ord(TMesajGrubu::mgTaksit);
const int kOverdue = queue::Ord(TMesajGrubu::mgGecikmisOdeme);
const int kPurchase = queue::Ord(TMesajGrubu::mgAlisVeris);

class GenerationRun : public ::testing::Test {
protected:
    test::TempDir dir_;
    test::RegionalScope regional_{platform::TurkishFormatSettings()};

    std::string Tenant(const std::string& name, const std::string& extraSql = kCampaigns) {
        std::string path = test::MakeTenantDatabase(dir_, name);
        if (!extraSql.empty()) test::RunSqliteScript(path, extraSql);
        return path;
    }

    // The registry lists the tenants in this order; every later Run serves them again.
    void Register(const std::vector<std::string>& tenants) { settings_ = test::MakeProgramDatabase(dir_, tenants); }

    std::string Run() {
        test::ScopedEnv env("VELMORA_SETTINGS_FILE", settings_);
        TSMSCheck check;
        return check.Execute();
    }

    std::string settings_;
};

// ------------------------------------------------------------------------------------------------
// Bookkeeping

TEST_F(GenerationRun, DailyCampaignsRunOncePerDayWhileAfterPurchaseRunsEveryTime) {
    const std::string t = Tenant("tenant.db");
    Register({t});

    // First run of the day: the bookkeeping row does not exist yet.
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    EXPECT_EQ(Run(), "");
    EXPECT_THAT(QueuedSince(t), ::testing::ElementsAre(Queued{kBirthday, "0532 111 22 33", "Mutlu yıllar Ali"},
                                                       Queued{kReminder, "0532 111 22 33", "Taksit 22.03.2013 50,00TL"},
                                                       Queued{kOverdue, "0532 111 22 33", "Gecikme 21.03.2013 40,00TL"}));
    Stamps s = ReadStamps(t);
    EXPECT_EQ(s.rows, 1);
    EXPECT_EQ(Ms(s.afterPurchase), Ms(DT(2013, 3, 22, 9, 0, 0)));
    EXPECT_EQ(Ms(s.special), Ms(DT(2013, 3, 22)));
    EXPECT_EQ(Ms(s.instalment), Ms(DT(2013, 3, 22)));
    EXPECT_EQ(Ms(s.overdue), Ms(DT(2013, 3, 22)));

    // Second run the same day: only the after-purchase step finds something new.
    test::RunSqliteScript(t, "INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, sKasiyerRumuzu, dteFaturaTarihi, "
                             "dteKayitTarihi, lNetTutar, lToplamMiktar) VALUES (2, 2, 'K1', '2013-03-22 12:00:00.000', "
                             "'2013-03-22 12:00:00.000', 75, 2);");
    int last = LastQueueId(t);
    clock.Set(DT(2013, 3, 22, 15, 40, 0));
    EXPECT_EQ(Run(), "");
    EXPECT_THAT(QueuedSince(t, last), ::testing::ElementsAre(Queued{kPurchase, "05332223344", "Teşekkürler Ayşe"}));
    s = ReadStamps(t);
    EXPECT_EQ(s.rows, 1);
    EXPECT_EQ(Ms(s.afterPurchase), Ms(DT(2013, 3, 22, 15, 40, 0)));
    EXPECT_EQ(Ms(s.special), Ms(DT(2013, 3, 22)));

    // Just after midnight the daily campaigns run again and store the new day.
    last = LastQueueId(t);
    clock.Set(DT(2013, 3, 23, 0, 5, 0));
    EXPECT_EQ(Run(), "");
    EXPECT_THAT(QueuedSince(t, last),
                ::testing::ElementsAre(Queued{kBirthday, "0533 222 33 44", "Mutlu yıllar Ayşe"},
                                       Queued{kReminder, "0532 111 22 33", "Taksit 23.03.2013 60,00TL"},
                                       Queued{kOverdue, "0532 111 22 33", "Gecikme 22.03.2013 50,00TL"}));
    s = ReadStamps(t);
    EXPECT_EQ(s.rows, 1);
    EXPECT_EQ(Ms(s.afterPurchase), Ms(DT(2013, 3, 23, 0, 5, 0)));
    EXPECT_EQ(Ms(s.special), Ms(DT(2013, 3, 23)));
    EXPECT_EQ(Ms(s.instalment), Ms(DT(2013, 3, 23)));
    EXPECT_EQ(Ms(s.overdue), Ms(DT(2013, 3, 23)));
}

TEST_F(GenerationRun, EmptyBookkeepingTableStartsAfterPurchaseAtTheServerTime) {
    // One purchase just before the server's current time, one registered after it (a clock running ahead).
    const std::string t = Tenant("tenant.db");
    test::RunSqliteScript(t, R"SQL(
INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, sKasiyerRumuzu, dteKayitTarihi, lNetTutar, lToplamMiktar)
  VALUES (3, 1, 'K1', '2013-03-22 08:59:59.999', 10, 1);
INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, sKasiyerRumuzu, dteKayitTarihi, lNetTutar, lToplamMiktar)
  VALUES (4, 2, 'K1', '2013-03-22 09:30:00.000', 10, 1);
)SQL");
    Register({t});
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    EXPECT_EQ(Run(), "");
    const std::vector<Queued> rows = QueuedSince(t);
    ASSERT_EQ(rows.size(), 4u);  // the three daily campaigns and one purchase
    EXPECT_EQ(rows[0].group, kPurchase);
    EXPECT_EQ(rows[0].gsm, "05332223344");
    EXPECT_EQ(rows[1].group, kBirthday);
    EXPECT_EQ(rows[2].group, kReminder);
    EXPECT_EQ(rows[3].group, kOverdue);
    const Stamps s = ReadStamps(t);
    EXPECT_EQ(s.rows, 1);
    EXPECT_FALSE(s.afterPurchaseNull || s.specialNull || s.instalmentNull || s.overdueNull);
}

TEST_F(GenerationRun, AfterPurchaseWorksFromTheStoredMoment) {
    const std::string t = Tenant("tenant.db", std::string(kCampaigns) + R"SQL(
INSERT INTO tbNuvoSonKontrol (alisveris_sonrasi, ozel_gunler, taksit_hatirlatma, gecikmis_odeme)
  VALUES ('2013-03-22 08:00:00.000', '2013-03-22 00:00:00.000', '2013-03-22 00:00:00.000', '2013-03-22 00:00:00.000');
INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, sKasiyerRumuzu, dteKayitTarihi, lNetTutar, lToplamMiktar)
  VALUES (3, 1, 'K1', '2013-03-22 07:59:59.999', 10, 1);
INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, sKasiyerRumuzu, dteKayitTarihi, lNetTutar, lToplamMiktar)
  VALUES (4, 2, 'K1', '2013-03-22 08:00:00.001', 10, 1);
)SQL");
    Register({t});
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    EXPECT_EQ(Run(), "");
    EXPECT_THAT(QueuedSince(t), ::testing::ElementsAre(Queued{kPurchase, "05332223344", "Teşekkürler Ayşe"}));
    EXPECT_EQ(Ms(ReadStamps(t).afterPurchase), Ms(DT(2013, 3, 22, 9, 0, 0)));
}

struct StampCase {
    const char* name;
    const char* stored;  // nullptr: NULL
    TDateTime now;
    bool runs;
};

std::ostream& operator<<(std::ostream& os, const StampCase& c) { return os << c.name; }

class DailyStampTest : public GenerationRun, public ::testing::WithParamInterface<StampCase> {};

TEST_P(DailyStampTest, RunsOnlyWhenTodayIsLaterThanTheStoredDay) {
    const StampCase& c = GetParam();
    const std::string stored = c.stored ? "'" + std::string(c.stored) + "'" : "NULL";
    const std::string t = Tenant("tenant.db", "INSERT INTO tbNuvoSonKontrol (ozel_gunler, taksit_hatirlatma, "
                                              "gecikmis_odeme) VALUES (" + stored + ", " + stored + ", " + stored + ");");
    Register({t});
    test::FixedClock clock(c.now);
    EXPECT_EQ(Run(), "");
    const Stamps s = ReadStamps(t);
    EXPECT_EQ(s.rows, 1);
    TDateTime expected = DateOf(c.now);
    if (!c.runs) {
        ASSERT_NE(c.stored, nullptr);
        ASSERT_TRUE(TryParseIsoDateTime(c.stored, expected));
    }
    EXPECT_EQ(Ms(s.special), Ms(expected));
    EXPECT_EQ(Ms(s.instalment), Ms(expected));
    EXPECT_EQ(Ms(s.overdue), Ms(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Comparisons, DailyStampTest,
    ::testing::Values(StampCase{"NullAlwaysRuns", nullptr, DT(2013, 3, 22, 9, 0, 0), true},
                      StampCase{"SameDayLaterHour", "2013-03-21 15:40:00.000", DT(2013, 3, 21, 23, 59, 59), false},
                      StampCase{"NextDayJustAfterMidnight", "2013-03-21 15:40:00.000", DT(2013, 3, 22, 0, 5, 0), true},
                      StampCase{"StoredDayLaterThanToday", "2013-03-25 00:00:00.000", DT(2013, 3, 22, 9, 0, 0), false}));

TEST_F(GenerationRun, AfterPurchaseStampMovesEvenWhenTheCampaignFailed) {
    const std::string t = Tenant("tenant.db", std::string(kCampaigns) + R"SQL(
DROP TABLE tbNuvoAlisVeris;
INSERT INTO tbNuvoSonKontrol (alisveris_sonrasi) VALUES ('2013-03-22 08:00:00.000');
)SQL");
    Register({t});
    test::FixedClock clock(2013, 3, 22, 9, 0, 0, 250);
    EXPECT_THAT(Run(), HasSubstr("tbNuvoAlisVeris"));
    const Stamps s = ReadStamps(t);
    EXPECT_EQ(Ms(s.afterPurchase), Ms(DT(2013, 3, 22, 9, 0, 0, 250)));
    // The later steps of the tenant still ran.
    EXPECT_EQ(QueuedSince(t).size(), 3u);
    EXPECT_EQ(Ms(s.special), Ms(DT(2013, 3, 22)));
}

TEST_F(GenerationRun, APurchaseRegisteredWhileTheStepRunsIsTakenByTheNextPass) {
    // The trigger registers purchase 5 at the moment purchase 4's message is queued, i.e. during the step.
    const std::string t = Tenant("tenant.db", std::string(kCampaigns) + R"SQL(
INSERT INTO tbNuvoSonKontrol (alisveris_sonrasi, ozel_gunler, taksit_hatirlatma, gecikmis_odeme)
  VALUES ('2013-03-22 08:00:00.000', '2013-03-22 00:00:00.000', '2013-03-22 00:00:00.000', '2013-03-22 00:00:00.000');
INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, sKasiyerRumuzu, dteKayitTarihi, lNetTutar, lToplamMiktar)
  VALUES (4, 2, 'K1', '2013-03-22 08:30:00.000', 10, 1);
CREATE TRIGGER registeredDuringTheStep AFTER INSERT ON tbNuvoAlisverisGonderilen WHEN NEW.AlisVerisId = '4'
BEGIN
  INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, sKasiyerRumuzu, dteKayitTarihi, lNetTutar, lToplamMiktar)
    VALUES (5, 1, 'K1', (SELECT MAX(kayit_tarihi) FROM tbNuvoListe), 10, 1);
END;
)SQL");
    Register({t});
    // A clock that moves one second at every reading, so the step takes time.
    int64_t readings = 0;
    const int64_t start = DateTimeToMilliseconds(DT(2013, 3, 22, 9, 0, 0));
    platform::SetClockSource([&] { return MillisecondsToDateTime(start + 1000 * readings++); });
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(Run(), "");
    platform::ResetClock();
    EXPECT_THAT(QueuedSince(t), ::testing::ElementsAre(Queued{kPurchase, "05332223344", "Teşekkürler Ayşe"},
                                                       Queued{kPurchase, "05321112233", "Teşekkürler Ali"}));
}

// ------------------------------------------------------------------------------------------------
// Failures and the result text

TEST_F(GenerationRun, UnreachableTenantIsReportedAndTheNextIsServed) {
    const std::string missing = dir_.File("missing.db");
    const std::string t = Tenant("tenant.db");
    Register({missing, t});
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    EXPECT_THAT(Run(), HasSubstr(missing));
    EXPECT_EQ(QueuedSince(t).size(), 3u);
}

TEST_F(GenerationRun, BookkeepingFailureEndsThePassAndKeepsTheEarlierMessage) {
    // The store summaries fail first (caught inside), then the bookkeeping table cannot be read.
    const std::string broken =
        Tenant("broken.db", std::string(kCampaigns) + "DROP TABLE tbNuvoPerakende;\nDROP TABLE tbNuvoSonKontrol;\n");
    const std::string fine = Tenant("fine.db");
    Register({broken, fine});
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    const std::string result = Run();
    EXPECT_THAT(result, MatchesRegex(".*tbNuvoSonKontrol.*: .*tbNuvoPerakende.*")) << result;
    EXPECT_TRUE(QueuedSince(broken).empty());  // nothing after the bookkeeping step ran
    EXPECT_EQ(QueuedSince(fine).size(), 3u);
}

TEST_F(GenerationRun, FirstTenantsFailureIsKeptWhenTheSecondSucceeds) {
    const std::string first = Tenant("first.db", std::string(kCampaigns) + "DROP TABLE tbNuvoTaksit;\n");
    const std::string second = Tenant("second.db");
    Register({first, second});
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    const std::string result = Run();
    EXPECT_EQ(result, "no such table: tbNuvoTaksit");  // the server's text alone: no tenant pass ended early
    // The failed campaign's day is recorded all the same; the campaigns around it ran.
    EXPECT_EQ(Ms(ReadStamps(first).instalment), Ms(DT(2013, 3, 22)));
    EXPECT_EQ(QueuedSince(first).size(), 2u);
    EXPECT_EQ(QueuedSince(second).size(), 3u);
}

TEST_F(GenerationRun, BookkeepingTableWithoutKeyKeepsItsStamps) {
    // The table may have neither identity nor primary key; every stamp after the first insert is an update.
    const std::string t = Tenant("tenant.db", std::string(kCampaigns) +
                                                  "DROP TABLE tbNuvoSonKontrol;\n"
                                                  "CREATE TABLE tbNuvoSonKontrol (alisveris_sonrasi DATETIME, ozel_gunler "
                                                  "DATETIME, taksit_hatirlatma DATETIME, gecikmis_odeme DATETIME);\n");
    Register({t});
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    EXPECT_EQ(Run(), "");
    EXPECT_EQ(QueuedSince(t).size(), 3u);
    Stamps s = ReadStamps(t);
    EXPECT_EQ(s.rows, 1);
    EXPECT_EQ(Ms(s.afterPurchase), Ms(DT(2013, 3, 22, 9, 0, 0)));
    EXPECT_EQ(Ms(s.overdue), Ms(DT(2013, 3, 22)));

    // The same day again: the daily campaigns stay quiet, the stamps move on in the one row.
    const int last = LastQueueId(t);
    clock.Set(DT(2013, 3, 22, 15, 40, 0));
    EXPECT_EQ(Run(), "");
    EXPECT_TRUE(QueuedSince(t, last).empty());
    s = ReadStamps(t);
    EXPECT_EQ(s.rows, 1);
    EXPECT_EQ(Ms(s.afterPurchase), Ms(DT(2013, 3, 22, 15, 40, 0)));
}

TEST_F(GenerationRun, TenantLockedByAnotherSessionEndsAtTheCommandTimeOutAndTheRunGoesOn) {
    const std::string locked = Tenant("locked.db");
    const std::string fine = Tenant("fine.db");
    Register({locked, fine});
    std::string text = platform::ReadWholeFile(settings_);
    text.replace(text.find("</VeriTabani>"), 13, "<KomutZamanAsimi>1</KomutZamanAsimi></VeriTabani>");
    platform::WriteFileReplacing(settings_, text);

    // Another program holds the write lock of the first tenant's database for the whole run.
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(locked.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    const std::string result = Run();
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);

    EXPECT_THAT(result, HasSubstr("command time-out of 1 s")) << result;
    EXPECT_THAT(result, HasSubstr("locked.db")) << result;
    EXPECT_TRUE(QueuedSince(locked).empty());
    EXPECT_EQ(ReadStamps(locked).rows, 0);
    EXPECT_EQ(QueuedSince(fine).size(), 3u);
    EXPECT_EQ(ReadStamps(fine).rows, 1);
}

TEST_F(GenerationRun, UnreadableSettingsFileVisitsNoTenant) {
    const std::string t = Tenant("tenant.db");
    settings_ = dir_.File("absent.xml");
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    const std::string result = Run();
    const std::string prefix = "Veri tabanı bağlantısı yapılamadı: ";
    ASSERT_GT(result.size(), prefix.size());
    EXPECT_EQ(result.substr(0, prefix.size()), prefix);
    EXPECT_THAT(result, HasSubstr("absent.xml"));
    EXPECT_TRUE(QueuedSince(t).empty());
}

TEST_F(GenerationRun, RegistryWithoutItsColumnsFailsTheRun) {
    const std::string program = dir_.File("program.db");
    test::RunSqliteScript(program, "CREATE TABLE tbNuvoVeriTabani (id INTEGER PRIMARY KEY, aktif INT);\n"
                                   "INSERT INTO tbNuvoVeriTabani (aktif) VALUES (1);\n");
    settings_ = dir_.File("Settings.xml");
    test::WriteSettingsFile(settings_, program);
    test::ScopedEnv env("VELMORA_SETTINGS_FILE", settings_);
    TSMSCheck check;
    EXPECT_THROW(check.Execute(), Error);
}

// ------------------------------------------------------------------------------------------------
// Time helpers

struct CombineCase {
    TDateTime date, time, expected;
};

TEST(TimeHelpers, CombineDateAndTime) {
    const CombineCase cases[] = {
        {DT(2013, 3, 22, 10, 0, 0), DT(1899, 12, 30, 9, 15, 30, 250), DT(2013, 3, 22, 9, 15, 30)},
        {DT(2013, 3, 22, 23, 59, 59, 999), DT(1900, 1, 1), DT(2013, 3, 22)},
        {DT(2013, 3, 22), DT(2013, 1, 5, 18, 45, 59, 999), DT(2013, 3, 22, 18, 45, 59)},
        {DT(2012, 2, 29, 1, 2, 3), DT(1900, 1, 1, 23, 59, 0), DT(2012, 2, 29, 23, 59, 0)},
    };
    for (const CombineCase& c : cases)
        EXPECT_EQ(Ms(TSMSCheck::CombineDateAndTime(c.date, c.time)), Ms(c.expected)) << FormatIsoDateTime(c.expected);
}

struct HourMinuteCase {
    TDateTime a, b;
    bool same;
};

TEST(TimeHelpers, SameHourAndMinute) {
    const HourMinuteCase cases[] = {
        {DT(2013, 3, 22, 10, 15, 0), DT(2001, 7, 1, 10, 15, 59, 999), true},
        {DT(2013, 3, 22, 10, 15), DT(2013, 3, 22, 11, 15), false},
        {DT(2013, 3, 22, 10, 15), DT(2013, 3, 22, 10, 16), false},
        {DT(1899, 12, 30), DT(2013, 3, 22), true},
        {DT(2013, 3, 22, 18, 0, 59, 999), DT(1900, 1, 1, 18, 0), true},
        {DT(2013, 3, 22, 18, 1, 0), DT(1900, 1, 1, 18, 0), false},
    };
    for (const HourMinuteCase& c : cases)
        EXPECT_EQ(TSMSCheck::SameHourAndMinute(c.a, c.b), c.same) << FormatIsoDateTime(c.a) << " / " << FormatIsoDateTime(c.b);
}

// ------------------------------------------------------------------------------------------------
// AddToQueue

class AddToQueueTest : public ::testing::Test {
protected:
    AddToQueueTest() {
        path_ = test::MakeTenantDatabase(dir_, "tenant.db");
        conn_.Server = "sqlite:" + path_;
        conn_.SetConnected(true);
        conn_.ExecSQL("SET DATEFORMAT dmy");
    }

    // The stored text of one column of the only row, read past the facade.
    std::string RawText(const std::string& column) {
        sqlite3* db = nullptr;
        std::string out = "<no row>";
        if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* st = nullptr;
            const std::string sql = "SELECT " + column + " FROM tbNuvoListe";
            if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW) {
                const unsigned char* p = sqlite3_column_text(st, 0);
                out = p ? reinterpret_cast<const char*>(p) : "<null>";
            }
            sqlite3_finalize(st);
        }
        sqlite3_close(db);
        return out;
    }

    test::TempDir dir_;
    std::string path_;
    db::TDbConnection conn_;
    TSMSCheck check_;
};

TEST_F(AddToQueueTest, WritesExactlyTheRow) {
    test::FixedClock clock(2013, 3, 22, 9, 41, 12, 345);
    check_.AddToQueue(conn_, TMesajGrubu::mgTaksit, " 0532 111 22 33 ", "a &amp; b", true, DT(2013, 3, 22, 11, 0, 0),
                      DT(2013, 3, 23, 11, 0, 0, 7), 3);
    EXPECT_EQ(check_.ExecutionResult, "");

    db::TDbQuery q(&conn_);
    q.SetSQL("SELECT * FROM tbNuvoListe");
    q.Open();
    ASSERT_EQ(q.RecordCount(), 1);
    EXPECT_EQ(q.FieldByName("mesaj_grubu").AsInteger(), 7);
    EXPECT_EQ(q.FieldByName("gsm").AsString(), " 0532 111 22 33 ");
    EXPECT_EQ(q.FieldByName("mesaj").AsString(), "a &amp; b");
    EXPECT_EQ(q.FieldByName("durum").AsInteger(), 0);
    EXPECT_TRUE(q.FieldByName("rapor_id").IsNull());
    EXPECT_TRUE(q.FieldByName("aciklama").IsNull());
    EXPECT_EQ(q.FieldByName("hemen_gonder").AsInteger(), 1);
    EXPECT_EQ(Ms(q.FieldByName("gonderme_baslangic").AsDateTime()), Ms(DT(2013, 3, 22, 11, 0, 0)));
    EXPECT_EQ(Ms(q.FieldByName("gonderme_bitis").AsDateTime()), Ms(DT(2013, 3, 23, 11, 0, 0, 7)));
    EXPECT_EQ(q.FieldByName("sms_sayisi").AsInteger(), 3);
    // Stored in datetime's 1/300 s steps, as SQL Server keeps it.
    EXPECT_EQ(Ms(q.FieldByName("kayit_tarihi").AsDateTime()), Ms(DT(2013, 3, 22, 9, 41, 12, 347)));
    EXPECT_TRUE(q.FieldByName("gonderme_tarihi").IsNull());
    EXPECT_TRUE(q.FieldByName("originator").IsNull());
    EXPECT_TRUE(q.FieldByName("sms_tipi").IsNull());
    // Stored in the one fixed-width form that text comparison orders.
    EXPECT_EQ(RawText("gonderme_bitis"), "2013-03-23 11:00:00.007");
    EXPECT_EQ(RawText("kayit_tarihi"), "2013-03-22 09:41:12.347");
}

TEST_F(AddToQueueTest, SendLaterIsZeroAndIdenticalCallsInsertTwoRows) {
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    for (int i = 0; i < 2; ++i)
        check_.AddToQueue(conn_, TMesajGrubu::mgDogumGunu, "05321112233", "x", false, DT(2013, 3, 22, 10, 0, 0),
                          DT(2013, 3, 23, 10, 0, 0), 1);
    EXPECT_EQ(check_.ExecutionResult, "");
    db::TDbQuery q(&conn_);
    q.SetSQL("SELECT hemen_gonder, mesaj_grubu FROM tbNuvoListe");
    q.Open();
    ASSERT_EQ(q.RecordCount(), 2);
    EXPECT_EQ(q.FieldByName("hemen_gonder").AsInteger(), 0);
    EXPECT_EQ(q.FieldByName("mesaj_grubu").AsInteger(), 4);
}

TEST_F(AddToQueueTest, RejectedInsertIsRecordedAndTheNextCallInserts) {
    test::RunSqliteScript(path_, "CREATE TRIGGER trRejectNumber BEFORE INSERT ON tbNuvoListe WHEN NEW.gsm = 'bad' "
                                 "BEGIN SELECT RAISE(ABORT, 'number rejected by the server'); END;");
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    check_.AddToQueue(conn_, TMesajGrubu::mgAlisVeris, "bad", "x", true, DT(2013, 3, 22), DT(2013, 3, 23), 1);
    EXPECT_THAT(check_.ExecutionResult, HasSubstr("number rejected by the server"));
    EXPECT_EQ(RawText("COUNT(*)"), "0");

    check_.AddToQueue(conn_, TMesajGrubu::mgAlisVeris, "05321112233", "y", true, DT(2013, 3, 22), DT(2013, 3, 23), 1);
    EXPECT_EQ(RawText("COUNT(*)"), "1");
    EXPECT_EQ(RawText("gsm"), "05321112233");
    // Never cleared during a run: the failure stays the result.
    EXPECT_THAT(check_.ExecutionResult, HasSubstr("number rejected by the server"));
}

TEST_F(AddToQueueTest, MissingColumnOrClosedConnectionIsRecordedNotThrown) {
    test::RunSqliteScript(path_, "DROP TABLE tbNuvoListe;\nCREATE TABLE tbNuvoListe (id INTEGER PRIMARY KEY "
                                 "AUTOINCREMENT, mesaj_grubu INT, gsm VARCHAR(100), mesaj TEXT);\n");
    conn_.SetConnected(false);
    conn_.SetConnected(true);
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    EXPECT_NO_THROW(
        check_.AddToQueue(conn_, TMesajGrubu::mgTaksit, "05321112233", "x", false, DT(2013, 3, 22), DT(2013, 3, 23), 1));
    EXPECT_THAT(check_.ExecutionResult, HasSubstr("durum"));
    EXPECT_EQ(RawText("COUNT(*)"), "0");

    db::TDbConnection closed;
    EXPECT_NO_THROW(
        check_.AddToQueue(closed, TMesajGrubu::mgTaksit, "05321112233", "x", false, DT(2013, 3, 22), DT(2013, 3, 23), 1));
    EXPECT_FALSE(check_.ExecutionResult.empty());
    EXPECT_THAT(check_.ExecutionResult, ::testing::Not(HasSubstr("durum")));
}

TEST_F(AddToQueueTest, ServerTimeIsTheDatabaseClock) {
    test::FixedClock clock(2013, 3, 22, 9, 41, 12, 345);
    // GETDATE() is a datetime: 1/300 s steps.
    EXPECT_EQ(Ms(TSMSCheck::GetServerDateTime(conn_)), Ms(DT(2013, 3, 22, 9, 41, 12, 347)));
    db::TDbConnection closed;
    EXPECT_THROW(TSMSCheck::GetServerDateTime(closed), Error);
}

} // namespace
