// setup.cfg as the tool writes it, checked against the store's own reader.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "tests/tool/tool_fixture.h"
#include "tool/module/gui_setup/dvr_form_model.h"
#include "tool/module/gui_setup/setup_writer.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();  // libasan's allocator statistics
static size_t heap_bytes() { return __sanitizer_get_current_allocated_bytes(); }
#else
#include <malloc.h>
static size_t heap_bytes() { return mallinfo2().uordblks; }
#endif

namespace {

class SetupWriter : public ToolDir {};

bool holds_cr(const SetupSnapshot& s) {
  auto has = [](const char* t) { return strchr(t, '\r') != nullptr; };
  for (const RC_DVR_INFO& d : s.dvr) {
    if (has(d.name) || has(d.username) || has(d.password) || has(d.fire_dept_no)) return true;
    for (const auto& c : d.camera_name)
      if (has(c)) return true;
  }
  for (const SetupGroup& g : s.group)
    if (g.name.find('\r') != std::string::npos) return true;
  for (const RC_USER_INFO& u : s.user)
    if (has(u.note) || has(u.password)) return true;
  return has(s.sys.rec_path) || has(s.sys.resolution) || has(s.mail.domain) ||
         has(s.mail.password) || has(s.resolution.back().path);
}

TEST_F(SetupWriter, reader_gives_back_what_was_written_and_a_second_write_is_identical) {
  for (const char* eol : {"\n", "\r\n"}) {
    SCOPED_TRACE(eol[0] == '\r' ? "CRLF" : "LF");
    load(fixture_setup_cfg(eol));
    SetupSnapshot loaded = take_setup_snapshot();
    EXPECT_FALSE(holds_cr(loaded));
    const std::string first = compose_setup_cfg(loaded);
    ASSERT_EQ(save_setup_cfg(first), 0);
    EXPECT_EQ(read("setup.cfg"), first);
    SetupSnapshot again = take_setup_snapshot();
    EXPECT_EQ(compose_setup_cfg(again), first);

    ASSERT_EQ(again.dvr.size(), 3u);
    EXPECT_STREQ(again.dvr[1].name, "Gate 2");
    EXPECT_STREQ(again.dvr[2].camera_name[15], "Cam P");
    EXPECT_STREQ(again.dvr[2].password, "yardpas");
    EXPECT_EQ(again.group[1].mask[0], 0x80000001u);
    EXPECT_EQ(again.user[2].rights_mask1, 0x21u);
    EXPECT_EQ(again.user[2].rights_mask2, 0x7u);
    EXPECT_STREQ(again.mail.password, "secret");
    EXPECT_FLOAT_EQ(again.sys.buf_level, 0.5f);
  }
}

TEST_F(SetupWriter, sections_take_their_canonical_lines) {
  load(fixture_setup_cfg());
  SetupSnapshot s = take_setup_snapshot();
  s.group.clear();
  s.user[0].rights_mask1 = 0x3FF;
  s.dvr[0].camera_name[4][0] = 'X';
  std::string text = compose_setup_cfg(s);
  struct Golden {
    const char* what;
    std::string line;
  } golden[] = {
      {"no groups", "\n[GROUP]\nnum_group=0\n\n[USER]\n"},
      {"rights 0x3FF as the text 3FF", "admin=Administrator, " + enc("admin") + " ,1, #,T9& , "},
      {"16 camera names on a 4-channel line",
       ",CHANNEL  4,XULL,NULL,NULL,NULL,NULL,NULL,NULL,"
       "NULL,NULL,NULL,NULL,NULL,admin,"},
      {"buf_level five wide", "\nbuf_level= 0.50\n"},
      {"[SYSTEM] key order",
       "\n[SYSTEM]\nnum_decoder=2\ncycle_time=5\nrec_path=./record/\nbuf_level= 0.50\n"
       "enable_debug=0\nenable_log=1\nenable_mail=0\nlog_path=./logs/\nenable_alarm=1\n"
       "max_select=16\nmotion_wav=wave\\ding2.wav\nsensor_wav=wave\\chord.wav\nlanguage=English\n"
       "resolution=1280x1024\nwatchdog=1\nevent_popup_type=2\nevent_popup_time=7\n"
       "check_update=1\nrelay_duration=30\n\n[EMAIL]\nfrom=dvr@example.com\n"},
      {"e-mail password in plain text", "\npassword=secret\n"},
  };
  for (const Golden& g : golden) EXPECT_NE(text.find(g.line), std::string::npos) << g.what;
  EXPECT_EQ(text.find("[GROUP_"), std::string::npos);

  s.sys.buf_level = 12.5f;
  s.group = {{"All", {"Lobby"}, {'Q'}, {0x80000000u}}};
  text = compose_setup_cfg(s);
  EXPECT_NE(text.find("\nbuf_level=12.50\n"), std::string::npos);
  EXPECT_NE(text.find("\nLobby=80000000\n"), std::string::npos);
  s.sys.buf_level = 2.0f;
  EXPECT_NE(compose_setup_cfg(s).find("\nbuf_level= 2.00\n"), std::string::npos);
}

TEST_F(SetupWriter, a_comment_and_shuffled_keys_in_system_leave_exactly_the_nineteen_keys) {
  std::string cfg = fixture_setup_cfg();
  size_t at = cfg.find("num_decoder=2\n");
  cfg.replace(at, strlen("num_decoder=2\n"), "");
  cfg.insert(cfg.find("relay_duration"), "num_decoder=2\n");
  load(cfg);
  std::string text = compose_setup_cfg(take_setup_snapshot());
  size_t from = text.find("[SYSTEM]"), to = text.find("[EMAIL]");
  std::string system = text.substr(from, to - from);
  EXPECT_EQ(std::count(system.begin(), system.end(), '\n'), 21);  // header, 19 keys, blank
  EXPECT_EQ(system.rfind("[SYSTEM]\nnum_decoder=2\ncycle_time=5\n", 0), 0u);
}

TEST_F(SetupWriter, texts_a_hand_edited_file_holds_are_written_so_that_they_read_back) {
  // Sections in another order: a header's text inside a DVR line is data wherever the line
  // stands, so it is written as it is.
  std::string cfg = fixture_setup_cfg();
  size_t dvr = cfg.find("[DVR]"), group = cfg.find("[GROUP]");
  std::string dvr_section = cfg.substr(dvr, group - dvr);
  cfg.erase(dvr, group - dvr);
  cfg += dvr_section;
  cfg.replace(cfg.find("\"Main hall\""), 11, "\"[SYSTEM] hall\"");
  cfg.replace(cfg.find("\"Lee\""), 5, "\"Hall [GROUP_1] east\"");
  cfg.replace(cfg.find("subject=DVR event"), 17, "subject=[EMAIL] [USER]");
  load(cfg);
  SetupSnapshot s = take_setup_snapshot();
  std::string first = compose_setup_cfg(s);
  for (const char* kept :
       {"\"[SYSTEM] hall\"", "\"Hall [GROUP_1] east\"", "\nsubject=[EMAIL] [USER]\n"})
    EXPECT_NE(first.find(kept), std::string::npos) << kept;
  ASSERT_EQ(save_setup_cfg(first), 0);
  EXPECT_EQ(compose_setup_cfg(take_setup_snapshot()), first);

  // Only a text that opens a line could make it a header: its '[' is written as '('.
  copy_field(s.user[2].user, "[SYSTEM];x");
  s.language[0] = RC_FILE_INFO{"[USER];y", "english.txt"};
  first = compose_setup_cfg(s);
  EXPECT_NE(first.find("\n(SYSTEM];x=Operator One, "), std::string::npos) << first;
  EXPECT_NE(first.find("\n(USER];y=english.txt\n"), std::string::npos) << first;
  ASSERT_EQ(save_setup_cfg(first), 0);
  s = take_setup_snapshot();
  EXPECT_EQ(s.user.size(), 3u);
  EXPECT_EQ(s.language.size(), 1u);
  EXPECT_EQ(compose_setup_cfg(s), first);
}

TEST_F(SetupWriter, a_file_an_older_tool_or_a_hand_edit_left_keeps_every_value_over_two_saves) {
  // Each load a fresh start of the tool, so no earlier load fills a gap.
  auto load_and_compose = [this](const std::string& text) {
    free_setup_info();
    write("setup.cfg", text);
    EXPECT_EQ(reload_setup_cfg(), 0);
    return compose_setup_cfg(take_setup_snapshot());
  };
  std::string cfg = fixture_setup_cfg();
  cfg.erase(cfg.find("log_path=./logs/\n"), strlen("log_path=./logs/\n"));
  const std::string first = load_and_compose(cfg);
  EXPECT_EQ(load_and_compose(first), first);
  const std::string system = first.substr(first.find("[SYSTEM]"));
  for (const char* kept :
       {"\nlog_path=./logs/\n", "\nenable_alarm=1\n", "\nmax_select=16\n", "\nlanguage=English\n",
        "\nresolution=1280x1024\n", "\nevent_popup_time=7\n", "\nrelay_duration=30\n"})
    EXPECT_NE(system.find(kept), std::string::npos) << kept << system;

  // An empty value the tool wrote reads back empty, and the keys after it are kept.
  SetupSnapshot s = take_setup_snapshot();
  s.sys.log_path[0] = '\0';
  const std::string empty = compose_setup_cfg(s);
  EXPECT_EQ(load_and_compose(empty), empty);

  // A camera name too many moves the user and password: the line is kept as the file holds
  // it and the notice names its DVR.
  cfg = fixture_setup_cfg();
  const std::string extra = ",Cam P,Cam Q,yarduse,";
  cfg.replace(cfg.find(",Cam P,yarduse,"), strlen(",Cam P,yarduse,"), extra);
  const std::string kept = load_and_compose(cfg);
  EXPECT_NE(damaged_dvr_notice(take_setup_snapshot()).find("\"Yard\""), std::string::npos);
  EXPECT_NE(kept.find(extra + enc("yardpas") + "\n"), std::string::npos) << kept;
  EXPECT_EQ(load_and_compose(kept), kept);
}

TEST_F(SetupWriter, a_header_inside_a_line_is_data_and_every_fuzz_regression_saves_as_it_loads) {
  // A password whose encoding holds "[GROUP_1]": the DVR line stands before the group's
  // own header, and a save writes the encoding again.
  const std::string encoded = ")[GROUP_1]AAA";
  std::string cfg = fixture_setup_cfg();
  cfg.replace(cfg.find(enc("1234")), enc("1234").size(), encoded);
  load(cfg);
  SetupSnapshot s = take_setup_snapshot();
  ASSERT_EQ(enc(s.dvr[0].password), encoded);
  ASSERT_EQ(s.group.size(), 2u);
  EXPECT_EQ(s.group[0].name, "Entrances");
  EXPECT_EQ(s.group[0].member, (std::vector<std::string>{"Lobby", "Gate 2"}));
  std::string first = compose_setup_cfg(s);
  ASSERT_EQ(save_setup_cfg(first), 0);
  EXPECT_EQ(compose_setup_cfg(take_setup_snapshot()), first);

  // Each load a fresh start of the tool: no table of an earlier load may fill a gap.
  int inputs = 0;
  for (const auto& e : std::filesystem::directory_iterator(VIGILO_SETUP_WRITER_CORPUS)) {
    SCOPED_TRACE(e.path().filename().string());
    free_setup_info();
    write("setup.cfg", read_file(e.path()));
    ASSERT_EQ(reload_setup_cfg(), 0);
    first = compose_setup_cfg(take_setup_snapshot());
    free_setup_info();
    ASSERT_EQ(save_setup_cfg(first), 0);
    EXPECT_EQ(compose_setup_cfg(take_setup_snapshot()), first);
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

TEST_F(SetupWriter, a_dvr_line_read_in_part_is_written_as_the_file_holds_it_until_edited) {
  std::string cfg = fixture_setup_cfg();
  // One text too many turns the ports into text; a location too long for its field is cut.
  const std::string extra =
      "Gate 2=TALVE8,Gate house,gate.example,3490,2200,3492,9205,9203,80,9202,NAME,1,"
      "\"North gate\",\"Lee\",\"0299\",\"112\",\"119\",CHANNEL ALL,guard," +
      enc("gatepw");
  const std::string cut = "Yard=MW-2606QA14,10.0.0.5,3490,9010,3492,9205,9203,80,9202,IP,4,\"" +
                          std::string(300, 'y') + "\",\"Park\",\"0311\"";
  size_t gate = cfg.find("Gate 2=TALVE8");
  cfg.replace(gate, cfg.find('\n', gate) - gate, extra);
  size_t yard = cfg.find("Yard=MW");
  cfg.replace(yard, cfg.find('\n', yard) - yard, cut);
  load(cfg);
  SetupSnapshot s = take_setup_snapshot();
  EXPECT_STREQ(s.dvr[1].ipaddress, "Gate house") << "the record holds what was read";
  const std::string notice = damaged_dvr_notice(s);
  EXPECT_EQ(notice.find("Lobby"), std::string::npos) << notice;
  EXPECT_NE(notice.find("\"Gate 2\", \"Yard\""), std::string::npos) << notice;

  std::string first = compose_setup_cfg(s);
  EXPECT_NE(first.find("\n" + extra + "\n"), std::string::npos) << first;
  EXPECT_NE(first.find("\n" + cut + "\n"), std::string::npos);
  EXPECT_NE(first.find("\nLobby=MW-2606QTR14,192.168.0.10,"), std::string::npos);
  ASSERT_EQ(save_setup_cfg(first), 0);
  EXPECT_EQ(compose_setup_cfg(take_setup_snapshot()), first);

  // A delete of another DVR keeps the line too. The writer's own short line (no location)
  // and a line written from its record again read back whole.
  s = take_setup_snapshot();
  EXPECT_NE(compose_dvr_delete({1, 2}, s, kDvrCommentLine).find("\n" + extra + "\n"),
            std::string::npos);
  s.dvr[0].location[0] = '\0';
  s.dvr_damaged_line[2].clear();
  ASSERT_EQ(save_setup_cfg(compose_setup_cfg(s)), 0);
  s = take_setup_snapshot();
  EXPECT_EQ(damaged_dvr_notice(s),
            "setup.cfg holds DVR lines that could not be read whole "
            "(\"Gate 2\"). Each is saved as it stands in the file until "
            "its DVR is edited.");
}

TEST_F(SetupWriter, a_failed_save_leaves_setup_cfg_byte_for_byte_and_no_temporary_file) {
  load(fixture_setup_cfg("\r\n"));
  const std::string before = read("setup.cfg");
  chmod("setup.cfg", 0640);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 512;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string why;
  int rc = save_setup_cfg(compose_setup_cfg(take_setup_snapshot()), &why);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, old_handler);
  EXPECT_EQ(rc, -2);
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(read("setup.cfg"), before);
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir_)) files += e.is_regular_file();
  EXPECT_EQ(files, 2);  // setup.cfg and english.txt

