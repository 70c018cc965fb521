// Atomic replacement of a file through a temporary file and rename(2).
#include "platform/system/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

void set_why(std::string* why, const char* step, int err) {
  if (why) *why = std::string(step) + ": " + strerror(err);
}

// Directory part of `path` ("." when it has none), for the temporary file and the flush.
std::string dir_of(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

int replace_file(const char* path, const char* data, size_t len, std::string* why) {
  if (!path || (!data && len)) {
    set_why(why, "replace_file", EINVAL);
    return -1;
  }
  mode_t mode = 0600;
  struct stat st {};
  if (stat(path, &st) == 0) mode = st.st_mode & 07777;

  std::string tmpl = std::string(path) + ".XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    set_why(why, "create", errno);
    return -1;
  }
  auto fail = [&](int code, const char* step, int err) {
    if (fd >= 0) close(fd);
    unlink(name.data());
    set_why(why, step, err);
    return code;
  };
  if (fchmod(fd, mode) != 0) return fail(-1, "chmod", errno);

  size_t done = 0;
  while (done < len) {
    ssize_t n = write(fd, data + done, len - done);
    if (n < 0 && errno == EINTR) continue;
    // A zero-length write would loop for ever; report it as the disk being full.
    if (n <= 0) return fail(-2, "write", n < 0 ? errno : ENOSPC);
    done += static_cast<size_t>(n);
  }
  if (fsync(fd) != 0) return fail(-3, "fsync", errno);
  int rc = close(fd);
  fd = -1;
  if (rc != 0) return fail(-3, "close", errno);
  if (rename(name.data(), path) != 0) return fail(-4, "rename", errno);

  // The rename itself reaches the disk with the directory; a failure here loses nothing.
  int dfd = open(dir_of(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return 0;
}
