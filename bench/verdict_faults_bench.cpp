// Two figures for verdicts, for a large batch (default 100,000 rows):
//  1. the window in which a kill still makes the next run send accepted rows again: once the time to write
//     every verdict row by row, now the time to keep the answer in the journal (and, beside it, the time
//     the chunked writing takes);
//  2. the built program under real faults, two runs each: the extra SMS the gateway received.
// Usage: verdict_faults_bench [rows] [window | case-name-part]. VELMORA_HARNESS_PROGRAM runs another build.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "bench/BenchSupport.h"
#include "db/DbConnection.h"
#include "platform/Paths.h"
#include "queue/VerdictJournal.h"
#include "queue/VerdictWriter.h"
#include "tests/ProgramRunHarness.h"

using namespace velmora;

namespace {

int CountAt(const std::string& path, int durum) {
    sqlite3* db = nullptr;
    int n = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        const std::string sql = "SELECT COUNT(*) FROM tbNuvoListe WHERE durum = " + std::to_string(durum);
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            n = sqlite3_column_int(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return n;
}

void Windows(int rows) {
    test::TempDir dir;
    const std::string path = dir.File("tenant.db");
    test::MakeTenantWithPendingRows(path, rows);
    test::RunSqliteScript(path, "PRAGMA journal_mode=WAL;");
    db::TDbConnection c;
    c.Server = "sqlite:" + path;
    c.SetConnected(true);

    queue::TVerdictBatch sent{queue::TVerdictKind::Send, {}};
    queue::TVerdictBatch reported{queue::TVerdictKind::Report, {}};
    for (int id = 1; id <= rows; ++id) {
        sent.Items.push_back({id, 1, 1000 + id, "OK"});
        reported.Items.push_back({id, 3, 0, "İletildi."});
    }
    queue::TVerdictJournal journal(dir.File("kararlar"), "sqlite:" + path + "\nbench", "bench");

    std::printf("== the window in which a kill makes the next run send accepted rows again (%d rows)\n", rows);
    bench::Stopwatch perRow;
    {
        // As the rows were written before: the selection's result, then Locate, Edit and Post per entry.
        db::TDbQuery q(&c);
        q.SetSQL("SELECT * FROM tbNuvoListe WHERE durum = 0 ORDER BY kayit_tarihi");
        q.Open();
        for (const queue::TVerdict& v : sent.Items) {
            q.First();
            if (!q.Locate("id", db::Value::Integer(v.Id))) continue;
            q.Edit();
            q.FieldByName("rapor_id").SetValue(v.RaporId);
            q.FieldByName("aciklama").SetValue(v.Aciklama);
            q.FieldByName("durum").SetValue(v.Durum);
            q.Post();
        }
    }
    bench::Report("before: every send verdict row by row", perRow.Seconds(), rows);
    std::printf("  statements per answer before: %d\n", rows);
    test::RunSqliteScript(path, "UPDATE tbNuvoListe SET durum = 0, rapor_id = NULL, aciklama = NULL;");

    bench::Stopwatch save;
    journal.Save(sent);
    bench::Report("now: the answer kept in the journal (fsync)", save.Seconds(), rows);
    bench::Stopwatch chunked;
    queue::TApplyOutcome o = queue::ApplyVerdicts(c, sent);
    bench::Report("now: send verdicts in chunks (no window)", chunked.Seconds(), rows);
    std::printf("  statements per answer now: %zu, rows written %zu\n", (sent.Items.size() + queue::kVerdictChunkRows - 1) / queue::kVerdictChunkRows,
                o.AppliedCount());
    journal.Remove();

    bench::Stopwatch reportsPerRow;
    {
        db::TDbQuery q(&c);
        q.SetSQL("SELECT id, rapor_id, gsm, durum, aciklama FROM tbNuvoListe WHERE durum = 1");
        q.Open();
        for (const queue::TVerdict& v : reported.Items) {
            if (!q.Locate("id", db::Value::Integer(v.Id))) continue;
            q.Edit();
            q.FieldByName("durum").SetValue(3);
            q.FieldByName("aciklama").SetValue(v.Aciklama);
            q.Post();
        }
    }
    bench::Report("before: every report verdict row by row", reportsPerRow.Seconds(), rows);
    test::RunSqliteScript(path, "UPDATE tbNuvoListe SET durum = 1;");
    bench::Stopwatch reportSave;
    journal.Save(reported);
    bench::Report("now: the report answer kept in the journal", reportSave.Seconds(), rows);
    bench::Stopwatch reportChunks;
    queue::ApplyVerdicts(c, reported);
    bench::Report("now: report verdicts in chunks", reportChunks.Seconds(), rows);
    journal.Remove();
}

struct Case {
    const char* name;
    std::function<void(test::ProgramRunHarness&, sqlite3*&)> breakIt;
    std::function<void(test::ProgramRunHarness&, sqlite3*&)> clear;
};

void Faults(int rows, const std::string& only) {
    const Case cases[] = {
        {"write lock held by another session",
         [](test::ProgramRunHarness& h, sqlite3*& other) {
             sqlite3_open(h.TenantPath().c_str(), &other);
             sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
         },
         [](test::ProgramRunHarness&, sqlite3*& other) { sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr); }},
        {"write lock taken while the batch is at the gateway",
         [](test::ProgramRunHarness& h, sqlite3*& other) {
             sqlite3_open(h.TenantPath().c_str(), &other);
             sqlite3* o = other;
             h.Gateway().SetRequestHook([o](const sim::ReceivedRequest& r) {
                 if (r.operation == "SendBulkSMS") sqlite3_exec(o, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
             });
         },
         [](test::ProgramRunHarness& h, sqlite3*& other) {
             h.Gateway().SetRequestHook(nullptr);
             sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
         }},
        {"kill -9 with the request out", [](test::ProgramRunHarness& h, sqlite3*&) { h.KillOnRequest("SendBulkSMS"); }, {}},
        {"kill -9 at the first verdict written",
         [](test::ProgramRunHarness& h, sqlite3*&) {
             std::string p = h.TenantPath();
             h.KillWhen([p] { return CountAt(p, 1) >= 1; });
         },
         {}},
        {"kill -9 with half the verdicts written",
         [rows](test::ProgramRunHarness& h, sqlite3*&) {
             std::string p = h.TenantPath();
             h.KillWhen([p, rows] { return CountAt(p, 1) >= rows / 2; });
         },
         {}},
        {"kill -9 with half the reports written",
         [rows](test::ProgramRunHarness& h, sqlite3*&) {
             std::string p = h.TenantPath();
             h.KillWhen([p, rows] { return CountAt(p, 3) >= rows / 2; });
         },
         {}},
    };
    std::printf("== the program under faults, two runs (%d rows)\n", rows);
    std::printf("%-52s %10s %10s %10s %8s %8s\n", "fault", "extra SMS", "never sent", "not final", "run 1 s", "run 2 s");
    for (const Case& c : cases) {
        if (!only.empty() && std::string(c.name).find(only) == std::string::npos) continue;
        test::ProgramRunHarness h(rows);
        test::RunSqliteScript(h.TenantPath(), "PRAGMA journal_mode=WAL;");  // as every run leaves it
        sqlite3* other = nullptr;
        c.breakIt(h, other);
        bench::Stopwatch first;
        h.Run();
        const double firstSeconds = first.Seconds();
        if (c.clear) c.clear(h, other);
        bench::Stopwatch second;
        h.Run();
        const double secondSeconds = second.Seconds();
        if (other) sqlite3_close(other);
        long extra = 0, never = 0, open = 0;
        const auto receipts = h.Receipts();
        for (int id = 1; id <= rows; ++id) {
            auto it = receipts.find(id);
            const int n = it == receipts.end() ? 0 : it->second;
            if (n == 0) ++never;
            if (n > 1) extra += n - 1;
        }
        for (int s : h.States()) open += s != 3;
        std::printf("%-52s %10ld %10ld %10ld %8.1f %8.1f\n", c.name, extra, never, open, firstSeconds, secondSeconds);
    }
}

} // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    const std::string only = argc > 2 ? argv[2] : "";
    // "window" measures the windows alone; any other part of a case name runs the cases that hold it.
    if ((only.empty() || only == "window") && platform::GetEnv("VELMORA_HARNESS_PROGRAM").empty()) Windows(rows);
    if (only != "window") Faults(rows, only);
    return 0;
}
