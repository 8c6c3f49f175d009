#include <gtest/gtest.h>

#include <vector>

#include "image/memory_range.h"

namespace vok {
namespace {

using R = CMemoryRange;

std::vector<std::pair<uint32_t, uint32_t>> Ends(const MemoryRangeList& list) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (const CMemoryRange& r : list) out.emplace_back(r.GetStart(), r.GetEnd());
  return out;
}

TEST(MemoryRange, ConstructionEndsAndOverlap) {
  R by_end(0x10000, 0x3FFFF, R::kByEnd);
  EXPECT_EQ(by_end.GetLength(), 0x30000u);
  EXPECT_EQ(by_end.GetEnd(), 0x3FFFFu);
  EXPECT_EQ(by_end.GetKind(), R::kByEnd);
  EXPECT_EQ(R(5, 3, R::kByEnd).GetLength(), 0u);
  EXPECT_EQ(R(5, 3, R::kByEnd).GetEnd(), 0u);
  R cut(0xFFFFFFF0, 0x20, R::kByLength);
  EXPECT_EQ(cut.GetLength(), 0x10u);
  EXPECT_EQ(cut.GetEnd(), 0xFFFFFFFFu);
  EXPECT_EQ(R(0x100, 0, R::kByLength).GetLength(), 0u);
  // The whole address space has no 32-bit length; it stops one short
  // instead of wrapping to an empty range.
  EXPECT_EQ(R(0, 0xFFFFFFFF, R::kByEnd).GetLength(), 0xFFFFFFFFu);

  R a(0x1000, 0x100, R::kByLength);
  EXPECT_EQ(a.Overlaps(R(0x1100, 1, R::kByLength)), 0);
  EXPECT_EQ(a.Overlaps(R(0x10FF, 1, R::kByLength)), 1);
  EXPECT_EQ(R(0x10FF, 1, R::kByLength).Overlaps(a), 1);
  EXPECT_EQ(a.Overlaps(R(0x1050, 0, R::kByLength)), 0);
  // A range that ends at the top of the address space still overlaps.
  EXPECT_EQ(cut.Overlaps(R(0xFFFFFFFF, 1, R::kByLength)), 1);
}

TEST(MemoryRange, ArchiveForm) {
  EXPECT_STREQ(R::kClassRecord.name, "CMemoryRange");
  EXPECT_EQ(R::kClassRecord.object_size, 16u);
  EXPECT_EQ(R::kClassRecord.schema, 0u);
  std::string archive;
  R(0x01020304, 0x0A0B0C0D, R::kByLength).Store(archive);
  EXPECT_EQ(archive, std::string("\x04\x03\x02\x01\x0D\x0C\x0B\x0A\x01\x00", 10));
  std::unique_ptr<R> loaded = R::kClassRecord.factory();
  size_t pos = 0;
  ASSERT_TRUE(loaded->Load(archive, pos));
  EXPECT_EQ(pos, 10u);
  EXPECT_EQ(*loaded, R(0x01020304, 0x0A0B0C0D, R::kByLength));
  EXPECT_FALSE(loaded->Load(archive, pos));
}

TEST(MemoryRange, ListKeepsOrderAndEqualStartsInArrival) {
  MemoryRangeList list;
  list.AddSorted(R(0x300, 1, R::kByLength));
  list.AddSorted(R(0x100, 1, R::kByLength));
  list.AddSorted(R(0x100, 2, R::kByLength));
  list.AddSorted(R(0x200, 1, R::kByLength));
  list.AddSorted(R(0x100, 3, R::kByLength));
  std::vector<std::pair<uint32_t, uint32_t>> got;
  for (const R& r : list) got.emplace_back(r.GetStart(), r.GetLength());
  EXPECT_EQ(got, (std::vector<std::pair<uint32_t, uint32_t>>{
                     {0x100, 1}, {0x100, 2}, {0x100, 3}, {0x200, 1}, {0x300, 1}}));
  EXPECT_EQ(list.OverlapsAny(R(0x102, 1, R::kByLength)), 1);
  EXPECT_EQ(list.OverlapsAny(R(0x103, 0xFD, R::kByLength)), 0);
  list.DeleteAll();
  EXPECT_TRUE(list.IsEmpty());
}

TEST(MemoryRange, AddUncovered) {
  auto uncovered = [](std::vector<R> elements, R range) {
    MemoryRangeList list, out;
    for (const R& e : elements) list.AddSorted(e);
    list.AddUncovered(range, out);
    for (const R& r : out) EXPECT_EQ(r.GetKind(), R::kByEnd);
    return Ends(out);
  };
  using V = std::vector<std::pair<uint32_t, uint32_t>>;
  R sector(0x84000, 0x85FFF, R::kByEnd);
  EXPECT_EQ(uncovered({R(0x84100, 0x841FF, R::kByEnd)}, sector),
            (V{{0x84000, 0x840FF}, {0x84200, 0x85FFF}}));
  EXPECT_EQ(uncovered({}, sector), (V{{0x84000, 0x85FFF}}));
  EXPECT_EQ(uncovered({R(0x80000, 0x8FFFF, R::kByEnd)}, sector), V{});
  EXPECT_EQ(uncovered({R(0x1000, 0x10FF, R::kByEnd), R(0x1040, 0x107F, R::kByEnd),
                       R(0x1200, 0x12FF, R::kByEnd), R(0x5000, 1, R::kByLength)},
                      R(0x1000, 0x1FFF, R::kByEnd)),
            (V{{0x1100, 0x11FF}, {0x1300, 0x1FFF}}));
  // An element ending at 0xFFFFFFFF must not send the cursor back to 0.
  EXPECT_EQ(uncovered({R(0xFFFFFF00, 0xFFFFFFFF, R::kByEnd)}, R(0xFFFFFE00, 0xFFFFFFFF, R::kByEnd)),
            (V{{0xFFFFFE00, 0xFFFFFEFF}}));
  // An empty range has no uncovered part, not even at address 0.
  EXPECT_EQ(uncovered({}, R(0, 0, R::kByLength)), V{});
}

}  // namespace
}  // namespace vok
