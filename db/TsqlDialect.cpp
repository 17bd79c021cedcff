#include "db/TsqlDialect.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "platform/Clock.h"
#include "platform/Error.h"

namespace velmora::db::tsql {

namespace {

// ---------------------------------------------------------------------------------------------
// Small text helpers (ASCII only: keywords and numbers are ASCII, data is left alone).

std::string Upper(const std::string& s) {
    std::string r = s;
    for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

std::string Lower(const std::string& s) {
    std::string r = s;
    for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsIdentStart(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return std::isalpha(u) || c == '_' || c == '@' || c == '#' || u >= 0x80;
}

bool IsIdentPart(char c) { return IsIdentStart(c) || IsDigit(c) || c == '$'; }

// ---------------------------------------------------------------------------------------------
// Tokens. Each token keeps the text it is written out with; the rewriter replaces some of them.

enum class TokKind { Space, Comment, String, QuotedIdent, Word, Number, Param, Punct };

struct Token {
    TokKind kind;
    std::string text;   // as written to the SQLite text
    std::string value;  // String: the literal's content without quotes and escapes
};

bool Significant(const Token& t) { return t.kind != TokKind::Space && t.kind != TokKind::Comment; }

std::vector<Token> Tokenize(const std::string& s) {
    std::vector<Token> out;
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        const char c = s[i];
        const size_t start = i;
        if (std::isspace(static_cast<unsigned char>(c))) {
            while (i < n && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
            out.push_back({TokKind::Space, s.substr(start, i - start), {}});
        } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
            while (i < n && s[i] != '\n') ++i;
            out.push_back({TokKind::Comment, s.substr(start, i - start), {}});
        } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
            // T-SQL block comments nest.
            int level = 0;
            while (i < n) {
                if (s[i] == '/' && i + 1 < n && s[i + 1] == '*') { ++level; i += 2; }
                else if (s[i] == '*' && i + 1 < n && s[i + 1] == '/') { i += 2; if (--level == 0) break; }
                else ++i;
            }
            std::string text = s.substr(start, i - start);
            if (level > 0) text += "*/";  // an unterminated comment swallows the rest, as on the server
            out.push_back({TokKind::Comment, text, {}});
        } else if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < n && s[i + 1] == '\'' &&
                                 (i == 0 || !IsIdentPart(s[i - 1])))) {
            // N'...' is SQL Server's Unicode literal; all text is Unicode here.
            i += (c == '\'') ? 1 : 2;
            std::string value;
            bool closed = false;
            while (i < n) {
                if (s[i] == '\'') {
                    if (i + 1 < n && s[i + 1] == '\'') { value += '\''; i += 2; continue; }
                    ++i;
                    closed = true;
                    break;
                }
                value += s[i++];
            }
            std::string text = s.substr(start, i - start);
            if (c != '\'') text.erase(0, 1);
            // An unterminated literal is passed on as written so that SQLite reports it.
            out.push_back({closed ? TokKind::String : TokKind::Punct, text, value});
        } else if (c == '"') {
            ++i;
            while (i < n) {
                if (s[i] == '"') {
                    if (i + 1 < n && s[i + 1] == '"') { i += 2; continue; }
                    ++i;
                    break;
                }
                ++i;
            }
            out.push_back({TokKind::QuotedIdent, s.substr(start, i - start), {}});
        } else if (c == '[') {
            // [name] becomes "name"; "]]" inside stands for one "]".
            ++i;
            std::string name;
            bool closed = false;
            while (i < n) {
                if (s[i] == ']') {
                    if (i + 1 < n && s[i + 1] == ']') { name += ']'; i += 2; continue; }
                    ++i;
                    closed = true;
                    break;
                }
                name += s[i++];
            }
            if (!closed) {
                out.push_back({TokKind::Punct, s.substr(start, i - start), {}});
            } else {
                std::string text = "\"";
                for (char ch : name) {
                    if (ch == '"') text += '"';
                    text += ch;
                }
                text += '"';
                out.push_back({TokKind::QuotedIdent, text, {}});
            }
        } else if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(s[i + 1]))) {
            if (c == '0' && i + 1 < n && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
                i += 2;
                while (i < n && std::isxdigit(static_cast<unsigned char>(s[i]))) ++i;
            } else {
                while (i < n && IsDigit(s[i])) ++i;
                if (i < n && s[i] == '.') {
                    ++i;
                    while (i < n && IsDigit(s[i])) ++i;
                }
                if (i < n && (s[i] == 'e' || s[i] == 'E')) {
                    size_t j = i + 1;
                    if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
                    if (j < n && IsDigit(s[j])) {
                        i = j;
                        while (i < n && IsDigit(s[i])) ++i;
                    }
                }
            }
            out.push_back({TokKind::Number, s.substr(start, i - start), {}});
        } else if (IsIdentStart(c)) {
            while (i < n && IsIdentPart(s[i])) ++i;
            out.push_back({TokKind::Word, s.substr(start, i - start), {}});
        } else if (c == '?') {
            ++i;
            while (i < n && IsDigit(s[i])) ++i;
            out.push_back({TokKind::Param, s.substr(start, i - start), {}});
        } else {
            ++i;
            out.push_back({TokKind::Punct, s.substr(start, 1), {}});
        }
    }
    return out;
}

