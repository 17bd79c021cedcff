#pragma once
// Token helpers the T-SQL rewriting rules share.
#include <cstddef>
#include <string>
#include <vector>

#include "db/SqlLexer.h"

namespace velmora::db::tsql {

using sql::IsPunct;
using sql::IsWord;
using sql::Significant;
using sql::TokKind;
using sql::Token;
using Tokens = std::vector<Token>;

constexpr size_t kNone = static_cast<size_t>(-1);

// A token the rewriter writes that was not in the text.
sql::Token Synthetic(sql::TokKind kind, std::string text);
// The first significant token at or after i, or end.
size_t NextSignificant(const Tokens& t, size_t i, size_t end);
// For every '(' the index of its ')', kNone when it is not closed.
std::vector<size_t> MatchParentheses(const Tokens& t);

} // namespace velmora::db::tsql
