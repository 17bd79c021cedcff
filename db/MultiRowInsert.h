#pragma once
// Rows of one table written in multi-row INSERT statements that stay within SQL Server's limits.
#include <string>
#include <vector>

#include "db/DbValue.h"

namespace velmora::db {

class TDbConnection;

// SQL Server takes at most 1,000 rows in one VALUES list and 2,100 parameters in one statement.
constexpr size_t kMaxRowsPerInsert = 1000;
constexpr size_t kMaxParamsPerInsert = 2000;

struct InsertStatement {
    std::string sql;            // '?' markers, bound in order from params
    std::vector<Value> params;
    size_t rows = 0;            // how many rows, from the first one asked for, the statement writes
};

// The statement that writes rows[first], rows[first + 1], ... up to rows[last - 1] or as many as fit. NULLs and integers are
// written into the text as literals (they need no parameter, and a NULL parameter costs the ODBC driver
// a describe round trip); texts, dates and fractions are parameters. Every row has one value per column.
InsertStatement BuildMultiRowInsert(const std::string& table, const std::vector<std::string>& columns,
                                    const std::vector<std::vector<Value>>& rows, size_t first, size_t last);

// Writes rows[first] .. rows[last - 1] in as few statements as fit. A statement the database refuses is
// written again row by row through writeOne(index), so one bad row keeps only itself out; writeOne handles
// (or lets escape) that row's failure.
template <typename WriteOne>
void WriteRowsInChunks(TDbConnection& connection, const std::string& table, const std::vector<std::string>& columns,
                       const std::vector<std::vector<Value>>& rows, size_t first, size_t last, WriteOne writeOne);

// Runs one built statement on the connection; throws as the backend does.
void ExecuteInsert(TDbConnection& connection, const InsertStatement& statement);

template <typename WriteOne>
void WriteRowsInChunks(TDbConnection& connection, const std::string& table, const std::vector<std::string>& columns,
                       const std::vector<std::vector<Value>>& rows, size_t first, size_t last, WriteOne writeOne) {
    while (first < last) {
        const InsertStatement st = BuildMultiRowInsert(table, columns, rows, first, last);
        bool written = false;
        try {
            ExecuteInsert(connection, st);
            written = true;
        } catch (const std::exception&) {
            // A refused statement wrote nothing: each of its rows is tried alone.
        }
        if (!written)
            for (size_t i = first; i < first + st.rows; ++i) writeOne(i);
        first += st.rows;
    }
}

} // namespace velmora::db
