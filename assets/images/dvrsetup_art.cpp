// Writes the DVR Setup window's pictures into <run dir>/dvrsetup/: the cell colours
// (green, blue, red, yellow), the mode buttons' faces (button_bg1 plain, button_bg2
// selected) and access_schedule.jpg, the schedule grid's background, whose hour and day
// captions sit beside the cells at (99 + 22 h, 23 + 22 d) at its own size of 624 x 177.
//
// usage: dvrsetup_art <run dir>
#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

namespace {

// Saves a cairo picture as a JPEG; false on failure.
bool save_jpeg(cairo_surface_t* s, const std::string& path) {
  cairo_surface_flush(s);
  const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  const int stride = cairo_image_surface_get_stride(s);
  const unsigned char* src = cairo_image_surface_get_data(s);
  GdkPixbuf* p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, w, h);
  unsigned char* dst = gdk_pixbuf_get_pixels(p);
  const int dstride = gdk_pixbuf_get_rowstride(p);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint32_t v = *reinterpret_cast<const uint32_t*>(src + y * stride + 4 * x);  // xRGB
      dst[y * dstride + 3 * x] = uint8_t(v >> 16);
      dst[y * dstride + 3 * x + 1] = uint8_t(v >> 8);
      dst[y * dstride + 3 * x + 2] = uint8_t(v);
    }
  GError* err = nullptr;
  const bool ok = gdk_pixbuf_save(p, path.c_str(), "jpeg", &err, "quality", "95", nullptr);
  if (!ok) std::fprintf(stderr, "dvrsetup_art: %s: %s\n", path.c_str(), err ? err->message : "?");
  if (err) g_error_free(err);
  g_object_unref(p);
  return ok;
}

bool swatch(const std::string& dir, const char* name, double r, double g, double b) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 21, 21);
  cairo_t* c = cairo_create(s);
  cairo_set_source_rgb(c, r, g, b);
  cairo_paint(c);
  cairo_destroy(c);
  const bool ok = save_jpeg(s, dir + "/" + name + ".jpg");
  cairo_surface_destroy(s);
  return ok;
}

bool button_face(const std::string& dir, const char* name, bool selected) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 80, 20);
  cairo_t* c = cairo_create(s);
  cairo_pattern_t* grad = cairo_pattern_create_linear(0, 0, 0, 20);
  if (selected) {
    cairo_pattern_add_color_stop_rgb(grad, 0, 0.62, 0.74, 0.92);
    cairo_pattern_add_color_stop_rgb(grad, 1, 0.40, 0.55, 0.82);
  } else {
    cairo_pattern_add_color_stop_rgb(grad, 0, 0.96, 0.96, 0.96);
    cairo_pattern_add_color_stop_rgb(grad, 1, 0.82, 0.82, 0.82);
  }
  cairo_set_source(c, grad);
  cairo_paint(c);
  cairo_pattern_destroy(grad);
  cairo_set_source_rgb(c, 0.45, 0.45, 0.45);
  cairo_rectangle(c, 0.5, 0.5, 79, 19);
  cairo_set_line_width(c, 1);
  cairo_stroke(c);
  cairo_destroy(c);
  const bool ok = save_jpeg(s, dir + "/" + name + ".jpg");
  cairo_surface_destroy(s);
  return ok;
}

void centred(cairo_t* c, const char* text, double cx, double cy) {
  cairo_text_extents_t e;
  cairo_text_extents(c, text, &e);
  cairo_move_to(c, cx - e.width / 2 - e.x_bearing, cy - e.height / 2 - e.y_bearing);
  cairo_show_text(c, text);
}

bool schedule_background(const std::string& dir) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 624, 177);
  cairo_t* c = cairo_create(s);
  cairo_set_source_rgb(c, 0.93, 0.93, 0.90);
  cairo_paint(c);
  cairo_select_font_face(c, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(c, 11);
  cairo_set_source_rgb(c, 0.15, 0.15, 0.15);
  for (int h = 0; h < 24; ++h) centred(c, std::to_string(h).c_str(), 99 + 22 * h + 10.5, 11.5);
  static const char* const kDays[7] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
  for (int d = 0; d < 7; ++d) centred(c, kDays[d], 50, 23 + 22 * d + 10.5);
  // Frame around the cells, one pixel out of each.
  cairo_set_source_rgb(c, 0.55, 0.55, 0.55);
  cairo_set_line_width(c, 1);
  cairo_rectangle(c, 97.5, 21.5, 22 * 24 + 1, 22 * 7 + 1);
  cairo_stroke(c);
  cairo_destroy(c);
  const bool ok = save_jpeg(s, dir + "/access_schedule.jpg");
  cairo_surface_destroy(s);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: dvrsetup_art <run dir>\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/dvrsetup";
  mkdir(argv[1], 0755);
  mkdir(dir.c_str(), 0755);
  bool ok = swatch(dir, "green", 0.10, 0.66, 0.20) && swatch(dir, "blue", 0.15, 0.35, 0.90) &&
            swatch(dir, "red", 0.88, 0.12, 0.12) && swatch(dir, "yellow", 0.96, 0.86, 0.10) &&
            button_face(dir, "button_bg1", false) && button_face(dir, "button_bg2", true) &&
            schedule_background(dir);
  return ok ? 0 : 1;
}
