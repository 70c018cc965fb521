// Language key lookup of auxdesk: every text a widget or a dialog shows is the text of a
// key in the language file chosen at start. No GTK; GTK main thread only (the lookup's
// cache and result buffer are not guarded).
#pragma once

#include "tool/language_keys.h"

struct SetupSnapshot;

// Path of the language file of the configured language (the last [LANGUAGE] entry whose
// name equals the [SYSTEM] language); empty when none matched. Set once by main.
extern char selected_language_file[255];
// Sets selected_language_file from the loaded [LANGUAGE] entries and [SYSTEM] language.
void choose_language_file(const SetupSnapshot& s);

// The text of `key` in selected_language_file, or one of the lookup's failure texts
// ("stat() failed.", "fopen() failed.", "malloc() failed.", "strstr() failed.",
// "sscanf() failed."). The buffer is overwritten by the next lookup: copy it to keep it.
const char* get_label_text(LabelKey key);
// The same for a key known only at run time (a key chosen from a table).
const char* lookup_label_text(const char* key);

// 1 when `text` is one of the five failure texts, else 0.
int is_lookup_failure_text(const char* text);
