// Channel numbering and queries over the receivers of the context.
#include "client/foundation/channel_table.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/utils.h"

namespace {

std::atomic<int32_t> channel_id_seq{0};
std::atomic<int32_t> slot_seq{0};

int receiver_count(const APP_CONTEXT* ctx) {
  if (!ctx) return 0;
  int n = ctx->num_receivers;
  return n < 0 ? 0 : (n > MAX_RECEIVERS ? MAX_RECEIVERS : n);
}

// num_video comes from the setup file or a peer; never walk past the channel records.
int channel_count(const RECEIVER_INFO* rx) {
  return rx->num_video > static_cast<uint32_t>(MAX_CHANNELS) ? MAX_CHANNELS
                                                             : static_cast<int>(rx->num_video);
}

bool enabled(const RECEIVER_INFO* rx, int k) { return (rx->channel_mask >> k) & 1u; }

const DISPLAY_LAYOUT& current_layout(const APP_CONTEXT* ctx) {
  int l = ctx->layout;
  if (l < 0 || l >= NUM_LAYOUTS) l = 0;
  return ctx->layouts[l];
}

int64_t cell_count(const APP_CONTEXT* ctx) {
  uint32_t n = current_layout(ctx).num_cells;
  return n > MAX_LAYOUT_CELLS ? MAX_LAYOUT_CELLS : n;
}

// Calls fn(receiver index, receiver, channel index, channel) for every channel in table
// order until fn returns true; returns whether it did.
template <typename Fn>
bool any_channel(APP_CONTEXT* ctx, Fn fn) {
  for (int r = 0, n = receiver_count(ctx); r < n; ++r) {
    RECEIVER_INFO* rx = &ctx->receivers[r];
    for (int k = 0, m = channel_count(rx); k < m; ++k)
      if (fn(r, rx, k, rx->channels[k])) return true;
  }
  return false;
}

}  // namespace

void reset_channel_id_seq() { channel_id_seq.store(0); }
void reset_slot_seq() { slot_seq.store(0); }
int32_t next_channel_id() { return channel_id_seq.fetch_add(1); }
int32_t next_slot_index() { return slot_seq.fetch_add(1) % MAX_DISPLAY_SLOTS; }
int32_t get_channel_id_seq() { return channel_id_seq.load(); }

void assign_channel_ids(RECEIVER_INFO* rx) {
  if (!rx) return;
  for (int k = 0, m = channel_count(rx); k < m; ++k) {
    CHANNEL_INFO& ch = rx->channels[k];
    if (!enabled(rx, k))
      ch.id = -1;
    else if (ch.id < 0)
      ch.id = next_channel_id();
  }
}

void renumber_channel_ids(APP_CONTEXT* ctx) {
  reset_channel_id_seq();
  any_channel(ctx, [](int, RECEIVER_INFO* rx, int k, CHANNEL_INFO& ch) {
    ch.id = enabled(rx, k) ? next_channel_id() : -1;
    return false;
  });
}

void assign_slot_indexes(RECEIVER_INFO* rx) {
  if (!rx) return;
  for (int k = 0, m = channel_count(rx); k < m; ++k) {
    CHANNEL_INFO& ch = rx->channels[k];
    if (!enabled(rx, k))
      ch.slot = -1;
    else if (ch.slot < 0)
      ch.slot = next_slot_index();
  }
}

RECEIVER_INFO* find_receiver_by_channel(APP_CONTEXT* ctx, int32_t id) {
  RECEIVER_INFO* found = nullptr;
  any_channel(ctx, [&](int, RECEIVER_INFO* rx, int, CHANNEL_INFO& ch) {
    if (ch.id != id) return false;
    found = rx;
    return true;
  });
  return found;
}

int find_receiver_index_by_channel(APP_CONTEXT* ctx, int32_t id) {
  int found = -1;
  any_channel(ctx, [&](int r, RECEIVER_INFO*, int, CHANNEL_INFO& ch) {
    if (ch.id != id) return false;
    found = r;
    return true;
  });
  return found;
}

