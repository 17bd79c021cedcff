// The settings file reader and its accessors on arbitrary file contents. EFileError and EXmlError are the
// reader's documented outcomes (an element holding elements instead of text reads as EXmlError too);
// GatewayBindingFromSettings never throws at all.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "config/AyarlarXML.h"
#include "platform/Error.h"
#include "tests/fuzz/FuzzSupport.h"
#include "xml/XmlDocument.h"

using namespace velmora;

namespace {

size_t Sum(const std::string& s) { return s.size() + (s.empty() ? 0 : static_cast<unsigned char>(s[0])); }

size_t ReadSettings(const std::string& path) {
    size_t seen = 0;
    try {
        std::unique_ptr<config::TXMLAyarlarType> settings = config::ReadSettingsFile(path);
        config::TXMLVeriTabaniType v = settings->VeriTabani();
        // Each accessor on its own: one that throws must not keep the others from being read.
        const auto read = [&](auto accessor) {
            try {
                seen += Sum(accessor());
            } catch (const EXmlError&) {
            }
        };
        read([&] { return v.Provider(); });
        read([&] { return v.Sunucu(); });
        read([&] { return v.KullaniciAdi(); });
        read([&] { return v.Parola(); });
        read([&] { return v.VeriTabaniAdi(); });
        xml::XmlElement service = settings->SMSServisi();
        for (const char* name : {"Sunucu", "IsimAlani", "BaglantiZamanAsimi", "IstekZamanAsimi"})
            read([&] { return service.ChildText(name); });
    } catch (const EFileError&) {
    } catch (const EXmlError&) {
    }
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::InputFile file("settings");
    const std::string& path = file.Write(data, size);
    fuzz::NothingEscapes("the settings reader threw an undocumented error", [&] {
        volatile size_t sink = ReadSettings(path);
        (void)sink;
    });
    fuzz::NothingEscapes("GatewayBindingFromSettings threw", [&] {
        gateway::GatewayBinding b = config::GatewayBindingFromSettings(path);
        if (b.host.empty() || b.namespaceUri.empty() || b.connectTimeoutSeconds <= 0 || b.requestTimeoutSeconds <= 0)
            fuzz::Fault("GatewayBindingFromSettings", "a value was left empty or not positive");
    });
    return 0;
}
