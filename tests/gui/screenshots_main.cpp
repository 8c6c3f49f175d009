// Renders every window of the desktop program into PNG files, driven against
// the in-process simulated controller with its demo firmware:
//   vokloader_screenshots DIR
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QTest>
#include <cstdio>
#include <filesystem>

#include "app/gui/main_window.h"
#include "app/gui/port_dialogs.h"
#include "app/gui/window_style.h"
#include "backup/backup_dialog.h"
#include "sim_target.h"
#include "support/recorders.h"
#include "target/target_info_window.h"
#include "update/update_dialog.h"

namespace {

using namespace vok;
using namespace vok::gui;

void Settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Xvfb runs without a window manager, so the picture gets a plain title bar
// drawn here from the window's own title and frame flags: the close box only
// where the window has one.
QImage WithTitleBar(const QWidget& window, const QImage& client) {
  constexpr int kBar = 20, kBorder = 2;
  QImage framed(client.width() + 2 * kBorder, client.height() + kBar + 2 * kBorder,
                QImage::Format_RGB32);
  framed.fill(QColor(192, 192, 192));
  QPainter p(&framed);
  const QRect outer = framed.rect();
  p.setPen(Qt::white);
  p.drawLine(outer.topLeft(), outer.topRight());
  p.drawLine(outer.topLeft(), outer.bottomLeft());
  p.setPen(QColor(64, 64, 64));
  p.drawLine(outer.bottomLeft(), outer.bottomRight());
  p.drawLine(outer.topRight(), outer.bottomRight());
  const QRect bar(kBorder, kBorder, client.width(), kBar - 2);
  QLinearGradient fill(bar.topLeft(), bar.topRight());
  fill.setColorAt(0, QColor(0, 0, 128));
  fill.setColorAt(1, QColor(16, 132, 208));
  p.fillRect(bar, fill);
  QFont font = window.font();
  font.setBold(true);
  font.setPixelSize(12);
  p.setFont(font);
  p.setPen(Qt::white);
  p.drawText(bar.adjusted(4, 0, -24, 0), Qt::AlignLeft | Qt::AlignVCenter, window.windowTitle());
  if (window.windowFlags() & Qt::WindowCloseButtonHint) {
    const QRect box(bar.right() - 17, bar.top() + 2, 16, 14);
    p.fillRect(box, QColor(192, 192, 192));
    p.setPen(Qt::white);
    p.drawLine(box.topLeft(), box.topRight());
    p.drawLine(box.topLeft(), box.bottomLeft());
    p.setPen(Qt::black);
    p.drawLine(box.bottomLeft(), box.bottomRight());
    p.drawLine(box.topRight(), box.bottomRight());
    p.setPen(QPen(Qt::black, 1.6));
    p.setRenderHint(QPainter::Antialiasing);
    p.drawLine(box.topLeft() + QPointF(5, 4), box.bottomRight() - QPointF(4, 3));
    p.drawLine(QPointF(box.right() - 4, box.top() + 4), QPointF(box.left() + 5, box.bottom() - 3));
    p.setRenderHint(QPainter::Antialiasing, false);
  }
  p.drawImage(kBorder, kBorder + kBar, client);
  return framed;
}

bool Shoot(QWidget& window, const QString& file) {
  if (!window.isVisible()) window.show();
  window.raise();
  window.activateWindow();
  if (!QTest::qWaitForWindowExposed(&window)) return false;
  Settle(200);
  const QImage picture = WithTitleBar(window, window.grab().toImage());
  const bool ok = picture.save(file, "PNG");
  std::printf("%s %s (%dx%d)\n", ok ? "wrote" : "FAILED", qPrintable(file), picture.width(),
              picture.height());
  return ok;
}

// A new component for the free flash sector at 0xE0000: header there, its
// code at 0xE1000.
void WriteDemoUpdate(const std::string& path) {
  std::vector<uint8_t> code(1024);
  for (size_t i = 0; i < code.size(); ++i) code[i] = static_cast<uint8_t>(i * 37 + 11);
  const uint16_t crc = sim::Simulator::Checksum(code.data(), code.size());
  std::vector<uint8_t> header(64, 0);
  const uint8_t fixed[] = {0xAA, 0x55, 0x55, 0xAA, 0x00, 0x0E, 0x10, 0x00, 0x00, 0x00, 0x04, 0x00,
                           static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc), 5, 1, 0, 0};
  std::copy(std::begin(fixed), std::end(fixed), header.begin());
  const std::string name = "VOK Demo Extension";
  std::copy(name.begin(), name.end(), header.begin() + 22);
  // Only the header and the code: the gap between them is not in the file.
  test::WriteSRecordFile(path, "VOK Demo Extension V1.0.0",
                         {{0xE0000, header}, {0xE1000, code}});
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: vokloader_screenshots DIR\n");
    return 2;
  }
  const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  QDir().mkpath(out);
  ApplyDialogColours(app);
  QApplication::setWindowIcon(ApplicationIcon());

  // An application folder of its own, under a fixed name so that the paths
  // in the pictures stay the same; the update's memory image goes to the
  // current directory, so work there too.
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "vokloader";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  std::filesystem::current_path(folder);
  AppPaths paths{folder.string() + "/"};
  test::SimTarget target;
  test::ScriptedUi ui;
  UpdateDescription description;
  bool ok = true;

  {
    MainWindow window(*target.link, paths, ui, description);
    ok &= Shoot(window, out + "/main.png");
  }
  {
    SetupDialog dialog;
    dialog.SetPortIndex(0);
    ok &= Shoot(dialog, out + "/setup.png");
  }
  {
    PortDialog dialog;
    dialog.SetPortIndex(1);
    ok &= Shoot(dialog, out + "/port.png");
  }
  {
    TargetInfoWindow window(*target.link, paths, ui);
    window.show();
    QElapsedTimer t;
    t.start();
    while (!window.WorkDone() && t.elapsed() < 30000) QCoreApplication::processEvents();
    ok &= window.WorkDone() && Shoot(window, out + "/info.png");
  }
  {
    const std::string file = paths.UpdateDir() + "/DEMO.SSS";
    WriteDemoUpdate(file);
    ui.file_choices.push_back(file);
    UpdateDialog window(*target.link, paths, ui, description);
    window.show();
    Settle(100);
    window.Browse();
    window.Update();
    ok &= Shoot(window, out + "/update.png");
  }
  {
    BackupDialog window(*target.link, paths, ui);
    window.show();
    Settle(100);
    window.Backup();
    ok &= Shoot(window, out + "/backup.png");
  }
  for (const std::string& m : ui.MessageTexts()) std::printf("message: %s\n", m.c_str());
  std::filesystem::current_path("/");
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return ok ? 0 : 1;
}
