// Reading a document as a stream of element starts, texts and ends, giving up on all but the plain forms.
#include "xml/XmlStream.h"

#include <cstdint>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Text.h"

namespace velmora::xml {

namespace {

// XML's own white space, narrower than the C library's.
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool IsNameStart(char c) {
    return platform::IsAsciiLetter(c) || c == '_' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}

bool IsNameChar(char c) { return IsNameStart(c) || platform::IsAsciiDigit(c) || c == '-' || c == '.'; }

using platform::AppendUtf8;

class Reader {
public:
    Reader(std::string_view doc, XmlStreamHandler& handler) : doc_(doc), handler_(handler) {}

    bool Read() {
        if (doc_.find('\0') != std::string_view::npos) return false;
        // An XML declaration, then comments and blanks before the root and after it.
        if (doc_.compare(0, 5, "<?xml") == 0 && pos_ + 5 < doc_.size() && IsSpace(doc_[5])) {
            const size_t end = doc_.find("?>", 5);
            if (end == std::string_view::npos) return false;
            pos_ = end + 2;
        }
        if (!Misc()) return false;
        if (!At('<') || pos_ + 1 >= doc_.size() || !IsNameStart(doc_[pos_ + 1])) return false;
        if (!Root()) return false;
        return Misc() && pos_ == doc_.size();
    }

private:
    bool At(char c) const { return pos_ < doc_.size() && doc_[pos_] == c; }
    bool StartsWith(std::string_view s) const { return doc_.compare(pos_, s.size(), s) == 0; }

    // Blanks and comments.
    bool Misc() {
        for (;;) {
            while (pos_ < doc_.size() && IsSpace(doc_[pos_])) ++pos_;
            if (!StartsWith("<!--")) return true;
            if (!Comment()) return false;
        }
    }

    bool Comment() {
        const size_t end = doc_.find("-->", pos_ + 4);
        if (end == std::string_view::npos) return false;
        pos_ = end + 3;
        return true;
    }

    std::string_view Name() {
        const size_t start = pos_;
        if (pos_ >= doc_.size() || !IsNameStart(doc_[pos_])) return {};
        while (pos_ < doc_.size() && IsNameChar(doc_[pos_])) ++pos_;
        return doc_.substr(start, pos_ - start);
    }

    // After "<name": attributes, each after a blank, then ">" or "/>". Their values are not read.
    bool Attributes(bool& empty) {
        for (;;) {
            const size_t before = pos_;
            while (pos_ < doc_.size() && IsSpace(doc_[pos_])) ++pos_;
            if (At('>')) { ++pos_; empty = false; return true; }
            if (StartsWith("/>")) { pos_ += 2; empty = true; return true; }
            if (pos_ == before || Name().empty()) return false;
            while (pos_ < doc_.size() && IsSpace(doc_[pos_])) ++pos_;
            if (!At('=')) return false;
            ++pos_;
            while (pos_ < doc_.size() && IsSpace(doc_[pos_])) ++pos_;
            if (!At('"') && !At('\'')) return false;
            const char quote = doc_[pos_++];
            const size_t end = doc_.find(quote, pos_);
            if (end == std::string_view::npos || doc_.substr(pos_, end - pos_).find('<') != std::string_view::npos)
                return false;
            pos_ = end + 1;
        }
    }

    // What each open element has held so far, for the rule on text of blanks alone.
    struct Open {
        std::string_view name;
        bool value = false;  // a first piece of text, kept in the element
        bool child = false;  // a child element or a later piece of text
    };

    bool Root() {
        std::vector<Open> open;
        for (;;) {
            if (!At('<')) {
                if (open.empty()) return true;
                if (!TextRun(open.back())) return false;
                continue;
            }
            if (StartsWith("<!--")) {
                if (open.empty() || !Comment()) return false;
                continue;
            }
            if (StartsWith("</")) {
                if (open.empty()) return false;
                pos_ += 2;
                if (Name() != open.back().name) return false;
                while (pos_ < doc_.size() && IsSpace(doc_[pos_])) ++pos_;
                if (!At('>')) return false;
                ++pos_;
                open.pop_back();
                handler_.EndElement();
                if (open.empty()) return true;
                continue;
            }
            ++pos_;
            const std::string_view name = Name();
            if (name.empty()) return false;  // "<!", "<?" and stray "<"
            bool empty = false;
            if (!Attributes(empty)) return false;
            if (!open.empty()) open.back().child = true;
            handler_.StartElement(name);
            if (empty) {
                handler_.EndElement();
                if (open.empty()) return true;
            } else {
                open.push_back({name, false, false});
            }
        }
    }

    // Text up to the next "<". Blanks alone are kept only as an element's single content (before its end
    // tag, with nothing else held yet).
    bool TextRun(Open& element) {
        const size_t start = pos_;
        const size_t end = doc_.find('<', pos_);
        if (end == std::string_view::npos) return false;
        pos_ = end;
        const std::string_view raw = doc_.substr(start, end - start);
        bool blank = true;
        for (char c : raw) blank = blank && IsSpace(c);
        if (blank && (!StartsWith("</") || element.child)) return true;
        if (element.value) element.child = true;
        element.value = true;
        if (raw.find_first_of("&\r") == std::string_view::npos) {
            handler_.Text(raw);
            return true;
        }
        text_.clear();
        for (size_t i = 0; i < raw.size(); ++i) {
            const char c = raw[i];
            if (c == '\r') {
                text_ += '\n';
                if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
            } else if (c == '&') {
                const size_t semi = raw.find(';', i);
                if (semi == std::string_view::npos || !Reference(raw.substr(i + 1, semi - i - 1))) return false;
                i = semi;
            } else {
                text_ += c;
            }
        }
        handler_.Text(text_);
        return true;
    }

    bool Reference(std::string_view name) {
        if (name == "lt") text_ += '<';
        else if (name == "gt") text_ += '>';
        else if (name == "amp") text_ += '&';
        else if (name == "apos") text_ += '\'';
        else if (name == "quot") text_ += '"';
        else if (name.size() >= 2 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            if (digits.empty() || digits.size() > 7) return false;
            uint32_t cp = 0;
            for (char d : digits) {
                uint32_t v;
                if (d >= '0' && d <= '9') v = static_cast<uint32_t>(d - '0');
                else if (hex && d >= 'a' && d <= 'f') v = static_cast<uint32_t>(d - 'a' + 10);
                else if (hex && d >= 'A' && d <= 'F') v = static_cast<uint32_t>(d - 'A' + 10);
                else return false;
                cp = cp * (hex ? 16 : 10) + v;
            }
            if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
            AppendUtf8(text_, cp);
        } else {
            return false;
        }
        return true;
    }

    std::string_view doc_;
    XmlStreamHandler& handler_;
    size_t pos_ = 0;
    std::string text_;
};

} // namespace

bool ReadXmlStream(std::string_view document, XmlStreamHandler& handler) {
    return Reader(document, handler).Read();
}

} // namespace velmora::xml
