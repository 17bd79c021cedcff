#pragma once
// The rewriter's arithmetic rule: SQL Server's + - * / as calls of the registered functions.
#include "db/TsqlTokens.h"

namespace velmora::db::tsql {

// The statement with every + - * / turned into a call of TSQL_ADD, TSQL_SUB, TSQL_MUL or TSQL_DIV
// (% stays SQLite's own), * / % binding tighter than + -.
Tokens RewriteArithmetic(const Tokens& t);

} // namespace velmora::db::tsql
