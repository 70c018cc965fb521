// Language keys: the file the build writes serves every key, the rules the build enforces
// on it, and lookups as the windows see them.
#include "tool/language.h"

#include "tests/tool/tool_fixture.h"

namespace {

class Language : public ToolDir {};

TEST_F(Language, the_generated_file_serves_all_261_keys_with_their_table_texts) {
  std::string file = read("english.txt");
  EXPECT_EQ(language_file_problem(file), "");
  for (const LanguageKey& k : kLanguageKeys)
    EXPECT_STREQ(lookup_label_text(k.key), k.english) << k.key;
  std::string dvr_comment = get_label_text("txt_DVR_WRITE_FORMAT");
  EXPECT_EQ(dvr_comment.rfind("#dvr_name=", 0), 0u);
}

TEST_F(Language, the_build_refuses_a_file_the_lookup_would_misread) {
  const std::string good = language_key_lines();
  auto swap_lines = [&](const std::string& first, const std::string& second) {
    std::string f = good;
    size_t a = f.find("\n" + first + " = ") + 1, b = f.find("\n" + second + " = ") + 1;
    std::string la = f.substr(a, f.find('\n', a) + 1 - a),
                lb = f.substr(b, f.find('\n', b) + 1 - b);
    f.replace(b, lb.size(), la);
    f.replace(a, la.size(), lb);
    return f;
  };
  auto set_text = [&](const std::string& key, const std::string& text) {
    std::string f = good;
    size_t a = f.find("\n" + key + " = ") + 1;
    size_t end = f.find('\n', a);
    f.replace(a, end - a, key + " = " + text);
    return f;
  };
  struct Case {
    const char* what;
    std::string file;
  } cases[] = {
      {"lbl_EMAILCFG before lbl_EMAIL", swap_lines("lbl_EMAIL", "lbl_EMAILCFG")},
      {"lbl_CONTRAST before lbl_CON", swap_lines("lbl_CON", "lbl_CONTRAST")},
      {"lbl_RESOLUTION before lbl_RESO", swap_lines("lbl_RESO", "lbl_RESOLUTION")},
      {"an empty text", set_text("def_OK", "")},
      {"a text holding a key", set_text("def_OK", "see lbl_SETUP")},
      {"a text holding a section", set_text("def_OK", "[main]")},
  };
  EXPECT_EQ(language_file_problem(good), "");
  for (const Case& c : cases) EXPECT_NE(language_file_problem(c.file), "") << c.what;
}

TEST_F(Language, lookups_of_crlf_files_and_broken_lines) {
  write("lang.txt",
        "lbl_EMAILCFG = Mail setup\r\nlbl_EMAIL = Mail\r\ndef_OK = \ndef_CLOSE = Shut\r\n");
  snprintf(selected_language_file, sizeof selected_language_file, "lang.txt");
  clear_config_cache();
  struct Case {
    const char* key;
    const char* text;
  } cases[] = {
      {"def_CLOSE", "Shut"},
      {"lbl_EMAIL", "Mail setup"},  // found first inside the longer key's line
      {"def_OK", "sscanf() failed."},
      {"def_ADD", "strstr() failed."},
  };
  for (const Case& c : cases) EXPECT_STREQ(lookup_label_text(c.key), c.text) << c.key;
  EXPECT_TRUE(is_lookup_failure_text(lookup_label_text("def_ADD")));
  selected_language_file[0] = '\0';
  EXPECT_STREQ(get_label_text("def_OK"), "stat() failed.");
}

TEST_F(Language, the_last_language_entry_of_the_configured_name_wins) {
  SetupSnapshot s;
  snprintf(s.sys.language, sizeof s.sys.language, "English");
  s.language = {{"English", "first.txt"},
                {"Korean", "ko.txt"},
                {"English", "second.txt"},
                {"english", "lower.txt"}};
  choose_language_file(s);
  EXPECT_STREQ(selected_language_file, "second.txt");
  snprintf(s.sys.language, sizeof s.sys.language, "French");
  choose_language_file(s);
  EXPECT_STREQ(selected_language_file, "");
}

}  // namespace
