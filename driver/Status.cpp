// The status tool: queue states per tenant, read only, and the rolled-back preview of one run.
#include "driver/Status.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "campaigns/SMSCheck.h"
#include "config/AyarlarXML.h"
#include "config/TenantRegistry.h"
#include "platform/Clock.h"
#include "platform/Text.h"
#include "queue/SMSConstV2.h"

namespace velmora::driver {

using db::TDbConnection;
using db::TDbQuery;

namespace {

std::string ErrorText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "bilinmeyen hata";
    }
}

long long CountOf(TDbQuery& q, const char* column) {
    long long n = 0;
    platform::ParseWhole(platform::TrimView(q.FieldByName(column).AsString()), n);
    return n;
}

std::optional<TDateTime> DateTimeOrNone(TDbQuery& q, const char* column) {
    if (q.FieldByName(column).IsNull()) return std::nullopt;
    return q.FieldByName(column).AsDateTime();
}

// "YYYY-MM-DD HH:MM:SS", or "-" for none.
std::string Stamp(const std::optional<TDateTime>& value) {
    if (!value) return "-";
    return FormatIsoDateTime(*value).substr(0, 19);
}

std::string Age(TDateTime from, TDateTime now) {
    long long minutes = (DateTimeToMilliseconds(now) - DateTimeToMilliseconds(from)) / 60000;
    if (minutes < 0) return "gelecekte";
    std::string text;
    if (minutes >= 1440) text += std::to_string(minutes / 1440) + " gün ";
    if (minutes >= 60) text += std::to_string(minutes / 60 % 24) + " saat ";
    return text + std::to_string(minutes % 60) + " dakika önce";
}

const char* GroupName(int group) {
    static const char* const kNames[] = {"", "harici", "müşteri / özel sorgu", "mağaza satış özeti", "doğum günü",
                                         "evlilik yıldönümü", "çocuğun doğum günü", "taksit hatırlatma",
                                         "alışveriş sonrası", "gecikmiş ödeme", "ön ödemeli sipariş"};
    return group >= 1 && group <= 10 ? kNames[group] : "bilinmeyen grup";
}

bool SameName(const std::string& a, const std::string& b) {
    return platform::EqualsNoCase(platform::TrimView(a), platform::TrimView(b));
}

void SetSettingsFile(const std::string& path) {
#ifdef _WIN32
    _putenv_s("VELMORA_SETTINGS_FILE", path.c_str());
#else
    setenv("VELMORA_SETTINGS_FILE", path.c_str(), 1);
#endif
}

const char* kUsage =
    "Kullanım: velmora-status [--settings <Settings.xml>] [--preview <veri tabanı> [--at \"YYYY-MM-DD HH:MM\"]]\n"
    "  Seçeneksiz: her etkin kiracının kuyruk durumları, en eski bekleyen satır ve son kontrol damgaları.\n"
    "  --preview: o anda yapılacak bir çalışmanın kuyruğa ekleyeceği mesajlar (geri alınır, gönderilmez).\n";

} // namespace

