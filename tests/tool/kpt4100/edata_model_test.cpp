// The settings record and the page values: fields at their offsets, unchanged pages leave
// every byte, values out of range and unterminated texts from a DVR, the budget table, the
// network check, the channel count bound, and the grids' mapping to the record.
#include "tool/kpt4100/edata_model.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "peers/qdvr/qdvr_peer.h"

namespace {

std::vector<uint8_t> dvr_record(int channels) {
  std::vector<uint8_t> img = qdvr::synthetic_settings(channels);
  return std::vector<uint8_t>(img.begin() + 4, img.begin() + 4 + EDATA_SIZE);
}

TEST(EdataModel, unchanged_pages_and_subpages_store_every_byte_as_loaded) {
  for (int n : {4, 8, 16}) {
    std::vector<uint8_t> ed = dvr_record(n);
    const std::vector<uint8_t> sent = ed;
    MainPages p = blank_pages(n, true);
    load_all_values(ed.data(), &p);
    const char* error = nullptr;
    testing::internal::CaptureStdout();
    ASSERT_EQ(0, store_all_values(p, ed.data(), &error)) << n << " " << (error ? error : "");
    testing::internal::GetCapturedStdout();
    for (int ch = 0; ch < n; ++ch) {
      PtzValues ptz;
      load_ptz_values(ed.data(), ch, &ptz);
      store_ptz_values(ptz, ed.data(), ch, n);
      ColorValues color;
      load_color_values(ed.data(), ch, &color);
      store_color_values(color, ed.data(), ch, n);
      MotionValues motion;
      load_motion_values(ed.data(), ch, &motion);
      store_motion_values(motion, ed.data(), ch, n);
      SensorValues sensor;
      load_sensor_values(ed.data(), ch, &sensor);
      store_sensor_values(sensor, ed.data(), ch, n);
      uint8_t cells[SCHED_CELLS];
      load_schedule_cells(ed.data(), ch, cells);
      store_schedule_cells(cells, ed.data(), ch, n);
    }
    for (size_t i = 0; i < ed.size(); ++i) ASSERT_EQ(sent[i], ed[i]) << "N " << n << " byte " << i;
  }
}

TEST(EdataModel, page_values_land_at_their_offsets) {
  std::vector<uint8_t> ed = dvr_record(16);
  MainPages p = blank_pages(16, true);
  load_all_values(ed.data(), &p);
  EXPECT_EQ("CAM03", p.cam[3].name);
  EXPECT_EQ("192.168.1.100", p.net.ip);
  EXPECT_EQ("2200", p.net.port);
  EXPECT_EQ(1, p.sys.screen_saver);
  p.cam[6].name = "Gate";
  p.cam[0].hide = 1;
  p.rec[2].audio = 1;
  p.rec[0].fps = 0;
  p.net.ip = "10.1.2.3";
  p.net.ip_mode = 2;
  p.net.ddns_user = "fifteen-chars-x";  // a full 15-byte name carries no terminator
  p.net.ddns_pass = "pw";
  testing::internal::CaptureStdout();
  ASSERT_EQ(0, store_all_values(p, ed.data(), nullptr));
  EXPECT_EQ("255 255 255 0 ", testing::internal::GetCapturedStdout());
  EXPECT_EQ(0, memcmp(ed.data() + 84 + 135 * 5, "Gate\0\0\0\0\0", 9));
  EXPECT_EQ(1, ed[84 + 135 * 16 + 131]);
  EXPECT_EQ(1, ed[84 + 135 * 1 + 125]);   // audio on: the camera's own index
  EXPECT_EQ(1, ed[84 + 135 * 16 + 123]);  // the all row's rate goes to record N
  EXPECT_EQ(0, memcmp(ed.data() + 5369, "\x0A\x01\x02\x03", 4));
  EXPECT_EQ(3, ed[5358]);
  EXPECT_EQ(0, memcmp(ed.data() + 5414, "fifteen-chars-xpw\0", 18));
}

TEST(EdataModel, dvr_values_are_bounded_before_use) {
  std::vector<uint8_t> ed(EDATA_SIZE, 0x41);  // no terminator anywhere
  ed[ED_IP_MODE] = 9;
  ed[ED_DDNS_SERVER] = 7;
  ed[ED_NRESOL] = 3;
  MainPages p = blank_pages(20, false);  // more channels than the record holds
  ASSERT_EQ(17u, p.cam.size());
  p.net.ip_mode = 1;
  p.cam[1].hide = 1;
  testing::internal::CaptureStdout();
  load_all_values(ed.data(), &p);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("edata->RecMan.nResol = 3"),
            std::string::npos);
  EXPECT_EQ(std::string(8, 'A') + "A", p.cam[1].name);
  EXPECT_EQ(std::string(24, 'A'), p.net.ddns_host);
  EXPECT_EQ(std::string(15, 'A'), p.net.pppoe_user);
  EXPECT_EQ(std::string(16, 'A'), p.net.pppoe_pass);
  EXPECT_EQ(1, p.net.ip_mode);
  EXPECT_EQ(-1, p.net.ddns_server);
  EXPECT_EQ(1, p.cam[1].hide);
  MotionValues m;
  m.sensitivity = 3;
  ed[84 + CR_SENSITIVITY] = 0;
  load_motion_values(ed.data(), 0, &m);
  EXPECT_EQ(3, m.sensitivity);
  // No channels: no rows, nothing at "record N".
  MainPages none = blank_pages(0, true);
  EXPECT_TRUE(none.cam.empty() && none.rec.empty());
  std::vector<uint8_t> copy = ed;
  PtzValues ptz;
  store_ptz_values(ptz, ed.data(), 0, 0);
  EXPECT_EQ(copy, ed);
}