RECEIVER_INFO* find_receiver_by_name(APP_CONTEXT* ctx, const char* name) {
  if (!name) return nullptr;
  for (int r = 0, n = receiver_count(ctx); r < n; ++r)
    if (strcmp(ctx->receivers[r].name, name) == 0) return &ctx->receivers[r];
  return nullptr;
}

int find_channel(const RECEIVER_INFO* rx, int32_t id) {
  if (!rx) return -1;
  for (int k = 0, m = channel_count(rx); k < m; ++k)
    if (rx->channels[k].id == id) return k;
  return -1;
}

int is_channel_selected(APP_CONTEXT* ctx, int32_t id) {
  int selected = 0;
  any_channel(ctx, [&](int, RECEIVER_INFO*, int, CHANNEL_INFO& ch) {
    if (ch.id != id) return false;
    selected = ch.selected;
    return true;
  });
  return selected;
}

int count_selected_channels(APP_CONTEXT* ctx) {
  int n = 0;
  any_channel(ctx, [&](int, RECEIVER_INFO*, int, CHANNEL_INFO& ch) {
    n += ch.selected ? 1 : 0;
    return false;
  });
  return n;
}

int count_marked_channels(APP_CONTEXT* ctx) {
  int n = 0;
  any_channel(ctx, [&](int, RECEIVER_INFO*, int, CHANNEL_INFO& ch) {
    n += ch.recording ? 1 : 0;
    return false;
  });
  return n;
}

int count_enabled_channels(APP_CONTEXT* ctx) {
  int n = 0;
  any_channel(ctx, [&](int, RECEIVER_INFO* rx, int k, CHANNEL_INFO&) {
    n += enabled(rx, k) ? 1 : 0;
    return false;
  });
  return n;
}

int32_t first_selected_channel(APP_CONTEXT* ctx) {
  int32_t id = -1;
  any_channel(ctx, [&](int, RECEIVER_INFO*, int, CHANNEL_INFO& ch) {
    if (!ch.selected) return false;
    id = ch.id;
    return true;
  });
  return id;
}

int is_on_current_page(APP_CONTEXT* ctx, int32_t id) {
  if (!ctx || id < 0) return 0;
  int64_t cells = cell_count(ctx), page = ctx->page;
  return (cells * page <= id && id < cells * (page + 1)) ? 1 : 0;
}

int is_channel_shown(APP_CONTEXT* ctx, int32_t id) {
  if (!ctx || id < 0) return 0;
  if (ctx->single_view && id == ctx->single_channel) return 1;
  return is_on_current_page(ctx, id);
}

void update_shown_masks(APP_CONTEXT* ctx) {
  for (int r = 0, n = receiver_count(ctx); r < n; ++r) {
    RECEIVER_INFO* rx = &ctx->receivers[r];
    // Built aside and stored once: a receive thread never sees a half-made mask.
    uint32_t mask = 0;
    for (int k = 0, m = channel_count(rx); k < m; ++k) {
      CHANNEL_INFO& ch = rx->channels[k];
      if (is_channel_shown(ctx, ch.id)) {
        mask |= 1u << k;
        ch.shown = 1;
      } else {
        ch.hidden = 1;
        ch.shown = 0;
      }
    }
    rx->shown_mask = mask;
  }
}

int page_of_index(APP_CONTEXT* ctx, int32_t index) {
  if (!ctx) return 0;
  int64_t cells = cell_count(ctx);
  return cells > 0 ? static_cast<int>(index / cells) : 0;
}

