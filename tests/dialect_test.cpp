// The T-SQL dialect on the embedded database: T-SQL text in, rows out, on a tenant file made
// from our schema with a small ERP data set. The system's own long statements run here exactly
// as the campaigns send them (with their placeholders filled the way the campaigns fill them).
#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <cstdio>

#include "db/DbBackend.h"
#include "db/TsqlDialect.h"
#include "platform/Error.h"
#include "platform/Text.h"
#include "tests/TestSupport.h"

using namespace velmora;
using namespace velmora::db;
using velmora::test::FixedClock;
using velmora::test::TempDir;

namespace {

// Numbers bare, date-times marked with '@', NULL as NULL, text as it is.
std::string Render(const Value& v) {
    char buf[64];
    switch (v.kind) {
    case ValueKind::Null: return "NULL";
    case ValueKind::Integer: return std::to_string(v.i);
    case ValueKind::Float: std::snprintf(buf, sizeof buf, "%.15g", v.f); return buf;
    case ValueKind::Text: return v.s;
    case ValueKind::DateTime: return "@" + FormatIsoDateTime(v.f);
    case ValueKind::Blob: return "blob:" + std::to_string(v.s.size());
    }
    return "?";
}

std::string LowerAscii(const std::string& s) { return platform::LowerAscii(s); }

// Rows joined by '|', restricted to the named columns when some are given.
std::vector<std::string> RenderRows(const ResultData& r, const std::vector<std::string>& columns) {
    std::vector<size_t> pick;
    if (columns.empty()) {
        for (size_t c = 0; c < r.columns.size(); ++c) pick.push_back(c);
    } else {
        for (const std::string& name : columns) {
            size_t c = 0;
            while (c < r.columns.size() && LowerAscii(r.columns[c].name) != LowerAscii(name)) ++c;
            if (c == r.columns.size()) ADD_FAILURE() << "the result has no column " << name;
            pick.push_back(c);
        }
    }
    std::vector<std::string> rows;
    for (const auto& row : r.rows) {
        std::string line;
        for (size_t k = 0; k < pick.size(); ++k) {
            if (k) line += '|';
            line += pick[k] < row.size() ? Render(row[pick[k]]) : "<missing>";
        }
        rows.push_back(line);
    }
    return rows;
}

// The ERP data of the fixture, written in the stored form so that it does not depend on the
// dialect under test. "Today" is 22 March 2013, 09:00.
const char* const kFixture = R"SQL(
INSERT INTO tbMusteri VALUES (1, 100, 'Ali', 'Yılmaz', '0532 111 22 33', '1980-03-22 00:00:00.000', '2005-03-22 00:00:00.000', 1);
INSERT INTO tbMusteri VALUES (2, 200, 'Ayşe', 'Kaya', '05321112234', '1900-03-22 00:00:00.000', NULL, 0);
INSERT INTO tbMusteri VALUES (3, 300, 'Can', 'Demir', '0533 444 55 66', '1975-04-01 00:00:00.000', '2000-03-23 00:00:00.000', 0);
INSERT INTO tbMusteriCocugu VALUES (1, 1, 'Zeynep', 'Yılmaz', '2010-03-22 00:00:00.000');
INSERT INTO tbMusteriCocugu VALUES (2, 3, 'Efe', 'Demir', '2008-03-22 00:00:00.000');
INSERT INTO tbMusteriCocugu VALUES (3, 3, 'Ece', 'Demir', '1900-03-22 00:00:00.000');
INSERT INTO tbMusteriKefil1 VALUES (1, 'Veli', 'Yılmaz');
INSERT INTO tbKasiyer VALUES ('K1', 'Kasa 1');
INSERT INTO tbDepoTipi VALUES ('T1', 'Mağaza');
INSERT INTO tbDepo VALUES ('M1', 'Merkez', 'T1');
INSERT INTO tbDepo VALUES ('M2', 'Şube', 'T1');
INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, sKasiyerRumuzu, sMagaza, nGirisCikis, dteFaturaTarihi, dteKayitTarihi,
                         lToplamMiktar, lMalBedeli, lMalIskontoTutari, lDipIskonToTutari, lNetTutar, lKdv1) VALUES
    (10, 1, 'K1', 'M1', 3, '2013-03-22 00:00:00.000', '2013-03-22 08:30:00.000', 3, 160, 5, 5, 150, 20),
    (11, 2, 'K1', 'M1', 4, '2013-03-22 00:00:00.000', '2013-03-21 14:05:10.123', 1, 55, 0, 0, 50, 5),
    (12, 3, 'K1', 'M2', 3, '2013-03-22 10:00:00.000', '2013-03-21 14:05:10.127', 2, 40, 0, 0, 40, 4),
    (13, 1, 'K1', 'M1', 3, '2013-03-10 00:00:00.000', '2013-03-10 11:00:00.000', 1, 300, 0, 0, 300, 30);
INSERT INTO tbTaksit VALUES
    (100, 13, '2013-03-19 00:00:00.000', 100),
    (101, 13, '2013-03-12 00:00:00.000', 100),
    (102, 13, '2013-03-25 00:00:00.000', 100),
    (103, 13, '2013-03-21 00:00:00.000', 80),
    (104, 12, '2013-03-20 00:00:00.000', 40),
    (105, 12, '2013-03-18 00:00:00.000', 40);
INSERT INTO tbOdeme VALUES
    (1, 100, '2013-03-19 10:00:00.000', 30),
    (2, 100, '2013-03-20 10:00:00.000', 20),
    (3, 103, '2013-03-21 10:00:00.000', 80);
