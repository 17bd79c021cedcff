// The embedded database against SQL Server's documented behaviour: statement and data in, the
// value SQL Server gives out, for text comparison under Turkish_CI_AS, money, datetime and the
// T-SQL functions tenants write in their own queries.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <ostream>

#include "db/DbBackend.h"
#include "db/DbConnection.h"
#include "platform/Regional.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "tests/TestSupport.h"

using namespace velmora;
using namespace velmora::db;
using velmora::test::FixedClock;
using velmora::test::TempDir;

namespace {

// Numbers bare, date-times marked with '@', NULL as NULL, text in brackets (blanks show).
std::string Render(const Value& v) {
    char buf[64];
    switch (v.kind) {
    case ValueKind::Null: return "NULL";
    case ValueKind::Integer: return std::to_string(v.i);
    case ValueKind::Float: {  // the shortest text that reads back as the same double: binary noise shows
        auto r = std::to_chars(buf, buf + sizeof buf, v.f);
        return std::string(buf, r.ptr);
    }
    case ValueKind::Text: return "[" + v.s + "]";
    case ValueKind::DateTime: return "@" + FormatIsoDateTime(v.f);
    case ValueKind::Blob: return "blob";
    }
    return "?";
}

struct Case {
    std::string name;
    std::string data;      // T-SQL run first (rolled back afterwards), may be empty
    std::string sql;       // one statement; its rows are joined by ';', values by '|'
    std::string expected;  // the rows, or "error: <message>" for a statement SQL Server refuses
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// "Today" is 22 March 2013, 09:00; the session reads dates day first, as the tenant connections do.
std::vector<Case> Comparison() {
    return {
        {"TrailingBlanksIgnored", "", "SELECT CASE WHEN 'abc' = 'abc   ' THEN 1 ELSE 0 END", "1"},
        {"LiteralsIgnoreCase", "", "SELECT CASE WHEN 'abc' = 'ABC' THEN 1 ELSE 0 END", "1"},
        {"NotEqualIgnoresBlanksAndCase", "", "SELECT CASE WHEN 'a ' <> 'A' THEN 1 ELSE 0 END", "0"},
        {"TurkishLetterPairs", "",
         "SELECT CASE WHEN N'ŞUBE1' = N'şube1' THEN 1 ELSE 0 END, CASE WHEN N'İ' = 'i' THEN 1 ELSE 0 END, "
         "CASE WHEN N'ı' = 'I' THEN 1 ELSE 0 END, CASE WHEN N'ĞÜÖÇ' = N'ğüöç' THEN 1 ELSE 0 END",
         "1|1|1|1"},
        {"TurkishDottedAndDotlessIDiffer", "", "SELECT CASE WHEN 'i' = 'I' THEN 1 ELSE 0 END", "0"},
        {"AccentsCount", "", "SELECT CASE WHEN 'e' = N'é' THEN 1 ELSE 0 END, CASE WHEN 'c' = N'ç' THEN 1 ELSE 0 END",
         "0|0"},
        {"ColumnAgainstLiteral", "INSERT INTO tbDepo VALUES ('şube1  ', 'x', 'T')",
         "SELECT sAciklama FROM tbDepo WHERE sDepo = N'ŞUBE1'", "[x]"},
        {"JoinIgnoresBlanksAndCase",
         "INSERT INTO tbDepo VALUES ('D04', 'Dört', 'T'); INSERT INTO tbAlisVeris (nAlisverisID, sMagaza) VALUES (1, 'd04 ')",
         "SELECT tbDepo.sAciklama FROM tbDepo JOIN tbAlisVeris ON tbDepo.sDepo = tbAlisVeris.sMagaza", "[Dört]"},
        {"InListIgnoresBlanks", "INSERT INTO tbAlisverisSiparis (nSiparisID, sAciklama) VALUES (1, '1  ')",
         "SELECT nSiparisID FROM tbAlisverisSiparis WHERE sAciklama IN ('1', '2')", "1"},
        {"GroupByAndDistinctIgnoreBlanksAndCase",
         "INSERT INTO tbAlisVeris (nAlisverisID, sMagaza) VALUES (1, 'ŞUBE1'), (2, 'şube1 '), (3, N'Şube1')",
         "SELECT (SELECT COUNT(*) FROM (SELECT sMagaza FROM tbAlisVeris GROUP BY sMagaza) g), "
         "(SELECT COUNT(DISTINCT sMagaza) FROM tbAlisVeris)",
         "1|1"},
        {"TurkishAlphabeticalOrder",
         "INSERT INTO tbDepo (sDepo) VALUES ('Da'), (N'Ça'), ('Cz'), ('ca'), (N'İa'), ('Ia'), (N'Şa'), ('Sz')",
         "SELECT sDepo FROM tbDepo ORDER BY sDepo", "[ca];[Cz];[Ça];[Da];[Ia];[İa];[Sz];[Şa]"},
        {"UpperAndLowerAreTurkish", "",
         "SELECT UPPER(N'ş'), UPPER('i'), LOWER('I'), LOWER(N'İSTANBUL'), UPPER(N'çöğü')", "[Ş]|[İ]|[ı]|[istanbul]|[ÇÖĞÜ]"},
        {"LikeIgnoresCaseAndTheValuesTrailingBlanks", "",
         "SELECT CASE WHEN N'İstanbul' LIKE 'ist%' THEN 1 ELSE 0 END, CASE WHEN 'abc  ' LIKE 'abc' THEN 1 ELSE 0 END, "
         "CASE WHEN 'abc' LIKE 'abc ' THEN 1 ELSE 0 END, CASE WHEN N'ŞUBE' LIKE N'ş_be' THEN 1 ELSE 0 END",
         "1|1|0|1"},
        {"LikeSetsAndEscape", "",
         "SELECT CASE WHEN 'b' LIKE '[a-c]' THEN 1 ELSE 0 END, CASE WHEN 'd' LIKE '[^a-c]' THEN 1 ELSE 0 END, "
         "CASE WHEN 'a_b' LIKE 'a!_b' ESCAPE '!' THEN 1 ELSE 0 END, CASE WHEN 'axb' LIKE 'a!_b' ESCAPE '!' THEN 1 ELSE "
         "0 END, CASE WHEN '5%' LIKE '5[%]' THEN 1 ELSE 0 END",
         "1|1|1|0|1"},
    };
}

std::vector<Case> Money() {
    return {
        {"FullyPaidInstalmentLeavesZero",
         "INSERT INTO tbTaksit VALUES (1, 1, '2013-03-12 00:00:00.000', 0.30); "
         "INSERT INTO tbOdeme VALUES (1, 1, NULL, 0.10), (2, 1, NULL, 0.20)",
         "SELECT tbTaksit.lTutari - SUM(tbOdeme.lOdemeTutar), CASE WHEN tbTaksit.lTutari - SUM(tbOdeme.lOdemeTutar) "
         "BETWEEN 0 AND 0 THEN 1 ELSE 0 END FROM tbTaksit JOIN tbOdeme ON tbOdeme.nTaksitID = tbTaksit.nTaksitID "
         "GROUP BY tbTaksit.lTutari",
         "0|1"},
        {"SumOfAmountsIsExact", "INSERT INTO tbOdeme (nOdemeID, lOdemeTutar) VALUES (1, 0.1), (2, 0.1), (3, 0.1)",
         "SELECT SUM(lOdemeTutar), CASE WHEN SUM(lOdemeTutar) = 0.3 THEN 1 ELSE 0 END FROM tbOdeme", "0.3|1"},
        {"WholeAmountDividedKeepsItsFraction", "INSERT INTO tbAlisVeris (nAlisverisID, lNetTutar) VALUES (1, 101)",
         "SELECT lNetTutar / 2, lNetTutar / 3, lNetTutar * 3 FROM tbAlisVeris", "50.5|33.6667|303"},
        {"AmountArithmetic", "", "SELECT CAST(19.99 AS money) * 3, CAST(100 AS money) / 3, 0.1 + 0.2, 1.10 - 1",
         "59.97|33.3333|0.3|0.1"},
        {"IntegersDivideWhole", "", "SELECT 7 / 2, -7 / 2, 7 % 3, 2 + 3 * 4, (2 + 3) * 4", "3|-3|1|14|20"},
        {"AverageKeepsTheType", "INSERT INTO tbOdeme (nOdemeID, nTaksitID, lOdemeTutar) VALUES (1, 1, 1), (2, 2, 2)",
         "SELECT AVG(nTaksitID), AVG(lOdemeTutar) FROM tbOdeme", "1|1.5"},
        {"SumOfNothingIsNull", "", "SELECT SUM(lOdemeTutar) FROM tbOdeme", "NULL"},
        {"DivideByZeroFails", "", "SELECT 1 / 0", "error: Divide by zero error encountered."},
        {"AmountDivideByZeroFails", "", "SELECT CAST(5 AS money) / 0", "error: Divide by zero error encountered."},
        {"ConvertToMoneyRounds", "", "SELECT CONVERT(money, 1.23456), CAST('12.5' AS money), CONVERT(varchar(20), "
         "CAST(1234.5 AS money)), CONVERT(varchar(20), CAST(1234.5 AS money), 1)",
         "1.2346|12.5|[1234.50]|[1,234.50]"},
    };
}

std::vector<Case> DateTime() {
    return {
        {"WrittenInStepsOf300ths",
         "INSERT INTO tbOdeme (nOdemeID, dteOdemeTarihi) VALUES (1, '21.03.2013 10:00:00.001'), "
         "(2, '21.03.2013 10:00:00.002'), (3, '21.03.2013 10:00:00.005'), (4, '21.03.2013 10:00:00.009'), "
         "(5, '21.03.2013 10:00:00.998'), (6, '31.12.2013 23:59:59.999')",
         "SELECT dteOdemeTarihi FROM tbOdeme ORDER BY nOdemeID",
         "@2013-03-21 10:00:00.000;@2013-03-21 10:00:00.003;@2013-03-21 10:00:00.007;@2013-03-21 10:00:00.010;"
         "@2013-03-21 10:00:00.997;@2014-01-01 00:00:00.000"},
        {"OneMillisecondLaterIsTheSameMoment",
         "INSERT INTO tbAlisVeris (nAlisverisID, dteKayitTarihi) VALUES (1, '21.03.2013 14:05:10:124'), "
         "(2, '21.03.2013 14:05:10:127')",
         "SELECT nAlisverisID FROM tbAlisVeris WHERE dteKayitTarihi > '21.03.2013 14:05:10:123'", "2"},
        {"GetDatePlusOrMinusDays", "", "SELECT GETDATE() - 1, GETDATE() + 2, GETDATE() + 0.5",
         "@2013-03-21 09:00:00.000|@2013-03-24 09:00:00.000|@2013-03-22 21:00:00.000"},
        {"CastAndConvertReadDayFirst", "",
         "SELECT CAST('05.03.2013' AS datetime), CONVERT(datetime, '05/03/2013', 103), CONVERT(datetime, "
         "'05.03.2013', 104), CONVERT(datetime, '20130305', 112), CONVERT(datetime, '2013-03-05 14:05:10', 120), "
         "CAST('05.03.2013 14:00' AS date)",
         "@2013-03-05 00:00:00.000|@2013-03-05 00:00:00.000|@2013-03-05 00:00:00.000|@2013-03-05 00:00:00.000|"
         "@2013-03-05 14:05:10.000|@2013-03-05 00:00:00.000"},
        {"ConvertToTextWithStyles", "",
         "SELECT CONVERT(varchar(10), CAST('05.03.2013 14:05:10' AS datetime), 103), CONVERT(varchar(10), "
         "CAST('05.03.2013' AS datetime), 104), CONVERT(varchar(8), CAST('05.03.2013' AS datetime), 112), "
         "CONVERT(varchar(19), CAST('05.03.2013 14:05:10' AS datetime), 120), CAST(CAST('05.03.2013' AS datetime) AS "
         "varchar(20))",
         "[05/03/2013]|[05.03.2013]|[20130305]|[2013-03-05 14:05:10]|[Mar  5 2013 12:00AM]"},
        {"ConvertBetweenNumbersAndDates", "",
         "SELECT CAST('42' AS int), CONVERT(int, CAST('02.01.1900 13:00' AS datetime)), CAST(CAST(1 AS datetime) AS "
         "datetime)",
         "42|2|@1900-01-02 00:00:00.000"},
        {"SmallDateTimeKeepsMinutesAndBinaryKeepsBytes", "",
         "SELECT CAST('05.03.2013 14:05:29.997' AS smalldatetime), CAST('05.03.2013 14:05:29.999' AS smalldatetime), "
         "CAST(CAST('ab' AS varbinary(10)) AS varchar(10))",
         "@2013-03-05 14:05:00.000|@2013-03-05 14:06:00.000|[ab]"},
        {"YearMonthDay", "", "SELECT YEAR('21.03.2013'), MONTH('21.03.2013'), DAY('21.03.2013'), YEAR(NULL)",
         "2013|3|21|NULL"},
        {"DatePartUnits", "",
         "SELECT DATEPART(yy, '21.03.2013 14:05:10'), DATEPART(q, '21.03.2013'), DATEPART(dy, '21.03.2013'), "
         "DATEPART(wk, '21.03.2013'), DATEPART(dw, '21.03.2013'), DATEPART(hh, '21.03.2013 14:05:10'), "
         "DATEPART(mi, '21.03.2013 14:05:10'), DATEPART(ss, '21.03.2013 14:05:10')",
         "2013|1|80|12|5|14|5|10"},
        {"DateAddUnits", "",
         "SELECT DATEADD(quarter, 1, '30.11.2013'), DATEADD(week, 1, '21.03.2013'), DATEADD(second, 90, "
         "'21.03.2013'), DATEADD(ms, 1, '21.03.2013'), DATEADD(ms, 2, '21.03.2013')",
         "@2014-02-28 00:00:00.000|@2013-03-28 00:00:00.000|@2013-03-21 00:01:30.000|@2013-03-21 00:00:00.000|"
         "@2013-03-21 00:00:00.003"},
        {"DateDiffUnits", "",
         "SELECT DATEDIFF(quarter, '31.03.2013', '01.04.2013'), DATEDIFF(hour, '21.03.2013 23:59', '22.03.2013 00:00'), "
         "DATEDIFF(second, '21.03.2013 10:00:00', '21.03.2013 10:01:00'), DATEDIFF(dy, '01.01.2013', '21.03.2013')",
         "1|1|60|79"},
    };
}

std::vector<Case> Functions() {
    return {
        {"PlusJoinsTexts", "INSERT INTO tbMusteri (nMusteriID, sAdi, sSoyadi) VALUES (1, 'Ali', N'Yılmaz')",
         "SELECT sAdi + ' ' + sSoyadi, 'a' + 'b' + 'c' FROM tbMusteri", "[Ali Yılmaz]|[abc]"},
        {"PlusAddsNumbers", "", "SELECT 1 + 2, '5' + 1, 1.5 + 1", "3|6|2.5"},
        {"PlusWithNullIsNull", "", "SELECT NULL + 'x', 1 + NULL", "NULL|NULL"},
        {"TextThatIsNoNumberFails", "", "SELECT 'a' + 1",
         "error: Conversion failed when converting the varchar value 'a' to data type int."},
        {"LenLeavesTrailingBlanksOut", "", "SELECT LEN('abc  '), LEN(N'Şule'), LEN(''), LEN('  a'), LEN(NULL)",
         "3|4|0|3|NULL"},
        {"CharIndex", "",
         "SELECT CHARINDEX('b', 'abc'), CHARINDEX('B', 'abc'), CHARINDEX('x', 'abc'), CHARINDEX('a', 'abca', 2), "
         "CHARINDEX(N'Ş', N'Kurtuluş')",
         "2|2|0|4|8"},
        {"SubstringLeftRight", "",
         "SELECT SUBSTRING('abcdef', 2, 3), SUBSTRING('abc', 0, 2), SUBSTRING(N'Şüşe', 2, 2), LEFT('abc', 2), "
         "RIGHT('abc', 2), LEFT(N'Ğabc', 10)",
         "[bcd]|[a]|[üş]|[ab]|[bc]|[Ğabc]"},
        {"NegativeLengthFails", "", "SELECT LEFT('abc', -1)", "error: Invalid length parameter passed to the left function."},
        {"TrimsAndReplace", "",
         "SELECT LTRIM('  a '), RTRIM(' a  '), REPLACE('Ali Veli', 'veli', 'Can'), REPLACE('aaa', 'a', '')",
         "[a ]|[ a]|[Ali Can]|[]"},
        {"IsNullCoalesceCase", "",
         "SELECT ISNULL(NULL, 'x'), COALESCE(NULL, NULL, 3), CASE WHEN 1 = 2 THEN 'a' WHEN 2 = 2 THEN 'b' END, N'ğ'",
         "[x]|3|[b]|[ğ]"},
        {"TopTakesTheFirstRows", "INSERT INTO tbMusteri (nMusteriID) VALUES (1), (2), (3)",
         "SELECT TOP 2 nMusteriID FROM tbMusteri ORDER BY nMusteriID DESC", "3;2"},
        {"ArithmeticInsideFunctionsAndCase", "",
         "SELECT LEFT('abcdef', 1 + 2), CASE WHEN 2 * 3 = 6 THEN 10 - 4 ELSE 0 END, -(2 + 3)", "[abc]|6|-5"},
        {"FormatIsRefusedByName", "", "SELECT FORMAT(GETDATE(), 'dd.MM.yyyy')",
         "error: The function FORMAT is not supported by the embedded database's T-SQL dialect"},
        {"UnsupportedConvertStyleIsRefused", "", "SELECT CONVERT(varchar(20), GETDATE(), 106)",
         "error: CONVERT style 106 is not supported by the embedded database's T-SQL dialect."},
        {"TopPercentIsRefused", "", "SELECT TOP 10 PERCENT nMusteriID FROM tbMusteri",
         "error: TOP ... PERCENT is not supported by the embedded database's T-SQL dialect"},
    };
}

class SqlServerBehaviour : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir();
        path_ = dir_->File("tenant.db");
        velmora::test::CreateSqliteDatabase(path_, "tools/schema/tenant.sqlite.sql");
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        backend_ = OpenSqliteBackend(path_);
        backend_->Execute("SET DATEFORMAT dmy", {}, nullptr);
        backend_->Execute("BEGIN", {}, nullptr);
    }
    void TearDown() override { backend_->Execute("ROLLBACK", {}, nullptr); }

