// Reading the settings file and opening the program database from it.
#include "config/AyarlarXML.h"

#include <algorithm>

#include "platform/Error.h"
#include "queue/SMSConstV2.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace velmora::config {

TXMLAyarlarType::TXMLAyarlarType(std::unique_ptr<xml::XmlDocument> doc) : doc_(std::move(doc)), root_(doc_->Root()) {}

std::unique_ptr<TXMLAyarlarType> ReadSettingsFile(const std::string& path) {
    if (!platform::FileExists(path)) throw EFileError("The settings file \"" + path + "\" was not found");
    auto doc = std::make_unique<xml::XmlDocument>();
    doc->LoadFromFile(path);
    if (doc->Root().Name() != "Ayarlar")
        throw EXmlError("The settings file \"" + path + "\" has the root element \"" + doc->Root().Name() +
                        "\" instead of \"Ayarlar\"");
    return std::make_unique<TXMLAyarlarType>(std::move(doc));
}

std::string SettingsFilePath() {
    std::string overridden = platform::GetEnv("VELMORA_SETTINGS_FILE");
    if (!overridden.empty()) return overridden;
    return platform::ExecutableDirectory() + "Settings.xml";
}

bool ConnectProgramDatabase(db::TDbConnection& connection, std::string* message) {
    connection.SetConnected(false);
    try {
        std::unique_ptr<TXMLAyarlarType> settings = ReadSettingsFile(SettingsFilePath());
        TXMLVeriTabaniType v = settings->VeriTabani();
        connection.ProviderName = "SQL Server";
        connection.Username = v.KullaniciAdi();
        connection.Password = v.Parola();
        connection.Database = v.VeriTabaniAdi();
        connection.Server = v.Sunucu();
        connection.Options = ConnectionOptionsFromSettings(v);
        connection.SetConnected(true);
        return true;
    } catch (const std::exception& e) {
        if (message) *message = e.what();
    } catch (...) {
        if (message) *message = "Program veri tabanı açılırken bilinmeyen hata";
    }
    return false;
}

namespace {

void ReadPositiveNumber(const xml::XmlElement& parent, const char* name, long& target) {
    std::string text = parent.ChildText(name);
    long value = 0;
    if (platform::ParseWhole(text, value) && value > 0) target = value;
}

void ReadDatabaseSeconds(const std::string& text, const char* name, int& target) {
    const std::string t = platform::Trim(text);
    if (t.empty()) return;
    int value = 0;
    if (!platform::ParseWhole(t, value) || value < 1 || value > 86400)
        throw EConvertError(std::string("The settings file's <VeriTabani><") + name + "> holds \"" + t +
                            "\": a whole number of seconds from 1 to 86400 is expected");
    target = value;
}

} // namespace

db::ConnectionOptions ConnectionOptionsFromSettings(const TXMLVeriTabaniType& settings) {
    db::ConnectionOptions options;
    ReadDatabaseSeconds(settings.BaglantiZamanAsimi(), "BaglantiZamanAsimi", options.connectTimeoutSeconds);
    ReadDatabaseSeconds(settings.KomutZamanAsimi(), "KomutZamanAsimi", options.commandTimeoutSeconds);
    options.odbcDriver = platform::Trim(settings.Surucu());
    options.odbcAttributes = platform::Trim(settings.BaglantiOzellikleri());
    return options;
}

gateway::GatewayBinding GatewayBindingFromSettings(const std::string& path) {
    gateway::GatewayBinding binding;
    try {
        std::unique_ptr<TXMLAyarlarType> settings = ReadSettingsFile(path);
        xml::XmlElement service = settings->SMSServisi();
        if (!service) return binding;
        std::string host = service.ChildText("Sunucu");
        std::string ns = service.ChildText("IsimAlani");
        if (!host.empty()) binding.host = host;
        if (!ns.empty()) binding.namespaceUri = ns;
        ReadPositiveNumber(service, "BaglantiZamanAsimi", binding.connectTimeoutSeconds);
        ReadPositiveNumber(service, "IstekZamanAsimi", binding.requestTimeoutSeconds);
        long megabytes = 0;
        ReadPositiveNumber(service, "AzamiYanitBoyutu", megabytes);  // a whole number of MB (1 MB = 1,048,576 bytes)
        constexpr long kMaxMegabytes = 2047;
        if (megabytes > 0) binding.maxAnswerBytes = static_cast<size_t>(std::min(megabytes, kMaxMegabytes)) << 20;
        binding.caFile = service.ChildText("SertifikaDosyasi");
    } catch (...) {
        // The phases report an unreadable settings file themselves.
    }
    return binding;
}

} // namespace velmora::config
