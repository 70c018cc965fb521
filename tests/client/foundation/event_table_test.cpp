// The event table of the last 1024 DVR events.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/foundation/event_table.h"

TEST(EventTable, records_keep_their_fields_and_bounds) {
  clear_event_records();
  EXPECT_EQ(get_event_record(0), nullptr);
  add_event_record(3, "DVR-1", 0x89ABCDEFu, 0x1u, 0x02);
  ASSERT_EQ(get_event_record_count(), 1);
  const EVENT_RECORD* r = get_event_record(0);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->time, 0x189ABCDEFull);
  EXPECT_STREQ(r->dvr_name, "DVR-1");
  EXPECT_EQ(r->channel, 3);
  EXPECT_EQ(r->kind, 0x02);
  EXPECT_EQ(get_event_record(1), nullptr);  // index == count
  EXPECT_EQ(get_event_record(-1), nullptr);
  add_event_record(1, std::string(500, 'N').c_str(), 1, 0, 0x20);
  EXPECT_EQ(strlen(get_event_record(1)->dvr_name), 130u);  // cut inside its record
  EXPECT_EQ(get_event_record(1)->channel, 1);
}

TEST(EventTable, record_1025_starts_a_fresh_table) {
  clear_event_records();
  for (int i = 0; i < MAX_EVENT_RECORDS; ++i)
    add_event_record(1, "d", static_cast<uint32_t>(i), 0, 2);
  EXPECT_EQ(get_event_record_count(), MAX_EVENT_RECORDS);
  EXPECT_EQ(get_event_record(1023)->time, 1023u);
  add_event_record(9, "last", 77, 0, 0x20);
  EXPECT_EQ(get_event_record_count(), 1);
  EXPECT_STREQ(get_event_record(0)->dvr_name, "last");
  EXPECT_EQ(get_event_record(1), nullptr);
}
