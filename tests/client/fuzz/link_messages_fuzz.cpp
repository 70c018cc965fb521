// libFuzzer target: the master/slave link's messages. Bit 0 of the first byte picks the side:
// the main window's reader of one extension window (the rest arrives on its link, and what it
// hands to the window loop is carried out there), or an extension window, whose loop carries
// out the master's commands. The rest is cut into 200-byte messages; they name DVRs and
// groups of a small setup.cfg, layouts, pages and channel masks. Connections are made as the
// window makes them, less what no message steers: their receive and decoder threads end at
// once, and the rings are allocated once and kept. Each input ends disconnected.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/user_events.h"
#include "client/links/connection.h"
#include "client/links/link_notices.h"
#include "client/screens/layouts.h"
#include "client/screens/master_link.h"
#include "client/screens/tiles.h"
#include "forward/orvolib/orvolib.h"
#include "tests/client/fuzz/fuzz_rig.h"

// The SDK is never started here: its event server would take a fixed port.
extern "C" int ORVOSDK_Initialize(SDK_INIT_CALLBACK, unsigned short) { return 1; }
extern "C" void ORVOSDK_Terminate() {}

// The decoder threads (decoder_thread, wrapped by the linker) end at once, a disconnect
// (free_receive_buffers, wrapped) keeps the rings for the next connect, and the client's
// sleeps (nanosleep, wrapped: a disconnect's 250 ms for the receivers' last writes) return at
// once: fresh megabytes and waits would be most of each input's time.
extern "C" int __wrap_nanosleep(const timespec*, timespec*) { return 0; }
extern "C" int __wrap__Z14decoder_threadP11APP_CONTEXT(APP_CONTEXT*) { return 0; }
extern "C" int __wrap__Z20free_receive_buffersP11APP_OPTIONS(APP_OPTIONS* opts) {
  opts->context->num_slots = 0;
  return 0;
}

namespace {
APP_CONTEXT* g_ctx = nullptr;
APP_OPTIONS* g_opts = nullptr;

int no_link(RECEIVER_INFO* rx) {
  rx->status.store(RX_ENDED);
  return 0;
}

const char kSetup[] =
    "[DVR]\nnum_dvr=4\n"
    "DVR-1=MW-2606QTR14,127.0.0.1,1,1,1,1,1,80,1,IP,16,\"a\",\"b\",\"1\",\"2\",\"3\",C1,C2,C3,C4,"
    "C5,C6,C7,C8,"
    "C9,C10,C11,C12,C13,C14,C15,C16,admin,x\n"
    "DVR-3=MW-2606QA14,127.0.0.1,1,1,1,1,1,80,1,IP,16,\"a\",\"b\",\"1\",\"2\",\"3\",C1,C2,C3,C4,C5,"
    "C6,C7,C8,"
    "C9,C10,C11,C12,C13,C14,C15,C16,admin,x\n"
    "DVR-4=vantrel,127.0.0.1,1,1,1,1,1,80,1,IP,4,\"a\",\"b\",\"1\",\"2\",\"3\",C1,C2,C3,C4,C5,C6,"
    "C7,C8,"
    "C9,C10,C11,C12,C13,C14,C15,C16,admin,x\n"
    "DVR-5=talve8,127.0.0.1,1,1,1,1,1,80,1,IP,4,\"a\",\"b\",\"1\",\"2\",\"3\",C1,C2,C3,C4,C5,C6,C7,"
    "C8,"
    "C9,C10,C11,C12,C13,C14,C15,C16,admin,x\n"
    "[GROUP]\nnum_group=2\n[GROUP_1]\ngroup_name=All "
    "DVRs\nnum_dvr=3\nDVR-1=FFFF\nDVR-4=F\nDVR-5=3\n"
    "[GROUP_2]\ngroup_name=Wide\nnum_dvr=1\nDVR-3=80000001\n";

void handle(const void* message) {
  SDL_Event ev{};
  ev.type = SDL_USEREVENT;
  ev.user.code = UE_LINK_COMMAND;
  ev.user.data1 = const_cast<void*>(message);
  handle_link_command(ev, g_ctx, g_opts);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_rig::quiet_stdout();
  // setup.cfg is written to and read from the working directory; "logs" is a file there, so
  // the system log's lines for connects go nowhere.
  FILE* f = std::fopen("setup.cfg", "wb");
  if (!f || std::fputs(kSetup, f) < 0 || std::fclose(f) != 0) std::abort();
  if (FILE* logs = std::fopen("logs", "wb")) std::fclose(logs);
  // The file has no user or system sections: what comes before them is loaded.
  load_setup_info("setup.cfg");
  if (get_num_dvr() != 4 || get_num_group() != 2) std::abort();
  g_ctx = new APP_CONTEXT();
  if (init_app_context(g_ctx) != 0) std::abort();
  clear_layout_table(g_ctx->layouts);
  set_window_geometry(g_ctx, 640, 480);
  build_grid_layouts(g_ctx);
  g_opts = new APP_OPTIONS();
  init_app_options(g_opts);
  g_opts->context = g_ctx;
  for (uint8_t p : {'I', 'Q', 'S', 'W'}) set_receive_entry(p, no_link);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 + 16 * COMM_MESSAGE_SIZE) return 0;
  app_quit.store(0);
  clear_link_notices();
  g_ctx->layout = 1;
  g_ctx->page = 0;
  g_opts->master = data[0] & 1;
  g_opts->auto_start[0] = 0;
  g_opts->video_mask = g_opts->audio_mask = 0;
  const uint8_t* messages = data + 1;
  const size_t count = (size - 1) / COMM_MESSAGE_SIZE;
  if (g_opts->master) {
    int reader = -1, writer = -1;
    if (fuzz_rig::feed(messages, count * COMM_MESSAGE_SIZE, &reader, &writer) != 0) return 0;
    PEER_ENDPOINT peer;
    init_peer_endpoint(&peer);
    peer.socket = reader;
    slave_reader_thread(&peer);  // closes `reader`
    ::close(writer);
    LINK_NOTICE n;
    while (take_link_notice(&n))
      if (n.number == UE_LINK_COMMAND) handle(n.data());
  } else {
    // The extension window's thread hands on only tagged messages of these commands.
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* m = messages + i * COMM_MESSAGE_SIZE;
      COMM_FIELDS f;
      if (read_comm_message(m, &f) != 0) continue;
      if (f.command == COMM_CONNECT || f.command == COMM_ADD_CHANNEL ||
          f.command == COMM_DISCONNECT || f.command == COMM_SET_LAYOUT ||
          f.command == COMM_ROTATE_SELECTED)
        handle(m);
    }
  }
  disconnect_dvr(g_opts);
  clear_link_notices();
  return 0;
}
