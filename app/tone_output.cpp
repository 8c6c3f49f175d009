#include "app/tone_output.h"

#include <algorithm>
#include <cmath>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#elif defined(VOK_HAVE_ALSA)
#include <alsa/asoundlib.h>
#endif

namespace vok {

std::vector<int16_t> ToneSamples(unsigned frequency_hz, unsigned duration_ms, unsigned rate) {
  const size_t n = static_cast<size_t>(uint64_t{rate} * duration_ms / 1000);
  std::vector<int16_t> samples(n, 0);
  if (frequency_hz == 0 || rate == 0) return samples;
  constexpr double kAmplitude = 6000.0;  // well below full scale: a beep, not a blast
  const size_t ramp = std::min<size_t>(n / 2, rate / 500);  // 2 ms
  for (size_t i = 0; i < n; ++i) {
    // Phase from the sample index alone, so no error accumulates.
    const double cycles = static_cast<double>(i) * frequency_hz / rate;
    double v = (cycles - std::floor(cycles)) < 0.5 ? kAmplitude : -kAmplitude;
    if (ramp > 0) {
      const size_t edge = std::min(i, n - 1 - i);
      if (edge < ramp) v *= static_cast<double>(edge) / static_cast<double>(ramp);
    }
    samples[i] = static_cast<int16_t>(v);
  }
  return samples;
}

#if defined(_WIN32)

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

#elif defined(VOK_HAVE_ALSA)

namespace {
// The library reports a missing card on standard error; a missing device is
// an expected state here, not an error to show.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

bool ToneOutput::Open() {
  if (pcm_ != nullptr) return true;
  if (unavailable_) return false;
  snd_lib_error_set_handler(&QuietAlsa);
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0) {
    unavailable_ = true;
    return false;
  }
  // 50 ms of latency: short enough that the tones follow each other closely.
  if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kRate, 1,
                         50000) < 0) {
    snd_pcm_close(pcm);
    unavailable_ = true;
    return false;
  }
  pcm_ = pcm;
  return true;
}

void ToneOutput::Close() {
  if (pcm_ == nullptr) return;
  snd_pcm_close(static_cast<snd_pcm_t*>(pcm_));
  pcm_ = nullptr;
}

void ToneOutput::Play(unsigned frequency_hz, unsigned duration_ms) {
  if (!Open()) return;
  auto* pcm = static_cast<snd_pcm_t*>(pcm_);
  const std::vector<int16_t> samples = ToneSamples(frequency_hz, duration_ms, kRate);
  size_t done = 0;
  while (done < samples.size()) {
    snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples.data() + done, samples.size() - done);
    if (n < 0) n = snd_pcm_recover(pcm, static_cast<int>(n), 1);
    if (n < 0) {
      // The device went away mid-tone: give up on sound for this run.
      Close();
      unavailable_ = true;
      return;
    }
    done += static_cast<size_t>(n);
  }
  // Blocks until the last sample has left the card, then gets ready for the next tone.
  snd_pcm_drain(pcm);
  snd_pcm_prepare(pcm);
}

#else

bool ToneOutput::Open() {
  unavailable_ = true;
  return false;
}
void ToneOutput::Close() {}
void ToneOutput::Play(unsigned, unsigned) {}

#endif

ToneOutput::~ToneOutput() { Close(); }

}  // namespace vok
