// The E-Map window's shared state and the functions its files call on one another: the map
// view and markers (emap_view.cpp), the window (emap_window.cpp), the map and placement
// dialogs (emap_dialogs.cpp) and the event watcher and spot windows (emap_events.cpp).
//
// Everything here belongs to the GTK main thread; the watcher thread reads the shown target,
// the shown map and the marker slots and changes marker pictures only under the GDK lock.
#pragma once

#include <gtk/gtk.h>

#include <string>

// ---------------------------------------------------------------- window state
extern std::string emap_start_target;  // the target auxdesk was started with ("" none)
extern GtkWidget* emap_window;
extern GtkWidget* emap_fixed;          // holds every widget of the window
extern GtkWidget* emap_map_area;       // event box of the 800 x 680 map
extern GtkWidget* emap_combo;          // DVR / group
extern GtkWidget* emap_map_list;       // tree view of the target's maps
extern GtkWidget* emap_device_list;    // tree view of the target's devices
extern std::string emap_map_name;      // the current map ("" none)
extern std::string emap_map_image;     // its picture path as stored
extern GtkWidget* emap_map_layer;      // fixed container of the map picture and its markers
extern bool emap_map_shown;            // the layer exists
extern GtkWidget* emap_select_dialog;  // the placement dialog, when open
extern bool emap_dialog_open;

// The combo's text (the selected target); "" when none.
std::string emap_selected_target();
// Destroys an open placement dialog and clears its flag.
void close_device_select_dialog();
// Destroys the map layer (and with it every marker widget) and clears the flag.
void destroy_map_layer();

// ---------------------------------------------------------------- map view and markers
constexpr int kMapWidth = 800, kMapHeight = 680;

// Replaces the map layer with a new one holding an empty 800 x 680 picture (returned).
GtkWidget* new_map_layer();
// Loads the stored picture path at 800 x 680 into the picture; a picture that does not
// load leaves it empty.
void set_map_picture(GtkWidget* img, const std::string& stored);
void show_map_picture();
void draw_map_markers();
// The marker widget of slot (sheet, entry) shows the picture of `state`; no-op for a slot
// without a widget. The entry's state is recorded.
void set_marker_state(int sheet, int entry, int state);
// A counter that every redraw and every destroyed layer advances: a blink timer started
// on an older value must not touch the slot any more.
unsigned marker_generation();
// 1 when the marker slot has a widget of the current generation.
int marker_drawn(int sheet, int entry);
// 1 with the hit marker recorded for the click handler and the placement dialog.
struct MarkerHit;
int find_marker_at(int x, int y, MarkerHit* hit);
// 1 when a drawn device entry lies under the point, with its sheet and entry.
int find_device_at(int x, int y, int* sheet, int* entry);
void show_selected_map(GtkTreeView* view, GtkTreePath* path, GtkTreeViewColumn* col, gpointer);
void fill_emap_device_tree();
void fill_device_number_combo(GtkWidget* combo);

// ---------------------------------------------------------------- window
void fill_emap_target_combo(const char* start_target);
void refresh_emap_lists();
void on_emap_target_changed(GtkComboBox* combo, gpointer);
void show_emap_error(const char* text);
void choose_map_image(GtkWidget*, gpointer);

// ---------------------------------------------------------------- dialogs
void open_map_add_dialog(GtkWidget*, gpointer);
void open_map_edit_dialog(GtkWidget*, gpointer);
void on_map_delete(GtkWidget*, gpointer);
extern GtkWidget* emap_map_dialog;      // the add / edit dialog, when open
extern GtkWidget* emap_map_path_entry;  // its picture path entry
void create_device_select_dialog(int x, int y);

// ---------------------------------------------------------------- watcher and spot windows
void* emap_check_event(void*);
void* locate_spot_on_emap(void*);
void launch_vigilo(const char* dvr_name, int channel);
gboolean on_emap_drag(GtkWidget* widget, GdkEventButton* event, gpointer);
[[noreturn]] void on_emap_close();
// The E-Map window's X window, recorded once it is shown; the raiser reads it.
void set_emap_native_window(unsigned long xid);
