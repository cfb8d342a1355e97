// SPDX-License-Identifier: GPL-2.0-or-later
#include "common/handle_table.h"

#include <gtest/gtest.h>

#include <string>

using namespace quillion;

TEST(HandleTable, HandlesAreNeverReusedAndNeverReserved) {
  HandleTable<std::string> table;
  const Handle32 a = table.insert(std::make_shared<std::string>("a"));
  EXPECT_FALSE(isReservedHandle(a));
  ASSERT_TRUE(table.erase(a));
  const Handle32 b = table.insert(std::make_shared<std::string>("b"));
  EXPECT_NE(a, b);
  EXPECT_EQ(table.find(a), nullptr) << "a stale handle must not reach the new object";
  EXPECT_EQ(*table.find(b), "b");
}

TEST(HandleTable, ExhaustedSpaceNeverWrapsOntoReservedOrOldHandles) {
  HandleTable<int> table;
  const Handle32 first = table.insert(std::make_shared<int>(1));
  table.setNextForTesting(kIsoImageWriterHandle - 1);
  const Handle32 last = table.insert(std::make_shared<int>(2));
  EXPECT_EQ(last, kIsoImageWriterHandle - 1);
  EXPECT_EQ(table.insert(std::make_shared<int>(3)), kNoHandle);
  EXPECT_EQ(*table.find(first), 1);
  EXPECT_EQ(table.size(), 2u);
}

TEST(HandleTable, FoundObjectOutlivesErase) {
  HandleTable<std::string> table;
  const Handle32 h = table.insert(std::make_shared<std::string>("drive"));
  auto inUse = table.find(h);
  table.erase(h);
  EXPECT_EQ(*inUse, "drive");
  EXPECT_EQ(table.find(h), nullptr);
}

TEST(HandleTable, RefusesNullAndReportsHandlesInOrder) {
  HandleTable<int> table;
  EXPECT_EQ(table.insert(nullptr), kNoHandle);
  auto one = std::make_shared<int>(1);
  const Handle32 h1 = table.insert(one);
  const Handle32 h2 = table.insert(std::make_shared<int>(2));
  EXPECT_EQ(table.handles(), (std::vector<Handle32>{h1, h2}));
  EXPECT_EQ(table.handleOf(one.get()), h1);
  EXPECT_EQ(table.handleOf(nullptr), kNoHandle);
}
