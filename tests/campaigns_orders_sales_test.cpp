// Prepaid-order notices and store sales summaries against a tenant database made from our schema.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "campaigns/SMSCheck.h"
#include "db/DbConnection.h"
#include "platform/Clock.h"
#include "platform/Regional.h"
#include "tests/TestSupport.h"

using namespace velmora;
using test::DT;

namespace {

using QueuedRow = test::QueueRow;

// One tenant database, connected as the generation run connects it.
class TenantTest : public test::TenantTest {
protected:

    std::vector<int> Ints(const std::string& sql) {
        db::TDbQuery q(&tenant_);
        q.SetSQL(sql);
        q.Open();
        std::vector<int> out;
        for (int i = 0, n = q.RecordCount(); i < n; ++i, q.Next()) out.push_back(q.Fields(1).AsInteger());
        return out;
    }

    campaigns::TSMSCheck check_;
};

// ================================================================ prepaid orders

class PrepaidOrdersTest : public TenantTest {
protected:
    void SetUp() override {
        TenantTest::SetUp();
        Sql("INSERT INTO tbNuvoOnOdemeliSiparis (aktif, mesaj) VALUES (1, "
            "'Sayın {{MusteriAdi}} {{MusteriSoyadi}}, {{Tarih}} tarihli {{Tutar}} siparişiniz onaylandı.');"
            "INSERT INTO tbMusteri (nMusteriID, sAdi, sSoyadi, sGSM) VALUES "
            "(1, '  Ayşe ', ' O''Brien ', '0532 123 45 67'),"
            "(2, 'Ali', 'Kaya', '0212 555 55 55'),"  // a landline: no message
            "(3, NULL, '', '+90 533 111 22 33');"
            "INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, dteFaturaTarihi, lNetTutar) VALUES "
            "(10, 1, '2013-03-05 14:30:00.000', 1234.5),"
            "(11, 1, '2013-03-20 09:00:00.000', 0.5),"
            "(12, 2, '2013-03-21 10:00:00.000', 50),"
            "(13, 3, '2013-03-21 10:00:00.000', 1000000);");
    }

    void AddOrder(int id, int purchase, const std::string& approved, int delivered = 0,
                  const std::string& aciklama = "'1'") {
        Sql("INSERT INTO tbAlisverisSiparis (nSiparisID, nAlisverisID, bTeslimEdildi, dteOnayTarihi, sAciklama) "
            "VALUES (" + std::to_string(id) + ", " + std::to_string(purchase) + ", " + std::to_string(delivered) +
            ", '" + approved + "', " + aciklama + ");");
    }

    std::vector<int> Recorded() { return Ints("SELECT SiparisId FROM tbNuvoOnOdemeliSiparisGonderilen ORDER BY SiparisId"); }

    void Run() { check_.CheckPrepaidOrders(tenant_, platform::Now()); }

    test::FixedClock clock_{2013, 3, 21, 15, 40, 12};
};

TEST_F(PrepaidOrdersTest, SwitchedOffOrEmptySettingsDoNothing) {
    struct Case {
        const char* settings;
        const char* why;
    } cases[] = {
        {"DELETE FROM tbNuvoOnOdemeliSiparis;", "empty settings table"},
        {"UPDATE tbNuvoOnOdemeliSiparis SET aktif = 0;", "aktif 0"},
        {"UPDATE tbNuvoOnOdemeliSiparis SET aktif = 2;", "aktif 2"},
        {"UPDATE tbNuvoOnOdemeliSiparis SET aktif = NULL;", "aktif NULL"},
        // Only the first row counts.
        {"DELETE FROM tbNuvoOnOdemeliSiparis; INSERT INTO tbNuvoOnOdemeliSiparis (id, aktif, mesaj) VALUES "
         "(1, 0, 'x'), (2, 1, 'y');",
         "first row off, second on"},
    };
    AddOrder(100, 10, "2013-03-21 00:00:00.000");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        Sql(c.settings);
        Run();
        EXPECT_TRUE(Queue().empty());
        EXPECT_TRUE(Recorded().empty());
        EXPECT_EQ(check_.ExecutionResult, "");
    }
}

