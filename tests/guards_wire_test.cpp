// The tenant's send/report lock in its SQL Server form, over the SQL Server simulator and the platform's
// ODBC driver: one session at a time, gone with its session, and two runs on the same tenants send
// nothing twice.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "db/DbConnection.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"
#include "tests/TestSupport.h"
#include "tests/TestWire.h"
#include "tools/gatewaysim/GatewaySimulator.h"
#include "xml/XmlDocument.h"

using namespace velmora;

namespace {

class TenantLockWireTest : public testing::Test {
protected:
    void SetUp() override {
        if (test::WireRouteUnavailable()) GTEST_SKIP() << "VELMORA_ODBC_DRIVER names no SQL Server driver";
        gateway_.AddAccount("demo", "secret");
        gateway_.Start();
    }

    std::string AddTenant(const std::string& name, int rows) {
        const std::string path = test::MakeTenantDatabase(dir_, name);
        std::string sql = "INSERT INTO tbNuvoListe (gsm, mesaj, durum, kayit_tarihi) VALUES ";
        for (int i = 0; i < rows; ++i)
            sql += std::string(i ? "," : "") + "('" + Gsm(tenants_.size(), i) + "', 'Merhaba', 0, '2026-12-10 09:00:00.000')";
        if (rows > 0) test::RunSqliteScript(path, sql + ";");
        tenants_.push_back(path);
        return path;
    }
    static std::string Gsm(size_t tenant, int row) { return "0532" + std::to_string(100 + tenant) + std::to_string(10000 + row); }

    void MakeProgram() {
        test::MakeWireProgramDatabase(dir_, peer_, tenants_,
                                      "<SMSServisi><Sunucu>" + gateway_.Host() + "</Sunucu></SMSServisi>\n");
        exe_ = test::CopyProgram("driver/velmora", dir_);
    }
    std::vector<std::pair<std::string, std::string>> Env(const std::string& lock, const std::string& log) {
        return {{"VELMORA_SETTINGS_FILE", ""},
                {"VELMORA_NOW", "2026-12-10 09:30:00"},
                {"VELMORA_LOG_FILE", dir_.File(log)},
                {"VELMORA_LOCK_FILE", dir_.File(lock)}};
    }
    std::string Log(const std::string& log) { return platform::AnsiToUtf8(platform::ReadWholeFile(dir_.File(log))); }

    static std::vector<int> States(const std::string& tenant) { return test::QueueStates(tenant); }
    // How often the gateway received each row: a map from count to rows.
    std::map<int, int> ReceiptsPerRow(int rowsPerTenant) {
        std::map<std::string, int> received;
        for (const sim::ReceivedRequest& r : gateway_.Requests()) {
            if (r.operation != "SendBulkSMS") continue;
            xml::XmlDocument doc;
            doc.LoadFromString(r.data);
            for (const xml::XmlElement& rcpt : doc.Root().Child("RCPT_LIST").Children()) ++received[rcpt.Child("TA").Text()];
        }
        std::map<int, int> histogram;
        for (size_t t = 0; t < tenants_.size(); ++t)
            for (int i = 0; i < rowsPerTenant; ++i) ++histogram[received[Gsm(t, i)]];
        return histogram;
    }

    test::TempDir dir_;
    sim::GatewaySimulator gateway_;
    test::WirePeer peer_;
    std::vector<std::string> tenants_;
    std::string exe_;
};

TEST_F(TenantLockWireTest, OneSessionAtATimeAndItGoesWithTheSession) {
    const std::string name = peer_.Serve(AddTenant("Magaza.db", 0));
    db::TDbConnection a, b;
    peer_.Aim(a, name);
    peer_.Aim(b, name);
    a.SetConnected(true);
    b.SetConnected(true);
    ASSERT_TRUE(a.TryLockSendReport());
    EXPECT_TRUE(a.TryLockSendReport()) << "held already by this session";
    EXPECT_FALSE(b.TryLockSendReport());
    a.UnlockSendReport();
    ASSERT_TRUE(b.TryLockSendReport());
    EXPECT_FALSE(a.TryLockSendReport());
    b.SetConnected(false);  // a killed run's session ends the same way
    for (int i = 0; i < 200 && peer_->OpenSessions() > 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(a.TryLockSendReport());
}

TEST_F(TenantLockWireTest, ATenantLockedByAnotherSessionIsSkippedAndSaidSo) {
    const std::string tenant = AddTenant("Magaza.db", 3);
    MakeProgram();
    {
        db::TDbConnection other;  // another machine's run, serving the tenant right now
        peer_.Aim(other, "Magaza");
        other.SetConnected(true);
        ASSERT_TRUE(other.TryLockSendReport());
        EXPECT_EQ(test::WaitProgram(test::StartProgram(exe_, Env("lock", "held.log"))).status, 0);
        EXPECT_NE(Log("held.log").find("SMS gönderimi ve raporları atlandı (Magaza): "), std::string::npos)
            << Log("held.log");
        EXPECT_EQ(States(tenant), (std::vector<int>{0, 0, 0}));
    }
    EXPECT_EQ(test::WaitProgram(test::StartProgram(exe_, Env("lock", "free.log"))).status, 0);
    EXPECT_EQ(States(tenant), (std::vector<int>{3, 3, 3}));
    EXPECT_EQ(ReceiptsPerRow(3), (std::map<int, int>{{1, 3}}));
}

TEST_F(TenantLockWireTest, TwoProcessesWithDifferentRunLocksSendNothingTwice) {
    const int rows = 200;
    for (const char* name : {"A.db", "B.db", "C.db"}) AddTenant(name, rows);
    MakeProgram();
    const intptr_t first = test::StartProgram(exe_, Env("lock-first", "first.log"));
    const intptr_t second = test::StartProgram(exe_, Env("lock-second", "second.log"));
    EXPECT_EQ(test::WaitProgram(first).status, 0);
    EXPECT_EQ(test::WaitProgram(second).status, 0);
    EXPECT_EQ(ReceiptsPerRow(rows), (std::map<int, int>{{1, 3 * rows}})) << "every row reached the gateway once";
    for (const std::string& t : tenants_) EXPECT_EQ(States(t), std::vector<int>(rows, 3)) << t;
}

} // namespace
