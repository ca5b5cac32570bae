// The beep, played into ALSA's file plugin: a test configuration, chosen
// through ALSA_CONFIG_PATH, makes the default device a WAV file over the
// null device, and the tone's length and pitch are measured from it.
#include "sound.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "io_test_support.h"

namespace {

using testing_support::ReadFile;
using testing_support::ScratchFolder;
using testing_support::WriteFile;

struct Recording {
  unsigned rate = 0;
  unsigned channels = 0;
  unsigned bits = 0;
  std::vector<int16_t> samples;  // the first channel
};

uint32_t Le32(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8 |
         static_cast<uint8_t>(b[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}
uint16_t Le16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

// Reads a 16-bit PCM WAV file; the data chunk runs to the end of the file
// whatever length its header claims.
bool ReadWav(const std::string& bytes, Recording* out) {
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
    return false;
  }
  for (size_t at = 12; at + 8 <= bytes.size();) {
    const std::string id = bytes.substr(at, 4);
    const uint32_t size = Le32(bytes, at + 4);
    const size_t body = at + 8;
    if (id == "fmt " && body + 16 <= bytes.size()) {
      out->channels = Le16(bytes, body + 2);
      out->rate = Le32(bytes, body + 4);
      out->bits = Le16(bytes, body + 14);
    } else if (id == "data") {
      if (out->bits != 16 || out->channels == 0) return false;
      const size_t frameBytes = 2 * out->channels;
      for (size_t p = body; p + frameBytes <= bytes.size(); p += frameBytes) {
        out->samples.push_back(static_cast<int16_t>(Le16(bytes, p)));
      }
      return true;
    }
    at = body + size + (size & 1);
  }
  return false;
}

class BeepTest : public ::testing::Test {
 protected:
  // Makes ALSA's default device the given configuration.
  void UseAlsaDevice(const std::string& definition) {
    const std::string config = m_folder.File("asound.conf");
    WriteFile(config, "pcm.!default {\n" + definition + "\n}\npcm.silent { type null }\n");
    setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
  }
  void UseWavFile() {
    UseAlsaDevice("type file\nslave.pcm \"silent\"\nfile \"" + Tone() + "\"\nformat \"wav\"");
  }
  std::string Tone() const { return m_folder.File("tone.wav"); }

  ScratchFolder m_folder;
};

TEST_F(BeepTest, PlaysTheToneForItsLengthAtItsFrequency) {
  struct Case {
    DWORD frequency;
    DWORD milliseconds;
  };
  const Case cases[] = {{450, 250}, {450, 1000}, {1000, 40}};
  UseWavFile();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.frequency) + " Hz, " + std::to_string(c.milliseconds) + " ms");
    ASSERT_TRUE(Beep(c.frequency, c.milliseconds));
    Recording tone;
    ASSERT_TRUE(ReadWav(ReadFile(Tone()), &tone));
    ASSERT_GT(tone.rate, 0u);

    const double seconds = static_cast<double>(tone.samples.size()) / tone.rate;
    EXPECT_NEAR(seconds * 1000, c.milliseconds, 2.0);

    int rising = 0;
    double power = 0;
    for (size_t i = 0; i < tone.samples.size(); ++i) {
      if (i > 0 && tone.samples[i - 1] < 0 && tone.samples[i] >= 0) ++rising;
      power += static_cast<double>(tone.samples[i]) * tone.samples[i];
    }
    EXPECT_NEAR(rising / seconds, c.frequency, c.frequency * 0.02 + 1.0 / seconds);
    const double rms = std::sqrt(power / tone.samples.size()) / 32768.0;
    EXPECT_GT(rms, 0.1) << "hardly audible";
    EXPECT_LT(rms, 0.71) << "clipped";
  }
}

TEST_F(BeepTest, NothingIsPlayedForNoLengthOrAFrequencyOutOfRange) {
  UseWavFile();
  EXPECT_TRUE(Beep(450, 0));
  EXPECT_FALSE(Beep(36, 250));
  EXPECT_FALSE(Beep(32768, 250));
  EXPECT_EQ(ReadFile(Tone()), "") << "the device was opened";
}

TEST_F(BeepTest, WithoutASoundDeviceItReturnsAtOnceAndQuietly) {
  UseAlsaDevice("type hw\ncard \"NoSuchCard\"");  // ALSA complains about this one
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(Beep(450, 2000));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