TEST_F(PrepaidOrdersTest, NotifiesEachQualifyingOrderOfTheDayOnce) {
    test::RegionalScope turkish(platform::TurkishFormatSettings());
    AddOrder(100, 10, "2013-03-21 00:00:00.000");                 // qualifies
    AddOrder(101, 11, "2013-03-21 00:00:00.000");                 // same customer, same day: a second message
    AddOrder(102, 12, "2013-03-21 00:00:00.000");                 // landline: recorded, no message
    AddOrder(103, 13, "2013-03-21 00:00:00.000");                 // no first name, empty surname
    AddOrder(200, 10, "2013-03-21 10:00:00.000");                 // approved with a time of day
    AddOrder(201, 10, "2013-03-20 00:00:00.000");                 // approved yesterday
    AddOrder(202, 10, "2013-03-21 00:00:00.000", 1);              // delivered
    AddOrder(203, 10, "2013-03-21 00:00:00.000", 0, "'2'");       // not a prepaid order
    AddOrder(204, 10, "2013-03-21 00:00:00.000", 0, "NULL");
    AddOrder(205, 10, "2013-03-21 00:00:00.000");                 // handled by an earlier run
    Sql("INSERT INTO tbNuvoOnOdemeliSiparisGonderilen (SiparisId) VALUES (205);");

    Run();
    EXPECT_EQ(check_.ExecutionResult, "");
    EXPECT_EQ(Recorded(), (std::vector<int>{100, 101, 102, 103, 205}));
    const std::vector<QueuedRow> rows = Queue();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].mesaj, "Sayın Ayşe O&apos;Brien, 05.03.2013 tarihli 1.234,50TL siparişiniz onaylandı.");
    EXPECT_EQ(rows[0].gsm, "05321234567");
    EXPECT_EQ(rows[1].mesaj, "Sayın Ayşe O&apos;Brien, 20.03.2013 tarihli 0,50TL siparişiniz onaylandı.");
    EXPECT_EQ(rows[2].mesaj, "Sayın  , 21.03.2013 tarihli 1.000.000,00TL siparişiniz onaylandı.");
    EXPECT_EQ(rows[2].gsm, "+905331112233");
    for (const QueuedRow& r : rows) {
        EXPECT_EQ(r.grup, 10);  // mgOnOdemeliSiparis
        EXPECT_EQ(r.hemen, 1);
        EXPECT_EQ(r.durum, 0);
        EXPECT_EQ(r.sayi, 1);
        EXPECT_DOUBLE_EQ(r.baslangic, DT(2013, 3, 21));
        EXPECT_DOUBLE_EQ(r.bitis, DT(2013, 3, 22));
    }

    // A later run on the same day finds nothing new.
    Run();
    EXPECT_EQ(Queue().size(), 3u);
    EXPECT_EQ(Recorded().size(), 5u);
}

TEST_F(PrepaidOrdersTest, SelectsByTheDayOfNowButWindowsByTheClock) {
    AddOrder(100, 10, "2013-03-21 00:00:00.000");
    clock_.Set(DT(2013, 3, 22, 0, 0, 1));  // midnight passed between the run's reading and the call
    check_.CheckPrepaidOrders(tenant_, DT(2013, 3, 21, 23, 59, 59));
    const std::vector<QueuedRow> rows = Queue();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_DOUBLE_EQ(rows[0].baslangic, DT(2013, 3, 22));
    EXPECT_DOUBLE_EQ(rows[0].bitis, DT(2013, 3, 23));
}

