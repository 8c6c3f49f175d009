#pragma once

// A small reader of Motorola S-record files for loading the simulator's
// memory: S1/S2/S3 data records are delivered, S0 and the count and start
// records are checked and passed over.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vok::sim {

using SRecordSink = std::function<void(uint32_t address, const uint8_t* data, size_t n)>;

// What one line held.
enum SRecordLine : int {
  kSRecordMalformed = -1,  // a malformed line or a wrong checksum
  kSRecordNoData = 0,      // a record that carries no data, or an empty line
  kSRecordData = 1,        // a data record, delivered
};

// Parses one line (without its line end).
SRecordLine ParseSRecordLine(const std::string& line, const SRecordSink& sink);

// Reads the whole file. False with error set ("FILE:LINE: ...") on the first
// bad line or when the file cannot be read.
bool ReadSRecordFile(const std::string& path, const SRecordSink& sink, std::string& error);

}  // namespace vok::sim
