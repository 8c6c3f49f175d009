#pragma once

#include <string>

#include "app/settings.h"
#include "app/user_interface.h"
#include "link/loader_link.h"

namespace vok {

// What the Target Information window does, whichever toolkit draws it: once
// the window is on screen it connects to the target loader, scans for the
// firmware components and shows their listing, with a status line that
// tells what is going on. It changes nothing on the target.
class TargetInfoHandlers {
 public:
  TargetInfoHandlers(LoaderLink& link, const AppPaths& paths, UserInterface& ui)
      : link_(link), paths_(paths), ui_(ui) {}

  // Copies of the main window's settings, set before the window opens.
  int port_index = 0;
  int rate = 38400;

  // Window start-up: the listing, still empty, into its control.
  void OnOpen(TextField& listing_control);
  // The work. The window starts it once it has been painted, so that the
  // status texts are seen as they change.
  void OnStart(TextField& listing_control, StatusLine& status);

  // The listing as bytes; empty until the work has run.
  const std::string& Listing() const { return listing_; }
  bool WorkDone() const { return work_done_; }

 private:
  LoaderLink& link_;
  const AppPaths& paths_;
  UserInterface& ui_;
  std::string listing_;
  bool work_done_ = false;
};

}  // namespace vok
