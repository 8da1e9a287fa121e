#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "foundation/Units.h"
#include "foundation/Memdiag.h"
#include "foundation/Operaciispamyatyu.h"

namespace {

TMemoryRegionState Region(uint32_t index = 0) {
  TMemoryRegionState state{};
  EXPECT_TRUE(MemoryRegionState(index, state));
  return state;
}

// Makes sure the first region is committed and returns its state.
TMemoryRegionState ActiveFirstRegion() {
  uint8_t* probe = nullptr;
  Create(probe, 1);
  EXPECT_NE(probe, nullptr);
  Free(probe);
  return Region(0);
}

bool AllZero(const uint8_t* p, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

TEST(Memdiag, CreateZeroElementsOrIntoAFullHandleDoesNothing) {
  uint8_t* empty = nullptr;
  Create(empty, 0);
  EXPECT_EQ(empty, nullptr);

  uint8_t marker = 7;
  uint8_t* occupied = &marker;
  Create(occupied, 16);
  EXPECT_EQ(occupied, &marker);
}

TEST(Memdiag, FreeingBelowTheTopOnlyMarksTheEntry) {
  TMemoryRegionState before = ActiveFirstRegion();
  uint8_t* a = nullptr;
  uint64_t* b = nullptr;  // aligned element type: padding in front of it must come back too
  Create(a, 3);
  Create(b, 5);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % alignof(uint64_t), 0u);
  Free(a);
  EXPECT_EQ(Region().count, before.count + 2);
  uint32_t size = 0, elementSize = 1;
  ASSERT_TRUE(MemoryBlockInfo(a, size, elementSize));
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(elementSize, 0u);
  Free(b);
  EXPECT_EQ(Region().count, before.count);
  EXPECT_EQ(Region().used, before.used);
}

TEST(Memdiag, ExactSizeReuseIsZeroFilled) {
  uint8_t* keepTop = nullptr;
  uint8_t* a = nullptr;
  Create(a, 300);
  Create(keepTop, 1);  // keeps a below the top so freeing it only marks its entry
  ASSERT_NE(a, nullptr);
  std::memset(a, 0xAB, 300);
  uint8_t* freed = a;
  Free(a);
  uint8_t* again = nullptr;
  Create(again, 300);
  EXPECT_EQ(again, freed);
  EXPECT_TRUE(AllZero(again, 300));
  uint32_t size = 0, elementSize = 0;
  ASSERT_TRUE(MemoryBlockInfo(again, size, elementSize));
  EXPECT_EQ(elementSize, 1u);
  Free(again);

  uint8_t* larger = nullptr;
  uint8_t* smaller = nullptr;
  Create(larger, 301);
  Create(smaller, 299);
  EXPECT_NE(larger, freed);
  EXPECT_NE(smaller, freed);
  Free(smaller);
  Free(larger);
  uint8_t* exact = nullptr;
  Create(exact, 300);
  EXPECT_EQ(exact, freed);
  Free(exact);
  Free(keepTop);
}

// Each level creates the next one in its constructor.
struct Nested {
  static int made;
  static int depth;
  uint8_t* child = nullptr;
  Nested* inner = nullptr;
  Nested() {
    ++made;
    ++depth;
    Create(inner, 1);
    --depth;
  }
  ~Nested() {
    if (inner != nullptr) delete inner;
  }
};
int Nested::made = 0;
int Nested::depth = 0;

TEST(Memdiag, TheHundredAndFirstNestedCreationYieldsNull) {
  TMemoryRegionState before = ActiveFirstRegion();
  Nested::made = 0;
  Nested* outer = nullptr;
  Create(outer, 1);
  ASSERT_NE(outer, nullptr);
  EXPECT_EQ(Nested::made, 100);
  int chain = 0;
  for (Nested* n = outer; n != nullptr; n = n->inner) ++chain;
  EXPECT_EQ(chain, 100);
  EXPECT_EQ(Region().count, before.count + 100);
  delete outer;
  EXPECT_EQ(Region().count, before.count);
  EXPECT_EQ(Region().used, before.used);
}

struct Tagged {
  uint32_t tag;
  uint32_t extra;
  explicit Tagged(uint32_t t) : tag(t), extra(0) {}
};

// Objects are built in place with the arguments given; a top-down Free, and delete of a
// created object, give back both the space and the entries.
TEST(Memdiag, ConstructsInPlaceAndFreesTopDown) {
  TMemoryRegionState before = ActiveFirstRegion();
  Tagged* items = nullptr;
  uint8_t* bytes = nullptr;
  Tagged* single = nullptr;
  // Sizes no block of the units' start-up has (a freed entry of the same size would be reused, on
  // either width): five records, 37 bytes, one record of a size of its own.
  Create(items, 5, 42u);
  Create(bytes, 37);
  Create(single, 1, 9u);
  ASSERT_NE(items, nullptr);
  ASSERT_NE(bytes, nullptr);
  ASSERT_NE(single, nullptr);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(items[i].tag, 42u);
    EXPECT_EQ(items[i].extra, 0u);
  }
  EXPECT_EQ(single->tag, 9u);
  uint32_t size = 0, elementSize = 0;
  ASSERT_TRUE(MemoryBlockInfo(items, size, elementSize));
  EXPECT_EQ(size, 5 * sizeof(Tagged));
  EXPECT_EQ(elementSize, sizeof(Tagged));
  EXPECT_EQ(Region().count, before.count + 3);
  // The freed middle block's entry stays, and the next block of exactly its size takes it again.
  uint8_t* const middle = bytes;
  Free(bytes);
  bytes = nullptr;
  Create(bytes, 37);
  EXPECT_EQ(bytes, middle);
  EXPECT_EQ(Region().count, before.count + 3);
  delete single;
  Free(bytes);
  Free(items);
  EXPECT_EQ(Region().used, before.used);
  EXPECT_EQ(Region().count, before.count);
}

