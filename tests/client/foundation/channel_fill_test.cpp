// Receivers filled from the setup tables before a connection.
#include <memory>

#include "client/foundation/channel_table.h"
#include "tests/client/foundation/config_test_support.h"

using namespace cfgtest;

namespace {

class FillReceiverTest : public ConfigTest {
 protected:
  void SetUp() override {
    ConfigTest::SetUp();
    rx_ = std::make_unique<RECEIVER_INFO>();
    ASSERT_EQ(init_receiver(rx_.get()), 0);
  }
  void TearDown() override {
    free_receiver(rx_.get());
    ConfigTest::TearDown();
  }
  std::unique_ptr<RECEIVER_INFO> rx_;
};

}  // namespace

TEST_F(FillReceiverTest, dvr_fields_reach_the_receiver_and_password_stays_off_stdout) {
  ASSERT_EQ(load_text(base_text()), 0);
  testing::internal::CaptureStdout();
  ASSERT_EQ(fill_receiver_from_setup("Front Door", rx_.get(), 0), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("secret"), std::string::npos) << out;
  EXPECT_NE(out.find("username = viewer"), std::string::npos) << out;

  EXPECT_EQ(rx_->protocol, 'Q');
  EXPECT_STREQ(rx_->name, "Front Door");
  EXPECT_STREQ(rx_->address, "10.0.0.5");
  EXPECT_EQ(rx_->live_port, 9102);  // the video port
  EXPECT_EQ(rx_->pb_port, 9105);
  EXPECT_EQ(rx_->ctrl_port, 9104);
  EXPECT_STREQ(rx_->username, "viewer");
  EXPECT_STREQ(rx_->password, "secret");
  EXPECT_EQ(rx_->num_video, 4u);
  EXPECT_EQ(rx_->count_flag, 1u);
  EXPECT_EQ(rx_->channel_mask, 0xFFFFFFFFu);  // left as init_receiver set it
  EXPECT_STREQ(rx_->channels[3].camera_name, "C4");
  EXPECT_STREQ(rx_->channels[4].camera_name, "");  // beyond num_video
}

TEST_F(FillReceiverTest, group_member_takes_its_filter_and_filtered_camera_names) {
  ASSERT_EQ(load_text(base_text()), 0);
  ASSERT_EQ(fill_receiver_from_setup("All Cams", rx_.get(), 0), 0);
  EXPECT_STREQ(rx_->name, "Front Door");
  EXPECT_EQ(rx_->channel_mask, 0x5u);
  EXPECT_STREQ(rx_->channels[0].camera_name, "C1");
  EXPECT_STREQ(rx_->channels[1].camera_name, "");
  EXPECT_STREQ(rx_->channels[2].camera_name, "C3");

  ASSERT_EQ(fill_receiver_from_setup("All Cams", rx_.get(), 1), 0);
  EXPECT_EQ(rx_->protocol, 'S');
  EXPECT_EQ(rx_->channel_mask, 0xFFu);
  EXPECT_STREQ(rx_->host_type, "NAME");
}

TEST_F(FillReceiverTest, member_outside_the_group_leaves_receiver_untouched) {
  ASSERT_EQ(load_text(base_text()), 0);
  EXPECT_EQ(fill_receiver_from_setup("All Cams", rx_.get(), 2), -2);
  EXPECT_EQ(fill_receiver_from_setup("All Cams", rx_.get(), -1), -2);
  EXPECT_STREQ(rx_->name, "");
  EXPECT_EQ(rx_->live_port, 9201);
}

TEST_F(FillReceiverTest, unknown_name_becomes_a_32_channel_file_source) {
  ASSERT_EQ(load_text(base_text()), 0);
  rx_->channel_mask = 0x3;
  EXPECT_EQ(fill_receiver_from_setup("/tmp/rec.zol", rx_.get(), 0), -1);
  EXPECT_STREQ(rx_->name, "[FILE]");
  EXPECT_EQ(rx_->protocol, 0);
  EXPECT_EQ(rx_->channel_mask, 0xFFFFFFFFu);
  EXPECT_EQ(rx_->num_video, 32u);
  EXPECT_EQ(rx_->num_video1, 32u);
}

TEST_F(FillReceiverTest, long_account_reaches_the_receiver_whole) {
  ASSERT_EQ(load_text(replace(base_text(), ",viewer,", ",administrator,")), 0);
  rx_->flag1 = 0x5A;  // the byte after the password field
  ASSERT_EQ(fill_receiver_from_setup("Front Door", rx_.get(), 0), 0);
  EXPECT_STREQ(rx_->username, "administrator");
  EXPECT_STREQ(rx_->password, "secret");
  EXPECT_EQ(rx_->flag1, 0x5A);
}
