// Language key lookup through the configuration store's cached key = value reader.
#include "tool/language.h"

#include <cstring>

#include "client/foundation/config/utils.h"
#include "tool/setup_snapshot.h"

char selected_language_file[255];

void choose_language_file(const SetupSnapshot& s) {
  selected_language_file[0] = '\0';
  // The last entry named exactly like the configured language wins.
  for (const RC_FILE_INFO& f : s.language)
    if (strcmp(f.name, s.sys.language) == 0) copy_field(selected_language_file, f.path);
}

const char* get_label_text(LabelKey key) { return lookup_label_text(key.key); }

const char* lookup_label_text(const char* key) {
  return get_config_value(key, selected_language_file);
}

int is_lookup_failure_text(const char* text) {
  static const char* const kFailures[] = {"stat() failed.", "fopen() failed.", "malloc() failed.",
                                          "strstr() failed.", "sscanf() failed."};
  if (!text) return 0;
  for (const char* f : kFailures)
    if (strcmp(text, f) == 0) return 1;
  return 0;
}
