#pragma once

#include <cstdint>
#include <string>

#include "app/app_folder.h"
#include "app/user_interface.h"
#include "link/loader_link.h"

namespace vok {

// The separator of the paths the procedures build.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

struct Settings {
  int32_t port_index = 0;      // ComPort: 0 = COM1 ... 3 = COM4, -1 none
  int32_t baud_rate = 38400;   // Baudrate
  int32_t backup_first = 0;    // BackupFirst, carried unchanged
  int32_t preserve_objects = 0;  // PreserveObjects, carried unchanged
};

// Where the procedures keep their files: the application folder (with its
// trailing separator) and the settings file within it.
struct AppPaths {
  std::string folder;  // ends in a separator
  std::string Settings() const { return folder + "VOKLOAD.INI"; }
  std::string UpdateDir() const { return folder + "UPDATE"; }
  std::string BackupDir() const { return folder + "BACKUP"; }
  std::string UpdateCmd() const;   // UPDATE/UPDATE.CMD
  std::string UpdateSem() const;   // UPDATE/UPDATE.SEM
  std::string UpdateLog() const;   // UPDATE/UPDATE.LOG
  std::string BackupLog() const;   // BACKUP/BACKUP.LOG
  // The paths of this process: those of its ApplicationFolder.
  static AppPaths OfApplication() { return AppPaths{ApplicationFolder()}; }
};

// <windows.h>, included before this header, turns WriteProfileString into
// the system's WriteProfileStringA; the name below is ours.
#ifdef WriteProfileString
#undef WriteProfileString
#endif

// Initialisation-file access with the platform's profile rules.
int ReadProfileInt(const std::string& file, const std::string& section, const std::string& key,
                   int default_value);
// false when the file cannot be written.
bool WriteProfileString(const std::string& file, const std::string& section,
                        const std::string& key, const std::string& value);

Settings LoadSettings(const AppPaths& paths);
// Makes the application folder when it is missing (with the folders above
// it), then BACKUP and UPDATE in it. Failures are not reported here.
void CreateWorkFolders(const AppPaths& paths);
// Writes one integer key of [SETUP]; shows "Unable to Write to Initialization File" on failure.
void WriteSettingsKey(const AppPaths& paths, UserInterface& ui, const std::string& key, int value);
void SaveSettingsOnExit(const AppPaths& paths, UserInterface& ui, const Settings& settings);
// The optional [Ports] section: port name -> device.
PortTable LoadPortTable(const AppPaths& paths);

}  // namespace vok
