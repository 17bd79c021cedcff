// One whole run of the built program against one tenant: a custom-query blast to every customer, then
// sending and reporting; or only the sending and reporting of rows already pending. The run goes once on
// the embedded database and once through the SQL Server simulator over TDS, every request held back by a
// LAN's round trip. Prints the wall time, the program's peak resident memory and, over the wire, the
// requests the server received per message and per verdict and the window from the gateway's answer to
// the last verdict written.
//
//   lan_run_bench [blast|pending] [rows=100000] [delay_ms=1] [both|embedded|wire] [dir=temporary folder]
//   (LAN_RUN_BENCH_WRAP="heaptrack -o FILE" runs the program under a profiler)
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "db/TsqlDialect.h"
#include "platform/Paths.h"
#include "tools/gatewaysim/GatewaySimulator.h"
#include "tools/sqlserversim/SqlServerSimulator.h"

using namespace velmora;

namespace {

using bench::Exec;
using bench::RemoveDb;
using Clock = std::chrono::steady_clock;

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

// The program database with the one tenant, reached at `server` under `database`.
void MakeProgram(const std::string& path, const std::string& server, const std::string& database) {
    Schema(path, "program.sqlite.sql");
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    Exec(db, "INSERT INTO tbNuvoVeriTabani (sunucu, kullanici_adi, parola, veritabani, aktif) VALUES ('" + server +
                 "', 'sa', 'gizli', '" + database + "', 1);");
    sqlite3_close(db);
}

void WriteSettings(const std::string& path, const std::string& server, const std::string& database,
                   const std::string& gateway) {
    std::ofstream(path) << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Ayarlar><VeriTabani><Sunucu>" << server
                        << "</Sunucu><KullaniciAdi>sa</KullaniciAdi><Parola>gizli</Parola><VeriTabaniAdi>" << database
                        << "</VeriTabaniAdi></VeriTabani><SMSServisi><Sunucu>" << gateway
                        << "</Sunucu></SMSServisi></Ayarlar>\n";
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

struct RunOutcome {
    int status = -1;
    double seconds = 0;
    double peakKiB = 0;
    double cpuSeconds = 0;  // the program's own, user and system
};

// Runs the built program once with the given settings file and dir; in the launcher process.
RunOutcome Launch(const std::string& settings, const std::string& dir) {
    const std::string exe = VELMORA_BINARY_DIR "/driver/velmora";
    std::vector<std::string> env = {"VELMORA_NOW=2026-12-10 10:00:30", "VELMORA_SETTINGS_FILE=" + settings,
                                    "VELMORA_LOG_FILE=" + dir + "velmora-lan-run.log",
                                    "VELMORA_LOCK_FILE=" + dir + "velmora-lan.lock",
                                    "VELMORA_JOURNAL_DIR=" + dir};
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("VELMORA_", 0) != 0) env.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    // LAN_RUN_BENCH_WRAP puts a profiler in front of the program ("heaptrack -o /tmp/run", words split at blanks).
    std::vector<std::string> words;
    if (const char* wrap = std::getenv("LAN_RUN_BENCH_WRAP")) {
        std::istringstream in(wrap);
        for (std::string w; in >> w;) words.push_back(w);
    }
    words.push_back(exe);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    bench::Stopwatch watch;
    const pid_t pid = fork();
    if (pid == 0) {
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    RunOutcome out;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    out.seconds = watch.Seconds();
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    out.peakKiB = static_cast<double>(usage.ru_maxrss);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    out.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    return out;
}

// The program is started by a small launcher forked before this process grows: a child forked from a large
// process counts that process's resident pages in its own peak until it execs the program.
struct Launcher {
    int ask = -1;     // requests: settings and dir, each a length and its bytes
    int answer = -1;  // the RunOutcome
};

bool ReadAll(int fd, void* data, size_t n) {
    auto* p = static_cast<char*>(data);
    while (n > 0) {
        const ssize_t got = read(fd, p, n);
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

void WriteText(int fd, const std::string& text) {
    const size_t n = text.size();
    if (write(fd, &n, sizeof n) != static_cast<ssize_t>(sizeof n) ||
        write(fd, text.data(), n) != static_cast<ssize_t>(n))
        std::exit(1);
}

bool ReadText(int fd, std::string& text) {
    size_t n = 0;
    if (!ReadAll(fd, &n, sizeof n)) return false;
    text.assign(n, '\0');
    return ReadAll(fd, text.data(), n);
}

Launcher StartLauncher() {
    int ask[2], answer[2];
    if (pipe(ask) != 0 || pipe(answer) != 0) std::exit(1);
    if (fork() == 0) {
        close(ask[1]);
        close(answer[0]);
        for (std::string settings, dir; ReadText(ask[0], settings) && ReadText(ask[0], dir);) {
            const RunOutcome out = Launch(settings, dir);
            if (write(answer[1], &out, sizeof out) != static_cast<ssize_t>(sizeof out)) break;
        }
        _exit(0);
    }
    close(ask[0]);
    close(answer[1]);
    return {ask[1], answer[0]};
}

Launcher g_launcher;

RunOutcome RunProgram(const std::string& settings, const std::string& dir) {
    WriteText(g_launcher.ask, settings);
    WriteText(g_launcher.ask, dir);
    RunOutcome out;
    if (!ReadAll(g_launcher.answer, &out, sizeof out)) std::exit(1);
    return out;
}

void PrintCommon(const RunOutcome& run, const std::string& tenant, int rows) {
    std::printf("  exit status %d\n", run.status);
    std::printf("  wall time end to end              %10.1f s  (the program's processor time %.1f s)\n", run.seconds,
                run.cpuSeconds);
    std::printf("  rows queued / reported (state 3)   %9lld / %lld\n", Scalar(tenant, "SELECT COUNT(*) FROM tbNuvoListe"),
                Scalar(tenant, "SELECT COUNT(*) FROM tbNuvoListe WHERE durum = 3"));
    std::printf("  peak RSS of the program           %10.1f MiB  (%.0f bytes per row)\n", run.peakKiB / 1024.0,
                run.peakKiB * 1024.0 / rows);
}

void Embedded(bool blast, int rows, const std::string& dir) {
    const std::string tenant = dir + "velmora-lan-tenant.db";
    const std::string program = dir + "velmora-lan-program.db";
    const std::string settings = dir + "velmora-lan-Settings.xml";
    MakeTenant(tenant, blast, rows);
    MakeProgram(program, "sqlite:" + tenant, "tenant");
    sim::GatewaySimulator gateway;
    gateway.AddAccount("demo", "secret");
    gateway.Start();
    WriteSettings(settings, "sqlite:" + program, "program", gateway.Host());
    std::printf("embedded database\n");
    const RunOutcome run = RunProgram(settings, dir);
    gateway.Stop();
    PrintCommon(run, tenant, rows);
    RemoveDb(tenant);
    RemoveDb(program);
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Wire(bool blast, int rows, int delayMs, const std::string& dir) {
    const std::string tenant = dir + "velmora-lan-tenant.db";
    const std::string program = dir + "velmora-lan-program.db";
    const std::string settings = dir + "velmora-lan-Settings.xml";
    MakeTenant(tenant, blast, rows);
    sqlsim::SqlServerSimulator server;
    server.AddDatabase("VelmoraProgram", program);
    server.AddDatabase("Magaza", tenant);
    server.AddLogin("sa", "gizli");
    server.Start();
    MakeProgram(program, server.ServerText(), "Magaza");

    sim::GatewaySimulator gateway;
    gateway.AddAccount("demo", "secret");
    std::atomic<Clock::rep> sendAt{0}, reportAt{0};
    gateway.SetRequestHook([&](const sim::ReceivedRequest& r) {
        const Clock::rep now = Clock::now().time_since_epoch().count();
        if (r.operation == "SendBulkSMS") sendAt = now;
        else if (r.operation == "Report") reportAt = now;
    });
    gateway.Start();
    WriteSettings(settings, server.ServerText(), "VelmoraProgram", gateway.Host());
    server.SetRequestDelayMilliseconds(delayMs);
    std::printf("SQL Server simulator over TDS (FreeTDS ODBC), %d ms per request\n", delayMs);
    const RunOutcome run = RunProgram(settings, dir);
    gateway.Stop();
    const std::vector<sqlsim::ReceivedRequest> requests = server.Requests();
    server.Stop();

    // The tenant's sessions in the order they began: generation first, then sending and reporting.
    std::map<int, std::vector<const sqlsim::ReceivedRequest*>> sessions;
    long long programRequests = 0;
    for (const auto& r : requests) {
        if (r.kind == sqlsim::ReceivedRequest::Kind::Attention) continue;
        if (r.database == "Magaza") sessions[r.session].push_back(&r);
        else ++programRequests;
    }
    long long generation = 0, sending = 0, reporting = 0;
    const sqlsim::ReceivedRequest *firstSend = nullptr, *lastSend = nullptr, *firstReport = nullptr,
                                  *lastReport = nullptr;
    bool inReport = false;
    const size_t tenantSessions = sessions.size();
    size_t index = 0;
    for (const auto& [spid, list] : sessions) {
        const bool sendReport = ++index == tenantSessions && tenantSessions > 1;
        for (const sqlsim::ReceivedRequest* r : list) {
            if (!sendReport) {
                ++generation;
                continue;
            }
            if (r->text.find("WHERE durum = 1") != std::string::npos) inReport = true;
            (inReport ? reporting : sending) += 1;
            if (r->text.rfind("UPDATE tbNuvoListe SET rapor_id", 0) == 0) {
                if (!firstSend) firstSend = r;
                lastSend = r;
            } else if (r->text.rfind("UPDATE tbNuvoListe SET durum = 3", 0) == 0) {
                if (!firstReport) firstReport = r;
                lastReport = r;
            }
        }
    }
    const long long queued = Scalar(tenant, "SELECT COUNT(*) FROM tbNuvoListe");
    const long long sent = Scalar(tenant, "SELECT COUNT(*) FROM tbNuvoListe WHERE durum <> 0");
    const long long reported = Scalar(tenant, "SELECT COUNT(*) FROM tbNuvoListe WHERE durum = 3");
    auto per = [](long long n, long long d) { return d > 0 ? static_cast<double>(n) / static_cast<double>(d) : 0.0; };
    PrintCommon(run, tenant, rows);
    if (blast)
        std::printf("  generation requests               %10lld  (%.4f per message)\n", generation, per(generation, queued));
    std::printf("  sending requests                  %10lld  (%.4f per verdict)\n", sending, per(sending, sent));
    std::printf("  reporting requests                %10lld  (%.4f per verdict)\n", reporting, per(reporting, reported));
    std::printf("  program database requests         %10lld\n", programRequests);
    auto window = [&](const char* what, Clock::rep at, const sqlsim::ReceivedRequest* first,
                      const sqlsim::ReceivedRequest* last) {
        if (!at || !first) return;
        const Clock::time_point asked{Clock::duration(at)};
        std::printf("  %s: gateway asked -> first verdict sent %.0f ms, -> last verdict written %.0f ms\n", what,
                    Ms(first->received - asked), Ms(last->answered - asked));
    };
    window("send  ", sendAt.load(), firstSend, lastSend);
    window("report", reportAt.load(), firstReport, lastReport);
    RemoveDb(tenant);
    RemoveDb(program);
}

} // namespace

int main(int argc, char** argv) {
    g_launcher = StartLauncher();
    // The schema names the program's text collations; the raw connections that build the files need them.
    db::tsql::RegisterCollationsForEveryConnection();
    const std::string mode = argc > 1 ? argv[1] : "blast";
    const int rows = argc > 2 ? std::atoi(argv[2]) : 100000;
    const int delayMs = argc > 3 ? std::atoi(argv[3]) : 1;
    const std::string route = argc > 4 ? argv[4] : "both";
    std::string dir = argc > 5 ? std::string(argv[5]) : platform::TempDirectory();
    if (!dir.empty() && dir.back() != '/') dir += '/';
    const bool blast = mode == "blast";
    std::printf("%s, %d %s\n", mode.c_str(), rows, blast ? "customers selected by a custom query" : "pending rows");
    if (route != "wire") Embedded(blast, rows, dir);
    if (route != "embedded") Wire(blast, rows, delayMs, dir);
    return 0;
}
