// The link's command handling: what a link message, or the connection code's request,
// does to the window (user event 24). The network side is in master_link.cpp.
#include "client/screens/master_link.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/config/app_options.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/system_log.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/links/connection.h"
#include "client/screens/layouts.h"
#include "client/screens/master_link_internal.h"
#include "client/screens/skin.h"
#include "client/screens/tiles.h"
#include "client/screens/widget_text.h"

using master_link_internal::MasterCommand;

// ---------------------------------------------------------------- the window loop's side

int read_link_command(const SDL_Event& ev, COMM_FIELDS* m, bool* from_link) {
  if (from_link) *from_link = false;
  if (!ev.user.data1) return -1;
  if (read_comm_message(ev.user.data1, m) == 0) {
    if (from_link) *from_link = true;
    return 0;
  }
  // The connection code's own request, which never starts with the link tag.
  const CONN_REQUEST* r = static_cast<const CONN_REQUEST*>(ev.user.data1);
  if (r->command != COMM_CONNECT && r->command != COMM_DISCONNECT) return -1;
  memset(m, 0, sizeof *m);
  m->command = static_cast<uint16_t>(r->command);
  m->value[5] = r->is_group;
  m->value[6] = r->index;
  return 0;
}

namespace {

void log_target(APP_OPTIONS* opts, int code_dvr, int code_group, bool is_group) {
  write_system_log(is_group ? code_group : code_dvr, opts->user_id, opts->auto_start);
}

void clear_list_lines(APP_CONTEXT* ctx, const char* name) {
  if (!ctx->skin) return;
  const int w = find_widget(SKIN_MAIN, name);
  if (w <= 0) return;
  SdlLock lock(ctx->display_mutex);
  clear_widget_lines(ctx->surfaces[SURF_SCREEN], 2, w);
}

}  // namespace

int handle_link_command(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  COMM_FIELDS m;
  bool from_link = false;
  if (read_link_command(ev, &m, &from_link) != 0) return 0;
  // In a slave, what the master commands is not handed back to it.
  MasterCommand mark(from_link && !opts->master);
  const bool is_group = m.value[5] == 1;
  switch (m.command) {
    case COMM_CONNECT:
      get_target_name(opts->auto_start, sizeof opts->auto_start, is_group, m.value[6]);
      if (opts->conn_state.load() == CONN_DISCONNECTED) {
        connect_dvr(opts);
        log_target(opts, SYSLOG_CONNECT_DVR, SYSLOG_CONNECT_GROUP, is_group);
      } else {
        disconnect_dvr(opts);
        if (opts->master) send_disconnect_to_slaves(opts);
        log_target(opts, SYSLOG_DISCONNECT_DVR, SYSLOG_DISCONNECT_GROUP, is_group);
      }
      break;
    case COMM_ADD_CHANNEL: {
      // Only a DVR of this station's own setup.cfg is connected on another process's word.
      if (!find_dvr_info(m.msg)) {
        printf("Channels of an unknown DVR (%s) refused.\n", m.msg);
        break;
      }
      const uint32_t video = static_cast<uint32_t>(m.value[8]);
      const uint32_t audio = static_cast<uint32_t>(m.value[9]);
      if (opts->conn_state.load() == CONN_DISCONNECTED) {
        // The masks choose the channels of this one connection; the operator's next
        // connect shows what the command line asked for, not what a slave handed over.
        const uint32_t own_video = opts->video_mask, own_audio = opts->audio_mask;
        copy_field(opts->auto_start, m.msg);
        opts->video_mask = video;
        opts->audio_mask = audio;
        connect_dvr(opts);
        opts->video_mask = own_video;
        opts->audio_mask = own_audio;
      } else {
        printf("add_receiver(%s)\n", m.msg);
        add_receiver(opts, m.msg, video, audio);
        const int n = count_enabled_channels(ctx);
        if (n > get_layout_cells(ctx, ctx->layout))
          set_layout(ctx, layout_for_cells(ctx, n));
        else
          set_layout(ctx, ctx->layout);
      }
      break;
    }
    case COMM_DISCONNECT:
      disconnect_dvr(opts);
      if (opts->master) send_disconnect_to_slaves(opts);
      clear_list_lines(ctx, "evt_list");
      clear_list_lines(ctx, "ptz_preset_list");
      log_target(opts, SYSLOG_DISCONNECT_DVR, SYSLOG_DISCONNECT_GROUP, is_group);
      break;
    case COMM_SET_LAYOUT:
      // Numbers from another process: set_layout refuses a layout outside 1..27 and
      // set_layout_page a negative page, leaving the view as it was.
      if (set_layout(ctx, m.value[3]) == 0) set_layout_page(ctx, m.value[4]);
      break;
    case COMM_ROTATE_SELECTED: rotate_selected_channels(ctx); break;
    default: break;
  }
  return 0;
}
