#pragma once
// The SQL Server route of the tests: the loopback SQL Server simulator over SQLite files, reached
// through the platform's ODBC driver for SQL Server (FreeTDS here) exactly as the program reaches a server.
#include <string>
#include <vector>

#include "db/DbConnection.h"
#include "tests/TestSupport.h"
#include "tools/sqlserversim/SqlServerSimulator.h"

namespace velmora::test {

constexpr const char* kWireUser = "sa";
constexpr const char* kWirePassword = "Gizli;Şifre}";

// True where the SQL Server route cannot run: on Windows (under Wine) the SQL Server driver must be
// named by VELMORA_ODBC_DRIVER (the host's FreeTDS through Wine's driver manager).
bool WireRouteUnavailable();

// A running simulator with one login; databases are named after their files.
class WirePeer {
public:
    WirePeer();
    sqlsim::SqlServerSimulator& Server() { return server_; }
    sqlsim::SqlServerSimulator* operator->() { return &server_; }
    // Serves the SQLite file under a database name (its file name without the extension); returns the name.
    std::string Serve(const std::string& sqlitePath);
    // Points a connection at a served database with the simulator's login.
    void Aim(db::TDbConnection& c, const std::string& database) const;

private:
    sqlsim::SqlServerSimulator server_;
};

// A program database served by the peer, listing the tenant files (served too) by their database
// names, with a "Settings.xml" that reaches it through the server text "127.0.0.1,<port>".
// extra is appended inside "Ayarlar". Returns the settings file's path.
std::string MakeWireProgramDatabase(const TempDir& dir, WirePeer& peer, const std::vector<std::string>& tenantDbPaths,
                                    const std::string& extra = "");

} // namespace velmora::test
