// Layouts, pages and user layouts: the table of 28 DISPLAY_LAYOUTs in APP_CONTEXT (1..12 the
// g x g grids over the video area, 13..27 user layouts made by splitting or merging cells),
// choosing and stepping layouts, paging through the channels, rotating the selected
// cameras, and the dashed selection frame of a pending merge.
//
// Threads: the window loop only (layout, page and view changes take no lock; decoder threads
// read them through is_channel_shown). create_selection_frame takes the selection frame
// mutex. Every change that succeeds ends with redraw_all_channels; a refused change leaves
// the view as it was.
#pragma once

#include "client/foundation/app_state.h"

constexpr int FIRST_USER_LAYOUT = 13;
constexpr int LAST_USER_LAYOUT = 27;

// Cell count of layout n; 0 for an undefined layout or n outside 0..27.
int get_layout_cells(const APP_CONTEXT* ctx, int n);
// Layouts 1..12 become the grids over the current video area (cells beyond g x g kept).
int build_grid_layouts(APP_CONTEXT* ctx);
// Scales user layouts 13..27 between the skin's video rectangle and the desktop, after the
// full-screen flag changed (entered when it is now set). Nothing happens when either size
// is unknown (no skin, no desktop) or a layout's grid unit is 0.
void rescale_user_layouts(APP_CONTEXT* ctx);

// 0; -1 "Layout is out-of-bounds.\n" (n outside 1..27); -2 "Invalid layout.\n" (no cells).
int set_layout(APP_CONTEXT* ctx, int n);
// Next defined layout upwards: 0, or -1 when the current layout is 6 or more.
int layout_up(APP_CONTEXT* ctx);
// Previous defined layout: 0, or -1 when the current layout is below 2.
int layout_down(APP_CONTEXT* ctx);
// 0; -1 no channels; -2 a negative page. A page past the channels becomes page 0.
int set_layout_page(APP_CONTEXT* ctx, int p);
// 0; -1 no channels; -2 layout without cells; -3 fewer channels than cells. In the
// picture-in-picture view they step the enlarged channel instead of the page.
int next_page(APP_CONTEXT* ctx);
int prev_page(APP_CONTEXT* ctx);
// Each selected camera takes the id (cell) of the previous selected one, the first that of
// the last: 0, or -1 when nothing is selected.
int rotate_selected_channels(APP_CONTEXT* ctx);

// First user layout whose registered flag is 0, or -1.
int find_free_user_layout(const APP_CONTEXT* ctx);
// Copies the current layout into n (13..27) with the registered flag cleared.
void copy_current_layout(APP_CONTEXT* ctx, int n);
void mark_layout_registered(APP_CONTEXT* ctx);
// 0, or -1 when n is not a user layout.
int free_user_layout(APP_CONTEXT* ctx, int n);
// Splits the channel's cell into four in a free user layout and shows it: 0; -1 no free
// user layout; -2 current layout 9..12; -3 the layout would pass 144 cells (or has none);
// -4 a channel id below 0.
int split_channel_cell(APP_CONTEXT* ctx, int channel_id);
// split_channel_cell for every channel selected when called, receivers and channels in order.
void split_selected_cells(APP_CONTEXT* ctx);
// Merge rectangle from two cell indexes of the current layout: the result of
// create_selection_frame; -2 an index outside the layout; -3 past the video area; -4 a cell
// cut by the rectangle.
int set_merge_rect(APP_CONTEXT* ctx, int cell_a, int cell_b);
// Applies the pending merge in a free user layout: 1; -1 no free user layout; -2 layout 1
// or 2; -3 no merge rectangle pending. Notices go to debug_message.
int merge_cells(APP_CONTEXT* ctx);
// (Re)creates the dashed red w x h frame under the selection frame mutex: 0, or -1.
int create_selection_frame(APP_CONTEXT* ctx, int w, int h);
