// The encoding an XML text declares, and turning a document held as Unicode text back into its bytes.
#include "xml/XmlEncoding.h"

#include "platform/CodePage.h"
#include "platform/Text.h"

namespace velmora::xml {

namespace {
const std::string kUtf8Mark = "\xEF\xBB\xBF";
} // namespace

std::string DeclaredEncoding(const std::string& bytes) {
    if (bytes.compare(0, 5, "<?xml") != 0) return {};
    const size_t end = bytes.find("?>");
    if (end == std::string::npos) return {};
    const std::string decl = bytes.substr(0, end);
    size_t pos = decl.find("encoding");
    if (pos == std::string::npos) return {};
    pos = decl.find('=', pos);
    if (pos == std::string::npos) return {};
    ++pos;
    while (pos < decl.size() && platform::IsAsciiSpace(decl[pos])) ++pos;
    if (pos >= decl.size() || (decl[pos] != '"' && decl[pos] != '\'')) return {};
    const size_t close = decl.find(decl[pos], pos + 1);
    if (close == std::string::npos) return {};
    return platform::LowerAscii(decl.substr(pos + 1, close - pos - 1));
}

namespace {

enum class SingleByte { Cp1254, Iso88599, Latin1 };

std::string ToSingleByte(const std::u16string& text, SingleByte form) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        int byte = -1;
        if (form == SingleByte::Latin1) byte = cp < 0x100 ? static_cast<int>(cp) : -1;
        else byte = platform::TurkishCodePageByte(cp, form == SingleByte::Iso88599);
        if (byte >= 0) out += static_cast<char>(byte);
        else out += "&#" + std::to_string(static_cast<unsigned long>(cp)) + ";";
    }
    return out;
}

} // namespace

std::string EncodeAsDeclared(const std::string& text) {
    // A byte-order mark held as a character belongs to no encoding but UTF-8; each form writes its own.
    const std::string utf8Document = text.compare(0, 3, kUtf8Mark) == 0 ? text.substr(3) : text;
    const std::string encoding = DeclaredEncoding(utf8Document);
    if (encoding.empty()) return text;
    if (encoding == "utf-16" || encoding == "utf-16le" || encoding == "utf-16be" || encoding == "ucs-2") {
        const bool big = encoding == "utf-16be";
        const std::u16string units = platform::Utf8ToUtf16(utf8Document);
        std::string out;
        out.reserve(2 + units.size() * 2);
        out += big ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t u : units) {
            const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
            out += big ? hi : lo;
            out += big ? lo : hi;
        }
        return out;
    }
    if (encoding == "windows-1254" || encoding == "cp1254")
        return ToSingleByte(platform::Utf8ToUtf16(utf8Document), SingleByte::Cp1254);
    if (encoding == "iso-8859-9" || encoding == "latin5")
        return ToSingleByte(platform::Utf8ToUtf16(utf8Document), SingleByte::Iso88599);
    if (encoding == "iso-8859-1" || encoding == "latin1")
        return ToSingleByte(platform::Utf8ToUtf16(utf8Document), SingleByte::Latin1);
    return text;
}

} // namespace velmora::xml
