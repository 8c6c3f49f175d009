#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/desktop/window_layouts.h"
#include "app/win32/controls.h"
#include "app/win32/dialogs.h"
#include "app/win32/win32_user_interface.h"

namespace vok::win32 {
namespace {

using layout::Kind;

const char* ClassOf(Kind kind) {
  switch (kind) {
    case Kind::PushButton:
    case Kind::RadioButton:
    case Kind::GroupBox: return "Button";
    case Kind::Label:
    case Kind::Icon: return "Static";
    case Kind::Edit: return "Edit";
    case Kind::ListBox: return "ListBox";
    case Kind::ProgressBar: return kProgressBarClass;
  }
  return "";
}

class Win32Dialogs : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(RegisterProgressBarClass(GetModuleHandleA(nullptr))); }
  Win32UserInterface ui_;
};

// The template puts every control where its table says, converted through
// the dialog font by the system, in tab order, with its class and style.
TEST_F(Win32Dialogs, EveryDialogStandsAsItsTableSays) {
  for (const layout::Window* table : layout::AllWindows()) {
    SCOPED_TRACE(table->caption);
    Dialog dialog(*table, ui_);
    const HWND window = dialog.Create(nullptr);
    ASSERT_NE(window, nullptr) << GetLastError();
    RECT size{0, 0, table->width, table->height};
    MapDialogRect(window, &size);
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);
    EXPECT_EQ(WindowText(window), table->caption);
    EXPECT_EQ((GetWindowLongA(window, GWL_STYLE) & WS_SYSMENU) != 0, table->close_box);

    std::vector<HWND> stops;
    HWND child = GetWindow(window, GW_CHILD);
    for (const layout::Control& c : table->controls) {
      SCOPED_TRACE(c.text);
      ASSERT_NE(child, nullptr);
      EXPECT_EQ(GetDlgCtrlID(child), c.id == layout::kNoId ? 0xFFFF : c.id);
      char cls[64] = {};
      GetClassNameA(child, cls, sizeof cls);
      EXPECT_STRCASEEQ(cls, ClassOf(c.kind));
      // The system converts the position and the size each on its own.
      RECT want{c.rect.x, c.rect.y, c.rect.width, c.rect.height};
      MapDialogRect(window, &want);
      RECT got{};
      GetWindowRect(child, &got);
      MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&got), 2);
      EXPECT_EQ(got.left, want.left);
      EXPECT_EQ(got.top, want.top);
      if (c.kind != Kind::Icon) {  // an icon control takes its picture's size
        EXPECT_EQ(got.right - got.left, want.right);
        EXPECT_EQ(got.bottom - got.top, want.bottom);
      }
      if (c.kind == Kind::Label || c.kind == Kind::PushButton) {
        EXPECT_EQ(WindowText(child), c.text);
      }
      if (c.Has(layout::kTabStop)) stops.push_back(child);
      child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr);
    // Tab visits the tab stops in the table's order and comes back round.
    HWND at = stops.empty() ? nullptr : stops.back();
    for (HWND stop : stops) {
      at = GetNextDlgTabItem(window, at, FALSE);
      EXPECT_EQ(at, stop);
    }
    const LRESULT def = SendMessageA(window, DM_GETDEFID, 0, 0);
    EXPECT_EQ(HIWORD(def), DC_HASDEFID);
    for (const layout::Control& c : table->controls) {
      if (c.Has(layout::kDefault)) {
        EXPECT_EQ(LOWORD(def), c.id);
      }
    }
    DestroyWindow(window);
  }
}

TEST_F(Win32Dialogs, LogListProgressBarAndFieldsOnTheirControls) {
  Dialog dialog(layout::UpdateWindow(), ui_);
  const HWND window = dialog.Create(nullptr);
  ASSERT_NE(window, nullptr);
  const HWND list = GetDlgItem(window, layout::ids::kUpdateLog);
  ListBoxLog log(list);
  auto lines = [list] {
    std::vector<std::string> out;
    char text[256];
    const int n = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
      const LRESULT len = SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
      out.emplace_back(text, static_cast<size_t>(len));
    }
    return out;
  };
  for (int i = 0; i < 12; ++i) log.AddLine("line " + std::to_string(i));
  EXPECT_EQ(SendMessageA(list, LB_GETTOPINDEX, 0, 0), 0);  // plain lines do not scroll
  log.BeginStep("Erasing Flashsector");
  EXPECT_EQ(lines().back(), "Erasing Flashsector ...");
  log.EndStep(0);
  EXPECT_EQ(lines().size(), 13u);
  EXPECT_EQ(lines().back(), "Erasing Flashsector failed");
  EXPECT_GT(SendMessageA(list, LB_GETTOPINDEX, 0, 0), 0);  // the step is in view
  EXPECT_EQ(SendMessageA(list, LB_GETCURSEL, 0, 0), LB_ERR);  // nothing selected
  log.Clear();
  log.AddLineAndShow("Caf\xe9 20\xb0");  // bytes above 127 come back as they went in
  EXPECT_EQ(lines(), std::vector<std::string>{"Caf\xe9 20\xb0"});

  EditField field(GetDlgItem(window, layout::ids::kUpdateFile));
  field.SetText("C:\\vok\\UPDATE\\\xe9t\xe9.sss");
  EXPECT_EQ(field.Text(), "C:\\vok\\UPDATE\\\xe9t\xe9.sss");

  const HWND bar = GetDlgItem(window, layout::ids::kUpdateProgress);
  ProgressBarControl progress(bar);
  const desktop::ProgressState* state = ProgressBarControl::StateOf(bar);
  ASSERT_NE(state, nullptr);
  RECT client{};
  GetClientRect(bar, &client);
  EXPECT_EQ(state->Client().right, client.right);  // attached at its size
  progress.SetProgress(2, 1);
  EXPECT_EQ(state->Position(), 500u);
  EXPECT_EQ(state->FillBoundary(), 1 + (client.right - 2) / 2);
  progress.ResetProgress();
  EXPECT_EQ(state->Position(), 0u);
  EXPECT_EQ(ProgressBarControl::StateOf(list), nullptr);
  DestroyWindow(window);
}

TEST(Win32FileDialog, FiltersBecomeNulSeparatedPairs) {
  const char pairs[] = "Update File (*.sss)\0*.sss\0";  // and the array's own NUL
  EXPECT_EQ(OpenFileFilter("Update File (*.sss) | *.sss||"), std::string(pairs, sizeof pairs));
  EXPECT_EQ(OpenFileFilter(""), std::string(1, '\0'));
}

}  // namespace
}  // namespace vok::win32
