// emap.cfg, device.cfg and remote-emap-buttons.cfg: readers, tables and the one writer.
#include "tool/emap/emap_config.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "client/foundation/config/utils.h"
#include "platform/system/file_replace.h"
#include "tool/setup_snapshot.h"
#include "tool/text_format.h"

namespace {

EmapTables g_emap;
std::array<std::vector<imgmap_info>, kEmapDeviceSheets> g_devices;
int g_num_device_entries = 0;
std::vector<imgmap_info> g_buttons;

// Reads a file whole. 0; -1 stat, -2 open, -3 memory or read, each with its message.
int read_whole(const char* path, std::string* text) {
  struct stat st {};
  if (!path || stat(path, &st) != 0) {
    printf("stat() failed.\n");
    return -1;
  }
  FILE* fp = fopen(path, "rb");
  if (!fp) {
    printf("fopen() failed.\n");
    return -2;
  }
  try {
    text->assign(static_cast<size_t>(st.st_size), '\0');
  } catch (const std::bad_alloc&) {
    fclose(fp);
    printf("MALLOC() failed.\n");
    return -3;
  }
  size_t got = fread(text->data(), 1, text->size(), fp);
  bool bad = ferror(fp) != 0;
  fclose(fp);
  if (bad) {
    printf("fread() failed.\n");
    return -3;
  }
  text->resize(got);
  return 0;
}

// The non-empty lines of a text; "\r", "\n" and NUL all end a line. A NUL inside a value
// (a power loss leaves zero-filled blocks) would otherwise cut it when it is copied, and
// the file written from it would not read back.
std::vector<std::string> split_lines(const std::string& text) {
  static const std::string kLineEnds("\r\n\0", 3);
  std::vector<std::string> lines;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = text.find_first_of(kLineEnds, i);
    if (end == std::string::npos) end = text.size();
    if (end > i) lines.emplace_back(text, i, end - i);
    i = end + 1;
  }
  return lines;
}

bool is_header(const std::string& line) { return !line.empty() && line[0] == '['; }

// "key<sep>value": the key runs to a character of `key_end`, the separator is a run of
// `sep`, the value runs to a tab or the line's end. False when either part is missing.
bool split_key_value(const std::string& line, const char* key_end, const char* sep,
                     std::string* value) {
  size_t k = line.find_first_of(key_end);
  if (k == 0 || k == std::string::npos) return false;
  size_t v = line.find_first_not_of(sep, k);
  if (v == std::string::npos) return false;
  size_t e = line.find('\t', v);
  *value = line.substr(v, e == std::string::npos ? std::string::npos : e - v);
  return !value->empty();
}

