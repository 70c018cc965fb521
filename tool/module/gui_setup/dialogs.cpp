// Error, Information and question dialogs on GTK, or their unattended form.
#include "tool/module/gui_setup/dialogs.h"

#include <gtk/gtk.h>

#include "client/foundation/config/utils.h"
#include "platform/system/message_box.h"
#include "tool/module/gui_setup/gui_setup.h"

char current_message[1024];

void set_current_message(const char* text) { copy_field(current_message, text ? text : ""); }

namespace {

int run_message_dialog(const char* title, GtkMessageType type, GtkButtonsType buttons,
                       GtkWindow* parent, const char* text) {
  BoxAnswer preset;
  BoxButtons kind = buttons == GTK_BUTTONS_YES_NO ? BoxButtons::yes_no : BoxButtons::ok;
  if (unattended_box_answer(title, text, kind, &preset))
    return preset == BoxAnswer::yes  ? GTK_RESPONSE_YES
           : preset == BoxAnswer::no ? GTK_RESPONSE_NO
                                     : GTK_RESPONSE_OK;
  GtkWidget* dialog = gtk_message_dialog_new(
      parent, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), type,
      buttons, "%s", text ? text : "");
  gtk_window_set_title(GTK_WINDOW(dialog), title);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ALWAYS);
  int response = gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  return response;
}

}  // namespace

void show_error_dialog(const char* text) {
  // The text may be current_message itself.
  if (text != current_message) set_current_message(text);
  run_message_dialog("Error", GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, setup_window_widget(),
                     current_message);
}

void show_info_dialog() {
  run_message_dialog("Information", GTK_MESSAGE_INFO, GTK_BUTTONS_OK, setup_window_widget(),
                     current_message);
}

int ask_question(const char* text) {
  int response =
      run_message_dialog("Question", GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO, nullptr, text);
  return response == GTK_RESPONSE_YES ? 1 : response == GTK_RESPONSE_NO ? 0 : -1;
}
