#include "files/object_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "tests/support/forwarding_platform.h"
#include "tests/support/platform_scope.h"

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

// A heap that refuses blocks over 64 MiB and notes the sizes asked of it; its
// blocks come from an arena of its own, which a 32-bit Linux process gets
// above 2 GiB (a mapping of its own), where addresses taken as numbers are
// negative.
class ArenaHeap : public testing::ForwardingPlatform {
 public:
  ArenaHeap() : ForwardingPlatform(NativePlatform()), arena_(std::size_t{1} << 20) {}
  void* HeapAlloc(std::size_t size, bool zero) override {
    asked.push_back(size);
    if (size > arena_.size() - used_) return nullptr;
    char* block = arena_.data() + used_;
    used_ += (size + 7) & ~std::size_t{7};
    if (zero) std::fill(block, block + size, '\0');
    return block;
  }
  void* HeapReAlloc(void* block, std::size_t size, bool zero) override {
    asked.push_back(size);
    return size > (std::size_t{64} << 20) ? nullptr
                                          : ForwardingPlatform::HeapReAlloc(block, size, zero);
  }
  bool HeapFree(void* block) override {
    char* at = static_cast<char*>(block);
    if (at >= arena_.data() && at < arena_.data() + arena_.size())
      return true;  // kept till the end
    return ForwardingPlatform::HeapFree(block);
  }
  std::vector<std::size_t> asked;

 private:
  std::vector<char> arena_;
  std::size_t used_ = 0;
};

// A slot number whose slot array would not fit the address space fails, the
// table unchanged; the array's size is never a product that wrapped.
TEST_F(ObjectTableTest, SlotNumbersBeyondTheAddressSpaceFailCleanly) {
  ArenaHeap heap;
  testing::PlatformScope scope(heap);
  constexpr ObjectNumber kLargest = std::numeric_limits<ObjectNumber>::max();
  constexpr auto kAddressable = static_cast<ObjectNumber>(SIZE_MAX / sizeof(Thing*));
  for (ObjectNumber number : {ObjectNumber{1} << 30, kAddressable - 16, kAddressable,
                              kAddressable + 1, kLargest - 15, kLargest}) {
    SCOPED_TRACE(number);
    heap.asked.clear();
    EXPECT_EQ(AcquireObject(table, number), nullptr);
    EXPECT_EQ(table->capacity, 16);
    for (std::size_t size : heap.asked)
      EXPECT_GT(size / sizeof(Thing*), static_cast<std::size_t>(number)) << size;
  }
  ASSERT_NE(Open(100, 1), nullptr);
  EXPECT_EQ(LookupObject(table, 100)->id, 1);
}

// Dynamic numbers are addresses: negative ones (records above 2 GiB in a
// 32-bit process) name their records like any other and never a slot.
TEST_F(ObjectTableTest, DynamicNumbersOfEveryAddressNameTheirRecords) {
  ArenaHeap heap;
  testing::PlatformScope scope(heap);
  Open(1, 10);
  std::vector<ObjectNumber> numbers;
  for (int id = 1; id <= 3; ++id)
    numbers.push_back(reinterpret_cast<ObjectNumber>(Open(kDynamicNumber, id)));
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(numbers[i]);
    ASSERT_NE(LookupObject(table, numbers[i]), nullptr);
    EXPECT_EQ(LookupObject(table, numbers[i])->id, i + 1);
    EXPECT_EQ(AcquireObject(table, numbers[i]), nullptr);  // not a slot number: no effect
    EXPECT_EQ(LookupObject(table, numbers[i])->id, i + 1);
  }
  ReleaseObject(table, numbers[1]);
  EXPECT_EQ(LookupObject(table, numbers[1]), nullptr);
  EXPECT_EQ(LookupObject(table, numbers[2])->id, 3);
  EXPECT_EQ(LookupObject(table, 1)->id, 10);
  CloseAllObjects(table);
  EXPECT_EQ(closed, (std::vector<ObjectNumber>{1, numbers[0], numbers[2]}));
}

}  // namespace
}  // namespace qg
