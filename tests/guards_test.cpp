// Faults that must neither lose nor double a message: a second process on the same tenants, a hostile or
// leftover run lock, oversized and odd gateway answers, duplicate registry rows, characters XML cannot
// carry, tenant SQL that reaches for other databases, and a full disk under the run log.
// Run against the built program where the fault is about a run. POSIX only: it forks, kills, chowns
// and mounts.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include "campaigns/SMSCheck.h"
#include "db/DbConnection.h"
#include "driver/RunLog.h"
#include "driver/Velmora.h"
#include "gateway/ZentaXmlInterface.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/FileLock.h"
#include "platform/Paths.h"
#include "platform/SingleInstance.h"
#include "platform/Text.h"
#include "queue/SMSSenderUnit.h"
#include "queue/VerdictWriter.h"
#include "tests/TestSockets.h"
#include "tests/TestSupport.h"
#include "xml/XmlDocument.h"
#include "xml/XmlEscape.h"

using namespace velmora;

namespace {

// ---------------------------------------------------------------- a scriptable gateway

std::string LocalName(const std::string& name) {
    size_t colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(colon + 1);
}

bool CarriesOnlyXmlChars(const std::string& s) { return queue::SendableText(s) == s; }

// A loopback gateway that accepts every message, reports every one as delivered and counts what it
// received per target address. Like a strict real gateway it refuses a whole batch holding a character
// XML 1.0 cannot carry. Hooks bend one answer at a time.
class ScriptedGateway {
public:
    ScriptedGateway() : thread_([this] { Serve(); }) {}
    ~ScriptedGateway() {
        listener_.Shutdown();
        thread_.join();
    }
    std::string Host() const { return "127.0.0.1:" + std::to_string(listener_.Port()); }

    // Bytes of padding streamed inside the answer to this operation (0: none).
    void Pad(const std::string& operation, size_t bytes) {
        std::lock_guard<std::mutex> g(m_);
        padding_[operation] = bytes;
    }
    // The RESULT of the first entry of the next send answers, as raw XML.
    void FirstResult(const std::string& rawXml) {
        std::lock_guard<std::mutex> g(m_);
        firstResult_ = rawXml;
    }
    std::map<std::string, int> Received() const {
        std::lock_guard<std::mutex> g(m_);
        return received_;
    }
    std::vector<std::string> Texts() const {
        std::lock_guard<std::mutex> g(m_);
        return texts_;
    }
    int RefusedBatches() const { return refused_; }

private:
    void Serve() {
        for (;;) {
            test::LoopbackListener::Connection c = listener_.Accept();
            if (c == -1) return;
            Handle(c);
            test::LoopbackListener::Close(c);
        }
    }

    static bool ReadRequest(test::LoopbackListener::Connection c, std::string& body) {
        std::string in;
        char buf[65536];
        size_t headerEnd = std::string::npos, length = 0;
        for (;;) {
            if (headerEnd == std::string::npos) {
                headerEnd = in.find("\r\n\r\n");
                if (headerEnd != std::string::npos) {
                    const std::string head = platform::LowerAscii(in.substr(0, headerEnd));
                    size_t p = head.find("content-length:");
                    if (p == std::string::npos) return false;
                    length = std::strtoul(head.c_str() + p + 15, nullptr, 10);
                }
            }
            if (headerEnd != std::string::npos && in.size() >= headerEnd + 4 + length) {
                body = in.substr(headerEnd + 4, length);
                return true;
            }
            long n = test::LoopbackListener::Receive(c, buf, sizeof buf);
            if (n <= 0) return false;
            in.append(buf, static_cast<size_t>(n));
        }
    }

