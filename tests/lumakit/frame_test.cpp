// The library's interface: exactly the 47 functions and ColorKey are exported, and the key
// colour and debug dumps behave as documented.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "tests/lumakit/frames.h"

TEST(LumakitInterface, ExportsExactlyTheOperationsAndColorKey) {
  const char* run = std::getenv("VIGILO_RUN_DIR");
  const std::string cmd =
      "nm -D --defined-only " + std::string(run ? run : "build/run") + "/libLumakit.so";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::set<std::string> names;
  char line[512];
  while (std::fgets(line, sizeof line, p)) {
    std::istringstream in(line);
    std::string addr, type, name;
    if (in >> addr >> type >> name) names.insert(name);
  }
  ASSERT_EQ(pclose(p), 0);
  const std::set<std::string> want = {"ColorKey",
                                      "sdl2yuv",
                                      "yuv_black",
                                      "yuv_blit",
                                      "yuv_bob_region",
                                      "yuv_box",
                                      "yuv_brightness",
                                      "yuv_build_map",
                                      "yuv_colorkey",
                                      "yuv_contrast",
                                      "yuv_crop",
                                      "yuv_downscale",
                                      "yuv_dump",
                                      "yuv_expand",
                                      "yuv_extrapolate",
                                      "yuv_fill",
                                      "yuv_hexdump",
                                      "yuv_histogram_region_u",
                                      "yuv_histogram_region_v",
                                      "yuv_histogram_region_y",
                                      "yuv_histogram_u",
                                      "yuv_histogram_v",
                                      "yuv_histogram_y",
                                      "yuv_hue",
                                      "yuv_image_map",
                                      "yuv_line",
                                      "yuv_mask",
                                      "yuv_merge",
                                      "yuv_motion_center",
                                      "yuv_motion_direction",
                                      "yuv_outline",
                                      "yuv_print",
                                      "yuv_print_mapping",
                                      "yuv_pushpop",
                                      "yuv_remap_region_u",
                                      "yuv_remap_region_v",
                                      "yuv_remap_region_y",
                                      "yuv_remap_u",
                                      "yuv_remap_v",
                                      "yuv_remap_y",
                                      "yuv_render",
                                      "yuv_saturation",
                                      "yuv_selective_bob",
                                      "yuv_shrink",
                                      "yuv_shrink_any",
                                      "yuv_stretch",
                                      "yuv_warp",
                                      "yuv_zoom"};
  EXPECT_EQ(names, want);
}

TEST(LumakitInterface, KeyColourAndDumps) {
  const uint8_t key[4] = {1, 2, 3, 4};
  ASSERT_EQ(yuv_colorkey(key), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(ColorKey), 4), std::string("\1\2\3\4", 4));
  EXPECT_EQ(yuv_colorkey(nullptr), -1);

  const std::string dir = ::testing::TempDir();
  const uint8_t row[6] = {0x0A, 0x00, 0xFF, 0x10, 0x7, 0x80};
  ASSERT_EQ(yuv_hexdump(row, 3, 2, (dir + "hex.txt").c_str()), 0);
  std::ifstream hex(dir + "hex.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(hex), {}), "a 0 ff \n10 7 80 \n");
  ASSERT_EQ(yuv_dump(row, 5, (dir + "dump.bin").c_str()), 0);
  std::ifstream dump(dir + "dump.bin", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(dump), {}),
            std::string("\x0A\x00\xFF\x10\x07", 5));
  EXPECT_EQ(yuv_dump(row, 5, "/nonexistent-dir/dump.bin"), -1);
  EXPECT_EQ(yuv_hexdump(row, 3, 1, "/nonexistent-dir/hex.txt"), -1);
}
