#pragma once
// Date-time values are a count of days since 30 December 1899 00:00 with the time of day
// as the fraction, as the databases and the message texts of the system expect.
#include <cstdint>
#include <string>

namespace velmora {

using TDateTime = double;

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Whole-millisecond arithmetic keeps round trips exact.
int64_t DateTimeToMilliseconds(TDateTime value);
TDateTime MillisecondsToDateTime(int64_t ms);

bool IsValidDate(int year, int month, int day);
TDateTime EncodeDate(int year, int month, int day);  // throws EConvertError on an invalid date
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
TDateTime EncodeDateTime(const DateTimeParts& parts);
DateTimeParts DecodeDateTime(TDateTime value);

TDateTime DateOf(TDateTime value);  // the day at 00:00
TDateTime TimeOf(TDateTime value);  // the time of day alone

// "YYYY-MM-DD HH:MM:SS.ZZZ", the form the embedded database stores.
std::string FormatIsoDateTime(TDateTime value);
// Accepts "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS[.ZZZ]]" and a "T" in place of the blank.
bool TryParseIsoDateTime(const std::string& text, TDateTime& out);

constexpr double kMsPerDay = 86400000.0;

} // namespace velmora
