// Layout table, paging and user layouts: refused numbers leave the view alone, paging
// terminates and steps by one, splits and merges keep every layout inside 144 cells.
#include <string>

#include "tests/client/screens/screens_fixture.h"

namespace {

using Layouts = ScreensTest;

TEST_F(Layouts, grids_cover_the_video_area) {
  for (int g = 1; g <= 12; ++g) {
    const DISPLAY_LAYOUT& l = ctx->layouts[g];
    ASSERT_EQ(l.num_cells, uint32_t(g * g));
    EXPECT_EQ(l.registered, 1u);
    const RECT16& last = l.cells[g * g - 1];
    EXPECT_EQ(last.x, (g - 1) * (640 / g));
    EXPECT_EQ(last.y, (g - 1) * (480 / g));
    EXPECT_EQ(last.w, 640 / g);
    EXPECT_EQ(last.h, 480 / g);
  }
}

TEST_F(Layouts, refused_layout_numbers_keep_the_view) {
  add_channels(16);
  ASSERT_EQ(set_layout(ctx, 4), 0);
  ctx->page = 0;
  struct Case {
    int n, rc;
    const char* text;
  } cases[] = {{0, -1, "Layout is out-of-bounds.\n"},
               {28, -1, "Layout is out-of-bounds.\n"},
               {144, -1, "Layout is out-of-bounds.\n"},
               {-3, -1, "Layout is out-of-bounds.\n"},
               {13, -2, "Invalid layout.\n"}};
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(set_layout(ctx, c.n), c.rc) << c.n;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.text);
    EXPECT_EQ(ctx->layout, 4);
  }
}

TEST_F(Layouts, layout_steps_stop_at_their_ends) {
  struct Case {
    int from;
    int (*step)(APP_CONTEXT*);
    int rc, to;
  } cases[] = {
      {6, layout_up, -1, 6}, {5, layout_up, 0, 6}, {1, layout_down, -1, 1}, {3, layout_down, 0, 2}};
  for (const Case& c : cases) {
    ctx->layout = c.from;
    EXPECT_EQ(c.step(ctx), c.rc) << c.from;
    EXPECT_EQ(ctx->layout, c.to) << c.from;
  }
}

TEST_F(Layouts, layout_step_never_lands_on_an_empty_page) {
  add_channels(8);
  ctx->layout = 1;
  ctx->page = 3;  // channel 3 in the single tile
  ASSERT_EQ(layout_up(ctx), 0);
  // Page 3 of a 4-cell layout would show channels 12..15, which do not exist.
  EXPECT_EQ(ctx->page, 0);
}

TEST_F(Layouts, next_page_reaches_only_full_pages) {
  add_channels(10);
  ASSERT_EQ(set_layout(ctx, 2), 0);
  int seen[3] = {};
  for (int i = 0; i < 6; ++i) {
    ASSERT_EQ(next_page(ctx), 0);
    ASSERT_GE(ctx->page, 0);
    ASSERT_LT(ctx->page, 3);
    ++seen[ctx->page];
  }
  EXPECT_EQ(seen[0], 3);
  EXPECT_EQ(seen[1], 3);
  EXPECT_EQ(seen[2], 0);
  EXPECT_EQ(set_layout_page(ctx, 2), 0);
  EXPECT_EQ(ctx->page, 2);
}

TEST_F(Layouts, prev_page_steps_back_one_page) {
  add_channels(13);
  ASSERT_EQ(set_layout(ctx, 2), 0);  // three full pages of four (channel 12 only by number)
  ctx->page = 2;
  const int expected[] = {1, 0, 2, 1};
  for (int e : expected) {
    ASSERT_EQ(prev_page(ctx), 0);
    EXPECT_EQ(ctx->page, e);
  }
}

TEST_F(Layouts, paging_refusals) {
  EXPECT_EQ(next_page(ctx), -1);  // no channels
  EXPECT_EQ(prev_page(ctx), -1);
  add_channels(3);
  ASSERT_EQ(set_layout(ctx, 2), 0);
  EXPECT_EQ(next_page(ctx), -3);  // fewer channels than cells
  EXPECT_EQ(set_layout_page(ctx, -1), -2);
  EXPECT_EQ(set_layout_page(ctx, 5), 0);
  EXPECT_EQ(ctx->page, 0);  // past the channels: first page
}

