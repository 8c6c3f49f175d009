// The tones through the system's tone generator.
#include "app/tone_output.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace vok {

// The system's tone generator; Beep returns when the tone has sounded.
bool ToneOutput::Open() { return !unavailable_; }
void ToneOutput::Close() {}
void ToneOutput::Play(unsigned frequency_hz, unsigned duration_ms) {
  if (unavailable_) return;
  // Beep takes 37 to 32767 Hz and fails without a sound device.
  if (frequency_hz < 37 || frequency_hz > 32767) {
    ::Sleep(duration_ms);
    return;
  }
  if (!::Beep(frequency_hz, duration_ms)) unavailable_ = true;
}

}  // namespace vok