INSERT INTO tbAlisverisSiparis VALUES
    (1, 10, 0, '2013-03-22 00:00:00.000', '1'),
    (2, 12, 0, '2013-03-22 10:00:00.000', '1'),
    (3, 13, 1, '2013-03-22 00:00:00.000', '1'),
    (4, 11, 0, '2013-03-22 00:00:00.000', '1'),
    (5, 13, 0, '2013-03-22 00:00:00.000', '0');
INSERT INTO tbNuvoOnOdemeliSiparisGonderilen VALUES (4);
INSERT INTO tbNuvoSorguListesi (id, otomatik_calistir, saat, son_gonderme_tarihi, mesaj, cep_telefonu_alani) VALUES
    (1, 1, '1899-12-30 08:15:00.000', '2013-03-21 08:15:00.000', 'm', 'Gsm'),
    (2, 1, '1899-12-30 08:15:00.000', '2013-03-22 07:00:00.000', 'm', 'Gsm'),
    (3, 1, '1899-12-30 08:15:00.000', NULL, 'm', 'Gsm'),
    (4, 0, '1899-12-30 08:15:00.000', '2013-03-21 08:15:00.000', 'm', 'Gsm'),
    (5, 1, '1899-12-30 08:16:00.000', '2013-03-21 08:15:00.000', 'm', 'Gsm');
)SQL";

// --- The system's statements, placeholders filled as the campaigns fill them ---------------------

const char* const kBirthday =
    "SELECT tbmusteri.sAdi AS musteri_adi, tbmusteri.sSoyadi AS musteri_soyadi, tbmusteri.sGSM AS GSM, '' AS cocuk_adi, "
    "'' AS cocuk_soyadi FROM tbmusteri WHERE DatePart(Day, tbmusteri.dteDogumTarihi) = 22 AND DatePart(Month, "
    "tbmusteri.dteDogumTarihi) = 3 AND DatePart(Year, tbmusteri.dteDogumTarihi) <> 1900";

const char* const kAnniversary =
    "SELECT tbmusteri.sAdi AS musteri_adi, tbmusteri.sSoyadi AS musteri_soyadi, tbmusteri.sGSM AS GSM, '' AS cocuk_adi, "
    "'' AS cocuk_soyadi FROM tbmusteri WHERE DatePart(Day, tbmusteri.dteEvlilikTarihi) = 22 AND DatePart(Month, "
    "tbmusteri.dteEvlilikTarihi) = 3 AND DatePart(Year, tbmusteri.dteEvlilikTarihi) <> 1900";

const char* const kChildBirthday =
    "SELECT tbmusteri.sAdi AS musteri_adi, tbmusteri.sSoyadi AS musteri_soyadi, tbmusteri.sGSM AS GSM, "
    "tbMusteriCocugu.sAdi AS cocuk_adi, tbMusteriCocugu.sSoyadi AS cocuk_soyadi FROM tbmusteri JOIN tbmustericocugu ON "
    "tbMusteri.nMusteriID = tbmustericocugu.nMusteriID WHERE DatePart(Day, tbmustericocugu.dteDogumTarihi) = 22 AND "
    "DatePart(Month, tbmustericocugu.dteDogumTarihi) = 3 AND DatePart(Year, tbmustericocugu.dteDogumTarihi) <> 1900";

const char* const kPurchaseLookup = "SELECT * FROM tbNuvoAlisverisGonderilen WHERE AlisVerisId = 'QORVANT'";

const char* const kAfterPurchase =
    "SELECT tbAlisVeris.nAlisverisID, tbAlisVeris.lNetTutar, tbAlisVeris.dteKayitTarihi, tbAlisVeris.lToplamMiktar, "
    "tbMusteri.sAdi AS musteri_adi, tbMusteri.sSoyadi AS musteri_soyadi, tbMusteri.sGSM AS Gsm FROM tbAlisVeris JOIN "
    "tbMusteri ON tbAlisVeris.nMusteriId = tbMusteri.nMusteriId WHERE tbAlisVeris.nAlisverisID NOT IN (SELECT "
    "AlisVerisId FROM tbNuvoAlisverisGonderilen) AND tbAlisVeris.dteKayitTarihi > '21.03.2013 14:05:10:123' AND "
    "tbAlisVeris.lNetTutar BETWEEN -999999999 AND 999999999 AND tbAlisVeris.lToplamMiktar BETWEEN -999999999 AND "
    "999999999";

std::string InstalmentQuery(const std::string& dueCondition, int low, int high) {
    return "SELECT DISTINCT Kodu, Adi AS musteri_adi, Soyadi AS musteri_soyadi, TaksitTarihi AS taksit_tarihi, Tutar AS "
           "taksit_tutari, Gsm FROM ( SELECT tbMusteri.lKodu as Kodu, tbMusteri.sAdi as Adi, tbMusteri.sSoyadi as "
           "Soyadi, tbTaksit.dteTarihi as TaksitTarihi, (tbTaksit.lTutari - sum(IsNull(tbOdeme.lOdemeTutar, 0))) as "
           "Tutar, tbMusteri.sgsm as Gsm from tbMusteri left outer join tbMusteriKefil1 on tbMusteriKefil1.nMusteriId = "
           "tbMusteri.nMusteriId left outer join tbMusteriKefil2 on tbMusteriKefil2.nMusteriId = tbMusteri.nMusteriId, "
           "tbAlisVeris, tbKasiyer, tbTaksit LEFT Outer join tbOdeme on tbOdeme.nTaksitID = tbTaksit.nTaksitID where "
           "tbTaksit.nAlisverisID = tbAlisVeris.nAlisverisID and tbKasiyer.sKasiyerRumuzu = tbAlisveris.sKasiyerRumuzu "
           "and tbAlisVeris.nMusteriID = tbMusteri.nMusteriID and " +
           dueCondition +
           " and (tbMusteri.lKodu between 0 and 999999999) and tbAlisveris.dteFaturaTarihi between '01/01/1900' and "
           "'31/12/2078' Group By tbMusteri.lKodu, tbMusteri.sAdi, tbMusteri.sSoyadi, tbTaksit.dteTarihi, convert (char "
           "(1), tbMusteri.bYazismaEvAdresinemi), tbTaksit.lTutari, sGSM Having tbTaksit.lTutari - "
           "Sum(IsNull(tbOdeme.lOdemeTutar, 0)) between " +
           std::to_string(low) + " and " + std::to_string(high) + ") as tbTemp order by Kodu, TaksitTarihi";
}