    FixedClock clock_{2013, 3, 22, 9, 0, 0};
    std::unique_ptr<IDbBackend> backend_;
    static TempDir* dir_;
    static std::string path_;
};

TempDir* SqlServerBehaviour::dir_ = nullptr;
std::string SqlServerBehaviour::path_;

TEST_P(SqlServerBehaviour, GivesTheServersResult) {
    const Case& c = GetParam();
    if (!c.data.empty()) backend_->Execute(c.data, {}, nullptr);
    std::string got;
    try {
        ResultData r;
        backend_->Execute(c.sql, {}, &r);
        for (size_t i = 0; i < r.rows.size(); ++i) {
            if (i) got += ';';
            for (size_t k = 0; k < r.rows[i].size(); ++k) got += (k ? "|" : "") + Render(r.rows[i][k]);
        }
    } catch (const EDatabaseError& e) {
        got = std::string("error: ") + e.what();
    }
    EXPECT_EQ(got, c.expected) << c.sql;
}

auto CaseName = [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; };
INSTANTIATE_TEST_SUITE_P(Comparison, SqlServerBehaviour, ::testing::ValuesIn(Comparison()), CaseName);
INSTANTIATE_TEST_SUITE_P(Money, SqlServerBehaviour, ::testing::ValuesIn(Money()), CaseName);
INSTANTIATE_TEST_SUITE_P(DateTime, SqlServerBehaviour, ::testing::ValuesIn(DateTime()), CaseName);
INSTANTIATE_TEST_SUITE_P(Functions, SqlServerBehaviour, ::testing::ValuesIn(Functions()), CaseName);