    void Handle(test::LoopbackListener::Connection c) {
        std::string body;
        if (!ReadRequest(c, body)) return;
        xml::XmlDocument envelope;
        if (!envelope.TryLoadFromString(body)) return;
        xml::XmlElement call;
        for (const xml::XmlElement& part : envelope.Root().Children())
            if (LocalName(part.Name()) == "Body" && !part.Children().empty()) call = part.Children().front();
        if (!call) return;
        const std::string operation = call.Name();
        const std::string data = call.Child("data").Text();

        std::string result, tail;
        size_t padding = 0;
        {
            std::lock_guard<std::mutex> g(m_);
            padding = padding_[operation];
            if (operation == "ApiLogin") result = "<R><TOKEN>t</TOKEN><RTCD>1</RTCD><EXP>ok</EXP>";
            else if (operation == "SendBulkSMS") result = SendAnswer(data);
            else result = ReportAnswer(data);
        }
        tail = "</R>";
        const std::string ns = call.Name() == operation ? "http://tellvio.com/api/4.4/" : "";
        std::string head =
            "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\nConnection: close\r\n\r\n"
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope xmlns:soap=\"http://www.w3.org/2003/05/soap-envelope\">"
            "<soap:Body><" + operation + "Response xmlns=\"" + ns + "\"><" + operation + "Result>" +
            xml::EscapeXmlText(result);
        if (!SendSome(c, head)) return;
        if (padding > 0) {
            // Streamed, never held: the peer stops as soon as the client hangs up.
            const std::string chunk(1 << 16, 'x');
            if (!SendSome(c, "&lt;PAD&gt;")) return;
            for (size_t sent = 0; sent < padding; sent += chunk.size())
                if (!SendSome(c, chunk)) return;
            if (!SendSome(c, "&lt;/PAD&gt;")) return;
        }
        SendSome(c, xml::EscapeXmlText(tail) + "</" + operation + "Result></" + operation +
                        "Response></soap:Body></soap:Envelope>");
    }