std::string StoreSalesQuery(const std::string& day) {
    return "select sDepoTipi, sDepoTipiAck, Magaza , sMagazaAck, sum(SatisMiktari) as SatisMiktari, sum(SatisTutari) as "
           "SatisTutari, sum(SatisIskonto) as SatisIskonto, sum(IadeMiktari) as IadeMiktari, sum(IadeTutari) as "
           "IadeTutari, sum(IadeIskonto) as IadeIskonto, sum(SatisMiktari+IadeMiktari) as NetMiktar, sum(NetTutar) As "
           "NetTutar, sum (KDVHaric) as KDVHaric, sum(MagazaMasrafi) as MagazaMasrafi, max(KayitTarihi)as KayitTarihi, "
           "sum(UrunDegistirmeMiktari) as UrunDegistirmeMiktari, sum(UrunDegistirmeTutari) as UrunDegistirmeTutari, "
           "sum(UrunDegistirmeIskonto) as UrunDegistirmeIskonto, sum(IadeMiktari) - sum(UrunDegistirmeMiktari) as "
           "FarkIadeMiktari, sum(IadeTutari) - sum(UrunDegistirmeTutari) as FarkIadeTutari, sum(IadeIskonto) - "
           "sum(UrunDegistirmeIskonto) as FarkIadeIskonto, sum(SatisTutari)+sum(IadeTutari) as ToplamSatis, "
           "sum(SatisIskonto)+sum(IadeIskonto) as ToplamIskonto ,0 as MagazaGiren from( select '' as sDepoTipi, '' as "
           "sDepoTipiAck, tbAlisveris.sMagaza as Magaza, tbDepo.sAciklama as sMagazaAck, (nGirisCikis - 4)* (-1) * "
           "sum(lToplamMiktar) as SatisMiktari, (nGirisCikis - 4)* (-1) * sum(lMalBedeli) as SatisTutari, (nGirisCikis - "
           "4)* (-1) * sum(lMalIskontoTutari+lDipIskonToTutari) as SatisIskonto, (nGirisCikis - 3)* sum(lToplamMiktar) "
           "as IadeMiktari, (nGirisCikis - 3)* sum(lMalBedeli) as IadeTutari, (nGirisCikis - 3)* "
           "sum(lMalIskontoTutari+lDipIskonToTutari) as IadeIskonto, sum(lNetTutar - lKdv1 - lKdv2 - lKdv3 - lKdv4 - "
           "lKdv5) As KDVHaric, sum(lNetTutar) as NetTutar, 0 as MagazaMasrafi, '01/01/1900' as KayitTarihi, 0 as "
           "UrunDegistirmeMiktari,0 as UrunDegistirmeTutari,0 as UrunDegistirmeIskonto From tbDepo, tbAlisveris, "
           "tbDepoTipi Where tbDepo.sDepo = tbAlisveris.sMagaza and (tbAlisveris.nGirisCikis = 3 or "
           "tbAlisveris.nGirisCikis = 4) and tbAlisveris.dteFaturaTarihi between '" +
           day + "' and '" + day +
           "' and tbDepo.sDepoTipi = tbDepoTipi.sDepoTipi group by tbAlisveris.sMagaza, tbDepo.sAciklama, nGirisCikis ) "
           "as tempMagazaCiro group by sDepoTipi, sDepoTipiAck, Magaza, sMagazaAck order by Magaza";
}

// ":saat" and ":dakika" as the facade passes them: positional markers.
const char* const kCustomSchedule =
    "SELECT * FROM tbNuvoSorguListesi WHERE tbNuvoSorguListesi.otomatik_calistir = 1 AND ((DATEPART(HOUR, "
    "tbNuvoSorguListesi.saat) = ? AND DATEPART(MINUTE, tbNuvoSorguListesi.saat) = ?)) AND (DateAdd(day, datediff(day,0, "
    "tbNuvoSorguListesi.son_gonderme_tarihi), 0) <> DateAdd(day, datediff(day,0, GETDATE()), 0) )";

// ":tarih" as the facade passes it.
const char* const kPrepaidOrders =
    "SELECT tbMusteri.sAdi, tbMusteri.sSoyadi, tbMusteri.sGSM, tbAlisveris.dteFaturaTarihi, tbAlisVeris.lNetTutar, "
    "tbAlisVerisSiparis.nSiparisID FROM tbAlisverisSiparis JOIN tbAlisVeris ON tbAlisVerisSiparis.nAlisverisID = "
    "tbAlisVeris.nAlisverisID JOIN tbMusteri ON tbAlisVeris.nMusteriID = tbMusteri.nMusteriID WHERE "
    "tbAlisverisSiparis.bTeslimEdildi = 0 AND tbAlisverisSiparis.dteOnayTarihi = ? AND tbAlisverisSiparis.sAciklama = "
    "'1' AND tbAlisVerisSiparis.nSiparisID NOT IN (SELECT SiparisId FROM tbNuvoOnOdemeliSiparisGonderilen)";

// --- The table of cases -------------------------------------------------------------------------

