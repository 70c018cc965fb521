// Recorded-file playback: the key-frame index and seek, what the player feeds the rings from
// whole and cut files, the grid it asks for, and when it stops, pauses or skips.
#include "client/links/connection.h"
#include "client/links/dat_file.h"
#include "client/links/link_notices.h"
#include "peers/qdvr/qdvr_peer.h"
#include "tests/client/links/record_files.h"

namespace {

using namespace rectest;

TEST(RecordSeek, binary_search_edges) {
  auto idx = entries({{0, 10}, {0, 20}, {0, 30}, {0, 40.5}});
  struct Case {
    double t;
    int expect;
  } cases[] = {{0, -1}, {9.99, -1}, {10, 0},   {15, 0}, {20, 1},          {29.9, 1},
               {30, 2}, {40.4, 2},  {40.5, 3}, {41, 3}, {4294967295.0, 3}};
  for (const Case& c : cases)
    EXPECT_EQ(find_key_frame(idx.data(), int(idx.size()), c.t), c.expect) << c.t;
  EXPECT_EQ(find_key_frame(idx.data(), 0, 5), -1);
  EXPECT_EQ(find_key_frame(idx.data(), 1, 10), 0);
}

// The "Too many key frames" boxes posted for the window loop.
size_t key_frame_boxes() {
  size_t boxes = 0;
  LINK_NOTICE n;
  while (take_link_notice(&n))
    boxes += n.number == LINK_ERROR_BOX && std::strstr(n.text(), "Too many key frames") != nullptr;
  return boxes;
}

// Both indexes stop at their capacity and tell the window loop so once per build, not once per
// further key frame; a receiver told to stop is not kept reading to the file's end.
TEST(RecordIndex, a_full_index_keeps_its_first_entries_and_warns_once) {
  ScratchDir dir;
  struct Case {
    const char* name;
    int max;
  } cases[] = {{"many.zol", RECORD_INDEX_MAX}, {"many.dat", DAT_INDEX_MAX}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool dat = std::strstr(c.name, ".dat") != nullptr;
    std::vector<uint8_t> file;
    if (dat) file = {0x00, 0x22, 0x03, 0x03, 0, 0, 0, 0};
    for (int i = 0; i < c.max + 5; ++i) {
      const uint32_t sec = 100 + uint32_t(i);
      auto b = dat ? qdvr::build_fsh(3, 0, 176, 144, 4, true, sec, 0, 0, false, 0)
                   : q_video(0, true, sec, 0, {0, 0, 0, 1}).bytes();
      file.insert(file.end(), b.begin(), b.end());
      if (dat) file.insert(file.end(), {0, 0, 0, 1});
    }
    const fs::path path = dir.path / c.name;
    write_file(path, file);
    PlayerRig rig(1);
    std::snprintf(rig.rx->file_name, sizeof rig.rx->file_name, "%s", path.c_str());
    rig.rx->file = std::fopen(path.c_str(), "rb");
    std::vector<KEY_FRAME_ENTRY> index(size_t(c.max));
    auto build = [&](int* count) {
      if (!dat) return index_record_file(index.data(), count, rig.rx);
      DAT_FILE_INFO info;
      read_dat_file_header(rig.rx->file, &info);
      return index_dat_file(index.data(), count, rig.rx, info);
    };
    clear_link_notices();
    int count = 0;
    EXPECT_EQ(build(&count), 0);
    ASSERT_EQ(count, c.max);
    EXPECT_EQ(index[size_t(c.max) - 1].sec, 100u + uint32_t(c.max) - 1);
    EXPECT_EQ(key_frame_boxes(), 1u);
    rig.rx->status.store(RX_STOP);
    EXPECT_EQ(build(&count), -7);
    EXPECT_LE(count, 1);
    std::fclose(rig.rx->file);
    rig.rx->file = nullptr;
  }
}

// Every 'S' frame is a key frame, whether its file marks it (type 1) or predates the mark
// (type 0); the index takes one a second per channel, so seeking works and an hour fits.
TEST(RecordIndex, s_frames_are_key_frames_entered_once_a_second_per_channel) {
  ScratchDir dir;
  std::vector<uint8_t> file;
  const std::vector<uint8_t> data(30, 0x11);
  for (int i = 0; i < 75; ++i) {  // 3 s at 25 frames a second on each of two channels
    const uint32_t ms = uint32_t(i) * 40;
    for (int ch = 0; ch < 2; ++ch) {
      Rec r = q_video(ch, ch == 1, 500 + ms / 1000, uint16_t(ms % 1000), data);
      r.protocol = 'S';
      auto b = r.bytes();
      file.insert(file.end(), b.begin(), b.end());
    }
  }
  const fs::path path = dir.path / "s.zol";
  write_file(path, file);
  PlayerRig rig(1);
  std::snprintf(rig.rx->file_name, sizeof rig.rx->file_name, "%s", path.c_str());
  rig.rx->file = std::fopen(path.c_str(), "rb");
  std::vector<KEY_FRAME_ENTRY> index(RECORD_INDEX_MAX);
  int count = 0;
  EXPECT_EQ(index_record_file(index.data(), &count, rig.rx), 0);
  std::fclose(rig.rx->file);
  rig.rx->file = nullptr;
  ASSERT_EQ(count, 6);
  const size_t record = FRAME_RECORD_HEADER_SIZE + FRAME_HEADER_SIZE + data.size();
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(index[size_t(i)].channel, uint32_t(i % 2));
    EXPECT_EQ(index[size_t(i)].sec, 500u + uint32_t(i / 2));
    EXPECT_EQ(index[size_t(i)].msec, 0);
    EXPECT_EQ(index[size_t(i)].offset, uint64_t(i / 2 * 25 * 2 + i % 2) * record);
  }
}