bool IsPunct(const Token& t, char c) { return t.kind == TokKind::Punct && t.text.size() == 1 && t.text[0] == c; }

bool IsWord(const Token& t, const char* upperWord) { return t.kind == TokKind::Word && Upper(t.text) == upperWord; }

size_t NextSignificant(const std::vector<Token>& t, size_t i) {
    while (i < t.size() && !Significant(t[i])) ++i;
    return i;
}

bool ValidDateFormat(const std::string& f) {
    return f == "mdy" || f == "dmy" || f == "ymd" || f == "ydm" || f == "myd" || f == "dym";
}

bool IsTableHint(const std::string& upper) {
    static const char* const kHints[] = {"NOLOCK",   "READUNCOMMITTED", "READCOMMITTED", "ROWLOCK", "PAGLOCK",
                                         "TABLOCK",  "TABLOCKX",        "UPDLOCK",       "XLOCK",   "HOLDLOCK",
                                         "NOWAIT",   "READPAST",        "SERIALIZABLE",  "REPEATABLEREAD"};
    for (const char* h : kHints)
        if (upper == h) return true;
    return false;
}

// Rewrites the tokens of one statement (no ';' among them) into SQLite text.
std::string RewriteStatement(const std::vector<Token>& t, const std::string& dateFormat) {
    std::string out;
    out.reserve(64);
    int depth = 0;
    // TOP n: the LIMIT to place where the SELECT's parenthesis level ends.
    std::vector<std::pair<int, std::string>> limits;
    size_t prevSig = std::string::npos;
    const size_t n = t.size();

    auto flushLimit = [&](int level) {
        bool placed = false;
        while (!limits.empty() && limits.back().first == level) {
            if (!placed) out += "\nLIMIT " + limits.back().second;  // own line: a trailing "--" comment cannot swallow it
            placed = true;
            limits.pop_back();
        }
    };

    for (size_t i = 0; i < n;) {
        const Token& k = t[i];
        if (IsPunct(k, '(')) {
            ++depth;
        } else if (IsPunct(k, ')')) {
            flushLimit(depth);
            if (depth > 0) --depth;
        } else if (k.kind == TokKind::String) {
            TDateTime dt = 0;
            const std::string& v = k.value;
            if (v.size() >= 8 && v.size() <= 40 && IsDigit(v[0]) && ParseDateLiteral(v, dateFormat, dt)) {
                out += '\'';
                out += FormatIsoDateTime(dt);
                out += '\'';
            } else {
                out += k.text;
            }
            prevSig = i++;
            continue;
        } else if (k.kind == TokKind::Word) {
            const std::string up = Upper(k.text);
            const size_t j = NextSignificant(t, i + 1);
            const bool call = j < n && IsPunct(t[j], '(');

            // ISNULL is a postfix operator in SQLite; SQL Server's function is ifnull.
            if (up == "ISNULL" && call) {
                out += "ifnull";
                prevSig = i++;
                continue;
            }
            // DATEPART(Day, x): the unit keyword becomes a text argument of the registered function.
            if ((up == "DATEPART" || up == "DATEADD" || up == "DATEDIFF") && call) {
                const size_t u = NextSignificant(t, j + 1);
                const size_t comma = u < n ? NextSignificant(t, u + 1) : n;
                std::string unit = (u < n && t[u].kind == TokKind::Word) ? CanonicalDatePartUnit(t[u].text) : "";
                if (!unit.empty() && comma < n && IsPunct(t[comma], ',')) {
                    out += up;
                    for (size_t x = i + 1; x < j; ++x) out += t[x].text;
                    out += '(';
                    ++depth;
                    for (size_t x = j + 1; x < u; ++x) out += t[x].text;
                    out += '\'' + unit + '\'';
                    prevSig = u;
                    i = u + 1;
                    continue;
                }
            }
            // CONVERT(char(1), x[, style]): the type becomes a text argument of TSQL_CONVERT.
            if (up == "CONVERT" && call) {
                int level = 0;
                size_t comma = n;
                // A data type is a few tokens ("nvarchar ( 30 )"); looking no further keeps a text of
                // unclosed CONVERT( calls from costing quadratic time.
                const size_t typeEnd = std::min(n, j + 1 + 32);
                for (size_t x = j + 1; x < typeEnd; ++x) {
                    if (IsPunct(t[x], '(')) ++level;
                    else if (IsPunct(t[x], ')')) { if (level == 0) break; --level; }
                    else if (IsPunct(t[x], ',') && level == 0) { comma = x; break; }
                }
                std::string type;
                bool typeOk = comma < n;
                for (size_t x = j + 1; typeOk && x < comma; ++x) {
                    if (!Significant(t[x])) continue;
                    if (t[x].kind != TokKind::Word && t[x].kind != TokKind::Number && !IsPunct(t[x], '(') &&
                        !IsPunct(t[x], ')') && !IsPunct(t[x], ','))
                        typeOk = false;
                    type += Lower(t[x].text);
                }
                if (typeOk && !type.empty()) {
                    out += "TSQL_CONVERT('" + type + "',";
                    ++depth;
                    prevSig = comma;
                    i = comma + 1;
                    continue;
                }
            }
            if (up == "CURRENT_TIMESTAMP" && !call) {
                out += "GETDATE()";
                prevSig = i++;
                continue;
            }
            // SELECT [DISTINCT] TOP n / TOP (n) -> LIMIT n at the end of that SELECT.
            if (up == "TOP" && prevSig != std::string::npos &&
                (IsWord(t[prevSig], "SELECT") || IsWord(t[prevSig], "DISTINCT") || IsWord(t[prevSig], "ALL"))) {
                size_t m = NextSignificant(t, i + 1);
                std::string count;
                size_t end = n;
                if (m < n && t[m].kind == TokKind::Number) {
                    count = t[m].text;
                    end = m + 1;
                } else if (m < n && IsPunct(t[m], '(')) {
                    size_t a = NextSignificant(t, m + 1);
                    size_t b = a < n ? NextSignificant(t, a + 1) : n;
                    // A '?' count is not taken: moving it to the end would reorder the positional markers.
                    if (a < n && t[a].kind == TokKind::Number && b < n &&
                        IsPunct(t[b], ')')) {
                        count = t[a].text;
                        end = b + 1;
                    }
                }
                const size_t after = NextSignificant(t, end);
                const bool unsupported = after < n && (IsWord(t[after], "PERCENT") || IsWord(t[after], "WITH"));
                if (!count.empty() && !unsupported) {
                    limits.emplace_back(depth, count);
                    i = end;
                    continue;
                }
            }
            // Table hints such as WITH (NOLOCK) mean nothing to SQLite.
            if (up == "WITH" && call) {
                size_t x = j + 1;
                bool hints = false, other = false;
                for (; x < n; ++x) {
                    if (!Significant(t[x]) || IsPunct(t[x], ',')) continue;
                    if (IsPunct(t[x], ')')) break;
                    if (t[x].kind == TokKind::Word && IsTableHint(Upper(t[x].text))) {
                        hints = true;
                    } else {
                        other = true;
                        break;
                    }
                }
                if (hints && !other && x < n) {
                    i = x + 1;
                    continue;
                }
            }
        }
        // The dbo schema: SQLite would take it for the name of an attached database.
        if (((k.kind == TokKind::Word && Upper(k.text) == "DBO") ||
             (k.kind == TokKind::QuotedIdent && Upper(k.text) == "\"DBO\"")) &&
            i + 2 < n && IsPunct(t[i + 1], '.') &&
            (t[i + 2].kind == TokKind::Word || t[i + 2].kind == TokKind::QuotedIdent)) {
            i += 2;
            continue;
        }
        out += k.text;
        if (Significant(k)) prevSig = i;
        ++i;
    }
    while (!limits.empty()) flushLimit(limits.back().first);
    return out;
}

