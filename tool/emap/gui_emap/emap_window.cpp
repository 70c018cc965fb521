// The "ZOL E-Map" window: frameless, a picture as background, the map on the left, the
// target combo, the map and device lists and the map buttons on the right, two sprite
// buttons (minimize, close), and the two worker threads of the event watcher.
#include "tool/emap/gui_emap/emap_window.h"

#include <gdk/gdkx.h>
#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "client/foundation/config/setup_lookup.h"
#include "platform/system/message_box.h"
#include "tool/emap/emap_config.h"
#include "tool/emap/emap_model.h"
#include "tool/emap/gui_emap/emap_events.h"
#include "tool/emap/gui_emap/emap_gui.h"
#include "tool/language.h"
#include "tool/setup_snapshot.h"

std::string emap_start_target;
GtkWidget* emap_window = nullptr;
GtkWidget* emap_fixed = nullptr;
GtkWidget* emap_map_area = nullptr;
GtkWidget* emap_combo = nullptr;
GtkWidget* emap_map_list = nullptr;
GtkWidget* emap_device_list = nullptr;
std::string emap_map_name;
std::string emap_map_image;
GtkWidget* emap_map_layer = nullptr;
bool emap_map_shown = false;

namespace {

constexpr const char* kNoConnection = "No connection available";

// The sprite buttons.
GdkPixbuf* g_button_sheet = nullptr;
std::vector<GtkWidget*> g_button_image;
int g_current_button = -1;
// The marker under the pointer last (sheet, entry), -1 before any.
int g_hover_sheet = -1, g_hover_entry = -1;

void set_emap_button_state(imgmap_info& b, int state, int index) {
  if (index < 0 || static_cast<size_t>(index) >= g_button_image.size()) return;
  const int f = find_state_frame(b, state);
  GtkImage* img = GTK_IMAGE(g_button_image[static_cast<size_t>(index)]);
  if (f < 0 || !g_button_sheet ||
      !sprite_frame_fits(b, f, gdk_pixbuf_get_width(g_button_sheet),
                         gdk_pixbuf_get_height(g_button_sheet))) {
    gtk_image_clear(img);
    return;
  }
  GdkPixbuf* part =
      gdk_pixbuf_new_subpixbuf(g_button_sheet, b.frame[f].x, b.frame[f].y, b.width, b.height);
  gtk_image_set_from_pixbuf(img, part);
  g_object_unref(part);
}

void load_emap_buttons() {
  GError* err = nullptr;
  g_button_sheet = gdk_pixbuf_new_from_file("./emap/remote-emap-buttons.jpg", &err);
  if (!g_button_sheet) {
    g_warning("%s", err ? err->message : "remote-emap-buttons.jpg");
    if (err) g_error_free(err);
    return;
  }
  if (load_emap_button_cfg("remote-emap-buttons.cfg") < 0) printf("load EMAP_BUTTON_CFG failed.\n");
  imgmap_info* b = get_emap_button_info();
  for (int i = 0; i < get_num_emap_buttons(); ++i) {
    GtkWidget* img = gtk_image_new();
    gtk_fixed_put(GTK_FIXED(emap_fixed), img, b[i].x, b[i].y);
    gtk_widget_show(img);
    g_button_image.push_back(img);
    // The second frame is the button's look at rest.
    if (sprite_frame_fits(b[i], 1, gdk_pixbuf_get_width(g_button_sheet),
                          gdk_pixbuf_get_height(g_button_sheet))) {
      GdkPixbuf* part = gdk_pixbuf_new_subpixbuf(g_button_sheet, b[i].frame[1].x, b[i].frame[1].y,
                                                 b[i].width, b[i].height);
      gtk_image_set_from_pixbuf(GTK_IMAGE(img), part);
      g_object_unref(part);
    }
  }
}

int find_emap_button(int x, int y) {
  imgmap_info* b = get_emap_button_info();
  for (int i = 0; i < get_num_emap_buttons(); ++i) {
    if (x < b[i].x || x > b[i].x + b[i].width || y < b[i].y || y > b[i].y + b[i].height) continue;
    if (i != g_current_button && g_current_button >= 0) {
      set_emap_button_state(b[g_current_button], 1, g_current_button);
      b[g_current_button].state = 1;
    }
    g_current_button = i;
    return 1;
  }
  return 0;
}

gboolean on_emap_pointer_motion(GtkWidget* widget, GdkEventMotion*, gpointer) {
  int x = 0, y = 0;
  gtk_widget_get_pointer(widget, &x, &y);  // also asks for the next hinted motion
  imgmap_info* b = get_emap_button_info();
  if (find_emap_button(x, y)) {
    if (b[g_current_button].state == 1) {
      set_emap_button_state(b[g_current_button], 3, g_current_button);
      b[g_current_button].state = 3;
    }
  } else if (g_current_button >= 0 && b[g_current_button].state == 3) {
    set_emap_button_state(b[g_current_button], 1, g_current_button);
    b[g_current_button].state = 1;
  }
  return FALSE;
}

gboolean on_emap_button_press(GtkWidget*, GdkEventButton* event, gpointer) {
  close_device_select_dialog();
  if (event->button != 1 ||
      !find_emap_button(static_cast<int>(event->x), static_cast<int>(event->y)))
    return FALSE;
  const char* name = get_emap_button_info()[g_current_button].name;
  if (strcmp(name, "EMAP_CLOSE_BUTTON") == 0) on_emap_close();
  if (strcmp(name, "EMAP_MINIMIZE_BUTTON") == 0) gtk_window_iconify(GTK_WINDOW(emap_window));
  return TRUE;  // a button press is no window drag
}

void on_marker_click(int x, int y) {
  const std::string target = emap_selected_target();
  MarkerHit hit;
  if (!find_marker_at(x, y, &hit) || hit.kind != EMAP_CAMERA) return;
  int is_group = -1, index = -1;
  find_target(target.c_str(), &is_group, &index);
  if (target != emap_start_target) {
    show_emap_error(kNoConnection);
    return;
  }
  if (is_group == 0) {
    launch_vigilo(target.c_str(), hit.ch - 1);
    return;
  }
  // The member and channel of the marker the hit test found.
  const std::string member = group_member_name(emap_tables(), target, hit.dvr);
  if (!member.empty()) launch_vigilo(member.c_str(), hit.ch - 1);
}

gboolean on_map_area_press(GtkWidget*, GdkEventButton* event, gpointer) {
  close_device_select_dialog();
  // A double click also delivers its single presses; it starts nothing twice.
  if (!emap_map_shown || event->type != GDK_BUTTON_PRESS) return TRUE;
  const int x = static_cast<int>(event->x), y = static_cast<int>(event->y);
  if (event->button == 1)
    on_marker_click(x, y);
  else if (event->button == 3)
    create_device_select_dialog(x, y);
  return TRUE;  // a press on the map is no window drag
}

gboolean on_map_hover(GtkWidget* widget, GdkEventMotion*, gpointer) {
  if (get_num_device_entries() == 0 || !emap_map_shown) return FALSE;
  int x = 0, y = 0;
  gtk_widget_get_pointer(widget, &x, &y);
  int sheet = -1, entry = -1;
  if (find_device_at(x, y, &sheet, &entry)) {
    if (get_device_table(sheet)[entry].state != 2) set_marker_state(sheet, entry, 2);
    g_hover_sheet = sheet;
    g_hover_entry = entry;
  } else if (g_hover_sheet >= 0 && marker_drawn(g_hover_sheet, g_hover_entry) &&
             get_device_table(g_hover_sheet)[g_hover_entry].state == 2) {
    set_marker_state(g_hover_sheet, g_hover_entry,
                     emap_selected_target() == emap_start_target ? 1 : 3);
  }
  return FALSE;
}

void on_map_row_activated(GtkTreeView* view, GtkTreePath* path, GtkTreeViewColumn*, gpointer) {
  GtkWidget* img = new_map_layer();
  GtkTreeModel* model = gtk_tree_view_get_model(view);
  GtkTreeIter it;
  gchar* text = nullptr;
  if (gtk_tree_model_get_iter(model, &it, path)) gtk_tree_model_get(model, &it, 0, &text, -1);
  emap_map_name = text ? text : "";
  g_free(text);
  const std::string target = emap_selected_target();
  const EmapTables& t = emap_tables();
  auto pick = [&](const std::vector<emap_map_info>& maps) {
    for (const emap_map_info& m : maps)
      if (emap_map_name == m.map_name) emap_map_image = m.map_image;
  };
  for (const emap_info& e : t.dvr)
    if (target == e.dvr_name) pick(e.map);
  for (const emap_group_info& g : t.group)
    if (target == g.group_name) pick(g.map);
  set_map_picture(img, emap_map_image);
  draw_map_markers();
}

// A scrolled list of one text column under a language title.
GtkWidget* new_list(GtkWidget** view, LabelKey title) {
  GtkWidget* sw = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_container_set_border_width(GTK_CONTAINER(sw), 10);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(sw), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(sw), GTK_SHADOW_ETCHED_IN);
  GtkTreeStore* store = gtk_tree_store_new(1, G_TYPE_STRING);
  *view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  g_object_unref(store);
  GtkTreeViewColumn* col = gtk_tree_view_column_new_with_attributes(
      get_label_text(title), gtk_cell_renderer_text_new(), "text", 0, nullptr);
  gtk_tree_view_append_column(GTK_TREE_VIEW(*view), col);
  gtk_container_add(GTK_CONTAINER(sw), *view);
  return sw;
}