// A small 'Q' recording: key, audio, predicted, key, audio, predicted.
std::vector<Rec> small_recording() {
  std::vector<uint8_t> au(20, 0x5A);
  return {q_video(0, true, 100, 0, au), q_audio(0, 100, 10), q_video(0, false, 100, 40, au),
          q_video(0, true, 101, 0, au), q_audio(0, 101, 10), q_video(0, false, 101, 40, au)};
}

TEST(RecordPlayback, a_file_cut_anywhere_plays_to_its_last_whole_record) {
  setenv("VIGILO_BOX_ANSWER", "ok", 1);
  ScratchDir dir;
  std::vector<uint8_t> file;
  std::vector<size_t> ends;  // offset after each record
  std::vector<int> keys_before;
  int keys = 0;
  const std::vector<Rec> recs = small_recording();
  for (const Rec& r : recs) {
    auto b = r.bytes();
    file.insert(file.end(), b.begin(), b.end());
    ends.push_back(file.size());
    keys += r.media == 'Y' && decode_frame_header(r.body.data()).frame_type == 1;
    keys_before.push_back(keys);
  }
  auto check = [&](size_t cut) {
    SCOPED_TRACE(cut);
    const fs::path path = dir.path / ("cut" + std::to_string(cut) + ".zol");
    write_file(path, std::vector<uint8_t>(file.begin(), file.begin() + long(cut)));
    size_t whole = 0;
    while (whole < ends.size() && ends[whole] <= cut) ++whole;
    const size_t whole_end = whole ? ends[whole - 1] : 0;

    PlayerRig rig(1);
    std::vector<KEY_FRAME_ENTRY> index(RECORD_INDEX_MAX);
    int count = -1;
    std::snprintf(rig.rx->file_name, sizeof rig.rx->file_name, "%s", path.c_str());
    rig.rx->file = std::fopen(path.c_str(), "rb");
    const int rc = index_record_file(index.data(), &count, rig.rx);
    std::fclose(rig.rx->file);
    rig.rx->file = nullptr;
    if (cut < 13) {
      EXPECT_EQ(rc, -2);
      return;
    }
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(count, whole ? keys_before[whole - 1] : 0);

    rig.start(path, play_record_file);
    auto fed = rig.take_until(whole, 5000);
    // The player rests at the first record that is not whole, with the file positioned there.
    EXPECT_TRUE(wait_for(
        [&] {
          SDL_mutexP(rig.rx->mutex);
          const bool at = rig.rx->file && ftello(rig.rx->file) == off_t(whole_end);
          SDL_mutexV(rig.rx->mutex);
          return at && rig.running();
        },
        5000));
    rig.stop();
    auto more = rig.take();
    fed.insert(fed.end(), more.begin(), more.end());
    EXPECT_EQ(fed.size(), whole);
    for (size_t i = 0; i < std::min(whole, fed.size()); ++i) EXPECT_EQ(fed[i].body, recs[i].body);
  };
  // Every offset, a few files at a time.
  constexpr size_t kThreads = 8;
  std::vector<std::thread> pool;
  for (size_t t = 0; t < kThreads; ++t)
    pool.emplace_back([&, t] {
      for (size_t cut = t; cut <= file.size(); cut += kThreads) check(cut);
    });
  for (auto& th : pool) th.join();
}

