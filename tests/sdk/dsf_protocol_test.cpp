// The session protocol codec: requests against hand-written bytes, replies and stream objects
// from the simulated DVR's builders, and payloads whose lengths do not fit.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "peers/wdvr/wdvr_peer.h"
#include "sdk/Protocol/DSFProtocol.h"
#include "tests/sdk/sdk_test_util.h"

namespace {

using sdktest::hex;

std::vector<uint8_t> build(CDSFProtocol& p, uint32_t number, const void* record,
                           uint32_t flag = 1) {
  std::vector<uint8_t> out(12 + CDSFProtocol::MaxPayload());
  out.resize(size_t(p.BuildPacket(number, flag, record, out.data())));
  return out;
}

TEST(DSFProtocol, RequestsMatchTheirBytes) {
  CDSFProtocol p;
  DSF_LIVE_REQUEST live{3};
  DSF_PLAYBACK_REQUEST play{};
  std::strcpy(play.szAddress, "10.0.0.5");
  play.dwStart = 20240115;
  play.dwEnd = 123000;
  play.channel = 2;
  DSF_HOLD_REQUEST hold{1};
  DSF_PTZ_MOVE move{1, 0x12};
  DSF_PTZ_FUNCTION func{1, 0x25, 1, 1};
  DSF_PRESET_SET pset{1, 7, 0xFFFF};
  DSF_PRESET_RUN prun{1, 7, 9};
  DSF_PTZ_MENU menu{1, 0x34};
  DSF_PTZ_BYPASS bypass{1, 3, {0xA0, 0xB1, 0xC2}};
  DSF_RELAY_SET relay{1, 3};
  DSF_PLAY_SPEED speed{0x12345678, 0};
  DSF_PLAY_GOTO go{20240115, 120000, 4};
  struct Case {
    uint32_t number;
    const void* record;
    const char* bytes;
  } cases[] = {
      {0x00020001, &live, "00020001 00000001 00000001 03"},
      {0x00020003, &play,
       "00020003 00000001 00000015 0008 31302e302e302e35 0134d6f3 0001e078 00 02 01"},
      {0x00020006, nullptr, "00020006 00000001 00000000"},
      {0x00020008, &hold, "00020008 00000001 00000001 01"},
      {0x00030201, &move, "00030201 00000001 00000002 01 12"},
      {0x00030202, &func, "00030202 00000001 00000004 01 25 01 01"},
      {0x00030205, &pset, "00030205 00000001 00000004 01 07 0000"},
      {0x00030207, &prun, "00030207 00000001 00000003 01 07 00"},
      {0x0003020B, &menu, "0003020b 00000001 00000002 01 34"},
      {0x0003020F, &bypass, "0003020f 00000001 00000005 01 03 a0b1c2"},
      {0x00031000, nullptr, "00031000 00000001 00000000"},
      {0x00031001, &relay, "00031001 00000001 00000002 03 01"},
      {0x00060005, &speed, "00060005 00000001 00000005 12345678 00"},
      {0x00060007, &speed, "00060007 00000001 00000005 12345678 00"},
      {0x00060008, nullptr, "00060008 00000001 00000000"},
      {0x00060009, &go, "00060009 00000001 0000000a 0134d6f3 0001d4c0 00 04"},
      {0x007F0001, nullptr, "007f0001 00000001 00000000"},
      {0x00080001, nullptr, "00080001 00000001 00000000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(build(p, c.number, c.record), hex(c.bytes)) << std::hex << c.number;
    if (c.record) { EXPECT_EQ(p.KeptRecord(c.number), c.record); }
  }
  // Flag 0 writes no payload, whatever the record.
  EXPECT_EQ(build(p, 0x00020008, &hold, 0), hex("00020008 00000000 00000000"));
  // An unknown number gives an empty payload and says so.
  sdktest::TraceCapture trace;
  EXPECT_EQ(build(p, 0x00099999, &live), hex("00099999 00000001 00000000"));
  EXPECT_EQ(trace.count("[SDK TRACE]-Unknown protocol2 = 99999\n"), 1);
}

TEST(DSFProtocol, ShortRepliesAreRefusedAndLeaveTheRecord) {
  CDSFProtocol p;
  struct Case {
    uint32_t number;
    const char* payload;
    bool ok;
  } cases[] = {
      {0xA0031000, "03 01 00 01", true},
      {0xA0031000, "03 01 00", false},
      {0xA0060007, "00000010", true},
      {0xA0060005, "000010", false},
      {0xA0020003, "000000", false},
      {0x00020102, "", false},
      {0x00050001, "00000001 02 80000001 00000003", true},
      {0x00050001, "00000001 02 80000001 000000", false},
      {0x00050201, "00000001 00000003", true},
      {0x00050201, "00000001", false},
      {0xA0020008, "", false},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> payload = hex(c.payload);
    std::vector<uint8_t> record(512, 0xEE);
    EXPECT_EQ(p.ParseReply(c.number, payload.data(), payload.size(), record.data()), c.ok ? 1 : 0)
        << std::hex << c.number << " " << c.payload;
    if (!c.ok) { EXPECT_EQ(record, std::vector<uint8_t>(512, 0xEE)); }
  }
  DSF_SENSOR_EVENT ev{};
  const auto sensor = hex("00000001 02 80000001 00000003");
  ASSERT_EQ(p.ParseReply(0x00050001, sensor.data(), sensor.size(), &ev), 1);
  EXPECT_EQ(ev.b, 2);
  EXPECT_EQ(ev.flags[0], 1);
  EXPECT_EQ(ev.flags[1], 0);
  EXPECT_EQ(ev.flags[31], 1);
  EXPECT_EQ(ev.c, 3u);
  // Stream replies point into the caller's payload: past the channel byte, or past the
  // playback reply's first word.
  const auto frame = hex("05 aabbcc");
  DSF_STREAM_DATA data{};
  ASSERT_EQ(p.ParseReply(0x00020102, frame.data(), frame.size(), &data), 1);
  EXPECT_EQ(data.channel, 5);
  EXPECT_EQ(data.length, 3u);
  EXPECT_EQ(data.data, frame.data() + 1);
  const auto block = hex("00000007 f1ff");
  DSF_STREAM_BLOCK hb{};
  ASSERT_EQ(p.ParseReply(0xA0020003, block.data(), block.size(), &hb), 1);
  EXPECT_EQ(hb.length, 2u);
  EXPECT_EQ(hb.data, block.data() + 4);
  ASSERT_EQ(p.ParseReply(0xA0020001, block.data(), block.size(), &hb), 1);
  EXPECT_EQ(hb.length, 6u);
  EXPECT_EQ(hb.data, block.data());
  uint32_t go = 0;
  const auto goto_reply = hex("0001d4c0");
  p.ParseReply(0xA0060009, goto_reply.data(), 4, &go);
  EXPECT_EQ(p.GotoResult(), 120000u);
}

TEST(DSFProtocol, KeptRecordIsFilledUntilForgotten) {
  CDSFProtocol p;
  DSF_RELAY_STATE relays{};
  p.KeepRecord(0x00031000, &relays);
  const auto payload = hex("02 01 01");
  EXPECT_EQ(p.ParseKeptReply(0xA0031000, 0x00031000, payload.data(), payload.size()), 1);
  EXPECT_EQ(relays.count, 2);
  p.ForgetRecord(0x00031000);
  relays.count = 0;
  EXPECT_EQ(p.ParseKeptReply(0xA0031000, 0x00031000, payload.data(), payload.size()), 0);
  EXPECT_EQ(relays.count, 0);
}

TEST(DSFProtocol, ChannelInformation) {
  CDSFProtocol p;
  const std::vector<std::vector<std::string>> presets = {
      {"Door", "", std::string(84, 'x'), std::string(83, 'y')}, {}, {"Gate"}};
  const auto payload = wdvr::channel_info_payload(77, 4, presets);
  DSF_CHANNEL_INFO info{};
  ASSERT_EQ(p.ParseReply(0xA0000002, payload.data(), payload.size(), &info), 1);
  EXPECT_EQ(info.dwDataRequest, 77u);
  EXPECT_EQ(info.nChannels, 4);
  EXPECT_EQ(std::vector<uint8_t>(info.abFlags[2], info.abFlags[2] + 5), hex("01 00 01 00 00"));
  EXPECT_EQ(p.ChannelFlags(1)[2], 1);
  EXPECT_EQ(p.ChannelFlags(2)[5], 5);  // low byte of the entry's first word
  EXPECT_EQ(info.abPresetCount[0], 4);
  EXPECT_EQ(p.PresetNames(), (std::vector<std::string>{"Door", "Preset-2", "Preset-3",
                                                       std::string(83, 'y'), "Gate"}));

  // No channels: 5 x 4 + 384 + 32 bytes after the count, exactly.
  const auto none = wdvr::channel_info_payload(1, 0, {});
  EXPECT_EQ(none.size(), 6u + 20 + 384 + 32);
  EXPECT_EQ(p.ParseReply(0xA0000002, none.data(), none.size(), &info), 1);
  EXPECT_EQ(p.ParseReply(0xA0000002, none.data(), none.size() - 1, &info), 0);

  // Out-of-range counts and lengths are refused whole.
  const auto before = p.PresetNames();
  std::memset(&info, 0xEE, sizeof info);
  for (const auto& bad : {wdvr::channel_info_payload(9, 4, presets, 33),
                          wdvr::channel_info_payload(9, 4, {{"Door"}}, -1, 500)}) {
    EXPECT_EQ(p.ParseReply(0xA0000002, bad.data(), bad.size(), &info), 0);
    EXPECT_EQ(info.dwDataRequest, 0xEEEEEEEEu);
    EXPECT_EQ(p.PresetNames(), before);
  }
}

TEST(DSFProtocol, SetupRecordRoundTrips) {
  CDSFProtocol p;
  // The simulated DVR's record reads and writes back byte for byte.
  const auto payload = wdvr::setup_payload(16, 3);
  auto rec = std::make_unique<_SDK_DVRSETUP>();
  ASSERT_EQ(p.ParseReply(0xA0080001, payload.data(), payload.size(), rec.get()), 1);
  EXPECT_EQ(rec->nChannels, 16u);
  std::vector<uint8_t> out = build(p, 0x00080002, rec.get());
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 12, out.end()), payload);

