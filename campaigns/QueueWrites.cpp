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

// One chunk of gathered writes. Record rows that come before their messages go first, in one statement;
// then the queue rows in multi-row statements. A record row that follows its message (after-purchase) keeps
// the rows going one by one: should it fail, the messages after it must not have been queued, and a queue
// row written in a multi-row statement cannot be taken back.
void TSMSCheck::WritePendingChunk(size_t first, size_t last) {
    TDbConnection& connection = *pendingConnection_;
    std::vector<std::vector<Value>> records;
    bool chunked = true;
    const TRecordRow* recordKind = nullptr;
    for (size_t i = first; i < last; ++i) {
        const TPendingWrite& w = pending_[i];
        if (!w.hasRecord) continue;
        if (!recordKind) recordKind = &w.record;
        chunked = chunked && w.record.beforeMessage && w.record.table == recordKind->table &&
                  w.record.column == recordKind->column;
        records.push_back({w.record.value});
    }
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
        // In the routine's order, so a failing record row stops where it stopped when every row was written
        // alone: its own message and every later one stay out.
        for (size_t i = first; i < last; ++i) {
            const TPendingWrite& w = pending_[i];
            if (w.hasRecord && w.record.beforeMessage) InsertRecordRow(connection, w.record);
            if (!w.queueRow.empty()) InsertQueueRow(connection, w.queueRow);
            if (w.hasRecord && !w.record.beforeMessage) InsertRecordRow(connection, w.record);
        }
        return;
    }
    std::vector<std::vector<Value>> rows;
    rows.reserve(last - first);
    for (size_t i = first; i < last; ++i)
        if (!pending_[i].queueRow.empty()) rows.push_back(std::move(pending_[i].queueRow));
    db::WriteRowsInChunks(connection, kQueueTable, QueueColumns(), rows, 0, rows.size(),
                          [&](size_t i) { InsertQueueRow(connection, rows[i]); });
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
