#pragma once
// Bindings of the custom-query definition document: root "OzelSorgu" with "SorguAdi", "SorguAciklama",
// "Sorgu" and repeated "Parametre" elements. Every element is read and written as text.
#include <memory>
#include <string>

#include "xml/XmlDocument.h"

namespace velmora::campaigns {

class TXMLParametreType {
public:
    TXMLParametreType(std::shared_ptr<xml::XmlDocument> doc, xml::XmlElement node) : doc_(std::move(doc)), node_(node) {}

    std::string Adi() const { return node_.ChildText("Adi"); }
    std::string Aciklama() const { return node_.ChildText("Aciklama"); }
    std::string VeriTipi() const { return node_.ChildText("VeriTipi"); }
    std::string VeriKaynagi() const { return node_.ChildText("VeriKaynagi"); }
    std::string LookupSQL() const { return node_.ChildText("LookupSQL"); }
    std::string LookupKey() const { return node_.ChildText("LookupKey"); }
    std::string LookupDisplay() const { return node_.ChildText("LookupDisplay"); }
    std::string Value() const { return node_.ChildText("Value"); }
    std::string MultiSelect() const { return node_.ChildText("MultiSelect"); }

    void SetAdi(const std::string& v) { node_.SetChildText("Adi", v); }
    void SetAciklama(const std::string& v) { node_.SetChildText("Aciklama", v); }
    void SetVeriTipi(const std::string& v) { node_.SetChildText("VeriTipi", v); }
    void SetVeriKaynagi(const std::string& v) { node_.SetChildText("VeriKaynagi", v); }
    void SetLookupSQL(const std::string& v) { node_.SetChildText("LookupSQL", v); }
    void SetLookupKey(const std::string& v) { node_.SetChildText("LookupKey", v); }
    void SetLookupDisplay(const std::string& v) { node_.SetChildText("LookupDisplay", v); }
    void SetValue(const std::string& v) { node_.SetChildText("Value", v); }
    void SetMultiSelect(const std::string& v) { node_.SetChildText("MultiSelect", v); }

private:
    std::shared_ptr<xml::XmlDocument> doc_;  // keeps the document alive
    xml::XmlElement node_;
};
using IXMLParametreType = TXMLParametreType;

// The "Parametre" children of the root, in document order.
class TXMLParametreTypeList {
public:
    TXMLParametreTypeList(std::shared_ptr<xml::XmlDocument> doc, xml::XmlElement root) : doc_(std::move(doc)), root_(root) {}

    size_t Count() const { return root_.Children("Parametre").size(); }
    TXMLParametreType Add() { return TXMLParametreType(doc_, root_.AppendChild("Parametre")); }
    TXMLParametreType Insert(size_t index) { return TXMLParametreType(doc_, root_.InsertChild("Parametre", index)); }
    TXMLParametreType Item(size_t index) const;  // throws EXmlError past the end

private:
    std::shared_ptr<xml::XmlDocument> doc_;
    xml::XmlElement root_;
};
using IXMLParametreTypeList = TXMLParametreTypeList;

class TXMLOzelSorguType {
public:
    explicit TXMLOzelSorguType(std::shared_ptr<xml::XmlDocument> doc);

    std::string SorguAdi() const { return root_.ChildText("SorguAdi"); }
    std::string SorguAciklama() const { return root_.ChildText("SorguAciklama"); }
    std::string Sorgu() const { return root_.ChildText("Sorgu"); }
    TXMLParametreTypeList& Parametre() { return FParametre; }
    void SetSorguAdi(const std::string& v) { root_.SetChildText("SorguAdi", v); }
    void SetSorguAciklama(const std::string& v) { root_.SetChildText("SorguAciklama", v); }
    void SetSorgu(const std::string& v) { root_.SetChildText("Sorgu", v); }

private:
    std::shared_ptr<xml::XmlDocument> doc_;
    xml::XmlElement root_;
    TXMLParametreTypeList FParametre;
};
using IXMLOzelSorguType = std::shared_ptr<TXMLOzelSorguType>;

// Loads the whole file and binds its root "OzelSorgu"; throws EFileError/EXmlError with a message text
// when the file cannot be read, is not well-formed, or has another root. Besides the Unicode forms and
// Latin-1 it reads the Turkish code pages (windows-1254, ISO-8859-9) named in the declaration; another
// declared code page is refused when the file holds characters outside ASCII.
IXMLOzelSorguType ReadCustomQueryFile(const std::string& fileName);

} // namespace velmora::campaigns
