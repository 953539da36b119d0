#include "files/object_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace qg {
namespace {

struct Thing {
  int id;  // non-zero while live
  int payload;
  bool Live() const { return id != 0; }
};

ObjectTable<Thing>* table = nullptr;
std::vector<ObjectNumber> closed;

void CloseThing(ObjectNumber number) {
  closed.push_back(number);
  ReleaseObject(table, number);
}

class ObjectTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    closed.clear();
    table = CreateObjectTable<Thing>(16, CloseThing);
    ASSERT_NE(table, nullptr);
  }
  Thing* Open(ObjectNumber number, int id) {
    Thing* thing = AcquireObject(table, number);
    if (thing) thing->id = id;
    return thing;
  }
};

TEST_F(ObjectTableTest, GrowsPastTheLastSlotByTheGrowth) {
  EXPECT_EQ(table->capacity, 16);
  ASSERT_NE(Open(40, 1), nullptr);
  EXPECT_EQ(table->capacity, 56);
  EXPECT_EQ(LookupObject(table, 40)->id, 1);
  EXPECT_EQ(LookupObject(table, 55), nullptr);  // a slot, but empty
  ASSERT_NE(Open(0, 2), nullptr);               // 0 is a slot number too
  EXPECT_EQ(LookupObject(table, 0)->id, 2);
}

TEST_F(ObjectTableTest, ReusingALiveNumberClosesItAndReturnsTheSameRecord) {
  Thing* first = Open(3, 7);
  first->payload = 99;
  Thing* second = AcquireObject(table, 3);
  EXPECT_EQ(second, first);
  EXPECT_EQ(closed, std::vector<ObjectNumber>{3});
  EXPECT_EQ(second->id, 0);  // cleared
  EXPECT_EQ(second->payload, 0);
  EXPECT_EQ(LookupObject(table, 3), nullptr);
}

TEST_F(ObjectTableTest, ClosedNumbersNameNothingUntilAcquiredAgain) {
  Open(4, 1);
  ReleaseObject(table, 4);
  EXPECT_EQ(LookupObject(table, 4), nullptr);
  Open(4, 2);
  EXPECT_EQ(LookupObject(table, 4)->id, 2);
}

TEST_F(ObjectTableTest, CloseAllVisitsSlotsAscendingThenDynamicOldestFirst) {
  Open(5, 1);
  Open(2, 2);
  Thing* older = Open(kDynamicNumber, 3);
  Thing* newer = Open(kDynamicNumber, 4);
  ObjectNumber olderNumber = reinterpret_cast<ObjectNumber>(older);
  ObjectNumber newerNumber = reinterpret_cast<ObjectNumber>(newer);
  EXPECT_EQ(LookupObject(table, olderNumber), older);
  CloseAllObjects(table);
  EXPECT_EQ(closed, (std::vector<ObjectNumber>{2, 5, olderNumber, newerNumber}));
  EXPECT_EQ(table->dynamicObjects, nullptr);  // the hook freed them
  EXPECT_EQ(LookupObject(table, 2), nullptr);
}

TEST_F(ObjectTableTest, UnknownNumbersAreNeverDereferenced) {
  Thing local{1, 0};
  EXPECT_EQ(LookupObject(table, reinterpret_cast<ObjectNumber>(&local)), nullptr);
  EXPECT_EQ(LookupObject(table, -7), nullptr);
  ReleaseObject(table, reinterpret_cast<ObjectNumber>(&local));  // no effect, no crash
  EXPECT_EQ(AcquireObject(table, -5), nullptr);
}

}  // namespace
}  // namespace qg
