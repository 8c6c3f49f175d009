#include "update/melody.h"

#include <cmath>

namespace vok {

void PlayCompletionMelody(UserInterface& ui) {
  constexpr int kTones = 12;
  constexpr unsigned kToneMs = 83;
  const double semitone = std::pow(2.0, 1.0 / 12.0);
  double frequency = 440.0;
  for (int i = 0; i < kTones; ++i) {
    // Truncated to whole hertz: 440, 466, 493, ... 830.
    ui.Beep(static_cast<unsigned>(frequency), kToneMs);
    frequency *= semitone;
  }
}

}  // namespace vok
