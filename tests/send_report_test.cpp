// Sending pending rows and collecting reports through the gateway simulator, under every fault it offers:
// no row is lost, none moves to a wrong state, undecided rows stay pending, none is sent twice in a run.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <ostream>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "config/SenderManager.h"
#include "db/DbConnection.h"
#include "gateway/ZentaApiService.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "queue/SMSSenderUnit.h"
#include "queue/VerdictJournal.h"
#include "tests/TestSupport.h"
#include "tools/gatewaysim/GatewaySimulator.h"

using namespace velmora;
using velmora::sim::Fault;

namespace {

struct Row {
    int id = 0;
    int durum = 0;
    bool raporNull = true;
    int raporId = 0;
    std::string aciklama;
};

// A running simulator with the account "demo"/"secret", and the client bound to it for the test's duration.
class SimulatedGateway {
public:
    SimulatedGateway() : sim_(Options()) {
        sim_.AddAccount("demo", "secret");
        sim_.Start();
        gateway::GatewayBinding binding;
        binding.host = sim_.Host();
        binding.connectTimeoutSeconds = 2;
        binding.requestTimeoutSeconds = 1;  // the slow answer takes longer
        gateway::RegisterGatewayBinding(binding);
    }
    ~SimulatedGateway() { gateway::RegisterGatewayBinding(gateway::GatewayBinding{}); }
    sim::GatewaySimulator& operator*() { return sim_; }
    sim::GatewaySimulator* operator->() { return &sim_; }

private:
    static sim::SimulatorOptions Options() {
        sim::SimulatorOptions o;
        o.slowSeconds = 3;
        return o;
    }
    sim::GatewaySimulator sim_;
};

queue::TSMSAyarlari Account(const std::string& password = "secret") {
    queue::TSMSAyarlari a;
    a.KullaniciAdi = "demo";
    a.Parola = password;
    a.KanalKodu = "KANAL1";
    a.Developer = "JOB1";
    return a;
}

std::vector<Row> ReadRows(db::TDbConnection& c) {
    db::TDbQuery q(&c);
    q.SetSQL("SELECT id, durum, rapor_id, aciklama FROM tbNuvoListe ORDER BY id");
    q.Open();
    std::vector<Row> rows;
    for (int i = 0, n = q.RecordCount(); i < n; ++i, q.Next()) {
        Row r;
        r.id = q.FieldByName("id").AsInteger();
        r.durum = q.FieldByName("durum").AsInteger();
        r.raporNull = q.FieldByName("rapor_id").IsNull();
        r.raporId = q.FieldByName("rapor_id").AsInteger();
        r.aciklama = q.FieldByName("aciklama").AsString();
        rows.push_back(r);
    }
    return rows;
}

std::vector<int> States(db::TDbConnection& c) {
    std::vector<int> out;
    for (const Row& r : ReadRows(c)) out.push_back(r.durum);
    return out;
}

int CountOperation(sim::GatewaySimulator& s, const std::string& op) {
    int n = 0;
    for (const auto& r : s.Requests()) n += r.operation == op;
    return n;
}

class QueueGatewayTest : public testing::Test {
protected:
    void SetUp() override {
        path_ = test::MakeTenantDatabase(dir_, "tenant.db");
        // Four pending rows queued out of order: ids 1..4 at 10:02, 10:00, 10:01, 10:03.
        test::RunSqliteScript(path_, R"(
INSERT INTO tbNuvoListe (mesaj_grubu, gsm, mesaj, durum, hemen_gonder, kayit_tarihi, gonderme_baslangic)
VALUES (4, '05321110001', 'Mesaj bir &amp; iki', 0, 0, '2026-12-10 10:02:00.000', '2026-12-17 09:00:00.000'),
       (4, '05321110002', 'Mesaj iki', 0, 1, '2026-12-10 10:00:00.000', NULL),
       (4, '05321110003', 'Mesaj üç', 0, 1, '2026-12-10 10:01:00.000', NULL),
       (4, '05321110004', 'Mesaj dört', 0, 1, '2026-12-10 10:03:00.000', NULL);
)");
        tenant_.Server = "sqlite:" + path_;
        tenant_.SetConnected(true);
    }

