// The fault table: the built program serves one tenant twice, the first run broken by a real fault (a
// full disk, a read-only file, a held lock, a kill -9 at each step of a run), the second run normal.
// For every row: how often the gateway received it over both runs, and its final state.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <functional>
#include <memory>
#include <ostream>

#include "tests/ProgramRunHarness.h"

using namespace velmora;
using test::EnvList;
using test::ProgramRunHarness;
using test::TmpfsMount;

namespace {

// Runs a statement on its own connection, without waiting for locks; returns SQLite's message, empty on
// success. Shows a fault is real before the program meets it.
std::string TryWrite(const std::string& path, const char* sql = "UPDATE tbNuvoListe SET durum = durum WHERE id = 1") {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::string msg = db ? sqlite3_errmsg(db) : "cannot open";
        sqlite3_close(db);
        return msg;
    }
    char* err = nullptr;
    std::string msg;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) msg = err ? err : "failed";
    sqlite3_free(err);
    sqlite3_close(db);
    return msg;
}

// What one case does around the first run. Set-up state lives here so that clear can undo it.
struct Scene {
    std::unique_ptr<TmpfsMount> mount;
    std::string filler;
    sqlite3* other = nullptr;  // a second session on the tenant database
    ~Scene() {
        if (other) sqlite3_close(other);
    }
};

struct RunFault {
    const char* name;
    int rows;
    bool onMount;  // the tenant database lives on a small tmpfs of its own
    // Breaks the first run and shows the fault is real (gtest assertions).
    std::function<void(ProgramRunHarness&, Scene&, EnvList&)> breakIt;
    std::function<void(ProgramRunHarness&, Scene&)> clear;
    bool killed;           // the first run dies by SIGKILL
    int receiptsPerRow;    // over both runs
    const char* firstLog;  // part of the first run's log line for the tenant (the tenant is named too)
};
void PrintTo(const RunFault& f, std::ostream* os) { *os << f.name; }

class FaultTable : public testing::TestWithParam<RunFault> {};