  // Every text at its full length, everything else a canary pattern: nothing spills.
  auto full = std::make_unique<_SDK_DVRSETUP>();
  std::memset(full.get(), 0xA5, sizeof *full);
  full->nChannels = 16;
  auto fill = [](char* field, size_t size) {
    std::memset(field, 'a' + int(size % 26), size - 1);
    field[size - 1] = 0;
  };
  fill(full->szItem4, 32);
  for (auto& c : full->aCamera) {
    fill(c.szText1, 16);
    fill(c.szText2, 16);
    fill(c.szText3, 16);
  }
  for (auto& e : full->aItem8) fill(e.szText, 32);
  for (auto& c : full->aChannel) fill(c.szName, 16);
  fill(full->szItem12b, 32);
  fill(full->szItem12g, 33);
  fill(full->szItem17a, 64);
  fill(full->szItem17b, 64);
  for (auto& t : full->szItem18) fill(t, 64);
  // Bool items are written as stored and read as 0 or 1: they hold 1 for the byte compare.
  for (auto& c : full->aCamera) c.bUse = 1;
  for (auto& e : full->aItem8) e.bUse = 1;
  for (auto& c : full->aChannel) c.bFlag1 = c.bFlag2 = c.bFlag3 = 1;
  for (auto& e : full->aItem13) e.bUse = 1;
  for (auto& e : full->aItem14) e.bUse = 1;
  full->bItem10 = full->abItem11[0][0] = full->abItem11[1][0] = full->bItem12f = 1;
  full->bItem15a = full->bItem15d = full->bItem15h = full->bItem15k = full->bItem15n = 1;
  full->bItem17 = 1;
  const std::vector<uint8_t> wire = build(p, 0x00080002, full.get());
  auto back = std::make_unique<_SDK_DVRSETUP>();
  std::memset(back.get(), 0x5A, sizeof *back);
  ASSERT_EQ(p.ParseReply(0xA0080001, wire.data() + 12, wire.size() - 12, back.get()), 1);
  EXPECT_EQ(build(p, 0x00080002, back.get()), wire);
  EXPECT_EQ(back->aChannel[15].adwValue6[4], 0xA5A5A5A5u);
  full->aCamera[0].bUse = 0xA5;
  const std::vector<uint8_t> odd_bool = build(p, 0x00080002, full.get());
  ASSERT_EQ(p.ParseReply(0xA0080001, odd_bool.data() + 12, odd_bool.size() - 12, back.get()), 1);
  EXPECT_EQ(back->aCamera[0].bUse, 1);

