// The T-SQL dialect layer on arbitrary text: the statement rewriter, the date literal reader and the unit
// names. The first byte picks the session's date order; the rest is the text. Every rewritten statement
// is prepared (never run) on an in-memory database with the tenant schema and the registered functions.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <sstream>
#include <string>

#include "db/TsqlDialect.h"
#include "platform/DateTime.h"
#include "platform/Error.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace velmora;
namespace tsql = velmora::db::tsql;

namespace {

const char* const kOrders[] = {"mdy", "dmy", "ymd", "ydm", "myd", "dym"};

bool ValidOrder(const std::string& f) {
    for (const char* o : kOrders)
        if (f == o) return true;
    return false;
}

class Database {
public:
    Database() {
        if (sqlite3_open(":memory:", &db_) != SQLITE_OK) fuzz::Fault("sqlite", "cannot open an in-memory database");
        tsql::RegisterFunctions(db_, &state_);
        std::ifstream in(VELMORA_SOURCE_DIR "/tools/schema/tenant.sqlite.sql", std::ios::binary);
        std::ostringstream schema;
        schema << in.rdbuf();
        char* error = nullptr;
        if (!in || sqlite3_exec(db_, schema.str().c_str(), nullptr, nullptr, &error) != SQLITE_OK)
            fuzz::Fault("the tenant schema could not be created", error ? error : "file not read");
    }
    ~Database() { sqlite3_close(db_); }

    void Prepare(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
        sqlite3_finalize(stmt);
    }

private:
    sqlite3* db_ = nullptr;
    tsql::FunctionState state_;
};

void CheckDateLiteral(const std::string& text, const std::string& order) {
    TDateTime d = 0;
    if (!tsql::ParseDateLiteral(text, order, d)) return;
    const DateTimeParts p = DecodeDateTime(d);
    if (p.year < 1 || p.year > 9999) fuzz::Fault("ParseDateLiteral", "a date outside the years 1..9999");
    // The stored form the rewriter writes must read back as the same moment, whatever the order.
    const std::string stored = FormatIsoDateTime(d);
    TDateTime back = 0;
    if (!tsql::ParseDateLiteral(stored, order, back) || DateTimeToMilliseconds(back) != DateTimeToMilliseconds(d))
        fuzz::Fault("ParseDateLiteral", ("the stored form " + stored + " does not read back").c_str());
}

void CheckUnit(const std::string& word) {
    const std::string unit = tsql::CanonicalDatePartUnit(word);
    if (!unit.empty() && tsql::CanonicalDatePartUnit(unit) != unit)
        fuzz::Fault("CanonicalDatePartUnit", "a canonical name is not its own canonical name");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Database db;
    if (size == 0) return 0;
    const std::string order = kOrders[data[0] % 6];
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    fuzz::NothingEscapes("the dialect layer threw an undocumented error", [&] {
        std::string format = order;
        std::vector<tsql::Statement> statements;
        try {
            statements = tsql::Rewrite(text, format);
        } catch (const EDatabaseError&) {  // SET DATEFORMAT with an unknown order
        }
        if (!ValidOrder(format)) fuzz::Fault("Rewrite", ("left the date order at \"" + format + "\"").c_str());
        for (const tsql::Statement& st : statements) {
            if (st.kind == tsql::Statement::Kind::Sql) db.Prepare(st.text);
            else if (st.kind == tsql::Statement::Kind::SetDateFormat && !ValidOrder(st.text))
                fuzz::Fault("Rewrite", "a SET DATEFORMAT statement with an unknown order");
        }
        CheckDateLiteral(text, order);
        CheckUnit(text);
    });
    return 0;
}
