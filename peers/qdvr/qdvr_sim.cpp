// qdvr_sim: one or more simulated 'Q' DVRs on 127.0.0.1 for the demo and manual tests.
//   qdvr_sim --port 9101 --port 9102 --channels 16
// runs two DVRs of 16 channels each until interrupted. With --commands it also reads lines
// on its standard input and applies each to every DVR at once:
//   event motion|sensor|0xTYPE MASK   a DVR event (type bits 0x02 motion, 0x04 sensor) on the
//                                     channels of MASK (bit k: channel k + 1), timed now
//   loss MASK                         from now on report the channels of MASK as lost
// and answers each line with "ok" or "bad command" on standard output. Unless told otherwise
// each DVR holds recordings from six days ago until now, so a search window finds something.
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "peers/qdvr/qdvr_peer.h"
#include "peers/sim_main.h"

namespace {
void usage() {
  std::printf(
      "usage: qdvr_sim [--port N]... [--channels N] [--size WxH] [--fps N] [--clip FRAMES]\n"
      "                [--version 0xV --sub 0xS] [--login "
      "accept|refuse|mismatch|silent|error=0xCODE]\n"
      "                [--user NAME --password PASS] [--no-audio] [--audio-packets]\n"
      "                [--events SECONDS]\n"
      "                [--garbage N] [--drop-after N] [--oversize N] [--truncate N] [--stall]\n"
      "                [--commands] [--record SPAN]... [--no-record] [--log-requests]\n"
      "                [--setup-fault wrong-command|oversize|split|bad-crc|short|silent]\n"
      "  --record SPAN    a span of the recording calendar, in the DVR's wall clock:\n"
      "                   YYYY-MM-DDTHH:MM/HH:MM[,cams=A-B][,kind=BITS] (the end may carry its\n"
      "                   own date); cameras 0-based (default all), kind the info bits 0x01,\n"
      "                   0x02, 0x04, 0x08 (default 1). Replaces the default calendar.\n"
      "  --no-record      no calendar: a play request replays the live clip at once\n"
      "  --audio-packets  audio in audio-only packets (mode 64) on channels 0-3 in turn, not\n"
      "                   riding on the frames\n"
      "  --log-requests   print every request received: \"request TYPE MODE HEX-BODY\"\n"
      "  --setup-fault F  the settings fetch (0xA0) gets a reply of another command, a length\n"
      "                   above 32768, small delayed pieces, a wrong CRC, a short image or none\n"
      "  default calendar: all cameras from six days ago 00:00 until now (kind 0x01), and\n"
      "                   yesterday 12:00-13:00 (kind 0x02)\n");
}

// Six days ago at midnight until now, plus an hour of kind 0x02 yesterday, in local time.
std::vector<qdvr::RecordSpan> default_calendar() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  const int64_t wall_now =
      qdvr::wall_seconds(t.tm_year + 1900, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  const int64_t today = qdvr::wall_seconds(t.tm_year + 1900, t.tm_mon, t.tm_mday, 0, 0, 0);
  qdvr::RecordSpan all;
  all.start = today - 6 * 86400;
  all.end = wall_now + 1;
  qdvr::RecordSpan motion;
  motion.start = today - 86400 + 12 * 3600;
  motion.end = motion.start + 3600;
  motion.kinds = 0x02;
  return {all, motion};
}

void print_new_requests(const qdvr::QdvrPeer& peer, size_t* seen) {
  const std::vector<qdvr::Request> all = peer.requests();
  for (; *seen < all.size(); ++*seen) {
    const qdvr::Request& r = all[*seen];
    std::printf("request %u %u ", unsigned(r.type), unsigned(r.mode));
    for (uint8_t b : r.body) std::printf("%02x", b);
    std::printf("\n");
  }
  std::fflush(stdout);
}
// Applies one command line to every DVR: true, or false when it is not understood.
bool apply_command(std::vector<std::unique_ptr<qdvr::QdvrPeer>>& peers, const std::string& line) {
  char verb[32] = "", what[32] = "", mask_text[32] = "";
  const int n = std::sscanf(line.c_str(), "%31s %31s %31s", verb, what, mask_text);
  if (n == 3 && std::strcmp(verb, "event") == 0) {
    const uint8_t type = std::strcmp(what, "motion") == 0 ? 0x02
                         : std::strcmp(what, "sensor") == 0
                             ? 0x04
                             : uint8_t(std::strtoul(what, nullptr, 0));
    if (type == 0) return false;
    const uint32_t mask = uint32_t(std::strtoul(mask_text, nullptr, 0));
    // The DVR counts its local time as if it were UTC.
    const time_t now = std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    for (auto& p : peers) p->send_event(uint32_t(now + local.tm_gmtoff), mask, type);
    return true;
  }
  if (n == 2 && std::strcmp(verb, "loss") == 0) {
    for (auto& p : peers) p->set_video_loss(uint16_t(std::strtoul(what, nullptr, 0)));
    return true;
  }
  return false;
}

// Waits up to `ms` for standard input and applies every whole line that came.
void read_commands(std::vector<std::unique_ptr<qdvr::QdvrPeer>>& peers, std::string* pending,
                   int ms) {
  pollfd p{0, POLLIN, 0};
  if (::poll(&p, 1, ms) <= 0) return;
  char buf[512];
  const ssize_t n = ::read(0, buf, sizeof buf);
  if (n <= 0) {
    // Input closed: nothing more will come; keep the DVRs running.
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  pending->append(buf, size_t(n));
  for (size_t eol; (eol = pending->find('\n')) != std::string::npos;) {
    const std::string line = pending->substr(0, eol);
    pending->erase(0, eol + 1);
    std::printf("%s\n", apply_command(peers, line) ? "ok" : "bad command");
    std::fflush(stdout);
  }
  if (pending->size() > 4096) pending->clear();
}

}  // namespace

int main(int argc, char** argv) {
  qdvr::PeerConfig cfg;
  cfg.channels = 16;
  cfg.width = 352;
  cfg.height = 240;
  cfg.clip_frames = 30;  // one second replayed; keeps start-up short with 16 channels a DVR
  std::vector<uint16_t> ports;
  int event_every = 0;
  bool commands = false;
  bool calendar = true, log_requests = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&] { return sim::option_value(argc, argv, i, usage); };
    // clang-format off
    if (a == "--port") ports.push_back(uint16_t(std::atoi(next())));
    else if (a == "--channels") cfg.channels = std::atoi(next());
    else if (a == "--size") std::sscanf(next(), "%dx%d", &cfg.width, &cfg.height);
    else if (a == "--fps") cfg.fps = std::atoi(next());
    else if (a == "--clip") cfg.clip_frames = std::atoi(next());
    else if (a == "--version") cfg.version = uint32_t(std::strtoul(next(), nullptr, 0));
    else if (a == "--sub") cfg.sub_version = uint32_t(std::strtoul(next(), nullptr, 0));
    else if (a == "--user") cfg.user = next();
    else if (a == "--password") cfg.password = next();
    else if (a == "--no-audio") cfg.audio = false;
    else if (a == "--audio-packets") cfg.audio_packets = true;
    else if (a == "--events") event_every = std::atoi(next());
    else if (a == "--garbage") cfg.garbage_every = std::atoi(next());
    else if (a == "--drop-after") cfg.drop_after = std::atoi(next());
    else if (a == "--oversize") cfg.oversize_every = std::atoi(next());
    else if (a == "--truncate") cfg.truncate_every = std::atoi(next());
    else if (a == "--stall") cfg.stall = true;
    else if (a == "--commands") commands = true;
    else if (a == "--no-record") calendar = false;
    else if (a == "--log-requests") log_requests = true;
    else if (a == "--setup-fault") {
      const std::string v = next();
      if (v == "wrong-command") cfg.setup_fault = qdvr::SetupFault::WrongCommand;
      else if (v == "oversize") cfg.setup_fault = qdvr::SetupFault::Oversize;
      else if (v == "split") cfg.setup_fault = qdvr::SetupFault::Split;
      else if (v == "bad-crc") cfg.setup_fault = qdvr::SetupFault::BadCrc;
      else if (v == "short") cfg.setup_fault = qdvr::SetupFault::ShortImage;
      else if (v == "silent") cfg.setup_fault = qdvr::SetupFault::Silent;
      // clang-format on
      else {
        usage();
        return 2;
      }
    } else if (a == "--record") {
      qdvr::RecordSpan span;
      const char* text = next();
      if (!qdvr::parse_record_span(text, &span)) {
        std::fprintf(stderr, "qdvr_sim: cannot read the span \"%s\"\n", text);
        return 2;
      }
      cfg.recordings.push_back(span);
    } else if (a == "--login") {
      std::string v = next();
      if (v == "accept")
        cfg.login = qdvr::Login::Accept;
      else if (v == "refuse")
        cfg.login = qdvr::Login::Refuse;
      else if (v == "mismatch")
        cfg.version = 0x3211, cfg.sub_version = 0x0502;
      else if (v == "silent")
        cfg.login = qdvr::Login::Silent;
      else if (v.rfind("error=", 0) == 0) {
        cfg.login = qdvr::Login::Error;
        cfg.login_error = uint16_t(std::strtoul(v.c_str() + 6, nullptr, 0));
      } else {
        usage();
        return 2;
      }
    } else {
      usage();
      return a == "--help" ? 0 : 2;
    }
  }
  if (ports.empty()) ports.push_back(9101);
  if (!calendar)
    cfg.recordings.clear();
  else if (cfg.recordings.empty())
    cfg.recordings = default_calendar();
  sim::catch_stop_signals();
  std::signal(SIGPIPE, SIG_IGN);
  auto peers =
      sim::start_each<qdvr::QdvrPeer>("qdvr_sim", cfg, ports, [&](const qdvr::QdvrPeer& p) {
        std::printf("qdvr_sim: DVR with %d channels on 127.0.0.1:%u\n", cfg.channels,
                    unsigned(p.port()));
      });
  if (peers.empty()) return 1;
  int tick = 0;
  std::string pending;  // command text read so far
  std::vector<size_t> seen(peers.size(), 0);
  while (!sim::stop_requested()) {
    if (commands)
      read_commands(peers, &pending, 100);
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (log_requests)
      for (size_t i = 0; i < peers.size(); ++i) print_new_requests(*peers[i], &seen[i]);
    if (event_every > 0 && ++tick % (event_every * 10) == 0)
      for (auto& p : peers)
        p->send_event(uint32_t(std::time(nullptr)), 1u << (tick / 10 % cfg.channels), 0x02);
  }
  for (auto& p : peers) p->stop();
  return 0;
}
