#include "app/win32/dialogs.h"

#include "app/win32/win32_user_interface.h"

namespace vok::win32 {

namespace {

using namespace layout::ids;

// Posted by the Information window to itself: start the work.
constexpr UINT kStartWork = WM_APP + 1;

HINSTANCE Module() { return ::GetModuleHandleA(nullptr); }

bool IsReadOnlyEdit(HWND control) {
  return (::GetWindowLongA(control, GWL_STYLE) & ES_READONLY) != 0;
}

// Grey surface and black text for a control that asks for its colours.
INT_PTR Grey(WPARAM dc) {
  ::SetTextColor(reinterpret_cast<HDC>(dc), RGB(0, 0, 0));
  ::SetBkColor(reinterpret_cast<HDC>(dc), kDialogGrey);
  return reinterpret_cast<INT_PTR>(DialogBrush());
}

}  // namespace

Dialog::Dialog(const layout::Window& table, Win32UserInterface& ui)
    : ui_(ui), table_(table), template_(table) {}

INT_PTR Dialog::Run(HWND owner) {
  modal_ = true;
  return ::DialogBoxIndirectParamA(Module(), template_.Get(), owner, &Dialog::Procedure,
                                   reinterpret_cast<LPARAM>(this));
}

HWND Dialog::Create(HWND owner) {
  modal_ = false;
  return ::CreateDialogIndirectParamA(Module(), template_.Get(), owner, &Dialog::Procedure,
                                      reinterpret_cast<LPARAM>(this));
}

void Dialog::End(INT_PTR result) {
  if (modal_) {
    ::EndDialog(window_, result);
  } else {
    ::DestroyWindow(window_);
  }
}

void Dialog::OnCommand(int id) {
  if (id == IDOK || id == IDCANCEL) End(id);
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrA(window, DWLP_USER, lparam);
    reinterpret_cast<Dialog*>(lparam)->window_ = window;
  }
  auto* self = reinterpret_cast<Dialog*>(::GetWindowLongPtrA(window, DWLP_USER));
  if (self == nullptr) return FALSE;
  bool handled = false;
  const INT_PTR result = self->Dispatch(message, wparam, lparam, handled);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrA(window, DWLP_USER, 0);
    self->window_ = nullptr;
  }
  if (!handled) return FALSE;
  // Messages whose result is not the procedure's return value.
  if (message == WM_SETCURSOR) ::SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
  return message == WM_SETCURSOR ? TRUE : result;
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wparam, LPARAM lparam, bool& handled) {
  handled = true;
  switch (message) {
    case WM_INITDIALOG:
      for (const layout::Control& c : table_.controls) {
        if (c.kind == layout::Kind::PushButton) MakeFlatButton(Item(c.id));
      }
      CentreOnScreen(window_);
      OnInit();
      return TRUE;  // the focus goes to the first tab stop
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:  // labels, radio buttons, group boxes, read-only fields
    case WM_CTLCOLORBTN:
      return Grey(wparam);
    case WM_CTLCOLOREDIT:
      // Editable fields keep the platform's colours.
      if (IsReadOnlyEdit(reinterpret_cast<HWND>(lparam))) return Grey(wparam);
      break;
    case WM_SETCURSOR:
      if (ui_.Waiting()) {
        ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
        return TRUE;
      }
      break;
    case WM_COMMAND:
      // Buttons, and Enter and Escape, which the system sends as IDOK and
      // IDCANCEL with the same code.
      if (HIWORD(wparam) == BN_CLICKED) {
        OnCommand(LOWORD(wparam));
        return TRUE;
      }
      break;
    default: {
      INT_PTR result = 0;
      if (OnMessage(message, wparam, lparam, result)) return result;
      break;
    }
  }
  handled = false;
  return FALSE;
}

void PortChoiceDialog::OnInit() {
  for (int i = 0; i < 4; ++i) {
    ::CheckDlgButton(Handle(), kPortRadios[i], i == port_index ? BST_CHECKED : BST_UNCHECKED);
  }
}

void PortChoiceDialog::OnCommand(int id) {
  if (id == IDOK) {
    port_index = -1;  // none checked
    for (int i = 0; i < 4; ++i) {
      if (::IsDlgButtonChecked(Handle(), kPortRadios[i]) == BST_CHECKED) port_index = i;
    }
  }
  Dialog::OnCommand(id);
}

