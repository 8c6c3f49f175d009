#pragma once

#include <cstdint>
#include <span>

// Every window of the desktop program described once, as data: caption,
// size and font, and the controls in tab order with their kind, id, text,
// rectangle in dialog units and style. The Qt windows and the Windows dialog
// templates are both built from these tables; no control's rectangle is
// written anywhere else.
namespace vok::layout {

enum class Kind : uint8_t {
  PushButton,
  RadioButton,  // automatic: checking one clears the others of its group
  GroupBox,     // a frame with a caption on its top line; takes no input
  Label,        // static text
  Edit,
  ListBox,      // unsorted, single selection
  Icon,         // the application icon, at its own size of 32 by 32 pixels
  ProgressBar,  // drawn by the program's progress bar; "Progress Bar" is its placeholder text
};

// Style flags; each front end maps them onto its toolkit's own.
enum Flag : uint32_t {
  kDefault = 1u << 0,      // default push button: Enter presses it
  kTabStop = 1u << 1,      // reached with Tab
  kGroup = 1u << 2,        // starts a group: the arrow keys move within it
  kReadOnly = 1u << 3,     // an edit field the user cannot change
  kBorder = 1u << 4,       // sunken edge around an edit field or list
  kVScroll = 1u << 5,      // vertical scroll bar
  kMultiLine = 1u << 6,    // edit field of several lines
  kAutoHScroll = 1u << 7,  // one-line edit field that scrolls sideways as one types
  kCentre = 1u << 8,       // text centred; otherwise left-aligned
};

// x, y, width, height in dialog units.
struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

inline constexpr int kNoId = -1;  // labels and frames that nobody addresses

struct Control {
  Kind kind;
  int id;
  const char* text;
  Rect rect;
  uint32_t flags;

  bool Has(Flag flag) const { return (flags & flag) != 0; }
};

struct Font {
  const char* face;
  int points;
};
// The procedure windows' font and the main window's and port dialogs' font.
inline constexpr Font kSmallFont{"MS Sans Serif", 8};
inline constexpr Font kSystemFont{"System", 10};

struct Window {
  const char* caption;
  int width, height;  // dialog units
  Font font;
  bool close_box;     // title bar with a close box; otherwise a caption only
  std::span<const Control> controls;

  // The control with this id; null when there is none.
  const Control* Find(int id) const;
};

// Control ids. Buttons that end a dialog carry the platform's OK and Cancel
// ids, so that Enter and Escape reach them.
namespace ids {
inline constexpr int kOk = 1, kCancel = 2;

inline constexpr int kMainExit = kOk;
inline constexpr int kMainInfo = 1001, kMainUpdate = 1002, kMainBackup = 1003,
                     kMainSetup = 1004, kMainStartVok = 1005, kMainIcon = 1006;

// COM1 to COM4, in the order of their group: a button's index there is the
// port index.
inline constexpr int kPortRadios[4] = {123, 124, 125, 115};

inline constexpr int kInfoListing = 1017, kInfoStatus = 1018, kInfoClose = kOk;

inline constexpr int kUpdateFile = 1010, kUpdateBrowse = 1011, kUpdateRun = 1008,
                     kUpdateClose = kOk, kUpdateLog = 1007, kUpdateProgress = 1019;

inline constexpr int kBackupFile = 1012, kBackupBrowse = 1013, kBackupLog = 1016,
                     kBackupProgress = 1014, kBackupRun = 1015, kBackupClose = kOk;
}  // namespace ids

// The controls of a window that runs a procedure on a file: the Update and
// Backup windows.
struct ProcedureControls {
  int file, browse, run, close, log, progress;
};
inline constexpr ProcedureControls kUpdateControls{ids::kUpdateFile, ids::kUpdateBrowse,
                                                   ids::kUpdateRun,  ids::kUpdateClose,
                                                   ids::kUpdateLog,  ids::kUpdateProgress};
inline constexpr ProcedureControls kBackupControls{ids::kBackupFile, ids::kBackupBrowse,
                                                   ids::kBackupRun,  ids::kBackupClose,
                                                   ids::kBackupLog,  ids::kBackupProgress};

// The listing's one tab stop, in dialog units: the tab of a
// "name<TAB>CRC failure" line lines up with the versions.
inline constexpr int kInfoListingTabStop = 150;

const Window& MainWindow();
const Window& SetupDialog();
const Window& PortDialog();
const Window& TargetInformation();
const Window& UpdateWindow();
const Window& BackupWindow();

// All six, for checks that hold for every window.
std::span<const Window* const> AllWindows();

}  // namespace vok::layout
