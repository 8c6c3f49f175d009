#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <filesystem>

#include "app/gui/dialog_units.h"
#include "app/gui/log_list_widget.h"
#include "app/gui/main_window.h"
#include "app/gui/port_dialogs.h"
#include "app/gui/progress_bar_widget.h"
#include "app/gui/qt_user_interface.h"
#include "app/gui/texts.h"
#include "app/settings.h"
#include "backup/backup_dialog.h"
#include "gui_test_util.h"
#include "sim_target.h"
#include "support/recorders.h"
#include "support/temp_dir.h"
#include "target/target_info_window.h"
#include "update/update_dialog.h"

namespace vok::gui {
namespace {

using test::PaintCounter;
using test::ScriptedUi;
using test::SimTarget;
using test::TempDir;
using test::WaitFor;
using test::WhenModal;

// The update keeps its memory image in the current directory: run each
// test inside its own temporary folder.
class GuiWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    paths_.folder = dir_.folder();
    CreateWorkFolders(paths_);
  }
  void TearDown() override { std::filesystem::current_path(old_cwd_); }

  TempDir dir_;
  AppPaths paths_;
  ScriptedUi ui_;
  std::filesystem::path old_cwd_;
};

std::vector<std::string> Tail(const std::vector<std::string>& lines, size_t n) {
  return std::vector<std::string>(lines.end() - static_cast<long>(std::min(n, lines.size())),
                                  lines.end());
}

// A window stands as its layout table says: size, caption and frame, each
// control of the table's kind at its place in dialog units, and Tab going
// through the table's tab stops in their order.
void ExpectBuiltFromTable(const QDialog& window, const ControlSet& controls,
                          const layout::Window& table) {
  SCOPED_TRACE(table.caption);
  const DialogUnits du(window.font());
  EXPECT_EQ(window.size(), du.Size(table.width, table.height));
  EXPECT_EQ(window.windowTitle(), QString::fromLatin1(table.caption));
  EXPECT_EQ(bool(window.windowFlags() & Qt::WindowCloseButtonHint), table.close_box);
  ASSERT_EQ(controls.All().size(), table.controls.size());
  std::vector<QWidget*> stops;
  for (size_t i = 0; i < table.controls.size(); ++i) {
    const layout::Control& c = table.controls[i];
    QWidget* w = controls.All()[i].widget;
    SCOPED_TRACE(c.text);
    EXPECT_EQ(controls.All()[i].control, &c);
    const layout::Rect& r = c.rect;
    const QRect place = c.kind == layout::Kind::Icon ? QRect(du.X(r.x), du.Y(r.y), 32, 32)
                                                     : du.Rect(r.x, r.y, r.width, r.height);
    EXPECT_EQ(w->geometry(), place);
    const char* kinds[] = {"QPushButton", "QRadioButton", "vok::gui::GroupFrame", "QLabel",
                           c.Has(layout::kMultiLine) ? "QPlainTextEdit" : "QLineEdit",
                           "vok::gui::LogListWidget", "QLabel", "vok::gui::ProgressBarWidget"};
    EXPECT_STREQ(w->metaObject()->className(), kinds[static_cast<int>(c.kind)]);
    if (auto* b = qobject_cast<QPushButton*>(w)) {
      EXPECT_EQ(b->isDefault(), c.Has(layout::kDefault));
    }
    EXPECT_EQ(w->focusPolicy() == Qt::StrongFocus, c.Has(layout::kTabStop));
    if (c.Has(layout::kTabStop)) stops.push_back(w);
  }
  for (size_t i = 0; i < stops.size(); ++i) {
    QWidget* next = stops[i]->nextInFocusChain();
    while (std::find(stops.begin(), stops.end(), next) == stops.end()) next = next->nextInFocusChain();
    EXPECT_EQ(next, stops[(i + 1) % stops.size()]) << "after tab stop " << i;
  }
}

TEST_F(GuiWindow, EveryWindowStandsAsItsTableSays) {
  SimTarget target;
  UpdateDescription description;
  MainWindow main(*target.link, paths_, ui_, description);
  ExpectBuiltFromTable(main, main.Controls(), layout::MainWindow());
  SetupDialog setup;
  ExpectBuiltFromTable(setup, setup.Controls(), layout::SetupDialog());
  PortDialog port;
  ExpectBuiltFromTable(port, port.Controls(), layout::PortDialog());
  TargetInfoWindow info(*target.link, paths_, ui_);
  ExpectBuiltFromTable(info, info.Controls(), layout::TargetInformation());
  UpdateDialog update(*target.link, paths_, ui_, description);
  ExpectBuiltFromTable(update, update.Controls(), layout::UpdateWindow());
  BackupDialog backup(*target.link, paths_, ui_);
  ExpectBuiltFromTable(backup, backup.Controls(), layout::BackupWindow());
}

