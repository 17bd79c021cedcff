// The generation run: every active tenant's campaigns in their fixed order, and the guards around them.
#include "campaigns/SMSCheck.h"

#include "campaigns/CampaignSupport.h"

#include "config/AyarlarXML.h"
#include "config/TenantRegistry.h"
#include "platform/Clock.h"
#include "platform/Com.h"

namespace velmora::campaigns {

using db::TDbConnection;
using db::TDbQuery;

std::string FormatStatement(const std::string& pattern, std::initializer_list<std::string> values) {
    std::string out;
    out.reserve(pattern.size() + 64);
    auto next = values.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && (pattern[i + 1] == 'd' || pattern[i + 1] == 's') &&
            next != values.end()) {
            out += *next++;
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

TSMSCheck::TSMSCheck() { platform::ComInitialize(); }

TSMSCheck::~TSMSCheck() {
    ProgramConnection.SetConnected(false);
    platform::ComUninitialize();
}

bool TSMSCheck::ConnectProgramDatabase() { return config::ConnectProgramDatabase(ProgramConnection, &ExecutionResult); }

std::string TSMSCheck::Execute() {
    if (!ConnectProgramDatabase()) return "Veri tabanı bağlantısı yapılamadı: " + ExecutionResult;

    config::VisitActiveTenants(ProgramConnection, [&](TDbConnection& tenant) {
        // A failure that ends a tenant's work must reach the run log, or an unreachable tenant looks served.
        const std::string failed = "Mesaj üretimi yapılamadı (" + tenant.Database + ")";
        try {
            ServeTenant(tenant);
        } catch (const std::exception& e) {
            KeepTenantFailure(failed + ": " + e.what());
        } catch (...) {
            KeepTenantFailure(failed + ": bilinmeyen hata");
        }
    });
    return ExecutionResult;
}

// The failure's text, a colon and what was caught before it, so that neither is lost.
void TSMSCheck::KeepTenantFailure(const std::string& message) {
    ExecutionResult = ExecutionResult.empty() ? message : message + ": " + ExecutionResult;
}

bool TSMSCheck::KeepFailure(const std::string& tenant, const char* failed, const std::function<void()>& step) {
    try {
        step();
        return true;
    } catch (const std::exception& e) {
        ExecutionResult = e.what();
    } catch (...) {
        ExecutionResult = std::string(failed) + " (" + tenant + "): bilinmeyen hata";
    }
    return false;
}

void TSMSCheck::GuardCampaign(const TDbConnection& tenant, const char* failed, const std::function<void()>& routine) {
    KeepFailure(tenant.Database, failed, [&] {
        QueueChunkScope chunks(*this);
        routine();
    });
}

void TSMSCheck::ServeTenant(TDbConnection& tenant) {
    tenant.SetConnected(true);
    GenerateForTenant(tenant);
    tenant.SetConnected(false);
}

void TSMSCheck::GenerateForTenant(TDbConnection& tenant) {
    tenant.ExecSQL("SET DATEFORMAT dmy");

    CheckRetailSales(tenant);

    TDbQuery bookkeeping(&tenant);
    bookkeeping.SetSQL("SELECT * FROM tbNuvoSonKontrol");
    bookkeeping.Open();
    if (bookkeeping.RecordCount() == 0) {
        bookkeeping.Append();
        bookkeeping.Post();
    }

    // The new stamp is the server's time read before the step, not after it: a purchase registered while
    // the step runs is then taken by the next pass instead of falling between two passes. Purchases the step
    // did take are kept from a second message by the record table.
    const TDateTime stepStart = GetServerDateTime(tenant);
    const TDateTime previousCheck = bookkeeping.FieldByName("alisveris_sonrasi").IsNull()
                                        ? stepStart
                                        : bookkeeping.FieldByName("alisveris_sonrasi").AsDateTime();
    CheckAfterPurchase(tenant, previousCheck);
    bookkeeping.Edit();
    bookkeeping.FieldByName("alisveris_sonrasi").SetDateTime(stepStart);
    bookkeeping.Post();

    // Once a day: runs when today is strictly later than the stored day, then stores today.
    auto oncePerDay = [&](const char* column, auto&& campaign) {
        const TDateTime lastDay = DateOf(bookkeeping.FieldByName(column).AsDateTime());
        if (platform::Today() > lastDay) {
            campaign();
            bookkeeping.Edit();
            bookkeeping.FieldByName(column).SetDateTime(platform::Today());
            bookkeeping.Post();
        }
    };
    oncePerDay("ozel_gunler", [&] { CheckSpecialDays(tenant); });
    oncePerDay("taksit_hatirlatma", [&] { CheckInstalments(tenant); });
    oncePerDay("gecikmis_odeme", [&] { CheckOverduePayments(tenant); });

    CheckCustomQueries(tenant, platform::Now());
    CheckPrepaidOrders(tenant, platform::Now());

    bookkeeping.Close();
}

TDateTime TSMSCheck::GetServerDateTime(TDbConnection& connection) {
    TDbQuery q(&connection);
    q.SetSQL("SELECT GETDATE() AS DateTime");
    q.Open();
    return q.FieldByName("DateTime").AsDateTime();
}

TDateTime TSMSCheck::CombineDateAndTime(TDateTime dateSource, TDateTime timeSource) {
    DateTimeParts d = DecodeDateTime(dateSource);
    DateTimeParts t = DecodeDateTime(timeSource);
    d.hour = t.hour;
    d.minute = t.minute;
    d.second = t.second;
    d.millisecond = 0;
    return EncodeDateTime(d);
}

bool TSMSCheck::SameHourAndMinute(TDateTime a, TDateTime b) {
    DateTimeParts x = DecodeDateTime(a);
    DateTimeParts y = DecodeDateTime(b);
    return x.hour == y.hour && x.minute == y.minute;
}

} // namespace velmora::campaigns
