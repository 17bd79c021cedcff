#include "config/SenderManager.h"

#include <cctype>
#include <set>

#include "config/AyarlarXML.h"
#include "platform/Com.h"
#include "queue/SMSSenderUnit.h"

namespace velmora::config {

using db::TDbConnection;
using db::TDbQuery;

TVelmora::TVelmora() { platform::ComInitialize(); }

TVelmora::~TVelmora() {
    ProgramConnection.SetConnected(false);
    platform::ComUninitialize();
}

bool TVelmora::ConnectProgramDatabase() { return config::ConnectProgramDatabase(ProgramConnection, nullptr); }

void TVelmora::LoadSMSSettings(TSMSAyarlari& settings, TDbConnection& connection) {
    TDbQuery q(&connection);
    q.SetSQL("SELECT * FROM tbNuvoSMSAyarlari");
    q.Open();
    settings.KullaniciAdi = q.FieldByName("kullanici_adi").AsString();
    settings.Parola = q.FieldByName("parola").AsString();
    settings.KanalKodu = q.FieldByName("kanal_kodu").AsString();
    settings.Developer = q.FieldByName("developer").AsString();
    settings.Originator = q.FieldByName("originator").AsString();
    settings.SMSTipi = q.FieldByName("sms_tipi").AsInteger();
    q.Close();
}

void VisitActiveTenants(TDbConnection& program, const std::function<void(TDbConnection& tenant)>& serve) {
    TDbQuery registry(&program);
    registry.SetSQL("SELECT * FROM tbNuvoVeriTabani WHERE aktif <> 0");
    registry.Open();
    const int count = registry.RecordCount();
    for (int i = 0; i < count; ++i) {
        TDbConnection tenant;
        tenant.Options = program.Options;  // the settings file's time-outs and driver hold for tenants too
        tenant.ProviderName = "SQL Server";
        tenant.Server = registry.FieldByName("sunucu").AsString();
        tenant.Username = registry.FieldByName("kullanici_adi").AsString();
        tenant.Password = registry.FieldByName("parola").AsString();
        tenant.Database = registry.FieldByName("veritabani").AsString();
        serve(tenant);
        registry.Next();
    }
    registry.Close();
}

void TVelmora::Execute() {
    TSMSAyarlari settings;
    if (!ConnectProgramDatabase()) return;
    // A database listed twice would have its undecided rows sent twice in one run: it is served once.
    std::set<std::string> served;
    VisitActiveTenants(ProgramConnection, [&](TDbConnection& tenant) {
        std::string key = queue::Trim(tenant.Server) + '\n' + queue::Trim(tenant.Database);
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!served.insert(key).second) {
            Failures.push_back("SMS gönderimi atlandı (" + tenant.Database + "): veri tabanı listede birden çok kez var");
            return;
        }
        try {
            ServeTenant(tenant, settings);
        } catch (const std::exception& e) {
            Failures.push_back("SMS gönderimi yapılamadı (" + tenant.Database + "): " + e.what());
        } catch (...) {
            Failures.push_back("SMS gönderimi yapılamadı (" + tenant.Database + "): bilinmeyen hata");
        }
    });
}

void TVelmora::ServeTenant(TDbConnection& tenant, TSMSAyarlari& settings) {
    tenant.SetConnected(true);
    LoadSMSSettings(settings, tenant);

    const std::string& name = tenant.Database;
    try {
        queue::TSMSGonder sender(tenant, settings);
        if (!sender.SMSGonder())
            Failures.push_back("SMS gönderilemedi (" + name + "): ağ geçidi girişi ya da gönderimi kabul etmedi");
    } catch (const std::exception& e) {
        Failures.push_back("SMS gönderilemedi (" + name + "): " + e.what());
    } catch (...) {
        Failures.push_back("SMS gönderilemedi (" + name + "): bilinmeyen hata");
    }
    try {
        queue::TSMSRapor reports(tenant, settings);
        if (!reports.RaporGetir())
            Failures.push_back("SMS raporları alınamadı (" + name + "): ağ geçidi girişi ya da raporu kabul etmedi");
    } catch (const std::exception& e) {
        Failures.push_back("SMS raporları alınamadı (" + name + "): " + e.what());
    } catch (...) {
        Failures.push_back("SMS raporları alınamadı (" + name + "): bilinmeyen hata");
    }
    tenant.SetConnected(false);
}

} // namespace velmora::config
