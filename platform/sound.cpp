#include "sound.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <mutex>
#include <vector>

namespace {

constexpr DWORD kMinFrequency = 37;  // Hz, the range the Windows call accepts
constexpr DWORD kMaxFrequency = 32767;
constexpr unsigned kSampleRate = 48000;      // frames per second
constexpr unsigned kLatency = 100000;        // microseconds of buffer
constexpr double kAmplitude = 0.4;           // of full scale
constexpr double kRampSeconds = 0.005;       // fade in and out, against clicks
constexpr snd_pcm_uframes_t kChunkFrames = 4800;
constexpr double kTwoPi = 6.283185307179586;

// ALSA prints its complaints (no card, no such device) on stderr; a program
// without sound just stays quiet.
void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// One sample of the tone: a sine, faded in and out over its first and last
// few milliseconds.
int16_t ToneSample(snd_pcm_uframes_t frame, snd_pcm_uframes_t frames, DWORD frequency) {
  const double t = static_cast<double>(frame) / kSampleRate;
  const double rampFrames = kRampSeconds * kSampleRate;
  const double edge = std::min<double>(frame, frames - 1 - frame);
  const double gain = std::min(1.0, edge / rampFrames);
  const double value = kAmplitude * gain * std::sin(kTwoPi * frequency * t);
  return static_cast<int16_t>(std::lround(value * 32767.0));
}

}  // namespace

BOOL Beep(DWORD frequency, DWORD duration) {
  if (frequency < kMinFrequency || frequency > kMaxFrequency) return FALSE;
  if (duration == 0) return TRUE;

  static std::once_flag quiet;
  std::call_once(quiet, [] { snd_lib_error_set_handler(IgnoreAlsaError); });

  // Opened without blocking, so that a device in use by someone else fails
  // at once instead of waiting for it; writing then blocks as it should.
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return FALSE;
  if (snd_pcm_nonblock(pcm, 0) < 0 ||
      snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kSampleRate,
                         1, kLatency) < 0) {
    snd_pcm_close(pcm);
    return FALSE;
  }

  const snd_pcm_uframes_t frames = static_cast<snd_pcm_uframes_t>(duration) * kSampleRate / 1000;
  std::vector<int16_t> chunk(kChunkFrames);
  bool played = true;
  for (snd_pcm_uframes_t start = 0; start < frames && played;) {
    const snd_pcm_uframes_t count = std::min(kChunkFrames, frames - start);
    for (snd_pcm_uframes_t i = 0; i < count; ++i) chunk[i] = ToneSample(start + i, frames, frequency);
    snd_pcm_uframes_t written = 0;
    while (written < count) {
      snd_pcm_sframes_t n = snd_pcm_writei(pcm, chunk.data() + written, count - written);
      if (n < 0) n = snd_pcm_recover(pcm, static_cast<int>(n), 1);
      if (n < 0) {
        played = false;
        break;
      }
      written += static_cast<snd_pcm_uframes_t>(n);
    }
    start += count;
  }
  if (played) snd_pcm_drain(pcm);
  snd_pcm_close(pcm);
  return played ? TRUE : FALSE;
}
