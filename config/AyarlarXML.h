#pragma once
// Bindings of "Settings.xml", the one configuration file, and the program database connection.
#include <memory>
#include <string>

#include "db/DbConnection.h"
#include "gateway/ZentaApiService.h"
#include "xml/XmlDocument.h"

namespace velmora::config {

// The element "VeriTabani": one text property per child element; an absent element reads as empty text.
class TXMLVeriTabaniType {
public:
    explicit TXMLVeriTabaniType(xml::XmlElement node) : node_(node) {}
    std::string Provider() const { return node_.ChildText("Provider"); }
    std::string Sunucu() const { return node_.ChildText("Sunucu"); }
    std::string KullaniciAdi() const { return node_.ChildText("KullaniciAdi"); }
    std::string Parola() const { return node_.ChildText("Parola"); }
    std::string VeriTabaniAdi() const { return node_.ChildText("VeriTabaniAdi"); }
    // Optional, for every connection of a run (program and tenants); empty when absent.
    std::string Surucu() const { return node_.ChildText("Surucu"); }
    std::string BaglantiOzellikleri() const { return node_.ChildText("BaglantiOzellikleri"); }
    std::string BaglantiZamanAsimi() const { return node_.ChildText("BaglantiZamanAsimi"); }
    std::string KomutZamanAsimi() const { return node_.ChildText("KomutZamanAsimi"); }
private:
    xml::XmlElement node_;
};

// The root element "Ayarlar". Keeps the parsed document alive.
class TXMLAyarlarType {
public:
    explicit TXMLAyarlarType(std::unique_ptr<xml::XmlDocument> doc);
    TXMLVeriTabaniType VeriTabani() const { return TXMLVeriTabaniType(root_.Child("VeriTabani")); }
    // The optional element "SMSServisi" with the gateway's deployment values; empty when absent.
    xml::XmlElement SMSServisi() const { return root_.Child("SMSServisi"); }
private:
    std::unique_ptr<xml::XmlDocument> doc_;
    xml::XmlElement root_;
};

// Parses the file; throws EFileError or EXmlError with a message text when it cannot be read,
// is not well-formed, or its root element is not "Ayarlar".
std::unique_ptr<TXMLAyarlarType> ReadSettingsFile(const std::string& path);

// The directory of the executable followed by "Settings.xml" (VELMORA_SETTINGS_FILE overrides it for tests).
std::string SettingsFilePath();

// The shared steps of both phases' ConnectProgramDatabase: closes the connection, reads the settings
// afresh and opens the program database with the connection options, which every tenant connection
// of the phase takes over from it (VisitActiveTenants). Returns false on any failure, with its text in *message.
bool ConnectProgramDatabase(db::TDbConnection& connection, std::string* message);

// The connection options from the optional children of "VeriTabani": <Surucu> (ODBC driver name),
// <BaglantiOzellikleri> (extra connection-string attributes), <BaglantiZamanAsimi> and <KomutZamanAsimi>
// (seconds, 1 to 86400). Absent or empty elements keep the defaults; an invalid number throws EConvertError.
db::ConnectionOptions ConnectionOptionsFromSettings(const TXMLVeriTabaniType& settings);

// Applies the optional "SMSServisi" element over the built-in defaults:
// <SMSServisi><Sunucu>host[:port]</Sunucu><IsimAlani>namespace URI</IsimAlani>
// <BaglantiZamanAsimi>seconds</BaglantiZamanAsimi><IstekZamanAsimi>seconds</IstekZamanAsimi>
// <AzamiYanitBoyutu>MB</AzamiYanitBoyutu>
// <SertifikaDosyasi>PEM file of the certificate authorities trusted for https</SertifikaDosyasi></SMSServisi>
// Absent or empty children keep their defaults. A settings file that cannot be read leaves the defaults.
gateway::GatewayBinding GatewayBindingFromSettings(const std::string& path);

} // namespace velmora::config