void put(GtkWidget* w, int x, int y, int width, int height) {
  gtk_widget_set_size_request(w, width, height);
  gtk_fixed_put(GTK_FIXED(emap_fixed), w, x, y);
}

void start_thread(void* (*proc)(void*), const char* success) {
  pthread_t id;
  if (pthread_create(&id, nullptr, proc, nullptr) == 0) {
    pthread_detach(id);  // lives until the process ends
    printf("%s", success);
  } else {
    printf(" Error : Fail create thread\n");
  }
}

}  // namespace

std::string emap_selected_target() {
  if (!emap_combo) return "";
  gchar* text = gtk_combo_box_get_active_text(GTK_COMBO_BOX(emap_combo));
  std::string out = text ? text : "";
  g_free(text);
  return out;
}

void show_emap_error(const char* text) {
  BoxAnswer preset;
  if (unattended_box_answer("Error", text, BoxButtons::ok, &preset)) return;
  GtkWidget* d = gtk_message_dialog_new(
      GTK_WINDOW(emap_window),
      static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", text ? text : "");
  gtk_window_set_title(GTK_WINDOW(d), "Error");
  gtk_window_set_position(GTK_WINDOW(d), GTK_WIN_POS_CENTER_ALWAYS);
  gtk_dialog_run(GTK_DIALOG(d));
  gtk_widget_destroy(d);
}

void choose_map_image(GtkWidget*, gpointer) {
  GtkWidget* d = gtk_file_chooser_dialog_new(
      "Choose File", GTK_WINDOW(emap_window), GTK_FILE_CHOOSER_ACTION_OPEN, GTK_STOCK_CANCEL,
      GTK_RESPONSE_CANCEL, GTK_STOCK_OPEN, GTK_RESPONSE_APPLY, nullptr);
  gtk_window_set_position(GTK_WINDOW(d), GTK_WIN_POS_CENTER_ALWAYS);
  if (gtk_dialog_run(GTK_DIALOG(d)) == GTK_RESPONSE_APPLY && emap_map_path_entry) {
    gchar* file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d));
    gchar* utf8 = file ? g_filename_to_utf8(file, -1, nullptr, nullptr, nullptr) : nullptr;
    if (utf8) gtk_entry_set_text(GTK_ENTRY(emap_map_path_entry), utf8);
    g_free(utf8);
    g_free(file);
  }
  gtk_widget_destroy(d);
}

