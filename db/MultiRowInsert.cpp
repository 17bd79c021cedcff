// Multi-row INSERT statements within SQL Server's limits.
#include "db/MultiRowInsert.h"

#include "db/DbConnection.h"

namespace velmora::db {

namespace {

// How many parameters the row needs: every value that is neither NULL nor an integer.
size_t ParamsOf(const std::vector<Value>& row) {
    size_t n = 0;
    for (const Value& v : row)
        if (!v.IsNull() && v.kind != ValueKind::Integer) ++n;
    return n;
}

void AppendRow(std::string& sql, std::vector<Value>& params, const std::vector<Value>& row) {
    sql += '(';
    for (size_t c = 0; c < row.size(); ++c) {
        if (c) sql += ", ";
        const Value& v = row[c];
        if (v.IsNull()) {
            sql += "NULL";
        } else if (v.kind == ValueKind::Integer) {
            sql += std::to_string(v.i);
        } else {
            sql += '?';
            params.push_back(v);
        }
    }
    sql += ')';
}

} // namespace

InsertStatement BuildMultiRowInsert(const std::string& table, const std::vector<std::string>& columns,
                                    const std::vector<std::vector<Value>>& rows, size_t first, size_t last) {
    InsertStatement st;
    st.sql = "INSERT INTO " + table + " (";
    for (size_t c = 0; c < columns.size(); ++c) {
        if (c) st.sql += ", ";
        st.sql += columns[c];
    }
    st.sql += ") VALUES ";
    last = std::min(last, rows.size());
    size_t paramCount = 0;
    for (size_t r = first; r < last && st.rows < kMaxRowsPerInsert; ++r) {
        const size_t needed = ParamsOf(rows[r]);
        // The first row always goes in: a row alone never needs more than the columns it has.
        if (st.rows > 0 && paramCount + needed > kMaxParamsPerInsert) break;
        if (st.rows > 0) st.sql += ", ";
        AppendRow(st.sql, st.params, rows[r]);
        paramCount += needed;
        ++st.rows;
    }
    return st;
}

void ExecuteInsert(TDbConnection& connection, const InsertStatement& statement) {
    connection.Backend().Execute(statement.sql, statement.params, nullptr);
}

} // namespace velmora::db
