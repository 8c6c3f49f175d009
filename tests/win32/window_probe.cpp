// Looks at the windows of another program on a Wine desktop, for the
// end-to-end run of the desktop program (scripts/test-windows):
//
//   window_probe DESKTOP SECONDS TITLE [ID TEXT]
//
// waits up to SECONDS until a top-level window titled TITLE exists (and, with
// ID and TEXT, until its control ID, or any control for 0, shows TEXT: the
// edit or label text contains it, or a list box holds it in a line), then prints the window's
// rectangle, the focused control and every control with its rectangle and
// text. Exit status 0 when found, 1 on time-out, 2 on a wrong command line.
//
//   window_probe DESKTOP SECONDS -gone TITLE
//
// waits until no window titled TITLE is left (or the desktop itself).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Send(HWND window, UINT message, WPARAM wparam, std::vector<char>& buffer) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, message, wparam, reinterpret_cast<LPARAM>(buffer.data()),
                           SMTO_ABORTIFHUNG, 2000, &result)) {
    return "<busy>";
  }
  return std::string(buffer.data(), std::min<size_t>(result, buffer.size()));
}

// The lines a control shows: a list box's lines, else its text.
std::vector<std::string> Lines(HWND control) {
  char cls[64] = {};
  GetClassNameA(control, cls, sizeof cls);
  std::vector<char> buffer(65536, '\0');
  std::vector<std::string> lines;
  if (lstrcmpiA(cls, "ListBox") == 0) {
    DWORD_PTR count = 0;
    SendMessageTimeoutA(control, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count);
    // Across processes Wine hands list box lines back in UTF-16 whichever
    // function asked; take them so and turn them back into bytes.
    std::vector<wchar_t> wide(32768, L'\0');
    for (DWORD_PTR i = 0; i < count; ++i) {
      DWORD_PTR n = 0;
      if (!SendMessageTimeoutW(control, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide.data()),
                               SMTO_ABORTIFHUNG, 2000, &n)) {
        lines.push_back("<busy>");
        continue;
      }
      const int got = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(n), buffer.data(),
                                          static_cast<int>(buffer.size()), nullptr, nullptr);
      lines.emplace_back(buffer.data(), static_cast<size_t>(got > 0 ? got : 0));
    }
    return lines;
  }
  lines.push_back(Send(control, WM_GETTEXT, buffer.size(), buffer));
  return lines;
}

bool Shows(HWND control, const std::string& text) {
  for (const std::string& line : Lines(control)) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

void Print(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  std::printf("window %ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus) {
    std::printf("focus %d\n", GetDlgCtrlID(info.hwndFocus));
  }
  for (HWND c = GetWindow(window, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    GetWindowRect(c, &r);
    char cls[64] = {};
    GetClassNameA(c, cls, sizeof cls);
    const std::vector<std::string> lines = Lines(c);
    std::printf("control %d %s %ld %ld %ld %ld", GetDlgCtrlID(c), cls, r.left, r.top, r.right, r.bottom);
    DWORD_PTR check = 0;
    if (lstrcmpiA(cls, "Button") == 0 &&
        SendMessageTimeoutA(c, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &check) && check == BST_CHECKED) {
      std::printf(" (checked)");
    }
    std::printf(" %s\n", lines.empty() ? "" : lines.front().c_str());
    for (size_t i = 1; i < lines.size(); ++i) std::printf("  | %s\n", lines[i].c_str());
  }
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  // Lines end in LF for the script that reads them.
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc != 4 && argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: window_probe DESKTOP SECONDS TITLE [ID TEXT] | -gone TITLE\n");
    return 2;
  }
  const DWORD limit = static_cast<DWORD>(std::atoi(argv[2])) * 1000;
  const bool gone = std::string(argv[3]) == "-gone";
  const char* title = gone ? argv[4] : argv[3];
  const bool with_text = !gone && argc == 6;
  const DWORD start = GetTickCount();
  // The desktop appears with the program that its explorer starts.
  HDESK desk = nullptr;
  while ((desk = OpenDesktopA(argv[1], 0, FALSE, GENERIC_ALL)) == nullptr) {
    // The desktop closes with the last program on it.
    if (gone) return 0;
    if (GetTickCount() - start > limit) {
      std::fprintf(stderr, "window_probe: no desktop %s\n", argv[1]);
      return 1;
    }
    Sleep(100);
  }
  if (!SetThreadDesktop(desk)) {
    std::fprintf(stderr, "window_probe: cannot use desktop %s\n", argv[1]);
    return 1;
  }
  for (;;) {
    HWND window = FindWindowA(nullptr, title);
    if (gone && window == nullptr) return 0;
    if (!gone && window != nullptr) {
      bool shown = !with_text;
      // ID 0: any control, for labels, which all share the unaddressed id.
      for (HWND c = GetWindow(window, GW_CHILD); with_text && !shown && c != nullptr;
           c = GetWindow(c, GW_HWNDNEXT)) {
        shown = (std::atoi(argv[4]) == 0 || GetDlgCtrlID(c) == std::atoi(argv[4])) && Shows(c, argv[5]);
      }
      if (shown) {
        Print(window);
        return 0;
      }
    }
    if (GetTickCount() - start > limit) {
      std::fprintf(stderr, "window_probe: timed out waiting for '%s'\n", title);
      if (window != nullptr) Print(window);
      return 1;
    }
    Sleep(100);
  }
}
