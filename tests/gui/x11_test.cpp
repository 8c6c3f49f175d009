// The desktop program on a real X server (Xvfb): what reaches the screen,
// read back by another X client, not only what the widgets paint.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QTest>

#include "app/gui/texts.h"
#include "app/gui/window_style.h"
#include "app/settings.h"
#include "gui_test_util.h"
#include "sim_target.h"
#include "support/recorders.h"
#include "support/temp_dir.h"
#include "target/target_info_window.h"

namespace vok::gui {
namespace {

// The screen under a widget as the X server holds it, taken by another
// client, so that nothing still queued in this program's connection counts.
QImage OnScreen(const QWidget& widget) {
  const QPoint at = widget.mapToGlobal(QPoint(0, 0));
  QProcess import;
  import.start(QStringLiteral("import"),
               {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("-crop"),
                QStringLiteral("%1x%2+%3+%4").arg(widget.width()).arg(widget.height()).arg(at.x()).arg(at.y()),
                QStringLiteral("png:-")});
  if (!import.waitForFinished(20000) || import.exitCode() != 0) return QImage();
  return QImage::fromData(import.readAllStandardOutput(), "PNG").convertToFormat(QImage::Format_RGB32);
}

bool ShowsWhatItPaints(const QWidget& widget) {
  const QImage drawn = const_cast<QWidget&>(widget).grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage shown = OnScreen(widget);
  if (shown.size() != drawn.size()) return false;
  for (int y = 0; y < drawn.height(); ++y) {
    for (int x = 0; x < drawn.width(); ++x) {
      if (qRgb(qRed(shown.pixel(x, y)), qGreen(shown.pixel(x, y)), qBlue(shown.pixel(x, y))) !=
          qRgb(qRed(drawn.pixel(x, y)), qGreen(drawn.pixel(x, y)), qBlue(drawn.pixel(x, y)))) {
        return false;
      }
    }
  }
  return true;
}

TEST(GuiOnX11, TargetInformationIsOnScreenBeforeItsWorkAndShowsEachStatus) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
  test::TempDir dir;
  AppPaths paths{dir.folder()};
  test::ScriptedUi ui;
  test::SimTarget target;
  TargetInfoWindow window(*target.link, paths, ui);
  bool on_screen_at_start = false;
  std::vector<std::string> texts;
  std::vector<std::string> seen;
  QObject::connect(&window, &TargetInfoWindow::workStarting, [&] {
    on_screen_at_start = ShowsWhatItPaints(*window.StatusControl());
  });
  QObject::connect(&window, &TargetInfoWindow::statusChanged, [&](const QString& text) {
    texts.push_back(ToBytes(text));
    if (ShowsWhatItPaints(*window.StatusControl())) seen.push_back(ToBytes(text));
  });
  window.show();
  ASSERT_TRUE(test::WaitFor([&] { return window.WorkDone(); }, 60000));
  EXPECT_TRUE(on_screen_at_start) << "the window was not on screen when its work started";
  EXPECT_EQ(texts, (std::vector<std::string>{"Connecting to target loader ...", "",
                                             "Scanning for component information, please wait...",
                                             "Component versions read"}));
  EXPECT_EQ(seen, texts) << "a status text did not reach the screen while the work ran";
}

}  // namespace
}  // namespace vok::gui

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "xcb");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  vok::gui::ApplyDialogColours(app);
  return RUN_ALL_TESTS();
}