void refresh_emap_lists() {
  const std::string target = emap_selected_target();
  if (load_emap_info(kEmapPath) < 0) printf("load_emap_setup_info() failed\n");
  GtkTreeStore* store = gtk_tree_store_new(1, G_TYPE_STRING);
  emap_map_name.clear();
  emap_map_image.clear();
  auto list = [&](const std::vector<emap_map_info>& maps) {
    for (size_t i = 0; i < maps.size(); ++i) {
      GtkTreeIter it;
      gtk_tree_store_append(store, &it, nullptr);
      gtk_tree_store_set(store, &it, 0, maps[i].map_name, -1);
      if (i == 0) {
        emap_map_name = maps[i].map_name;
        emap_map_image = maps[i].map_image;
      }
    }
  };
  const EmapTables& t = emap_tables();
  for (const emap_info& e : t.dvr)
    if (target == e.dvr_name) list(e.map);
  for (const emap_group_info& g : t.group)
    if (target == g.group_name) list(g.map);
  gtk_tree_view_set_model(GTK_TREE_VIEW(emap_map_list), GTK_TREE_MODEL(store));
  g_object_unref(store);
  fill_emap_device_tree();
}

void on_emap_target_changed(GtkComboBox*, gpointer) {
  refresh_emap_lists();
  destroy_map_layer();
  g_hover_sheet = g_hover_entry = -1;
  show_map_picture();
  draw_map_markers();
}