TEST_P(FaultTable, EveryRowReachesTheGatewayExactlyOnceOverTwoRuns) {
    const RunFault& f = GetParam();
#ifdef _WIN32
    GTEST_SKIP() << "kills and mounts are POSIX here";
#endif
    std::unique_ptr<test::TempDir> mountDir;  // outlives the mount in scene
    Scene scene;
    std::string tenantPath;
    if (f.onMount) {
        mountDir = std::make_unique<test::TempDir>();
        scene.mount = std::make_unique<TmpfsMount>(mountDir->File("disk"), 1024);
        if (!scene.mount->Mounted()) GTEST_SKIP() << "no tmpfs mount allowed here (needs root)";
        tenantPath = scene.mount->Path() + "/tenant.db";
    }
    ProgramRunHarness h(f.rows, tenantPath);
    EnvList env;
    f.breakIt(h, scene, env);
    const int first = h.Run(env);
    if (f.killed) {
        EXPECT_EQ(first, -9) << "the first run is killed";
    } else {
        EXPECT_EQ(first, 0);
        const std::string log = h.LogText();
        EXPECT_NE(log.find("(kiraci)"), std::string::npos) << log;
        EXPECT_NE(log.find(f.firstLog), std::string::npos) << log;
    }
    if (f.clear) f.clear(h, scene);

    EXPECT_EQ(h.Run(), 0);
    const std::map<int64_t, int> receipts = h.Receipts();
    const std::vector<int> states = h.States();
    ASSERT_EQ(states.size(), static_cast<size_t>(f.rows));
    int wrong = 0;
    for (int id = 1; id <= f.rows; ++id) {
        auto it = receipts.find(id);
        const int got = it == receipts.end() ? 0 : it->second;
        if ((got != f.receiptsPerRow || states[id - 1] != 3) && ++wrong <= 5)
            ADD_FAILURE() << "row " << id << ": received " << got << " times, state " << states[id - 1];
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_FALSE(h.JournalLeft());
}

void NoClear(ProgramRunHarness&, Scene&) {}

const RunFault kFaults[] = {
    {"DiskFull", 4, true,
     [](ProgramRunHarness& h, Scene& s, EnvList&) {
         // A session that keeps the write-ahead log's index alive and its log empty, so the next write
         // must take new space.
         ASSERT_EQ(sqlite3_open(h.TenantPath().c_str(), &s.other), SQLITE_OK);
         sqlite3_exec(s.other, "PRAGMA journal_mode=WAL; PRAGMA wal_checkpoint(TRUNCATE);", nullptr, nullptr, nullptr);
         s.filler = s.mount->Fill();
         EXPECT_NE(TryWrite(h.TenantPath()).find("full"), std::string::npos) << "the disk is really full";
     },
     [](ProgramRunHarness&, Scene& s) { std::remove(s.filler.c_str()); },
     false, 1, "kararlar veri tabanına yazılamıyor"},
    {"ReadOnlyFile", 4, true,
     [](ProgramRunHarness& h, Scene& s, EnvList&) {
         ASSERT_TRUE(s.mount->SetReadOnly(true));
         EXPECT_NE(TryWrite(h.TenantPath()).find("readonly"), std::string::npos) << "the file is really read-only";
     },
     [](ProgramRunHarness&, Scene& s) { ASSERT_TRUE(s.mount->SetReadOnly(false)); }, false, 1, "readonly database"},
    {"ReadOnlyFileUsedInWalModeBefore", 4, true,
     [](ProgramRunHarness& h, Scene& s, EnvList&) {
         test::RunSqliteScript(h.TenantPath(), "PRAGMA journal_mode=WAL; UPDATE tbNuvoListe SET durum = 0;");
         ASSERT_TRUE(s.mount->SetReadOnly(true));
         EXPECT_NE(TryWrite(h.TenantPath()), "") << "the file is really read-only";
     },
     [](ProgramRunHarness&, Scene& s) { ASSERT_TRUE(s.mount->SetReadOnly(false)); }, false, 1, "unable to open"},
    {"WriteLockHeldOnAFreshFile", 4, false,
     [](ProgramRunHarness& h, Scene& s, EnvList&) {
         ASSERT_EQ(sqlite3_open(h.TenantPath().c_str(), &s.other), SQLITE_OK);
         ASSERT_EQ(sqlite3_exec(s.other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
         EXPECT_NE(TryWrite(h.TenantPath()).find("locked"), std::string::npos) << "the lock is really held";
     },
     [](ProgramRunHarness&, Scene& s) { sqlite3_exec(s.other, "ROLLBACK", nullptr, nullptr, nullptr); },
     false, 1, "locked"},
    {"WriteLockHeldBySomeoneElse", 4, false,
     [](ProgramRunHarness& h, Scene& s, EnvList&) {
         test::RunSqliteScript(h.TenantPath(), "PRAGMA journal_mode=WAL;");  // as every run leaves it
         ASSERT_EQ(sqlite3_open(h.TenantPath().c_str(), &s.other), SQLITE_OK);
         ASSERT_EQ(sqlite3_exec(s.other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
         EXPECT_NE(TryWrite(h.TenantPath()).find("locked"), std::string::npos) << "the lock is really held";
     },
     [](ProgramRunHarness&, Scene& s) { sqlite3_exec(s.other, "ROLLBACK", nullptr, nullptr, nullptr); },
     false, 1, "kararlar veri tabanına yazılamıyor"},
    {"WriteLockTakenWhileTheBatchIsAtTheGateway", 1500, false,
     [](ProgramRunHarness& h, Scene& s, EnvList&) {
         ASSERT_EQ(sqlite3_open(h.TenantPath().c_str(), &s.other), SQLITE_OK);
         sqlite3* other = s.other;
         h.Gateway().SetRequestHook([other](const sim::ReceivedRequest& r) {
             if (r.operation == "SendBulkSMS") sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
         });
     },
     [](ProgramRunHarness& h, Scene& s) {
         h.Gateway().SetRequestHook(nullptr);
         EXPECT_TRUE(h.JournalLeft()) << "the verdicts wait in the journal";
         EXPECT_EQ(h.States(), std::vector<int>(1500, 0)) << "none reached the table";
         sqlite3_exec(s.other, "ROLLBACK", nullptr, nullptr, nullptr);
     },
     false, 1, "karar günlüğünde bekliyor"},
    {"KilledWhileLoggingIn", 4, false,
     [](ProgramRunHarness& h, Scene&, EnvList&) { h.KillOnRequest("ApiLogin"); }, NoClear, true, 1, ""},
    // No client can know what became of a batch whose answer never arrived: these rows go out again.
    {"KilledWithTheRequestOut", 4, false,
     [](ProgramRunHarness& h, Scene&, EnvList&) { h.KillOnRequest("SendBulkSMS"); }, NoClear, true, 2, ""},
    {"KilledWithTheAnswerIn", 4, false,
     [](ProgramRunHarness&, Scene&, EnvList& env) { env.push_back({"VELMORA_CRASH_AT", "gonderim-yaniti-alindi"}); },
     [](ProgramRunHarness& h, Scene&) {
         EXPECT_TRUE(h.JournalLeft());
         EXPECT_EQ(h.States(), std::vector<int>(4, 0)) << "the fault: accepted rows still look pending";
     },
     true, 1, ""},
    {"KilledWithTheVerdictsHalfWritten", 1500, false,
     [](ProgramRunHarness&, Scene&, EnvList& env) { env.push_back({"VELMORA_CRASH_AT", "kararlar-yarida"}); },
     [](ProgramRunHarness& h, Scene&) {
         std::vector<int> s = h.States();
         EXPECT_EQ(s.front(), 1);
         EXPECT_EQ(s.back(), 0) << "the fault: the rest still look pending";
     },
     true, 1, ""},
    {"KilledWithTheReportsHalfWritten", 1500, false,
     [](ProgramRunHarness&, Scene&, EnvList& env) { env.push_back({"VELMORA_CRASH_AT", "raporlar-yarida"}); },
     [](ProgramRunHarness& h, Scene&) {
         std::vector<int> s = h.States();
         EXPECT_EQ(s.front(), 3);
         EXPECT_EQ(s.back(), 1);
     },
     true, 1, ""},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultTable, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<RunFault>& i) { return std::string(i.param.name); });

} // namespace
