#pragma once

#include <windows.h>

#include <ctime>
#include <optional>

#include "app/desktop/main_window_handlers.h"
#include "app/desktop/window_layouts.h"
#include "app/win32/controls.h"
#include "app/win32/dialog_template.h"
#include "backup/backup_window_handlers.h"
#include "target/info_window_handlers.h"
#include "update/update_window_handlers.h"

namespace vok::win32 {

class Win32UserInterface;

// A modal dialog made from a layout table. The dialog procedure gives every
// window the dialog colours, keeps the wait cursor while a procedure works,
// centres the window when it opens, and hands each command to OnCommand;
// Escape and the close box end it with IDCANCEL.
class Dialog {
 public:
  Dialog(const layout::Window& table, Win32UserInterface& ui);
  virtual ~Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Runs the dialog modally over owner; the id that ended it, -1 when it
  // could not be made.
  INT_PTR Run(HWND owner);
  // Makes it modeless and visible, for checks; null when it could not be made.
  HWND Create(HWND owner);
  HWND Handle() const { return window_; }
  HWND Item(int id) const { return ::GetDlgItem(window_, id); }

 protected:
  // After the window is centred; the controls exist.
  virtual void OnInit() {}
  // A command from a control; IDOK and IDCANCEL end the dialog unless a
  // subclass takes them.
  virtual void OnCommand(int id);
  // Any other message; true when handled, with its result.
  virtual bool OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }
  void End(INT_PTR result);

  Win32UserInterface& ui_;

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR Dispatch(UINT message, WPARAM wparam, LPARAM lparam, bool& handled);

  const layout::Window& table_;
  DialogTemplate template_;
  HWND window_ = nullptr;
  bool modal_ = true;
};

// The Setup dialog and the port dialog: the radio buttons COM1 to COM4, whose
// index in their group is the port index.
class PortChoiceDialog : public Dialog {
 public:
  PortChoiceDialog(const layout::Window& table, Win32UserInterface& ui) : Dialog(table, ui) {}
  // Shown on opening (outside 0 to 3 no button is checked); read back by OK.
  int port_index = -1;

 protected:
  void OnInit() override;
  void OnCommand(int id) override;
};

// "Target Information": the work starts from a message posted to itself,
// once the window and its controls have been painted.
class InfoDialog : public Dialog {
 public:
  InfoDialog(LoaderLink& link, const AppPaths& paths, Win32UserInterface& ui);
  TargetInfoHandlers& Handlers() { return handlers_; }

 protected:
  void OnInit() override;
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;

 private:
  TargetInfoHandlers handlers_;
  std::optional<EditField> listing_;
  std::optional<StaticStatus> status_;
};

// The Update and Backup windows: a file name field with "Browse...", the
// button that runs the procedure, a log list and a progress bar. The window
// fills in what happens on opening, browsing and running.
class ProcedureDialog : public Dialog {
 protected:
  ProcedureDialog(const layout::Window& table, const layout::ProcedureControls& ids,
                  Win32UserInterface& ui)
      : Dialog(table, ui), ids_(ids) {}

  virtual void OnOpen(TextField& file_name, LogList& log, ProgressBar& progress) = 0;
  virtual int OnBrowse() = 0;
  virtual int OnRun() = 0;

 private:
  void OnInit() final;
  void OnCommand(int id) final;

  const layout::ProcedureControls ids_;
  std::optional<EditField> file_name_;
  std::optional<ListBoxLog> log_;
  std::optional<ProgressBarControl> progress_;
};

class UpdateDialog : public ProcedureDialog {
 public:
  UpdateDialog(LoaderLink& link, const AppPaths& paths, Win32UserInterface& ui,
               UpdateDescription& description);
  UpdateFields& Fields() { return handlers_.Fields(); }

 protected:
  void OnOpen(TextField& file_name, LogList& log, ProgressBar& progress) override {
    handlers_.OnOpen(file_name, log, progress);
  }
  int OnBrowse() override { return handlers_.OnBrowse(); }
  int OnRun() override { return handlers_.OnUpdate(); }

 private:
  UpdateWindowHandlers handlers_;
};

class BackupDialog : public ProcedureDialog {
 public:
  BackupDialog(LoaderLink& link, const AppPaths& paths, Win32UserInterface& ui);
  BackupFields& Fields() { return handlers_.Fields(); }

 protected:
  void OnOpen(TextField& file_name, LogList& log, ProgressBar& progress) override {
    handlers_.OnOpen(std::time(nullptr), file_name, log, progress);
  }
  int OnBrowse() override { return handlers_.OnBrowse(); }
  int OnRun() override { return handlers_.OnBackup(); }

 private:
  BackupWindowHandlers handlers_;
};

// The main window: its buttons run the shared main-window handlers, and it
// opens the other dialogs on their behalf.
class MainDialog : public Dialog, private desktop::WindowOpener {
 public:
  MainDialog(desktop::DesktopSession& session, Win32UserInterface& ui);

 protected:
  void OnInit() override;
  void OnCommand(int id) override;

 private:
  void RunTargetInformation(int port_index, int rate) override;
  void RunUpdate(int port_index, int rate) override;
  void RunBackup(int port_index, int rate) override;
  bool RunSetup(int& port_index) override;

  desktop::DesktopSession& session_;
  desktop::MainWindowHandlers handlers_;
};

}  // namespace vok::win32
