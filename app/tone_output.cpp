#include "app/tone_output.h"

#include <algorithm>
#include <cmath>

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

ToneOutput::~ToneOutput() { Close(); }

}  // namespace vok
