// One QApplication for all GUI tests, on the offscreen platform unless the
// caller chose another (a real display under Xvfb, say).
#include <gtest/gtest.h>

#include <QApplication>

#include "app/gui/window_style.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  vok::gui::ApplyDialogColours(app);
  return RUN_ALL_TESTS();
}