TEST_F(Layouts, pip_paging_skips_the_tiled_channel_and_terminates_with_one) {
  add_channels(3);
  ctx->layout = 1;
  ctx->page = 1;
  ctx->single_view = VIEW_PIP;
  ctx->single_channel = 0;
  ASSERT_EQ(next_page(ctx), 0);
  EXPECT_EQ(ctx->single_channel, 2);  // 1 is in the tile
  ASSERT_EQ(prev_page(ctx), 0);
  EXPECT_EQ(ctx->single_channel, 0);
  ctx->num_channels = 1;  // one channel only: paging must not loop for ever
  ctx->page = 0;
  EXPECT_EQ(next_page(ctx), 0);
  EXPECT_EQ(prev_page(ctx), 0);
  EXPECT_EQ(ctx->single_channel, 0);
}

TEST_F(Layouts, split_refusals_and_free_layouts) {
  add_channels(4);
  for (int n = 9; n <= 12; ++n) {
    ctx->layout = n;
    EXPECT_EQ(split_channel_cell(ctx, 0), -2) << n;
  }
  ASSERT_EQ(set_layout(ctx, 2), 0);
  for (int n = FIRST_USER_LAYOUT; n <= LAST_USER_LAYOUT; ++n) ctx->layouts[n].registered = 1;
  EXPECT_EQ(split_channel_cell(ctx, 0), -1);
  EXPECT_EQ(free_user_layout(ctx, 12), -1);
  EXPECT_EQ(free_user_layout(ctx, 20), 0);
  EXPECT_EQ(find_free_user_layout(ctx), 20);
}

TEST_F(Layouts, split_makes_four_cells_of_one) {
  add_channels(4);
  ASSERT_EQ(set_layout(ctx, 2), 0);
  ASSERT_EQ(split_channel_cell(ctx, 1), 0);
  ASSERT_EQ(ctx->layout, FIRST_USER_LAYOUT);
  const DISPLAY_LAYOUT& l = ctx->layouts[ctx->layout];
  ASSERT_EQ(l.num_cells, 7u);
  const RECT16 expect[] = {
      {320, 0, 160, 120}, {480, 0, 160, 120}, {320, 120, 160, 120}, {480, 120, 160, 120}};
  const int at[] = {1, 4, 5, 6};
  for (int i = 0; i < 4; ++i) {
    const RECT16& c = l.cells[at[i]];
    EXPECT_EQ(c.x, expect[i].x);
    EXPECT_EQ(c.y, expect[i].y);
    EXPECT_EQ(c.w, expect[i].w);
    EXPECT_EQ(c.h, expect[i].h);
  }
  EXPECT_EQ(l.registered, 0u);  // free again for the next split
}

TEST_F(Layouts, splits_never_pass_144_cells) {
  add_channels(1);
  ASSERT_EQ(set_layout(ctx, 8), 0);  // 64 cells
  int rc = 0, splits = 0;
  while ((rc = split_channel_cell(ctx, 0)) == 0 && splits < 100) ++splits;
  EXPECT_EQ(rc, -3);
  EXPECT_EQ(splits, 26);  // 64 + 26 x 3 = 142
  EXPECT_LE(get_layout_cells(ctx, ctx->layout), MAX_LAYOUT_CELLS);
}

TEST_F(Layouts, merge_rectangle_in_whole_units) {
  add_channels(16);
  ASSERT_EQ(set_layout(ctx, 4), 0);  // 4 x 4 of 160 x 120
  ASSERT_EQ(set_merge_rect(ctx, 0, 5), 0);
  EXPECT_EQ(ctx->merge_rect.x, 0);
  EXPECT_EQ(ctx->merge_rect.y, 0);
  EXPECT_EQ(ctx->merge_rect.w, 320);
  EXPECT_EQ(ctx->merge_rect.h, 240);
  // Three columns by two rows becomes two by two.
  ASSERT_EQ(set_merge_rect(ctx, 0, 6), 0);
  EXPECT_EQ(ctx->merge_rect.w, 320);
  EXPECT_EQ(ctx->merge_rect.h, 240);
  EXPECT_EQ(set_merge_rect(ctx, 0, 16), -2);
  EXPECT_EQ(set_merge_rect(ctx, -1, 3), -2);
  // Dashed frame: red corner, a black gap in the top edge, transparent inside.
  SDL_Surface* f = ctx->surfaces[SURF_SELECTION];
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(rgb_at(f, 0, 0), 0xFF0000u);
  EXPECT_EQ(rgb_at(f, 5, 0), 0x000000u);
  EXPECT_EQ(rgb_at(f, 9, 0), 0xFF0000u);
  EXPECT_EQ(rgb_at(f, 100, 100), 0x000000u);
}

