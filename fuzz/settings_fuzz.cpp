// The settings reader on any file: ReadProfileInt of the keys the program
// uses, then WriteProfileString of a key, after which that key reads back
// as written and the other keys of the section keep their values.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/settings.h"
#include "fuzz/scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = vok::fuzz::ScratchFolder() + "VOKLOAD.INI";
  vok::fuzz::WriteWhole(path, data, size);
  static const char* const kKeys[] = {"ComPort", "Baudrate", "BackupFirst", "PreserveObjects"};
  int before[4];
  for (int i = 0; i < 4; ++i) before[i] = vok::ReadProfileInt(path, "SETUP", kKeys[i], -7);
  (void)vok::ReadProfileInt(path, "Ports", "COM1", 0);
  vok::AppPaths paths{vok::fuzz::ScratchFolder()};
  (void)vok::LoadPortTable(paths);

  const int which = size > 0 ? data[0] % 4 : 0;
  const int value = size > 1 ? static_cast<int8_t>(data[1]) * 1000 : 12;
  if (!vok::WriteProfileString(path, "SETUP", kKeys[which], std::to_string(value))) std::abort();
  if (vok::ReadProfileInt(path, "SETUP", kKeys[which], -7) != value) std::abort();
  for (int i = 0; i < 4; ++i)
    if (i != which && vok::ReadProfileInt(path, "SETUP", kKeys[i], -7) != before[i]) std::abort();
  return 0;
}
