#pragma once
// Connection strings for SQL Server login through ODBC, built from the four connection values.
#include <string>
#include "db/DbBackend.h"

namespace velmora::db {

enum class OdbcDriverFamily {
    Microsoft,  // Microsoft's drivers ("SQL Server" on Windows, "ODBC Driver NN for SQL Server")
    FreeTds,    // FreeTDS under unixODBC
};

// One attribute value as it may stand after "KEY=": wrapped in braces, '}' doubled, whenever it
// holds characters that would otherwise end the value or start a new attribute. Passwords go
// through this, so a ';' in one cannot add attributes of its own.
std::string QuoteOdbcValue(const std::string& value);

// The same for FreeTDS, which reads a braced value as written up to a '}' that ends the attribute:
// the value is braced unchanged. Throws EDatabaseError for a value holding "};", which FreeTDS
// cannot be given.
std::string QuoteFreeTdsValue(const std::string& value);

// Where a SQL Server server text ("host", "host\instance", "host,port", "tcp:host,port") points.
struct SqlServerAddress {
    std::string host;
    std::string instance;  // empty when none was named
    std::string port;      // digits; empty when none was named
};
// Throws EDatabaseError when the text names no host or an invalid port.
SqlServerAddress ParseSqlServerAddress(const std::string& server);

// The connection string for the given driver family; driverName is the ODBC driver to load.
std::string BuildSqlServerConnectionString(const ConnectParams& params, OdbcDriverFamily family,
                                           const std::string& driverName);

// The base connection string with extra "KEY=value;..." attributes: a key the base already has takes
// the new value, others are added. Keys that choose the driver, the server, the database or the login
// cannot be given this way (EDatabaseError): those come from their own settings.
std::string AddConnectionAttributes(const std::string& base, const std::string& extra);

// The connection string this platform uses: the Windows "SQL Server" driver on Windows, FreeTDS
// elsewhere. The options' driver name (the settings file's <Surucu>) or else the environment variable
// VELMORA_ODBC_DRIVER, when not empty, names another installed driver (for example "ODBC Driver 18 for
// SQL Server") in place of the default one; a name containing "FreeTDS" gets FreeTDS attributes, any
// other name Microsoft's. The options' extra attributes are added last.
std::string SqlServerConnectionString(const ConnectParams& params, const ConnectionOptions& options = {});

} // namespace velmora::db
