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

// The file `path` stands for: the end of its chain of symbolic links (a relative link read
// from the link's own directory), or the path itself. Renaming over the link would turn it
// into a file of its own. False with errno set when a link cannot be read or the chain is
// longer than 40 links.
bool resolve_links(const std::string& path, std::string* out) {
  std::string p = path;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *out = p;
      return true;
    }
    std::vector<char> buf(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1);
    const ssize_t n = readlink(p.c_str(), buf.data(), buf.size() - 1);
    if (n <= 0) {
      if (n == 0) errno = ENOENT;
      return false;
    }
    const std::string link(buf.data(), static_cast<size_t>(n));
    p = link[0] == '/' ? link : dir_of(p) + "/" + link;
  }
  errno = ELOOP;
  return false;
}

// The rename needs only the directory's permission: it would replace a file that its user
// may not write. Root may write anything; a file without any write bit was made read-only
// on purpose.
bool may_write(const std::string& target, const struct stat& st) {
  if (access(target.c_str(), W_OK) != 0) return false;
  return geteuid() != 0 || (st.st_mode & 0222) != 0;
}

}  // namespace

int replace_file(const char* path, const char* data, size_t len, std::string* why) {
  if (!path || (!data && len)) {
    set_why(why, "replace_file", EINVAL);
    return -1;
  }
  std::string target;
  if (!resolve_links(path, &target)) {
    set_why(why, "readlink", errno);
    return -1;
  }
  mode_t mode = 0600;
  struct stat st {};
  const bool exists = stat(target.c_str(), &st) == 0;
  if (exists) {
    if (!may_write(target, st)) {
      set_why(why, "open for writing", EACCES);
      return -1;
    }
    mode = st.st_mode & 07777;
  }

  std::string tmpl = target + ".XXXXXX";
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
  struct stat mine {};
  if (exists && fstat(fd, &mine) == 0 && (mine.st_uid != st.st_uid || mine.st_gid != st.st_gid) &&
      fchown(fd, st.st_uid, st.st_gid) != 0)
    return fail(-1, "chown", errno);
  // After the owner: a change of owner clears the set-id bits.
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
  if (rename(name.data(), target.c_str()) != 0) return fail(-4, "rename", errno);

  // The rename itself reaches the disk with the directory; a failure here loses nothing.
  int dfd = open(dir_of(target).c_str(), O_RDONLY | O_DIRECTORY);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return 0;
}
