#include "sdk/EventServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "platform/debug/debug_output.h"
#include "platform/net/net.h"
#include "platform/sync/thread_name.h"
#include "platform/wire/byte_reader.h"
#include "sdk/Protocol/DSFProtocol.h"

namespace {
// Reads n bytes before `deadline`: the limit holds for the whole message, not per receive.
void ReadBefore(CBlockingSocket& s, uint8_t* p, int n,
                std::chrono::steady_clock::time_point deadline) {
  for (int done = 0; done < n;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) throw CBlockingSocketException("TimeOut", 10060);
    s.SetReceiveTimeOut(int(left));
    done += s.ReceiveAll(p + done, n - done);
  }
}
}  // namespace

CEventServer::~CEventServer() { Stop(); }

int CEventServer::Start(SDK_INIT_CALLBACK callback, DvrLookup lookup, uint16_t port) {
  Stop();
  m_pCallback = callback;
  m_lookup = std::move(lookup);
  try {
    m_listener.Create();
    const int one = 1;
    m_listener.SetOption(NET_SOL_SOCKET, NET_SO_REUSEADDR, &one, sizeof one);
    CSockAddr any;
    any.addr_be = 0;  // 0.0.0.0: the DVRs connect from the network
    any.port = port;
    m_listener.Bind(any);
    m_listener.Listen();
  } catch (const CBlockingSocketException& e) {
    debug_outputf("[SDK TRACE]-EventServer Exception: %s\n", e.GetErrorMessage().c_str());
    m_listener.Close();
    m_bRunning = 0;
    return 0;
  }
  m_wPort = m_listener.GetLocalPort();
  m_stopEvent.Reset();
  m_bRunning = 1;
  m_listenThread = std::thread([this] { ListenLoop(); });
  return 1;
}

void CEventServer::Stop() {
  m_bRunning = 0;
  m_stopEvent.Set();
  m_listener.Close();
  if (m_listenThread.joinable()) m_listenThread.join();
  {
    std::lock_guard<std::mutex> lk(m_mapLock);
    for (auto& c : m_conns) c->socket.Close();
  }
  Reap(true);
}

int CEventServer::OpenConnections() {
  std::lock_guard<std::mutex> lk(m_mapLock);
  int n = 0;
  for (auto& c : m_conns) n += !c->done && !c->dropped;
  return n;
}

