// Look-ups over the loaded tables: files, login, rights and targets.
#include <cstring>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/setup_lookup.h"
#include "tests/client/foundation/config_test_support.h"

using namespace cfgtest;

class LookupTest : public ConfigTest {
 protected:
  void SetUp() override {
    ConfigTest::SetUp();
    // A group named like a DVR: every look-up must return the DVR.
    std::string text = replace(base_text(), "num_group=1", "num_group=2");
    text = replace(text, "[USER]", "[GROUP_2]\ngroup_name=Yard\nnum_dvr=1\nFront Door=3\n[USER]");
    ASSERT_EQ(load_text(text), 0);
    ASSERT_EQ(get_num_group(), 2);
  }
};

TEST_F(LookupTest, dvr_wins_over_group_of_the_same_name) {
  EXPECT_EQ(get_target_size("Yard"), 1);
  EXPECT_EQ(get_target_size("All Cams"), 2);
  EXPECT_EQ(get_target_size("Nowhere"), 0);
  int is_group = 7, index = 7;
  find_target("Yard", &is_group, &index);
  EXPECT_EQ(is_group, 0);
  EXPECT_EQ(index, 1);
  find_target("All Cams", &is_group, &index);
  EXPECT_EQ(is_group, 1);
  EXPECT_EQ(index, 0);
  is_group = index = 7;
  find_target("yard", &is_group, &index);  // case matters; outputs untouched on a miss
  EXPECT_EQ(is_group, 7);
  EXPECT_EQ(index, 7);
  ASSERT_NE(find_dvr_info("Yard"), nullptr);
  EXPECT_STREQ(find_dvr_info("Yard")->model, "talve8");
  ASSERT_NE(find_group_info("Yard"), nullptr);
  EXPECT_EQ(find_group_info("Front Door"), nullptr);
}

TEST_F(LookupTest, channel_counts_report_missing_names) {
  EXPECT_EQ(get_dvr_num_video("Front Door"), 4);
  EXPECT_EQ(get_dvr_num_video2("Yard"), 8);
  EXPECT_EQ(get_dvr_num_video(nullptr), -1);
  EXPECT_EQ(get_dvr_num_video("All Cams"), -2);
  EXPECT_EQ(get_dvr_num_video2("x"), -2);
}

TEST_F(LookupTest, target_name_copies_only_inside_the_table) {
  char out[16];
  memset(out, '#', sizeof out);
  out[15] = '\0';
  get_target_name(out, sizeof out, 0, 2);  // index == count
  EXPECT_EQ(out[0], '#');
  get_target_name(out, sizeof out, 1, -1);
  EXPECT_EQ(out[0], '#');
  get_target_name(out, sizeof out, 1, 0);
  EXPECT_STREQ(out, "All Cams");
  char tiny[5];
  get_target_name(tiny, sizeof tiny, 0, 0);  // bounded by the caller's buffer
  EXPECT_STREQ(tiny, "Fron");
}

TEST_F(LookupTest, login_needs_exact_user_and_password) {
  EXPECT_EQ(check_login("alice", "pw1"), 0x1F);
  EXPECT_EQ(is_valid_user("alice", "pw1"), 1);
  EXPECT_EQ(check_login("alice", "pw2"), 0);
  EXPECT_EQ(is_valid_user("alice", "pw2"), 0);
  EXPECT_EQ(check_login("Alice", "pw1"), 0);
  EXPECT_EQ(check_login("nobody", "pw1"), 0);
  EXPECT_EQ(is_valid_user("alice", "pw"), 0);  // a prefix is not the password
  EXPECT_EQ(is_valid_user("bob", "pw2"), 1);   // valid even with no rights
  EXPECT_EQ(check_login("bob", "pw2"), 0);
  EXPECT_EQ(is_valid_user(nullptr, nullptr), 0);
}

TEST_F(LookupTest, skin_and_language_files_follow_the_system_names) {
  EXPECT_STREQ(get_skin_file(nullptr), "skin_small.cfg");
  EXPECT_STREQ(get_skin_file("1280x1024"), "skin.cfg");
  EXPECT_STREQ(get_skin_file("800x600"), "skin.cfg");
  EXPECT_STREQ(get_language_file(nullptr), "english.txt");
  EXPECT_STREQ(get_language_file("Korean"), "korean.txt");
  EXPECT_EQ(get_language_file("english"), nullptr);
  EXPECT_STREQ(language_file_path("/opt/vigilo/"), "/opt/vigilo/english.txt");
  EXPECT_STREQ(language_file_path(nullptr), "/opt/vigilo/english.txt");  // directory kept
}

TEST(RightsTest, each_guarded_action_tests_its_own_bit) {
  const struct {
    int id;
    int bit;
  } guarded[] = {{3, 0},  {4, 1},  {39, 2}, {44, 3}, {61, 4},  {70, 5}, {83, 5},
                 {95, 5}, {43, 6}, {27, 7}, {28, 7}, {121, 8}, {26, 9}};
  for (const auto& g : guarded) {
    SCOPED_TRACE(g.id);
    EXPECT_EQ(has_right_word(0, g.id), 0);
    EXPECT_EQ(has_right_word(static_cast<uint16_t>(1u << g.bit), g.id), 1);
    EXPECT_EQ(has_right_word(static_cast<uint16_t>(~(1u << g.bit)), g.id), 0);
  }
  for (int id : {-1, 0, 2, 5, 25, 29, 62, 69, 96, 120, 122, 1000})
    EXPECT_EQ(has_right_word(0, id), 1) << id;
  APP_OPTIONS opts{};
  opts.rights = 0x0002;
  EXPECT_EQ(has_right(&opts, 4), 1);
  EXPECT_EQ(has_right(&opts, 3), 0);
}
