// velmora-status: the queue's states per tenant with an unreachable tenant among them, read only; and the
// preview of a run on the demo tenant with every campaign, which leaves the tenant's tables unchanged and
// matches what the run then really queues.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "campaigns/SMSCheck.h"
#include "driver/Status.h"
#include "tests/TestSupport.h"

using namespace velmora;
using ::testing::HasSubstr;
using ::testing::Not;
using test::DT;

namespace {

// Every table of an SQLite file, row by row, as SQL literals: equal dumps mean equal contents.
std::string Dump(const std::string& path) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    std::string out;
    auto each = [&](const std::string& sql, auto&& row) {
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
        while (sqlite3_step(st) == SQLITE_ROW) row(st);
        sqlite3_finalize(st);
    };
    std::vector<std::string> tables;
    each("SELECT type, name, sql FROM sqlite_master ORDER BY type, name", [&](sqlite3_stmt* st) {
        const auto text = [&](int c) {
            const unsigned char* v = sqlite3_column_text(st, c);
            return v ? std::string(reinterpret_cast<const char*>(v)) : std::string();
        };
        out += text(2) + "\n";
        if (text(0) == "table") tables.push_back(text(1));
    });
    for (const std::string& t : tables) {
        out += "== " + t + "\n";
        sqlite3_stmt* cols = nullptr;
        sqlite3_prepare_v2(db, ("SELECT * FROM \"" + t + "\" LIMIT 0").c_str(), -1, &cols, nullptr);
        std::string list;
        for (int c = 0; c < sqlite3_column_count(cols); ++c)
            list += std::string(list.empty() ? "" : " || ',' || ") + "quote(\"" + sqlite3_column_name(cols, c) + "\")";
        sqlite3_finalize(cols);
        each("SELECT " + list + " FROM \"" + t + "\" ORDER BY rowid", [&](sqlite3_stmt* st) {
            out += reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
            out += "\n";
        });
    }
    sqlite3_close(db);
    return out;
}

// A program database with these (name, server) rows, all active, and the settings file naming it.
std::string MakeRegistry(const test::TempDir& dir, const std::vector<std::pair<std::string, std::string>>& tenants) {
    const std::string program = dir.File("program.db");
    test::CreateSqliteDatabase(program, "tools/schema/program.sqlite.sql");
    for (const auto& [name, server] : tenants)
        test::RunSqliteScript(program, "INSERT INTO tbNuvoVeriTabani (sunucu, kullanici_adi, parola, veritabani, aktif) "
                                       "VALUES ('" + server + "', 'sa', '', '" + name + "', 1);");
    const std::string settings = dir.File("Settings.xml");
    test::WriteSettingsFile(settings, program);
    return settings;
}

int RunTool(const std::string& settings, std::vector<std::string> args, std::string& out, std::string& err) {
    test::ScopedEnv scope("VELMORA_SETTINGS_FILE", settings);
    args.insert(args.begin(), {"--settings", settings});
    std::ostringstream o, e;
    int status = driver::RunStatusTool(args, o, e);
    out = o.str();
    err = e.str();
    return status;
}

// ---------------------------------------------------------------------------------------------
// Status

// A queue with rows in every state: two pending (the older from yesterday 18:00), one sent awaiting its
// report, one refused, three reported.
const char* kQueueInEveryState = R"SQL(
INSERT INTO tbNuvoListe (mesaj_grubu, gsm, mesaj, durum, kayit_tarihi) VALUES
  (1, '05321112233', 'a', 0, '2026-12-10 09:30:00.000'),
  (1, '05321112233', 'b', 0, '2026-12-09 18:00:00.000'),
  (1, '05321112233', 'c', 1, '2026-12-09 17:00:00.000'),
  (1, '05321112233', 'd', 2, '2026-12-09 17:00:00.000'),
  (1, '05321112233', 'e', 3, '2026-12-08 17:00:00.000'),
  (1, '05321112233', 'f', 3, '2026-12-08 17:00:00.000'),
  (1, '05321112233', 'g', 3, '2026-12-08 17:00:00.000');
INSERT INTO tbNuvoSonKontrol (alisveris_sonrasi, ozel_gunler) VALUES ('2026-12-10 09:59:00.000', '2026-12-10 00:00:00.000');
)SQL";

struct StatusCase {
    const char* name;
    bool withUnreachable;
    bool overOdbc;  // the tenants reached through the ODBC backend instead of the embedded one
    int exitStatus;
};

