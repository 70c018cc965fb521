// The machine's restart, asked for by the client's GUI watchdog.
//
// Runs the program named by $VIGILO_REBOOT_COMMAND when it is set (tests and the demo point
// it at a harmless recorder), else `systemctl reboot`, which logind allows the active local
// session. Callable from any thread; it waits at most `REBOOT_WAIT_MS` for the command.
#pragma once

constexpr int REBOOT_WAIT_MS = 3000;

// 0 when the command ran and reported success (or still runs after the wait); -1 when it
// could not be started or refused, with one line on standard output saying so.
int reboot_machine();
