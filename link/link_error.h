#pragma once

// Result codes of the target link. 0, or a count of 0 or more, is success.
// The values are shown to the user in some messages, so they are fixed.
namespace vok {

enum LinkError : int {
  kErrPortSetup = -1001,       // port cannot be set up / refuses a rate; negotiation failed
  kErrTimeout = -1002,         // no byte within the time-out
  kErrPortState = -1003,       // the port's error state cannot be cleared
  kErrFrameEscape = -1004,     // DLE inside a frame followed by neither DLE nor ETX
  kErrFrameChecksum = -1005,   // checksum mismatch
  kErrFrameOverflow = -1006,   // frame longer than the receive buffer
  kErrWrite = -1007,           // frame cannot be written whole
  kErrPortOpen = -1008,        // port cannot be opened
  kErrNoReply = -3001,         // no valid reply after 3 attempts; no rate answered the probe
  kErrRequestTooLong = -3002,  // request payload longer than 1498 bytes
  kErrNotOpen = -3003,         // the link is not open
  kErrReplyTooLong = -3004,    // reply payload longer than the caller's buffer
  kErrWrongReply = -4005,      // wrong command code or wrong length
  kErrEraseFailed = -4006,     // loader reports an erase failure
  kErrReadLength = -4007,      // read reply length field differs from the request
  kErrProgramFailed = -4008,   // loader reports a programming failure
};

}  // namespace vok