TEST_F(GuiWindow, TargetInfoStatusLineAndListingOfAScan) {
  SimTarget target;
  TargetInfoWindow window(*target.link, paths_, ui_);
  window.port_index = 0;
  window.rate = 38400;
  std::vector<std::string> status;
  QObject::connect(&window, &TargetInfoWindow::statusChanged,
                   [&status](const QString& text) { status.push_back(ToBytes(text)); });
  window.show();
  // The work waits for the event loop: the window is shown first.
  EXPECT_EQ(window.StatusControl()->text(), QStringLiteral("Info State"));
  EXPECT_TRUE(status.empty());
  ASSERT_TRUE(WaitFor([&] { return window.WorkDone(); }));

  EXPECT_EQ(status, (std::vector<std::string>{"Connecting to target loader ...", "",
                                              "Scanning for component information, please wait...",
                                              "Component versions read"}));
  EXPECT_EQ(window.StatusControl()->text(), QStringLiteral("Component versions read"));
  const std::string& listing = window.Listing();
  EXPECT_NE(listing.find("VOK Kernel V3.2.1\r\n"), std::string::npos) << listing;
  const std::string end = "VOK Loader V2.1.0\r\n \r\n";
  ASSERT_GE(listing.size(), end.size());
  EXPECT_EQ(listing.substr(listing.size() - end.size()), end);
  QString shown = FromBytes(listing);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  EXPECT_EQ(window.ListingControl()->toPlainText(), shown);
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(ui_.wait_count, 1);
  EXPECT_EQ(ui_.wait_depth, 0);
  EXPECT_FALSE(target.link->IsOpen());
  QTest::mouseClick(window.CloseButton(), Qt::LeftButton);
  EXPECT_FALSE(window.isVisible());
}

TEST_F(GuiWindow, TargetInfoWithTheTargetSwitchedOff) {
  sim::Options options;
  options.silent = true;
  SimTarget target(options);
  TargetInfoWindow window(*target.link, paths_, ui_);
  window.show();
  ASSERT_TRUE(WaitFor([&] { return window.WorkDone(); }));
  EXPECT_EQ(ui_.MessageTexts(), std::vector<std::string>{"Cannot connect to target loader!"});
  EXPECT_EQ(window.ListingControl()->toPlainText(),
            QStringLiteral("*** no target information found ***"));
  EXPECT_EQ(window.StatusControl()->text(), QStringLiteral("Couldn't connect to target loader!"));
  EXPECT_FALSE(target.link->IsOpen());
}

TEST_F(GuiWindow, UpdateRunFromTheWindow) {
  SimTarget target;
  const std::string file = dir_.file("SERVICE.SSS");
  std::vector<uint8_t> data(256);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  test::WriteSRecordFile(file, "VOK Service Monitor V1.2.0", {{0xE0000, data}});

  UpdateDescription description;
  UpdateDialog window(*target.link, paths_, ui_, description);
  window.Fields().port = 0;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_TRUE(window.FileNameEdit()->text().isEmpty());
  EXPECT_EQ(window.Progress()->Position(), 0u);

  ui_.file_choices.push_back(file);
  QTest::mouseClick(window.BrowseButton(), Qt::LeftButton);
  ASSERT_EQ(ui_.file_requests.size(), 1u);
  EXPECT_EQ(ui_.file_requests[0].title, "Select Update File");
  // The update files first, then the other formats the update reads, then any file.
  EXPECT_EQ(FileDialogFilter(ui_.file_requests[0].filter),
            QStringLiteral("Update File (*.sss);;Firmware File (*.sss *.srec *.s19 *.s28 *.s37 *.mot *.hex "
                           "*.ihex *.elf *.axf *.out);;All Files (*)"));
  EXPECT_EQ(window.FileNameEdit()->text(), FromPath(file));
  const std::vector<std::string> described = window.Log()->Lines();
  ASSERT_FALSE(described.empty()) << description.text;
  EXPECT_EQ(described.back(), "VOK Service Monitor V1.2.0");
  EXPECT_FALSE(description.text.empty());

  PaintCounter bar_paints;
  window.Progress()->installEventFilter(&bar_paints);
  QTest::mouseClick(window.UpdateButton(), Qt::LeftButton);
  const std::vector<std::string> lines = window.Log()->Lines();
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + described.size()), described);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + described.size(), lines.end()),
            (std::vector<std::string>{"Connecting to target loader passed",
                                      "Analyzing update file passed",
                                      "Reading target memory passed",
                                      "Building update command file passed",
                                      "Erasing Flashsector passed",
                                      "Programming target memory passed",
                                      "Checking erased flash passed",
                                      // The kept part is erased flash: no sample.
                                      "Confirmed by loader checksum CRC-16/CCITT-FALSE and reading",
                                      "Update of target memory succeeded"}));
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(target.sim.ReadMemory(0xE0000, data.size()), data);
  // The bar moved during the run and is empty again at its end.
  EXPECT_GT(bar_paints.paints, 3);
  EXPECT_EQ(window.Progress()->Position(), 0u);
  EXPECT_EQ(ui_.tones.size(), 12u);
  EXPECT_EQ(ui_.wait_depth, 0);
  EXPECT_FALSE(target.link->IsOpen());
  EXPECT_FALSE(std::filesystem::exists(paths_.UpdateSem()));
  EXPECT_FALSE(std::filesystem::exists("memimage.tmp"));
}

