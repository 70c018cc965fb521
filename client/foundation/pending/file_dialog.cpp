// Stand-in until the file dialog lands; that change replaces this file.
#include "client/foundation/win_helpers.h"

#define PENDING [[gnu::weak]]

// As if the operator cancelled.
PENDING int open_file_dialog(const char*, char* out, size_t cap) {
  if (out && cap) out[0] = '\0';
  return -1;
}
