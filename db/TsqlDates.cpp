// SQL Server's date-times on the embedded database: date texts, 1/300 s steps, date functions.
#include <sqlite3.h>

#include <cmath>
#include <string>

#include "db/SqlLexer.h"
#include "db/TsqlFunctionSupport.h"
#include "platform/Clock.h"
#include "platform/Text.h"

namespace velmora::db::tsql {

namespace {

constexpr auto IsDigit = platform::IsAsciiDigit;

struct Cursor {
    const std::string& s;
    size_t i = 0;
    bool End() const { return i >= s.size(); }
    char Peek() const { return i < s.size() ? s[i] : '\0'; }
    // Reads 1..maxDigits digits; returns the count read (0 when none).
    int Digits(int maxDigits, int& value) {
        int count = 0;
        value = 0;
        while (count < maxDigits && i < s.size() && IsDigit(s[i])) {
            value = value * 10 + (s[i] - '0');
            ++i;
            ++count;
        }
        return count;
    }
};

bool ParseTime(Cursor& c, DateTimeParts& p) {
    int h = 0, mi = 0, sec = 0, ms = 0;
    if (c.Digits(2, h) == 0 || c.Peek() != ':') return false;
    ++c.i;
    if (c.Digits(2, mi) == 0) return false;
    if (c.Peek() == ':') {
        ++c.i;
        if (c.Digits(2, sec) == 0) return false;
        if (c.Peek() == ':') {
            // After a colon the digits count thousandths of a second, as SQL Server reads them.
            ++c.i;
            if (c.Digits(3, ms) == 0) return false;
        } else if (c.Peek() == '.') {
            // After a point they are a decimal fraction of a second.
            ++c.i;
            int frac = 0;
            int count = c.Digits(3, frac);
            if (count == 0) return false;
            while (count < 3) { frac *= 10; ++count; }
            ms = frac;
            int ignored = 0;
            c.Digits(4, ignored);  // datetime2 precision beyond milliseconds
        }
    }
    size_t save = c.i;
    while (c.Peek() == ' ') ++c.i;
    if (c.i + 2 <= c.s.size()) {
        std::string suffix = platform::UpperAscii(c.s.substr(c.i, 2));
        if (suffix == "AM" || suffix == "PM") {
            if (h < 1 || h > 12) return false;
            if (suffix == "AM" && h == 12) h = 0;
            if (suffix == "PM" && h != 12) h += 12;
            c.i += 2;
            save = c.i;
        }
    }
    c.i = save;
    if (h > 23 || mi > 59 || sec > 59) return false;
    p.hour = h;
    p.minute = mi;
    p.second = sec;
    p.millisecond = ms;
    return true;
}

bool UnitArg(sqlite3_context* ctx, sqlite3_value* v, std::string& unit) {
    std::string word = ValueText(v);
    unit = CanonicalDatePartUnit(word);
    if (unit.empty()) {
        ResultError(ctx, "'" + word + "' is not a recognized datepart option.");
        return false;
    }
    return true;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

int64_t DayNumber(TDateTime d) { return FloorDiv(DateTimeToMilliseconds(d), 86400000LL); }

// Weeks begin on Sunday (SQL Server's us_english DATEFIRST 7); day 1 (1899-12-31) was a Sunday.
int64_t WeekNumber(TDateTime d) { return FloorDiv(DayNumber(d) - 1, 7); }

int Weekday(TDateTime d) { return static_cast<int>(((DayNumber(d) + 6) % 7 + 7) % 7) + 1; }  // Sunday = 1

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

void GetDateFn(sqlite3_context* ctx, int, sqlite3_value**) {
    FunctionState* st = StateOf(ctx);
    if (st->nowSerial != st->statementSerial) {
        st->now = platform::Now();
        st->nowSerial = st->statementSerial;
    }
    ResultDateTime(ctx, st->now);
}

void DatePartFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    std::string unit;
    if (!UnitArg(ctx, argv[0], unit)) return;
    TDateTime d = 0;
    Arg a = DateArg(ctx, argv[1], d);
    if (a == Arg::Null) { sqlite3_result_null(ctx); return; }
    if (a == Arg::Failed) return;
    DateTimeParts p = DecodeDateTime(d);
    int64_t r = 0;
    if (unit == "year") r = p.year;
    else if (unit == "quarter") r = (p.month - 1) / 3 + 1;
    else if (unit == "month") r = p.month;
    else if (unit == "dayofyear") r = DayNumber(d) - DayNumber(EncodeDate(p.year, 1, 1)) + 1;
    else if (unit == "day") r = p.day;
    else if (unit == "week") r = WeekNumber(d) - WeekNumber(EncodeDate(p.year, 1, 1)) + 1;
    else if (unit == "weekday") r = Weekday(d);
    else if (unit == "hour") r = p.hour;
    else if (unit == "minute") r = p.minute;
    else if (unit == "second") r = p.second;
    else r = p.millisecond;
    sqlite3_result_int64(ctx, r);
}

void DateAddFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    std::string unit;
    if (!UnitArg(ctx, argv[0], unit)) return;
    if (sqlite3_value_type(argv[1]) == SQLITE_NULL) { sqlite3_result_null(ctx); return; }
    int64_t k = 0;
    if (!IntegerArg(ctx, argv[1], k)) return;
    TDateTime d = 0;
    Arg a = DateArg(ctx, argv[2], d);
    if (a == Arg::Null) { sqlite3_result_null(ctx); return; }
    if (a == Arg::Failed) return;

