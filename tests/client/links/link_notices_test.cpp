// The receive threads' notice queue: copies kept in order, a bounded backlog whose drops are
// counted with one line per run, and the user event a notice becomes.
#include "client/links/link_notices.h"

#include <gtest/gtest.h>

#include <string>

#include "client/foundation/config/mailslot.h"
#include "client/foundation/user_events.h"

TEST(LinkNotices, backlog_keeps_order_and_counts_what_it_drops_with_one_line) {
  clear_link_notices();
  const uint64_t dropped_before = link_notices_dropped();
  testing::internal::CaptureStdout();
  const int total = int(LINK_NOTICE_CAPACITY) + 44;
  int refused = 0;
  for (int i = 0; i < total; ++i) {
    EVENT_NOTICE n;
    n.time = i;  // the caller's record may change at once: the queue holds a copy
    refused += post_link_notice(UE_DVR_EVENT, &n, sizeof n, 3) != 0;
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(44, refused);
  EXPECT_EQ(44u, link_notices_dropped() - dropped_before);
  EXPECT_EQ(out.find("dropping DVR notices"), out.rfind("dropping DVR notices"));
  EXPECT_NE(std::string::npos, out.find("dropping DVR notices"));
  LINK_NOTICE n;
  for (int i = 0; i < int(LINK_NOTICE_CAPACITY); ++i) {
    ASSERT_TRUE(take_link_notice(&n));
    EXPECT_EQ(i, static_cast<const EVENT_NOTICE*>(n.data())->time);
    EXPECT_EQ(3, n.receiver);
  }
  EXPECT_FALSE(take_link_notice(&n));
  ASSERT_EQ(0, post_link_error_box(1, "The passwordd was incorrect."));
  ASSERT_TRUE(take_link_notice(&n));
  EXPECT_EQ(LINK_ERROR_BOX, n.number);
  EXPECT_STREQ("The passwordd was incorrect.", n.text());
  SDL_Event ev = link_notice_event(n);
  EXPECT_EQ(-1, user_event_number(ev));  // no window handler takes a box as a user event
}