InfoDialog::InfoDialog(LoaderLink& link, const AppPaths& paths, Win32UserInterface& ui)
    : Dialog(layout::TargetInformation(), ui), handlers_(link, paths, ui) {}

void InfoDialog::OnInit() {
  listing_.emplace(Item(kInfoListing));
  status_.emplace(Item(kInfoStatus));
  handlers_.OnOpen(*listing_);
  DWORD stop = layout::kInfoListingTabStop;
  ::SendMessageA(Item(kInfoListing), EM_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(&stop));
  ::PostMessageA(Handle(), kStartWork, 0, 0);
}

bool InfoDialog::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
  if (message != kStartWork) return false;
  // The window is visible now; paint it and its controls before the work
  // keeps the thread busy.
  ::RedrawWindow(Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  handlers_.OnStart(*listing_, *status_);
  result = 0;
  return true;
}

void ProcedureDialog::OnInit() {
  file_name_.emplace(Item(ids_.file));
  log_.emplace(Item(ids_.log));
  progress_.emplace(Item(ids_.progress));
  OnOpen(*file_name_, *log_, *progress_);
}

void ProcedureDialog::OnCommand(int id) {
  if (id == ids_.browse) {
    OnBrowse();
  } else if (id == ids_.run) {
    OnRun();
  } else {
    Dialog::OnCommand(id);
  }
}

UpdateDialog::UpdateDialog(LoaderLink& link, const AppPaths& paths, Win32UserInterface& ui,
                           UpdateDescription& description)
    : ProcedureDialog(layout::UpdateWindow(), layout::kUpdateControls, ui),
      handlers_(link, paths, ui, description) {}

BackupDialog::BackupDialog(LoaderLink& link, const AppPaths& paths, Win32UserInterface& ui)
    : ProcedureDialog(layout::BackupWindow(), layout::kBackupControls, ui),
      handlers_(link, paths, ui) {}

MainDialog::MainDialog(desktop::DesktopSession& session, Win32UserInterface& ui)
    : Dialog(layout::MainWindow(), ui),
      session_(session),
      handlers_(session.link, session.paths, ui, *this) {}

void MainDialog::OnInit() {
  ::SetWindowTextA(Handle(), desktop::kMainWindowTitle);
  const HICON icon = ::LoadIconA(Module(), MAKEINTRESOURCEA(kAppIconResource));
  if (icon != nullptr) {
    ::SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageA(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  }
}

void MainDialog::OnCommand(int id) {
  switch (id) {
    case kMainExit:
      handlers_.OnExit();
      End(IDOK);
      break;
    case kMainInfo: handlers_.OnInfo(); break;
    case kMainUpdate: handlers_.OnUpdate(); break;
    case kMainBackup: handlers_.OnBackup(); break;
    case kMainSetup: handlers_.OnSetup(); break;
    case kMainStartVok: handlers_.OnStartVok(); break;
    default: Dialog::OnCommand(id); break;  // the close box and Escape: no saving
  }
}

void MainDialog::RunTargetInformation(int port_index, int rate) {
  InfoDialog window(session_.link, session_.paths, ui_);
  window.Handlers().port_index = port_index;
  window.Handlers().rate = rate;
  window.Run(Handle());
}

void MainDialog::RunUpdate(int port_index, int rate) {
  UpdateDialog window(session_.link, session_.paths, ui_, session_.description);
  window.Fields().port = port_index;
  window.Fields().baud_rate = rate;
  window.Run(Handle());
}

void MainDialog::RunBackup(int port_index, int rate) {
  BackupDialog window(session_.link, session_.paths, ui_);
  window.Fields().port = port_index;
  window.Fields().baud_rate = rate;
  window.Run(Handle());
}

bool MainDialog::RunSetup(int& port_index) {
  PortChoiceDialog dialog(layout::SetupDialog(), ui_);
  dialog.port_index = port_index;
  if (dialog.Run(Handle()) != IDOK) return false;
  port_index = dialog.port_index;
  return true;
}

}  // namespace vok::win32
