#include "platform/system/host_stats.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string g_proc = "/proc";
std::string g_sys = "/sys";

// Reads the whole (small) file into `out`: true, or false when it cannot be opened.
bool slurp(const std::string& path, std::string* out) {
  std::ifstream f(path);
  if (!f) return false;
  std::stringstream ss;
  ss << f.rdbuf();
  *out = ss.str();
  return true;
}

// One interface line of /proc/net/dev: its name and the 16 counters after the colon.
bool parse_dev_line(const std::string& line, std::string* name, uint64_t counters[16]) {
  const size_t colon = line.find(':');
  if (colon == std::string::npos) return false;
  const size_t start = line.find_first_not_of(' ');
  if (start >= colon) return false;
  *name = line.substr(start, colon - start);
  std::istringstream in(line.substr(colon + 1));
  for (int i = 0; i < 16; ++i)
    if (!(in >> counters[i])) return false;
  return true;
}

bool is_loopback(const std::string& name) {
  if (name == "lo") return true;
  std::string type;
  // ARPHRD_LOOPBACK
  return slurp(g_sys + "/class/net/" + name + "/type", &type) && std::atoi(type.c_str()) == 772;
}

// The interface's flags word from /sys (IFF_*), 0 when unreadable.
unsigned long net_flags(const std::string& name) {
  std::string text;
  if (!slurp(g_sys + "/class/net/" + name + "/flags", &text)) return 0;
  return std::strtoul(text.c_str(), nullptr, 0);
}

// Up, and no dummy: dummy and ifb interfaces are Ethernet without ARP, and carry nothing of
// the machine's own traffic.
bool may_carry_traffic(const std::string& name) {
  constexpr unsigned long kUp = 0x1, kNoArp = 0x80;  // IFF_UP, IFF_NOARP
  const unsigned long flags = net_flags(name);
  if (!(flags & kUp)) return false;
  std::string type;
  const bool ether =
      slurp(g_sys + "/class/net/" + name + "/type", &type) && std::atoi(type.c_str()) == 1;
  return !(ether && (flags & kNoArp));
}

// The interface of the default route in /proc/net/route (the lowest metric among those up),
// "" when there is none.
std::string default_route_interface() {
  std::ifstream f(g_proc + "/net/route");
  std::string line, best;
  long best_metric = 0;
  for (int n = 0; std::getline(f, line); ++n) {
    if (n == 0) continue;  // the heading
    std::istringstream in(line);
    std::string iface, dest, gateway, flags, refcnt, use, mask;
    long metric = 0;
    if (!(in >> iface >> dest >> gateway >> flags >> refcnt >> use >> metric >> mask)) continue;
    const bool up = std::strtoul(flags.c_str(), nullptr, 16) & 0x1;  // RTF_UP
    if (!up || std::strtoul(dest.c_str(), nullptr, 16) != 0 ||
        std::strtoul(mask.c_str(), nullptr, 16) != 0)
      continue;
    if (best.empty() || metric < best_metric) {
      best = iface;
      best_metric = metric;
    }
  }
  return best;
}

template <typename Fn>
void for_each_dev_line(Fn fn) {
  std::ifstream f(g_proc + "/net/dev");
  std::string line;
  for (int n = 0; std::getline(f, line); ++n) {
    if (n < 2) continue;  // the two heading lines
    std::string name;
    uint64_t c[16];
    if (parse_dev_line(line, &name, c) && fn(name, c)) return;
  }
}

}  // namespace

void set_host_stats_roots(const char* proc_root, const char* sys_root) {
  g_proc = proc_root ? proc_root : "/proc";
  g_sys = sys_root ? sys_root : "/sys";
}

int read_cpu_times(uint64_t* busy, uint64_t* total) {
  std::ifstream f(g_proc + "/stat");
  std::string word;
  if (!(f >> word) || word != "cpu") return -1;
  // user nice system idle iowait irq softirq steal (guest time is inside user already)
  uint64_t v[8] = {};
  int n = 0;
  while (n < 8 && f >> v[n]) ++n;
  if (n < 4) return -1;
  const uint64_t idle = v[3] + v[4];
  const uint64_t work = v[0] + v[1] + v[2] + v[5] + v[6] + v[7];
  *busy = work;
  *total = work + idle;
  return 0;
}

std::vector<std::string> list_net_interfaces() {
  std::vector<std::string> names;
  for_each_dev_line([&](const std::string& name, const uint64_t*) {
    if (!is_loopback(name)) names.push_back(name);
    return false;
  });
  // The one that carries the traffic goes first: the NET meter watches the first.
  const std::string route = default_route_interface();
  auto carrier = std::find(names.begin(), names.end(), route);
  if (route.empty() || carrier == names.end())
    carrier = std::find_if(names.begin(), names.end(), may_carry_traffic);
  if (carrier != names.end()) std::rotate(names.begin(), carrier, carrier + 1);
  return names;
}

int read_net_octets(const char* name, uint64_t* in, uint64_t* out) {
  int rc = -1;
  for_each_dev_line([&](const std::string& n, const uint64_t* c) {
    if (n != name) return false;
    *in = c[0];
    *out = c[8];
    rc = 0;
    return true;
  });
  return rc;
}

uint64_t read_net_speed_mbps(const char* name) {
  std::string text;
  if (!name || !slurp(g_sys + "/class/net/" + name + "/speed", &text)) return 0;
  const long long v = std::atoll(text.c_str());
  return v > 0 ? uint64_t(v) : 0;
}

int read_disk_space(const char* path, uint64_t* free_bytes, uint64_t* total_bytes) {
  struct statvfs st {};
  if (!path || statvfs(path, &st) != 0) return -1;
  *free_bytes = uint64_t(st.f_bfree) * st.f_frsize;
  *total_bytes = uint64_t(st.f_blocks) * st.f_frsize;
  return 0;
}