TEST(Memdiag, ForeignNullAndMidBlockFreesChangeNothing) {
  uint8_t* a = nullptr;
  Create(a, 64);
  ASSERT_NE(a, nullptr);
  TMemoryRegionState before = Region();
  uint8_t local[16];
  Free(nullptr);
  Free(local);
  Free(a + 1);
  Free(a + 63);
  EXPECT_EQ(Region().used, before.used);
  EXPECT_EQ(Region().count, before.count);
  uint32_t size = 0, elementSize = 0;
  ASSERT_TRUE(MemoryBlockInfo(a, size, elementSize));
  EXPECT_EQ(elementSize, 1u);

  // A runtime object reaching the replaced operator delete goes back to the runtime's heap
  // (the leak checker of a sanitizer build would report it otherwise) and leaves the manager alone.
  int* runtimeObject = new int(5);
  delete runtimeObject;
  char* runtimeArray = new char[100];
  delete[] runtimeArray;
  EXPECT_EQ(Region().used, before.used);
  Free(a);
}

[[gnu::noinline]] void DeleteThroughOperators(void* single, void* array) {
  ::operator delete(single);
  ::operator delete[](array);
}

// Stops every unit and starts the manager alone, so that the first region is fresh; the units
// start again afterwards.
TEST(Memdiag, FreshRegionBoundaryAndShutDown) {
  StopUnits<kFoundationLayer>();
  EXPECT_FALSE(MemoryManagerActive());
  OperaciispamyatyuStartup();
  MemdiagStartup();
  ASSERT_TRUE(MemoryManagerActive());

  // The largest block a fresh region holds comes from the first region; one byte more gets a
  // region of its own, sized to it, and the carving point stays in the first.
  const uint32_t largest = LargestFreshRegionBlock();
  uint8_t* fits = nullptr;
  Create(fits, largest);
  ASSERT_NE(fits, nullptr);
  EXPECT_EQ(Region(0).used + 1, Region(0).capacity);
  uint8_t* regionStart = fits;
  uint8_t* regionMiddle = fits + 10;
  Free(fits);
  EXPECT_EQ(Region(0).count, 0u);
  uint8_t* large = nullptr;
  Create(large, largest + 1);
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(large[0] | large[largest], 0);
  EXPECT_EQ(Region(1).count, 1u);
  EXPECT_LT(Region(1).capacity, largest + (1u << 20)) << "sized to the request, with a small table";
  EXPECT_EQ(CurrentMemoryRegion(), 0u);
  uint8_t* small = nullptr;
  Create(small, 64);
  EXPECT_EQ(Region(0).count, 1u) << "ordinary blocks are never carved in a large block's region";
  large[5] = 7;
  Free(large);
  EXPECT_EQ(Region(1).count, 0u);
  uint8_t* again = nullptr;
  Create(again, largest + 100);
  EXPECT_EQ(again, large) << "an empty large region serves the next large request";
  EXPECT_EQ(again[5], 0);
  uint8_t* second = nullptr;
  Create(second, largest + 1);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(Region(2).count, 1u) << "a second large block gets a region of its own";
  Free(second);
  Free(again);
  Free(small);
  EXPECT_EQ(CurrentMemoryRegion(), 0u);

  // After shut-down: runtime pointers still go to the runtime, region pointers are ignored.
  MemdiagShutdown();
  int* runtimeObject = new int(3);
  DeleteThroughOperators(runtimeObject, new char[8]);
  DeleteThroughOperators(regionStart, regionMiddle);
  uint8_t* refused = nullptr;
  Create(refused, 4);
  EXPECT_EQ(refused, nullptr);
  OperaciispamyatyuShutdown();
  StartUnits<kFoundationLayer>();
  ASSERT_TRUE(MemoryManagerActive());
}

}  // namespace