// Recognises the session statements the backend handles itself.
bool SessionStatement(const std::vector<Token>& t, Statement& st) {
    std::vector<const Token*> sig;
    for (const Token& k : t)
        if (Significant(k)) sig.push_back(&k);
    if (sig.size() != 3 || !IsWord(*sig[0], "SET")) return false;
    if (IsWord(*sig[1], "DATEFORMAT") && (sig[2]->kind == TokKind::Word || sig[2]->kind == TokKind::String)) {
        std::string order = Lower(sig[2]->kind == TokKind::String ? sig[2]->value : sig[2]->text);
        if (!ValidDateFormat(order))
            throw EDatabaseError("SET DATEFORMAT: '" + order + "' is not a date order (mdy, dmy, ymd, ydm, myd, dym)");
        st.kind = Statement::Kind::SetDateFormat;
        st.text = order;
        return true;
    }
    if (IsWord(*sig[1], "NOCOUNT") && (IsWord(*sig[2], "ON") || IsWord(*sig[2], "OFF"))) {
        st.kind = Statement::Kind::Ignored;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Date literals.

struct Cursor {
    const std::string& s;
    size_t i = 0;
    bool End() const { return i >= s.size(); }
    char Peek() const { return i < s.size() ? s[i] : '\0'; }
    // Reads 1..maxDigits digits; returns the count read (0 when none).
    int Digits(int maxDigits, int& value) {
        int count = 0;
        value = 0;
        while (count < maxDigits && i < s.size() && IsDigit(s[i])) {
            value = value * 10 + (s[i] - '0');
            ++i;
            ++count;
        }
        return count;
    }
};

bool ParseTime(Cursor& c, DateTimeParts& p) {
    int h = 0, mi = 0, sec = 0, ms = 0;
    if (c.Digits(2, h) == 0 || c.Peek() != ':') return false;
    ++c.i;
    if (c.Digits(2, mi) == 0) return false;
    if (c.Peek() == ':') {
        ++c.i;
        if (c.Digits(2, sec) == 0) return false;
        if (c.Peek() == ':') {
            // After a colon the digits count thousandths of a second, as SQL Server reads them.
            ++c.i;
            if (c.Digits(3, ms) == 0) return false;
        } else if (c.Peek() == '.') {
            // After a point they are a decimal fraction of a second.
            ++c.i;
            int frac = 0;
            int count = c.Digits(3, frac);
            if (count == 0) return false;
            while (count < 3) { frac *= 10; ++count; }
            ms = frac;
            int ignored = 0;
            c.Digits(4, ignored);  // datetime2 precision beyond milliseconds
        }
    }
    size_t save = c.i;
    while (c.Peek() == ' ') ++c.i;
    if (c.i + 2 <= c.s.size()) {
        std::string suffix = Upper(c.s.substr(c.i, 2));
        if (suffix == "AM" || suffix == "PM") {
            if (h < 1 || h > 12) return false;
            if (suffix == "AM" && h == 12) h = 0;
            if (suffix == "PM" && h != 12) h += 12;
            c.i += 2;
            save = c.i;
        }
    }
    c.i = save;
    if (h > 23 || mi > 59 || sec > 59) return false;
    p.hour = h;
    p.minute = mi;
    p.second = sec;
    p.millisecond = ms;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Registered functions.

FunctionState* StateOf(sqlite3_context* ctx) { return static_cast<FunctionState*>(sqlite3_user_data(ctx)); }

std::string ValueText(sqlite3_value* v) {
    const unsigned char* p = sqlite3_value_text(v);
    int len = sqlite3_value_bytes(v);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(len)) : std::string();
}

void ResultText(sqlite3_context* ctx, const std::string& s) {
    sqlite3_result_text(ctx, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void ResultError(sqlite3_context* ctx, const std::string& s) {
    sqlite3_result_error(ctx, s.data(), static_cast<int>(s.size()));
}

const TDateTime kMinDateTime = -693593.0;   // 0001-01-01
const TDateTime kMaxDateTime = 2958466.0;   // 10000-01-01 (exclusive)
const TDateTime kSqlServerZero = 2.0;       // the datetime number 0 is 1900-01-01

bool InRange(TDateTime d) { return d >= kMinDateTime && d < kMaxDateTime; }

enum class Arg { Ok, Null, Failed };

// A date-time argument: stored text, a date literal in the session's order, or a SQL Server
// datetime number (days since 1900-01-01, the fraction being the time of day).
Arg DateArg(sqlite3_context* ctx, sqlite3_value* v, TDateTime& out) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
        return Arg::Null;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: {
        double d = sqlite3_value_double(v) + kSqlServerZero;
        if (!InRange(d)) {
            ResultError(ctx, "Arithmetic overflow error converting expression to data type datetime.");
            return Arg::Failed;
        }
        out = d;
        return Arg::Ok;
    }
    case SQLITE_TEXT: {
        std::string s = ValueText(v);
        // Leading and trailing blanks are tolerated, as SQL Server does.
        size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
        if (a != std::string::npos) s = s.substr(a, b - a + 1);
        if (ParseDateLiteral(s, StateOf(ctx)->dateFormat, out)) return Arg::Ok;
        ResultError(ctx, "Conversion failed when converting date and/or time from character string.");
        return Arg::Failed;
    }
    default:
        ResultError(ctx, "Conversion failed: a binary value is not a date and/or time.");
        return Arg::Failed;
    }
}

bool UnitArg(sqlite3_context* ctx, sqlite3_value* v, std::string& unit) {
    std::string word = ValueText(v);
    unit = CanonicalDatePartUnit(word);
    if (unit.empty()) {
        ResultError(ctx, "'" + word + "' is not a recognized datepart option.");
        return false;
    }
    return true;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

int64_t DayNumber(TDateTime d) { return FloorDiv(DateTimeToMilliseconds(d), 86400000LL); }

// Weeks begin on Sunday (SQL Server's us_english DATEFIRST 7); day 1 (1899-12-31) was a Sunday.
int64_t WeekNumber(TDateTime d) { return FloorDiv(DayNumber(d) - 1, 7); }

int Weekday(TDateTime d) { return static_cast<int>(((DayNumber(d) + 6) % 7 + 7) % 7) + 1; }  // Sunday = 1

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

void GetDateFn(sqlite3_context* ctx, int, sqlite3_value**) {
    FunctionState* st = StateOf(ctx);
    if (st->nowSerial != st->statementSerial) {
        st->now = platform::Now();
        st->nowSerial = st->statementSerial;
    }
    ResultText(ctx, FormatIsoDateTime(st->now));
}

void DatePartFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    std::string unit;
    if (!UnitArg(ctx, argv[0], unit)) return;
    TDateTime d = 0;
    Arg a = DateArg(ctx, argv[1], d);
    if (a == Arg::Null) { sqlite3_result_null(ctx); return; }
    if (a == Arg::Failed) return;
    DateTimeParts p = DecodeDateTime(d);
    int64_t r = 0;
    if (unit == "year") r = p.year;
    else if (unit == "quarter") r = (p.month - 1) / 3 + 1;
    else if (unit == "month") r = p.month;
    else if (unit == "dayofyear") r = DayNumber(d) - DayNumber(EncodeDate(p.year, 1, 1)) + 1;
    else if (unit == "day") r = p.day;
    else if (unit == "week") r = WeekNumber(d) - WeekNumber(EncodeDate(p.year, 1, 1)) + 1;
    else if (unit == "weekday") r = Weekday(d);
    else if (unit == "hour") r = p.hour;
    else if (unit == "minute") r = p.minute;
    else if (unit == "second") r = p.second;
    else r = p.millisecond;
    sqlite3_result_int64(ctx, r);
}

bool IntegerArg(sqlite3_context* ctx, sqlite3_value* v, int64_t& out) {
    switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
        out = sqlite3_value_int64(v);
        return true;
    case SQLITE_FLOAT: {
        double d = std::trunc(sqlite3_value_double(v));
        if (!(std::fabs(d) < 9.0e15)) break;
        out = static_cast<int64_t>(d);
        return true;
    }
    case SQLITE_TEXT: {
        std::string s = ValueText(v);
        char* end = nullptr;
        errno = 0;
        long long x = std::strtoll(s.c_str(), &end, 10);
        while (end && *end == ' ') ++end;
        if (!s.empty() && end && *end == '\0' && errno == 0) {
            out = x;
            return true;
        }
        ResultError(ctx, "Conversion failed when converting the varchar value '" + s + "' to data type int.");
        return false;
    }
    default:
        break;
    }
    ResultError(ctx, "Arithmetic overflow error converting expression to data type int.");
    return false;
}

void DateAddFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    std::string unit;
    if (!UnitArg(ctx, argv[0], unit)) return;
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    int64_t k = 0;
    if (!IntegerArg(ctx, argv[1], k)) return;
    TDateTime d = 0;
    Arg a = DateArg(ctx, argv[2], d);
    if (a == Arg::Null) { sqlite3_result_null(ctx); return; }
    if (a == Arg::Failed) return;

    const char* overflow = "Adding a value to a 'datetime' column caused an overflow.";
    TDateTime r = 0;
    if (unit == "year" || unit == "quarter" || unit == "month") {
        // Anything beyond 10,000 years overflows whatever the unit (checked before multiplying).
        if (k > 120000 || k < -120000) { ResultError(ctx, overflow); return; }
        int64_t months = unit == "year" ? k * 12 : unit == "quarter" ? k * 3 : k;
        DateTimeParts p = DecodeDateTime(d);
        int64_t total = static_cast<int64_t>(p.year) * 12 + (p.month - 1) + months;
        int year = static_cast<int>(FloorDiv(total, 12));
        int month = static_cast<int>(total - static_cast<int64_t>(year) * 12) + 1;
        if (year < 1 || year > 9999) { ResultError(ctx, overflow); return; }
        p.year = year;
        p.month = month;
        if (p.day > DaysInMonth(year, month)) p.day = DaysInMonth(year, month);
        r = EncodeDateTime(p);
    } else {
        int64_t unitMs = 0;
        if (unit == "day" || unit == "dayofyear" || unit == "weekday") unitMs = 86400000LL;
        else if (unit == "week") unitMs = 7 * 86400000LL;
        else if (unit == "hour") unitMs = 3600000LL;
        else if (unit == "minute") unitMs = 60000LL;
        else if (unit == "second") unitMs = 1000LL;
        else unitMs = 1;
        const int64_t limit = 400000000000000LL / unitMs;  // about 12,700 years
        if (k > limit || k < -limit) { ResultError(ctx, overflow); return; }
        r = MillisecondsToDateTime(DateTimeToMilliseconds(d) + k * unitMs);
    }
    if (!InRange(r)) { ResultError(ctx, overflow); return; }
    ResultText(ctx, FormatIsoDateTime(r));
}

void DateDiffFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    std::string unit;
    if (!UnitArg(ctx, argv[0], unit)) return;
    TDateTime a = 0, b = 0;
    Arg ra = DateArg(ctx, argv[1], a);
    if (ra == Arg::Failed) return;
    Arg rb = DateArg(ctx, argv[2], b);
    if (rb == Arg::Failed) return;
    if (ra == Arg::Null || rb == Arg::Null) { sqlite3_result_null(ctx); return; }
    // SQL Server counts the unit boundaries crossed between the two moments.
    DateTimeParts pa = DecodeDateTime(a), pb = DecodeDateTime(b);
    int64_t ma = DateTimeToMilliseconds(a), mb = DateTimeToMilliseconds(b);
    int64_t r = 0;
    if (unit == "year") r = pb.year - pa.year;
    else if (unit == "quarter") r = (pb.year * 4LL + (pb.month - 1) / 3) - (pa.year * 4LL + (pa.month - 1) / 3);
    else if (unit == "month") r = (pb.year * 12LL + pb.month) - (pa.year * 12LL + pa.month);
    else if (unit == "day" || unit == "dayofyear" || unit == "weekday") r = DayNumber(b) - DayNumber(a);
    else if (unit == "week") r = WeekNumber(b) - WeekNumber(a);
    else if (unit == "hour") r = FloorDiv(mb, 3600000LL) - FloorDiv(ma, 3600000LL);
    else if (unit == "minute") r = FloorDiv(mb, 60000LL) - FloorDiv(ma, 60000LL);
    else if (unit == "second") r = FloorDiv(mb, 1000LL) - FloorDiv(ma, 1000LL);
    else r = mb - ma;
    sqlite3_result_int64(ctx, r);
}