    const char* overflow = "Adding a value to a 'datetime' column caused an overflow.";
    TDateTime r = 0;
    if (unit == "year" || unit == "quarter" || unit == "month") {
        // Anything beyond 10,000 years overflows whatever the unit (checked before multiplying).
        if (k > 120000 || k < -120000) { ResultError(ctx, overflow); return; }
        int64_t months = unit == "year" ? k * 12 : unit == "quarter" ? k * 3 : k;
        DateTimeParts p = DecodeDateTime(d);
        int64_t total = static_cast<int64_t>(p.year) * 12 + (p.month - 1) + months;
        int year = static_cast<int>(FloorDiv(total, 12));
        int month = static_cast<int>(total - static_cast<int64_t>(year) * 12) + 1;
        if (year < 1 || year > 9999) { ResultError(ctx, overflow); return; }
        p.year = year;
        p.month = month;
        if (p.day > DaysInMonth(year, month)) p.day = DaysInMonth(year, month);
        r = EncodeDateTime(p);
    } else {
        int64_t unitMs = 0;
        if (unit == "day" || unit == "dayofyear" || unit == "weekday") unitMs = 86400000LL;
        else if (unit == "week") unitMs = 7 * 86400000LL;
        else if (unit == "hour") unitMs = 3600000LL;
        else if (unit == "minute") unitMs = 60000LL;
        else if (unit == "second") unitMs = 1000LL;
        else unitMs = 1;
        const int64_t limit = 400000000000000LL / unitMs;  // about 12,700 years
        if (k > limit || k < -limit) { ResultError(ctx, overflow); return; }
        r = MillisecondsToDateTime(DateTimeToMilliseconds(d) + k * unitMs);
    }
    if (!InRange(r)) { ResultError(ctx, overflow); return; }
    ResultDateTime(ctx, r);
}

void DateDiffFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    std::string unit;
    if (!UnitArg(ctx, argv[0], unit)) return;
    TDateTime a = 0, b = 0;
    Arg ra = DateArg(ctx, argv[1], a);
    if (ra == Arg::Failed) return;
    Arg rb = DateArg(ctx, argv[2], b);
    if (rb == Arg::Failed) return;
    if (ra == Arg::Null || rb == Arg::Null) { sqlite3_result_null(ctx); return; }
    // SQL Server counts the unit boundaries crossed between the two moments.
    DateTimeParts pa = DecodeDateTime(a), pb = DecodeDateTime(b);
    int64_t ma = DateTimeToMilliseconds(a), mb = DateTimeToMilliseconds(b);
    int64_t r = 0;
    if (unit == "year") r = pb.year - pa.year;
    else if (unit == "quarter") r = (pb.year * 4LL + (pb.month - 1) / 3) - (pa.year * 4LL + (pa.month - 1) / 3);
    else if (unit == "month") r = (pb.year * 12LL + pb.month) - (pa.year * 12LL + pa.month);
    else if (unit == "day" || unit == "dayofyear" || unit == "weekday") r = DayNumber(b) - DayNumber(a);
    else if (unit == "week") r = WeekNumber(b) - WeekNumber(a);
    else if (unit == "hour") r = FloorDiv(mb, 3600000LL) - FloorDiv(ma, 3600000LL);
    else if (unit == "minute") r = FloorDiv(mb, 60000LL) - FloorDiv(ma, 60000LL);
    else if (unit == "second") r = FloorDiv(mb, 1000LL) - FloorDiv(ma, 1000LL);
    else r = mb - ma;
    sqlite3_result_int64(ctx, r);
}

// --- CONVERT ---------------------------------------------------------------------------------

