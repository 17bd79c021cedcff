// What one session of the SQL Server simulator runs: T-SQL on SQLite through the dialect layer,
// catalog procedures, identity read-back and application locks.
#include "tools/sqlserversim/SqlEngine.h"

#include <sqlite3.h>

#include <algorithm>
#include <unordered_map>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Text.h"

namespace velmora::sqlsim {

namespace {

using db::Value;
using db::ValueKind;
using tds::ColumnType;

using platform::Trim;
constexpr auto IsBlank = platform::IsAsciiSpace;
std::string Lower(std::string_view s) { return platform::LowerAscii(s); }

bool IsNameChar(char c) { return platform::IsAsciiLetterOrDigit(c) || c == '_' || c == '@' || c == '#' || c == '$' || (c & 0x80); }

std::string FirstWord(const std::string& sql) {
    size_t i = 0;
    for (;;) {
        while (i < sql.size() && (IsBlank(sql[i]) || sql[i] == ';')) ++i;
        if (sql.compare(i, 2, "--") == 0) {
            i = sql.find('\n', i);
            if (i == std::string::npos) return {};
        } else if (sql.compare(i, 2, "/*") == 0) {
            i = sql.find("*/", i + 2);
            if (i == std::string::npos) return {};
            i += 2;
        } else {
            break;
        }
    }
    size_t e = i;
    while (e < sql.size() && IsNameChar(sql[e])) ++e;
    return Lower(sql.substr(i, e - i));
}

// A quoted literal after "key =" in the text: N'...' or '...', doubled quotes undone.
std::string LiteralAfter(const std::string& text, const std::string& key) {
    size_t at = Lower(text).find(Lower(key));
    if (at == std::string::npos) return {};
    size_t q = text.find('\'', at + key.size());
    if (q == std::string::npos) return {};
    std::string out;
    for (size_t i = q + 1; i < text.size(); ++i) {
        if (text[i] == '\'') {
            if (i + 1 < text.size() && text[i + 1] == '\'') { out += '\''; ++i; }
            else break;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The text with a trailing "SELECT SCOPE_IDENTITY()" or "SELECT @@IDENTITY" taken off; found
// tells whether there was one.
std::string WithoutIdentitySelect(const std::string& sql, bool& found) {
    found = false;
    std::string lower = Lower(sql);
    size_t end = lower.size();
    while (end > 0 && (IsBlank(lower[end - 1]) || lower[end - 1] == ';')) --end;
    for (const char* tail : {"scope_identity()", "@@identity"}) {
        size_t n = std::char_traits<char>::length(tail);
        if (end < n || lower.compare(end - n, n, tail) != 0) continue;
        size_t i = end - n;
        while (i > 0 && IsBlank(lower[i - 1])) --i;
        if (i < 6 || lower.compare(i - 6, 6, "select") != 0) continue;
        size_t start = i - 6;
        if (start > 0 && IsNameChar(lower[start - 1])) continue;
        found = true;
        return sql.substr(0, start);
    }
    return sql;
}

// The table an INSERT names.
std::string InsertTable(const std::string& sql) {
    std::string lower = Lower(sql);
    size_t at = lower.find("insert");
    if (at == std::string::npos) return {};
    at += 6;
    while (at < sql.size() && IsBlank(sql[at])) ++at;
    if (lower.compare(at, 4, "into") == 0) at += 4;
    while (at < sql.size() && IsBlank(sql[at])) ++at;
    size_t e = at;
    while (e < sql.size() && !IsBlank(sql[e]) && sql[e] != '(') ++e;
    return sql.substr(at, e - at);
}

// "dbo.[tb]" -> "tb".
std::string BareTable(std::string name) {
    size_t dot = name.find_last_of('.');
    if (dot != std::string::npos) name = name.substr(dot + 1);
    if (name.size() >= 2 && ((name.front() == '[' && name.back() == ']') || (name.front() == '"' && name.back() == '"')))
        name = name.substr(1, name.size() - 2);
    return Trim(name);
}

// Names of "@P1 int,@P2 nvarchar(4000) OUTPUT" in order.
std::vector<std::string> DeclaredNames(const std::string& declaration) {
    std::vector<std::string> names;
    int depth = 0;
    bool expectName = true;
    for (size_t i = 0; i < declaration.size(); ++i) {
        char c = declaration[i];
        if (c == '(') ++depth;
        else if (c == ')') --depth;
        else if (c == ',' && depth == 0) expectName = true;
        else if (c == '@' && expectName) {
            size_t e = i + 1;
            while (e < declaration.size() && IsNameChar(declaration[e])) ++e;
            names.push_back(Lower(declaration.substr(i, e - i)));
            expectName = false;
            i = e - 1;
        }
    }
    return names;
}

// Replaces each declared "@name" outside literals and comments with '?' and lists its value.
// A declared name's place in the declaration; a chunked statement declares hundreds of them.
using DeclaredIndex = std::unordered_map<std::string, size_t>;

DeclaredIndex IndexOf(const std::vector<std::string>& declared) {
    DeclaredIndex index;
    index.reserve(declared.size());
    for (size_t k = 0; k < declared.size(); ++k) index.emplace(declared[k], k);
    return index;
}

std::string ToPositional(const std::string& text, const DeclaredIndex& declared,
                         const std::vector<Value>& valuesInDeclOrder, std::vector<Value>& values) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        char c = text[i];
        if (c == '\'' || c == '"' || c == '[') {
            char close = c == '[' ? ']' : c;
            size_t e = i + 1;
            while (e < text.size()) {
                if (text[e] == close) {
                    if (e + 1 < text.size() && text[e + 1] == close) { e += 2; continue; }
                    break;
                }
                ++e;
            }
            e = std::min(e + 1, text.size());
            out.append(text, i, e - i);
            i = e;
        } else if (text.compare(i, 2, "--") == 0) {
            size_t e = text.find('\n', i);
            e = e == std::string::npos ? text.size() : e;
            out.append(text, i, e - i);
            i = e;
        } else if (text.compare(i, 2, "/*") == 0) {
            size_t e = text.find("*/", i + 2);
            e = e == std::string::npos ? text.size() : e + 2;
            out.append(text, i, e - i);
            i = e;
        } else if (c == '@' && (i == 0 || text[i - 1] != '@') && i + 1 < text.size() && text[i + 1] != '@') {
            size_t e = i + 1;
            while (e < text.size() && IsNameChar(text[e])) ++e;
            auto it = declared.find(Lower(text.substr(i, e - i)));
            if (it != declared.end()) {
                const size_t k = it->second;
                values.push_back(k < valuesInDeclOrder.size() ? valuesInDeclOrder[k] : Value::Null());
                out += '?';
            } else {
                out.append(text, i, e - i);
            }
            i = e;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

SqlError FromDatabaseError(const std::string& text) {
    SqlError e;
    std::string lower = Lower(text);
    auto after = [&](const char* prefix) {
        size_t at = lower.find(prefix);
        return at == std::string::npos ? std::string() : Trim(text.substr(at + std::char_traits<char>::length(prefix)));
    };
    if (std::string t = after("no such table:"); !t.empty()) {
        e.number = 208;
        e.message = "Invalid object name '" + BareTable(t) + "'.";
    } else if (std::string c = after("no such column:"); !c.empty()) {
        e.number = 207;
        e.message = "Invalid column name '" + c + "'.";
    } else if (lower.find("syntax error") != std::string::npos) {
        e.number = 102;
        e.message = "Incorrect syntax: " + text;
    } else if (lower.find("constraint failed") != std::string::npos) {
        e.number = 2627;
        e.state = 1;
        e.severity = 14;
        e.message = "Violation of a constraint: " + text;
    } else {
        e.message = text;
    }
    return e;
}

Value ParamValue(const std::vector<tds::Param>& params, const std::string& name) {
    for (const tds::Param& p : params)
        if (Lower(p.name) == Lower(name)) return p.value;
    return Value::Null();
}

std::string ParamText(const std::vector<tds::Param>& params, const std::string& name) {
    Value v = ParamValue(params, name);
    return v.kind == ValueKind::Text ? v.s : std::string();
}

ResultSet MakeSet(const std::vector<std::pair<const char*, ColumnType>>& columns) {
    ResultSet r;
    for (const auto& [name, type] : columns) r.columns.push_back({name, type});
    return r;
}

// One column's SQL Server description from its SQLite declaration.
struct TypeDesc {
    int odbcType;
    const char* name;
    int precision;
    int length;
    int scale;  // -1: none
};

TypeDesc DescribeDeclared(const std::string& declared) {
    std::string d = Lower(declared);
    int size = 0, size2 = -1;
    size_t paren = d.find('(');
    if (paren != std::string::npos) {
        size = std::atoi(d.c_str() + paren + 1);
        size_t comma = d.find(',', paren);
        if (comma != std::string::npos) size2 = std::atoi(d.c_str() + comma + 1);
        d = Trim(d.substr(0, paren));
    }
    if (d == "int" || d == "integer" || d.empty()) return {4, "int", 10, 4, 0};
    if (d == "bigint") return {-5, "bigint", 19, 8, 0};
    if (d == "smallint") return {5, "smallint", 5, 2, 0};
    if (d == "tinyint") return {-6, "tinyint", 3, 1, 0};
    if (d == "bit") return {-7, "bit", 1, 1, -1};
    if (d == "money") return {3, "money", 19, 21, 4};
    if (d == "decimal" || d == "numeric")
        return {d == "decimal" ? 3 : 2, d == "decimal" ? "decimal" : "numeric", size ? size : 18, (size ? size : 18) + 2, size2 < 0 ? 0 : size2};
    if (d == "float" || d == "real" || d == "double") return {6, "float", 15, 8, -1};
    if (d == "datetime") return {93, "datetime", 23, 16, 3};
    if (d == "date") return {91, "date", 10, 6, -1};
    if (d == "datetime2") return {93, "datetime2", 27, 16, 7};
    if (d == "time") return {-154, "time", 16, 12, 7};
    if (d == "varchar" || d == "char") return {d == "char" ? 1 : 12, d == "char" ? "char" : "varchar", size ? size : 1, size ? size : 1, -1};
    if (d == "nvarchar" || d == "nchar")
        return {d == "nchar" ? -8 : -9, d == "nchar" ? "nchar" : "nvarchar", size ? size : 1, 2 * (size ? size : 1), -1};
    if (d == "text") return {-1, "text", 2147483647, 2147483647, -1};
    if (d == "ntext") return {-10, "ntext", 1073741823, 2147483646, -1};
    if (d == "blob" || d == "image") return {-4, "image", 2147483647, 2147483647, -1};
    if (d == "varbinary" || d == "binary") return {-3, "varbinary", size ? size : 8000, size ? size : 8000, -1};
    return {12, "varchar", 8000, 8000, -1};
}

} // namespace

// ---------------------------------------------------------------------------------------------

int AppLocks::Acquire(const std::string& database, const std::string& resource, int session) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto key = std::make_pair(Lower(database), resource);
    auto it = holders_.find(key);
    if (it == holders_.end()) {
        holders_.emplace(key, session);
        return 0;
    }
    return it->second == session ? 0 : -1;
}

bool AppLocks::Release(const std::string& database, const std::string& resource, int session) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = holders_.find(std::make_pair(Lower(database), resource));
    if (it == holders_.end() || it->second != session) return false;
    holders_.erase(it);
    return true;
}

void AppLocks::ReleaseAll(int session) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = holders_.begin(); it != holders_.end();) it = it->second == session ? holders_.erase(it) : std::next(it);
}

std::vector<tds::Column> ColumnsFor(const db::ResultData& data, const std::vector<std::string>& declared) {
    std::vector<tds::Column> out;
    for (size_t c = 0; c < data.columns.size(); ++c) {
        bool any = false, mixed = false, wide = false, big = false, bigAnsi = false;
        std::string decl = c < declared.size() ? Lower(Trim(declared[c])) : std::string();
        decl = Trim(decl.substr(0, decl.find('(')));
        bool ansi = decl == "varchar" || decl == "char" || decl == "text" || decl == "character varying";
        ValueKind kind = ValueKind::Null;
        for (const auto& row : data.rows) {
            const Value& v = c < row.size() ? row[c] : Value();
            if (v.IsNull()) continue;
            if (!any) kind = v.kind;
            else if (v.kind != kind) {
                if ((kind == ValueKind::Integer && v.kind == ValueKind::Float) || (kind == ValueKind::Float && v.kind == ValueKind::Integer))
                    kind = ValueKind::Float;
                else mixed = true;
            }
            any = true;
            if (v.kind == ValueKind::Integer && (v.i < INT32_MIN || v.i > INT32_MAX)) wide = true;
            if (v.kind == ValueKind::Text && platform::Utf8ToUtf16(v.s).size() > 4000) big = true;
            if (ansi && v.kind == ValueKind::Text) {
                std::string bytes = platform::Utf8ToAnsi(v.s);
                if (platform::AnsiToUtf8(bytes) != v.s) ansi = false;  // a letter code page 1254 lacks
                if (bytes.size() > 8000) bigAnsi = true;
            }
            if (v.kind == ValueKind::Blob && v.s.size() > 8000) big = true;
        }
        if (!any) kind = data.columns[c].declared;
        ColumnType type = ColumnType::NVarChar;
        if (!mixed) {
            switch (kind) {
            case ValueKind::Integer: type = wide ? ColumnType::BigInt : ColumnType::Int; break;
            case ValueKind::Float: type = ColumnType::Float; break;
            case ValueKind::DateTime: type = ColumnType::DateTime; break;
            case ValueKind::Blob: type = big ? ColumnType::VarBinaryMax : ColumnType::VarBinary; break;
            case ValueKind::Text:
                if (ansi) type = bigAnsi ? ColumnType::VarCharMax : ColumnType::VarChar;
                else type = big ? ColumnType::NVarCharMax : ColumnType::NVarChar;
                break;
            case ValueKind::Null: type = ColumnType::Int; break;
            }
        } else {
            type = big ? ColumnType::NVarCharMax : ColumnType::NVarChar;
        }
        out.push_back({data.columns[c].name, type});
    }
    return out;
}

SqlEngine::SqlEngine(const std::string& database, const std::string& sqlitePath, int session, AppLocks& locks)
    : database_(database), session_(session), locks_(locks) {
    try {
        backend_ = db::OpenSqliteBackend(sqlitePath);
    } catch (const std::exception& e) {
        throw SqlError{4060, 1, 11, "Cannot open database \"" + database + "\" requested by the login. The login failed."};
    }
    if (sqlite3_open_v2(sqlitePath.c_str(), &catalog_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(catalog_);
        catalog_ = nullptr;
        throw SqlError{4060, 1, 11, "Cannot open database \"" + database + "\" requested by the login. The login failed."};
    }
    sqlite3_busy_timeout(catalog_, 5000);
    catalogFunctions_ = std::make_unique<db::tsql::FunctionState>();
    try {
        db::tsql::RegisterFunctions(catalog_, catalogFunctions_.get());
    } catch (const std::exception&) {
        // Without them only the declared types of statements using those functions stay unknown.
    }
}

SqlEngine::~SqlEngine() {
    if (catalog_) sqlite3_close_v2(catalog_);
}

int64_t SqlEngine::TotalChanges() {
    db::ResultData r;
    backend_->Execute("SELECT total_changes()", {}, &r);
    return !r.rows.empty() && !r.rows[0].empty() ? r.rows[0][0].i : 0;
}

ResultSet SqlEngine::Catalog(const std::string& sql, const std::vector<std::string>& binds, const std::vector<ColumnType>& types) {
    ResultSet set;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(catalog_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) throw SqlError{50000, 1, 16, sqlite3_errmsg(catalog_)};
    for (size_t i = 0; i < binds.size(); ++i) sqlite3_bind_text(st, static_cast<int>(i + 1), binds[i].c_str(), -1, SQLITE_TRANSIENT);
    int n = sqlite3_column_count(st);
    for (int c = 0; c < n; ++c) set.columns.push_back({sqlite3_column_name(st, c), c < static_cast<int>(types.size()) ? types[static_cast<size_t>(c)] : ColumnType::NVarChar});
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::vector<Value> row;
        for (int c = 0; c < n; ++c) {
            switch (sqlite3_column_type(st, c)) {
            case SQLITE_INTEGER: row.push_back(Value::Integer(sqlite3_column_int64(st, c))); break;
            case SQLITE_NULL: row.push_back(Value::Null()); break;
            default: row.push_back(Value::Text(reinterpret_cast<const char*>(sqlite3_column_text(st, c)))); break;
            }
        }
        set.rows.push_back(std::move(row));
    }
    sqlite3_finalize(st);
    return set;
}

std::string SqlEngine::ResolveTable(const std::string& pattern) {
    std::string name = BareTable(pattern);
    // Catalog calls escape the pattern characters of a name.
    std::string plain;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 1 < name.size()) { plain += name[++i]; continue; }
        if (name.compare(i, 3, "[_]") == 0 || name.compare(i, 3, "[%]") == 0) { plain += name[i + 1]; i += 2; continue; }
        plain += name[i];
    }
    ResultSet r = Catalog("SELECT name FROM sqlite_master WHERE type IN ('table','view') AND name = ?1 COLLATE NOCASE", {plain}, {});
    return r.rows.empty() ? std::string() : r.rows[0][0].s;
}

