#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "app/settings.h"
#include "app/user_interface.h"
#include "image/target_memory.h"
#include "link/loader_link.h"

namespace vok {

// What the Backup window's handlers work with; the window (or the command
// line) owns every part.
struct BackupContext {
  LoaderLink& link;
  const AppPaths& paths;
  UserInterface& ui;
  LogList& log;
  ProgressBar& progress;
};

// The Backup window's fields.
struct BackupFields {
  std::string file_name;  // the backup file's path
  int port = 0;           // port index from the Settings
  int baud_rate = 38400;  // baud rate from the Settings
};

// BACKUP/BKyymmdd.SSS beneath the application folder, for the day of the
// moment given (the moment the window opens).
std::string DefaultBackupFileName(const AppPaths& paths, const std::tm& local_time);
std::string DefaultBackupFileName(const AppPaths& paths, std::time_t moment);

// The header text of a backup: a line holding one space, the date line,
// then the component listing.
std::string BuildBackupDescription(const std::tm& local_time, const std::string& listing);

// Replaces the file's content by length bytes and waits until they are on
// the disk. 1 when all bytes were written, else 0.
int WriteWholeFile(const void* data, std::size_t length, const std::string& path);

// "Browse...": asks for the backup file (a new name may be typed); on a
// choice takes it into the file name field. 1 when chosen, 0 when cancelled.
int OnBackupBrowse(BackupContext& context, BackupFields& fields);

// "Backup": saves RAM and flash into the named S-record file, with the
// target's description in its header, and rewrites BACKUP.LOG. The new file
// takes the place of an existing one only once it is complete: a failed
// backup leaves a previous file of that name as it was. 1 when the backup
// succeeded, 0 otherwise (also when the user declined to overwrite).
int OnBackup(BackupContext& context, BackupFields& fields, const std::tm& now);
int OnBackup(BackupContext& context, BackupFields& fields);  // stamped with the local time

}  // namespace vok
