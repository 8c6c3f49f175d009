#pragma once

#include <cstddef>
#include <cstdint>

#include "link/serial_port.h"

namespace vok {

inline constexpr uint8_t kDLE = 0x10;
inline constexpr uint8_t kSTX = 0x02;
inline constexpr uint8_t kETX = 0x03;

// Largest frame for an n-byte packet.
constexpr size_t MaxFrameSize(size_t n) { return 2 * n + 6; }

// How many reads ReceiveFrame spends looking for a start mark (bytes that
// are discarded, failed reads and the byte after a DLE) before it gives up
// with -1002. Silence already ends the hunt after one time-out; this bound
// stops a peer that chatters without ever starting a frame, or a port whose
// reads fail at once, from keeping the caller forever. Eight of the largest
// frames (1500-byte packets) is far more than any stale input a real line
// holds after a purge, yet only about 25 s of continuous noise at 9600 baud.
inline constexpr size_t kHuntLimit = 8 * MaxFrameSize(1500);

// Builds the frame of a packet into out (at least MaxFrameSize(n) bytes).
// Returns the frame's length. Pure: shared by the host and the simulator.
size_t EncodeFrame(const uint8_t* packet, size_t n, uint8_t* out);

// Frames the packet and writes it with one WritePort call: 0 or -1007.
int SendFrame(SerialPort& port, size_t n, const uint8_t* packet);

// Reads one whole frame: the packet length (0 or more) or a negative code.
int ReceiveFrame(SerialPort& port, int capacity, uint8_t* packet, uint32_t timeout_ms);

}  // namespace vok
