// Compact storage of result rows.
#include "db/ResultRows.h"

#include <cstring>

#include "platform/Error.h"

namespace velmora::db {

namespace {

constexpr size_t kBlockSize = 64 * 1024;
constexpr size_t kOwnBlockFrom = 8 * 1024;  // longer rows get a block of their own

// A value's tag; integers take the fewest bytes that hold them.
enum Tag : uint8_t { kNull, kInt8, kInt16, kInt32, kInt64, kFloat, kDateTime, kText, kBlob };

template <class T>
void Put(std::vector<uint8_t>& out, T v) {
    uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &v, sizeof(T));
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

template <class T>
T Get(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof(T));
    return v;
}

void PutLength(std::vector<uint8_t>& out, uint64_t n) {
    while (n >= 0x80) {
        out.push_back(static_cast<uint8_t>(n | 0x80));
        n >>= 7;
    }
    out.push_back(static_cast<uint8_t>(n));
}

const uint8_t* GetLength(const uint8_t* p, uint64_t& n) {
    n = 0;
    for (int shift = 0;; shift += 7) {
        const uint8_t b = *p++;
        n |= static_cast<uint64_t>(b & 0x7F) << shift;
        if (!(b & 0x80)) return p;
    }
}

void PutValue(std::vector<uint8_t>& out, const Value& v) {
    switch (v.kind) {
    case ValueKind::Null: out.push_back(kNull); break;
    case ValueKind::Integer:
        if (v.i >= INT8_MIN && v.i <= INT8_MAX) { out.push_back(kInt8); Put(out, static_cast<int8_t>(v.i)); }
        else if (v.i >= INT16_MIN && v.i <= INT16_MAX) { out.push_back(kInt16); Put(out, static_cast<int16_t>(v.i)); }
        else if (v.i >= INT32_MIN && v.i <= INT32_MAX) { out.push_back(kInt32); Put(out, static_cast<int32_t>(v.i)); }
        else { out.push_back(kInt64); Put(out, v.i); }
        break;
    case ValueKind::Float: out.push_back(kFloat); Put(out, v.f); break;
    case ValueKind::DateTime: out.push_back(kDateTime); Put(out, v.f); break;
    case ValueKind::Text:
    case ValueKind::Blob:
        if (v.s.size() > UINT32_MAX) throw EDatabaseError("A value of more than 4 GB cannot be held");
        out.push_back(v.kind == ValueKind::Text ? kText : kBlob);
        PutLength(out, v.s.size());
        out.insert(out.end(), v.s.begin(), v.s.end());
        break;
    }
}

// The value at p; next is set past it.
Value GetValue(const uint8_t* p, const uint8_t** next) {
    Value v;
    const uint8_t tag = *p++;
    switch (tag) {
    case kNull: break;
    case kInt8: v.kind = ValueKind::Integer; v.i = Get<int8_t>(p); p += 1; break;
    case kInt16: v.kind = ValueKind::Integer; v.i = Get<int16_t>(p); p += 2; break;
    case kInt32: v.kind = ValueKind::Integer; v.i = Get<int32_t>(p); p += 4; break;
    case kInt64: v.kind = ValueKind::Integer; v.i = Get<int64_t>(p); p += 8; break;
    case kFloat: v.kind = ValueKind::Float; v.f = Get<double>(p); p += 8; break;
    case kDateTime: v.kind = ValueKind::DateTime; v.f = Get<double>(p); p += 8; break;
    default: {
        v.kind = tag == kText ? ValueKind::Text : ValueKind::Blob;
        uint64_t n = 0;
        p = GetLength(p, n);
        v.s.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
        p += n;
    }
    }
    *next = p;
    return v;
}

// Past the value at p, without reading it.
const uint8_t* Skip(const uint8_t* p) {
    switch (*p++) {
    case kNull: return p;
    case kInt8: return p + 1;
    case kInt16: return p + 2;
    case kInt32: return p + 4;
    case kInt64:
    case kFloat:
    case kDateTime: return p + 8;
    default: {
        uint64_t n = 0;
        p = GetLength(p, n);
        return p + n;
    }
    }
}

} // namespace

