#pragma once

#include "app/settings.h"
#include "app/user_interface.h"
#include "link/loader_link.h"

namespace vok {

// Brings the target loader up on the given port: opens the link with rate
// negotiation, offers the port dialog once when the port cannot be opened
// (the choice is written to ComPort of the settings file at once) and, when
// allow_start is set and the loader is silent, asks the target's
// application to hand over ("START LOADER") and connects again.
//
// 1 when the link is open and the loader answers, 0 otherwise. On 0 the link
// may still be open; DisconnectTarget closes it in every case. status may be
// null.
int ConnectTarget(LoaderLink& link, const AppPaths& paths, UserInterface& ui, int port_index,
                  int rate, StatusLine* status, int allow_start);

// Closes the link if it is open.
void DisconnectTarget(LoaderLink& link);

}  // namespace vok
