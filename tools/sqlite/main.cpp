// velmora-sqlite: runs SQLite statements on a database file with the program's text collations
// registered, so that the demo can create and seed files whose schema names them.
// Usage: velmora-sqlite [--no-header] <database file> [statements]   (statements from standard input when absent)
#include <sqlite3.h>

#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

#include "db/TsqlDialect.h"

namespace {

// Prints each result row as "value | value", with a header line before the first.
int PrintRow(void* headerDone, int columns, char** values, char** names) {
    bool& done = *static_cast<bool*>(headerDone);
    if (!done) {
        for (int c = 0; c < columns; ++c) std::printf("%s%s", c ? " | " : "", names[c]);
        std::printf("\n");
        done = true;
    }
    for (int c = 0; c < columns; ++c) std::printf("%s%s", c ? " | " : "", values[c] ? values[c] : "");
    std::printf("\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    bool headerDone = false;  // true from the start: no line of column names
    if (argc > 1 && std::string(argv[1]) == "--no-header") {
        headerDone = true;
        --argc;
        ++argv;
    }
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: velmora-sqlite [--no-header] <database file> [statements]\n");
        return 2;
    }
    const std::string sql = argc == 3 ? std::string(argv[2])
                                      : std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    velmora::db::tsql::RegisterCollationsForEveryConnection();
    sqlite3* db = nullptr;
    if (sqlite3_open(argv[1], &db) != SQLITE_OK) {
        std::fprintf(stderr, "velmora-sqlite: cannot open %s: %s\n", argv[1], db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return 1;
    }
    char* err = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), PrintRow, &headerDone, &err);
    if (rc != SQLITE_OK) std::fprintf(stderr, "velmora-sqlite: %s\n", err ? err : sqlite3_errmsg(db));
    sqlite3_free(err);
    sqlite3_close(db);
    return rc == SQLITE_OK ? 0 : 1;
}
