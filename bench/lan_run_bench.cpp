// One whole run of the built program against one tenant with every database request held back by a LAN's
// round trip: a custom-query blast to every customer, then sending and reporting; or only the sending and
// reporting of rows already pending. Prints the wall time, the requests per message and per verdict, and
// the program's peak resident memory.
//
//   lan_run_bench [blast|pending] [rows=100000] [delay_us=1000] [dir=temporary folder]
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "db/TsqlDialect.h"
#include "platform/Paths.h"
#include "tools/gatewaysim/GatewaySimulator.h"

using namespace velmora;

namespace {

using bench::Exec;
using bench::RemoveDb;

void Schema(const std::string& path, const char* file) {
    RemoveDb(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    Exec(db, platform::ReadWholeFile(std::string(VELMORA_SOURCE_DIR "/tools/schema/") + file));
    sqlite3_close(db);
}

// The tenant: the gateway account, today's bookkeeping (so only the custom query runs) and either `rows`
// customers with a custom query scheduled at 10:00 that selects them all, or `rows` pending queue rows.
void MakeTenant(const std::string& path, bool blast, int rows) {
    Schema(path, "tenant.sqlite.sql");
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    Exec(db, "BEGIN");
    Exec(db, "INSERT INTO tbNuvoSMSAyarlari (kullanici_adi, parola, kanal_kodu, developer, originator, sms_tipi) "
             "VALUES ('demo', 'secret', 'KANAL1', 'JOB1', 'VELMORA', 1);"
             "INSERT INTO tbNuvoSonKontrol (alisveris_sonrasi, ozel_gunler, taksit_hatirlatma, gecikmis_odeme) VALUES "
             "('2026-12-10 09:00:00.000', '2026-12-10 00:00:00.000', '2026-12-10 00:00:00.000', "
             "'2026-12-10 00:00:00.000');");
    if (blast) {
        Exec(db, "INSERT INTO tbNuvoSorguListesi (otomatik_calistir, saat, son_gonderme_tarihi, xml, mesaj, "
                 "cep_telefonu_alani) VALUES (1, '1899-12-30 10:00:00.000', '2026-12-09 10:00:00.000', CAST("
                 "'<?xml version=\"1.0\" encoding=\"utf-8\"?><OzelSorgu><SorguAdi>Herkes</SorguAdi><SorguAciklama>"
                 "</SorguAciklama><Sorgu>SELECT sAdi AS Adi, sSoyadi AS Soyadi, sGSM AS Telefon FROM tbMusteri "
                 "ORDER BY nMusteriID</Sorgu></OzelSorgu>' AS BLOB), 'Sayın {{Adi}} {{Soyadi}}, yeni sezon "
                 "ürünlerimiz mağazalarımızda!', 'Telefon');");
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO tbMusteri (nMusteriID, lKodu, sAdi, sSoyadi, sGSM) VALUES (?, ?, ?, ?, ?)",
                           -1, &st, nullptr);
        for (int i = 1; i <= rows; ++i) {
            const std::string name = "Ayşe" + std::to_string(i);
            const std::string gsm = "0532 " + std::to_string(1000000 + i);
            sqlite3_bind_int(st, 1, i);
            sqlite3_bind_int(st, 2, 1000 + i);
            sqlite3_bind_text(st, 3, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 4, "Yılmaz", -1, SQLITE_STATIC);
            sqlite3_bind_text(st, 5, gsm.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
    } else {
        bench::InsertQueueRows(db,
                               "INSERT INTO tbNuvoListe (mesaj_grubu, gsm, mesaj, durum, hemen_gonder, "
                               "gonderme_baslangic, gonderme_bitis, sms_sayisi, kayit_tarihi) VALUES "
                               "(2, ?, ?, 0, 1, '2026-12-10 09:00:00.000', '2026-12-10 09:00:00.000', 1, ?)",
                               rows, [](int i) {
                                   return "Sayın Ayşe" + std::to_string(i) +
                                          " Yılmaz, yeni sezon ürünlerimiz mağazalarımızda!";
                               });
    }
    Exec(db, "COMMIT");
    sqlite3_close(db);
}

long long Scalar(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    long long v = -1;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        v = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return v;
}

} // namespace

int main(int argc, char** argv) {
    // The schema names the program's text collations; the raw connections that build the files need them.
    db::tsql::RegisterCollationsForEveryConnection();
    const std::string mode = argc > 1 ? argv[1] : "blast";
    const int rows = argc > 2 ? std::atoi(argv[2]) : 100000;
    const int delayUs = argc > 3 ? std::atoi(argv[3]) : 1000;
    std::string dir = argc > 4 ? std::string(argv[4]) : platform::TempDirectory();
    if (!dir.empty() && dir.back() != '/') dir += '/';
    const bool blast = mode == "blast";

    const std::string tenant = dir + "velmora-lan-tenant.db";
    const std::string program = dir + "velmora-lan-program.db";
    const std::string settings = dir + "velmora-lan-Settings.xml";
    const std::string requestLog = dir + "velmora-lan-requests.log";
    const std::string runLog = dir + "velmora-lan-run.log";
    const std::string lockFile = dir + "velmora-lan.lock";
    MakeTenant(tenant, blast, rows);
    Schema(program, "program.sqlite.sql");
    {
        sqlite3* db = nullptr;
        sqlite3_open(program.c_str(), &db);
        Exec(db, "INSERT INTO tbNuvoVeriTabani (sunucu, kullanici_adi, parola, veritabani, aktif) VALUES ('sqlite:" +
                     tenant + "', 'sa', 'gizli', 'tenant', 1);");
        sqlite3_close(db);
    }

    sim::GatewaySimulator simulator;
    simulator.AddAccount("demo", "secret");
    simulator.Start();
    std::ofstream(settings) << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Ayarlar><VeriTabani><Sunucu>sqlite:"
                            << program << "</Sunucu><KullaniciAdi>sa</KullaniciAdi><Parola>gizli</Parola>"
                            << "<VeriTabaniAdi>program</VeriTabaniAdi></VeriTabani><SMSServisi><Sunucu>"
                            << simulator.Host() << "</Sunucu></SMSServisi></Ayarlar>\n";
    std::remove(requestLog.c_str());

    std::printf("%s, %d %s, %d us per database request, gateway simulator on %s\n", mode.c_str(), rows,
                blast ? "customers selected by a custom query" : "pending rows", delayUs, simulator.Host().c_str());
    const std::string exe = VELMORA_BINARY_DIR "/driver/velmora";
    bench::Stopwatch watch;
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("VELMORA_NOW", "2026-12-10 10:00:30", 1);
        setenv("VELMORA_SETTINGS_FILE", settings.c_str(), 1);
        setenv("VELMORA_LOG_FILE", runLog.c_str(), 1);
        setenv("VELMORA_LOCK_FILE", lockFile.c_str(), 1);
        setenv("VELMORA_DB_DELAY_US", std::to_string(delayUs).c_str(), 1);
        setenv("VELMORA_DB_REQUEST_LOG", requestLog.c_str(), 1);
        execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds = watch.Seconds();
    simulator.Stop();

    // Sessions in the order they closed: the generation's tenant session first, then the send/report one.
    std::vector<long long> tenantSessions;
    long long programRequests = 0;
    std::ifstream log(requestLog);
    for (std::string line; std::getline(log, line);) {
        std::istringstream in(line);
        std::string database;
        long long n = 0;
        in >> database >> n;
        if (database == "tenant") tenantSessions.push_back(n);
        else programRequests += n;
    }
    const long long queued = Scalar(tenant, "SELECT COUNT(*) FROM tbNuvoListe");
    const long long reported = Scalar(tenant, "SELECT COUNT(*) FROM tbNuvoListe WHERE durum = 3");
    const long long verdicts = 2 * reported;  // a send verdict and a delivery report per row
    const long long generation = tenantSessions.size() == 2 ? tenantSessions[0] : 0;
    const long long sending = tenantSessions.empty() ? 0 : tenantSessions.back();
    const double peakKiB = static_cast<double>(usage.ru_maxrss);

    std::printf("exit status %d, run log %s\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1, runLog.c_str());
    std::printf("wall time end to end            %10.1f s\n", seconds);
    std::printf("rows queued / reported (state 3) %9lld / %lld\n", queued, reported);
    if (blast)
        std::printf("generation requests             %10lld  (%.4f per message)\n", generation,
                    queued > 0 ? static_cast<double>(generation) / static_cast<double>(queued) : 0.0);
    std::printf("send+report requests            %10lld  (%.4f per verdict)\n", sending,
                verdicts > 0 ? static_cast<double>(sending) / static_cast<double>(verdicts) : 0.0);
    std::printf("program database requests       %10lld\n", programRequests);
    std::printf("peak RSS of the program         %10.1f MiB  (%.0f bytes per row)\n", peakKiB / 1024.0,
                peakKiB * 1024.0 / rows);
    RemoveDb(tenant);
    RemoveDb(program);
    return 0;
}
