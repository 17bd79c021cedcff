// What the facade reads from a statement's text: its ":name" markers, its single table, an append open.
#include "db/StatementText.h"

#include <regex>

#include "db/SqlLexer.h"
#include "platform/Text.h"

namespace velmora::db {

namespace {

using platform::IsAsciiSpace;

bool IsNameStart(char c) { return platform::IsAsciiLetter(c) || c == '_'; }
bool IsNameChar(char c) { return platform::IsAsciiLetterOrDigit(c) || c == '_'; }

// Skips a quoted literal, identifier or comment starting at i; returns the index after it, or i when none starts there.
size_t SkipQuoted(const std::string& sql, size_t i) { return sql::SkipLiteralOrComment(sql, i); }

} // namespace

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

} // namespace velmora::db
