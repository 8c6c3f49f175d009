// The tones through the sound card, with ALSA.
#include "app/tone_output.h"

#include <alsa/asoundlib.h>

namespace vok {

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

}  // namespace vok