    static bool SendSome(test::LoopbackListener::Connection c, const std::string& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = ::send(static_cast<int>(c), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    std::string SendAnswer(const std::string& document) {
        if (!CarriesOnlyXmlChars(document)) {
            ++refused_;
            return "<R><RTCD>-5</RTCD><RSP_LIST/>";
        }
        xml::XmlDocument doc;
        doc.LoadFromString(document);
        std::string out = "<R><RTCD>1</RTCD><RSP_LIST>";
        bool first = true;
        for (const xml::XmlElement& rcpt : doc.Root().Child("RCPT_LIST").Children()) {
            const std::string ta = rcpt.Child("TA").Text();
            ++received_[ta];
            texts_.push_back(rcpt.Child("MSG").Text());
            const std::string eid = rcpt.Child("EID").Text();
            const std::string result = first && !firstResult_.empty() ? firstResult_ : "OK";
            first = false;
            out += "<RSP><MSGID>" + std::to_string(1000 + nextId_++) + "</MSGID><EID>" + eid + "</EID><RESULT>" +
                   result + "</RESULT></RSP>";
        }
        firstResult_.clear();
        return out + "</RSP_LIST>";
    }

    static std::string ReportAnswer(const std::string& document) {
        xml::XmlDocument doc;
        doc.LoadFromString(document);
        std::string out = "<R><RTCD>1</RTCD><EXP>ok</EXP><RSP_LIST>";
        for (const xml::XmlElement& rpt : doc.Root().Child("RPT_LIST").Children())
            out += "<RSP><MSGID>" + rpt.Child("MSGID").Text() + "</MSGID><EID>" + rpt.Child("EID").Text() +
                   "</EID><ERRMSG/><ST>OPN</ST><SDATE/><SRTY>0</SRTY><ERRCD/></RSP>";
        return out + "</RSP_LIST>";
    }

    test::LoopbackListener listener_;
    mutable std::mutex m_;
    std::map<std::string, size_t> padding_;
    std::string firstResult_;
    std::map<std::string, int> received_;
    std::vector<std::string> texts_;
    std::atomic<int> refused_{0};
    int nextId_ = 0;
    std::thread thread_;
};

// ---------------------------------------------------------------- the built program

using Outcome = test::ProgramEnd;
using test::StartProgram;
using test::WaitProgram;

// Tenants with pending rows, a registry, and the program beside its settings.
class RunFixture : public testing::Test {
protected:
    // A tenant whose rows go to numbers "0532<tenant><row>", so every row is told apart at the gateway.
    std::string AddTenant(const std::string& name, int rows, const std::string& mesaj = "Merhaba") {
        tenants_.push_back(test::MakeTenantDatabase(dir_, name));
        AddRows(tenants_.size() - 1, 0, rows, mesaj);
        return tenants_.back();
    }
    void AddRows(size_t tenant, int from, int count, const std::string& mesaj = "Merhaba") {
        if (count == 0) return;
        std::string sql = "INSERT INTO tbNuvoListe (gsm, mesaj, durum, kayit_tarihi) VALUES ";
        for (int i = from; i < from + count; ++i)
            sql += std::string(i > from ? "," : "") + "('" + Gsm(tenant, i) + "', '" + mesaj +
                   "', 0, '2026-12-10 09:00:00.000')";
        test::RunSqliteScript(tenants_[tenant], sql + ";");
    }
    static std::string Gsm(size_t tenant, int row) {
        char gsm[32];
        std::snprintf(gsm, sizeof gsm, "0532%02zu%05d", tenant, row);
        return gsm;
    }
    // Registry rows: (server text, database name) pairs, all active.
    void WriteRegistry(const std::vector<std::pair<std::string, std::string>>& rows, const std::string& service = "") {
        program_ = dir_.File("program.db");
        test::CreateSqliteDatabase(program_, "tools/schema/program.sqlite.sql");
        std::string sql;
        for (const auto& [server, name] : rows)
            sql += "INSERT INTO tbNuvoVeriTabani (sunucu, kullanici_adi, parola, veritabani, aktif) VALUES ('" + server +
                   "', 'sa', 'gizli', '" + name + "', 1);\n";
        test::RunSqliteScript(program_, sql);
        test::WriteSettingsFile(dir_.File("Settings.xml"), program_,
                                "<SMSServisi><Sunucu>" + gateway_.Host() + "</Sunucu>" + service + "</SMSServisi>\n");
        exe_ = test::CopyProgram("driver/velmora", dir_);
    }
    void WriteRegistryOfTenants(const std::string& service = "") {
        std::vector<std::pair<std::string, std::string>> rows;
        for (const std::string& t : tenants_) rows.push_back({"sqlite:" + t, std::filesystem::path(t).filename().string()});
        WriteRegistry(rows, service);
    }
    std::vector<std::pair<std::string, std::string>> Env(const std::string& lockName, const std::string& log) {
        return {{"VELMORA_SETTINGS_FILE", ""},
                {"VELMORA_NOW", "2026-12-10 09:30:00"},
                {"VELMORA_LOG_FILE", log},
                {"VELMORA_LOCK_FILE", dir_.File(lockName)}};
    }
    Outcome Run(const std::string& lockName = "lock", const std::string& log = "Velmora.log") {
        return WaitProgram(StartProgram(exe_, Env(lockName, dir_.File(log))));
    }
    std::string Log(const std::string& log = "Velmora.log") {
        return platform::AnsiToUtf8(platform::ReadWholeFile(dir_.File(log)));
    }
    static std::vector<int> States(const std::string& tenant) { return test::QueueStates(tenant); }
    // How often the gateway received each row of every tenant: a map from count to rows.
    std::map<int, int> ReceiptsPerRow(int rowsPerTenant) {
        std::map<std::string, int> received = gateway_.Received();
        std::map<int, int> histogram;
        for (size_t t = 0; t < tenants_.size(); ++t)
            for (int i = 0; i < rowsPerTenant; ++i) ++histogram[received[Gsm(t, i)]];
        return histogram;
    }

    test::TempDir dir_;
    ScriptedGateway gateway_;
    std::vector<std::string> tenants_;
    std::string program_;
    std::string exe_;
};

// ---------------------------------------------------------------- one run per tenant

TEST_F(RunFixture, ATenantServedElsewhereIsSkippedAndSaidSo) {
    const std::string tenant = AddTenant("magaza.db", 3);
    WriteRegistryOfTenants();
    {
        // Another run (another machine, another lock file) is serving the tenant right now.
        db::TDbConnection other;
        other.Server = "sqlite:" + tenant;
        other.SetConnected(true);
        ASSERT_TRUE(other.TryLockSendReport());
        EXPECT_EQ(Run().status, 0);
        EXPECT_NE(Log().find("SMS gönderimi ve raporları atlandı (magaza.db): bu veri tabanına şu anda başka bir "
                             "çalışma hizmet veriyor"),
                  std::string::npos)
            << Log();
        EXPECT_EQ(States(tenant), (std::vector<int>{0, 0, 0}));
        EXPECT_TRUE(gateway_.Received().empty());
    }
    // Once it is done (or killed: the lock goes with it), the next run serves the rows, once each.
    EXPECT_EQ(Run().status, 0);
    EXPECT_EQ(States(tenant), (std::vector<int>{3, 3, 3}));
    EXPECT_EQ(ReceiptsPerRow(3), (std::map<int, int>{{1, 3}}));
}

TEST_F(RunFixture, TwoProcessesWithDifferentRunLocksOnTheSameTenantsSendNothingTwice) {
    const int rows = 300, rounds = 3;
    int skips = 0;
    for (const char* name : {"a.db", "b.db", "c.db", "d.db"}) AddTenant(name, 0);
    WriteRegistryOfTenants();
    gateway_.Pad("SendBulkSMS", 1 << 20);  // a longer answer keeps a process inside its tenant a little longer
    for (int round = 0; round < rounds; ++round) {
        for (size_t t = 0; t < tenants_.size(); ++t) AddRows(t, round * rows, rows);
        const std::string n = std::to_string(round);
        intptr_t first = StartProgram(exe_, Env("lock-first", dir_.File("first" + n + ".log")));
        intptr_t second = StartProgram(exe_, Env("lock-second", dir_.File("second" + n + ".log")));
        EXPECT_EQ(WaitProgram(first).status, 0);
        EXPECT_EQ(WaitProgram(second).status, 0);
        for (const char* who : {"first", "second"}) {
            const std::string log = Log(who + n + ".log");
            for (size_t at = log.find("atlandı"); at != std::string::npos; at = log.find("atlandı", at + 1)) ++skips;
        }
    }
    // How often one process found a tenant served by the other: not asserted, it depends on the timing.
    RecordProperty("tenants_skipped", skips);
    EXPECT_EQ(ReceiptsPerRow(rounds * rows), (std::map<int, int>{{1, 4 * rounds * rows}}))
        << "every row reached the gateway once";
    for (const std::string& t : tenants_) EXPECT_EQ(States(t), std::vector<int>(rounds * rows, 3)) << t;
}

TEST(TenantLock, AKilledHolderReleasesItAndALinkIsNotFollowed) {
    test::TempDir dir;
    const std::string path = dir.File("tenant.db.velmora-lock");
    // The child says on a pipe when it holds the lock, so this process never takes it first.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        platform::FileLockAttempt held = platform::FileLock::TryLock(path, false);
        const char byte = held.lock ? '1' : '0';
        if (write(ready[1], &byte, 1) != 1 || !held.lock) _exit(1);
        pause();
        _exit(0);
    }
    ASSERT_GT(child, 0);
    close(ready[1]);
    char byte = 0;
    const bool told = read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    ASSERT_TRUE(told && byte == '1') << "the child could not take the lock";
    platform::FileLockAttempt attempt = platform::FileLock::TryLock(path, false);
    EXPECT_TRUE(attempt.heldElsewhere);
    EXPECT_FALSE(attempt.lock);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(platform::FileLock::TryLock(path, false).lock) << "a killed holder leaves nothing behind";

    // A link planted in the lock's place is refused, and its target is not created.
    const std::string planted = dir.File("planted-lock");
    ASSERT_EQ(symlink(dir.File("elsewhere").c_str(), planted.c_str()), 0);
    platform::FileLockAttempt linked = platform::FileLock::TryLock(planted, false);
    EXPECT_FALSE(linked.lock);
    EXPECT_NE(linked.error.find("symbolic link"), std::string::npos) << linked.error;
    EXPECT_FALSE(std::filesystem::exists(dir.File("elsewhere")));
}

// ---------------------------------------------------------------- the run lock

struct HostileLock {
    const char* name;
    void (*plant)(const std::string& lockPath, const std::string& dir);
    const char* reason;  // in the run-log line; empty: the lock is usable and the run works
};

const HostileLock kHostileLocks[] = {
    {"LinkToAnotherFile",
     [](const std::string& lock, const std::string& dir) { ASSERT_EQ(symlink((dir + "victim").c_str(), lock.c_str()), 0); },
     "symbolic link"},
    {"OwnedByAnotherAccount",
     [](const std::string& lock, const std::string&) {
         std::ofstream(lock).put('x');
         ASSERT_EQ(chown(lock.c_str(), 65534, 65534), 0);
     },
     "another account"},
    {"WritableByOthers",
     [](const std::string& lock, const std::string&) {
         std::ofstream(lock).put('x');
         ASSERT_EQ(chmod(lock.c_str(), 0666), 0);
     },
     "others may write"},
    {"AFolder", [](const std::string& lock, const std::string&) { std::filesystem::create_directory(lock); },
     "Is a directory"},
    {"LeftByAKilledRun", [](const std::string& lock, const std::string&) { std::ofstream(lock).put('x'); }, ""},
};

class HostileRunLockTest : public RunFixture, public testing::WithParamInterface<HostileLock> {};

TEST_P(HostileRunLockTest, IsRefusedAloudOrTakenOver) {
    const HostileLock& c = GetParam();
    if (geteuid() != 0 && std::string(c.name) == "OwnedByAnotherAccount") GTEST_SKIP() << "needs root to chown";
    const std::string tenant = AddTenant("t.db", 2);
    WriteRegistryOfTenants();
    const std::string lock = dir_.File("lock");
    c.plant(lock, dir_.Path());
    const Outcome first = Run();
    if (c.reason[0] == '\0') {
        EXPECT_EQ(first.status, 0);
        EXPECT_EQ(States(tenant), (std::vector<int>{3, 3}));
        EXPECT_EQ(ReceiptsPerRow(2), (std::map<int, int>{{1, 2}}));
        return;
    }
    EXPECT_EQ(first.status, driver::kLockFailedStatus) << "a run that did nothing does not end as a success";
    const std::string log = Log();
    EXPECT_NE(log.find("Çalışma kilidi açılamadı (" + lock + "): "), std::string::npos) << log;
    EXPECT_NE(log.find(c.reason), std::string::npos) << log;
    EXPECT_NE(log.find("hiçbir işlem yapılmadı"), std::string::npos) << log;
    EXPECT_FALSE(std::filesystem::exists(dir_.File("victim"))) << "the link's target was not created";
    EXPECT_EQ(States(tenant), (std::vector<int>{0, 0}));
    EXPECT_TRUE(gateway_.Received().empty());

    // The operator removes the planted file: the next run sends every row once.
    std::filesystem::remove(lock);
    EXPECT_EQ(Run().status, 0);
    EXPECT_EQ(States(tenant), (std::vector<int>{3, 3}));
    EXPECT_EQ(ReceiptsPerRow(2), (std::map<int, int>{{1, 2}}));
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileRunLockTest, testing::ValuesIn(kHostileLocks),
                         [](const testing::TestParamInfo<HostileLock>& i) { return std::string(i.param.name); });

TEST(RunLockPlace, DefaultsToAFolderOfTheAccountsOwn) {
    test::TempDir home;
    test::ScopedEnv noOverride("VELMORA_LOCK_FILE", "");
    test::ScopedEnv xdg("XDG_STATE_HOME", "");
    test::ScopedEnv homeEnv("HOME", home.Path() + "ev");
    const std::string expected = home.Path() + "ev/.local/state/velmora/velmora.lock";
    EXPECT_EQ(platform::RunLockPath(), expected);
    {
        platform::RunLock::Attempt a = platform::RunLock::Acquire();
        ASSERT_TRUE(a.lock) << a.error;
        struct stat st{};
        ASSERT_EQ(stat(platform::ExtractFileDir(expected).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        ASSERT_EQ(stat(expected.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        EXPECT_TRUE(platform::RunLock::Acquire().heldElsewhere);
    }
    // A state folder others may write to is not trusted.
    test::ScopedEnv openXdg("XDG_STATE_HOME", home.Path() + "acik");
    std::filesystem::create_directories(home.Path() + "acik/velmora");
    chmod((home.Path() + "acik/velmora").c_str(), 0777);
    platform::RunLock::Attempt refused = platform::RunLock::Acquire();
    EXPECT_FALSE(refused.lock);
    EXPECT_FALSE(refused.heldElsewhere);
    EXPECT_NE(refused.error.find("Others may write"), std::string::npos) << refused.error;
}

// ---------------------------------------------------------------- gateway answers

struct AnswerCase {
    const char* name;
    const char* operation;  // whose answer is oversized; empty: none
    const char* firstResult;  // raw XML of the first RESULT; empty: "OK"
    int receiptsPerRow;       // over both runs
    const char* logPart;      // in the first run's log; empty: no failure line
};

const AnswerCase kAnswers[] = {
    // Refused before the batch went out: nothing of it reached the gateway in the first run.
    {"OversizedLoginAnswer", "ApiLogin", "", 1, "larger than the limit of 1048576 bytes"},
    // The batch went out before its answer proved too large: no verdict can be trusted, so every row stays
    // pending and goes out again (the same holds for any answer lost in transport).
    {"OversizedSendAnswer", "SendBulkSMS", "", 2, "larger than the limit of 1048576 bytes"},
    // A value holding markup reads as its text, and the rows after it still get their verdicts.
    {"ResultHoldingElements", "", "a<i>x</i>c", 1, ""},
};

class AnswerTest : public RunFixture, public testing::WithParamInterface<AnswerCase> {};

TEST_P(AnswerTest, RowsEndDecidedAndMemoryStaysBounded) {
    const AnswerCase& c = GetParam();
    const std::string tenant = AddTenant("t.db", 5);
    WriteRegistryOfTenants("<AzamiYanitBoyutu>1</AzamiYanitBoyutu>");
    const size_t huge = size_t{512} << 20;
    if (c.operation[0]) gateway_.Pad(c.operation, huge);
    if (c.firstResult[0]) gateway_.FirstResult(c.firstResult);

    const Outcome first = Run();
    EXPECT_EQ(first.status, 0);
    EXPECT_LT(first.maxRssKb, 200 * 1024) << "the answer is cut off at its limit, not held";
    RecordProperty("max_rss_kb", static_cast<int>(first.maxRssKb));
    if (c.logPart[0]) {
        EXPECT_NE(Log().find(std::string("SMS gönderilemedi (t.db): ")), std::string::npos) << Log();
        EXPECT_NE(Log().find(c.logPart), std::string::npos) << Log();
        EXPECT_EQ(States(tenant), std::vector<int>(5, 0)) << "no row changed";
    } else {
        EXPECT_EQ(Log(), "\r\n") << "no failure line";
        EXPECT_EQ(States(tenant), std::vector<int>(5, 3)) << "every row after the odd one was decided too";
    }
    gateway_.Pad(c.operation, 0);
    EXPECT_EQ(Run().status, 0);
    EXPECT_EQ(States(tenant), std::vector<int>(5, 3));
    EXPECT_EQ(ReceiptsPerRow(5), (std::map<int, int>{{c.receiptsPerRow, 5}}));
}

INSTANTIATE_TEST_SUITE_P(Cases, AnswerTest, testing::ValuesIn(kAnswers),
                         [](const testing::TestParamInfo<AnswerCase>& i) { return std::string(i.param.name); });

TEST(AnswerValues, MarkupInsideAValueReadsAsItsTextAndNumbersStayStrict) {
    gateway::TSendSMSResponse answer;
    EXPECT_TRUE(answer.LoadFromString("<R><RTCD>1</RTCD><RSP_LIST>"
                                      "<RSP><MSGID>5</MSGID><EID>1</EID><RESULT>a<i>x</i>c</RESULT></RSP>"
                                      "<RSP><MSGID>6</MSGID><EID>2</EID><RESULT>b<i><j>y</j></i><![CDATA[z]]></RESULT></RSP>"
                                      "</RSP_LIST></R>"));
    ASSERT_EQ(answer.ResponseList().size(), 2u);
    EXPECT_EQ(answer.ResponseList()[0]->ReturnValue(), "axc");
    EXPECT_EQ(answer.ResponseList()[1]->ReturnValue(), "byz");
    gateway::TSendSMSResponse code;
    EXPECT_FALSE(code.LoadFromString("<R><RTCD>1</RTCD><RSP_LIST><RSP><MSGID><b>5</b></MSGID><EID>1</EID>"
                                     "<RESULT/></RSP></RSP_LIST></R>"));
}

TEST(AnswerValues, AciklamaIsCutToItsColumnNeverInsideACharacter) {
    struct Case { std::string text; size_t width; std::string expected; };
    const std::string ten = "0123456789";
    const Case cases[] = {
        {ten, 10, ten},
        {ten + "x", 10, ten},
        {"ğğğ", 2, "ğğ"},               // two bytes each, one unit each
        {"a\xF0\x9F\x98\x80" "b", 2, "a"},  // beyond the BMP: two units, not cut in half
        {std::string(5000, 'y'), queue::kAciklamaMaxUnits, std::string(1000, 'y')},
    };
    for (const Case& c : cases) EXPECT_EQ(queue::FitAciklama(c.text, c.width), c.expected) << c.text;
}

// ---------------------------------------------------------------- characters XML cannot carry

TEST_F(RunFixture, CharactersXmlCannotCarryAreLeftOutAndTheBatchGoesThroughOnce) {
    // U+FFFE, U+FFFF, a control character and a broken UTF-8 byte around ordinary Turkish text.
    const std::string mesaj = "İyi\xEF\xBF\xBE g\xC3\xBCnler\xEF\xBF\xBF \x01son\xC3";
    const std::string tenant = AddTenant("t.db", 3, mesaj);
    WriteRegistryOfTenants();
    for (int run = 0; run < 2; ++run) EXPECT_EQ(Run().status, 0);
    EXPECT_EQ(gateway_.RefusedBatches(), 0);
    EXPECT_EQ(States(tenant), std::vector<int>(3, 3));
    EXPECT_EQ(ReceiptsPerRow(3), (std::map<int, int>{{1, 3}}));
    for (const std::string& text : gateway_.Texts()) EXPECT_EQ(text, "İyi günler son");
    EXPECT_EQ(queue::SendableText("\xEF\xB7\x90 \xF0\x9F\x98\x80 \xED\xA0\x80."), "\xEF\xB7\x90 \xF0\x9F\x98\x80 .")
        << "other non-characters XML allows stay; surrogates go";
}

// ---------------------------------------------------------------- duplicate registry rows

struct DuplicateCase {
    const char* name;
    std::string (*firstServer)(const std::string& path);  // the unusable first row's server text
};

const DuplicateCase kDuplicates[] = {
    {"PathInOtherLetterCase",
     [](const std::string& p) {
         std::string upper = p;
         const size_t slash = upper.find_last_of('/');
         for (size_t i = slash + 1; i < upper.size(); ++i) upper[i] = platform::UpperAscii(upper[i]);
         return "sqlite:" + upper;
     }},
    {"ServerTextWithATrailingBlank", [](const std::string& p) { return "sqlite:" + p + " "; }},
};

class DuplicateRegistryTest : public RunFixture, public testing::WithParamInterface<DuplicateCase> {};

TEST_P(DuplicateRegistryTest, AnUnusableFirstRowDoesNotKeepTheGoodSecondFromBeingServed) {
    const std::string tenant = AddTenant("t.db", 2);
    WriteRegistry({{GetParam().firstServer(tenant), "t.db"}, {"sqlite:" + tenant, "t.db"}, {"sqlite:" + tenant, "t.db"}});
    EXPECT_EQ(Run().status, 0);
    EXPECT_EQ(States(tenant), (std::vector<int>{3, 3}));
    const std::string log = Log();
    EXPECT_NE(log.find("SMS gönderimi yapılamadı (t.db): "), std::string::npos) << "the unusable row is named: " << log;
    EXPECT_NE(log.find("birden çok kez"), std::string::npos) << "the third row is a true duplicate: " << log;
    EXPECT_EQ(Run().status, 0);
    EXPECT_EQ(ReceiptsPerRow(2), (std::map<int, int>{{1, 2}}));
}

INSTANTIATE_TEST_SUITE_P(Cases, DuplicateRegistryTest, testing::ValuesIn(kDuplicates),
                         [](const testing::TestParamInfo<DuplicateCase>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------- tenant SQL stays in the tenant

class TenantSqlTest : public test::TenantTest {
protected:
    test::TempDir tmp_;
    test::ScopedEnv tmpdir_{test::TempDirVariable(), tmp_.Path()};
};

TEST_F(TenantSqlTest, ACustomQueryCannotAttachTheProgramDatabase) {
    test::TempDir other;
    const std::string program = other.File("program.db");
    test::CreateSqliteDatabase(program, "tools/schema/program.sqlite.sql");
    test::RunSqliteScript(program, "INSERT INTO tbNuvoVeriTabani (sunucu, kullanici_adi, parola, veritabani, aktif) "
                                   "VALUES ('sqlite:x.db', 'sa', 'gizli', 'x', 1);");
    const std::string statement = "ATTACH ''" + program + "'' AS p; UPDATE p.tbNuvoVeriTabani SET aktif = 0; "
                                  "SELECT parola AS sAdi, ''05321234567'' AS sGSM FROM p.tbNuvoVeriTabani";
    Sql("INSERT INTO tbNuvoSorguListesi (id, otomatik_calistir, saat, son_gonderme_tarihi, xml, mesaj, "
        "cep_telefonu_alani) VALUES (1, 1, '1899-12-30 08:15:00.000', '2013-03-20 10:00:00.000', CAST('"
        "<OzelSorgu><SorguAdi>x</SorguAdi><SorguAciklama/><Sorgu>" + statement + "</Sorgu></OzelSorgu>' AS BLOB), "
        "'{{sAdi}}', 'sGSM');");
    test::FixedClock clock(2013, 3, 21, 8, 15, 0);
    campaigns::TSMSCheck check;
    try {
        check.CheckCustomQueries(tenant_, test::DT(2013, 3, 21, 8, 15, 0));
        ADD_FAILURE() << "the statement ran";
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("Not allowed on this database: ATTACH"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(Queue().empty()) << "no password was queued as a message";
    db::TDbConnection p;
    p.Server = "sqlite:" + program;
    p.SetConnected(true);
    db::TDbQuery q(&p);
    q.SetSQL("SELECT aktif FROM tbNuvoVeriTabani");
    q.Open();
    EXPECT_EQ(q.FieldByName("aktif").AsInteger(), 1) << "the registry is unchanged";
}

TEST_F(TenantSqlTest, StatementsReachingBeyondTheTenantAreRefusedAndReadsStillWork) {
    const std::string elsewhere = tmp_.File("yeni.db");
    struct Case { std::string sql; const char* error; };
    const Case cases[] = {
        {"ATTACH '" + elsewhere + "' AS y", "ATTACH"},
        {"DETACH main", "DETACH"},
        {"VACUUM INTO '" + elsewhere + "'", "VACUUM"},
        {"SELECT load_extension('/tmp/x.so')", "load_extension"},
        {"PRAGMA journal_mode = DELETE", "PRAGMA journal_mode"},
        {"PRAGMA writable_schema = 1", "PRAGMA writable_schema"},
        {"PRAGMA wal_checkpoint", "PRAGMA wal_checkpoint"},
        {"PRAGMA journal_mode", nullptr},
        {"PRAGMA table_info('tbNuvoListe')", nullptr},
        {"SELECT COUNT(*) FROM tbNuvoListe", nullptr},
    };
    for (const Case& c : cases) {
        db::TDbQuery q(&tenant_);
        q.SetSQL(c.sql);
        if (!c.error) {
            EXPECT_NO_THROW(q.Open()) << c.sql;
            continue;
        }
        try {
            q.Open();
            ADD_FAILURE() << "ran: " << c.sql;
        } catch (const EDatabaseError& e) {
            const std::string message = e.what();
            EXPECT_EQ(message.find("Not allowed on this database: "), 0u) << message;
            EXPECT_NE(message.find(c.error), std::string::npos) << message;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(elsewhere)) << "no other database file was created";
    db::TDbQuery mode(&tenant_);
    mode.SetSQL("PRAGMA journal_mode");
    mode.Open();
    EXPECT_EQ(mode.Fields(1).AsString(), "wal");
}

// ---------------------------------------------------------------- atomic files

TEST(AtomicFiles, AFullDiskLeavesNeitherAnEmptyLogNorTheLastRunsLog) {
    test::TempDir dir;
    const std::string disk = dir.File("disk");
    std::filesystem::create_directory(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k,nr_inodes=64") != 0) GTEST_SKIP() << "needs root to mount";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};

    const std::string log = disk + "/Velmora.log";
    platform::WriteFileAtomically(log, "previous run\r\n");
    {
        std::ofstream filler(disk + "/filler", std::ios::binary);
        const std::string block(4096, 'f');
        for (int i = 0; i < 64 && filler; ++i) filler.write(block.data(), block.size());
    }
    driver::TRunLog run;
    run.Add(std::string(8192, 'a'));
    EXPECT_THROW(run.WriteTo(log), EFileError);
    EXPECT_FALSE(platform::FileExists(log)) << "neither empty nor the previous run's";
    EXPECT_EQ(platform::ReadWholeFile(driver::PreviousLogPath(log)), "previous run\r\n");
    for (const auto& e : std::filesystem::directory_iterator(disk))
        EXPECT_EQ(e.path().extension(), e.path().filename() == "filler" ? "" : ".onceki") << e.path();

    // Space again: the whole log arrives, owner-writable and readable like any log.
    std::filesystem::remove(disk + "/filler");
    run.WriteTo(log);
    EXPECT_EQ(platform::ReadWholeFile(log), std::string(8192, 'a') + "\r\n");
    struct stat st{};
    ASSERT_EQ(stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(AtomicFiles, AnExclusiveFileIsNeverMadeThroughAPlantedName) {
    test::TempDir dir;
    ASSERT_EQ(symlink(dir.File("target").c_str(), dir.File("link").c_str()), 0);
    EXPECT_FALSE(platform::CreateExclusiveFile(dir.File("link")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("target")));
    std::ofstream(dir.File("taken")).put('x');
    EXPECT_FALSE(platform::CreateExclusiveFile(dir.File("taken")));
    EXPECT_EQ(platform::ReadWholeFile(dir.File("taken")), "x");
    ASSERT_TRUE(platform::CreateExclusiveFile(dir.File("new")));
    struct stat st{};
    ASSERT_EQ(stat(dir.File("new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

} // namespace

#endif  // _WIN32

#include <optional>

#include "db/DbBackend.h"
#include "tests/TestSupport.h"

namespace {

// The tenant lock on SQL Server, against a live server when VELMORA_TEST_MSSQL holds
// "server;database;user;password".
TEST(SqlServerTenantLock, OneSessionAtATimeAndItGoesWithTheSession) {
    const std::optional<velmora::db::ConnectParams> live = velmora::test::LiveSqlServer();
    if (!live) GTEST_SKIP() << "VELMORA_TEST_MSSQL not set: live SQL Server tests skipped";
    const velmora::db::ConnectParams& params = *live;
    auto first = velmora::db::OpenSqlServerBackend(params);
    auto second = velmora::db::OpenSqlServerBackend(params);
    ASSERT_TRUE(first->TryLockSendReport());
    EXPECT_TRUE(first->TryLockSendReport()) << "held already by this session";
    EXPECT_FALSE(second->TryLockSendReport()) << "another session holds it";
    first->UnlockSendReport();
    ASSERT_TRUE(second->TryLockSendReport());
    // A session that ends (a killed run's, say) takes its lock along.
    second.reset();
    EXPECT_TRUE(first->TryLockSendReport());
    first->UnlockSendReport();
}

} // namespace