std::vector<std::string> SqlEngine::DeclaredTypes(const std::string& sql) {
    std::string format = "mdy";  // the order of date literals changes no column's type
    std::vector<db::tsql::Statement> statements;
    try {
        statements = db::tsql::Rewrite(sql, format);
    } catch (const std::exception&) {
        return {};
    }
    for (const db::tsql::Statement& st : statements) {
        if (st.kind != db::tsql::Statement::Kind::Sql) continue;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(catalog_, st.text.c_str(), static_cast<int>(st.text.size()), &stmt, nullptr) != SQLITE_OK) {
            sqlite3_finalize(stmt);
            return {};
        }
        if (!stmt) continue;
        const int n = sqlite3_column_count(stmt);
        std::vector<std::string> out;
        for (int c = 0; c < n; ++c) {
            const char* d = sqlite3_column_decltype(stmt, c);
            out.push_back(d ? d : "");
        }
        sqlite3_finalize(stmt);
        if (n > 0) return out;  // the first statement with columns gives the result
    }
    return {};
}

Outcome SqlEngine::Run(const std::string& text, const std::string& declaration, const std::vector<tds::Param>& params) {
    const std::vector<std::string> names = DeclaredNames(declaration);
    const DeclaredIndex declared = IndexOf(names);
    std::vector<Value> inOrder(names.size());
    size_t position = 0;
    for (const tds::Param& p : params) {
        auto it = p.name.empty() ? declared.end() : declared.find(Lower(p.name));
        if (it != declared.end()) inOrder[it->second] = p.value;
        else if (position < inOrder.size()) inOrder[position] = p.value;
        ++position;
    }
    std::vector<Value> values;
    std::string sql = names.empty() ? text : ToPositional(text, declared, inOrder, values);
    return RunStatement(sql, values);
}

