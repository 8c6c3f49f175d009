#pragma once

#include "app/user_interface.h"

namespace vok {

// Twelve rising semitones from 440 Hz, 83 ms each, played at the end of
// every update and backup run that talked to the target. Blocks until the
// last tone ends.
void PlayCompletionMelody(UserInterface& ui);

}  // namespace vok
