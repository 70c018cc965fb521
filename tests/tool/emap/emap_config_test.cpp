// emap.cfg, device.cfg and remote-emap-buttons.cfg read and written as the E-Map and the
// DVR form rely on them.
#include "tool/emap/emap_config.h"

#include "tests/tool/tool_fixture.h"

namespace {

std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

// A file as sync_emap_cfg writes it for the fixture's setup.cfg.
const char* kEmapCfg =
    "[Lobby]\ndvr_name=Lobby\nnum_map=2"
    "\nmap_image_1=.\\emap\\floor1.jpg\nmap_name_1=Ground floor\n"
    "map_devices_1=120,80,C,0,1~~300,40,C,0,2~~200,220,S,0,1~~10,10,R,0,1"
    "\nmap_image_2=.\\emap\\floor2.jpg\nmap_name_2=Roof\nmap_devices_2=0\n\n"
    "[Gate 2]\ndvr_name=Gate 2\nnum_map=0\n\n"
    "[Yard]\ndvr_name=Yard\nnum_map=0\n\n"
    "[GROUP]\nnum_group=2\n\n"
    "[GROUP_1]\ngroup_name=Entrances\ndvr_num=2\nemap_num=1\nLobby=5\nGate 2=1"
    "\nmap_image_1=.\\emap\\site.jpg\nmap_name_1=Site\nmap_devices_1=5,6,C,1,3~~7,8,S,2,4\n\n"
    "[GROUP_2]\ngroup_name=Wide\ndvr_num=1\nemap_num=0\nYard=2147483649\n\n";

class EmapFiles : public ToolDir {
 protected:
  std::string rewrite(const SetupSnapshot* members) {
    std::string text, why;
    EXPECT_EQ(compose_emap_cfg(copy_emap_tables(), members, &text, &why), 0) << why;
    return text;
  }
};

TEST_F(EmapFiles, a_crlf_file_reads_into_the_tables_and_writes_back_the_same_text) {
  write("emap.cfg", crlf(kEmapCfg));
  ASSERT_EQ(load_emap_info("emap.cfg"), 0);
  ASSERT_EQ(get_num_emap_dvr(), 3);
  ASSERT_EQ(get_num_emap_group(), 2);
  const emap_info& lobby = get_emap_info()[0];
  EXPECT_STREQ(lobby.map[0].map_image, ".\\emap\\floor1.jpg");
  EXPECT_EQ(emap_file_path(lobby.map[0].map_image), "./emap/floor1.jpg");
  EXPECT_EQ(lobby.map[0].camera_info.size(), 2u);
  EXPECT_EQ(lobby.map[0].relay_info[0].ch, 1);
  EXPECT_TRUE(lobby.map[1].camera_info.empty() && lobby.map[1].sensor_info.empty() &&
              lobby.map[1].relay_info.empty());
  const emap_group_info& entrances = get_emap_group_info()[0];
  EXPECT_EQ(entrances.dvr_name[1], "Gate 2");
  EXPECT_EQ(entrances.map[0].sensor_info[0].dvr, 2);
  EXPECT_EQ(entrances.map[0].sensor_info[0].ch, 4);
  EXPECT_EQ(get_emap_group_info()[1].channel_filter[0], 0x80000001u);
  EXPECT_EQ(rewrite(nullptr), kEmapCfg);
}

TEST_F(EmapFiles, sync_drops_removed_dvrs_and_groups_and_adds_new_ones_empty) {
  write("setup.cfg", fixture_setup_cfg());
  write("emap.cfg",
        "[Gone]\ndvr_name=Gone\nnum_map=1\nmap_image_1=a.jpg\nmap_name_1=A\nmap_devices_1=0\n\n"
        "[Lobby]\ndvr_name=Lobby\nnum_map=1\nmap_image_1=b.jpg\nmap_name_1=B\n"
        "map_devices_1=1,2,C,0,3\n\n[GROUP]\nnum_group=1\n\n"
        "[GROUP_1]\ngroup_name=Old\ndvr_num=1\nemap_num=0\nGone=1\n\n");
  std::string why;
  ASSERT_EQ(sync_emap_cfg(&why), 0) << why;
  EXPECT_EQ(read("emap.cfg"),
            "[Lobby]\ndvr_name=Lobby\nnum_map=1\nmap_image_1=b.jpg\nmap_name_1=B\n"
            "map_devices_1=1,2,C,0,3\n\n[Gate 2]\ndvr_name=Gate 2\nnum_map=0\n\n"
            "[Yard]\ndvr_name=Yard\nnum_map=0\n\n[GROUP]\nnum_group=2\n\n"
            "[GROUP_1]\ngroup_name=Entrances\ndvr_num=2\nemap_num=0\nLobby=5\nGate 2=1\n\n"
            "[GROUP_2]\ngroup_name=Wide\ndvr_num=1\nemap_num=0\nYard=2147483649\n\n");
  // With no emap.cfg the first rewrite creates one empty section per DVR and group.
  std::filesystem::remove(dir_ / "emap.cfg");
  ASSERT_EQ(sync_emap_cfg(), 0);
  EXPECT_EQ(get_num_emap_dvr(), 3);
  EXPECT_EQ(get_num_emap_group(), 2);
}

TEST_F(EmapFiles, a_renamed_dvr_keeps_its_maps_and_group_memberships) {
  write("emap.cfg", kEmapCfg);
  ASSERT_EQ(rewrite_emap_cfg([](EmapTables& t) { emap_rename_dvr(t, "Lobby", "Foyer"); }, nullptr,
                             nullptr),
            0);
  std::string text = read("emap.cfg");
  EXPECT_EQ(text.find("Lobby"), std::string::npos);
  EXPECT_EQ(text.rfind("[Foyer]\ndvr_name=Foyer\nnum_map=2\n", 0), 0u);
  EXPECT_NE(text.find("\nFoyer=5\nGate 2=1\nmap_image_1=.\\emap\\site.jpg"), std::string::npos);
}

TEST_F(EmapFiles, an_existing_file_that_does_not_load_is_never_rewritten) {
  const std::string broken = "[Lobby]\ndvr_name=Lobby\nnum_map=x\n[GROUP]\n";
  write("emap.cfg", broken);
  std::string why;
  EXPECT_EQ(rewrite_emap_cfg(nullptr, nullptr, &why), -1);
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(read("emap.cfg"), broken);
  write("setup.cfg", fixture_setup_cfg());
  EXPECT_EQ(sync_emap_cfg(), -1);
  EXPECT_EQ(read("emap.cfg"), broken);

  // Nor from a setup.cfg that does not load: a broken section leaves its table empty.
  write("emap.cfg", kEmapCfg);
  for (const auto& [from, to] :
       {std::pair<std::string, std::string>{"Gate 2=1\n", "Gone=1\n"}, {"[DVR]", "[DVX]"}}) {
    load(fixture_setup_cfg());
    std::string cfg = fixture_setup_cfg();
    cfg.replace(cfg.find(from), from.size(), to);
    write("setup.cfg", cfg);
    EXPECT_EQ(sync_emap_cfg(&why), -4) << to;
    EXPECT_EQ(read("emap.cfg"), kEmapCfg) << to;
  }
}

TEST_F(EmapFiles, what_loads_from_a_damaged_file_is_written_so_that_it_loads_back_the_same) {
  // NUL bytes where a power loss left zero-filled blocks: inside a name, a map line, a group
  // member, and as a tail.
  using namespace std::string_literals;
  const std::string cases[] = {
      "[Lobby]\ndvr_name=\0\2\0\0Lobby\nnum_map=0\n[GROUP]\nnum_group=0\n"s,
      "[Lobby]\ndvr_name=Lobby\nnum_map=1\nmap_image_1=a.jpg\nmap_name_1=\0B\nmap_devices_1=0\n"s,
      "[A]\ndvr_name=A\nnum_map=0\n[GROUP]\n[GROUP_1]\ngroup_name=G\ndvr_num=1\nemap_num=0\nA\0=1\n"s,
      kEmapCfg + std::string(64, '\0'),
  };
  for (const std::string& text : cases) {
    write("emap.cfg", text);
    if (load_emap_info("emap.cfg") != 0) continue;  // refused whole: the file stays as it is
    const std::string once = rewrite(nullptr);
    write("emap.cfg", once);
    ASSERT_EQ(load_emap_info("emap.cfg"), 0) << once;
    EXPECT_EQ(rewrite(nullptr), once);
  }
}

TEST_F(EmapFiles, limits_and_texts_that_would_not_read_back_are_refused_on_write) {
  write("emap.cfg", kEmapCfg);
  ASSERT_EQ(load_emap_info("emap.cfg"), 0);
  struct Case {
    const char* what;
    void (*change)(EmapTables&);
  } cases[] = {
      {"131 members",
       [](EmapTables& t) {
         t.group[0].dvr_name.assign(131, "Lobby");
         t.group[0].channel_filter.assign(131, 1);
       }},
      {"a marker list over 1026 characters",
       [](EmapTables& t) {
         t.dvr[0].map[0].camera_info.assign(120, marker_item{100, 100, 1, 0});
       }},
      {"1025 DVR sections", [](EmapTables& t) { t.dvr.resize(1025); }},
      {"a DVR named GROUP", [](EmapTables& t) { copy_field(t.dvr[1].dvr_name, "GROUP"); }},
      {"a map name with a line break",
       [](EmapTables& t) { copy_field(t.dvr[0].map[1].map_name, "Roof\n[GROUP]"); }},
      {"a member name opening a section", [](EmapTables& t) { t.group[1].dvr_name[0] = "[Yard"; }},
  };
  for (const Case& c : cases) {
    std::string why;
    EXPECT_EQ(rewrite_emap_cfg(c.change, nullptr, &why), -2) << c.what;
    EXPECT_FALSE(why.empty()) << c.what;
    EXPECT_EQ(read("emap.cfg"), kEmapCfg) << c.what;
  }
  // The forms refuse such texts before anything is written.
  EXPECT_NE(emap_dvr_name_refusal("GROUP"), nullptr);
  EXPECT_EQ(emap_dvr_name_refusal("GROUPS"), nullptr);
  for (const char* bad : {"a\nb", "a\rb", "a\tb", " a", "=a"}) {
    EXPECT_NE(emap_map_text_refusal(bad, "p.jpg"), nullptr) << bad;
    EXPECT_NE(emap_map_text_refusal("Roof", bad), nullptr) << bad;
  }
  EXPECT_EQ(emap_map_text_refusal("Ground floor = 1", ".\\emap\\a b.jpg"), nullptr);

  // Reading refuses a group with more members than the table holds.
  std::string many =
      "[A]\ndvr_name=A\nnum_map=0\n\n[GROUP]\nnum_group=1\n\n[GROUP_1]\n"
      "group_name=G\ndvr_num=131\nemap_num=0";
  for (int i = 0; i < 131; ++i) many += "\nA=1";
  write("emap.cfg", many);
  EXPECT_EQ(load_emap_info("emap.cfg"), -6);
}

TEST_F(EmapFiles, sprite_maps_place_every_frame_and_regions_are_checked_against_the_sheet) {
  write("device.cfg",
        "[EMAP_DEVICE]\r\ncamera,16,16,0,0,0,0,horizontal,1,2,3,4,4\r\n"
        "sensor,16,16,0,0,80,0,vertical,1,2,3,4,0\r\nrelay,8,8,0,0,0,512,horizontal,1,2,3,4,0\r\n"
        "extra,1,1,0,0,0,0,horizontal,1,2,3,4,0\r\n[END]\r\n");
  ASSERT_EQ(load_device_cfg("device.cfg"), 0);
  EXPECT_EQ(get_num_device_entries(), kEmapDeviceEntries);
  const imgmap_info& cam3 = get_device_table(0)[2];
  EXPECT_STREQ(cam3.name, "camera 0-3.");
  EXPECT_EQ(cam3.frame[2].x, 32);  // horizontal: frames along x, devices down
  EXPECT_EQ(cam3.frame[2].y, 32);
  EXPECT_EQ(find_state_frame(cam3, 4), 4) << "the last frame with the code";
  const imgmap_info& sensor2 = get_device_table(5)[32 + 1];
  EXPECT_STREQ(sensor2.name, "sensor 5-2.");
  EXPECT_EQ(sensor2.frame[1].x, 96);  // vertical: devices along x, frames down
  EXPECT_EQ(sensor2.frame[1].y, 16);
  EXPECT_EQ(get_device_table(33), nullptr);
  EXPECT_TRUE(sprite_frame_fits(cam3, 4, 80, 512));
  EXPECT_FALSE(sprite_frame_fits(cam3, 4, 79, 512));
  const imgmap_info& relay32 = get_device_table(0)[64 + 31];
  EXPECT_FALSE(sprite_frame_fits(relay32, 0, 512, 512)) << "y 512 + 31 rows lies below";

  write("remote-emap-buttons.cfg",
        "[BUTTONS]\nEMAP_CLOSE_BUTTON,990,5,20,20,0,0,horizontal,1,2,3,0,0\n"
        "EMAP_MINIMIZE_BUTTON,965,5,20,20,0,20,diagonal,1,2,3,0,0\n");
  ASSERT_EQ(load_emap_button_cfg("remote-emap-buttons.cfg"), 0);
  ASSERT_EQ(get_num_emap_buttons(), 2);
  EXPECT_STREQ(get_emap_button_info()[0].name, "EMAP_CLOSE_BUTTON");
  EXPECT_EQ(get_emap_button_info()[0].frame[2].x, 40);
  EXPECT_EQ(get_emap_button_info()[1].frame[1].y, 0) << "an unknown direction leaves (0, 0)";
  write("remote-emap-buttons.cfg", "[BUTTONS]\nEMAP_CLOSE_BUTTON,1,2\n");
  EXPECT_EQ(load_emap_button_cfg("remote-emap-buttons.cfg"), -6);
  EXPECT_EQ(load_device_cfg("missing.cfg"), -1);
}

}  // namespace
