// The motion-area and schedule grids on screen: cell and button images (each picture is
// loaded once per size and shared, so a drag across the grid loads no file), the grid
// areas and mode strips, and their mouse handlers over grid_model.
#include <map>
#include <string>
#include <tuple>

#include "tool/kpt4100/client/dvrsetup_client.h"
#include "tool/kpt4100/dvrsetup_internal.h"
#include "tool/kpt4100/dvrsetup_window.h"
#include "tool/kpt4100/eeprom_file.h"
#include "tool/language.h"

namespace {

// "dvrsetup/<name>.jpg" at w x h (aspect not kept); a plain swatch when the file is missing.
GdkPixbuf* picture(const char* name, int w, int h) {
  static std::map<std::tuple<std::string, int, int>, GdkPixbuf*> cache;
  auto key = std::make_tuple(std::string(name), w, h);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  const std::string path = std::string("dvrsetup/") + name + ".jpg";
  GdkPixbuf* p = gdk_pixbuf_new_from_file_at_scale(path.c_str(), w, h, FALSE, nullptr);
  if (!p) {
    p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
    gdk_pixbuf_fill(p, 0x808080FFu);
  }
  cache[key] = p;  // kept for the whole run
  return p;
}

const char* const kMotionState[2] = {"green", "blue"};
const char* const kSchedState[5] = {"green", "blue", "red", "yellow", "green"};

void draw_motion_cell(int i, int state) {
  if (size_t(i) < dvr_ui.motion_cells.size())
    gtk_image_set_from_pixbuf(GTK_IMAGE(dvr_ui.motion_cells[size_t(i)]),
                              picture(kMotionState[state & 1], 9, 9));
}
void draw_sched_cell(int i, int state) {
  if (size_t(i) < dvr_ui.sched_cells.size() && state >= 1 && state <= 4)
    gtk_image_set_from_pixbuf(GTK_IMAGE(dvr_ui.sched_cells[size_t(i)]),
                              picture(kSchedState[state], 21, 21));
}
void draw_button(std::vector<GtkWidget*>& bgs, int w, int i, int selected) {
  if (size_t(i) < bgs.size())
    gtk_image_set_from_pixbuf(GTK_IMAGE(bgs[size_t(i)]),
                              picture(selected ? "button_bg2" : "button_bg1", w, 20));
}

Grid* grid_of(gpointer data) { return static_cast<Grid*>(data); }

gboolean on_grid_button(GtkWidget*, GdkEventButton* e, gpointer data) {
  if (e->type == GDK_BUTTON_PRESS)
    grid_press(*grid_of(data), int(e->x), int(e->y));
  else if (e->type == GDK_BUTTON_RELEASE)
    grid_release();
  return TRUE;
}

gboolean on_grid_drag(GtkWidget* w, GdkEventMotion* e, gpointer data) {
  int x = int(e->x), y = int(e->y);
  if (e->is_hint) gdk_window_get_pointer(e->window, &x, &y, nullptr);
  grid_drag(*grid_of(data), x, y);
  gdk_event_request_motions(e);
  return TRUE;
}

gboolean on_mode_press(GtkWidget*, GdkEventButton* e, gpointer data) {
  if (e->type == GDK_BUTTON_PRESS) grid_mode_press(*grid_of(data), int(e->x), int(e->y));
  return TRUE;
}

GtkWidget* grid_area(GtkWidget* fixed, Grid& g, int x, int y, int w, int h, GtkWidget** inner) {
  GtkWidget* box = gtk_event_box_new();
  gtk_widget_add_events(box, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                 GDK_POINTER_MOTION_MASK | GDK_POINTER_MOTION_HINT_MASK);
  g_signal_connect(box, "button_press_event", G_CALLBACK(on_grid_button), &g);
  g_signal_connect(box, "button_release_event", G_CALLBACK(on_grid_button), &g);
  g_signal_connect(box, "motion_notify_event", G_CALLBACK(on_grid_drag), &g);
  dvr_put(fixed, box, x, y, w, h);
  *inner = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(box), *inner);
  return box;
}

void mode_strip(GtkWidget* fixed, Grid& g, std::vector<GtkWidget*>& bgs, int x, int y, int button_w,
                const char* const* swatches, const std::vector<std::string>& texts) {
  GtkWidget* box = gtk_event_box_new();
  g_signal_connect(box, "button_press_event", G_CALLBACK(on_mode_press), &g);
  dvr_put(fixed, box, x, y, button_w * int(g.buttons.size()), 20);
  GtkWidget* strip = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(box), strip);
  bgs.clear();
  for (size_t i = 0; i < g.buttons.size(); ++i) {
    GtkWidget* b = dvr_put(strip, gtk_fixed_new(), g.buttons[i].x, g.buttons[i].y, button_w, 20);
    GtkWidget* bg = gtk_image_new_from_pixbuf(picture("button_bg1", button_w, 20));
    bgs.push_back(dvr_put(b, bg, 0, 0, button_w, 20));
    dvr_put(b, gtk_image_new_from_pixbuf(picture(swatches[i], 10, 10)), 5, 5, 10, 10);
    dvr_label(b, texts[i].c_str(), 20, 0, button_w - 10, 20, 0.0f);
  }
}

