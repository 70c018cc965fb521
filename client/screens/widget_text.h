// Widget text: the skin fonts and text colours, text pictures on labels and input fields,
// the list widgets (kinds 5 and 8) with their smooth scroll, and the two mouse cursors.
//
// Owns the four skin fonts (opened lazily, from files beside the program: the current
// directory) and every widget's text picture. Threads: the window loop and the status and
// refresh timers; the caller holds the display mutex while drawing, and every SDL_ttf call
// here (font opening included) runs under the text mutex handed over by set_text_mutex.
// A font that failed to open is never used: the text is skipped and the widget still drawn.
#pragma once

#include <SDL/SDL.h>

#include "client/screens/skin.h"

// --- Fonts and colours ---
// Opens the text, time and date fonts not yet open: 0, or -1 after
// "Couldn't load %d pt font from %s: %s\n" (later fonts are not tried).
int open_skin_fonts();
// Closes every skin font (called by free_skins).
void close_skin_fonts();
// "date" -> date font, "time" -> time font, anything else (or null) -> text font.
void select_text_font(const char* preset);
void set_text_fg_color(SDL_Color colour);
void set_text_bg_color(SDL_Color colour);
// The mutex that serialises SDL_ttf (APP_CONTEXT's text mutex); null means no locking.
void set_text_mutex(SDL_mutex* mutex);

// --- Text on widgets (display, skin window id, widget index) ---
// Renders `text` (null keeps the widget's text) with the current font and colours, then
// draws the widget. 0; -1 missing display/window/widget; -3 rendering failed.
int render_widget_text(SDL_Surface* display, int id, int widget, const char* text);
// Renders blended in `colour` with the text font, sets the state unchecked and draws.
int draw_widget_text(SDL_Surface* display, int id, int widget, const char* text, int state,
                     SDL_Color colour);
// Empties the text, frees its picture, draws the widget. 0; -1 missing.
int clear_widget_text(SDL_Surface* display, int id, int widget);

// --- Lists (kinds 5 and 8) ---
// Appends a line (cut at 255 characters). 0; -1 not a list; -2 the list holds 1024 lines.
int add_widget_line(SDL_Surface* display, int id, int widget, const char* text, int indent,
                    int draw);
int clear_widget_lines(SDL_Surface* display, int id, int widget);  // 0; -1 not a list
const char* get_selected_line(int id, int widget);                 // null when nothing selected
int get_selected_index(int id, int widget);                        // -1 none or bad widget
const char* get_line_header(int id, int widget, int line);         // null outside the list
// Selects the line under y of the focused list. 0; -1 no display/window; -2 no focus;
// -3 focus not a list; -4 nothing drawn yet; -5 empty list; -6 below the 1024 lines.
int select_line_at(SDL_Surface* display, int id, int x, int y);
// 0; -1 no display/window; -2 not a list; -3 nothing drawn; -4 empty; -5 shorter than a
// page; -6/-7 already at the end (see the list rules).
int scroll_list_down(SDL_Surface* display, int id, int widget);
int scroll_list_up(SDL_Surface* display, int id, int widget);
int page_list_down(SDL_Surface* display, int id, int widget);
int page_list_up(SDL_Surface* display, int id, int widget);
int set_list_column_width(int id, int widget, int column, int width);  // 0; -1 bad
// Draw the list over the widget's picture (called by draw_widget). Block for the scroll
// animation (up to ~300 ms). 0; -1 no surface or font.
int draw_indented_list(SDL_Surface* display, SKIN_WINDOW* window, SKIN_WIDGET* widget);
int draw_column_list(SDL_Surface* display, SKIN_WINDOW* window, SKIN_WIDGET* widget);

// --- Input fields (kind 4 with edit > 0) ---
// One key into the focused field. 0; -1 no display/window; -2 no focus; -3 not a field;
// -3 also when rendering failed.
int edit_widget_key(SDL_Surface* display, int id, int key);
// The same with a blinking "|" cursor; key 323 is the blink tick.
int edit_widget_key_with_cursor(SDL_Surface* display, int id, int key, int* blink);
// Moves the focus to the next input field of the window; 0; -1 bad window.
int focus_next_edit_widget(SDL_Surface* display, int id);

// --- Cursors ---
// A new SDL cursor (caller frees with SDL_FreeCursor): film frame for kind 1, else arrow.
// Null without SDL video.
SDL_Cursor* create_skin_cursor(int kind);
// `picture`: 4 header lines, 32 rows of up to 32 characters, then the hot spot "x,y".
SDL_Cursor* create_cursor_from_picture(const char* const* picture);