  // Every full-length text sent 9 bytes past its field is cut to the field and terminated:
  // the record writes back as the one whose texts just fit.
  const auto longer = wdvr::setup_payload(16, 3, -1, 9);
  ASSERT_GT(longer.size(), payload.size());
  std::memset(back.get(), 0x5A, sizeof *back);
  ASSERT_EQ(p.ParseReply(0xA0080001, longer.data(), longer.size(), back.get()), 1);
  out = build(p, 0x00080002, back.get());
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + 12, out.end()), payload);

  // More than 16 entries, or a record cut short, is refused.
  std::memset(back.get(), 0x5A, sizeof *back);
  const auto too_many = wdvr::setup_payload(16, 3, 17);
  EXPECT_EQ(p.ParseReply(0xA0080001, too_many.data(), too_many.size(), back.get()), 0);
  EXPECT_EQ(p.ParseReply(0xA0080001, payload.data(), payload.size() - 1, back.get()), 0);
  EXPECT_EQ(back->nChannels, 0x5A5A5A5Au);
}

TEST(DSFProtocol, StreamHeaderBlocks) {
  for (bool vqz : {false, true}) {
    CDSFProtocol p;
    wdvr::HeaderSpec spec;
    spec.vqz = vqz;
    spec.width = 704;
    spec.height = 480;
    spec.motion_bits = 30;
    spec.audio = wdvr::Audio::Adpcm;
    const auto block = wdvr::header_block(spec);
    ASSERT_EQ(p.ParseStreamHeader(block.data(), block.size()), 1);
    EXPECT_EQ(p.StreamHeader().year, 2024);
    EXPECT_EQ(p.StreamHeader().day, 15);
    EXPECT_EQ(p.StreamHeader().dateValue, 5);
    EXPECT_EQ(p.StreamHeader().flag, 1);
    EXPECT_STREQ(p.StreamHeader().text2, "simulated");
    EXPECT_EQ(p.Video().width, 704);
    EXPECT_EQ(p.Video().track, 0);
    EXPECT_EQ(p.MotionCells().size(), size_t(44 * 30));
    EXPECT_EQ(p.MotionCells()[3], 1);
    EXPECT_EQ(p.MotionCells()[4], 0);
    EXPECT_EQ(p.Audio().samplesPerSecond, 8000);
    EXPECT_EQ(std::memcmp(p.Audio().codec, wdvr::audio_codec_id(wdvr::Audio::Adpcm), 16), 0);
    EXPECT_TRUE(p.HasInfoA());
    EXPECT_EQ(p.LastHeaderBlock(), block.data());
  }
  // Without an audio object the track stays marked absent.
  CDSFProtocol p;
  const auto plain = wdvr::header_block(wdvr::HeaderSpec{});
  ASSERT_EQ(p.ParseStreamHeader(plain.data(), plain.size()), 1);
  EXPECT_EQ(p.Audio().track, 0xFF);
}