bool parse_int_value(const std::string& line, const char* key_end, const char* sep, int* out) {
  std::string value;
  if (!split_key_value(line, key_end, sep, &value)) return false;
  char* end = nullptr;
  errno = 0;
  long v = strtol(value.c_str(), &end, 10);
  if (end == value.c_str() || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<int>(v);
  return true;
}

template <size_t N>
void copy_value(char (&field)[N], const std::string& value, const char* what) {
  if (copy_field(field, value.c_str())) printf("emap.cfg: %s too long, cut.\n", what);
}

// The maps of a section: `count` triples of lines from `at`, stopping at the section's end.
// -3 when a line does not parse.
int read_maps(const std::vector<std::string>& lines, size_t at, size_t end, int count,
              const char* image_key_end, std::vector<emap_map_info>* maps) {
  // A section with fewer map lines than its count holds only the maps it has.
  for (int i = 0; i < count && at + 2 < end; ++i) {
    emap_map_info m{};
    std::string image, name, devices;
    if (!split_key_value(lines[at], image_key_end, "\t =", &image)) {
      printf("sscanf(item, imgpath) failed.\n");
      return -3;
    }
    if (!split_key_value(lines[at + 1], "\t =", "\t =", &name)) {
      printf("sscanf(item, map_name) failed.\n");
      return -3;
    }
    if (!split_key_value(lines[at + 2], "\t =", "\t =", &devices)) {
      printf("sscanf(item, map_device) failed.\n");
      return -3;
    }
    copy_value(m.map_image, image, "map picture path");
    copy_value(m.map_name, name, "map name");
    copy_value(m.map_devices, devices, "marker list");
    parse_map_devices(devices.c_str(), &m);
    maps->push_back(std::move(m));
    at += 3;
  }
  return 0;
}

// One DVR section: lines [begin, end) after its header.
int read_dvr_section(const std::vector<std::string>& lines, size_t begin, size_t end,
                     emap_info* e) {
  std::string name;
  if (begin >= end || !split_key_value(lines[begin], "\t =", "\t =", &name)) {
    printf("sscanf(item, dvr_name) failed.\n");
    return -3;
  }
  copy_value(e->dvr_name, name, "DVR name");
  int num_map = 0;
  if (begin + 1 >= end || !parse_int_value(lines[begin + 1], "\t =", "\t =", &num_map)) {
    printf("sscanf(tmpstr, num_map) failed.\n");
    return -3;
  }
  return read_maps(lines, begin + 2, end, num_map, "\t =", &e->map);
}

// One group section: lines [begin, end) after its header.
int read_group_section(const std::vector<std::string>& lines, size_t begin, size_t end,
                       emap_group_info* g) {
  std::string name;
  if (begin >= end || !split_key_value(lines[begin], "\t=", "\t=", &name)) {
    printf("sscanf(item, group_name) failed.\n");
    return -3;
  }
  copy_value(g->group_name, name, "group name");
  int num_dvr = 0, num_emap = 0;
  if (begin + 1 >= end || !parse_int_value(lines[begin + 1], "\t=", "\t=", &num_dvr)) {
    printf("sscanf(tmpstr, num_dvr) failed.\n");
    return -3;
  }
  if (begin + 2 >= end || !parse_int_value(lines[begin + 2], "\t=", "\t=", &num_emap)) {
    printf("sscanf(tmpstr, num_emap) failed.\n");
    return -3;
  }
  if (num_dvr > kEmapMaxMembers) {
    printf("emap.cfg: group %s has more than %d members.\n", g->group_name, kEmapMaxMembers);
    return -3;
  }
  size_t at = begin + 3;
  for (int i = 0; i < num_dvr && at < end; ++i, ++at) {
    const std::string& line = lines[at];
    size_t k = line.find_first_of("\t=");
    size_t v = k == std::string::npos ? k : line.find_first_not_of("\t=", k);
    // The mask was written as an unsigned 32-bit decimal; read back exactly those bits.
    bool ok = k != 0 && k <= 1023 && v != std::string::npos && line[v] >= '0' && line[v] <= '9';
    unsigned long long mask = ok ? strtoull(line.c_str() + v, nullptr, 10) : 0;
    if (!ok || mask > 0xFFFFFFFFull) {
      printf("sscanf(dvr_name, channel_filter) failed.\n");
      return -3;
    }
    g->dvr_name.emplace_back(line, 0, k);
    g->channel_filter.push_back(static_cast<uint32_t>(mask));
  }
  if (num_emap < 1) return 0;
  // The picture line's key ends at a tab or '=' only: a path key never holds a blank.
  return read_maps(lines, at, end, num_emap, "\t=", &g->map);
}

void clear_emap() {
  g_emap.dvr.clear();
  g_emap.group.clear();
}

}  // namespace

int load_emap_info(const char* path) {
  clear_emap();
  std::string text;
  int rc = read_whole(path, &text);
  if (rc != 0) return rc;
  std::vector<std::string> lines = split_lines(text);

  EmapTables t;
  bool in_groups = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!is_header(lines[i])) continue;
    size_t end = i + 1;
    while (end < lines.size() && !is_header(lines[end])) ++end;
    std::string header = lines[i];
    while (!header.empty() && (header.back() == ' ' || header.back() == '\t')) header.pop_back();
    if (!in_groups && header == "[GROUP]") {
      in_groups = true;
    } else if (!in_groups) {
      if (t.dvr.size() >= static_cast<size_t>(kEmapMaxSections)) {
        printf("emap.cfg: more than %d DVR sections.\n", kEmapMaxSections);
        printf("load_dvr_info() failed.\n");
        return -5;
      }
      t.dvr.emplace_back();
      if (read_dvr_section(lines, i + 1, end, &t.dvr.back()) != 0) {
        printf("load_dvr_info() failed.\n");
        return -5;
      }
    } else {
      if (t.group.size() >= static_cast<size_t>(kEmapMaxSections)) {
        printf("emap.cfg: more than %d group sections.\n", kEmapMaxSections);
        printf("load_group_info() failed.\n");
        return -6;
      }
      t.group.emplace_back();
      if (read_group_section(lines, i + 1, end, &t.group.back()) != 0) {
        printf("load_group_info() failed.\n");
        return -6;
      }
    }
    i = end - 1;
  }
  g_emap = std::move(t);
  return 0;
}

