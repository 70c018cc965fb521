// Whole-file replacement that never leaves a reader with half a file.
//
// The new text goes to a temporary file beside the file it replaces, every write and the
// close are checked, the data is flushed to disk and the temporary file is renamed over it.
// A path that is a symbolic link is written through: the file at the end of the link is
// replaced and the link stays. The replaced file keeps its mode and its owner (a new file
// gets 0600: such files may hold passwords); a file its user may not write is refused.
// Callable from any thread; two calls on the same path race only in which text wins.
#pragma once

#include <cstddef>
#include <string>

// Replaces `path` with `len` bytes of `data`. Returns 0, or on failure a negative step with
// the target untouched byte for byte and the temporary file removed: -1 the target may not
// be written (no write permission for this user; as root, a file without any write bit) or
// its links do not resolve, or the temporary file cannot be created or given the target's
// mode and owner, -2 a write failed (disk full, file size limit), -3 flushing or closing
// failed, -4 the rename failed. `why`, when given, receives the system's reason.
int replace_file(const char* path, const char* data, size_t len, std::string* why = nullptr);
inline int replace_file(const char* path, const std::string& text, std::string* why = nullptr) {
  return replace_file(path, text.data(), text.size(), why);
}
