#pragma once

#include <cstdint>
#include <vector>

namespace vok {

// Samples of one tone: a square wave of the given frequency, 16-bit mono,
// with short ramps at both ends so that consecutive tones do not click.
std::vector<int16_t> ToneSamples(unsigned frequency_hz, unsigned duration_ms, unsigned rate);

// Tones through the sound card. Each Play blocks until its tone has sounded.
// Without a usable audio device the tones are skipped silently.
class ToneOutput {
 public:
  static constexpr unsigned kRate = 44100;

  ToneOutput() = default;
  ToneOutput(const ToneOutput&) = delete;
  ToneOutput& operator=(const ToneOutput&) = delete;
  ~ToneOutput();

  void Play(unsigned frequency_hz, unsigned duration_ms);
  // False once the device was found missing.
  bool Available() const { return !unavailable_; }

 private:
  bool Open();
  void Close();

  void* pcm_ = nullptr;  // the sound library's handle
  bool unavailable_ = false;
};

}  // namespace vok
