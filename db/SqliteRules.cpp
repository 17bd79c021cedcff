// The embedded database's own rules: declared types and stored texts as values; actions refused.
#include "db/SqliteRules.h"

#include <sqlite3.h>

#include <cmath>

#include "platform/Text.h"

namespace velmora::db {

namespace {

// SQLite hands the authorizer no text where an argument does not apply.
bool EqualsNoCase(const char* a, const char* b) { return a && b && platform::EqualsNoCase(a, b); }

// Pragmas that only read about one table may take an argument; every other pragma may only be read.
bool PragmaAllowed(const char* name, const char* argument) {
    static const char* const kActions[] = {"wal_checkpoint", "incremental_vacuum", "optimize", "shrink_memory"};
    for (const char* action : kActions)
        if (EqualsNoCase(name, action)) return false;
    if (!argument) return true;
    static const char* const kTableReads[] = {"table_info", "table_xinfo", "index_list", "index_info", "index_xinfo",
                                              "foreign_key_list"};
    for (const char* read : kTableReads)
        if (EqualsNoCase(name, read)) return true;
    return false;
}

} // namespace

ValueKind KindOfDeclaredType(const char* decl) {
    if (!decl) return ValueKind::Null;
    std::string type = platform::UpperAscii(decl);
    size_t start = type.find_first_not_of(' ');
    if (start == std::string::npos) return ValueKind::Null;
    size_t end = type.find_first_of(" (", start);
    const std::string base = type.substr(start, end == std::string::npos ? std::string::npos : end - start);
    static const char* const kInteger[] = {"INT", "INTEGER", "BIGINT", "SMALLINT", "TINYINT", "BIT", "MEDIUMINT", "INT2", "INT8"};
    static const char* const kFloat[] = {"REAL", "FLOAT", "DOUBLE", "MONEY", "SMALLMONEY", "NUMERIC", "DECIMAL"};
    static const char* const kDateTime[] = {"DATETIME", "DATE", "SMALLDATETIME", "DATETIME2"};
    static const char* const kBlob[] = {"BLOB", "VARBINARY", "BINARY", "IMAGE"};
    for (const char* t : kInteger) if (base == t) return ValueKind::Integer;
    for (const char* t : kFloat) if (base == t) return ValueKind::Float;
    for (const char* t : kDateTime) if (base == t) return ValueKind::DateTime;
    for (const char* t : kBlob) if (base == t) return ValueKind::Blob;
    if (base.find("CHAR") != std::string::npos || base.find("TEXT") != std::string::npos ||
        base.find("CLOB") != std::string::npos)
        return ValueKind::Text;
    return ValueKind::Null;
}

bool InDateRange(double d) { return std::isfinite(d) && d >= kFirstDateTime && d < kEndOfDateTimes; }

bool IsStoredDateTime(const char* s, int n, TDateTime& out) {
    return n == 23 && s[4] == '-' && s[7] == '-' && s[10] == ' ' && s[13] == ':' && s[16] == ':' && s[19] == '.' &&
           TryParseIsoDateTime(std::string(s, 23), out);
}

bool RefusedAction(int action, const char* a1, const char* a2, std::string& why) {
    switch (action) {
    case SQLITE_ATTACH:  // also VACUUM, which works through an attached copy
        why = "ATTACH and VACUUM may not open or create other database files";
        return true;
    case SQLITE_DETACH:
        why = "DETACH is not allowed";
        return true;
    case SQLITE_FUNCTION:
        if (!EqualsNoCase(a2, "load_extension")) return false;
        why = "load_extension is not allowed";
        return true;
    case SQLITE_PRAGMA:
        if (PragmaAllowed(a1, a2)) return false;
        why = std::string("PRAGMA ") + (a1 ? a1 : "") + " may only be read, not set or run";
        return true;
    default:
        return false;
    }
}

} // namespace velmora::db
