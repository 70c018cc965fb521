// General utilities shared by the client and the setup tool: message boxes, capture and
// snapshot names, the JPEG converter, one-line uuencode, date/number/path helpers and the
// cached key = value lookup. Owns the process quit flag `app_quit`.
//
// Functions that hand back text return a static buffer that the next call of the same
// function overwrites; they run on the window loop (not guarded). The message boxes may be
// called from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/system/message_box.h"

struct APP_OPTIONS;

// Process-wide quit flag: set by the event loops and by fatal_box; every loop ends on it.
extern std::atomic<int> app_quit;

// Title of every message box of the client.
constexpr const char* PRODUCT_TITLE = "ZOL Main";

// Message boxes. error_box: title "ZOL Main", OK. confirm_box: title "Warning MessageBox",
// Yes/No, returns the button pressed. fatal_box: error_box, then sets app_quit.
// debug_message: silenced diagnostics, shows nothing.
BoxAnswer error_box(const char* text);
BoxAnswer confirm_box(const char* text);
void fatal_box(const char* text);
void debug_message(const char* text);

// A wait of the window loop for the operator or another window (a box, the file dialog, the
// wait for a new extension window, the fade): the GUI watchdog does not count the time spent
// in one. Held for the wait's scope; any thread.
class ModalWait {
 public:
  ModalWait();
  ~ModalWait();
  ModalWait(const ModalWait&) = delete;
  ModalWait& operator=(const ModalWait&) = delete;
};
bool modal_wait_active();

// Test seam: replaces show_message_box for every box of this module (nullptr restores it).
using MessageBoxFn = BoxAnswer (*)(const char* title, const char* text, BoxButtons buttons);
void set_message_box_hook(MessageBoxFn fn);

// The folder captures go to, ending in '/': rec_path, or the program directory when rec_path
// is empty, ".\" or "./". Nothing is created.
std::string capture_folder(const APP_OPTIONS* opts);

// "<dir><dvr>-<ch:02>-<YYYYmmddHHMMSS>-<counter:02>.<ext>" into out (cap bytes). The
// directory is capture_folder's; it is created when missing. The current directory is never changed. Characters of the DVR
// name that could leave the directory ('/', '\', "..") are replaced by '_'.
// 0, -1 when the directory cannot be created or the name does not fit.
int make_capture_name(const APP_OPTIONS* opts, char* out, size_t cap, const char* dvr_name,
                      int channel, const char* ext);
// The same name under rec_path as it stands, with its own counter; no directory creation.
// 0, -1 when rec_path is empty or the name does not fit.
int make_snapshot_name(const APP_OPTIONS* opts, char* out, size_t cap, const char* dvr_name,
                       int channel, const char* ext);
// Runs cjpeg -quality 100 on bmp_path into jpg_path, waiting at most 3000 ms; one still
// running then is ended and reaped (waiting up to 1 s more), so nothing writes jpg_path once
// this returns. Nothing runs when either path is null. A set `*cancel` (may be null) ends it
// the same way within 50 ms. 0, -1 when it could not run, failed, overran or was cancelled.
// Any thread.
int convert_to_jpeg(const char* bmp_path, const char* jpg_path,
                    const std::atomic<bool>* cancel = nullptr);

// One-line uuencode of a text of at most 63 bytes; "" for "" and for longer texts.
const char* uuencode_line(const char* text);
// Decodes one uuencoded line; "" for ""; prints "ERROR" and gives "" when the length
// character says < 1 byte. Stops at the end of the input.
const char* uudecode_line(const char* line);
// Bounded forms writing into the caller's buffer; return the number of bytes written
// (without the NUL) or -1 when refused (too long, bad length character, no room).
int uuencode_to(char* out, size_t cap, const char* text);
int uudecode_to(char* out, size_t cap, const char* line);

// Dates and numbers.
const char* event_type_name(uint8_t kind);  // a buffer of the calling thread
int is_valid_datetime(const char* text);    // "y/m/d h:m:s" -> 1 or 0
int first_weekday_of_month(int month0, int year1900);
void clock_digits(int out[15]);
int round_to_step(int value, int step);  // nearest multiple, lower on a tie
int log2_floor(double x);
double frac_part(double x);
int point_in_rect(int x, int y, int left, int top, int width, int height);

// Paths. A directory separator is '\' or '/'; results are bounded by cap.
void path_dir(char* out, size_t cap, const char* path);        // up to the last separator
void path_file_name(char* out, size_t cap, const char* path);  // after the last separator
void path_drive(char* out, size_t cap, const char* path);
int make_dirs(const char* path);       // 0, -1 at the first directory that cannot be made
int make_dirs_ret0(const char* path);  // make_dirs, result ignored
int change_dir(const char* path);      // 0

// Value of the first occurrence of `key` in text file `file` (cached by file name), or one
// of the fixed error texts "stat() failed.", "fopen() failed.", "malloc() failed.",
// "strstr() failed.", "sscanf() failed.". Window-loop thread only.
const char* get_config_value(const char* key, const char* file);
// Forgets the cached file of get_config_value (a test or a reload that rewrote the file).
void clear_config_cache();
// "<dir><language file>" of the current language; a non-null dir is kept for later calls.
const char* language_file_path(const char* dir);

// Bounded copy: at most cap-1 bytes and always a NUL. Returns 1 when src was cut.
int copy_field(char* dst, size_t cap, const char* src);
template <size_t N>
inline int copy_field(char (&dst)[N], const char* src) {
  return copy_field(dst, N, src);
}
