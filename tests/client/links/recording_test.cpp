// Local recording: what the switches leave on disk, what the append keeps, and how the writer
// behaves when the disk is full, the queue overflows or the process is killed.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>

#include "client/foundation/channel_table.h"
#include "client/links/link_notices.h"
#include "client/links/recording.h"
#include "tests/client/links/record_files.h"

namespace {

using namespace rectest;

class Recording : public ::testing::Test {
 protected:
  ScratchDir dir;
  std::unique_ptr<APP_CONTEXT> ctx{new APP_CONTEXT()};
  RECEIVER_INFO* rx = nullptr;

  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    SDL_Init(SDL_INIT_VIDEO);
    ASSERT_EQ(init_app_context(ctx.get()), 0);
    ctx->num_receivers = 1;
    rx = &ctx->receivers[0];
    ASSERT_EQ(init_receiver(rx), 0);
    // A DVR name that tries to leave the record directory.
    std::snprintf(rx->name, sizeof rx->name, "../x/y");
    rx->protocol = 'Q';
    rx->num_video = 4;
    rx->context = ctx.get();
    for (int k = 0; k < 4; ++k) rx->channels[k].id = k;
  }
  void TearDown() override {
    end_recordings(ctx.get());
    set_record_write(nullptr);
    free_app_context(ctx.get());
    SDL_Event ev;
    while (SDL_PeepEvents(&ev, 1, SDL_GETEVENT, SDL_ALLEVENTS) > 0) {}
    SDL_Quit();
  }

  int append(int channel, const Rec& r) {
    const size_t hs = r.media == 'A'                           ? AUDIO_FRAME_HEADER_SIZE
                      : r.protocol == 'I' || r.protocol == 'W' ? PICTURE_HEADER_SIZE
                                                               : FRAME_HEADER_SIZE;
    const size_t reserve = r.media == 'A' ? AUDIO_PAYLOAD_SLOT : 0;
    return append_record(rx, channel, r.protocol, r.media, r.body.data(), hs, r.body.data() + hs,
                         r.body.size() - hs, reserve);
  }
  void select(std::initializer_list<int> channels) {
    for (int k = 0; k < 4; ++k) rx->channels[k].selected = 0;
    for (int k : channels) rx->channels[k].selected = 1;
  }
  int record_state_events() {
    int n = 0;
    SDL_Event ev;
    SDL_PumpEvents();
    while (SDL_PeepEvents(&ev, 1, SDL_GETEVENT, SDL_EVENTMASK(SDL_USEREVENT)) > 0)
      n += user_event_number(ev) == UE_RECORD_STATE;
    return n;
  }
};

TEST_F(Recording, append_keeps_records_whole_and_later_per_kind) {
  select({0});
  ASSERT_EQ(start_recording(ctx.get()), 1);
  std::vector<uint8_t> au(300, 0xAB);
  struct Step {
    Rec rec;
    int expect;
  } steps[] = {
      {q_video(0, true, 100, 0, au), 1},
      {q_audio(0, 99, 900), 1},            // earlier than the video: audio keeps its own time
      {q_video(0, false, 100, 0, au), 0},  // not later than the last video
      {q_audio(0, 99, 900), 0},
      {q_video(0, false, 100, 40, au), 1},
      {q_video(0, false, 100, 20, au), 0},  // goes back in time
      {q_audio(0, 100, 0), 1},
  };
  std::vector<Rec> kept;
  for (const Step& s : steps) {
    EXPECT_EQ(append(0, s.rec), s.expect);
    if (s.expect == 1) kept.push_back(s.rec);
  }
  EXPECT_EQ(append(1, q_video(1, true, 200, 0, au)), 0);  // not recording
  stop_recording(ctx.get());
  EXPECT_EQ(record_state_events(), 1);
  end_recordings(ctx.get());

  auto files = dir.files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].parent_path(), dir.path);  // "../x/y" stays inside
  bool whole = false;
  auto recs = parse_zol(read_file(files[0]), &whole);
  EXPECT_TRUE(whole);
  ASSERT_EQ(recs.size(), kept.size());
  for (size_t i = 0; i < recs.size(); ++i) {
    EXPECT_EQ(recs[i].media, kept[i].media) << i;
    EXPECT_EQ(recs[i].body, kept[i].body) << i;
  }
  EXPECT_STREQ(last_record_name, files[0].c_str());
}

