// The channel table over the receivers of APP_CONTEXT: client-wide channel ids and display
// slots, queries for shown / selected / pointed-at channels, the decoder slot of a channel,
// and the filling of a receiver from the setup tables before it connects.
//
// The queries run on the window loop and on decoder and receive threads without a lock of
// their own; callers that change the view hold the context's display mutex. Receivers are
// taken in connection order, channels 0..num_video-1 within each (at most 32).
#pragma once

#include <cstdint>

#include "client/foundation/app_state.h"

// Calls fn(receiver, channel, channel index) for every channel record in table order: the
// first num_receivers receivers, the first num_video channels of each, both cut to the tables.
template <typename Fn>
void for_each_channel(APP_CONTEXT* ctx, Fn fn) {
  int n = ctx->num_receivers;
  if (n > MAX_RECEIVERS) n = MAX_RECEIVERS;
  for (int r = 0; r < n; ++r) {
    RECEIVER_INFO& rx = ctx->receivers[r];
    const uint32_t nv = rx.num_video > MAX_CHANNELS ? MAX_CHANNELS : rx.num_video;
    for (uint32_t k = 0; k < nv; ++k) fn(rx, rx.channels[k], static_cast<int>(k));
  }
}

// Sequence counters.
void reset_channel_id_seq();
void reset_slot_seq();
int32_t next_channel_id();  // the counter, then +1
int32_t next_slot_index();  // the counter modulo 144, then +1
int32_t get_channel_id_seq();

// Numbering: disabled channels (mask bit clear) get -1; enabled ones without an id get the
// next one; given ids stay. renumber_channel_ids makes the ids dense again in receiver order.
void assign_channel_ids(RECEIVER_INFO* rx);
void renumber_channel_ids(APP_CONTEXT* ctx);
void assign_slot_indexes(RECEIVER_INFO* rx);

// Queries; absence is nullptr, -1 or 0 as each says.
RECEIVER_INFO* find_receiver_by_channel(APP_CONTEXT* ctx, int32_t id);
int find_receiver_index_by_channel(APP_CONTEXT* ctx, int32_t id);
RECEIVER_INFO* find_receiver_by_name(APP_CONTEXT* ctx, const char* name);
int find_channel(const RECEIVER_INFO* rx, int32_t id);  // channel index or -1
int is_channel_selected(APP_CONTEXT* ctx, int32_t id);  // 0 when no channel has the id
int count_selected_channels(APP_CONTEXT* ctx);
int count_marked_channels(APP_CONTEXT* ctx);
int count_enabled_channels(APP_CONTEXT* ctx);
int32_t first_selected_channel(APP_CONTEXT* ctx);  // -1 when none
// 1 when id >= 0 and it is the single-view channel (single view on) or on the current page.
int is_channel_shown(APP_CONTEXT* ctx, int32_t id);
int is_on_current_page(APP_CONTEXT* ctx, int32_t id);
// Recomputes every receiver's shown mask and the channels' shown/hidden flags.
void update_shown_masks(APP_CONTEXT* ctx);
// Page of a display index; 0 for a layout with no cells.
int page_of_index(APP_CONTEXT* ctx, int32_t index);
// Single-view channel inside the enlarged rectangle (edges excluded), else the first cell
// of the current layout under the point (left/top edges included, gaps added), else -1.
// With `cells_only` the enlarged rectangle is not tested (the caller tested it already).
int cell_at_point(APP_CONTEXT* ctx, int x, int y, bool cells_only = false);
// Decoder slot carrying `channel` of `rx` (one DVR spreads its channels over the slots).
uint32_t decoder_slot_of_channel(const RECEIVER_INFO* rx, int channel);
// Id of the first layout with at least n cells; 1 when none is big enough.
int layout_for_cells(APP_CONTEXT* ctx, int n);

// Fills `rx` from the DVR named `name`, or from member `member` of the group of that name
// (channel mask = the member's filter). 0 on success; -1 when the name is neither (the
// receiver becomes a 32-channel "[FILE]" source); -2 for a member index outside the group
// (receiver untouched). User name and password are cut to the receiver's 7 characters.
int fill_receiver_from_setup(const char* name, RECEIVER_INFO* rx, int member);