int get_num_emap_dvr() { return static_cast<int>(g_emap.dvr.size()); }
int get_num_emap_group() { return static_cast<int>(g_emap.group.size()); }
emap_info* get_emap_info() { return g_emap.dvr.data(); }
emap_group_info* get_emap_group_info() { return g_emap.group.data(); }
EmapTables copy_emap_tables() { return g_emap; }
const EmapTables& emap_tables() { return g_emap; }

void parse_map_devices(const char* text, emap_map_info* map) {
  map->camera_info.clear();
  map->sensor_info.clear();
  map->relay_info.clear();
  if (!text) return;
  std::string all = text;
  size_t i = 0;
  while (i <= all.size()) {
    size_t end = all.find('~', i);
    if (end == std::string::npos) end = all.size();
    std::string piece = all.substr(i, end - i);
    i = end + 1;
    if (piece.empty()) continue;
    char kind = piece.find('C') != std::string::npos   ? 'C'
                : piece.find('S') != std::string::npos ? 'S'
                : piece.find('R') != std::string::npos ? 'R'
                                                       : 0;
    if (!kind) continue;  // the "0" of a map without markers
    char fmt[] = "%d,%d,?,%d,%d";
    fmt[6] = kind;
    marker_item m{};
    if (sscanf(piece.c_str(), fmt, &m.x, &m.y, &m.dvr, &m.ch) != 4) {
      printf("emap.cfg: marker item %s skipped.\n", piece.c_str());
      continue;
    }
    (kind == 'C'   ? map->camera_info
     : kind == 'S' ? map->sensor_info
                   : map->relay_info)
        .push_back(m);
  }
}

bool print_map_devices(std::string& out, const emap_map_info& map, bool group_map) {
  bool first = true;
  auto items = [&](const std::vector<marker_item>& list, char kind) {
    for (const marker_item& m : list) {
      appendf(out, "%s%d,%d,%c,%d,%d", first ? "" : "~~", m.x, m.y, kind, group_map ? m.dvr : 0,
              m.ch);
      first = false;
    }
  };
  items(map.camera_info, 'C');
  items(map.sensor_info, 'S');
  items(map.relay_info, 'R');
  return first;
}

void print_map_entry(std::string& out, const emap_map_info& map, int i) {
  appendf(out, "\nmap_image_%d=%s\n", i + 1, map.map_image);
  appendf(out, "map_name_%d=%s\n", i + 1, map.map_name);
  appendf(out, "map_devices_%d=", i + 1);
}

const char* emap_dvr_name_refusal(const std::string& name) {
  if (name == "GROUP")
    return "\nA DVR cannot be named GROUP: the E-Map keeps its groups under that name.";
  return nullptr;
}

const char* emap_map_text_refusal(const std::string& name, const std::string& path) {
  for (const std::string* t : {&name, &path})
    if (t->find_first_of("\r\n\t") != std::string::npos || (!t->empty() && strchr(" =", (*t)[0])))
      return "\nA map name or picture path cannot hold a line break or a tab, nor begin with a "
             "blank or '='.";
  return nullptr;
}

namespace {

bool has_line_break(const char* text) { return strpbrk(text, "\r\n") != nullptr; }

// The maps of a section; -1 when a marker list passes its limit or a text holds a line break.
int print_maps(std::string& out, const std::vector<emap_map_info>& maps, bool group_map,
               const char* owner, std::string* why) {
  for (size_t i = 0; i < maps.size(); ++i) {
    if (has_line_break(maps[i].map_name) || has_line_break(maps[i].map_image)) {
      if (why)
        *why = std::string("A map of ") + owner + " has a line break in its name or picture path.";
      return -1;
    }
    print_map_entry(out, maps[i], static_cast<int>(i));
    std::string list;
    if (print_map_devices(list, maps[i], group_map)) list = "0";
    if (list.size() > kEmapMaxDeviceText) {
      if (why)
        *why = std::string("The markers of map ") + maps[i].map_name + " of " + owner +
               " do not fit in emap.cfg.";
      return -1;
    }
    out += list;
  }
  return 0;
}

}  // namespace

