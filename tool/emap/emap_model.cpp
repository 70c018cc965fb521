// E-Map decisions without GTK: hit tests, alarms of a notice, spot command lines, placement
// numbers, and the map and marker changes of the editing dialogs.
#include "tool/emap/emap_model.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/foundation/config/mailslot.h"
#include "client/foundation/config/utils.h"
#include "tool/setup_snapshot.h"

namespace {

std::vector<marker_item>& markers_of(emap_map_info& m, int kind) {
  return kind == EMAP_CAMERA ? m.camera_info : kind == EMAP_SENSOR ? m.sensor_info : m.relay_info;
}
const std::vector<marker_item>& markers_of(const emap_map_info& m, int kind) {
  return markers_of(const_cast<emap_map_info&>(m), kind);
}

// Calls f(maps, group) for the map list of every DVR section, then every group, named `target`.
template <typename Tables, typename F>
void for_target(Tables& t, const std::string& target, F f) {
  for (auto& e : t.dvr)
    if (target == e.dvr_name) f(e.map, false);
  for (auto& g : t.group)
    if (target == g.group_name) f(g.map, true);
}

__attribute__((format(printf, 1, 2))) std::string strprintf(const char* fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

}  // namespace

int marker_entry(int kind, const marker_item& m) {
  if (kind < 0 || kind > 2 || m.ch < 1 || m.ch > kEmapDeviceNumbers || m.dvr < 0 ||
      m.dvr >= kEmapDeviceSheets)
    return -1;
  return kind * kEmapDeviceNumbers + m.ch - 1;
}

int marker_covers(const imgmap_info& e, int mx, int my, int x, int y) {
  return mx - e.width / 2 <= x && x <= mx + e.width / 2 && my - e.height / 2 <= y &&
         y <= my + e.height / 2;
}

int device_covers(const imgmap_info& e, int x, int y) {
  return e.x - e.width / 2 + 1 <= x && x <= e.x + 1 + e.width / 2 && e.y - e.height / 2 + 1 <= y &&
         y <= e.y + 1 + e.height / 2;
}

int find_marker_in(const EmapTables& t, const std::string& target, const std::string& map_name,
                   int x, int y, MarkerHit* hit) {
  int found = 0;
  for_target(t, target, [&](const std::vector<emap_map_info>& maps, bool group) {
    for (const emap_map_info& map : maps) {
      if (found || map_name != map.map_name) continue;
      for (int kind = 0; kind < 3 && !found; ++kind)
        for (marker_item m : markers_of(map, kind)) {
          if (!group) m.dvr = 0;
          const int entry = marker_entry(kind, m);
          const imgmap_info* table = get_device_table(m.dvr);
          if (entry < 0 || !table || entry >= get_num_device_entries()) continue;
          if (!marker_covers(table[entry], m.x, m.y, x, y)) continue;
          *hit = MarkerHit{kind, m.dvr, m.ch, m.dvr, entry};
          found = 1;
          break;
        }
    }
  });
  return found;
}

std::vector<AlarmSpot> notice_alarms(const EmapTables& t, const std::string& start_target,
                                     const std::string& shown_target, const std::string& shown_map,
                                     const EVENT_NOTICE& n, int num_video, int num_sensor,
                                     bool* found) {
  std::vector<AlarmSpot> out;
  const std::string dvr_name = n.dvr_name;
  const emap_info* dvr = nullptr;
  if (start_target == dvr_name)
    for (const emap_info& e : t.dvr)
      if (dvr_name == e.dvr_name) {
        dvr = &e;
        break;
      }
  const emap_group_info* group = nullptr;
  int member = -1;
  if (!dvr)
    for (const emap_group_info& g : t.group)
      if (start_target == g.group_name)
        for (size_t j = 0; j < g.dvr_name.size(); ++j)
          if (g.dvr_name[j] == dvr_name) {
            group = &g;
            member = static_cast<int>(j);
          }
  *found = dvr || group;
  // Another target's map may carry a map of the same name: only the start target's maps blink.
  if (!*found || shown_target != start_target) return out;

  const int sheet = dvr ? 0 : member + 1;
  if (sheet >= kEmapDeviceSheets) return out;
  const std::vector<emap_map_info>& maps = dvr ? dvr->map : group->map;
  const uint32_t filter = dvr ? 0xFFFFFFFFu : group->channel_filter[static_cast<size_t>(member)];
  auto blink = [&](int kind, uint32_t mask, int count) {
    mask &= filter;
    const int limit = count < kEmapDeviceNumbers ? count : kEmapDeviceNumbers;
    for (int c = 0; c < limit; ++c) {
      if (!(mask & (1u << c))) continue;
      for (const emap_map_info& map : maps) {
        if (shown_map != map.map_name) continue;
        for (const marker_item& m : markers_of(map, kind))
          if (m.ch == c + 1 && (dvr || m.dvr == sheet))
            out.push_back({sheet, kind * kEmapDeviceNumbers + c});
      }
    }
  };
  if (n.kind & 0x02) blink(EMAP_CAMERA, n.mask_motion, num_video);
  if (n.kind & 0x20) blink(EMAP_SENSOR, n.mask_sensor, num_sensor);
  return out;
}

std::string group_member_name(const EmapTables& t, const std::string& target, int dvr) {
  for (const emap_group_info& g : t.group)
    if (target == g.group_name)
      return dvr >= 1 && static_cast<size_t>(dvr) <= g.dvr_name.size()
                 ? g.dvr_name[static_cast<size_t>(dvr) - 1]
                 : std::string();
  return "";
}

std::vector<std::string> spot_window_argv(const std::string& vigilo, const std::string& dvr, int c,
                                          const char* user, const char* password) {
  if (c < 0 || c >= 32) return {};
  return {vigilo,
          "-A" + dvr,
          "-k",
          "-e",
          "-v" + std::to_string(1UL << c),
          "-w0,0",
          std::string("-u") + (user ? user : "") + "," + (password ? password : ""),
          "-m2"};
}

std::vector<std::string> device_number_items(const SetupSnapshot& s, const std::string& target,
                                             const char* number_label) {
  std::vector<std::string> out;
  auto channels_of = [&s](const std::string& name) {
    for (const RC_DVR_INFO& d : s.dvr)
      if (name == d.name) return static_cast<int>(d.num_video);
    return 0;
  };
  for (const RC_DVR_INFO& d : s.dvr)
    if (target == d.name) {
      for (int c = 1; c <= d.num_video; ++c)
        out.push_back(std::string(number_label) + " " + std::to_string(c));
      return out;
    }
  for (const SetupGroup& g : s.group)
    if (target == g.name) {
      for (size_t m = 0; m < g.member.size() && m < g.mask.size(); ++m) {
        const int n = channels_of(g.member[m]);
        for (int c = 0; c < n && c < 32; ++c)
          if (g.mask[m] & (1u << c))
            out.push_back("DVR" + std::to_string(m + 1) + "_" + number_label +
                          std::to_string(c + 1));
      }
      return out;
    }
  return out;
}

int parse_device_number_item(const std::string& item, int row, bool group, int* member, int* ch) {
  if (!group) {
    if (row < 0) return -1;
    *member = 0;
    *ch = row + 1;
    return 0;
  }
  std::vector<std::string> pieces;
  size_t i = 0;
  while (i <= item.size()) {
    size_t end = item.find_first_of("_.", i);
    if (end == std::string::npos) end = item.size();
    if (end > i) pieces.emplace_back(item, i, end - i);
    i = end + 1;
  }
  if (pieces.size() < 3 || pieces[0].compare(0, 3, "DVR") != 0) return -1;
  *member = atoi(pieces[0].c_str() + 3);
  *ch = atoi(pieces[2].c_str());
  return *member >= 1 && *ch >= 1 ? 0 : -1;
}

// ---------------------------------------------------------------- map and marker changes

std::string check_map_free(const EmapTables& t, const std::string& target, const std::string& name,
                           const std::string& path, const char* old_name, const char* exist_text) {
  std::string clash;
  for_target(t, target, [&](const std::vector<emap_map_info>& maps, bool) {
    for (const emap_map_info& m : maps)
      if (clash.empty() && (!old_name || strcmp(m.map_name, old_name) != 0) && name == m.map_name)
        clash = strprintf(old_name ? "\n%s %s" : "\n%s%s", m.map_name, exist_text);
  });
  if (!clash.empty()) return clash;
  for_target(t, target, [&](const std::vector<emap_map_info>& maps, bool) {
    for (const emap_map_info& m : maps)
      if ((!old_name || strcmp(m.map_name, old_name) != 0) && path == m.map_image)
        clash = "\nMap already exist";
  });
  return clash;
}

void add_map(EmapTables& t, const std::string& target, const std::string& name,
             const std::string& path) {
  for_target(t, target, [&](std::vector<emap_map_info>& maps, bool) {
    emap_map_info m{};
    copy_field(m.map_image, path.c_str());
    copy_field(m.map_name, name.c_str());
    copy_field(m.map_devices, "0");
    maps.push_back(std::move(m));
  });
}

void edit_map(EmapTables& t, const std::string& target, const std::string& old_name,
              const std::string& name, const std::string& path) {
  for_target(t, target, [&](std::vector<emap_map_info>& maps, bool) {
    for (emap_map_info& m : maps)
      if (old_name == m.map_name) {
        copy_field(m.map_image, path.c_str());
        copy_field(m.map_name, name.c_str());
      }
  });
}

void delete_map(EmapTables& t, const std::string& target, const std::string& name) {
  for_target(t, target, [&](std::vector<emap_map_info>& maps, bool) {
    std::erase_if(maps, [&](const emap_map_info& m) { return name == m.map_name; });
  });
}

std::string check_device_free(const EmapTables& t, const std::string& target, int kind, int dvr,
                              int ch, const char* kind_label, const char* exist_text) {
  std::string clash;
  for_target(t, target, [&](const std::vector<emap_map_info>& maps, bool group) {
    for (const emap_map_info& map : maps)
      for (const marker_item& m : markers_of(map, kind)) {
        if (!clash.empty() || m.ch != ch || (group && m.dvr != dvr)) continue;
        clash = group ? strprintf("\n%s DVR%d-%d %s", kind_label, dvr, ch, exist_text)
                      : strprintf("\n%s %d %s", kind_label, ch, exist_text);
      }
  });
  return clash;
}

void place_marker(EmapTables& t, const std::string& target, const std::string& map_name,
                  const MarkerHit* hit, int kind, int dvr, int ch, int x, int y) {
  for_target(t, target, [&](std::vector<emap_map_info>& maps, bool group) {
    const marker_item placed{x, y, ch, group ? dvr : 0};
    for (emap_map_info& map : maps) {
      if (map_name != map.map_name) continue;
      if (hit) {
        std::vector<marker_item>& old = markers_of(map, hit->kind);
        for (size_t i = 0; i < old.size(); ++i) {
          if (old[i].ch != hit->ch || (group && old[i].dvr != hit->dvr)) continue;
          if (hit->kind == kind) {
            old[i] = placed;
          } else {
            old.erase(old.begin() + static_cast<long>(i));
            markers_of(map, kind).push_back(placed);
          }
          break;
        }
      } else {
        markers_of(map, kind).push_back(placed);
      }
    }
  });
}

void remove_marker(EmapTables& t, const std::string& target, const std::string& map_name,
                   const MarkerHit& hit) {
  for_target(t, target, [&](std::vector<emap_map_info>& maps, bool group) {
    for (emap_map_info& map : maps)
      if (map_name == map.map_name)
        std::erase_if(markers_of(map, hit.kind), [&](const marker_item& m) {
          return m.ch == hit.ch && (!group || m.dvr == hit.dvr);
        });
  });
}
