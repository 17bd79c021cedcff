#include "campaigns/OzelSorguXML.h"

#include <cctype>
#include <cstdint>

#include "platform/Error.h"
#include "xml/XmlEncoding.h"
#include "platform/Paths.h"

namespace velmora::campaigns {

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Turkish single-byte text (Windows-1254, or ISO-8859-9 when iso is set) as UTF-8. Both are Latin-1 with six
// Turkish letters in place of Icelandic ones; Windows-1254 also has typographic signs in 0x80..0x9F.
std::string TurkishToUtf8(const std::string& bytes, bool iso) {
    static const uint16_t k1254High[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0xFFFD, 0x0178};
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (unsigned char b : bytes) {
        uint32_t cp = b;
        if (b >= 0x80 && b < 0xA0 && !iso) cp = k1254High[b - 0x80];
        else if (b == 0xD0) cp = 0x011E;  // Ğ
        else if (b == 0xDD) cp = 0x0130;  // İ
        else if (b == 0xDE) cp = 0x015E;  // Ş
        else if (b == 0xF0) cp = 0x011F;  // ğ
        else if (b == 0xFD) cp = 0x0131;  // ı
        else if (b == 0xFE) cp = 0x015F;  // ş
        AppendUtf8(out, cp);
    }
    return out;
}

bool HasNonAscii(const std::string& bytes) {
    for (unsigned char b : bytes)
        if (b >= 0x80) return true;
    return false;
}

} // namespace

TXMLParametreType TXMLParametreTypeList::Item(size_t index) const {
    std::vector<xml::XmlElement> items = root_.Children("Parametre");
    if (index >= items.size())
        throw EXmlError("Parametre index " + std::to_string(index) + " is out of range (" +
                        std::to_string(items.size()) + " items)");
    return TXMLParametreType(doc_, items[index]);
}

TXMLOzelSorguType::TXMLOzelSorguType(std::shared_ptr<xml::XmlDocument> doc)
    : doc_(std::move(doc)), root_(doc_->Root()), FParametre(doc_, root_) {}

IXMLOzelSorguType ReadCustomQueryFile(const std::string& fileName) {
    auto doc = std::make_shared<xml::XmlDocument>();
    const std::string bytes = platform::ReadWholeFile(fileName);
    const std::string encoding = xml::DeclaredEncoding(bytes);
    // The parser itself knows the Unicode forms and Latin-1; definitions written on Turkish machines often
    // declare a Turkish code page, whose letters it would otherwise take for broken UTF-8.
    if (encoding == "windows-1254" || encoding == "cp1254" || encoding == "iso-8859-9" || encoding == "latin5") {
        const std::string utf8 = TurkishToUtf8(bytes, encoding == "iso-8859-9" || encoding == "latin5");
        std::string error;
        if (!doc->TryLoadFromString(utf8, &error))
            throw EXmlError("XML file \"" + fileName + "\" could not be read: " + error);
    } else {
        static const char* const kKnown[] = {"", "utf-8", "utf8", "utf-16", "utf-16le", "utf-16be", "ucs-2",
                                             "utf-32", "utf-32le", "utf-32be", "ucs-4", "iso-8859-1", "latin1",
                                             "us-ascii", "ascii"};
        bool known = false;
        for (const char* k : kKnown) known = known || encoding == k;
        if (!known && HasNonAscii(bytes))
            throw EXmlError("XML file \"" + fileName + "\" declares the encoding \"" + encoding +
                            "\", which cannot be read");
        doc->LoadFromFile(fileName);
    }
    if (doc->Root().Name() != "OzelSorgu")
        throw EXmlError("The custom query definition has the root element \"" + doc->Root().Name() +
                        "\" instead of \"OzelSorgu\"");
    return std::make_shared<TXMLOzelSorguType>(std::move(doc));
}

} // namespace velmora::campaigns
