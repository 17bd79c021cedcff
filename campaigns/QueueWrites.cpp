// AddToQueue and the chunked writing of the queue rows (and record rows) that a campaign routine gathers.
#include <algorithm>
#include <exception>

#include "campaigns/SMSCheck.h"
#include "db/MultiRowInsert.h"
#include "platform/Clock.h"

namespace velmora::campaigns {

using db::TDbConnection;
using db::TDbQuery;
using db::Value;

namespace {

// The queue row's columns in the order they are set.
const std::vector<std::string>& QueueColumns() {
    static const std::vector<std::string> kColumns = {
        "mesaj_grubu", "gsm", "mesaj", "durum", "rapor_id", "aciklama", "hemen_gonder", "gonderme_baslangic",
        "gonderme_bitis", "sms_sayisi", "kayit_tarihi", "gonderme_tarihi", "originator", "sms_tipi"};
    return kColumns;
}

constexpr const char* kQueueTable = "tbNuvoListe";

} // namespace

std::vector<Value> TSMSCheck::QueueRowValues(queue::TMesajGrubu group, const std::string& gsm,
                                             const std::string& message, bool sendImmediately, TDateTime windowStart,
                                             TDateTime windowEnd, int32_t smsCount) {
    return {Value::Integer(queue::Ord(group)),
            Value::Text(gsm),
            Value::Text(message),
            Value::Integer(queue::Ord(queue::TMesajDurumu::mdBeklemede)),
            Value::Null(),
            Value::Null(),
            Value::Integer(sendImmediately ? 1 : 0),
            Value::DateTime(windowStart),
            Value::DateTime(windowEnd),
            Value::Integer(smsCount),
            Value::DateTime(platform::Now()),
            Value::Null(),
            Value::Null(),
            Value::Null()};
}

void TSMSCheck::InsertQueueRow(TDbConnection& connection, const std::vector<Value>& row) {
    KeepFailure(connection.Database, "Kuyruğa mesaj eklenemedi", [&] {
        TDbQuery q(&connection);
        q.SetSQL("SELECT * FROM tbNuvoListe WHERE id = -1");
        q.Open();
        q.Append();
        const std::vector<std::string>& columns = QueueColumns();
        for (size_t c = 0; c < columns.size(); ++c) q.FieldByName(columns[c]).SetValue(row[c]);
        q.Post();
        q.Close();
    });
}

void TSMSCheck::InsertRecordRow(TDbConnection& connection, const TRecordRow& record) {
    db::ExecuteInsert(connection, db::BuildMultiRowInsert(record.table, {record.column}, {{record.value}}, 0, 1));
}

void TSMSCheck::AddToQueue(TDbConnection& connection, queue::TMesajGrubu group, const std::string& gsm,
                           const std::string& message, bool sendImmediately, TDateTime windowStart,
                           TDateTime windowEnd, int32_t smsCount) {
    std::vector<Value> row = QueueRowValues(group, gsm, message, sendImmediately, windowStart, windowEnd, smsCount);
    if (chunkScopes_ == 0) {
        InsertQueueRow(connection, row);
        return;
    }
    // Nothing gathered after a failed record row is written: the routine ends at its next record row.
    if (recordFailure_) return;
    try {
        PendOn(connection);
        if (recordWaiting_) {
            pending_.back().queueRow = std::move(row);
            recordWaiting_ = false;
            return;
        }
        if (pending_.size() >= db::kMaxRowsPerInsert) FlushQueue();
        pending_.push_back({std::move(row), false, {}});
    } catch (...) {
        recordFailure_ = std::current_exception();  // raised by the next record row or the scope's end
    }
}

void TSMSCheck::AddRecordRow(TDbConnection& connection, TRecordRow record) {
    if (chunkScopes_ == 0) {
        InsertRecordRow(connection, record);
        return;
    }
    if (recordFailure_) FlushQueue();  // raises it
    PendOn(connection);
    const bool attach = !record.beforeMessage && !recordWaiting_ && !pending_.empty() &&
                        !pending_.back().queueRow.empty() && !pending_.back().hasRecord;
    recordWaiting_ = false;
    if (attach) {
        pending_.back().hasRecord = true;
        pending_.back().record = std::move(record);
        return;
    }
    if (pending_.size() >= db::kMaxRowsPerInsert) FlushQueue();
    const bool waits = record.beforeMessage;
    pending_.push_back({{}, true, std::move(record)});
    recordWaiting_ = waits;
}

// Rows gathered for one connection are written before rows for another are gathered.
void TSMSCheck::PendOn(TDbConnection& connection) {
    if (pendingConnection_ != &connection) FlushQueue();
    pendingConnection_ = &connection;
}

void TSMSCheck::FlushQueue() {
    if (recordFailure_) {
        std::exception_ptr failure = recordFailure_;
        recordFailure_ = nullptr;
        pending_.clear();
        recordWaiting_ = false;
        std::rethrow_exception(failure);
    }
    try {
        for (size_t first = 0; first < pending_.size(); first += db::kMaxRowsPerInsert)
            WritePendingChunk(first, std::min(pending_.size(), first + db::kMaxRowsPerInsert));
    } catch (...) {
        pending_.clear();
        recordWaiting_ = false;
        throw;
    }
    pending_.clear();
    recordWaiting_ = false;
}

// One chunk of gathered writes. Record rows that come before their messages (prepaid orders) go first, in
// one statement; then the queue rows in multi-row statements. Record rows that follow their messages
// (after-purchase) go with the queue rows in one transaction: should a record row fail, the messages after
// it must not have been queued, and only a transaction can take back a queue row already written. A chunk
// that cannot be written so is written row by row, in the routine's order.
void TSMSCheck::WritePendingChunk(size_t first, size_t last) {
    TDbConnection& connection = *pendingConnection_;
    std::vector<std::vector<Value>> records;
    bool before = true, after = true;
    const TRecordRow* recordKind = nullptr;
    for (size_t i = first; i < last; ++i) {
        const TPendingWrite& w = pending_[i];
        if (!w.hasRecord) continue;
        if (!recordKind) recordKind = &w.record;
        const bool sameKind = w.record.table == recordKind->table && w.record.column == recordKind->column;
        before = before && sameKind && w.record.beforeMessage;
        after = after && sameKind && !w.record.beforeMessage;
        records.push_back({w.record.value});
    }
    auto rowByRow = [&] {
        // In the routine's order, so a failing record row stops where it stopped when every row was written
        // alone: the messages after it (its own too, when it comes first) stay out.
        for (size_t i = first; i < last; ++i) {
            const TPendingWrite& w = pending_[i];
            if (w.hasRecord && w.record.beforeMessage) InsertRecordRow(connection, w.record);
            if (!w.queueRow.empty()) InsertQueueRow(connection, w.queueRow);
            if (w.hasRecord && !w.record.beforeMessage) InsertRecordRow(connection, w.record);
        }
    };
    // The chunk's queue rows; taken out of the gathered writes where no row-by-row writing can follow.
    auto queueRows = [&](bool take) {
        std::vector<std::vector<Value>> rows;
        rows.reserve(last - first);
        for (size_t i = first; i < last; ++i) {
            if (pending_[i].queueRow.empty()) continue;
            if (take) rows.push_back(std::move(pending_[i].queueRow));
            else rows.push_back(pending_[i].queueRow);
        }
        return rows;
    };
    if (recordKind && after) {
        if (!WriteChunkTogether(connection, *recordKind, records, queueRows(false))) rowByRow();
        return;
    }
    bool chunked = !recordKind || before;
    if (chunked && recordKind) {
        const db::InsertStatement st =
            db::BuildMultiRowInsert(recordKind->table, {recordKind->column}, records, 0, records.size());
        chunked = st.rows == records.size();
        if (chunked) {
            try {
                db::ExecuteInsert(connection, st);
            } catch (const std::exception&) {
                chunked = false;  // the statement wrote nothing; row by row finds the row that fails
            }
        }
    }
    if (!chunked) {
        rowByRow();
        return;
    }
    const std::vector<std::vector<Value>> rows = queueRows(true);
    db::WriteRowsInChunks(connection, kQueueTable, QueueColumns(), rows, 0, rows.size(),
                          [&](size_t i) { InsertQueueRow(connection, rows[i]); });
}

bool TSMSCheck::WriteChunkTogether(TDbConnection& connection, const TRecordRow& kind,
                                   const std::vector<std::vector<Value>>& records,
                                   const std::vector<std::vector<Value>>& rows) {
    try {
        connection.ExecSQL("BEGIN TRANSACTION");
    } catch (const std::exception&) {
        return false;
    }
    try {
        // The messages first, then their records, in the order row-by-row writing gives them.
        for (size_t i = 0; i < rows.size();) {
            const db::InsertStatement st = db::BuildMultiRowInsert(kQueueTable, QueueColumns(), rows, i, rows.size());
            db::ExecuteInsert(connection, st);
            i += st.rows;
        }
        for (size_t i = 0; i < records.size();) {
            const db::InsertStatement st = db::BuildMultiRowInsert(kind.table, {kind.column}, records, i, records.size());
            db::ExecuteInsert(connection, st);
            i += st.rows;
        }
        connection.ExecSQL("COMMIT TRANSACTION");
        return true;
    } catch (const std::exception&) {
        try {
            connection.ExecSQL("ROLLBACK TRANSACTION");
        } catch (const std::exception&) {
            // Already rolled back by the server (a deadlock victim, a severe error); row by row follows.
        }
        return false;
    }
}

TSMSCheck::QueueChunkScope::QueueChunkScope(TSMSCheck& check) : check_(check) {
    if (check_.chunkScopes_++ == 0) check_.recordFailure_ = nullptr;
}

TSMSCheck::QueueChunkScope::~QueueChunkScope() {
    if (--check_.chunkScopes_ > 0) return;
    // Also on the way out of a failed routine: what was gathered before the failure is written, as it was
    // when every row went alone. A failed record row ends the routine's writing with its message.
    const std::string tenant = check_.pendingConnection_ ? check_.pendingConnection_->Database : std::string();
    check_.KeepFailure(tenant, "Kuyruk yazılamadı", [this] { check_.FlushQueue(); });
    check_.pendingConnection_ = nullptr;
}

} // namespace velmora::campaigns