TEST_F(GuiWindow, UpdateWithoutAFileNameOnlyAsksForOne) {
  SimTarget target;
  UpdateDescription description;
  UpdateDialog window(*target.link, paths_, ui_, description);
  window.show();
  window.FileNameEdit()->setText(QStringLiteral("no-such-file.sss"));
  QTest::mouseClick(window.UpdateButton(), Qt::LeftButton);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "Enter valid update file name");
  EXPECT_EQ(ui_.messages[0].icon, Icon::Exclamation);
  EXPECT_EQ(window.Log()->count(), 0);
  EXPECT_TRUE(ui_.tones.empty());
}

TEST_F(GuiWindow, BackupRunFromTheWindow) {
  SimTarget target;
  BackupDialog window(*target.link, paths_, ui_);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  // The proposed name: BACKUP/BKyymmdd.SSS for today, beneath the application folder.
  const std::string proposed = ToPath(window.FileNameEdit()->text());
  EXPECT_EQ(proposed, DefaultBackupFileName(paths_, std::time(nullptr)));
  EXPECT_EQ(proposed.rfind(paths_.folder + "BACKUP/BK", 0), 0u) << proposed;
  EXPECT_EQ(proposed.size(), paths_.folder.size() + std::string("BACKUP/BKyymmdd.SSS").size());

  PaintCounter bar_paints;
  window.Progress()->installEventFilter(&bar_paints);
  QTest::mouseClick(window.BackupButton(), Qt::LeftButton);
  const std::vector<std::string> lines = window.Log()->Lines();
  ASSERT_GE(lines.size(), 10u);
  EXPECT_EQ(lines[0], "Connecting to target loader passed");
  EXPECT_EQ(lines[1], "Reading target information passed");
  EXPECT_EQ(lines[2], " ");
  EXPECT_EQ(lines[3].rfind("Backup of VOK System of ", 0), 0u) << lines[3];
  EXPECT_EQ(Tail(lines, 6), (std::vector<std::string>{"Creating backup file passed",
                                                      "Backup of target RAM memory passed",
                                                      "Backup of target flash memory passed",
                                                      "Closing backup file passed",
                                                      "Confirmed by loader checksum CRC-16/CCITT-FALSE",
                                                      "Backup of target memory successful"}));
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_TRUE(std::filesystem::exists(proposed));
  EXPECT_GT(std::filesystem::file_size(paths_.BackupLog()), 0u);
  EXPECT_GT(bar_paints.paints, 3);
  EXPECT_EQ(window.Progress()->Position(), 0u);
  EXPECT_EQ(ui_.tones.size(), 12u);
  EXPECT_EQ(ui_.wait_depth, 0);
  EXPECT_FALSE(target.link->IsOpen());

  // The same name again in the same window meets the overwrite question; No
  // leaves everything as it was.
  ui_.answers.push_back(Answer::No);
  QTest::mouseClick(window.BackupButton(), Qt::LeftButton);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "File already exists. Overwrite?");
  EXPECT_EQ(ui_.messages[0].buttons, Buttons::YesNo);
  EXPECT_EQ(ui_.tones.size(), 12u);
}

