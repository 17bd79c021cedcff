#include "tests/TestSupport.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <stdexcept>

#include "platform/Clock.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace velmora::test {

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    fs::path p = fs::temp_directory_path() /
                 ("velmora-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(p);
    fs::create_directories(p);
    path_ = p.string() + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string SourcePath(const std::string& relative) { return std::string(VELMORA_SOURCE_DIR) + "/" + relative; }
std::string BinaryPath(const std::string& relative) { return std::string(VELMORA_BINARY_DIR) + "/" + relative; }

void RunSqliteScript(const std::string& dbPath, const std::string& sql) {
    sqlite3* db = nullptr;
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
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (old) old_ = old;
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (had_) setenv(name_.c_str(), old_.c_str(), 1);
    else unsetenv(name_.c_str());
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
