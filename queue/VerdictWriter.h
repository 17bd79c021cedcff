#pragma once
// The gateway's verdicts on queue rows, and how they reach the queue table: in chunks of rows per
// statement, each chunk committed by itself, a refused chunk retried row by row.
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/DbConnection.h"
#include "platform/Error.h"

namespace velmora::queue {

enum class TVerdictKind { Send, Report };

// What one answer entry decides for one row: for a send verdict durum 1 or 2 with rapor_id and the
// result text; for a report verdict durum 3 with the status description (rapor_id is left alone).
struct TVerdict {
    int64_t Id = 0;
    int Durum = 0;
    int64_t RaporId = 0;
    std::string Aciklama;
};

struct TVerdictBatch {
    TVerdictKind Kind = TVerdictKind::Send;
    std::vector<TVerdict> Items;  // one per row, in the order the answer first named the row
};

struct TApplyOutcome {
    std::vector<bool> Applied;  // per item: its row was written (all columns, or at least the state)
    size_t StateOnly = 0;       // rows written with their state alone, the full update being refused
    size_t Refused = 0;         // rows whose update the database refused even with the state alone
    bool Stopped = false;       // the database could not be written at all; the rest was not tried
    std::string FirstError;     // the first row's failure, or the failure that stopped the writing
    size_t AppliedCount() const;
};

// The queue table cannot be written now: no batch is sent, and verdicts in hand stay in the journal.
class EVerdictsUnwritable : public EDatabaseError {
    using EDatabaseError::EDatabaseError;
};
// The journal could not be written or removed; the verdicts themselves may well be in the table.
class EJournalUnavailable : public EFileError {
    using EFileError::EFileError;
};

// SQL Server takes at most 2,100 parameters in one statement; a chunk of send verdicts binds 7 per row.
// Every full chunk has the same text, so both backends prepare it once.
constexpr size_t kVerdictChunkRows = 250;
// The width of "aciklama" (NVARCHAR(1000)) in UTF-16 units: a longer text is cut, never refused.
constexpr size_t kAciklamaMaxUnits = 1000;

// Keeps the leading part of a UTF-8 text that fits in units UTF-16 units, cut at a character boundary.
std::string FitAciklama(const std::string& text, size_t units = kAciklamaMaxUnits);

// Adds a verdict, replacing an earlier one of the same row in place: where an answer names a row twice,
// the later entry stands, as two successive row updates would leave it.
class TVerdictCollector {
public:
    explicit TVerdictCollector(TVerdictKind kind) { batch_.Kind = kind; }
    // Returns the index of the row's verdict in the batch.
    size_t Add(TVerdict verdict);
    TVerdictBatch& Batch() { return batch_; }
private:
    TVerdictBatch batch_;
    std::unordered_map<int64_t, size_t> index_;
};

// The one statement that writes items [begin, end) of the batch, with its positional parameters. Send
// verdicts touch only rows still pending, report verdicts only rows still at state 1, so writing a batch a
// second time changes nothing. stateOnly leaves "aciklama" out.
struct TVerdictStatement {
    std::string Sql;
    std::vector<db::Value> Params;
};
TVerdictStatement VerdictStatement(const TVerdictBatch& batch, size_t begin, size_t end, bool stateOnly = false);

// Writes the batch chunk by chunk (kVerdictChunkRows rows per statement, each its own commit). A chunk
// the database refuses is written row by row: all columns, else the state columns alone. When a write
// fails because the database cannot be written at all (locked, read-only, full, gone), the remaining
// verdicts are not tried: one bounded wait, not one per row. afterChunk is told the number of items
// written so far after each chunk.
TApplyOutcome ApplyVerdicts(db::TDbConnection& connection, const TVerdictBatch& batch,
                            const std::function<void(size_t done)>& afterChunk = {});

// A real write that changes nothing: the row's state set to itself. Throws EDatabaseError when the
// queue table cannot be written now.
void ProveVerdictsWritable(db::TDbConnection& connection, int64_t id);

// Whether a database error means the database cannot be written at all at the moment (as opposed to a
// refusal of this one row's values).
bool IsDatabaseUnwritable(const std::string& message);

} // namespace velmora::queue