// Joins the connection threads that ended (all of them with `all`, after their sockets closed).
void CEventServer::Reap(bool all) {
  std::list<std::unique_ptr<Conn>> ended;
  {
    std::lock_guard<std::mutex> lk(m_mapLock);
    for (auto it = m_conns.begin(); it != m_conns.end();) {
      if (all || (*it)->done) {
        ended.push_back(std::move(*it));
        it = m_conns.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : ended)
    if (c->thread.joinable()) c->thread.join();
}

void CEventServer::ListenLoop() {
  set_current_thread_name("sdk events");
  int pause = 0;
  while (m_bRunning) {
    auto c = std::make_unique<Conn>();
    CSockAddr peer;
    bool got = false;
    try {
      got = m_listener.Accept(c->socket, &peer);
    } catch (const CBlockingSocketException& e) {
      if (!m_bRunning) break;
      debug_outputf("[SDK TRACE]-EventServer Exception: %s\n", e.GetErrorMessage().c_str());
      // The same failure would come back at once (the connection stays queued): pause.
      pause = pause ? std::min(pause * 2, kAcceptPauseMaxMs) : kAcceptPauseMs;
      m_stopEvent.Wait(uint32_t(pause));
      continue;
    }
    pause = 0;
    if (!got || !m_bRunning) {
      debug_output("[SDK TRACE]-Event Server Close\n");
      break;
    }
    Reap(false);
    char text[32];
    net_format_ipv4(peer.addr_be, text, sizeof text);
    c->address = text;
    std::lock_guard<std::mutex> lk(m_mapLock);
    if (!m_bRunning) {
      c->socket.Close();
      continue;
    }
    // A flood of connections must not pile up threads, nor lock a DVR out: when every slot
    // is taken the oldest connection still waiting for its message makes room.
    int open = 0;
    Conn* oldest = nullptr;
    for (auto& o : m_conns)
      if (!o->done && !o->dropped) {
        ++open;
        if (!oldest && o->waiting) oldest = o.get();
      }
    if (open >= kMaxConnections) {
      if (!oldest) {
        c->socket.Close();
        continue;
      }
      oldest->dropped = true;
      oldest->socket.Close();
    }
    Conn* raw = c.get();
    m_conns.push_back(std::move(c));
    raw->thread = std::thread([this, raw] { Serve(raw); });
  }
}

void CEventServer::Serve(Conn* c) {
  set_current_thread_name("sdk event conn");
  try {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_nReadTimeOut);
    uint8_t h[12];
    ReadBefore(c->socket, h, 12, deadline);
    uint32_t number, length;
    if (ReadHeader(h, sizeof h, &number, &length)) {
      std::vector<uint8_t> payload(length);
      ReadBefore(c->socket, payload.data(), int(length), deadline);
      c->waiting = false;
      c->socket.Close();
      if (m_bRunning) {
        std::lock_guard<std::mutex> lk(m_eventLock);
        OnEvent(number, payload.data(), payload.size(), c->address.c_str());
      }
    }
  } catch (const CBlockingSocketException& e) {
    debug_outputf("[SDK TRACE]-EventServer Exception: %s\n", e.GetErrorMessage().c_str());
  }
  c->socket.Close();
  c->done = true;
}

bool CEventServer::ReadHeader(const uint8_t* header, size_t available, uint32_t* number,
                              uint32_t* length) {
  CByteReader r(header, available);
  const uint32_t n = r.U32BE(), flag = r.U32BE(), len = r.U32BE();
  if (!r.Ok() || flag != 1 || len > kMaxPayload) return false;
  *number = n;
  *length = len;
  return true;
}

bool CEventServer::Decode(uint32_t number, const uint8_t* payload, size_t length, int* code,
                          std::string* text, int* channel) {
  CByteReader r(payload, length);
  auto u32_at = [&](size_t off, uint32_t* v) {
    CByteReader at(payload, length);
    at.Skip(off);
    *v = at.U32BE();
    return at.Ok();
  };
  auto u8_at = [&](size_t off, uint8_t* v) {
    if (!payload || off >= length) return false;
    *v = payload[off];
    return true;
  };
  char buf[64];
  *channel = 0;
  uint32_t v = 0;
  uint8_t a = 0, b = 0;
  switch (number) {
    case DSF_EVENT_SENSOR: {
      DSF_SENSOR_EVENT ev{};
      CDSFProtocol p;
      if (!p.ParseReply(number, payload, length, &ev)) return false;
      std::snprintf(buf, sizeof buf, "Sensor event %d", ev.b);
      *text = buf;
      *code = 0x10000001;
      for (int i = 0; i < 32; ++i)
        if (ev.flags[i]) {
          *channel = i;
          break;
        }
      return true;
    }
    case DSF_EVENT_SHUTDOWN: {
      if (!u32_at(4, &v)) return false;
      *text = "System shutdown ";
      switch (v) {
        case 3: *text += " (for repair)"; break;
        case 5: *text += " (connection reset)"; break;
        case 6: *text += " (internal error)"; break;
        case 7: *text += " (power Off)"; break;
        case 9: *text += " (reboot)"; break;
        default: break;
      }
      *code = 0x10000008;
      return true;
    }
    case 0x00050202:
      *text = "System Rebooted";
      *code = 0x10000004;
      return true;
    case 0x00050301:
      *text = "Recording Started";
      *code = 0x10000800;
      return true;
    case 0x00050302:
      *text = "Recording Stoped";
      *code = 0x10001000;
      return true;
    case 0x00050701:
      if (!u32_at(4, &v)) return false;
      *text = v == 0 ? "System shutdown" : "System started.";
      *code = v == 0 ? 0x10000008 : 0x10000020;
      return true;
    case 0x00050702:
      if (!u32_at(4, &v)) return false;
      *text = v == 0 ? "User Log Off" : "User Log On";
      *code = 0x10000080;
      return true;
    case 0x00050703:
      if (!u32_at(4, &v)) return false;
      *text = v == 0 ? "Option setup end" : "Option setup start";
      *code = 0x10000100;
      return true;
    case 0x00050705:
      if (!u32_at(4, &v)) return false;
      *text = v == 0   ? "[HDD Info]failure of smart test"
              : v == 1 ? "Recording failure"
                       : "HDD full";
      *code = 0x10000200;
      return true;
    case 0x00050801:
      if (!u8_at(8, &a) || !u8_at(9, &b)) return false;
      *text = b == 1 ? "Relay On" : "Relay Off";
      *code = b == 1 ? 0x10008000 : 0x10010000;
      *channel = a;
      return true;
    case 0x00050802:
      if (!u8_at(8, &a) || !u32_at(9, &v)) return false;
      *text = "Motion event detected";
      *code = 0x10000400;
      *channel = a;
      return true;
    case 0x00050803:
      if (!u8_at(8, &a) || !u8_at(9, &b)) return false;
      *text = b == 1 ? "Video In" : "Video Loss";
      *code = b == 1 ? 0x10002000 : 0x10004000;
      *channel = a;
      return true;
    default: (void)r; return false;
  }
}

void CEventServer::OnEvent(uint32_t number, const uint8_t* payload, size_t length,
                           const char* address) {
  if (!m_bRunning) return;
  int code = 0, channel = 0;
  std::string text;
  if (!Decode(number, payload, length, &code, &text, &channel)) return;
  const int dvr = m_lookup ? m_lookup(address) : -1;
  if (m_pCallback && m_bRunning)
    m_pCallback(2, code, const_cast<char*>(text.c_str()), address, channel, dvr);
}