    bool Send(const queue::TSMSAyarlari& account = Account()) {
        queue::TSMSGonder sender(tenant_, account);
        return sender.SMSGonder();
    }
    bool Report(const queue::TSMSAyarlari& account = Account()) {
        queue::TSMSRapor reports(tenant_, account);
        return reports.RaporGetir();
    }

    test::TempDir dir_;
    std::string path_;
    db::TDbConnection tenant_;
    SimulatedGateway gateway_;
};

TEST_F(QueueGatewayTest, SendsEveryPendingRowOnceOldestFirstAndRecordsVerdicts) {
    gateway_->SetSendDecision("05321110003", -3, "Numara hatalı");
    EXPECT_TRUE(Send());
    auto rows = ReadRows(tenant_);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].durum, 1);
    EXPECT_FALSE(rows[0].raporNull);
    EXPECT_GE(rows[0].raporId, 0);
    EXPECT_EQ(rows[2].durum, 2);
    EXPECT_EQ(rows[2].raporId, -3);
    EXPECT_EQ(rows[2].aciklama, "Numara hatalı");

    auto requests = gateway_->Requests();
    ASSERT_EQ(requests.size(), 2u);  // one login, one batch
    EXPECT_EQ(requests[0].operation, "ApiLogin");
    const std::string& doc = requests[1].data;
    // Oldest first by kayit_tarihi, each row's id as EID, stored text escaped once more, no PDATE.
    size_t e2 = doc.find("<EID>2</EID>"), e3 = doc.find("<EID>3</EID>"), e1 = doc.find("<EID>1</EID>"),
           e4 = doc.find("<EID>4</EID>");
    ASSERT_NE(e4, std::string::npos) << doc;
    EXPECT_TRUE(e2 < e3 && e3 < e1 && e1 < e4) << doc;
    EXPECT_NE(doc.find("Mesaj bir &amp;amp; iki"), std::string::npos) << doc;
    EXPECT_EQ(doc.find("PDATE"), std::string::npos);
    EXPECT_NE(doc.find("<JID>JOB1</JID><CG>KANAL1</CG>"), std::string::npos) << doc;

    // The refused row is final: never offered again, neither for sending nor for a report.
    gateway_->ClearRequests();
    EXPECT_TRUE(Send());
    EXPECT_EQ(gateway_->Requests().size(), 0u);
    EXPECT_TRUE(Report());
    EXPECT_EQ(States(tenant_), (std::vector<int>{3, 3, 2, 3}));
    for (const auto& r : gateway_->Requests()) {
        if (r.operation == "Report") {
            EXPECT_EQ(r.data.find("<EID>3</EID>"), std::string::npos);
        }
    }
}

TEST_F(QueueGatewayTest, ControlCharactersXmlCannotCarryAreLeftOutOfTheBatch) {
    test::RunSqliteScript(path_, "UPDATE tbNuvoListe SET mesaj = 'A' || char(1) || 'B' || char(9) || 'C' WHERE id = 2;");
    EXPECT_TRUE(Send());
    EXPECT_EQ(States(tenant_), (std::vector<int>{1, 1, 1, 1}));
    const std::string doc = gateway_->Requests().back().data;
    EXPECT_NE(doc.find("<MSG>AB\tC</MSG>"), std::string::npos) << doc;
}

TEST_F(QueueGatewayTest, AnEmptyQueueContactsNobody) {
    test::RunSqliteScript(path_, "UPDATE tbNuvoListe SET durum = 3;");
    EXPECT_TRUE(Send());
    EXPECT_TRUE(Report());
    EXPECT_TRUE(gateway_->Requests().empty());
}