void fill_emap_target_combo(const char* start_target) {
  if (!gtk_widget_get_visible(emap_window)) gtk_widget_show_all(emap_window);
  reload_setup_cfg();
  const SetupSnapshot s = take_setup_snapshot();
  if (emap_combo) gtk_widget_destroy(emap_combo);
  emap_combo = gtk_combo_box_new_text();
  put(emap_combo, 824, 50, 180, 30);
  gtk_widget_show(emap_combo);
  int selected = -1;
  auto same = [start_target](const char* utf8) {
    gchar* local = g_locale_from_utf8(utf8, -1, nullptr, nullptr, nullptr);
    bool eq = local && start_target && strcmp(local, start_target) == 0;
    g_free(local);
    return eq;
  };
  for (size_t i = 0; i < s.dvr.size(); ++i) {
    gtk_combo_box_append_text(GTK_COMBO_BOX(emap_combo), s.dvr[i].name);
    if (same(s.dvr[i].name)) selected = static_cast<int>(i);  // a later equal row wins
  }
  for (size_t i = 0; i < s.group.size(); ++i) {
    gtk_combo_box_append_text(GTK_COMBO_BOX(emap_combo), s.group[i].name.c_str());
    if (selected < 0 && same(s.group[i].name.c_str()))
      selected = static_cast<int>(s.dvr.size() + i);
  }
  if (selected < 0) {
    gtk_combo_box_prepend_text(GTK_COMBO_BOX(emap_combo), kNoConnection);
    selected = 0;
  }
  g_signal_connect(emap_combo, "changed", G_CALLBACK(on_emap_target_changed), nullptr);
  gtk_combo_box_set_active(GTK_COMBO_BOX(emap_combo), selected);
}

