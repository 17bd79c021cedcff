// SQL Server's + - * / and SUM/AVG on the embedded database, with amounts as exact decimals.
// Text + text joins, a date-time moves by days, division by zero fails; a REAL operand is read
// back as the decimal it was written as.
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "db/TsqlFunctionSupport.h"
#include "platform/Error.h"

namespace velmora::db::tsql {

namespace {

using Int128 = __int128;

constexpr int kMaxScale = 12;
const Int128 kLimit = static_cast<Int128>(1000000000000000000LL) * 100000000000LL;  // 1e29

Int128 Pow10(int n) {
    Int128 r = 1;
    while (n-- > 0) r *= 10;
    return r;
}

// An exact decimal: mantissa / 10^scale.
struct Decimal {
    Int128 m = 0;
    int scale = 0;
};

// The decimal a double was written as: the shortest text that reads back as the same double.
bool FromDouble(double x, Decimal& out) {
    if (!std::isfinite(x) || std::fabs(x) >= 1e17) return false;
    static const double kPow[] = {1, 10, 100, 1000, 10000};
    for (int s = 0; s <= 4; ++s) {  // amounts: four decimals at most, the common case
        const double scaled = std::nearbyint(x * kPow[s]);
        if (scaled / kPow[s] == x) {
            out.m = static_cast<Int128>(static_cast<long long>(scaled));
            out.scale = s;
            return true;
        }
    }
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::fixed);
    if (r.ec != std::errc()) return false;
    Int128 m = 0;
    int scale = -1;
    bool negative = false;
    for (const char* p = buf; p < r.ptr; ++p) {
        if (*p == '-') negative = true;
        else if (*p == '.') scale = 0;
        else {
            if (scale >= kMaxScale) return false;  // no short decimal: left to floating point
            m = m * 10 + (*p - '0');
            if (scale >= 0) ++scale;
        }
    }
    out.m = negative ? -m : m;
    out.scale = scale < 0 ? 0 : scale;
    return true;
}

double ToDouble(const Decimal& d) {
    if (d.m > -(static_cast<Int128>(1) << 53) && d.m < (static_cast<Int128>(1) << 53) && d.scale <= 22)
        return static_cast<double>(static_cast<long long>(d.m)) / std::pow(10.0, d.scale);  // correctly rounded
    const bool negative = d.m < 0;
    Int128 m = negative ? -d.m : d.m;
    std::string digits;  // least significant first
    for (int k = 0; m > 0 || k <= d.scale; ++k) {
        if (k == d.scale && k > 0) digits += '.';
        digits += static_cast<char>('0' + static_cast<int>(m % 10));
        m /= 10;
    }
    if (negative) digits += '-';
    std::reverse(digits.begin(), digits.end());
    return std::strtod(digits.c_str(), nullptr);
}

Decimal Rescale(Decimal d, int scale) {
    if (scale >= d.scale) {
        d.m *= Pow10(scale - d.scale);
    } else {  // half away from zero
        const Int128 p = Pow10(d.scale - scale);
        Int128 q = d.m / p, r = d.m % p;
        if (r * 2 >= p) ++q;
        else if (r * 2 <= -p) --q;
        d.m = q;
    }
    d.scale = scale;
    return d;
}

bool TooLarge(const Decimal& d) { return d.m > kLimit || d.m < -kLimit; }

enum class Kind { Null, Int, Real, Text, Date, Blob };

struct Operand {
    Kind kind = Kind::Null;
    int64_t i = 0;
    Decimal d;
    double f = 0;          // Real without a short decimal
    bool exact = true;     // Real: d holds it
    std::string text;      // Text
    TDateTime date = 0;    // Date
};

Operand Read(sqlite3_value* v) {
    Operand o;
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL: break;
    case SQLITE_INTEGER: o.kind = Kind::Int; o.i = sqlite3_value_int64(v); break;
    case SQLITE_FLOAT:
        o.kind = Kind::Real;
        o.f = sqlite3_value_double(v);
        o.exact = FromDouble(o.f, o.d);
        break;
    case SQLITE_TEXT:
        o.text = ValueText(v);
        o.kind = IsStoredDateTime(o.text, o.date) ? Kind::Date : Kind::Text;
        break;
    default: o.kind = Kind::Blob; break;
    }
    return o;
}