struct QueryCase {
    std::string name;
    std::string dateFormat;  // run "SET DATEFORMAT <x>" first; empty keeps the session's default
    std::string setup;       // T-SQL statements run first through the backend, may be empty
    std::string sql;
    std::vector<Value> params;
    std::vector<std::string> columns;  // the columns compared; empty: all
    std::vector<std::string> rows;
    bool ordered = true;  // false: the statement has no ORDER BY, rows are compared as a set
};
// Test names print the case name, not the bytes of the case.
void PrintTo(const QueryCase& c, std::ostream* os) { *os << c.name; }


Value I(int64_t v) { return Value::Integer(v); }

std::vector<QueryCase> Cases() {
    const std::string ali = "Ali|Yılmaz|0532 111 22 33";
    const std::string can = "Can|Demir|0533 444 55 66";
    return {
        // Clock and literals.
        {"GetDateIsTheLocalClock", "", "", "SELECT GETDATE() AS DateTime", {}, {}, {"@2013-03-22 09:00:00.000"}},
        {"CurrentTimestampIsGetDate", "", "", "SELECT CURRENT_TIMESTAMP AS t", {}, {}, {"@2013-03-22 09:00:00.000"}},
        {"DayFirstLiteralsAfterSetDateFormat", "dmy", "",
         "SELECT '21/03/2013' AS a, '21.03.2013' AS b, '21.03.2013 14:05:10:123' AS c, '21/03/2013 14:05' AS d, "
         "'01/01/1900' AS e, '01/02/2013' AS f",
         {}, {},
         {"@2013-03-21 00:00:00.000|@2013-03-21 00:00:00.000|@2013-03-21 14:05:10.123|@2013-03-21 14:05:00.000|"
          "@1900-01-01 00:00:00.000|@2013-02-01 00:00:00.000"}},
        {"MonthFirstBeforeAnySet", "", "", "SELECT '03/21/2013' AS a, '01/02/2013' AS b, '21/03/2013' AS c", {}, {},
         {"@2013-03-21 00:00:00.000|@2013-01-02 00:00:00.000|21/03/2013"}},
        {"YearFirstLiterals", "dmy", "",
         "SELECT '2013-03-21' AS a, '2013-03-21 14:05' AS b, '2013-03-21T14:05:10.5' AS c, '2013/03/21' AS d", {}, {},
         {"@2013-03-21 00:00:00.000|@2013-03-21 14:05:00.000|@2013-03-21 14:05:10.500|@2013-03-21 00:00:00.000"}},
        {"MillisecondsAfterColonOrPoint", "dmy", "",
         "SELECT '21.03.2013 14:05:10:5' AS a, '21.03.2013 14:05:10.5' AS b, '21.03.2013 2:05PM' AS c", {}, {},
         // 5 ms is kept in the 1/300 s steps of datetime: .007
         {"@2013-03-21 14:05:10.007|@2013-03-21 14:05:10.500|@2013-03-21 14:05:00.000"}},
        {"TextThatIsNoDateStaysAsWritten", "dmy", "",
         "SELECT '12:30' AS a, 'Tarih: 21.03.2013' AS b, '21.03.13' AS c, ':tarih' AS d, 'isnull(x, 0) top 5' AS e, "
         "'it''s' AS f, '31.02.2013' AS g, '' AS h",
         {}, {}, {"12:30|Tarih: 21.03.2013|21.03.13|:tarih|isnull(x, 0) top 5|it's|31.02.2013|"}},
        {"UnicodeLiteralsAndBrackets", "", "",
         "SELECT [sAdi] AS [Adı Soyadı], N'Ş' AS [x]]y] FROM [dbo].[tbMusteri] WHERE sAdi = N'Ali'", {},
         {"Adı Soyadı", "x]y"}, {"Ali|Ş"}},
        {"TextComparesWithoutLetterCase", "", "", "SELECT sAdi FROM tbmusteri WHERE SADI = 'ali'", {}, {}, {"Ali"}},
        {"ParametersAndQuotedMarkersAreLeftAlone", "", "", "SELECT ? AS a, 'x?y' AS b, ? AS c, ':a' AS d",
         {I(1), Value::Text("z")}, {}, {"1|x?y|z|:a"}},
        {"CommentsAreNotRewritten", "dmy", "",
         "SELECT 1 AS a -- IsNull( 'x\n, '21.03.2013' AS b /* it's TOP 5 */ , 2 AS c", {}, {},
         {"1|@2013-03-21 00:00:00.000|2"}},
        {"SessionStatementsInsideOneText", "", "", "SET NOCOUNT ON; SET DATEFORMAT dmy; SELECT '01/02/2013' AS a;", {},
         {}, {"@2013-02-01 00:00:00.000"}},
        {"TableHintsAreDropped", "", "", "SELECT sAdi FROM dbo.tbMusteri WITH (NOLOCK) WHERE nMusteriID = 1", {}, {},
         {"Ali"}},

        // Functions.
        {"IsNullIsIfNull", "", "",
         "SELECT IsNull(NULL, 5) AS a, ISNULL('x', 'y') AS b, isnull (NULL, NULL) AS c, sum(IsNull(NULL, 0)) AS d", {},
         {}, {"5|x|NULL|0"}},
        {"DatePartUnits", "dmy", "",
         "SELECT DatePart(Day, '21.03.2013 14:05:10:123') AS d, DatePart(Month, '21.03.2013') AS m, "
         "DatePart(Year, '21.03.2013') AS y, DATEPART(HOUR, '21.03.2013 14:05:10:123') AS h, "
         "DATEPART(MINUTE, '21.03.2013 14:05:10:123') AS mi, DatePart(Second, '21.03.2013 14:05:10:123') AS s, "
         "DATEPART(ms, '21.03.2013 14:05:10:123') AS ms, DATEPART(dw, '21.03.2013') AS dw, "
         "DATEPART(dy, '21.03.2013') AS dy, DATEPART(qq, '21.03.2013') AS q, DATEPART(wk, '21.03.2013') AS wk",
         {}, {}, {"21|3|2013|14|5|10|123|5|80|1|12"}},
        {"DatePartOfNullIsNull", "", "", "SELECT DatePart(Day, NULL) AS d, DATEPART(hour, dteEvlilikTarihi) AS h FROM "
         "tbMusteri WHERE nMusteriID = 2", {}, {}, {"NULL|NULL"}},
        {"DateAddDateDiffCutToTheDay", "dmy", "",
         "SELECT DateAdd(day, datediff(day,0, '21.03.2013 14:05:10:123'), 0) AS a, datediff(day, 0, '21.03.2013') AS n, "
         "DateAdd(day, datediff(day,0, GETDATE()), 0) AS today",
         {}, {}, {"@2013-03-21 00:00:00.000|41352|@2013-03-22 00:00:00.000"}},
        {"DateAddUnits", "dmy", "",
         "SELECT DateAdd(month, 1, '31.01.2013') AS a, DATEADD(year, -1, '29.02.2012') AS b, DATEADD(hour, 25, "
         "'21.03.2013') AS c, DATEADD(minute, 30, '21.03.2013 14:05:10') AS d, DATEADD(day, 1, NULL) AS e, "
         "DATEADD(day, NULL, GETDATE()) AS f, DATEADD(d, -1, '01.03.2013') AS g",
         {}, {},
         {"@2013-02-28 00:00:00.000|@2011-02-28 00:00:00.000|@2013-03-22 01:00:00.000|@2013-03-21 14:35:10.000|"
          "NULL|NULL|@2013-02-28 00:00:00.000"}},
        {"DateDiffCountsBoundaries", "dmy", "",
         "SELECT datediff(month, '31.01.2013', '01.02.2013') AS a, datediff(year, '31.12.2012 23:59', '01.01.2013') AS "
         "b, datediff(day, '21.03.2013 23:59', '22.03.2013 00:01') AS c, datediff(week, '16.03.2013', '17.03.2013') AS "
         "d, datediff(minute, '21.03.2013 14:05:59', '21.03.2013 14:06:00') AS e, datediff(day, '22.03.2013', "
         "'21.03.2013') AS f, datediff(day, NULL, GETDATE()) AS g",
         {}, {}, {"1|1|1|1|1|-1|NULL"}},
        {"ConvertToText", "dmy", "",
         "SELECT convert(char(1), 1) AS a, convert (char (1), 0) AS b, CONVERT(varchar(3), 'abcdef') AS c, "
         "convert(char(3), 'a') AS d, convert(varchar(10), '21.03.2013', 104) AS e, convert(char(1), NULL) AS f, "
         "convert(varchar(20), 'Ğüşiöç', 0) AS g",
         {}, {}, {"1|0|abc|a  |21.03.2013|NULL|Ğüşiöç"}},
        {"ConvertToNumbersAndDates", "", "",
         "SELECT convert(int, '42') AS a, convert(int, 1.7) AS b, convert(money, 1.23456) AS c, convert(bit, 5) AS d, "
         "convert(datetime, '21/03/2013', 103) AS e, convert(date, '2013-03-21 14:05') AS f, convert(decimal(10,1), "
         "2.25) AS g",
         {}, {}, {"42|1|1.2346|1|@2013-03-21 00:00:00.000|@2013-03-21 00:00:00.000|2.3"}},

        // TOP.
        {"TopBecomesLimit", "", "", "SELECT TOP 2 nMusteriID FROM tbMusteri ORDER BY nMusteriID DESC", {}, {},
         {"3", "2"}},
        {"TopInsideDerivedTable", "", "",
         "SELECT x.sAdi FROM (SELECT TOP (1) sAdi FROM tbMusteri ORDER BY nMusteriID DESC) AS x, tbDepo WHERE "
         "tbDepo.sDepo = 'M1'",
         {}, {}, {"Can"}},
        {"TopAfterDistinct", "", "", "SELECT DISTINCT TOP 1 sMagaza FROM tbAlisVeris ORDER BY sMagaza DESC", {}, {},
         {"M2"}},

        // Date-time columns against rewritten literals.
        {"DateTimeColumnAfterMoment", "dmy", "",
         "SELECT nAlisverisID FROM tbAlisVeris WHERE dteKayitTarihi > '21.03.2013 14:05:10:123' ORDER BY 1", {}, {},
         {"10", "12"}},
        {"DateTimeColumnEqualsDay", "dmy", "", "SELECT nTaksitID FROM tbTaksit WHERE dteTarihi = '12.03.2013'", {}, {},
         {"101"}},
        {"DateTimeColumnBetweenDayAndNow", "dmy", "",
         "SELECT nTaksitID FROM tbTaksit WHERE dteTarihi BETWEEN '19.03.2013' AND GETDATE() ORDER BY 1", {}, {},
         {"100", "103", "104"}},
        {"DateTimeColumnEqualsBoundDate", "", "", "SELECT nSiparisID FROM tbAlisverisSiparis WHERE dteOnayTarihi = ? "
         "ORDER BY 1", {Value::DateTime(velmora::test::DT(2013, 3, 22))}, {}, {"1", "3", "4", "5"}},

        // The campaigns' statements.
        {"BirthdayQuery", "dmy", "", kBirthday, {}, {}, {ali + "||"}, false},
        {"AnniversaryQuery", "dmy", "", kAnniversary, {}, {}, {ali + "||"}, false},
        {"ChildBirthdayQuery", "dmy", "", kChildBirthday, {}, {}, {ali + "|Zeynep|Yılmaz", can + "|Efe|Demir"}, false},
        {"PurchaseRecordLookupWithQuotedWord", "dmy", "", kPurchaseLookup, {}, {}, {}},
        {"PurchaseRecordLookupWithRows", "dmy", "INSERT INTO tbNuvoAlisverisGonderilen (AlisVerisId) VALUES (10)",
         kPurchaseLookup, {}, {}, {}},
        {"AfterPurchaseQuery", "dmy", "", kAfterPurchase, {}, {},
         {"10|150|@2013-03-22 08:30:00.000|3|" + ali, "12|40|@2013-03-21 14:05:10.127|2|" + can}, false},
        {"AfterPurchaseQuerySkipsRecordedPurchases", "dmy",
         "INSERT INTO tbNuvoAlisverisGonderilen (AlisVerisId) VALUES (10)", kAfterPurchase, {}, {},
         {"12|40|@2013-03-21 14:05:10.127|2|" + can}, false},
        {"InstalmentReminderQuery", "dmy", "",
         InstalmentQuery("tbTaksit.dteTarihi BETWEEN '19.03.2013' AND GETDATE()", -99999999, 99999999), {}, {},
         {"100|Ali|Yılmaz|@2013-03-19 00:00:00.000|50|0532 111 22 33",
          "100|Ali|Yılmaz|@2013-03-21 00:00:00.000|0|0532 111 22 33",
          "300|Can|Demir|@2013-03-20 00:00:00.000|40|0533 444 55 66"}},
        {"InstalmentReminderQueryWithSlashes", "dmy", "",
         InstalmentQuery("tbTaksit.dteTarihi BETWEEN '19/03/2013' AND GETDATE()", -99999999, 99999999), {},
         {"Kodu", "taksit_tarihi"},
         {"100|@2013-03-19 00:00:00.000", "100|@2013-03-21 00:00:00.000", "300|@2013-03-20 00:00:00.000"}},
        {"OverduePaymentQuery", "dmy", "", InstalmentQuery("tbTaksit.dteTarihi = '12.03.2013'", 0, 999999999), {}, {},
         {"100|Ali|Yılmaz|@2013-03-12 00:00:00.000|100|0532 111 22 33"}},
        {"OverduePaymentQueryAmountBounds", "dmy", "",
         InstalmentQuery("tbTaksit.dteTarihi = '12.03.2013'", 0, 99), {}, {}, {}},
        {"StoreSalesQuery", "dmy", "", StoreSalesQuery("22.03.2013"), {},
         {"Magaza", "sMagazaAck", "SatisMiktari", "IadeMiktari", "NetMiktar", "NetTutar", "KDVHaric", "KayitTarihi",
          "ToplamSatis", "FarkIadeMiktari", "MagazaGiren"},
         {"M1|Merkez|3|1|4|200|175|@1900-01-01 00:00:00.000|215|1|0"}},
        {"CustomQueryScheduleQuery", "dmy", "", kCustomSchedule, {I(8), I(15)}, {"id"}, {"1"}},
        {"CustomQueryScheduleQueryOtherMinute", "dmy", "", kCustomSchedule, {I(8), I(16)}, {"id"}, {"5"}},
        {"CustomQueryScheduleQueryOtherHour", "dmy", "", kCustomSchedule, {I(9), I(15)}, {"id"}, {}},
        {"PrepaidOrderQuery", "dmy", "", kPrepaidOrders, {Value::DateTime(velmora::test::DT(2013, 3, 22))}, {},
         {ali + "|@2013-03-22 00:00:00.000|150|1"}, false},
        {"PrepaidOrderQuerySkipsRecordedOrders", "dmy",
         "INSERT INTO tbNuvoOnOdemeliSiparisGonderilen(SiparisId) VALUES(1)", kPrepaidOrders,
         {Value::DateTime(velmora::test::DT(2013, 3, 22))}, {}, {}, false},
        // The campaigns' statements on data a real ERP holds, compared as SQL Server compares.
        {"PrepaidOrderQueryDescriptionWithTrailingBlanks", "dmy",
         "UPDATE tbAlisverisSiparis SET sAciklama = '1  ' WHERE nSiparisID = 1", kPrepaidOrders,
         {Value::DateTime(velmora::test::DT(2013, 3, 22))}, {}, {ali + "|@2013-03-22 00:00:00.000|150|1"}, false},
        {"StoreSalesQueryJoinsStoreCodesWithBlanksAndTurkishCase", "dmy",
         "INSERT INTO tbDepo VALUES ('D04', N'Dört', 'T1'), (N'şube1', N'Şube Bir', 'T1');"
         "INSERT INTO tbAlisVeris (nAlisverisID, nMusteriID, sKasiyerRumuzu, sMagaza, nGirisCikis, dteFaturaTarihi, "
         "lToplamMiktar, lNetTutar) VALUES (20, 1, 'K1', 'D04 ', 3, '22.03.2013', 2, 30), "
         "(21, 1, 'K1', N'ŞUBE1', 3, '22.03.2013', 1, 10)",
         StoreSalesQuery("22.03.2013"), {}, {"Magaza", "sMagazaAck", "SatisMiktari", "NetTutar"},
         {"D04 |Dört|2|30", "M1|Merkez|3|200", "ŞUBE1|Şube Bir|1|10"}},
        {"OverduePaymentQueryKeepsAnExactlyPaidInstalment", "dmy",
         "INSERT INTO tbTaksit VALUES (106, 13, '12.03.2013', 0.30);"
         "INSERT INTO tbOdeme VALUES (4, 106, '12.03.2013 10:00', 0.10), (5, 106, '12.03.2013 11:00', 0.20)",
         InstalmentQuery("tbTaksit.dteTarihi = '12.03.2013'", 0, 999999999), {}, {},
         {"100|Ali|Yılmaz|@2013-03-12 00:00:00.000|100|0532 111 22 33",
          "100|Ali|Yılmaz|@2013-03-12 00:00:00.000|0|0532 111 22 33"},
         false},
        {"BookkeepingAndQueueStatements", "dmy", "",
         "SELECT * FROM tbNuvoSonKontrol; SELECT * FROM tbNuvoListe WHERE id = -1", {}, {}, {}},
    };
}

