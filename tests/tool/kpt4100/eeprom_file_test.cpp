// eeprom_data.dat: the CRC-32 against zlib's, the writer's exact bytes and the reader's
// results for a fetched, missing, short, odd or damaged file.
#include "tool/kpt4100/eeprom_file.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tool/tool_fixture.h"

namespace {

class EepromFile : public ToolDir {
 protected:
  static void put(const std::vector<uint8_t>& bytes) {
    std::ofstream(kEepromFile, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
  }
  static std::vector<uint8_t> record() {
    std::vector<uint8_t> r(EDATA_SIZE);
    for (size_t i = 0; i < r.size(); ++i) r[i] = uint8_t(i * 13 + 5);
    return r;
  }
};

TEST(Crc32, matches_zlib_and_refuses_empty_input) {
  const std::string check = "123456789";
  EXPECT_EQ(0xCBF43926u, dvrsetup::crc32(reinterpret_cast<const uint8_t*>(check.data()), 9));
  std::vector<uint8_t> data(7001);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 31 ^ (i >> 3));
  for (long n : {1L, 2L, 255L, 5810L, 7001L})
    EXPECT_EQ(uint32_t(::crc32(0L, data.data(), uInt(n))), dvrsetup::crc32(data.data(), n)) << n;
  EXPECT_EQ(dvrsetup::crc32(data.data(), 5810), dvrsetup::crc32_of_copy(data.data(), 5810));
  EXPECT_EQ(0u, dvrsetup::crc32(nullptr, 10));
  EXPECT_EQ(0u, dvrsetup::crc32(data.data(), 0));
  EXPECT_EQ(0u, dvrsetup::crc32(data.data(), -4));
}

TEST_F(EepromFile, writer_bytes_are_size_record_crc_in_a_private_file) {
  const std::vector<uint8_t> r = record();
  ASSERT_EQ(0, write_eeprom_file(r.data()));
  const std::string f = read_file(kEepromFile);
  ASSERT_EQ(5818u, f.size());
  EXPECT_EQ(std::string("\xB2\x16\x00\x00", 4), f.substr(0, 4));
  EXPECT_EQ(0, memcmp(f.data() + 4, r.data(), EDATA_SIZE));
  const uint32_t crc = uint32_t(::crc32(0L, r.data(), EDATA_SIZE));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(uint8_t(crc >> (8 * i)), uint8_t(f[size_t(5814 + i)]));
  struct stat st;
  ASSERT_EQ(0, stat(kEepromFile, &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  ASSERT_EQ(0, read_eeprom_file(kEepromFile));
  EXPECT_TRUE(edata_is_valid());
  EXPECT_EQ(0, memcmp(get_edata(), r.data(), EDATA_SIZE));
}

TEST_F(EepromFile, reader_takes_a_fetched_file_and_an_odd_size_word) {
  const std::vector<uint8_t> r = record();
  uint8_t image[EEPROM_FILE_SIZE];
  compose_eeprom_image(r.data(), image);
  std::vector<uint8_t> fetched(image, image + sizeof image);
  fetched.resize(32768, 0);
  put(fetched);
  EXPECT_EQ(0, read_eeprom_file(kEepromFile));
  EXPECT_EQ(0, memcmp(get_edata(), r.data(), EDATA_SIZE));
  fetched[0] = 0x10;  // the size word is read, not compared
  put(fetched);
  EXPECT_EQ(0, read_eeprom_file(kEepromFile));
  EXPECT_TRUE(edata_is_valid());
}

TEST_F(EepromFile, missing_short_and_damaged_files_fail_and_are_marked_invalid) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(-1, read_eeprom_file(kEepromFile));
  ASSERT_NE(get_edata(), nullptr);
  EXPECT_EQ(std::vector<uint8_t>(EDATA_SIZE, 0),
            std::vector<uint8_t>(get_edata(), get_edata() + EDATA_SIZE));
  put({0x01, 0x02});
  EXPECT_EQ(-1, read_eeprom_file(kEepromFile));
  const std::vector<uint8_t> r = record();
  uint8_t image[EEPROM_FILE_SIZE];
  compose_eeprom_image(r.data(), image);
  put(std::vector<uint8_t>(image, image + 3000));
  EXPECT_EQ(-1, read_eeprom_file(kEepromFile));
  EXPECT_FALSE(edata_is_valid());
  image[100] ^= 1;
  put(std::vector<uint8_t>(image, image + sizeof image));
  EXPECT_EQ(-2, read_eeprom_file(kEepromFile));
  EXPECT_FALSE(edata_is_valid());
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("stat() failed.\n"), std::string::npos);
  EXPECT_NE(out.find("ERROR: 1 eeprom_data from HDD~!! 513/4\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\n\n CRC Check ERROR!!! \n\n"), std::string::npos);
}

TEST_F(EepromFile, unreadable_file_fails_and_failed_write_keeps_the_old_file) {
  const std::vector<uint8_t> r = record();
  ASSERT_EQ(0, write_eeprom_file(r.data()));
  if (geteuid() != 0) {
    chmod(kEepromFile, 0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, read_eeprom_file(kEepromFile));
    testing::internal::GetCapturedStdout();
    chmod(kEepromFile, 0600);
  }
  // A directory where the temporary file would go cannot take it.
  std::filesystem::create_directory("sub");
  std::filesystem::permissions(
      "sub", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  if (geteuid() != 0) {
    EXPECT_EQ(-1, write_whole_file("sub/eeprom_data.dat", r.data(), r.size()));
  }
  std::filesystem::permissions("sub", std::filesystem::perms::owner_all);
  EXPECT_EQ(5818u, read_file(kEepromFile).size());
}

}  // namespace