const char* TypeName(Kind k) {
    switch (k) {
    case Kind::Int: return "int";
    case Kind::Real: return "money";
    case Kind::Text: return "varchar";
    case Kind::Date: return "datetime";
    default: return "varbinary";
    }
}

const char* OperatorName(char op) {
    return op == '+' ? "add" : op == '-' ? "subtract" : op == '*' ? "multiply" : "divide";
}

// A text operand meets a number: SQL Server converts the text to the number's type.
bool TextToNumber(sqlite3_context* ctx, Operand& o, Kind target) {
    std::string s = o.text;
    size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
    s = a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
    if (target == Kind::Int) {
        int64_t x = 0;
        auto r = std::from_chars(s.data() + (!s.empty() && s[0] == '+' ? 1 : 0), s.data() + s.size(), x);
        if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) {
            ResultError(ctx, "Conversion failed when converting the varchar value '" + o.text + "' to data type int.");
            return false;
        }
        o.kind = Kind::Int;
        o.i = x;
        return true;
    }
    char* end = nullptr;
    const double x = std::strtod(s.c_str(), &end);
    if (s.empty() || end != s.c_str() + s.size() || !FromDouble(x, o.d)) {
        ResultError(ctx, "Cannot convert a char value to money. The char value has incorrect syntax.");
        return false;
    }
    o.kind = Kind::Real;
    o.f = x;
    o.exact = true;
    return true;
}

double AsDouble(const Operand& o) {
    return o.kind == Kind::Int ? static_cast<double>(o.i) : o.exact ? ToDouble(o.d) : o.f;
}

Decimal AsDecimal(const Operand& o) { return o.kind == Kind::Int ? Decimal{o.i, 0} : o.d; }

void Overflow(sqlite3_context* ctx, Kind k) {
    ResultError(ctx, std::string("Arithmetic overflow error converting expression to data type ") + TypeName(k) + ".");
}

void IntegerOp(sqlite3_context* ctx, char op, int64_t a, int64_t b) {
    int64_t r = 0;
    bool overflow = false;
    switch (op) {
    case '+': overflow = __builtin_add_overflow(a, b, &r); break;
    case '-': overflow = __builtin_sub_overflow(a, b, &r); break;
    case '*': overflow = __builtin_mul_overflow(a, b, &r); break;
    default:
        if (b == 0) { ResultError(ctx, "Divide by zero error encountered."); return; }
        if (a == INT64_MIN && b == -1) overflow = true;
        else r = a / b;  // truncated toward zero, as SQL Server divides integers
    }
    if (overflow) { Overflow(ctx, Kind::Int); return; }
    sqlite3_result_int64(ctx, r);
}

void DecimalOp(sqlite3_context* ctx, char op, const Decimal& a, const Decimal& b) {
    Decimal r;
    switch (op) {
    case '+':
    case '-': {
        const int s = std::max(a.scale, b.scale);
        const Decimal x = Rescale(a, s), y = Rescale(b, s);
        r = {op == '+' ? x.m + y.m : x.m - y.m, s};
        break;
    }
    case '*': {
        // Amounts multiply to amounts: the product keeps at most the larger scale, at least four decimals.
        r = {a.m * b.m, a.scale + b.scale};
        const int keep = std::max({4, a.scale, b.scale});
        if (r.scale > keep) r = Rescale(r, keep);
        break;
    }
    default: {
        if (b.m == 0) { ResultError(ctx, "Divide by zero error encountered."); return; }
        // An amount divided keeps four decimals (101 / 2 is 50.5), or the operands' larger scale.
        const int s = std::max({4, a.scale, b.scale});
        // a/b at scale s, one digit more to round half away from zero.
        Int128 num = a.m * Pow10(s + 1 - a.scale + b.scale);
        Int128 q = num / b.m;
        q = q >= 0 ? (q + 5) / 10 : (q - 5) / 10;
        r = {q, s};
        break;
    }
    }
    if (TooLarge(r)) { Overflow(ctx, Kind::Real); return; }
    sqlite3_result_double(ctx, ToDouble(r));
}

