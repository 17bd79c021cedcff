// The one SQL scanner of the database layer: tokens of T-SQL text.
#include "db/SqlLexer.h"

#include "platform/Text.h"

namespace velmora::db::sql {

namespace {

using platform::IsAsciiDigit;
using platform::IsAsciiSpace;

bool IsIdentStart(char c) {
    return platform::IsAsciiLetter(c) || c == '_' || c == '@' || c == '#' || static_cast<unsigned char>(c) >= 0x80;
}

bool IsIdentPart(char c) { return IsIdentStart(c) || IsAsciiDigit(c) || c == '$'; }

// A quoted run from i (on the opening character) to its closing character; a doubled closing
// character stands for one. Returns the index after it; closed tells whether it was closed.
size_t ScanQuoted(const std::string& s, size_t i, char close, std::string& value, bool& closed) {
    const size_t n = s.size();
    ++i;
    closed = false;
    while (i < n) {
        if (s[i] == close) {
            if (i + 1 < n && s[i + 1] == close) {
                value += close;
                i += 2;
                continue;
            }
            closed = true;
            return i + 1;
        }
        value += s[i++];
    }
    return i;
}

} // namespace

size_t ScanToken(const std::string& s, size_t i, Token& out) {
    const size_t n = s.size();
    const size_t start = i;
    const char c = s[i];
    out.value.clear();
    out.unicode = false;
    if (IsAsciiSpace(c)) {
        while (i < n && IsAsciiSpace(s[i])) ++i;
        out.kind = TokKind::Space;
    } else if (c == '-' && i + 1 < n && s[i + 1] == '-') {
        while (i < n && s[i] != '\n') ++i;
        out.kind = TokKind::Comment;
    } else if (c == '/' && i + 1 < n && s[i + 1] == '*') {
        // T-SQL block comments nest; an unterminated one swallows the rest, as on the server.
        int level = 0;
        while (i < n) {
            if (s[i] == '/' && i + 1 < n && s[i + 1] == '*') {
                ++level;
                i += 2;
            } else if (s[i] == '*' && i + 1 < n && s[i + 1] == '/') {
                i += 2;
                if (--level == 0) break;
            } else {
                ++i;
            }
        }
        out.kind = level > 0 ? TokKind::Punct : TokKind::Comment;
    } else if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < n && s[i + 1] == '\'')) {
        // N'...' is SQL Server's Unicode literal. (An N that ends a word never gets here: words are read whole.)
        const bool unicode = c != '\'';
        bool closed = false;
        i = ScanQuoted(s, unicode ? i + 1 : i, '\'', out.value, closed);
        out.kind = closed ? TokKind::String : TokKind::Punct;
        out.unicode = unicode;
    } else if (c == '"' || c == '[') {
        bool closed = false;
        i = ScanQuoted(s, i, c == '[' ? ']' : '"', out.value, closed);
        out.kind = closed ? TokKind::QuotedIdent : TokKind::Punct;
    } else if (IsAsciiDigit(c) || (c == '.' && i + 1 < n && IsAsciiDigit(s[i + 1]))) {
        if (c == '0' && i + 1 < n && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
            i += 2;
            while (i < n && platform::IsAsciiHexDigit(s[i])) ++i;
        } else {
            while (i < n && IsAsciiDigit(s[i])) ++i;
            if (i < n && s[i] == '.') {
                ++i;
                while (i < n && IsAsciiDigit(s[i])) ++i;
            }
            if (i < n && (s[i] == 'e' || s[i] == 'E')) {
                size_t j = i + 1;
                if (j < n && (s[j] == '+' || s[j] == '-')) ++j;
                if (j < n && IsAsciiDigit(s[j])) {
                    i = j;
                    while (i < n && IsAsciiDigit(s[i])) ++i;
                }
            }
        }
        out.kind = TokKind::Number;
    } else if (IsIdentStart(c)) {
        while (i < n && IsIdentPart(s[i])) ++i;
        out.kind = TokKind::Word;
    } else if (c == '?') {
        ++i;
        while (i < n && IsAsciiDigit(s[i])) ++i;
        out.kind = TokKind::Param;
    } else {
        ++i;
        out.kind = TokKind::Punct;
    }
    out.text.assign(s, start, i - start);
    return i;
}

std::vector<Token> Tokenize(const std::string& s) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < s.size()) {
        Token t;
        i = ScanToken(s, i, t);
        out.push_back(std::move(t));
    }
    return out;
}

size_t SkipLiteralOrComment(const std::string& s, size_t i) {
    const char c = s[i];
    const char next = i + 1 < s.size() ? s[i + 1] : '\0';
    if (c != '\'' && c != '"' && c != '[' && !(c == '-' && next == '-') && !(c == '/' && next == '*')) return i;
    Token t;
    return ScanToken(s, i, t);
}

std::string FirstWord(const std::string& s) {
    size_t i = 0;
    Token t;
    while (i < s.size()) {
        i = ScanToken(s, i, t);
        if (Significant(t)) return t.kind == TokKind::Word ? t.text : std::string();
    }
    return {};
}

std::vector<std::string> NameParts(const std::string& name) {
    std::vector<std::string> parts(1);
    size_t i = 0;
    Token t;
    while (i < name.size()) {
        i = ScanToken(name, i, t);
        if (IsPunct(t, '.')) parts.emplace_back();
        else if (t.kind == TokKind::QuotedIdent) parts.back() += t.value;
        else if (t.kind != TokKind::Space) parts.back() += t.text;
    }
    return parts;
}

bool Significant(const Token& t) { return t.kind != TokKind::Space && t.kind != TokKind::Comment; }

bool IsPunct(const Token& t, char c) { return t.kind == TokKind::Punct && t.text.size() == 1 && t.text[0] == c; }

bool IsWord(const Token& t, const char* upperWord) {
    return t.kind == TokKind::Word && platform::EqualsNoCase(t.text, upperWord);
}

} // namespace velmora::db::sql
