#include "app/win32/controls.h"

#include <memory>

#include "app/win32/dialog_template.h"

namespace vok::win32 {

HBRUSH DialogBrush() {
  static const HBRUSH brush = ::CreateSolidBrush(kDialogGrey);
  return brush;
}

void CentreOnScreen(HWND window) {
  RECT w{};
  RECT s{};
  ::GetWindowRect(window, &w);
  // The rectangle of the whole desktop.
  ::GetWindowRect(::GetDesktopWindow(), &s);
  const desktop::Point p = desktop::CentredPosition(desktop::Edges{s.left, s.top, s.right, s.bottom},
                                                    w.right - w.left, w.bottom - w.top);
  ::SetWindowPos(window, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::InvalidateRect(window, nullptr, TRUE);
}

namespace {

struct ProgressWindow {
  desktop::ProgressState state;
  HFONT font = nullptr;
};

ProgressWindow* DataOf(HWND control) {
  return reinterpret_cast<ProgressWindow*>(::GetWindowLongPtrA(control, GWLP_USERDATA));
}

void PaintProgress(HDC dc, const ProgressWindow& data) {
  const desktop::ProgressState& s = data.state;
  const desktop::Edges& in = s.Inner();
  const desktop::Edges& cl = s.Client();
  const int fill = s.FillBoundary();
  RECT rest{fill, in.top, in.right, in.bottom};
  if (rest.right > rest.left && rest.bottom > rest.top) ::FillRect(dc, &rest, ::GetSysColorBrush(COLOR_BTNFACE));
  RECT done{in.left, in.top, fill, in.bottom};
  if (done.right > done.left && done.bottom > done.top) {
    ::FillRect(dc, &done, ::GetSysColorBrush(COLOR_ACTIVECAPTION));
  }
  const std::string text = s.Text();
  if (!text.empty()) {
    const HGDIOBJ old_font = data.font != nullptr ? ::SelectObject(dc, data.font) : nullptr;
    const int old_mode = ::SetBkMode(dc, TRANSPARENT);
    const COLORREF old_colour = ::SetTextColor(dc, ::GetSysColor(COLOR_CAPTIONTEXT));
    RECT all{cl.left, cl.top, cl.right, cl.bottom};
    ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &all,
                DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    ::SetTextColor(dc, old_colour);
    ::SetBkMode(dc, old_mode);
    if (old_font != nullptr) ::SelectObject(dc, old_font);
  }
  // Sunken: shadow on the left and top, highlight on the right and bottom.
  const HPEN shadow = ::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNSHADOW));
  const HPEN light = ::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNHIGHLIGHT));
  const HGDIOBJ old_pen = ::SelectObject(dc, shadow);
  ::MoveToEx(dc, cl.left, cl.bottom - 1, nullptr);
  ::LineTo(dc, cl.left, cl.top);
  ::LineTo(dc, cl.right - 1, cl.top);
  ::SelectObject(dc, light);
  ::LineTo(dc, cl.right - 1, cl.bottom - 1);
  ::LineTo(dc, cl.left, cl.bottom - 1);
  ::SelectObject(dc, old_pen);
  ::DeleteObject(shadow);
  ::DeleteObject(light);
}

LRESULT CALLBACK ProgressProc(HWND control, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCCREATE:
      ::SetWindowLongPtrA(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new ProgressWindow));
      break;
    case WM_NCDESTROY:
      delete DataOf(control);
      ::SetWindowLongPtrA(control, GWLP_USERDATA, 0);
      break;
    case WM_SIZE:
      if (ProgressWindow* data = DataOf(control)) {
        data->state.Attach(LOWORD(lparam), HIWORD(lparam));
      }
      return 0;
    case WM_SETFONT:
      if (ProgressWindow* data = DataOf(control)) data->font = reinterpret_cast<HFONT>(wparam);
      return 0;
    case WM_GETFONT:
      if (ProgressWindow* data = DataOf(control)) return reinterpret_cast<LRESULT>(data->font);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // every pixel is painted by WM_PAINT
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(control, &ps);
      if (const ProgressWindow* data = DataOf(control)) PaintProgress(dc, *data);
      ::EndPaint(control, &ps);
      return 0;
    }
    default:
      break;
  }
  return ::DefWindowProcA(control, message, wparam, lparam);
}

}  // namespace

namespace {

constexpr const char* kButtonProcProperty = "VokButtonProc";

void Line(HDC dc, COLORREF colour, int x0, int y0, int x1, int y1) {
  const HPEN pen = ::CreatePen(PS_SOLID, 1, colour);
  const HGDIOBJ old = ::SelectObject(dc, pen);
  ::MoveToEx(dc, x0, y0, nullptr);
  ::LineTo(dc, x1, y1);
  ::SelectObject(dc, old);
  ::DeleteObject(pen);
}

// Light on the top and left, dark on the bottom and right of r.
void Bevel(HDC dc, const RECT& r, COLORREF light, COLORREF dark) {
  Line(dc, light, r.left, r.bottom - 2, r.left, r.top);
  Line(dc, light, r.left, r.top, r.right - 1, r.top);
  Line(dc, dark, r.left, r.bottom - 1, r.right, r.bottom - 1);
  Line(dc, dark, r.right - 1, r.top, r.right - 1, r.bottom - 1);
}

void PaintFlatButton(HWND button, HDC dc) {
  RECT r{};
  ::GetClientRect(button, &r);
  ::FillRect(dc, &r, DialogBrush());
  const LONG style = ::GetWindowLongA(button, GWL_STYLE);
  const LRESULT state = ::SendMessageA(button, BM_GETSTATE, 0, 0);
  const bool pressed = (state & BST_PUSHED) != 0;
  if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
    ::FrameRect(dc, &r, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    ::InflateRect(&r, -1, -1);
  }
  if (pressed) {
    Bevel(dc, r, RGB(128, 128, 128), RGB(128, 128, 128));
  } else {
    Bevel(dc, r, RGB(255, 255, 255), RGB(0, 0, 0));
    RECT inner = r;
    ::InflateRect(&inner, -1, -1);
    Bevel(dc, inner, RGB(223, 223, 223), RGB(128, 128, 128));
  }
  const std::string text = WindowText(button);
  const HFONT font = reinterpret_cast<HFONT>(::SendMessageA(button, WM_GETFONT, 0, 0));
  const HGDIOBJ old_font = font != nullptr ? ::SelectObject(dc, font) : nullptr;
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ::IsWindowEnabled(button) ? RGB(0, 0, 0) : RGB(128, 128, 128));
  RECT label = r;
  if (pressed) ::OffsetRect(&label, 1, 1);
  ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &label,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  if (old_font != nullptr) ::SelectObject(dc, old_font);
  if (::GetFocus() == button) {
    RECT focus = r;
    ::InflateRect(&focus, -3, -3);
    ::DrawFocusRect(dc, &focus);
  }
}

