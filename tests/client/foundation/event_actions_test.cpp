// The main window's actions on a DVR event: log lines and index, numbering, what the window
// is shown (gathered), pop-up channel, sound, snapshot and its clean-up, video-loss marks;
// notices that must change nothing; the two stages' queues, the trace of what they refused,
// skipped or lost, alarms that never wait on a conversion, a burst that keeps every picture,
// and events that outlive a disconnect.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/config/mailslot.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/dvr_events.h"
#include "client/foundation/event_table.h"
#include "client/foundation/mail_queue.h"
#include "client/foundation/user_events.h"
#include "client/links/link_notices.h"
#include "tests/client/screens/eventually.h"

namespace {

struct Seen {
  std::vector<std::string> lines;
  int draws = 0;
  int clears = 0;
  std::vector<int> alarms;
  std::vector<int32_t> redraws;
} seen;

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::vector<std::string> files_in(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

// Local noon of a fixed day, so the day file's name is known.
int64_t noon(int year, int month, int day) {
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  return int64_t(mktime(&t));
}

size_t count_lines(const std::string& text) {
  return size_t(std::count(text.begin(), text.end(), '\n'));
}

// A 64x48 picture of one colour; the receiver frees it.
SDL_Surface* picture() {
  SDL_Surface* pic = SDL_CreateRGBSurface(SDL_SWSURFACE, 64, 48, 32, 0xFF0000, 0xFF00, 0xFF, 0);
  if (pic) SDL_FillRect(pic, nullptr, 0x3080C0);
  return pic;
}
constexpr size_t kPictureBytes = 64 * 4 * 48;

std::string today(const char* form) {
  const time_t t = time(nullptr);
  struct tm local {};
  localtime_r(&t, &local);
  char name[64];
  strftime(name, sizeof name, form, &local);
  return name;
}

EVENT_NOTICE notice(const char* dvr, uint8_t kind, uint32_t motion, uint32_t sensor, int64_t t) {
  EVENT_NOTICE n;
  std::snprintf(n.dvr_name, sizeof n.dvr_name, "%s", dvr);
  n.kind = kind;
  n.mask_motion = motion;
  n.mask_sensor = sensor;
  n.time = t;
  return n;
}

class EventActions : public testing::Test {
 protected:
  void SetUp() override {
    seen = Seen{};
    ctx_ = std::make_unique<APP_CONTEXT>();
    reset_channel_id_seq();
    reset_slot_seq();
    reset_event_numbers();
    clear_event_records();
    mail_queue_init();
    char cwd[512];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    cwd_ = cwd;
    dir_ = std::string(testing::TempDir()) + "events-" + std::to_string(getpid());
    mkdir(dir_.c_str(), 0700);
    ASSERT_EQ(0, chdir(dir_.c_str()));
    ASSERT_EQ(0, load_system_info(("[SYSTEM]\nrec_path=" + dir_ + "/rec/\n").c_str()));
    ASSERT_EQ(0, load_email_info("[EMAIL]\nreceipient=\nsmtpserver=\nattachment=1\ndelay=60\n"));
    set_event_action_hooks(EVENT_ACTION_HOOKS{});
    show_event_news(ctx_.get());  // what an earlier test left for the window
    set_event_action_hooks(
        EVENT_ACTION_HOOKS{[](APP_CONTEXT*, bool clear, const char* const* lines, size_t count) {
                             seen.clears += clear;
                             seen.lines.insert(seen.lines.end(), lines, lines + count);
                             ++seen.draws;
                           },
                           [](uint8_t k) { seen.alarms.push_back(k); },
                           [](APP_CONTEXT*, int32_t id) { seen.redraws.push_back(id); }});
    add("DVR-0");
    rx_ = add("DVR-1");
  }
  void TearDown() override {
    (void)std::system(("touch " + dir_ + "/release").c_str());  // a held converter ends
    stop_event_actions();
    if (reader_ >= 0) mailslot_close_reader(reader_);
    unsetenv("VIGILO_MAILSLOT_DIR");
    if (!path_.empty()) setenv("PATH", path_.c_str(), 1);
    set_event_action_hooks(EVENT_ACTION_HOOKS{});
    for (int r = 0; r < ctx_->num_receivers; ++r) free_receiver(&ctx_->receivers[r]);
    ASSERT_EQ(0, chdir(cwd_.c_str()));
    (void)std::system(("rm -rf " + dir_).c_str());
  }
  RECEIVER_INFO* add(const char* name, int channels = 4) {
    RECEIVER_INFO* rx = &ctx_->receivers[ctx_->num_receivers];
    EXPECT_EQ(init_receiver(rx), 0);
    rx->index = ctx_->num_receivers++;
    rx->context = ctx_.get();
    rx->num_video = channels;
    rx->channel_mask = (1u << channels) - 1;
    std::snprintf(rx->name, sizeof rx->name, "%s", name);
    assign_channel_ids(rx);
    return rx;
  }
  // cjpeg found first on the PATH from now on: a shell script of `body`.
  void converter(const std::string& body) {
    if (path_.empty()) path_ = getenv("PATH") ? getenv("PATH") : "";
    const std::string bin = dir_ + "/bin-" + std::to_string(++converters_);
    mkdir(bin.c_str(), 0700);
    std::ofstream(bin + "/cjpeg") << "#!/bin/sh\n" << body;
    chmod((bin + "/cjpeg").c_str(), 0700);
    setenv("PATH", (bin + ":" + path_).c_str(), 1);
  }
  void mail_to_someone() {
    ASSERT_EQ(0, load_email_info(
                     "[EMAIL]\nreceipient=ops@x\nsmtpserver=127.0.0.1\nattachment=1\ndelay=60\n"));
  }
  // The E-Map's side of the mailslot, in this test's folder.
  void open_mailslot() {
    setenv("VIGILO_MAILSLOT_DIR", (dir_ + "/slot").c_str(), 1);
    reader_ = mailslot_create_reader();
    ASSERT_GE(reader_, 0);
  }
  int forwarded(int want) {
    uint8_t buf[EVENT_NOTICE_SIZE];
    int n = 0;
    while (n < want && mailslot_read(reader_, buf, sizeof buf, 20000) == 1) ++n;
    return n;
  }
  std::unique_ptr<APP_CONTEXT> ctx_;
  RECEIVER_INFO* rx_ = nullptr;
  std::string cwd_, dir_, path_;
  int converters_ = 0;
  int reader_ = -1;
};

TEST_F(EventActions, motion_then_sensor_lines_in_the_event_day_file) {
  const int64_t t = noon(2021, 3, 4);
  EVENT_NOTICE n = notice("DVR-1", 0x22, 0x6, 0x1, t);
  ASSERT_EQ(0, handle_dvr_event(nullptr, ctx_.get(), &n));
  ASSERT_EQ(0, handle_dvr_event(nullptr, ctx_.get(), &n));
  EXPECT_TRUE(seen.lines.empty()) << "the window is shown the events when it looks";
  EXPECT_EQ(6, show_event_news(ctx_.get()));
  const std::vector<std::string> first = {"1|2021-03-04 12:00:00|DVR-1|CH 02|Motion",
                                          "2|2021-03-04 12:00:00|DVR-1|CH 03|Motion",
                                          "3|2021-03-04 12:00:00|DVR-1|CH 01|Sensor"};
  EXPECT_EQ(first, std::vector<std::string>(seen.lines.begin(), seen.lines.begin() + 3));
  EXPECT_EQ("6|2021-03-04 12:00:00|DVR-1|CH 01|Sensor", seen.lines.back());
  // Both notices are one redraw and one sound of each kind.
  EXPECT_EQ(1, seen.draws);
  EXPECT_EQ((std::vector<int>{0x02, 0x20}), seen.alarms);
  EXPECT_EQ(0, show_event_news(ctx_.get()));
  EXPECT_EQ(1, seen.draws);
  EXPECT_EQ(first[0] + "\n" + first[1] + "\n" + first[2] + "\n",
            read_file("logs/20210304.txt").substr(0, 3 * (first[0].size() + 1)));
  EXPECT_EQ("./logs/20210304.txt\n", read_file("logs/index.txt"));  // listed once
  EXPECT_EQ(6, get_event_record_count());
  EXPECT_EQ(2, get_event_record(0)->channel);
  // Marks: the sensor notice's channel lost its motion mark, the others kept theirs.
  EXPECT_EQ(0x20, rx_->channels[0].event_marks.load());
  EXPECT_EQ(0x02, rx_->channels[1].event_marks.load());
  // The pop-up takes the first channel's id over all receivers (DVR-0 holds ids 0..3).
  EXPECT_EQ(rx_->channels[1].id.load(), ctx_->alarm_channel.load());
  EXPECT_EQ(5, ctx_->alarm_channel.load());
}

TEST_F(EventActions, the_1024th_line_clears_the_list_and_is_number_1) {
  EVENT_NOTICE n = notice("DVR-1", 0x02, 0x1, 0, noon(2021, 3, 5));
  for (int i = 0; i < 1023; ++i) ASSERT_EQ(0, handle_dvr_event(nullptr, ctx_.get(), &n));
  EXPECT_EQ(1023, show_event_news(ctx_.get()));
  EXPECT_EQ(0, seen.clears);
  EXPECT_EQ(0u, seen.lines.back().rfind("1023|", 0));
  // Lines the window had not been shown before a clear are not shown at all.
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(0, handle_dvr_event(nullptr, ctx_.get(), &n));
  EXPECT_EQ(1, show_event_news(ctx_.get()));
  EXPECT_EQ(1, seen.clears);
  EXPECT_EQ(0u, seen.lines.back().rfind("1|", 0));
}

TEST_F(EventActions, notices_that_change_nothing) {
  EVENT_NOTICE unknown = notice("DVR-9", 0x02, 0x1, 0, noon(2021, 3, 6));
  EXPECT_EQ(-2, handle_dvr_event(nullptr, ctx_.get(), &unknown));
  // A name that fills its field without an end is cut, never read past.
  EVENT_NOTICE long_name = notice("", 0x02, 0x1, 0, noon(2021, 3, 6));
  std::memset(long_name.dvr_name, 'D', sizeof long_name.dvr_name);
  EXPECT_EQ(-2, handle_dvr_event(nullptr, ctx_.get(), &long_name));
  EXPECT_EQ(130u, std::strlen(last_dvr_event().dvr_name));
  EVENT_NOTICE no_time = notice("DVR-1", 0x02, 0x1, 0, INT64_MAX);
  EXPECT_EQ(-1, handle_dvr_event(nullptr, ctx_.get(), &no_time));
  EXPECT_EQ(0, show_event_news(ctx_.get()));
  EXPECT_TRUE(seen.lines.empty());
  EXPECT_TRUE(seen.alarms.empty());
  EXPECT_EQ(0, get_event_record_count());
  EXPECT_EQ(-1, ctx_->alarm_channel.load());
  EXPECT_TRUE(files_in("logs").empty());
}

TEST_F(EventActions, video_loss_marks_channels_and_redraws_the_shown_one) {
  ctx_->single_view = 2;
  ctx_->single_channel = rx_->channels[2].id.load();
  EVENT_NOTICE n = notice("DVR-1", 0, 0, 0, noon(2021, 3, 7));
  n.marker = 1;
  n.mask_80 = 0x5;
  ASSERT_EQ(0, handle_dvr_event(nullptr, ctx_.get(), &n));
  show_event_news(ctx_.get());
  EXPECT_EQ(3, rx_->channels[0].video_state.load());
  EXPECT_EQ(0, rx_->channels[1].video_state.load());
  EXPECT_EQ(3, rx_->channels[2].video_state.load());
  EXPECT_EQ((std::vector<int32_t>{rx_->channels[2].id.load()}), seen.redraws);
  EXPECT_TRUE(seen.lines.empty());
  EXPECT_EQ(0, seen.draws);
}

// The snapshot stays in the record folder as a JPEG unless its mail is a repeat within the
// delay, attachment is off, or the converter failed or overran its time (what it wrote is no
// picture); a mail refused for want of a recipient or room keeps it. An overrunning
// converter is ended and reaped before its file is deleted. A picture that could not be
// saved or converted is said in the system log, with the reason.
TEST_F(EventActions, snapshot_jpeg_goes_only_for_a_repeat_no_attachment_or_a_failed_converter) {
  rx_->channels[1].surface = picture();
  ASSERT_NE(nullptr, rx_->channels[1].surface);
  enum Before { kNothing, kSameEvent, kFullQueue };
  const char* not_converted = "cjpeg could not run, failed or overran";
  const char* not_written = "the picture could not be written to the record folder";
  struct Case {
    const char* what;
    bool recipient;
    int attachment;
    Before before;          // what the mail queue got first
    std::string converter;  // "" the real cjpeg, "-" none on the PATH
    size_t jpegs_left;
    int mails_queued;
    const char* lost = nullptr;  // the system log's reason
    bool blocked = false;        // the record folder cannot be made: a file holds its place
  } cases[] = {
      {"mailed", true, 1, kNothing, "", 1, 1},
      {"mail refused: no recipient", false, 1, kNothing, "", 1, 0},
      {"mail refused: the queue full", true, 1, kFullQueue, "", 1, MAIL_QUEUE_SLOTS},
      {"a repeat within the delay", true, 1, kSameEvent, "", 0, 1},
      {"attachment off", true, 0, kNothing, "", 0, 1},
      // Mailed without the picture.
      {"converter failed", true, 1, kNothing, "printf '\\377\\330partial'\nexit 1\n", 0, 1,
       not_converted},
      {"converter overran", true, 1, kNothing,
       "printf '\\377\\330partial'\necho $$ > '" + dir_ + "/hung.pid'\nexec sleep 60\n", 0, 1,
       not_converted},
      {"no converter", true, 1, kNothing, "-", 0, 1, not_converted},
      {"record folder unwritable", true, 1, kNothing, "", 0, 1, not_written, true},
  };
  std::ofstream(dir_ + "/blocker") << "a file, not a folder";
  const std::string sys_log = today("logs/sys%Y%m%d.txt");
  const std::string said = " DVR event snapshots not saved: ";
  int day = 8;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    mail_queue_init();
    if (!path_.empty()) setenv("PATH", path_.c_str(), 1);
    (void)std::system(("rm -rf " + dir_ + "/rec").c_str());
    ASSERT_EQ(
        0, load_system_info(
               ("[SYSTEM]\nrec_path=" + dir_ + (c.blocked ? "/blocker" : "") + "/rec/\n").c_str()));
    ASSERT_EQ(0,
              load_email_info((std::string("[EMAIL]\nreceipient=") + (c.recipient ? "ops@x" : "") +
                               "\nsmtpserver=" + (c.recipient ? "127.0.0.1" : "") +
                               "\nattachment=" + std::to_string(c.attachment) + "\ndelay=60\n")
                                  .c_str()));
    if (c.before == kSameEvent) {
      ASSERT_EQ(0, mail_enqueue(rx_->index, "DVR-1", 2, 0x02, nullptr));
    }
    for (int ch = 1; c.before == kFullQueue && ch <= MAIL_QUEUE_SLOTS; ++ch) {
      ASSERT_EQ(0, mail_enqueue(0, "DVR-0", ch, 0x02, nullptr));
    }
    if (c.converter == "-") {
      converter("");  // keeps the PATH
      setenv("PATH", (dir_ + "/no-cjpeg").c_str(), 1);
    } else if (!c.converter.empty()) {
      converter(c.converter);
    }
    const std::string sys_before = read_file(sys_log);
    EVENT_NOTICE n = notice("DVR-1", 0x02, 0x2, 0, noon(2021, 3, day++));
    ASSERT_EQ(0, handle_dvr_event(nullptr, ctx_.get(), &n));
    const std::vector<std::string> shots = files_in(dir_ + "/rec");
    ASSERT_EQ(c.jpegs_left, shots.size());
    EXPECT_EQ(c.mails_queued, mail_queue_count());
    const std::string sys = read_file(sys_log).substr(sys_before.size());
    if (c.lost) {
      const std::string line =
          "|EVENT|1" + said + c.lost + " (first from <DVR-1> CH 02); their mails go without them\n";
      EXPECT_NE(std::string::npos, sys.find(line)) << sys;
    }
    EXPECT_EQ(c.lost ? 1u : 0u, count_lines(sys)) << sys;
    if (const int pid = std::atoi(read_file(dir_ + "/hung.pid").c_str()); pid > 0) {
      EXPECT_TRUE(kill(pid, 0) != 0 && errno == ESRCH)
          << "the converter still runs, or is unreaped";
      std::remove((dir_ + "/hung.pid").c_str());
    }
    if (shots.empty()) continue;
    EXPECT_EQ(0u, shots[0].rfind("DVR-1-01-", 0)) << shots[0];  // the 0-based channel
    EXPECT_EQ(".jpg", shots[0].substr(shots[0].size() - 4));
    EXPECT_EQ(0, read_file(dir_ + "/rec/" + shots[0]).rfind("\xFF\xD8", 0));
  }
  mail_queue_init();
}

// The worker takes notices in order whatever holds it up; a full queue refuses, and each run
// of refusals is written once, with its count, after the events queued before it.
TEST_F(EventActions, worker_keeps_order_and_logs_a_run_of_refusals_once) {
  ASSERT_EQ(0, start_event_actions(nullptr, ctx_.get(), 4));
  EXPECT_EQ(-1, start_event_actions(nullptr, ctx_.get(), 4)) << "one worker";
  const int64_t now = time(nullptr);
  const uint64_t dropped_before = dvr_events_dropped();
  {
    // Holding what the worker needs for every event of a connected DVR holds the worker,
    // on the first notice: four more wait, the next seven are refused.
    std::lock_guard<std::mutex> hold(event_receivers_lock());
    ASSERT_EQ(0, queue_dvr_event(notice("DVR-1", 0x02, 0x1, 0, now)));
    ASSERT_TRUE(eventually([] { return dvr_events_waiting() == 0; }));
    for (int i = 1; i < 12; ++i)
      EXPECT_EQ(i <= 4 ? 0 : -2, queue_dvr_event(notice("DVR-1", 0x02, 0x1u << (i % 4), 0, now)))
          << i;
  }
  const int taken = 5, refused = 7;
  EXPECT_EQ(uint64_t(refused), dvr_events_dropped() - dropped_before);
  ASSERT_TRUE(wait_event_actions_idle(20000));
  EXPECT_EQ(taken, show_event_news(ctx_.get()));
  for (int i = 0; i < taken; ++i)
    EXPECT_EQ(0u, seen.lines[size_t(i)].find(std::to_string(i + 1) + "|")) << seen.lines[size_t(i)];

  char day[32], sys_day[32];
  const time_t t = time_t(now);
  struct tm local {};
  localtime_r(&t, &local);
  strftime(day, sizeof day, "logs/%Y%m%d.txt", &local);
  strftime(sys_day, sizeof sys_day, "logs/sys%Y%m%d.txt", &local);
  const std::string log = read_file(day);
  const std::string lost = "|DVR-1|" + std::to_string(refused) + " events lost|Dropped\n";
  ASSERT_NE(std::string::npos, log.find(lost)) << log;
  EXPECT_EQ(log.find(lost), log.rfind(lost));
  EXPECT_EQ(log.size(), log.find(lost) + lost.size()) << "after the events taken before it";
  EXPECT_NE(std::string::npos,
            read_file(sys_day).find("|EVENT|" + std::to_string(refused) + " DVR events lost"))
      << read_file(sys_day);

  // Stopped, it takes nothing: the windows without a worker act on no DVR event.
  stop_event_actions();
  EXPECT_EQ(-1, queue_dvr_event(notice("DVR-1", 0x02, 0x1, 0, now)));
}

// A conversion holds only the mails behind it: every later event is logged, listed and
// forwarded meanwhile, and the saved pictures are converted several at a time, the motion
// and sensor events of a channel in one notice from one conversion, each event with a JPEG
// of its own. Pictures that do not fit in the snapshot stage are not copied, their events
// mailed without one, and the run of skips is said once in the system log.
TEST_F(EventActions, alarms_never_wait_behind_snapshots_and_a_full_snapshot_stage_skips) {
  for (int k = 0; k < 4; ++k) ASSERT_NE(nullptr, rx_->channels[k].surface = picture());
  ASSERT_NO_FATAL_FAILURE(mail_to_someone());
  ASSERT_NO_FATAL_FAILURE(open_mailslot());
  // Every conversion waits for the test's word.
  converter("echo $$ >> '" + dir_ + "/started'\nwhile [ ! -e '" + dir_ +
            "/release' ]; do sleep 0.02; done\nprintf '\\377\\330held'\n");
  // Room for the first notice's two pictures and every mail, not for a third picture.
  ASSERT_EQ(0, start_event_actions(nullptr, ctx_.get(), 64, 2 * kPictureBytes + 4096));
  const uint64_t skipped_before = dvr_snapshots_skipped(), done_before = dvr_snapshots_done();
  const int64_t now = time(nullptr);
  for (const EVENT_NOTICE& n :
       {notice("DVR-1", 0x22, 0x3, 0x3, now), notice("DVR-1", 0x02, 0xC, 0, now),
        notice("DVR-1", 0x20, 0, 0xC, now)})
    ASSERT_EQ(0, queue_dvr_event(n, rx_->index));

  ASSERT_TRUE(eventually([] { return get_event_record_count() == 8; }, 60000));
  ASSERT_TRUE(wait_event_actions_idle(60000, false));
  EXPECT_EQ(8u, count_lines(read_file(today("logs/%Y%m%d.txt"))));
  EXPECT_EQ(8, show_event_news(ctx_.get()));
  EXPECT_EQ(3, forwarded(3));
  EXPECT_EQ(4u, dvr_snapshots_skipped() - skipped_before);
  // Both pictures are converted at once, each once for its two events.
  EXPECT_TRUE(eventually([&] { return count_lines(read_file(dir_ + "/started")) == 2; }))
      << count_lines(read_file(dir_ + "/started")) << " conversions at a time";

  (void)std::system(("touch " + dir_ + "/release").c_str());
  ASSERT_TRUE(wait_event_actions_idle(60000));
  EXPECT_EQ(2u, count_lines(read_file(dir_ + "/started")));
  EXPECT_EQ(4u, dvr_snapshots_done() - done_before);
  // A conversion held past its time limit (a slow machine) is ended: its mails go without it.
  const std::vector<std::string> jpegs = files_in(dir_ + "/rec");
  EXPECT_TRUE(jpegs.size() == 4 || jpegs.size() == 2 || jpegs.empty()) << jpegs.size();
  for (const std::string& j : jpegs) EXPECT_EQ("\xFF\xD8held", read_file(dir_ + "/rec/" + j)) << j;
  EXPECT_EQ(8, mail_queue_count());
  const std::string sys = read_file(today("logs/sys%Y%m%d.txt"));
  const std::string said =
      "|EVENT|4 DVR event snapshots skipped: the snapshot queue was full (first from <DVR-1>)\n";
  ASSERT_NE(std::string::npos, sys.find(said)) << sys;
  EXPECT_EQ(sys.find("snapshots skipped"), sys.rfind("snapshots skipped"));
}

// A burst of motion+sensor notices on 16 channels keeps a whole JPEG for every event, while
// eight conversions run side by side and the mailer waits on each; a burst whose converter
// fails leaves no JPEG and says so in one system log line, not one a picture.
TEST_F(EventActions, a_burst_keeps_a_jpeg_for_every_event_or_says_its_failures_once) {
  constexpr int kNotices = 20, kChannels = 16, kEvents = kNotices * 2 * kChannels;
  RECEIVER_INFO* rx = add("DVR-16", kChannels);
  for (int k = 0; k < kChannels; ++k) ASSERT_NE(nullptr, rx->channels[k].surface = picture());
  ASSERT_NO_FATAL_FAILURE(open_mailslot());
  const std::string sys_log = today("logs/sys%Y%m%d.txt");
  for (const bool failing : {false, true}) {
    SCOPED_TRACE(failing ? "failing cjpeg" : "cjpeg");
    if (failing) converter("printf '\\377\\330partial'\nexit 1\n");
    (void)std::system(("rm -rf " + dir_ + "/rec").c_str());
    const std::string sys_before = read_file(sys_log);
    const uint64_t done_before = dvr_snapshots_done(), failed_before = dvr_snapshots_failed();
    ASSERT_EQ(0, start_event_actions(nullptr, ctx_.get(), 64));
    const int64_t now = time(nullptr);
    {
      // The whole burst waits behind the first notice, and goes to the converters at once.
      std::lock_guard<std::mutex> hold(event_receivers_lock());
      for (int i = 0; i < kNotices; ++i)
        ASSERT_EQ(0, queue_dvr_event(notice("DVR-16", 0x22, 0xFFFF, 0xFFFF, now + i), rx->index));
    }
    ASSERT_TRUE(wait_event_actions_idle(60000));
    stop_event_actions();
    EXPECT_EQ(kNotices, forwarded(kNotices));
    EXPECT_EQ(uint64_t(kEvents), dvr_snapshots_done() - done_before);
    const std::vector<std::string> jpegs = files_in(dir_ + "/rec");
    const std::string sys = read_file(sys_log).substr(sys_before.size());
    if (failing) {
      EXPECT_TRUE(jpegs.empty()) << jpegs.size();
      EXPECT_EQ(uint64_t(kEvents), dvr_snapshots_failed() - failed_before);
      EXPECT_EQ("|EVENT|" + std::to_string(kEvents) +
                    " DVR event snapshots not saved: cjpeg could not run, failed or overran "
                    "(first from <DVR-16> CH 01); their mails go without them\n",
                sys.substr(std::min(sys.size(), sys.find('|', sys.find('|') + 1))))
          << sys;
      EXPECT_EQ(1u, count_lines(sys)) << sys;
      continue;
    }
    // Every mail was handed its JPEG, and every JPEG is whole.
    EXPECT_EQ(0u, dvr_snapshots_failed() - failed_before);
    EXPECT_EQ(size_t(kEvents), jpegs.size());
    int whole = 0;
    for (const std::string& j : jpegs) {
      const std::string b = read_file(dir_ + "/rec/" + j);
      whole += b.size() > 4 && b.rfind("\xFF\xD8", 0) == 0 &&
               b.compare(b.size() - 2, 2, "\xFF\xD9") == 0;
    }
    EXPECT_EQ(kEvents, whole);
    EXPECT_EQ(std::string::npos, sys.find("not saved")) << sys;
  }
}

// A converter that hangs holds the stop a bounded time, not its 3 s for every picture queued
// behind it: what is not converted by then is mailed without its picture, nothing of it is
// left in the record folder, and one system log line says how many.
TEST_F(EventActions, stop_behind_a_hung_converter_is_bounded_and_says_what_went_without) {
  for (int k = 0; k < 4; ++k) ASSERT_NE(nullptr, rx_->channels[k].surface = picture());
  ASSERT_NO_FATAL_FAILURE(mail_to_someone());
  converter("echo $$ >> '" + dir_ + "/started'\nexec sleep 60\n");
  ASSERT_EQ(0, start_event_actions(nullptr, ctx_.get(), 64));
  const int64_t now = time(nullptr);
  // 8 pictures, 16 events.
  ASSERT_EQ(0, queue_dvr_event(notice("DVR-1", 0x22, 0xF, 0xF, now), rx_->index));
  ASSERT_EQ(0, queue_dvr_event(notice("DVR-1", 0x22, 0xF, 0xF, now + 1), rx_->index));
  ASSERT_TRUE(wait_event_actions_idle(60000, false));
  ASSERT_TRUE(eventually([&] { return !read_file(dir_ + "/started").empty(); }));
  const auto t0 = std::chrono::steady_clock::now();
  stop_event_actions();
  const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(took, 12.0) << "3 s for each of 16 conversions would be 48 s";
  EXPECT_EQ(16, mail_queue_count());
  EXPECT_TRUE(files_in(dir_ + "/rec").empty());
  const std::string sys = read_file(today("logs/sys%Y%m%d.txt"));
  const std::string tail =
      " DVR event snapshots not converted at exit: their mails go without them\n";
  const size_t at = sys.find(tail);
  ASSERT_NE(std::string::npos, at) << sys;
  EXPECT_EQ(at, sys.rfind(tail));
  // All 16, but for a conversion that overran its own 3 s before the stop's deadline.
  const int said = std::atoi(sys.c_str() + sys.rfind('|', at) + 1);
  EXPECT_TRUE(said > 0 && said <= 16) << sys;
  mail_queue_init();
}

// An event a DVR sent while connected is an alarm that happened: a disconnect that frees the
// receiver before the event stage gets to it leaves it logged, listed, forwarded and mailed,
// without a picture. A DVR that was never connected still changes nothing.
TEST_F(EventActions, events_queued_before_a_disconnect_are_logged_forwarded_and_mailed) {
  ASSERT_NE(nullptr, rx_->channels[0].surface = picture());
  ASSERT_NO_FATAL_FAILURE(mail_to_someone());
  ASSERT_NO_FATAL_FAILURE(open_mailslot());
  ASSERT_EQ(0, start_event_actions(nullptr, ctx_.get(), 64));
  const int64_t now = time(nullptr);
  {
    std::lock_guard<std::mutex> hold(event_receivers_lock());  // the event stage waits here
    EVENT_NOTICE sent = notice("DVR-1", 0x22, 0x1, 0x2, now);
    EVENT_NOTICE stranger = notice("DVR-9", 0x02, 0x1, 0, now);
    ASSERT_EQ(0, queue_dvr_event(sent, rx_->index));
    ASSERT_EQ(0, queue_dvr_event(stranger, rx_->index));
    // The disconnect: no receiver is seen any more, and they are freed under this lock.
    ctx_->num_receivers = 0;
    free_receiver(&ctx_->receivers[0]);
    free_receiver(&ctx_->receivers[1]);
  }
  ASSERT_TRUE(wait_event_actions_idle(20000));
  EXPECT_EQ(2, show_event_news(ctx_.get()));
  const std::string log = read_file(today("logs/%Y%m%d.txt"));
  ASSERT_EQ(2u, count_lines(log)) << log;
  EXPECT_NE(std::string::npos, log.find("|DVR-1|CH 01|Motion\n")) << log;
  EXPECT_NE(std::string::npos, log.find("|DVR-1|CH 02|Sensor\n")) << log;
  EXPECT_EQ(2, get_event_record_count());
  EXPECT_EQ(-1, ctx_->alarm_channel.load()) << "no channel is left to pop up";
  EXPECT_EQ(2, mail_queue_count());
  EXPECT_TRUE(files_in(dir_ + "/rec").empty());
  EXPECT_EQ(2, forwarded(2));
}

}  // namespace
