// Audio output: one SDL device playing the live audio ring and the two alarm sounds.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/utils.h"
#include "client/links/mulaw.h"
#include "platform/sync/thread_name.h"
#include "platform/system/wave_out.h"

namespace {

struct AlarmSound {
  SDL_AudioCVT cvt{};
  bool loaded = false;
  bool playing = false;   // audio lock
  uint32_t position = 0;  // bytes from the start of the converted data (audio lock)
};

struct AudioState {
  std::atomic<bool> open{false};
  SDL_AudioSpec desired{}, obtained{};
  AlarmSound motion, sensor;
};

AudioState audio;

// The specs live in the pair buffers start-up allocated for them, when it did.
SDL_AudioSpec* spec_block(void* block, SDL_AudioSpec* fallback) {
  return block ? static_cast<SDL_AudioSpec*>(block) : fallback;
}

void start_device() {
  if (audio.open.load()) SDL_PauseAudio(0);
}

void free_sound(AlarmSound& s) {
  free(s.cvt.buf);
  s = AlarmSound{};
}

// A configured path may use '\' as its separator.
std::string sound_path(const char* configured) {
  std::string p = configured ? configured : "";
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
}

// 0; -2 the file did not load; -3 it did not convert. A failure leaves the sound unloaded.
int load_sound(APP_CONTEXT* ctx, const char* kind, AlarmSound& sound) {
  const std::string path = sound_path(get_event_wav(kind));
  SDL_AudioSpec spec;
  Uint8* data = nullptr;
  Uint32 len = 0;
  SDL_RWops* rw = SDL_RWFromFile(path.c_str(), "rb");
  if (!rw || !SDL_LoadWAV_RW(rw, 1, &spec, &data, &len)) {
    std::printf("Could not open %s (%s).\n", path.c_str(), SDL_GetError());
    return -2;
  }
  int rc = convert_audio(ctx, &sound.cvt, &spec, len, data);
  SDL_FreeWAV(data);
  if (rc != 0) {
    std::printf("convert_audio() failed.\n");
    free(sound.cvt.buf);
    sound.cvt = SDL_AudioCVT{};
    return -3;
  }
  sound.loaded = true;
  return 0;
}

// Mixes the next part of a playing alarm into `mix`; true when it contributed.
bool mix_alarm(AlarmSound& s, uint8_t* mix, int len) {
  if (!s.playing || !s.loaded) return false;
  const uint32_t total = static_cast<uint32_t>(s.cvt.len * s.cvt.len_ratio);
  if (s.position >= total) {
    s.playing = false;
    return false;
  }
  if (s.position + static_cast<uint32_t>(len) >= total) {
    SDL_MixAudio(mix, s.cvt.buf + s.position, total - s.position, SDL_MIX_MAXVOLUME);
    s.playing = false;
  } else {
    SDL_MixAudio(mix, s.cvt.buf + s.position, static_cast<Uint32>(len), SDL_MIX_MAXVOLUME);
    s.position += static_cast<uint32_t>(len);
  }
  return true;
}

int play_sound(AlarmSound& s, int on) {
  if (get_enable_alarm() == 0) return -1;
  if (!audio.open.load()) return 0;
  if (!on) {
    SDL_PauseAudio(1);
    return 0;
  }
  if (!s.loaded) return 0;  // its file did not load: nothing to start
  SDL_LockAudio();
  s.playing = true;
  s.position = 0;
  SDL_UnlockAudio();
  SDL_PauseAudio(0);
  return 0;
}

}  // namespace

