#include "tool/kpt4100/grid_model.h"

#include <cstdio>
#include <new>

const GridSpec kMotionGrid = {24, 30, 0, 0, 10, 9, 9, 0, 0, 1, 2, 60, false};
const GridSpec kScheduleGrid = {7, 24, 99, 23, 22, 21, 21, 4, 1, 4, 4, 80, true};

GridInteraction grid_interaction;

namespace {

bool knows(const Grid& g, int state) {
  return state >= g.spec->min_state && state <= g.spec->max_state;
}

// Paints the cell under (x, y) when its state differs from the paint mode.
void paint_at(Grid& g, int x, int y) {
  if (!grid_find_cell(g, x, y)) return;
  const int i = grid_interaction.current;
  if (g.cells[size_t(i)].state != grid_interaction.paint_mode)
    grid_set_cell(g, i, grid_interaction.paint_mode);
}

}  // namespace

int grid_init(Grid* g, const GridSpec& spec) {
  g->spec = &spec;
  try {
    g->cells.assign(size_t(spec.rows * spec.cols), {});
  } catch (const std::bad_alloc&) {
    printf("MALLOC(sched_image_info) failed.\n");
    return -1;
  }
  for (int r = 0; r < spec.rows; ++r)
    for (int c = 0; c < spec.cols; ++c) {
      const int i = r * spec.cols + c;
      g->cells[size_t(i)] = {i + 1, spec.x0 + spec.step * c, spec.y0 + spec.step * r, spec.initial};
    }
  try {
    g->buttons.assign(size_t(spec.buttons), {});
  } catch (const std::bad_alloc&) {
    printf("MALLOC(sched_button_info) failed.\n");
    return -1;
  }
  for (int i = 0; i < spec.buttons; ++i) g->buttons[size_t(i)] = {i + 1, spec.button_w * i, 0, 0};
  return 0;
}

int grid_find_cell(const Grid& g, int x, int y) {
  const GridSpec& s = *g.spec;
  if (x < s.x0 || y < s.y0) return 0;
  // Boxes do not overlap: the only candidate is the cell whose column and row start at or
  // before the point.
  const int c = (x - s.x0) / s.step, r = (y - s.y0) / s.step;
  if (c >= s.cols || r >= s.rows) return 0;
  const sched_image_info& cell = g.cells[size_t(r * s.cols + c)];
  if (x > cell.x + s.box || y > cell.y + s.box) return 0;
  grid_interaction.current = r * s.cols + c;
  return 1;
}

void grid_set_cell(Grid& g, int i, int state) {
  if (i < 0 || size_t(i) >= g.cells.size() || !knows(g, state)) return;
  g.cells[size_t(i)].state = state;
  if (g.draw_cell) g.draw_cell(i, state);
}

void grid_press(Grid& g, int x, int y) {
  grid_interaction.press_x = x;
  grid_interaction.press_y = y;
  grid_interaction.pressed = true;
  paint_at(g, x, y);
}

void grid_release() { grid_interaction.pressed = false; }

void grid_drag(Grid& g, int x, int y) {
  GridInteraction& s = grid_interaction;
  s.pointer_x = x;
  s.pointer_y = y;
  if (!s.pressed) return;
  paint_at(g, x, y);
  // The row segment and the column segment that join the pointer to the press point.
  const int dx = x > s.press_x ? 1 : -1;
  if (x != s.press_x)
    for (int px = s.press_x;; px += dx) {
      paint_at(g, px, y);
      if (px == x) break;
    }
  const int dy = y > s.press_y ? 1 : -1;
  if (y != s.press_y)
    for (int py = s.press_y;; py += dy) {
      paint_at(g, x, py);
      if (py == y) break;
    }
}

void grid_set_button(Grid& g, int i, int selected) {
  if (i < 0 || size_t(i) >= g.buttons.size()) return;
  g.buttons[size_t(i)].state = selected ? 1 : 0;
  if (g.draw_button) g.draw_button(i, selected ? 1 : 0);
}

int grid_mode_press(Grid& g, int x, int y) {
  if (grid_interaction.pressed) return 0;
  const GridSpec& s = *g.spec;
  int hit = -1;
  for (const sched_button_info& b : g.buttons)
    if (x >= b.x && x <= b.x + s.button_w && y >= b.y && y <= b.y + 20) {
      hit = b.id - 1;
      break;
    }
  if (hit < 0) return 0;
  const bool selected = g.buttons[size_t(hit)].state == 1;
  if (!s.schedule) {
    grid_interaction.paint_mode = hit;
    if (selected) return 1;
    for (int i = 0; i < s.buttons; ++i) grid_set_button(g, i, i == hit);
    return 1;
  }
  grid_interaction.paint_mode = hit + 1;
  if (selected) {
    grid_set_button(g, hit, 0);
    grid_interaction.paint_mode = 0;  // painting does nothing until a mode is chosen again
    return 1;
  }
  for (int i = 0; i < s.buttons; ++i) grid_set_button(g, i, i == hit);
  return 1;
}

void grid_fill(Grid& g, int state) {
  for (size_t i = 0; i < g.cells.size(); ++i) grid_set_cell(g, int(i), state);
}
