#pragma once
// ASCII text helpers: letter case without the locale, trimming and whole-number parsing.
// Names, keywords and protocol tokens are ASCII; the C library's versions follow the process locale,
// which would make "I" and "i" differ under a Turkish one.
#include <charconv>
#include <string>
#include <string_view>

namespace velmora::platform {

constexpr char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAsciiHexDigit(char c) { return IsAsciiDigit(c) || (LowerAscii(c) >= 'a' && LowerAscii(c) <= 'f'); }
constexpr bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool IsAsciiLetterOrDigit(char c) { return IsAsciiLetter(c) || IsAsciiDigit(c); }
constexpr bool IsAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
// Blank or control character (every byte up to the space).
constexpr bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string LowerAscii(std::string_view text);
std::string UpperAscii(std::string_view text);

bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);
// The position of the first occurrence of part at or after from; npos when there is none.
size_t FindNoCase(std::string_view text, std::string_view part, size_t from = 0);
inline bool ContainsNoCase(std::string_view text, std::string_view part) {
    return FindNoCase(text, part) != std::string_view::npos;
}
// Replaces every occurrence of from (letters compared without regard to case) with to.
std::string ReplaceAllNoCase(std::string_view text, std::string_view from, std::string_view to);

// Without leading and trailing blanks and control characters.
std::string_view TrimView(std::string_view text);
inline std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

// A whole decimal number that is the entire text: no blanks, an optional '-' (and '+' when allowPlus),
// nothing after it, and within the range of Int.
template <class Int>
bool ParseWhole(std::string_view text, Int& out, bool allowPlus = false) {
    if (allowPlus && !text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) return false;
    }
    if (text.empty()) return false;
    Int value{};
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    out = value;
    return true;
}

} // namespace velmora::platform
