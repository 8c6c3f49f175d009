#include "app/settings.h"

#include <string>

#include "app/profile_file.h"

namespace vok {

namespace {

constexpr const char* kSetupSection = "SETUP";
constexpr const char* kPortsSection = "Ports";

}  // namespace

Settings LoadSettings(const AppPaths& paths) {
  const std::string file = paths.Settings();
  Settings s;
  s.port_index = ReadProfileInt(file, kSetupSection, "ComPort", 0);
  s.baud_rate = ReadProfileInt(file, kSetupSection, "Baudrate", 38400);
  s.backup_first = ReadProfileInt(file, kSetupSection, "BackupFirst", 0);
  s.preserve_objects = ReadProfileInt(file, kSetupSection, "PreserveObjects", 0);
  s.skip_unchanged = ReadProfileInt(file, kSetupSection, "SkipUnchanged", 0);
  return s;
}

void WriteSettingsKey(const AppPaths& paths, UserInterface& ui, const std::string& key,
                      int value) {
  if (!WriteProfileString(paths.Settings(), kSetupSection, key, std::to_string(value))) {
    ui.ShowMessage("Unable to Write to Initialization File", Buttons::Ok, Icon::Warning,
                   kAppTitle);
  }
}

void SaveSettingsOnExit(const AppPaths& paths, UserInterface& ui, const Settings& settings) {
  WriteSettingsKey(paths, ui, "ComPort", settings.port_index);
  WriteSettingsKey(paths, ui, "BackupFirst", settings.backup_first);
  WriteSettingsKey(paths, ui, "PreserveObjects", settings.preserve_objects);
}

PortTable LoadPortTable(const AppPaths& paths) {
  PortTable table;
  for (auto& [name, d] : ReadProfileSection(paths.Settings(), kPortsSection)) {
    if (name.empty() || d.empty()) continue;
    // The link looks names up as "COMn"; the file may spell them in any case.
    std::string key;
    for (char c : name) key += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    table.emplace(std::move(key), d);  // the first entry of a name wins
  }
  return table;
}

}  // namespace vok
