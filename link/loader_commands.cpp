#include "link/loader_commands.h"

#include <cstring>

#include "link/byte_order.h"
#include "link/link_error.h"

namespace vok {

namespace {

// A one-byte field; returns the position after it.
uint8_t* Put8(uint8_t* p, uint8_t v) {
  *p = v;
  return p + 1;
}

enum Command : uint8_t {
  kVersion = 1,
  kRead = 2,
  kProgram = 3,
  kErase = 4,
  kChecksum = 5,
  kStart = 6,
};

constexpr uint32_t kVersionExtraMs = 20;
constexpr uint32_t kReadExtraMs = 20;
constexpr uint32_t kProgramExtraMs = 2000;
constexpr uint32_t kEraseExtraMs = 12000;
constexpr uint32_t kChecksumExtraMs = 4000;
constexpr uint32_t kStartExtraMs = 200;

// Read reply: code, address (4), length field (2), data.
constexpr int kReadReplyHeader = 7;
constexpr uint16_t kErasedMemory = 0xFFFF;

int Exchange(LoaderLink& link, const uint8_t* end_of_request, uint32_t extra_ms) {
  const auto n = static_cast<uint32_t>(end_of_request - link.RequestBuffer());
  return link.ExchangePacket(n, link.RequestBuffer(), LoaderLink::kBufferSize, link.ReplyBuffer(),
                             extra_ms);
}

// A reply carrying the command's code and, where the length is fixed, that length.
bool Expected(const uint8_t* reply, int got, Command code, int length) {
  return got == length && reply[0] == code;
}

}  // namespace

int GetLoaderVersion(LoaderLink& link, uint8_t& v1, uint8_t& v2, uint8_t& v3) {
  uint8_t* p = Put8(link.RequestBuffer(), kVersion);
  const int got = Exchange(link, p, kVersionExtraMs);
  if (got < 0) return got;
  const uint8_t* reply = link.ReplyBuffer();
  if (!Expected(reply, got, kVersion, 4)) return kErrWrongReply;
  v1 = reply[1];
  v2 = reply[2];
  v3 = reply[3];
  return 0;
}

int ReadTargetMemory(LoaderLink& link, uint32_t address, uint16_t length, uint8_t* destination) {
  bool erased_reply = false;
  return ReadTargetMemory(link, address, length, destination, erased_reply);
}

int ReadTargetMemory(LoaderLink& link, uint32_t address, uint16_t length, uint8_t* destination,
                     bool& erased_reply) {
  erased_reply = false;
  uint8_t* p = Put8(link.RequestBuffer(), kRead);
  p = PutBe32(p, address);
  p = PutBe16(p, length);
  const int got = Exchange(link, p, kReadExtraMs);
  if (got < 0) return got;
  const uint8_t* reply = link.ReplyBuffer();
  // The echoed address is not compared; the length field must be there.
  if (got < kReadReplyHeader || reply[0] != kRead) return kErrWrongReply;
  const uint16_t field = Be16(reply + 5);
  if (field == kErasedMemory) {
    if (length > 0) std::memset(destination, 0xFF, length);
    erased_reply = got == kReadReplyHeader;
    return 0;
  }
  if (field != length) return kErrReadLength;
  // Never hand on bytes the reply did not carry.
  if (got < kReadReplyHeader + length) return kErrWrongReply;
  if (length > 0) std::memcpy(destination, reply + kReadReplyHeader, length);
  return 0;
}

int ProgramTargetMemory(LoaderLink& link, uint32_t address, uint16_t length, const uint8_t* data,
                        uint32_t& reply_address) {
  // Refuse here what the exchange would refuse, before the data could run
  // past the request buffer.
  if (7u + length > LoaderLink::kMaxPayload) return kErrRequestTooLong;
  uint8_t* p = Put8(link.RequestBuffer(), kProgram);
  p = PutBe32(p, address);
  p = PutBe16(p, length);
  if (length > 0) std::memcpy(p, data, length);
  p += length;
  const int got = Exchange(link, p, kProgramExtraMs);
  if (got < 0) return got;
  const uint8_t* reply = link.ReplyBuffer();
  if (!Expected(reply, got, kProgram, 6)) return kErrWrongReply;
  // The address is given back whatever the status, for the failure message.
  reply_address = Be32(reply + 2);
  return reply[1] == 0 ? 0 : kErrProgramFailed;
}

int EraseFlashSector(LoaderLink& link, uint32_t address) {
  uint8_t* p = Put8(link.RequestBuffer(), kErase);
  p = PutBe32(p, address);
  const int got = Exchange(link, p, kEraseExtraMs);
  if (got < 0) return got;
  const uint8_t* reply = link.ReplyBuffer();
  if (!Expected(reply, got, kErase, 2)) return kErrWrongReply;
  return reply[1] == 0 ? 0 : kErrEraseFailed;
}

int GetTargetChecksum(LoaderLink& link, uint32_t start, uint32_t length, uint16_t& checksum) {
  uint8_t* p = Put8(link.RequestBuffer(), kChecksum);
  p = PutBe32(p, start);
  p = PutBe32(p, length);
  const int got = Exchange(link, p, kChecksumExtraMs);
  if (got < 0) return got;
  const uint8_t* reply = link.ReplyBuffer();
  if (!Expected(reply, got, kChecksum, 3)) return kErrWrongReply;
  checksum = Be16(reply + 1);
  return 0;
}

int StartTargetApplication(LoaderLink& link) {
  uint8_t* p = Put8(link.RequestBuffer(), kStart);
  const int got = Exchange(link, p, kStartExtraMs);
  // The loader has left (or is gone): the link is of no further use.
  link.CloseLink();
  return got < 0 ? got : 0;
}

int SendTextCommand(LoaderLink& link, const std::string& text) {
  // The command is a C text: a zero byte would end it.
  const std::string command(text.c_str());
  const std::string request = command + "\r";
  if (request.size() > LoaderLink::kMaxPayload) return 0;
  std::memcpy(link.RequestBuffer(), request.data(), request.size());
  const int got = link.ExchangeText(static_cast<uint32_t>(request.size()), link.RequestBuffer(),
                                    LoaderLink::kBufferSize, link.ReplyBuffer());
  if (got < 0) return 0;
  const char* reply = reinterpret_cast<const char*>(link.ReplyBuffer());
  std::string answer(reply, static_cast<size_t>(got));
  if (const size_t zero = answer.find('\0'); zero != std::string::npos) answer.resize(zero);
  if (answer == command + " OK\r") return 2;
  if (answer == command + " BUSY\r") return 1;
  return 0;
}

}  // namespace vok
