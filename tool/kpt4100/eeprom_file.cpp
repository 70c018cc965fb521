#include "tool/kpt4100/eeprom_file.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/system/file_replace.h"
#include "platform/wire/byte_reader.h"

namespace dvrsetup {
namespace {

std::array<uint32_t, 256> make_table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}

}  // namespace

uint32_t crc32(const uint8_t* buf, long len) {
  static const std::array<uint32_t, 256> table = make_table();
  if (!buf || len < 1) return 0;
  uint32_t c = 0xFFFFFFFFu;
  for (long i = 0; i < len; ++i) c = table[(c ^ buf[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

uint32_t crc32_of_copy(const uint8_t* buf, long len) {
  if (!buf || len < 1) return 0;
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[size_t(len)]);
  if (!copy) {
    printf("[%s:%d] ERROR : Malloc fail\n", __FILE__, __LINE__);
    return 0;
  }
  memcpy(copy.get(), buf, size_t(len));
  return crc32(copy.get(), len);
}

}  // namespace dvrsetup

namespace {

std::unique_ptr<uint8_t[]> current_record;
bool current_valid = false;

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};

}  // namespace

void compose_eeprom_image(const uint8_t* record, uint8_t out[EEPROM_FILE_SIZE]) {
  put_le32(out, EDATA_SIZE);
  memcpy(out + 4, record, EDATA_SIZE);
  put_le32(out + 4 + EDATA_SIZE, dvrsetup::crc32_of_copy(record, EDATA_SIZE));
}

bool eeprom_image_valid(const uint8_t* image, size_t len) {
  return image && len >= size_t(EEPROM_FILE_SIZE) &&
         dvrsetup::crc32(image + 4, EDATA_SIZE) == get_le32(image + 4 + EDATA_SIZE);
}

int write_whole_file(const char* path, const uint8_t* data, size_t len) {
  return replace_file(path, reinterpret_cast<const char*>(data), len) == 0 ? 0 : -1;
}

int write_eeprom_file(const uint8_t* record) {
  if (!record) return -1;
  uint8_t image[EEPROM_FILE_SIZE];
  compose_eeprom_image(record, image);
  return write_whole_file(kEepromFile, image, sizeof image);
}

int read_eeprom_file(const char* path) {
  current_record.reset(new uint8_t[EDATA_SIZE]());
  current_valid = false;
  struct stat st;
  if (stat(path, &st) != 0) {
    printf("stat() failed.\n");
    return -1;
  }
  std::unique_ptr<FILE, FileCloser> f(fopen(path, "rb"));
  if (!f) {
    printf("Read ERROR: There is no eeprom_data in the HDD~!!\n");
    return -1;
  }
  uint8_t size_word[4] = {0, 0, 0, 0};
  if (fread(size_word, 1, 4, f.get()) != 4) {
    printf("ERROR: 1 eeprom_data from HDD~!! %d/%d\n", int(get_le32(size_word)), 4);
    return -1;
  }
  // The size word is kept as read: DVRs differ in what they put there.
  const size_t got = fread(current_record.get(), 1, EDATA_SIZE, f.get());
  uint8_t crc[4];
  if (got != size_t(EDATA_SIZE) || fread(crc, 1, 4, f.get()) != 4) {
    printf("ERROR: 1 eeprom_data from HDD~!!\n");
    return -1;
  }
  if (dvrsetup::crc32_of_copy(current_record.get(), EDATA_SIZE) != get_le32(crc)) {
    printf("\n\n CRC Check ERROR!!! \n\n");
    return -2;
  }
  current_valid = true;
  return 0;
}

uint8_t* get_edata() { return current_record.get(); }

bool edata_is_valid() { return current_record && current_valid; }