// --- CONVERT ---------------------------------------------------------------------------------

size_t Utf8Length(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::string Utf8Prefix(const std::string& s, size_t chars) {
    size_t count = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (count == chars) return s.substr(0, i);
            ++count;
        }
    }
    return s;
}

// The stored date-time form exactly: such a text is a date-time value of this database.
bool IsStoredDateTime(const std::string& s, TDateTime& out) {
    return s.size() == 23 && s[4] == '-' && s[10] == ' ' && s[19] == '.' && TryParseIsoDateTime(s, out);
}

std::string FormatDateStyle(TDateTime d, int style) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    DateTimeParts p = DecodeDateTime(d);
    char buf[64];
    switch (style) {
    case 101: std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", p.month, p.day, p.year); break;
    case 103: std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", p.day, p.month, p.year); break;
    case 104: std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", p.day, p.month, p.year); break;
    case 105: std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", p.day, p.month, p.year); break;
    case 108: std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second); break;
    case 111: std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", p.year, p.month, p.day); break;
    case 112: std::snprintf(buf, sizeof buf, "%04d%02d%02d", p.year, p.month, p.day); break;
    case 23: std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day); break;
    case 20:
    case 120:
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute,
                      p.second);
        break;
    case 21:
    case 121: return FormatIsoDateTime(d);
    case 126:
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour, p.minute,
                      p.second, p.millisecond);
        break;
    default: {  // 0 / 100: "Mar 21 2013  2:05PM"
        int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
        std::snprintf(buf, sizeof buf, "%s %2d %04d %2d:%02d%s", kMonths[p.month - 1], p.day, p.year, h12, p.minute,
                      p.hour < 12 ? "AM" : "PM");
        break;
    }
    }
    return buf;
}

