// Connection strings for SQL Server login through ODBC: value quoting, server names, driver choice.
#include "db/OdbcConnectionString.h"

#include <algorithm>
#include <vector>

#include "db/OdbcSupport.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace velmora::db {

using platform::ContainsNoCase;
using platform::EqualsNoCase;
using platform::Trim;
constexpr auto IsBlank = platform::IsAsciiSpace;

std::string QuoteOdbcValue(const std::string& value) {
    bool needsBraces = value.find_first_of(";{}") != std::string::npos ||
                       (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back())));
    if (!needsBraces) return value;
    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    out += '}';
    return out;
}

std::string QuoteFreeTdsValue(const std::string& value) {
    bool needsBraces = value.find_first_of(";{}") != std::string::npos ||
                       (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back())));
    if (!needsBraces) return value;
    // FreeTDS ends a braced value at the first '}' followed by ';' or by the end of the text and
    // keeps doubled braces doubled, so a value is braced as written; one holding "};" cannot be
    // carried at all.
    if (value.find("};") != std::string::npos)
        throw EDatabaseError("The FreeTDS driver cannot be given a user name, password or database name containing \"};\"");
    return "{" + value + "}";
}

SqlServerAddress ParseSqlServerAddress(const std::string& server) {
    std::string s = Trim(server);
    if (s.size() >= 4 && EqualsNoCase(s.substr(0, 4), "tcp:")) s = Trim(s.substr(4));
    SqlServerAddress a;
    size_t comma = s.find(',');
    if (comma != std::string::npos) {
        a.port = Trim(s.substr(comma + 1));
        s = Trim(s.substr(0, comma));
        int port = 0;
        if (a.port.size() > 5 || !platform::ParseWhole(a.port, port) || port < 1 || port > 65535)
            throw EDatabaseError("Invalid port in the SQL Server name \"" + server + "\"");
    }
    size_t slash = s.find('\\');
    if (slash != std::string::npos) {
        a.instance = Trim(s.substr(slash + 1));
        s = Trim(s.substr(0, slash));
    }
    a.host = s;
    if (a.host.empty()) throw EDatabaseError("No SQL Server host in the server name \"" + server + "\"");
    return a;
}

std::string BuildSqlServerConnectionString(const ConnectParams& params, OdbcDriverFamily family,
                                           const std::string& driverName) {
    std::string driver = "{";
    for (char c : driverName) {
        driver += c;
        if (c == '}') driver += '}';
    }
    driver += '}';
    auto quote = family == OdbcDriverFamily::FreeTds ? QuoteFreeTdsValue : QuoteOdbcValue;
    std::string login = ";DATABASE=" + quote(params.database) + ";UID=" + quote(params.username) +
                        ";PWD=" + quote(params.password);
    if (family == OdbcDriverFamily::Microsoft) {
        // Microsoft's drivers read "host\instance" and "host,port" themselves.
        return "DRIVER=" + driver + ";SERVER=" + QuoteOdbcValue(Trim(params.server)) + login;
    }
    SqlServerAddress a = ParseSqlServerAddress(params.server);
    std::string host = a.host;
    if (host == "." || EqualsNoCase(host, "(local)")) host = "localhost";  // Windows spellings of this machine
    std::string server;
    if (!a.port.empty()) server = "SERVER=" + QuoteFreeTdsValue(host) + ";PORT=" + a.port;
    else if (!a.instance.empty()) server = "SERVER=" + QuoteFreeTdsValue(host + "\\" + a.instance);  // port from the browser service
    else server = "SERVER=" + QuoteFreeTdsValue(host) + ";PORT=1433";
    return "DRIVER=" + driver + ";" + server + login + ";TDS_Version=7.4;ClientCharset=UTF-8";
}

