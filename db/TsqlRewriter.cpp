// The T-SQL rewriter: SQL Server statements turned into SQLite text, one function per rule.
#include <algorithm>
#include <utility>

#include "db/TsqlArithmeticRule.h"
#include "db/TsqlDialect.h"
#include "db/TsqlTokens.h"
#include "platform/Error.h"
#include "platform/Text.h"

namespace velmora::db::tsql {

namespace {

using platform::IsAsciiDigit;

// Definitions, and the embedded database's own PRAGMA reads, whose literals name things and are
// compared with nothing.
bool IsDefinitionStatement(const Tokens& t) {
    const size_t i = NextSignificant(t, 0, t.size());
    return i < t.size() && (IsWord(t[i], "CREATE") || IsWord(t[i], "ALTER") || IsWord(t[i], "DROP") ||
                            IsWord(t[i], "PRAGMA"));
}

// ---------------------------------------------------------------------------------------------
// The rules applied token by token while the statement is written out.

class StatementWriter {
public:
    StatementWriter(const Tokens& t, const std::string& dateFormat, Collation collation, bool definition)
        : t_(t), n_(t.size()), dateFormat_(dateFormat), collation_(CollationName(collation)), definition_(definition) {}

    std::string Write() {
        out_.reserve(128);
        while (i_ < n_) {
            if (!skips_.empty() && i_ == skips_.back().first) {
                i_ = skips_.back().second;
                skips_.pop_back();
                continue;
            }
            if (Parenthesis() || Literal() || Word() || Schema()) continue;
            Copy();
        }
        while (!limits_.empty()) FlushLimit(limits_.back().first);
        return out_;
    }

private:
    size_t Next(size_t i) const { return NextSignificant(t_, i, n_); }

    void Copy() {
        const Token& k = t_[i_];
        if (k.kind == TokKind::QuotedIdent) {
            out_ += QuotedName(k.value);
        } else {
            out_ += k.text;
        }
        if (Significant(k)) prevSig_ = i_;
        ++i_;
    }

    static std::string QuotedName(const std::string& name) {
        std::string text = "\"";
        for (char ch : name) {
            if (ch == '"') text += '"';
            text += ch;
        }
        return text + '"';
    }

    // TOP n: the LIMIT to place where the SELECT's parenthesis level ends.
    void FlushLimit(int level) {
        bool placed = false;
        while (!limits_.empty() && limits_.back().first == level) {
            if (!placed) out_ += "\nLIMIT " + limits_.back().second;  // own line: a trailing "--" comment cannot swallow it
            placed = true;
            limits_.pop_back();
        }
    }

    bool Parenthesis() {
        if (IsPunct(t_[i_], '(')) ++depth_;
        else if (IsPunct(t_[i_], ')')) {
            FlushLimit(depth_);
            if (depth_ > 0) --depth_;
        }
        return false;  // copied as written
    }

    // Rule: date literals become the stored form; other text literals compare under the database
    // collation (SQLite would compare two literals byte by byte); N'...' is plain text here.
    bool Literal() {
        const Token& k = t_[i_];
        if (k.kind != TokKind::String) return false;
        TDateTime dt = 0;
        const std::string& v = k.value;
        if (v.size() >= 8 && v.size() <= 40 && IsAsciiDigit(v[0]) && ParseDateLiteral(v, dateFormat_, dt)) {
            out_ += '\'' + FormatIsoDateTime(RoundToDatetimeSteps(dt)) + '\'';
        } else {
            out_ += k.unicode ? k.text.substr(1) : k.text;
            const size_t next = Next(i_ + 1);
            const bool alias = prevSig_ != kNone && IsWord(t_[prevSig_], "AS");
            // A literal named by AS is a result column, not compared here.
            const bool named = next < n_ && (IsWord(t_[next], "AS") || IsWord(t_[next], "COLLATE"));
            if (!definition_ && !alias && !named) {
                out_ += " COLLATE ";
                out_ += collation_;
            }
        }
        prevSig_ = i_++;
        return true;
    }

    bool Word() {
        const Token& k = t_[i_];
        if (k.kind != TokKind::Word) return false;
        const size_t j = Next(i_ + 1);
        const bool call = j < n_ && IsPunct(t_[j], '(');
        return (call && (IsNull(k) || DateUnit(k, j) || Convert(k, j) || Cast(k, j) || LeftRight(k) ||
                         Refused(k) || TableHints(k, j))) ||
               CurrentTimestamp(k, call) || Top(k);
    }

    // Rule: ISNULL is a postfix operator in SQLite; SQL Server's function is ifnull.
    bool IsNull(const Token& k) {
        if (!IsWord(k, "ISNULL")) return false;
        out_ += "ifnull";
        prevSig_ = i_++;
        return true;
    }

