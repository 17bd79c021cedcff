// The SQL scripts under tools/schema: the record table of after-purchase messages refuses a NULL purchase id
// in both dialects, the purpose-split SQL Server scripts agree with the complete demo schema, and (with a live
// SQL Server) they run twice without harm.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "campaigns/SMSCheck.h"
#include "db/DbConnection.h"
#include "platform/Error.h"
#include "tests/TestSupport.h"

using namespace velmora;
using test::DT;

namespace {

std::string ReadText(const std::string& relative) {
    std::ifstream in(test::SourcePath(relative), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// CREATE TABLE name -> its column lines (from the opening parenthesis to the closing one), as written.
std::map<std::string, std::string> CreatedTables(const std::string& script) {
    std::map<std::string, std::string> tables;
    static const std::regex create(R"(CREATE TABLE (\w+) \(\n([\s\S]*?)\n\);)");
    for (std::sregex_iterator it(script.begin(), script.end(), create), end; it != end; ++it)
        tables[(*it)[1].str()] = (*it)[2].str();
    return tables;
}

// ---------------------------------------------------------------------------------------------
// NULL purchase id in the record table

// One customer and one purchase after the previous check; the after-purchase campaign switched on.
const char* kOnePurchase = R"SQL(
INSERT INTO tbMusteri (nMusteriID, lKodu, sAdi, sSoyadi, sGSM) VALUES (1, 1, 'Ayşe', 'Demir', '0532 111 22 33');
INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, dteKayitTarihi, lNetTutar, lToplamMiktar)
  VALUES (10, 1, '2013-03-22 14:05:00.000', 100, 1);
INSERT INTO tbNuvoAlisVeris (aktif, mesaj, Dakika, gonderme_tipi) VALUES (1, 'Teşekkürler {{MusteriAdi}}', 0, 0);
)SQL";

// The table as older installs declared it: a NULL id is taken.
const char* kNullableRecordTable = R"SQL(
DROP TABLE tbNuvoAlisverisGonderilen;
CREATE TABLE tbNuvoAlisverisGonderilen (id INTEGER PRIMARY KEY AUTOINCREMENT, AlisVerisId VARCHAR(20) COLLATE NOCASE);
)SQL";

struct NullIdCase {
    const char* name;
    bool olderDeclaration;
    bool nullStored;        // whether the NULL row got in
    size_t messagesQueued;  // after-purchase messages for the one new purchase
};

class NullPurchaseId : public test::TenantTest, public ::testing::WithParamInterface<NullIdCase> {};

TEST_P(NullPurchaseId, IsRefusedSoAfterPurchaseMessagesAreNotSilenced) {
    const NullIdCase& c = GetParam();
    if (c.olderDeclaration) Sql(kNullableRecordTable);
    Sql(kOnePurchase);

    // An unrelated purchase already messaged, then a stray row without a purchase id.
    tenant_.ExecSQL("INSERT INTO tbNuvoAlisverisGonderilen (AlisVerisId) VALUES ('7')");
    bool stored = true;
    try {
        tenant_.ExecSQL("INSERT INTO tbNuvoAlisverisGonderilen (AlisVerisId) VALUES (NULL)");
    } catch (const EDatabaseError&) {
        stored = false;
    }
    EXPECT_EQ(stored, c.nullStored);

    test::FixedClock clock(2013, 3, 22, 14, 10, 0);
    campaigns::TSMSCheck check;
    check.CheckAfterPurchase(tenant_, DT(2013, 3, 22, 14, 0, 0));
    EXPECT_EQ(check.ExecutionResult, "");
    EXPECT_EQ(Queue().size(), c.messagesQueued);
}

INSTANTIATE_TEST_SUITE_P(
    Schema, NullPurchaseId,
    ::testing::Values(NullIdCase{"OlderDeclarationShowsTheFault", true, true, 0},
                      NullIdCase{"CurrentSchema", false, false, 1}),
    [](const ::testing::TestParamInfo<NullIdCase>& info) { return std::string(info.param.name); });

// Both dialects, the complete demo schemas and the SQL Server install script: NOT NULL, still a text column
// (the lookup compares it with a quoted text).
class RecordTableDeclaration : public ::testing::TestWithParam<const char*> {};