TEST_F(PrepaidOrdersTest, AFailedRecordingQueuesNothingForThatOrderAndANextRunNotifiesItOnce) {
    AddOrder(100, 10, "2013-03-21 00:00:00.000");
    AddOrder(101, 11, "2013-03-21 00:00:00.000");
    AddOrder(102, 13, "2013-03-21 00:00:00.000");
    Sql("CREATE TRIGGER trReddet BEFORE INSERT ON tbNuvoOnOdemeliSiparisGonderilen WHEN NEW.SiparisId = 101 "
        "BEGIN SELECT RAISE(ABORT, 'kayit reddedildi'); END;");

    Run();
    EXPECT_NE(check_.ExecutionResult.find("kayit reddedildi"), std::string::npos) << check_.ExecutionResult;
    // The loop ended at order 101: 100 is notified and recorded, 101 and 102 are neither.
    EXPECT_EQ(Recorded(), (std::vector<int>{100}));
    ASSERT_EQ(Queue().size(), 1u);
    EXPECT_NE(Queue()[0].mesaj.find("05.03.2013"), std::string::npos);

    Sql("DROP TRIGGER trReddet;");
    check_.ExecutionResult.clear();
    Run();
    EXPECT_EQ(check_.ExecutionResult, "");
    EXPECT_EQ(Recorded(), (std::vector<int>{100, 101, 102}));
    const std::vector<QueuedRow> rows = Queue();
    ASSERT_EQ(rows.size(), 3u);  // exactly one notice per order
    EXPECT_NE(rows[1].mesaj.find("20.03.2013"), std::string::npos);
    EXPECT_EQ(rows[2].gsm, "+905331112233");
}

TEST_F(PrepaidOrdersTest, AnOrderIdThatIsNotAWholeNumberNeverEntersTheStatement) {
    // An ERP whose order ids are character data.
    Sql("DROP TABLE tbAlisverisSiparis;"
        "CREATE TABLE tbAlisverisSiparis (nSiparisID VARCHAR(60), nAlisverisID INT, bTeslimEdildi BIT, "
        "dteOnayTarihi DATETIME, sAciklama VARCHAR(100));"
        "INSERT INTO tbNuvoListe (mesaj_grubu, gsm, mesaj, durum) VALUES (1, '05320000000', 'eski', 0);");
    AddOrder(0, 10, "2013-03-21 00:00:00.000");
    Sql("UPDATE tbAlisverisSiparis SET nSiparisID = '7); DELETE FROM tbNuvoListe; --';");

    Run();
    EXPECT_NE(check_.ExecutionResult.find("not a whole number"), std::string::npos) << check_.ExecutionResult;
    EXPECT_TRUE(Recorded().empty());
    const std::vector<QueuedRow> rows = Queue();
    ASSERT_EQ(rows.size(), 1u);  // the earlier row survives, no notice was queued
    EXPECT_EQ(rows[0].mesaj, "eski");
}

TEST_F(PrepaidOrdersTest, AMissingTableEndsTheCampaignWithItsMessage) {
    AddOrder(100, 10, "2013-03-21 00:00:00.000");
    Sql("DROP TABLE tbNuvoOnOdemeliSiparisGonderilen;");
    Run();
    EXPECT_NE(check_.ExecutionResult.find("tbNuvoOnOdemeliSiparisGonderilen"), std::string::npos)
        << check_.ExecutionResult;
    EXPECT_TRUE(Queue().empty());
}

// ================================================================ store sales summaries