struct FaultCase {
    const char* name;
    Fault fault;
    const char* operation;
    bool throws;
    bool result;
    std::vector<int> states;  // by id after the step
};
// Test names print the case name, not the bytes of the case.
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }


class SendFaultTest : public QueueGatewayTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(SendFaultTest, RowsEndInTheirRightState) {
    const FaultCase& c = GetParam();
    gateway_->SetFault(c.fault, c.operation);
    if (c.throws) {
        EXPECT_THROW(Send(), Error);
    } else {
        EXPECT_EQ(Send(), c.result);
    }
    EXPECT_EQ(States(tenant_), c.states);
    EXPECT_LE(CountOperation(*gateway_, "SendBulkSMS"), 1) << "a batch is posted once per run";
    for (const Row& r : ReadRows(tenant_)) {
        if (r.durum == 0) {
            EXPECT_TRUE(r.raporNull && r.aciklama.empty()) << "pending row " << r.id << " was touched";
        }
    }

    // The next run offers exactly the rows still pending.
    gateway_->ClearFaults();
    gateway_->ClearRequests();
    EXPECT_TRUE(Send());
    EXPECT_EQ(States(tenant_), (std::vector<int>{1, 1, 1, 1}));
}

const FaultCase kSendFaults[] = {
    {"NoFault", Fault::None, "", false, true, {1, 1, 1, 1}},
    {"LoginRefused", Fault::RefuseLogin, "ApiLogin", false, false, {0, 0, 0, 0}},
    {"Http500", Fault::Http500, "SendBulkSMS", true, false, {0, 0, 0, 0}},
    {"SoapFault", Fault::SoapFault, "SendBulkSMS", true, false, {0, 0, 0, 0}},
    {"LoginSoapFault", Fault::SoapFault, "ApiLogin", true, false, {0, 0, 0, 0}},
    {"DroppedConnection", Fault::DropConnection, "SendBulkSMS", true, false, {0, 0, 0, 0}},
    {"TimeOut", Fault::SlowAnswer, "SendBulkSMS", true, false, {0, 0, 0, 0}},
    {"MalformedAnswer", Fault::MalformedXml, "SendBulkSMS", false, false, {0, 0, 0, 0}},
    {"MalformedLogin", Fault::MalformedXml, "ApiLogin", false, false, {0, 0, 0, 0}},
    {"PartialAnswer", Fault::PartialAnswer, "SendBulkSMS", false, true, {1, 1, 0, 0}},
    {"UnknownEids", Fault::UnknownEids, "SendBulkSMS", false, true, {1, 1, 1, 1}},
    {"RepeatedEids", Fault::RepeatedEids, "SendBulkSMS", false, true, {1, 1, 1, 1}},
    {"BatchRefused", Fault::BatchRefused, "SendBulkSMS", false, false, {0, 0, 0, 0}},
};

INSTANTIATE_TEST_SUITE_P(Faults, SendFaultTest, testing::ValuesIn(kSendFaults),
                         [](const testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.name); });

class ReportFaultTest : public QueueGatewayTest, public testing::WithParamInterface<FaultCase> {};

TEST_P(ReportFaultTest, RowsEndInTheirRightState) {
    ASSERT_TRUE(Send());
    const FaultCase& c = GetParam();
    gateway_->ClearRequests();
    gateway_->SetFault(c.fault, c.operation);
    if (c.throws) {
        EXPECT_THROW(Report(), Error);
    } else {
        EXPECT_EQ(Report(), c.result);
    }
    EXPECT_EQ(States(tenant_), c.states);
    for (const Row& r : ReadRows(tenant_)) {
        EXPECT_FALSE(r.raporNull) << "rapor_id keeps the gateway's message id";
        if (r.durum == 3) {
            EXPECT_EQ(r.aciklama, "İletildi.");
        }
    }
    EXPECT_LE(CountOperation(*gateway_, "Report"), 1);

    // The next run asks about exactly the rows still at 1.
    gateway_->ClearFaults();
    EXPECT_TRUE(Report());
    EXPECT_EQ(States(tenant_), (std::vector<int>{3, 3, 3, 3}));
}

