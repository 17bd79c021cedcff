// Compact storage of result rows.
#include "db/ResultRows.h"

#include <cstring>

#include "platform/Error.h"

namespace velmora::db {

namespace {

constexpr size_t kBlockSize = 64 * 1024;
constexpr size_t kOwnBlockFrom = 8 * 1024;  // longer texts get a block of their own

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
    cellCount_ = 0;
    cellBlocks_.clear();
    blocks_.clear();
    blockFree_ = 0;
}

void ResultRows::reserve(size_t rows) {
    if (width_ > 0) cellBlocks_.reserve((rows * width_) / kCellsPerBlock + 1);
}

const char* ResultRows::Keep(const std::string& bytes) {
    if (bytes.empty()) return nullptr;
    if (bytes.size() >= kOwnBlockFrom) {
        // Inserted before the current block, so that block keeps taking small texts.
        auto own = std::make_unique<char[]>(bytes.size());
        std::memcpy(own.get(), bytes.data(), bytes.size());
        const char* p = own.get();
        blocks_.insert(blocks_.empty() ? blocks_.end() : blocks_.end() - 1, std::move(own));
        return p;
    }
    if (blockFree_ < bytes.size()) {
        blocks_.push_back(std::make_unique<char[]>(kBlockSize));
        blockFree_ = kBlockSize;
    }
    char* p = blocks_.back().get() + (kBlockSize - blockFree_);
    std::memcpy(p, bytes.data(), bytes.size());
    blockFree_ -= bytes.size();
    return p;
}

ResultRows::Cell ResultRows::Store(const Value& v) {
    Cell c;
    c.kind = static_cast<uint8_t>(v.kind);
    switch (v.kind) {
    case ValueKind::Null: c.i = 0; break;
    case ValueKind::Integer: c.i = v.i; break;
    case ValueKind::Float:
    case ValueKind::DateTime: c.f = v.f; break;
    case ValueKind::Text:
    case ValueKind::Blob:
        if (v.s.size() > UINT32_MAX) throw EDatabaseError("A value of more than 4 GB cannot be held");
        c.p = Keep(v.s);
        c.n = static_cast<uint32_t>(v.s.size());
        break;
    }
    return c;
}

void ResultRows::push_back(const std::vector<Value>& row) {
    if (count_ == 0) width_ = row.size();
    if (row.size() != width_)
        throw EDatabaseError("A result row has " + std::to_string(row.size()) + " values instead of " +
                             std::to_string(width_));
    for (const Value& v : row) {
        if (cellCount_ == cellBlocks_.size() * kCellsPerBlock)
            cellBlocks_.push_back(std::make_unique<Cell[]>(kCellsPerBlock));
        CellAt(cellCount_++) = Store(v);
    }
    ++count_;
}

Value ResultRows::At(size_t row, size_t column) const {
    const Cell& c = CellAt(row * width_ + column);
    Value v;
    v.kind = static_cast<ValueKind>(c.kind);
    switch (v.kind) {
    case ValueKind::Null: break;
    case ValueKind::Integer: v.i = c.i; break;
    case ValueKind::Float:
    case ValueKind::DateTime: v.f = c.f; break;
    case ValueKind::Text:
    case ValueKind::Blob:
        if (c.n) v.s.assign(c.p, c.n);
        break;
    }
    return v;
}

std::vector<Value> ResultRows::ValuesOf(size_t row) const {
    std::vector<Value> values;
    values.reserve(width_);
    for (size_t c = 0; c < width_; ++c) values.push_back(At(row, c));
    return values;
}

void ResultRows::Set(size_t row, const std::vector<Value>& values) {
    if (values.size() != width_)
        throw EDatabaseError("A result row has " + std::to_string(values.size()) + " values instead of " +
                             std::to_string(width_));
    // A changed text takes new room in the blocks (the old bytes stay until the result is released), so
    // texts that did not change keep their place: a row edited for a verdict grows by its new texts only.
    for (size_t c = 0; c < width_; ++c) {
        Cell& cell = CellAt(row * width_ + c);
        const Value& v = values[c];
        const bool bytes = v.kind == ValueKind::Text || v.kind == ValueKind::Blob;
        if (bytes && cell.kind == static_cast<uint8_t>(v.kind) && cell.n == v.s.size() &&
            (cell.n == 0 || std::memcmp(cell.p, v.s.data(), cell.n) == 0))
            continue;
        cell = Store(v);
    }
}

} // namespace velmora::db