class StoreSalesTest : public TenantTest {
protected:
    void SetUp() override {
        TenantTest::SetUp();
        // Today is 21 March 2013. Store A: 10 sold and 2 returned at midnight; B: 3 sold; C: sold only later in
        // the day and yesterday, so nothing in the period.
        Sql("INSERT INTO tbDepoTipi (sDepoTipi, sAciklama) VALUES ('MAG', 'Mağaza');"
            "INSERT INTO tbDepo (sDepo, sAciklama, sDepoTipi) VALUES ('A', 'Merkez', 'MAG'), ('B', 'Kadıköy', 'MAG'), "
            "('C', 'Bornova', 'MAG'), ('K&M', 'Kız Kulesi', 'MAG');"
            "INSERT INTO tbAlisVeris (nAlisverisID, sMagaza, nGirisCikis, dteFaturaTarihi, lToplamMiktar, lMalBedeli, "
            "lNetTutar, lKdv1) VALUES "
            "(1, 'A', 3, '2013-03-21 00:00:00.000', 10, 1500, 1334.5, 100),"
            "(2, 'A', 4, '2013-03-21 00:00:00.000', 2, 100, -100, 0),"
            "(3, 'B', 3, '2013-03-21 00:00:00.000', 3, 120, 99.9, 10),"
            "(4, 'C', 3, '2013-03-21 09:15:00.000', 5, 500, 500, 0),"
            "(5, 'C', 3, '2013-03-20 00:00:00.000', 5, 500, 500, 0),"
            "(6, 'A', 1, '2013-03-21 00:00:00.000', 99, 9900, 9900, 0),"  // neither a sale nor a return
            "(7, 'K&M', 3, '2013-03-21 00:00:00.000', 1, 5, 5, 0);"
            "INSERT INTO tbNuvoPerakende (aktif, net_satis_gonder, gonderme_tipi) VALUES (1, 1, 0);");
    }

    void AddUser(int id, const std::string& phone, const std::vector<std::string>& stores) {
        std::string sql = "INSERT INTO tbNuvoYetkiliKullanici (id, cep_telefonu) VALUES (" + std::to_string(id) +
                          ", '" + phone + "');";
        for (const std::string& s : stores)
            sql += "INSERT INTO tbNuvoYetkiliKullaniciDepo (yetkili_kullanici_id, depo_kodu) VALUES (" +
                   std::to_string(id) + ", '" + s + "');";
        Sql(sql);
    }

    test::FixedClock clock_{2013, 3, 21, 14, 0, 40};
};

