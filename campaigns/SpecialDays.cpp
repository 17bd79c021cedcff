// Birthday, marriage-anniversary and child's-birthday greetings, once a day.
#include "campaigns/CampaignSupport.h"
#include "campaigns/SMSCheck.h"
#include "platform/Clock.h"
#include "platform/Text.h"

namespace velmora::campaigns {

using db::TDbConnection;
using db::TDbQuery;
using queue::TMesajGrubu;

namespace {

const char* kBirthdayQuery =
    "SELECT tbmusteri.sAdi AS musteri_adi, tbmusteri.sSoyadi AS musteri_soyadi, tbmusteri.sGSM AS GSM, '' AS "
    "cocuk_adi, '' AS cocuk_soyadi FROM tbmusteri WHERE DatePart(Day, tbmusteri.dteDogumTarihi) = %d AND "
    "DatePart(Month, tbmusteri.dteDogumTarihi) = %d AND DatePart(Year, tbmusteri.dteDogumTarihi) <> 1900";

const char* kAnniversaryQuery =
    "SELECT tbmusteri.sAdi AS musteri_adi, tbmusteri.sSoyadi AS musteri_soyadi, tbmusteri.sGSM AS GSM, '' AS "
    "cocuk_adi, '' AS cocuk_soyadi FROM tbmusteri WHERE DatePart(Day, tbmusteri.dteEvlilikTarihi) = %d AND "
    "DatePart(Month, tbmusteri.dteEvlilikTarihi) = %d AND DatePart(Year, tbmusteri.dteEvlilikTarihi) <> 1900";

const char* kChildBirthdayQuery =
    "SELECT tbmusteri.sAdi AS musteri_adi, tbmusteri.sSoyadi AS musteri_soyadi, tbmusteri.sGSM AS GSM, "
    "tbMusteriCocugu.sAdi AS cocuk_adi, tbMusteriCocugu.sSoyadi AS cocuk_soyadi FROM tbmusteri JOIN tbmustericocugu "
    "ON tbMusteri.nMusteriID = tbmustericocugu.nMusteriID WHERE DatePart(Day, tbmustericocugu.dteDogumTarihi) = %d "
    "AND DatePart(Month, tbmustericocugu.dteDogumTarihi) = %d AND DatePart(Year, tbmustericocugu.dteDogumTarihi) "
    "<> 1900";

struct SpecialDayKind {
    const char* sendColumn;
    const char* timeColumn;
    const char* templateColumn;
    TMesajGrubu group;
    const char* query;
};

const SpecialDayKind kKinds[] = {
    {"dogum_gunu_gonder", "dogum_gunu_saat", "dogum_gunu_mesaj", TMesajGrubu::mgDogumGunu, kBirthdayQuery},
    {"evlilik_yildonumu_gonder", "evlilik_yildonumu_saat", "evlilik_yildonumu_mesaj", TMesajGrubu::mgEvlilikYildonumu,
     kAnniversaryQuery},
    {"cocuk_dogum_gunu_gonder", "cocuk_dogum_gunu_saat", "cocuk_dogum_gunu_mesaj", TMesajGrubu::mgCocuklarinDogumGunu,
     kChildBirthdayQuery},
};

} // namespace

void TSMSCheck::CheckSpecialDays(TDbConnection& connection) {
    GuardCampaign(connection, "Özel gün mesajları hazırlanamadı", [&] {
        TDbQuery settings(&connection);
        settings.SetSQL("SELECT * FROM tbNuvoOzelGun");
        settings.Open();
        if (settings.RecordCount() == 0) return;
        for (const SpecialDayKind& kind : kKinds) {
            if (settings.FieldByName(kind.sendColumn).AsInteger() != 1) continue;
            QueueSpecialDayRows(connection, kind.group, kind.query, settings.FieldByName(kind.templateColumn).AsString(),
                                settings.FieldByName(kind.timeColumn).AsDateTime());
        }
        settings.Close();
    });
}

void TSMSCheck::QueueSpecialDayRows(TDbConnection& connection, TMesajGrubu group, const std::string& query,
                                    const std::string& templ, TDateTime timeOfDay) {
    const DateTimeParts today = DecodeDateTime(platform::Today());
    TDbQuery rows(&connection);
    rows.SetSQL(FormatStatement(query, {std::to_string(today.day), std::to_string(today.month)}));
    rows.Open();
    const int count = rows.RecordCount();
    for (int i = 0; i < count; ++i, rows.Next()) {
        std::string number = rows.FieldByName("GSM").AsString();
        if (!queue::NormalizePhoneNumber(number)) continue;
        const std::string childName = platform::Trim(rows.FieldByName("cocuk_adi").AsString());
        const std::string childSurname = platform::Trim(rows.FieldByName("cocuk_soyadi").AsString());
        const std::string surname = platform::Trim(rows.FieldByName("musteri_soyadi").AsString());
        const std::string name = platform::Trim(rows.FieldByName("musteri_adi").AsString());
        const std::string text = queue::FillTemplate(templ, name, surname, childName, childSurname, "", "");
        // The number queued is the one as read, spaces and all.
        const std::string asRead = rows.FieldByName("GSM").AsString();
        const TDateTime start = CombineDateAndTime(platform::Today(), timeOfDay);
        AddToQueue(connection, group, asRead, text, false, start, start + 1.0, 1);
    }
    rows.Close();
}

} // namespace velmora::campaigns