int compose_emap_cfg(const EmapTables& t, const SetupSnapshot* members, std::string* out,
                     std::string* why) {
  std::string text;
  if (t.dvr.size() > static_cast<size_t>(kEmapMaxSections) ||
      t.group.size() > static_cast<size_t>(kEmapMaxSections)) {
    if (why) *why = "emap.cfg would hold more than 1024 sections of a kind.";
    return -1;
  }
  for (const emap_info& e : t.dvr) {
    if (emap_dvr_name_refusal(e.dvr_name) || has_line_break(e.dvr_name)) {
      if (why) *why = std::string("The DVR name ") + e.dvr_name + " cannot be stored in emap.cfg.";
      return -1;
    }
    appendf(text, "[%s]\n", e.dvr_name);
    appendf(text, "dvr_name=%s\n", e.dvr_name);
    appendf(text, "num_map=%d", static_cast<int>(e.map.size()));
    if (print_maps(text, e.map, false, e.dvr_name, why) != 0) return -1;
    text += "\n\n";
  }
  text += "[GROUP]\n";
  appendf(text, "num_group=%d", static_cast<int>(t.group.size()));
  text += "\n\n";
  int k = 0;
  for (const emap_group_info& g : t.group) {
    const std::vector<std::string>* names = &g.dvr_name;
    const std::vector<uint32_t>* masks = &g.channel_filter;
    static const std::vector<std::string> kNoNames;
    static const std::vector<uint32_t> kNoMasks;
    if (members) {
      names = &kNoNames;
      masks = &kNoMasks;
      for (const SetupGroup& sg : members->group)
        if (sg.name == g.group_name) {
          names = &sg.member;
          masks = &sg.mask;
          break;
        }
    }
    size_t n = std::min(names->size(), masks->size());
    if (n > static_cast<size_t>(kEmapMaxMembers)) {
      if (why) *why = std::string("Group ") + g.group_name + " has more than 130 members.";
      return -1;
    }
    bool readable = !has_line_break(g.group_name);
    for (size_t m = 0; m < n; ++m)
      readable = readable && !has_line_break((*names)[m].c_str()) && (*names)[m].rfind('[', 0) != 0;
    if (!readable) {
      if (why)
        *why =
            std::string("Group ") + g.group_name + " has a name that cannot be stored in emap.cfg.";
      return -1;
    }
    appendf(text, "[GROUP_%d]\n", ++k);
    appendf(text, "group_name=%s\n", g.group_name);
    appendf(text, "dvr_num=%d\n", static_cast<int>(n));
    appendf(text, "emap_num=%d", static_cast<int>(g.map.size()));
    for (size_t m = 0; m < n; ++m)
      appendf(text, "\n%s=%lu", (*names)[m].c_str(), static_cast<unsigned long>((*masks)[m]));
    if (print_maps(text, g.map, true, g.group_name, why) != 0) return -1;
    text += "\n\n";
  }
  *out = std::move(text);
  return 0;
}

int rewrite_emap_cfg(const std::function<void(EmapTables&)>& change, const SetupSnapshot* members,
                     std::string* why) {
  struct stat st {};
  bool exists = stat(kEmapPath, &st) == 0;
  int rc = load_emap_info(kEmapPath);
  if (rc < 0) {
    printf("load_emap_info() failed\n");
    // Maps are never written from empty tables: a file that exists but does not load stays.
    if (exists) {
      if (why) *why = "emap.cfg cannot be read; it was left as it is.";
      return -1;
    }
  }
  EmapTables t = copy_emap_tables();
  if (change) change(t);
  std::string text;
  if (compose_emap_cfg(t, members, &text, why) != 0) return -2;
  std::string reason;
  if (replace_file(kEmapPath, text, &reason) != 0) {
    if (why) *why = "emap.cfg could not be saved (" + reason + ").";
    return -3;
  }
  if (load_emap_info(kEmapPath) < 0) printf("load_emap_info() failed\n");
  return 0;
}

