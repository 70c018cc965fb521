// Widgets and helpers shared by the Client Setup window's page files and their in-process
// tests. Not for other modules. GTK main thread only.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "tool/language.h"
#include "tool/setup_snapshot.h"

// A list page: the list in its scrolled window and the page's button row.
struct ListPage {
  GtkWidget* fixed = nullptr;
  GtkWidget* scroll = nullptr;
  GtkWidget* buttons = nullptr;
  GtkWidget* view = nullptr;
  GtkListStore* store = nullptr;
  GtkWidget *add = nullptr, *edit = nullptr, *del = nullptr, *close = nullptr;
};

// Widgets of an open form, placed in its page's fixed container over the list.
struct FormBase {
  bool open = false;
  bool edit = false;
  std::vector<GtkWidget*> placed;  // destroyed when the form closes
  GtkWidget *ok = nullptr, *cancel = nullptr;
};

struct DvrForm : FormBase {
  GtkWidget *model = nullptr, *mode = nullptr, *name = nullptr, *address_label = nullptr;
  GtkWidget *address = nullptr, *user = nullptr, *password = nullptr, *video_port = nullptr;
  GtkWidget *camera = nullptr, *camera_name = nullptr, *ddns_port = nullptr;
  GtkWidget *ddns_server = nullptr, *manager = nullptr, *location = nullptr, *tel = nullptr;
  GtkWidget *police = nullptr, *fire = nullptr;
  std::string old_name;
  int ddns_rows = 0;
};

struct GroupForm : FormBase {
  GtkWidget *name = nullptr, *site = nullptr, *tree = nullptr, *selected = nullptr;
  GtkListStore *tree_store = nullptr, *selected_store = nullptr;
  GtkWidget *add = nullptr, *del = nullptr, *add_all = nullptr, *empty = nullptr;
  std::string old_name;
};

struct UserForm : FormBase {
  GtkWidget *type = nullptr, *id = nullptr, *fullname = nullptr, *password = nullptr;
  GtkWidget *confirm = nullptr, *email = nullptr;
  GtkWidget* rights[10] = {};
  std::string old_id;
  bool coupling = false;  // the type handler is setting the boxes
};

struct SystemPage {
  GtkWidget *fixed = nullptr, *rec_path = nullptr, *browse = nullptr, *alarm = nullptr;
  GtkWidget *motion = nullptr, *sensor = nullptr, *cycle = nullptr, *language = nullptr;
  GtkWidget *resolution = nullptr, *popup[4] = {}, *popup_time = nullptr;
  GtkWidget *update_on = nullptr, *update_off = nullptr, *relay = nullptr;
  GtkWidget *syslog = nullptr, *ok = nullptr, *close = nullptr;
};

struct EmailPage {
  GtkWidget *fixed = nullptr, *from = nullptr, *to = nullptr, *cc = nullptr, *bcc = nullptr;
  GtkWidget *subject = nullptr, *message = nullptr, *reply = nullptr, *attachment = nullptr;
  GtkWidget *delay = nullptr, *server = nullptr, *domain = nullptr, *user = nullptr;
  GtkWidget *password = nullptr, *ok = nullptr, *close = nullptr;
};

struct SetupWindow {
  GtkWidget* window = nullptr;
  GtkWidget* notebook = nullptr;
  std::string operator_id;
  bool korean = false;  // the [SYSTEM] language is "Korean": some labels move
  ListPage dvr, group, user;
  DvrForm dvr_form;
  GroupForm group_form;
  UserForm user_form;
  SystemPage system;
  EmailPage email;
  std::string damage_told;  // the last damaged-lines notice shown (damaged_dvr_notice)
};
extern SetupWindow setup_ui;

// Page builders, called by create_setup_window in page order.
void build_dvr_page(GtkWidget* fixed);
void build_group_page(GtkWidget* fixed);
void build_user_page(GtkWidget* fixed);
void build_system_page(GtkWidget* fixed);
void build_email_page(GtkWidget* fixed);

