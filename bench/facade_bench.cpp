// The database facade against raw sqlite3 prepared statements doing the same autocommitted work:
// 100,000 rows appended one Post at a time into the queue table, then read back.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "db/DbConnection.h"
#include "platform/DateTime.h"
#include "platform/Paths.h"

using namespace velmora;

namespace {

using bench::Exec;
using bench::RemoveDb;

const char* kSchemaFile = VELMORA_SOURCE_DIR "/tools/schema/tenant.sqlite.sql";

std::string FreshDatabase(const std::string& path) {
    RemoveDb(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    std::string ddl = platform::ReadWholeFile(kSchemaFile);
    char* err = nullptr;
    if (sqlite3_exec(db, ddl.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "schema: %s\n", err);
        std::exit(1);
    }
    sqlite3_close(db);
    return path;
}

double FacadeWrite(const std::string& path, int rows) {
    db::TDbConnection c;
    c.Server = "sqlite:" + path;
    c.SetConnected(true);
    bench::Stopwatch watch;
    db::TDbQuery q(&c);
    q.SetSQL("SELECT * FROM tbNuvoListe WHERE id = -1");
    q.Open();
    const TDateTime now = EncodeDateTime({2026, 12, 10, 10, 0, 0, 0});
    for (int i = 0; i < rows; ++i) {
        q.Append();
        q.FieldByName("mesaj_grubu").SetValue(4);
        q.FieldByName("gsm").SetValue("0532" + std::to_string(1000000 + i));
        q.FieldByName("mesaj").SetValue("Sevgili müşterimiz, doğum gününüz kutlu olsun! #" + std::to_string(i));
        q.FieldByName("durum").SetValue(0);
        q.FieldByName("rapor_id").Clear();
        q.FieldByName("aciklama").Clear();
        q.FieldByName("hemen_gonder").SetValue(0);
        q.FieldByName("gonderme_baslangic").SetDateTime(now);
        q.FieldByName("gonderme_bitis").SetDateTime(now + 1);
        q.FieldByName("sms_sayisi").SetValue(1);
        q.FieldByName("kayit_tarihi").SetDateTime(now + i / 86400000.0);
        q.FieldByName("gonderme_tarihi").Clear();
        q.FieldByName("originator").Clear();
        q.FieldByName("sms_tipi").Clear();
        q.Post();
        if (q.FieldByName("id").AsInteger() <= 0) std::abort();
    }
    return watch.Seconds();
}

double FacadeRead(const std::string& path, int rows) {
    db::TDbConnection c;
    c.Server = "sqlite:" + path;
    c.SetConnected(true);
    bench::Stopwatch watch;
    db::TDbQuery q(&c);
    q.SetSQL("SELECT * FROM tbNuvoListe WHERE durum = 0 ORDER BY kayit_tarihi");
    q.Open();
    size_t bytes = 0;
    const int n = q.RecordCount();
    for (int i = 0; i < n; ++i) {
        bytes += q.FieldByName("gsm").AsString().size() + q.FieldByName("mesaj").AsString().size();
        bytes += static_cast<size_t>(q.FieldByName("id").AsInteger() > 0);
        bytes += static_cast<size_t>(q.FieldByName("kayit_tarihi").AsDateTime() > 0);
        q.Next();
    }
    if (n != rows || bytes == 0) std::abort();
    return watch.Seconds();
}

void Check(int rc, sqlite3* db) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
}

sqlite3* OpenRaw(const std::string& path) {
    sqlite3* db = nullptr;
    Check(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), db);
    Check(sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr), db);
    return db;
}

