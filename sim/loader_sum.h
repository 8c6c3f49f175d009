#pragma once

// The algorithms the simulated loader's checksum command and its component
// stamps may use (--checksum).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/controller.h"

namespace vok::sim {

// CRC-16/CCITT-FALSE (poly 0x1021, init 0xFFFF), the default algorithm.
uint16_t CrcCcittFalse(const uint8_t* data, size_t n);
uint16_t LoaderSumOf(LoaderSum algorithm, const uint8_t* data, size_t n);

// The names --checksum takes, in the order of LoaderSum.
const std::vector<std::string>& LoaderSumNames();
// The LoaderSum of that name (case as listed, or lower case); false for none.
bool LoaderSumNamed(const std::string& name, LoaderSum& sum);

}  // namespace vok::sim