class DialectTest : public ::testing::TestWithParam<QueryCase> {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        path_ = dir_->File("tenant.db");
        velmora::test::CreateSqliteDatabase(path_, "tools/schema/tenant.sqlite.sql");
        velmora::test::RunSqliteScript(path_, kFixture);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        backend_ = OpenSqliteBackend(path_);
        // Each case's own rows disappear with the transaction.
        backend_->Execute("BEGIN", {}, nullptr);
    }
    void TearDown() override { backend_->Execute("ROLLBACK", {}, nullptr); }

    ResultData Run(const std::string& sql, const std::vector<Value>& params = {}) {
        ResultData r;
        backend_->Execute(sql, params, &r);
        return r;
    }

    FixedClock clock_{2013, 3, 22, 9, 0, 0};
    std::unique_ptr<IDbBackend> backend_;
    static TempDir* dir_;
    static std::string path_;
};

TempDir* DialectTest::dir_ = nullptr;
std::string DialectTest::path_;

TEST_P(DialectTest, RowsOut) {
    const QueryCase& c = GetParam();
    if (!c.dateFormat.empty()) backend_->Execute("SET DATEFORMAT " + c.dateFormat, {}, nullptr);
    if (!c.setup.empty()) backend_->Execute(c.setup, {}, nullptr);
    ResultData r;
    try {
        r = Run(c.sql, c.params);
    } catch (const Error& e) {
        FAIL() << "statement failed: " << e.what();
    }
    EXPECT_TRUE(r.hasResultSet);
    std::vector<std::string> rows = RenderRows(r, c.columns);
    std::vector<std::string> expected = c.rows;
    if (!c.ordered) {
        std::sort(rows.begin(), rows.end());
        std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(rows, expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DialectTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<QueryCase>& info) { return info.param.name; });

// --- Session behaviour ----------------------------------------------------------------------

class DialectSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.File("tenant.db");
        velmora::test::CreateSqliteDatabase(path_, "tools/schema/tenant.sqlite.sql");
        backend_ = OpenSqliteBackend(path_);
    }
    std::string One(const std::string& sql) {
        ResultData r;
        backend_->Execute(sql, {}, &r);
        if (r.rows.size() != 1 || r.rows[0].size() != 1) return "<not one value>";
        return Render(r.rows[0][0]);
    }
    std::string ErrorOf(const std::string& sql) {
        try {
            backend_->Execute(sql, {}, nullptr);
        } catch (const EDatabaseError& e) {
            return e.what();
        }
        return "<no error>";
    }

    TempDir dir_;
    std::string path_;
    FixedClock clock_{2013, 3, 22, 9, 0, 0};
    std::unique_ptr<IDbBackend> backend_;
};