const FaultCase kReportFaults[] = {
    {"NoFault", Fault::None, "", false, true, {3, 3, 3, 3}},
    {"LoginRefused", Fault::RefuseLogin, "ApiLogin", false, false, {1, 1, 1, 1}},
    {"Http500", Fault::Http500, "Report", true, false, {1, 1, 1, 1}},
    {"SoapFault", Fault::SoapFault, "Report", true, false, {1, 1, 1, 1}},
    {"DroppedConnection", Fault::DropConnection, "Report", true, false, {1, 1, 1, 1}},
    {"TimeOut", Fault::SlowAnswer, "Report", true, false, {1, 1, 1, 1}},
    {"MalformedAnswer", Fault::MalformedXml, "Report", false, false, {1, 1, 1, 1}},
    // The rows are asked about in the order the server returns them (here oldest first): ids 2, 3, 1, 4.
    {"PartialAnswer", Fault::PartialAnswer, "Report", false, true, {3, 3, 1, 1}},
    {"UnknownEids", Fault::UnknownEids, "Report", false, true, {3, 3, 3, 3}},
    {"RepeatedEids", Fault::RepeatedEids, "Report", false, true, {3, 3, 3, 3}},
    {"ReportRefused", Fault::BatchRefused, "Report", false, false, {1, 1, 1, 1}},
};

INSTANTIATE_TEST_SUITE_P(Faults, ReportFaultTest, testing::ValuesIn(kReportFaults),
                         [](const testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.name); });

TEST_F(QueueGatewayTest, EveryStatusCodeMovesTheRowToItsFinalStateWithItsText) {
    ASSERT_TRUE(Send());
    std::map<int, std::string> codeById = {{1, "snt"}, {2, "PND"}, {3, "XYZ"}, {4, ""}};
    for (const Row& r : ReadRows(tenant_)) gateway_->SetDeliveryStatus(r.raporId, codeById[r.id]);
    EXPECT_TRUE(Report());
    auto rows = ReadRows(tenant_);
    EXPECT_EQ(rows[0].aciklama, "Gönderilmiş.");
    EXPECT_EQ(rows[1].aciklama, "Henüz raporu oluşmadı.");
    EXPECT_EQ(rows[2].aciklama, "Zenta kodu bilinmiyor: XYZ");
    EXPECT_EQ(rows[3].aciklama, "Zenta kodu bilinmiyor: ");
    EXPECT_EQ(States(tenant_), (std::vector<int>{3, 3, 3, 3}));
    gateway_->ClearRequests();
    EXPECT_TRUE(Report());
    EXPECT_TRUE(gateway_->Requests().empty()) << "waiting codes are final too";
}

TEST(DeliveryStatus, CodeTable) {
    const std::pair<const char*, const char*> cases[] = {
        {"QUE", "Gönderim kuyruğunda bekliyor."},
        {"RQU", "Tekrar denenmek için gönderim kuyruğunda bekliyor."},
        {"SNT", "Gönderilmiş."},
        {"snt", "Gönderilmiş."},
        {"PND", "Henüz raporu oluşmadı."},
        {"OPN", "İletildi."},
        {"FLD", "Gönderimde hata alındı."},
        {"FLX", "Operatörden hata alındı."},
        {"HBN", "Kalıcı bir hatadan dolayı gönderilemedi (örneğin geçersiz cep telefonu numarası)."},
        {"SBN", "Geçici bir sebepten dolayı ulaştırılamamış mesaj (örneğin dolu mesaj kutusu)."},
        {"EXP", " Sistem kaynaklı sebeplerden zaman aşımına uğradı."},
        {"SXP", "Zaman aşımına uğradı."},
        {"BLK", " Kullanıcı tarafından yasaklanmış alan adı filtresine takıldı."},
        {"NOR", "Gönderim raporu istenmedi."},
        {"ABN", "Bouncer tarafından belirlenen BadMail"},
        {"EBN", "Kullanıcı tarafından belirlenen BadMail"},
        {"DUP", "Yinelenen gönderim adresi filtresine takıldı."},
        {"UKN", "Uzun zamandır bilgi alınmadığı için rapor durumu bilinmiyor."},
        {"JnK", "Önemsiz e-posta mesajı"},
        {" QUE", "Zenta kodu bilinmiyor:  QUE"},
        {"QUEX", "Zenta kodu bilinmiyor: QUEX"},
        {"", "Zenta kodu bilinmiyor: "},
    };
    for (const auto& [code, text] : cases) EXPECT_EQ(queue::DeliveryStatusText(code), text) << "'" << code << "'";
}

