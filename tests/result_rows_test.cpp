// Result rows held compactly give back exactly the values they were given, across cell and text blocks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/ResultRows.h"
#include "platform/Error.h"

using namespace velmora;
using db::ResultRows;
using db::Value;
using db::ValueKind;

namespace {

void ExpectSame(const Value& want, const Value& got, const std::string& where) {
    ASSERT_EQ(static_cast<int>(want.kind), static_cast<int>(got.kind)) << where;
    switch (want.kind) {
    case ValueKind::Integer: EXPECT_EQ(want.i, got.i) << where; break;
    case ValueKind::Float:
    case ValueKind::DateTime: EXPECT_EQ(want.f, got.f) << where; break;
    case ValueKind::Text:
    case ValueKind::Blob: EXPECT_EQ(want.s, got.s) << where; break;
    case ValueKind::Null: break;
    }
}

// Row r of a result whose texts grow, some past the size that gets a block of its own.
std::vector<Value> RowOf(int r) {
    std::string bytes("\0\x01z", 3);
    return {Value::Integer(r),
            Value::Integer(-9223372036854775807LL + r),
            Value::Float(r + 0.25),
            Value::DateTime(45000.5 + r),
            Value::Text(r % 97 == 0 ? std::string(20000 + r, 'x') : "satır " + std::to_string(r) + " çğış"),
            Value::Text(""),
            Value::Blob(bytes + std::to_string(r)),
            Value::Null()};
}

TEST(ResultRows, EveryKindComesBackAcrossBlocksCopiesAndChanges) {
    ResultRows rows;
    const int n = 5000;  // 40,000 cells: several cell blocks and text blocks
    for (int r = 0; r < n; ++r) rows.push_back(RowOf(r));
    ASSERT_EQ(rows.size(), static_cast<size_t>(n));
    ResultRows copy = rows;
    rows.Set(7, RowOf(n + 7));  // a changed row does not disturb its neighbours or the copy
    for (int r : {0, 1, 7, 8, 96, 97, 4095, 4096, n - 1}) {
        const std::vector<Value> want = RowOf(r == 7 ? n + 7 : r);
        ASSERT_EQ(rows[r].size(), want.size());
        for (size_t c = 0; c < want.size(); ++c) {
            ExpectSame(want[c], rows[r][c], "row " + std::to_string(r) + " column " + std::to_string(c));
            ExpectSame(RowOf(r)[c], copy.At(r, c), "copy row " + std::to_string(r));
        }
    }
    size_t walked = 0;
    for (const auto& row : copy) {
        ExpectSame(Value::Integer(static_cast<int64_t>(walked)), row[0], "walk");
        ++walked;
    }
    EXPECT_EQ(walked, static_cast<size_t>(n));
    EXPECT_THROW(rows.push_back({Value::Integer(1)}), EDatabaseError) << "a row of another width";
    rows.clear();
    EXPECT_TRUE(rows.empty());
    rows.push_back({Value::Text("bir")});
    EXPECT_EQ(rows[0][0].s, "bir");
}

} // namespace
