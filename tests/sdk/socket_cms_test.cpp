// The DVR control connection: CMS requests against hand-written bytes, replies read into their
// records, and CSocketCMS against the simulated SDK DVR.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "peers/wdvr/wdvr_peer.h"
#include "sdk/CMS/SocketCMS.h"
#include "tests/sdk/sdk_test_util.h"

namespace {

using sdktest::hex;

std::vector<uint8_t> bytes_of(const CCMSPacket& p) {
  return std::vector<uint8_t>(p.Data(), p.Data() + p.Length());
}

TEST(CMSPacket, RequestsMatchTheirBytes) {
  CCMSPacket p;
  p.MakeSystemInfoRequest("admin");
  EXPECT_EQ(bytes_of(p), hex("0007000f 00000000 00000008 0006 61646d696e00"));
  p.MakeHealthRequest();
  EXPECT_EQ(bytes_of(p), hex("00070200 00000000 00000000"));
  p.MakeStartSearchRequest(20240115, 123000, 1, 4, 3);
  EXPECT_EQ(bytes_of(p),
            hex("00070100 00000000 00000014 0134d6f3 0001e078 01 04 0003 00000000 00000000"));
  p.MakeSearchStatusRequest();
  EXPECT_EQ(bytes_of(p), hex("00070101 00000000 00000000"));
  p.MakeSetSearchStatusRequest(5);
  EXPECT_EQ(bytes_of(p), hex("00070102 00000000 00000004 05 000000"));
}

TEST(CMSPacket, SystemInformation) {
  // 20 channel entries: 16 kept, the rest read past.
  const auto pkt = wdvr::cms_packet(0xA007000F, 1, wdvr::cms_system_info_body(20));
  CMS_SYSTEM_INFO info;
  ASSERT_EQ(CCMSPacket::ReadSystemInfo(pkt.data(), pkt.size(), &info), 1);
  EXPECT_EQ(info.nChannels, 16);
  EXPECT_EQ(info.aChannel[15].name, "CH16");
  EXPECT_EQ(info.ad24[3], 203u);

  _SDK_DVR_INFO out;
  std::memset(&out, 0xEE, sizeof out);
  CMSCopyDvrInfo(info, &out);
  EXPECT_EQ(out.nChannels, 16);
  EXPECT_EQ(out.dwValue8, 0x11223344u);
  EXPECT_EQ(out.abAddress[4][3], 14);
  EXPECT_EQ(out.wPort46, 9001);
  EXPECT_EQ(std::string(out.szText48, 8), "WDVR-SIM");
  EXPECT_EQ(uint8_t(out.szText48[8]), 0xEE);  // copied without its terminator
  EXPECT_EQ(std::string(out.aChannel[0].szName, 4), "CH01");
  EXPECT_EQ(out.aChannel[0].abValue[3], 3);   // kind 4 is delivered as 3 ...
  EXPECT_EQ(info.aChannel[0].abValue[3], 3);  // ... and kept so
  EXPECT_EQ(out.aChannel[1].abValue[3], 1);

  // No channels fills no entry; a count beyond the entries sent is refused whole.
  const auto none = wdvr::cms_packet(0xA007000F, 1, wdvr::cms_system_info_body(0));
  ASSERT_EQ(CCMSPacket::ReadSystemInfo(none.data(), none.size(), &info), 1);
  std::memset(&out, 0xEE, sizeof out);
  CMSCopyDvrInfo(info, &out);
  EXPECT_EQ(out.nChannels, 0);
  EXPECT_EQ(uint8_t(out.aChannel[0].szName[0]), 0xEE);
  const auto lying = wdvr::cms_packet(0xA007000F, 1, wdvr::cms_system_info_body(2, 3));
  info.b1 = 77;
  EXPECT_EQ(CCMSPacket::ReadSystemInfo(lying.data(), lying.size(), &info), 0);
  EXPECT_EQ(info.b1, 77);
}

TEST(CMSPacket, OtherReplies) {
  const auto health = wdvr::cms_packet(
      0xA0070200, 1, wdvr::cms_health_body({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  CMS_HEALTH_INFO h;
  ASSERT_EQ(CCMSPacket::ReadHealthInfo(health.data(), health.size(), &h), 1);
  _SDK_DVR_HEALTH_INFO hout{};
  CMSCopyHealthInfo(h, &hout);
  EXPECT_EQ(hout.adwValue[5], 6u);
  EXPECT_EQ(hout.awValue[1], 8);
  EXPECT_EQ(hout.adwValue2[1], 10u);
  EXPECT_EQ(CCMSPacket::ReadHealthInfo(health.data(), health.size() - 1, &h), 0);

  CMS_SEARCH_STATUS st;
  const auto status = hex("a0070101 00000001 00000004 03 02 0000");
  ASSERT_EQ(CCMSPacket::ReadSearchStatus(status.data(), status.size(), &st), 1);
  _SDK_DVR_SEARCH_STATUS sout{};
  CMSCopySearchStatus(st, &sout);
  EXPECT_EQ(sout.bValue0, 3);
  EXPECT_EQ(sout.bValue1, 2);
  const auto flag0 = hex("a0070101 00000000 00000004 03 02 0000");
  EXPECT_EQ(CCMSPacket::ReadSearchStatus(flag0.data(), flag0.size(), &st), 0);

  // Repeat counts beyond the record's 16 entries are read past; short bodies refused.
  CMS_INFO_A0070002 a;
  auto p2 = wdvr::cms_packet(0xA0070002, 1, wdvr::cms_a0070002_body(20));
  ASSERT_EQ(CCMSPacket::ReadInfoA0070002(p2.data(), p2.size(), &a), 1);
  EXPECT_EQ(a.nEntries, 16);
  EXPECT_EQ(a.aEntry[15].text, "entry15");
  EXPECT_EQ(CCMSPacket::ReadInfoA0070002(p2.data(), p2.size() - 1, &a), 0);
  CMS_INFO_A0070003 b;
  auto p3 = wdvr::cms_packet(0xA0070003, 1, wdvr::cms_a0070003_body(17));
  ASSERT_EQ(CCMSPacket::ReadInfoA0070003(p3.data(), p3.size(), &b), 1);
  EXPECT_EQ(b.nEntries, 16);
  EXPECT_EQ(b.aEntry[2].s2, "b2");
  EXPECT_EQ(CCMSPacket::ReadInfoA0070003(p3.data(), p3.size() - 3, &b), 0);
}

// Records what the connection hands over.
struct Replies {
  std::mutex lock;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> got;
  static int OnPacket(uint32_t command, const uint8_t* packet, int length, void* user, int dvr_id,
                      int extra) {
    auto* self = static_cast<Replies*>(user);
    EXPECT_EQ(dvr_id, 1001);
    EXPECT_EQ(extra, -1);
    std::lock_guard<std::mutex> lk(self->lock);
    self->got.emplace_back(command, std::vector<uint8_t>(packet, packet + length));
    return 1;
  }
  size_t size() {
    std::lock_guard<std::mutex> lk(lock);
    return got.size();
  }
  std::pair<uint32_t, std::vector<uint8_t>> at(size_t i) {
    std::lock_guard<std::mutex> lk(lock);
    return got.at(i);
  }
};

struct CmsLink {
  wdvr::WdvrPeer peer;
  Replies replies;
  CSocketCMS cms;
  explicit CmsLink(const wdvr::PeerConfig& cfg) : peer(cfg) {
    EXPECT_TRUE(peer.start());
    cms.SetUp(1001, &Replies::OnPacket, &replies);
    cms.SetTimeOut(2000);
  }
  // Sends and waits for the reply to be handled (the event is set).
  bool ask(const CCMSPacket& p) {
    SyncEvent done;
    cms.Send(p.Data(), int(p.Length()), &done);
    return done.Wait(3000);
  }
  void start() {
    cms.StartThread("127.0.0.1", peer.base_port());
    ASSERT_TRUE(sdktest::wait_until([&] { return cms.IsConnected() == 1; }, 3000));
  }
};

TEST(SocketCMS, EveryRequestIsAnswered) {
  CmsLink link(wdvr::PeerConfig{});
  CCMSPacket p;
  p.MakeSystemInfoRequest("admin");
  link.cms.Send(p.Data(), int(p.Length()), nullptr);
  EXPECT_EQ(link.cms.GetLastError(), "Control Socket is invalid");  // no thread yet: dropped
  link.start();
  EXPECT_EQ(link.cms.IsStarting(), 0);

  // A request that is never sent, then one of each kind.
  CCMSPacket never;
  never.PutHeader(CMS_NEVER_SENT_REQ, 0);
  link.cms.Send(never.Data(), int(never.Length()), nullptr);
  ASSERT_TRUE(link.ask(p));
  p.MakeHealthRequest();
  ASSERT_TRUE(link.ask(p));
  p.MakeStartSearchRequest(20240115, 120000, 0, 4, 1);
  ASSERT_TRUE(link.ask(p));
  p.MakeSearchStatusRequest();
  ASSERT_TRUE(link.ask(p));
  p.MakeSetSearchStatusRequest(2);
  ASSERT_TRUE(link.ask(p));

  const uint32_t expected[] = {0xA007000F, 0xA0070200, 0xA0070100, 0xA0070101, 0xA0070102};
  ASSERT_EQ(link.replies.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) EXPECT_EQ(link.replies.at(i).first, expected[i]);
  const auto sys = link.replies.at(0).second;
  CMS_SYSTEM_INFO info;
  ASSERT_EQ(CCMSPacket::ReadSystemInfo(sys.data(), sys.size(), &info), 1);
  EXPECT_EQ(info.nChannels, 4);
  CMS_SEARCH_STATUS st;
  const auto status = link.replies.at(3).second;
  ASSERT_EQ(CCMSPacket::ReadSearchStatus(status.data(), status.size(), &st), 1);
  EXPECT_EQ(st.b1, 1);

  EXPECT_EQ(link.peer.count(CMS_NEVER_SENT_REQ), 0);
  wdvr::Request r;
  ASSERT_TRUE(link.peer.wait_request(0x70100, 0, 0, &r));
  EXPECT_EQ(r.port, link.peer.base_port() + 7);
  EXPECT_EQ(r.body, hex("0134d6f3 0001d4c0 00 04 0001 00000000 00000000"));
  EXPECT_EQ(link.peer.count(0x70102), 1);

  // Restarted while idle on its queue: the old thread is woken, so the start returns.
  link.start();
  p.MakeHealthRequest();
  ASSERT_TRUE(link.ask(p));

  // Closing twice: the second call only says so.
  sdktest::TraceCapture trace;
  link.cms.Close();
  EXPECT_EQ(link.cms.IsConnected(), 0);
  link.cms.Close();
  EXPECT_EQ(trace.count("[SDK TRACE]-CSocketCMS::Close() returned by m_bClose(TRUE)\n"), 1);
}

TEST(SocketCMS, SearchStatusWithFlagZeroIsNotPassedOn) {
  wdvr::PeerConfig cfg;
  cfg.faults.search_status_flag0 = true;
  CmsLink link(cfg);
  link.start();
  CCMSPacket p;
  p.MakeSearchStatusRequest();
  ASSERT_TRUE(link.ask(p));
  EXPECT_EQ(link.replies.size(), 0u);
  p.MakeHealthRequest();  // the connection is still in step
  ASSERT_TRUE(link.ask(p));
  ASSERT_EQ(link.replies.size(), 1u);
  EXPECT_EQ(link.replies.at(0).first, 0xA0070200u);
}

// A reply whose body does not fit the receive buffer ends the connection whatever its command
// and flag word (a header-only reply and a failed one included), and is never read into it.
TEST(SocketCMS, BadRepliesEndTheConnectionAndTheNextRequestReconnects) {
  struct Case {
    wdvr::Fault fault;
    uint32_t number;
    int flag;
  };
  std::vector<Case> cases = {{wdvr::Fault::DropMidBody, 0, -1},
                             {wdvr::Fault::DropMidHeader, 0, -1}};
  for (uint32_t number : {0xA0040002u, 0xA007000Fu, 0xA0070200u, 0xA0070100u, 0xA0070101u,
                          0xA0070102u, 0xA0070002u, 0xA0070003u, 0xA0071234u})
    for (int flag : {0, 1, 2}) cases.push_back({wdvr::Fault::Oversized, number, flag});
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << int(c.fault) << " " << std::hex << c.number << " flag " << c.flag);
    wdvr::PeerConfig cfg = sdktest::small();
    cfg.faults.stage = wdvr::Stage::Cms;
    cfg.faults.fault = c.fault;
    cfg.faults.oversized_number = c.number;
    cfg.faults.oversized_flag = c.flag;
    CmsLink link(cfg);
    link.start();
    CCMSPacket p;
    p.MakeHealthRequest();
    link.cms.Send(p.Data(), int(p.Length()), nullptr);
    ASSERT_TRUE(sdktest::wait_until([&] { return link.cms.IsConnected() == 0; }, 3000));
    EXPECT_EQ(link.replies.size(), 0u);
    // As the application does: a connection neither connected nor starting is restarted.
    EXPECT_EQ(link.cms.IsStarting(), 0);
    link.start();
    ASSERT_TRUE(link.ask(p));
    ASSERT_EQ(link.replies.size(), 1u);
    EXPECT_EQ(link.replies.at(0).first, 0xA0070200u);
  }
}

}  // namespace
