// Shared test fixtures: temporary folders, pinned clocks, environment and database helpers.
#include "tests/TestSupport.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <stdexcept>

#include "db/TsqlDialect.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace velmora::test {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    fs::path p = fs::temp_directory_path() /
                 ("velmora-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(p);
    fs::create_directories(p);
    path_ = p.string() + platform::PathSeparator();
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string SourcePath(const std::string& relative) { return std::string(VELMORA_SOURCE_DIR) + "/" + relative; }
std::string BinaryPath(const std::string& relative) { return std::string(VELMORA_BINARY_DIR) + "/" + relative; }

void RunSqliteScript(const std::string& dbPath, const std::string& sql) {
    sqlite3* db = nullptr;
    db::tsql::RegisterCollationsForEveryConnection();  // the schema names the program's collations
    if (sqlite3_open(dbPath.c_str(), &db) != SQLITE_OK) {
        std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + dbPath + ": " + msg);
    }
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : "unknown error";
        sqlite3_free(err);
        sqlite3_close(db);
        throw std::runtime_error("script failed on " + dbPath + ": " + msg);
    }
    sqlite3_close(db);
}

void CreateSqliteDatabase(const std::string& dbPath, const std::string& schemaRelativePath) {
    RunSqliteScript(dbPath, platform::ReadWholeFile(SourcePath(schemaRelativePath)));
}

FixedClock::FixedClock(TDateTime now) { platform::SetFixedNow(now); }
FixedClock::FixedClock(int y, int mo, int d, int h, int mi, int s, int ms) { platform::SetFixedNow(DT(y, mo, d, h, mi, s, ms)); }
FixedClock::~FixedClock() { platform::ResetClock(); }
void FixedClock::Set(TDateTime now) { platform::SetFixedNow(now); }

RegionalScope::RegionalScope(const platform::FormatSettings& settings) { platform::SetRegional(settings); }
RegionalScope::~RegionalScope() { platform::ResetRegional(); }

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    old_ = platform::GetEnv(name);
    had_ = !old_.empty();
    Put(name, value.empty() ? nullptr : value.c_str());
}

ScopedEnv::~ScopedEnv() { Put(name_.c_str(), had_ ? old_.c_str() : nullptr); }

void ScopedEnv::Put(const char* name, const char* value) {
#ifdef _WIN32
    // An empty value removes the variable here, as unsetenv does. The wide form keeps UTF-8 paths whole.
    auto wide = [](const char* text) { return platform::Utf8ToUtf16(text); };
    _wputenv_s(reinterpret_cast<const wchar_t*>(wide(name).c_str()),
               reinterpret_cast<const wchar_t*>(wide(value ? value : "").c_str()));
#else
    if (value) setenv(name, value, 1);
    else unsetenv(name);
#endif
}

std::string SqliteOdbcConnectionString(const std::string& dbPath) {
    std::string path = dbPath;
#ifdef _WIN32
    using UnixName = char*(CDECL*)(const wchar_t*);
    auto toUnix = reinterpret_cast<UnixName>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix) {
        std::u16string wide = platform::Utf8ToUtf16(dbPath);
        if (char* unixPath = toUnix(reinterpret_cast<const wchar_t*>(wide.c_str()))) {
            path = unixPath;
            HeapFree(GetProcessHeap(), 0, unixPath);
        }
    }
#endif
    return "DRIVER={SQLite3};Database=" + path;
}

const char* TempDirVariable() {
#ifdef _WIN32
    return "TMP";
#else
    return "TMPDIR";
#endif
}

std::string CopyProgram(const std::string& binaryRelative, const TempDir& dir) {
#ifdef _WIN32
    const std::string suffix = ".exe";
#else
    const std::string suffix;
#endif
    std::string name = binaryRelative.substr(binaryRelative.find_last_of('/') + 1) + suffix;
    std::string copy = dir.File(name);
    fs::copy_file(BinaryPath(binaryRelative + suffix), copy, fs::copy_options::overwrite_existing);
    return copy;
}

int RunProgram(const std::string& program, const std::vector<std::pair<std::string, std::string>>& env) {
    std::vector<std::unique_ptr<ScopedEnv>> scoped;
    for (const auto& [name, value] : env) scoped.push_back(std::make_unique<ScopedEnv>(name.c_str(), value));
#ifdef _WIN32
    intptr_t status = _spawnl(_P_WAIT, program.c_str(), program.c_str(), nullptr);
    return status < 0 ? -1 : static_cast<int>(status);
#else
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
#endif
}