Outcome SqlEngine::RunStatement(const std::string& sql, const std::vector<Value>& values) {
    const std::string lower = Lower(sql);
    Outcome out;

    // Session-owned application locks, in the forms the program writes them.
    if (lower.find("sp_getapplock") != std::string::npos) {
        std::string resource = LiteralAfter(sql, "@Resource");
        int granted = locks_.Acquire(database_, resource, session_);
        std::string column = "sonuc";
        size_t as = lower.rfind(" as ");
        if (as != std::string::npos) {
            size_t b = as + 4, e = b;
            while (e < sql.size() && IsNameChar(sql[e])) ++e;
            if (e > b) column = sql.substr(b, e - b);
        }
        ResultSet set;
        set.columns.push_back({column, ColumnType::Int});
        set.rows.push_back({Value::Integer(granted)});
        out.sets.push_back(std::move(set));
        return out;
    }
    if (lower.find("sp_releaseapplock") != std::string::npos) {
        std::string resource = LiteralAfter(sql, "@Resource");
        if (!locks_.Release(database_, resource, session_))
            throw SqlError{1223, 1, 16, "Cannot release the application lock (Database Principal: 'public', Resource: '" +
                                            resource + "') because it is not currently held."};
        return out;
    }
    // The identity column of a table, as the ODBC backend asks for it.
    if (lower.find("sys.identity_columns") != std::string::npos) {
        std::string table = !values.empty() && values[0].kind == ValueKind::Text ? values[0].s : LiteralAfter(sql, "OBJECT_ID(");
        ResultSet set;
        set.columns.push_back({"name", ColumnType::NVarChar});
        std::string resolved = ResolveTable(table);
        if (!resolved.empty()) {
            ResultSet pk = Catalog("SELECT name FROM pragma_table_info(?1) WHERE pk > 0 AND upper(type) = 'INTEGER' "
                                   "AND (SELECT count(*) FROM pragma_table_info(?1) WHERE pk > 0) = 1",
                                   {resolved}, {});
            for (auto& row : pk.rows) set.rows.push_back(row);
        }
        out.sets.push_back(std::move(set));
        return out;
    }

    bool identity = false;
    std::string body = WithoutIdentitySelect(sql, identity);
    const std::string first = FirstWord(body);

    // Session settings without meaning on SQLite.
    if (first == "set" && lower.find("dateformat") == std::string::npos) return out;
    if (first == "use") {
        std::string name = Trim(body.substr(Lower(body).find("use") + 3));
        while (!name.empty() && (name.back() == ';' || IsBlank(name.back()))) name.pop_back();
        if (Lower(BareTable(name)) != Lower(database_))
            throw SqlError{911, 1, 16, "Database '" + BareTable(name) + "' does not exist. Make sure that the name is entered correctly."};
        return out;
    }

    if (!Trim(body).empty()) {
        try {
            const bool changes = first == "insert" || first == "update" || first == "delete";
            int64_t before = changes ? TotalChanges() : 0;
            db::ResultData data;
            backend_->Execute(body, values, &data);
            if (data.hasResultSet) {
                ResultSet set;
                set.columns = ColumnsFor(data, DeclaredTypes(body));
                set.rows.reserve(data.rows.size());
                for (size_t r = 0; r < data.rows.size(); ++r) {
                    const auto row = data.rows[r];
                    std::vector<db::Value> cells;
                    cells.reserve(row.size());
                    for (size_t c = 0; c < row.size(); ++c) cells.push_back(row[c]);
                    set.rows.push_back(std::move(cells));
                }
                out.sets.push_back(std::move(set));
            } else if (changes) {
                out.rowsAffected = TotalChanges() - before;
            }
        } catch (const EDatabaseError& e) {
            throw FromDatabaseError(e.what());
        } catch (const Error& e) {
            throw SqlError{50000, 1, 16, e.what()};
        }
    }
    if (identity) {
        // NULL when the table the insert named has no identity column, as on SQL Server.
        Value id = Value::Null();
        std::string table = ResolveTable(InsertTable(body));
        if (!table.empty()) {
            ResultSet pk = Catalog("SELECT name FROM pragma_table_info(?1) WHERE pk > 0 AND upper(type) = 'INTEGER'", {table}, {});
            if (pk.rows.size() == 1) id = Value::Integer(backend_->LastIdentity());
        }
        ResultSet set;
        set.columns.push_back({"", ColumnType::Numeric38});
        set.rows.push_back({id});
        out.sets.push_back(std::move(set));
    }
    return out;
}

