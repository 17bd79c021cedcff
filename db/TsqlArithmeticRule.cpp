// The rewriter's arithmetic rule: SQL Server's + - * / as calls of the registered functions.
#include "db/TsqlArithmeticRule.h"

#include <algorithm>

#include "platform/Error.h"

namespace velmora::db::tsql {

namespace {

// Rule: arithmetic. SQL Server's + - * / depend on the operands' types (text + text joins, money
// stays exact, a date-time plus a number adds days, division by zero fails), so every operator
// becomes a call of the registered TSQL_ADD, TSQL_SUB, TSQL_MUL or TSQL_DIV, with * / % binding
// tighter than + -.

// Words that never stand as an operand: where one is found an expression ends or has not begun.
bool IsClauseWord(const Token& k) {
    static const char* const kWords[] = {
        "SELECT", "FROM",  "WHERE",  "AND",    "OR",       "NOT",       "AS",     "ON",      "JOIN",   "IN",
        "IS",     "LIKE",  "BETWEEN", "WHEN",  "THEN",     "ELSE",      "END",    "BY",      "GROUP",  "ORDER",
        "HAVING", "DISTINCT", "TOP", "UNION",  "ALL",      "EXISTS",    "INNER",  "OUTER",   "CROSS",  "FULL",
        "ASC",    "DESC",  "VALUES", "SET",    "INTO",     "INSERT",    "UPDATE", "DELETE",  "WITH",   "ESCAPE",
        "COLLATE", "PERCENT", "TIES", "OVER",  "PARTITION", "INTERSECT", "EXCEPT", "RETURN", "ANY",    "SOME"};
    if (k.kind != TokKind::Word) return false;
    for (const char* w : kWords)
        if (IsWord(k, w)) return true;
    return false;
}

class ArithmeticRule {
public:
    explicit ArithmeticRule(const Tokens& t) : t_(t), match_(MatchParentheses(t)), caseEnd_(MatchCase(t)) {}

    Tokens Apply() {
        Tokens out;
        out.reserve(t_.size());
        Rewrite(0, t_.size(), out);
        return out;
    }

private:
    size_t Next(size_t i, size_t e) const { return NextSignificant(t_, i, e); }

    // The index after CASE ... END starting at i, kNone when it does not end within e.
    size_t CaseEnd(size_t i, size_t e) const { return caseEnd_[i] != kNone && caseEnd_[i] <= e ? caseEnd_[i] : kNone; }

    // For every CASE the index after its END, found once (looking it up again per CASE would cost
    // quadratic time on a text of unclosed CASEs).
    static std::vector<size_t> MatchCase(const Tokens& t) {
        std::vector<size_t> end(t.size(), kNone), open;
        for (size_t i = 0; i < t.size(); ++i) {
            if (IsWord(t[i], "CASE")) open.push_back(i);
            else if (IsWord(t[i], "END") && !open.empty()) { end[open.back()] = i + 1; open.pop_back(); }
        }
        return end;
    }

    // The index after the operand starting at the significant token i, kNone when none starts there.
    size_t OperandEnd(size_t i, size_t e) const {
        size_t j = i;
        while (j < e && (IsPunct(t_[j], '-') || IsPunct(t_[j], '+') || IsPunct(t_[j], '~'))) j = Next(j + 1, e);
        if (j >= e) return kNone;
        const Token& k = t_[j];
        size_t end = kNone;
        if (k.kind == TokKind::Number || k.kind == TokKind::String || k.kind == TokKind::Param) {
            end = j + 1;
        } else if (IsPunct(k, '(')) {
            if (match_[j] == kNone || match_[j] >= e) return kNone;
            end = match_[j] + 1;
        } else if (IsWord(k, "CASE")) {
            end = CaseEnd(j, e);
        } else if (k.kind == TokKind::Word || k.kind == TokKind::QuotedIdent) {
            if (IsClauseWord(k)) return kNone;
            const size_t p = Next(j + 1, e);
            if (k.kind == TokKind::Word && p < e && IsPunct(t_[p], '(')) {
                if (match_[p] == kNone || match_[p] >= e) return kNone;
                end = match_[p] + 1;
            } else {
                end = j + 1;
                // a.b.c and a.*
                while (end + 1 < e && IsPunct(t_[end], '.') &&
                       (t_[end + 1].kind == TokKind::Word || t_[end + 1].kind == TokKind::QuotedIdent ||
                        IsPunct(t_[end + 1], '*')))
                    end += 2;
            }
        }
        if (end == kNone) return kNone;
        const size_t c = Next(end, e);
        if (c < e && IsWord(t_[c], "COLLATE")) {
            const size_t name = Next(c + 1, e);
            if (name < e) end = name + 1;
        }
        return end;
    }

    static bool IsOperator(const Token& k) {
        return IsPunct(k, '+') || IsPunct(k, '-') || IsPunct(k, '*') || IsPunct(k, '/') || IsPunct(k, '%');
    }

