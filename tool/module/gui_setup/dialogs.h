// The message dialogs every page of the tool uses: "Error", "Information" and the Yes/No
// question. GTK main thread only.
//
// With VIGILO_BOX_ANSWER set no dialog is shown: the line "<title>: <text>" goes to
// standard error and the named button answers, as for the store's "ZOL Main" boxes.
#pragma once

#include <cstddef>

// Text the Information dialog shows; the save handlers set it before show_info_dialog.
extern char current_message[1024];
// Copies `text` into current_message (bounded).
void set_current_message(const char* text);

// Modal dialog titled "Error" with the error icon and an OK button, centred, over the
// Client Setup window when it exists. The text is also kept in current_message. Returns
// when the operator closes it.
void show_error_dialog(const char* text);
// The same titled "Information" with the information icon, showing current_message.
void show_info_dialog();
// Modal question with Yes and No, no parent, centred. 1 for Yes, 0 for No, -1 when the
// dialog was closed otherwise.
int ask_question(const char* text);