LRESULT CALLBACK FlatButtonProc(HWND button, UINT message, WPARAM wparam, LPARAM lparam) {
  const auto original = reinterpret_cast<WNDPROC>(::GetPropA(button, kButtonProcProperty));
  if (original == nullptr) return ::DefWindowProcA(button, message, wparam, lparam);
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = ::BeginPaint(button, &ps);
      PaintFlatButton(button, dc);
      ::EndPaint(button, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_NCDESTROY:
      ::SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
      ::RemovePropA(button, kButtonProcProperty);
      return ::CallWindowProcA(original, button, message, wparam, lparam);
    default:
      break;
  }
  const LRESULT result = ::CallWindowProcA(original, button, message, wparam, lparam);
  switch (message) {
    // The button draws these changes itself, at once: draw over them.
    case BM_SETSTATE:
    case BM_SETSTYLE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE:
    case WM_SETTEXT:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CAPTURECHANGED:
    case WM_UPDATEUISTATE:
      ::RedrawWindow(button, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
      break;
    default:
      break;
  }
  return result;
}

}  // namespace

void MakeFlatButton(HWND button) {
  if (::GetPropA(button, kButtonProcProperty) != nullptr) return;
  const LONG_PTR original = ::GetWindowLongPtrA(button, GWLP_WNDPROC);
  ::SetPropA(button, kButtonProcProperty, reinterpret_cast<HANDLE>(original));
  ::SetWindowLongPtrA(button, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FlatButtonProc));
  ::InvalidateRect(button, nullptr, TRUE);
}

bool RegisterProgressBarClass(HINSTANCE instance) {
  WNDCLASSA wc{};
  if (::GetClassInfoA(instance, kProgressBarClass, &wc)) return true;
  wc.lpfnWndProc = &ProgressProc;
  wc.hInstance = instance;
  wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = kProgressBarClass;
  return ::RegisterClassA(&wc) != 0;
}

desktop::ProgressState* ProgressBarControl::StateOf(HWND control) {
  char name[32] = {};
  if (::GetClassNameA(control, name, sizeof name) == 0 || lstrcmpiA(name, kProgressBarClass) != 0) {
    return nullptr;
  }
  ProgressWindow* data = DataOf(control);
  return data != nullptr ? &data->state : nullptr;
}

void ProgressBarControl::Repaint(bool whole) {
  const desktop::ProgressState* s = StateOf(control_);
  if (s == nullptr) return;
  const desktop::Edges& e = whole ? s->Client() : s->Inner();
  RECT r{e.left, e.top, e.right, e.bottom};
  // At once, without erasing: the paint covers every pixel.
  ::RedrawWindow(control_, &r, nullptr, RDW_INVALIDATE | RDW_NOERASE | RDW_UPDATENOW);
}

void ProgressBarControl::SetProgress(uint32_t total, uint32_t done) {
  desktop::ProgressState* s = StateOf(control_);
  if (s == nullptr) return;
  switch (s->Set(total, done)) {
    case desktop::ProgressState::Repaint::None: break;
    case desktop::ProgressState::Repaint::Whole: Repaint(true); break;
    case desktop::ProgressState::Repaint::Inner: Repaint(false); break;
  }
}

void ProgressBarControl::ResetProgress() {
  desktop::ProgressState* s = StateOf(control_);
  if (s == nullptr) return;
  s->Reset();
  Repaint(true);
}

int ListBoxLog::AppendLine(const std::string& text) {
  const LRESULT index = ::SendMessageA(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  return static_cast<int>(index);
}

void ListBoxLog::RemoveLine(int index) { ::SendMessageA(list_, LB_DELETESTRING, index, 0); }

void ListBoxLog::RemoveAllLines() {
  ::SendMessageA(list_, LB_RESETCONTENT, 0, 0);
  ::UpdateWindow(list_);
}

void ListBoxLog::ShowLine(int index) {
  // Selecting a line scrolls it into view; the selection goes at once.
  ::SendMessageA(list_, LB_SETCURSEL, index, 0);
  Refresh();
}

void ListBoxLog::Refresh() {
  ::SendMessageA(list_, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  ::UpdateWindow(list_);
}

std::string WindowText(HWND window) {
  const int length = ::GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
  const int got = ::GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

std::string EditField::Text() const { return WindowText(edit_); }

void EditField::SetText(const std::string& text) { ::SetWindowTextA(edit_, text.c_str()); }

void StaticStatus::SetStatusText(const std::string& text) {
  ::SetWindowTextA(label_, text.c_str());
  // The thread is busy with the target: paint the text now.
  ::UpdateWindow(label_);
}

}  // namespace vok::win32
