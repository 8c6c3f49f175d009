#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "app/user_interface.h"
#include "image/update_file.h"
#include "link/loader_link.h"
#include "update/flash_programming.h"
#include "update/update_log.h"

namespace vok {

// What the Update window's handlers work with. The window (or the command
// line) owns every part; the description is the program's one
// UpdateDescription, which outlives the window.
struct UpdateContext {
  LoaderLink& link;
  const AppPaths& paths;
  UserInterface& ui;
  LogList& log;
  ProgressBar& progress;
  UpdateDescription& description;
};

// The Update window's fields.
struct UpdateFields {
  std::string file_name;  // the update file's path; empty when the window opens
  int port = 0;           // port index from the Settings
  int baud_rate = 38400;  // baud rate from the Settings
};

// What a run did, for the command line's result.
struct UpdateSummary {
  int sectors_erased = 0;
  int sectors_unchanged = 0;
  uint64_t bytes_programmed = 0;
};

struct UpdateOptions {
  // How programmed records are confirmed (what is read is confirmed
  // always). The windows keep the default.
  ProgramCheck check = ProgramCheck::kChecksum;
  // The erased stretches of the touched sectors confirmed after programming
  // (see ExecuteOptions). The windows keep it on.
  bool check_erased = true;
  // Folder of the temporary memory image; empty: UPDATE of the application
  // folder.
  std::string image_folder;
  // How the update file is read (a raw binary needs its address).
  UpdateFileOptions file;
  // Other application folders (each ending in a separator) whose journal
  // stops a fresh run: one of them holding a marker means an update was
  // interrupted there, and this folder knows nothing of it. Left empty for
  // a fresh run chosen deliberately over such a journal.
  std::vector<std::string> other_folders;
  // A fresh run leaves alone what the target holds already (compared by the
  // loader's CRC; see update/unchanged_memory.h). Off: every touched sector
  // is erased and programmed. Never for an interrupted update's plan.
  bool skip_unchanged = false;
  // Filled in as far as the run got; may be null.
  UpdateSummary* summary = nullptr;
  // Called once the loader has answered, before anything else is sent (the
  // command line asks it for its version there, for its record); may be
  // empty. The windows leave it so.
  std::function<void(LoaderLink&)> on_connected;
};

// The open-file dialog's filter of "Browse...": the update files first, then
// every firmware format the update reads (the content tells the format; the
// names only help to find the files), then any file.
inline constexpr const char* kUpdateFileFilter =
    "Update File (*.sss) | *.sss|"
    "Firmware File (*.sss *.srec *.s19 *.s28 *.s37 *.mot *.hex *.ihex *.elf *.axf *.out)"
    " | *.sss;*.srec;*.s19;*.s28;*.s37;*.mot;*.hex;*.ihex;*.elf;*.axf;*.out|"
    "All Files (*) | *||";

// True when an interrupted update is pending (the marker file exists).
bool UpdatePending(const AppPaths& paths);

// The first of the folders that holds the marker of an interrupted update,
// after showing that the update stops for it and how to carry it out there;
// empty when none does. The own folder is passed over.
std::string StopForUpdatePendingElsewhere(const std::vector<std::string>& folders,
                                          const AppPaths& own, UserInterface& ui);

// "Browse...": asks for the update file; on a choice takes it into the file
// name field, makes the program's UpdateDescription of it, stamped with the
// moment now() gives once the file has been chosen, clears the log list and
// shows the description there. 1 when a file was chosen, 0 when the dialog
// was cancelled.
int ChooseUpdateFile(UpdateContext& context, UpdateFields& fields,
                   const std::function<std::tm()>& now);
int ChooseUpdateFile(UpdateContext& context, UpdateFields& fields, const std::tm& now);
int ChooseUpdateFile(UpdateContext& context, UpdateFields& fields);  // stamped with the local time

// "Update": a fresh run from the named update file, or, when the marker of an
// interrupted update exists and the user chooses Retry, the command file on
// disk carried out again. 1 when the run succeeded, 0 otherwise (the reasons
// have been shown and logged).
int RunUpdate(UpdateContext& context, UpdateFields& fields, const UpdateOptions& options = {});

}  // namespace vok
