#include "queue/SMSConstV2.h"

#include "xml/XmlDocument.h"

namespace velmora::queue {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

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
    text = ReplaceAllNoCase(text, "{{MusteriAdi}}", musteriAdi);
    text = ReplaceAllNoCase(text, "{{MusteriSoyadi}}", musteriSoyadi);
    text = ReplaceAllNoCase(text, "{{MusteriCocuguAdi}}", cocukAdi);
    text = ReplaceAllNoCase(text, "{{MusteriCocuguSoyadi}}", cocukSoyadi);
    text = ReplaceAllNoCase(text, "{{Tarih}}", tarih);
    text = ReplaceAllNoCase(text, "{{Tutar}}", tutar);
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