// Layouts set through the connection's hook: the players must leave this to the window loop.
std::vector<int> asked_layouts;
void note_layout(APP_CONTEXT* ctx, int layout) {
  asked_layouts.push_back(layout);
  ctx->layout = layout;
  ctx->page = 0;
}

struct LayoutHook {
  LayoutHook() {
    asked_layouts.clear();
    CONNECTION_HOOKS h{};
    h.set_layout = note_layout;
    set_connection_hooks(h);
  }
  ~LayoutHook() { set_connection_hooks(CONNECTION_HOOKS{}); }
};

TEST(RecordPlayback, the_window_loop_gets_the_grid_of_the_channels_seen_once) {
  ScratchDir dir;
  struct Case {
    int channels, side;
  } cases[] = {{1, 1}, {3, 2}, {4, 2}, {5, 2}, {7, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.channels);
    LayoutHook hook;
    std::vector<uint8_t> file;
    for (int k = 0; k < c.channels; ++k) {
      auto b = i_video(k + 2, true, 100, uint32_t(k) * 1000, 10).bytes();
      file.insert(file.end(), b.begin(), b.end());
    }
    const fs::path path = dir.path / "grid.zol";
    write_file(path, file);
    PlayerRig rig(8);
    for (int g = 1; g <= 12; ++g) rig.ctx->layouts[g].num_cells = uint32_t(g * g);
    rig.ctx->layout = 4;
    take_layout_request();
    rig.start(path, play_record_file);
    EXPECT_EQ(rig.take_until(size_t(c.channels), 5000).size(), size_t(c.channels));
    // The window loop gets the grid to show.
    EXPECT_EQ(take_layout_request(), c.side);
    // The operator picks another layout; the same channels playing again leave it alone.
    rig.ctx->layout = 5;
    rig.rx->position = 0;
    ASSERT_TRUE(wait_for([&] { return rig.running(); }, 5000));
    seek_record_file(rig.rx);
    EXPECT_EQ(rig.take_until(size_t(c.channels), 5000).size(), size_t(c.channels));
    EXPECT_EQ(take_layout_request(), 0);
    EXPECT_TRUE(asked_layouts.empty()) << "the player thread set a layout";
    // The file's first channel shows in cell 0; the ids stay unique.
    EXPECT_EQ(rig.rx->channels[2].id, 0);
    EXPECT_EQ(rig.rx->channels[0].id, 2);
  }
}

