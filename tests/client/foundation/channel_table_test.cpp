// Channel ids, display slots, view queries and decoder slots over the context's receivers.
#include <gtest/gtest.h>

#include <memory>

#include "client/foundation/channel_table.h"

namespace {

class ChannelTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_ = std::make_unique<APP_CONTEXT>();
    reset_channel_id_seq();
    reset_slot_seq();
  }
  void TearDown() override {
    for (int r = 0; r < ctx_->num_receivers; ++r) free_receiver(&ctx_->receivers[r]);
  }
  // Adds a receiver with n channels and the mask, numbered like a connection does.
  RECEIVER_INFO* add(int n, uint32_t mask, const char* name = "dvr") {
    RECEIVER_INFO* rx = &ctx_->receivers[ctx_->num_receivers];
    EXPECT_EQ(init_receiver(rx), 0);
    rx->index = ctx_->num_receivers++;
    rx->context = ctx_.get();
    rx->num_video = static_cast<uint32_t>(n);
    rx->channel_mask = mask;
    snprintf(rx->name, sizeof rx->name, "%s", name);
    assign_channel_ids(rx);
    assign_slot_indexes(rx);
    return rx;
  }
  void grid(int layout, int cells, int w, int h) {
    DISPLAY_LAYOUT& l = ctx_->layouts[layout];
    l.id = static_cast<uint32_t>(layout);
    l.num_cells = static_cast<uint32_t>(cells);
    for (int i = 0; i < cells; ++i)
      l.cells[i] = RECT16{static_cast<int16_t>(i * w), 0, static_cast<uint16_t>(w),
                          static_cast<uint16_t>(h)};
  }
  std::unique_ptr<APP_CONTEXT> ctx_;
};

}  // namespace

TEST_F(ChannelTableTest, disabled_channels_get_no_id_and_ids_continue_across_receivers) {
  RECEIVER_INFO* a = add(4, 0b0101);
  EXPECT_EQ(a->channels[0].id, 0);
  EXPECT_EQ(a->channels[1].id, -1);
  EXPECT_EQ(a->channels[2].id, 1);
  EXPECT_EQ(a->channels[3].id, -1);
  EXPECT_EQ(a->channels[1].slot, -1);
  RECEIVER_INFO* b = add(2, 0xFFFFFFFF);
  EXPECT_EQ(b->channels[0].id, 2);
  EXPECT_EQ(b->channels[1].id, 3);
  EXPECT_EQ(get_channel_id_seq(), 4);
  // Numbering again keeps ids already given.
  assign_channel_ids(a);
  EXPECT_EQ(a->channels[2].id, 1);
  EXPECT_EQ(get_channel_id_seq(), 4);
  // Disabling a channel and renumbering makes the ids dense again.
  a->channel_mask = 0b0100;
  renumber_channel_ids(ctx_.get());
  EXPECT_EQ(a->channels[0].id, -1);
  EXPECT_EQ(a->channels[2].id, 0);
  EXPECT_EQ(b->channels[1].id, 2);
}

TEST_F(ChannelTableTest, slot_counter_wraps_at_144) {
  for (int i = 0; i < 144; ++i) EXPECT_EQ(next_slot_index(), i);
  EXPECT_EQ(next_slot_index(), 0);
}

TEST_F(ChannelTableTest, oversized_channel_count_stays_inside_the_channel_records) {
  RECEIVER_INFO* a = add(1000, 0xFFFFFFFF);
  EXPECT_EQ(get_channel_id_seq(), MAX_CHANNELS);
  EXPECT_EQ(a->channels[31].id, 31);
  EXPECT_EQ(count_enabled_channels(ctx_.get()), MAX_CHANNELS);
  ctx_->num_receivers = 100000;  // a corrupt count walks only the table
  EXPECT_EQ(find_receiver_by_channel(ctx_.get(), 9999), nullptr);
  ctx_->num_receivers = 1;
}

TEST_F(ChannelTableTest, lookups_by_id_and_name) {
  add(4, 0xF, "A");
  RECEIVER_INFO* b = add(4, 0xA, "B");
  // B's channels 2 and 4 carry ids 4 and 5; the disabled ones match no id.
  EXPECT_EQ(find_receiver_index_by_channel(ctx_.get(), 5), 1);
  EXPECT_EQ(find_channel(b, 5), 3);
  EXPECT_EQ(find_receiver_index_by_channel(ctx_.get(), 6), -1);
  EXPECT_EQ(find_receiver_by_name(ctx_.get(), "b"), nullptr);
  EXPECT_EQ(count_enabled_channels(ctx_.get()), 6);
  b->channels[3].selected = 1;
  EXPECT_EQ(first_selected_channel(ctx_.get()), 5);
  EXPECT_EQ(is_channel_selected(ctx_.get(), 77), 0);
}