// A tenant on a Latin1 collation is mirrored by naming it in the schema: i and I are one letter there.
TEST(SqlServerCollationChoice, Latin1SchemaComparesWithoutTurkishCasing) {
    TempDir dir;
    const std::string schema = platform::ReadWholeFile(velmora::test::SourcePath("tools/schema/tenant.sqlite.sql"));
    std::string latin1 = schema;
    for (size_t at; (at = latin1.find("Turkish_CI_AS")) != std::string::npos;)
        latin1.replace(at, 13, "Latin1_General_CI_AS");
    const std::string path = dir.File("latin1.db");
    velmora::test::RunSqliteScript(path, latin1);
    auto backend = OpenSqliteBackend(path);
    backend->Execute("INSERT INTO tbDepo (sDepo) VALUES ('MERKEZ ')", {}, nullptr);
    ResultData r;
    backend->Execute("SELECT CASE WHEN 'i' = 'I' THEN 1 ELSE 0 END, UPPER('i'), (SELECT COUNT(*) FROM tbDepo WHERE "
                     "sDepo = 'merkez')",
                     {}, &r);
    ASSERT_EQ(r.rows.size(), 1u);
    EXPECT_EQ(Render(r.rows[0][0]) + "|" + Render(r.rows[0][1]) + "|" + Render(r.rows[0][2]), "1|[I]|1");
}

