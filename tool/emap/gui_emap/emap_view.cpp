// The map view: the map picture, its markers cut from the marker sheets, the hover and
// click hit tests, the device tree beside the map and the placement dialog's numbers.
#include <cstdio>
#include <cstring>
#include <vector>

#include "tool/emap/emap_config.h"
#include "tool/emap/emap_model.h"
#include "tool/emap/gui_emap/emap_gui.h"
#include "tool/language.h"
#include "tool/setup_snapshot.h"

namespace {

// The marker sheets, loaded by the first draw that finds them all; sheet s serves DVR maps
// (0) or group member s.
GdkPixbuf* g_sheet[kEmapDeviceSheets] = {};
bool g_sheets_loaded = false;
// The widget of each device entry of each sheet on the shown map (null: not drawn).
GtkWidget* g_slot[kEmapDeviceSheets][kEmapDeviceEntries] = {};
// Every marker widget on the layer (a device placed twice has two, one slot).
std::vector<GtkWidget*> g_marker_widgets;
unsigned g_generation = 1;

void forget_markers() {
  memset(g_slot, 0, sizeof g_slot);
  g_marker_widgets.clear();
  ++g_generation;
}

bool load_sheets() {
  if (g_sheets_loaded) return true;
  for (int s = 0; s < kEmapDeviceSheets; ++s) {
    char path[64];
    snprintf(path, sizeof path, "%s%s%d%s", "./emap/", "device", s, ".gif");
    GError* err = nullptr;
    GdkPixbuf* p = gdk_pixbuf_new_from_file(path, &err);
    if (!p) {
      g_warning("%s", err ? err->message : path);
      if (err) g_error_free(err);
      for (int i = 0; i < s; ++i) g_object_unref(g_sheet[i]);
      memset(g_sheet, 0, sizeof g_sheet);
      return false;
    }
    g_sheet[s] = p;
  }
  g_sheets_loaded = true;
  return true;
}

// The picture of `state` for an entry of sheet `sheet`: a new reference, or null when no
// frame carries the state or its region lies outside the sheet.
GdkPixbuf* cut_state(const imgmap_info& e, int sheet, int state) {
  GdkPixbuf* p = g_sheet[sheet];
  int f = find_state_frame(e, state);
  if (!p || f < 0 || !sprite_frame_fits(e, f, gdk_pixbuf_get_width(p), gdk_pixbuf_get_height(p)))
    return nullptr;
  return gdk_pixbuf_new_subpixbuf(p, e.frame[f].x, e.frame[f].y, e.width, e.height);
}

void put_marker(imgmap_info& e, int x, int y, int state, int sheet, int entry) {
  GdkPixbuf* pic = cut_state(e, sheet, state);
  GtkWidget* img = pic ? gtk_image_new_from_pixbuf(pic) : gtk_image_new();
  if (pic) g_object_unref(pic);
  gtk_widget_set_size_request(img, e.width, e.height);
  gtk_fixed_put(GTK_FIXED(emap_map_layer), img, x - e.width / 2, y - e.height / 2);
  gtk_widget_show(img);
  e.state = state;
  g_slot[sheet][entry] = img;
  g_marker_widgets.push_back(img);
}

std::string label(LabelKey key) { return get_label_text(key); }

}  // namespace

// A new map layer holding an empty 800 x 680 picture; returns the picture widget.
GtkWidget* new_map_layer() {
  destroy_map_layer();
  emap_map_layer = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(emap_map_area), emap_map_layer);
  gtk_widget_show(emap_map_layer);
  emap_map_shown = true;
  GtkWidget* img = gtk_image_new();
  gtk_widget_set_size_request(img, kMapWidth, kMapHeight);
  gtk_fixed_put(GTK_FIXED(emap_map_layer), img, 0, 0);
  gtk_widget_show(img);
  return img;
}

void set_map_picture(GtkWidget* img, const std::string& stored) {
  const std::string path = emap_file_path(stored.c_str());
  GError* err = nullptr;
  GdkPixbuf* p =
      gdk_pixbuf_new_from_file_at_scale(path.c_str(), kMapWidth, kMapHeight, FALSE, &err);
  if (!p) {
    // The markers are drawn all the same, on an empty map.
    printf("Map picture %s cannot be loaded: %s\n", path.c_str(), err ? err->message : "");
    if (err) g_error_free(err);
    return;
  }
  gtk_image_set_from_pixbuf(GTK_IMAGE(img), p);
  g_object_unref(p);
}

