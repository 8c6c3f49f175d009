#include "app/win32/win32_user_interface.h"

#include <commdlg.h>

#include <vector>

#include "app/desktop/controls.h"
#include "app/win32/dialogs.h"

namespace vok::win32 {

std::string OpenFileFilter(const std::string& filter) {
  std::string out;
  for (const desktop::FileFilter& f : desktop::ParseFileFilter(filter)) {
    out += f.description;
    out += '\0';
    out += f.patterns;
    out += '\0';
  }
  out += '\0';
  return out;
}

Answer Win32UserInterface::ShowMessage(const std::string& text, Buttons buttons, Icon icon,
                                       const std::string& title) {
  UINT type = 0;
  switch (buttons) {
    case Buttons::Ok: type = MB_OK; break;
    case Buttons::YesNo: type = MB_YESNO; break;
    case Buttons::RetryCancel: type = MB_RETRYCANCEL; break;
  }
  switch (icon) {
    case Icon::None: break;
    case Icon::Stop: type |= MB_ICONSTOP; break;
    case Icon::Warning: type |= MB_ICONWARNING; break;
    case Icon::Exclamation: type |= MB_ICONEXCLAMATION; break;
  }
  const int pressed = ::MessageBoxA(::GetActiveWindow(), text.c_str(), title.c_str(), type);
  RestoreWaitCursor();
  switch (pressed) {
    case IDYES: return Answer::Yes;
    case IDNO: return Answer::No;
    case IDRETRY: return Answer::Retry;
    case IDCANCEL: return Answer::Cancel;
    default: return Answer::Ok;
  }
}

bool Win32UserInterface::ChoosePort(int& index) {
  PortChoiceDialog dialog(layout::PortDialog(), *this);
  dialog.port_index = index;
  const bool ok = dialog.Run(::GetActiveWindow()) == IDOK;
  RestoreWaitCursor();
  if (ok) index = dialog.port_index;
  return ok;
}

bool Win32UserInterface::ChooseFile(const FileDialogRequest& request, std::string& path) {
  const std::string filter = OpenFileFilter(request.filter);
  // Room for any path the system takes; the chosen name comes back as bytes.
  std::vector<char> name(32768, '\0');
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = ::GetActiveWindow();
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = name.data();
  ofn.nMaxFile = static_cast<DWORD>(name.size());
  ofn.lpstrTitle = request.title.c_str();
  ofn.lpstrInitialDir = request.initial_folder.empty() ? nullptr : request.initial_folder.c_str();
  ofn.lpstrDefExt = request.default_ext.empty() ? nullptr : request.default_ext.c_str();
  // The update keeps its memory image in the current directory: the dialog
  // must not move it.
  ofn.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_EXPLORER;
  if (request.must_exist) ofn.Flags |= OFN_FILEMUSTEXIST;
  const bool chosen = ::GetOpenFileNameA(&ofn) != FALSE;
  RestoreWaitCursor();
  if (!chosen) return false;
  path = name.data();
  return true;
}

void Win32UserInterface::BeginWait() {
  ++wait_depth_;
  RestoreWaitCursor();
}

void Win32UserInterface::EndWait() {
  if (wait_depth_ == 0) return;
  if (--wait_depth_ == 0) ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
}

void Win32UserInterface::RestoreWaitCursor() const {
  if (wait_depth_ > 0) ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
}

void Win32UserInterface::Beep(unsigned frequency_hz, unsigned duration_ms) {
  tones_.Play(frequency_hz, duration_ms);
}

}  // namespace vok::win32
