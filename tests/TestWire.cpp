// The SQL Server route of the tests: the simulator and program databases that point at it.
#include "tests/TestWire.h"

#include <filesystem>

#include "platform/Paths.h"

namespace velmora::test {

bool WireRouteUnavailable() {
#ifdef _WIN32
    return platform::GetEnv("VELMORA_ODBC_DRIVER").empty();
#else
    return false;
#endif
}

WirePeer::WirePeer() {
    server_.AddLogin(kWireUser, kWirePassword);
    server_.Start();
}

std::string WirePeer::Serve(const std::string& sqlitePath) {
    std::string name = std::filesystem::path(sqlitePath).stem().string();
    server_.AddDatabase(name, sqlitePath);
    return name;
}

void WirePeer::Aim(db::TDbConnection& c, const std::string& database) const {
    c.ProviderName = "SQL Server";
    c.Server = server_.ServerText();
    c.Database = database;
    c.Username = kWireUser;
    c.Password = kWirePassword;
}

std::string MakeWireProgramDatabase(const TempDir& dir, WirePeer& peer, const std::vector<std::string>& tenantDbPaths,
                                    const std::string& extra) {
    std::string db = dir.File("program.db");
    CreateSqliteDatabase(db, "tools/schema/program.sqlite.sql");
    const std::string programName = peer.Serve(db);
    auto quoted = [](std::string s) {
        for (size_t i = s.find('\''); i != std::string::npos; i = s.find('\'', i + 2)) s.insert(i, 1, '\'');
        return "'" + s + "'";
    };
    std::string sql;
    for (const std::string& t : tenantDbPaths)
        sql += "INSERT INTO tbNuvoVeriTabani (sunucu, kullanici_adi, parola, veritabani, aktif) VALUES (" +
               quoted(peer->ServerText()) + ", " + quoted(kWireUser) + ", " + quoted(kWirePassword) + ", " +
               quoted(peer.Serve(t)) + ", 1);\n";
    if (!sql.empty()) RunSqliteScript(db, sql);
    std::string settings = dir.File("Settings.xml");
    platform::WriteFileReplacing(settings,
                                 "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Ayarlar>\n  <VeriTabani>\n"
                                 "    <Provider>SQLOLEDB.1</Provider>\n    <Sunucu>" + peer->ServerText() + "</Sunucu>\n"
                                 "    <KullaniciAdi>" + kWireUser + "</KullaniciAdi>\n"
                                 "    <Parola>Gizli;Şifre}</Parola>\n"
                                 "    <VeriTabaniAdi>" + programName + "</VeriTabaniAdi>\n  </VeriTabani>\n" + extra + "</Ayarlar>\n");
    return settings;
}

} // namespace velmora::test