void destroy_map_layer() {
  if (emap_map_layer) gtk_widget_destroy(emap_map_layer);
  emap_map_layer = nullptr;
  emap_map_shown = false;
  forget_markers();
}

unsigned marker_generation() { return g_generation; }

int marker_drawn(int sheet, int entry) {
  return sheet >= 0 && sheet < kEmapDeviceSheets && entry >= 0 && entry < kEmapDeviceEntries &&
         g_slot[sheet][entry] != nullptr;
}

void show_map_picture() {
  if (emap_map_image.empty()) return;
  set_map_picture(new_map_layer(), emap_map_image);
}

void draw_map_markers() {
  if (!load_sheets()) return;
  if (load_emap_info(kEmapPath) < 0) printf("load_emap_info() failed\n");
  if (load_device_cfg("device.cfg") < 0) printf("Loading load_imagemap_info failed!\n");
  if (!emap_map_shown) return;
  for (GtkWidget* w : g_marker_widgets) gtk_widget_destroy(w);
  forget_markers();

  const std::string target = emap_selected_target();
  const int state = target == emap_start_target ? 1 : 3;
  const EmapTables& t = emap_tables();
  auto draw = [&](const std::vector<emap_map_info>& maps, bool group) {
    for (const emap_map_info& map : maps) {
      if (emap_map_name != map.map_name) continue;
      for (int kind = 0; kind < 3; ++kind) {
        const std::vector<marker_item>& list = kind == EMAP_CAMERA   ? map.camera_info
                                               : kind == EMAP_SENSOR ? map.sensor_info
                                                                     : map.relay_info;
        for (marker_item m : list) {
          if (!group) m.dvr = 0;
          const int entry = marker_entry(kind, m);
          imgmap_info* table = get_device_table(m.dvr);
          if (entry < 0 || !table || entry >= get_num_device_entries()) continue;
          table[entry].x = m.x;
          table[entry].y = m.y;
          put_marker(table[entry], m.x, m.y, state, m.dvr, entry);
        }
      }
    }
  };
  for (const emap_info& e : t.dvr)
    if (target == e.dvr_name) draw(e.map, false);
  for (const emap_group_info& g : t.group)
    if (target == g.group_name) draw(g.map, true);
}

void set_marker_state(int sheet, int entry, int state) {
  if (!marker_drawn(sheet, entry)) return;
  imgmap_info* table = get_device_table(sheet);
  if (!table || entry >= get_num_device_entries()) return;
  GdkPixbuf* pic = cut_state(table[entry], sheet, state);
  if (pic) {
    gtk_image_set_from_pixbuf(GTK_IMAGE(g_slot[sheet][entry]), pic);
    g_object_unref(pic);
  } else {
    gtk_image_clear(GTK_IMAGE(g_slot[sheet][entry]));
  }
  table[entry].state = state;
}

int find_marker_at(int x, int y, MarkerHit* hit) {
  return find_marker_in(emap_tables(), emap_selected_target(), emap_map_name, x, y, hit);
}

int find_device_at(int x, int y, int* sheet, int* entry) {
  // Only drawn entries: the others keep device.cfg's placeholder position and no widget.
  for (int i = 0; i < get_num_device_entries(); ++i)
    for (int s = 0; s < kEmapDeviceSheets; ++s) {
      if (!marker_drawn(s, i)) continue;
      if (device_covers(get_device_table(s)[i], x, y)) {
        *sheet = s;
        *entry = i;
        return 1;
      }
    }
  return 0;
}

