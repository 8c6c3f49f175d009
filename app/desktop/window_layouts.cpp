#include "app/desktop/window_layouts.h"

namespace vok::layout {

namespace {

using K = Kind;

constexpr uint32_t kButton = kTabStop;
constexpr uint32_t kField = kBorder | kAutoHScroll | kTabStop;
constexpr uint32_t kList = kBorder | kVScroll | kTabStop;

// The row of buttons; read from left to right it is icon, "Info...",
// "Update...", "Backup...", "Setup...", "Start Vok", "Exit".
constexpr Control kMainControls[] = {
    {K::PushButton, ids::kMainExit, "Exit", {263, 7, 43, 18}, kButton | kDefault},
    {K::PushButton, ids::kMainUpdate, "Update...", {79, 7, 43, 18}, kButton},
    {K::PushButton, ids::kMainBackup, "Backup...", {125, 7, 43, 18}, kButton},
    {K::PushButton, ids::kMainSetup, "Setup...", {171, 7, 43, 18}, kButton},
    {K::Icon, ids::kMainIcon, "", {6, 8, 18, 20}, 0},
    {K::PushButton, ids::kMainInfo, "Info...", {33, 7, 43, 18}, kButton},
    {K::PushButton, ids::kMainStartVok, "Start Vok", {217, 7, 43, 18}, kButton},
};

// The ports are reached by clicking or the arrow keys, not by Tab.
constexpr Control kSetupControls[] = {
    {K::RadioButton, ids::kPortRadios[0], "COM1", {8, 13, 29, 10}, kGroup},
    {K::RadioButton, ids::kPortRadios[1], "COM2", {8, 25, 29, 10}, 0},
    {K::RadioButton, ids::kPortRadios[2], "COM3", {8, 36, 29, 10}, 0},
    {K::RadioButton, ids::kPortRadios[3], "COM4", {8, 47, 29, 10}, 0},
    {K::GroupBox, kNoId, "&Port", {4, 1, 38, 60}, kGroup},
    {K::PushButton, ids::kOk, "OK", {47, 47, 33, 14}, kButton | kDefault},
    {K::PushButton, ids::kCancel, "Cancel", {47, 27, 33, 14}, kButton},
};

constexpr Control kPortControls[] = {
    {K::RadioButton, ids::kPortRadios[0], "COM1", {7, 41, 29, 10}, kGroup},
    {K::RadioButton, ids::kPortRadios[1], "COM2", {41, 41, 29, 10}, 0},
    {K::RadioButton, ids::kPortRadios[2], "COM3", {75, 41, 29, 10}, 0},
    {K::RadioButton, ids::kPortRadios[3], "COM4", {109, 41, 29, 10}, 0},
    {K::GroupBox, kNoId, "&Port", {3, 31, 139, 27}, kGroup},
    {K::PushButton, ids::kOk, "OK", {77, 62, 33, 14}, kButton | kDefault},
    {K::PushButton, ids::kCancel, "Cancel", {35, 62, 33, 14}, kButton},
    {K::Label, kNoId, "The selected comm port is not available.", {2, 3, 143, 8}, kCentre},
    {K::Label, kNoId, "Perhaps another program is using it.", {13, 13, 122, 8}, 0},
    {K::Label, kNoId, "Would you like to try another?", {24, 23, 99, 8}, 0},
};

constexpr Control kInfoControls[] = {
    {K::Edit, ids::kInfoListing, "", {5, 5, 205, 100},
     kMultiLine | kReadOnly | kVScroll | kBorder | kTabStop},
    {K::Label, ids::kInfoStatus, "Info State", {5, 110, 205, 10}, kCentre},
    {K::PushButton, ids::kInfoClose, "Close", {160, 124, 50, 14}, kButton | kDefault},
};

// Enter presses "Close" unless the focus stands on another button.
constexpr Control kUpdateControls[] = {
    {K::Label, kNoId, "Filename:", {10, 6, 31, 8}, 0},
    {K::Edit, ids::kUpdateFile, "", {43, 4, 140, 12}, kField},
    {K::PushButton, ids::kUpdateBrowse, "Browse...", {200, 3, 50, 14}, kButton},
    {K::PushButton, ids::kUpdateRun, "Update", {200, 22, 50, 14}, kButton},
    {K::PushButton, ids::kUpdateClose, "Close", {200, 41, 50, 14}, kButton | kDefault},
    {K::Label, kNoId, "Update Log", {110, 49, 40, 10}, 0},
    {K::ListBox, ids::kUpdateLog, "", {10, 63, 240, 50}, kList},
    {K::ProgressBar, ids::kUpdateProgress, "Progress Bar", {10, 116, 240, 10}, kCentre},
};

constexpr Control kBackupControls[] = {
    {K::Label, kNoId, "Filename:", {10, 5, 49, 8}, 0},
    {K::Edit, ids::kBackupFile, "", {10, 15, 185, 12}, kField},
    {K::PushButton, ids::kBackupBrowse, "Browse...", {200, 14, 50, 14}, kButton},
    {K::Label, kNoId, "Backup Log:", {10, 30, 45, 8}, 0},
    {K::ListBox, ids::kBackupLog, "", {10, 40, 240, 50}, kList},
    {K::ProgressBar, ids::kBackupProgress, "Progress Bar", {10, 95, 240, 10}, kCentre},
    {K::PushButton, ids::kBackupRun, "Backup", {10, 110, 115, 14}, kButton},
    {K::PushButton, ids::kBackupClose, "Close", {200, 110, 50, 14}, kButton | kDefault},
};

// Its title at run time is "Vok Loader Version 1.1.1".
constexpr Window kMain{"VOK Loader", 318, 34, kSystemFont, true, kMainControls};
constexpr Window kSetup{"Setup", 85, 63, kSystemFont, false, kSetupControls};
constexpr Window kPort{"Setup", 145, 79, kSystemFont, false, kPortControls};
constexpr Window kInfo{"Target Information", 217, 143, kSmallFont, false, kInfoControls};
constexpr Window kUpdate{"Update Flash Memory", 261, 129, kSmallFont, true, kUpdateControls};
constexpr Window kBackup{"Backup Target Memory", 261, 133, kSmallFont, true, kBackupControls};

constexpr const Window* kAll[] = {&kMain, &kSetup, &kPort, &kInfo, &kUpdate, &kBackup};

}  // namespace

const Control* Window::Find(int id) const {
  for (const Control& c : controls) {
    if (c.id == id && id != kNoId) return &c;
  }
  return nullptr;
}

const Window& MainWindow() { return kMain; }
const Window& SetupDialog() { return kSetup; }
const Window& PortDialog() { return kPort; }
const Window& TargetInformation() { return kInfo; }
const Window& UpdateWindow() { return kUpdate; }
const Window& BackupWindow() { return kBackup; }

std::span<const Window* const> AllWindows() { return kAll; }

}  // namespace vok::layout