int cell_at_point(APP_CONTEXT* ctx, int x, int y, bool cells_only) {
  if (!ctx) return -1;
  if (ctx->single_view && !cells_only) {
    const RECT16& e = ctx->enlarged_rect;
    if (e.x < x && x < e.x + e.w && e.y < y && y < e.y + e.h) return ctx->single_channel;
  }
  const DISPLAY_LAYOUT& l = current_layout(ctx);
  for (int i = 0, n = static_cast<int>(cell_count(ctx)); i < n; ++i) {
    const RECT16& c = l.cells[i];
    if (c.x <= x && x < c.x + c.w + ctx->gap_w && c.y <= y && y < c.y + c.h + ctx->gap_h) return i;
  }
  return -1;
}

uint32_t decoder_slot_of_channel(const RECEIVER_INFO* rx, int channel) {
  if (!rx) return 0;
  const APP_CONTEXT* ctx = rx->context ? rx->context : &app_context;
  uint32_t slots = ctx->num_slots;
  if (slots == 0) return 0;
  if (ctx->num_receivers == 1) return static_cast<uint32_t>(channel < 0 ? 0 : channel) % slots;
  uint32_t index = static_cast<uint32_t>(rx->index < 0 ? 0 : rx->index);
  return index < slots ? index : index % slots;
}

int layout_for_cells(APP_CONTEXT* ctx, int n) {
  if (!ctx) return 1;
  for (int i = 0; i < NUM_LAYOUTS; ++i)
    if (static_cast<int64_t>(ctx->layouts[i].num_cells) >= n)
      return static_cast<int>(ctx->layouts[i].id);
  return 1;
}

// ---------------------------------------------------------------------------------------
// Filling a receiver from the setup tables

namespace {

void copy_from_dvr(RECEIVER_INFO* rx, const RC_DVR_INFO& d, const uint32_t* filter) {
  rx->protocol = d.protocol;
  copy_field(rx->name, d.name);
  copy_field(rx->address, d.ipaddress);
  copy_field(rx->host_type, d.host_type);
  rx->live_port = d.port[DVR_PORT_VIDEO];
  rx->pb_port = d.port[DVR_PORT_PLAYBACK];
  rx->ctrl_port = d.port[DVR_PORT_CONTROL];
  if (copy_field(rx->username, d.username) | copy_field(rx->password, d.password))
    printf("DVR %s: user name or password longer than %zu characters, cut.\n", d.name,
           sizeof rx->username - 1);
  rx->num_video = d.num_video;
  rx->num_video1 = d.num_video1;
  rx->num_video2 = d.num_video2;
  rx->count_flag = d.flag;
  if (filter) rx->channel_mask = *filter;
  for (int k = 0; k < d.num_video && k < DVR_MAX_CAMERAS && k < MAX_CHANNELS; ++k)
    if (!filter || ((*filter >> k) & 1u)) copy_field(rx->channels[k].camera_name, d.camera_name[k]);
  // The password stays out of standard output.
  printf("\n dvr_info[i].username = %s, dvr_info[i].password = %s\n", rx->username,
         rx->password[0] ? "********" : "");
}

}  // namespace

int fill_receiver_from_setup(const char* name, RECEIVER_INFO* rx, int member) {
  if (!rx) return -1;
  auto lock = setup_read_lock();
  if (name) {
    const RC_DVR_INFO* d = get_dvr_table();
    for (int i = 0, n = get_num_dvr(); i < n; ++i)
      if (strcmp(d[i].name, name) == 0) {
        copy_from_dvr(rx, d[i], nullptr);
        return 0;
      }
    const RC_GROUP_INFO* g = get_group_table();
    for (int i = 0, n = get_num_group(); i < n; ++i) {
      if (strcmp(g[i].name, name) != 0) continue;
      if (member < 0 || member >= g[i].num_dvr || !g[i].dvr_info || !g[i].channel_filter) return -2;
      copy_from_dvr(rx, g[i].dvr_info[member], &g[i].channel_filter[member]);
      return 0;
    }
  }
  copy_field(rx->name, "[FILE]");
  rx->protocol = 0;
  rx->channel_mask = 0xFFFFFFFFu;
  rx->num_video = 32;
  rx->num_video1 = 32;
  return -1;
}
