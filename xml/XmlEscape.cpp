// The one escaper of XML text.
#include "xml/XmlEscape.h"

namespace velmora::xml {

namespace {

// What stands for text[i] (empty: the character itself); sets skip when a CR LF pair is written as one.
std::string_view Replacement(std::string_view text, size_t i, CarriageReturns cr, bool& skip) {
    skip = false;
    switch (text[i]) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return "&apos;";
    case '\r':
        if (cr == CarriageReturns::AsReference) return "&#13;";
        if (cr == CarriageReturns::AsLineFeed) {
            skip = i + 1 < text.size() && text[i + 1] == '\n';
            return "\n";
        }
        return {};
    default: return {};
    }
}

} // namespace

size_t EscapedXmlTextLength(std::string_view text, CarriageReturns cr) {
    size_t n = 0;
    bool skip = false;
    for (size_t i = 0; i < text.size(); ++i) {
        std::string_view rep = Replacement(text, i, cr, skip);
        n += rep.empty() ? 1 : rep.size();
        if (skip) ++i;
    }
    return n;
}

void AppendEscapedXmlText(std::string& out, std::string_view text, CarriageReturns cr) {
    // Runs of plain characters are copied in one piece.
    size_t run = 0;
    bool skip = false;
    for (size_t i = 0; i < text.size(); ++i) {
        std::string_view rep = Replacement(text, i, cr, skip);
        if (rep.empty()) continue;
        out.append(text.data() + run, i - run);
        out.append(rep);
        if (skip) ++i;
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
}

std::string EscapeXmlText(std::string_view text) {
    std::string out;
    out.reserve(EscapedXmlTextLength(text));
    AppendEscapedXmlText(out, text);
    return out;
}

} // namespace velmora::xml
