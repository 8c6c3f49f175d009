#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "app/desktop/controls.h"
#include "app/desktop/window_layouts.h"

namespace vok::layout {
namespace {

// Each window as its layout table in the design documents gives it, one
// control a line in tab order: "id x y width height text". Written out
// independently of the tables in the code.
struct Expected {
  const Window& (*window)();
  const char* caption;
  int width, height;
  const char* font;
  const char* controls;
};

const Expected kExpected[] = {
    {&MainWindow, "VOK Loader", 318, 34, "System 10",
     "1 263 7 43 18 Exit\n"
     "1002 79 7 43 18 Update...\n"
     "1003 125 7 43 18 Backup...\n"
     "1004 171 7 43 18 Setup...\n"
     "1006 6 8 18 20 \n"
     "1001 33 7 43 18 Info...\n"
     "1005 217 7 43 18 Start Vok\n"},
    {&SetupDialog, "Setup", 85, 63, "System 10",
     "123 8 13 29 10 COM1\n"
     "124 8 25 29 10 COM2\n"
     "125 8 36 29 10 COM3\n"
     "115 8 47 29 10 COM4\n"
     "-1 4 1 38 60 &Port\n"
     "1 47 47 33 14 OK\n"
     "2 47 27 33 14 Cancel\n"},
    {&PortDialog, "Setup", 145, 79, "System 10",
     "123 7 41 29 10 COM1\n"
     "124 41 41 29 10 COM2\n"
     "125 75 41 29 10 COM3\n"
     "115 109 41 29 10 COM4\n"
     "-1 3 31 139 27 &Port\n"
     "1 77 62 33 14 OK\n"
     "2 35 62 33 14 Cancel\n"
     "-1 2 3 143 8 The selected comm port is not available.\n"
     "-1 13 13 122 8 Perhaps another program is using it.\n"
     "-1 24 23 99 8 Would you like to try another?\n"},
    {&TargetInformation, "Target Information", 217, 143, "MS Sans Serif 8",
     "1017 5 5 205 100 \n"
     "1018 5 110 205 10 Info State\n"
     "1 160 124 50 14 Close\n"},
    {&UpdateWindow, "Update Flash Memory", 261, 129, "MS Sans Serif 8",
     "-1 10 6 31 8 Filename:\n"
     "1010 43 4 140 12 \n"
     "1011 200 3 50 14 Browse...\n"
     "1008 200 22 50 14 Update\n"
     "1 200 41 50 14 Close\n"
     "-1 110 49 40 10 Update Log\n"
     "1007 10 63 240 50 \n"
     "1019 10 116 240 10 Progress Bar\n"},
    {&BackupWindow, "Backup Target Memory", 261, 133, "MS Sans Serif 8",
     "-1 10 5 49 8 Filename:\n"
     "1012 10 15 185 12 \n"
     "1013 200 14 50 14 Browse...\n"
     "-1 10 30 45 8 Backup Log:\n"
     "1016 10 40 240 50 \n"
     "1014 10 95 240 10 Progress Bar\n"
     "1015 10 110 115 14 Backup\n"
     "1 200 110 50 14 Close\n"},
};

std::string Listing(const Window& w) {
  std::ostringstream out;
  for (const Control& c : w.controls) {
    out << c.id << ' ' << c.rect.x << ' ' << c.rect.y << ' ' << c.rect.width << ' '
        << c.rect.height << ' ' << c.text << '\n';
  }
  return out.str();
}

TEST(WindowLayouts, EveryControlInTabOrderAtItsPlace) {
  ASSERT_EQ(AllWindows().size(), std::size(kExpected));
  for (const Expected& e : kExpected) {
    const Window& w = e.window();
    SCOPED_TRACE(e.caption);
    EXPECT_STREQ(w.caption, e.caption);
    EXPECT_EQ(w.width, e.width);
    EXPECT_EQ(w.height, e.height);
    EXPECT_EQ(std::string(w.font.face) + ' ' + std::to_string(w.font.points), e.font);
    EXPECT_EQ(Listing(w), e.controls);
  }
}

TEST(WindowLayouts, IdsUniqueOneDefaultButtonAndEverythingInsideTheWindow) {
  for (const Window* w : AllWindows()) {
    SCOPED_TRACE(w->caption);
    std::set<int> ids;
    int defaults = 0;
    for (const Control& c : w->controls) {
      if (c.id != kNoId) {
        EXPECT_TRUE(ids.insert(c.id).second) << "id " << c.id << " twice";
      }
      EXPECT_EQ(w->Find(c.id), c.id == kNoId ? nullptr : &c);
      if (c.Has(kDefault)) {
        ++defaults;
        EXPECT_EQ(c.kind, Kind::PushButton);
      }
      // Push buttons and fields are reached with Tab; radio buttons, labels
      // and frames are not.
      const bool input = c.kind == Kind::PushButton || c.kind == Kind::Edit || c.kind == Kind::ListBox;
      EXPECT_EQ(c.Has(kTabStop), input) << c.text;
      EXPECT_GE(c.rect.x, 0);
      EXPECT_GE(c.rect.y, 0);
      EXPECT_LE(c.rect.x + c.rect.width, w->width) << c.text;
      EXPECT_LE(c.rect.y + c.rect.height, w->height) << c.text;
    }
    EXPECT_EQ(defaults, 1);
  }
  // The radio buttons' group starts at COM1 and ends at the frame.
  for (const Window* w : {&SetupDialog(), &PortDialog()}) {
    EXPECT_TRUE(w->Find(ids::kPortRadios[0])->Has(kGroup));
    EXPECT_FALSE(w->Find(ids::kPortRadios[1])->Has(kGroup));
    EXPECT_EQ(w->controls[4].kind, Kind::GroupBox);
    EXPECT_TRUE(w->controls[4].Has(kGroup));
  }
}

TEST(DesktopControls, FileFiltersAndCentring) {
  using desktop::ParseFileFilter;
  const auto one = ParseFileFilter("Update File (*.sss) | *.sss||");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].description, "Update File (*.sss)");
  EXPECT_EQ(one[0].patterns, "*.sss");
  EXPECT_EQ(ParseFileFilter("A|*.a;*.b|B|*.*||").size(), 2u);
  EXPECT_TRUE(ParseFileFilter("").empty());

  using desktop::CentredPosition;
  EXPECT_EQ(CentredPosition({0, 0, 800, 600}, 301, 100), (desktop::Point{249, 250}));
  EXPECT_EQ(CentredPosition({0, 0, 800, 600}, 1001, 700), (desktop::Point{-100, -50}));
  EXPECT_EQ(CentredPosition({1920, 0, 3200, 1024}, 300, 200), (desktop::Point{2410, 412}));
}

}  // namespace
}  // namespace vok::layout
