// DDNS look-up of 'Q' DVRs: the server the environment names, none named, answers, silence,
// replies without the magic or too short, and a stop while the look-up waits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "client/links/ddns.h"
#include "peers/ddns/ddns_peer.h"
#include "tests/client/links/link_harness.h"

namespace {

qdvr::PeerConfig tiny_peer() {
  qdvr::PeerConfig c;
  c.channels = 2;
  c.clip_frames = 3;
  return c;
}

TEST(DdnsRequest, name_is_cut_to_17_bytes_and_reply_is_checked) {
  uint8_t req[DDNS_REQUEST_SIZE];
  ddns_build_request("ABCDEFGHIJKLMNOPQRSTUVWXYZ", req);
  EXPECT_EQ(0x55, req[0]);
  EXPECT_EQ(0xAA, req[1]);
  EXPECT_EQ('Q', req[20]);  // 17th character, no terminator
  EXPECT_EQ(0, req[21]);
  uint32_t a = 0;
  uint16_t p = 0;
  const uint8_t good[10] = {0x55, 0xAA, 0x55, 0xAA, 127, 0, 0, 1, 0x23, 0x8D};
  EXPECT_EQ(0, ddns_parse_reply(good, sizeof good, &a, &p));
  EXPECT_EQ(9101, p);
  EXPECT_EQ(-1, ddns_parse_reply(good, 9, &a, &p));  // shorter than its fields
  const uint8_t bad[10] = {0x55, 0xAA, 0x55, 0xAB};
  EXPECT_EQ(-1, ddns_parse_reply(bad, sizeof bad, &a, &p));
}

TEST(DdnsLink, registered_name_resolves_and_frames_arrive) {
  qdvr::QdvrPeer dvr(tiny_peer());
  ASSERT_TRUE(dvr.start());
  ddns::DdnsPeer server;
  server.add("shop-front", "127.0.0.1", dvr.port());
  ASSERT_TRUE(server.start());
  // Named by the environment, as a station names its DDNS server.
  setenv("VIGILO_DDNS_SERVER", ("127.0.0.1:" + std::to_string(server.port())).c_str(), 1);
  set_ddns_server(nullptr, 0);
  LinkHarness h;
  std::snprintf(h.rx->host_type, sizeof h.rx->host_type, "DDNS");
  std::snprintf(h.rx->address, sizeof h.rx->address, "shop-front");
  h.start(dvr.port());
  EXPECT_TRUE(dvr.wait_frames(2, 8000));
  h.stop();
  unsetenv("VIGILO_DDNS_SERVER");
  ASSERT_FALSE(server.asked().empty());
  EXPECT_EQ("shop-front", server.asked()[0]);
}

TEST(DdnsLink, without_a_named_server_nothing_is_asked) {
  // Whoever listened on a made-up default would get the look-up, and then the login.
  ddns::DdnsPeer squatter(ddns::Mode::Answer, DDNS_DEFAULT_PORT);
  squatter.add("dvr", "127.0.0.1", 1);
  const bool listening = squatter.start();
  unsetenv("VIGILO_DDNS_SERVER");
  set_ddns_server(nullptr, 0);
  EXPECT_STREQ("", ddns_server_address());
  testing::internal::CaptureStdout();
  {
    LinkHarness h;
    std::snprintf(h.rx->host_type, sizeof h.rx->host_type, "DDNS");
    std::snprintf(h.rx->address, sizeof h.rx->address, "dvr");
    h.start(1);
    EXPECT_EQ(2u, h.events(UE_RECEIVER_NOTICE, 2, 10000).size()) << "two failed attempts";
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos,
            out.find("No DDNS server is named (VIGILO_DDNS_SERVER): DDNS look-ups fail.\n"));
  EXPECT_NE(std::string::npos, out.find("0: connect(dvr) failed."));
  if (listening) { EXPECT_TRUE(squatter.asked().empty()); }
}

TEST(DdnsLink, wrong_or_missing_answers_fail_the_connect_and_retry) {
  struct Case {
    ddns::Mode mode;
    const char* line;
  } cases[] = {
      {ddns::Mode::NoMagic, "DDns LOGIN ERROR"},
      {ddns::Mode::Short, "DDns LOGIN ERROR"},
      {ddns::Mode::Silent, "NO RESPONSE\r\n"},
  };
  set_ddns_timeouts(5000, 400);
  for (const Case& c : cases) {
    ddns::DdnsPeer server(c.mode);
    server.add("dvr", "127.0.0.1", 1);
    ASSERT_TRUE(server.start());
    set_ddns_server("127.0.0.1", server.port());
    testing::internal::CaptureStdout();
    {
      LinkHarness h;
      std::snprintf(h.rx->host_type, sizeof h.rx->host_type, "DDNS");
      std::snprintf(h.rx->address, sizeof h.rx->address, "dvr");
      h.start(1);
      EXPECT_TRUE(LinkHarness::wait_for([&] { return server.asked().size() >= 2; }, 5000));
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find(c.line));
    EXPECT_NE(std::string::npos, out.find("loginDDNS Error\r\n"));
    EXPECT_NE(std::string::npos, out.find("0: connect(dvr) failed."));
  }
  set_ddns_timeouts(5000, 15000);
}

TEST(DdnsLink, disconnect_while_the_lookup_waits_returns_at_once) {
  ddns::DdnsPeer server(ddns::Mode::Silent);
  ASSERT_TRUE(server.start());
  set_ddns_server("127.0.0.1", server.port());
  LinkHarness h;
  std::snprintf(h.rx->host_type, sizeof h.rx->host_type, "DDNS");
  std::snprintf(h.rx->address, sizeof h.rx->address, "dvr");
  h.start(1);
  ASSERT_TRUE(LinkHarness::wait_for([&] { return !server.asked().empty(); }, 3000));
  auto t0 = std::chrono::steady_clock::now();
  h.stop();
  // A third of the 15 s wait for the silent server's reply.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  EXPECT_EQ(RX_ENDED, h.rx->status.load());
}

}  // namespace