ResultRows::ResultRows(const ResultRows& other) { *this = other; }

ResultRows& ResultRows::operator=(const ResultRows& other) {
    if (this == &other) return *this;
    clear();
    reserve(other.count_);
    for (size_t r = 0; r < other.count_; ++r) push_back(other.ValuesOf(r));
    return *this;
}

void ResultRows::clear() {
    width_ = 0;
    count_ = 0;
    rowBlocks_.clear();
    blocks_.clear();
    blockFree_ = 0;
}

void ResultRows::reserve(size_t rows) { rowBlocks_.reserve(rows / kRowsPerBlock + 1); }

uint8_t* ResultRows::Room(size_t bytes) {
    if (bytes >= kOwnBlockFrom) {
        // Inserted before the current block, so that block keeps taking small rows.
        auto own = std::make_unique<uint8_t[]>(bytes);
        uint8_t* p = own.get();
        blocks_.insert(blocks_.empty() ? blocks_.end() : blocks_.end() - 1, std::move(own));
        return p;
    }
    if (blockFree_ < bytes || blocks_.empty()) {
        blocks_.push_back(std::make_unique<uint8_t[]>(kBlockSize));
        blockFree_ = kBlockSize;
    }
    uint8_t* p = blocks_.back().get() + (kBlockSize - blockFree_);
    blockFree_ -= bytes;
    return p;
}

const uint8_t* ResultRows::Encode(const std::vector<Value>& row) {
    scratch_.clear();
    for (const Value& v : row) PutValue(scratch_, v);
    uint8_t* p = Room(scratch_.size());
    std::memcpy(p, scratch_.data(), scratch_.size());
    return p;
}

void ResultRows::push_back(const std::vector<Value>& row) {
    if (count_ == 0) width_ = row.size();
    if (row.size() != width_)
        throw EDatabaseError("A result row has " + std::to_string(row.size()) + " values instead of " +
                             std::to_string(width_));
    if (count_ == rowBlocks_.size() * kRowsPerBlock)
        rowBlocks_.push_back(std::make_unique<const uint8_t*[]>(kRowsPerBlock));
    RowAt(count_) = Encode(row);
    ++count_;
}

Value ResultRows::At(size_t row, size_t column) const {
    const uint8_t* p = RowAt(row);
    for (size_t c = 0; c < column; ++c) p = Skip(p);
    return GetValue(p, &p);
}

std::vector<Value> ResultRows::ValuesOf(size_t row) const {
    std::vector<Value> values;
    values.reserve(width_);
    const uint8_t* p = RowAt(row);
    for (size_t c = 0; c < width_; ++c) values.push_back(GetValue(p, &p));
    return values;
}

void ResultRows::Set(size_t row, const std::vector<Value>& values) {
    if (values.size() != width_)
        throw EDatabaseError("A result row has " + std::to_string(values.size()) + " values instead of " +
                             std::to_string(width_));
    // A row whose new encoding fits where the old one is stays there; a longer one takes new room (the old
    // bytes stay until the result is released).
    const uint8_t* old = RowAt(row);
    const uint8_t* end = old;
    for (size_t c = 0; c < width_; ++c) end = Skip(end);
    scratch_.clear();
    for (const Value& v : values) PutValue(scratch_, v);
    if (scratch_.size() <= static_cast<size_t>(end - old)) {
        std::memcpy(const_cast<uint8_t*>(old), scratch_.data(), scratch_.size());  // the blocks are this result's own
        return;
    }
    uint8_t* p = Room(scratch_.size());
    std::memcpy(p, scratch_.data(), scratch_.size());
    RowAt(row) = p;
}

} // namespace velmora::db
