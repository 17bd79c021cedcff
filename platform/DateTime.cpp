// Date-time values as day serials: encoding, decoding and the stored text form.
#include "platform/DateTime.h"

#include <cmath>
#include <cstdio>

#include "platform/Error.h"

namespace velmora {

namespace {

// Days from 0001-03-01-based civil calendar (Howard Hinnant's algorithm), shifted to 1899-12-30.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);  // relative to 1970-01-01

} // namespace

int64_t DateTimeToMilliseconds(TDateTime value) { return static_cast<int64_t>(std::llround(value * kMsPerDay)); }

TDateTime MillisecondsToDateTime(int64_t ms) { return static_cast<double>(ms) / kMsPerDay; }

bool IsValidDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int max = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= max;
}

TDateTime EncodeDate(int year, int month, int day) {
    if (!IsValidDate(year, month, day)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "Invalid date %04d-%02d-%02d", year, month, day);
        throw EConvertError(buf);
    }
    return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpochOffset);
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
    return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond) / kMsPerDay;
}

TDateTime EncodeDateTime(const DateTimeParts& p) {
    int64_t days = static_cast<int64_t>(EncodeDate(p.year, p.month, p.day));
    int64_t ms = ((p.hour * 60LL + p.minute) * 60LL + p.second) * 1000LL + p.millisecond;
    return MillisecondsToDateTime(days * 86400000LL + ms);
}

DateTimeParts DecodeDateTime(TDateTime value) {
    int64_t ms = DateTimeToMilliseconds(value);
    int64_t days = ms >= 0 ? ms / 86400000LL : -((-ms + 86400000LL - 1) / 86400000LL);
    int64_t rest = ms - days * 86400000LL;
    DateTimeParts p;
    CivilFromDays(days + kEpochOffset, p.year, p.month, p.day);
    p.hour = static_cast<int>(rest / 3600000LL);
    p.minute = static_cast<int>(rest / 60000LL % 60);
    p.second = static_cast<int>(rest / 1000LL % 60);
    p.millisecond = static_cast<int>(rest % 1000LL);
    return p;
}

TDateTime DateOf(TDateTime value) {
    DateTimeParts p = DecodeDateTime(value);
    return EncodeDate(p.year, p.month, p.day);
}

TDateTime TimeOf(TDateTime value) {
    DateTimeParts p = DecodeDateTime(value);
    return EncodeTime(p.hour, p.minute, p.second, p.millisecond);
}

std::string FormatIsoDateTime(TDateTime value) {
    DateTimeParts p = DecodeDateTime(value);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day, p.hour, p.minute,
                  p.second, p.millisecond);
    return buf;
}

bool TryParseIsoDateTime(const std::string& text, TDateTime& out) {
    DateTimeParts p{};
    p.hour = p.minute = p.second = p.millisecond = 0;
    const char* s = text.c_str();
    auto digits = [&](size_t pos, size_t n, int& v) {
        if (pos + n > text.size()) return false;
        v = 0;
        for (size_t i = 0; i < n; ++i) {
            char c = s[pos + i];
            if (c < '0' || c > '9') return false;
            v = v * 10 + (c - '0');
        }
        return true;
    };
    if (!digits(0, 4, p.year) || text.size() < 10 || s[4] != '-' || !digits(5, 2, p.month) || s[7] != '-' ||
        !digits(8, 2, p.day))
        return false;
    size_t pos = 10;
    if (pos < text.size()) {
        if (s[pos] != ' ' && s[pos] != 'T') return false;
        if (!digits(pos + 1, 2, p.hour) || pos + 3 >= text.size() || s[pos + 3] != ':' || !digits(pos + 4, 2, p.minute))
            return false;
        pos += 6;
        if (pos < text.size()) {
            if (s[pos] != ':' || !digits(pos + 1, 2, p.second)) return false;
            pos += 3;
            if (pos < text.size()) {
                if (s[pos] != '.') return false;
                size_t n = text.size() - pos - 1;
                if (n < 1 || n > 9) return false;
                int frac = 0;
                if (!digits(pos + 1, n, frac)) return false;
                while (n > 3) { frac /= 10; --n; }
                while (n < 3) { frac *= 10; ++n; }
                p.millisecond = frac;
            }
        }
    }
    if (!IsValidDate(p.year, p.month, p.day) || p.hour > 23 || p.minute > 59 || p.second > 59) return false;
    out = EncodeDateTime(p);
    return true;
}

} // namespace velmora
