// ASCII text helpers: letter case without the locale, trimming.
#include "platform/Text.h"

namespace velmora::platform {

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

std::string UpperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = UpperAscii(c);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

size_t FindNoCase(std::string_view text, std::string_view part, size_t from) {
    if (from > text.size()) return std::string_view::npos;
    if (part.empty()) return from;
    for (size_t i = from; i + part.size() <= text.size(); ++i)
        if (EqualsNoCase(text.substr(i, part.size()), part)) return i;
    return std::string_view::npos;
}

std::string ReplaceAllNoCase(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (i + from.size() <= text.size() && EqualsNoCase(text.substr(i, from.size()), from)) {
            out += to;
            i += from.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string_view TrimView(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlankOrControl(text[b])) ++b;
    while (e > b && IsBlankOrControl(text[e - 1])) --e;
    return text.substr(b, e - b);
}

} // namespace velmora::platform
