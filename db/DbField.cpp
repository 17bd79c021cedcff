// TField: typed reads and writes of one column of a query's current row.
#include "db/DbConnection.h"

#include <limits>

#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Regional.h"
#include "xml/XmlEncoding.h"

namespace velmora::db {

Value TField::Current() const { return query_->CellAt(index_); }

const std::string& TField::FieldName() const { return query_->result_.columns[index_].name; }

bool TField::IsNull() const { return Current().IsNull(); }

std::string TField::AsString() const {
    const Value& v = Current();
    if (v.kind == ValueKind::Float && query_->result_.columns[index_].declared == ValueKind::DateTime)
        return platform::FormatDateTimeShort(v.f);
    return ValueText(v);
}

int32_t TField::AsInteger() const {
    const Value& v = Current();
    if (v.IsNull()) return 0;
    int64_t n = 0;
    if (!ValueToInt64(v, n))
        throw EConvertError("'" + ValueText(v) + "' is not a valid integer value for field '" + FieldName() + "'");
    if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max())
        throw EConvertError("Value " + std::to_string(n) + " of field '" + FieldName() + "' is out of the integer range");
    return static_cast<int32_t>(n);
}

Currency TField::AsCurrency() const {
    const Value& v = Current();
    switch (v.kind) {
    case ValueKind::Null: return {};
    case ValueKind::Integer: return Currency::FromInteger(v.i);
    case ValueKind::Float:
    case ValueKind::DateTime: return Currency::FromDouble(v.f);
    case ValueKind::Text: {
        Currency c;
        if (Currency::TryParse(v.s, c)) return c;
        break;
    }
    case ValueKind::Blob: break;
    }
    throw EConvertError("'" + ValueText(v) + "' is not a valid money value for field '" + FieldName() + "'");
}

TDateTime TField::AsDateTime() const {
    const Value& v = Current();
    switch (v.kind) {
    case ValueKind::Null: return 0.0;
    case ValueKind::DateTime:
    case ValueKind::Float: return v.f;
    case ValueKind::Integer: return static_cast<double>(v.i);
    case ValueKind::Text: {
        TDateTime d = 0;
        if (TryParseIsoDateTime(v.s, d)) return d;
        break;
    }
    case ValueKind::Blob: break;
    }
    throw EConvertError("'" + ValueText(v) + "' is not a valid date and time for field '" + FieldName() + "'");
}

Value TField::AsVariant() const {
    Value v = Current();
    if (v.kind == ValueKind::Float && query_->result_.columns[index_].declared == ValueKind::DateTime)
        v.kind = ValueKind::DateTime;
    return v;
}

void TField::SetValue(const Value& v) { query_->WriteCell(index_, v); }
void TField::Clear() { query_->WriteCell(index_, Value::Null()); }

void TField::SaveToFile(const std::string& path) const {
    const Value& v = Current();
    if (v.kind != ValueKind::Blob && v.kind != ValueKind::Text && v.kind != ValueKind::Null)
        throw EDatabaseError("Field '" + FieldName() + "' is not a large-object field");
    // A text column holds the characters, not the bytes: they are written in the encoding the
    // document's own declaration names, so a reader decodes them as they were stored.
    platform::WriteFileReplacing(path, v.kind == ValueKind::Text ? xml::EncodeAsDeclared(v.s) : v.s);
}

} // namespace velmora::db