void create_emap_window(const char* target) {
  // The tests and the operator's terminal read the diagnostics as they come.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  GdkPixbuf* icon = gdk_pixbuf_new_from_file("./images/icon.bmp", nullptr);
  if (target && *target) emap_start_target = target;

  emap_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(emap_window), 1024, 740);
  gtk_widget_set_size_request(emap_window, 1024, 740);
  gtk_window_set_position(GTK_WINDOW(emap_window), GTK_WIN_POS_CENTER);
  gtk_window_set_title(GTK_WINDOW(emap_window), kEmapTitle);
  gtk_window_set_resizable(GTK_WINDOW(emap_window), FALSE);
  gtk_window_set_decorated(GTK_WINDOW(emap_window), FALSE);
  if (icon) {
    gtk_window_set_icon(GTK_WINDOW(emap_window), icon);
    g_object_unref(icon);
  }
  gtk_widget_add_events(emap_window, GDK_BUTTON_PRESS_MASK);

  GtkWidget* outer = gtk_event_box_new();
  gtk_widget_add_events(outer, GDK_POINTER_MOTION_MASK | GDK_POINTER_MOTION_HINT_MASK);
  gtk_container_add(GTK_CONTAINER(emap_window), outer);
  emap_fixed = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(outer), emap_fixed);

  GtkWidget* bg = gtk_image_new();
  if (GdkPixbuf* p =
          gdk_pixbuf_new_from_file_at_scale("./emap/remote-emap.jpg", 1024, 740, FALSE, nullptr)) {
    gtk_image_set_from_pixbuf(GTK_IMAGE(bg), p);
    g_object_unref(p);
  }
  put(bg, 0, 0, 1024, 740);

  emap_map_area = gtk_event_box_new();
  gtk_event_box_set_visible_window(GTK_EVENT_BOX(emap_map_area), FALSE);
  gtk_widget_add_events(emap_map_area, GDK_POINTER_MOTION_MASK | GDK_POINTER_MOTION_HINT_MASK |
                                           GDK_BUTTON_PRESS_MASK);
  put(emap_map_area, 12, 49, kMapWidth, kMapHeight);

  put(new_list(&emap_map_list, "lbl_EMAP_DVR_MAPS"), 814, 100, 200, 230);
  GtkWidget* row = gtk_hbox_new(TRUE, 1);
  GtkWidget* add = gtk_button_new_with_label(get_label_text("def_EMAP_ADD"));
  GtkWidget* edit = gtk_button_new_with_label(get_label_text("def_EMAP_EDIT"));
  GtkWidget* del = gtk_button_new_with_label(get_label_text("def_EMAP_DELETE"));
  for (GtkWidget* b : {add, edit, del}) gtk_box_pack_start(GTK_BOX(row), b, TRUE, TRUE, 0);
  put(row, 824, 325, 180, 30);
  put(new_list(&emap_device_list, "lbl_EMAP_DVR_DEVICES"), 814, 361, 200, 380);

  std::string why;
  if (sync_emap_cfg(&why) != 0) printf("%s\n", why.c_str());
  load_emap_buttons();

  g_signal_connect(emap_window, "button-press-event", G_CALLBACK(on_emap_drag), nullptr);
  g_signal_connect(outer, "motion_notify_event", G_CALLBACK(on_emap_pointer_motion), nullptr);
  g_signal_connect(outer, "button_press_event", G_CALLBACK(on_emap_button_press), nullptr);
  g_signal_connect(emap_map_area, "motion_notify_event", G_CALLBACK(on_map_hover), nullptr);
  g_signal_connect(emap_map_area, "button_press_event", G_CALLBACK(on_map_area_press), nullptr);
  g_signal_connect(add, "clicked", G_CALLBACK(open_map_add_dialog), nullptr);
  g_signal_connect(edit, "clicked", G_CALLBACK(open_map_edit_dialog), nullptr);
  g_signal_connect(del, "clicked", G_CALLBACK(on_map_delete), nullptr);
  g_signal_connect(emap_map_list, "row-activated", G_CALLBACK(on_map_row_activated), nullptr);
  g_signal_connect(emap_device_list, "row-activated", G_CALLBACK(show_selected_map), nullptr);
  g_signal_connect(
      emap_window, "delete_event",
      G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean { on_emap_close(); }), nullptr);

  fill_emap_target_combo(emap_start_target.c_str());

  start_thread(emap_check_event, "emap_check_event thread create success!\n");
  start_thread(locate_spot_on_emap, "locate_spot_on_emap create success!\n");
  set_emap_native_window(GDK_WINDOW_XID(gtk_widget_get_window(emap_window)));
}
