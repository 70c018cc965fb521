// The DVR's settings record on disk: eeprom_data.dat (a 32-bit size, the 5810-byte edata
// record, its CRC-32, all little-endian), its writer and reader, and the current in-memory
// record the DVR Setup pages edit. No GTK.
//
// Threads: the reader runs in the fetch thread (under the GDK lock), the writer in the GTK
// main thread; the window's busy test keeps them apart, so nothing here is locked.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int EDATA_SIZE = 5810;
constexpr int EEPROM_FILE_SIZE = 4 + EDATA_SIZE + 4;  // 5818
constexpr const char* kEepromFile = "eeprom_data.dat";

namespace dvrsetup {
// The IEEE 802.3 CRC-32 (zlib's): reflected polynomial 0xEDB88320, initial value and final
// complement 0xFFFFFFFF. 0 for a null buffer or a length below 1. Any thread. (Namespaced:
// a global C crc32 would take the place of zlib's in a process that also loads PNGs.)
uint32_t crc32(const uint8_t* buf, long len);
// crc32 of a private copy of the bytes; 0 (and "[%s:%d] ERROR : Malloc fail\n") when the
// copy cannot be allocated.
uint32_t crc32_of_copy(const uint8_t* buf, long len);
}  // namespace dvrsetup

// The 5818-byte image of `record` (5810 bytes): size word, record, CRC.
void compose_eeprom_image(const uint8_t* record, uint8_t out[EEPROM_FILE_SIZE]);

// Writes eeprom_data.dat from `record` through a temporary file renamed over it (a new file
// gets mode 0600: it holds the DDNS and PPPoE passwords). 0 written; -1 the file cannot be
// created, written or closed (the old file is then untouched).
int write_eeprom_file(const uint8_t* record);
// The same for any path and any bytes (the fetch keeps the DVR's reply this way).
int write_whole_file(const char* path, const uint8_t* data, size_t len);

// True when `image` (`len` bytes, as a fetch receives it) starts with a whole 5818-byte
// image whose record matches its CRC. Any thread.
bool eeprom_image_valid(const uint8_t* image, size_t len);

// Reads the first 5818 bytes of `path` into a new zero-filled current record. 0 read; -1
// missing ("stat() failed.\n"), cannot be opened ("Read ERROR: There is no eeprom_data in
// the HDD~!!\n"), short ("ERROR: 1 eeprom_data from HDD~!! %d/%d\n" or "ERROR: 1 eeprom_data
// from HDD~!!\n") or the CRC does not match ("\n\n CRC Check ERROR!!! \n\n"), -2 in the
// last case only. The current record keeps what was read. Ending the process on a bad CRC
// is the caller's: it must happen on the GTK main thread.
int read_eeprom_file(const char* path);
// The current 5810-byte record; null before the first read_eeprom_file. Owned here.
uint8_t* get_edata();
// True when the current record came from a read whose size and CRC were good.
bool edata_is_valid();