// A 'W' playback started again at an earlier minute goes back in time: recording goes on
// from the frame after the jump, and a repeated time stamp is still left out.
TEST_F(Recording, w_playback_that_jumps_back_records_on_after_the_jump) {
  select({1});
  ASSERT_EQ(start_recording(ctx.get()), 1);
  auto w = [](uint32_t sec, uint32_t usec) {
    Rec r = i_video(1, false, sec, usec, 40);
    r.protocol = 'W';
    return r;
  };
  struct Step {
    Rec rec;
    int expect;
  } steps[] = {
      {w(600, 0), 1},     {w(600, 40000), 1}, {w(300, 0), 0},  // the jump back
      {w(300, 40000), 1}, {w(300, 40000), 0}, {w(300, 80000), 1},
  };
  for (size_t i = 0; i < std::size(steps); ++i)
    EXPECT_EQ(append(1, steps[i].rec), steps[i].expect) << i;
  stop_recording(ctx.get());
  end_recordings(ctx.get());
  auto files = dir.files();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(parse_zol(read_file(files[0])).size(), 4u);
}

TEST_F(Recording, the_record_switch_deletes_short_files_and_stop_keeps_them) {
  struct Case {
    size_t kib;
    bool by_toggle;
    bool kept;
  } cases[] = {{100, true, false}, {200, true, true}, {100, false, true}};
  std::vector<uint8_t> au(4096, 0x11);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.kib) + (c.by_toggle ? " toggle" : " stop"));
    for (auto& f : dir.files()) fs::remove(f);
    select({2});
    ASSERT_EQ(toggle_recording(ctx.get()), 1);
    const std::string name = rx->channels[2].record_name;
    for (uint32_t i = 0; i * au.size() < c.kib * 1024; ++i)
      ASSERT_EQ(append(2, q_video(2, i == 0, 100 + i, 0, au)), 1);
    if (c.by_toggle)
      EXPECT_EQ(toggle_recording(ctx.get()), 0);
    else
      stop_recording(ctx.get());
    EXPECT_EQ(rx->channels[2].recording, 0);
    EXPECT_EQ(rx->record_mask.load(), 0u);
    EXPECT_EQ(record_state_events(), 1);
    end_recordings(ctx.get());
    EXPECT_EQ(fs::exists(name), c.kept);
  }
}

// Disk full for one file: writes to it stop short once it holds `limit` bytes.
std::atomic<int> full_fd{-1};
std::atomic<long> full_limit{LONG_MAX};
ssize_t full_disk_write(int fd, const void* p, size_t n) {
  if (fd == full_fd.load()) {
    const off_t at = lseek(fd, 0, SEEK_CUR);
    if (at + off_t(n) > full_limit.load()) {
      const size_t room = at < full_limit.load() ? size_t(full_limit.load() - at) : 0;
      if (room == 0) {
        errno = ENOSPC;
        return -1;
      }
      return ::write(fd, p, room);
    }
  }
  return ::write(fd, p, n);
}

// Error boxes posted for the window loop since the last call; the last one's text in *text.
int error_boxes(std::string* text = nullptr) {
  int n = 0;
  LINK_NOTICE notice;
  while (take_link_notice(&notice))
    if (notice.number == LINK_ERROR_BOX) {
      ++n;
      if (text) *text = notice.text();
    }
  return n;
}

