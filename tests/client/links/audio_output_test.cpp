// The audio output on SDL's dummy driver: what audio_callback writes for live samples and
// an alarm, sample for sample, the ring's edge cases, the volume, and silence after
// deinit_audio. The test holds SDL's audio lock while it calls the callback itself, so the
// driver's own thread takes nothing in between.
#include <SDL/SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/foundation/win_helpers.h"
#include "client/links/mulaw.h"
#include "tests/client/foundation/config_test_support.h"

namespace fs = std::filesystem;

namespace {

// A 16-bit mono 8000 Hz WAV of `samples`.
void write_wav(const fs::path& path, const std::vector<int16_t>& samples) {
  auto le = [](std::ofstream& f, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) f.put(char(v >> (8 * i)));
  };
  std::ofstream f(path, std::ios::binary);
  const uint32_t bytes = uint32_t(samples.size() * 2);
  f << "RIFF";
  le(f, 36 + bytes, 4);
  f << "WAVEfmt ";
  le(f, 16, 4), le(f, 1, 2), le(f, 1, 2), le(f, 8000, 4), le(f, 16000, 4), le(f, 2, 2),
      le(f, 16, 2);
  f << "data";
  le(f, bytes, 4);
  for (int16_t s : samples) le(f, uint16_t(s), 2);
}

class AudioOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    setenv("VIGILO_BOX_ANSWER", "ok", 1);
    char tmpl[] = "/tmp/audio-output-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_ = fs::current_path();
    fs::current_path(dir_);
    fs::create_directory(dir_ / "wave");
    alarm_.assign(2000, 20000);
    write_wav(dir_ / "wave" / "ding.wav", alarm_);
    // The motion sound named with '\'; the sensor sound's file is missing.
    std::string cfg = cfgtest::replace(cfgtest::base_text(), "motion_wav=motion.wav",
                                       "motion_wav=wave\\ding.wav");
    std::ofstream(dir_ / "setup.cfg") << cfg;
    ASSERT_EQ(load_setup_info((dir_ / "setup.cfg").c_str()), 0);
    ASSERT_EQ(SDL_Init(SDL_INIT_AUDIO), 0) << SDL_GetError();
  }
  void TearDown() override {
    deinit_audio();
    SDL_Quit();
    fs::current_path(old_);
    fs::remove_all(dir_);
  }

  std::vector<int16_t> callback(int samples) {
    std::vector<int16_t> out(size_t(samples), 12345);
    audio_callback(nullptr, reinterpret_cast<uint8_t*>(out.data()), samples * 2);
    return out;
  }

  fs::path dir_, old_;
  std::vector<int16_t> alarm_;
};

TEST_F(AudioOutput, callback_mixes_live_audio_and_the_alarm_with_clipping_and_volume) {
  // The sensor file is missing: init says so, and the motion sound and live audio play.
  ASSERT_EQ(init_audio(&app_context), -2);
  EXPECT_EQ(get_wave_volume(), 100);
  SDL_LockAudio();
  audio_ring_reset();
  std::vector<int16_t> live(512);
  for (int i = 0; i < 512; ++i) live[size_t(i)] = int16_t(i < 256 ? 20000 : -30000 + i);
  queue_audio_data(live.data(), 1024);
  ASSERT_EQ(play_motion_sound(1), 0);
  EXPECT_EQ(play_sensor_sound(1), 0) << "an unloaded sound is skipped";
  std::vector<int16_t> out = callback(512);
  for (int i = 0; i < 512; ++i)
    ASSERT_EQ(out[size_t(i)], std::clamp(live[size_t(i)] + 20000, -32768, 32767)) << i;

  // Half volume: every played sample at 63/128 (SDL's mixing volume of 32767 / 65535).
  ASSERT_EQ(set_wave_volume(50), 0);
  EXPECT_EQ(get_wave_volume(), 49);
  queue_audio_data(live.data(), 1024);
  out = callback(512);
  EXPECT_EQ(out[0], 32767 * 63 / 128);
  EXPECT_EQ(out[300], (-30000 + 300 + 20000) * 63 / 128);
  set_wave_volume(100);

  // Switching an alarm off pauses the whole device, live audio included.
  play_motion_sound(0);
  EXPECT_EQ(SDL_GetAudioStatus(), SDL_AUDIO_PAUSED);
  SDL_UnlockAudio();
}

TEST_F(AudioOutput, ring_edges_short_queue_and_wrap_at_the_end) {
  init_audio(&app_context);
  SDL_LockAudio();
  std::vector<int16_t> live(512, 777);
  // 300 queued, 512 asked: silence, and the 300 stay queued.
  audio_ring_reset();
  queue_audio_data(live.data(), 600);
  EXPECT_EQ(callback(512), std::vector<int16_t>(512, 0));
  EXPECT_EQ(audio_ring_available(), 300u);
  // Read index at 0x1FF00: 256 samples play, the read index restarts at 0.
  audio_ring_reset(0x1FF00, 0x1FF00);
  queue_audio_data(live.data(), 1024);
  std::vector<int16_t> out = callback(512);
  EXPECT_EQ(std::count(out.begin(), out.begin() + 256, 777), 256);
  EXPECT_EQ(std::count(out.begin() + 256, out.end(), 0), 256);
  EXPECT_EQ(audio_ring_read_index(), 0u);
  SDL_UnlockAudio();
}

TEST_F(AudioOutput, nothing_plays_after_deinit_and_volume_needs_a_device) {
  init_audio(&app_context);
  deinit_audio();
  EXPECT_EQ(set_wave_volume(50), -1);
  EXPECT_EQ(get_wave_volume(), 0);
  EXPECT_EQ(play_motion_sound(1), 0);
  std::vector<int16_t> live(512, 777);
  audio_ring_reset();
  queue_audio_data(live.data(), 1024);
  EXPECT_EQ(callback(512), std::vector<int16_t>(512, 0));
}

}  // namespace