class StatusTool : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusTool, CountsEveryStateAndNamesTheUnreachableTenant) {
    const StatusCase& c = GetParam();
#ifdef _WIN32
    if (c.overOdbc) GTEST_SKIP() << "the registry would need the host's paths";
#endif
    test::TempDir dir;
    test::FixedClock clock(2026, 12, 10, 10, 0, 0);
    // Over ODBC the SQLite ODBC driver stands in for SQL Server: the database name is the file.
    test::ScopedEnv driver("VELMORA_ODBC_DRIVER", c.overOdbc ? "SQLite3" : "");
    auto entry = [&](const std::string& name, const std::string& path) {
        return c.overOdbc ? std::make_pair(path, std::string("odbchost")) : std::make_pair(name, "sqlite:" + path);
    };
    auto heading = [&](const std::pair<std::string, std::string>& t) { return t.first + " (" + t.second + "): "; };

    const std::string busy = test::MakeTenantDatabase(dir, "busy.db");
    test::RunSqliteScript(busy, kQueueInEveryState);
    const std::string fresh = test::MakeTenantDatabase(dir, "fresh.db");
    const auto a = entry("MagazaA", busy), b = entry("MagazaB", fresh);
    const auto missing = std::make_pair(std::string("MagazaYok"), "sqlite:" + dir.File("missing.db"));
    std::vector<std::pair<std::string, std::string>> tenants = {a};
    if (c.withUnreachable) tenants.push_back(missing);
    tenants.push_back(b);
    const std::string settings = MakeRegistry(dir, tenants);
    const std::string busyBefore = Dump(busy), freshBefore = Dump(fresh);

    std::string out, err;
    EXPECT_EQ(RunTool(settings, {}, out, err), c.exitStatus) << out << err;
    EXPECT_EQ(err, "");
    EXPECT_THAT(out, HasSubstr(heading(a) + "erişilebilir\n"
                               "  bekleyen: 2, gönderildi (rapor bekliyor): 1, reddedildi: 1, raporlandı: 3\n"
                               "  en eski bekleyen: 2026-12-09 18:00:00 (16 saat 0 dakika önce)\n"
                               "  son kontrol: alisveris_sonrasi 2026-12-10 09:59:00, ozel_gunler 2026-12-10 00:00:00, "
                               "taksit_hatirlatma -, gecikmis_odeme -\n"));
    // The tenant after the unreachable one is still read; its empty bookkeeping table stays empty.
    EXPECT_THAT(out, HasSubstr(heading(b) + "erişilebilir\n"
                               "  bekleyen: 0, gönderildi (rapor bekliyor): 0, reddedildi: 0, raporlandı: 0\n"
                               "  en eski bekleyen: yok\n"
                               "  son kontrol: henüz çalışma yok\n"));
    if (c.withUnreachable) {
        EXPECT_THAT(out, HasSubstr(heading(missing) + "ULAŞILAMIYOR: "));
        EXPECT_THAT(out, HasSubstr("1 / 3 kiracı veri tabanına ulaşılamadı."));
    } else {
        EXPECT_THAT(out, Not(HasSubstr("ULAŞILAMIYOR")));
    }
    EXPECT_TRUE(Dump(busy) == busyBefore) << "the tables changed";
    EXPECT_TRUE(Dump(fresh) == freshBefore) << "the tables changed";
}