    // Copies an operand, rewriting inside its parentheses and CASE.
    void EmitOperand(size_t b, size_t e, Tokens& out) const {
        for (size_t x = b; x < e; ++x) {
            if (IsPunct(t_[x], '(') && match_[x] != kNone && match_[x] < e) {
                out.push_back(t_[x]);
                Rewrite(x + 1, match_[x], out);
                out.push_back(t_[match_[x]]);
                x = match_[x];
            } else if (IsWord(t_[x], "CASE")) {
                const size_t end = CaseEnd(x, e);
                if (end == kNone) { out.push_back(t_[x]); continue; }
                out.push_back(t_[x]);
                Rewrite(x + 1, end - 1, out);
                out.push_back(t_[end - 1]);
                x = end - 1;
            } else {
                out.push_back(t_[x]);
            }
        }
    }

    // terms[0] op[0] terms[1] op[1] ... folded from the left into nested calls, written in one pass
    // (a long chain costs linear time): TSQL_ADD(TSQL_SUB(a, b), c).
    static void Fold(std::vector<Tokens>& terms, const std::string& ops, Tokens& out) {
        for (size_t k = ops.size(); k-- > 0;) {
            const char op = ops[k];
            if (op == '%') {  // SQLite's own modulo, kept in its place by parentheses
                out.push_back(Synthetic(TokKind::Punct, "("));
            } else {
                out.push_back(Synthetic(TokKind::Word, op == '+'   ? "TSQL_ADD"
                                                       : op == '-' ? "TSQL_SUB"
                                                       : op == '*' ? "TSQL_MUL"
                                                                   : "TSQL_DIV"));
                out.push_back(Synthetic(TokKind::Punct, "("));
            }
        }
        for (Token& k : terms[0]) out.push_back(std::move(k));
        for (size_t k = 0; k < ops.size(); ++k) {
            out.push_back(Synthetic(TokKind::Punct, ops[k] == '%' ? " % " : ", "));
            for (Token& t : terms[k + 1]) out.push_back(std::move(t));
            out.push_back(Synthetic(TokKind::Punct, ")"));
        }
    }

    void Rewrite(size_t b, size_t e, Tokens& out) const {
        // Parentheses and CASE nest by recursion here; SQL Server refuses far less nesting than this.
        if (++depth_ > kMaxNesting) throw EDatabaseError("The statement nests parentheses or CASE too deeply");
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave{depth_};
        size_t i = b;
        while (i < e) {
            if (!Significant(t_[i])) { out.push_back(t_[i++]); continue; }
            size_t end = OperandEnd(i, e);
            if (end == kNone) {
                // Not an operand: copy it, and what its parentheses hold rewritten.
                if (IsPunct(t_[i], '(') && match_[i] != kNone && match_[i] < e) {
                    EmitOperand(i, match_[i] + 1, out);
                    i = match_[i] + 1;
                } else {
                    out.push_back(t_[i++]);
                }
                continue;
            }
            std::vector<std::pair<size_t, size_t>> operands{{i, end}};
            std::string ops;
            for (;;) {
                const size_t op = Next(end, e);
                if (op >= e || !IsOperator(t_[op])) break;
                const size_t r = Next(op + 1, e);
                const size_t rEnd = r < e ? OperandEnd(r, e) : kNone;
                if (rEnd == kNone) break;
                ops += t_[op].text[0];
                operands.emplace_back(r, rEnd);
                end = rEnd;
            }
            if (ops.empty()) {
                EmitOperand(i, end, out);
                i = end;
                continue;
            }
            std::vector<Tokens> terms;
            for (auto [ob, oe] : operands) {
                Tokens x;
                EmitOperand(ob, oe, x);
                terms.push_back(std::move(x));
            }
            // * / % first, then + - from left to right.
            std::vector<Tokens> sums;
            std::string sumOps;
            std::vector<Tokens> factors;
            std::string factorOps;
            factors.push_back(std::move(terms[0]));
            auto closeProduct = [&]() {
                Tokens product;
                Fold(factors, factorOps, product);
                sums.push_back(std::move(product));
                factors.clear();
                factorOps.clear();
            };
            for (size_t k = 0; k < ops.size(); ++k) {
                if (ops[k] == '+' || ops[k] == '-') {
                    closeProduct();
                    sumOps += ops[k];
                } else {
                    factorOps += ops[k];
                }
                factors.push_back(std::move(terms[k + 1]));
            }
            closeProduct();
            Fold(sums, sumOps, out);
            i = end;
        }
    }

    static constexpr int kMaxNesting = 200;
    const Tokens& t_;
    std::vector<size_t> match_;
    std::vector<size_t> caseEnd_;
    mutable int depth_ = 0;
};

} // namespace

Tokens RewriteArithmetic(const Tokens& t) { return ArithmeticRule(t).Apply(); }

} // namespace velmora::db::tsql