    // Rule: DATEPART(Day, x): the unit keyword becomes a text argument of the registered function.
    bool DateUnit(const Token& k, size_t j) {
        if (!IsWord(k, "DATEPART") && !IsWord(k, "DATEADD") && !IsWord(k, "DATEDIFF")) return false;
        const size_t u = Next(j + 1);
        const size_t comma = u < n_ ? Next(u + 1) : n_;
        const std::string unit = (u < n_ && t_[u].kind == TokKind::Word) ? CanonicalDatePartUnit(t_[u].text) : "";
        if (unit.empty() || comma >= n_ || !IsPunct(t_[comma], ',')) return false;
        out_ += platform::UpperAscii(k.text);
        for (size_t x = i_ + 1; x < j; ++x) out_ += t_[x].text;
        out_ += '(';
        ++depth_;
        for (size_t x = j + 1; x < u; ++x) out_ += t_[x].text;
        out_ += '\'' + unit + '\'';
        prevSig_ = u;
        i_ = u + 1;
        return true;
    }

    // The data type written from first to last (exclusive) as one lower-case text, empty when the
    // tokens are no data type ("nvarchar ( 30 )", "decimal(10,2)").
    std::string TypeText(size_t first, size_t last) const {
        std::string type;
        for (size_t x = first; x < last; ++x) {
            if (!Significant(t_[x])) continue;
            if (t_[x].kind != TokKind::Word && t_[x].kind != TokKind::Number && !IsPunct(t_[x], '(') &&
                !IsPunct(t_[x], ')') && !IsPunct(t_[x], ','))
                return {};
            type += platform::LowerAscii(t_[x].text);
        }
        return type;
    }

    // Rule: CONVERT(char(1), x[, style]): the type becomes a text argument of TSQL_CONVERT.
    bool Convert(const Token& k, size_t j) {
        if (!IsWord(k, "CONVERT")) return false;
        int level = 0;
        size_t comma = n_;
        // A data type is a few tokens; looking no further keeps a text of unclosed CONVERT( calls
        // from costing quadratic time.
        const size_t typeEnd = std::min(n_, j + 1 + 32);
        for (size_t x = j + 1; x < typeEnd; ++x) {
            if (IsPunct(t_[x], '(')) ++level;
            else if (IsPunct(t_[x], ')')) { if (level == 0) break; --level; }
            else if (IsPunct(t_[x], ',') && level == 0) { comma = x; break; }
        }
        const std::string type = comma < n_ ? TypeText(j + 1, comma) : std::string();
        if (type.empty()) return false;
        out_ += "TSQL_CONVERT('" + type + "',";
        ++depth_;
        prevSig_ = comma;
        i_ = comma + 1;
        return true;
    }

    // Rule: CAST(x AS type) is CONVERT(type, x): SQLite's own CAST knows no date-times or money.
    bool Cast(const Token& k, size_t j) {
        if (!IsWord(k, "CAST")) return false;
        int level = 0;
        size_t as = n_, close = n_;
        for (size_t x = j + 1; x < n_; ++x) {
            if (IsPunct(t_[x], '(')) ++level;
            else if (IsPunct(t_[x], ')')) {
                if (level == 0) { close = x; break; }
                --level;
            } else if (level == 0 && IsWord(t_[x], "AS")) {
                as = x;
            }
        }
        if (as >= n_ || close >= n_) return false;
        const std::string type = TypeText(as + 1, close);
        if (type.empty()) throw EDatabaseError("CAST: the type after AS is not a data type");
        out_ += "TSQL_CONVERT('" + type + "',";
        ++depth_;
        skips_.emplace_back(as, close);
        prevSig_ = j;
        i_ = j + 1;
        return true;
    }

    // Rule: LEFT( and RIGHT( are functions in T-SQL, join keywords to SQLite.
    bool LeftRight(const Token& k) {
        if (!IsWord(k, "LEFT") && !IsWord(k, "RIGHT")) return false;
        out_ += "TSQL_" + platform::UpperAscii(k.text);
        prevSig_ = i_++;
        return true;
    }

    // Rule: T-SQL functions that SQLite also has under the same name with another meaning fail
    // here with their name, instead of giving another value than the server would.
    bool Refused(const Token& k) {
        static const char* const kRefused[] = {"FORMAT", "LOG"};
        for (const char* name : kRefused)
            if (IsWord(k, name))
                throw EDatabaseError("The function " + platform::UpperAscii(k.text) +
                                     " is not supported by the embedded database's T-SQL dialect");
        return false;
    }