TEST_F(ChannelTableTest, shown_channels_follow_page_and_single_view) {
  RECEIVER_INFO* a = add(8, 0xFF);
  grid(2, 4, 100, 80);
  ctx_->layout = 2;
  ctx_->page = 1;
  EXPECT_EQ(is_channel_shown(ctx_.get(), 3), 0);
  EXPECT_EQ(is_channel_shown(ctx_.get(), 4), 1);
  EXPECT_EQ(is_channel_shown(ctx_.get(), 7), 1);
  EXPECT_EQ(is_channel_shown(ctx_.get(), 8), 0);
  EXPECT_EQ(is_channel_shown(ctx_.get(), -1), 0);
  ctx_->single_view = 1;
  ctx_->single_channel = 0;
  EXPECT_EQ(is_channel_shown(ctx_.get(), 0), 1);
  EXPECT_EQ(is_on_current_page(ctx_.get(), 0), 0);
  ctx_->single_view = 0;

  a->channels[0].shown = 1;
  update_shown_masks(ctx_.get());
  EXPECT_EQ(a->shown_mask, 0xF0u);
  EXPECT_EQ(a->channels[0].shown, 0);
  EXPECT_EQ(a->channels[0].hidden, 1);
  EXPECT_EQ(a->channels[5].shown, 1);
  EXPECT_EQ(page_of_index(ctx_.get(), 9), 2);
}

TEST_F(ChannelTableTest, layout_without_cells_shows_nothing_and_divides_by_nothing) {
  add(4, 0xF);
  ctx_->layout = 5;  // never filled: 0 cells
  ctx_->page = 3;
  EXPECT_EQ(page_of_index(ctx_.get(), 17), 0);
  EXPECT_EQ(is_channel_shown(ctx_.get(), 0), 0);
  EXPECT_EQ(cell_at_point(ctx_.get(), 1, 1), -1);
  ctx_->layout = 99;  // out of the table: treated as layout 0
  EXPECT_EQ(page_of_index(ctx_.get(), 17), 0);
  EXPECT_EQ(layout_for_cells(ctx_.get(), 200), 1);  // none big enough
}

TEST_F(ChannelTableTest, cell_hit_test_edges_and_gaps) {
  grid(1, 2, 100, 80);  // cells at x 0..99 and 100..199
  ctx_->layout = 1;
  ctx_->gap_w = 2;
  ctx_->gap_h = 0;
  EXPECT_EQ(cell_at_point(ctx_.get(), 0, 0), 0);
  EXPECT_EQ(cell_at_point(ctx_.get(), 100, 10), 0);  // the gap belongs to the first cell
  EXPECT_EQ(cell_at_point(ctx_.get(), 102, 10), 1);
  EXPECT_EQ(cell_at_point(ctx_.get(), 50, 80), -1);
  // The enlarged picture excludes its own edges; a cell starting there still hits.
  ctx_->single_view = 1;
  ctx_->single_channel = 9;
  ctx_->enlarged_rect = RECT16{100, 0, 100, 80};
  EXPECT_EQ(cell_at_point(ctx_.get(), 100, 10), 0);
  EXPECT_EQ(cell_at_point(ctx_.get(), 101, 10), 9);
  // Hit-testing the cells alone leaves the view mode as it is for the decoders.
  EXPECT_EQ(cell_at_point(ctx_.get(), 101, 10, true), 0);
  EXPECT_EQ(ctx_->single_view, 1);
}

TEST_F(ChannelTableTest, decoder_slots_spread_one_dvr_or_map_receivers) {
  RECEIVER_INFO* a = add(16, 0xFFFF);
  ctx_->num_slots = 8;
  EXPECT_EQ(decoder_slot_of_channel(a, 3), 3u);
  EXPECT_EQ(decoder_slot_of_channel(a, 11), 3u);
  add(4, 0xF);
  add(4, 0xF);
  RECEIVER_INFO* c = &ctx_->receivers[2];
  ctx_->num_slots = 2;
  EXPECT_EQ(decoder_slot_of_channel(a, 11), 0u);
  EXPECT_EQ(decoder_slot_of_channel(&ctx_->receivers[1], 0), 1u);
  EXPECT_EQ(decoder_slot_of_channel(c, 0), 0u);  // index 2 modulo 2
  ctx_->num_slots = 0;
  EXPECT_EQ(decoder_slot_of_channel(c, 0), 0u);
}