// YEAR(d), MONTH(d), DAY(d): DATEPART with that unit.
template <int Part>
void DatePartOfFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    TDateTime d = 0;
    Arg a = DateArg(ctx, argv[0], d);
    if (a == Arg::Null) { sqlite3_result_null(ctx); return; }
    if (a == Arg::Failed) return;
    DateTimeParts p = DecodeDateTime(d);
    sqlite3_result_int(ctx, Part == 0 ? p.year : Part == 1 ? p.month : p.day);
}

} // namespace

TDateTime RoundToDatetimeSteps(TDateTime d) {
    int64_t ms = DateTimeToMilliseconds(d);
    // The last digit of the milliseconds: 0-1 down to 0, 2-4 to 3, 5-8 to 7, 9 up to the next 10.
    const int64_t last = ((ms % 10) + 10) % 10;
    static const int kTo[] = {0, 0, 3, 3, 3, 7, 7, 7, 7, 10};
    ms += kTo[last] - last;
    return MillisecondsToDateTime(ms);
}

std::string CanonicalDatePartUnit(const std::string& word) {
    static const std::pair<const char*, const char*> kUnits[] = {
        {"year", "year"},       {"yy", "year"},          {"yyyy", "year"},       {"quarter", "quarter"},
        {"qq", "quarter"},      {"q", "quarter"},        {"month", "month"},     {"mm", "month"},
        {"m", "month"},         {"dayofyear", "dayofyear"}, {"dy", "dayofyear"}, {"y", "dayofyear"},
        {"day", "day"},         {"dd", "day"},           {"d", "day"},           {"week", "week"},
        {"wk", "week"},         {"ww", "week"},          {"weekday", "weekday"}, {"dw", "weekday"},
        {"w", "weekday"},       {"hour", "hour"},        {"hh", "hour"},         {"minute", "minute"},
        {"mi", "minute"},       {"n", "minute"},         {"second", "second"},   {"ss", "second"},
        {"s", "second"},        {"millisecond", "millisecond"}, {"ms", "millisecond"}};
    const std::string w = platform::LowerAscii(word);
    for (const auto& u : kUnits)
        if (w == u.first) return u.second;
    return {};
}

bool ParseDateLiteral(const std::string& text, const std::string& dateFormat, TDateTime& out) {
    Cursor c{text};
    DateTimeParts p{};
    int g1 = 0, g2 = 0, g3 = 0;
    const int n1 = c.Digits(4, g1);
    if (n1 == 0 || c.End()) return false;
    const char sep = c.Peek();
    if (sep != '/' && sep != '.' && sep != '-') return false;
    ++c.i;
    const int n2 = c.Digits(2, g2);
    if (n2 == 0 || c.Peek() != sep) return false;
    ++c.i;
    const int n3 = c.Digits(4, g3);
    if (n3 == 0) return false;

    bool isoForm = false;
    if (n1 == 4) {
        if (n3 > 2) return false;
        isoForm = sep == '-';
        // Year first: ISO 'yyyy-mm-dd' always reads year, month, day here (the stored form).
        p.year = g1;
        if (!isoForm && dateFormat == "ydm") { p.day = g2; p.month = g3; }
        else { p.month = g2; p.day = g3; }
    } else if (n3 == 4 && n1 <= 2) {
        p.year = g3;
        const bool dayFirst = dateFormat.find('d') < dateFormat.find('m');
        if (dayFirst) { p.day = g1; p.month = g2; }
        else { p.month = g1; p.day = g2; }
    } else {
        return false;  // two-digit years stay as written
    }

    if (!c.End()) {
        if (c.Peek() == 'T' && isoForm) {
            ++c.i;
        } else if (c.Peek() == ' ') {
            while (c.Peek() == ' ') ++c.i;
        } else {
            return false;
        }
        if (!ParseTime(c, p) || !c.End()) return false;
    }
    if (!IsValidDate(p.year, p.month, p.day)) return false;
    out = EncodeDateTime(p);
    return true;
}

void RegisterDateFunctions(sqlite3* db, FunctionState* state) {
    Register(db, "GETDATE", 0, state, GetDateFn, false);
    Register(db, "DATEPART", 2, state, DatePartFn);
    Register(db, "DATEADD", 3, state, DateAddFn);
    Register(db, "DATEDIFF", 3, state, DateDiffFn);
    Register(db, "YEAR", 1, state, DatePartOfFn<0>);
    Register(db, "MONTH", 1, state, DatePartOfFn<1>);
    Register(db, "DAY", 1, state, DatePartOfFn<2>);
}

} // namespace velmora::db::tsql