namespace {

struct Attribute {
    std::string key;    // trimmed
    std::string value;  // as written, braces included
};

// Splits "KEY=value;KEY={va;lue};..." into its attributes; a '}' inside braces is doubled.
std::vector<Attribute> SplitAttributes(const std::string& text) {
    std::vector<Attribute> out;
    size_t i = 0;
    while (i < text.size()) {
        size_t eq = text.find('=', i), semi = text.find(';', i);
        if (semi != std::string::npos && (eq == std::string::npos || semi < eq)) {
            if (!Trim(text.substr(i, semi - i)).empty())
                throw EDatabaseError("The connection attribute \"" + Trim(text.substr(i, semi - i)) +
                                     "\" has no value (KEY=value expected)");
            i = semi + 1;
            continue;
        }
        if (eq == std::string::npos) {
            if (!Trim(text.substr(i)).empty())
                throw EDatabaseError("The connection attribute \"" + Trim(text.substr(i)) +
                                     "\" has no value (KEY=value expected)");
            break;
        }
        Attribute a;
        a.key = Trim(text.substr(i, eq - i));
        size_t j = eq + 1;
        while (j < text.size() && IsBlank(text[j])) ++j;
        if (j < text.size() && text[j] == '{') {
            size_t k = j + 1;
            for (;;) {
                if (k >= text.size()) throw EDatabaseError("The connection attribute \"" + a.key + "\" has an unclosed '{'");
                if (text[k] == '}') {
                    if (k + 1 < text.size() && text[k + 1] == '}') { k += 2; continue; }
                    break;
                }
                ++k;
            }
            a.value = text.substr(j, k + 1 - j);
            j = text.find(';', k + 1);
        } else {
            size_t end = text.find(';', j);
            a.value = Trim(text.substr(j, end == std::string::npos ? std::string::npos : end - j));
            j = end;
        }
        if (a.key.empty()) throw EDatabaseError("A connection attribute has no name");
        out.push_back(std::move(a));
        if (j == std::string::npos) break;
        i = j + 1;
    }
    return out;
}

} // namespace

std::string AddConnectionAttributes(const std::string& base, const std::string& extra) {
    if (Trim(extra).empty()) return base;
    static const char* const kReserved[] = {"DRIVER", "DSN", "FILEDSN", "SAVEFILE", "SERVER", "ADDRESS", "ADDR",
                                            "DATABASE", "UID", "PWD", "USER", "PASSWORD", "SERVERNAME"};
    std::vector<Attribute> attributes = SplitAttributes(base);
    for (Attribute& a : SplitAttributes(extra)) {
        for (const char* reserved : kReserved)
            if (EqualsNoCase(a.key, reserved))
                throw EDatabaseError("The connection attribute \"" + a.key +
                                     "\" cannot be set in <VeriTabani><BaglantiOzellikleri>: the server, database, "
                                     "login and driver come from their own settings");
        auto same = std::find_if(attributes.begin(), attributes.end(),
                                 [&](const Attribute& b) { return EqualsNoCase(a.key, b.key); });
        if (same != attributes.end()) same->value = a.value;
        else attributes.push_back(std::move(a));
    }
    std::string out;
    for (const Attribute& a : attributes) {
        if (!out.empty()) out += ';';
        out += a.key + "=" + a.value;
    }
    return out;
}

std::string SqlServerConnectionString(const ConnectParams& params, const ConnectionOptions& options) {
    // The settings file's driver wins over VELMORA_ODBC_DRIVER; either replaces this platform's default.
    std::string driver = Trim(options.odbcDriver);
    if (driver.empty()) driver = Trim(platform::GetEnv("VELMORA_ODBC_DRIVER"));
#ifdef _WIN32
    if (driver.empty()) driver = "SQL Server";
#else
    if (driver.empty()) driver = "FreeTDS";
#endif
    OdbcDriverFamily family = ContainsNoCase(driver, "freetds") || ContainsNoCase(driver, "libtdsodbc")
                                  ? OdbcDriverFamily::FreeTds
                                  : OdbcDriverFamily::Microsoft;
    return AddConnectionAttributes(BuildSqlServerConnectionString(params, family, driver), options.odbcAttributes);
}

} // namespace velmora::db