TEST(DSFProtocol, MalformedHeaderObjectsStopTheWalk) {
  const auto good = wdvr::header_block(wdvr::HeaderSpec{});
  const size_t video_at = good[4];  // the stream header object's size
  auto with_size = [&](size_t at, uint32_t size) {
    auto b = good;
    std::memcpy(&b[at + 4], &size, 4);
    return b;
  };
  wdvr::HeaderSpec big;
  big.motion_bits = 200;  // more than the 22 x 15 cells
  auto too_many_bits = wdvr::header_block(big);
  const uint16_t small_height = 32;  // 22 x 2 cells
  std::memcpy(&too_many_bits[video_at + 28], &small_height, 2);
  const std::vector<std::vector<uint8_t>> bad = {
      with_size(0, 0),                          // size 0 never advances
      with_size(0, uint32_t(good.size() + 1)),  // past the block
      with_size(video_at, 20),                  // shorter than its own fields
      too_many_bits,
      hex("00 00 f8 ff 08 00 00 00"),  // an unknown type
  };
  sdktest::TraceCapture trace;
  for (const auto& b : bad) {
    CDSFProtocol p;
    EXPECT_EQ(p.ParseStreamHeader(b.data(), b.size()), 0);
    EXPECT_EQ(p.LastHeaderBlock(), nullptr);
    EXPECT_EQ(p.Video().width, 0);
  }
  EXPECT_EQ(trace.count("[SDK TRACE]-Error, Unknown Object\n"), int(bad.size()));
}

