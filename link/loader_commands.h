#pragma once

#include <cstdint>
#include <string>

#include "link/loader_link.h"

namespace vok {

// The target loader's commands. Each returns 0 or a negative LinkError code.
int GetLoaderVersion(LoaderLink& link, uint8_t& v1, uint8_t& v2, uint8_t& v3);
int ReadTargetMemory(LoaderLink& link, uint32_t address, uint16_t length, uint8_t* destination);
// The same; erased_reply tells whether the loader gave the short reply of
// erased memory (the length field 0xFFFF and nothing after it), which no
// damage to a reply with data can imitate without its data going missing.
int ReadTargetMemory(LoaderLink& link, uint32_t address, uint16_t length, uint8_t* destination,
                     bool& erased_reply);
// reply_address receives the address of every accepted reply, whatever its
// status; without an accepted reply it is left as it was.
int ProgramTargetMemory(LoaderLink& link, uint32_t address, uint16_t length, const uint8_t* data,
                        uint32_t& reply_address);
int EraseFlashSector(LoaderLink& link, uint32_t address);
int GetTargetChecksum(LoaderLink& link, uint32_t start, uint32_t length, uint16_t& checksum);
// Starts the target's application and closes the link, whatever happens.
int StartTargetApplication(LoaderLink& link);
// 2 for "<text> OK\r", 1 for "<text> BUSY\r", 0 for anything else.
int SendTextCommand(LoaderLink& link, const std::string& text);

}  // namespace vok
