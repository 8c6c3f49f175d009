#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QRadioButton>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include "app/gui/dialog_units.h"
#include "app/gui/log_list_widget.h"
#include "app/gui/port_dialogs.h"
#include "app/gui/progress_bar_widget.h"
#include "app/gui/qt_user_interface.h"
#include "app/tone_output.h"
#include "app/gui/window_builder.h"
#include "app/gui/window_style.h"
#include "gui_test_util.h"

namespace vok::gui {
namespace {

using vok::test::PaintCounter;

// Colours that cannot be mistaken for one another on the rendered image.
const QColor kFace(192, 192, 192), kBar(0, 0, 128), kText(255, 0, 0);
const QColor kShadow(128, 128, 128), kLight(255, 255, 255);

bool IsTextPixel(QRgb p) { return qRed(p) >= 200 && qGreen(p) <= 100 && qBlue(p) <= 100; }

struct TextBox {
  int count = 0, left = 1 << 20, right = -1;
};
TextBox FindText(const QImage& image) {
  TextBox box;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (!IsTextPixel(image.pixel(x, y))) continue;
      ++box.count;
      box.left = std::min(box.left, x);
      box.right = std::max(box.right, x);
    }
  }
  return box;
}

class GuiProgressBar : public ::testing::Test {
 protected:
  void SetUp() override {
    QPalette p = bar.palette();
    p.setColor(QPalette::Button, kFace);
    p.setColor(QPalette::Highlight, kBar);
    p.setColor(QPalette::HighlightedText, kText);
    p.setColor(QPalette::Dark, kShadow);
    p.setColor(QPalette::Light, kLight);
    bar.setPalette(p);
    bar.resize(300, 18);
    bar.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&bar));
    bar.AttachToControl();
    bar.installEventFilter(&counter);
  }
  QImage Image() { return bar.grab().toImage().convertToFormat(QImage::Format_RGB32); }

  ProgressBarWidget bar;
  PaintCounter counter;
};

TEST_F(GuiProgressBar, HalfwayFillsHalfTheBarAndDrawsFiftyPercent) {
  bar.SetProgress(2, 1);
  EXPECT_EQ(counter.paints, 1);  // at once, not at the next idle moment
  EXPECT_EQ(bar.Position(), 500u);
  const QRect inner = bar.InnerRect();
  EXPECT_EQ(inner, QRect(1, 1, 298, 16));
  EXPECT_EQ(bar.FillBoundary(), 1 + 298 / 2);

  const QImage image = Image();
  // The lowest row of the bar lies below the text: fill up to the boundary,
  // face colour after it.
  const int row = inner.bottom();
  for (int x = inner.left(); x <= inner.right(); ++x) {
    const QColor expected = x < bar.FillBoundary() ? kBar : kFace;
    ASSERT_EQ(QColor(image.pixel(x, row)), expected) << "x=" << x;
  }
  // Sunken frame: dark left and top, light right and bottom.
  EXPECT_EQ(QColor(image.pixel(0, 8)), kShadow);
  EXPECT_EQ(QColor(image.pixel(100, 0)), kShadow);
  EXPECT_EQ(QColor(image.pixel(299, 8)), kLight);
  EXPECT_EQ(QColor(image.pixel(100, 17)), kLight);
  // "50%", centred on the whole control.
  const TextBox text = FindText(image);
  ASSERT_GT(text.count, 10);
  const int width = QFontMetrics(bar.font()).boundingRect(QStringLiteral("50%")).width();
  EXPECT_NEAR(text.right - text.left + 1, width, 3);
  EXPECT_NEAR((text.left + text.right) / 2.0, 150, 2.5);

  // The same position again, however it is reached: no repaint.
  counter.paints = 0;  // the grab painted too
  bar.SetProgress(2, 1);
  bar.SetProgress(4, 2);
  bar.SetProgress(2000, 1000);
  EXPECT_EQ(counter.paints, 0);
  bar.SetProgress(4, 3);
  EXPECT_EQ(counter.paints, 1);
  EXPECT_EQ(bar.Position(), 750u);
}

TEST_F(GuiProgressBar, ResetLeavesAnEmptyFramedBarWithoutText) {
  bar.SetProgress(3, 2);
  bar.ResetProgress();
  EXPECT_EQ(bar.Position(), 0u);
  const QImage image = Image();
  EXPECT_EQ(FindText(image).count, 0);
  const QRect inner = bar.InnerRect();
  for (int y = inner.top(); y <= inner.bottom(); ++y) {
    for (int x = inner.left(); x <= inner.right(); ++x) {
      ASSERT_EQ(QColor(image.pixel(x, y)), kFace) << x << "," << y;
    }
  }
  EXPECT_EQ(QColor(image.pixel(0, 0)), kShadow);
  EXPECT_EQ(QColor(image.pixel(299, 17)), kLight);
  // Nothing done on an empty bar changes nothing.
  const int paints = counter.paints;
  bar.SetProgress(10, 0);
  EXPECT_EQ(counter.paints, paints);
}

