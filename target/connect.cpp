#include "target/connect.h"

#include <cstdint>
#include <string>

#include "link/link_error.h"
#include "link/loader_commands.h"

namespace vok {

namespace {

constexpr uint32_t kApplicationRate = 9600;  // the application talks at this rate only
constexpr uint32_t kHandoverRate = 38400;    // the loader's rate after a hand-over

void SetStatus(StatusLine* status, const std::string& text) {
  if (status) status->SetStatusText(text);
}

}  // namespace

int ConnectTarget(LoaderLink& link, const AppPaths& paths, UserInterface& ui, int port_index,
                  int rate, StatusLine* status, int allow_start) {
  // The rate comes from a hand-editable file; whatever it holds is passed
  // on, and a rate the port refuses fails like a silent loader.
  const uint32_t requested = static_cast<uint32_t>(rate);

  SetStatus(status, "Connecting to target loader ...");
  int r = link.OpenLinkOnPort(port_index, requested);
  if (r == 0) {
    SetStatus(status, "");
    return 1;
  }

  if (r == kErrPortOpen) {
    // Offered once: a second failure, of whatever kind, ends the attempt.
    int chosen = port_index;
    if (ui.ChoosePort(chosen)) {
      // Written to the file only: the caller's Settings keep their port.
      WriteSettingsKey(paths, ui, "ComPort", chosen);
      if (link.OpenLinkOnPort(chosen, requested) == 0) {
        SetStatus(status, "");
        return 1;
      }
    }
    SetStatus(status, "Couldn't connect to target loader!");
    return 0;
  }

  // The hand-over takes seconds; a stop asked for meanwhile comes first.
  if (allow_start == 0 || ui.StopRequested()) return 0;

  std::string message = "Cannot connect to target loader!";
  if (link.OpenLinkPlain(port_index, kApplicationRate) == 0) {
    switch (SendTextCommand(link, "START LOADER")) {
      case 1:
        message = "Vok is busy, try again later";
        break;
      case 2:
        link.CloseLink();
        if (link.OpenLinkOnPort(port_index, kHandoverRate) == 0) {
          SetStatus(status, "");
          return 1;
        }
        break;
      default:
        // No answer the application would give: the link opened plain stays
        // open for the caller's DisconnectTarget.
        break;
    }
  }
  ui.ShowMessage(message, Buttons::Ok, Icon::Stop, kAppTitle);
  SetStatus(status, "Couldn't connect to target loader!");
  return 0;
}

void DisconnectTarget(LoaderLink& link) { link.CloseLink(); }

}  // namespace vok