TEST_F(DialectSessionTest, SetDateFormatGovernsLaterRunsOfTheSameText) {
    const std::string sql = "SELECT '01/02/2013' AS d";
    EXPECT_EQ(One(sql), "@2013-01-02 00:00:00.000");
    backend_->Execute("SET DATEFORMAT dmy", {}, nullptr);
    EXPECT_EQ(One(sql), "@2013-02-01 00:00:00.000");
    backend_->Execute("set dateformat MDY", {}, nullptr);
    EXPECT_EQ(One(sql), "@2013-01-02 00:00:00.000");
}

TEST_F(DialectSessionTest, SetDateFormatGovernsTextValuesReadByFunctions) {
    backend_->Execute("CREATE TABLE t (s VARCHAR(20))", {}, nullptr);
    backend_->Execute("INSERT INTO t VALUES (?)", {Value::Text("01/02/2013")}, nullptr);
    EXPECT_EQ(One("SELECT DATEPART(month, s) FROM t"), "1");
    backend_->Execute("SET DATEFORMAT dmy", {}, nullptr);
    EXPECT_EQ(One("SELECT DATEPART(month, s) FROM t"), "2");
}

TEST_F(DialectSessionTest, DateFormatIsPerSession) {
    backend_->Execute("SET DATEFORMAT dmy", {}, nullptr);
    auto other = OpenSqliteBackend(path_);
    ResultData r;
    other->Execute("SELECT '01/02/2013' AS d", {}, &r);
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(Render(r.rows[0][0]), "@2013-01-02 00:00:00.000");
}

