// Readers of the machine's load: CPU time from /proc/stat, network interfaces and their octet
// counters from /proc/net/dev with their speed from /sys/class/net, and file-system space.
// They stand in for the Windows performance counters, the IP Helper tables and
// GetDiskFreeSpaceEx. Tests move the /proc and /sys roots onto fixture trees.
// Any thread; each call opens and closes its own files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Roots used instead of "/proc" and "/sys"; null restores the real ones. Set before the
// readers run (not guarded).
void set_host_stats_roots(const char* proc_root, const char* sys_root);

// The "cpu" line of /proc/stat: busy and total clock ticks since boot. 0, or -1.
int read_cpu_times(uint64_t* busy, uint64_t* total);
// Network interfaces, loopback left out: first the one that carries the traffic (that of the
// default route in /proc/net/route, else the first that is up and no dummy or ifb), then the
// others in /proc/net/dev order.
std::vector<std::string> list_net_interfaces();
// Received and sent octets of interface `name` (64-bit counters). 0, or -1 when it is gone.
int read_net_octets(const char* name, uint64_t* in, uint64_t* out);
// Link speed of interface `name` in Mbit/s; 0 when unreadable or unknown (-1).
uint64_t read_net_speed_mbps(const char* name);
// Free and total bytes of the file system that holds `path`. 0, or -1.
int read_disk_space(const char* path, uint64_t* free_bytes, uint64_t* total_bytes);
