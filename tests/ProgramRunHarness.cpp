// The program-run harness for fault tables: the built program, the simulator, kills, mounts, receipts.
#include "tests/ProgramRunHarness.h"

#include <chrono>
#include <filesystem>
#include <thread>
#include <fstream>

#include "platform/CodePage.h"
#include "platform/Paths.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace velmora::test {

void MakeTenantWithPendingRows(const std::string& path, int rows) {
    CreateSqliteDatabase(path, "tools/schema/tenant.sqlite.sql");
    RunSqliteScript(path,
                    "INSERT INTO tbNuvoSMSAyarlari (kullanici_adi, parola, kanal_kodu, developer, originator, sms_tipi) "
                    "VALUES ('demo', 'secret', 'KANAL1', 'JOB1', 'VELMORA', 1);"
                    "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < " + std::to_string(rows) +
                    ") INSERT INTO tbNuvoListe (mesaj_grubu, gsm, mesaj, durum, hemen_gonder, sms_sayisi, kayit_tarihi) "
                    "SELECT 4, '0532' || (1000000 + i), 'Mesaj ' || i, 0, 1, 1, "
                    "strftime('%Y-%m-%d %H:%M:%f', '2026-12-10 08:00:00', '+' || i || ' seconds') FROM k;");
}

namespace {

void WriteProgramFolder(const TempDir& dir, const std::string& tenant, const std::string& host, std::string& exe) {
    const std::string program = dir.File("program.db");
    CreateSqliteDatabase(program, "tools/schema/program.sqlite.sql");
    RunSqliteScript(program, "INSERT INTO tbNuvoVeriTabani (sunucu, kullanici_adi, parola, veritabani, aktif) "
                             "VALUES ('sqlite:" + tenant + "', 'sa', '', 'kiraci', 1);");
    WriteSettingsFile(dir.File("Settings.xml"), program,
                      "<SMSServisi><Sunucu>" + host + "</Sunucu><IstekZamanAsimi>60</IstekZamanAsimi></SMSServisi>\n");
    const std::string other = platform::GetEnv("VELMORA_HARNESS_PROGRAM");
    if (other.empty()) {
        exe = CopyProgram("driver/velmora", dir);
    } else {
        exe = dir.File("velmora");
        std::filesystem::copy_file(other, exe);
    }
}

} // namespace

ProgramRunHarness::ProgramRunHarness(ProgramRunHarness& peer)
    : tenant_(peer.tenant_), journals_(dir_.File("kararlar")), gateway_(peer.gateway_) {
    WriteProgramFolder(dir_, tenant_, gateway_->Host(), exe_);
}

ProgramRunHarness::ProgramRunHarness(int rows, const std::string& tenantPath)
    : ownGateway_(std::make_unique<sim::GatewaySimulator>()), gateway_(ownGateway_.get()) {
    tenant_ = tenantPath.empty() ? dir_.File("tenant.db") : tenantPath;
    journals_ = dir_.File("kararlar");
    MakeTenantWithPendingRows(tenant_, rows);
    gateway_->AddAccount("demo", "secret");
    gateway_->Start();
    gateway_->SetRequestHook([this](const sim::ReceivedRequest& r) {
#ifndef _WIN32
        // killOn_ is set before a run starts and cleared after it ended: stable while requests arrive.
        const int child = child_.load();
        if (child > 0 && !killOn_.empty() && r.operation == killOn_) ::kill(child, SIGKILL);
#else
        (void)r;
#endif
    });
    WriteProgramFolder(dir_, tenant_, gateway_->Host(), exe_);
}

ProgramRunHarness::~ProgramRunHarness() {
#ifndef _WIN32
    // A run started and never waited for ends with the test.
    if (const int pid = child_.load(); pid > 0) {
        ::kill(pid, SIGKILL);
        Wait();
    }
#endif
    if (ownGateway_) {
        ownGateway_->SetRequestHook(nullptr);
        ownGateway_->Stop();
    }
}

int ProgramRunHarness::Run(const EnvList& env) {
    Start(env);
    return Wait();
}

