// Instalment reminders and overdue-payment notices, once a day each.
#include "campaigns/CampaignSupport.h"
#include "campaigns/SMSCheck.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Regional.h"
#include "platform/Text.h"

namespace velmora::campaigns {

using db::TDbConnection;
using db::TDbQuery;
using queue::TMesajGrubu;

namespace {

const char* kReminderQuery =
    "SELECT DISTINCT Kodu, Adi AS musteri_adi, Soyadi AS musteri_soyadi, TaksitTarihi AS taksit_tarihi, Tutar AS "
    "taksit_tutari, Gsm FROM ( SELECT tbMusteri.lKodu as Kodu, tbMusteri.sAdi as Adi, tbMusteri.sSoyadi as Soyadi, "
    "tbTaksit.dteTarihi as TaksitTarihi, (tbTaksit.lTutari - sum(IsNull(tbOdeme.lOdemeTutar, 0))) as Tutar, "
    "tbMusteri.sgsm as Gsm from tbMusteri left outer join tbMusteriKefil1 on tbMusteriKefil1.nMusteriId = "
    "tbMusteri.nMusteriId left outer join tbMusteriKefil2 on tbMusteriKefil2.nMusteriId = tbMusteri.nMusteriId, "
    "tbAlisVeris, tbKasiyer, tbTaksit LEFT Outer join tbOdeme on tbOdeme.nTaksitID = tbTaksit.nTaksitID where "
    "tbTaksit.nAlisverisID = tbAlisVeris.nAlisverisID and tbKasiyer.sKasiyerRumuzu = tbAlisveris.sKasiyerRumuzu and "
    "tbAlisVeris.nMusteriID = tbMusteri.nMusteriID and tbTaksit.dteTarihi BETWEEN '%s' AND GETDATE() and "
    "(tbMusteri.lKodu between 0 and 999999999) and tbAlisveris.dteFaturaTarihi between '01/01/1900' and '31/12/2078' "
    "Group By tbMusteri.lKodu, tbMusteri.sAdi, tbMusteri.sSoyadi, tbTaksit.dteTarihi, convert (char (1), "
    "tbMusteri.bYazismaEvAdresinemi), tbTaksit.lTutari, sGSM Having tbTaksit.lTutari - Sum(IsNull(tbOdeme.lOdemeTutar, "
    "0)) between %d and %d) as tbTemp order by Kodu, TaksitTarihi";

const char* kOverdueQuery =
    "SELECT DISTINCT Kodu, Adi AS musteri_adi, Soyadi AS musteri_soyadi, TaksitTarihi AS taksit_tarihi, Tutar AS "
    "taksit_tutari, Gsm FROM ( SELECT tbMusteri.lKodu as Kodu, tbMusteri.sAdi as Adi, tbMusteri.sSoyadi as Soyadi, "
    "tbTaksit.dteTarihi as TaksitTarihi, (tbTaksit.lTutari - sum(IsNull(tbOdeme.lOdemeTutar, 0))) as Tutar, "
    "tbMusteri.sgsm as Gsm from tbMusteri left outer join tbMusteriKefil1 on tbMusteriKefil1.nMusteriId = "
    "tbMusteri.nMusteriId left outer join tbMusteriKefil2 on tbMusteriKefil2.nMusteriId = tbMusteri.nMusteriId, "
    "tbAlisVeris, tbKasiyer, tbTaksit LEFT Outer join tbOdeme on tbOdeme.nTaksitID = tbTaksit.nTaksitID where "
    "tbTaksit.nAlisverisID = tbAlisVeris.nAlisverisID and tbKasiyer.sKasiyerRumuzu = tbAlisveris.sKasiyerRumuzu and "
    "tbAlisVeris.nMusteriID = tbMusteri.nMusteriID and tbTaksit.dteTarihi = '%s' and (tbMusteri.lKodu between 0 and "
    "999999999) and tbAlisveris.dteFaturaTarihi between '01/01/1900' and '31/12/2078' Group By tbMusteri.lKodu, "
    "tbMusteri.sAdi, tbMusteri.sSoyadi, tbTaksit.dteTarihi, convert (char (1), tbMusteri.bYazismaEvAdresinemi), "
    "tbTaksit.lTutari, sGSM Having tbTaksit.lTutari - Sum(IsNull(tbOdeme.lOdemeTutar, 0)) between %d and %d) as "
    "tbTemp order by Kodu, TaksitTarihi";

} // namespace

void TSMSCheck::CheckInstalments(TDbConnection& connection) {
    GuardCampaign(connection, "Taksit hatırlatmaları hazırlanamadı", [&] {
        TDbQuery settings(&connection);
        settings.SetSQL("SELECT * FROM tbNuvoTaksit");
        settings.Open();
        if (settings.FieldByName("aktif").AsInteger() != 1) return;
        const TDateTime timeOfDay = TimeOf(settings.FieldByName("saat").AsDateTime());
        const int32_t days = settings.FieldByName("kalan_gun").AsInteger();
        const std::string templ = settings.FieldByName("mesaj").AsString();
        // Reminders have no amount bounds of their own.
        QueueInstalmentReminders(connection, templ, days, Currency::FromInteger(-99999999),
                                 Currency::FromInteger(99999999), timeOfDay);
        settings.Close();
    });
}

void TSMSCheck::CheckOverduePayments(TDbConnection& connection) {
    GuardCampaign(connection, "Gecikmiş ödeme bildirimleri hazırlanamadı", [&] {
        TDbQuery settings(&connection);
        settings.SetSQL("SELECT * FROM tbNuvoGecikmisOdeme");
        settings.Open();
        if (settings.FieldByName("aktif").AsInteger() != 1) return;
        const Currency maxAmount = settings.FieldByName("tutar_max").IsNull()
                                       ? Currency::FromInteger(999999999)
                                       : settings.FieldByName("tutar_max").AsCurrency();
        const Currency minAmount = settings.FieldByName("tutar_min").AsCurrency();  // NULL reads as 0
        const int32_t days = settings.FieldByName("geciken_gun").AsInteger();
        const std::string templ = settings.FieldByName("mesaj").AsString();
        const TDateTime timeOfDay = TimeOf(settings.FieldByName("saat").AsDateTime());
        QueueOverduePayments(connection, templ, days, minAmount, maxAmount, timeOfDay);
        settings.Close();
    });
}

void TSMSCheck::QueueInstalmentReminders(TDbConnection& connection, const std::string& templ, int32_t days,
                                         Currency minAmount, Currency maxAmount, TDateTime timeOfDay) {
    QueueInstalmentRows(connection, kReminderQuery, TMesajGrubu::mgTaksit, templ, days, minAmount, maxAmount,
                        timeOfDay);
}

void TSMSCheck::QueueOverduePayments(TDbConnection& connection, const std::string& templ, int32_t days,
                                     Currency minAmount, Currency maxAmount, TDateTime timeOfDay) {
    QueueInstalmentRows(connection, kOverdueQuery, TMesajGrubu::mgGecikmisOdeme, templ, days, minAmount, maxAmount,
                        timeOfDay);
}

void TSMSCheck::QueueInstalmentRows(TDbConnection& connection, const std::string& query, TMesajGrubu group,
                                    const std::string& templ, int32_t days, Currency minAmount, Currency maxAmount,
                                    TDateTime timeOfDay) {
    const TDateTime referenceDay = platform::Today() - days;
    // A day count far out of any calendar would reach the server as a malformed literal.
    const int year = DecodeDateTime(referenceDay).year;
    if (year < kFirstSqlServerDateTimeYear || year > 9999)
        throw EConvertError("The day count " + std::to_string(days) + " gives a due date outside the years " +
                            std::to_string(kFirstSqlServerDateTimeYear) + " to 9999");
    TDbQuery rows(&connection);
    rows.SetSQL(FormatStatement(query, {platform::FormatDate_ddmmyyyy(referenceDay),
                                        std::to_string(minAmount.RoundBankers()),
                                        std::to_string(maxAmount.RoundBankers())}));
    rows.Open();
    const int count = rows.RecordCount();
    for (int i = 0; i < count; ++i, rows.Next()) {
        std::string number = rows.FieldByName("Gsm").AsString();
        if (!queue::NormalizePhoneNumber(number)) continue;
        const std::string name = platform::Trim(rows.FieldByName("musteri_adi").AsString());
        const std::string surname = platform::Trim(rows.FieldByName("musteri_soyadi").AsString());
        const std::string dueDate = platform::FormatDate_ddmmyyyy(rows.FieldByName("taksit_tarihi").AsDateTime());
        const std::string amount = platform::FormatMoneyTL(rows.FieldByName("taksit_tutari").AsCurrency());
        const std::string text = queue::FillTemplate(templ, name, surname, "", "", dueDate, amount);
        const std::string asRead = rows.FieldByName("Gsm").AsString();
        const TDateTime start = CombineDateAndTime(platform::Today(), timeOfDay);
        AddToQueue(connection, group, asRead, text, false, start, start + 1.0, 1);
    }
    rows.Close();
}

} // namespace velmora::campaigns