INSTANTIATE_TEST_SUITE_P(Tenants, StatusTool,
                         ::testing::Values(StatusCase{"AllReachable", false, false, 0},
                                           StatusCase{"OneUnreachable", true, false, 1},
                                           StatusCase{"OverOdbcOneUnreachable", true, true, 1}),
                         [](const ::testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

struct BadUse {
    const char* name;
    std::vector<std::string> args;
    const char* message;
};

class StatusToolUse : public ::testing::TestWithParam<BadUse> {};

TEST_P(StatusToolUse, RefusesWithAClearMessage) {
    test::TempDir dir;
    const std::string settings = MakeRegistry(dir, {{"MagazaA", "sqlite:" + test::MakeTenantDatabase(dir, "a.db")}});
    std::string out, err;
    EXPECT_EQ(RunTool(settings, GetParam().args, out, err), 2);
    EXPECT_THAT(err, HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, StatusToolUse,
    ::testing::Values(BadUse{"UnknownOption", {"--yes"}, "Bilinmeyen seçenek: --yes"},
                      BadUse{"MissingValue", {"--preview"}, "--preview bir değer bekler"},
                      BadUse{"BadMoment", {"--preview", "MagazaA", "--at", "10/12/2026"}, "--at \"10/12/2026\" okunamadı"},
                      BadUse{"AtWithoutPreview", {"--at", "2026-12-10 10:00"}, "--at yalnızca --preview ile"},
                      BadUse{"UnknownTenant", {"--preview", "MagazaZ"}, "\"MagazaZ\" veri tabanı yok"},
                      BadUse{"NoSettings", {"--settings", "/nonexistent/Settings.xml"}, "Veri tabanı bağlantısı yapılamadı"}),
    [](const ::testing::TestParamInfo<BadUse>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Preview

[[maybe_unused]] constexpr const char* kDay = "2026-03-10";

// The demo tenant: the demo's own seed for that day, every campaign on and due at 10:00.
class PreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "the demo seed is a shell script";
#else
        tenant_ = dir_.File("demo.db");
        test::CreateSqliteDatabase(tenant_, "tools/schema/tenant.sqlite.sql");
        std::string cmd = "bash '" + test::SourcePath("tools/demo/tenant-seed.sh") + "' " + kDay;
        FILE* p = popen(cmd.c_str(), "r");
        ASSERT_NE(p, nullptr);
        std::string sql;
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) sql.append(buf, n);
        ASSERT_EQ(pclose(p), 0) << cmd;
        test::RunSqliteScript(tenant_, sql);
        settings_ = MakeRegistry(dir_, {{"DemoMagaza", "sqlite:" + tenant_}});
#endif
    }

    test::TempDir dir_;
    std::string tenant_;
    std::string settings_;
};

TEST_F(PreviewTest, ShowsEveryCampaignLeavesTheTablesAsTheyWereAndMatchesTheRun) {
    test::FixedClock clock(2026, 3, 10, 10, 0, 0);
    const std::string dumpBefore = Dump(tenant_);
    ASSERT_THAT(dumpBefore, HasSubstr("== tbNuvoListe\n1,1,"));  // the dump holds the rows themselves

    std::string out, err;
    ASSERT_EQ(RunTool(settings_, {"--preview", "demomagaza", "--at", "2026-03-10 10:00"}, out, err), 0) << out << err;
    EXPECT_TRUE(Dump(tenant_) == dumpBefore) << "the tables changed";
    EXPECT_THAT(out, HasSubstr("Önizleme: DemoMagaza, 2026-03-10 10:00: bu anda bir çalışma 10 mesajı kuyruğa eklerdi"));
    clock.Set(DT(2026, 3, 10, 10, 0, 0));  // the tool started its own clock at --at

    // The same moment again through the library, then the real generation: the same messages.
    db::TDbConnection tenant;
    tenant.Server = "sqlite:" + tenant_;
    const driver::PreviewResult preview = driver::PreviewTenant(tenant);
    EXPECT_EQ(preview.failure, "");
    std::vector<std::tuple<int, std::string, std::string>> shown;
    for (const auto& m : preview.messages) {
        shown.emplace_back(m.group, m.gsm, m.text);
        EXPECT_THAT(out, HasSubstr(" | " + m.gsm + " | " + m.text + "\n"));
    }
    std::vector<int> groups;
    for (const auto& m : preview.messages) groups.push_back(m.group);
    EXPECT_THAT(groups, ::testing::ElementsAre(3, 8, 4, 5, 6, 7, 7, 9, 2, 10));
    EXPECT_TRUE(Dump(tenant_) == dumpBefore) << "the tables changed";

    tenant.SetConnected(true);
    campaigns::TSMSCheck check;
    check.GenerateForTenant(tenant);
    EXPECT_EQ(check.ExecutionResult, "");
    std::vector<std::tuple<int, std::string, std::string>> queued;
    for (const test::QueueRow& r : test::ReadQueue(tenant))
        if (r.durum == 0 && r.grup != 1) queued.emplace_back(r.grup, r.gsm, r.mesaj);
    EXPECT_EQ(queued, shown);
}

TEST_F(PreviewTest, AFailingCustomQueryIsReportedAndStillRolledBack) {
    test::RunSqliteScript(tenant_, "UPDATE tbNuvoSorguListesi SET xml = CAST('<OzelSorgu><Sorgu>SELECT * FROM tbYok</Sorgu>"
                                   "</OzelSorgu>' AS BLOB);");
    test::FixedClock clock(2026, 3, 10, 10, 0, 0);
    const std::string dumpBefore = Dump(tenant_);

    std::string out, err;
    EXPECT_EQ(RunTool(settings_, {"--preview", "DemoMagaza", "--at", "2026-03-10 10:00"}, out, err), 1) << out << err;
    EXPECT_THAT(out, HasSubstr("Üretim hatası: "));
    EXPECT_THAT(out, HasSubstr("tbYok"));
    EXPECT_TRUE(Dump(tenant_) == dumpBefore) << "the tables changed";
}

} // namespace
