#pragma once
// Regional formats that shape message texts and SQL date literals.
#include <string>
#include "platform/DateTime.h"
#include "platform/Money.h"

namespace velmora::platform {

struct FormatSettings {
    std::string dateSeparator = ".";
    std::string timeSeparator = ":";
    std::string thousandSeparator = ".";
    std::string decimalSeparator = ",";
    // Short date is day, month, four-digit year; long time is hours, minutes, seconds.
    bool shortDateDayFirst = true;
};

// Windows: the user's locale; elsewhere Turkish defaults.
const FormatSettings& Regional();
void SetRegional(const FormatSettings& settings);  // tests
void ResetRegional();

FormatSettings TurkishFormatSettings();
FormatSettings EnglishFormatSettings();  // "/" ":" "," "."

// "dd/mm/yyyy" with the regional date separator.
std::string FormatDate_ddmmyyyy(TDateTime value);
// "dd/mm/yyyy HH:NN:SS:ZZZ" with the regional date and time separators.
std::string FormatDateTime_ddmmyyyy_hhnnsszzz(TDateTime value);
// "#,##0.00TL" with the regional thousands separator and decimal mark (half away from zero).
std::string FormatMoneyTL(Currency value);
// The regional short date, a blank and the long time; the time is left out at midnight.
std::string FormatDateTimeShort(TDateTime value);
// General format with up to 15 significant digits and the regional decimal separator.
std::string FormatFloatGeneral(double value);

} // namespace velmora::platform
