#include "update/update_window_handlers.h"

#include "app/app_folder.h"

namespace vok {

void UpdateWindowHandlers::OnOpen(TextField& file_name, LogList& log, ProgressBar& progress) {
  file_name_ = &file_name;
  log_ = &log;
  progress_ = &progress;
  file_name_->SetText(fields_.file_name);
  log_->Clear();
}

int UpdateWindowHandlers::OnBrowse() {
  if (file_name_ == nullptr) return 0;
  fields_.file_name = file_name_->Text();
  UpdateContext context{link_, paths_, ui_, *log_, *progress_, description_};
  const int chosen = OnUpdateBrowse(context, fields_);
  if (chosen) file_name_->SetText(fields_.file_name);
  return chosen;
}

int UpdateWindowHandlers::OnUpdate() {
  if (file_name_ == nullptr) return 0;
  fields_.file_name = file_name_->Text();
  UpdateContext context{link_, paths_, ui_, *log_, *progress_, description_};
  UpdateOptions options;
  options.other_folders = OtherApplicationFolders(paths_.folder);
  // Read at each run, so that the key takes effect without a restart.
  options.skip_unchanged = LoadSettings(paths_).skip_unchanged != 0;
  return vok::OnUpdate(context, fields_, options);
}

}  // namespace vok
