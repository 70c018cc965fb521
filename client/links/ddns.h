// DDNS look-up of 'Q' DVRs registered by name: connect to the DDNS server, send the 24-byte
// login request with the DVR's name, read back its IPv4 address. Runs on a receive thread;
// every wait is sliced so the receiver stop flag and the quit flag end it within 100 ms.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t DDNS_MAGIC = 0xAA55AA55u;
constexpr size_t DDNS_REQUEST_SIZE = 24;
constexpr size_t DDNS_REPLY_MIN = 10;
constexpr uint16_t DDNS_DEFAULT_PORT = 1800;

// The DDNS server: the one VIGILO_DDNS_SERVER names ("address[:port]", port 1800 when none
// is given), read at the first look-up, or the one this call names; a null address forgets
// it, so the environment is read again. With no server a DDNS-type DVR never connects.
// Call before receive threads start.
void set_ddns_server(const char* address, uint16_t port);
// The server's address, "" when none is named; its port.
const char* ddns_server_address();
uint16_t ddns_server_port();
// Limits of the connect (5000 ms) and of the wait for the reply (15000 ms); for tests.
void set_ddns_timeouts(int connect_ms, int reply_ms);

// The connected socket, or -1 (failures shut down and close it). An empty address prints
// "No DDNS server is named (VIGILO_DDNS_SERVER): DDNS look-ups fail." and fails.
int connectToDDNS(const char* address, uint16_t port);
// Looks `name` up on `sock`: 0 with the dotted address in out[cap], or -1. Closes `sock`.
int loginDDNS(int sock, const char* name, char* out, size_t cap);

// Builds the 24-byte request for `name` (cut to 17 bytes, NUL-padded).
void ddns_build_request(const char* name, uint8_t out[DDNS_REQUEST_SIZE]);
// Parses a reply of `len` bytes: 0 with address (network order) and port, -1 when it is too
// short or lacks the magic.
int ddns_parse_reply(const uint8_t* reply, size_t len, uint32_t* addr_be, uint16_t* port);
