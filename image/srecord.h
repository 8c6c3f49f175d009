#pragma once

// Motorola S-record lines: the record types 0, 1, 2, 3, 7, 8 and 9.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "image/file.h"

namespace vok {

// Most data bytes one record can carry: a count of 255 less a 2-byte
// address and the checksum.
inline constexpr size_t kMaxSRecordData = 252;
// Longest record line without its line end: S, type, count and 255 bytes.
inline constexpr size_t kMaxSRecordLine = 4 + 2 * 255;
// Data bytes per line in the files this system writes.
inline constexpr size_t kSRecordLineData = 64;

// Decodes one line (a line end, or anything else after the checksum, is
// ignored). Returns -1 when the line does not begin with S, fails its
// checksum, ends before the characters its count announces, holds a
// character that is no hex digit, or announces more data than capacity;
// 0 for a type outside 0, 1, 2, 3, 7, 8, 9 (only type is set); otherwise the
// number of data bytes written to data, which is negative when the count is
// too small for the address.
int ParseSRecord(std::string_view line, char& type, uint32_t& address, uint8_t* data,
                 size_t capacity);

// The complete line, with a '\n' at the end; empty for a type outside the
// table, or for more data than the count byte can announce.
std::string FormatSRecord(char type, uint32_t address, size_t length, const uint8_t* data);

// Creates (or truncates) the file in text mode and writes the header text as
// type-0 records of up to 64 bytes at address 0. 1 on success, leaving the
// file open after the header; 0 on failure. The file stays the caller's to
// close or abandon either way.
int CreateSRecordFile(TextFile& file, const std::string& path, const std::string& header);

}  // namespace vok