TEST_F(StoreSalesTest, SendsOnlyInTheScheduledMinute) {
    AddUser(1, "05320000001", {"A"});
    struct Case {
        const char* settings;
        TDateTime at;
        size_t sets;
    } cases[] = {
        // Every full hour.
        {"gonderme_tipi = 0", DT(2013, 3, 21, 14, 0, 40), 1},
        {"gonderme_tipi = 0", DT(2013, 3, 21, 14, 0, 0), 1},
        {"gonderme_tipi = 0", DT(2013, 3, 21, 13, 59, 59), 0},
        {"gonderme_tipi = 0", DT(2013, 3, 21, 14, 1, 5), 0},
        // Slot 1 off at 09:30, slot 2 on at 09:30: one set, in 09:30 only.
        {"gonderme_tipi = 2, saat1_aktif = 0, saat1_saat = '1899-12-30 09:30:00.000', saat2_aktif = 1, "
         "saat2_saat = '1899-12-30 09:30:00.000'",
         DT(2013, 3, 21, 9, 30, 0), 1},
        {"gonderme_tipi = 2, saat1_aktif = 0, saat2_aktif = 1, saat2_saat = '1899-12-30 09:30:00.000'",
         DT(2013, 3, 21, 9, 30, 59, 999), 1},
        {"gonderme_tipi = 2, saat2_aktif = 1, saat2_saat = '1899-12-30 09:30:00.000'", DT(2013, 3, 21, 9, 29, 59), 0},
        {"gonderme_tipi = 2, saat2_aktif = 1, saat2_saat = '1899-12-30 09:30:00.000'", DT(2013, 3, 21, 9, 31, 0), 0},
        // A flag of 2 counts as off.
        {"gonderme_tipi = 2, saat1_aktif = 2, saat1_saat = '1899-12-30 09:30:00.000'", DT(2013, 3, 21, 9, 30, 0), 0},
        // Two slots at one time: still one set.
        {"gonderme_tipi = 1, saat1_aktif = 1, saat1_saat = '1899-12-30 18:00:00.000', saat3_aktif = 1, "
         "saat3_saat = '1899-12-30 18:00:00.000'",
         DT(2013, 3, 21, 18, 0, 30), 1},
        // Only the hour and minute of the slot count, not its date or seconds.
        {"gonderme_tipi = 1, saat3_aktif = 1, saat3_saat = '2010-07-01 18:00:45.500'", DT(2013, 3, 21, 18, 0, 1), 1},
        {"gonderme_tipi = 1, saat3_aktif = 1, saat3_saat = '2010-07-01 18:00:45.500'", DT(2013, 3, 21, 19, 0, 1), 0},
        // Switched off.
        {"aktif = 0", DT(2013, 3, 21, 14, 0, 0), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        Sql("DELETE FROM tbNuvoListe; DELETE FROM tbNuvoPerakende;"
            "INSERT INTO tbNuvoPerakende (aktif, net_satis_gonder, gonderme_tipi) VALUES (1, 1, 0);"
            "UPDATE tbNuvoPerakende SET " + std::string(c.settings) + ";");
        clock_.Set(c.at);
        check_.CheckRetailSales(tenant_);
        EXPECT_EQ(check_.ExecutionResult, "");
        EXPECT_EQ(Queue().size(), c.sets);
    }
}

TEST_F(StoreSalesTest, AnEmptySettingsTableSendsNothing) {
    AddUser(1, "05320000001", {"A"});
    Sql("DELETE FROM tbNuvoPerakende;");
    check_.CheckRetailSales(tenant_);
    EXPECT_TRUE(Queue().empty());
    EXPECT_EQ(check_.ExecutionResult, "");
}

TEST_F(StoreSalesTest, OneTextPerUserWithTheLinesOfItsStoresThatSoldToday) {
    AddUser(1, "0532 000 00 01", {"B", "A", "C"});  // kept in the order of the store rows; C sold nothing today
    AddUser(2, "", {"A  "});                         // blanks after the code; an empty phone number
    AddUser(3, "05320000003", {});                   // no stores
    AddUser(4, "05320000004", {"C", "Z"});           // no sales today
    AddUser(5, "05320000005", {"k&m", "b"});         // no escaping; B was found for user 1 and is reused

    check_.CheckRetailSales(tenant_);
    EXPECT_EQ(check_.ExecutionResult, "");
    const std::vector<QueuedRow> rows = Queue();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].mesaj, "Depo: B; Ciro: 99,90TL; Net: 3, Depo: A; Ciro: 1.234,50TL; Net: 8");
    EXPECT_EQ(rows[0].gsm, "0532 000 00 01");  // exactly as stored
    EXPECT_EQ(rows[1].mesaj, "Depo: A  ; Ciro: 1.234,50TL; Net: 8");
    EXPECT_EQ(rows[1].gsm, "");
    EXPECT_EQ(rows[2].mesaj, "Depo: k&m; Ciro: 5,00TL; Net: 1, Depo: B; Ciro: 99,90TL; Net: 3");
    for (const QueuedRow& r : rows) {
        EXPECT_EQ(r.grup, 3);  // mgPerakende
        EXPECT_EQ(r.hemen, 1);
        EXPECT_EQ(r.sayi, 1);
        EXPECT_DOUBLE_EQ(r.baslangic, DT(2013, 3, 21, 14, 0, 40));
        EXPECT_DOUBLE_EQ(r.bitis, DT(2013, 3, 22, 14, 0, 40));
    }
}

TEST_F(StoreSalesTest, FullLinesCarrySalesReturnsAndNet) {
    Sql("UPDATE tbNuvoPerakende SET net_satis_gonder = 0;");
    AddUser(1, "05320000001", {"A", "B"});
    check_.CheckRetailSales(tenant_);
    const std::vector<QueuedRow> rows = Queue();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].mesaj,
              "Depo: A; Ciro: 1.234,50TL; Satış: 10; İade: 2; Net: 8, Depo: B; Ciro: 99,90TL; Satış: 3; İade: 0; Net: 3");
}

