// Protocol 'Q' request bodies and reply parsers.
#include "client/links/nc_packets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/debug/debug_output.h"

namespace {

TEST(NcPackets, header_is_network_order_and_round_trips) {
  NC_PACKET_HEADER h;
  h.cmd_type = 162;
  h.cmd_mode = 80;
  h.packet_size = 0x01020304;
  uint8_t b[8];
  encode_nc_header(h, b);
  const uint8_t want[8] = {0x54, 0x71, 162, 80, 1, 2, 3, 4};
  EXPECT_EQ(0, std::memcmp(want, b, 8));
  EXPECT_EQ(0x01020304u, decode_nc_header(b).packet_size);
  EXPECT_TRUE(nc_type_accepted(238));
  EXPECT_FALSE(nc_type_accepted(5));
  EXPECT_FALSE(nc_type_accepted(255));
}

TEST(NcPackets, login_body_marks_privileged_account_and_cuts_without_terminator) {
  uint8_t b[20];
  nc_login_body("tovek", "12345678", b);
  EXPECT_EQ(1, b[0]);
  EXPECT_EQ(1, b[2]);
  EXPECT_EQ(0, std::memcmp(b + 12, "12345678", 8));
  nc_login_body("operator9", "pw", b);
  EXPECT_EQ(0, b[0]);
  EXPECT_EQ(0, std::memcmp(b + 4, "operator", 8));  // cut at 8, the password starts at 12
  EXPECT_EQ('p', b[12]);
  EXPECT_EQ(0, b[14]);
}

TEST(NcPackets, login_reply_version_pairs) {
  struct Case {
    uint32_t v, s;
    int want;
  } cases[] = {
      {0x2200, 0x0302, 0}, {0x2200, 0x0303, 3},  {0x2200, 0x0400, 3},
      {0x22F0, 0x0101, 1}, {0x22F0, 0x0202, 2},  {0x22F0, 0x0303, 3},
      {0x3211, 0x0503, 3}, {0x3211, 0x0502, -2}, {0x1234, 0x0101, -2},
  };
  for (const Case& c : cases) {
    uint8_t body[128] = {1};
    body[1] = uint8_t(c.s >> 24);
    body[2] = uint8_t(c.s >> 16);
    body[3] = uint8_t(c.s >> 8);
    body[4] = uint8_t(c.s);
    body[11] = uint8_t(c.v >> 8);
    body[12] = uint8_t(c.v);
    NC_LOGIN_STATE st;
    st.audio_map[2] = 1;
    EXPECT_EQ(c.want, nc_parse_login_reply(body, sizeof body, &st))
        << std::hex << c.v << " " << c.s;
    if (c.want >= 0) {
      EXPECT_EQ(c.want == 3 ? 40 : 32, st.fsh_size);
      EXPECT_EQ(-1, st.audio_map[2]);
    }
  }
  uint8_t refused[128] = {0};
  EXPECT_EQ(-1, nc_parse_login_reply(refused, sizeof refused, nullptr));
  uint8_t shortb[5] = {1};
  EXPECT_EQ(-1, nc_parse_login_reply(shortb, sizeof shortb, nullptr));
}

// The login reply's records come from their offsets (a disk name filling its 32 bytes is
// still terminated), and every printer writes one text a record to the debug output, a field
// a line, nothing to standard output.
TEST(NcPackets, reply_records_print_a_field_a_line_to_the_debug_output) {
  uint8_t b[NC_LOGIN_OK_INFO_SIZE + 4];
  std::memset(b, 0, sizeof b);
  const uint8_t head[] = {1, 0, 0, 3, 3, 0x12, 0x34, 0x56, 0x78, 0, 0, 0x22, 0xF0};
  std::memcpy(b, head, sizeof head);
  const uint8_t sys[] = {16, 4, 9, 1, 0x00, 0x00, 0x00, 0x65};
  std::memcpy(b + 17, sys, sizeof sys);
  b[29] = 2;
  b[30] = 1;
  std::memset(b + 33, 'X', 32);
  b[65] = 5;     // loss, little-endian
  b[73] = 1;     // network
  b[77] = 3;     // hdd
  b[78] = 0xEE;  // beyond the record: not read
  const NC_LOGIN_OK_INFO l = decode_nc_login_ok_info(b, NC_LOGIN_OK_INFO_SIZE);
  EXPECT_EQ(0x0303u, l.sub_version);
  EXPECT_EQ(0x22F0u, l.version);
  EXPECT_EQ(0x65000000u, l.system.local_time);
  EXPECT_EQ(32u, std::strlen(l.hdd.hdd_name));
  EXPECT_EQ(5, l.status.loss);
  EXPECT_EQ(3, l.status.hdd);
  const uint8_t ev[9] = {0x10, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x06};
  uint8_t search[NC_SEARCH_INFO_SIZE] = {0xE8, 0x07, 3, 5};

  std::vector<std::string> texts;
  auto before = debug_output_set_sink([&](const std::string& t) { texts.push_back(t); });
  testing::internal::CaptureStdout();
  nc_print_login_ok_info(l);
  nc_print_event_info(decode_nc_event_info(ev));
  nc_print_search_info(search, sizeof search);
  NC_PACKET_HEADER h;
  h.cmd_type = 3;
  h.packet_size = 100;
  nc_print_packet_header(h);
  nc_print_packet_status(decode_nc_packet_status(b + 65));
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
  debug_output_set_sink(before);
  ASSERT_EQ(8u, texts.size());
  EXPECT_EQ(
      "NC_LOGIN_OK_INFO:\nresult: 1\nsub_version: 0x0303\nword2: 0x12345678\nversion: 0x22f0\n",
      texts[0]);
  EXPECT_EQ(
      "NC_SYSTEM_INFO:\ncam_count: 16\naudio_count: 4\ntimezone: 9\ndaylight: 1\n"
      "local_time: 1694498816\n",
      texts[1]);
  EXPECT_EQ("NC_HDD_INFO:\nhdd_count: 2\nhdd_type: 1\ncdrw_dev: 0\nhdd_name: " +
                std::string(32, 'X') + "\n",
            texts[2]);
  EXPECT_EQ(0u, texts[3].find("NC_STATUS_INFO:\nloss: 0x0005\nalarm: 0x0000\n"));
  EXPECT_NE(std::string::npos, texts[3].find("\nnetwork: 1\n"));
  EXPECT_EQ("NC_EVENT_INFO:\nevent_time: 16\nchannel: 0x00000005\nevent_type: 0x06\n", texts[4]);
  EXPECT_EQ(0u, texts[5].find("NC_SEARCH_INFO:\nyear: 2024\nmonth: 3\nday: 5\n"));
  EXPECT_EQ("NC_PACKET_HEADER:\nmagic_code: 0x5471\ncmd_type: 3\ncmd_mode: 0\npacket_size: 100\n",
            texts[6]);
  EXPECT_NE(std::string::npos, texts[7].find("\nflow: 238\n"));
}

TEST(NcPackets, error_codes_map_to_their_lines_and_boxes) {
  EXPECT_STREQ("Unknown argument", nc_error_text(0x4003)->box);
  EXPECT_STREQ("ERROR : TIMEOUT!!\n", nc_error_text(0x2009)->debug);
  EXPECT_EQ(nullptr, nc_error_text(0x2009)->box);
  EXPECT_STREQ("The passwordd was incorrect.", nc_error_text(0x1022)->box);
  EXPECT_STREQ("ERROR : FILE OPEN ERROR!!\n", nc_error_text(0x4022)->debug);
  EXPECT_EQ(nullptr, nc_error_text(0x5001));  // no such group
  EXPECT_EQ(nullptr, nc_error_text(0x1025));
  EXPECT_EQ(nullptr, nc_error_text(0x0004));
}

TEST(NcPackets, event_kinds_presets_and_search_bits) {
  const uint8_t ev[9] = {100, 0, 0, 0, 0x05, 0, 0, 0, 0x06};
  EVENT_NOTICE n = nc_event_notice(ev, "DVR", -3600);
  EXPECT_EQ(100 - 3600, n.time);
  EXPECT_EQ(0x22, n.kind);
  EXPECT_EQ(5u, n.mask_motion);
  EXPECT_EQ(5u, n.mask_sensor);
  EXPECT_EQ(0u, n.mask_40);
  uint8_t buf[EVENT_NOTICE_SIZE];
  encode_event_notice(n, buf);
  EXPECT_EQ(5u, uint32_t(buf[152]));
  EXPECT_EQ(5u, uint32_t(buf[160]));

  uint8_t presets[256] = {};
  NC_PRESET_TABLE* t = new NC_PRESET_TABLE;
  EXPECT_EQ(0, nc_fill_preset_table(presets, "DVR", t));
  presets[0] = 1;  // entry 0 is never a preset
  presets[42] = 1;
  EXPECT_EQ(1, nc_fill_preset_table(presets, "DVR", t));
  EXPECT_STREQ("PRESET 42", t->entry[42].preset_name);
  EXPECT_EQ(0, t->entry[0].number);
  static_assert(sizeof(NC_PRESET_ENTRY) == 263 && sizeof(NC_PRESET_TABLE) == 0x10700);
  delete t;

  EXPECT_EQ(0x01 | 0x02 | 0x20 | 0x40, nc_kind_bits(0x0F));
  EXPECT_EQ(0, nc_kind_bits(0xF0));
  NC_SEARCH_RECORD r;
  const uint8_t shortb[4] = {0xE9, 0x07, 12, 31};
  nc_fill_search_record(shortb, sizeof shortb, &r);  // a short reply reads as zeros
  EXPECT_EQ(2025, r.year);
  EXPECT_EQ(31, r.day);
  EXPECT_EQ(0, r.hour);
}

TEST(NcPackets, request_bodies_by_type) {
  EXPECT_EQ(20, nc_request_body_size(2));
  EXPECT_EQ(12, nc_request_body_size(171));
  EXPECT_EQ(124, nc_request_body_size(162));
  EXPECT_EQ(0, nc_request_body_size(153));
  EXPECT_EQ(5, nc_speed_byte(5));
  EXPECT_EQ(0x84, nc_speed_byte(-4));
  uint8_t b[12];
  nc_record_state_body(false, b);
  EXPECT_EQ(0xFF, b[0]);
  EXPECT_EQ('r', b[8]);
  nc_leave_body(b);
  EXPECT_EQ(4, b[8]);
  EXPECT_EQ(2, b[11]);
  nc_ptz_body(40, '3', 10, 10, b);  // a channel beyond the mask width sets no bit
  EXPECT_EQ(0u, uint32_t(b[0] | b[1] | b[2] | b[3]));
}

}  // namespace