int init_audio(APP_CONTEXT* ctx) {
  SDL_AudioSpec* desired = &audio.desired;
  SDL_AudioSpec* obtained = &audio.obtained;
  if (app_options.audio_buffers) {
    desired = spec_block(app_options.audio_buffers->first, desired);
    obtained = spec_block(app_options.audio_buffers->second, obtained);
  }
  audio_ring_reset();
  *desired = SDL_AudioSpec{};
  desired->freq = 8000;
  desired->format = AUDIO_S16LSB;
  desired->channels = 1;
  desired->samples = 512;
  desired->callback = [](void* u, Uint8* stream, int len) {
    name_callback_thread("sdl audio");  // SDL's own thread, named from its first call
    audio_callback(u, stream, len);
  };
  desired->userdata = nullptr;
  free_sound(audio.motion);
  free_sound(audio.sensor);
  if (SDL_OpenAudio(desired, obtained) < 0) return -1;
  if (obtained->freq != desired->freq || obtained->format != desired->format ||
      obtained->channels != desired->channels || obtained->samples != desired->samples)
    std::printf("Not all parameters were granted.\n");
  {
    // The device's thread is running already: the callback reads the obtained audio format under
    // this lock.
    SDL_LockAudio();
    audio.obtained = *obtained;
    SDL_UnlockAudio();
  }
  SDL_PauseAudio(1);
  wave_out_set_present(true);
  audio.open.store(true);
  set_audio_start_hook(start_device);
  // Each sound on its own: one that fails leaves the other and live audio playing.
  const int motion = load_sound(ctx, "motion", audio.motion);
  const int sensor = load_sound(ctx, "sensor", audio.sensor);
  return motion != 0 ? motion : sensor;
}

int convert_audio(APP_CONTEXT*, SDL_AudioCVT* cvt, const SDL_AudioSpec* wav_spec, uint32_t wav_len,
                  const uint8_t* wav_data) {
  const SDL_AudioSpec& out = audio.obtained;
  if (SDL_BuildAudioCVT(cvt, wav_spec->format, wav_spec->channels, wav_spec->freq, out.format,
                        out.channels, out.freq) < 0) {
    std::printf("SDL_BuildAudioCVT() failed.\n");
    return -1;
  }
  const size_t need = static_cast<size_t>(wav_len) * (cvt->len_mult > 0 ? cvt->len_mult : 1);
  const size_t cap = (need + 1023) / 1024 * 1024 + 1024;
  cvt->buf = static_cast<Uint8*>(calloc(cap, 1));
  if (!cvt->buf) {
    fatal_box("Not enough memory.");
    return -2;
  }
  std::memcpy(cvt->buf, wav_data, wav_len);
  cvt->len = static_cast<int>(wav_len);
  SDL_ConvertAudio(cvt);
  return 0;
}

void audio_callback(void*, uint8_t* stream, int len) {
  if (!stream || len <= 0) return;
  std::memset(stream, audio.obtained.silence, static_cast<size_t>(len));
  if (!audio.open.load() && audio.obtained.freq != 0) return;
  // The whole buffer is mixed apart and added to the silent stream once, at the volume.
  std::vector<uint8_t> mix(static_cast<size_t>(len), audio.obtained.silence);
  bool played = false;
  const int n = len / 2;
  if (audio_ring_read(reinterpret_cast<int16_t*>(mix.data()), n) > 0) played = true;
  played |= mix_alarm(audio.motion, mix.data(), len);
  played |= mix_alarm(audio.sensor, mix.data(), len);
  if (!played) {
    SDL_PauseAudio(1);
    return;
  }
  uint16_t left = 0xFFFF, right = 0xFFFF;
  wave_out_get_volume(&left, &right);
  const int volume = ((left + right) / 2) * SDL_MIX_MAXVOLUME / 65535;
  SDL_MixAudio(stream, mix.data(), static_cast<Uint32>(len), volume);
}

int play_motion_sound(int on) { return play_sound(audio.motion, on); }
int play_sensor_sound(int on) { return play_sound(audio.sensor, on); }

int deinit_audio() {
  std::printf("\n\n !!!!!!!!!!!! deinit_audio !!!!!!!!!!!! \n\n");
  set_audio_start_hook(nullptr);
  if (audio.open.load()) {
    SDL_LockAudio();
    audio.open.store(false);
    free_sound(audio.motion);
    free_sound(audio.sensor);
    SDL_UnlockAudio();
    SDL_CloseAudio();
  } else {
    free_sound(audio.motion);
    free_sound(audio.sensor);
  }
  wave_out_set_present(false);
  return 0;
}
