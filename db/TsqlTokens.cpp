// Token helpers the T-SQL rewriting rules share.
#include "db/TsqlTokens.h"

#include <utility>

namespace velmora::db::tsql {

sql::Token Synthetic(sql::TokKind kind, std::string text) {
    sql::Token t;
    t.kind = kind;
    t.text = std::move(text);
    return t;
}

size_t NextSignificant(const Tokens& t, size_t i, size_t end) {
    while (i < end && !sql::Significant(t[i])) ++i;
    return i;
}

std::vector<size_t> MatchParentheses(const Tokens& t) {
    std::vector<size_t> match(t.size(), kNone), open;
    for (size_t i = 0; i < t.size(); ++i) {
        if (sql::IsPunct(t[i], '(')) open.push_back(i);
        else if (sql::IsPunct(t[i], ')') && !open.empty()) { match[open.back()] = i; open.pop_back(); }
    }
    return match;
}

} // namespace velmora::db::tsql