TEST_F(DialectSessionTest, GetDateIsReadAgainForEveryRun) {
    const std::string sql = "SELECT GETDATE() AS DateTime";
    EXPECT_EQ(One(sql), "@2013-03-22 09:00:00.000");
    clock_.Set(velmora::test::DT(2013, 3, 23, 0, 0, 1));
    EXPECT_EQ(One(sql), "@2013-03-23 00:00:01.000");
}

TEST_F(DialectSessionTest, BadInputGivesClearErrors) {
    EXPECT_NE(ErrorOf("SET DATEFORMAT xyz").find("xyz"), std::string::npos);
    EXPECT_EQ(ErrorOf("SELECT DatePart(Day, 'yarın')"),
              "Conversion failed when converting date and/or time from character string.");
    EXPECT_EQ(ErrorOf("SELECT DATEADD(day, 1, '9999-12-31')"), "Adding a value to a 'datetime' column caused an overflow.");
    EXPECT_EQ(ErrorOf("SELECT DATEADD(year, 9223372036854775807, '2013-03-21')"),
              "Adding a value to a 'datetime' column caused an overflow.");
    EXPECT_EQ(ErrorOf("SELECT DATEPART(fortnight, GETDATE())"), "no such column: fortnight");
    EXPECT_EQ(ErrorOf("SELECT DATEPART('fortnight', GETDATE())"), "'fortnight' is not a recognized datepart option.");
    EXPECT_EQ(ErrorOf("SELECT convert(int, 'abc')"),
              "Conversion failed when converting the varchar value 'abc' to data type int.");
    EXPECT_EQ(ErrorOf("SELECT convert(geography, 1)"), "Type geography is not a defined system type.");
    EXPECT_EQ(ErrorOf("SELECT DATEADD(day, 1, 1e300)"), "Arithmetic overflow error converting expression to data type datetime.");
    EXPECT_NE(ErrorOf("SELECT 'unterminated").find("unrecognized token"), std::string::npos);
}

