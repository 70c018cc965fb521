// Whole-file replacement that never leaves a reader with half a file.
//
// The new text goes to a temporary file in the same directory, every write and the close
// are checked, the data is flushed to disk and the temporary file is renamed over the
// target. The target keeps its mode (a new file gets 0600: such files may hold passwords).
// Callable from any thread; two calls on the same path race only in which text wins.
#pragma once

#include <cstddef>
#include <string>

// Replaces `path` with `len` bytes of `data`. Returns 0, or on failure a negative step with
// the target untouched byte for byte and the temporary file removed: -1 the temporary
// file cannot be created, -2 a write failed (disk full, file size limit), -3 flushing or
// closing failed, -4 the rename failed. `why`, when given, receives the system's reason.
int replace_file(const char* path, const char* data, size_t len, std::string* why = nullptr);
inline int replace_file(const char* path, const std::string& text, std::string* why = nullptr) {
  return replace_file(path, text.data(), text.size(), why);
}