TEST(EdataModel, typed_texts_are_cut_by_bytes_within_their_fields) {
  std::vector<uint8_t> ed(EDATA_SIZE, 0x55);
  MainPages p = blank_pages(4, true);
  p.cam[1].name = "\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5";  // 9 bytes: 2 whole characters fit
  ASSERT_EQ(0, store_camera_values(p, ed.data()));
  EXPECT_EQ(0, memcmp(ed.data() + 84, "\xE6\x97\xA5\xE6\x97\xA5\0\0\0", 9));
  EXPECT_EQ(0x55, ed[84 + 9]);
  const std::string long_host(40, 'h');
  put_edata_text(ed.data(), ED_DDNS_HOST, 24, long_host, true);
  EXPECT_EQ(std::string(23, 'h'), edata_text(ed.data(), ED_DDNS_HOST, 24));
  EXPECT_EQ(0x55, ed[ED_DDNS_HOST + 24]);
}

TEST(EdataModel, frame_rate_budget_table) {
  struct Case {
    int n, pal, item;
    std::vector<int> fps;  // values of rows 1..N
    int want;
    const char* key;
  } cases[] = {
      {4, 0, 0, {30, 30, 30, 30}, 0, nullptr},
      {4, 0, 1, {15, 15, 15, 15}, 0, nullptr},
      {4, 0, 1, {20, 15, 15, 15}, -5, "txt_ERR_LIMIT_60FPS"},
      {4, 1, 2, {8, 8, 8, 8}, -2, "txt_ERR_LIMIT_25FPS"},
      {8, 1, 2, {8, 8, 8, 8, 8, 8, 8, 1}, -4, "txt_ERR_8CH_LIMIT_50FPS"},
      {16, 0, 0, std::vector<int>(16, 20), -8, "txt_ERR_8CH_LIMIT_240FPS"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> ed(EDATA_SIZE, 0x77);
    ed[ED_VIDEO_FORMAT] = uint8_t(c.pal);
    MainPages p = blank_pages(c.n, true);
    p.rec_list_res = c.item;
    p.rec_list_pal = c.pal;
    const FpsList& list = fps_list(c.item, c.pal);
    for (int row = 0; row <= c.n; ++row) {
      p.rec[size_t(row)].resolution = c.item;
      p.rec[size_t(row)].fps = list.all_count - 1;
      for (int i = 0; row > 0 && i < list.count; ++i)
        if (list.values[i] == c.fps[size_t(row - 1)]) p.rec[size_t(row)].fps = i;
    }
    const char* error = nullptr;
    EXPECT_EQ(c.want, check_frame_rate_values(p, ed.data(), &error)) << c.n << " " << c.item;
    EXPECT_STREQ(c.key, error);
    EXPECT_EQ(c.want ? 0x77 : c.fps[0], ed[84 + CR_FPS]);  // rates stored only within budget
    EXPECT_EQ(uint8_t(6 - c.item), ed[ED_NRESOL]);         // the rest of the page is stored
    if (c.want == -5) {
      std::vector<uint8_t> again(EDATA_SIZE, 0x77);
      EXPECT_EQ(-3, store_all_values(p, again.data(), &error));
    }
  }
}

TEST(EdataModel, network_page_takes_only_four_numbers_up_to_255) {
  struct Case {
    const char* ip;
    const char* port;
    const char* key;
  } cases[] = {
      {"192.168.1.7", "2200", nullptr},
      {"192.168.1", "2200", "txt_INVALID_NET_IP"},
      {"300.1.1.1", "2200", "txt_INVALID_NET_IP"},
      {"1.2.3.4.5", "2200", "txt_INVALID_NET_IP"},
      {"1..3.4", "2200", "txt_INVALID_NET_IP"},
      {"1.2.3.x", "2200", "txt_INVALID_NET_IP"},
      {"1.2.3.4", "", "txt_INVALID_PORT"},
      {"1.2.3.4", "70000", "txt_INVALID_PORT"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> ed = dvr_record(4);
    const std::vector<uint8_t> before = ed;
    MainPages p = blank_pages(4, true);
    load_network_values(ed.data(), &p);
    p.net.ip = c.ip;
    p.net.port = c.port;
    const char* error = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.key ? -1 : 0, check_network_values(p, ed.data(), &error)) << c.ip;
    testing::internal::GetCapturedStdout();
    EXPECT_STREQ(c.key, error) << c.ip;
    if (c.key) { EXPECT_EQ(before, ed) << c.ip; }
  }
  MainPages p = blank_pages(4, true);
  p.net.netmask = "255.255.0.0";
  p.net.ip = p.net.gateway = p.net.name_server = "1.2.3.4";
  p.net.gateway = "1.2.3";
  const char* error = nullptr;
  std::vector<uint8_t> ed(EDATA_SIZE);
  EXPECT_EQ(-1, check_network_values(p, ed.data(), &error));
  EXPECT_STREQ("txt_INVALID_GATEWAY", error);
}

TEST(EdataModel, all_row_subpages_write_every_camera_but_not_record_n) {
  std::vector<uint8_t> ed = dvr_record(4);
  const std::vector<uint8_t> before = ed;
  PtzValues ptz{1, 42, 3};
  store_ptz_values(ptz, ed.data(), 4, 4);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(1, ed[camera_at(k) + CR_PTZ_PROTOCOL]);
    EXPECT_EQ(42, ed[camera_at(k) + CR_PTZ_ADDRESS]);
    EXPECT_EQ(3, ed[camera_at(k) + CR_PTZ_SPEED]);
  }
  EXPECT_EQ(0, memcmp(before.data() + camera_at(4), ed.data() + camera_at(4), ED_CAMERA_SIZE));
  ColorValues color;
  ed[camera_at(0) + CR_CONTRAST] = 80;
  ed[camera_at(0) + CR_CONTRAST + 1] = 80;
  ed[camera_at(0) + CR_CONTRAST + 2] = 130;
  color.level[2] = 1;
  load_color_values(ed.data(), 0, &color);
  EXPECT_EQ(4, color.level[0]);
  EXPECT_EQ(3, color.level[1]);
  EXPECT_EQ(1, color.level[2]);
}

