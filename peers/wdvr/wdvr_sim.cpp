// wdvr_sim: a simulated SDK DVR on 127.0.0.1 for the demo and manual tests.
//   wdvr_sim --port 7100 --channels 4 --video h264 --audio adpcm
// serves until interrupted; the base port goes to standard output.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "peers/sim_main.h"
#include "peers/wdvr/wdvr_peer.h"

namespace {
void usage() {
  std::printf(
      "usage: wdvr_sim [options]\n"
      "  --port B               base port (log-on B, playback B+1/B+2, live B+3/B+4, B+7);\n"
      "                         0 or none: a free block\n"
      "  --channels N           channels (1-16)           --size WxH   picture size\n"
      "  --fps N                frames a second (0: as fast as the link takes)\n"
      "  --noise N              sensor noise of +-N in the pictures (camera-like sizes)\n"
      "  --video mpeg4|h264     (h264 taller than 479 lines: two field streams)\n"
      "  --audio none|adpcm|g723                          --vqz        \"VQZ\" header blocks\n"
      "  --user NAME --password PASS   expected log-on (else anyone)\n"
      "  --own-address A        the DVR's own address in the log-on reply\n"
      "  --playback-frames N    frames before the end of a recording\n"
      "  --skip-every N         playback: a skipped-frame notice every N frames\n"
      "behaviours and faults:\n"
      "  --logon-result C, --control-result C, --data-result C, --stream-result C\n"
      "                         refuse that step with result code C (e.g. 0xF0010003)\n"
      "  --fault STAGE:KIND[:TIMES[:AFTER]]\n"
      "      STAGE logon|control|data|stream|reply|frame|cms|setup|record\n"
      "      KIND  silent|drop-header|drop-body|short-body|oversized\n"
      "      TIMES how often (-1 always, default 1); AFTER frames before a frame fault\n"
      "  --channel-count N      channel information's count as sent\n"
      "  --preset-length N      every preset name's announced length\n"
      "  --setup-count N        the setup record's entry count as sent\n"
      "  --cms-channels N       system information's channel count as sent\n"
      "  --motion-bits N        motion bits announced in the video object\n"
      "  --logon-text-length N  the log-on reply's first text length as sent\n"
      "  --search-flag0         the search status reply carries flag 0\n");
}

wdvr::Stage stage_of(const std::string& s) {
  if (s == "logon") return wdvr::Stage::LogOn;
  if (s == "control") return wdvr::Stage::ControlLogOn;
  if (s == "data") return wdvr::Stage::DataLogOn;
  if (s == "stream") return wdvr::Stage::StreamRequest;
  if (s == "reply") return wdvr::Stage::Reply;
  if (s == "frame") return wdvr::Stage::Frame;
  if (s == "cms") return wdvr::Stage::Cms;
  if (s == "setup") return wdvr::Stage::Setup;
  if (s == "record") return wdvr::Stage::RecordInfo;
  return wdvr::Stage::None;
}

wdvr::Fault fault_of(const std::string& s) {
  if (s == "silent") return wdvr::Fault::Silent;
  if (s == "drop-header") return wdvr::Fault::DropMidHeader;
  if (s == "drop-body") return wdvr::Fault::DropMidBody;
  if (s == "short-body") return wdvr::Fault::ShortBody;
  if (s == "oversized") return wdvr::Fault::Oversized;
  return wdvr::Fault::None;
}
}  // namespace

int main(int argc, char** argv) {
  wdvr::PeerConfig cfg;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&] { return sim::option_value(argc, argv, i, usage); };
    auto number = [&] { return uint32_t(std::strtoul(next(), nullptr, 0)); };
    if (a == "--help" || a == "-h") {
      usage();
      return 0;
      // clang-format off
    } else if (a == "--port") cfg.base_port = uint16_t(number());
    else if (a == "--channels") cfg.channels = int(number());
    else if (a == "--size") std::sscanf(next(), "%dx%d", &cfg.width, &cfg.height);
    else if (a == "--fps") cfg.fps = int(number());
    else if (a == "--noise") cfg.noise = int(number());
    else if (a == "--video") cfg.video = std::string(next()) == "h264" ? wdvr::Video::H264 : wdvr::Video::Mpeg4;
    else if (a == "--audio") {
      const std::string v = next();
      cfg.audio = v == "adpcm" ? wdvr::Audio::Adpcm : v == "g723" ? wdvr::Audio::G723 : wdvr::Audio::None;
    } else if (a == "--vqz") cfg.vqz = true;
    else if (a == "--user") cfg.user = next();
    else if (a == "--password") cfg.password = next();
    else if (a == "--own-address") cfg.own_address = next();
    else if (a == "--playback-frames") cfg.playback_frames = int(number());
    else if (a == "--skip-every") cfg.skip_every = int(number());
    else if (a == "--logon-result") cfg.faults.logon_result = number();
    else if (a == "--control-result") cfg.faults.control_logon_result = number();
    else if (a == "--data-result") cfg.faults.data_logon_result = number();
    else if (a == "--stream-result") cfg.faults.stream_result = number();
    // clang-format on
    else if (a == "--fault") {
      char stage[16] = {0}, kind[16] = {0};
      int times = 1, after = 0;
      if (std::sscanf(next(), "%15[^:]:%15[^:]:%d:%d", stage, kind, &times, &after) < 2) {
        usage();
        return 2;
      }
      cfg.faults.stage = stage_of(stage);
      cfg.faults.fault = fault_of(kind);
      cfg.faults.times = times;
      cfg.faults.after_frames = after;
    } else if (a == "--channel-count")
      cfg.faults.channel_count = int(number());
    else if (a == "--preset-length")
      cfg.faults.preset_name_length = int(number());
    else if (a == "--setup-count")
      cfg.faults.setup_count = int(number());
    else if (a == "--cms-channels")
      cfg.faults.cms_channel_count = int(number());
    else if (a == "--logon-text-length")
      cfg.faults.logon_text_length = int(number());
    else if (a == "--motion-bits")
      cfg.faults.motion_bits = int(number());
    else if (a == "--search-flag0")
      cfg.faults.search_status_flag0 = true;
    else {
      usage();
      return 2;
    }
  }
  wdvr::WdvrPeer peer(cfg);
  if (!peer.start()) {
    std::fprintf(stderr, "wdvr_sim: cannot encode the clips or listen\n");
    return 1;
  }
  std::printf("%u\n", unsigned(peer.base_port()));
  std::fflush(stdout);
  sim::serve_until_stopped();
  peer.stop();
  return 0;
}
