// setup.cfg readers and the published generations of the setup tables.
#include "client/foundation/config/setup_config.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <shared_mutex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "client/foundation/config/utils.h"

const char* setup_line_header(const char* line, size_t* len) {
  if (!line) return nullptr;
  const char* at = line + strspn(line, " \t");
  if (*at != '[') return nullptr;
  const size_t name = strcspn(at + 1, "[]=\r\n");
  if (name == 0 || at[1 + name] != ']') return nullptr;
  const char* rest = at + 2 + name;
  rest += strspn(rest, " \t");
  if (*rest != '\0' && *rest != '\r' && *rest != '\n' && *rest != ';' && *rest != '#')
    return nullptr;
  if (len) *len = name + 2;
  return at;
}

namespace {

// One complete load of setup.cfg. Group records point into the member vectors of the same
// generation, so a generation is never copied without re-pointing them (clone()).
struct SetupTables {
  std::vector<RC_DVR_INFO> dvr;
  std::vector<std::string> dvr_damaged_line;  // per DVR: its line when the record lost text
  std::vector<RC_GROUP_INFO> group;
  std::vector<std::vector<RC_DVR_INFO>> group_members;
  std::vector<std::vector<uint32_t>> group_filters;
  std::vector<RC_USER_INFO> user;
  RC_SYSTEM_INFO sys{};
  RC_EMAIL_INFO mail{};
  std::vector<RC_FILE_INFO> language;
  std::vector<RC_FILE_INFO> resolution;

