#pragma once
// TDbConnection and TDbQuery: one database session, and one statement with its fully read result,
// ":name" parameters, typed field reads and row append/edit/post on a single table.
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>
#include "db/DbBackend.h"
#include "platform/Money.h"

namespace velmora::db {

class TDbConnection {
public:
    TDbConnection() = default;
    ~TDbConnection();
    TDbConnection(const TDbConnection&) = delete;
    TDbConnection& operator=(const TDbConnection&) = delete;

    std::string ProviderName;  // always "SQL Server"; not consulted
    std::string Server;
    std::string Database;
    std::string Username;
    std::string Password;
    ConnectionOptions Options;  // time-outs and driver settings, taken at the next connect

    bool Connected() const { return backend_ != nullptr; }
    // true opens the session with the four values (throws EDatabaseError, staying closed);
    // false closes it, harmless when already closed.
    void SetConnected(bool value);

    // The tenant's send/report lock (see IDbBackend::TryLockSendReport); throws EDatabaseError when closed.
    bool TryLockSendReport() { return Backend().TryLockSendReport(); }
    void UnlockSendReport() { Backend().UnlockSendReport(); }

    // Runs a complete statement; any result is ignored.
    void ExecSQL(const std::string& sql);

    IDbBackend& Backend();  // throws EDatabaseError when closed

    // The key column of a table, asked of the server once per session: every appended queue row needs it.
    const std::string& KeyColumnOf(const std::string& table);

    // The columns of an empty append open ("SELECT * FROM t WHERE <key> = -1"), kept per statement text for
    // the session: every single-row insert opens one, and its answer cannot change while the schema stands.
    // A new session starts without any; ExecSQL forgets them, since it may change a table.
    const std::vector<ColumnDesc>* AppendColumns(const std::string& sql) const;
    void KeepAppendColumns(const std::string& sql, std::vector<ColumnDesc> columns);
    void ForgetAppendColumns() { appendColumns_.clear(); }

    // Tests: open over a backend made elsewhere.
    void AttachBackend(std::unique_ptr<IDbBackend> backend) { backend_ = std::move(backend); }

private:
    std::unique_ptr<IDbBackend> backend_;
    std::unordered_map<std::string, std::string> keyColumns_;
    std::unordered_map<std::string, std::vector<ColumnDesc>> appendColumns_;
};

class TDbQuery;

class TParam {
public:
    std::string Name;
    Value value;
    void SetValue(const Value& v) { value = v; }
    void SetValue(int64_t v) { value = Value::Integer(v); }
    void SetValue(int v) { value = Value::Integer(v); }
    void SetAsDate(TDateTime d) { value = Value::DateTime(d); }
};

class TField {
public:
    TField(TDbQuery* query, int index) : query_(query), index_(index) {}

    const std::string& FieldName() const;
    std::string AsString() const;
    int32_t AsInteger() const;
    Currency AsCurrency() const;
    TDateTime AsDateTime() const;
    Value AsVariant() const;
    bool IsNull() const;

    void SetValue(const Value& v);
    void SetValue(int64_t v) { SetValue(Value::Integer(v)); }
    void SetValue(int v) { SetValue(Value::Integer(v)); }
    void SetValue(const std::string& v) { SetValue(Value::Text(v)); }
    void SetValue(const char* v) { SetValue(Value::Text(v)); }
    void SetDateTime(TDateTime v) { SetValue(Value::DateTime(v)); }
    void Clear();
    // Large-object field: the column's bytes replace the file's content.
    void SaveToFile(const std::string& path) const;

private:
    Value Current() const;
    TDbQuery* query_;
    int index_;
};

class TDbQuery {
public:
    TDbQuery() = default;
    explicit TDbQuery(TDbConnection* connection) : connection_(connection) {}
    ~TDbQuery();
    TDbQuery(const TDbQuery&) = delete;
    TDbQuery& operator=(const TDbQuery&) = delete;

    void SetConnection(TDbConnection* connection) { connection_ = connection; }
    TDbConnection* Connection() const { return connection_; }

    // Sets the statement text and rebuilds the parameters from its ":name" markers.
    void SetSQL(const std::string& sql);
    const std::string& SQL() const { return sql_; }
    TParam& ParamByName(const std::string& name);  // throws EDatabaseError when the text has no such marker

    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    void SetActive(bool value);
    bool Active() const { return active_; }

    int RecordCount() const;
    void First();
    void Next();
    bool Eof() const;

    TField& FieldByName(const std::string& name);  // letter case ignored; throws when absent
    int FieldCount() const;
    TField& Fields(int number);                   // 1 .. FieldCount

    void Append();
    void Edit();
    void Post();
    void Cancel();  // drops the row being inserted or changed
    bool Locate(const std::string& column, const Value& value);

private:
    friend class TField;
    enum class State { Browse, Insert, Edit };

    void ShowResult(ResultData&& data);  // holds a freshly read result and makes the query active
    void RequireActive() const;
    int ColumnIndex(const std::string& name) const;  // -1 when absent
    Value CellAt(int column) const;
    void WriteCell(int column, const Value& v);
    // The value of the row being posted for that column as it is bound: a NULL with the column's kind.
    Value Bound(size_t column) const;
    void IndexRow(size_t row);
    // Update of the current row of a table without key, found by the values read; see Post.
    void UpdateByValuesRead(const std::string& sets, std::vector<Value> values);

    TDbConnection* connection_ = nullptr;
    std::string sql_;
    std::string preparedSql_;                 // markers replaced by '?'
    std::vector<TParam> params_;              // one per distinct name
    std::vector<int> markerOrder_;            // param index per '?' in preparedSql_

    bool active_ = false;
    ResultData result_;
    std::vector<std::unique_ptr<TField>> fields_;
    std::vector<std::string> lowerNames_;
    size_t current_ = 0;

    State state_ = State::Browse;
    std::vector<Value> buffer_;
    std::vector<bool> written_;

    std::string table_;       // the single table of the statement, empty when not writable
    std::string keyColumn_;   // resolved on first write
    int keyIndex_ = -1;

    // Rows this query inserted into a table without key: per column, whether the table holds what the
    // row shows (columns never written took the table's defaults, which are not read back).
    std::unordered_map<size_t, std::vector<bool>> knownCells_;

    // Locate's lookups: column -> value -> row, built on first use and kept up to date by Post.
    std::unordered_map<int, std::unordered_map<int64_t, size_t>> intIndex_;
};

} // namespace velmora::db
