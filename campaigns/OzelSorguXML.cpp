// The custom-query definition files: reading them in their declared encoding, and their bindings.
#include "campaigns/OzelSorguXML.h"

#include <cstdint>

#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "xml/XmlEncoding.h"

namespace velmora::campaigns {

namespace {

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
        const std::string utf8 = platform::TurkishCodePageToUtf8(bytes, encoding == "iso-8859-9" || encoding == "latin5");
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