TEST_F(Recording,
       full_disk_cuts_to_a_whole_record_tells_the_operator_once_and_leaves_no_empty_file) {
  clear_link_notices();
  select({0, 1});
  ASSERT_EQ(start_recording(ctx.get()), 2);
  const std::string full_name = rx->channels[0].record_name;
  full_fd = fileno(rx->channels[0].record_file);
  full_limit = 10000;
  set_record_write(full_disk_write);
  std::vector<uint8_t> au(1500, 0x22);
  for (uint32_t i = 0; i < 20; ++i) {
    append(0, q_video(0, i % 5 == 0, 100 + i, 0, au));
    append(1, q_video(1, i % 5 == 0, 100 + i, 0, au));
  }
  ASSERT_TRUE(wait_for([&] { return rx->channels[0].recording == 0; }, 5000));
  EXPECT_EQ(rx->record_mask.load(), 2u);
  EXPECT_EQ(record_state_events(), 0);  // channel 1 still records
  std::string box;
  EXPECT_EQ(error_boxes(&box), 1);
  EXPECT_EQ(box, "Recording to " + full_name + " stopped: " + std::strerror(ENOSPC) + "\n");
  EXPECT_EQ(append(1, q_video(1, false, 200, 0, au)), 1);

  // The other file fills up too: now nothing records, and the window hears of it.
  full_fd = fileno(rx->channels[1].record_file);
  const std::string other = rx->channels[1].record_name;
  EXPECT_EQ(append(1, q_video(1, false, 201, 0, au)), 1);
  ASSERT_TRUE(wait_for([&] { return rx->channels[1].recording == 0; }, 5000));
  EXPECT_TRUE(wait_for([&] { return record_state_events() == 1; }, 5000));
  EXPECT_EQ(error_boxes(), 0);  // the same full disk: no second box

  // The operator's next 'd' starts a recording that cannot write a single record: it is
  // told again, and no empty file stays behind.
  select({0});
  ASSERT_EQ(toggle_recording(ctx.get()), 1);
  const std::string empty = rx->channels[0].record_name;
  full_fd = fileno(rx->channels[0].record_file);
  full_limit = 0;
  EXPECT_EQ(append(0, q_video(0, true, 300, 0, au)), 1);
  ASSERT_TRUE(wait_for([&] { return rx->channels[0].recording == 0; }, 5000));
  EXPECT_EQ(error_boxes(), 1);
  end_recordings(ctx.get());
  EXPECT_FALSE(fs::exists(empty));
  EXPECT_EQ(dir.files().size(), 2u);

  for (const std::string& name : {full_name, other}) {
    bool whole = false;
    auto bytes = read_file(name);
    auto recs = parse_zol(bytes, &whole);
    EXPECT_TRUE(whole) << name;
    EXPECT_GT(recs.size(), 0u);
  }
  EXPECT_EQ(read_file(full_name).size(), 6u * (1500 + 48));
  EXPECT_GE(get_record_counters().failures, 2u);
}

// Today's system log in the current directory ("" when there is none).
std::string system_log() {
  time_t now = time(nullptr);
  struct tm t {};
  localtime_r(&now, &t);
  char name[64];
  strftime(name, sizeof name, "logs/sys%Y%m%d.txt", &t);
  auto bytes = read_file(name);
  return std::string(bytes.begin(), bytes.end());
}

size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(Recording, a_record_folder_that_cannot_hold_a_file_tells_the_operator_once_per_switch) {
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.path.c_str()), 0);  // the system log goes to ./logs/
  const std::string blocker = (dir.path / "blocker").string();
  std::fclose(std::fopen(blocker.c_str(), "w"));
  // Root writes into a read-only folder, so only a file standing where a folder should be
  // stops it: the record folder is that file, or a folder below it.
  const std::string folders[] = {blocker + "/", blocker + "/sub/"};
  clear_link_notices();
  size_t lines = 0;
  for (const std::string& folder : folders) {
    SCOPED_TRACE(folder);
    std::snprintf(app_options.program_dir, sizeof app_options.program_dir, "%s", folder.c_str());
    select({0, 1, 2});
    for (int press = 0; press < 2; ++press) {
      EXPECT_EQ(press ? start_recording(ctx.get()) : toggle_recording(ctx.get()), 0);
      EXPECT_EQ(rx->record_mask.load(), 0u);
      EXPECT_EQ(record_state_events(), 1);
      std::string box;
      EXPECT_EQ(error_boxes(&box), 1);  // three channels failed, one box
      EXPECT_EQ(box.rfind("Recording to " + folder, 0), 0u) << box;
      EXPECT_NE(box.find(std::string(" not started: ") + std::strerror(ENOTDIR) + "\n"),
                std::string::npos)
          << box;
      const std::string log = system_log();
      EXPECT_EQ(count_of(log, "|ERROR|Recording to "), ++lines) << log;
    }
  }
  std::snprintf(app_options.program_dir, sizeof app_options.program_dir, "%s/",
                dir.path.c_str());
  select({0});
  EXPECT_EQ(toggle_recording(ctx.get()), 1);
  EXPECT_EQ(error_boxes(), 0);
  EXPECT_EQ(count_of(system_log(), "|ERROR|"), lines);
  ASSERT_EQ(chdir(cwd), 0);
}

