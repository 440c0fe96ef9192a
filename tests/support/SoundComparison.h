#pragma once
// Decoded sound compared with ffmpeg's decode of the same file, made at run time by the ffmpeg command
// line: lengths, the alignment that fits best, correlation per channel and the largest difference.

#include "TestEnvironment.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kivtest {

using TSamples = std::vector<int16_t>; // interleaved

inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

inline TSamples SamplesOf(const std::string& bytes) {
  TSamples samples(bytes.size() / 2);
  if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

// ffmpeg's decode as 44100 Hz 16-bit stereo. A mono source goes to both channels at full level (ffmpeg's
// own "-ac 2" would lower it by 3 dB). Empty when ffmpeg fails.
inline TSamples FfmpegStandardDecode(const std::string& path, int sourceChannels) {
  const std::string layout = sourceChannels == 1 ? "-af 'pan=stereo|c0=c0|c1=c0'" : "-ac 2";
  int code = -1;
  const std::string out = CommandOutput("ffmpeg -nostdin -v error -i " + ShellQuote(path) + " " + layout +
                                            " -ar 44100 -f s16le -acodec pcm_s16le -",
                                        code);
  return code == 0 ? SamplesOf(out) : TSamples();
}

// ffmpeg's decode as 16-bit samples at the file's own rate and channels.
inline TSamples FfmpegNativeDecode(const std::string& path) {
  int code = -1;
  const std::string out = CommandOutput(
      "ffmpeg -nostdin -v error -i " + ShellQuote(path) + " -f s16le -acodec pcm_s16le -", code);
  return code == 0 ? SamplesOf(out) : TSamples();
}

inline bool HaveFfmpeg() {
  int code = -1;
  CommandOutput("ffmpeg -version >/dev/null 2>&1", code);
  return code == 0;
}

struct TSoundMatch {
  int lag = 0;               // ours[frame + lag] lines up with reference[frame]
  double correlation = 0;    // the lowest of the channels' normalised correlations
  int maxDifference = 65536; // the largest sample difference at that lag
};

// The lag in 0..maxLag frames at which ours fits the reference best, judged over the frames both hold.
inline TSoundMatch BestMatch(const TSamples& ours, const TSamples& reference, int channels, int maxLag) {
  TSoundMatch best;
  best.correlation = -2;
  const int64_t oursFrames = int64_t(ours.size()) / channels;
  const int64_t referenceFrames = int64_t(reference.size()) / channels;
  for (int lag = 0; lag <= maxLag; ++lag) {
    const int64_t frames = std::min(oursFrames - lag, referenceFrames);
    if (frames <= 0) break;
    double lowest = 2;
    int largest = 0;
    for (int c = 0; c < channels; ++c) {
      double both = 0, o2 = 0, r2 = 0;
      for (int64_t f = 0; f < frames; ++f) {
        const double o = ours[size_t((f + lag) * channels + c)];
        const double r = reference[size_t(f * channels + c)];
        both += o * r;
        o2 += o * o;
        r2 += r * r;
        largest = std::max(largest, int(std::fabs(o - r)));
      }
      const double correlation = o2 > 0 && r2 > 0 ? both / std::sqrt(o2 * r2) : (o2 == r2 ? 1.0 : 0.0);
      lowest = std::min(lowest, correlation);
    }
    if (lowest > best.correlation) best = {lag, lowest, largest};
  }
  return best;
}

} // namespace kivtest