void on_select_all(GtkWidget*, gpointer) { grid_fill(dvr_ui.motion_grid, 1); }
void on_clear(GtkWidget*, gpointer) { grid_fill(dvr_ui.motion_grid, 0); }

}  // namespace

int motion_area_ini() {
  if (grid_init(&dvr_ui.motion_grid, kMotionGrid) != 0) return -1;
  dvr_ui.motion_grid.draw_cell = draw_motion_cell;
  dvr_ui.motion_grid.draw_button = [](int i, int s) {
    draw_button(dvr_ui.motion_button_bg, 60, i, s);
  };
  return 0;
}

int rs_sched_ini() {
  if (grid_init(&dvr_ui.sched_grid, kScheduleGrid) != 0) return -1;
  dvr_ui.sched_grid.draw_cell = draw_sched_cell;
  dvr_ui.sched_grid.draw_button = [](int i, int s) {
    draw_button(dvr_ui.sched_button_bg, 80, i, s);
  };
  return 0;
}

void build_motion_grid(GtkWidget* fixed) {
  // Without its tables the page keeps its controls but no grid.
  if (motion_area_ini() != 0) return;
  Grid& g = dvr_ui.motion_grid;
  GtkWidget* inner = nullptr;
  grid_area(fixed, g, 325, 60, 300, 240, &inner);
  dvr_put(inner, gtk_image_new(), 0, 0, 300, 240);
  dvr_ui.motion_cells.clear();
  for (const sched_image_info& c : g.cells)
    dvr_ui.motion_cells.push_back(
        dvr_put(inner, gtk_image_new_from_pixbuf(picture("green", 9, 9)), c.x, c.y, 9, 9));
  static const char* const kSwatch[2] = {"green", "blue"};
  mode_strip(fixed, g, dvr_ui.motion_button_bg, 370, 308, 60, kSwatch,
             {get_label_text("lbl_ERASE"), get_label_text("lbl_MSELECT")});
  const int h = dvr_ui.height;
  dvr_ui.motion_all = dvr_put(fixed, gtk_button_new_with_label(get_label_text("lbl_SELECT_ALL")),
                              500, h - 125, 60, 25);
  dvr_ui.motion_clear =
      dvr_put(fixed, gtk_button_new_with_label(get_label_text("lbl_CLEAR")), 570, h - 125, 60, 25);
  g_signal_connect(dvr_ui.motion_all, "clicked", G_CALLBACK(on_select_all), nullptr);
  g_signal_connect(dvr_ui.motion_clear, "clicked", G_CALLBACK(on_clear), nullptr);
}

bool build_schedule_grid(GtkWidget* fixed) {
  Grid& g = dvr_ui.sched_grid;
  GtkWidget* inner = nullptr;
  grid_area(fixed, g, 40, 90, 630, 180, &inner);
  GtkWidget* bg = gtk_image_new_from_pixbuf(picture("access_schedule", 624, 177));
  gtk_misc_set_alignment(GTK_MISC(bg), 0.0f, 0.0f);  // the captions line up with the cells
  dvr_put(inner, bg, 0, 0, 630, 180);
  dvr_ui.sched_cells.clear();
  for (const sched_image_info& c : g.cells)
    dvr_ui.sched_cells.push_back(
        dvr_put(inner, gtk_image_new_from_pixbuf(picture("green", 21, 21)), c.x, c.y, 21, 21));
  static const char* const kSwatch[4] = {"blue", "red", "yellow", "green"};
  mode_strip(fixed, g, dvr_ui.sched_button_bg, 150, 275, 80, kSwatch,
             {get_label_text("def_ALWAYS"), get_label_text("lbl_RM_MOTION"),
              get_label_text("lbl_RM_SENSOR"), get_label_text("def_NONE")});
  return true;
}

void load_schedule_grid(int row) {
  const uint8_t* ed = get_edata();
  if (!ed || dvr_ui.sched_grid.cells.size() != size_t(SCHED_CELLS)) return;
  dvr_ui.selected = row == 0 ? dvr_ui.n : row - 1;
  uint8_t cells[SCHED_CELLS];
  for (int i = 0; i < SCHED_CELLS; ++i)
    cells[i] = uint8_t(dvr_ui.sched_grid.cells[size_t(i)].state);
  load_schedule_cells(ed, dvr_ui.selected, cells);
  for (int i = 0; i < SCHED_CELLS; ++i) grid_set_cell(dvr_ui.sched_grid, i, cells[i]);
}

void show_motion_area(const uint8_t* area) {
  if (dvr_ui.motion_grid.cells.size() != size_t(MOTION_CELLS)) return;
  for (int i = 0; i < MOTION_CELLS; ++i) grid_set_cell(dvr_ui.motion_grid, i, area[i]);
}

void read_motion_area(uint8_t* area) {
  for (int i = 0; i < MOTION_CELLS; ++i)
    area[i] = size_t(i) < dvr_ui.motion_grid.cells.size()
                  ? uint8_t(dvr_ui.motion_grid.cells[size_t(i)].state)
                  : 0;
}
