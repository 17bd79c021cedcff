#include "queue/SMSConstV2.h"

#include "xml/XmlDocument.h"

namespace velmora::queue {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Length of the placeholder's match at text[at], or 0. Letters compare without regard to case; an "i" of the
// placeholder also matches the Turkish capital dotted "İ" and small dotless "ı", since a placeholder typed
// in capitals on a Turkish keyboard comes out as "{{MUSTERİADİ}}".
size_t PlaceholderMatch(const std::string& text, size_t at, const std::string& placeholder) {
    size_t i = at;
    for (char p : placeholder) {
        if (i >= text.size()) return 0;
        const char lower = LowerAscii(p);
        if (LowerAscii(text[i]) == lower) {
            ++i;
        } else if (lower == 'i' && i + 1 < text.size() && text[i] == '\xC4' &&
                   (text[i + 1] == '\xB0' || text[i + 1] == '\xB1')) {
            i += 2;
        } else {
            return 0;
        }
    }
    return i - at;
}

// Replaces every occurrence of the placeholder; the inserted values are not searched again.
std::string ReplacePlaceholder(const std::string& text, const std::string& placeholder, const std::string& value) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const size_t n = text[i] == '{' ? PlaceholderMatch(text, i, placeholder) : 0;
        if (n > 0) {
            out += value;
            i += n;
        } else {
            out += text[i++];
        }
    }
    return out;
}

} // namespace

std::string ReplaceAllNoCase(const std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        bool match = i + from.size() <= text.size();
        for (size_t k = 0; match && k < from.size(); ++k) match = LowerAscii(text[i + k]) == LowerAscii(from[k]);
        if (match) {
            out += to;
            i += from.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

std::string FillTemplate(const std::string& templ, const std::string& musteriAdi, const std::string& musteriSoyadi,
                         const std::string& cocukAdi, const std::string& cocukSoyadi, const std::string& tarih,
                         const std::string& tutar) {
    std::string text = templ;
    // Each replacement works on what the previous left, so a value holding a later placeholder gets it filled too.
    text = ReplacePlaceholder(text, "{{MusteriAdi}}", musteriAdi);
    text = ReplacePlaceholder(text, "{{MusteriSoyadi}}", musteriSoyadi);
    text = ReplacePlaceholder(text, "{{MusteriCocuguAdi}}", cocukAdi);
    text = ReplacePlaceholder(text, "{{MusteriCocuguSoyadi}}", cocukSoyadi);
    text = ReplacePlaceholder(text, "{{Tarih}}", tarih);
    text = ReplacePlaceholder(text, "{{Tutar}}", tutar);
    return xml::EscapeXmlText(text);
}

std::string DigitsOnly(const std::string& number) {
    std::string out;
    for (char c : number)
        if (c == '+' || (c >= '0' && c <= '9')) out += c;
    return out;
}

bool NormalizePhoneNumber(std::string& number) {
    number = DigitsOnly(number);
    if (!number.empty() && number[0] == '+') return true;
    const size_t length = number.size();
    if (length < 10) return false;
    if (length == 10) return number[0] == '5';
    if (length == 11) return number.compare(0, 2, "05") == 0;
    if (length == 12) {
        if (number.compare(0, 2, "90") != 0) number.insert(0, "+");
        return true;
    }
    number.insert(0, "+");
    return true;
}

std::string Trim(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
    return text.substr(b, e - b);
}

} // namespace velmora::queue
