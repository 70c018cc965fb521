// Protocol 'W' through the DVR SDK: the receive thread and the playback selection that the
// search window sets (date, then minute) for it.
//
// Not built yet: pending/sdk_receiver.cpp stores nothing and fetches no calendar.
#pragma once

#include <cstdint>

// Search window: the calendar of the date (month 0-based; day and hour 255 for none) and the
// cameras of `channel_mask`; the first value is not read. 0.
int sdk_set_playback_date(int unused, int year, int month, int day, uint32_t channel_mask, int hour);
// Search window: playback from `minute` of the chosen hour; the first value is not read. 0.
int sdk_set_playback_time(void* unused, int minute);
