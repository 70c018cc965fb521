// The simulated SDK DVR's exchanges that the library's application object relies on: events
// sent to the SDK's event port, the recording-information requests (the day mask request
// announces 12 body bytes and sends 8) and the alive test's bare connect.
#include <gtest/gtest.h>

#include "peers/wdvr/wdvr_peer.h"
#include "sdk/Blocksock.h"
#include "sdk/Protocol/ByteReader.h"
#include "sdk/Protocol/DSFProtocol.h"
#include "tests/sdk/sdk_test_util.h"

namespace {

using sdktest::hex;

CSockAddr loopback(uint16_t port) {
  CSockAddr sa;
  CBlockingSocket::ResolveHost("127.0.0.1", port, &sa);
  return sa;
}

// Reads one packet: its three header words and payload.
std::vector<uint8_t> read_packet(CBlockingSocket& s, uint32_t* number, uint32_t* flag) {
  uint8_t h[12];
  s.Read(h, 12);
  CByteReader r(h, 12);
  *number = r.U32BE();
  *flag = r.U32BE();
  std::vector<uint8_t> payload(r.U32BE());
  if (!payload.empty()) s.Read(payload.data(), int(payload.size()));
  return payload;
}

TEST(WdvrExchanges, EventsReachTheEventPort) {
  CBlockingSocket listener;
  listener.Create();
  listener.Bind(loopback(0));
  listener.Listen();
  ASSERT_TRUE(wdvr::send_event(listener.GetLocalPort(), 0x00050001, wdvr::event_payload(0x00050001, 2, 5, 0)));
  CBlockingSocket conn;
  ASSERT_TRUE(listener.Accept(conn, nullptr));
  uint32_t number, flag;
  const auto payload = read_packet(conn, &number, &flag);
  EXPECT_EQ(number, 0x00050001u);
  EXPECT_EQ(flag, 1u);
  CDSFProtocol p;
  DSF_SENSOR_EVENT ev{};
  ASSERT_EQ(p.ParseReply(number, payload.data(), payload.size(), &ev), 1);
  EXPECT_EQ(ev.b, 2);
  EXPECT_EQ(ev.flags[5], 1);
  EXPECT_EQ(wdvr::event_payload(0x00050803, 0, 3, 1), hex("00000000 00000000 03 01"));
  EXPECT_EQ(wdvr::event_payload(0x00050201, 7, 0, 0), hex("00000000 00000007"));
}

TEST(WdvrExchanges, RecordingInformationAndTheBareConnect) {
  wdvr::PeerConfig cfg;
  cfg.width = 64;
  cfg.height = 48;
  cfg.clip_frames = 1;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  const CSockAddr multi = loopback(uint16_t(peer.base_port() + 7));
  struct Case {
    const char* request;
    uint32_t reply;
    std::vector<uint8_t> payload;
  } cases[] = {
      {"00040006 00000000 0000000c 0134d6e5 00000004", 0xA0040006, hex("0000c00f")},
      {"00040006 00000000 0000000c 0134d749 00000004", 0xA0040006, hex("00000000")},
      {"00040004 00000000 00000008 0134d6f3 00000006", 0xA0040004, {}},
  };
  cases[2].payload = wdvr::record_table(cfg, 20240115, 1);
  const auto ch2 = wdvr::record_table(cfg, 20240115, 2);
  cases[2].payload.insert(cases[2].payload.end(), ch2.begin(), ch2.end());
  for (const Case& c : cases) {
    CBlockingSocket s;
    s.Create();
    s.Connect(multi);
    s.SetReceiveTimeOut(2000);
    const auto req = hex(c.request);
    s.Write(req.data(), int(req.size()));
    uint32_t number, flag;
    EXPECT_EQ(read_packet(s, &number, &flag), c.payload) << c.request;
    EXPECT_EQ(number, c.reply);
    EXPECT_EQ(flag, 1u);
  }
  EXPECT_EQ(cases[2].payload[size_t(60 + 10 * 1)], 1);
  EXPECT_EQ(cases[2].payload[240 + 60 + 10 * 1], 0);

  {
    CBlockingSocket bare;
    bare.Create();
    bare.Connect(multi);
  }
  wdvr::Request r;
  ASSERT_TRUE(peer.wait_request(wdvr::kBareConnect, 0, 2000, &r));
  EXPECT_EQ(r.port, peer.base_port() + 7);
}

}  // namespace
