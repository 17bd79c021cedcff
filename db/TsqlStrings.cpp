// SQL Server's text functions LEN, CHARINDEX, SUBSTRING, LEFT, RIGHT, LTRIM, RTRIM and REPLACE.
#include <sqlite3.h>

#include <string>

#include "db/TsqlFunctionSupport.h"

namespace velmora::db::tsql {

namespace {

bool AnyNull(int argc, sqlite3_value** argv) {
    for (int k = 0; k < argc; ++k)
        if (sqlite3_value_type(argv[k]) == SQLITE_NULL) return true;
    return false;
}

void LenFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv)) { sqlite3_result_null(ctx); return; }
    std::u32string s = DecodeUtf8(ValueText(argv[0]));
    while (!s.empty() && s.back() == ' ') s.pop_back();  // trailing blanks are not counted
    sqlite3_result_int64(ctx, static_cast<int64_t>(s.size()));
}

// Where find occurs in s from position from (0-based) under the collation; npos when it does not.
size_t Find(const std::u32string& s, const std::u32string& find, size_t from, Collation c) {
    if (find.empty() || find.size() > s.size()) return std::u32string::npos;
    for (size_t i = from; i + find.size() <= s.size(); ++i) {
        size_t k = 0;
        while (k < find.size() && SameCharacter(s[i + k], find[k], c)) ++k;
        if (k == find.size()) return i;
    }
    return std::u32string::npos;
}

void CharIndexFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv)) { sqlite3_result_null(ctx); return; }
    int64_t start = 1;
    if (argc > 2 && !IntegerArg(ctx, argv[2], start)) return;
    const std::u32string find = DecodeUtf8(ValueText(argv[0])), s = DecodeUtf8(ValueText(argv[1]));
    const size_t from = start > 1 ? static_cast<size_t>(start - 1) : 0;
    const size_t at = from < s.size() ? Find(s, find, from, StateOf(ctx)->collation) : std::u32string::npos;
    sqlite3_result_int64(ctx, at == std::u32string::npos ? 0 : static_cast<int64_t>(at) + 1);
}

// The characters from position first (1-based, may lie before the text) for count characters.
std::u32string Part(const std::u32string& s, int64_t first, int64_t count) {
    int64_t last = first + count;  // exclusive
    if (first < 1) first = 1;
    if (last > static_cast<int64_t>(s.size()) + 1) last = static_cast<int64_t>(s.size()) + 1;
    if (last <= first) return {};
    return s.substr(static_cast<size_t>(first - 1), static_cast<size_t>(last - first));
}

void SubstringFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv)) { sqlite3_result_null(ctx); return; }
    int64_t start = 0, length = 0;
    if (!IntegerArg(ctx, argv[1], start) || !IntegerArg(ctx, argv[2], length)) return;
    if (length < 0) { ResultError(ctx, "Invalid length parameter passed to the substring function."); return; }
    ResultText(ctx, EncodeUtf8(Part(DecodeUtf8(ValueText(argv[0])), start, length)));
}

template <bool Left>
void SideFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv)) { sqlite3_result_null(ctx); return; }
    int64_t count = 0;
    if (!IntegerArg(ctx, argv[1], count)) return;
    if (count < 0) {
        ResultError(ctx, std::string("Invalid length parameter passed to the ") + (Left ? "left" : "right") +
                             " function.");
        return;
    }
    const std::u32string s = DecodeUtf8(ValueText(argv[0]));
    const int64_t size = static_cast<int64_t>(s.size());
    ResultText(ctx, EncodeUtf8(Left ? Part(s, 1, count) : Part(s, size - count + 1, count)));
}

// LTRIM and RTRIM remove blanks only, as SQL Server's one-argument forms do.
template <bool Leading>
void TrimFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv)) { sqlite3_result_null(ctx); return; }
    std::string s = ValueText(argv[0]);
    if (Leading) s.erase(0, s.find_first_not_of(' ') == std::string::npos ? s.size() : s.find_first_not_of(' '));
    else s.erase(s.find_last_not_of(' ') == std::string::npos ? 0 : s.find_last_not_of(' ') + 1);
    ResultText(ctx, s);
}

void ReplaceFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (AnyNull(argc, argv)) { sqlite3_result_null(ctx); return; }
    const std::u32string s = DecodeUtf8(ValueText(argv[0])), find = DecodeUtf8(ValueText(argv[1])),
                         with = DecodeUtf8(ValueText(argv[2]));
    const Collation c = StateOf(ctx)->collation;
    std::u32string out;
    size_t i = 0;
    for (size_t at; (at = Find(s, find, i, c)) != std::u32string::npos; i = at + find.size()) {
        out.append(s, i, at - i);
        out += with;
    }
    out.append(s, i, std::u32string::npos);
    ResultText(ctx, EncodeUtf8(out));
}

} // namespace

void RegisterStringFunctions(sqlite3* db, FunctionState* state) {
    Register(db, "LEN", 1, state, LenFn);
    Register(db, "CHARINDEX", 2, state, CharIndexFn);
    Register(db, "CHARINDEX", 3, state, CharIndexFn);
    Register(db, "SUBSTRING", 3, state, SubstringFn);
    Register(db, "TSQL_LEFT", 2, state, SideFn<true>);
    Register(db, "TSQL_RIGHT", 2, state, SideFn<false>);
    Register(db, "LTRIM", 1, state, TrimFn<true>);
    Register(db, "RTRIM", 1, state, TrimFn<false>);
    Register(db, "REPLACE", 3, state, ReplaceFn);
}

} // namespace velmora::db::tsql