TenantStatus ReadTenantStatus(TDbConnection& tenant) {
    TenantStatus s;
    s.database = tenant.Database;
    s.server = tenant.Server;
    try {
        tenant.SetConnected(true);
        TDbQuery q(&tenant);
        q.SetSQL("SELECT durum, COUNT(*) AS adet FROM tbNuvoListe GROUP BY durum");
        q.Open();
        for (int i = 0, n = q.RecordCount(); i < n; ++i, q.Next()) {
            const long long count = CountOf(q, "adet");
            switch (q.FieldByName("durum").AsInteger()) {
            case queue::Ord(queue::TMesajDurumu::mdBeklemede): s.pending += count; break;
            case queue::Ord(queue::TMesajDurumu::mdGonderildi): s.sent += count; break;
            case queue::Ord(queue::TMesajDurumu::mdHata): s.refused += count; break;
            case queue::Ord(queue::TMesajDurumu::mdRaporAlindi): s.reported += count; break;
            default: break;
            }
        }
        q.Close();
        if (s.pending > 0) {
            q.SetSQL("SELECT MIN(kayit_tarihi) AS en_eski FROM tbNuvoListe WHERE durum = 0");
            q.Open();
            s.oldestPending = DateTimeOrNone(q, "en_eski");
            q.Close();
        }
        // Read as a run reads it, but an empty table stays empty: the tool never writes.
        q.SetSQL("SELECT * FROM tbNuvoSonKontrol");
        q.Open();
        if (q.RecordCount() > 0) {
            s.hasStamps = true;
            s.afterPurchase = DateTimeOrNone(q, "alisveris_sonrasi");
            s.specialDays = DateTimeOrNone(q, "ozel_gunler");
            s.instalments = DateTimeOrNone(q, "taksit_hatirlatma");
            s.overdue = DateTimeOrNone(q, "gecikmis_odeme");
        }
        q.Close();
        s.reachable = true;
    } catch (...) {
        s.failure = ErrorText(std::current_exception());
    }
    try {
        tenant.SetConnected(false);
    } catch (...) {
    }
    return s;
}

std::vector<TenantStatus> ReadAllTenantStatus(TDbConnection& program) {
    std::vector<TenantStatus> all;
    config::VisitActiveTenants(program, [&](TDbConnection& tenant) { all.push_back(ReadTenantStatus(tenant)); });
    return all;
}

void PrintTenantStatus(std::ostream& out, const TenantStatus& s, TDateTime now) {
    out << s.database << " (" << s.server << "): ";
    if (!s.reachable) {
        out << "ULAŞILAMIYOR: " << s.failure << "\n";
        return;
    }
    out << "erişilebilir\n";
    out << "  bekleyen: " << s.pending << ", gönderildi (rapor bekliyor): " << s.sent << ", reddedildi: " << s.refused
        << ", raporlandı: " << s.reported << "\n";
    out << "  en eski bekleyen: ";
    if (s.oldestPending)
        out << Stamp(s.oldestPending) << " (" << Age(*s.oldestPending, now) << ")\n";
    else
        out << "yok\n";
    out << "  son kontrol: ";
    if (!s.hasStamps) {
        out << "henüz çalışma yok\n";
        return;
    }
    out << "alisveris_sonrasi " << Stamp(s.afterPurchase) << ", ozel_gunler " << Stamp(s.specialDays)
        << ", taksit_hatirlatma " << Stamp(s.instalments) << ", gecikmis_odeme " << Stamp(s.overdue) << "\n";
}

PreviewResult PreviewTenant(TDbConnection& tenant) {
    PreviewResult result;
    tenant.SetConnected(true);
    try {
        tenant.ExecSQL("BEGIN TRANSACTION");
    } catch (...) {
        tenant.SetConnected(false);
        throw;
    }
    std::exception_ptr error;
    try {
        TDbQuery q(&tenant);
        q.SetSQL("SELECT MAX(id) AS son FROM tbNuvoListe");
        q.Open();
        const long long lastId = CountOf(q, "son");
        q.Close();

        campaigns::TSMSCheck check;
        try {
            check.GenerateForTenant(tenant);
            result.failure = check.ExecutionResult;
        } catch (...) {
            // As in a run: the error ends the tenant's generation; what was caught before it is kept too.
            result.failure = ErrorText(std::current_exception());
            if (!check.ExecutionResult.empty()) result.failure += ": " + check.ExecutionResult;
        }

        q.SetSQL("SELECT mesaj_grubu, gsm, mesaj FROM tbNuvoListe WHERE id > " + std::to_string(lastId) + " ORDER BY id");
        q.Open();
        for (int i = 0, n = q.RecordCount(); i < n; ++i, q.Next())
            result.messages.push_back(
                {q.FieldByName("mesaj_grubu").AsInteger(), q.FieldByName("gsm").AsString(), q.FieldByName("mesaj").AsString()});
        q.Close();
    } catch (...) {
        error = std::current_exception();
    }
    // Closing the session ends a transaction the rollback could not end: nothing stays either way.
    try {
        tenant.ExecSQL("ROLLBACK TRANSACTION");
    } catch (...) {
    }
    tenant.SetConnected(false);
    if (error) std::rethrow_exception(error);
    return result;
}

int RunStatusTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string previewName;
    std::string atText;
    bool preview = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if ((a == "--settings" || a == "--preview" || a == "--at") && !hasValue) {
            err << a << " bir değer bekler\n" << kUsage;
            return 2;
        }
        if (a == "--settings") {
            SetSettingsFile(args[++i]);
        } else if (a == "--preview") {
            preview = true;
            previewName = args[++i];
        } else if (a == "--at") {
            atText = args[++i];
        } else if (a == "--help" || a == "-h") {
            out << kUsage;
            return 0;
        } else {
            err << "Bilinmeyen seçenek: " << a << "\n" << kUsage;
            return 2;
        }
    }
    if (!atText.empty()) {
        TDateTime at = 0;
        if (!preview) {
            err << "--at yalnızca --preview ile kullanılır\n" << kUsage;
            return 2;
        }
        if (!TryParseIsoDateTime(atText, at)) {
            err << "--at \"" << atText << "\" okunamadı; biçim: \"YYYY-MM-DD HH:MM\"\n";
            return 2;
        }
        platform::SetStartingNow(at);
    }

    TDbConnection program;
    std::string message;
    if (!config::ConnectProgramDatabase(program, &message)) {
        err << "Veri tabanı bağlantısı yapılamadı: " << message << "\n";
        return 2;
    }

    if (!preview) {
        std::vector<TenantStatus> all;
        try {
            all = ReadAllTenantStatus(program);
        } catch (...) {
            err << "Kiracı listesi (tbNuvoVeriTabani) okunamadı: " << ErrorText(std::current_exception()) << "\n";
            return 2;
        }
        const TDateTime now = platform::Now();
        int unreachable = 0;
        for (const TenantStatus& s : all) {
            PrintTenantStatus(out, s, now);
            if (!s.reachable) ++unreachable;
        }
        if (all.empty()) out << "Etkin kiracı veri tabanı yok.\n";
        else if (unreachable > 0) out << unreachable << " / " << all.size() << " kiracı veri tabanına ulaşılamadı.\n";
        return unreachable > 0 ? 1 : 0;
    }

    bool found = false;
    int status = 0;
    try {
        config::VisitActiveTenants(program, [&](TDbConnection& tenant) {
            if (found || !SameName(tenant.Database, previewName)) return;
            found = true;
            const std::string at = FormatIsoDateTime(platform::Now()).substr(0, 16);
            PreviewResult r;
            try {
                r = PreviewTenant(tenant);
            } catch (...) {
                out << tenant.Database << ": ULAŞILAMIYOR: " << ErrorText(std::current_exception()) << "\n";
                status = 1;
                return;
            }
            out << "Önizleme: " << tenant.Database << ", " << at << ": bu anda bir çalışma " << r.messages.size()
                << " mesajı kuyruğa eklerdi (hiçbiri eklenmedi ve gönderilmedi).\n";
            for (const PreviewMessage& m : r.messages)
                out << "  grup " << m.group << " (" << GroupName(m.group) << ") | " << m.gsm << " | " << m.text << "\n";
            if (!r.failure.empty()) {
                out << "Üretim hatası: " << r.failure << "\n";
                status = 1;
            }
        });
    } catch (...) {
        err << "Kiracı listesi (tbNuvoVeriTabani) okunamadı: " << ErrorText(std::current_exception()) << "\n";
        return 2;
    }
    if (!found) {
        err << "Etkin kiracılar arasında \"" << previewName << "\" veri tabanı yok\n";
        return 2;
    }
    return status;
}

} // namespace velmora::driver
