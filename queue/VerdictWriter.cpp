// Writing verdicts to the queue table in chunks, with the row-by-row fallback.
#include "queue/VerdictWriter.h"

#include <algorithm>
#include <cctype>

#include "platform/Error.h"

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

// A Unicode text literal both dialects read: quotes doubled, nothing else is special.
void AppendTextLiteral(std::string& out, const std::string& text) {
    out += "N'";
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    out += '\'';
}

template <typename Value>
void AppendCase(std::string& out, const char* column, const TVerdictBatch& batch, size_t begin, size_t end,
                Value value) {
    out += column;
    out += " = CASE id";
    for (size_t i = begin; i < end; ++i) {
        out += " WHEN ";
        out += std::to_string(batch.Items[i].Id);
        out += " THEN ";
        value(batch.Items[i]);
    }
    out += " END";
}

} // namespace

std::string VerdictStatement(const TVerdictBatch& batch, size_t begin, size_t end, bool stateOnly) {
    std::string sql;
    sql.reserve((end - begin) * 64 + 128);
    sql += "UPDATE tbNuvoListe SET ";
    const bool single = end - begin == 1;
    const TVerdict& first = batch.Items[begin];
    if (batch.Kind == TVerdictKind::Send) {
        if (single) {
            sql += "rapor_id = " + std::to_string(first.RaporId);
            if (!stateOnly) {
                sql += ", aciklama = ";
                AppendTextLiteral(sql, first.Aciklama);
            }
            sql += ", durum = " + std::to_string(first.Durum);
        } else {
            AppendCase(sql, "rapor_id", batch, begin, end, [&](const TVerdict& v) { sql += std::to_string(v.RaporId); });
            if (!stateOnly) {
                sql += ", ";
                AppendCase(sql, "aciklama", batch, begin, end, [&](const TVerdict& v) { AppendTextLiteral(sql, v.Aciklama); });
            }
            sql += ", ";
            AppendCase(sql, "durum", batch, begin, end, [&](const TVerdict& v) { sql += std::to_string(v.Durum); });
        }
        sql += " WHERE durum = 0";
    } else {
        sql += "durum = 3";
        if (!stateOnly) {
            sql += ", ";
            if (single) {
                sql += "aciklama = ";
                AppendTextLiteral(sql, first.Aciklama);
            } else {
                AppendCase(sql, "aciklama", batch, begin, end, [&](const TVerdict& v) { AppendTextLiteral(sql, v.Aciklama); });
            }
        }
        sql += " WHERE durum = 1";
    }
    if (single) {
        sql += " AND id = " + std::to_string(first.Id);
    } else {
        sql += " AND id IN (";
        for (size_t i = begin; i < end; ++i) {
            if (i > begin) sql += ", ";
            sql += std::to_string(batch.Items[i].Id);
        }
        sql += ')';
    }
    return sql;
}

bool IsDatabaseUnwritable(const std::string& message) {
    std::string m = message;
    for (char& c : m) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
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
            connection.ExecSQL(VerdictStatement(batch, begin, end));
            std::fill(out.Applied.begin() + static_cast<std::ptrdiff_t>(begin),
                      out.Applied.begin() + static_cast<std::ptrdiff_t>(end), true);
        } catch (const std::exception& e) {
            note(e, false);
            // One bad row must not cost the others their verdicts: this chunk row by row.
            for (size_t i = begin; i < end && !out.Stopped; ++i) {
                try {
                    connection.ExecSQL(VerdictStatement(batch, i, i + 1));
                    out.Applied[i] = true;
                    continue;
                } catch (const std::exception& full) {
                    note(full, true);
                    if (out.Stopped) break;
                }
                try {
                    connection.ExecSQL(VerdictStatement(batch, i, i + 1, true));
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
