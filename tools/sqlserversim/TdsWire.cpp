// TDS 7.4 encoding for the SQL Server simulator: answer tokens, packets, login and RPC decoding.
#include "tools/sqlserversim/TdsWire.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/CodePage.h"
#include "platform/DateTime.h"

namespace velmora::sqlsim::tds {

namespace {

// Token bytes.
constexpr uint8_t kTokenColMetadata = 0x81;
constexpr uint8_t kTokenError = 0xAA;
constexpr uint8_t kTokenInfo = 0xAB;
constexpr uint8_t kTokenReturnValue = 0xAC;
constexpr uint8_t kTokenLoginAck = 0xAD;
constexpr uint8_t kTokenRow = 0xD1;
constexpr uint8_t kTokenEnvChange = 0xE3;
constexpr uint8_t kTokenReturnStatus = 0x79;

// Wire types.
constexpr uint8_t kNull = 0x1F;
constexpr uint8_t kInt1 = 0x30, kBit = 0x32, kInt2 = 0x34, kInt4 = 0x38, kDateTim4 = 0x3A, kFlt4 = 0x3B, kMoney = 0x3C,
                  kDateTime = 0x3D, kFlt8 = 0x3E, kMoney4 = 0x7A, kInt8 = 0x7F;
constexpr uint8_t kGuid = 0x24, kIntN = 0x26, kDecimal = 0x37, kNumeric = 0x3F, kBitN = 0x68, kDecimalN = 0x6A,
                  kNumericN = 0x6C, kFltN = 0x6D, kMoneyN = 0x6E, kDateTimN = 0x6F;
constexpr uint8_t kDateN = 0x28, kTimeN = 0x29, kDateTime2N = 0x2A, kDateTimeOffsetN = 0x2B;
constexpr uint8_t kChar = 0x2F, kVarChar = 0x27, kBinary = 0x2D, kVarBinary = 0x25;
constexpr uint8_t kBigVarBin = 0xA5, kBigVarChr = 0xA7, kBigBinary = 0xAD, kBigChar = 0xAF, kNVarChar = 0xE7,
                  kNChar = 0xEF, kXml = 0xF1;
constexpr uint8_t kText = 0x23, kImage = 0x22, kNText = 0x63;

constexpr uint64_t kPlpNull = 0xFFFFFFFFFFFFFFFFull;
constexpr uint64_t kPlpUnknownLength = 0xFFFFFFFFFFFFFFFEull;

// The day number of 1 January 0001 in our day count.
constexpr int64_t kDayOfYearOne = -693593;
// SQL Server's datetime day 0 (1 January 1900) in our day count.
constexpr int64_t kDayOf1900 = 2;

// Bounded reading of a received message.
class Reader {
public:
    Reader(const std::string& data, size_t pos) : d_(data), pos_(pos) {}
    bool AtEnd() const { return pos_ >= d_.size(); }
    size_t Pos() const { return pos_; }
    uint8_t Peek() const {
        Need(1);
        return static_cast<uint8_t>(d_[pos_]);
    }
    uint8_t U8() {
        Need(1);
        return static_cast<uint8_t>(d_[pos_++]);
    }
    uint16_t U16() {
        uint16_t a = U8();
        return static_cast<uint16_t>(a | (U8() << 8));
    }
    uint32_t U32() {
        uint32_t a = U16();
        return a | (static_cast<uint32_t>(U16()) << 16);
    }
    uint64_t U64() {
        uint64_t a = U32();
        return a | (static_cast<uint64_t>(U32()) << 32);
    }
    uint64_t UIntN(size_t n) {
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(U8()) << (8 * i);
        return v;
    }
    std::string Bytes(size_t n) {
        Need(n);
        std::string s = d_.substr(pos_, n);
        pos_ += n;
        return s;
    }
    std::string BVarChar() { return FromUtf16le(Chars(U8())); }
    std::string UsVarChar() { return FromUtf16le(Chars(U16())); }

private:
    const char* Chars(size_t count) {
        Need(count * 2);
        const char* p = d_.data() + pos_;
        pos_ += count * 2;
        last_ = count * 2;
        return p;
    }
    std::string FromUtf16le(const char* p) const { return tds::FromUtf16le(p, last_); }
    void Need(size_t n) const {
        if (n > d_.size() || pos_ > d_.size() - n) throw ProtocolError("request ends early");
    }
    const std::string& d_;
    size_t pos_;
    size_t last_ = 0;
};

std::string FormatNumber(double f) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", f);
    return buf;
}

std::string AsText(const db::Value& v) {
    switch (v.kind) {
    case db::ValueKind::Integer: return std::to_string(v.i);
    case db::ValueKind::Float: return FormatNumber(v.f);
    case db::ValueKind::DateTime: return FormatIsoDateTime(v.f);
    case db::ValueKind::Text:
    case db::ValueKind::Blob: return v.s;
    case db::ValueKind::Null: return {};
    }
    return {};
}

int64_t AsInteger(const db::Value& v) {
    switch (v.kind) {
    case db::ValueKind::Integer: return v.i;
    case db::ValueKind::Float:
    case db::ValueKind::DateTime: return static_cast<int64_t>(std::llround(v.f));
    case db::ValueKind::Text: return std::strtoll(v.s.c_str(), nullptr, 10);
    default: return 0;
    }
}

double AsDouble(const db::Value& v) {
    switch (v.kind) {
    case db::ValueKind::Integer: return static_cast<double>(v.i);
    case db::ValueKind::Float:
    case db::ValueKind::DateTime: return v.f;
    case db::ValueKind::Text: return std::strtod(v.s.c_str(), nullptr);
    default: return 0;
    }
}

// A day number and milliseconds of the day, from our day count (negative days keep a positive time).
void SplitDateTime(double t, int64_t& day, int64_t& ms) {
    DateTimeParts p = DecodeDateTime(t);
    day = static_cast<int64_t>(EncodeDate(p.year, p.month, p.day));
    ms = ((static_cast<int64_t>(p.hour) * 60 + p.minute) * 60 + p.second) * 1000 + p.millisecond;
}

double JoinDateTime(int64_t day, double msOfDay) {
    double frac = msOfDay / 86400000.0;
    return day >= 0 ? static_cast<double>(day) + frac : static_cast<double>(day) - frac;
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

} // namespace

std::string FromUtf16le(const char* p, size_t bytes) {
    std::u16string w(bytes / 2, u'\0');
    for (size_t i = 0; i < w.size(); ++i)
        w[i] = static_cast<char16_t>(static_cast<uint8_t>(p[2 * i]) | (static_cast<uint8_t>(p[2 * i + 1]) << 8));
    return platform::Utf16ToUtf8(w);
}

std::string ToUtf16le(const std::string& utf8) {
    std::u16string w = platform::Utf8ToUtf16(utf8);
    std::string out;
    out.reserve(w.size() * 2);
    for (char16_t c : w) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

std::string TurkishCollation() {
    // LCID 0x041F (Turkish), case-insensitive, kana- and width-insensitive; sort id 0.
    return std::string("\x1F\x04\xD0\x00\x00", 5);
}

void Writer::U16(uint16_t v) {
    Byte(static_cast<uint8_t>(v));
    Byte(static_cast<uint8_t>(v >> 8));
}
void Writer::U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
}
void Writer::U64(uint64_t v) {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
}
void Writer::BVarChar(const std::string& utf8) {
    std::string w = ToUtf16le(utf8);
    if (w.size() / 2 > 255) w.resize(510);
    Byte(static_cast<uint8_t>(w.size() / 2));
    out_ += w;
}
void Writer::UsVarChar(const std::string& utf8) {
    std::string w = ToUtf16le(utf8);
    if (w.size() / 2 > 65535) w.resize(2 * 65535);
    U16(static_cast<uint16_t>(w.size() / 2));
    out_ += w;
}

void Writer::EnvChange(uint8_t type, const std::string& newValue, const std::string& oldValue) {
    Writer body;
    body.Byte(type);
    body.BVarChar(newValue);
    body.BVarChar(oldValue);
    Byte(kTokenEnvChange);
    U16(static_cast<uint16_t>(body.Size()));
    Raw(body.Bytes());
}

void Writer::EnvChangeCollation(const std::string& collation) {
    Byte(kTokenEnvChange);
    U16(static_cast<uint16_t>(1 + 1 + collation.size() + 1));
    Byte(7);  // SQL collation
    Byte(static_cast<uint8_t>(collation.size()));
    Raw(collation);
    Byte(0);
}

void Writer::Message(uint8_t token, int number, int state, int severity, const std::string& message,
                     const std::string& server) {
    Writer body;
    body.U32(static_cast<uint32_t>(number));
    body.Byte(static_cast<uint8_t>(state));
    body.Byte(static_cast<uint8_t>(severity));
    body.UsVarChar(message);
    body.BVarChar(server);
    body.BVarChar("");  // procedure
    body.U32(1);        // line
    Byte(token);
    U16(static_cast<uint16_t>(body.Size()));
    Raw(body.Bytes());
}

void Writer::Info(int number, int state, int severity, const std::string& message, const std::string& server) {
    Message(kTokenInfo, number, state, severity, message, server);
}

void Writer::Error(int number, int state, int severity, const std::string& message, const std::string& server) {
    Message(kTokenError, number, state, severity, message, server);
}

void Writer::LoginAck(const std::string& programName) {
    Writer body;
    body.Byte(1);  // T-SQL
    body.Raw(std::string("\x74\x00\x00\x04", 4));  // TDS 7.4
    body.BVarChar(programName);
    body.Raw(std::string("\x10\x00\x07\xD0", 4));  // 16.0.2000
    Byte(kTokenLoginAck);
    U16(static_cast<uint16_t>(body.Size()));
    Raw(body.Bytes());
}

void Writer::Done(uint8_t token, uint16_t status, uint16_t command, uint64_t rows) {
    Byte(token);
    U16(status);
    U16(command);
    U64(rows);
}

void Writer::TypeInfo(const Column& c) {
    switch (c.type) {
    case ColumnType::Int: Byte(kIntN); Byte(4); break;
    case ColumnType::BigInt: Byte(kIntN); Byte(8); break;
    case ColumnType::Float: Byte(kFltN); Byte(8); break;
    case ColumnType::Numeric38: Byte(kNumericN); Byte(17); Byte(38); Byte(0); break;
    case ColumnType::DateTime: Byte(kDateTimN); Byte(8); break;
    case ColumnType::VarChar: Byte(kBigVarChr); U16(8000); Raw(TurkishCollation()); break;
    case ColumnType::VarCharMax: Byte(kBigVarChr); U16(0xFFFF); Raw(TurkishCollation()); break;
    case ColumnType::NVarChar: Byte(kNVarChar); U16(8000); Raw(TurkishCollation()); break;
    case ColumnType::NVarCharMax: Byte(kNVarChar); U16(0xFFFF); Raw(TurkishCollation()); break;
    case ColumnType::VarBinary: Byte(kBigVarBin); U16(8000); break;
    case ColumnType::VarBinaryMax: Byte(kBigVarBin); U16(0xFFFF); break;
    }
}

void Writer::ColMetadata(const std::vector<Column>& columns) {
    Byte(kTokenColMetadata);
    U16(static_cast<uint16_t>(columns.size()));
    for (const Column& c : columns) {
        U32(0);       // user type
        U16(0x0009);  // nullable, updatability unknown
        TypeInfo(c);
        BVarChar(c.name);
    }
}

void Writer::Cell(ColumnType type, const db::Value& v) {
    const bool null = v.IsNull();
    switch (type) {
    case ColumnType::Int:
    case ColumnType::BigInt: {
        if (null) { Byte(0); break; }
        int64_t x = AsInteger(v);
        if (type == ColumnType::Int) { Byte(4); U32(static_cast<uint32_t>(static_cast<int32_t>(x))); }
        else { Byte(8); U64(static_cast<uint64_t>(x)); }
        break;
    }
    case ColumnType::Float: {
        if (null) { Byte(0); break; }
        double d = AsDouble(v);
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        Byte(8);
        U64(bits);
        break;
    }
    case ColumnType::Numeric38: {
        if (null) { Byte(0); break; }
        int64_t x = AsInteger(v);
        Byte(17);
        Byte(x < 0 ? 0 : 1);
        U64(x < 0 ? 0 - static_cast<uint64_t>(x) : static_cast<uint64_t>(x));  // also for the least int64
        U64(0);
        break;
    }
    case ColumnType::DateTime: {
        if (null) { Byte(0); break; }
        int64_t day = 0, ms = 0;
        SplitDateTime(AsDouble(v), day, ms);
        int64_t ticks = (ms * 3 + 5) / 10;  // 1/300 s
        if (ticks >= 25920000) { ++day; ticks = 0; }
        Byte(8);
        U32(static_cast<uint32_t>(static_cast<int32_t>(day - kDayOf1900)));
        U32(static_cast<uint32_t>(ticks));
        break;
    }
    case ColumnType::VarChar:
    case ColumnType::NVarChar:
    case ColumnType::VarBinary: {
        if (null) { U16(0xFFFF); break; }
        std::string bytes = type == ColumnType::NVarChar ? ToUtf16le(AsText(v))
                            : type == ColumnType::VarChar ? platform::Utf8ToAnsi(AsText(v)) : AsText(v);
        U16(static_cast<uint16_t>(bytes.size()));
        Raw(bytes);
        break;
    }
    case ColumnType::VarCharMax:
    case ColumnType::NVarCharMax:
    case ColumnType::VarBinaryMax: {
        if (null) { U64(kPlpNull); break; }
        std::string bytes = type == ColumnType::NVarCharMax ? ToUtf16le(AsText(v))
                            : type == ColumnType::VarCharMax ? platform::Utf8ToAnsi(AsText(v)) : AsText(v);
        U64(bytes.size());
        const size_t kChunk = 8000;
        for (size_t at = 0; at < bytes.size(); at += kChunk) {
            size_t n = std::min(kChunk, bytes.size() - at);
            U32(static_cast<uint32_t>(n));
            Raw(bytes.substr(at, n));
        }
        U32(0);
        break;
    }
    }
}

void Writer::Row(const std::vector<Column>& columns, const std::vector<db::Value>& values) {
    Byte(kTokenRow);
    for (size_t i = 0; i < columns.size(); ++i) Cell(columns[i].type, i < values.size() ? values[i] : db::Value::Null());
}

void Writer::ReturnStatus(int32_t status) {
    Byte(kTokenReturnStatus);
    U32(static_cast<uint32_t>(status));
}

void Writer::ReturnValue(uint16_t ordinal, const std::string& name, const Column& type, const db::Value& value) {
    Byte(kTokenReturnValue);
    U16(ordinal);
    BVarChar(name);
    Byte(0x01);  // output parameter
    U32(0);
    U16(0x0001);
    TypeInfo(type);
    Cell(type.type, value);
}

std::string Packetize(uint8_t type, const std::string& payload, size_t packetSize) {
    if (packetSize < 512) packetSize = 512;
    const size_t room = packetSize - kHeaderSize;
    std::string out;
    size_t at = 0;
    uint8_t id = 1;
    do {
        size_t n = std::min(room, payload.size() - at);
        bool last = at + n >= payload.size();
        size_t len = n + kHeaderSize;
        out.push_back(static_cast<char>(type));
        out.push_back(static_cast<char>(last ? kStatusEndOfMessage : 0));
        out.push_back(static_cast<char>(len >> 8));
        out.push_back(static_cast<char>(len & 0xFF));
        out.push_back(0);
        out.push_back(0);
        out.push_back(static_cast<char>(id++));
        out.push_back(0);
        out.append(payload, at, n);
        at += n;
    } while (at < payload.size());
    return out;
}

std::string PreLoginAnswer() {
    // VERSION, ENCRYPTION (not supported), INSTOPT, THREADID (empty), MARS (off), terminator.
    const uint8_t kOptions[][2] = {{0, 6}, {1, 1}, {2, 1}, {3, 0}, {4, 1}};
    const size_t count = sizeof kOptions / sizeof kOptions[0];
    std::string head, data;
    size_t offset = count * 5 + 1;
    for (const auto& o : kOptions) {
        head.push_back(static_cast<char>(o[0]));
        head.push_back(static_cast<char>((offset + data.size()) >> 8));
        head.push_back(static_cast<char>((offset + data.size()) & 0xFF));
        head.push_back(0);
        head.push_back(static_cast<char>(o[1]));
        switch (o[0]) {
        case 0: data += std::string("\x10\x00\x07\xD0\x00\x00", 6); break;
        case 1: data.push_back(2); break;  // ENCRYPT_NOT_SUP
        case 2: data.push_back(0); break;
        case 4: data.push_back(0); break;
        default: break;
        }
    }
    head.push_back(static_cast<char>(0xFF));
    return head + data;
}

Login ParseLogin7(const std::string& payload) {
    if (payload.size() < 94) throw ProtocolError("login record too short");
    Reader r(payload, 0);
    Login login;
    r.U32();  // length
    login.tdsVersion = r.U32();
    login.packetSize = r.U32();
    auto field = [&](size_t at, bool password) {
        Reader h(payload, at);
        size_t offset = h.U16(), chars = h.U16();
        if (offset + chars * 2 > payload.size()) throw ProtocolError("login field out of range");
        std::string bytes = payload.substr(offset, chars * 2);
        if (password)
            for (char& c : bytes) {
                uint8_t b = static_cast<uint8_t>(c) ^ 0xA5;
                c = static_cast<char>(((b << 4) | (b >> 4)) & 0xFF);
            }
        return FromUtf16le(bytes.data(), bytes.size());
    };
    login.host = field(36, false);
    login.user = field(40, false);
    login.password = field(44, true);
    login.app = field(48, false);
    login.server = field(52, false);
    login.library = field(60, false);
    login.language = field(64, false);
    login.database = field(68, false);
    return login;
}

size_t SkipAllHeaders(const std::string& payload) {
    if (payload.size() < 4) return 0;
    Reader r(payload, 0);
    uint32_t total = r.U32();
    // Before TDS 7.2 there are no headers: the text starts at once. A total that does not fit is text.
    if (total < 4 || total > payload.size() || total > 1024) return 0;
    return total;
}

std::string BatchText(const std::string& payload) {
    size_t at = SkipAllHeaders(payload);
    return FromUtf16le(payload.data() + at, (payload.size() - at) & ~size_t(1));
}

namespace {

std::string Sized(const char* base, uint64_t n) { return std::string(base) + "(" + (n == 0xFFFF ? std::string("max") : std::to_string(n)) + ")"; }

// Reads one TYPE_INFO and its value.
void ReadTypedValue(Reader& r, Param& p) {
    uint8_t t = r.U8();
    p.typeByte = t;
    auto fixed = [&](size_t n, const char* name) -> uint64_t {
        p.typeName = name;
        return r.UIntN(n);
    };
    switch (t) {
    case kNull: p.typeName = "null"; p.value = db::Value::Null(); return;
    case kInt1: p.value = db::Value::Integer(static_cast<int64_t>(fixed(1, "tinyint"))); return;
    case kBit: p.value = db::Value::Integer(static_cast<int64_t>(fixed(1, "bit"))); return;
    case kInt2: p.value = db::Value::Integer(static_cast<int16_t>(fixed(2, "smallint"))); return;
    case kInt4: p.value = db::Value::Integer(static_cast<int32_t>(fixed(4, "int"))); return;
    case kInt8: p.value = db::Value::Integer(static_cast<int64_t>(fixed(8, "bigint"))); return;
    default: break;
    }

    auto readInt = [&](size_t len) -> db::Value {
        uint64_t v = r.UIntN(len);
        switch (len) {
        case 1: return db::Value::Integer(static_cast<int64_t>(v));
        case 2: return db::Value::Integer(static_cast<int16_t>(v));
        case 4: return db::Value::Integer(static_cast<int32_t>(v));
        default: return db::Value::Integer(static_cast<int64_t>(v));
        }
    };
    auto readFloat = [&](size_t len) -> db::Value {
        if (len == 4) {
            uint32_t bits = static_cast<uint32_t>(r.UIntN(4));
            float f;
            std::memcpy(&f, &bits, 4);
            return db::Value::Float(f);
        }
        uint64_t bits = r.UIntN(8);
        double d;
        std::memcpy(&d, &bits, 8);
        return db::Value::Float(d);
    };
    auto readMoney = [&](size_t len) -> db::Value {
        if (len == 4) return db::Value::Float(static_cast<int32_t>(r.UIntN(4)) / 10000.0);
        uint64_t hi = r.UIntN(4), lo = r.UIntN(4);
        int64_t units = static_cast<int64_t>((hi << 32) | lo);
        return db::Value::Float(static_cast<double>(units) / 10000.0);
    };
    auto readDateTime = [&](size_t len) -> db::Value {
        if (len == 4) {
            uint64_t days = r.UIntN(2), minutes = r.UIntN(2);
            return db::Value::DateTime(JoinDateTime(static_cast<int64_t>(days) + kDayOf1900, minutes * 60000.0));
        }
        int32_t days = static_cast<int32_t>(r.UIntN(4));
        uint32_t ticks = static_cast<uint32_t>(r.UIntN(4));
        double ms = std::floor(ticks * 10.0 / 3.0 + 0.5);
        return db::Value::DateTime(JoinDateTime(days + kDayOf1900, ms));
    };
    auto timeMs = [&](size_t bytes, int scale) -> double {
        uint64_t v = r.UIntN(bytes);
        double units = static_cast<double>(v);
        for (int i = scale; i < 7; ++i) units *= 10;  // to 100 ns
        return std::floor(units / 10000.0);          // milliseconds, cut as the driver does
    };

    switch (t) {
    case kIntN:
    case kBitN:
    case kFltN:
    case kMoneyN:
    case kDateTimN: {
        uint8_t maxLen = r.U8();
        static const char* ints[] = {"", "tinyint", "smallint", "", "int", "", "", "", "bigint"};
        if (t == kIntN) p.typeName = maxLen <= 8 ? ints[maxLen] : "int";
        else if (t == kBitN) p.typeName = "bit";
        else if (t == kFltN) p.typeName = maxLen == 4 ? "real" : "float";
        else if (t == kMoneyN) p.typeName = maxLen == 4 ? "smallmoney" : "money";
        else p.typeName = maxLen == 4 ? "smalldatetime" : "datetime";
        uint8_t len = r.U8();
        if (len == 0) { p.value = db::Value::Null(); return; }
        if (t == kIntN || t == kBitN) p.value = readInt(len);
        else if (t == kFltN) p.value = readFloat(len);
        else if (t == kMoneyN) p.value = readMoney(len);
        else p.value = readDateTime(len);
        return;
    }
    case kFlt4: p.typeName = "real"; p.value = readFloat(4); return;
    case kFlt8: p.typeName = "float"; p.value = readFloat(8); return;
    case kMoney: p.typeName = "money"; p.value = readMoney(8); return;
    case kMoney4: p.typeName = "smallmoney"; p.value = readMoney(4); return;
    case kDateTime: p.typeName = "datetime"; p.value = readDateTime(8); return;
    case kDateTim4: p.typeName = "smalldatetime"; p.value = readDateTime(4); return;
    case kDecimalN:
    case kNumericN:
    case kDecimal:
    case kNumeric: {
        r.U8();  // maximum length
        int precision = r.U8(), scale = r.U8();
        p.typeName = std::string(t == kDecimalN || t == kDecimal ? "decimal" : "numeric") + "(" + std::to_string(precision) +
                     "," + std::to_string(scale) + ")";
        uint8_t len = r.U8();
        if (len == 0) { p.value = db::Value::Null(); return; }
        uint8_t sign = r.U8();
        std::string mag = r.Bytes(len - 1u);
        long double v = 0;
        for (size_t i = mag.size(); i-- > 0;) v = v * 256 + static_cast<uint8_t>(mag[i]);
        for (int i = 0; i < scale; ++i) v /= 10;
        p.value = db::Value::Float(static_cast<double>(sign ? v : -v));
        return;
    }
    case kGuid: {
        r.U8();
        p.typeName = "uniqueidentifier";
        uint8_t len = r.U8();
        p.value = len == 0 ? db::Value::Null() : db::Value::Text(Hex(r.Bytes(len)));
        return;
    }
    case kDateN: {
        p.typeName = "date";
        uint8_t len = r.U8();
        if (len == 0) { p.value = db::Value::Null(); return; }
        p.value = db::Value::DateTime(static_cast<double>(static_cast<int64_t>(r.UIntN(3)) + kDayOfYearOne));
        return;
    }
    case kTimeN:
    case kDateTime2N:
    case kDateTimeOffsetN: {
        int scale = r.U8();
        p.typeName = std::string(t == kTimeN ? "time" : t == kDateTime2N ? "datetime2" : "datetimeoffset") + "(" +
                     std::to_string(scale) + ")";
        uint8_t len = r.U8();
        if (len == 0) { p.value = db::Value::Null(); return; }
        size_t timeBytes = scale <= 2 ? 3 : scale <= 4 ? 4 : 5;
        double ms = timeMs(timeBytes, scale);
        if (t == kTimeN) { p.value = db::Value::DateTime(ms / 86400000.0); return; }
        int64_t day = static_cast<int64_t>(r.UIntN(3)) + kDayOfYearOne;
        if (t == kDateTimeOffsetN) {
            int16_t offset = static_cast<int16_t>(r.UIntN(2));  // the value is in UTC; shown in its own zone
            ms += offset * 60000.0;
            while (ms < 0) { ms += 86400000.0; --day; }
            while (ms >= 86400000.0) { ms -= 86400000.0; ++day; }
        }
        p.value = db::Value::DateTime(JoinDateTime(day, ms));
        return;
    }
    case kBigVarChr:
    case kBigChar:
    case kNVarChar:
    case kNChar:
    case kBigVarBin:
    case kBigBinary:
    case kChar:
    case kVarChar:
    case kBinary:
    case kVarBinary: {
        const bool shortLen = t == kChar || t == kVarChar || t == kBinary || t == kVarBinary;
        uint32_t maxLen = shortLen ? r.U8() : r.U16();
        const bool text = t != kBigVarBin && t != kBigBinary && t != kBinary && t != kVarBinary;
        const bool unicode = t == kNVarChar || t == kNChar;
        if (text) r.Bytes(5);  // collation
        const char* base = t == kBigVarChr || t == kVarChar ? "varchar" : t == kBigChar || t == kChar ? "char"
                           : t == kNVarChar ? "nvarchar" : t == kNChar ? "nchar" : t == kBigBinary || t == kBinary ? "binary"
                                                                                                    : "varbinary";
        p.typeName = Sized(base, unicode && maxLen != 0xFFFF ? maxLen / 2 : maxLen);
        std::string bytes;
        bool isNull = false;
        if (maxLen == 0xFFFF && !shortLen) {
            uint64_t total = r.U64();
            if (total == kPlpNull) isNull = true;
            else {
                (void)kPlpUnknownLength;
                for (;;) {
                    uint32_t n = r.U32();
                    if (n == 0) break;
                    bytes += r.Bytes(n);
                }
            }
        } else {
            uint32_t len = shortLen ? r.U8() : r.U16();
            if (len == (shortLen ? 0xFFu : 0xFFFFu)) isNull = true;
            else bytes = r.Bytes(len);
        }
        if (isNull) p.value = db::Value::Null();
        else if (unicode) p.value = db::Value::Text(FromUtf16le(bytes.data(), bytes.size() & ~size_t(1)));
        else if (text) p.value = db::Value::Text(platform::AnsiToUtf8(bytes));  // the Turkish code page
        else p.value = db::Value::Blob(bytes);
        return;
    }
    case kText:
    case kNText:
    case kImage: {
        r.U32();  // maximum length
        if (t != kImage) r.Bytes(5);
        p.typeName = t == kText ? "text" : t == kNText ? "ntext" : "image";
        uint32_t len = r.U32();
        if (len == 0xFFFFFFFFu) { p.value = db::Value::Null(); return; }
        std::string bytes = r.Bytes(len);
        if (t == kNText) p.value = db::Value::Text(FromUtf16le(bytes.data(), bytes.size() & ~size_t(1)));
        else if (t == kText) p.value = db::Value::Text(platform::AnsiToUtf8(bytes));
        else p.value = db::Value::Blob(bytes);
        return;
    }
    case kXml: {
        p.typeName = "xml";
        if (r.U8()) {  // schema
            r.BVarChar();
            r.BVarChar();
            r.UsVarChar();
        }
        uint64_t total = r.U64();
        if (total == kPlpNull) { p.value = db::Value::Null(); return; }
        std::string bytes;
        for (;;) {
            uint32_t n = r.U32();
            if (n == 0) break;
            bytes += r.Bytes(n);
        }
        p.value = db::Value::Text(FromUtf16le(bytes.data(), bytes.size() & ~size_t(1)));
        return;
    }
    default: throw ProtocolError("parameter of unsupported type 0x" + Hex(std::string(1, static_cast<char>(t))));
    }
}

} // namespace

std::vector<RpcCall> ParseRpc(const std::string& payload) {
    static const char* kProcNames[] = {"",           "sp_cursor",       "sp_cursoropen",  "sp_cursorprepare",
                                       "sp_cursorexecute", "sp_cursorprepexec", "sp_cursorunprepare", "sp_cursorfetch",
                                       "sp_cursoroption",  "sp_cursorclose", "sp_executesql",  "sp_prepare",
                                       "sp_execute",       "sp_prepexec",    "sp_prepexecrpc", "sp_unprepare"};
    Reader r(payload, SkipAllHeaders(payload));
    std::vector<RpcCall> calls;
    while (!r.AtEnd()) {
        RpcCall call;
        uint16_t nameLen = r.U16();
        if (nameLen == 0xFFFF) {
            uint16_t id = r.U16();
            call.name = id < sizeof kProcNames / sizeof kProcNames[0] ? kProcNames[id] : "proc#" + std::to_string(id);
        } else {
            call.name = FromUtf16le(r.Bytes(nameLen * 2u).data(), nameLen * 2u);
        }
        r.U16();  // option flags
        while (!r.AtEnd()) {
            uint8_t next = r.Peek();
            if (next == 0x80 || next == 0xFF || next == 0xFE) {  // another call follows
                r.U8();
                break;
            }
            Param p;
            p.name = r.BVarChar();
            p.output = (r.U8() & 0x01) != 0;
            ReadTypedValue(r, p);
            call.params.push_back(std::move(p));
        }
        calls.push_back(std::move(call));
    }
    return calls;
}

} // namespace velmora::sqlsim::tds
