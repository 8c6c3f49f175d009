#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "app/desktop/controls.h"
#include "app/desktop/window_layouts.h"
#include "support/golden.h"

namespace vok::layout {
namespace {

// Every window as a listing: caption, size, font, then one control a line in
// tab order, "id x y width height text". The golden file was checked once
// against the windows' design and is the record of it: a moved control
// shows as a diff.
std::string Listing(const Window& w) {
  std::ostringstream out;
  out << w.caption << ' ' << w.width << ' ' << w.height << ' ' << w.font.face << ' ' << w.font.points
      << '\n';
  for (const Control& c : w.controls) {
    out << c.id << ' ' << c.rect.x << ' ' << c.rect.y << ' ' << c.rect.width << ' '
        << c.rect.height << ' ' << c.text << '\n';
  }
  return out.str();
}

TEST(WindowLayouts, GoldenListingOfEveryControlInTabOrder) {
  std::string all;
  for (const Window* w : AllWindows()) all += Listing(*w) + '\n';
  EXPECT_TRUE(test::MatchesGolden("window_layouts.txt", all));
}

bool Overlap(const Rect& a, const Rect& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

bool Inside(const Rect& inner, const Rect& outer) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

TEST(WindowLayouts, NoControlCoversAnotherButAFrameItsContents) {
  for (const Window* w : AllWindows()) {
    SCOPED_TRACE(w->caption);
    for (size_t i = 0; i < w->controls.size(); ++i) {
      for (size_t j = i + 1; j < w->controls.size(); ++j) {
        const Control& a = w->controls[i];
        const Control& b = w->controls[j];
        if (!Overlap(a.rect, b.rect)) continue;
        const bool framed = (a.kind == Kind::GroupBox && Inside(b.rect, a.rect)) ||
                            (b.kind == Kind::GroupBox && Inside(a.rect, b.rect));
        EXPECT_TRUE(framed) << '"' << a.text << "\" and \"" << b.text << "\" overlap";
      }
    }
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