// List fills (each reloads setup.cfg first) and the page fills.
void fill_dvr_list();
void fill_group_list();
void fill_user_list();
void fill_system_page();
void fill_email_page();

// The list of a list page: a 580 x 263 scrolled window at (0, 0) holding a tree view with
// multiple selection. The page's button row: def_ADD, def_EDIT, def_DELETE, def_CLOSE,
// 320 x 30 at (260, 273), the first three connected to the given handlers.
void build_list_view(ListPage& page, GtkWidget* fixed);
void build_list_buttons(ListPage& page, GCallback add, GCallback edit, GCallback del);

// A form over a list page: begin_form hides the page's list and buttons; put_in_form
// places a widget of the form in the page; end_form adds the def_OK and def_CANCEL row
// (Cancel runs `on_cancel`, a "clicked" handler) and shows the form.
void begin_form(FormBase& form, ListPage& page);
GtkWidget* put_in_form(FormBase& form, ListPage& page, GtkWidget* w, int x, int y, int width,
                       int height);
void end_form(FormBase& form, ListPage& page, GCallback on_cancel);

// Helpers for the builders.
GtkWidget* put(GtkWidget* fixed, GtkWidget* w, int x, int y, int width, int height);
GtkWidget* new_label(const char* text, float xalign = 0.5f);
GtkWidget* new_key_label(LabelKey key, float xalign = 0.5f);
GtkWidget* new_key_button(LabelKey key);
GtkWidget* new_entry(int max_chars, bool hidden = false);
// A homogeneous row of buttons, spacing 1, each expanding and filling.
GtkWidget* new_button_row(std::initializer_list<GtkWidget*> buttons);
// A frame titled by `key` holding a fixed container with a border of 5; returns the fixed.
GtkWidget* new_frame(GtkWidget* fixed, LabelKey key, int x, int y, int width, int height);
// Sets an entry's text whole: an entry whose typing limit is shorter than a stored text
// takes the text's length as its limit, so that saving unchanged writes what was stored.
void set_entry_whole(GtkWidget* entry, const char* text);
std::string entry_text(GtkWidget* entry);
std::string combo_text(GtkWidget* combo);  // "" when nothing is chosen
// Rows of a list in store order, which is the order on screen after any sorting.
std::vector<GtkTreeIter> list_rows(GtkListStore* store);
// The text of a lookup failure text or a key's text, copied.
std::string label_text(LabelKey key);
// Message of a failed save, naming the file.
void report_save_failure(const char* file, const std::string& why);

// The end of a page's save: the text of the first failed check in the Error dialog, or
// setup.cfg replaced with `compose()` (a failure reported, the form left as typed). Before
// the first save that keeps DVR lines the tool could not read whole, an Information box
// names them. True when the file was saved.
bool finish_save(const std::optional<LabelKey>& failed,
                 const std::function<std::string()>& compose);
// Starts a list fill: empties the list, reloads setup.cfg and returns what it holds.
SetupSnapshot reload_for_list(GtkListStore* store);
// Which record of its key record `i` is (0 the first): a list row keeps it beside the key.
int key_occurrence(const std::vector<std::string>& keys, size_t i);
// The end of a delete: removes the rows `doomed` and writes setup.cfg from `s`, a load made
// after the operator's answer (another program may have rewritten the file since the list
// was filled), whose record keys are `keys`. Each row finds its record by its key (column
// 0) and occurrence (column `nth_column`); the rows left are written in the order on
// screen, then the records no row shows. Refills the list with `refill`.
void finish_delete(GtkListStore* store, const std::vector<GtkTreeIter>& doomed, int nth_column,
                   const SetupSnapshot& s, const std::vector<std::string>& keys,
                   std::string (*compose)(const std::vector<int>& keep, const SetupSnapshot& s),
                   void (*refill)());