double RawWrite(const std::string& path, int rows) {
    sqlite3* db = OpenRaw(path);
    bench::Stopwatch watch;
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(db,
                             "INSERT INTO tbNuvoListe (mesaj_grubu, gsm, mesaj, durum, rapor_id, aciklama, hemen_gonder, "
                             "gonderme_baslangic, gonderme_bitis, sms_sayisi, kayit_tarihi, gonderme_tarihi, originator, "
                             "sms_tipi) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                             -1, &st, nullptr),
          db);
    const TDateTime now = EncodeDateTime({2026, 12, 10, 10, 0, 0, 0});
    for (int i = 0; i < rows; ++i) {
        std::string gsm = "0532" + std::to_string(1000000 + i);
        std::string text = "Sevgili müşterimiz, doğum gününüz kutlu olsun! #" + std::to_string(i);
        std::string start = FormatIsoDateTime(now), end = FormatIsoDateTime(now + 1),
                    stamp = FormatIsoDateTime(now + i / 86400000.0);
        sqlite3_bind_int(st, 1, 4);
        sqlite3_bind_text(st, 2, gsm.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, text.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(st, 4, 0);
        sqlite3_bind_null(st, 5);
        sqlite3_bind_null(st, 6);
        sqlite3_bind_int(st, 7, 0);
        sqlite3_bind_text(st, 8, start.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 9, end.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(st, 10, 1);
        sqlite3_bind_text(st, 11, stamp.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_null(st, 12);
        sqlite3_bind_null(st, 13);
        sqlite3_bind_null(st, 14);
        Check(sqlite3_step(st), db);
        sqlite3_reset(st);
        if (sqlite3_last_insert_rowid(db) <= 0) std::abort();
    }
    sqlite3_finalize(st);
    double s = watch.Seconds();
    sqlite3_close(db);
    return s;
}

// The facade holds every column of every row once it is open; this is the same work done raw.
double RawReadAllColumns(const std::string& path, int rows) {
    sqlite3* db = OpenRaw(path);
    bench::Stopwatch watch;
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(db, "SELECT * FROM tbNuvoListe WHERE durum = 0 ORDER BY kayit_tarihi", -1, &st, nullptr),
          db);
    std::vector<std::vector<db::Value>> result;
    const int columns = sqlite3_column_count(st);
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::vector<db::Value> row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c) {
            switch (sqlite3_column_type(st, c)) {
            case SQLITE_INTEGER: row.push_back(db::Value::Integer(sqlite3_column_int64(st, c))); break;
            case SQLITE_FLOAT: row.push_back(db::Value::Float(sqlite3_column_double(st, c))); break;
            case SQLITE_TEXT:
                row.push_back(db::Value::Text(reinterpret_cast<const char*>(sqlite3_column_text(st, c))));
                break;
            default: row.push_back(db::Value::Null());
            }
        }
        result.push_back(std::move(row));
    }
    sqlite3_finalize(st);
    size_t bytes = 0;
    for (const auto& row : result) {
        bytes += row[2].s.size() + row[3].s.size() + static_cast<size_t>(row[0].i > 0);
        TDateTime d = 0;
        bytes += static_cast<size_t>(TryParseIsoDateTime(row[11].s, d));
    }
    if (static_cast<int>(result.size()) != rows || bytes == 0) std::abort();
    double s = watch.Seconds();
    sqlite3_close(db);
    return s;
}

double RawRead(const std::string& path, int rows) {
    sqlite3* db = OpenRaw(path);
    bench::Stopwatch watch;
    sqlite3_stmt* st = nullptr;
    Check(sqlite3_prepare_v2(db, "SELECT * FROM tbNuvoListe WHERE durum = 0 ORDER BY kayit_tarihi", -1, &st, nullptr),
          db);
    size_t bytes = 0;
    int n = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
        bytes += std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 2))).size();
        bytes += std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, 3))).size();
        bytes += static_cast<size_t>(sqlite3_column_int(st, 0) > 0);
        TDateTime d = 0;
        bytes += static_cast<size_t>(TryParseIsoDateTime(reinterpret_cast<const char*>(sqlite3_column_text(st, 11)), d));
        ++n;
    }
    sqlite3_finalize(st);
    if (n != rows || bytes == 0) std::abort();
    double s = watch.Seconds();
    sqlite3_close(db);
    return s;
}

} // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    const std::string dir = platform::TempDirectory();
    const std::string facadeDb = FreshDatabase(dir + "velmora-bench-facade.db");
    const std::string rawDb = FreshDatabase(dir + "velmora-bench-raw.db");

    std::printf("%d rows, autocommitted, WAL + synchronous=NORMAL on both sides\n", rows);
    const double rawWrite = RawWrite(rawDb, rows);
    bench::Report("raw sqlite3: prepared INSERT per row", rawWrite, rows);
    const double facadeWrite = FacadeWrite(facadeDb, rows);
    bench::Report("facade: Append / FieldByName / Post", facadeWrite, rows);
    const double rawRead = RawRead(rawDb, rows);
    bench::Report("raw sqlite3: SELECT and read columns", rawRead, rows);
    const double rawReadAll = RawReadAllColumns(rawDb, rows);
    bench::Report("raw sqlite3: SELECT, every column held", rawReadAll, rows);
    const double facadeRead = FacadeRead(facadeDb, rows);
    bench::Report("facade: Open / FieldByName / Next", facadeRead, rows);
    std::printf("ratio facade/raw: write %.2fx, read %.2fx (%.2fx against holding every column), "
                "write+read %.2fx\n",
                facadeWrite / rawWrite, facadeRead / rawRead, facadeRead / rawReadAll,
                (facadeWrite + facadeRead) / (rawWrite + rawRead));
    RemoveDb(facadeDb);
    RemoveDb(rawDb);
    return 0;
}
