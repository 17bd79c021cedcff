// Writing verdicts to the queue table in chunks, with the row-by-row fallback.
#include "queue/VerdictWriter.h"

#include <algorithm>

#include "platform/Error.h"
#include "platform/Text.h"

namespace velmora::queue {

size_t TApplyOutcome::AppliedCount() const { return static_cast<size_t>(std::count(Applied.begin(), Applied.end(), true)); }

std::string FitAciklama(const std::string& text, size_t units) {
    size_t used = 0, i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        const size_t need = len == 4 ? 2 : 1;  // beyond the BMP a character takes two UTF-16 units
        if (used + need > units) return text.substr(0, i);
        used += need;
        i += len;
    }
    return text;
}

size_t TVerdictCollector::Add(TVerdict verdict) {
    auto [it, fresh] = index_.emplace(verdict.Id, batch_.Items.size());
    if (fresh) batch_.Items.push_back(std::move(verdict));
    else batch_.Items[it->second] = std::move(verdict);
    return it->second;
}

namespace {

// "column = CASE id WHEN ? THEN ? ... END" over items [begin, end).
void AppendCase(TVerdictStatement& st, const char* column, const TVerdictBatch& batch, size_t begin, size_t end,
                db::Value (*value)(const TVerdict&)) {
    st.Sql += column;
    st.Sql += " = CASE id";
    for (size_t i = begin; i < end; ++i) {
        st.Sql += " WHEN ? THEN ?";
        st.Params.push_back(db::Value::Integer(batch.Items[i].Id));
        st.Params.push_back(value(batch.Items[i]));
    }
    st.Sql += " END";
}

db::Value RaporIdOf(const TVerdict& v) { return db::Value::Integer(v.RaporId); }
db::Value AciklamaOf(const TVerdict& v) { return db::Value::Text(v.Aciklama); }
db::Value DurumOf(const TVerdict& v) { return db::Value::Integer(v.Durum); }

} // namespace

TVerdictStatement VerdictStatement(const TVerdictBatch& batch, size_t begin, size_t end, bool stateOnly) {
    TVerdictStatement st;
    st.Sql.reserve((end - begin) * 60 + 128);
    st.Params.reserve((end - begin) * 7);
    st.Sql += "UPDATE tbNuvoListe SET ";
    if (batch.Kind == TVerdictKind::Send) {
        AppendCase(st, "rapor_id", batch, begin, end, RaporIdOf);
        if (!stateOnly) {
            st.Sql += ", ";
            AppendCase(st, "aciklama", batch, begin, end, AciklamaOf);
        }
        st.Sql += ", ";
        AppendCase(st, "durum", batch, begin, end, DurumOf);
        st.Sql += " WHERE durum + 0 = 0";
    } else {
        st.Sql += "durum = 3";
        if (!stateOnly) {
            st.Sql += ", ";
            AppendCase(st, "aciklama", batch, begin, end, AciklamaOf);
        }
        st.Sql += " WHERE durum + 0 = 1";
    }
    // The state test is written as an expression so that no server picks the index on durum over the key:
    // that would read every row in that state once per chunk.
    st.Sql += " AND id IN (";
    for (size_t i = begin; i < end; ++i) {
        st.Sql += i > begin ? ", ?" : "?";
        st.Params.push_back(db::Value::Integer(batch.Items[i].Id));
    }
    st.Sql += ')';
    return st;
}

namespace {

void Run(db::TDbConnection& connection, const TVerdictStatement& st) {
    connection.Backend().Execute(st.Sql, st.Params, nullptr);
}

} // namespace

bool IsDatabaseUnwritable(const std::string& message) {
    const std::string m = platform::LowerAscii(message);
    static const char* const kMarks[] = {
        // embedded database
        "database is locked", "table is locked", "schema is locked", "disk is full", "readonly database",
        "disk i/o error", "unable to open database", "not open",
        // SQL Server and its clients
        "lock request time out", "deadlock", "timeout expired", "query timeout", "is full",
        "could not allocate space", "read-only", "communication link failure", "connection is busy",
        "connection failure", "general network error", "tcp provider", "connection is broken",
    };
    for (const char* mark : kMarks)
        if (m.find(mark) != std::string::npos) return true;
    return false;
}

TApplyOutcome ApplyVerdicts(db::TDbConnection& connection, const TVerdictBatch& batch,
                            const std::function<void(size_t done)>& afterChunk) {
    TApplyOutcome out;
    out.Applied.assign(batch.Items.size(), false);
    // A refused chunk is not a row's failure by itself; its rows tell, one by one.
    auto note = [&](const std::exception& e, bool row) {
        const bool unwritable = IsDatabaseUnwritable(e.what());
        if ((row || unwritable) && out.FirstError.empty()) out.FirstError = e.what();
        if (unwritable) out.Stopped = true;
    };
    for (size_t begin = 0; begin < batch.Items.size() && !out.Stopped; begin += kVerdictChunkRows) {
        const size_t end = std::min(batch.Items.size(), begin + kVerdictChunkRows);
        try {
            Run(connection, VerdictStatement(batch, begin, end));
            std::fill(out.Applied.begin() + static_cast<std::ptrdiff_t>(begin),
                      out.Applied.begin() + static_cast<std::ptrdiff_t>(end), true);
        } catch (const std::exception& e) {
            note(e, false);
            // One bad row must not cost the others their verdicts: this chunk row by row.
            for (size_t i = begin; i < end && !out.Stopped; ++i) {
                try {
                    Run(connection, VerdictStatement(batch, i, i + 1));
                    out.Applied[i] = true;
                    continue;
                } catch (const std::exception& full) {
                    note(full, true);
                    if (out.Stopped) break;
                }
                try {
                    Run(connection, VerdictStatement(batch, i, i + 1, true));
                    out.Applied[i] = true;
                    ++out.StateOnly;
                } catch (const std::exception& essential) {
                    note(essential, true);
                    if (!out.Stopped) ++out.Refused;
                }
            }
        }
        if (afterChunk && !out.Stopped) afterChunk(end);
    }
    return out;
}

void ProveVerdictsWritable(db::TDbConnection& connection, int64_t id) {
    connection.ExecSQL("UPDATE tbNuvoListe SET durum = durum WHERE id = " + std::to_string(id));
}

} // namespace velmora::queue
