#pragma once
// Values crossing the database boundary.
#include <cstdint>
#include <string>
#include "platform/DateTime.h"

namespace velmora::db {

enum class ValueKind { Null, Integer, Float, Text, DateTime, Blob };

struct Value {
    ValueKind kind = ValueKind::Null;
    // A NULL written to a column whose kind is known carries that kind, so that a driver binds it as the
    // column's type without asking the server what the parameter is.
    ValueKind nullAs = ValueKind::Null;
    int64_t i = 0;    // Integer
    double f = 0.0;   // Float and DateTime (day count)
    std::string s;    // Text (UTF-8) and Blob (bytes)

    static Value Null() { return {}; }
    static Value NullOf(ValueKind column) { Value x; x.nullAs = column; return x; }
    static Value Integer(int64_t v) { Value x; x.kind = ValueKind::Integer; x.i = v; return x; }
    static Value Float(double v) { Value x; x.kind = ValueKind::Float; x.f = v; return x; }
    static Value Text(std::string v) { Value x; x.kind = ValueKind::Text; x.s = std::move(v); return x; }
    static Value DateTime(TDateTime v) { Value x; x.kind = ValueKind::DateTime; x.f = v; return x; }
    static Value Blob(std::string v) { Value x; x.kind = ValueKind::Blob; x.s = std::move(v); return x; }

    bool IsNull() const { return kind == ValueKind::Null; }
};

using TVariant = Value;

// The value as the facade shows it as text: empty for NULL, dates in the short regional form.
std::string ValueText(const Value& v);
// The value as a whole number: integers, rounded floats and dates, texts that hold one (blanks and a '+'
// allowed); false for anything else.
bool ValueToInt64(const Value& v, int64_t& out);

} // namespace velmora::db
