// Template filling and the phone-number rules every campaign applies before queueing.
#include "queue/SMSConstV2.h"

#include "platform/Text.h"
#include "xml/XmlDocument.h"
#include "xml/XmlEscape.h"

namespace velmora::queue {

namespace {

using platform::LowerAscii;

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
        if (c == '+' || platform::IsAsciiDigit(c)) out += c;
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

} // namespace velmora::queue
