#pragma once
// Small fixtures shared by the tests: temporary folders, databases made from our schema,
// a pinned clock and pinned regional formats.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/DbConnection.h"
#include "platform/DateTime.h"
#include "platform/Regional.h"

namespace velmora::test {

// A fresh folder under the temporary directory, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return path_; }  // with a trailing separator
    std::string File(const std::string& name) const { return path_ + name; }
private:
    std::string path_;
};

// Path of a file of the source tree, e.g. SourcePath("tools/schema/tenant.sqlite.sql").
std::string SourcePath(const std::string& relative);
std::string BinaryPath(const std::string& relative);

// Creates an SQLite database file from one of our DDL scripts (runs every statement of the file).
void CreateSqliteDatabase(const std::string& dbPath, const std::string& schemaRelativePath);
// Runs a script (statements separated by ';' at line ends) on an SQLite file with the raw C API.
void RunSqliteScript(const std::string& dbPath, const std::string& sql);

// Pins the clock for the scope of a test; restores the machine clock afterwards.
class FixedClock {
public:
    explicit FixedClock(TDateTime now);
    FixedClock(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0);
    ~FixedClock();
    void Set(TDateTime now);
};

// Pins the regional formats for the scope of a test.
class RegionalScope {
public:
    explicit RegionalScope(const platform::FormatSettings& settings);
    ~RegionalScope();
};

// Sets an environment variable for the scope of a test (an empty value removes it, as Windows does),
// restoring the previous value afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
private:
    static void Put(const char* name, const char* value);  // nullptr removes the variable
    std::string name_;
    bool had_ = false;
    std::string old_;
};

// A connection string for the SQLite ODBC driver on that database file. Under Wine the Windows driver
// manager hands connections to the host's unixODBC, whose drivers read Unix paths, so the path is
// translated there.
std::string SqliteOdbcConnectionString(const std::string& dbPath);

// The environment variable that names the temporary folder ("TMP" on Windows, "TMPDIR" elsewhere).
const char* TempDirVariable();

// Copies a built program (path under the build tree, without ".exe") into dir; returns the copy's path.
std::string CopyProgram(const std::string& binaryRelative, const TempDir& dir);
// Starts a program with these environment changes (an empty value removes the variable), waits for it
// and returns its exit status, or -1 when it could not be started or did not end normally.
int RunProgram(const std::string& program, const std::vector<std::pair<std::string, std::string>>& env);

// The same without waiting, so that two runs can overlap: the started program's id, or -1.
intptr_t StartProgram(const std::string& program, const std::vector<std::pair<std::string, std::string>>& env);
struct ProgramEnd {
    int status = -1;      // -1 when it did not end normally
    long maxRssKb = 0;    // its peak memory (POSIX; 0 elsewhere)
};
ProgramEnd WaitProgram(intptr_t started);

// A program database (from tools/schema/program.sqlite.sql) listing the given tenant database files,
// all active, and a "Settings.xml" naming it. Returns the settings file's path.
std::string MakeProgramDatabase(const TempDir& dir, const std::vector<std::string>& tenantDbPaths);
// A tenant database from tools/schema/tenant.sqlite.sql, with one gateway account row.
std::string MakeTenantDatabase(const TempDir& dir, const std::string& name, const std::string& gatewayUser = "demo",
                               const std::string& gatewayPassword = "secret");
// Writes a "Settings.xml" whose database is the SQLite file at dbPath; extra is appended inside "Ayarlar".
void WriteSettingsFile(const std::string& settingsPath, const std::string& dbPath, const std::string& extra = "");

// One row of the queue table "tbNuvoListe", as the campaign tests look at it.
struct QueueRow {
    int grup = -1;
    std::string gsm;
    std::string mesaj;
    int hemen = -1;
    TDateTime baslangic = 0;
    TDateTime bitis = 0;
    int sayi = -1;
    int durum = -1;
};
std::vector<QueueRow> ReadQueue(db::TDbConnection& connection);  // in id order
// The live SQL Server that VELMORA_TEST_MSSQL names ("server;database;user;password", the password keeping
// any further ';'); none when it is not set. A malformed setting fails the calling test.
std::optional<db::ConnectParams> LiveSqlServer();

// The states (durum) of an embedded tenant database's queue rows, in id order.
std::vector<int> QueueStates(const std::string& sqlitePath);

// One tenant database from our schema, connected as the generation run connects it.
class TenantTest : public ::testing::Test {
protected:
    void SetUp() override;
    void Sql(const std::string& sql) { RunSqliteScript(path_, sql); }
    std::vector<QueueRow> Queue() { return ReadQueue(tenant_); }

    TempDir dir_;
    std::string path_;
    db::TDbConnection tenant_;
};

TDateTime DT(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0);

} // namespace velmora::test
