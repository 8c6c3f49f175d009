#pragma once

// Intel HEX lines: data (00), end of file (01), extended segment address
// (02), start segment address (03), extended linear address (04), start
// linear address (05).

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vok {

// Longest record line without its line end: colon, count, offset, type,
// 255 data bytes and the checksum.
inline constexpr size_t kMaxIntelHexLine = 1 + 2 * (1 + 2 + 1 + 255 + 1);

struct IntelHexRecord {
  uint8_t type = 0;
  uint16_t offset = 0;
  uint8_t length = 0;
  uint8_t data[255] = {};
};

// Decodes one line: a colon, then exactly as many hex digit pairs (either
// case) as its count announces, and a checksum that makes the sum of all
// bytes 0. False for anything else; the type is not looked at.
bool ParseIntelHexRecord(std::string_view line, IntelHexRecord& record);

// Follows a file's records and says where its data go. Segment addresses
// wrap within their 64 KiB, linear ones do not; a record that wraps gives
// two pieces.
class IntelHexReader {
 public:
  enum Result { kData, kSkip, kEnd, kMalformed };
  struct Piece {
    uint64_t address;
    const uint8_t* data;
    uint32_t length;
  };

  // One line of the file. kData with pieces() filled; kSkip for a record
  // without data (start addresses, an empty data record) and for blank lines
  // after the end record; kEnd for the end record; kMalformed for a line
  // that is no record, a type above 05, a record of the wrong length for its
  // type, a blank line before the end record or any record after it.
  Result Take(std::string_view line);
  // Whether the end record has been seen; a file without one is cut short.
  bool Ended() const { return ended_; }

  const Piece* pieces() const { return pieces_; }
  int piece_count() const { return piece_count_; }

 private:
  IntelHexRecord record_;
  uint64_t base_ = 0;
  bool segmented_ = false;
  bool ended_ = false;
  Piece pieces_[2] = {};
  int piece_count_ = 0;
};

}  // namespace vok
