// Stand-ins until the main window panel lands; that module replaces this whole file.
// Each does the least: nothing, or the result of a panel that is not there.
#include "client/screens/panel.h"

#define PENDING [[gnu::weak]]

PENDING int convert_tile_images(APP_CONTEXT*) { return 0; }
PENDING void setup_main_panel(APP_CONTEXT*) {}
PENDING int draw_receive_stats(APP_CONTEXT*) { return -2; }
PENDING int hide_receive_stats(APP_CONTEXT*) { return -2; }
PENDING void show_event_list(APP_CONTEXT*) {}
PENDING void hide_event_list(APP_CONTEXT*) {}
PENDING int draw_cam_info(APP_CONTEXT*, int32_t) { return -2; }
PENDING int hide_cam_info(APP_CONTEXT*) { return -2; }
PENDING void show_network_indicator(APP_CONTEXT*) {}
PENDING void hide_wait_indicator(APP_CONTEXT*) {}
PENDING void draw_cpu_meter(APP_CONTEXT*) {}
PENDING void draw_network_meter(APP_CONTEXT*) {}
PENDING void draw_disk_meter(APP_CONTEXT*) {}
PENDING void volume_up(APP_CONTEXT*) {}
PENDING void volume_down(APP_CONTEXT*) {}
PENDING void scroll_layout_strip_left(APP_CONTEXT*) {}
PENDING void scroll_layout_strip_right(APP_CONTEXT*) {}
PENDING void scroll_user_menu_left(APP_CONTEXT*) {}
PENDING void scroll_user_menu_right(APP_CONTEXT*) {}
PENDING void mirror_user_menu(APP_CONTEXT*) {}
PENDING int register_layout_in_menu(APP_CONTEXT*) { return -1; }
PENDING int select_menu_layout(APP_CONTEXT*, int) { return 0; }
PENDING void toggle_zoom_group(SDL_Surface*, int, uint8_t[3]) {}
PENDING void toggle_focus_group(SDL_Surface*, int, uint8_t[3]) {}
PENDING void toggle_iris_group(SDL_Surface*, int, uint8_t[3]) {}
PENDING void show_preset_controls(SDL_Surface*) {}
PENDING void show_speed_controls(SDL_Surface*) {}
PENDING void fill_preset_list(APP_CONTEXT*, const NC_PRESET_TABLE*) {}
PENDING int send_ptz_to_current(APP_CONTEXT*, int, int) { return -2; }
PENDING void place_popup_panel(APP_CONTEXT*, int, int) {}
PENDING void draw_popup_panel(APP_CONTEXT*) {}
PENDING int hide_popup_panel(APP_CONTEXT*) { return -1; }
PENDING int in_popup_frame(int) { return 0; }
PENDING void hide_pip_close(APP_CONTEXT*) {}
PENDING void draw_dvr_list(APP_CONTEXT*) {}
PENDING void draw_group_list(APP_CONTEXT*) {}
PENDING void select_list_tab(APP_CONTEXT*) {}
PENDING int show_listed_camera(APP_CONTEXT*) { return -1; }
PENDING int show_tooltip(APP_CONTEXT*) { return -3; }
PENDING void hide_tooltip(APP_CONTEXT*) {}
PENDING int set_message(APP_CONTEXT*, const char*) { return -1; }
PENDING void show_message(APP_CONTEXT*) {}
PENDING int hide_message(APP_CONTEXT*) { return -2; }
PENDING void post_disconnect_request(APP_CONTEXT*) {}
