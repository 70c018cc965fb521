// The machine's restart, asked for by the client's GUI watchdog.
//
// Runs the program named by $VIGILO_REBOOT_COMMAND when it is set (tests and the demo point
// it at a harmless recorder), else `systemctl reboot`, which logind allows the active local
// session. Callable from any thread. The command is always reaped: one still running when
// its caller stops waiting is waited for by a thread of its own.
#pragma once

constexpr int REBOOT_WAIT_MS = 3000;

// Waits at most `wait_ms` for the command. 0 when it ran and reported success (or still runs
// after the wait); -1 when it could not be started or refused, with one line on standard
// output saying so.
int reboot_machine(int wait_ms = REBOOT_WAIT_MS);

// Starts the command and returns at once (SDL's timer thread must not wait on it); a refusal
// is told on standard output as above once the command ends.
void request_reboot();
