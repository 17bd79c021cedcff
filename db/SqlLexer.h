#pragma once
// The one SQL scanner of the database layer: T-SQL text cut into tokens.
#include <cstddef>
#include <string>
#include <vector>

namespace velmora::db::sql {

enum class TokKind {
    Space,
    Comment,      // "-- ..." up to the line end (not included), or a nested "/* ... */"
    String,       // '...' or N'...'; value holds the content without quotes and escapes
    QuotedIdent,  // [name] or "name"; value holds the name ("]]" and """" stand for one character)
    Word,         // a name or keyword
    Number,
    Param,        // "?" or "?n"
    Punct,        // any other single character, and unterminated literals, names and comments
};

struct Token {
    TokKind kind = TokKind::Punct;
    std::string text;   // exactly as written
    std::string value;  // String and QuotedIdent: the content; empty otherwise
    bool unicode = false;  // String written N'...'
};

// Reads the token starting at i (i < s.size()) into out; returns the index after it.
size_t ScanToken(const std::string& s, size_t i, Token& out);

std::vector<Token> Tokenize(const std::string& s);

// The index after the literal, quoted name or comment starting at i; i when none starts there.
// An unterminated one runs to the end of the text.
size_t SkipLiteralOrComment(const std::string& s, size_t i);

// The first word of a statement after blanks and comments, empty when it starts otherwise.
std::string FirstWord(const std::string& s);

// The parts of a dotted name ("db.dbo.[my table]"), each without its quotes and outer blanks.
std::vector<std::string> NameParts(const std::string& name);

bool Significant(const Token& t);
bool IsPunct(const Token& t, char c);
// Word comparison without regard to ASCII letter case; upperWord is written in capitals.
bool IsWord(const Token& t, const char* upperWord);

} // namespace velmora::db::sql