TEST(DSFProtocol, FrameObjects) {
  CDSFProtocol p;
  const auto header = wdvr::header_block(wdvr::HeaderSpec{});
  ASSERT_EQ(p.ParseStreamHeader(header.data(), header.size()), 1);
  const std::vector<uint8_t> data = {1, 2, 3, 4, 5};

  wdvr::FrameSpec key;
  key.key = true;
  key.time_offset = 1234;
  key.motion_bits = 16;
  key.text = "cam";
  auto obj = wdvr::frame_object(key, data.data(), data.size());
  ASSERT_EQ(p.ParseFrame(obj.data(), obj.size()), DSF_FRAME_KIND);
  EXPECT_EQ(p.Frame().key, 1);
  EXPECT_EQ(p.Frame().kind, 0);
  EXPECT_EQ(p.Frame().timeOffset, 1234u);
  EXPECT_STREQ(p.Frame().text2, "cam");
  EXPECT_EQ(std::vector<uint8_t>(p.Frame().data, p.Frame().data + p.Frame().dataLength), data);
  EXPECT_EQ(p.MotionCells()[1], 1);

  wdvr::FrameSpec part;
  part.parts = 3;
  part.index = 1;
  part.whole = 99;
  obj = wdvr::frame_object(part, data.data(), data.size());
  ASSERT_EQ(p.ParseFrame(obj.data(), obj.size()), DSF_FRAME_KIND);
  EXPECT_EQ(p.Frame().extension, 1);
  EXPECT_EQ(p.Frame().parts, 3);
  EXPECT_EQ(p.Frame().partIndex, 1);
  EXPECT_EQ(p.Frame().wholeSize, 99u);
  EXPECT_EQ(p.Frame().headerLength, 14u);

  // Kind 2 without data still points behind its header.
  wdvr::FrameSpec empty;
  empty.kind = 2;
  obj = wdvr::frame_object(empty, nullptr, 0);
  ASSERT_EQ(p.ParseFrame(obj.data(), obj.size()), DSF_FRAME_KIND);
  EXPECT_EQ(p.Frame().data, obj.data() + obj.size());
  EXPECT_EQ(p.Frame().dataLength, 0u);

  // Refused: an object longer than the bytes given, shorter than its header, or with more
  // motion bits than the picture has cells. Nothing of them is kept.
  auto shorter = wdvr::frame_object(key, data.data(), data.size());
  shorter[0] = 8;
  wdvr::FrameSpec bits;
  bits.motion_bits = 22 * 15 + 1;
  const auto too_many = wdvr::frame_object(bits, data.data(), data.size());
  const auto whole = wdvr::frame_object(key, data.data(), data.size());
  for (const auto& [o, n] : {std::pair{whole, whole.size() - 1}, std::pair{shorter, shorter.size()},
                             std::pair{too_many, too_many.size()}}) {
    EXPECT_EQ(p.ParseFrame(o.data(), n), DSF_UNKNOWN_KIND);
    EXPECT_EQ(p.Frame().kind, 2);
  }
}

TEST(DSFProtocol, BitArrayRefusesOutOfRange) {
  CBitArray bits;
  bits.Resize(10);
  EXPECT_EQ(bits.Bytes(), 2u);
  EXPECT_EQ(bits.SetBit(9, 1), 0);
  EXPECT_EQ(bits.SetBit(16, 1), -1);
  EXPECT_EQ(bits.SetBit(3, 2), -1);
  uint8_t v = 9;
  EXPECT_EQ(bits.GetBit(9, &v), 0);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(bits.GetBit(16, &v), -1);
  const uint8_t src[1] = {0x80};
  bits.Load(src, 1);  // fewer bytes than the buffer: only those are copied
  EXPECT_EQ(bits.GetBit(0, &v), 0);
  EXPECT_EQ(v, 1);
}

}  // namespace
