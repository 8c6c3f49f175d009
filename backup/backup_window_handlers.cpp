#include "backup/backup_window_handlers.h"

namespace vok {

void BackupWindowHandlers::OnOpen(std::time_t now, TextField& file_name, LogList& log,
                                  ProgressBar& progress) {
  file_name_ = &file_name;
  log_ = &log;
  progress_ = &progress;
  fields_.file_name = DefaultBackupFileName(paths_, now);
  file_name_->SetText(fields_.file_name);
}

int BackupWindowHandlers::OnBrowse() {
  if (file_name_ == nullptr) return 0;
  fields_.file_name = file_name_->Text();
  BackupContext context{link_, paths_, ui_, *log_, *progress_};
  const int chosen = OnBackupBrowse(context, fields_);
  if (chosen) file_name_->SetText(fields_.file_name);
  return chosen;
}

int BackupWindowHandlers::OnBackup() {
  if (file_name_ == nullptr) return 0;
  fields_.file_name = file_name_->Text();
  BackupContext context{link_, paths_, ui_, *log_, *progress_};
  return vok::OnBackup(context, fields_);
}

}  // namespace vok
