#include "db/DbConnection.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <regex>

#include "db/SqlLexer.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Regional.h"
#include "platform/Text.h"
#include "xml/XmlEncoding.h"

namespace velmora::db {

namespace {

using platform::IsAsciiSpace;

bool IsNameStart(char c) { return platform::IsAsciiLetter(c) || c == '_'; }
bool IsNameChar(char c) { return platform::IsAsciiLetterOrDigit(c) || c == '_'; }

// Skips a quoted literal, identifier or comment starting at i; returns the index after it, or i when none starts there.
size_t SkipQuoted(const std::string& sql, size_t i) { return sql::SkipLiteralOrComment(sql, i); }

std::string ValueText(const Value& v) {
    switch (v.kind) {
    case ValueKind::Null: return {};
    case ValueKind::Integer: return std::to_string(v.i);
    case ValueKind::Text:
    case ValueKind::Blob: return v.s;
    case ValueKind::DateTime: return platform::FormatDateTimeShort(v.f);
    case ValueKind::Float: return platform::FormatFloatGeneral(v.f);
    }
    return {};
}

bool ValueToInt64(const Value& v, int64_t& out) {
    switch (v.kind) {
    case ValueKind::Integer: out = v.i; return true;
    case ValueKind::Float:
    case ValueKind::DateTime:
        if (!std::isfinite(v.f)) return false;
        out = static_cast<int64_t>(std::llround(v.f));
        return true;
    case ValueKind::Text: return platform::ParseWhole(platform::TrimView(v.s), out, true);
    default: return false;
    }
}

} // namespace

// ---------------------------------------------------------------- statement text helpers

std::string ReplaceParamMarkers(const std::string& sql, std::vector<std::string>& names) {
    names.clear();
    std::string out;
    out.reserve(sql.size());
    size_t i = 0;
    while (i < sql.size()) {
        size_t skip = SkipQuoted(sql, i);
        if (skip != i) {
            out.append(sql, i, skip - i);
            i = skip;
            continue;
        }
        char c = sql[i];
        // "::" is not a marker; a colon directly followed by a name is.
        if (c == ':' && i + 1 < sql.size() && IsNameStart(sql[i + 1]) && (i == 0 || sql[i - 1] != ':')) {
            size_t j = i + 1;
            while (j < sql.size() && IsNameChar(sql[j])) ++j;
            names.push_back(sql.substr(i + 1, j - i - 1));
            out += '?';
            i = j;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

std::string AppendOpenColumn(const std::string& sql) {
    // Short texts only: the form is short, and most statements are told apart by their first characters.
    if (sql.size() > 256) return {};
    static const std::regex kForm(R"(^\s*select\s+\*\s+from\s+[A-Za-z_][\w.]*\s+where\s+([A-Za-z_]\w*)\s*=\s*-\s*\d+\s*;?\s*$)",
                                  std::regex::icase);
    std::smatch m;
    return std::regex_match(sql, m, kForm) ? m[1].str() : std::string();
}

std::string SingleTableOf(const std::string& sql) {
    // Tokens outside quotes, at parenthesis depth 0.
    std::vector<std::string> tokens;
    size_t i = 0;
    int depth = 0;
    while (i < sql.size()) {
        size_t skip = SkipQuoted(sql, i);
        char c = sql[i];
        if (skip != i) {
            if (depth == 0 && (c == '[' || c == '"')) tokens.push_back(sql.substr(i + 1, skip - i - 2));
            else if (depth == 0) tokens.push_back("'");
            i = skip;
            continue;
        }
        if (c == '(') { ++depth; ++i; continue; }
        if (c == ')') { --depth; ++i; continue; }
        if (depth != 0 || IsAsciiSpace(c)) { ++i; continue; }
        if (IsNameChar(c)) {
            size_t j = i;
            while (j < sql.size() && (IsNameChar(sql[j]) || sql[j] == '.')) ++j;
            tokens.push_back(sql.substr(i, j - i));
            i = j;
            continue;
        }
        tokens.push_back(std::string(1, c));
        ++i;
    }
    if (tokens.empty() || platform::LowerAscii(tokens[0]) != "select") return {};
    size_t from = std::string::npos;
    for (size_t k = 1; k < tokens.size(); ++k)
        if (platform::LowerAscii(tokens[k]) == "from") { from = k; break; }
    if (from == std::string::npos || from + 1 >= tokens.size()) return {};
    std::string table = tokens[from + 1];
    if (from + 2 < tokens.size()) {
        std::string next = platform::LowerAscii(tokens[from + 2]);
        if (next != "where" && next != "order" && next != ";") return {};
    }
    // A schema prefix ("dbo.tbNuvoListe") stays part of the name the statements use.
    return table;
}

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

// ---------------------------------------------------------------- field

Value TField::Current() const { return query_->CellAt(index_); }

const std::string& TField::FieldName() const { return query_->result_.columns[index_].name; }

bool TField::IsNull() const { return Current().IsNull(); }

std::string TField::AsString() const {
    const Value& v = Current();
    if (v.kind == ValueKind::Float && query_->result_.columns[index_].declared == ValueKind::DateTime)
        return platform::FormatDateTimeShort(v.f);
    return ValueText(v);
}

int32_t TField::AsInteger() const {
    const Value& v = Current();
    if (v.IsNull()) return 0;
    int64_t n = 0;
    if (!ValueToInt64(v, n))
        throw EConvertError("'" + ValueText(v) + "' is not a valid integer value for field '" + FieldName() + "'");
    if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max())
        throw EConvertError("Value " + std::to_string(n) + " of field '" + FieldName() + "' is out of the integer range");
    return static_cast<int32_t>(n);
}

Currency TField::AsCurrency() const {
    const Value& v = Current();
    switch (v.kind) {
    case ValueKind::Null: return {};
    case ValueKind::Integer: return Currency::FromInteger(v.i);
    case ValueKind::Float:
    case ValueKind::DateTime: return Currency::FromDouble(v.f);
    case ValueKind::Text: {
        Currency c;
        if (Currency::TryParse(v.s, c)) return c;
        break;
    }
    case ValueKind::Blob: break;
    }
    throw EConvertError("'" + ValueText(v) + "' is not a valid money value for field '" + FieldName() + "'");
}

TDateTime TField::AsDateTime() const {
    const Value& v = Current();
    switch (v.kind) {
    case ValueKind::Null: return 0.0;
    case ValueKind::DateTime:
    case ValueKind::Float: return v.f;
    case ValueKind::Integer: return static_cast<double>(v.i);
    case ValueKind::Text: {
        TDateTime d = 0;
        if (TryParseIsoDateTime(v.s, d)) return d;
        break;
    }
    case ValueKind::Blob: break;
    }
    throw EConvertError("'" + ValueText(v) + "' is not a valid date and time for field '" + FieldName() + "'");
}

Value TField::AsVariant() const {
    Value v = Current();
    if (v.kind == ValueKind::Float && query_->result_.columns[index_].declared == ValueKind::DateTime)
        v.kind = ValueKind::DateTime;
    return v;
}

void TField::SetValue(const Value& v) { query_->WriteCell(index_, v); }
void TField::Clear() { query_->WriteCell(index_, Value::Null()); }

void TField::SaveToFile(const std::string& path) const {
    const Value& v = Current();
    if (v.kind != ValueKind::Blob && v.kind != ValueKind::Text && v.kind != ValueKind::Null)
        throw EDatabaseError("Field '" + FieldName() + "' is not a large-object field");
    // A text column holds the characters, not the bytes: they are written in the encoding the
    // document's own declaration names, so a reader decodes them as they were stored.
    platform::WriteFileReplacing(path, v.kind == ValueKind::Text ? xml::EncodeAsDeclared(v.s) : v.s);
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
    if (!appendColumn.empty() && data.rows.empty() && platform::EqualsNoCase(connection_->KeyColumnOf(table_), appendColumn))
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
            values.push_back(buffer_[c]);
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
            values.push_back(buffer_[c]);
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