TEST_F(GuiProgressBar, PositionsTruncateTheTextAndCapTheFill) {
  bar.SetProgress(1000, 1);  // 0.1 %: a sliver of text, no fill yet
  EXPECT_EQ(bar.Position(), 1u);
  EXPECT_EQ(bar.FillBoundary(), bar.InnerRect().left());
  EXPECT_GT(FindText(Image()).count, 0);  // "0%"
  bar.SetProgress(3, 1);
  EXPECT_EQ(bar.Position(), 333u);
  bar.SetProgress(7, 9);  // more done than there is: full
  EXPECT_EQ(bar.Position(), 1000u);
  EXPECT_EQ(bar.FillBoundary(), 299);
  // Byte counts of a large file must not wrap.
  bar.SetProgress(4000000000u, 3000000000u);
  EXPECT_EQ(bar.Position(), 750u);
}

TEST(GuiLogList, StepsReplaceTheirPendingLineAndNoLineStaysSelected) {
  LogListWidget log;
  log.resize(200, 60);  // room for a few lines only
  log.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&log));
  auto visible = [&log](int index) {
    return log.viewport()->rect().intersects(log.visualItemRect(log.item(index)));
  };
  for (int i = 0; i < 12; ++i) log.AddLine("line " + std::to_string(i));
  EXPECT_EQ(log.verticalScrollBar()->value(), 0);  // plain lines do not scroll
  EXPECT_FALSE(visible(11));

  log.BeginStep("Erasing Flashsector");
  EXPECT_EQ(log.PendingIndex(), 12);
  EXPECT_EQ(log.Lines().back(), "Erasing Flashsector ...");
  EXPECT_TRUE(visible(12));
  EXPECT_TRUE(log.selectedItems().isEmpty());

  log.EndStep(0);
  ASSERT_EQ(log.count(), 13);
  EXPECT_EQ(log.Lines().back(), "Erasing Flashsector failed");
  EXPECT_TRUE(visible(12));
  EXPECT_TRUE(log.selectedItems().isEmpty());

  log.BeginStep("Programming target memory");
  log.EndStep(7);
  EXPECT_EQ(log.Lines().back(), "Programming target memory passed");

  log.verticalScrollBar()->setValue(0);
  log.AddLineAndShow("Update of target memory succeeded");
  EXPECT_TRUE(visible(log.count() - 1));
  EXPECT_TRUE(log.selectedItems().isEmpty());

  // Emptying the list starts the steps at the top again.
  log.Clear();
  EXPECT_EQ(log.count(), 0);
  log.BeginStep("");
  EXPECT_EQ(log.PendingIndex(), 0);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{" ..."});
  log.EndStep(1);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{" passed"});

  // Bytes above 127 come back as they went in.
  const std::string bytes = "Caf\xe9 \xb0" "C \x80\xff";
  log.AddLine(bytes);
  EXPECT_EQ(log.Lines().back(), bytes);
  EXPECT_EQ(log.item(1)->text(), QString::fromUtf8("Caf\u00e9 \u00b0C \u0080\u00ff"));
}

TEST(GuiPlacement, WindowsStandAtTheCentreOfTheScreen) {
  QWidget window;
  window.resize(301, 101);
  CentreOnScreen(window);
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(window.pos(), CentredPosition(screen, QSize(301, 101)));
  EXPECT_EQ(window.size(), QSize(301, 101));
}

TEST(GuiDialogUnits, ConvertThroughTheFontsBaseUnits) {
  const DialogUnits classic(6, 13);
  EXPECT_EQ(classic.Rect(5, 5, 205, 100), QRect(8, 8, 308, 163));  // halves round up
  EXPECT_EQ(classic.Size(318, 34), QSize(477, 55));
  const QFont font = SmallDialogFont();
  const DialogUnits du(font);
  EXPECT_EQ(du.CharHeight(), QFontMetrics(font).height());
  EXPECT_EQ(du.Y(8), du.CharHeight());
  EXPECT_EQ(du.X(4), du.CharWidth());
  EXPECT_EQ(font.pointSize(), 8);
  EXPECT_EQ(SystemDialogFont().pointSize(), 10);
}