  ASSERT_EQ(save_setup_cfg(compose_setup_cfg(take_setup_snapshot())), 0);
  struct stat st {};
  stat("setup.cfg", &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "the old file's mode";
  std::filesystem::remove("setup.cfg");
  ASSERT_EQ(save_setup_cfg(compose_setup_cfg(take_setup_snapshot())), 0);
  stat("setup.cfg", &st);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "a new file holds passwords";
}

TEST_F(SetupWriter,
       a_save_writes_through_a_link_keeps_mode_and_owner_and_refuses_a_read_only_file) {
  load(fixture_setup_cfg());
  const std::string text = compose_setup_cfg(take_setup_snapshot());
  std::filesystem::create_directory(dir_ / "real");
  std::filesystem::rename(dir_ / "setup.cfg", dir_ / "real" / "setup.cfg");
  std::filesystem::create_symlink("real/setup.cfg", dir_ / "setup.cfg");
  ASSERT_EQ(chmod("real/setup.cfg", 0640), 0);
  const bool root = geteuid() == 0;  // only root can give the file another owner
  if (root) { ASSERT_EQ(chown("real/setup.cfg", 4321, 4322), 0); }
  ASSERT_EQ(save_setup_cfg(text), 0);
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "setup.cfg"));
  EXPECT_EQ(read("real/setup.cfg"), text);
  struct stat st {};
  ASSERT_EQ(stat("real/setup.cfg", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  if (root) { EXPECT_EQ(std::make_pair(st.st_uid, st.st_gid), std::make_pair(4321u, 4322u)); }

  ASSERT_EQ(chmod("real/setup.cfg", 0444), 0);
  std::string why;
  EXPECT_EQ(save_setup_cfg(text + "\n", &why), -1);
  EXPECT_NE(why.find(strerror(EACCES)), std::string::npos) << why;
  EXPECT_EQ(read("real/setup.cfg"), text);
  EXPECT_TRUE(std::filesystem::is_symlink(dir_ / "setup.cfg"));
}

TEST_F(SetupWriter, nothing_is_saved_from_the_tables_of_a_load_that_failed) {
  load(fixture_setup_cfg());
  std::string broken = fixture_setup_cfg();
  broken.replace(broken.find("[DVR]"), 5, "[DVX]");
  write("setup.cfg", broken);
  EXPECT_LT(reload_setup_cfg(), 0);
  EXPECT_EQ(save_setup_cfg(compose_setup_cfg(take_setup_snapshot())), -5);
  EXPECT_EQ(read("setup.cfg"), broken);
}

TEST_F(SetupWriter, memory_stays_flat_over_hundreds_of_saves) {
  load(fixture_setup_cfg());
  for (int i = 0; i < 20; ++i) save_setup_cfg(compose_setup_cfg(take_setup_snapshot()));
  const size_t before = heap_bytes();
  for (int i = 0; i < 300; ++i)
    ASSERT_EQ(save_setup_cfg(compose_setup_cfg(take_setup_snapshot())), 0);
  // A kept generation of this file alone is some 20 KB: 300 of them would be megabytes.
  EXPECT_LT(heap_bytes(), before + 256 * 1024);
}

}  // namespace