intptr_t StartProgram(const std::string& program, const std::vector<std::pair<std::string, std::string>>& env) {
#ifdef _WIN32
    std::vector<std::unique_ptr<ScopedEnv>> scoped;
    for (const auto& [name, value] : env) scoped.push_back(std::make_unique<ScopedEnv>(name.c_str(), value));
    return _spawnl(_P_NOWAIT, program.c_str(), program.c_str(), nullptr);
#else
    // The child changes its own environment: the parent's stays as it is for the other program.
    pid_t pid = fork();
    if (pid == 0) {
        for (const auto& [name, value] : env) {
            if (value.empty()) unsetenv(name.c_str());
            else setenv(name.c_str(), value.c_str(), 1);
        }
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
#endif
}

ProgramEnd WaitProgram(intptr_t started) {
    ProgramEnd end;
    if (started <= 0) return end;
#ifdef _WIN32
    int status = 0;
    if (_cwait(&status, started, _WAIT_CHILD) != -1) end.status = status;
#else
    int status = 0;
    rusage usage{};
    const pid_t pid = static_cast<pid_t>(started);
    if (wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) end.status = WEXITSTATUS(status);
    end.maxRssKb = usage.ru_maxrss;
#endif
    return end;
}

void WriteSettingsFile(const std::string& settingsPath, const std::string& dbPath, const std::string& extra) {
    platform::WriteFileReplacing(settingsPath,
                                 "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Ayarlar>\n  <VeriTabani>\n"
                                 "    <Provider>SQLOLEDB.1</Provider>\n    <Sunucu>sqlite:" + dbPath + "</Sunucu>\n"
                                 "    <KullaniciAdi>sa</KullaniciAdi>\n    <Parola>gizli</Parola>\n"
                                 "    <VeriTabaniAdi>Velmora</VeriTabaniAdi>\n  </VeriTabani>\n" + extra +
                                 "</Ayarlar>\n");
}

std::string MakeProgramDatabase(const TempDir& dir, const std::vector<std::string>& tenantDbPaths) {
    std::string db = dir.File("program.db");
    CreateSqliteDatabase(db, "tools/schema/program.sqlite.sql");
    std::string sql;
    for (const std::string& t : tenantDbPaths)
        sql += "INSERT INTO tbNuvoVeriTabani (sunucu, kullanici_adi, parola, veritabani, aktif) VALUES ('sqlite:" + t +
               "', 'sa', 'gizli', '" + t + "', 1);\n";
    if (!sql.empty()) RunSqliteScript(db, sql);
    std::string settings = dir.File("Settings.xml");
    WriteSettingsFile(settings, db);
    return settings;
}

std::string MakeTenantDatabase(const TempDir& dir, const std::string& name, const std::string& gatewayUser,
                               const std::string& gatewayPassword) {
    std::string db = dir.File(name);
    CreateSqliteDatabase(db, "tools/schema/tenant.sqlite.sql");
    RunSqliteScript(db, "INSERT INTO tbNuvoSMSAyarlari (kullanici_adi, parola, kanal_kodu, developer, originator, sms_tipi) "
                        "VALUES ('" + gatewayUser + "', '" + gatewayPassword + "', 'KANAL1', 'JOB1', 'VELMORA', 1);");
    return db;
}

std::optional<db::ConnectParams> LiveSqlServer() {
    const char* setting = std::getenv("VELMORA_TEST_MSSQL");
    if (!setting || !*setting) return std::nullopt;
    std::string s = setting;
    std::vector<std::string> parts;
    for (int k = 0; k < 3; ++k) {
        const size_t semi = s.find(';');
        if (semi == std::string::npos) {
            ADD_FAILURE() << "VELMORA_TEST_MSSQL must be server;database;user;password";
            return std::nullopt;
        }
        parts.push_back(s.substr(0, semi));
        s.erase(0, semi + 1);
    }
    return db::ConnectParams{parts[0], parts[1], parts[2], s};
}

std::vector<int> QueueStates(const std::string& sqlitePath) {
    db::TDbConnection c;
    c.Server = "sqlite:" + sqlitePath;
    c.SetConnected(true);
    std::vector<int> out;
    for (const QueueRow& r : ReadQueue(c)) out.push_back(r.durum);
    return out;
}

std::vector<QueueRow> ReadQueue(db::TDbConnection& connection) {
    db::TDbQuery q(&connection);
    q.SetSQL("SELECT * FROM tbNuvoListe ORDER BY id");
    q.Open();
    std::vector<QueueRow> rows;
    for (int i = 0, n = q.RecordCount(); i < n; ++i, q.Next()) {
        QueueRow r;
        r.grup = q.FieldByName("mesaj_grubu").AsInteger();
        r.gsm = q.FieldByName("gsm").AsString();
        r.mesaj = q.FieldByName("mesaj").AsString();
        r.hemen = q.FieldByName("hemen_gonder").AsInteger();
        r.baslangic = q.FieldByName("gonderme_baslangic").AsDateTime();
        r.bitis = q.FieldByName("gonderme_bitis").AsDateTime();
        r.sayi = q.FieldByName("sms_sayisi").AsInteger();
        r.durum = q.FieldByName("durum").AsInteger();
        rows.push_back(r);
    }
    return rows;
}

void TenantTest::SetUp() {
    path_ = MakeTenantDatabase(dir_, "tenant.db");
    tenant_.Server = "sqlite:" + path_;
    tenant_.SetConnected(true);
    tenant_.ExecSQL("SET DATEFORMAT dmy");
}

TDateTime DT(int y, int mo, int d, int h, int mi, int s, int ms) {
    DateTimeParts p;
    p.year = y; p.month = mo; p.day = d; p.hour = h; p.minute = mi; p.second = s; p.millisecond = ms;
    return EncodeDateTime(p);
}

} // namespace velmora::test