// Amounts computed exactly read back through the facade in the text forms the callers know.
TEST(SqlServerMoneyReadBack, ExactAmountsThroughTheFacade) {
    TempDir dir;
    const std::string path = dir.File("tenant.db");
    velmora::test::CreateSqliteDatabase(path, "tools/schema/tenant.sqlite.sql");
    velmora::test::RunSqliteScript(path, "INSERT INTO tbTaksit VALUES (1, 1, NULL, 0.30), (2, 1, NULL, 101);"
                                         "INSERT INTO tbOdeme VALUES (1, 1, NULL, 0.10), (2, 1, NULL, 0.20);");
    velmora::test::RegionalScope regional(platform::TurkishFormatSettings());
    TDbConnection c;
    c.Server = "sqlite:" + path;
    c.SetConnected(true);
    TDbQuery q(&c);
    q.SetSQL("SELECT (SELECT lTutari FROM tbTaksit WHERE nTaksitID = 1) - SUM(lOdemeTutar) AS kalan, SUM(lOdemeTutar) "
             "AS odenen, (SELECT lTutari / 2 FROM tbTaksit WHERE nTaksitID = 2) AS yarim, (SELECT lTutari FROM tbTaksit "
             "WHERE nTaksitID = 2) AS tam FROM tbOdeme");
    q.Open();
    EXPECT_EQ(q.FieldByName("kalan").AsString(), "0");
    EXPECT_EQ(q.FieldByName("kalan").AsCurrency(), Currency::FromUnits(0));
    EXPECT_EQ(q.FieldByName("odenen").AsString(), "0,3");
    EXPECT_EQ(q.FieldByName("odenen").AsCurrency(), Currency::FromUnits(3000));
    EXPECT_EQ(q.FieldByName("yarim").AsString(), "50,5");
    EXPECT_EQ(q.FieldByName("tam").AsString(), "101");
    EXPECT_EQ(q.FieldByName("tam").AsCurrency(), Currency::FromInteger(101));
}

} // namespace
