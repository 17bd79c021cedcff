// Verdicts written in chunks and kept in the journal: the end state of every row is what one update per
// answer entry gives, a refused row costs only itself, an unwritable database costs one attempt.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "db/DbConnection.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "queue/VerdictJournal.h"
#include "queue/VerdictWriter.h"
#include "tests/TestSupport.h"

using namespace velmora;
using queue::TVerdict;
using queue::TVerdictBatch;
using queue::TVerdictKind;

namespace {

// The embedded backend, with every statement it is given recorded; optionally failing every write as a
// locked database does.
class RecordingBackend : public db::IDbBackend {
public:
    RecordingBackend(std::unique_ptr<db::IDbBackend> inner, std::vector<std::string>& log) : inner_(std::move(inner)), log_(log) {}
    bool locked = false;
    void Execute(const std::string& sql, const std::vector<db::Value>& params, db::ResultData* result) override {
        log_.push_back(sql);
        if (locked && sql.rfind("UPDATE", 0) == 0) throw EDatabaseError("database is locked");
        inner_->Execute(sql, params, result);
    }
    int64_t LastIdentity() override { return inner_->LastIdentity(); }
    std::string KeyColumn(const std::string& t) override { return inner_->KeyColumn(t); }
    std::vector<std::string> TableColumns(const std::string& t) override { return inner_->TableColumns(t); }
    bool TryLockSendReport() override { return inner_->TryLockSendReport(); }
    void UnlockSendReport() override { inner_->UnlockSendReport(); }
private:
    std::unique_ptr<db::IDbBackend> inner_;
    std::vector<std::string>& log_;
};

struct Row {
    int durum;
    bool raporNull;
    int64_t raporId;
    std::string aciklama;
    bool operator==(const Row&) const = default;
};
void PrintTo(const Row& r, std::ostream* os) {
    *os << "{" << r.durum << ", " << (r.raporNull ? std::string("NULL") : std::to_string(r.raporId)) << ", '" << r.aciklama << "'}";
}

class VerdictWriterTest : public testing::Test {
protected:
    void SetUp() override {
        path_ = test::MakeTenantDatabase(dir_, "tenant.db");
        auto backend = std::make_unique<RecordingBackend>(db::OpenSqliteBackend(path_), statements_);
        backend_ = backend.get();
        tenant_.AttachBackend(std::move(backend));
    }
    // n rows, ids 1..n, at the given state.
    void Queue(int n, int durum = 0) {
        test::RunSqliteScript(path_, "WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM k WHERE i < " +
                                         std::to_string(n) + ") INSERT INTO tbNuvoListe (gsm, mesaj, durum, kayit_tarihi) "
                                         "SELECT '0532' || i, 'M' || i, " + std::to_string(durum) +
                                         ", '2026-12-10 09:00:00.000' FROM k;");
    }
    std::vector<Row> Rows() {
        db::TDbQuery q(&tenant_);
        q.SetSQL("SELECT durum, rapor_id, aciklama FROM tbNuvoListe ORDER BY id");
        q.Open();
        std::vector<Row> rows;
        for (int i = 0; i < q.RecordCount(); ++i, q.Next())
            rows.push_back({q.FieldByName("durum").AsInteger(), q.FieldByName("rapor_id").IsNull(),
                            q.FieldByName("rapor_id").AsInteger(), q.FieldByName("aciklama").AsString()});
        return rows;
    }

