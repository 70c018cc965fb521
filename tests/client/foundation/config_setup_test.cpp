// setup.cfg readers: fields, line ends, scanf-pattern quirks, failures and reload safety.
#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "client/foundation/config/setup_lookup.h"
#include "tests/client/foundation/config_test_support.h"

using namespace cfgtest;

namespace {

std::vector<std::string> texts_of_boxes() {
  std::vector<std::string> out;
  for (const auto& b : boxes()) out.push_back(b.substr(b.find(": ") + 2));
  return out;
}

// Every loaded table as bytes, so two loads can be compared whole.
std::string tables() {
  std::string s;
  auto add = [&s](const void* p, size_t n) { s.append(static_cast<const char*>(p), n); };
  add(get_dvr_table(), sizeof(RC_DVR_INFO) * get_num_dvr());
  add(get_user_table(), sizeof(RC_USER_INFO) * get_num_user());
  for (int i = 0; i < get_num_group(); ++i) {
    const RC_GROUP_INFO& g = get_group_table()[i];
    add(g.name, sizeof g.name);
    add(g.dvr_info, sizeof(RC_DVR_INFO) * g.num_dvr);
    add(g.channel_filter, sizeof(uint32_t) * g.num_dvr);
  }
  add(get_language_table(), sizeof(RC_FILE_INFO) * get_num_language());
  add(get_resolution_table(), sizeof(RC_FILE_INFO) * get_num_resolution());
  RC_SYSTEM_INFO sys;
  RC_EMAIL_INFO mail;
  copy_system_info(&sys);
  copy_email_info(&mail);
  add(&sys, sizeof sys);
  add(&mail, sizeof mail);
  return s;
}

}  // namespace

TEST_F(ConfigTest, full_file_fills_every_section) {
  ASSERT_EQ(load_text(base_text()), 0);
  EXPECT_TRUE(boxes().empty());
  EXPECT_EQ(app_quit.load(), 0);

  ASSERT_EQ(get_num_dvr(), 2);
  const RC_DVR_INFO& d = get_dvr_table()[0];
  EXPECT_STREQ(d.name, "Front Door");
  EXPECT_STREQ(d.model, "MW-2606QTR14");
  EXPECT_EQ(d.protocol, 'Q');
  const uint16_t ports[7] = {9101, 9102, 9103, 9104, 9105, 80, 9106};
  for (int p = 0; p < 7; ++p) EXPECT_EQ(d.port[p], ports[p]) << p;
  EXPECT_STREQ(d.host_type, "IP");
  EXPECT_EQ(d.num_video, 4);
  EXPECT_STREQ(d.camera_name[15], "C16");
  EXPECT_STREQ(d.username, "viewer");
  EXPECT_STREQ(d.password, "secret");
  EXPECT_EQ(get_dvr_table()[1].protocol, 'S');

  ASSERT_EQ(get_num_group(), 1);
  const RC_GROUP_INFO& g = get_group_table()[0];
  EXPECT_STREQ(g.name, "All Cams");
  ASSERT_EQ(g.num_dvr, 2);
  EXPECT_STREQ(g.dvr_info[1].password, "op");
  EXPECT_EQ(g.channel_filter[0], 0x5u);
  EXPECT_EQ(g.channel_filter[1], 0xFFu);

  ASSERT_EQ(get_num_user(), 2);
  const RC_USER_INFO& u = get_user_table()[0];
  EXPECT_STREQ(u.user, "alice");
  EXPECT_STREQ(u.password, "pw1");
  EXPECT_EQ(u.rights_mask1, 0x1Fu);
  EXPECT_EQ(u.rights_mask2, 0xFFFFFFFFu);
  EXPECT_EQ(get_user_table()[1].rights_mask1, 0u);

  RC_SYSTEM_INFO s;
  copy_system_info(&s);
  EXPECT_DOUBLE_EQ(get_buf_level(), 2.5);
  EXPECT_EQ(get_max_select(), -3);
  EXPECT_STREQ(s.resolution, "1024x768");
  EXPECT_EQ(s.relay_duration, 300u);
  EXPECT_STREQ(get_event_wav("motion"), "motion.wav");
  EXPECT_EQ(get_event_wav("Motion"), nullptr);

  RC_EMAIL_INFO m;
  copy_email_info(&m);
  EXPECT_STREQ(m.cc, "");
  EXPECT_STREQ(m.password, "plain pw");
  EXPECT_EQ(m.delay, 30u);

  ASSERT_EQ(get_num_language(), 2);
  ASSERT_EQ(get_num_resolution(), 2);
  EXPECT_STREQ(get_resolution_table()[1].path, "skin_small.cfg");
}

