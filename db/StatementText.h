#pragma once
// What the facade reads from a statement's text: its ":name" markers, its single table, an append open.
#include <string>
#include <vector>

namespace velmora::db {

// The column of "SELECT * FROM <table> WHERE <column> = -<digits>", the form that opens an empty result for
// appending; empty for any other statement.
std::string AppendOpenColumn(const std::string& sql);
// The single table a "SELECT ... FROM <table> ..." statement reads, or empty.
std::string SingleTableOf(const std::string& sql);
// Replaces ":name" markers outside quoted literals with '?'; names in marker order.
std::string ReplaceParamMarkers(const std::string& sql, std::vector<std::string>& names);

} // namespace velmora::db
