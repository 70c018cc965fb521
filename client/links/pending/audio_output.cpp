// Stand-ins until the audio output lands; that module replaces this file. The device stays
// closed, so live audio is queued and never played.
#include "client/links/mulaw.h"

[[gnu::weak]] int init_audio(APP_CONTEXT*) { return 0; }
[[gnu::weak]] int deinit_audio() { return 0; }