TEST_F(GuiWindow, MainWindowExitWritesTheSettingsTheCloseBoxDoesNot) {
  std::filesystem::remove_all(paths_.BackupDir());
  std::filesystem::remove_all(paths_.UpdateDir());
  SimTarget target;
  UpdateDescription description;
  {
    MainWindow window(*target.link, paths_, ui_, description);
    // Its creation makes the work folders; the settings file waits for "Exit".
    EXPECT_TRUE(std::filesystem::is_directory(paths_.BackupDir()));
    EXPECT_TRUE(std::filesystem::is_directory(paths_.UpdateDir()));
    window.show();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Vok Loader Version 1.1.1"));
    EXPECT_TRUE(window.ExitButton()->isDefault());
    EXPECT_EQ(window.focusWidget(), window.ExitButton());

    // "Setup..." with COM3 changes the port in memory only.
    WhenModal<SetupDialog>([](SetupDialog& d) {
      QTest::mouseClick(d.PortButton(2), Qt::LeftButton);
      QTest::mouseClick(d.OkButton(), Qt::LeftButton);
      return true;
    });
    window.OnSetup();
    EXPECT_EQ(window.CurrentSettings().port_index, 2);
    window.close();  // the close box
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_FALSE(std::filesystem::exists(paths_.Settings()));
  }
  {
    MainWindow window(*target.link, paths_, ui_, description);
    window.show();
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(window.result(), QDialog::Rejected);
    EXPECT_FALSE(std::filesystem::exists(paths_.Settings()));
  }
  {
    MainWindow window(*target.link, paths_, ui_, description);
    window.show();
    WhenModal<SetupDialog>([](SetupDialog& d) {
      QTest::mouseClick(d.PortButton(1), Qt::LeftButton);
      QTest::mouseClick(d.OkButton(), Qt::LeftButton);
      return true;
    });
    window.OnSetup();
    // The windows it opens get copies of the port: COM2 cannot be opened, so
    // the Information window's connection offers the port dialog with COM2.
    WhenModal<TargetInfoWindow>([](TargetInfoWindow& w) {
      if (!w.WorkDone()) return false;
      QTest::mouseClick(w.CloseButton(), Qt::LeftButton);
      return true;
    });
    window.OnInfo();
    EXPECT_EQ(ui_.port_dialog_preselected, std::vector<int>{1});
    // Enter right after opening is "Exit": the settings are written.
    window.ExitButton()->setFocus();
    QTest::keyClick(&window, Qt::Key_Return);
    EXPECT_EQ(window.result(), QDialog::Accepted);
  }
  ASSERT_TRUE(std::filesystem::exists(paths_.Settings()));
  EXPECT_EQ(ReadProfileInt(paths_.Settings(), "SETUP", "ComPort", -9), 1);
  EXPECT_EQ(ReadProfileInt(paths_.Settings(), "SETUP", "BackupFirst", -9), 0);
  EXPECT_EQ(ReadProfileInt(paths_.Settings(), "SETUP", "PreserveObjects", -9), 0);
  EXPECT_EQ(ReadProfileInt(paths_.Settings(), "SETUP", "Baudrate", -9), -9);  // never written
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(GuiWindow, MainWindowStartVokWithALoaderAndWithARunningApplication) {
  SimTarget target;
  UpdateDescription description;
  MainWindow window(*target.link, paths_, ui_, description);
  window.show();
  ASSERT_FALSE(target.sim.InApplication());
  QTest::mouseClick(window.StartButton(), Qt::LeftButton);
  EXPECT_TRUE(ui_.messages.empty());  // no message at all
  EXPECT_TRUE(target.sim.InApplication());
  EXPECT_FALSE(target.link->IsOpen());

  // The application runs now and the loader is silent: no hand-over is tried.
  QTest::mouseClick(window.StartButton(), Qt::LeftButton);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "Vok is already started");
  EXPECT_EQ(ui_.messages[0].icon, Icon::Warning);
  EXPECT_EQ(ui_.messages[0].buttons, Buttons::Ok);
  EXPECT_EQ(ui_.messages[0].title, "VOK Loader");
  EXPECT_TRUE(target.sim.InApplication());
  EXPECT_FALSE(target.link->IsOpen());
}

}  // namespace
}  // namespace vok::gui
