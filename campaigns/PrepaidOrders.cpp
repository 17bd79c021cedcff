// Notices of approved prepaid orders, once per order.

#include "campaigns/SMSCheck.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Regional.h"
#include "platform/Text.h"

namespace velmora::campaigns {

using db::TDbConnection;
using db::TDbQuery;

namespace {

const char* kOrderQuery =
    "SELECT tbMusteri.sAdi, tbMusteri.sSoyadi, tbMusteri.sGSM, tbAlisveris.dteFaturaTarihi, tbAlisVeris.lNetTutar, "
    "tbAlisVerisSiparis.nSiparisID FROM tbAlisverisSiparis JOIN tbAlisVeris ON tbAlisVerisSiparis.nAlisverisID = "
    "tbAlisVeris.nAlisverisID JOIN tbMusteri ON tbAlisVeris.nMusteriID = tbMusteri.nMusteriID WHERE "
    "tbAlisverisSiparis.bTeslimEdildi = 0 AND tbAlisverisSiparis.dteOnayTarihi = :tarih AND "
    "tbAlisverisSiparis.sAciklama = '1' AND tbAlisVerisSiparis.nSiparisID NOT IN (SELECT SiparisId FROM "
    "tbNuvoOnOdemeliSiparisGonderilen)";

// The id as an integer, written into the statement as it was; as text when it is too long for one, so the
// server refuses it as it refused the text before.
db::Value WholeNumberValue(const std::string& text) {
    int64_t n = 0;
    if (platform::ParseWhole(text, n)) return db::Value::Integer(n);
    return db::Value::Text(text);
}

} // namespace

std::string TSMSCheck::SqlWholeNumber(const std::string& text, const std::string& what) {
    size_t i = (!text.empty() && text[0] == '-') ? 1 : 0;
    bool digits = i < text.size();
    for (; i < text.size() && digits; ++i) digits = text[i] >= '0' && text[i] <= '9';
    if (!digits) throw EConvertError("The " + what + " '" + text + "' is not a whole number");
    return text;
}

void TSMSCheck::CheckPrepaidOrders(TDbConnection& connection, TDateTime now) {
    GuardCampaign(connection, "Ön ödemeli sipariş bildirimleri hazırlanamadı", [&] {
        TDbQuery settings(&connection);
        settings.SetSQL("SELECT * FROM tbNuvoOnOdemeliSiparis");
        settings.Open();
        if (settings.FieldByName("aktif").AsInteger() != 1) return;
        const std::string templ = settings.FieldByName("mesaj").AsString();

        TDbQuery orders(&connection);
        orders.SetSQL(kOrderQuery);
        orders.ParamByName("tarih").SetAsDate(DateOf(now));
        orders.Open();
        const int count = orders.RecordCount();
        for (int i = 0; i < count; ++i, orders.Next()) {
            std::string number = orders.FieldByName("sGSM").AsString();
            const bool usable = queue::NormalizePhoneNumber(number);
            // The order is recorded as handled before its notice is queued: should recording fail, the loop
            // ends with nothing queued and a later run tries again, instead of notifying the customer twice.
            const std::string orderId = SqlWholeNumber(orders.FieldByName("nSiparisID").AsString(), "order id");
            AddRecordRow(connection, {"tbNuvoOnOdemeliSiparisGonderilen", "SiparisId", WholeNumberValue(orderId), true});
            if (!usable) continue;
            const std::string name = platform::Trim(orders.FieldByName("sAdi").AsString());
            const std::string surname = platform::Trim(orders.FieldByName("sSoyadi").AsString());
            const std::string invoiceDate =
                platform::FormatDate_ddmmyyyy(orders.FieldByName("dteFaturaTarihi").AsDateTime());
            const std::string amount = platform::FormatMoneyTL(orders.FieldByName("lNetTutar").AsCurrency());
            const std::string text = queue::FillTemplate(templ, name, surname, "", "", invoiceDate, amount);
            const TDateTime today = platform::Today();
            AddToQueue(connection, queue::TMesajGrubu::mgOnOdemeliSiparis, number, text, true, today, today + 1.0, 1);
        }
        orders.Close();
        settings.Close();
    });
}

} // namespace velmora::campaigns