TEST(RecordPlayback, speed_pause_and_bad_channels_decide_what_is_fed) {
  ScratchDir dir;
  std::vector<uint8_t> au(20, 1);
  std::vector<uint8_t> file;
  for (const Rec& r :
       {q_video(0, true, 100, 0, au), q_audio(0, 100, 10), q_video(200, true, 100, 20, au),
        q_video(1, false, 100, 40, au), q_audio(1, 100, 50)}) {
    auto b = r.bytes();
    file.insert(file.end(), b.begin(), b.end());
  }
  const fs::path path = dir.path / "mixed.zol";
  write_file(path, file);
  struct Case {
    double speed;
    uint32_t flags;
    size_t video, audio;
  } cases[] = {{1.0, 0, 2, 2}, {2.0, 0, 2, 0}, {0.5, 0, 2, 0},
               {1.0, 2, 0, 0}, {1.0, 7, 0, 0}, {1.0, 8, 2, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.speed) + " flags " + std::to_string(c.flags));
    PlayerRig rig(4);
    rig.ctx->playback_speed = c.speed;
    rig.ctx->playback_flags = c.flags;
    rig.start(path, play_record_file);
    ASSERT_TRUE(wait_for([&] { return rig.running(); }, 5000));
    // Paused, nothing may arrive before the deadline.
    auto fed = rig.take_until(c.flags & 7 ? 1 : c.video + c.audio, c.flags & 7 ? 300 : 5000);
    size_t video = 0, audio = 0;
    for (const Rec& r : fed) {
      video += r.media == 'Y';
      audio += r.media == 'A';
      EXPECT_EQ(r.body[8], 0) << "'Q' records show as channel 0";
    }
    EXPECT_EQ(video, c.video);
    EXPECT_EQ(audio, c.audio);
    if (c.flags & 7) {
      rig.ctx->playback_flags = 0;  // resumes where it paused
      EXPECT_EQ(rig.take_until(4, 5000).size(), 4u);
    }
  }
}

TEST(RecordPlayback, players_end_soon_after_the_stop_wherever_they_wait) {
  ScratchDir dir;
  std::vector<uint8_t> au(4000, 2);
  std::vector<uint8_t> file;
  std::vector<Rec> recs;
  for (uint32_t i = 0; i < 40; ++i) {  // half a second apart: the pacing sleeps between them
    recs.push_back(q_video(0, i % 10 == 0, 100 + i / 2, uint16_t(i % 2 * 500), au));
    auto b = recs.back().bytes();
    file.insert(file.end(), b.begin(), b.end());
  }
  const fs::path path = dir.path / "wait.zol";
  write_file(path, file);
  enum Wait { RING_FULL, END_OF_FILE, PAUSED, PACING };
  for (Wait w : {RING_FULL, END_OF_FILE, PAUSED, PACING}) {
    SCOPED_TRACE(int(w));
    PlayerRig rig(1, w == RING_FULL ? 0x8000 : 0x80000);  // a ring of 32 KiB holds 7 records
    if (w == PAUSED) rig.ctx->playback_flags = 2;
    if (w == PACING) set_player_pacing(true);
    rig.start(path, play_record_file);
    ASSERT_TRUE(wait_for([&] { return rig.running(); }, 5000));
    if (w == END_OF_FILE) {
      EXPECT_EQ(rig.take_until(40, 5000).size(), 40u);
    } else if (w == RING_FULL || w == PACING) {
      // A full ring makes the player wait: what arrives over two ring fills is the file's first
      // records, in order, none overwritten or dropped. Then it fills the ring again and waits.
      const size_t want = w == RING_FULL ? 14 : 2;
      auto fed = rig.take_until(want, 5000);
      EXPECT_GE(fed.size(), want);
      for (size_t i = 0; i < fed.size() && i < recs.size(); ++i)
        EXPECT_EQ(fed[i].body, recs[i].body) << i;
    }
    const auto t0 = std::chrono::steady_clock::now();
    rig.stop();
    // Three of the waits last until the player is stopped, and the paced file takes 20 s.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_EQ(rig.result, 0);
  }
}

}  // namespace
