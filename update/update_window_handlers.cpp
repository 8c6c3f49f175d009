#include "update/update_window_handlers.h"

#include "app/app_folder.h"

namespace vok {

void UpdateWindowHandlers::OnOpen(TextField& file_name, LogList& log, ProgressBar& progress) {
  Attach(file_name, log, progress);
  log.Clear();
}

int UpdateWindowHandlers::OnBrowse() {
  return Browse([](UpdateContext& context, UpdateFields& fields) {
    return ChooseUpdateFile(context, fields);
  });
}

int UpdateWindowHandlers::RunUpdate() {
  return Run([this](UpdateContext& context, UpdateFields& fields) {
    UpdateOptions options;
    options.other_folders = OtherApplicationFolders(paths_.folder);
    // Read at each run, so that the key takes effect without a restart.
    options.skip_unchanged = LoadSettings(paths_).skip_unchanged != 0;
    return vok::RunUpdate(context, fields, options);
  });
}

UpdateContext UpdateWindowHandlers::MakeContext(LogList& log, ProgressBar& progress) {
  return {link_, paths_, ui_, log, progress, description_};
}

}  // namespace vok