TEST(EdataModel, grids_map_to_words_and_schedule_bytes) {
  std::vector<uint8_t> ed(EDATA_SIZE, 0);
  uint8_t* area = ed.data() + camera_at(2) + CR_MOTION_AREA;
  area[4 * 5 + 3] = 0xE0;  // row 5: bits 29 (column 0) and the two unused bits
  area[4 * 5 + 0] = 0x01;  // row 5: bit 0 (column 29)
  MotionValues m;
  load_motion_values(ed.data(), 2, &m);
  EXPECT_EQ(1, m.area[5 * 30 + 0]);
  EXPECT_EQ(1, m.area[5 * 30 + 29]);
  EXPECT_EQ(0, m.area[5 * 30 + 1]);
  m.area[0] = 1;
  m.area[5 * 30 + 29] = 0;
  store_motion_values(m, ed.data(), 2, 4);
  EXPECT_EQ(0x20, area[3]);
  EXPECT_EQ(0xE0, area[4 * 5 + 3]);  // unused bits kept
  EXPECT_EQ(0x00, area[4 * 5 + 0]);
  uint8_t* sched = ed.data() + schedule_at(1);
  sched[0] = 1;
  sched[1] = 2;
  sched[2] = 4;
  sched[3] = 3;  // unknown: the cell keeps what it showed
  uint8_t cells[SCHED_CELLS];
  memset(cells, 9, sizeof cells);
  load_schedule_cells(ed.data(), 1, cells);
  EXPECT_EQ(1, cells[0]);
  EXPECT_EQ(2, cells[1]);
  EXPECT_EQ(3, cells[2]);
  EXPECT_EQ(9, cells[3]);
  EXPECT_EQ(4, cells[4]);
  store_schedule_cells(cells, ed.data(), 1, 4);
  EXPECT_EQ(3, sched[3]);
  EXPECT_EQ(4, sched[2]);
}

}  // namespace
