#include "backup/backup_window_handlers.h"

namespace vok {

void BackupWindowHandlers::OnOpen(std::time_t now, TextField& file_name, LogList& log,
                                  ProgressBar& progress) {
  fields_.file_name = DefaultBackupFileName(paths_, now);
  Attach(file_name, log, progress);
}

int BackupWindowHandlers::OnBrowse() {
  return Browse([](BackupContext& context, BackupFields& fields) {
    return OnBackupBrowse(context, fields);
  });
}

int BackupWindowHandlers::OnBackup() {
  return Run([](BackupContext& context, BackupFields& fields) {
    return vok::OnBackup(context, fields);
  });
}

BackupContext BackupWindowHandlers::MakeContext(LogList& log, ProgressBar& progress) {
  return {link_, paths_, ui_, log, progress};
}

}  // namespace vok
