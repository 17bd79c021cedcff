// Messages after a purchase, once per purchase.
#include "campaigns/CampaignSupport.h"
#include "campaigns/SMSCheck.h"
#include "platform/Regional.h"

namespace velmora::campaigns {

using db::TDbConnection;
using db::TDbQuery;

namespace {

const char* kPurchaseQuery =
    "SELECT tbAlisVeris.nAlisverisID, tbAlisVeris.lNetTutar, tbAlisVeris.dteKayitTarihi, tbAlisVeris.lToplamMiktar, "
    "tbMusteri.sAdi AS musteri_adi, tbMusteri.sSoyadi AS musteri_soyadi, tbMusteri.sGSM AS Gsm FROM tbAlisVeris JOIN "
    "tbMusteri ON tbAlisVeris.nMusteriId = tbMusteri.nMusteriId WHERE tbAlisVeris.nAlisverisID NOT IN (SELECT "
    "AlisVerisId FROM tbNuvoAlisverisGonderilen) AND tbAlisVeris.dteKayitTarihi > '%s' AND tbAlisVeris.lNetTutar "
    "BETWEEN %d AND %d AND tbAlisVeris.lToplamMiktar BETWEEN %d AND %d";

constexpr double kMinutesPerDay = 1440.0;

} // namespace

void TSMSCheck::CheckAfterPurchase(TDbConnection& connection, TDateTime previousCheck) {
    GuardCampaign(connection, "Alışveriş sonrası mesajları hazırlanamadı", [&] {
        TDbQuery settings(&connection);
        settings.SetSQL("SELECT * FROM tbNuvoAlisVeris");
        settings.Open();
        if (settings.FieldByName("aktif").AsInteger() != 1) return;

        auto intOr = [&](const char* column, int32_t fallback) {
            return settings.FieldByName(column).IsNull() ? fallback : settings.FieldByName(column).AsInteger();
        };
        auto moneyOr = [&](const char* column, int64_t fallback) {
            return settings.FieldByName(column).IsNull() ? Currency::FromInteger(fallback)
                                                         : settings.FieldByName(column).AsCurrency();
        };
        const int32_t minQuantity = intOr("adet_min", -999999999);
        const int32_t maxQuantity = intOr("adet_max", 999999999);
        const Currency minAmount = moneyOr("tutar_min", -999999999);
        const Currency maxAmount = moneyOr("tutar_max", 999999999);
        const std::string templ = settings.FieldByName("mesaj").AsString();
        const int32_t minutes = settings.FieldByName("Dakika").AsInteger();
        if (settings.FieldByName("gonderme_tipi").AsInteger() == 0) {
            QueuePurchaseMessages(connection, templ, minQuantity, maxQuantity, previousCheck, minAmount, maxAmount,
                                  true, minutes);
        } else if (SameHourAndMinute(previousCheck, settings.FieldByName("saat").AsDateTime())) {
            QueuePurchaseMessages(connection, templ, minQuantity, maxQuantity, previousCheck, minAmount, maxAmount,
                                  false, 0);
        }
        settings.Close();
    });
}

void TSMSCheck::QueuePurchaseMessages(TDbConnection& connection, const std::string& templ, int32_t minQuantity,
                                      int32_t maxQuantity, TDateTime previousCheck, Currency minAmount,
                                      Currency maxAmount, bool minutesAfter, int32_t minutes) {
    // Opened for its check only: a missing record table ends the step before any message is queued.
    TDbQuery records(&connection);
    records.SetSQL("SELECT * FROM tbNuvoAlisverisGonderilen WHERE AlisVerisId = 'QORVANT'");
    records.Open();

    TDbQuery purchases(&connection);
    purchases.SetSQL(FormatStatement(
        kPurchaseQuery, {platform::FormatDateTime_ddmmyyyy_hhnnsszzz(previousCheck),
                         std::to_string(minAmount.RoundBankers()), std::to_string(maxAmount.RoundBankers()),
                         std::to_string(minQuantity), std::to_string(maxQuantity)}));
    purchases.Open();
    const int count = purchases.RecordCount();
    for (int i = 0; i < count; ++i, purchases.Next()) {
        std::string number = purchases.FieldByName("Gsm").AsString();
        if (!queue::NormalizePhoneNumber(number)) continue;
        const std::string surname = purchases.FieldByName("musteri_soyadi").AsString();
        const std::string name = purchases.FieldByName("musteri_adi").AsString();
        const std::string text = queue::FillTemplate(templ, name, surname, "", "", "", "");
        const TDateTime start =
            minutesAfter ? purchases.FieldByName("dteKayitTarihi").AsDateTime() + minutes / kMinutesPerDay
                         : previousCheck;
        AddToQueue(connection, queue::TMesajGrubu::mgAlisVeris, number, text, true, start, start + 1.0, 1);

        AddRecordRow(connection,
                     {"tbNuvoAlisverisGonderilen", "AlisVerisId", purchases.FieldByName("nAlisverisID").AsVariant()});
    }
    purchases.Close();
    records.Close();
}

} // namespace velmora::campaigns