TEST_F(StoreSalesTest, AmountsAndThePeriodFollowTheRegionalFormats) {
    AddUser(1, "05320000001", {"A"});
    struct Case {
        platform::FormatSettings regional;
        const char* expected;
    } cases[] = {
        {platform::TurkishFormatSettings(), "Depo: A; Ciro: 1.234,50TL; Net: 8"},
        {platform::EnglishFormatSettings(), "Depo: A; Ciro: 1,234.50TL; Net: 8"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        test::RegionalScope regional(c.regional);
        Sql("DELETE FROM tbNuvoListe;");
        check_.CheckRetailSales(tenant_);
        EXPECT_EQ(check_.ExecutionResult, "");
        const std::vector<QueuedRow> rows = Queue();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].mesaj, c.expected);
    }
}

TEST_F(StoreSalesTest, AStoreSharedByUsersIsFoundOnceAndReused) {
    db::TDbQuery sales(&tenant_);
    sales.SetSQL("SELECT 'A' AS Magaza, 12.5 AS NetTutar, 4 AS SatisMiktari, 1 AS IadeMiktari "
                 "UNION ALL SELECT ' b ', 1, 1, 0");
    sales.Open();
    std::vector<std::unique_ptr<campaigns::TDepoSatisInfo>> list;
    std::unique_ptr<campaigns::TDepoSatisInfo> unlisted;

    campaigns::PDepoSatisInfo a = campaigns::LoadStoreSales(sales, list, "a", unlisted);
    EXPECT_EQ(a->DepoKodu, "a");
    EXPECT_EQ(a->Net, 3);
    EXPECT_EQ(list.size(), 1u);
    EXPECT_EQ(campaigns::LoadStoreSales(sales, list, "A", unlisted), a);  // letter case ignored in the list

    campaigns::PDepoSatisInfo b = campaigns::LoadStoreSales(sales, list, "B ", unlisted);
    EXPECT_EQ(b->DepoKodu, "B ");  // blanks around either side of the match are ignored; the code is kept
    EXPECT_EQ(list.size(), 2u);

    campaigns::PDepoSatisInfo none = campaigns::LoadStoreSales(sales, list, "Z", unlisted);
    EXPECT_EQ(none->DepoKodu, "");
    EXPECT_EQ(none->Net, 0);
    EXPECT_EQ(none, unlisted.get());  // not entered in the list; the caller disposes of it
    EXPECT_EQ(list.size(), 2u);
}

TEST_F(StoreSalesTest, AUserIdThatIsNotAWholeNumberNeverEntersTheStatement) {
    Sql("DROP TABLE tbNuvoYetkiliKullanici;"
        "CREATE TABLE tbNuvoYetkiliKullanici (id VARCHAR(60), cep_telefonu VARCHAR(100));"
        "INSERT INTO tbNuvoYetkiliKullanici (id, cep_telefonu) VALUES "
        "('0; DELETE FROM tbNuvoYetkiliKullaniciDepo', '05320000001');"
        "INSERT INTO tbNuvoYetkiliKullaniciDepo (yetkili_kullanici_id, depo_kodu) VALUES (1, 'A');");
    check_.CheckRetailSales(tenant_);
    EXPECT_NE(check_.ExecutionResult.find("not a whole number"), std::string::npos) << check_.ExecutionResult;
    EXPECT_EQ(Ints("SELECT COUNT(*) FROM tbNuvoYetkiliKullaniciDepo"), std::vector<int>{1});
    EXPECT_TRUE(Queue().empty());
}

TEST_F(StoreSalesTest, AFailingSalesStatementEndsTheCampaignWithItsMessage) {
    AddUser(1, "05320000001", {"A"});
    Sql("DROP TABLE tbDepoTipi;");
    check_.CheckRetailSales(tenant_);
    EXPECT_NE(check_.ExecutionResult.find("tbDepoTipi"), std::string::npos) << check_.ExecutionResult;
    EXPECT_TRUE(Queue().empty());
}

} // namespace
