// Store sales summaries for authorised users, at full hours or at configured times of day.
#include "campaigns/CampaignSupport.h"
#include "campaigns/SMSCheck.h"
#include "platform/Clock.h"
#include "platform/Regional.h"
#include "platform/Text.h"

namespace velmora::campaigns {

using db::TDbConnection;
using db::TDbQuery;

namespace {

const char* kSalesQuery =
    "select sDepoTipi, sDepoTipiAck, Magaza , sMagazaAck, sum(SatisMiktari) as SatisMiktari, sum(SatisTutari) as "
    "SatisTutari, sum(SatisIskonto) as SatisIskonto, sum(IadeMiktari) as IadeMiktari, sum(IadeTutari) as IadeTutari, "
    "sum(IadeIskonto) as IadeIskonto, sum(SatisMiktari+IadeMiktari) as NetMiktar, sum(NetTutar) As NetTutar, sum "
    "(KDVHaric) as KDVHaric, sum(MagazaMasrafi) as MagazaMasrafi, max(KayitTarihi)as KayitTarihi, "
    "sum(UrunDegistirmeMiktari) as UrunDegistirmeMiktari, sum(UrunDegistirmeTutari) as UrunDegistirmeTutari, "
    "sum(UrunDegistirmeIskonto) as UrunDegistirmeIskonto, sum(IadeMiktari) - sum(UrunDegistirmeMiktari) as "
    "FarkIadeMiktari, sum(IadeTutari) - sum(UrunDegistirmeTutari) as FarkIadeTutari, sum(IadeIskonto) - "
    "sum(UrunDegistirmeIskonto) as FarkIadeIskonto, sum(SatisTutari)+sum(IadeTutari) as ToplamSatis, "
    "sum(SatisIskonto)+sum(IadeIskonto) as ToplamIskonto ,0 as MagazaGiren from( select '' as sDepoTipi, '' as "
    "sDepoTipiAck, tbAlisveris.sMagaza as Magaza, tbDepo.sAciklama as sMagazaAck, (nGirisCikis - 4)* (-1) * "
    "sum(lToplamMiktar) as SatisMiktari, (nGirisCikis - 4)* (-1) * sum(lMalBedeli) as SatisTutari, (nGirisCikis - 4)* "
    "(-1) * sum(lMalIskontoTutari+lDipIskonToTutari) as SatisIskonto, (nGirisCikis - 3)* sum(lToplamMiktar) as "
    "IadeMiktari, (nGirisCikis - 3)* sum(lMalBedeli) as IadeTutari, (nGirisCikis - 3)* "
    "sum(lMalIskontoTutari+lDipIskonToTutari) as IadeIskonto, sum(lNetTutar - lKdv1 - lKdv2 - lKdv3 - lKdv4 - lKdv5) "
    "As KDVHaric, sum(lNetTutar) as NetTutar, 0 as MagazaMasrafi, '01/01/1900' as KayitTarihi, 0 as "
    "UrunDegistirmeMiktari,0 as UrunDegistirmeTutari,0 as UrunDegistirmeIskonto From tbDepo, tbAlisveris, tbDepoTipi "
    "Where tbDepo.sDepo = tbAlisveris.sMagaza and (tbAlisveris.nGirisCikis = 3 or tbAlisveris.nGirisCikis = 4) and "
    "tbAlisveris.dteFaturaTarihi between '%s' and '%s' and tbDepo.sDepoTipi = tbDepoTipi.sDepoTipi group by "
    "tbAlisveris.sMagaza, tbDepo.sAciklama, nGirisCikis ) as tempMagazaCiro group by sDepoTipi, sDepoTipiAck, "
    "Magaza, sMagazaAck order by Magaza";

} // namespace

PDepoSatisInfo LoadStoreSales(TDbQuery& salesQuery, std::vector<std::unique_ptr<TDepoSatisInfo>>& list,
                              const std::string& depoKodu, std::unique_ptr<TDepoSatisInfo>& unlisted) {
    for (const auto& info : list)
        if (platform::EqualsNoCase(info->DepoKodu, depoKodu)) return info.get();

    auto info = std::make_unique<TDepoSatisInfo>();
    const std::string wanted = platform::Trim(depoKodu);
    salesQuery.First();
    const int count = salesQuery.RecordCount();
    for (int i = 0; i < count; ++i, salesQuery.Next()) {
        if (!platform::EqualsNoCase(platform::Trim(salesQuery.FieldByName("Magaza").AsString()), wanted)) continue;
        info->DepoKodu = depoKodu;
        info->Ciro = salesQuery.FieldByName("NetTutar").AsCurrency();
        info->SatisMiktari = salesQuery.FieldByName("SatisMiktari").AsInteger();
        info->IadeMiktari = salesQuery.FieldByName("IadeMiktari").AsInteger();
        break;
    }
    info->Net = info->SatisMiktari - info->IadeMiktari;
    if (platform::Trim(info->DepoKodu).empty()) {
        unlisted = std::move(info);
        return unlisted.get();
    }
    list.push_back(std::move(info));
    return list.back().get();
}

void TSMSCheck::CheckRetailSales(TDbConnection& connection) {
    GuardCampaign(connection, "Mağaza satış özetleri hazırlanamadı", [&] {
        TDbQuery settings(&connection);
        settings.SetSQL("SELECT * FROM tbNuvoPerakende");
        settings.Open();
        if (settings.FieldByName("aktif").AsInteger() != 1) return;
        const bool netOnly = settings.FieldByName("net_satis_gonder").AsInteger() == 1;
        const TDateTime now = platform::Now();
        if (settings.FieldByName("gonderme_tipi").AsInteger() == 0) {
            if (DecodeDateTime(now).minute == 0) SendStoreSalesSummaries(connection, netOnly);
        } else {
            for (int slot = 1; slot <= 3; ++slot) {
                const std::string prefix = "saat" + std::to_string(slot);
                if (settings.FieldByName(prefix + "_aktif").AsInteger() == 1 &&
                    SameHourAndMinute(settings.FieldByName(prefix + "_saat").AsDateTime(), now)) {
                    // One run sends at most one set of summaries, even when two slots name the same time.
                    SendStoreSalesSummaries(connection, netOnly);
                    break;
                }
            }
        }
        settings.Close();
    });
}

void TSMSCheck::SendStoreSalesSummaries(TDbConnection& connection, bool netOnly) {
    TDbQuery users(&connection);
    TDbQuery stores(&connection);
    TDbQuery sales(&connection);
    users.SetSQL("SELECT * FROM tbNuvoYetkiliKullanici");
    users.Open();
    const std::string from = platform::FormatDate_ddmmyyyy(platform::Now());
    const std::string to = platform::FormatDate_ddmmyyyy(platform::Now());
    sales.SetSQL(FormatStatement(kSalesQuery, {from, to}));
    sales.Open();

    std::vector<std::unique_ptr<TDepoSatisInfo>> list;
    const int userCount = users.RecordCount();
    for (int u = 0; u < userCount; ++u, users.Next()) {
        stores.Close();
        stores.SetSQL("SELECT * FROM tbNuvoYetkiliKullaniciDepo WHERE yetkili_kullanici_id = " +
                      SqlWholeNumber(users.FieldByName("id").AsString(), "authorised user id"));
        stores.Open();
        std::string message;
        const int storeCount = stores.RecordCount();
        for (int s = 0; s < storeCount; ++s, stores.Next()) {
            std::unique_ptr<TDepoSatisInfo> unlisted;
            PDepoSatisInfo info = LoadStoreSales(sales, list, stores.FieldByName("depo_kodu").AsString(), unlisted);
            if (platform::Trim(info->DepoKodu).empty()) continue;  // no sales today
            const std::string turnover = platform::FormatMoneyTL(info->Ciro);
            std::string line = "Depo: " + info->DepoKodu + "; Ciro: " + turnover;
            if (!netOnly)
                line += "; Satış: " + std::to_string(info->SatisMiktari) + "; İade: " + std::to_string(info->IadeMiktari);
            line += "; Net: " + std::to_string(info->Net);
            message += ", " + line;
        }
        if (message.empty()) continue;
        message = platform::Trim(message.substr(1));
        const TDateTime start = platform::Now();
        AddToQueue(connection, queue::TMesajGrubu::mgPerakende, users.FieldByName("cep_telefonu").AsString(), message,
                   true, start, platform::Now() + 1.0, 1);
    }
}

} // namespace velmora::campaigns