TEST(GuiSetupDialog, ShowsTheIndexAndReadsItBackOnOkOnly) {
  {
    SetupDialog dialog;
    dialog.SetPortIndex(2);
    dialog.show();
    EXPECT_TRUE(dialog.PortButton(2)->isChecked());
    EXPECT_FALSE(dialog.PortButton(0)->isChecked());
    EXPECT_TRUE(dialog.OkButton()->isDefault());
    QTest::mouseClick(dialog.PortButton(0), Qt::LeftButton);
    QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.PortIndex(), 0);
  }
  {
    SetupDialog dialog;
    dialog.SetPortIndex(7);  // from a hand-edited settings file
    dialog.show();
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(dialog.PortButton(i)->isChecked()) << i;
    QTest::keyClick(&dialog, Qt::Key_Return);  // Enter is "OK"
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.PortIndex(), -1);
  }
  {
    SetupDialog dialog;
    dialog.SetPortIndex(2);
    dialog.show();
    QTest::mouseClick(dialog.PortButton(3), Qt::LeftButton);
    QTest::mouseClick(dialog.CancelButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(dialog.PortIndex(), 2);
  }
  {
    PortDialog dialog;
    dialog.SetPortIndex(1);
    dialog.show();
    EXPECT_TRUE(dialog.PortButton(1)->isChecked());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
  }
}

// Fusion draws push buttons with a gradient; the dialogs' buttons are flat.
TEST(GuiDialogStyle, PushButtonsAreFlatGreyWithABevel) {
  QPushButton button(QStringLiteral("OK"));
  button.resize(80, 28);
  const QImage image = button.grab().toImage().convertToFormat(QImage::Format_RGB32);
  // Left of the text, every row inside the bevel is the button face.
  for (int y = 2; y < image.height() - 2; ++y) {
    for (int x = 2; x < 12; ++x) ASSERT_EQ(QColor(image.pixel(x, y)), kFace) << x << "," << y;
  }
  EXPECT_EQ(QColor(image.pixel(0, 10)), QColor(Qt::white));
  EXPECT_EQ(QColor(image.pixel(image.width() - 1, 10)), QColor(Qt::black));
}

TEST(GuiDialogStyle, TheGroupCaptionStandsOnTheFrameLine) {
  SetupDialog setup;
  GroupFrame* frame = nullptr;
  for (const ControlSet::Entry& e : setup.Controls().All()) {
    if (e.control->kind == layout::Kind::GroupBox) frame = qobject_cast<GroupFrame*>(e.widget);
  }
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->Caption(), QStringLiteral("&Port"));
  const QImage image = frame->grab().toImage().convertToFormat(QImage::Format_RGB32);
  // The frame's top line, found in its left edge.
  int line = -1;
  for (int y = 0; y < image.height() && line < 0; ++y) {
    if (QColor(image.pixel(0, y)) == kShadow) line = y;
  }
  ASSERT_GT(line, 0);
  // The caption's letters stand above and below that line, and the line
  // itself is broken where they stand.
  int above = 0, below = 0;
  for (int y = 0; y < image.height() / 2; ++y) {
    for (int x = 7; x < 30; ++x) {
      if (QColor(image.pixel(x, y)).lightness() < 60) (y < line ? above : below)++;
    }
  }
  EXPECT_GT(above, 3);
  EXPECT_GT(below, 3);
  EXPECT_NE(QColor(image.pixel(9, line)), kShadow);
  EXPECT_EQ(QColor(image.pixel(image.width() - 3, line)), kShadow);
}

TEST(GuiFileDialog, FiltersBecomeTheDialogsNameFilters) {
  EXPECT_EQ(FileDialogFilter("Update File (*.sss) | *.sss||"), QStringLiteral("Update File (*.sss)"));
  EXPECT_EQ(FileDialogFilter("Images|*.sss;*.s19|All Files (*.*)|*.*||"),
            QStringLiteral("Images (*.sss *.s19);;All Files (*.*)"));
  EXPECT_EQ(FileDialogFilter(""), QString());
}

TEST(GuiTones, SquareWaveOfTheRightLengthAndPitch) {
  const std::vector<int16_t> s = ToneSamples(440, 83, 44100);
  ASSERT_EQ(s.size(), 3660u);  // 44100 * 0.083
  int changes = 0;
  for (size_t i = 1; i < s.size(); ++i) {
    if ((s[i - 1] >= 0) != (s[i] >= 0)) ++changes;
  }
  EXPECT_NEAR(changes, 2 * 440 * 83 / 1000, 2);  // two sign changes a period
  EXPECT_EQ(s.front(), 0);                        // ramps against clicks
  EXPECT_EQ(s.back(), 0);
  EXPECT_TRUE(ToneSamples(0, 10, 44100) == std::vector<int16_t>(441, 0));
}

}  // namespace
}  // namespace vok::gui