TEST_F(QueueGatewayTest, ARejectedRowUpdateDoesNotLeaveTheRestOfTheBatchPending) {
    // The result text of row 1 does not fit: its state and message id are still recorded, and the rows
    // answered after it get their verdicts.
    gateway_->SetSendDecision("05321110001", 7001, std::string(40, 'x'));
    test::RunSqliteScript(path_, R"(
CREATE TRIGGER tooLong BEFORE UPDATE OF aciklama ON tbNuvoListe WHEN length(NEW.aciklama) > 30
BEGIN SELECT RAISE(ABORT, 'aciklama is too long'); END;)");
    try {
        Send();
        ADD_FAILURE() << "the failed update is reported";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("aciklama is too long"), std::string::npos) << e.what();
    }
    auto rows = ReadRows(tenant_);
    EXPECT_EQ(States(tenant_), (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(rows[0].raporId, 7001);
    EXPECT_EQ(rows[0].aciklama, "");
}

TEST_F(QueueGatewayTest, ListSendingInsertsRowsAndCountsVerdicts) {
    test::RunSqliteScript(path_, "DELETE FROM tbNuvoListe;");
    queue::TSMSItemList items;
    auto add = [&](const char* gsm, bool now, TDateTime start) {
        auto item = std::make_unique<queue::TSMSItem>();
        item->MesajGrubu = queue::TMesajGrubu::mgHarici;
        item->GSM = gsm;
        item->Mesaj = "Liste mesajı";
        item->HemenGonder = now;
        item->GondermeBaslangic = start;
        item->KayitTarihi = test::DT(2026, 12, 10, 9, 0);
        items.push_back(std::move(item));
    };
    add("05320000001", true, 0);
    add("05320000002", false, test::DT(2030, 5, 6, 9, 0));
    add("05320000003", false, test::DT(2030, 5, 6, 11, 0));
    gateway_->SetSendDecision("05320000002", -5, "Red");
    queue::TSMSGonder sender(tenant_, Account());
    int total = -1, ok = -1, failed = -1;
    EXPECT_TRUE(sender.SMSItemListesiGonder(items, false, total, ok, failed));
    EXPECT_EQ(total, 3);
    EXPECT_EQ(ok, 2);
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(States(tenant_), (std::vector<int>{1, 2, 1}));

    db::TDbQuery q(&tenant_);
    q.SetSQL("SELECT hemen_gonder, gonderme_baslangic, gonderme_tarihi FROM tbNuvoListe ORDER BY id");
    q.Open();
    EXPECT_EQ(q.FieldByName("hemen_gonder").AsInteger(), 1);
    EXPECT_TRUE(q.FieldByName("gonderme_baslangic").IsNull());
    EXPECT_FALSE(q.FieldByName("gonderme_tarihi").IsNull());
    q.Next();
    EXPECT_EQ(q.FieldByName("hemen_gonder").AsInteger(), 0);
    EXPECT_DOUBLE_EQ(q.FieldByName("gonderme_baslangic").AsDateTime(), test::DT(2030, 5, 6, 9, 0));
    // The last scheduled item decides the batch's one planned date.
    EXPECT_NE(gateway_->Requests().back().data.find("<PDATE>2030-05-06T11:00:00Z</PDATE>"), std::string::npos);

    // A refused login leaves the inserted rows pending for the next run.
    queue::TSMSGonder refused(tenant_, Account("wrong"));
    EXPECT_FALSE(refused.SMSItemListesiGonder(items, false, total, ok, failed));
    EXPECT_EQ(total, 0);
    EXPECT_EQ(States(tenant_), (std::vector<int>{1, 2, 1, 0, 0, 0}));
}

// The whole send/report cycle over the tenant registry, one tenant unreachable.
TEST(SendReportCycle, ServesEveryReachableTenantAndReportsTheOthers) {
    test::TempDir dir;
    SimulatedGateway gateway;
    std::vector<std::string> tenants;
    for (const char* name : {"a.db", "b.db", "c.db"}) {
        tenants.push_back(test::MakeTenantDatabase(dir, name));
        test::RunSqliteScript(tenants.back(), "INSERT INTO tbNuvoListe (gsm, mesaj, durum, kayit_tarihi) VALUES "
                                              "('05321234567', 'Merhaba', 0, '2026-12-10 09:00:00.000');");
    }
    std::filesystem::remove(tenants[1]);  // the second tenant's database is gone
    std::string settings = test::MakeProgramDatabase(dir, tenants);
    test::ScopedEnv env("VELMORA_SETTINGS_FILE", settings);

    config::TVelmora velmora;
    velmora.Execute();
    for (size_t i : {0u, 2u}) {
        db::TDbConnection c;
        c.Server = "sqlite:" + tenants[i];
        c.SetConnected(true);
        EXPECT_EQ(States(c), (std::vector<int>{3})) << tenants[i];
    }
    ASSERT_EQ(velmora.Failures.size(), 1u);
    EXPECT_NE(velmora.Failures[0].find("b.db"), std::string::npos) << velmora.Failures[0];
}

TEST(SendReportCycle, ADatabaseListedTwiceIsServedOnce) {
    test::TempDir dir;
    SimulatedGateway gateway;
    gateway->SetFault(Fault::PartialAnswer, "SendBulkSMS");
    std::string tenant = test::MakeTenantDatabase(dir, "t.db");
    test::RunSqliteScript(tenant, "INSERT INTO tbNuvoListe (gsm, mesaj, durum, kayit_tarihi) VALUES "
                                  "('05321234567', 'Bir', 0, '2026-12-10 09:00:00.000'),"
                                  "('05321234568', 'İki', 0, '2026-12-10 09:00:01.000');");
    test::ScopedEnv env("VELMORA_SETTINGS_FILE", test::MakeProgramDatabase(dir, {tenant, tenant}));
    config::TVelmora velmora;
    velmora.Execute();
    EXPECT_EQ(CountOperation(*gateway, "SendBulkSMS"), 1) << "the undecided row is not sent twice in one run";
    ASSERT_EQ(velmora.Failures.size(), 1u);
    EXPECT_NE(velmora.Failures[0].find("birden çok kez"), std::string::npos) << velmora.Failures[0];
}

TEST(SendReportCycle, ARefusedLoginLeavesATraceAndTheRowsPending) {
    test::TempDir dir;
    SimulatedGateway gateway;
    std::string tenant = test::MakeTenantDatabase(dir, "t.db", "demo", "wrong");
    test::RunSqliteScript(tenant, "INSERT INTO tbNuvoListe (gsm, mesaj, durum, kayit_tarihi) VALUES "
                                  "('05321234567', 'Merhaba', 0, '2026-12-10 09:00:00.000');");
    test::ScopedEnv env("VELMORA_SETTINGS_FILE", test::MakeProgramDatabase(dir, {tenant}));
    config::TVelmora velmora;
    velmora.Execute();
    ASSERT_EQ(velmora.Failures.size(), 1u);
    EXPECT_NE(velmora.Failures[0].find("SMS gönderilemedi"), std::string::npos) << velmora.Failures[0];
    db::TDbConnection c;
    c.Server = "sqlite:" + tenant;
    c.SetConnected(true);
    EXPECT_EQ(States(c), (std::vector<int>{0}));
}

// Reads the states of a tenant database file.
std::vector<int> StatesOf(const std::string& path) {
    db::TDbConnection c;
    c.Server = "sqlite:" + path;
    c.SetConnected(true);
    return States(c);
}

bool AnyLineHas(const std::vector<std::string>& lines, const std::string& part) {
    for (const std::string& l : lines)
        if (l.find(part) != std::string::npos) return true;
    return false;
}

TEST(SendReportCycle, AJournalLeftByAnEarlierRunIsWrittenBeforeAnythingIsSent) {
    test::TempDir dir;
    SimulatedGateway gateway;
    std::string tenant = test::MakeTenantDatabase(dir, "t.db");
    test::RunSqliteScript(tenant, "INSERT INTO tbNuvoListe (gsm, mesaj, durum, kayit_tarihi) VALUES "
                                  "('05321234567', 'Bir', 0, '2026-12-10 09:00:00.000'),"
                                  "('05321234568', 'İki', 0, '2026-12-10 09:00:01.000');");
    test::ScopedEnv env("VELMORA_SETTINGS_FILE", test::MakeProgramDatabase(dir, {tenant}));
    // The earlier run read the gateway's answer for both rows and ended before writing them.
    queue::TVerdictJournal journal(dir.File("kararlar"), "sqlite:" + tenant + "\n" + tenant, tenant);
    journal.Save({queue::TVerdictKind::Send, {{1, 1, 7001, "OK"}, {2, 2, -3, "Red"}}});
    EXPECT_EQ(StatesOf(tenant), (std::vector<int>{0, 0})) << "the fault: both rows would go out again";

    config::TVelmora velmora;
    velmora.JournalFolder = dir.File("kararlar");
    velmora.Execute();
    EXPECT_EQ(CountOperation(*gateway, "SendBulkSMS"), 0) << "nothing is sent twice";
    EXPECT_EQ(StatesOf(tenant), (std::vector<int>{3, 2}));
    EXPECT_FALSE(journal.Exists());
    EXPECT_TRUE(AnyLineHas(velmora.Failures, "karar günlüğünden yazıldı (" + tenant + "): 2 satır"));
}

TEST(SendReportCycle, ADatabaseLockedWhileVerdictsAreWrittenCostsOneWaitAndKeepsThemForTheNextRun) {
    test::TempDir dir;
    SimulatedGateway gateway;
    std::string tenant = test::MakeTenantDatabase(dir, "t.db");
    test::RunSqliteScript(tenant, "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < 1500) "
                                  "INSERT INTO tbNuvoListe (gsm, mesaj, durum, kayit_tarihi) "
                                  "SELECT '0532' || (1000000 + i), 'Mesaj', 0, '2026-12-10 09:00:00.000' FROM k;");
    test::ScopedEnv env("VELMORA_SETTINGS_FILE", test::MakeProgramDatabase(dir, {tenant}));
    // Another session takes the write lock while the batch is at the gateway.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(tenant.c_str(), &other), SQLITE_OK);
    gateway->SetRequestHook([&](const sim::ReceivedRequest& r) {
        if (r.operation == "SendBulkSMS") sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    });
    config::TVelmora velmora;
    velmora.JournalFolder = dir.File("kararlar");
    velmora.Execute();
    gateway->SetRequestHook(nullptr);
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    EXPECT_EQ(StatesOf(tenant), std::vector<int>(1500, 0)) << "no verdict could be written";
    EXPECT_TRUE(AnyLineHas(velmora.Failures, "SMS gönderilemedi (" + tenant + "): 1500 karardan 1500 tanesi"));
    EXPECT_TRUE(AnyLineHas(velmora.Failures, "karar günlüğünde bekliyor"));
    EXPECT_EQ(CountOperation(*gateway, "Report"), 0);

    config::TVelmora next;
    next.JournalFolder = dir.File("kararlar");
    next.Execute();
    EXPECT_EQ(CountOperation(*gateway, "SendBulkSMS"), 1) << "the accepted rows are not sent again";
    EXPECT_EQ(StatesOf(tenant), std::vector<int>(1500, 3));
}

TEST(SendReportCycle, AnUnwritableJournalFolderStillWritesTheVerdictsAndSaysSo) {
#ifdef _WIN32
    GTEST_SKIP() << "the unwritable folder is a POSIX path";
#endif
    test::TempDir dir;
    SimulatedGateway gateway;
    std::string tenant = test::MakeTenantDatabase(dir, "t.db");
    test::RunSqliteScript(tenant, "INSERT INTO tbNuvoListe (gsm, mesaj, durum, kayit_tarihi) VALUES "
                                  "('05321234567', 'Bir', 0, '2026-12-10 09:00:00.000');");
    test::ScopedEnv env("VELMORA_SETTINGS_FILE", test::MakeProgramDatabase(dir, {tenant}));
    config::TVelmora velmora;
    velmora.JournalFolder = "/proc/velmora-no-such-folder/kararlar";
    velmora.Execute();
    EXPECT_EQ(StatesOf(tenant), (std::vector<int>{3}));
    EXPECT_TRUE(AnyLineHas(velmora.Failures, "Karar günlüğü yazılamadı (" + tenant + "): kararlar yazıldı"));
}

// The built program against the simulator: a real cycle, and its trace in the run log.
TEST(Executable, SendsAndReportsThroughTheSimulator) {
    test::TempDir dir;
    sim::GatewaySimulator sim;
    sim.AddAccount("demo", "secret");
    sim.Start();
    std::string tenant = test::MakeTenantDatabase(dir, "t.db");
    test::RunSqliteScript(tenant, "INSERT INTO tbNuvoListe (gsm, mesaj, durum, kayit_tarihi) VALUES "
                                  "('05321234567', 'Merhaba', 0, '2026-12-10 09:00:00.000'),"
                                  "('05321234568', 'Merhaba', 0, '2026-12-10 09:00:01.000');");
    std::string program = dir.File("program.db");
    test::CreateSqliteDatabase(program, "tools/schema/program.sqlite.sql");
    test::RunSqliteScript(program, "INSERT INTO tbNuvoVeriTabani (sunucu, kullanici_adi, parola, veritabani, aktif) "
                                   "VALUES ('sqlite:" + tenant + "', 'sa', '', 't', 1);");
    test::WriteSettingsFile(dir.File("Settings.xml"), program,
                            "<SMSServisi><Sunucu>" + sim.Host() + "</Sunucu></SMSServisi>\n");
    std::string exe = test::CopyProgram("driver/velmora", dir);
    std::string log = dir.File("Velmora.log");
    EXPECT_EQ(test::RunProgram(exe, {{"VELMORA_SETTINGS_FILE", ""},
                                     {"VELMORA_NOW", "2026-12-10 09:30:00"},
                                     {"VELMORA_LOG_FILE", log},
                                     {"VELMORA_LOCK_FILE", dir.File("lock")}}),
              0);
    EXPECT_EQ(platform::ReadWholeFile(log), "\r\n");
    db::TDbConnection c;
    c.Server = "sqlite:" + tenant;
    c.SetConnected(true);
    EXPECT_EQ(States(c), (std::vector<int>{3, 3}));
    EXPECT_EQ(CountOperation(sim, "SendBulkSMS"), 1);
    EXPECT_EQ(CountOperation(sim, "Report"), 1);
}

} // namespace