void DateOp(sqlite3_context* ctx, char op, const Operand& a, const Operand& b) {
    if (op == '*' || op == '/') {
        ResultError(ctx, std::string("The data types ") + TypeName(a.kind) + " and " + TypeName(b.kind) +
                             " are incompatible in the " + OperatorName(op) + " operator.");
        return;
    }
    // As numbers: days since 1900-01-01 with the time as the fraction.
    auto number = [](const Operand& o) { return o.kind == Kind::Date ? o.date - kSqlServerZero : AsDouble(o); };
    const double r = op == '+' ? number(a) + number(b) : number(a) - number(b);
    ResultDateTime(ctx, r + kSqlServerZero);
}

void Arithmetic(sqlite3_context* ctx, char op, sqlite3_value** argv) {
    Operand a = Read(argv[0]), b = Read(argv[1]);
    if (a.kind == Kind::Null || b.kind == Kind::Null) { sqlite3_result_null(ctx); return; }
    if (a.kind == Kind::Blob || b.kind == Kind::Blob) {
        ResultError(ctx, std::string("Operand data type varbinary is invalid for the ") + OperatorName(op) + " operator.");
        return;
    }
    const bool textA = a.kind == Kind::Text, textB = b.kind == Kind::Text;
    if (textA && textB) {
        if (op == '+') { ResultText(ctx, a.text + b.text); return; }
        ResultError(ctx, std::string("The data types varchar and varchar are incompatible in the ") + OperatorName(op) +
                             " operator.");
        return;
    }
    if ((textA && b.kind == Kind::Date) || (textB && a.kind == Kind::Date)) {
        // Text that is no date-time meets a date-time: read it as SQL Server would.
        Operand& t = textA ? a : b;
        TDateTime d = 0;
        if (!ParseDateLiteral(t.text, StateOf(ctx)->dateFormat, d)) {
            ResultError(ctx, "Conversion failed when converting date and/or time from character string.");
            return;
        }
        t.kind = Kind::Date;
        t.date = d;
    }
    if (textA && !TextToNumber(ctx, a, b.kind)) return;
    if (textB && !TextToNumber(ctx, b, a.kind)) return;
    if (a.kind == Kind::Date || b.kind == Kind::Date) { DateOp(ctx, op, a, b); return; }
    if (a.kind == Kind::Int && b.kind == Kind::Int) { IntegerOp(ctx, op, a.i, b.i); return; }
    if ((a.kind == Kind::Real && !a.exact) || (b.kind == Kind::Real && !b.exact)) {
        // No short decimal behind a floating-point value: floating-point arithmetic, as for float.
        const double x = AsDouble(a), y = AsDouble(b);
        if (op == '/' && y == 0) { ResultError(ctx, "Divide by zero error encountered."); return; }
        sqlite3_result_double(ctx, op == '+' ? x + y : op == '-' ? x - y : op == '*' ? x * y : x / y);
        return;
    }
    DecimalOp(ctx, op, AsDecimal(a), AsDecimal(b));
}

template <char Op>
void ArithmeticFn(sqlite3_context* ctx, int, sqlite3_value** argv) {
    Arithmetic(ctx, Op, argv);
}

// --- SUM and AVG -----------------------------------------------------------------------------

struct Accumulator {
    int64_t count = 0;
    bool anyReal = false;
    bool inexact = false;
    bool failed = false;
    Decimal sum;        // exact while !inexact
    double fsum = 0;    // used once inexact
};

void SumStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
    // SQLite's aggregate memory is aligned for 8 bytes, the 128-bit sum needs 16: it lives apart.
    auto** slot = static_cast<Accumulator**>(sqlite3_aggregate_context(ctx, sizeof(Accumulator*)));
    if (!slot) { sqlite3_result_error_nomem(ctx); return; }
    if (!*slot) *slot = new Accumulator();
    Accumulator* acc = *slot;
    if (acc->failed) return;
    sqlite3_value* v = argv[0];
    switch (sqlite3_value_type(v)) {
    case SQLITE_NULL: return;
    case SQLITE_INTEGER: {
        const Decimal x{sqlite3_value_int64(v), 0};
        if (!acc->inexact) {
            const int s = std::max(acc->sum.scale, x.scale);
            acc->sum = {Rescale(acc->sum, s).m + Rescale(x, s).m, s};
        }
        acc->fsum += static_cast<double>(sqlite3_value_int64(v));
        break;
    }
    case SQLITE_FLOAT: {
        const double f = sqlite3_value_double(v);
        Decimal x;
        acc->anyReal = true;
        if (!acc->inexact && FromDouble(f, x)) {
            const int s = std::max(acc->sum.scale, x.scale);
            acc->sum = {Rescale(acc->sum, s).m + Rescale(x, s).m, s};
        } else {
            acc->inexact = true;
        }
        acc->fsum += f;
        break;
    }
    default:
        acc->failed = true;
        ResultError(ctx, "Operand data type varchar is invalid for sum operator.");
        return;
    }
    ++acc->count;
    if (!acc->inexact && TooLarge(acc->sum)) {
        acc->failed = true;
        Overflow(ctx, acc->anyReal ? Kind::Real : Kind::Int);
    }
}

template <bool Average>
void SumFinal(sqlite3_context* ctx) {
    auto** slot = static_cast<Accumulator**>(sqlite3_aggregate_context(ctx, 0));
    std::unique_ptr<Accumulator> owned(slot ? *slot : nullptr);
    const Accumulator* acc = owned.get();
    if (!acc || acc->count == 0) { sqlite3_result_null(ctx); return; }
    if (acc->failed) return;
    if (acc->inexact) {
        sqlite3_result_double(ctx, Average ? acc->fsum / static_cast<double>(acc->count) : acc->fsum);
        return;
    }
    Decimal r = acc->sum;
    if (Average) {
        // AVG of whole numbers is a whole number, cut toward zero; of amounts, an amount.
        const int s = acc->anyReal ? std::max(4, r.scale) : 0;
        Int128 num = Rescale(r, s).m * 10;
        Int128 q = num / acc->count;
        q = acc->anyReal ? (q >= 0 ? (q + 5) / 10 : (q - 5) / 10) : q / 10;
        r = {q, s};
    }
    if (!acc->anyReal) {
        if (r.m > INT64_MAX || r.m < INT64_MIN) { Overflow(ctx, Kind::Int); return; }
        sqlite3_result_int64(ctx, static_cast<int64_t>(r.m));
        return;
    }
    sqlite3_result_double(ctx, ToDouble(r));
}

void RegisterAggregate(sqlite3* db, const char* name, void (*final)(sqlite3_context*)) {
    if (sqlite3_create_function_v2(db, name, 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, nullptr, SumStep, final,
                                   nullptr) != SQLITE_OK)
        throw EDatabaseError(std::string("Cannot register the function ") + name + ": " + sqlite3_errmsg(db));
}

} // namespace

void RegisterArithmeticFunctions(sqlite3* db, FunctionState* state) {
    Register(db, "TSQL_ADD", 2, state, ArithmeticFn<'+'>);
    Register(db, "TSQL_SUB", 2, state, ArithmeticFn<'-'>);
    Register(db, "TSQL_MUL", 2, state, ArithmeticFn<'*'>);
    Register(db, "TSQL_DIV", 2, state, ArithmeticFn<'/'>);
    RegisterAggregate(db, "sum", SumFinal<false>);
    RegisterAggregate(db, "avg", SumFinal<true>);
}

} // namespace velmora::db::tsql