    test::TempDir dir_;
    std::string path_;
    std::vector<std::string> statements_;
    RecordingBackend* backend_ = nullptr;
    db::TDbConnection tenant_;
};

TVerdict Sent(int64_t id, int64_t raporId, std::string text) {
    return TVerdict{id, raporId < 0 ? 2 : 1, raporId, std::move(text)};
}

// Each answer given as entries in answer order; the reference is one update per entry, as rows were
// written before chunks.
struct AnswerCase {
    const char* name;
    std::vector<TVerdict> entries;
};
void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

class ChunkedEqualsPerRow : public VerdictWriterTest, public testing::WithParamInterface<AnswerCase> {};

TEST_P(ChunkedEqualsPerRow, SendAnswer) {
    Queue(5);
    queue::TVerdictCollector collector(TVerdictKind::Send);
    for (const TVerdict& v : GetParam().entries) collector.Add(v);
    queue::TApplyOutcome o = queue::ApplyVerdicts(tenant_, collector.Batch());
    EXPECT_FALSE(o.Stopped);
    EXPECT_EQ(o.FirstError, "");
    std::vector<Row> chunked = Rows();

    test::RunSqliteScript(path_, "UPDATE tbNuvoListe SET durum = 0, rapor_id = NULL, aciklama = NULL;");
    for (const TVerdict& v : GetParam().entries) {
        db::TDbQuery q(&tenant_);
        q.SetSQL("SELECT * FROM tbNuvoListe WHERE id = :id");
        q.ParamByName("id").SetValue(v.Id);
        q.Open();
        if (q.RecordCount() == 0) continue;
        q.Edit();
        q.FieldByName("rapor_id").SetValue(v.RaporId);
        q.FieldByName("aciklama").SetValue(v.Aciklama);
        q.FieldByName("durum").SetValue(v.Durum);
        q.Post();
    }
    EXPECT_EQ(chunked, Rows());
}

const AnswerCase kAnswers[] = {
    {"AcceptedAndRefused", {Sent(1, 5001, "OK"), Sent(2, -3, "Numara hatalı"), Sent(4, 0, "")}},
    {"RepeatedIdLaterEntryStands", {Sent(3, 7001, "ilk"), Sent(1, 7002, "OK"), Sent(3, -9, "sonra")}},
    {"TextsTheStatementMustCarry",
     {Sent(1, 1, "O'Neil; DROP TABLE tbNuvoListe --"), Sent(2, 2, "N'x' ''"), Sent(3, 3, "Çiçek\tşğüİı\nsatır"),
      Sent(5, 5, "?:id @p \\ %d")}},
    {"IdsThatNameNoRow", {Sent(99, 1, "yok"), Sent(2, 2, "OK")}},
};
INSTANTIATE_TEST_SUITE_P(Answers, ChunkedEqualsPerRow, testing::ValuesIn(kAnswers),
                         [](const testing::TestParamInfo<AnswerCase>& i) { return std::string(i.param.name); });

TEST_F(VerdictWriterTest, ChunksHoldAFixedNumberOfRowsEachCommittedOnItsOwn) {
    const int k = static_cast<int>(queue::kVerdictChunkRows);
    for (int n : {k, k + 1, 1000, 1001}) {
        SCOPED_TRACE(n);
        test::RunSqliteScript(path_, "DELETE FROM tbNuvoListe; DELETE FROM sqlite_sequence;");
        Queue(n);
        TVerdictBatch batch;
        for (int id = 1; id <= n; ++id) batch.Items.push_back(Sent(id, 1000 + id, "OK"));
        statements_.clear();
        std::vector<size_t> progress;
        queue::TApplyOutcome o = queue::ApplyVerdicts(tenant_, batch, [&](size_t done) { progress.push_back(done); });
        EXPECT_EQ(o.AppliedCount(), static_cast<size_t>(n));
        std::vector<size_t> expected;
        for (int done = k; done < n + k; done += k) expected.push_back(static_cast<size_t>(std::min(done, n)));
        EXPECT_EQ(statements_.size(), expected.size());
        EXPECT_EQ(progress, expected);
        std::set<std::string> texts(statements_.begin(), statements_.end());
        EXPECT_EQ(texts.size(), n % k == 0 ? 1u : 2u) << "every full chunk has the same text";
        std::vector<Row> rows = Rows();
        EXPECT_EQ(rows.front(), (Row{1, false, 1001, "OK"}));
        EXPECT_EQ(rows.back(), (Row{1, false, 1000 + n, "OK"}));
    }
}

TEST_F(VerdictWriterTest, ARefusedRowInsideAChunkCostsOnlyThatRow) {
    Queue(6);
    // Row 3 refuses its text, row 5 refuses any change of state.
    test::RunSqliteScript(path_, R"(
CREATE TRIGGER noText BEFORE UPDATE OF aciklama ON tbNuvoListe WHEN NEW.id = 3 AND NEW.aciklama IS NOT NULL
BEGIN SELECT RAISE(ABORT, 'row 3 takes no text'); END;
CREATE TRIGGER noState BEFORE UPDATE OF durum ON tbNuvoListe WHEN NEW.id = 5 AND NEW.durum <> OLD.durum
BEGIN SELECT RAISE(ABORT, 'row 5 stays'); END;)");
    TVerdictBatch batch;
    for (int id = 1; id <= 6; ++id) batch.Items.push_back(Sent(id, 100 + id, "OK"));
    queue::TApplyOutcome o = queue::ApplyVerdicts(tenant_, batch);
    EXPECT_FALSE(o.Stopped);
    EXPECT_EQ(o.StateOnly, 1u);
    EXPECT_EQ(o.Refused, 1u);
    EXPECT_NE(o.FirstError.find("row 3 takes no text"), std::string::npos) << o.FirstError;
    EXPECT_EQ(o.Applied, (std::vector<bool>{true, true, true, true, false, true}));
    std::vector<Row> rows = Rows();
    EXPECT_EQ(rows[2], (Row{1, false, 103, ""}));
    EXPECT_EQ(rows[4], (Row{0, true, 0, ""}));
    EXPECT_EQ(rows[5], (Row{1, false, 106, "OK"}));
}

TEST_F(VerdictWriterTest, AnUnwritableDatabaseCostsOneAttemptNotOnePerRow) {
    Queue(2500);
    TVerdictBatch batch;
    for (int id = 1; id <= 2500; ++id) batch.Items.push_back(Sent(id, id, "OK"));
    backend_->locked = true;
    statements_.clear();
    queue::TApplyOutcome o = queue::ApplyVerdicts(tenant_, batch);
    EXPECT_TRUE(o.Stopped);
    EXPECT_EQ(o.AppliedCount(), 0u);
    EXPECT_EQ(statements_.size(), 1u);
    EXPECT_NE(o.FirstError.find("locked"), std::string::npos);
}

TEST_F(VerdictWriterTest, AVerdictWrittenTwiceChangesNothingAndNeverMovesARowBack) {
    Queue(3);
    TVerdictBatch sent{TVerdictKind::Send, {Sent(1, 11, "OK"), Sent(2, -2, "Red"), Sent(3, 13, "OK")}};
    queue::ApplyVerdicts(tenant_, sent);
    TVerdictBatch reported{TVerdictKind::Report, {TVerdict{1, 3, 0, "İletildi."}, TVerdict{2, 3, 0, "İletildi."}}};
    queue::ApplyVerdicts(tenant_, reported);
    const std::vector<Row> after = {{3, false, 11, "İletildi."}, {2, false, -2, "Red"}, {1, false, 13, "OK"}};
    EXPECT_EQ(Rows(), after);
    // A journal replayed after its verdicts were written, or after the rows moved on.
    queue::ApplyVerdicts(tenant_, sent);
    queue::ApplyVerdicts(tenant_, reported);
    EXPECT_EQ(Rows(), after);
}

TEST_F(VerdictWriterTest, TheWriteProofChangesNothingAndFailsOnALockedDatabase) {
    Queue(1);
    queue::ProveVerdictsWritable(tenant_, 1);
    EXPECT_EQ(Rows(), (std::vector<Row>{{0, true, 0, ""}}));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    try {
        queue::ProveVerdictsWritable(tenant_, 1);
        ADD_FAILURE() << "a held write lock is noticed";
    } catch (const EDatabaseError& e) {
        EXPECT_TRUE(queue::IsDatabaseUnwritable(e.what())) << e.what();
    }
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
}

TEST(VerdictText, FitsTheColumnInUtf16Units) {
    const std::string emoji = "\xF0\x9F\x98\x80";  // two UTF-16 units
    const struct { std::string text; size_t units; std::string fitted; } cases[] = {
        {std::string(1000, 'a'), 1000, std::string(1000, 'a')},
        {std::string(1001, 'a'), 1000, std::string(1000, 'a')},
        {"ığüşöç", 4, "ığüş"},
        {"a" + emoji, 2, "a"},
        {"a" + emoji, 3, "a" + emoji},
        {"", 1000, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(queue::FitAciklama(c.text, c.units), c.fitted) << c.text.size();
}

// A database that cannot be written stops the writing (the rest waits in the journal); a refusal of one
// row's values must not, or that row would hold the tenant's journal for ever.
TEST(VerdictFailure, TellsAnUnwritableDatabaseFromARefusedRow) {
    const std::pair<const char*, bool> cases[] = {
        {"database is locked", true},
        {"database or disk is full", true},
        {"attempt to write a readonly database", true},
        {"disk I/O error", true},
        {"The database connection is not open", true},
        {"Lock request time out period exceeded.", true},
        {"The transaction log for database 'Kiraci' is full due to 'LOG_BACKUP'.", true},
        {"Failed to update database \"Kiraci\" because the database is read-only.", true},
        {"[Microsoft][ODBC SQL Server Driver]Query timeout expired", true},
        {"[Microsoft][ODBC SQL Server Driver][DBNETLIB]General network error. Check your network documentation.", true},
        {"aciklama is too long", false},
        {"String or binary data would be truncated.", false},
        {"The UPDATE statement conflicted with the CHECK constraint \"ck_durum\".", false},
        {"row 5 stays", false},
    };
    for (const auto& [message, unwritable] : cases) EXPECT_EQ(queue::IsDatabaseUnwritable(message), unwritable) << message;
}

TEST(VerdictCollector, TheLaterEntryOfARowStandsInThePlaceOfTheFirst) {
    queue::TVerdictCollector c(TVerdictKind::Send);
    EXPECT_EQ(c.Add(Sent(5, 1, "a")), 0u);
    EXPECT_EQ(c.Add(Sent(6, 2, "b")), 1u);
    EXPECT_EQ(c.Add(Sent(5, -1, "c")), 0u);
    ASSERT_EQ(c.Batch().Items.size(), 2u);
    EXPECT_EQ(c.Batch().Items[0].Aciklama, "c");
    EXPECT_EQ(c.Batch().Items[0].Durum, 2);
}

// The journal's file: round trip of every character a text may hold, refusal of what is not whole.
TEST(VerdictJournal, KeepsEveryTextAndRefusesAnIncompleteOrForeignFile) {
    TVerdictBatch batch{TVerdictKind::Report,
                        {TVerdict{1, 3, 0, "tab\there\nnew\\line\r"}, TVerdict{2, 3, 0, ""}, TVerdict{9, 3, 0, "Çağrı"}}};
    const std::string text = queue::TVerdictJournal::Encode("sqlite:/a.db\nA", batch);
    TVerdictBatch back = queue::TVerdictJournal::Decode("sqlite:/a.db\nA", text);
    EXPECT_EQ(back.Kind, TVerdictKind::Report);
    ASSERT_EQ(back.Items.size(), 3u);
    EXPECT_EQ(back.Items[0].Aciklama, batch.Items[0].Aciklama);
    EXPECT_EQ(back.Items[2].Id, 9);

    EXPECT_THROW(queue::TVerdictJournal::Decode("sqlite:/b.db\nB", text), EFileError);
    const std::string cut = text.substr(0, text.rfind("son"));
    EXPECT_THROW(queue::TVerdictJournal::Decode("sqlite:/a.db\nA", cut), EFileError);
    EXPECT_THROW(queue::TVerdictJournal::Decode("sqlite:/a.db\nA", text.substr(0, text.size() - 1)), EFileError);
}

TEST(VerdictJournal, IsSavedWholeOwnerOnlyAndRemoved) {
    test::TempDir dir;
    queue::TVerdictJournal j(dir.File("kararlar"), "sqlite:/x.db\nx", "x/y:z");
    EXPECT_FALSE(j.Exists());
    j.Save(TVerdictBatch{TVerdictKind::Send, {Sent(1, 2, "OK")}});
    EXPECT_TRUE(j.Exists());
    EXPECT_EQ(j.Path().rfind(dir.File("kararlar") + platform::PathSeparator() + "x_y_z-", 0), 0u) << j.Path();
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(::stat(j.Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600);
#endif
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.File("kararlar"))) files += e.is_regular_file();
    EXPECT_EQ(files, 1u) << "no temporary file is left behind";
    EXPECT_EQ(j.Load().Items.at(0).RaporId, 2);
    j.Remove();
    EXPECT_FALSE(j.Exists());
}

} // namespace