void ProgramRunHarness::Start(const EnvList& extra) {
    platform::DeleteFileIfExists(dir_.File("Velmora.log"));
    EnvList env = {{"VELMORA_SETTINGS_FILE", ""},
                   {"VELMORA_NOW", "2026-12-10 09:30:00"},
                   {"VELMORA_LOG_FILE", dir_.File("Velmora.log")},
                   {"VELMORA_LOCK_FILE", dir_.File("velmora.lock")},
                   {"VELMORA_JOURNAL_DIR", journals_}};
    env.insert(env.end(), extra.begin(), extra.end());
#ifdef _WIN32
    windowsStatus_ = RunProgram(exe_, env);
#else
    // The environment is built for the child alone: the simulator's threads keep running meanwhile.
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) {
        std::string v = *e;
        bool replaced = false;
        for (const auto& [name, value] : env) replaced = replaced || v.rfind(name + "=", 0) == 0;
        if (!replaced) vars.push_back(v);
    }
    for (const auto& [name, value] : env)
        if (!value.empty()) vars.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) return;
    if (pid == 0) {
        char* argv[] = {exe_.data(), nullptr};
        execve(exe_.c_str(), argv, envp.data());
        _exit(127);
    }
    child_ = pid;
    ended_ = false;
    if (killWhen_) {
        watcher_ = std::thread([this, pid] {
            while (!ended_.load()) {
                if (killWhen_()) {
                    ::kill(pid, SIGKILL);
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
#endif
}

int ProgramRunHarness::Wait() {
#ifdef _WIN32
    return windowsStatus_;
#else
    const int pid = child_.load();
    if (pid <= 0) return -1000;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    ended_ = true;
    if (watcher_.joinable()) watcher_.join();
    child_ = 0;
    killOn_.clear();
    killWhen_ = nullptr;
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
#endif
}

std::string ProgramRunHarness::LogText() const {
    if (!platform::FileExists(dir_.File("Velmora.log"))) return {};
    return platform::AnsiToUtf8(platform::ReadWholeFile(dir_.File("Velmora.log")));
}

bool ProgramRunHarness::JournalLeft() const {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(journals_, ec))
        if (e.path().extension() == ".kararlar") return true;
    return false;
}

std::map<int64_t, int> ProgramRunHarness::Receipts() const {
    std::map<int64_t, int> out;
    for (const sim::ReceivedRequest& r : gateway_->Requests()) {
        if (r.operation != "SendBulkSMS") continue;
        for (size_t at = r.data.find("<EID>"); at != std::string::npos; at = r.data.find("<EID>", at + 5))
            ++out[std::stoll(r.data.substr(at + 5))];
    }
    return out;
}

std::vector<int> ProgramRunHarness::States() const {
    return QueueStates(tenant_);
}

TmpfsMount::TmpfsMount(const std::string& path, int kibibytes) : path_(path), kibibytes_(kibibytes) {
    std::filesystem::create_directories(path_);
#ifndef _WIN32
    const std::string options = "size=" + std::to_string(kibibytes_) + "k,mode=0700";
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
#endif
}

TmpfsMount::~TmpfsMount() {
#ifndef _WIN32
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
#endif
}

bool TmpfsMount::SetReadOnly(bool readOnly) {
#ifndef _WIN32
    const std::string options = "size=" + std::to_string(kibibytes_) + "k";
    return ::mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | (readOnly ? MS_RDONLY : 0), options.c_str()) == 0;
#else
    (void)readOnly;
    return false;
#endif
}

std::string TmpfsMount::Fill() {
    const std::string filler = path_ + "/filler";
    std::FILE* f = std::fopen(filler.c_str(), "wb");
    if (!f) return filler;
    std::setvbuf(f, nullptr, _IONBF, 0);
    const std::string block(4096, 'x');
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size()) {
    }
    // Whatever is left is smaller than a block: take it byte by byte.
    while (std::fwrite("x", 1, 1, f) == 1) {
    }
    std::fclose(f);
    return filler;
}

} // namespace velmora::test
