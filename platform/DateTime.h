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

// The range a date-time value may take: from 0001-01-01 up to, not including, 10000-01-01.
constexpr TDateTime kFirstDateTime = -693593.0;
constexpr TDateTime kEndOfDateTimes = 2958466.0;
// The first year SQL Server's datetime can hold, and its datetime number 0 (1900-01-01) in our day count.
constexpr int kFirstSqlServerDateTimeYear = 1753;
constexpr TDateTime kSqlServerZero = 2.0;

} // namespace velmora
