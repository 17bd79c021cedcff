// Values crossing the database boundary: their text and their whole-number reading.
#include "db/DbValue.h"

#include <cmath>

#include "platform/Regional.h"
#include "platform/Text.h"

namespace velmora::db {

std::string ValueText(const Value& v) {
    switch (v.kind) {
    case ValueKind::Null: return {};
    case ValueKind::Integer: return std::to_string(v.i);
    case ValueKind::Text:
    case ValueKind::Blob: return v.s;
    case ValueKind::DateTime: return platform::FormatDateTimeShort(v.f);
    case ValueKind::Float: return platform::FormatFloatGeneral(v.f);
    }
    return {};
}

bool ValueToInt64(const Value& v, int64_t& out) {
    switch (v.kind) {
    case ValueKind::Integer: out = v.i; return true;
    case ValueKind::Float:
    case ValueKind::DateTime:
        if (!std::isfinite(v.f)) return false;
        out = static_cast<int64_t>(std::llround(v.f));
        return true;
    case ValueKind::Text: return platform::ParseWhole(platform::TrimView(v.s), out, true);
    default: return false;
    }
}

} // namespace velmora::db