TEST_F(Layouts, merge_rectangle_that_cuts_a_cell_is_refused) {
  add_channels(16);
  ASSERT_EQ(set_layout(ctx, 2), 0);
  ASSERT_EQ(split_channel_cell(ctx, 0), 0);  // cell 0 split into four of 160 x 120
  // From the small cell at (160, 0) to the big top-right cell: a square of 2 x 2 small units
  // at (160, 0) that takes only the left half of the big cell.
  EXPECT_EQ(set_merge_rect(ctx, 4, 1), -4);
  EXPECT_EQ(set_merge_rect(ctx, 0, 6), 0);  // the four small cells
}

TEST_F(Layouts, merge_joins_cells_into_one) {
  add_channels(16);
  ASSERT_EQ(set_layout(ctx, 4), 0);
  ASSERT_EQ(set_merge_rect(ctx, 5, 10), 0);  // the middle 2 x 2
  ASSERT_EQ(merge_cells(ctx), 1);
  const DISPLAY_LAYOUT& l = ctx->layouts[ctx->layout];
  ASSERT_EQ(l.num_cells, 13u);
  EXPECT_EQ(l.cells[5].x, 160);
  EXPECT_EQ(l.cells[5].y, 120);
  EXPECT_EQ(l.cells[5].w, 320);
  EXPECT_EQ(l.cells[5].h, 240);
  EXPECT_EQ(l.cells[6].x, 480);  // cell 7 moved up into 6
  for (uint32_t i = 0; i < l.num_cells; ++i) EXPECT_GT(l.cells[i].w, 0) << i;
  EXPECT_EQ(merge_cells(ctx), -3);  // nothing pending any more
  for (int n : {1, 2}) {            // refused in small grids
    ctx->layout = n;
    ctx->merge_rect = {0, 0, 10, 10};
    EXPECT_EQ(merge_cells(ctx), -2);
  }
}

TEST_F(Layouts, rotate_moves_each_selected_camera_one_cell_on) {
  add_channels(4);
  ASSERT_EQ(set_layout(ctx, 2), 0);
  EXPECT_EQ(rotate_selected_channels(ctx), -1);
  ctx->receivers[0].channels[0].selected = 1;
  ctx->receivers[0].channels[2].selected = 1;
  ctx->receivers[0].channels[3].selected = 1;
  ASSERT_EQ(rotate_selected_channels(ctx), 0);
  EXPECT_EQ(ctx->receivers[0].channels[0].id, 3);
  EXPECT_EQ(ctx->receivers[0].channels[1].id, 1);
  EXPECT_EQ(ctx->receivers[0].channels[2].id, 0);
  EXPECT_EQ(ctx->receivers[0].channels[3].id, 2);
  EXPECT_EQ(count_selected_channels(ctx), 0);
}

TEST_F(Layouts, user_layouts_survive_a_skinless_full_screen_change) {
  add_channels(4);
  ASSERT_EQ(set_layout(ctx, 2), 0);
  ASSERT_EQ(split_channel_cell(ctx, 0), 0);
  const DISPLAY_LAYOUT before = ctx->layouts[FIRST_USER_LAYOUT];
  ctx->fullscreen = 1;
  ctx->desktop_w = 1600;
  ctx->desktop_h = 1200;
  rescale_user_layouts(ctx);  // no skin: nothing to scale between
  EXPECT_EQ(memcmp(&before, &ctx->layouts[FIRST_USER_LAYOUT], sizeof before), 0);
}

}  // namespace
