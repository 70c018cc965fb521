// Tables of the child windows a program started and keeps a count of (spot, extension and
// time playback windows of the client, spot windows of the E-Map): at most 16 process ids,
// kept contiguous, so the count is the number of entries.
//
// No lock of its own: the owner of a table serialises every call on it. Processes are
// those started by platform/system's start_process; windows are looked up on the X display.
#pragma once

constexpr int MAX_CHILD_PROCESSES = 16;

struct CHILD_PROCESS {
  int pid;     // > 0 for a listed entry
  bool shown;  // a top-level window of the process has been seen
};

struct CHILD_TABLE {
  CHILD_PROCESS entries[MAX_CHILD_PROCESSES];
  int count;
};

// Clears every entry whose process no longer owns a top-level window and moves the rest up.
// A process that has ended counts as gone; one still starting, whose window has never been
// seen, stays listed. Returns the new count.
int prune_child_processes(CHILD_TABLE* table);
// Lists `pid`: its index, or -1 when the table is full or pid is not a process id.
int add_child_process(CHILD_TABLE* table, int pid);
// Ends every listed process that is still a running child of ours; empties the table.
void end_child_processes(CHILD_TABLE* table);
