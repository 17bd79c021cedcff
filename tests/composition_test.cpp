// Message composition: the phone-number rules every campaign applies before queueing, and template filling
// with its XML escaping.
#include <gtest/gtest.h>

#include <string>

#include "queue/SMSConstV2.h"

using namespace velmora::queue;

namespace {

struct PhoneCase {
    const char* input;
    bool accepted;
    const char* after;  // the number as NormalizePhoneNumber leaves it, accepted or not
};

std::ostream& operator<<(std::ostream& os, const PhoneCase& c) { return os << '"' << c.input << '"'; }

class PhoneNumberTest : public ::testing::TestWithParam<PhoneCase> {};

TEST_P(PhoneNumberTest, CleansAndClassifies) {
    const PhoneCase& c = GetParam();
    std::string number = c.input;
    EXPECT_EQ(NormalizePhoneNumber(number), c.accepted);
    EXPECT_EQ(number, c.after);
    // The cleaned form alone is what DigitsOnly gives; NormalizePhoneNumber may only add a leading "+".
    const std::string cleaned = DigitsOnly(c.input);
    EXPECT_TRUE(number == cleaned || number == "+" + cleaned) << number << " vs " << cleaned;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PhoneNumberTest,
    ::testing::Values(
        // Mobile numbers as customers write them.
        PhoneCase{"0532 123 45 67", true, "05321234567"},
        PhoneCase{"(0532) 123 45 67", true, "05321234567"},
        PhoneCase{"532-123-4567", true, "5321234567"},
        PhoneCase{"+90 532 123 45 67", true, "+905321234567"},
        PhoneCase{"90 532 123 45 67", true, "905321234567"},  // 12 characters beginning with 90: unchanged
        PhoneCase{"44 20 7946 0958", true, "+442079460958"},  // 12 characters, another beginning: "+" in front
        PhoneCase{"123 456 789 01 23", true, "+1234567890123"},  // 13 digits
        PhoneCase{"12345678901234567", true, "+12345678901234567"},
        PhoneCase{"+1", true, "+1"},
        PhoneCase{"+", true, "+"},
        PhoneCase{"0532 123 45 67+", true, "+05321234567+"},  // the late "+" counts towards the 12
        PhoneCase{"0532+1234567", true, "+0532+1234567"},
        // Landlines and short numbers.
        PhoneCase{"0212 123 45 67", false, "02121234567"},
        PhoneCase{"212 123 45 67", false, "2121234567"},
        PhoneCase{"0532 123 45", false, "053212345"},  // 9 characters
        PhoneCase{"", false, ""},
        PhoneCase{"   ", false, ""},
        PhoneCase{"5321234567 ", true, "5321234567"},
        PhoneCase{"0532123456", false, "0532123456"},    // 10 characters not beginning with 5
        PhoneCase{"55321234567", false, "55321234567"},  // 11 characters not beginning with 05
        // Letters, punctuation and non-ASCII digits are dropped before the length is counted.
        PhoneCase{"0532abc1234567", true, "05321234567"},
        PhoneCase{"tel: 0532.123.45.67 (ev)", true, "05321234567"},
        PhoneCase{"GSM YOK", false, ""},
        PhoneCase{"\xD9\xA0" "532 123 45 67", true, "5321234567"},         // Arabic-Indic zero
        PhoneCase{"\xEF\xBC\x90" "532 123 45 6", false, "532123456"},     // full-width zero
        PhoneCase{"0532\t123\r\n45 67", true, "05321234567"}));

struct TemplateCase {
    const char* name;
    const char* templ;
    const char* adi;
    const char* soyadi;
    const char* cocukAdi;
    const char* cocukSoyadi;
    const char* tarih;
    const char* tutar;
    const char* expected;
};

std::ostream& operator<<(std::ostream& os, const TemplateCase& c) { return os << c.name; }

class FillTemplateTest : public ::testing::TestWithParam<TemplateCase> {};

TEST_P(FillTemplateTest, Fills) {
    const TemplateCase& c = GetParam();
    EXPECT_EQ(FillTemplate(c.templ, c.adi, c.soyadi, c.cocukAdi, c.cocukSoyadi, c.tarih, c.tutar), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FillTemplateTest,
    ::testing::Values(
        TemplateCase{"AllSix",
                     "{{MusteriAdi}} {{MusteriSoyadi}} / {{MusteriCocuguAdi}} {{MusteriCocuguSoyadi}} {{Tarih}} {{Tutar}}",
                     "Ayşe", "Kaya", "Can", "Kaya", "05.03.2013", "1.234,50TL",
                     "Ayşe Kaya / Can Kaya 05.03.2013 1.234,50TL"},
        TemplateCase{"OtherLetterCase", "{{musteriadi}} {{MUSTERISOYADI}} {{mUsTeRiCoCuGuAdI}}", "Ali", "Veli", "Can",
                     "", "", "", "Ali Veli Can"},
        TemplateCase{"EveryOccurrence", "{{Tarih}} - {{Tarih}}", "", "", "", "", "05.03.2013", "",
                     "05.03.2013 - 05.03.2013"},
        TemplateCase{"EmptyValueRemovesPlaceholderKeepsSpaces", "Vade {{Tarih}} tutar {{Tutar}} .", "", "", "", "",
                     "", "", "Vade  tutar  ."},
        TemplateCase{"UnknownPlaceholderStays", "{{Bilinmeyen}} {Tarih} {{ Tarih }} {{MusteriAdi}", "x", "", "", "",
                     "d", "", "{{Bilinmeyen}} {Tarih} {{ Tarih }} {{MusteriAdi}"},
        TemplateCase{"TemplateCharactersEscaped", "a < b & c > d \"q\"", "", "", "", "", "", "",
                     "a &lt; b &amp; c &gt; d &quot;q&quot;"},
        TemplateCase{"ApostropheInSurname", "Sayın {{MusteriSoyadi}}", "", "O'Neil", "", "", "", "",
                     "Sayın O&apos;Neil"},
        TemplateCase{"ExistingEntityEscapedAgain", "&lt; {{MusteriAdi}}", "&amp;", "", "", "", "", "",
                     "&amp;lt; &amp;amp;"},
        TemplateCase{"ValueHoldingLaterPlaceholderIsFilled", "{{MusteriAdi}}", "{{Tutar}}", "", "", "", "",
                     "10,00TL", "10,00TL"},
        TemplateCase{"ValueHoldingEarlierPlaceholderStays", "{{Tutar}}", "Ali", "", "", "", "", "{{MusteriAdi}}",
                     "{{MusteriAdi}}"},
        TemplateCase{"ValueRepeatingItsOwnPlaceholderIsNotReplacedAgain", "{{MusteriAdi}}", "{{MusteriAdi}}!", "",
                     "", "", "", "", "{{MusteriAdi}}!"},
        TemplateCase{"TurkishCapitalAndDotlessI", "{{MUSTERİADİ}} {{musterıSoyadı}} {{MUSTERİCOCUGUADİ}}", "Ali", "Veli",
                     "Can", "", "", "", "Ali Veli Can"},
        TemplateCase{"OtherTurkishLettersDoNotStandForAscii", "{{MÜSTERİADİ}} {{Tütar}}", "Ali", "", "", "", "",
                     "5", "{{MÜSTERİADİ}} {{Tütar}}"},
        TemplateCase{"EmptyTemplate", "", "Ali", "Veli", "", "", "", "", ""},
        TemplateCase{"TurkishTextUntouched", "Doğum gününüz kutlu olsun {{MusteriAdi}} Hanım, İyi günler",
                     "Çiğdem Şükran", "", "", "", "", "", "Doğum gününüz kutlu olsun Çiğdem Şükran Hanım, İyi günler"}));

} // namespace