// --- The rewriter's statement split ---------------------------------------------------------

TEST(TsqlRewrite, SplitsAtSemicolonsOutsideLiteralsAndComments) {
    std::string format = "mdy";
    auto st = tsql::Rewrite("SET DATEFORMAT dmy;\nSELECT ';' AS a -- ;\n; /* ; */ ;SELECT '01/02/2013'", format);
    ASSERT_EQ(st.size(), 3u);
    EXPECT_EQ(st[0].kind, tsql::Statement::Kind::SetDateFormat);
    EXPECT_EQ(st[0].text, "dmy");
    EXPECT_EQ(st[1].kind, tsql::Statement::Kind::Sql);
    EXPECT_EQ(st[1].text, "\nSELECT ';' AS a -- ;\n");
    EXPECT_EQ(st[2].text, "SELECT '2013-02-01 00:00:00.000'");
    EXPECT_EQ(format, "dmy");
}

TEST(TsqlRewrite, ArithmeticBecomesTypedCallsInPrecedence) {
    struct Case {
        const char* sql;
        const char* rewritten;
    };
    const Case cases[] = {
        {"SELECT a + b * c - d", "SELECT TSQL_SUB(TSQL_ADD(a, TSQL_MUL(b, c)), d)"},
        {"SELECT -a * (b + 1) % 2", "SELECT (TSQL_MUL(-a, (TSQL_ADD(b, 1))) % 2)"},
        {"SELECT * FROM t WHERE x = y / 2", "SELECT * FROM t WHERE x = TSQL_DIV(y, 2)"},
        {"SELECT TOP 5 * FROM t", "SELECT  * FROM t\nLIMIT 5"},
        {"SELECT t.*, COUNT(*) FROM t", "SELECT t.*, COUNT(*) FROM t"},
        {"SELECT CASE WHEN a > 1 THEN a - 1 END + 2", "SELECT TSQL_ADD(CASE WHEN a > 1 THEN TSQL_SUB(a, 1) END, 2)"},
        {"SELECT sum(x - y) FROM t WHERE z BETWEEN -1 AND 1", "SELECT sum(TSQL_SUB(x, y)) FROM t WHERE z BETWEEN -1 AND 1"},
        {"CREATE TABLE t (a INT DEFAULT -1, s VARCHAR(5) DEFAULT 'x')", "CREATE TABLE t (a INT DEFAULT -1, s VARCHAR(5) DEFAULT 'x')"},
    };
    for (const Case& c : cases) {
        std::string format = "dmy";
        auto st = tsql::Rewrite(c.sql, format);
        ASSERT_EQ(st.size(), 1u) << c.sql;
        EXPECT_EQ(st[0].text, c.rewritten) << c.sql;
    }
}

TEST(TsqlRewrite, LongChainsAndDeepNesting) {
    std::string format = "dmy";
    std::string chain = "SELECT 1";
    for (int k = 0; k < 20000; ++k) chain += " + 1";
    auto st = tsql::Rewrite(chain, format);
    ASSERT_EQ(st.size(), 1u);
    EXPECT_EQ(st[0].text.rfind("SELECT TSQL_ADD(TSQL_ADD(", 0), 0u);
    const std::string deep = "SELECT " + std::string(5000, '(') + "1" + std::string(5000, ')');
    EXPECT_THROW(tsql::Rewrite(deep, format), EDatabaseError);
}

TEST(TsqlRewrite, DateLiteralForms) {
    struct Case {
        const char* text;
        const char* format;
        const char* stored;  // nullptr: not a date
    };
    const Case cases[] = {
        {"21.03.2013", "dmy", "2013-03-21 00:00:00.000"},
        {"3/21/2013", "mdy", "2013-03-21 00:00:00.000"},
        {"21-03-2013", "dmy", "2013-03-21 00:00:00.000"},
        {"21.03.2013  23:59:59", "dmy", "2013-03-21 23:59:59.000"},
        {"2013-03-21 14:05:10.1234567", "dmy", "2013-03-21 14:05:10.123"},
        {"12/31/2013 12:00 AM", "mdy", "2013-12-31 00:00:00.000"},
        {"29.02.2012", "dmy", "2012-02-29 00:00:00.000"},
        {"29.02.2013", "dmy", nullptr},
        {"21.03.2013 24:00", "dmy", nullptr},
        {"21.03.2013 14:05:", "dmy", nullptr},
        {"21.03/2013", "dmy", nullptr},
        {"2013-03-21x", "dmy", nullptr},
        {"20130321", "dmy", nullptr},
        {"1.2.3", "dmy", nullptr},
    };
    for (const Case& c : cases) {
        TDateTime d = 0;
        bool ok = tsql::ParseDateLiteral(c.text, c.format, d);
        EXPECT_EQ(ok, c.stored != nullptr) << c.text;
        if (ok && c.stored) {
            EXPECT_EQ(FormatIsoDateTime(d), c.stored) << c.text;
        }
    }
}

} // namespace
