// Starting outside programs with an argument vector (never through a shell), and reaping them.
//
// Every child started here is remembered until it has been waited for; a start first
// collects the children that have ended, so none stays a zombie for long, and keeps their
// exit status for their own waiters: a thread waiting for its child gets that child's code
// however many other children start and end meanwhile. Callable from any thread.
#pragma once

// Starts argv[0] (searched in PATH) with the null-terminated `argv`. With `stdout_path` /
// `stderr_path` the child's standard output / error go to that file (created or
// truncated). The child inherits no descriptor beyond 0-2. Returns the process id (> 0),
// or -1 when it could not be started (no such program, a file that cannot be created).
int start_process(const char* const* argv, const char* stdout_path = nullptr,
                  const char* stderr_path = nullptr);

// Most bytes start_process_with_input hands over: a pipe takes them whole without a wait.
constexpr unsigned PROCESS_INPUT_MAX = 4096;

// As start_process, with the child's standard input a pipe that holds the `input_len` bytes
// of `input` and then ends. A secret handed over this way stays out of the argument vector,
// which every local user can read in /proc. -1 as start_process, and when `input_len`
// exceeds PROCESS_INPUT_MAX.
int start_process_with_input(const char* const* argv, const char* input, unsigned input_len,
                             const char* stdout_path = nullptr, const char* stderr_path = nullptr);

// Waits at most `timeout_ms` (monotonic) for child `pid` to end. Returns 0 with its exit
// code in *exit_code (128 + signal when killed; may be null), also when another call of
// this module reaped it first; 1 when it still runs at the time-out (it is reaped later), or
// -1 when `pid` is no child of ours or its status was already taken by a wait.
int wait_process(int pid, int timeout_ms, int* exit_code);

// 1 when child `pid` started here still runs, else 0.
int process_running(int pid);

// Collects every child of ours that has ended. Returns the number still running.
int reap_children();

// Asks child `pid` to end (SIGTERM) when it is a child started here that still runs. A pid
// that was already reaped may belong to another process by now and is never signalled.
// Returns 0 when the signal was sent, -1 when `pid` is not a running child of ours.
int terminate_process(int pid);
