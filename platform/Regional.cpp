// Regional formats for dates and money (Windows: the user's locale; elsewhere Turkish).
#include "platform/Regional.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#ifdef _WIN32
#include <windows.h>
#endif

namespace velmora::platform {

FormatSettings TurkishFormatSettings() { return FormatSettings{}; }

FormatSettings EnglishFormatSettings() {
    FormatSettings s;
    s.dateSeparator = "/";
    s.timeSeparator = ":";
    s.thousandSeparator = ",";
    s.decimalSeparator = ".";
    return s;
}

namespace {

#ifdef _WIN32
std::string LocaleText(LCTYPE type, const char* fallback) {
    wchar_t buf[16];
    int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buf, 16);
    if (n <= 1) return fallback;
    char out[64];
    int m = WideCharToMultiByte(CP_UTF8, 0, buf, n - 1, out, sizeof out, nullptr, nullptr);
    return m > 0 ? std::string(out, m) : std::string(fallback);
}

FormatSettings MachineSettings() {
    FormatSettings s;
    s.dateSeparator = LocaleText(LOCALE_SDATE, ".");
    s.timeSeparator = LocaleText(LOCALE_STIME, ":");
    s.thousandSeparator = LocaleText(LOCALE_STHOUSAND, ".");
    s.decimalSeparator = LocaleText(LOCALE_SDECIMAL, ",");
    return s;
}
#else
FormatSettings MachineSettings() { return TurkishFormatSettings(); }
#endif

std::optional<FormatSettings>& Override() {
    static std::optional<FormatSettings> value;
    return value;
}

std::string Two(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

} // namespace

const FormatSettings& Regional() {
    static const FormatSettings machine = MachineSettings();
    return Override() ? *Override() : machine;
}

void SetRegional(const FormatSettings& settings) { Override() = settings; }
void ResetRegional() { Override().reset(); }

std::string FormatDate_ddmmyyyy(TDateTime value) {
    const FormatSettings& r = Regional();
    DateTimeParts p = DecodeDateTime(value);
    char year[8];
    std::snprintf(year, sizeof year, "%04d", p.year);
    return Two(p.day) + r.dateSeparator + Two(p.month) + r.dateSeparator + year;
}

std::string FormatDateTime_ddmmyyyy_hhnnsszzz(TDateTime value) {
    const FormatSettings& r = Regional();
    DateTimeParts p = DecodeDateTime(value);
    char ms[8];
    std::snprintf(ms, sizeof ms, "%03d", p.millisecond);
    return FormatDate_ddmmyyyy(value) + " " + Two(p.hour) + r.timeSeparator + Two(p.minute) + r.timeSeparator +
           Two(p.second) + r.timeSeparator + ms;
}

std::string FormatMoneyTL(Currency value) {
    const FormatSettings& r = Regional();
    // Two decimals, a half away from zero.
    int64_t a = std::llabs(value.units);
    int64_t cents = a / 100 + (a % 100 >= 50 ? 1 : 0);
    std::string whole = std::to_string(cents / 100);
    std::string grouped;
    int count = 0;
    for (size_t i = whole.size(); i-- > 0;) {
        grouped.insert(grouped.begin(), whole[i]);
        if (++count % 3 == 0 && i > 0) grouped.insert(0, r.thousandSeparator);
    }
    std::string out = (value.units < 0 && cents != 0 ? "-" : "") + grouped + r.decimalSeparator + Two(static_cast<int>(cents % 100)) + "TL";
    return out;
}

std::string FormatDateTimeShort(TDateTime value) {
    const FormatSettings& r = Regional();
    DateTimeParts p = DecodeDateTime(value);
    std::string out = FormatDate_ddmmyyyy(value);
    if (p.hour || p.minute || p.second || p.millisecond)
        out += " " + Two(p.hour) + r.timeSeparator + Two(p.minute) + r.timeSeparator + Two(p.second);
    return out;
}

std::string FormatFloatGeneral(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15G", value);
    std::string s = buf;
    const std::string& dec = Regional().decimalSeparator;
    size_t dot = s.find('.');
    if (dot != std::string::npos) s.replace(dot, 1, dec);
    return s;
}

} // namespace velmora::platform