TEST_F(ConfigTest, crlf_or_reordered_files_load_the_same_tables) {
  std::string reordered = base_text();
  const size_t lang = reordered.find("[LANGUAGE]");
  reordered =
      reordered.substr(lang) + reordered.substr(0, lang);  // [GROUP_1] is followed by [USER]
  ASSERT_EQ(load_text(base_text()), 0);
  const std::string in_order = tables();
  // Blanks before a header, or a byte-order mark before the first, leave it a header.
  std::string indented = replace(base_text(), "\n[GROUP_1]", "\n \t[GROUP_1]");
  indented = replace(indented.substr(indented.find("[DVR]")), "\n[USER]", "\n  [USER]");
  indented = "\xEF\xBB\xBF" + indented;
  for (const std::string& text : {to_crlf(base_text()), reordered, indented}) {
    boxes().clear();
    ASSERT_EQ(load_text(text), 0);
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(tables(), in_order);  // passwords included: no '\r' is kept
  }
}

TEST_F(ConfigTest, empty_quoted_field_moves_later_fields_up) {
  std::string text = replace(base_text(), "\"Lobby\",\"Kim\"", "\"Lobby\",\"\",\"Kim\"");
  // The quoted fields now hold one value more than they have room for: "119" spills into
  // the first camera name and every camera name moves one place.
  text = replace(text, "\"119\",C1,", "\"119\",");
  ASSERT_EQ(load_text(text), 0);
  const RC_DVR_INFO& d = get_dvr_table()[0];
  EXPECT_STREQ(d.location, "Lobby");
  EXPECT_STREQ(d.manager, "Kim");
  EXPECT_STREQ(d.tel_no, "111");
  EXPECT_STREQ(d.police_no, "112");
  EXPECT_STREQ(d.fire_dept_no, "119");
  EXPECT_STREQ(d.camera_name[0], "C2");
}

struct LoadFailure {
  const char* name;
  const char* from;
  const char* to;
  int code;
  std::vector<std::string> messages;
};