TEST_P(RecordTableDeclaration, PurchaseIdIsTextAndNotNull) {
    const auto tables = CreatedTables(ReadText(GetParam()));
    auto it = tables.find("tbNuvoAlisverisGonderilen");
    ASSERT_NE(it, tables.end()) << GetParam();
    EXPECT_TRUE(std::regex_search(it->second, std::regex(R"(\n\s*AlisVerisId\s+VARCHAR\(20\) NOT NULL\b)")))
        << GetParam() << ":\n" << it->second;
}

INSTANTIATE_TEST_SUITE_P(Scripts, RecordTableDeclaration,
                         ::testing::Values("tools/schema/tenant.sqlite.sql", "tools/schema/tenant.mssql.sql",
                                           "tools/schema/install-tenant.mssql.sql"));

// ---------------------------------------------------------------------------------------------
// The purpose-split SQL Server scripts

// The system's install script and the demo ERP script together are the complete demo schema, table for
// table and column for column; the install script holds only the system's tables, the demo script none.
TEST(SqlServerScripts, SplitScriptsMatchTheCompleteDemoSchema) {
    const auto complete = CreatedTables(ReadText("tools/schema/tenant.mssql.sql"));
    const auto system = CreatedTables(ReadText("tools/schema/install-tenant.mssql.sql"));
    const auto erp = CreatedTables(ReadText("tools/schema/demo-erp.mssql.sql"));
    ASSERT_FALSE(complete.empty());

    std::map<std::string, std::string> joined = system;
    for (const auto& [name, columns] : erp) {
        EXPECT_TRUE(joined.emplace(name, columns).second) << name << " is created by both scripts";
        EXPECT_NE(name.rfind("tbNuvo", 0), 0u) << name << " belongs to the install script, not the demo one";
    }
    for (const auto& [name, columns] : system) EXPECT_EQ(name.rfind("tbNuvo", 0), 0u) << name;
    EXPECT_EQ(joined, complete);

    EXPECT_EQ(CreatedTables(ReadText("tools/schema/install-program.mssql.sql")),
              CreatedTables(ReadText("tools/schema/program.mssql.sql")));
}

// Every table the program reads or writes is granted to the program's role, and no table of the
// complete schemas is left out.
TEST(SqlServerScripts, GrantsNameEveryTableOfTheSchemas) {
    const std::string grants = ReadText("tools/schema/grants.mssql.sql");
    std::map<std::string, std::string> all = CreatedTables(ReadText("tools/schema/tenant.mssql.sql"));
    for (const auto& t : CreatedTables(ReadText("tools/schema/program.mssql.sql"))) all.insert(t);
    for (const auto& [name, columns] : all)
        EXPECT_NE(grants.find("(N'" + name + "',"), std::string::npos) << name << " has no grant";
    // Nothing the program does deletes a row.
    EXPECT_EQ(grants.find("DELETE"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Live SQL Server (VELMORA_TEST_MSSQL="server;database;user;password")

// The batches of a script: the text between lines that hold only GO.
std::vector<std::string> Batches(const std::string& script) {
    std::vector<std::string> batches;
    std::istringstream in(script);
    std::string line, batch;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line == "GO") {
            batches.push_back(batch);
            batch.clear();
        } else {
            batch += line + "\n";
        }
    }
    if (batch.find_first_not_of(" \n") != std::string::npos) batches.push_back(batch);
    return batches;
}

TEST(SqlServerScriptsLive, InstallTwiceThenNullPurchaseIdIsRefused) {
    const std::optional<db::ConnectParams> live = test::LiveSqlServer();
    if (!live) GTEST_SKIP() << "VELMORA_TEST_MSSQL not set: live SQL Server tests skipped";
    db::TDbConnection conn;
    conn.Server = live->server;
    conn.Database = live->database;
    conn.Username = live->username;
    conn.Password = live->password;
    conn.SetConnected(true);

    for (int round = 0; round < 2; ++round) {
        for (const char* script : {"tools/schema/install-tenant.mssql.sql", "tools/schema/demo-erp.mssql.sql",
                                   "tools/schema/monitoring.mssql.sql", "tools/schema/grants.mssql.sql"}) {
            for (const std::string& batch : Batches(ReadText(script)))
                ASSERT_NO_THROW(conn.ExecSQL(batch)) << script << " (round " << round + 1 << "):\n" << batch;
        }
    }
    EXPECT_THROW(conn.ExecSQL("INSERT INTO tbNuvoAlisverisGonderilen (AlisVerisId) VALUES (NULL)"), EDatabaseError);
}

} // namespace