// A writer stuck on a slow disk until released.
std::atomic<bool> disk_stuck{false};
ssize_t stuck_write(int fd, const void* p, size_t n) {
  while (disk_stuck.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return ::write(fd, p, n);
}

TEST_F(Recording, a_full_queue_drops_until_the_next_key_frame_and_never_waits) {
  select({0});
  ASSERT_EQ(start_recording(ctx.get()), 1);
  disk_stuck = true;
  set_record_write(stuck_write);
  const RECORD_COUNTERS before = get_record_counters();
  std::vector<uint8_t> au(256 * 1024, 0x33);
  uint32_t t = 100;
  int queued = 0;
  while (append(0, q_video(0, queued == 0, t++, 0, au)) == 1) ++queued;
  // Below the limit nothing was lost.
  EXPECT_GE(size_t(queued + 1) * (au.size() + 48), RECORD_QUEUE_LIMIT);
  EXPECT_EQ(append(0, q_video(0, false, t++, 0, au)), -1);
  disk_stuck = false;
  ASSERT_TRUE(wait_for(
      [&] { return get_record_counters().written - before.written >= uint64_t(queued); }, 10000));
  // Room again, but the gap lasts until a key frame.
  EXPECT_EQ(append(0, q_audio(0, t, 0)), -1);
  EXPECT_EQ(append(0, q_video(0, false, t++, 0, au)), -1);
  EXPECT_EQ(append(0, q_video(0, true, t++, 0, au)), 1);
  EXPECT_EQ(append(0, q_video(0, false, t++, 0, au)), 1);
  const RECORD_COUNTERS after = get_record_counters();
  EXPECT_EQ(after.gaps - before.gaps, 1u);
  EXPECT_EQ(after.dropped - before.dropped, 4u);
  stop_recording(ctx.get());
  end_recordings(ctx.get());
  auto files = dir.files();
  ASSERT_EQ(files.size(), 1u);
  bool whole = false;
  EXPECT_EQ(parse_zol(read_file(files[0]), &whole).size(), size_t(queued + 2));
  EXPECT_TRUE(whole);
}

TEST_F(Recording, a_killed_recording_process_leaves_a_file_that_plays) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    select({0});
    if (start_recording(ctx.get()) != 1) _exit(2);
    std::vector<uint8_t> au(3000, 0x44);
    for (uint32_t i = 0;; ++i) {
      append(0, q_video(0, i % 10 == 0, 1000 + i / 25, uint16_t(i % 25 * 40), au));
      append(0, q_audio(0, 1000 + i / 25, uint16_t(i % 25 * 40 + 5)));
    }
  }
  bool grown = wait_for(
      [&] {
        auto files = dir.files();
        return files.size() == 1 && fs::file_size(files[0]) > 300 * 1024;
      },
      20000);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(grown);
  const fs::path file = dir.files().at(0);
  auto recs = parse_zol(read_file(file));
  size_t keys = 0;
  for (const Rec& r : recs)
    keys += r.media == 'Y' && decode_frame_header(r.body.data()).frame_type == 1;
  ASSERT_GT(keys, 0u);

  PlayerRig rig(1, 0x400000);
  std::vector<KEY_FRAME_ENTRY> index(RECORD_INDEX_MAX);
  int count = 0;
  std::snprintf(rig.rx->file_name, sizeof rig.rx->file_name, "%s", file.c_str());
  rig.rx->file = std::fopen(file.c_str(), "rb");
  ASSERT_EQ(index_record_file(index.data(), &count, rig.rx), 0);
  EXPECT_EQ(size_t(count), keys);
  std::fclose(rig.rx->file);
  rig.rx->file = nullptr;
  rig.start(file, play_record_file);
  auto fed = rig.take_until(recs.size(), 20000);
  EXPECT_EQ(fed.size(), recs.size());
}

}  // namespace
