#include "campaigns/OzelSorguXML.h"

#include "platform/Error.h"

namespace velmora::campaigns {

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
    doc->LoadFromFile(fileName);
    if (doc->Root().Name() != "OzelSorgu")
        throw EXmlError("The custom query definition has the root element \"" + doc->Root().Name() +
                        "\" instead of \"OzelSorgu\"");
    return std::make_shared<TXMLOzelSorguType>(std::move(doc));
}

} // namespace velmora::campaigns
