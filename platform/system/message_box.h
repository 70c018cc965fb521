// Modal message boxes on the X display, or their unattended form.
//
// When VIGILO_BOX_ANSWER is set (ok, yes, no) no box is shown: the box is written to
// standard error as one line "<title>: <text>" (text without its trailing line end) and
// answered with that button. Otherwise a real modal X11 window is shown and waited for.
// Callable from any thread, before or after SDL starts (it opens its own X connection).
// With no display and no VIGILO_BOX_ANSWER the line is written to standard error and the
// default answer (ok / no) is returned.
#pragma once

enum class BoxButtons { ok, yes_no };
enum class BoxAnswer { ok, yes, no };

BoxAnswer show_message_box(const char* title, const char* text, BoxButtons buttons);

// The unattended form alone, for dialogs drawn by other toolkits that must honour the same
// variable: when VIGILO_BOX_ANSWER is set, writes the line "<title>: <text>" to standard
// error, stores the button it names in *answer and returns true; otherwise returns false
// and writes nothing.
bool unattended_box_answer(const char* title, const char* text, BoxButtons buttons,
                           BoxAnswer* answer);
