// What the E-Map window decides without GTK: hit tests, the markers a DVR event makes
// blink, the spot window's command line, and the map and marker changes as emap.cfg text.
#include "tool/emap/emap_model.h"

#include "client/foundation/config/mailslot.h"
#include "tests/tool/tool_fixture.h"

namespace {

const char* kDeviceCfg =
    "[EMAP_DEVICE]\n"
    "camera,24,24,0,0,0,0,horizontal,1,2,3,4,5\n"
    "sensor,24,24,0,0,120,0,horizontal,1,2,3,4,5\n"
    "relay,24,24,0,0,240,0,horizontal,1,2,3,4,5\n";

const char* kEmapCfg =
    "[Lobby]\ndvr_name=Lobby\nnum_map=2"
    "\nmap_image_1=.\\emap\\floor1.jpg\nmap_name_1=Ground floor\n"
    "map_devices_1=100,100,C,0,1~~300,40,C,0,3~~200,220,S,0,1"
    "\nmap_image_2=.\\emap\\floor2.jpg\nmap_name_2=Roof\nmap_devices_2=0\n\n"
    "[Gate 2]\ndvr_name=Gate 2\nnum_map=0\n\n"
    "[Yard]\ndvr_name=Yard\nnum_map=0\n\n"
    "[GROUP]\nnum_group=2\n\n"
    "[GROUP_1]\ngroup_name=Entrances\ndvr_num=2\nemap_num=2\nLobby=5\nGate 2=1"
    "\nmap_image_1=.\\emap\\site.jpg\nmap_name_1=Site\nmap_devices_1=50,60,C,2,1~~70,80,S,2,4~~9,9,"
    "C,33,1"
    "\nmap_image_2=.\\emap\\roof.jpg\nmap_name_2=Ground floor\nmap_devices_2=100,100,C,1,1\n\n"
    "[GROUP_2]\ngroup_name=Wide\ndvr_num=1\nemap_num=0\nYard=2147483649\n\n";

class EmapModel : public ToolDir {
 protected:
  void SetUp() override {
    ToolDir::SetUp();
    load(fixture_setup_cfg());
    write("device.cfg", kDeviceCfg);
    ASSERT_EQ(load_device_cfg("device.cfg"), 0);
    write("emap.cfg", kEmapCfg);
    ASSERT_EQ(load_emap_info("emap.cfg"), 0);
  }
  // Applies a change through the one writer; the file's text afterwards.
  template <typename F>
  std::string change(F f) {
    std::string why;
    EXPECT_EQ(rewrite_emap_cfg(f, nullptr, &why), 0) << why;
    return read("emap.cfg");
  }
  static std::string devices_line(const std::string& text, const std::string& key) {
    size_t at = text.find(key + "=");
    return at == std::string::npos
               ? ""
               : text.substr(at + key.size() + 1, text.find('\n', at) - at - key.size() - 1);
  }
  static EVENT_NOTICE notice(const char* dvr, uint8_t kind, uint32_t motion, uint32_t sensor) {
    EVENT_NOTICE n;
    snprintf(n.dvr_name, sizeof n.dvr_name, "%s", dvr);
    n.kind = kind;
    n.mask_motion = motion;
    n.mask_sensor = sensor;
    return n;
  }
};

TEST_F(EmapModel, hit_tests_cover_the_marker_square_and_skip_members_without_a_sheet) {
  MarkerHit hit;
  const EmapTables& t = emap_tables();
  for (int d : {-12, 12}) {
    EXPECT_EQ(find_marker_in(t, "Lobby", "Ground floor", 100 + d, 100 + d, &hit), 1);
    EXPECT_EQ(hit.kind, EMAP_CAMERA);
    EXPECT_EQ(hit.ch, 1);
    EXPECT_EQ(hit.entry, 0);
  }
  EXPECT_EQ(find_marker_in(t, "Lobby", "Ground floor", 87, 100, &hit), 0);
  EXPECT_EQ(find_marker_in(t, "Lobby", "Ground floor", 113, 100, &hit), 0);
  EXPECT_EQ(find_marker_in(t, "Lobby", "Roof", 100, 100, &hit), 0);
  // The same map name of another target is not the shown map.
  EXPECT_EQ(find_marker_in(t, "Entrances", "Site", 70, 80, &hit), 1);
  EXPECT_EQ(hit.kind, EMAP_SENSOR);
  EXPECT_EQ(hit.dvr, 2);
  EXPECT_EQ(hit.sheet, 2);
  EXPECT_EQ(hit.entry, 32 + 3);
  // Member 33 indexes no sheet: never hit, never drawn.
  EXPECT_EQ(find_marker_in(t, "Entrances", "Site", 9, 9, &hit), 0);
  EXPECT_EQ(marker_entry(EMAP_CAMERA, marker_item{0, 0, 1, 33}), -1);
  EXPECT_EQ(marker_entry(EMAP_RELAY, marker_item{0, 0, 33, 0}), -1);

  imgmap_info e = get_device_table(0)[0];
  e.x = e.y = 100;
  EXPECT_TRUE(device_covers(e, 89, 89) && device_covers(e, 113, 113));
  EXPECT_FALSE(device_covers(e, 88, 100) || device_covers(e, 100, 114));
}

TEST_F(EmapModel, notices_blink_only_the_start_targets_shown_map_and_channels_in_range) {
  const EmapTables& t = emap_tables();
  bool found = false;
  auto spots = notice_alarms(t, "Lobby", "Lobby", "Ground floor", notice("Lobby", 0x02, 0x5, 0), 4,
                             4, &found);
  ASSERT_TRUE(found);
  ASSERT_EQ(spots.size(), 2u);
  EXPECT_EQ(spots[0].entry, 0);
  EXPECT_EQ(spots[1].entry, 2);
  EXPECT_EQ(spots[0].sheet, 0);
  // Channel bits at or above the DVR's count, or at 32 and above, are ignored.
  EXPECT_TRUE(notice_alarms(t, "Lobby", "Lobby", "Ground floor",
                            notice("Lobby", 0x02, 0xFFFFFFF0u, 0), 40, 4, &found)
                  .empty());
  EXPECT_TRUE(notice_alarms(t, "Lobby", "Lobby", "Ground floor", notice("Lobby", 0x02, 0x4, 0), 2,
                            4, &found)
                  .empty());
  // A sensor notice leaves the cameras alone.
  spots = notice_alarms(t, "Lobby", "Lobby", "Ground floor", notice("Lobby", 0x20, 0x1, 0x1), 4, 4,
                        &found);
  ASSERT_EQ(spots.size(), 1u);
  EXPECT_EQ(spots[0].entry, 32);
  // Not the start target: nothing, and said so.
  EXPECT_TRUE(
      notice_alarms(t, "Lobby", "Lobby", "Ground floor", notice("Yard", 0x02, 1, 0), 4, 4, &found)
          .empty());
  EXPECT_FALSE(found);
  // The start target's notice while another target's map of the same name is shown.
  EXPECT_TRUE(notice_alarms(t, "Lobby", "Entrances", "Ground floor", notice("Lobby", 0x02, 1, 0), 4,
                            4, &found)
                  .empty());
  EXPECT_TRUE(found);

  // Group: member 2 (Gate 2, mask 1) sensor 4 lies outside its mask; member 1 blinks on sheet 1.
  EXPECT_TRUE(notice_alarms(t, "Entrances", "Entrances", "Site", notice("Gate 2", 0x20, 0, 0x8), 4,
                            4, &found)
                  .empty());
  EXPECT_TRUE(found);
  spots = notice_alarms(t, "Entrances", "Entrances", "Ground floor", notice("Lobby", 0x02, 0x1, 0),
                        4, 4, &found);
  ASSERT_EQ(spots.size(), 1u);
  EXPECT_EQ(spots[0].sheet, 1);
  EXPECT_EQ(spots[0].entry, 0);
}

TEST_F(EmapModel, spot_command_line_numbers_and_group_members) {
  EXPECT_EQ(spot_window_argv("/opt/v/vigilo", "Lobby", 3, "admin", "pass word"),
            (std::vector<std::string>{"/opt/v/vigilo", "-ALobby", "-k", "-e", "-v8", "-w0,0",
                                      "-uadmin,pass word", "-m2"}));
  EXPECT_EQ(spot_window_argv("v", "Gate 2", 31, "a", "b")[4], "-v2147483648");
  EXPECT_TRUE(spot_window_argv("v", "Lobby", 32, "a", "b").empty());
  EXPECT_EQ(group_member_name(emap_tables(), "Entrances", 2), "Gate 2");
  EXPECT_EQ(group_member_name(emap_tables(), "Entrances", 3), "");

  SetupSnapshot s = take_setup_snapshot();
  EXPECT_EQ(device_number_items(s, "Lobby", "No."),
            (std::vector<std::string>{"No. 1", "No. 2", "No. 3", "No. 4"}));
  // Lobby=5 (channels 1 and 3), Gate 2=1 (channel 1).
  std::vector<std::string> items = device_number_items(s, "Entrances", "No.");
  EXPECT_EQ(items, (std::vector<std::string>{"DVR1_No.1", "DVR1_No.3", "DVR2_No.1"}));
  int member = 0, ch = 0;
  ASSERT_EQ(parse_device_number_item(items[1], 1, true, &member, &ch), 0);
  EXPECT_EQ(member, 1);
  EXPECT_EQ(ch, 3);
  ASSERT_EQ(parse_device_number_item("No. 4", 3, false, &member, &ch), 0);
  EXPECT_EQ(member, 0);
  EXPECT_EQ(ch, 4);
  EXPECT_EQ(parse_device_number_item("No 4", 0, true, &member, &ch), -1);
}

TEST_F(EmapModel, map_add_edit_and_delete_as_file_text) {
  const EmapTables& t = emap_tables();
  EXPECT_EQ(check_map_free(t, "Lobby", "Roof", "x.jpg", nullptr, "is already placed."),
            "\nRoofis already placed.");
  EXPECT_EQ(check_map_free(t, "Lobby", "New", ".\\emap\\floor2.jpg", nullptr, "x"),
            "\nMap already exist");
  EXPECT_EQ(check_map_free(t, "Gate 2", "Roof", ".\\emap\\floor2.jpg", nullptr, "x"), "");
  // An edit that keeps its own name and picture passes; another map's name does not.
  EXPECT_EQ(check_map_free(t, "Lobby", "Roof", ".\\emap\\floor2.jpg", "Roof", "x"), "");
  EXPECT_EQ(check_map_free(t, "Lobby", "Ground floor", "y.jpg", "Roof", "is here"),
            "\nGround floor is here");

  std::string text =
      change([](EmapTables& e) { add_map(e, "Gate 2", "Gate", ".\\emap\\gate.jpg"); });
  EXPECT_NE(text.find("[Gate 2]\ndvr_name=Gate 2\nnum_map=1\nmap_image_1=.\\emap\\gate.jpg\n"
                      "map_name_1=Gate\nmap_devices_1=0\n\n"),
            std::string::npos);
  text = change([](EmapTables& e) { edit_map(e, "Lobby", "Roof", "Top", ".\\emap\\top.jpg"); });
  EXPECT_NE(text.find("map_image_2=.\\emap\\top.jpg\nmap_name_2=Top\nmap_devices_2=0"),
            std::string::npos);
  text = change([](EmapTables& e) { delete_map(e, "Lobby", "Ground floor"); });
  EXPECT_NE(
      text.find("[Lobby]\ndvr_name=Lobby\nnum_map=1\nmap_image_1=.\\emap\\top.jpg\nmap_name_1=Top"),
      std::string::npos);
  text = change([](EmapTables& e) { delete_map(e, "Entrances", "Site"); });
  EXPECT_NE(text.find("emap_num=1\nLobby=5\nGate 2=1\nmap_image_1=.\\emap\\roof.jpg"),
            std::string::npos);
}

TEST_F(EmapModel, markers_are_placed_replaced_and_removed_as_file_text) {
  EXPECT_EQ(
      check_device_free(emap_tables(), "Lobby", EMAP_CAMERA, 0, 3, "Camera", "is already placed."),
      "\nCamera 3 is already placed.");
  EXPECT_EQ(
      check_device_free(emap_tables(), "Entrances", EMAP_SENSOR, 2, 4, "Sensor", "is placed."),
      "\nSensor DVR2-4 is placed.");
  EXPECT_EQ(check_device_free(emap_tables(), "Lobby", EMAP_CAMERA, 0, 2, "Camera", "x"), "");

  // The first marker of an empty map takes the place of its "0".
  std::string text = change(
      [](EmapTables& e) { place_marker(e, "Lobby", "Roof", nullptr, EMAP_CAMERA, 0, 3, 40, 50); });
  EXPECT_EQ(devices_line(text, "map_devices_2"), "40,50,C,0,3");
  text = change(
      [](EmapTables& e) { place_marker(e, "Lobby", "Roof", nullptr, EMAP_RELAY, 0, 2, 60, 70); });
  EXPECT_EQ(devices_line(text, "map_devices_2"), "40,50,C,0,3~~60,70,R,0,2");

  // A camera replaced by sensor 2 at the clicked position.
  MarkerHit hit;
  ASSERT_EQ(find_marker_in(emap_tables(), "Lobby", "Ground floor", 300, 40, &hit), 1);
  text = change([&](EmapTables& e) {
    place_marker(e, "Lobby", "Ground floor", &hit, EMAP_SENSOR, 0, 2, 310, 45);
  });
  EXPECT_EQ(devices_line(text, "map_devices_1"), "100,100,C,0,1~~200,220,S,0,1~~310,45,S,0,2");

  // Removing the only marker of a map writes the empty mark.
  ASSERT_EQ(find_marker_in(emap_tables(), "Entrances", "Ground floor", 100, 100, &hit), 1);
  text = change([&](EmapTables& e) { remove_marker(e, "Entrances", "Ground floor", hit); });
  EXPECT_EQ(devices_line(text.substr(text.find("[GROUP_1]")), "map_devices_2"), "0");
  // Group markers keep their member.
  text = change([](EmapTables& e) {
    place_marker(e, "Entrances", "Ground floor", nullptr, EMAP_CAMERA, 1, 3, 5, 6);
  });
  EXPECT_EQ(devices_line(text.substr(text.find("[GROUP_1]")), "map_devices_2"), "5,6,C,1,3");
}

}  // namespace
