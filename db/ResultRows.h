#pragma once
// The rows of a result held compactly: each row encoded in shared blocks as a tag per value followed by only
// what its kind needs (nothing for NULL, one to eight bytes for an integer, the texts inline). A result of a
// hundred thousand queue rows is held once per run; a full Value per cell cost 56 bytes, a 16-byte cell per
// value plus its text about 300 bytes for a pending queue row, encoded it takes about 130.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/DbValue.h"

namespace velmora::db {

class ResultRows {
public:
    // One row, read in place.
    class Row {
    public:
        Row(const ResultRows* rows, size_t index) : rows_(rows), index_(index) {}
        size_t size() const { return rows_->width_; }
        bool empty() const { return rows_->width_ == 0; }
        Value operator[](size_t column) const { return rows_->At(index_, column); }
        Value at(size_t column) const {
            if (column >= rows_->width_) throw std::out_of_range("result column out of range");
            return rows_->At(index_, column);
        }
        std::vector<Value> Values() const { return rows_->ValuesOf(index_); }
    private:
        const ResultRows* rows_;
        size_t index_;
    };

    // Walks the rows, each handed out as a vector of its values (the iterator keeps the copy).
    class iterator {
    public:
        iterator(const ResultRows* rows, size_t index) : rows_(rows), index_(index) {}
        std::vector<Value>& operator*() {
            current_ = rows_->ValuesOf(index_);
            return current_;
        }
        iterator& operator++() {
            ++index_;
            return *this;
        }
        bool operator!=(const iterator& other) const { return index_ != other.index_; }
        bool operator==(const iterator& other) const { return index_ == other.index_; }
    private:
        const ResultRows* rows_;
        size_t index_;
        std::vector<Value> current_;
    };

    ResultRows() = default;
    ResultRows(const ResultRows& other);
    ResultRows& operator=(const ResultRows& other);
    ResultRows(ResultRows&&) noexcept = default;
    ResultRows& operator=(ResultRows&&) noexcept = default;

    size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    void clear();
    void reserve(size_t rows);

    // Every row of one result has the same number of values: the first row sets it.
    void push_back(const std::vector<Value>& row);
    Row operator[](size_t row) const { return Row(this, row); }
    Row at(size_t row) const {
        if (row >= count_) throw std::out_of_range("result row out of range");
        return Row(this, row);
    }
    Value At(size_t row, size_t column) const;
    std::vector<Value> ValuesOf(size_t row) const;
    void Set(size_t row, const std::vector<Value>& values);

    iterator begin() const { return iterator(this, 0); }
    iterator end() const { return iterator(this, count_); }

private:
    // Appends the row's encoding to the blocks and returns where it starts.
    const uint8_t* Encode(const std::vector<Value>& row);
    uint8_t* Room(size_t bytes);
    const uint8_t*& RowAt(size_t index) { return rowBlocks_[index / kRowsPerBlock][index % kRowsPerBlock]; }
    const uint8_t* RowAt(size_t index) const { return rowBlocks_[index / kRowsPerBlock][index % kRowsPerBlock]; }

    // Row starts live in fixed blocks: a growing result never holds an old and a new copy of them all.
    static constexpr size_t kRowsPerBlock = 4096;

    size_t width_ = 0;
    size_t count_ = 0;
    std::vector<std::unique_ptr<const uint8_t*[]>> rowBlocks_;
    std::vector<std::unique_ptr<uint8_t[]>> blocks_;
    size_t blockFree_ = 0;  // bytes left in the last block
    std::vector<uint8_t> scratch_;  // a row being encoded
};

} // namespace velmora::db