void emap_rename_dvr(EmapTables& t, const std::string& old_name, const std::string& new_name) {
  for (emap_info& e : t.dvr)
    if (old_name == e.dvr_name) copy_field(e.dvr_name, new_name.c_str());
  for (emap_group_info& g : t.group)
    for (std::string& m : g.dvr_name)
      if (m == old_name) m = new_name;
}

int sync_emap_cfg(std::string* why) {
  if (reload_setup_cfg() < 0) {
    if (why) *why = "setup.cfg cannot be read; emap.cfg was left as it is.";
    return -4;
  }
  SetupSnapshot s = take_setup_snapshot();
  auto rebuild = [&s](EmapTables& t) {
    EmapTables out;
    for (const RC_DVR_INFO& d : s.dvr) {
      bool kept = false;
      for (const emap_info& e : t.dvr)
        if (strcmp(e.dvr_name, d.name) == 0) {
          out.dvr.push_back(e);
          copy_field(out.dvr.back().dvr_name, d.name);
          kept = true;
        }
      // Every new DVR gets its section now, however many stale sections the file held.
      if (!kept) {
        out.dvr.emplace_back();
        copy_field(out.dvr.back().dvr_name, d.name);
      }
    }
    for (const SetupGroup& sg : s.group) {
      bool kept = false;
      for (const emap_group_info& g : t.group)
        if (sg.name == g.group_name) {
          out.group.push_back(g);
          kept = true;
        }
      if (!kept) {
        out.group.emplace_back();
        copy_field(out.group.back().group_name, sg.name.c_str());
      }
    }
    t = std::move(out);
  };
  return rewrite_emap_cfg(rebuild, &s, why);
}

// ---------------------------------------------------------------------------------------
// device.cfg and remote-emap-buttons.cfg

namespace {

// The 13 fields of a sprite line, in file order; false when the line does not parse.
struct SpriteLine {
  char name[132];
  int n[6];
  char direction[132];
  int state[5];
};

bool parse_sprite_line(const std::string& line, SpriteLine* out) {
  std::string name(line.size() + 1, '\0'), dir(line.size() + 1, '\0');
  int got =
      sscanf(line.c_str(), "%[^\t ,],%d,%d,%d,%d,%d,%d,%[^\t ,],%d,%d,%d,%d,%d", name.data(),
             &out->n[0], &out->n[1], &out->n[2], &out->n[3], &out->n[4], &out->n[5], dir.data(),
             &out->state[0], &out->state[1], &out->state[2], &out->state[3], &out->state[4]);
  if (got != 13) return false;
  copy_field(out->name, name.c_str());
  copy_field(out->direction, dir.c_str());
  return true;
}

// Lines after `section` up to the next line that holds a '['; false without the section.
bool section_lines(const std::string& text, const char* section, std::vector<std::string>* out) {
  size_t at = text.find(section);
  if (at == std::string::npos) return false;
  std::vector<std::string> lines = split_lines(text.substr(at + strlen(section)));
  for (const std::string& l : lines) {
    if (l.find('[') != std::string::npos) break;
    out->push_back(l);
  }
  return true;
}

}  // namespace

