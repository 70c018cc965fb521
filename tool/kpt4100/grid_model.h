// The two paintable grids of the DVR Setup window without GTK: the motion area (24 x 30
// cells, states 0 not watched / 1 watched) and the week's record schedule (7 x 24 cells,
// states 1 always, 2 motion, 3 sensor, 4 none); their cell and mode-button tables, hit
// tests, and the painting by press, drag and mode buttons. The window draws what changes
// through the two hooks. GTK main thread only.
#pragma once

#include <functional>
#include <vector>

struct sched_image_info {
  int id;  // cell index + 1
  int x, y;
  int state;
};
struct sched_button_info {
  int id;  // 1-based
  int x, y;
  int state;  // 1 selected
};

struct GridSpec {
  int rows, cols;
  int x0, y0, step;  // cell (r, c) at (x0 + step c, y0 + step r)
  int box;           // hit box x .. x + box (inclusive)
  int cell_size;     // picture size
  int initial;
  int min_state, max_state;
  int buttons, button_w;  // mode buttons at x = button_w i, 20 high
  bool schedule;          // mode buttons toggle (schedule) or stay (motion)
};
extern const GridSpec kMotionGrid;
extern const GridSpec kScheduleGrid;

struct Grid {
  const GridSpec* spec = nullptr;
  std::vector<sched_image_info> cells;
  std::vector<sched_button_info> buttons;
  std::function<void(int cell, int state)> draw_cell;         // may be empty
  std::function<void(int button, int selected)> draw_button;  // may be empty
};

// Interaction state shared by both grids (one is visible at a time; a mode chosen on one
// stays in force on the other).
struct GridInteraction {
  int paint_mode = 0;
  int current = -1;
  bool pressed = false;
  int press_x = 0, press_y = 0;
  int pointer_x = 0, pointer_y = 0;
};
extern GridInteraction grid_interaction;

// (Re)builds the tables of a grid: cells at their initial state, buttons not selected.
// 0, or -1 when the memory cannot be had.
int grid_init(Grid* g, const GridSpec& spec);
// 1 and grid_interaction.current := the cell whose hit box holds (x, y), else 0.
int grid_find_cell(const Grid& g, int x, int y);
// Sets cell i to `state` when the grid knows the state; anything else does nothing.
void grid_set_cell(Grid& g, int i, int state);
// Mouse on the grid area: a single press, a release, a motion.
void grid_press(Grid& g, int x, int y);
void grid_release();
void grid_drag(Grid& g, int x, int y);
// A single press on the mode strip (ignored while a grid press is held): 1 when a button
// was hit, else 0.
int grid_mode_press(Grid& g, int x, int y);
// Shows button i selected or not.
void grid_set_button(Grid& g, int i, int selected);
// Every cell to `state` (motion grid's select-all and clear).
void grid_fill(Grid& g, int state);
