// One tenant with 100,000 pending rows sent and reported through the gateway simulator on loopback,
// beside the floor: the same row updates as raw sqlite3 statements.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"
#include "queue/SMSAyarlari.h"
#include "db/DbConnection.h"
#include "gateway/ZentaApiService.h"
#include "platform/Paths.h"
#include "queue/SMSSenderUnit.h"
#include "tools/gatewaysim/GatewaySimulator.h"

using namespace velmora;

namespace {

using bench::Exec;
using bench::RemoveDb;

// A tenant database whose queue holds `rows` pending rows.
std::string MakeTenant(const std::string& path, int rows) {
    RemoveDb(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    Exec(db, platform::ReadWholeFile(VELMORA_SOURCE_DIR "/tools/schema/tenant.sqlite.sql"));
    Exec(db, "BEGIN");
    bench::InsertQueueRows(db,
                           "INSERT INTO tbNuvoListe (mesaj_grubu, gsm, mesaj, durum, hemen_gonder, sms_sayisi, "
                           "kayit_tarihi) VALUES (4, ?, ?, 0, 0, 1, ?)",
                           rows, [](int i) { return "Sevgili müşterimiz, doğum gününüz kutlu olsun! #" + std::to_string(i); });
    Exec(db, "COMMIT");
    sqlite3_close(db);
    return path;
}

// The floor: every row's send verdict and then its report written by raw autocommitted updates.
double RawUpdates(const std::string& path, int rows) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    Exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
    bench::Stopwatch watch;
    sqlite3_stmt* sent = nullptr;
    sqlite3_stmt* reported = nullptr;
    sqlite3_prepare_v2(db, "UPDATE tbNuvoListe SET rapor_id = ?, aciklama = ?, durum = ? WHERE id = ?", -1, &sent, nullptr);
    sqlite3_prepare_v2(db, "UPDATE tbNuvoListe SET durum = ?, aciklama = ? WHERE id = ?", -1, &reported, nullptr);
    for (int id = 1; id <= rows; ++id) {
        sqlite3_bind_int(sent, 1, 1000 + id);
        sqlite3_bind_text(sent, 2, "OK", -1, SQLITE_STATIC);
        sqlite3_bind_int(sent, 3, 1);
        sqlite3_bind_int(sent, 4, id);
        sqlite3_step(sent);
        sqlite3_reset(sent);
    }
    for (int id = 1; id <= rows; ++id) {
        sqlite3_bind_int(reported, 1, 3);
        sqlite3_bind_text(reported, 2, "İletildi.", -1, SQLITE_STATIC);
        sqlite3_bind_int(reported, 3, id);
        sqlite3_step(reported);
        sqlite3_reset(reported);
    }
    sqlite3_finalize(sent);
    sqlite3_finalize(reported);
    double s = watch.Seconds();
    sqlite3_close(db);
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    const std::string dir = platform::TempDirectory();
    const std::string tenant = MakeTenant(dir + "velmora-bench-send.db", rows);
    const std::string floorDb = MakeTenant(dir + "velmora-bench-send-floor.db", rows);

    sim::GatewaySimulator simulator;
    simulator.AddAccount("demo", "secret");
    simulator.Start();
    gateway::GatewayBinding binding;
    binding.host = simulator.Host();
    gateway::RegisterGatewayBinding(binding);

    queue::TSMSAyarlari account;
    account.KullaniciAdi = "demo";
    account.Parola = "secret";
    account.Developer = "BENCH";

    std::printf("%d pending rows, one tenant, simulator on %s\n", rows, simulator.Host().c_str());
    db::TDbConnection c;
    c.Server = "sqlite:" + tenant;
    c.SetConnected(true);

    bench::Stopwatch total;
    bench::Stopwatch sendWatch;
    queue::TSMSGonder sender(c, account);
    if (!sender.SMSGonder()) std::printf("sending was refused\n");
    const double send = sendWatch.Seconds();
    bench::Report("send: select, SENDSMS, apply verdicts", send, rows);
    bench::Stopwatch reportWatch;
    queue::TSMSRapor reports(c, account);
    if (!reports.RaporGetir()) std::printf("reporting was refused\n");
    const double report = reportWatch.Seconds();
    bench::Report("report: select, GETREPORT, apply states", report, rows);
    const double whole = total.Seconds();
    bench::Report("send + report", whole, rows);

    db::TDbQuery check(&c);
    check.SetSQL("SELECT COUNT(*) AS n FROM tbNuvoListe WHERE durum = 3");
    check.Open();
    std::printf("rows at state 3 afterwards: %d\n", check.FieldByName("n").AsInteger());

    const double floor = RawUpdates(floorDb, rows);
    bench::Report("floor: the same updates as raw sqlite3", floor, rows);
    std::printf("ratio send+report / floor: %.2fx\n", whole / floor);
    simulator.Stop();
    RemoveDb(tenant);
    RemoveDb(floorDb);
    return 0;
}
