// The send/report cycle over the tenant registry: each tenant's lock, journal, sending and reports.
#include "config/SenderManager.h"

#include <memory>
#include <set>

#include "config/AyarlarXML.h"
#include "config/TenantRegistry.h"
#include "platform/Com.h"
#include "platform/Text.h"
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

void TVelmora::LoadSMSSettings(queue::TSMSAyarlari& settings, TDbConnection& connection) {
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

namespace {

// Which registry rows name the same database for the same login. SQL Server names and logins are compared
// without regard to letter case; an embedded database's file path is compared as written, since two paths
// differing in case are two files where the file system tells case apart.
std::string ServedKey(const TDbConnection& tenant) {
    static const std::string kEmbedded = "sqlite:";
    std::string server = platform::Trim(tenant.Server);
    const bool embedded = server.compare(0, kEmbedded.size(), kEmbedded) == 0;
    std::string key = server + '\n' + platform::Trim(tenant.Database) + '\n' + platform::Trim(tenant.Username);
    if (embedded) return key;
    return platform::LowerAscii(key);
}

} // namespace

void TVelmora::Execute() {
    queue::TSMSAyarlari settings;
    if (!ConnectProgramDatabase()) return;
    // A database listed twice would have its undecided rows sent twice in one run: it is served once. It
    // counts as served only once it really was, so a stale first row (wrong server, old password) does
    // not keep a good second row from being served.
    std::set<std::string> served;
    VisitActiveTenants(ProgramConnection, [&](TDbConnection& tenant) {
        const std::string key = ServedKey(tenant);
        if (served.count(key)) {
            Fail("SMS gönderimi atlandı", tenant.Database, "veri tabanı listede birden çok kez var");
            return;
        }
        GuardStep(tenant.Database, "SMS gönderimi yapılamadı", [&] {
            if (ServeTenant(tenant, settings)) served.insert(key);
        });
    });
}

void TVelmora::Fail(const std::string& failed, const std::string& tenant, const std::string& reason) {
    Failures.push_back(failed + " (" + tenant + "): " + reason);
}

TVelmora::StepEnd TVelmora::GuardStep(const std::string& tenant, const char* failed, const std::function<void()>& step) {
    try {
        step();
        return StepEnd::Done;
    } catch (const queue::EVerdictsUnwritable& e) {
        Fail(failed, tenant, e.what());
        return StepEnd::VerdictsUnwritable;
    } catch (const queue::EJournalUnavailable& e) {
        Fail("Karar günlüğü yazılamadı", tenant, e.what());
    } catch (const std::exception& e) {
        Fail(failed, tenant, e.what());
    } catch (...) {
        Fail(failed, tenant, "bilinmeyen hata");
    }
    return StepEnd::Failed;
}

bool TVelmora::ReplayJournal(TDbConnection& tenant, const queue::TVerdictJournal& journal) {
    const std::string& name = tenant.Database;
    queue::TVerdictBatch batch;
    try {
        batch = journal.Load();
    } catch (const std::exception& e) {
        // Sending now could send again what that answer accepted: the operator has to look first.
        Fail("SMS gönderimi yapılmadı", name, "karar günlüğü okunamadı (" + journal.Path() + "): " + e.what());
        return false;
    }
    const queue::TApplyOutcome o = queue::ApplyVerdicts(tenant, batch);
    if (o.Stopped) {
        Fail("SMS gönderimi yapılmadı", name,
             "önceki çalışmanın kararları veri tabanına yazılamadı, karar günlüğünde bekliyor: " + o.FirstError);
        return false;
    }
    try {
        journal.Remove();
    } catch (const std::exception& e) {
        Fail("Karar günlüğü silinemedi", name, e.what());
    }
    std::string line = "Önceki çalışmanın kararları karar günlüğünden yazıldı (" + name + "): " +
                       std::to_string(o.AppliedCount()) + " satır";
    if (o.Refused > 0 || o.StateOnly > 0)
        line += ", " + std::to_string(o.Refused + o.StateOnly) + " satırın güncellemesi reddedildi: " + o.FirstError;
    Failures.push_back(line);
    return true;
}

bool TVelmora::ServeTenant(TDbConnection& tenant, queue::TSMSAyarlari& settings) {
    tenant.SetConnected(true);
    const std::string& name = tenant.Database;
    // Only one run at a time serves a tenant, across processes and machines: without the tenant's own lock
    // two runs (two machines, two lock-file settings) would both send every pending row.
    if (!tenant.TryLockSendReport()) {
        Fail("SMS gönderimi ve raporları atlandı", name, "bu veri tabanına şu anda başka bir çalışma hizmet veriyor");
        tenant.SetConnected(false);
        return false;
    }
    LoadSMSSettings(settings, tenant);

    std::unique_ptr<queue::TVerdictJournal> journal;
    if (!JournalFolder.empty())
        journal = std::make_unique<queue::TVerdictJournal>(JournalFolder, tenant.Server + '\n' + tenant.Database, name);
    // An answer of an earlier run comes first: its rows must not go out again.
    if (journal && journal->Exists() && !ReplayJournal(tenant, *journal)) {
        tenant.SetConnected(false);
        return true;
    }

    const StepEnd sent = GuardStep(name, "SMS gönderilemedi", [&] {
        queue::TSMSGonder sender(tenant, settings);
        sender.SetJournal(journal.get());
        if (!sender.SMSGonder()) Fail("SMS gönderilemedi", name, "ağ geçidi girişi ya da gönderimi kabul etmedi");
    });
    // Reports cannot be recorded either, and a journal still waiting must not be replaced by theirs.
    if (sent == StepEnd::VerdictsUnwritable || (journal && journal->Exists())) {
        Fail("SMS raporları alınmadı", name, "kararlar veri tabanına yazılamıyor");
        tenant.SetConnected(false);
        return true;
    }
    GuardStep(name, "SMS raporları alınamadı", [&] {
        queue::TSMSRapor reports(tenant, settings);
        reports.SetJournal(journal.get());
        if (!reports.RaporGetir()) Fail("SMS raporları alınamadı", name, "ağ geçidi girişi ya da raporu kabul etmedi");
    });
    try {
        tenant.UnlockSendReport();
    } catch (...) {
        // The lock goes with the session, which ends right here.
    }
    tenant.SetConnected(false);
    return true;
}

} // namespace velmora::config
