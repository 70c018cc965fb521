// The remote DVR setup client: login and settings exchange with a 'Q' DVR over one TCP
// connection (8-byte NC_PACKET_HEADER, then the body), the fetch thread, and the small
// services of the DVR Setup window (status line, busy test, error box, Close).
//
// Every send and receive runs to completion within a time-out, and every length a DVR
// sends is bounded before use, so a silent or confused DVR ends an exchange with a result
// code instead of hanging. The socket is -1 whenever there is none; modes 1-3 then fail
// without touching any descriptor.
//
// Threads: dvrsetup_client runs in the fetch thread (modes 0 and 1) and in the GTK main
// thread (mode 2 on Save); the window's busy test keeps them apart. dvrsetup_client_stop
// may be called from any thread.
#pragma once

#include <cstdint>

// Modes of dvrsetup_client.
enum : int { DVRSETUP_LOGIN = 0, DVRSETUP_FETCH = 1, DVRSETUP_SEND = 2, DVRSETUP_INFO = 3 };

// Result of a fetch whose settings fail their CRC check: eeprom_data.dat is kept as it was.
constexpr int DVRSETUP_BAD_CRC = -7;

// Largest settings reply kept; a longer one means the stream is out of step.
constexpr int DVRSETUP_RECV_BUFFER = 32768;
// Largest file sent back.
constexpr int DVRSETUP_FILE_BUFFER = 16384;

// One exchange with the DVR named `dvr_name` in setup.cfg (the last entry of that name
// wins). 1 done (login accepted, settings stored in eeprom_data.dat, file sent whole,
// the DVR answered the information request); 0 login refused or failed, settings not
// received or not stored, file not sent whole, information not answered, no connection; 2 unknown
// host type; 3 DDNS; -1 eeprom_data.dat missing (mode 2); -2 it cannot be opened; -3 connect
// failed; -4 host name not resolved within the step's time-out or before a stop; -5 no socket could
// be made; DVRSETUP_BAD_CRC the settings received fail their CRC check (mode 1; the file on disk is
// kept).
int dvrsetup_client(const char* dvr_name, const char* user, const char* password, int mode);
// Closes the client socket; it is -1 afterwards. Returns 0.
int close_dvr_socket();
// Makes every exchange under way or to come give up at once (the window is closing).
void dvrsetup_client_stop();
// True once a fetch of this run stored the DVR's settings: only those may be sent back.
bool dvrsetup_fetched();
// The last DVR information reply (mode 3), 120 bytes.
const uint8_t* dvrsetup_dvr_info();

// Test seams: the time-out of each exchange step (default 8000 ms, or the value of
// VIGILO_DVRSETUP_TIMEOUT_MS) and the pause before every exchange (default 1000 ms).
void dvrsetup_set_timeouts(int step_timeout_ms, int start_delay_ms);
// The host-name look-up of mode 0 (default net_resolve_ipv4; null restores it), so that a
// test can make it hang. It runs on a thread of its own that mode 0 gives up waiting for.
void dvrsetup_set_resolver(int (*resolve)(const char* host, uint32_t* addr_be));
// Forgets the connection and the fetch (tests only).
void dvrsetup_client_reset();

// ---- the fetch thread and the window's services (GTK) -------------------------------------

// Thread body started once by main in mode "dvrsetup" after the DVR Setup window exists;
// reads setup_dvr_name, login_user and login_password. Returns null.
void* dvrsetup_fetch_thread(void* arg);
// The status text of all nine pages; " " is idle. GTK lock held.
int set_dvrsetup_status(const char* text);
// 0 when the status reads " ", else 1. GTK lock held.
int is_dvrsetup_busy();
// Modal "Error" box over the DVR Setup window. GTK main thread.
void show_dvrsetup_error(const char* text);
// Close button and "delete-event" of the window.
void on_dvrsetup_close();
// The process's exit code once the main loop has ended (1 after a settings file failed its
// CRC, else 0).
int dvrsetup_exit_code();
