// Queue rows that a campaign routine gathers are written in chunks: the same rows as one insert per
// message, far fewer statements, and one refused row keeps only itself out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <string>
#include <vector>

#include "campaigns/SMSCheck.h"
#include "db/DbConnection.h"
#include "db/MultiRowInsert.h"
#include "tests/RequestCountingBackend.h"
#include "tests/TestSupport.h"

using namespace velmora;
using campaigns::TSMSCheck;
using queue::TMesajGrubu;
using test::DT;
using ::testing::HasSubstr;

namespace {

// Every column of every row a statement reads, as stored, read past the facade.
std::vector<std::string> StoredRows(const std::string& path, const char* sql) {
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return {"<cannot open>"};
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::string row;
        for (int c = 0; c < sqlite3_column_count(st); ++c) {
            const unsigned char* p = sqlite3_column_text(st, c);
            row += std::string(sqlite3_column_name(st, c)) + "=" + (p ? reinterpret_cast<const char*>(p) : "<null>") + ";";
        }
        rows.push_back(row);
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

// The queue rows, in id order.
std::vector<std::string> StoredQueue(const std::string& path) {
    return StoredRows(path, "SELECT * FROM tbNuvoListe ORDER BY id");
}

class QueueChunks : public ::testing::Test {
protected:
    // A tenant database whose session counts its requests.
    std::string Tenant(const std::string& name, db::TDbConnection& c, test::RequestCounter& counter) {
        const std::string path = test::MakeTenantDatabase(dir_, name);
        c.AttachBackend(std::make_unique<test::RequestCountingBackend>(db::OpenSqliteBackend(path), &counter));
        c.ExecSQL("SET DATEFORMAT dmy");
        counter.requests = 0;
        return path;
    }

    // Message i of a run: texts with quotes and non-ASCII letters, windows that differ per message.
    static void Add(TSMSCheck& check, db::TDbConnection& c, int i, const std::string& gsm) {
        check.AddToQueue(c, i % 2 ? TMesajGrubu::mgMusteri : TMesajGrubu::mgDogumGunu, gsm,
                         "Sayın 'Ayşe' #" + std::to_string(i), i % 3 == 0, DT(2013, 3, 22, 10, i % 60, 0),
                         DT(2013, 3, 23, 10, 0, 0, i % 1000), 1 + i % 2);
    }

    static std::string Gsm(int i) { return "0532" + std::to_string(1000000 + i); }

    test::TempDir dir_;
};

// The statements a chunked write of n rows needs at most: per chunk of 1,000 messages, as many statements
// as the parameter limit asks for (five parameters per queue row).
long long StatementsFor(int n) {
    const int perStatement = static_cast<int>(db::kMaxParamsPerInsert / 5);
    long long statements = 0;
    for (int left = n; left > 0; left -= static_cast<int>(db::kMaxRowsPerInsert)) {
        const int chunk = std::min(left, static_cast<int>(db::kMaxRowsPerInsert));
        statements += (chunk + perStatement - 1) / perStatement;
    }
    return statements;
}

TEST_F(QueueChunks, SameRowsAsOneInsertPerMessageAcrossChunkBoundaries) {
    for (int n : {1, 399, 400, 401, 1000, 1001, 2001}) {
        test::FixedClock clock(2013, 3, 22, 9, 41, 12, 345);
        test::RequestCounter oneByOneCount, chunkedCount;
        db::TDbConnection oneByOne, chunked;
        const std::string expected = Tenant("alone" + std::to_string(n) + ".db", oneByOne, oneByOneCount);
        const std::string actual = Tenant("chunked" + std::to_string(n) + ".db", chunked, chunkedCount);
        TSMSCheck reference, check;
        for (int i = 0; i < n; ++i) Add(reference, oneByOne, i, Gsm(i));
        {
            TSMSCheck::QueueChunkScope scope(check);
            for (int i = 0; i < n; ++i) Add(check, chunked, i, Gsm(i));
        }
        EXPECT_EQ(check.ExecutionResult, "") << n;
        const std::vector<std::string> rows = StoredQueue(actual);
        ASSERT_EQ(rows.size(), static_cast<size_t>(n));
        EXPECT_EQ(rows, StoredQueue(expected)) << n << " rows";
        EXPECT_LE(chunkedCount.requests, StatementsFor(n)) << n << " rows";
    }
}

TEST_F(QueueChunks, RowsAreWrittenWhenTheScopeEndsOrAFlushAsksForThem) {
    test::FixedClock clock(2013, 3, 22, 9, 0, 0);
    test::RequestCounter counter;
    db::TDbConnection c;
    const std::string path = Tenant("flush.db", c, counter);
    TSMSCheck check;
    {
        TSMSCheck::QueueChunkScope outer(check);
        {
            TSMSCheck::QueueChunkScope inner(check);
            for (int i = 0; i < 3; ++i) Add(check, c, i, Gsm(i));
        }
        EXPECT_EQ(StoredQueue(path).size(), 0u) << "an inner scope leaves the writing to the outermost";
        check.FlushQueue();
        EXPECT_EQ(StoredQueue(path).size(), 3u) << "a flush writes before a dependent write";
        Add(check, c, 3, Gsm(3));
    }
    EXPECT_EQ(StoredQueue(path).size(), 4u);
    // Outside any routine a message is written at once.
    Add(check, c, 4, Gsm(4));
    EXPECT_EQ(StoredQueue(path).size(), 5u);
}

TEST_F(QueueChunks, RefusedRowInsideAChunkKeepsItsMessageAndTheOthersAreQueued) {
    struct Case {
        int rows;
        std::vector<int> refused;
    };
    const Case cases[] = {{10, {4}}, {1001, {0, 399, 400, 999, 1000}}};
    for (const Case& k : cases) {
        test::FixedClock clock(2013, 3, 22, 9, 0, 0);
        test::RequestCounter counter;
        db::TDbConnection c;
        const std::string path = Tenant("refused" + std::to_string(k.rows) + ".db", c, counter);
        test::RunSqliteScript(path, "CREATE TRIGGER trReject BEFORE INSERT ON tbNuvoListe WHEN NEW.gsm LIKE 'bad%' "
                                    "BEGIN SELECT RAISE(ABORT, 'number rejected by the server'); END;");
        TSMSCheck check;
        std::vector<std::string> queued;
        {
            TSMSCheck::QueueChunkScope scope(check);
            for (int i = 0; i < k.rows; ++i) {
                const bool bad = std::find(k.refused.begin(), k.refused.end(), i) != k.refused.end();
                const std::string gsm = bad ? "bad" + std::to_string(i) : Gsm(i);
                if (!bad) queued.push_back(gsm);
                Add(check, c, i, gsm);
            }
        }
        EXPECT_THAT(check.ExecutionResult, HasSubstr("number rejected by the server")) << k.rows;
        db::TDbQuery q(&c);
        q.SetSQL("SELECT gsm FROM tbNuvoListe ORDER BY id");
        q.Open();
        std::vector<std::string> stored;
        for (int i = 0, n = q.RecordCount(); i < n; ++i, q.Next()) stored.push_back(q.FieldByName("gsm").AsString());
        EXPECT_EQ(stored, queued) << k.rows << " rows";
    }
}

// The record rows stored, in insertion order.
std::vector<std::string> StoredRecords(const std::string& path) {
    return StoredRows(path, "SELECT AlisVerisId FROM tbNuvoAlisverisGonderilen ORDER BY rowid");
}

// After-purchase messages, each followed by its record row: gathered and written in chunks they leave what
// writing them one by one leaves, also when a message or a record row inside a chunk is refused (a refused
// record row ends the routine: the messages after it stay out, its own is queued).
TEST_F(QueueChunks, MessagesWithTheirRecordRowsLeaveWhatOneByOneLeaves) {
    struct Case {
        int rows;
        int refusedMessage;  // -1: none
        int refusedRecord;   // -1: none
    };
    const Case cases[] = {{1000, -1, -1}, {1001, -1, -1}, {10, 3, -1}, {10, -1, 6}, {1001, 999, 1000}, {1500, 20, 1200}};
    for (const Case& k : cases) {
        const std::string name = std::to_string(k.rows) + "_" + std::to_string(k.refusedMessage) + "_" +
                                 std::to_string(k.refusedRecord);
        test::FixedClock clock(2013, 3, 22, 9, 41, 12, 345);
        test::RequestCounter oneByOneCount, chunkedCount;
        db::TDbConnection oneByOne, chunked;
        const std::string expected = Tenant("alone" + name + ".db", oneByOne, oneByOneCount);
        const std::string actual = Tenant("chunked" + name + ".db", chunked, chunkedCount);
        const std::string refusals =
            "CREATE TRIGGER trRejectMessage BEFORE INSERT ON tbNuvoListe WHEN NEW.gsm = '" + Gsm(k.refusedMessage) +
            "' BEGIN SELECT RAISE(ABORT, 'number rejected'); END;\n"
            "CREATE TRIGGER trRejectRecord BEFORE INSERT ON tbNuvoAlisverisGonderilen WHEN NEW.AlisVerisId = '" +
            std::to_string(k.refusedRecord) + "' BEGIN SELECT RAISE(ABORT, 'record refused'); END;";
        test::RunSqliteScript(expected, refusals);
        test::RunSqliteScript(actual, refusals);
        auto run = [&](TSMSCheck& check, db::TDbConnection& c) {
            for (int i = 0; i < k.rows; ++i) {
                Add(check, c, i, Gsm(i));
                check.AddRecordRow(c, {"tbNuvoAlisverisGonderilen", "AlisVerisId", db::Value::Integer(i)});
            }
        };
        TSMSCheck reference, check;
        try {
            run(reference, oneByOne);
        } catch (const std::exception& e) {
            reference.ExecutionResult = e.what();  // as the routine's own boundary keeps it
        }
        {
            TSMSCheck::QueueChunkScope scope(check);
            run(check, chunked);
        }
        EXPECT_EQ(check.ExecutionResult.empty(), reference.ExecutionResult.empty()) << name;
        if (!reference.ExecutionResult.empty()) {
            EXPECT_THAT(check.ExecutionResult, HasSubstr(k.refusedRecord >= 0 ? "record refused" : "number rejected"))
                << name;
        }
        EXPECT_EQ(StoredQueue(actual), StoredQueue(expected)) << name;
        EXPECT_EQ(StoredRecords(actual), StoredRecords(expected)) << name;
        if (k.refusedMessage < 0 && k.refusedRecord < 0) {
            // Per chunk: the transaction's begin and commit, the queue rows' statements, one for the records.
            const long long chunks = (k.rows + 999) / 1000;
            EXPECT_LE(chunkedCount.requests, StatementsFor(k.rows) + 3 * chunks) << name;
        }
    }
}

} // namespace