Outcome SqlEngine::CallProcedure(const std::string& name, const std::vector<tds::Param>& params) {
    Outcome out;
    out.hasReturnStatus = true;
    const std::string proc = Lower(name.substr(name.find_last_of('.') == std::string::npos ? 0 : name.find_last_of('.') + 1));
    const std::string table = ResolveTable(ParamText(params, "@table_name"));
    if (proc == "sp_pkeys") {
        ResultSet set = Catalog("SELECT ?2 AS TABLE_QUALIFIER, 'dbo' AS TABLE_OWNER, ?1 AS TABLE_NAME, name AS COLUMN_NAME, "
                                "pk AS KEY_SEQ, 'PK_' || ?1 AS PK_NAME FROM pragma_table_info(?1) WHERE pk > 0 ORDER BY pk",
                                {table, database_},
                                {ColumnType::NVarChar, ColumnType::NVarChar, ColumnType::NVarChar, ColumnType::NVarChar,
                                 ColumnType::Int, ColumnType::NVarChar});
        out.sets.push_back(std::move(set));
        return out;
    }
    if (proc == "sp_columns" || proc == "sp_special_columns") {
        ResultSet info = Catalog("SELECT name, type, \"notnull\", dflt_value, pk, cid + 1, "
                                 "(SELECT count(*) FROM pragma_table_info(?1) WHERE pk > 0) FROM pragma_table_info(?1) ORDER BY cid",
                                 {table}, {});
        const std::string columnPattern = Lower(ParamText(params, "@column_name"));
        ResultSet set;
        if (proc == "sp_columns") {
            set = MakeSet({{"TABLE_QUALIFIER", ColumnType::NVarChar}, {"TABLE_OWNER", ColumnType::NVarChar},
                           {"TABLE_NAME", ColumnType::NVarChar}, {"COLUMN_NAME", ColumnType::NVarChar},
                           {"DATA_TYPE", ColumnType::Int}, {"TYPE_NAME", ColumnType::NVarChar},
                           {"PRECISION", ColumnType::Int}, {"LENGTH", ColumnType::Int}, {"SCALE", ColumnType::Int},
                           {"RADIX", ColumnType::Int}, {"NULLABLE", ColumnType::Int}, {"REMARKS", ColumnType::NVarChar},
                           {"COLUMN_DEF", ColumnType::NVarChar}, {"SQL_DATA_TYPE", ColumnType::Int},
                           {"SQL_DATETIME_SUB", ColumnType::Int}, {"CHAR_OCTET_LENGTH", ColumnType::Int},
                           {"ORDINAL_POSITION", ColumnType::Int}, {"IS_NULLABLE", ColumnType::NVarChar},
                           {"SS_DATA_TYPE", ColumnType::Int}});
        } else {
            set = MakeSet({{"SCOPE", ColumnType::Int}, {"COLUMN_NAME", ColumnType::NVarChar}, {"DATA_TYPE", ColumnType::Int},
                           {"TYPE_NAME", ColumnType::NVarChar}, {"PRECISION", ColumnType::Int}, {"LENGTH", ColumnType::Int},
                           {"SCALE", ColumnType::Int}, {"PSEUDO_COLUMN", ColumnType::Int}});
        }
        for (const auto& row : info.rows) {
            const std::string column = row[0].s;
            const std::string declared = row[1].kind == ValueKind::Text ? row[1].s : "";
            const bool notNull = row[2].i != 0;
            const bool key = row[4].i > 0;
            const bool identity = key && row[6].i == 1 && Lower(declared) == "integer";
            TypeDesc t = DescribeDeclared(declared);
            Value scale = t.scale < 0 ? Value::Null() : Value::Integer(t.scale);
            if (proc == "sp_columns") {
                if (!columnPattern.empty() && columnPattern != "%" && Lower(column) != columnPattern) continue;
                const bool dateLike = t.odbcType == 93 || t.odbcType == 91;
                set.rows.push_back({Value::Text(database_), Value::Text("dbo"), Value::Text(table), Value::Text(column),
                                    Value::Integer(t.odbcType), Value::Text(std::string(t.name) + (identity ? " identity" : "")),
                                    Value::Integer(t.precision), Value::Integer(t.length), scale,
                                    t.scale < 0 && !dateLike ? Value::Null() : Value::Integer(10),
                                    Value::Integer(notNull || key ? 0 : 1), Value::Null(),
                                    row[3].IsNull() ? Value::Null() : Value::Text("(" + row[3].s + ")"),
                                    Value::Integer(dateLike ? 9 : t.odbcType), dateLike ? Value::Integer(t.odbcType == 91 ? 1 : 3) : Value::Null(),
                                    t.odbcType == 12 || t.odbcType == 1 || t.odbcType == -9 || t.odbcType == -8 ? Value::Integer(t.length) : Value::Null(),
                                    Value::Integer(row[5].i), Value::Text(notNull || key ? "NO" : "YES"), Value::Integer(0)});
            } else if (key) {
                set.rows.push_back({Value::Integer(1), Value::Text(column), Value::Integer(t.odbcType), Value::Text(t.name),
                                    Value::Integer(t.precision), Value::Integer(t.length), scale, Value::Integer(1)});
            }
        }
        out.sets.push_back(std::move(set));
        return out;
    }
    throw SqlError{2812, 62, 16, "Could not find stored procedure '" + name + "'."};
}

} // namespace velmora::sqlsim
