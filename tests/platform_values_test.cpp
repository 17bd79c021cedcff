// Direct tables for the platform's value code: date serials, money rounding and formats, code pages, ASCII text.
#include <gtest/gtest.h>

#include <string>

#include "platform/CodePage.h"
#include "platform/DateTime.h"
#include "platform/Error.h"
#include "platform/Money.h"
#include "platform/Regional.h"
#include "platform/Text.h"

namespace velmora {
namespace {

struct DateCase {
    int year, month, day;
    double serial;
};

// Serial days since 1899-12-30, as the databases and the ERP store them; the ends are SQL Server's
// datetime range and the leap days the calendar rules disagree on.
const DateCase kDates[] = {
    {1899, 12, 30, 0},      {1900, 1, 1, 2},        {1900, 2, 28, 60},   {1900, 3, 1, 61},
    {2000, 2, 29, 36585},   {2024, 2, 29, 45351},   {2013, 3, 5, 41338}, {2100, 3, 1, 73110},
    {1753, 1, 1, -53688},   {9999, 12, 31, 2958465},
};

TEST(DateSerials, EncodeAndDecodeAgreeWithTheCalendar) {
    for (const DateCase& c : kDates) {
        SCOPED_TRACE(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" + std::to_string(c.day));
        EXPECT_EQ(EncodeDate(c.year, c.month, c.day), c.serial);
        DateTimeParts p = DecodeDateTime(c.serial + EncodeTime(23, 59, 59, 997));
        EXPECT_EQ(p.year, c.year);
        EXPECT_EQ(p.month, c.month);
        EXPECT_EQ(p.day, c.day);
        EXPECT_EQ(p.hour, 23);
        EXPECT_EQ(p.minute, 59);
        EXPECT_EQ(p.second, 59);
        EXPECT_EQ(p.millisecond, 997);
    }
}

TEST(DateSerials, DaysTheCalendarDoesNotHaveAreRefused) {
    const int kInvalid[][3] = {{1900, 2, 29}, {2100, 2, 29}, {2023, 2, 29}, {2024, 4, 31},
                               {2024, 13, 1}, {2024, 0, 1},  {0, 1, 1},     {10000, 1, 1}};
    for (const auto& d : kInvalid) {
        SCOPED_TRACE(std::to_string(d[0]) + "-" + std::to_string(d[1]) + "-" + std::to_string(d[2]));
        EXPECT_FALSE(IsValidDate(d[0], d[1], d[2]));
        EXPECT_THROW(EncodeDate(d[0], d[1], d[2]), EConvertError);
    }
}

TEST(DateSerials, IsoTextRoundTripsToTheMillisecond) {
    const char* kTexts[] = {"1753-01-01 00:00:00.000", "1899-12-30 12:00:00.500", "2000-02-29 23:59:59.999",
                            "2013-03-05 10:00:00.003", "9999-12-31 23:59:59.997"};
    for (const char* text : kTexts) {
        TDateTime value = 0;
        ASSERT_TRUE(TryParseIsoDateTime(text, value)) << text;
        EXPECT_EQ(FormatIsoDateTime(value), text);
    }
    TDateTime ignored = 0;
    for (const char* bad : {"2013-02-29", "2013-03-05 24:00", "2013-3-5", "2013-03-05 10:00:00.", ""})
        EXPECT_FALSE(TryParseIsoDateTime(bad, ignored)) << bad;
}

struct MoneyCase {
    const char* text;
    int64_t units;        // ten-thousandths after parsing
    const char* plain;    // ToPlainString
    int64_t bankers;      // RoundBankers
    const char* turkish;  // FormatMoneyTL under Turkish formats
};

const MoneyCase kMoney[] = {
    {"0", 0, "0", 0, "0,00TL"},
    {"0.5", 5000, "0.5", 0, "0,50TL"},
    {"1.5", 15000, "1.5", 2, "1,50TL"},
    {"2.5", 25000, "2.5", 2, "2,50TL"},
    {"-2.5", -25000, "-2.5", -2, "-2,50TL"},
    {"-3.5", -35000, "-3.5", -4, "-3,50TL"},
    {"1234.505", 12345050, "1234.505", 1235, "1.234,51TL"},
    {"1234,5", 12345000, "1234.5", 1234, "1.234,50TL"},
    {"0.00004", 0, "0", 0, "0,00TL"},
    {"0.00005", 1, "0.0001", 0, "0,00TL"},
    {"-0.004", -40, "-0.004", 0, "0,00TL"},
    {"1000000", 10000000000, "1000000", 1000000, "1.000.000,00TL"},
    {"922337203685477.5807", INT64_MAX, "922337203685477.5807", 922337203685478, "922.337.203.685.477,58TL"},
};

TEST(MoneyValues, ParseRoundAndFormat) {
    platform::SetRegional(platform::TurkishFormatSettings());
    for (const MoneyCase& c : kMoney) {
        SCOPED_TRACE(c.text);
        Currency v;
        ASSERT_TRUE(Currency::TryParse(c.text, v));
        EXPECT_EQ(v.units, c.units);
        EXPECT_EQ(v.ToPlainString(), c.plain);
        EXPECT_EQ(v.RoundBankers(), c.bankers);
        EXPECT_EQ(platform::FormatMoneyTL(v), c.turkish);
    }
    platform::SetRegional(platform::EnglishFormatSettings());
    EXPECT_EQ(platform::FormatMoneyTL(Currency::FromInteger(1234567)), "1,234,567.00TL");
    platform::ResetRegional();
}

TEST(MoneyValues, TextThatIsNotAnAmountIsRefused) {
    Currency v;
    for (const char* bad : {"", "-", ".", "1.2.3", "12a", "1 2", "TL"}) EXPECT_FALSE(Currency::TryParse(bad, v)) << bad;
}

TEST(CodePages, EveryTurkishLetterRoundTripsThroughTheAnsiCodePage) {
    const std::string letters = "ÇçĞğİıÖöŞşÜü";
    const std::string bytes = "\xC7\xE7\xD0\xF0\xDD\xFD\xD6\xF6\xDE\xFE\xDC\xFC";
    EXPECT_EQ(platform::Utf8ToAnsi(letters), bytes);
    EXPECT_EQ(platform::AnsiToUtf8(bytes), letters);
    EXPECT_EQ(platform::Utf8ToAnsi("Fiyat: 5€"), "Fiyat: 5\x80");
    EXPECT_EQ(platform::AnsiToUtf8("Fiyat: 5\x80"), "Fiyat: 5€");
}

TEST(CodePages, TurkishSingleByteTextReadsAsUtf8) {
    const std::string letters = "ÇçĞğİıÖöŞşÜü";
    const std::string bytes = "\xC7\xE7\xD0\xF0\xDD\xFD\xD6\xF6\xDE\xFE\xDC\xFC";
    for (bool iso : {false, true}) EXPECT_EQ(platform::TurkishCodePageToUtf8(bytes, iso), letters) << iso;
    EXPECT_EQ(platform::TurkishCodePageToUtf8("5\x80", false), "5€");
    EXPECT_EQ(platform::TurkishCodePageToUtf8("5\x80", true), "5\xC2\x80") << "ISO-8859-9 keeps the C1 controls";
    EXPECT_EQ(platform::TurkishCodePageToUtf8("a\x81", false), "a\xEF\xBF\xBD") << "undefined in Windows-1254";
}

TEST(CodePages, CharactersTheCodePageLacksBecomeQuestionMarks) {
    EXPECT_EQ(platform::Utf8ToAnsi("a中b"), "a?b");
}

TEST(CodePages, Utf16RoundTripsEveryPlane) {
    for (const char* s : {"İstanbul", "€ ğ", "😀 ş", ""}) {
        EXPECT_EQ(platform::Utf16ToUtf8(platform::Utf8ToUtf16(s)), s);
    }
    EXPECT_EQ(platform::Utf8ToUtf16("😀").size(), 2u) << "a character beyond the first plane is a surrogate pair";
}

TEST(ReplaceAllNoCase, ReplacesEveryMatchOnce) {
    EXPECT_EQ(platform::ReplaceAllNoCase("aXa xA", "xa", "[xa]"), "a[xa] [xa]");
    EXPECT_EQ(platform::ReplaceAllNoCase("abc", "", "z"), "abc");
    EXPECT_EQ(platform::ReplaceAllNoCase("", "a", "z"), "");
    EXPECT_EQ(platform::ReplaceAllNoCase("{{A}}{{a}}", "{{a}}", ""), "");
}

TEST(EqualsNoCase, AsciiLettersOnly) {
    EXPECT_TRUE(platform::EqualsNoCase("CEP_Telefonu", "cep_telefonu"));
    EXPECT_FALSE(platform::EqualsNoCase("abc", "abcd"));
    EXPECT_FALSE(platform::EqualsNoCase("a", "b"));
}

TEST(Trim, RemovesBlanksAndControlCharactersAtBothEnds) {
    EXPECT_EQ(platform::Trim("  \t Ali Rıza \r\n"), "Ali Rıza");
    EXPECT_EQ(platform::Trim(""), "");
    EXPECT_EQ(platform::Trim(" \x01\x1f "), "");
    EXPECT_EQ(platform::Trim("Şule"), "Şule");
    EXPECT_EQ(platform::Trim("İ "), "İ");
}

TEST(NoCaseSearch, AsciiLettersOnly) {
    EXPECT_TRUE(platform::StartsWithNoCase("SQLITE:tenant.db", "sqlite:"));
    EXPECT_TRUE(platform::EndsWithNoCase("http://h/Service.asmx?wsdl", "?WSDL"));
    EXPECT_FALSE(platform::EndsWithNoCase("dl", "?WSDL"));
    EXPECT_EQ(platform::FindNoCase("Driver={SQL Server}", "sql server"), 8u);
    EXPECT_EQ(platform::FindNoCase("abc", "d"), std::string::npos);
    // Letters outside ASCII are never folded, whatever the process locale says.
    EXPECT_FALSE(platform::EqualsNoCase("İ", "i"));
    EXPECT_EQ(platform::LowerAscii("ÇIiq"), "Çiiq");
    EXPECT_EQ(platform::UpperAscii("çıiq"), "çıIQ");
}

struct WholeCase {
    const char* text;
    bool allowPlus;
    bool ok;
    long long value;
};

TEST(ParseWhole, TheWholeTextOrNothing) {
    const WholeCase cases[] = {
        {"42", false, true, 42},       {"-7", false, true, -7},      {"+7", true, true, 7},
        {"+7", false, false, 0},       {"+-7", true, false, 0},      {"", false, false, 0},
        {" 1", false, false, 0},       {"1 ", false, false, 0},      {"1x", false, false, 0},
        {"2147483648", false, false, 0},  // beyond 32 bits
    };
    for (const WholeCase& c : cases) {
        int32_t value = 0;
        EXPECT_EQ(platform::ParseWhole(c.text, value, c.allowPlus), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

} // namespace
} // namespace velmora
