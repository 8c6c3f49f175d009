#pragma once

#include <cstdint>
#include <string>

#include "app/app_paths.h"
#include "app/profile_file.h"
#include "app/user_interface.h"
#include "link/loader_link.h"

// The settings of [SETUP] and the port table of [Ports] in VOKLOAD.INI.

namespace vok {

struct Settings {
  int32_t port_index = 0;      // ComPort: 0 = COM1 ... 3 = COM4, -1 none
  int32_t baud_rate = 38400;   // Baudrate
  int32_t backup_first = 0;    // BackupFirst, carried unchanged
  int32_t preserve_objects = 0;  // PreserveObjects, carried unchanged
  // SkipUnchanged: 1 lets an update leave alone what the target holds
  // already; only read, never written.
  int32_t skip_unchanged = 0;
};

Settings LoadSettings(const AppPaths& paths);
// Writes one integer key of [SETUP]; shows "Unable to Write to Initialization File" on failure.
void WriteSettingsKey(const AppPaths& paths, UserInterface& ui, const std::string& key, int value);
void SaveSettingsOnExit(const AppPaths& paths, UserInterface& ui, const Settings& settings);
// The optional [Ports] section: port name -> device.
PortTable LoadPortTable(const AppPaths& paths);

}  // namespace vok