  void fix_group_pointers() {
    for (size_t i = 0; i < group.size(); ++i) {
      group[i].dvr_info = i < group_members.size() ? group_members[i].data() : nullptr;
      group[i].channel_filter = i < group_filters.size() ? group_filters[i].data() : nullptr;
    }
  }
  std::unique_ptr<SetupTables> clone() const {
    auto t = std::make_unique<SetupTables>(*this);
    t->fix_group_pointers();
    return t;
  }
};

std::shared_mutex published_lock;
std::mutex loader_lock;                // one load at a time
std::shared_ptr<SetupTables> current;  // the published generation; swapped under both locks
std::atomic<int> generations_alive{0};

SetupTables& empty_tables() {
  static SetupTables empty;
  return empty;
}

// The loader's starting point: only a loader (holding loader_lock) changes `current`.
const SetupTables& loader_tables() { return current ? *current : empty_tables(); }

// The generation this thread's table pointers point into. It stays until this thread reads
// the tables again after a load (or ends), so a replaced generation goes once no thread
// still holds it.
thread_local std::shared_ptr<SetupTables> pinned;
thread_local int read_depth = 0;

// The published tables for the calling thread, pinned until its next read after a load.
SetupTables& tables() {
  SetupReadLock lock;
  if (pinned != current) pinned = current;
  return pinned ? *pinned : empty_tables();
}

void publish(std::unique_ptr<SetupTables> t) {
  std::shared_ptr<SetupTables> next(t.release(), [](SetupTables* g) {
    delete g;
    generations_alive.fetch_sub(1);
  });
  generations_alive.fetch_add(1);
  std::shared_ptr<SetupTables> replaced;
  {
    std::unique_lock lock(published_lock);
    replaced = std::move(current);
    current = std::move(next);
  }
  // `replaced` goes here unless a reader's pin still holds it.
}

// Modification time kept by the last load, for setup_changed.
int64_t kept_mtime_ns = 0;
int64_t kept_size = 0;

int64_t mtime_ns(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

// Walks the lines of a private copy of the text from a header on. Line ends are "\n" or
// "\r\n" (or a stray "\r"); a run of them counts as one, so empty lines never show.
class LineCursor {
 public:
  // ok() is false when the header is missing; the copy failing throws std::bad_alloc.
  LineCursor(const char* text, const char* header) {
    const char* at = text ? find_header(text, header) : nullptr;
    if (!at) return;
    copy_.assign(at);
    pos_ = 0;
    found_ = true;
  }
  bool ok() const { return found_; }
  // Next non-empty line, NUL-terminated inside the copy; nullptr at the end of the text.
  char* next() {
    if (!found_) return nullptr;
    while (pos_ < copy_.size() && (copy_[pos_] == '\n' || copy_[pos_] == '\r')) ++pos_;
    if (pos_ >= copy_.size()) return nullptr;
    size_t start = pos_;
    while (pos_ < copy_.size() && copy_[pos_] != '\n' && copy_[pos_] != '\r') ++pos_;
    if (pos_ < copy_.size()) copy_[pos_++] = '\0';
    return copy_.data() + start;
  }

 private:
  // The header's line when it stands as a line of its own (setup_line_header), else null:
  // the same text inside a line (a password's encoding, a camera name) is data of that line.
  static const char* find_header(const char* text, const char* header) {
    const size_t want = strlen(header);
    // A byte-order mark may open the file.
    const char* line = strncmp(text, "\xEF\xBB\xBF", 3) == 0 ? text + 3 : text;
    while (*line) {
      size_t len = 0;
      const char* at = setup_line_header(line, &len);
      if (at && len == want && memcmp(at, header, want) == 0) return at;
      line += strcspn(line, "\r\n");
      line += strspn(line, "\r\n");
    }
    return nullptr;
  }

  std::string copy_;
  size_t pos_ = 0;
  bool found_ = false;
};

// A header line of another section. Lines of a section stop there even when its count
// promised more, so the next header is never read as data.
bool is_section_header(const char* line) {
  size_t len = 0;
  return setup_line_header(line, &len) != nullptr;
}

// Scratch fields for sscanf: each as long as the line, so no conversion can overrun it.
struct Scratch {
  explicit Scratch(size_t count, const char* line)
      : bufs(count, std::string(strlen(line) + 1, '\0')) {}
  char* operator[](size_t i) { return bufs[i].data(); }
  std::vector<std::string> bufs;
};

// Parses a "key<sep>number" count line; 2 when both are there.
int parse_count(const char* line, std::string& key, int& value) {
  if (!line) return 0;
  Scratch s(1, line);
  int got = sscanf(line, "%[^\t =]%*[\t =]%d", s[0], &value);
  key = s[0];
  return got < 0 ? 0 : got;
}

uint16_t to_port(int v) { return (v >= 0 && v <= 65535) ? static_cast<uint16_t>(v) : 0; }

void report_cut(const char* section, int line_no, int cuts) {
  if (cuts > 0)
    printf("setup.cfg: %d field(s) of %s line %d too long for the record, cut.\n", cuts, section,
           line_no);
}

void report_short(const char* section, int read, int counted) {
  if (read < counted)
    printf("setup.cfg: %s holds %d of the %d lines its count gives.\n", section, read, counted);
}

// ---------------------------------------------------------------------------------------
// [DVR]

// The fields of a [DVR] line in order, each with the separators before it. A line is read
// field by field and stops at the first field it cannot read; the fields after it stay zero.
constexpr int kDvrLineFields = 35;
constexpr int kDvrPortField = 3;  // 3..9: the seven ports
constexpr int kDvrChannelsField = 11;
constexpr int kDvrPasswordField = 34;
constexpr const char* kDvrFieldFormats[kDvrLineFields] = {
    "%[^\t=]%n",         "%*[\t=]%[^\t,]%n",   "%*[\t,]%[^\t,]%n",  "%*[\t,]%d%n",
    "%*[\t,]%d%n",       "%*[\t,]%d%n",        "%*[\t,]%d%n",       "%*[\t,]%d%n",
    "%*[\t,]%d%n",       "%*[\t,]%d%n",        "%*[\t,]%[^,]%n",    "%*[\t,]%d%n",
    "%*[\t,\"]%[^\"]%n", "%*[\t ,\"]%[^\"]%n", "%*[\t,\"]%[^\"]%n", "%*[\t,\"]%[^\"]%n",
    "%*[\t,\"]%[^\"]%n", "%*[\t,\"]%[^\t,]%n", "%*[\t,]%[^\t,]%n",  "%*[\t,]%[^\t,]%n",
    "%*[\t,]%[^\t,]%n",  "%*[\t,]%[^\t,]%n",   "%*[\t,]%[^\t,]%n",  "%*[\t,]%[^\t,]%n",
    "%*[\t,]%[^\t,]%n",  "%*[\t,]%[^\t,]%n",   "%*[\t,]%[^\t,]%n",  "%*[\t,]%[^\t,]%n",
    "%*[\t,]%[^\t,]%n",  "%*[\t,]%[^\t,]%n",   "%*[\t,]%[^\t,]%n",  "%*[\t,]%[^\t,]%n",
    "%*[\t,]%[^\t,]%n",  "%*[\t,]%[^\t,]%n",   "%*[\t,]%[^\t]%n",
};

// Reads one [DVR] line into `d`. False when the record does not hold the whole line (a
// field was cut, or text is left that no field took): a save from it would lose that text.
bool parse_dvr_line(const char* line, RC_DVR_INFO& d, int line_no) {
  struct Text {
    char* field;
    size_t cap;
  };
  Text texts[kDvrLineFields] = {};
  texts[0] = {d.name, sizeof d.name};
  texts[1] = {d.model, sizeof d.model};
  texts[2] = {d.ipaddress, sizeof d.ipaddress};
  texts[10] = {d.host_type, sizeof d.host_type};
  texts[12] = {d.location, sizeof d.location};
  texts[13] = {d.manager, sizeof d.manager};
  texts[14] = {d.tel_no, sizeof d.tel_no};
  texts[15] = {d.police_no, sizeof d.police_no};
  texts[16] = {d.fire_dept_no, sizeof d.fire_dept_no};
  for (int c = 0; c < DVR_MAX_CAMERAS; ++c)
    texts[17 + c] = {d.camera_name[c], sizeof d.camera_name[c]};
  texts[33] = {d.username, sizeof d.username};

  Scratch s(1, line);
  const char* p = line;
  int cuts = 0;
  int f = 0;
  for (; f < kDvrLineFields; ++f) {
    int used = 0;
    int number = 0;
    const bool numeric =
        (f >= kDvrPortField && f < kDvrPortField + DVR_NUM_PORTS) || f == kDvrChannelsField;
    const int got = numeric ? sscanf(p, kDvrFieldFormats[f], &number, &used)
                            : sscanf(p, kDvrFieldFormats[f], s[0], &used);
    if (got < 1) break;
    p += used;
    if (f == kDvrChannelsField) {
      // Each channel needs a camera name slot; a count beyond them would index past the table.
      d.num_video = static_cast<uint8_t>(std::clamp(number, 0, DVR_MAX_CAMERAS));
    } else if (numeric) {
      d.port[f - kDvrPortField] = to_port(number);
    } else if (f == kDvrPasswordField) {
      // A length character of 0 bytes ("`") is an empty password.
      if (uudecode_to(d.password, sizeof d.password, s[0]) < 0) d.password[0] = '\0';
    } else {
      cuts += copy_field(texts[f].field, texts[f].cap, s[0]);
    }
  }
  report_cut("[DVR]", line_no, cuts);
  // Separators alone may be left: the writer ends a line before its first empty text.
  const bool left = p[strspn(p, "\t ,\"=")] != '\0';
  if (left) printf("setup.cfg: [DVR] line %d holds text that none of its fields takes.\n", line_no);
  // Fields go by position, so a camera name too many or too few moves the user and the
  // password. The writer puts all 16 names before a user and always a separator and one
  // whole encoded password after it (nothing after the separator for an empty password).
  bool miscounted = false;
  if (f == kDvrPasswordField) {
    miscounted = *p == '\0';  // the user's separator is missing: one name too few
  } else if (f == kDvrLineFields) {
    const char* pw = s[0];
    const size_t n = (static_cast<unsigned char>(pw[0]) - 32u) & 63u;
    size_t len = strlen(pw);
    while (len > 0 && pw[len - 1] == ' ') --len;  // blanks after it change nothing
    miscounted = len != 1 + (n + 2) / 3 * 4;      // a name too many: more than the password
  }
  if (miscounted)
    printf("setup.cfg: [DVR] line %d does not hold 16 camera names before its user.\n", line_no);
  return !left && cuts == 0 && !miscounted;
}

int read_dvr(SetupTables& t, const char* text) {
  t.dvr.clear();
  t.dvr_damaged_line.clear();
  LineCursor cur(text, "[DVR]");
  if (!cur.ok()) {
    fatal_box("Invalid setup.cfg:strstr(cfg, [DVR]) failed.\n");
    return -2;
  }
  cur.next();  // the header line
  std::string key;
  int count = 0;
  if (parse_count(cur.next(), key, count) < 2) {
    fatal_box("Invalid setup.cfg:sscanf() failed.\n");
    return -3;
  }
  if (key != "num_dvr") {
    fatal_box("Invalid setup.cfg:strcmp(item, num_dvr) failed.\n");
    return -4;
  }
  if (count < 0) {
    fatal_box("Invalid setup.cfg:num_dvr is negative.\n");
    return -3;
  }
  int read = 0;
  for (; read < count; ++read) {
    char* line = cur.next();
    if (!line || is_section_header(line)) break;
    RC_DVR_INFO d{};
    const bool whole = parse_dvr_line(line, d, read + 1);
    d.protocol = get_protocol_code(d.model);
    d.num_video1 = d.num_video;
    d.num_video2 = d.num_video;
    d.flag = 1;
    t.dvr.push_back(d);
    t.dvr_damaged_line.emplace_back(whole ? "" : line);
  }
  report_short("[DVR]", read, count);
  return 0;
}

// ---------------------------------------------------------------------------------------
// [GROUP] and [GROUP_n]

int read_group_details(SetupTables& t, const char* text, int n) {
  char header[32];
  snprintf(header, sizeof header, "[GROUP_%d]", n + 1);
  LineCursor cur(text, header);
  if (!cur.ok()) {
    fatal_box("Invalid setup.cfg:strstr(cfg, item) failed.\n");
    return -2;
  }
  RC_GROUP_INFO& g = t.group[static_cast<size_t>(n)];
  auto& members = t.group_members[static_cast<size_t>(n)];
  auto& filters = t.group_filters[static_cast<size_t>(n)];
  members.clear();
  filters.clear();
  cur.next();  // the header line
  char* line = cur.next();
  {
    if (!line) {
      fatal_box("Invalid setup.cfg:sscanf(item, group name) failed.\n");
      return -3;
    }
    Scratch s(2, line);
    if (sscanf(line, "%[^\t =]%*[\t =]%[^\t\r\n]", s[0], s[1]) < 2) {
      fatal_box("Invalid setup.cfg:sscanf(item, group name) failed.\n");
      return -3;
    }
    report_cut("[GROUP]", n + 1, copy_field(g.name, s[1]));
  }
  std::string key;
  int count = 0;
  if (parse_count(cur.next(), key, count) < 2) {
    fatal_box("Invalid setup.cfg:sscanf(item, num_dvr) failed.\n");
    return -3;
  }
  if (count == 0) return -9;
  if (count < 0 || count > INT8_MAX) {
    fatal_box("Invalid setup.cfg:group num_dvr out of range.\n");
    return -3;
  }
  for (int i = 0; i < count; ++i) {
    line = cur.next();
    if (!line || strchr(line, '[')) break;
    Scratch s(1, line);
    unsigned filter = 0;
    // DVR names may hold blanks, and the setup tool writes "name=filter": with a '=' the
    // name runs up to it, otherwise a blank also ends it.
    int got = strchr(line, '=') ? sscanf(line, "%[^\t=]%*[\t =]%x", s[0], &filter)
                                : sscanf(line, "%[^\t =]%*[\t =]%x", s[0], &filter);
    if (got >= 1) {
      size_t len = strlen(s[0]);
      while (len > 0 && s[0][len - 1] == ' ') s[0][--len] = '\0';
    }
    if (got < 2) {
      fatal_box("Invalid setup.cfg:sscanf(dvr_name, channel_filter) failed.\n");
      return -6;
    }
    // Cut like the DVR names were, so an overlong name still finds its DVR.
    char name[sizeof(RC_DVR_INFO::name)];
    copy_field(name, s[0]);
    const RC_DVR_INFO* found = nullptr;
    for (const auto& d : t.dvr)
      if (strcmp(d.name, name) == 0) {
        found = &d;
        break;
      }
    if (!found) {
      fatal_box("Invalid setup.cfg:group member not found in dvr list.\n");
      return -7;
    }
    members.push_back(*found);
    filters.push_back(filter);
  }
  // Only members actually listed count: a shorter list leaves no empty member records.
  report_short("[GROUP_n]", static_cast<int>(members.size()), count);
  if (members.empty()) return -9;
  g.num_dvr = static_cast<int8_t>(members.size());
  return 0;
}

int read_group(SetupTables& t, const char* text) {
  t.group.clear();
  t.group_members.clear();
  t.group_filters.clear();
  LineCursor cur(text, "[GROUP]");
  if (!cur.ok()) {
    fatal_box("Invalid setup.cfg:strstr(cfg, [GROUP]) failed.\n");
    return -2;
  }
  cur.next();
  std::string key;
  int count = 0;
  if (parse_count(cur.next(), key, count) < 2) {
    fatal_box("Invalid setup.cfg:sscanf(item, num_group) failed.\n");
    return -3;
  }
  if (key != "num_group") {
    fatal_box("Invalid setup.cfg:strcmp(item, num_group) failed.\n");
    return -4;
  }
  if (count < 0) {
    fatal_box("Invalid setup.cfg:num_group is negative.\n");
    return -3;
  }
  for (int n = 0; n < count; ++n) {
    // Grown one group at a time: a huge count fails at the first missing header instead
    // of allocating for it.
    t.group.push_back(RC_GROUP_INFO{});
    t.group_members.emplace_back();
    t.group_filters.emplace_back();
    if (read_group_details(t, text, n) != 0) {
      fatal_box("load_group_details() failed.\n");
      t.group.clear();
      t.group_members.clear();
      t.group_filters.clear();
      return -6;
    }
  }
  t.fix_group_pointers();
  return 0;
}

// ---------------------------------------------------------------------------------------
// [USER]

int read_user(SetupTables& t, const char* text) {
  t.user.clear();
  LineCursor cur(text, "[USER]");
  if (!cur.ok()) {
    fatal_box("Invalid setup.cfg:strstr(cfg, [USER]) failed.\n");
    return -2;
  }
  cur.next();
  std::string key;
  int count = 0;
  if (parse_count(cur.next(), key, count) < 2) {
    fatal_box("Invalid setup.cfg:sscanf(item, num_user) failed.\n");
    return -3;
  }
  if (key != "num_user") {
    fatal_box("Invalid setup.cfg:strcmp(item, num_user) failed.\n");
    return -4;
  }
  if (count < 0) {
    fatal_box("Invalid setup.cfg:num_user is negative.\n");
    return -3;
  }
  int read = 0;
  for (; read < count; ++read) {
    char* line = cur.next();
    if (!line || is_section_header(line)) break;
    RC_USER_INFO u{};
    u.rights_mask1 = 0x0000FFFF;
    u.rights_mask2 = 0xFFFFFFFF;
    Scratch s(6, line);
    int level = 0;
    int got = sscanf(line,
                     "%[^\t =]%*[\t =]%[^\t,]%*[\t,]%*[\t ]%[^\t ]%*[\t ]%*[\t,]%d%*[\t,]"
                     "%*[\t ]%[^\t ]%*[\t ]%*[\t,]%*[\t ]%[^\t ]%*[\t ]%*[\t,]%[^\t ,]",
                     s[0], s[1], s[2], &level, s[3], s[4], s[5]);
    if (got < 3) {
      fatal_box("Invalid setup.cfg:sscanf(user, fullname, password) failed.\n");
      t.user.clear();
      return -3;
    }
    int cuts = copy_field(u.user, s[0]) + copy_field(u.fullname, s[1]);
    if (got > 3) u.level = static_cast<uint16_t>(level);
    char plain[128];
    unsigned mask = 0;
    // A rights text that does not decode to a hexadecimal number keeps the default.
    if (got > 4 && uudecode_to(plain, sizeof plain, s[3]) >= 0 && sscanf(plain, "%X", &mask) == 1)
      u.rights_mask1 = mask;
    if (got > 5 && uudecode_to(plain, sizeof plain, s[4]) >= 0 && sscanf(plain, "%X", &mask) == 1)
      u.rights_mask2 = mask;
    if (got > 6) cuts += copy_field(u.note, s[5]);
    if (uudecode_to(u.password, sizeof u.password, s[2]) < 0) u.password[0] = '\0';
    report_cut("[USER]", read + 1, cuts);
    t.user.push_back(u);
  }
  report_short("[USER]", read, count);
  return 0;
}

// ---------------------------------------------------------------------------------------
// [SYSTEM] and [EMAIL]

template <size_t N>
void set_text(char (&field)[N], const char* value, const char* key) {
  if (copy_field(field, value)) printf("setup.cfg: value of %s too long, cut.\n", key);
}

bool store_system_key(RC_SYSTEM_INFO& s, const char* key, const char* v) {
  auto u8 = [&](uint8_t& f) { f = static_cast<uint8_t>(atoi(v)); };
  // clang-format off
  if (!strcmp(key, "num_decoder")) u8(s.num_decoder);
  else if (!strcmp(key, "cycle_time")) u8(s.cycle_time);
  else if (!strcmp(key, "rec_path")) set_text(s.rec_path, v, key);
  else if (!strcmp(key, "log_path")) set_text(s.log_path, v, key);
  else if (!strcmp(key, "buf_level")) s.buf_level = static_cast<float>(atof(v));
  else if (!strcmp(key, "enable_debug")) u8(s.enable_debug);
  else if (!strcmp(key, "enable_log")) u8(s.enable_log);
  else if (!strcmp(key, "enable_alarm")) u8(s.enable_alarm);
  else if (!strcmp(key, "enable_mail")) u8(s.enable_mail);
  else if (!strcmp(key, "max_select")) s.max_select = static_cast<int8_t>(atoi(v));
  else if (!strcmp(key, "motion_wav")) set_text(s.motion_wav, v, key);
  else if (!strcmp(key, "sensor_wav")) set_text(s.sensor_wav, v, key);
  else if (!strcmp(key, "language")) set_text(s.language, v, key);
  else if (!strcmp(key, "resolution")) set_text(s.resolution, v, key);
  else if (!strcmp(key, "watchdog")) u8(s.watchdog);
  else if (!strcmp(key, "event_popup_type")) u8(s.event_popup_type);
  else if (!strcmp(key, "event_popup_time")) s.event_popup_time = static_cast<uint32_t>(atoi(v));
  else if (!strcmp(key, "check_update")) u8(s.check_update);
  else if (!strcmp(key, "relay_duration")) s.relay_duration = static_cast<uint32_t>(atoi(v));
  else return false;
  // clang-format on
  return true;
}

bool store_email_key(RC_EMAIL_INFO& m, const char* key, const char* v) {
  if (!strcmp(key, "receipient"))
    set_text(m.receipient, v, key);
  else if (!strcmp(key, "from"))
    set_text(m.from, v, key);
  else if (!strcmp(key, "subject"))
    set_text(m.subject, v, key);
  else if (!strcmp(key, "attachment"))
    m.attachment = static_cast<uint8_t>(atoi(v));
  else if (!strcmp(key, "inline_msg"))
    set_text(m.inline_msg, v, key);
  else if (!strcmp(key, "replyto"))
    set_text(m.replyto, v, key);
  else if (!strcmp(key, "cc"))
    set_text(m.cc, v, key);
  else if (!strcmp(key, "bcc"))
    set_text(m.bcc, v, key);
  else if (!strcmp(key, "username"))
    set_text(m.username, v, key);
  else if (!strcmp(key, "password"))
    set_text(m.password, v, key);
  else if (!strcmp(key, "smtpserver"))
    set_text(m.smtpserver, v, key);
  else if (!strcmp(key, "domain"))
    set_text(m.domain, v, key);
  else if (!strcmp(key, "delay"))
    m.delay = static_cast<uint32_t>(atoi(v));
  else
    return false;
  return true;
}

// The key = value loop shared by [SYSTEM] and [EMAIL]: "key=" reads as an empty value, and
// the loop ends at the next section's header, so a missing key never takes a line of
// another section. A line with no key at all is the fatal box (the load goes on).
template <typename Record, typename Store>
int read_keys(Record& rec, const char* text, const char* header, const char* missing_msg,
              int wanted, Store store) {
  LineCursor cur(text, header);
  if (!cur.ok()) {
    fatal_box(missing_msg);
    return -2;
  }
  cur.next();  // the header line
  int recognised = 0;
  while (recognised < wanted) {
    char* line = cur.next();
    if (!line || is_section_header(line)) break;
    Scratch s(2, line);
    if (sscanf(line, "%[^\t =]%*[\t =]%[^\t]", s[0], s[1]) < 1) {
      fatal_box("Invalid setup.cfg:sscanf(item, value) failed.\n");
      break;
    }
    if (store(rec, s[0], s[1])) ++recognised;
  }
  return 0;
}

// What a key missing from [SYSTEM] or [EMAIL] holds: the demo setup.cfg's values, and the
// log folder the system log writes to.
RC_SYSTEM_INFO system_defaults() {
  RC_SYSTEM_INFO s{};
  s.num_decoder = 2;
  s.cycle_time = 5;
  copy_field(s.rec_path, "./record/");
  copy_field(s.log_path, "./logs/");
  s.buf_level = 1.0f;
  s.enable_log = 1;
  s.enable_alarm = 1;
  s.max_select = 16;
  copy_field(s.motion_wav, "wave\\ding.wav");
  copy_field(s.sensor_wav, "wave\\chord.wav");
  copy_field(s.language, "English");
  copy_field(s.resolution, "1280x1024");
  s.event_popup_time = 5;
  s.relay_duration = 5;
  return s;
}

RC_EMAIL_INFO email_defaults() {
  RC_EMAIL_INFO m{};
  copy_field(m.subject, "DVR event");
  m.attachment = 1;
  m.delay = 60;
  return m;
}

int read_system(SetupTables& t, const char* text) {
  t.sys = system_defaults();
  return read_keys(t.sys, text, "[SYSTEM]", "Invalid setup.cfg:strstr(cfg, [SYSTEM]) failed.\n", 19,
                   store_system_key);
}

int read_email(SetupTables& t, const char* text) {
  t.mail = email_defaults();
  return read_keys(t.mail, text, "[EMAIL]", "Invalid setup.cfg:strstr(cfg, [EMAIL]) failed.\n", 13,
                   store_email_key);
}

// ---------------------------------------------------------------------------------------
// [LANGUAGE] and [RESOLUTION]

int read_file_table(std::vector<RC_FILE_INFO>& table, const char* text, const char* header,
                    const char* count_key, const char* missing_msg, const char* key_msg) {
  table.clear();
  LineCursor cur(text, header);
  if (!cur.ok()) {
    fatal_box(missing_msg);
    return -2;
  }
  cur.next();
  std::string key;
  int count = 0;
  if (parse_count(cur.next(), key, count) < 2 || count < 0) {
    fatal_box("Invalid setup.cfg:sscanf(item, value) failed.\n");
    return -3;
  }
  if (key != count_key) {
    fatal_box(key_msg);
    return -4;
  }
  int read = 0;
  for (; read < count; ++read) {
    char* line = cur.next();
    if (!line || is_section_header(line)) break;
    Scratch s(2, line);
    int got = sscanf(line, "%[^\t =]%*[\t =]%[^\t]", s[0], s[1]);
    RC_FILE_INFO f{};
    int cuts = 0;
    if (got > 0) cuts += copy_field(f.name, s[0]);
    if (got > 1) cuts += copy_field(f.path, s[1]);
    report_cut(header, read + 1, cuts);
    table.push_back(f);
  }
  report_short(header, read, count);
  return 0;
}

int read_language(SetupTables& t, const char* text) {
  return read_file_table(t.language, text, "[LANGUAGE]", "num_language",
                         "Invalid setup.cfg:strstr(cfg, [LANGUAGE]) failed.\n",
                         "Invalid setup.cfg:strcmp(item, num_language) failed.\n");
}

int read_resolution(SetupTables& t, const char* text) {
  return read_file_table(t.resolution, text, "[RESOLUTION]", "num_resolution",
                         "Invalid setup.cfg:strstr(cfg, [RESOLUTION]) failed.\n",
                         "Invalid setup.cfg:strcmp(item, num_resolution) failed.\n");
}

// Runs one reader on a copy of the published tables and publishes the result; the copy of
// the text failing is the reader's "Not enough memory." (-1).
template <typename Reader>
int run_reader(Reader reader) {
  std::lock_guard guard(loader_lock);
  std::unique_ptr<SetupTables> t;
  int rc;
  try {
    t = loader_tables().clone();
    rc = reader(*t);
  } catch (const std::bad_alloc&) {
    fatal_box("Not enough memory.");
    return -1;
  }
  publish(std::move(t));
  return rc;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Public readers

int load_dvr_info(const char* text) {
  return run_reader([&](SetupTables& t) { return read_dvr(t, text); });
}
int load_group_info(const char* text) {
  return run_reader([&](SetupTables& t) { return read_group(t, text); });
}
int load_group_details(const char* text, int n) {
  if (n < 0) return -2;
  return run_reader([&](SetupTables& t) {
    size_t need = static_cast<size_t>(n) + 1;
    if (t.group.size() < need) {
      t.group.resize(need);
      t.group_members.resize(need);
      t.group_filters.resize(need);
    }
    int rc = read_group_details(t, text, n);
    t.fix_group_pointers();
    return rc;
  });
}
int load_user_info(const char* text) {
  return run_reader([&](SetupTables& t) { return read_user(t, text); });
}
int load_system_info(const char* text) {
  return run_reader([&](SetupTables& t) { return read_system(t, text); });
}
int load_email_info(const char* text) {
  return run_reader([&](SetupTables& t) { return read_email(t, text); });
}
int load_language_info(const char* text) {
  return run_reader([&](SetupTables& t) { return read_language(t, text); });
}
int load_resolution_info(const char* text) {
  return run_reader([&](SetupTables& t) { return read_resolution(t, text); });
}

int load_setup_info(const char* path) {
  struct stat st {};
  if (!path || stat(path, &st) != 0) {
    fatal_box("Unable to get setup.cfg file information.stat() failed.\n");
    return -1;
  }
  kept_mtime_ns = mtime_ns(st);
  kept_size = static_cast<int64_t>(st.st_size);

  FILE* fp = fopen(path, "rb");
  if (!fp) {
    fatal_box("Unable to open setup.cfg.fopen() failed.\n");
    return -2;
  }
  std::string text;
  try {
    text.resize(static_cast<size_t>(st.st_size));
  } catch (const std::bad_alloc&) {
    fclose(fp);
    fatal_box("Not enough memory.");
    return -3;
  }
  size_t got = fread(text.data(), 1, text.size(), fp);
  fclose(fp);
  text.resize(got);

  struct Step {
    int (*read)(SetupTables&, const char*);
    const char* msg;
    int code;
  };
  static const Step steps[] = {
      {read_dvr, "load_dvr_info() failed.\n", -5},
      {read_group, "load_group_info() failed.\n", -6},
      {read_user, "load_user_info() failed.\n", -7},
      {read_system, "load_system_info() failed.\n", -8},
      {read_email, "load_email_info() failed.\n", -9},
      {read_language, "load_email_info() failed.\n", -9},
      {read_resolution, "load_resolution_info() failed.\n", -9},
  };

  std::lock_guard guard(loader_lock);
  std::unique_ptr<SetupTables> t;
  int rc = 0;
  try {
    t = loader_tables().clone();
    for (const Step& s : steps) {
      if (s.read(*t, text.c_str()) != 0) {
        fatal_box(s.msg);
        rc = s.code;
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    fatal_box("Not enough memory.");
    return -3;
  }
  // Sections read before a failure stay replaced, as a partial load always did.
  publish(std::move(t));
  return rc;
}

uint8_t get_protocol_code(const char* model) {
  if (!model) return PROTOCOL_NONE;
  static const struct {
    const char* model;
    uint8_t code;
  } table[] = {
      {"vantrel", PROTOCOL_I},      {"VANTREL", PROTOCOL_I},      {"Vantrel", PROTOCOL_I},
      {"MW-2606QTR14", PROTOCOL_Q}, {"MW-2608QTR28", PROTOCOL_Q}, {"MW-2606QA14", PROTOCOL_W},
      {"kpt4100", PROTOCOL_Q},      {"KPT4100", PROTOCOL_Q},      {"talve8", PROTOCOL_S},
      {"TALVE8", PROTOCOL_S},
  };
  for (const auto& e : table)
    if (strcmp(model, e.model) == 0) return e.code;
  return PROTOCOL_NONE;
}

int setup_changed(const char* path) {
  struct stat st {};
  if (!path || stat(path, &st) != 0) return -1;
  return mtime_ns(st) != kept_mtime_ns ? 1 : 0;
}

void free_setup_info() {
  std::lock_guard guard(loader_lock);
  std::shared_ptr<SetupTables> last;
  {
    std::unique_lock lock(published_lock);
    last = std::move(current);
  }
  pinned.reset();
}

int free_replaced_setup_info() {
  {
    SetupReadLock lock;
    pinned = current;
  }
  return count_setup_generations() - (current ? 1 : 0);
}

int count_setup_generations() { return generations_alive.load(); }

SetupReadLock::SetupReadLock() {
  if (read_depth++ == 0) published_lock.lock_shared();
}

SetupReadLock::~SetupReadLock() {
  if (--read_depth == 0) published_lock.unlock_shared();
}

// ---------------------------------------------------------------------------------------
// Accessors

RC_DVR_INFO* get_dvr_table() { return tables().dvr.data(); }
RC_GROUP_INFO* get_group_table() { return tables().group.data(); }
RC_USER_INFO* get_user_table() { return tables().user.data(); }
RC_FILE_INFO* get_language_table() { return tables().language.data(); }
RC_FILE_INFO* get_resolution_table() { return tables().resolution.data(); }
int get_num_dvr() { return static_cast<int>(tables().dvr.size()); }
const char* get_damaged_dvr_line(int i) {
  const SetupTables& t = tables();
  if (i < 0 || static_cast<size_t>(i) >= t.dvr_damaged_line.size()) return nullptr;
  const std::string& line = t.dvr_damaged_line[static_cast<size_t>(i)];
  return line.empty() ? nullptr : line.c_str();
}
int get_num_group() { return static_cast<int>(tables().group.size()); }
int get_num_user() { return static_cast<int>(tables().user.size()); }
int get_num_language() { return static_cast<int>(tables().language.size()); }
int get_num_resolution() { return static_cast<int>(tables().resolution.size()); }

RC_SYSTEM_INFO* copy_system_info(RC_SYSTEM_INFO* out) {
  if (out) *out = tables().sys;
  return out;
}
RC_EMAIL_INFO* copy_email_info(RC_EMAIL_INFO* out) {
  if (out) *out = tables().mail;
  return out;
}
uint32_t get_cycle_time() { return tables().sys.cycle_time; }
int get_max_select() { return tables().sys.max_select; }
const char* get_rec_path() { return tables().sys.rec_path; }
uint8_t get_enable_alarm() { return tables().sys.enable_alarm; }
uint8_t get_enable_mail() { return tables().sys.enable_mail; }
uint8_t get_watchdog() { return tables().sys.watchdog; }
double get_buf_level() { return tables().sys.buf_level; }

const char* get_event_wav(const char* kind) {
  if (!kind) return nullptr;
  if (strcmp(kind, "motion") == 0) return tables().sys.motion_wav;
  if (strcmp(kind, "sensor") == 0) return tables().sys.sensor_wav;
  return nullptr;
}

// ---------------------------------------------------------------------------------------
// Debug printers (passwords are never printed)

void print_dvr_info(const RC_DVR_INFO* d) {
  if (!d) return;
  printf("RC_DVR_INFO:\n name:%s\n model:%s\n protocol:%c\n ipaddress:%s\n", d->name, d->model,
         d->protocol ? d->protocol : '-', d->ipaddress);
  for (int p = 0; p < DVR_NUM_PORTS; ++p) printf(" port[%d]:%u\n", p, d->port[p]);
  printf(" host_type:%s\n num_video:%u\n username:%s\n location:%s\n manager:%s\n", d->host_type,
         d->num_video, d->username, d->location, d->manager);
  printf(" tel_no:%s\n police_no:%s\n fire_dept_no:%s\n", d->tel_no, d->police_no, d->fire_dept_no);
  for (int c = 0; c < DVR_MAX_CAMERAS; ++c) printf(" camera[%d]:%s\n", c + 1, d->camera_name[c]);
}

void print_group_info(const RC_GROUP_INFO* g) {
  if (!g) return;
  printf("RC_GROUP_INFO:\n name:%s\n num_dvr:%d\n", g->name, g->num_dvr);
  for (int i = 0; i < g->num_dvr && g->dvr_info && g->channel_filter; ++i)
    printf(" member:%s filter:%X\n", g->dvr_info[i].name, g->channel_filter[i]);
}

void print_user_info(const RC_USER_INFO* u) {
  if (!u) return;
  printf(
      "RC_USER_INFO:\n user:%s\n fullname:%s\n level:%u\n rights_mask1:%X\n rights_mask2:%X\n"
      " note:%s\n",
      u->user, u->fullname, u->level, u->rights_mask1, u->rights_mask2, u->note);
}

void print_system_info(const RC_SYSTEM_INFO* s) {
  if (!s) return;
  printf(
      "RC_SYSTEM_INFO:\n num_decoder:%u\n cycle_time:%u\n rec_path:%s\n log_path:%s\n"
      " buf_level:%5.2f\n enable_debug:%u\n enable_log:%u\n enable_alarm:%u\n enable_mail:%u\n"
      " max_select:%d\n motion_wav:%s\n sensor_wav:%s\n language:%s\n resolution:%s\n"
      " watchdog:%u\n event_popup_type:%u\n check_update:%u\n event_popup_time:%u\n"
      " relay_duration:%u\n",
      s->num_decoder, s->cycle_time, s->rec_path, s->log_path, s->buf_level, s->enable_debug,
      s->enable_log, s->enable_alarm, s->enable_mail, s->max_select, s->motion_wav, s->sensor_wav,
      s->language, s->resolution, s->watchdog, s->event_popup_type, s->check_update,
      s->event_popup_time, s->relay_duration);
}

void print_email_info(const RC_EMAIL_INFO* m) {
  if (!m) return;
  printf(
      "RC_EMAIL_INFO:\n receipient:%s\n from:%s\n subject:%s\n attachment:%u\n inline_msg:%s\n"
      " replyto:%s\n cc:%s\n bcc:%s\n username:%s\n smtpserver:%s\n domain:%s\n delay:%u\n",
      m->receipient, m->from, m->subject, m->attachment, m->inline_msg, m->replyto, m->cc, m->bcc,
      m->username, m->smtpserver, m->domain, m->delay);
}

void print_file_info(const RC_FILE_INFO* f) {
  if (!f) return;
  printf("Name:%s\nPath:%s\n", f->name, f->path);
}
