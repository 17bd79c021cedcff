// The generation run on a tenant of 100,000 customers (a few hundred with a birthday today) and 100,000
// purchases in the after-purchase window, beside the floor: the campaign statements themselves, opened bare
// on the same database. "all" switches every campaign on, with instalments, orders, store sales and a
// custom query over the same customers.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"
#include "campaigns/SMSCheck.h"
#include "db/DbConnection.h"
#include "platform/Clock.h"
#include "platform/Paths.h"

using namespace velmora;

namespace {

using bench::Exec;
using bench::RemoveDb;

// Today is 10 December 2026, 10:00; the previous pass ended at 09:00.
void MakeTenant(const std::string& path, int customers, int purchases, int birthdays, bool all) {
    RemoveDb(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    Exec(db, platform::ReadWholeFile(VELMORA_SOURCE_DIR "/tools/schema/tenant.sqlite.sql"));
    Exec(db, "BEGIN");
    Exec(db, "INSERT INTO tbNuvoSMSAyarlari (kullanici_adi, parola) VALUES ('demo', 'secret');"
             "INSERT INTO tbNuvoSonKontrol (alisveris_sonrasi) VALUES ('2026-12-10 09:00:00.000');"
             "INSERT INTO tbNuvoOzelGun VALUES (1, 1, '1899-12-30 10:30:00.000', 'Sevgili {{MusteriAdi}} "
             "{{MusteriSoyadi}}, doğum gününüz kutlu olsun!', 1, '1899-12-30 11:00:00.000', 'Evlilik yıldönümünüz "
             "kutlu olsun {{MusteriAdi}}!', 1, '1899-12-30 09:00:00.000', '{{MusteriCocuguAdi}} için hediyemiz var!');"
             "INSERT INTO tbNuvoAlisVeris (aktif, tutar_min, mesaj, Dakika, gonderme_tipi) VALUES (1, 10, "
             "'Teşekkürler {{MusteriAdi}}!', 30, 0);"
             "INSERT INTO tbKasiyer VALUES ('KASA1', 'Kasa');"
             "INSERT INTO tbDepoTipi VALUES ('MGZ', 'Mağaza');"
             "INSERT INTO tbDepo VALUES ('M01', 'Merkez', 'MGZ'), ('M02', 'Sahil', 'MGZ');");
    if (all) {
        Exec(db, "INSERT INTO tbNuvoTaksit (aktif, saat, kalan_gun, mesaj) VALUES (1, '1899-12-30 12:00:00.000', 3, "
                 "'{{MusteriAdi}}, {{Tarih}} tarihli {{Tutar}} taksidiniz.');"
                 "INSERT INTO tbNuvoGecikmisOdeme (aktif, geciken_gun, mesaj, saat) VALUES (1, 10, '{{MusteriAdi}}, "
                 "{{Tarih}} vadeli {{Tutar}} ödemeniz gecikti.', '1899-12-30 14:00:00.000');"
                 "INSERT INTO tbNuvoOnOdemeliSiparis (aktif, mesaj) VALUES (1, '{{MusteriAdi}}, {{Tutar}} "
                 "siparişiniz onaylandı.');"
                 "INSERT INTO tbNuvoPerakende (aktif, net_satis_gonder, gonderme_tipi) VALUES (1, 1, 0);"
                 "INSERT INTO tbNuvoYetkiliKullanici (id, cep_telefonu) VALUES (1, '05300000001'), (2, '05300000002');"
                 "INSERT INTO tbNuvoYetkiliKullaniciDepo (yetkili_kullanici_id, depo_kodu) VALUES (1, 'M01'), "
                 "(1, 'M02'), (2, 'M02');"
                 "INSERT INTO tbNuvoSorguListesi (otomatik_calistir, saat, son_gonderme_tarihi, xml, mesaj, "
                 "cep_telefonu_alani) VALUES (1, '1899-12-30 10:00:00.000', '2026-12-09 10:00:00.000', CAST('"
                 "<OzelSorgu><Sorgu>SELECT sAdi AS Adi, sGSM AS Telefon FROM tbMusteri WHERE lKodu % :Adim = 0"
                 "</Sorgu><Parametre><Adi>Adim</Adi><Value>10</Value></Parametre></OzelSorgu>' AS BLOB), "
                 "'Sayın {{Adi}}, size özel indirim!', 'Telefon');");
    }
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO tbMusteri VALUES (?, ?, ?, ?, ?, ?, NULL, 0)", -1, &st, nullptr);
    for (int i = 1; i <= customers; ++i) {
        std::string name = "Ad" + std::to_string(i), surname = "Soyad" + std::to_string(i);
        std::string gsm = "0532 " + std::to_string(1000000 + i);
        // A birthday today for every (customers / birthdays)-th customer; the others spread over the year.
        std::string birth = (i % (customers / birthdays) == 0) ? "1980-12-10 00:00:00.000"
                                                               : "1980-0" + std::to_string(1 + i % 9) + "-15 00:00:00.000";
        sqlite3_bind_int(st, 1, i);
        sqlite3_bind_int(st, 2, i);
        sqlite3_bind_text(st, 3, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 4, surname.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 5, gsm.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 6, birth.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_prepare_v2(db, "INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, sKasiyerRumuzu, sMagaza, nGirisCikis, "
                           "dteFaturaTarihi, dteKayitTarihi, lToplamMiktar, lMalBedeli, lNetTutar) VALUES (?, ?, 'KASA1', "
                           "?, 3, '2026-12-10 00:00:00.000', ?, 2, 150, 150)", -1, &st, nullptr);
    for (int i = 1; i <= purchases; ++i) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "2026-12-10 09:%02d:%02d.%03d", i / 10000 % 60, i / 100 % 60, i % 1000);
        sqlite3_bind_int(st, 1, i);
        sqlite3_bind_int(st, 2, 1 + (i - 1) % customers);
        sqlite3_bind_text(st, 3, i % 2 ? "M01" : "M02", -1, SQLITE_STATIC);
        sqlite3_bind_text(st, 4, stamp, -1, SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    if (all) {
        // Instalments due yesterday and ten days ago for every 20th purchase, and a prepaid order for every 100th.
        Exec(db, "INSERT INTO tbTaksit (nTaksitID, nAlisverisID, dteTarihi, lTutari) SELECT nAlisverisID, nAlisverisID, "
                 "CASE WHEN nAlisverisID % 40 = 0 THEN '2026-11-30 00:00:00.000' ELSE '2026-12-09 00:00:00.000' END, 75 "
                 "FROM tbAlisVeris WHERE nAlisverisID % 20 = 0;"
                 "INSERT INTO tbAlisverisSiparis (nSiparisID, nAlisverisID, bTeslimEdildi, dteOnayTarihi, sAciklama) "
                 "SELECT nAlisverisID, nAlisverisID, 0, '2026-12-10 00:00:00.000', '1' FROM tbAlisVeris WHERE "
                 "nAlisverisID % 100 = 0;");
    }
    Exec(db, "COMMIT");
    sqlite3_close(db);
}

// The statements the campaigns open, run bare through the facade on the same database.
double Floor(const std::string& tenant, bool all) {
    db::TDbConnection c;
    c.Server = "sqlite:" + tenant;
    c.SetConnected(true);
    c.ExecSQL("SET DATEFORMAT dmy");
    std::vector<std::string> statements = {
        "SELECT tbmusteri.sAdi AS musteri_adi, tbmusteri.sSoyadi AS musteri_soyadi, tbmusteri.sGSM AS GSM, '' AS "
        "cocuk_adi, '' AS cocuk_soyadi FROM tbmusteri WHERE DatePart(Day, tbmusteri.dteDogumTarihi) = 10 AND "
        "DatePart(Month, tbmusteri.dteDogumTarihi) = 12 AND DatePart(Year, tbmusteri.dteDogumTarihi) <> 1900",
        "SELECT tbAlisVeris.nAlisverisID, tbAlisVeris.lNetTutar, tbAlisVeris.dteKayitTarihi, tbAlisVeris.lToplamMiktar, "
        "tbMusteri.sAdi AS musteri_adi, tbMusteri.sSoyadi AS musteri_soyadi, tbMusteri.sGSM AS Gsm FROM tbAlisVeris "
        "JOIN tbMusteri ON tbAlisVeris.nMusteriId = tbMusteri.nMusteriId WHERE tbAlisVeris.nAlisverisID NOT IN (SELECT "
        "AlisVerisId FROM tbNuvoAlisverisGonderilen) AND tbAlisVeris.dteKayitTarihi > '10.12.2026 09:00:00:000' AND "
        "tbAlisVeris.lNetTutar BETWEEN 10 AND 999999999 AND tbAlisVeris.lToplamMiktar BETWEEN -999999999 AND 999999999",
    };
    if (all) statements.push_back("SELECT sAdi AS Adi, sGSM AS Telefon FROM tbMusteri WHERE lKodu % 10 = 0");
    bench::Stopwatch watch;
    size_t rows = 0;
    for (const std::string& sql : statements) {
        db::TDbQuery q(&c);
        q.SetSQL(sql);
        q.Open();
        rows += static_cast<size_t>(q.RecordCount());
    }
    std::printf("floor statements returned %zu rows\n", rows);
    return watch.Seconds();
}

// The writes of the run done raw: one autocommitted queue row per message, plus one record row per
// after-purchase message, on a scratch database of the same schema.
double RawWrites(const std::string& path, int queueRows, int recordRows) {
    RemoveDb(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    Exec(db, platform::ReadWholeFile(VELMORA_SOURCE_DIR "/tools/schema/tenant.sqlite.sql"));
    Exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    bench::Stopwatch watch;
    sqlite3_stmt* q = nullptr;
    sqlite3_stmt* r = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO tbNuvoListe (mesaj_grubu, gsm, mesaj, durum, rapor_id, aciklama, hemen_gonder, "
                           "gonderme_baslangic, gonderme_bitis, sms_sayisi, kayit_tarihi, gonderme_tarihi, originator, "
                           "sms_tipi) VALUES (8, ?, ?, 0, NULL, NULL, 1, '2026-12-10 09:30:00.000', "
                           "'2026-12-11 09:30:00.000', 1, '2026-12-10 10:00:00.000', NULL, NULL, NULL)", -1, &q, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO tbNuvoAlisverisGonderilen (AlisVerisId) VALUES (?)", -1, &r, nullptr);
    for (int i = 0; i < queueRows; ++i) {
        std::string gsm = "0532" + std::to_string(1000000 + i), text = "Teşekkürler Ad" + std::to_string(i) + "!";
        sqlite3_bind_text(q, 1, gsm.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(q, 2, text.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(q);
        sqlite3_reset(q);
        if (i < recordRows) {
            sqlite3_bind_int(r, 1, i);
            sqlite3_step(r);
            sqlite3_reset(r);
        }
    }
    sqlite3_finalize(q);
    sqlite3_finalize(r);
    double s = watch.Seconds();
    sqlite3_close(db);
    RemoveDb(path);
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const bool all = argc > 1 && std::string(argv[1]) == "all";
    const int customers = 100000, purchases = 100000, birthdays = 400;
    const std::string dir = platform::TempDirectory();
    const std::string tenant = dir + "velmora-bench-gen.db";
    const std::string program = dir + "velmora-bench-gen-program.db";
    const std::string settings = dir + "velmora-bench-gen-Settings.xml";

    MakeTenant(tenant, customers, purchases, birthdays, all);
    RemoveDb(program);
    sqlite3* db = nullptr;
    sqlite3_open(program.c_str(), &db);
    Exec(db, platform::ReadWholeFile(VELMORA_SOURCE_DIR "/tools/schema/program.sqlite.sql"));
    Exec(db, "INSERT INTO tbNuvoVeriTabani (sunucu, veritabani, aktif) VALUES ('sqlite:" + tenant + "', 'bench', 1)");
    sqlite3_close(db);
    platform::WriteFileReplacing(settings, "<Ayarlar><VeriTabani><Sunucu>sqlite:" + program +
                                               "</Sunucu></VeriTabani></Ayarlar>");
    setenv("VELMORA_SETTINGS_FILE", settings.c_str(), 1);
    platform::SetStartingNow(EncodeDateTime({2026, 12, 10, 10, 0, 0, 0}));

    std::printf("%s campaigns; %d customers (%d with a birthday today), %d purchases since the last pass\n",
                all ? "all" : "special-day and after-purchase", customers, birthdays, purchases);
    const double floor = Floor(tenant, all);
    bench::Report("floor: the campaign statements, opened bare", floor, customers + purchases);

    bench::Stopwatch watch;
    std::string result;
    {
        campaigns::TSMSCheck check;
        result = check.Execute();
    }
    const double run = watch.Seconds();
    db::TDbConnection c;
    c.Server = "sqlite:" + tenant;
    c.SetConnected(true);
    db::TDbQuery q(&c);
    q.SetSQL("SELECT mesaj_grubu, COUNT(*) AS n FROM tbNuvoListe GROUP BY mesaj_grubu ORDER BY mesaj_grubu");
    q.Open();
    int queued = 0;
    for (int i = 0, n = q.RecordCount(); i < n; ++i, q.Next()) {
        std::printf("  group %2d: %6d messages\n", q.FieldByName("mesaj_grubu").AsInteger(), q.FieldByName("n").AsInteger());
        queued += q.FieldByName("n").AsInteger();
    }
    bench::Report("generation run (TSMSCheck::Execute)", run, queued);
    c.SetConnected(false);
    const double writes = RawWrites(dir + "velmora-bench-gen-raw.db", queued, purchases);
    bench::Report("the run's row inserts as raw sqlite3", writes, queued);
    std::printf("result text: \"%s\"\nratio run / bare statements: %.1fx; run / (statements + raw inserts): %.2fx\n",
                result.c_str(), run / floor, run / (floor + writes));
    RemoveDb(tenant);
    RemoveDb(program);
    std::filesystem::remove(settings);
    return 0;
}