    // Rule: table hints such as WITH (NOLOCK) mean nothing to SQLite.
    bool TableHints(const Token& k, size_t j) {
        if (!IsWord(k, "WITH")) return false;
        static const char* const kHints[] = {"NOLOCK", "READUNCOMMITTED", "READCOMMITTED", "ROWLOCK",
                                             "PAGLOCK", "TABLOCK", "TABLOCKX", "UPDLOCK", "XLOCK", "HOLDLOCK",
                                             "NOWAIT", "READPAST", "SERIALIZABLE", "REPEATABLEREAD"};
        size_t x = j + 1;
        bool hints = false;
        for (; x < n_; ++x) {
            if (!Significant(t_[x]) || IsPunct(t_[x], ',')) continue;
            if (IsPunct(t_[x], ')')) break;
            bool hint = false;
            for (const char* h : kHints) hint = hint || IsWord(t_[x], h);
            if (!hint) return false;
            hints = true;
        }
        if (!hints || x >= n_) return false;
        i_ = x + 1;
        return true;
    }

    bool CurrentTimestamp(const Token& k, bool call) {
        if (call || !IsWord(k, "CURRENT_TIMESTAMP")) return false;
        out_ += "GETDATE()";
        prevSig_ = i_++;
        return true;
    }

    // Rule: SELECT [DISTINCT] TOP n / TOP (n) -> LIMIT n at the end of that SELECT.
    bool Top(const Token& k) {
        if (!IsWord(k, "TOP") || prevSig_ == kNone ||
            !(IsWord(t_[prevSig_], "SELECT") || IsWord(t_[prevSig_], "DISTINCT") || IsWord(t_[prevSig_], "ALL")))
            return false;
        size_t m = Next(i_ + 1);
        std::string count;
        size_t end = n_;
        if (m < n_ && t_[m].kind == TokKind::Number) {
            count = t_[m].text;
            end = m + 1;
        } else if (m < n_ && IsPunct(t_[m], '(')) {
            size_t a = Next(m + 1);
            size_t b = a < n_ ? Next(a + 1) : n_;
            // A '?' count is not taken: moving it to the end would reorder the positional markers.
            if (a < n_ && t_[a].kind == TokKind::Number && b < n_ && IsPunct(t_[b], ')')) {
                count = t_[a].text;
                end = b + 1;
            }
        }
        const size_t after = Next(end);
        if (after < n_ && (IsWord(t_[after], "PERCENT") || IsWord(t_[after], "WITH")))
            throw EDatabaseError("TOP ... " + platform::UpperAscii(t_[after].text) +
                                 " is not supported by the embedded database's T-SQL dialect");
        if (count.empty())
            throw EDatabaseError("TOP takes a whole number here (TOP n or TOP (n))");
        limits_.emplace_back(depth_, count);
        i_ = end;
        return true;
    }

    // Rule: the dbo schema; SQLite would take it for the name of an attached database.
    bool Schema() {
        const Token& k = t_[i_];
        const bool dbo = (k.kind == TokKind::Word && IsWord(k, "DBO")) ||
                         (k.kind == TokKind::QuotedIdent && platform::UpperAscii(k.value) == "DBO");
        if (!dbo || i_ + 2 >= n_ || !IsPunct(t_[i_ + 1], '.') ||
            (t_[i_ + 2].kind != TokKind::Word && t_[i_ + 2].kind != TokKind::QuotedIdent))
            return false;
        i_ += 2;
        return true;
    }

    const Tokens& t_;
    const size_t n_;
    const std::string& dateFormat_;
    const char* collation_;
    const bool definition_;
    std::string out_;
    size_t i_ = 0;
    int depth_ = 0;
    size_t prevSig_ = kNone;
    std::vector<std::pair<int, std::string>> limits_;
    std::vector<std::pair<size_t, size_t>> skips_;  // [from, to) left out, the latest first
};

bool ValidDateFormat(const std::string& f) {
    return f == "mdy" || f == "dmy" || f == "ymd" || f == "ydm" || f == "myd" || f == "dym";
}

// Recognises the session statements the backend handles itself.
bool SessionStatement(const Tokens& t, Statement& st) {
    std::vector<const Token*> sig;
    for (const Token& k : t)
        if (Significant(k)) sig.push_back(&k);
    if (sig.size() != 3 || !IsWord(*sig[0], "SET")) return false;
    if (IsWord(*sig[1], "DATEFORMAT") && (sig[2]->kind == TokKind::Word || sig[2]->kind == TokKind::String)) {
        std::string order = platform::LowerAscii(sig[2]->kind == TokKind::String ? sig[2]->value : sig[2]->text);
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

std::string RewriteStatement(const Tokens& t, const std::string& dateFormat, Collation collation) {
    const bool definition = IsDefinitionStatement(t);
    if (definition) return StatementWriter(t, dateFormat, collation, true).Write();
    const Tokens arithmetic = RewriteArithmetic(t);
    return StatementWriter(arithmetic, dateFormat, collation, false).Write();
}

} // namespace

std::vector<Statement> Rewrite(const std::string& sql, std::string& dateFormat, Collation collation) {
    std::vector<Statement> result;
    const Tokens tokens = sql::Tokenize(sql);
    Tokens current;
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
                st.text = RewriteStatement(current, dateFormat, collation);
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

} // namespace velmora::db::tsql
