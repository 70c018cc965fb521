#include "client/foundation/config/child_table.h"

#include "platform/system/process.h"
#include "platform/system/x11_windows.h"

int prune_child_processes(CHILD_TABLE* table) {
  if (!table) return 0;
  int kept = 0;
  for (int i = 0; i < table->count && i < MAX_CHILD_PROCESSES; ++i) {
    CHILD_PROCESS e = table->entries[i];
    if (e.pid <= 0 || !process_running(e.pid)) continue;
    const bool window = x11_find_window(nullptr, e.pid) != 0;
    if (!window && e.shown) continue;  // its window was closed; the process is ending
    e.shown = e.shown || window;
    table->entries[kept++] = e;
  }
  for (int i = kept; i < MAX_CHILD_PROCESSES; ++i) table->entries[i] = CHILD_PROCESS{};
  table->count = kept;
  return kept;
}

int add_child_process(CHILD_TABLE* table, int pid) {
  if (!table || pid <= 0 || table->count < 0 || table->count >= MAX_CHILD_PROCESSES) return -1;
  table->entries[table->count] = CHILD_PROCESS{pid, false};
  return table->count++;
}

void end_child_processes(CHILD_TABLE* table) {
  if (!table) return;
  for (int i = 0; i < table->count && i < MAX_CHILD_PROCESSES; ++i)
    if (table->entries[i].pid > 0) terminate_process(table->entries[i].pid);
  *table = CHILD_TABLE{};
}