TEST_F(ConfigTest, load_failures_show_their_messages_and_codes) {
  const LoadFailure cases[] = {
      // clang-format off
      {"no_dvr_header", "[DVR]\n", "[DVRS]\n", -5,
       {"Invalid setup.cfg:strstr(cfg, [DVR]) failed.\n", "load_dvr_info() failed.\n"}},
      {"dvr_count_key", "num_dvr=2", "num_dvrs=2", -5,
       {"Invalid setup.cfg:strcmp(item, num_dvr) failed.\n", "load_dvr_info() failed.\n"}},
      {"dvr_count_unparsable", "num_dvr=2", "num_dvr=x", -5,
       {"Invalid setup.cfg:sscanf() failed.\n", "load_dvr_info() failed.\n"}},
      {"dvr_count_negative", "num_dvr=2", "num_dvr=-1", -5,
       {"Invalid setup.cfg:num_dvr is negative.\n", "load_dvr_info() failed.\n"}},
      {"group_count_key", "num_group=1", "groups=1", -6,
       {"Invalid setup.cfg:strcmp(item, num_group) failed.\n", "load_group_info() failed.\n"}},
      {"group_member_unknown", "Yard=FF", "Shed=FF", -6,
       {"Invalid setup.cfg:group member not found in dvr list.\n", "load_group_details() failed.\n",
        "load_group_info() failed.\n"}},
      {"group_member_count_zero", "All Cams\nnum_dvr=2", "All Cams\nnum_dvr=0", -6,
       {"load_group_details() failed.\n", "load_group_info() failed.\n"}},
      {"group_header_missing", "[GROUP_1]", "[GROUP_2]", -6,
       {"Invalid setup.cfg:strstr(cfg, item) failed.\n", "load_group_details() failed.\n",
        "load_group_info() failed.\n"}},
      {"group_member_unparsable", "Yard=FF", "Yard", -6,
       {"Invalid setup.cfg:sscanf(dvr_name, channel_filter) failed.\n",
        "load_group_details() failed.\n", "load_group_info() failed.\n"}},
      {"user_without_password", "bob=Bob Ray, #<'<R ,1, !,``` , !,``` ,none", "bob=Bob Ray", -7,
       {"Invalid setup.cfg:sscanf(user, fullname, password) failed.\n",
        "load_user_info() failed.\n"}},
      {"user_count_key", "num_user=2", "users=2", -7,
       {"Invalid setup.cfg:strcmp(item, num_user) failed.\n", "load_user_info() failed.\n"}},
      {"no_system_header", "[SYSTEM]", "[SYS]", -8,
       {"Invalid setup.cfg:strstr(cfg, [SYSTEM]) failed.\n", "load_system_info() failed.\n"}},
      {"no_email_header", "[EMAIL]", "[MAIL]", -9,
       {"Invalid setup.cfg:strstr(cfg, [EMAIL]) failed.\n", "load_email_info() failed.\n"}},
      {"no_language_header", "[LANGUAGE]", "[LANG]", -9,
       {"Invalid setup.cfg:strstr(cfg, [LANGUAGE]) failed.\n", "load_email_info() failed.\n"}},
      {"language_count_unparsable", "num_language=2", "num_language", -9,
       {"Invalid setup.cfg:sscanf(item, value) failed.\n", "load_email_info() failed.\n"}},
      {"resolution_count_key", "num_resolution=2", "num_res=2", -9,
       // clang-format on
       {"Invalid setup.cfg:strcmp(item, num_resolution) failed.\n",
        "load_resolution_info() failed.\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    boxes().clear();
    app_quit.store(0);
    EXPECT_EQ(load_text(replace(base_text(), c.from, c.to)), c.code);
    EXPECT_EQ(texts_of_boxes(), c.messages);
    EXPECT_EQ(app_quit.load(), 1);
    for (const auto& b : boxes()) EXPECT_EQ(b.rfind("ZOL Main: ", 0), 0u) << b;
  }
}

TEST_F(ConfigTest, unreadable_file_fails_at_stat) {
  EXPECT_EQ(load_setup_info((dir_.path() + "/missing.cfg").c_str()), -1);
  EXPECT_EQ(texts_of_boxes(),
            std::vector<std::string>{"Unable to get setup.cfg file information.stat() failed.\n"});
  EXPECT_EQ(app_quit.load(), 1);
}

TEST_F(ConfigTest, missing_or_empty_system_and_email_keys_take_defaults_and_reading_goes_on) {
  // An older or hand-edited file: a missing key takes its default (not what an earlier load
  // held), "key=" reads as empty, and neither stops the keys after it nor shows a box.
  ASSERT_EQ(load_text(base_text()), 0);
  std::string text = replace(base_text(), "log_path=./logs/\n", "");
  text = replace(text, "max_select=-3\n", "");
  text = replace(text, "rec_path=./rec/", "rec_path=");
  text = replace(text, "relay_duration=300", "colour=blue");  // unknown: counts for nothing
  text = replace(text, "bcc=b@example.com", "bcc=");
  text = replace(text, "subject=Alarm here\n", "");
  text = replace(text, "delay=30\n", "");
  ASSERT_EQ(load_text(text), 0);
  EXPECT_TRUE(boxes().empty()) << boxes().front();
  EXPECT_EQ(app_quit.load(), 0);
  RC_SYSTEM_INFO sys;
  copy_system_info(&sys);
  EXPECT_STREQ(sys.log_path, "./logs/");  // where the system log writes
  EXPECT_EQ(sys.max_select, 16);
  EXPECT_STREQ(sys.rec_path, "");
  EXPECT_EQ(sys.relay_duration, 5u);
  EXPECT_EQ(sys.enable_alarm, 1);  // keys after the gaps are read
  EXPECT_STREQ(sys.language, "English");
  EXPECT_EQ(sys.event_popup_time, 9u);
  RC_EMAIL_INFO m;
  copy_email_info(&m);
  EXPECT_STREQ(m.bcc, "");
  EXPECT_STREQ(m.username, "mailer");
  EXPECT_STREQ(m.subject, "DVR event");
  EXPECT_EQ(m.delay, 60u);
  EXPECT_STREQ(m.receipient, "ops@example.com");

  // The setup tool's own empty value reads back as empty, and the keys after it too.
  ASSERT_EQ(load_text(replace(base_text(), "log_path=./logs/", "log_path=")), 0);
  EXPECT_TRUE(boxes().empty());
  copy_system_info(&sys);
  EXPECT_STREQ(sys.log_path, "");
  EXPECT_EQ(sys.max_select, -3);
  EXPECT_EQ(sys.relay_duration, 300u);

  // A line with no key at all is still the box (and ends the client).
  ASSERT_EQ(load_text(replace(base_text(), "watchdog=1", "=1")), 0);
  EXPECT_EQ(texts_of_boxes(),
            std::vector<std::string>{"Invalid setup.cfg:sscanf(item, value) failed.\n"});
  EXPECT_EQ(app_quit.load(), 1);
}

TEST_F(ConfigTest, overlong_values_are_cut_at_their_field_width) {
  std::string long_name(300, 'N');
  std::string long_loc(400, 'L');
  std::string text = replace(base_text(), "Front Door=", long_name + "=");
  text = replace(text, "Front Door=5", long_name + "=5");
  text = replace(text, "\"Lobby\"", "\"" + long_loc + "\"");
  text = replace(text, "rec_path=./rec/", "rec_path=" + std::string(600, 'r'));
  ASSERT_EQ(load_text(text), 0);
  const RC_DVR_INFO& d = get_dvr_table()[0];
  EXPECT_EQ(strlen(d.name), sizeof d.name - 1);
  EXPECT_EQ(strlen(d.location), sizeof d.location - 1);
  EXPECT_STREQ(d.model, "MW-2606QTR14");  // the neighbouring field is untouched
  EXPECT_STREQ(d.manager, "Kim");
  EXPECT_EQ(strlen(get_rec_path()), 255u);
  // The member name is cut the same way, so the group still finds its DVR.
  EXPECT_EQ(get_group_table()[0].num_dvr, 2);
  // A writer keeps the cut line as the file holds it; the whole one it writes from its record.
  ASSERT_NE(get_damaged_dvr_line(0), nullptr);
  EXPECT_EQ(std::string(get_damaged_dvr_line(0)).rfind(long_name + "=MW-2606QTR14,", 0), 0u);
  EXPECT_EQ(get_damaged_dvr_line(1), nullptr);
}

TEST_F(ConfigTest, num_video_is_clamped_to_the_camera_slots) {
  ASSERT_EQ(load_text(replace(base_text(), "IP,4,", "IP,40,")), 0);
  EXPECT_EQ(get_dvr_table()[0].num_video, DVR_MAX_CAMERAS);
  EXPECT_EQ(get_dvr_table()[0].num_video2, DVR_MAX_CAMERAS);
  ASSERT_EQ(load_text(replace(base_text(), "IP,4,", "IP,-2,")), 0);
  EXPECT_EQ(get_dvr_table()[0].num_video, 0);
}

TEST_F(ConfigTest, counts_beyond_the_lines_stop_at_the_next_section) {
  std::string text = replace(base_text(), "num_dvr=2", "num_dvr=5");
  text = replace(text, "num_user=2", "num_user=9");
  text = replace(text, "num_language=2", "num_language=1000000");
  // A header with a comment after it is found as its section's header and ends the
  // section before it: one rule for both.
  for (const std::string& t : {text, replace(replace(text, "[GROUP]\n", "[GROUP] ; groups\n"),
                                             "[SYSTEM]\n", "[SYSTEM]\t# keys\n")}) {
    ASSERT_EQ(load_text(t), 0);
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(get_num_dvr(), 2);
    EXPECT_EQ(get_damaged_dvr_line(1), nullptr);
    EXPECT_EQ(get_num_user(), 2);
    EXPECT_EQ(get_num_language(), 2);
    EXPECT_EQ(get_num_group(), 1);
    EXPECT_EQ(get_cycle_time(), 7u);
  }
  // "[x]=..." is a key line, not a header, however it looks.
  ASSERT_EQ(load_text(replace(text, "Korean=korean.txt", "[SYSTEM]=korean.txt")), 0);
  EXPECT_EQ(get_num_language(), 2);
}

TEST_F(ConfigTest, a_dvr_line_with_a_camera_name_too_many_or_too_few_is_read_in_part) {
  // Fields go by position: one name more makes the 17th name the user, one fewer makes the
  // password the user. Either line is kept as the file holds it, like a cut one.
  const std::string front = "\"119\"" + cams() + ",viewer,&<V5C<F5T";
  const std::string extra = "\"119\"" + cams() + ",C17,viewer,&<V5C<F5T";
  const std::string fewer = "\"119\"" + cams().substr(0, cams().rfind(',')) + ",viewer,&<V5C<F5T";
  for (const std::string& line : {extra, fewer}) {
    ASSERT_EQ(load_text(replace(base_text(), front, line)), 0);
    ASSERT_NE(get_damaged_dvr_line(0), nullptr);
    EXPECT_NE(std::string(get_damaged_dvr_line(0)).find(line), std::string::npos);
    EXPECT_EQ(get_damaged_dvr_line(1), nullptr);
  }
  // The writer's own forms read whole: no user, or a user with an empty password.
  const std::string no_user = "\"119\"" + cams() + "\n";
  const std::string empty_password = "\"119\"" + cams() + ",viewer,\n";
  for (const std::string& line : {no_user, empty_password}) {
    ASSERT_EQ(load_text(replace(base_text(), front + "\n", line)), 0);
    EXPECT_EQ(get_damaged_dvr_line(0), nullptr);
  }
  EXPECT_STREQ(get_dvr_table()[0].username, "viewer");
  EXPECT_STREQ(get_dvr_table()[0].password, "");
}

TEST_F(ConfigTest, failed_load_replaces_earlier_sections_and_keeps_later_ones) {
  ASSERT_EQ(load_text(base_text()), 0);
  std::string text = replace(base_text(), "Yard=talve8", "Barn=talve8");
  text = replace(text, "Yard=FF", "Barn=FF");
  text = replace(text, "num_user=2", "users=2");
  text = replace(text, "cycle_time=7", "cycle_time=9");
  EXPECT_EQ(load_text(text), -7);
  EXPECT_STREQ(get_dvr_table()[1].name, "Barn");  // replaced before the failure
  EXPECT_EQ(get_num_user(), 0);                   // the failing table is released
  EXPECT_EQ(get_cycle_time(), 7u);                // later sections as they were
  EXPECT_EQ(get_num_resolution(), 2);
}

TEST_F(ConfigTest, user_rights_default_when_missing_or_not_hexadecimal) {
  std::string text =
      replace(base_text(), "alice=Alice Park, #<'<Q ,3, \",48` , (1D9&1D9&1D8` ,desk",
              "alice=Alice Park, #<'<Q ,3");
  text = replace(text, "bob=Bob Ray, #<'<R ,1, !,``` , !,``` ,none",
                 "bob=Bob Ray, #<'<R ,1, #>'EZ , !,``` ,none");  // "xyz" is not hex
  ASSERT_EQ(load_text(text), 0);
  EXPECT_EQ(get_user_table()[0].rights_mask1, 0x0000FFFFu);
  EXPECT_EQ(get_user_table()[0].rights_mask2, 0xFFFFFFFFu);
  EXPECT_STREQ(get_user_table()[0].password, "pw1");
  EXPECT_EQ(get_user_table()[1].rights_mask1, 0x0000FFFFu);
  EXPECT_EQ(get_user_table()[1].rights_mask2, 0u);
}

TEST_F(ConfigTest, setup_changed_follows_modification_time_not_size) {
  std::string path = dir_.write("setup.cfg", base_text());
  ASSERT_EQ(load_setup_info(path.c_str()), 0);
  EXPECT_EQ(setup_changed(path.c_str()), 0);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  struct timespec times[2] = {st.st_atim, st.st_mtim};

  dir_.write("setup.cfg", base_text() + "\n\n# longer\n");
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(setup_changed(path.c_str()), 0);

  times[1].tv_sec += 5;
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(setup_changed(path.c_str()), 1);
  EXPECT_EQ(setup_changed((dir_.path() + "/gone.cfg").c_str()), -1);
}

TEST_F(ConfigTest, reload_never_frees_tables_another_thread_reads) {
  ASSERT_EQ(load_text(base_text()), 0);
  RC_DVR_INFO* before = find_dvr_info("Front Door");
  ASSERT_NE(before, nullptr);

  std::string renamed = replace(base_text(), "Yard=talve8", "Barn=talve8");
  renamed = replace(renamed, "Yard=FF", "Barn=FF");
  std::string a = dir_.write("a.cfg", base_text()), b = dir_.write("b.cfg", renamed);

  std::atomic<bool> stop{false};
  std::atomic<long> reads{0};
  std::thread reader([&] {
    while (!stop.load()) {
      RC_DVR_INFO* d = find_dvr_info("Front Door");
      if (d && strcmp(d->name, "Front Door") != 0) ADD_FAILURE() << "torn record";
      auto lock = setup_read_lock();
      const RC_DVR_INFO* t = get_dvr_table();
      int sum = 0;
      for (int i = 0, n = get_num_dvr(); i < n; ++i) sum += t[i].num_video;
      (void)sum;
      reads.fetch_add(1);
    }
  });
  for (int i = 0; i < 40; ++i) ASSERT_EQ(load_setup_info((i % 2 ? b : a).c_str()), 0);
  while (reads.load() < 10) std::this_thread::yield();
  stop.store(true);
  reader.join();
  // A record handed out before the reloads is still the one it was.
  EXPECT_STREQ(before->name, "Front Door");
  EXPECT_STREQ(before->password, "secret");
}

// A reload frees the tables it replaced as soon as no thread holds them: a thread keeps the
// load it read until it reads again, so a long run of reloads keeps no pile of copies.
TEST_F(ConfigTest, reloads_free_replaced_tables_once_no_thread_holds_them) {
  ASSERT_EQ(load_text(base_text()), 0);
  const std::string path = dir_.write("again.cfg", base_text());
  std::atomic<int> step{0};
  std::thread reader([&] {
    const RC_DVR_INFO* held = find_dvr_info("Front Door");
    step = 1;
    while (step.load() != 2) std::this_thread::yield();
    EXPECT_STREQ(held->name, "Front Door");  // still the record it was
    get_num_dvr();                           // reads again: the latest load
    step = 3;
    while (step.load() != 4) std::this_thread::yield();
  });
  while (step.load() != 1) std::this_thread::yield();
  for (int i = 0; i < 30; ++i) ASSERT_EQ(load_setup_info(path.c_str()), 0);
  get_num_dvr();
  EXPECT_EQ(count_setup_generations(), 2) << "the latest load and the one the reader holds";
  step = 2;
  while (step.load() != 3) std::this_thread::yield();
  EXPECT_EQ(count_setup_generations(), 1);
  step = 4;
  reader.join();
}

TEST(ConfigProtocol, model_texts_map_to_protocol_letters) {
  const struct {
    const char* model;
    uint8_t code;
  } cases[] = {{"vantrel", 'I'},
               {"VANTREL", 'I'},
               {"Vantrel", 'I'},
               {"VanTrel", 0},
               {"MW-2606QTR14", 'Q'},
               {"MW-2608QTR28", 'Q'},
               {"MW-2606QA14", 'W'},
               {"kpt4100", 'Q'},
               {"KPT4100", 'Q'},
               {"talve8", 'S'},
               {"TALVE8", 'S'},
               {"talve8 ", 0},
               {"", 0}};
  for (const auto& c : cases) EXPECT_EQ(get_protocol_code(c.model), c.code) << c.model;
  EXPECT_EQ(get_protocol_code(nullptr), 0);
}

TEST_F(ConfigTest, demo_file_has_two_q_dvrs_a_w_an_i_and_an_s_dvr_a_group_and_admin) {
  // The copy beside the program when the run directory is known, else the source file.
  const char* run = getenv("VIGILO_RUN_DIR");
  std::string here = __FILE__;
  std::string path = run ? std::string(run) + "/setup.cfg"
                         : here.substr(0, here.rfind("tests/")) + "assets/config/setup.cfg";
  ASSERT_EQ(load_setup_info(path.c_str()), 0);
  EXPECT_TRUE(boxes().empty());
  ASSERT_EQ(get_num_dvr(), 5);
  const struct {
    const char* name;
    uint8_t protocol;
    uint16_t video_port;
    int num_video;
  } dvrs[] = {{"DVR-1", 'Q', 9101, 16},
              {"DVR-2", 'Q', 9102, 16},
              {"DVR-3", 'W', 9110, -1},
              {"DVR-4", 'I', 9120, 4},
              {"DVR-5", 'S', 9130, 4}};
  for (int i = 0; i < 5; ++i) {
    const RC_DVR_INFO& d = get_dvr_table()[i];
    EXPECT_STREQ(d.name, dvrs[i].name);
    EXPECT_EQ(d.protocol, dvrs[i].protocol) << i;
    EXPECT_EQ(d.port[DVR_PORT_VIDEO], dvrs[i].video_port) << i;
    if (dvrs[i].num_video >= 0) { EXPECT_EQ(d.num_video, dvrs[i].num_video) << i; }
  }
  for (int i = 0; i < 2; ++i) EXPECT_STREQ(get_dvr_table()[i].ipaddress, "127.0.0.1");
  EXPECT_EQ(get_dvr_table()[3].port[DVR_PORT_CONTROL], 9121);
  EXPECT_EQ(get_dvr_table()[3].port[DVR_PORT_PLAYBACK], 9122);
  EXPECT_EQ(get_num_group(), 1);
  EXPECT_EQ(get_group_table()[0].num_dvr, 2);
  EXPECT_EQ(check_login("admin", "admin"), 0xFFFF);
  EXPECT_STREQ(get_skin_file(nullptr), "skin.cfg");
  EXPECT_STREQ(get_skin_file("1024x768"), "skin_1024x768.cfg");
  EXPECT_STREQ(get_language_file(nullptr), "english.txt");
}

TEST_F(ConfigTest, damaged_files_never_overrun_the_tables) {
  // Deterministic damage: bytes replaced, lines cut and duplicated. Any result code is
  // fine; the sanitizers catch a read or write outside a buffer.
  const std::string base = base_text();
  const char alphabet[] = "=,\"\t \n\r[]_-0123456789AZaz`#";
  uint32_t seed = 12345;
  auto rnd = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  for (int round = 0; round < 300; ++round) {
    std::string text = base;
    for (int k = 0, edits = 1 + static_cast<int>(rnd(12)); k < edits; ++k) {
      size_t at = rnd(static_cast<uint32_t>(text.size()));
      switch (rnd(3)) {
        case 0: text[at] = alphabet[rnd(sizeof alphabet - 1)]; break;
        case 1: text.erase(at, rnd(40)); break;
        default: text.insert(at, text.substr(at, rnd(200))); break;
      }
    }
    load_text(text);
    for (int i = 0, n = get_num_group(); i < n; ++i) {
      const RC_GROUP_INFO& g = get_group_table()[i];
      ASSERT_GE(g.num_dvr, 1);
      for (int m = 0; m < g.num_dvr; ++m) ASSERT_LE(g.dvr_info[m].num_video, DVR_MAX_CAMERAS);
    }
    find_dvr_info("Yard");
    get_skin_file(nullptr);
  }
  boxes().clear();
}
