// What the Client Setup forms decide before anything is written: the checks in their
// order, the texts that would not load back, masks and labels, and the lines they write.
#include <cstring>

#include "tests/tool/tool_fixture.h"
#include "tool/module/gui_setup/dvr_form_model.h"
#include "tool/module/gui_setup/group_form_model.h"
#include "tool/module/gui_setup/setup_checks.h"
#include "tool/module/gui_setup/system_email_model.h"
#include "tool/module/gui_setup/user_form_model.h"

namespace {

std::string key_of(const std::optional<LabelKey>& k) { return k ? k->key : "none"; }

TEST(FieldChecks, digits_addresses_and_ports) {
  struct Case {
    const char* text;
    int digits, ipv4, port;
  } cases[] = {
      {"0815", 1, 0, 1},      {"12a", 0, 0, 0},          {"-1", 0, 0, 0},
      {"", 0, 0, 0},          {"192.168.0.10", 0, 1, 0}, {"10.0.0.01", 0, 1, 0},
      {"0.1.2.3", 0, 0, 0},   {".1.2.3", 0, 0, 0},       {"1.2.3", 0, 0, 0},
      {"1..2.3", 0, 0, 0},    {"1.2.3.", 0, 0, 0},       {"1.2.3.256", 0, 0, 0},
      {"256.1.1.1", 0, 0, 0}, {"1.2.3.4 ", 0, 0, 0},     {"00000", 1, 0, 0},
      {"65535", 1, 0, 1},     {"65536", 1, 0, 0},        {"02200", 1, 0, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_digit_string(c.text), c.digits) << c.text;
    EXPECT_EQ(is_valid_ipv4(c.text), c.ipv4) << c.text;
    EXPECT_EQ(is_valid_port_text(c.text), c.port) << c.text;
  }
  // The whole text counts, however long.
  EXPECT_EQ(is_digit_string((std::string(150, '1') + "a").c_str()), 0);
}

TEST(FieldChecks, texts_the_reader_would_not_give_back_are_refused) {
  struct Case {
    const char* text;
    unsigned rules;
    int ok;
  } cases[] = {
      {"Main hall", kAnyText, 1},
      {"a\tb", kAnyText, 0},
      {"a\nb", kAnyText, 0},
      {"a\rb", kAnyText, 0},
      {" lead", kAnyText, 0},
      // A header counts only as a line of its own: inside a line it is data, and a text
      // opening a line is followed by its '='. Only one that still makes a header is refused.
      {"Hall [GROUP_1] east", kAnyText, 1},
      {"[RESOLUTION]", kAnyText, 1},
      {"[USER];x", kAnyText, 0},
      {"[SYSTEM] # note", kAnyText, 0},
      {"a[b", kAnyText, 1},
      {"a[b", kNoBracket, 0},
      {"a,b", kNoComma, 0},
      {"a\"b", kNoQuote, 0},
      {"a b", kNoBlank, 0},
      {"a=b", kNoEquals, 0},
      {"trail ", kNoTrailingBlank, 0},
      {"", kNotEmpty, 0},
      {"", kAnyText, 1},
      {"=x", kNoLeadingEquals, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(is_storable_text(c.text, c.rules), c.ok) << c.text;
}

class FormModels : public ToolDir {
 protected:
  void SetUp() override {
    ToolDir::SetUp();
    load(fixture_setup_cfg());
    s = take_setup_snapshot();
    init_camera_name_table();
  }
  static DvrFormData complete_dvr(bool edit) {
    DvrFormData f;
    f.edit = edit;
    f.old_name = edit ? "Lobby" : "";
    f.name = edit ? "Lobby" : "Hall";
    f.address = "192.168.0.20";
    f.user = "admin";
    f.password = "pw";
    f.video_port = "2200";
    f.location = "Hall";
    f.manager = "Cho";
    f.tel = "0123";
    f.police = "112";
    f.fire = "119";
    return f;
  }
  SetupSnapshot s;
};

TEST_F(FormModels, dvr_checks_report_the_first_failure_in_the_form_order) {
  struct Case {
    const char* what;
    void (*change)(DvrFormData&);
    const char* add_key;
    const char* edit_key;
  } cases[] = {
      {"complete", [](DvrFormData&) {}, "none", "none"},
      {"33-digit telephone", [](DvrFormData& f) { f.tel = std::string(33, '1'); }, "txt_STR_ERROR",
       "txt_STR_ERROR"},
      {"32-digit telephone", [](DvrFormData& f) { f.tel = std::string(32, '1'); }, "none", "none"},
      {"no user, no location",
       [](DvrFormData& f) {
         f.user.clear();
         f.location.clear();
       },
       "txt_NO_USERNAME", "txt_INSERT_LOCATION"},
      {"no manager", [](DvrFormData& f) { f.manager.clear(); }, "txt_NO_MGR_NAME",
       "txt_NO_MANAGERNAME"},
      {"no fire number", [](DvrFormData& f) { f.fire.clear(); }, "txt_NO_FIREDEPT_NO",
       "txt_NO_FIREDEPTNO"},
      {"name of another DVR", [](DvrFormData& f) { f.name = "Yard"; }, "txt_DVR_EXIST",
       "txt_DVR_EXIST"},
      {"name of a group", [](DvrFormData& f) { f.name = "Entrances"; }, "txt_DVR_UNIQUE",
       "txt_DVR_UNIQUE"},
      {"port 22a0", [](DvrFormData& f) { f.video_port = "22a0"; }, "txt_ERROR_VIDEO",
       "txt_ERROR_VIDEO"},
      {"port 0", [](DvrFormData& f) { f.video_port = "0"; }, "txt_ERROR_VIDEO", "txt_ERROR_VIDEO"},
      {"port 65536", [](DvrFormData& f) { f.video_port = "65536"; }, "txt_ERROR_VIDEO",
       "txt_ERROR_VIDEO"},
      {"bad address", [](DvrFormData& f) { f.address = "1.2.3"; }, "txt_ERROR_IP", "txt_ERROR_IP"},
      {"host name",
       [](DvrFormData& f) {
         f.mode_row = kModeName;
         f.address = "cam.example";
       },
       "none", "none"},
      {"letters in police", [](DvrFormData& f) { f.police = "11x"; }, "txt_ERROR_POLICE_NO",
       "txt_ERROR_POLICE_NO"},
      {"'=' in the name", [](DvrFormData& f) { f.name = "a=b"; }, "txt_STR_ERROR", "txt_STR_ERROR"},
      {"trailing blank in the name", [](DvrFormData& f) { f.name = "Hall "; }, "txt_STR_ERROR",
       "txt_STR_ERROR"},
      {"',' in the user", [](DvrFormData& f) { f.user = "a,b"; }, "txt_STR_ERROR", "txt_STR_ERROR"},
      {"'\"' in the location", [](DvrFormData& f) { f.location = "a\"b"; }, "txt_STR_ERROR",
       "txt_STR_ERROR"},
      {"header inside the manager", [](DvrFormData& f) { f.manager = "x[USER]"; }, "none", "none"},
      {"header line as the manager", [](DvrFormData& f) { f.manager = "[USER] ;x"; },
       "txt_STR_ERROR", "txt_STR_ERROR"},
  };
  for (const Case& c : cases) {
    for (bool edit : {false, true}) {
      DvrFormData f = complete_dvr(edit);
      c.change(f);
      EXPECT_EQ(key_of(check_dvr_form(f, s)), edit ? c.edit_key : c.add_key)
          << c.what << (edit ? " (edit)" : " (add)");
    }
  }
  DvrFormData f = complete_dvr(false);
  strcpy(camera_name_table[kDefaultDvrModelRow][2], "");
  EXPECT_EQ(key_of(check_dvr_form(f, s)), "txt_STR_ERROR") << "an empty camera name";
  strcpy(camera_name_table[kDefaultDvrModelRow][2], "a,b");
  EXPECT_EQ(key_of(check_dvr_form(f, s)), "txt_STR_ERROR") << "',' in a camera name";
}

TEST_F(FormModels, dvr_form_lines_follow_the_chosen_model) {
  DvrFormData f = complete_dvr(false);
  f.video_port = "02200";
  std::string line = dvr_form_line(f);
  EXPECT_EQ(line.rfind("Hall=MW-2606QTR14,192.168.0.20,3490,02200,3492,9205,9203,80,9202,IP,4,"
                       "\"Hall\",\"Cho\",\"0123\",\"112\",\"119\",CHANNEL  1,CHANNEL  2,CHANNEL  3,"
                       "CHANNEL  4,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,"
                       "admin,",
                       0),
            0u)
      << line;
  f.model_row = 0;
  EXPECT_NE(dvr_form_line(f).find("=TALVE8,"), std::string::npos);
  EXPECT_NE(dvr_form_line(f).find(",1,\"Hall\",\"Cho\",\"0123\",\"112\",\"119\",CHANNEL ALL,NULL,"),
            std::string::npos);
  f.model_row = 3;
  f.mode_row = kModeDdns;
  line = dvr_form_line(f);
  EXPECT_NE(line.find("MW-2606QA14"), std::string::npos);
  EXPECT_NE(line.find(",DDNS,4,"), std::string::npos) << "QA14 is written with 4 channels";
  EXPECT_NE(line.find("CHANNEL 16,admin"), std::string::npos) << "and offers 16 cameras";
}

TEST_F(FormModels, editing_loads_every_stored_camera_name_into_the_row_it_shows) {
  // "Yard" is a QA14 stored with channel count 4 and 16 names: the form shows row 3.
  const RC_DVR_INFO& yard = s.dvr[2];
  int row = dvr_model_row(yard.model);
  ASSERT_EQ(row, 3);
  load_dvr_camera_names(yard, row);
  DvrFormData f = complete_dvr(true);
  f.old_name = f.name = "Yard";
  f.model_row = row;
  f.video_port = "9010";
  f.user = yard.username;
  f.password = yard.password;
  f.address = yard.ipaddress;
  f.location = yard.location;
  f.manager = yard.manager;
  f.tel = yard.tel_no;
  f.police = yard.police_no;
  f.fire = yard.fire_dept_no;
  std::string text = compose_dvr_edit(f, s, kDvrCommentLine);
  EXPECT_NE(text.find(compose_setup_cfg(s).substr(compose_setup_cfg(s).find("Yard="), 200)),
            std::string::npos)
      << "saving unchanged writes the stored line";
  EXPECT_EQ(dvr_model_row("FOO"), kDefaultDvrModelRow);
  EXPECT_EQ(dvr_model_row("TALVE8"), 0);
}

TEST_F(FormModels, deletes_find_their_records_by_key_and_write_each_once) {
  // Rows find their records in a newer load by key and occurrence; records no row shows
  // (written by another program since the fill) follow.
  const std::vector<std::string> now = {"New", "Lobby", "Gate 2", "Lobby", "Yard"};
  struct Case {
    std::vector<RowKey> left, deleted;
    std::vector<int> want;
  } cases[] = {
      {{{"Yard", 0}, {"Lobby", 0}, {"Lobby", 1}}, {{"Gate 2", 0}}, {4, 1, 3, 0}},
      {{{"Lobby", 0}, {"Gone", 0}}, {{"Lobby", 1}, {"Yard", 0}}, {1, 0, 2}},
  };
  for (const Case& c : cases) EXPECT_EQ(records_after_delete(now, c.left, c.deleted), c.want);

  // Two records of one name: each row's own record is written, neither twice.
  s.dvr[2] = s.dvr[0];
  std::string text = compose_dvr_delete({2, 1}, s, kDvrCommentLine);
  EXPECT_NE(text.find("num_dvr=2\n"), std::string::npos);
  size_t first = text.find("\nLobby=MW");
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(text.find("\nLobby=MW", first + 1), std::string::npos);
  text = compose_group_delete({1}, s);
  EXPECT_NE(text.find("num_group=1\n\n[GROUP_1]\ngroup_name=Wide\n"), std::string::npos);
  text = compose_user_delete({2, 0}, s);
  EXPECT_NE(text.find("num_user=2\nop=Operator One"), std::string::npos);
}

TEST_F(FormModels, group_masks_and_labels) {
  const std::string cam = std::string(get_label_text("txt_CAMERANO"));
  GroupFormData f;
  f.name = "Ends";
  f.rows = {"Lobby:" + cam + " 1", "Lobby:" + cam + " 16",
            "Gate 2:" + std::string(get_label_text("txt_CAMERAALL"))};
  // Lobby has 4 channels: camera 16 is no camera of it.
  GroupMembers m = group_members_from_rows(f.rows, s);
  ASSERT_EQ(m.member.size(), 2u);
  EXPECT_EQ(m.mask[0], 0x1u);
  EXPECT_EQ(m.mask[1], 0x1u) << "an 'S' DVR's camera has its index bit";
  s.dvr[0].num_video = 16;
  EXPECT_EQ(group_members_from_rows(f.rows, s).mask[0], 0x8001u);
  EXPECT_NE(compose_group_add(f, s).find("\nLobby=8001\n"), std::string::npos);

  SetupGroup stored{"G", {"Lobby"}, {'Q'}, {0x5}};
  std::vector<std::string> rows = group_rows_from_masks(stored);
  EXPECT_EQ(rows, (std::vector<std::string>{"Lobby:" + cam + " 3", "Lobby:" + cam + " 1"}));
  stored.mask[0] = 0x80000000u;
  EXPECT_EQ(group_rows_from_masks(stored), std::vector<std::string>{"Lobby:" + cam + " 32"});

  // A model the store does not know is a single-stream DVR to the tool.
  std::string cfg = fixture_setup_cfg();
  cfg.replace(cfg.find("Yard=MW-2606QA14"), 16, "Yard=XR-9");
  load(cfg);
  const SetupSnapshot unknown = take_setup_snapshot();
  EXPECT_EQ(unknown.dvr[2].protocol, 'S');
  EXPECT_EQ(group_rows_from_masks(unknown.group[1]).back(),
            "Yard:" + std::string(get_label_text("txt_CAMERAALL")));
}

TEST_F(FormModels, group_checks_in_order_and_a_group_without_current_cameras) {
  const std::string cam = std::string(get_label_text("txt_CAMERANO"));
  struct Case {
    const char* name;
    std::vector<std::string> rows;
    bool edit;
    const char* key;
  } cases[] = {
      {"", {"Lobby:" + cam + " 1"}, false, "txt_NO_GNAME"},
      {"New", {}, false, "txt_NO_CAMS"},
      {"Wide", {"Lobby:" + cam + " 1"}, false, "txt_GROUP_EXIST"},
      {"Yard", {"Lobby:" + cam + " 1"}, false, "txt_GROUP_UNIQUE"},
      {"Entrances", {"Lobby:" + cam + " 1"}, true, "none"},
      {"New", {"Gone:" + cam + " 1"}, false, "txt_NO_CAMS"},
      {"=New", {"Lobby:" + cam + " 1"}, false, "txt_STR_ERROR"},
  };
  for (const Case& c : cases) {
    GroupFormData f{c.edit, "Entrances", c.name, c.rows};
    EXPECT_EQ(key_of(check_group_form(f, s)), c.key) << c.name;
  }
  GroupFormData f{false, "", std::string(131, 'g'), {"x"}};
  EXPECT_EQ(key_of(check_group_form(f, s)), "txt_STR_ERROR");
}

TEST_F(FormModels, account_checks_in_order_and_the_lines_they_write) {
  struct Case {
    const char* what;
    bool edit;
    void (*change)(UserFormData&);
    const char* key;
  } cases[] = {
      {"complete", false, [](UserFormData&) {}, "none"},
      {"taken id before wrong confirmation", false,
       [](UserFormData& f) {
         f.id = "op";
         f.confirm = "x";
       },
       "txt_USER_EXIST"},
      {"wrong confirmation before taken id", true,
       [](UserFormData& f) {
         f.id = "op";
         f.confirm = "x";
       },
       "txt_CONFIRMPASS"},
      {"16 characters, 32 bytes", false,
       [](UserFormData& f) {
         f.password = f.confirm =
             "\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3"
             "\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4\xc3\xa4";
       },
       "txt_STR_ERROR"},
      {"no e-mail", false, [](UserFormData& f) { f.email.clear(); }, "txt_NO_EMAIL"},
      {"blank in the id", false, [](UserFormData& f) { f.id = "a b"; }, "txt_STR_ERROR"},
      {"',' in the full name", false, [](UserFormData& f) { f.fullname = "Kim, J"; },
       "txt_STR_ERROR"},
      {"blank in the e-mail", false, [](UserFormData& f) { f.email = "a b@x"; }, "txt_STR_ERROR"},
  };
  for (const Case& c : cases) {
    UserFormData f{c.edit, "admin", kLevelNormal, "new", "New One", "pw", "pw", "n@x", 0x21};
    c.change(f);
    EXPECT_EQ(key_of(check_user_form(f, s)), c.key) << c.what;
  }
  UserFormData f{false, "", kLevelNormal, "new", "New One", "pw", "pw", "n@x", 0x21};
  std::string text = compose_user_add(f, s);
  EXPECT_NE(text.find("num_user=4\n"), std::string::npos);
  EXPECT_NE(text.find("\nnew=New One, " + enc("pw") + " ,2, " + enc("21") + " , " +
                      enc("FFFFFFFF") + " ,n@x\n"),
            std::string::npos);
  f = {true, "op", kLevelAdmin, "op", "Op", "pw", "pw", "op@x", kAllRights};
  text = compose_user_edit(f, s);
  EXPECT_NE(
      text.find("\nop=Op, " + enc("pw") + " ,1, " + enc("3FF") + " , " + enc("7") + " ,op@x\n"),
      std::string::npos)
      << "an edit keeps the stored second rights field";
  EXPECT_TRUE(is_privileged_account("Tovek"));
  EXPECT_FALSE(is_privileged_account("TOVEK"));
}

TEST_F(FormModels, system_and_email_pages_keep_their_sections_loadable) {
  SystemPageData p;
  p.cycle_time = "2";
  p.rec_path = "./rec/";
  std::string text = compose_system_save(p, s);
  EXPECT_NE(text.find("\ncycle_time=3\n"), std::string::npos);
  EXPECT_NE(text.find("\nmotion_wav=wave\\ding2.wav\n"), std::string::npos)
      << "a list with nothing chosen writes the loaded value";
  EXPECT_NE(text.find("\nbuf_level= 0.50\nenable_debug=0\nenable_log=1\nenable_mail=0\n"
                      "log_path=./logs/\n"),
            std::string::npos);
  p.cycle_time = "999";
  EXPECT_NE(compose_system_save(p, s).find("\ncycle_time=255\n"), std::string::npos);
  EXPECT_EQ(alarm_sound_row(kMotionSounds, "motion.wav"), 0);
  struct Case {
    const char* cycle;
    std::string rec_path;
    const char* key;
  } cases[] = {{"", "./r/", "txt_NO_CDT"},
               {"5", "", "txt_NO_RECPATH"},
               {"5", std::string(256, 'r'), "txt_STR_ERROR"},
               {"5", std::string(255, 'r'), "none"},
               {"5", "a\tb", "txt_STR_ERROR"}};
  for (const Case& c : cases) {
    SystemPageData d;
    d.cycle_time = c.cycle;
    d.rec_path = c.rec_path;
    EXPECT_EQ(key_of(check_system_page(d)), c.key) << c.rec_path.size();
  }

  EmailPageData m;
  m.to = std::string(60, 't');
  m.delay = "007";
  EXPECT_EQ(key_of(check_email_page(m)), "none");
  text = compose_email_save(m, s);
  EXPECT_NE(text.find("\ndelay=007\n"), std::string::npos);
  EXPECT_NE(text.find("\nreceipient=" + std::string(60, 't') + "\n"), std::string::npos);
  for (const char* delay : {"1a", ""}) {
    m.delay = delay;
    EXPECT_EQ(key_of(check_email_page(m)), "txt_ERROR_DELAY") << delay;
  }
  m.delay = "1";
  m.subject = std::string(141, 's');
  EXPECT_EQ(key_of(check_email_page(m)), "txt_STR_ERROR");
}

}  // namespace