void show_selected_map(GtkTreeView* view, GtkTreePath* path, GtkTreeViewColumn*, gpointer) {
  GtkTreeModel* model = gtk_tree_view_get_model(view);
  GtkTreeIter it;
  if (!gtk_tree_model_get_iter(model, &it, path)) return;
  gchar* text = nullptr;
  gtk_tree_model_get(model, &it, 0, &text, -1);
  const std::string row = text ? text : "";
  g_free(text);

  const std::string kinds[3] = {label("lbl_EMAP_CAMERA"), label("lbl_EMAP_SENSOR"),
                                label("lbl_EMAP_RELAY")};
  const std::string target = emap_selected_target();
  const emap_map_info* last = nullptr;
  auto scan = [&](const std::vector<emap_map_info>& maps) {
    for (const emap_map_info& map : maps)
      for (int kind = 0; kind < 3; ++kind) {
        const std::vector<marker_item>& list = kind == EMAP_CAMERA   ? map.camera_info
                                               : kind == EMAP_SENSOR ? map.sensor_info
                                                                     : map.relay_info;
        for (const marker_item& m : list)
          if (kinds[kind] + " " + std::to_string(m.ch) == row) last = &map;
      }
  };
  const EmapTables& t = emap_tables();
  for (const emap_info& e : t.dvr)
    if (target == e.dvr_name) scan(e.map);
  for (const emap_group_info& g : t.group)
    if (target == g.group_name) scan(g.map);
  if (!last) {
    if (row != kinds[0] && row != kinds[1] && row != kinds[2])
      show_emap_error(get_label_text("txt_EMAP_NOTEXIST"));
    return;
  }
  // The last map that holds the device stays on screen.
  emap_map_name = last->map_name;
  emap_map_image = last->map_image;
  set_map_picture(new_map_layer(), emap_map_image);
  draw_map_markers();
}

void fill_emap_device_tree() {
  GtkTreeStore* store = gtk_tree_store_new(1, G_TYPE_STRING);
  const std::string target = emap_selected_target();
  const SetupSnapshot s = take_setup_snapshot();
  const std::string kinds[3] = {label("lbl_EMAP_CAMERA"), label("lbl_EMAP_SENSOR"),
                                label("lbl_EMAP_RELAY")};
  auto channels_of = [&s](const std::string& name) {
    for (const RC_DVR_INFO& d : s.dvr)
      if (name == d.name) return static_cast<int>(d.num_video);
    return 0;
  };
  bool is_dvr = false;
  for (const RC_DVR_INFO& d : s.dvr) is_dvr = is_dvr || target == d.name;
  const SetupGroup* group = nullptr;
  for (const SetupGroup& g : s.group)
    if (!group && target == g.name) group = &g;
  if (is_dvr || group) {
    for (const std::string& kind : kinds) {
      GtkTreeIter top, member, row;
      gtk_tree_store_append(store, &top, nullptr);
      gtk_tree_store_set(store, &top, 0, kind.c_str(), -1);
      if (is_dvr) {
        for (int n = 1; n <= channels_of(target); ++n) {
          gtk_tree_store_append(store, &row, &top);
          gtk_tree_store_set(store, &row, 0, (kind + " " + std::to_string(n)).c_str(), -1);
        }
        continue;
      }
      for (size_t m = 0; m < group->member.size() && m < group->mask.size(); ++m) {
        gtk_tree_store_append(store, &member, &top);
        gtk_tree_store_set(store, &member, 0, group->member[m].c_str(), -1);
        const int n = channels_of(group->member[m]);
        for (int c = 0; c < n && c < 32; ++c) {
          if (!(group->mask[m] & (1u << c))) continue;
          gtk_tree_store_append(store, &row, &member);
          gtk_tree_store_set(store, &row, 0, (kind + " " + std::to_string(c + 1)).c_str(), -1);
        }
      }
    }
  }
  gtk_tree_view_set_model(GTK_TREE_VIEW(emap_device_list), GTK_TREE_MODEL(store));
  g_object_unref(store);
}

void fill_device_number_combo(GtkWidget* combo) {
  reload_setup_cfg();
  const std::string number = label("lbl_EMAP_NUMBER");
  for (const std::string& item :
       device_number_items(take_setup_snapshot(), emap_selected_target(), number.c_str()))
    gtk_combo_box_append_text(GTK_COMBO_BOX(combo), item.c_str());
  gtk_combo_box_set_active(GTK_COMBO_BOX(combo), 0);
}
