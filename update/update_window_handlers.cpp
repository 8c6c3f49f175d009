#include "update/update_window_handlers.h"

#include "app/app_folder.h"

namespace vok {

void UpdateWindowHandlers::OnOpen(TextField& file_name, LogList& log, ProgressBar& progress) {
  Attach(file_name, log, progress);
  log.Clear();
}

int UpdateWindowHandlers::OnBrowse() {
  return Browse([](UpdateContext& context, UpdateFields& fields) {
    return OnUpdateBrowse(context, fields);
  });
}

int UpdateWindowHandlers::OnUpdate() {
  return Run([this](UpdateContext& context, UpdateFields& fields) {
    UpdateOptions options;
    options.other_folders = OtherApplicationFolders(paths_.folder);
    return vok::OnUpdate(context, fields, options);
  });
}

UpdateContext UpdateWindowHandlers::MakeContext(LogList& log, ProgressBar& progress) {
  return {link_, paths_, ui_, log, progress, description_};
}

}  // namespace vok
