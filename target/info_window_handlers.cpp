#include "target/info_window_handlers.h"

#include "target/connect.h"
#include "target/scan.h"

namespace vok {

void TargetInfoHandlers::OnOpen(TextField& listing_control) { listing_control.SetText(listing_); }

void TargetInfoHandlers::OnStart(TextField& listing_control, StatusLine& status) {
  if (work_done_) return;
  ui_.BeginWait();
  if (ConnectTarget(link_, paths_, ui_, port_index, rate, &status, 1) == 1) {
    listing_ = ScanComponents(link_, ui_, &status);
  }
  DisconnectTarget(link_);
  ui_.EndWait();
  if (listing_.empty()) listing_ = "*** no target information found ***";
  listing_control.SetText(listing_);
  work_done_ = true;
}

}  // namespace vok