int load_device_cfg(const char* path) {
  for (auto& table : g_devices) table.clear();
  g_num_device_entries = 0;
  std::string text;
  int rc = read_whole(path, &text);
  if (rc != 0) return rc;
  std::vector<std::string> lines;
  if (!section_lines(text, "[EMAP_DEVICE]", &lines)) {
    printf("strstr(cfg, [EMAP_DEVICE]]) failed.\n");
    printf("load_imagemap_info() failed.\n");
    return -6;
  }
  if (lines.size() > static_cast<size_t>(kEmapDeviceKinds)) lines.resize(kEmapDeviceKinds);
  std::array<std::vector<imgmap_info>, kEmapDeviceSheets> tables;
  for (auto& table : tables) table.assign(kEmapDeviceEntries, imgmap_info{});
  for (size_t k = 0; k < lines.size(); ++k) {
    SpriteLine l;
    if (!parse_sprite_line(lines[k], &l)) {
      printf("device.cfg: line %zu does not parse.\n", k + 1);
      printf("load_imagemap_info() failed.\n");
      return -6;
    }
    const int width = l.n[0], height = l.n[1], sheet_x = l.n[4], sheet_y = l.n[5];
    const bool horizontal = strcmp(l.direction, "horizontal") == 0;
    for (int s = 0; s < kEmapDeviceSheets; ++s)
      for (int n = 1; n <= kEmapDeviceNumbers; ++n) {
        imgmap_info& e = tables[static_cast<size_t>(s)][k * kEmapDeviceNumbers + n - 1];
        snprintf(e.name, sizeof e.name, "%.120s %d-%d.", l.name, s, n);
        e.state = 1;
        e.width = width;
        e.height = height;
        e.x = l.n[2];
        e.y = l.n[3];
        copy_field(e.direction, l.direction);
        for (int f = 0; f < 5; ++f) {
          // 64-bit sums: a huge offset in the file must not wrap into a small one.
          long long fx = horizontal ? sheet_x + 1LL * f * width : sheet_x + 1LL * (n - 1) * width;
          long long fy = horizontal ? sheet_y + 1LL * (n - 1) * height : sheet_y + 1LL * f * height;
          bool fits = fx >= INT32_MIN && fx <= INT32_MAX && fy >= INT32_MIN && fy <= INT32_MAX;
          e.frame[f] = {fits ? static_cast<int32_t>(fx) : -1, fits ? static_cast<int32_t>(fy) : -1,
                        l.state[f]};
        }
      }
  }
  g_devices = std::move(tables);
  g_num_device_entries = static_cast<int>(lines.size()) * kEmapDeviceNumbers;
  return 0;
}

imgmap_info* get_device_table(int sheet) {
  if (sheet < 0 || sheet >= kEmapDeviceSheets || g_devices[static_cast<size_t>(sheet)].empty())
    return nullptr;
  return g_devices[static_cast<size_t>(sheet)].data();
}
int get_num_device_entries() { return g_num_device_entries; }

int load_emap_button_cfg(const char* path) {
  g_buttons.clear();
  std::string text;
  int rc = read_whole(path, &text);
  if (rc != 0) return rc;
  std::vector<std::string> lines;
  if (!section_lines(text, "[BUTTONS]", &lines)) {
    printf("strstr(cfg, []) failed.\n");
    printf("load_button_num_info() failed.\n");
    return -5;
  }
  std::vector<imgmap_info> buttons;
  for (const std::string& line : lines) {
    SpriteLine l;
    if (!parse_sprite_line(line, &l)) {
      printf("remote-emap-buttons.cfg: a button line does not parse.\n");
      printf("load_button_map_info() failed.\n");
      return -6;
    }
    imgmap_info e{};
    copy_field(e.name, l.name);
    e.state = 1;
    e.x = l.n[0];
    e.y = l.n[1];
    e.width = l.n[2];
    e.height = l.n[3];
    copy_field(e.direction, l.direction);
    const int sheet_x = l.n[4], sheet_y = l.n[5];
    for (int f = 0; f < 5; ++f) {
      long long fx = sheet_x, fy = sheet_y;
      if (strcmp(l.direction, "horizontal") == 0)
        fx += 1LL * f * e.width;
      else if (strcmp(l.direction, "vertical") == 0)
        fy += 1LL * f * e.height;
      else
        fx = fy = 0;
      bool fits = fx >= INT32_MIN && fx <= INT32_MAX && fy >= INT32_MIN && fy <= INT32_MAX;
      e.frame[f] = {fits ? static_cast<int32_t>(fx) : -1, fits ? static_cast<int32_t>(fy) : -1,
                    l.state[f]};
    }
    buttons.push_back(e);
  }
  g_buttons = std::move(buttons);
  return 0;
}

int get_num_emap_buttons() { return static_cast<int>(g_buttons.size()); }
imgmap_info* get_emap_button_info() { return g_buttons.data(); }

int find_state_frame(const imgmap_info& entry, int state) {
  int found = -1;
  for (int f = 0; f < 5; ++f)
    if (entry.frame[f].state == state) found = f;
  return found;
}

int sprite_frame_fits(const imgmap_info& entry, int frame, int sheet_w, int sheet_h) {
  if (frame < 0 || frame >= 5) return 0;
  const long long x = entry.frame[frame].x, y = entry.frame[frame].y;
  const long long w = entry.width, h = entry.height;
  return x >= 0 && y >= 0 && w > 0 && h > 0 && x + w <= sheet_w && y + h <= sheet_h;
}

std::string emap_file_path(const char* stored) {
  std::string path = stored ? stored : "";
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}