struct TypeSpec {
    std::string base;
    std::vector<std::string> args;
};

TypeSpec ParseType(const std::string& type) {
    TypeSpec t;
    size_t open = type.find('(');
    t.base = type.substr(0, open);
    if (open != std::string::npos) {
        size_t close = type.find(')', open);
        std::string inner = type.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
        size_t start = 0;
        while (start <= inner.size()) {
            size_t comma = inner.find(',', start);
            t.args.push_back(inner.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    return t;
}

bool ParseDouble(const std::string& s, double& out) {
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    while (end && *end == ' ') ++end;
    return !s.empty() && end && *end == '\0' && std::isfinite(out);
}

void ConvertFn(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    const std::string typeText = ValueText(argv[0]);
    const TypeSpec type = ParseType(typeText);
    sqlite3_value* v = argv[1];
    int style = 0;
    if (argc > 2 && sqlite3_value_type(argv[2]) != SQLITE_NULL) style = sqlite3_value_int(argv[2]);
    const int vt = sqlite3_value_type(v);
    if (vt == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    const std::string& b = type.base;

    if (b == "char" || b == "varchar" || b == "nchar" || b == "nvarchar" || b == "text" || b == "ntext") {
        std::string s;
        TDateTime d = 0;
        if (vt == SQLITE_TEXT) {
            s = ValueText(v);
            if (IsStoredDateTime(s, d)) s = FormatDateStyle(d, style);
        } else if (vt == SQLITE_BLOB) {
            s.assign(static_cast<const char*>(sqlite3_value_blob(v)), static_cast<size_t>(sqlite3_value_bytes(v)));
        } else {
            s = ValueText(v);
        }
        if (b != "text" && b != "ntext") {
            size_t length = 30;  // CONVERT's default length
            bool explicitLength = false;
            if (!type.args.empty()) {
                if (type.args[0] == "max") length = std::string::npos;
                else { length = static_cast<size_t>(std::strtoul(type.args[0].c_str(), nullptr, 10)); explicitLength = true; }
            }
            if (length != std::string::npos) {
                s = Utf8Prefix(s, length);
                // char(n) is fixed length: SQL Server pads it with blanks.
                if ((b == "char" || b == "nchar") && explicitLength && length <= 8000)
                    s.append(length - Utf8Length(s), ' ');
            }
        }
        ResultText(ctx, s);
        return;
    }
    if (b == "int" || b == "bigint" || b == "smallint" || b == "tinyint" || b == "bit") {
        int64_t x = 0;
        if (vt == SQLITE_TEXT && b == "bit") {
            std::string s = Lower(ValueText(v));
            if (s == "true") { sqlite3_result_int(ctx, 1); return; }
            if (s == "false") { sqlite3_result_int(ctx, 0); return; }
        }
        if (vt == SQLITE_BLOB || !IntegerArg(ctx, v, x)) {
            if (vt == SQLITE_BLOB) ResultError(ctx, "Conversion failed when converting a binary value to data type " + b + ".");
            return;
        }
        if (b == "bit") x = x != 0 ? 1 : 0;
        int64_t lo = b == "tinyint" ? 0 : b == "smallint" ? -32768 : b == "int" ? INT32_MIN : INT64_MIN;
        int64_t hi = b == "tinyint" ? 255 : b == "smallint" ? 32767 : b == "int" ? INT32_MAX : INT64_MAX;
        if (x < lo || x > hi) { ResultError(ctx, "Arithmetic overflow error converting expression to data type " + b + "."); return; }
        sqlite3_result_int64(ctx, x);
        return;
    }
    if (b == "float" || b == "real" || b == "decimal" || b == "numeric" || b == "money" || b == "smallmoney") {
        double x = 0;
        if (vt == SQLITE_TEXT) {
            std::string s = ValueText(v);
            if (!ParseDouble(s, x)) {
                ResultError(ctx, "Error converting data type varchar to " + b + ".");
                return;
            }
        } else if (vt == SQLITE_BLOB) {
            ResultError(ctx, "Conversion failed when converting a binary value to data type " + b + ".");
            return;
        } else {
            x = sqlite3_value_double(v);
        }
        int scale = -1;
        if (b == "money" || b == "smallmoney") scale = 4;
        else if (b == "decimal" || b == "numeric") scale = type.args.size() > 1 ? std::atoi(type.args[1].c_str()) : 0;
        if (scale >= 0 && scale <= 15) {
            double f = std::pow(10.0, scale);
            x = std::round(x * f) / f;  // half away from zero, as SQL Server rounds
            if (scale == 0 && std::fabs(x) < 9.0e15) { sqlite3_result_int64(ctx, static_cast<int64_t>(x)); return; }
        }
        sqlite3_result_double(ctx, x);
        return;
    }
    if (b == "datetime" || b == "smalldatetime" || b == "datetime2" || b == "date") {
        TDateTime d = 0;
        FunctionState* st = StateOf(ctx);
        std::string saved = st->dateFormat;
        // A style names the order of a text's day and month.
        if (style == 101) st->dateFormat = "mdy";
        else if (style == 103 || style == 104 || style == 105) st->dateFormat = "dmy";
        else if (style == 111 || style == 120 || style == 121) st->dateFormat = "ymd";
        Arg a = DateArg(ctx, v, d);
        st->dateFormat = saved;
        if (a != Arg::Ok) {
            if (a == Arg::Null) sqlite3_result_null(ctx);
            return;
        }
        if (b == "date") d = DateOf(d);
        ResultText(ctx, FormatIsoDateTime(d));
        return;
    }
    ResultError(ctx, "Type " + typeText + " is not a defined system type.");
}

void Register(sqlite3* db, const char* name, int args, FunctionState* state,
              void (*fn)(sqlite3_context*, int, sqlite3_value**)) {
    if (sqlite3_create_function_v2(db, name, args, SQLITE_UTF8, state, fn, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw EDatabaseError(std::string("Cannot register the function ") + name + ": " + sqlite3_errmsg(db));
}

} // namespace

// ---------------------------------------------------------------------------------------------

std::string CanonicalDatePartUnit(const std::string& word) {
    static const std::pair<const char*, const char*> kUnits[] = {
        {"year", "year"},       {"yy", "year"},          {"yyyy", "year"},       {"quarter", "quarter"},
        {"qq", "quarter"},      {"q", "quarter"},        {"month", "month"},     {"mm", "month"},
        {"m", "month"},         {"dayofyear", "dayofyear"}, {"dy", "dayofyear"}, {"y", "dayofyear"},
        {"day", "day"},         {"dd", "day"},           {"d", "day"},           {"week", "week"},
        {"wk", "week"},         {"ww", "week"},          {"weekday", "weekday"}, {"dw", "weekday"},
        {"w", "weekday"},       {"hour", "hour"},        {"hh", "hour"},         {"minute", "minute"},
        {"mi", "minute"},       {"n", "minute"},         {"second", "second"},   {"ss", "second"},
        {"s", "second"},        {"millisecond", "millisecond"}, {"ms", "millisecond"}};
    const std::string w = Lower(word);
    for (const auto& u : kUnits)
        if (w == u.first) return u.second;
    return {};
}

bool ParseDateLiteral(const std::string& text, const std::string& dateFormat, TDateTime& out) {
    Cursor c{text};
    DateTimeParts p{};
    int g1 = 0, g2 = 0, g3 = 0;
    const int n1 = c.Digits(4, g1);
    if (n1 == 0 || c.End()) return false;
    const char sep = c.Peek();
    if (sep != '/' && sep != '.' && sep != '-') return false;
    ++c.i;
    const int n2 = c.Digits(2, g2);
    if (n2 == 0 || c.Peek() != sep) return false;
    ++c.i;
    const int n3 = c.Digits(4, g3);
    if (n3 == 0) return false;

    bool isoForm = false;
    if (n1 == 4) {
        if (n3 > 2) return false;
        isoForm = sep == '-';
        // Year first: ISO 'yyyy-mm-dd' always reads year, month, day here (the stored form).
        p.year = g1;
        if (!isoForm && dateFormat == "ydm") { p.day = g2; p.month = g3; }
        else { p.month = g2; p.day = g3; }
    } else if (n3 == 4 && n1 <= 2) {
        p.year = g3;
        const bool dayFirst = dateFormat.find('d') < dateFormat.find('m');
        if (dayFirst) { p.day = g1; p.month = g2; }
        else { p.month = g1; p.day = g2; }
    } else {
        return false;  // two-digit years stay as written
    }

    if (!c.End()) {
        if (c.Peek() == 'T' && isoForm) {
            ++c.i;
        } else if (c.Peek() == ' ') {
            while (c.Peek() == ' ') ++c.i;
        } else {
            return false;
        }
        if (!ParseTime(c, p) || !c.End()) return false;
    }
    if (!IsValidDate(p.year, p.month, p.day)) return false;
    out = EncodeDateTime(p);
    return true;
}

std::vector<Statement> Rewrite(const std::string& sql, std::string& dateFormat) {
    std::vector<Statement> result;
    const std::vector<Token> tokens = Tokenize(sql);
    std::vector<Token> current;
    auto finish = [&]() {
        bool blank = true;
        for (const Token& t : current)
            if (Significant(t)) { blank = false; break; }
        if (!blank) {
            Statement st;
            if (SessionStatement(current, st)) {
                if (st.kind == Statement::Kind::SetDateFormat) dateFormat = st.text;
            } else {
                st.kind = Statement::Kind::Sql;
                st.text = RewriteStatement(current, dateFormat);
            }
            result.push_back(std::move(st));
        }
        current.clear();
    };
    for (const Token& t : tokens) {
        if (IsPunct(t, ';')) finish();
        else current.push_back(t);
    }
    finish();
    return result;
}

void RegisterFunctions(sqlite3* db, FunctionState* state) {
    Register(db, "GETDATE", 0, state, GetDateFn);
    Register(db, "DATEPART", 2, state, DatePartFn);
    Register(db, "DATEADD", 3, state, DateAddFn);
    Register(db, "DATEDIFF", 3, state, DateDiffFn);
    Register(db, "TSQL_CONVERT", 2, state, ConvertFn);
    Register(db, "TSQL_CONVERT", 3, state, ConvertFn);
}

} // namespace velmora::db::tsql
