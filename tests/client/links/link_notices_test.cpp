// The receive threads' notice queue: copies kept in order, a bounded backlog whose drops are
// counted with one line per run, the user event a notice becomes, and DVR events kept apart
// from it while the event worker runs.
#include "client/links/link_notices.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "client/foundation/app_state.h"
#include "client/foundation/config/mailslot.h"
#include "client/foundation/dvr_events.h"
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
  EXPECT_EQ(out.find("dropping link notices"), out.rfind("dropping link notices"));
  EXPECT_NE(std::string::npos, out.find("dropping link notices"));
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

// A flood of link messages that fills this queue costs the main window no DVR event: those
// go to the event worker, in order, and never through here.
TEST(LinkNotices, dvr_events_bypass_a_full_queue_while_the_event_worker_runs) {
  clear_link_notices();
  auto ctx = std::make_unique<APP_CONTEXT>();
  ASSERT_EQ(0, start_event_actions(nullptr, ctx.get()));
  testing::internal::CaptureStdout();
  uint8_t comm[200] = {};
  for (size_t i = 0; i <= LINK_NOTICE_CAPACITY; ++i)
    post_link_notice(UE_LINK_COMMAND, comm, sizeof comm);
  EVENT_NOTICE n;
  std::snprintf(n.dvr_name, sizeof n.dvr_name, "DVR-1");
  for (int i = 1; i <= 3; ++i) {
    n.time = i;
    EXPECT_EQ(0, queue_dvr_event(n, 0));
  }
  ASSERT_TRUE(wait_event_actions_idle(20000));
  stop_event_actions();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(3, last_dvr_event().time);
  LINK_NOTICE taken;
  size_t count = 0;
  while (take_link_notice(&taken)) {
    EXPECT_EQ(UE_LINK_COMMAND, taken.number);
    ++count;
  }
  EXPECT_EQ(LINK_NOTICE_CAPACITY, count);
}
