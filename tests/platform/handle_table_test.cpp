// The table behind the engines' handles: handles are the base plus the slot,
// freed slots answer again, and nothing outside the table is found.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/handle_table.h"

namespace {

struct Record {
    std::size_t index = 0;
    std::int64_t handle = 0;
};
using Table = HandleTable<Record, std::int64_t>;

TEST(HandleTable, HandlesAreBasePlusSlotAndSlotsAreReused) {
    Table table(4100);
    auto first = std::make_shared<Record>();
    auto second = std::make_shared<Record>();
    ASSERT_TRUE(table.Add(first));
    ASSERT_TRUE(table.Add(second));
    EXPECT_EQ(first->handle, 4100);
    EXPECT_EQ(second->handle, 4101);
    EXPECT_EQ(table.capacity(), Table::kGrowth);

    EXPECT_TRUE(table.Remove(*first));
    EXPECT_EQ(table.Find(4100), nullptr);
    EXPECT_FALSE(table.Remove(*first));

    auto third = std::make_shared<Record>();
    ASSERT_TRUE(table.Add(third));
    EXPECT_EQ(third->handle, 4100);  // the released value answers again
    EXPECT_EQ(table.Find(4100), third);
    EXPECT_EQ(table.Records(), (std::vector<Table::Ref>{third, second}));
}

TEST(HandleTable, OutOfRangeHandlesFindNothing) {
    Table table(4096);
    ASSERT_NE(table.Create(), nullptr);
    for (const std::int64_t handle : {std::int64_t{-1}, std::int64_t{4095},
                                      std::int64_t{4096 + Table::kGrowth}, std::int64_t{4097}})
        EXPECT_EQ(table.Find(handle), nullptr) << handle;
    // Unsigned handles below the base do not wrap into the table.
    struct Unsigned {
        std::size_t index = 0;
        std::uint64_t handle = 0;
    };
    HandleTable<Unsigned, std::uint64_t> unsignedTable(0x40000000);
    ASSERT_NE(unsignedTable.Create(), nullptr);
    EXPECT_EQ(unsignedTable.Find(0x3FFFFFFF), nullptr);
    EXPECT_NE(unsignedTable.Find(0x40000000), nullptr);
}

TEST(HandleTable, GrowsBy256AndClearsAtTheEnd) {
    Table table(5000);
    std::vector<Table::Ref> records;
    for (std::size_t i = 0; i <= Table::kGrowth; ++i) {
        records.push_back(std::make_shared<Record>());
        ASSERT_TRUE(table.Add(records.back()));
    }
    EXPECT_EQ(table.capacity(), 2 * Table::kGrowth);
    EXPECT_EQ(records.back()->handle, 5000 + static_cast<std::int64_t>(Table::kGrowth));
    EXPECT_EQ(table.count(), Table::kGrowth + 1);
    table.Clear();
    EXPECT_EQ(table.capacity(), 0u);
}

}  // namespace
