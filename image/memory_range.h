#pragma once

// Runs of target addresses, and lists of them kept in ascending order of start.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace vok {

class CMemoryRange;

// What a serialisable class tells about itself.
struct ClassRecord {
  const char* name;
  uint32_t object_size;
  uint32_t schema;
  std::unique_ptr<CMemoryRange> (*factory)();
};

class CMemoryRange {
 public:
  enum Kind : int { kByEnd = 0, kByLength = 1 };

  static const ClassRecord kClassRecord;

  CMemoryRange() = default;  // an empty range at 0, filled by Load
  // Kind kByEnd: value is the inclusive end (below start: empty).
  // Kind kByLength: value is the length, cut so that the range ends at
  // 0xFFFFFFFF at the latest. The kind itself is only recorded.
  CMemoryRange(uint32_t start, uint32_t value, int kind);

  const ClassRecord& GetClassRecord() const { return kClassRecord; }
  uint32_t GetStart() const { return start_; }
  uint32_t GetLength() const { return length_; }
  // The last address; 0 for an empty range.
  uint32_t GetEnd() const { return length_ == 0 ? 0 : start_ + length_ - 1; }
  int GetKind() const { return kind_; }
  // 1 when the two share an address; adjacent ranges do not.
  int Overlaps(const CMemoryRange& other) const;

  // The archive form: start (32), length (32), kind (16), little-endian.
  static constexpr size_t kArchiveSize = 10;
  void Store(std::string& archive) const;
  // Reads one range at pos and advances it; false when too few bytes remain.
  bool Load(std::string_view archive, size_t& pos);

  bool operator==(const CMemoryRange&) const = default;

 private:
  uint32_t start_ = 0;
  uint32_t length_ = 0;
  int kind_ = kByLength;
};

// Ranges in ascending order of start; among equal starts the one added later
// comes later. Touching or overlapping ranges stay separate elements. The list
// owns its ranges.
class MemoryRangeList {
  using Map = std::multimap<uint32_t, std::unique_ptr<CMemoryRange>>;

 public:
  class const_iterator {
   public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = CMemoryRange;
    using difference_type = std::ptrdiff_t;
    using pointer = const CMemoryRange*;
    using reference = const CMemoryRange&;

    const_iterator() = default;
    explicit const_iterator(Map::const_iterator it) : it_(it) {}
    reference operator*() const { return *it_->second; }
    pointer operator->() const { return it_->second.get(); }
    const_iterator& operator++() { ++it_; return *this; }
    const_iterator operator++(int) { auto old = *this; ++it_; return old; }
    const_iterator& operator--() { --it_; return *this; }
    const_iterator operator--(int) { auto old = *this; --it_; return old; }
    bool operator==(const const_iterator&) const = default;

   private:
    Map::const_iterator it_;
  };

  MemoryRangeList() = default;
  MemoryRangeList(const MemoryRangeList&) = delete;
  MemoryRangeList& operator=(const MemoryRangeList&) = delete;
  MemoryRangeList(MemoryRangeList&&) = default;
  MemoryRangeList& operator=(MemoryRangeList&&) = default;

  // O(log n).
  void AddSorted(std::unique_ptr<CMemoryRange> range);
  void AddSorted(const CMemoryRange& range) { AddSorted(std::make_unique<CMemoryRange>(range)); }
  int OverlapsAny(const CMemoryRange& range) const;
  // Adds to out, each made by end, the maximal parts of range that no element
  // of this list covers, in ascending order.
  void AddUncovered(const CMemoryRange& range, MemoryRangeList& out) const;
  void DeleteAll() { ranges_.clear(); }

  size_t GetCount() const { return ranges_.size(); }
  bool IsEmpty() const { return ranges_.empty(); }
  const_iterator begin() const { return const_iterator(ranges_.begin()); }
  const_iterator end() const { return const_iterator(ranges_.end()); }

 private:
  Map ranges_;
};

}  // namespace vok
