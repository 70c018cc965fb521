// The paintable grids: hit boxes and their edges, the mode buttons of both strips, and the
// cells a press and a drag paint.
#include "tool/kpt4100/grid_model.h"

#include <set>

#include <gtest/gtest.h>

namespace {

class Grids : public ::testing::Test {
 protected:
  void SetUp() override {
    grid_interaction = GridInteraction{};
    ASSERT_EQ(0, grid_init(&motion_, kMotionGrid));
    ASSERT_EQ(0, grid_init(&sched_, kScheduleGrid));
    motion_.draw_cell = [this](int i, int) { drawn_.insert(i); };
    sched_.draw_cell = [this](int i, int) { drawn_.insert(i); };
  }
  Grid motion_, sched_;
  std::set<int> drawn_;
};

TEST_F(Grids, tables_and_hit_boxes) {
  ASSERT_EQ(720u, motion_.cells.size());
  ASSERT_EQ(168u, sched_.cells.size());
  EXPECT_EQ(605, sched_.cells[23].x);
  EXPECT_EQ(155, sched_.cells[167].y);
  EXPECT_EQ(4, sched_.cells[0].state);
  struct Case {
    Grid* g;
    int x, y, found, cell;
  } cases[] = {
      {&motion_, 0, 0, 1, 0},       {&motion_, 9, 9, 1, 0},    {&motion_, 10, 0, 1, 1},
      {&motion_, 299, 239, 1, 719}, {&motion_, 300, 0, 0, -1}, {&sched_, 98, 30, 0, -1},
      {&sched_, 120, 44, 1, 0},     {&sched_, 121, 45, 1, 25}, {&sched_, 626, 176, 1, 167},
      {&sched_, 627, 50, 0, -1},    {&sched_, 50, 10, 0, -1},
  };
  for (const Case& c : cases) {
    grid_interaction.current = -1;
    EXPECT_EQ(c.found, grid_find_cell(*c.g, c.x, c.y)) << c.x << "," << c.y;
    if (c.found) { EXPECT_EQ(c.cell, grid_interaction.current) << c.x << "," << c.y; }
  }
}

TEST_F(Grids, mode_buttons_pick_the_left_one_on_shared_edges_and_schedule_toggles) {
  EXPECT_EQ(1, grid_mode_press(motion_, 60, 10));
  EXPECT_EQ(0, grid_interaction.paint_mode);
  EXPECT_EQ(1, motion_.buttons[0].state);
  EXPECT_EQ(1, grid_mode_press(motion_, 61, 10));
  EXPECT_EQ(1, grid_interaction.paint_mode);
  EXPECT_EQ(0, motion_.buttons[0].state);
  EXPECT_EQ(0, grid_mode_press(motion_, 130, 10));
  EXPECT_EQ(1, grid_mode_press(sched_, 160, 0));
  EXPECT_EQ(2, grid_interaction.paint_mode);
  EXPECT_EQ(1, sched_.buttons[1].state);
  EXPECT_EQ(1, grid_mode_press(sched_, 100, 5));  // the selected one again: no mode
  EXPECT_EQ(0, grid_interaction.paint_mode);
  EXPECT_EQ(0, sched_.buttons[1].state);
  grid_press(sched_, 100, 30);  // mode 0 paints nothing on the schedule
  grid_drag(sched_, 400, 120);
  grid_release();
  EXPECT_TRUE(drawn_.empty());
  grid_interaction.pressed = true;  // a held grid press keeps the strip still
  EXPECT_EQ(0, grid_mode_press(sched_, 10, 5));
}

TEST_F(Grids, press_and_drag_paint_the_two_segments_from_the_press_point) {
  grid_mode_press(motion_, 70, 5);  // watch
  grid_press(motion_, 5, 5);
  EXPECT_EQ(std::set<int>{0}, drawn_);
  drawn_.clear();
  grid_drag(motion_, 35, 25);  // pointer at cell (2, 3); segments along row 2 and column 3
  grid_release();
  std::set<int> want{2 * 30 + 3};
  for (int c = 0; c <= 3; ++c) want.insert(2 * 30 + c);
  for (int r = 0; r <= 2; ++r) want.insert(r * 30 + 3);
  EXPECT_EQ(want, drawn_);
  drawn_.clear();
  grid_drag(motion_, 200, 200);  // released: nothing
  EXPECT_TRUE(drawn_.empty());
  // From the captions outside every cell a drag still paints what the segments cross.
  grid_mode_press(sched_, 90, 5);  // motion
  grid_press(sched_, 50, 30);
  EXPECT_TRUE(drawn_.empty());
  grid_drag(sched_, 125, 30);
  grid_release();
  EXPECT_EQ((std::set<int>{0, 1}), drawn_);
  EXPECT_EQ(2, sched_.cells[1].state);
  grid_fill(motion_, 1);
  grid_set_cell(motion_, 3, 2);  // a state the motion grid does not know
  EXPECT_EQ(1, motion_.cells[3].state);
}

}  // namespace
