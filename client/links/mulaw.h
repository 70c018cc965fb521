// Mu-law expansion, the live audio queue and the audio output (audio_output.cpp). Decoder
// threads append PCM (queue_audio_data); the audio callback drains it (audio_ring_read, SDL's
// audio thread) and mixes the two alarm sounds over it. One mutex guards the ring, so any
// number of decoder threads may append beside the reader; the alarms' playing flags and
// positions change under SDL_LockAudio.
//
// Without a sound device SDL_OpenAudio fails and the client runs silently: the alarm and
// volume calls then do nothing. Nothing plays after deinit_audio.
#pragma once

#include <SDL/SDL.h>

#include <cstddef>
#include <cstdint>

struct APP_CONTEXT;

// Opens the device (8000 Hz, signed 16-bit little-endian, mono, 512 samples a buffer) and
// loads both alarm sounds (first thread, at start): 0; -1 the device did not open; -2 a
// sound file did not load; -3 a sound did not convert. A sound that failed is skipped later;
// the other sound and live audio still play.
int init_audio(APP_CONTEXT* ctx);
// Converts one loaded WAV into `cvt` in the device's format (the buffer is owned by `cvt`,
// freed by deinit_audio): 0; -1 "SDL_BuildAudioCVT() failed.\n"; -2 no memory (fatal box).
int convert_audio(APP_CONTEXT* ctx, SDL_AudioCVT* cvt, const SDL_AudioSpec* wav_spec,
                  uint32_t wav_len, const uint8_t* wav_data);
// SDL's audio callback: live samples (only when a whole buffer is queued), then the alarms
// mixed in at full volume with clipping, all scaled by the output volume. Pauses the device
// when nothing played.
void audio_callback(void* userdata, uint8_t* stream, int len);
// on != 0 starts the sound from its beginning; 0 pauses the whole device (live audio too,
// until the next audio record). -1 when alarms are disabled in [SYSTEM], else 0.
int play_motion_sound(int on);
int play_sensor_sound(int on);
// Closes the device and frees the sounds (first thread, at shutdown): 0.
int deinit_audio();

constexpr uint32_t AUDIO_RING_SAMPLES = 0x20000;  // ring of signed 16-bit samples
constexpr size_t AUDIO_RING_BYTES = 0x40800;      // allocation behind the ring

// ITU-T G.711 mu-law expansion: 0xFF -> 0, 0x00 -> -32124, 0x80 -> 32124.
int16_t ulaw_to_linear(uint8_t code);

// Expands `count` mu-law bytes into `pcm` (count samples).
void ulaw_expand(const uint8_t* ulaw, size_t count, int16_t* pcm);

// Appends len/2 samples, wrapping at the ring's end, then starts the output (the hook set by
// the audio output, if any). When more is queued than the ring holds, the oldest samples are
// dropped: the available count never exceeds the ring. Returns 0.
int queue_audio_data(const int16_t* pcm, int len);

// Reader side (audio callback): when at least n samples are available, copies them (only up
// to the ring's end when the read wraps, then the read index restarts at 0) and returns the
// number copied; returns 0 and takes nothing when fewer than n are available.
int audio_ring_read(int16_t* out, int n);

// Samples available, and the indexes, for the audio output's bookkeeping and for tests.
uint32_t audio_ring_available();
uint32_t audio_ring_write_index();
uint32_t audio_ring_read_index();
// Empties the ring and sets both indexes (tests; the audio output at start).
void audio_ring_reset(uint32_t read_index = 0, uint32_t write_index = 0);
// Called by queue_audio_data after each append (unpause the device); null for none.
void set_audio_start_hook(void (*hook)());
