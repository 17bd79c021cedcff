// The database facade: connections and queries (parameters, rows, append/edit/post) over a backend.
#include "db/DbConnection.h"

#include <algorithm>

#include "db/StatementText.h"
#include "platform/Error.h"
#include "platform/Text.h"

namespace velmora::db {

// ---------------------------------------------------------------- connection

TDbConnection::~TDbConnection() { SetConnected(false); }

void TDbConnection::SetConnected(bool value) {
    if (!value) {
        backend_.reset();
        keyColumns_.clear();
        appendColumns_.clear();
        return;
    }
    if (backend_) return;
    ConnectParams params{Server, Database, Username, Password};
    backend_ = OpenBackend(params, Options);
}

void TDbConnection::ExecSQL(const std::string& sql) {
    appendColumns_.clear();
    Backend().Execute(sql, {}, nullptr);
}

const std::vector<ColumnDesc>* TDbConnection::AppendColumns(const std::string& sql) const {
    auto it = appendColumns_.find(sql);
    return it == appendColumns_.end() ? nullptr : &it->second;
}

void TDbConnection::KeepAppendColumns(const std::string& sql, std::vector<ColumnDesc> columns) {
    appendColumns_[sql] = std::move(columns);
}

IDbBackend& TDbConnection::Backend() {
    if (!backend_) throw EDatabaseError("The database connection is not open");
    return *backend_;
}

const std::string& TDbConnection::KeyColumnOf(const std::string& table) {
    const std::string key = platform::LowerAscii(table);
    auto it = keyColumns_.find(key);
    if (it == keyColumns_.end()) it = keyColumns_.emplace(key, Backend().KeyColumn(table)).first;
    return it->second;
}

// ---------------------------------------------------------------- query

TDbQuery::~TDbQuery() { SetActive(false); }

void TDbQuery::SetSQL(const std::string& sql) {
    SetActive(false);
    sql_ = sql;
    std::vector<std::string> names;
    preparedSql_ = ReplaceParamMarkers(sql, names);
    std::vector<TParam> old = std::move(params_);
    params_.clear();
    markerOrder_.clear();
    for (const std::string& name : names) {
        auto it = std::find_if(params_.begin(), params_.end(),
                               [&](const TParam& p) { return platform::EqualsNoCase(p.Name, name); });
        if (it == params_.end()) {
            TParam p;
            p.Name = name;
            params_.push_back(p);
            it = params_.end() - 1;
        }
        markerOrder_.push_back(static_cast<int>(it - params_.begin()));
    }
    table_ = SingleTableOf(sql);
    keyColumn_.clear();
    keyIndex_ = -1;
}

TParam& TDbQuery::ParamByName(const std::string& name) {
    for (TParam& p : params_)
        if (platform::EqualsNoCase(p.Name, name)) return p;
    throw EDatabaseError("Parameter '" + name + "' not found");
}

void TDbQuery::SetActive(bool value) {
    if (!value) {
        active_ = false;
        result_ = ResultData{};
        fields_.clear();
        lowerNames_.clear();
        intIndex_.clear();
        knownCells_.clear();
        state_ = State::Browse;
        buffer_.clear();
        written_.clear();
        current_ = 0;
        return;
    }
    if (active_) return;
    if (!connection_) throw EDatabaseError("The query has no connection");
    // An append open of a key value that never exists answers with no rows: after the first time its columns
    // come from the connection, without asking the server again.
    const std::string appendColumn = markerOrder_.empty() && !table_.empty() ? AppendOpenColumn(sql_) : std::string();
    if (!appendColumn.empty()) {
        if (const std::vector<ColumnDesc>* columns = connection_->AppendColumns(sql_)) {
            ResultData data;
            data.columns = *columns;
            data.hasResultSet = true;
            ShowResult(std::move(data));
            return;
        }
    }
    std::vector<Value> bound;
    bound.reserve(markerOrder_.size());
    for (int idx : markerOrder_) bound.push_back(params_[idx].value);
    ResultData data;
    connection_->Backend().Execute(preparedSql_, bound, &data);
    if (!appendColumn.empty() && data.rows.empty() &&
        platform::EqualsNoCase(connection_->KeyColumnOf(table_), appendColumn))
        connection_->KeepAppendColumns(sql_, data.columns);
    ShowResult(std::move(data));
}

void TDbQuery::ShowResult(ResultData&& data) {
    result_ = std::move(data);
    fields_.clear();
    lowerNames_.clear();
    for (size_t c = 0; c < result_.columns.size(); ++c) {
        fields_.push_back(std::make_unique<TField>(this, static_cast<int>(c)));
        lowerNames_.push_back(platform::LowerAscii(result_.columns[c].name));
    }
    current_ = 0;
    state_ = State::Browse;
    active_ = true;
}

void TDbQuery::RequireActive() const {
    if (!active_) throw EDatabaseError("The query is not open");
}

int TDbQuery::RecordCount() const { return active_ ? static_cast<int>(result_.rows.size()) : 0; }

void TDbQuery::First() {
    RequireActive();
    if (state_ != State::Browse) Post();
    current_ = 0;
}

void TDbQuery::Next() {
    RequireActive();
    if (state_ != State::Browse) Post();
    if (current_ < result_.rows.size()) ++current_;
}

bool TDbQuery::Eof() const { return !active_ || current_ >= result_.rows.size(); }

int TDbQuery::ColumnIndex(const std::string& name) const {
    // Called for every field read of every row: compares in place instead of lowering a copy.
    for (size_t c = 0; c < lowerNames_.size(); ++c) {
        const std::string& low = lowerNames_[c];
        if (low.size() != name.size()) continue;
        size_t i = 0;
        while (i < low.size() && low[i] == platform::LowerAscii(name[i])) ++i;
        if (i == low.size()) return static_cast<int>(c);
    }
    return -1;
}

TField& TDbQuery::FieldByName(const std::string& name) {
    RequireActive();
    int c = ColumnIndex(name);
    if (c < 0) throw EDatabaseError("Field '" + name + "' not found");
    return *fields_[c];
}

int TDbQuery::FieldCount() const { return active_ ? static_cast<int>(fields_.size()) : 0; }

TField& TDbQuery::Fields(int number) {
    RequireActive();
    if (number < 1 || number > static_cast<int>(fields_.size()))
        throw EDatabaseError("Field number " + std::to_string(number) + " is out of range");
    return *fields_[number - 1];
}

Value TDbQuery::CellAt(int column) const {
    if (state_ != State::Browse) return buffer_[column];
    if (current_ < result_.rows.size()) return result_.rows.At(current_, static_cast<size_t>(column));
    return Value::Null();
}

void TDbQuery::WriteCell(int column, const Value& v) {
    if (state_ == State::Browse) throw EDatabaseError("The query is not in edit or insert mode");
    buffer_[column] = v;
    written_[column] = true;
}

void TDbQuery::Append() {
    RequireActive();
    if (state_ != State::Browse) Post();
    if (table_.empty()) throw EDatabaseError("The statement does not read a single table; rows cannot be added");
    buffer_.assign(result_.columns.size(), Value::Null());
    written_.assign(result_.columns.size(), false);
    state_ = State::Insert;
}

void TDbQuery::Edit() {
    RequireActive();
    if (state_ == State::Edit) return;
    if (state_ == State::Insert) Post();
    if (current_ >= result_.rows.size()) throw EDatabaseError("There is no current row to edit");
    if (table_.empty()) throw EDatabaseError("The statement does not read a single table; rows cannot be changed");
    buffer_ = result_.rows.ValuesOf(current_);
    written_.assign(result_.columns.size(), false);
    state_ = State::Edit;
}

Value TDbQuery::Bound(size_t column) const {
    const Value& v = buffer_[column];
    return v.IsNull() ? Value::NullOf(result_.columns[column].declared) : v;
}

void TDbQuery::Post() {
    RequireActive();
    if (state_ == State::Browse) return;
    IDbBackend& backend = connection_->Backend();
    if (keyColumn_.empty()) {
        keyColumn_ = connection_->KeyColumnOf(table_);
        keyIndex_ = keyColumn_.empty() ? -1 : ColumnIndex(keyColumn_);
    }
    std::vector<Value> values;
    std::string sql;
    if (state_ == State::Insert) {
        std::string cols, marks;
        for (size_t c = 0; c < buffer_.size(); ++c) {
            if (!written_[c]) continue;
            if (!cols.empty()) { cols += ", "; marks += ", "; }
            cols += result_.columns[c].name;
            marks += '?';
            values.push_back(Bound(c));
        }
        sql = cols.empty() ? "INSERT INTO " + table_ + " DEFAULT VALUES"
                           : "INSERT INTO " + table_ + " (" + cols + ") VALUES (" + marks + ")";
        backend.Execute(sql, values, nullptr);
        // A row given its key by hand could be the one an append open asks for.
        if (keyIndex_ >= 0 && written_[keyIndex_]) connection_->ForgetAppendColumns();
        // Only the identity is read back; every other column keeps what was written.
        if (keyIndex_ >= 0 && !written_[keyIndex_]) buffer_[keyIndex_] = Value::Integer(backend.LastIdentity());
        if (keyIndex_ < 0) knownCells_[result_.rows.size()] = written_;
        result_.rows.push_back(std::move(buffer_));
        current_ = result_.rows.size() - 1;
        IndexRow(current_);
    } else {
        if (keyIndex_ >= 0 && buffer_[keyIndex_].IsNull())
            throw EDatabaseError("The row of table '" + table_ + "' cannot be identified for an update: its key is NULL");
        std::string sets;
        for (size_t c = 0; c < buffer_.size(); ++c) {
            if (!written_[c]) continue;
            if (!sets.empty()) sets += ", ";
            sets += result_.columns[c].name + " = ?";
            values.push_back(Bound(c));
        }
        if (!values.empty()) {
            if (keyIndex_ < 0) {
                UpdateByValuesRead(sets, std::move(values));
            } else {
                values.push_back(result_.rows[current_][keyIndex_]);
                sql = "UPDATE " + table_ + " SET " + sets + " WHERE " + keyColumn_ + " = ?";
                backend.Execute(sql, values, nullptr);
            }
            for (size_t c = 0; c < buffer_.size(); ++c)
                if (written_[c]) intIndex_.erase(static_cast<int>(c));  // rebuilt on the next Locate
            result_.rows.Set(current_, buffer_);
        }
    }
    buffer_.clear();
    written_.clear();
    state_ = State::Browse;
}

namespace {

// One term of a row match: the column equals the value read, NULL-safe. Date-times match within two
// milliseconds either side: servers keep them coarser (SQL Server's datetime in 1/300 s) or finer
// than the milliseconds read or written.
void AppendMatchTerm(std::string& where, std::vector<Value>& values, const ColumnDesc& column, const Value& v) {
    if (!where.empty()) where += " AND ";
    const std::string name = column.name;
    if (v.IsNull()) {
        where += name + " IS NULL";
        return;
    }
    const std::string cast = column.compareAs;
    const std::string col = cast.empty() ? name : "CAST(" + name + " AS " + cast + ")";
    const std::string mark = cast.empty() ? "?" : "CAST(? AS " + cast + ")";
    if (v.kind == ValueKind::DateTime) {
        const double twoMs = 2.0 / 86400000.0;
        where += "(" + col + " >= " + mark + " AND " + col + " <= " + mark + ")";
        values.push_back(Value::DateTime(v.f - twoMs));
        values.push_back(Value::DateTime(v.f + twoMs));
        return;
    }
    where += col + " = " + mark;
    values.push_back(v);
}

} // namespace

// A table without identity or primary key: the row is the one whose every column read still holds
// the value read. The statement changes a row only when exactly one matches, so rows that cannot be
// told apart are never changed together; anything but one row changed is an error.
void TDbQuery::UpdateByValuesRead(const std::string& sets, std::vector<Value> values) {
    const auto original = result_.rows[current_];
    auto known = knownCells_.find(current_);
    std::string where;
    std::vector<Value> matchValues;
    for (size_t c = 0; c < original.size(); ++c) {
        if (known != knownCells_.end() && !known->second[c]) continue;  // a default never read back
        AppendMatchTerm(where, matchValues, result_.columns[c], original[c]);
    }
    if (where.empty()) where = "1 = 1";
    IDbBackend& backend = connection_->Backend();
    values.insert(values.end(), matchValues.begin(), matchValues.end());
    values.insert(values.end(), matchValues.begin(), matchValues.end());
    ResultData outcome;
    backend.Execute("UPDATE " + table_ + " SET " + sets + " WHERE " + where + " AND (SELECT COUNT(*) FROM " + table_ +
                        " WHERE " + where + ") = 1",
                    values, &outcome);
    if (outcome.rowsAffected == 1 || outcome.rowsAffected < 0) {
        if (known != knownCells_.end())
            for (size_t c = 0; c < written_.size(); ++c)
                if (written_[c]) known->second[c] = true;
        return;
    }
    ResultData count;
    backend.Execute("SELECT COUNT(*) FROM " + table_ + " WHERE " + where, matchValues, &count);
    int64_t matching = 0;
    if (!count.rows.empty() && !count.rows[0].empty()) ValueToInt64(count.rows[0][0], matching);
    if (matching == 0)
        throw EDatabaseError("The row of table '" + table_ + "' (a table without identity or primary key) was not "
                             "updated: no row holds the values read any more; another session changed or deleted it");
    if (matching == 1)
        throw EDatabaseError("The row of table '" + table_ + "' (a table without identity or primary key) was not "
                             "updated: another session changed the table while the row was being updated");
    throw EDatabaseError("The row of table '" + table_ + "' (a table without identity or primary key) was not "
                         "updated: " + std::to_string(matching) + " rows hold the same values and cannot be told "
                         "apart; give the table a key or make its rows differ");
}

void TDbQuery::Cancel() {
    buffer_.clear();
    written_.clear();
    state_ = State::Browse;
}

void TDbQuery::IndexRow(size_t row) {
    for (auto& [column, index] : intIndex_) {
        int64_t key = 0;
        if (ValueToInt64(result_.rows[row][column], key)) index.emplace(key, row);
    }
}

bool TDbQuery::Locate(const std::string& column, const Value& value) {
    RequireActive();
    if (state_ != State::Browse) Post();
    int c = ColumnIndex(column);
    if (c < 0) throw EDatabaseError("Field '" + column + "' not found");
    int64_t wanted = 0;
    if (!ValueToInt64(value, wanted)) return false;
    auto it = intIndex_.find(c);
    if (it == intIndex_.end()) {
        auto& index = intIndex_[c];
        index.reserve(result_.rows.size());
        for (size_t r = 0; r < result_.rows.size(); ++r) {
            int64_t key = 0;
            if (ValueToInt64(result_.rows[r][c], key)) index.emplace(key, r);
        }
        it = intIndex_.find(c);
    }
    auto hit = it->second.find(wanted);
    if (hit == it->second.end()) return false;
    current_ = hit->second;
    return true;
}

} // namespace velmora::db
