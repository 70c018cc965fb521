// CEventServer: listens on the SDK's event port on every local address (DVRs open these
// connections from the network) for connections that each carry one DSF event packet, turns
// the event into a code and a text and calls the application callback with source 2.
//
// Bounds: a payload longer than kMaxPayload is refused, every offset is checked, at most
// kMaxConnections connections are read at once and each must bring its whole message within
// kReadTimeOutMs (a peer trickling bytes cannot keep its slot). When every slot is taken, the
// oldest connection still waiting for its message is dropped for the new one, so slow or
// silent peers never lock a DVR out. A failing accept (no descriptor left, say) is retried
// after a pause that doubles from kAcceptPauseMs to kAcceptPauseMaxMs. The listening socket is
// bound with SO_REUSEADDR, so a following Start binds again; a failed bind leaves the server
// stopped (the application then gets no events).
//
// Threads: one listener thread accepts; one thread per accepted connection reads it and
// delivers under the event lock (one callback at a time). Stop closes every socket and joins
// every thread; it must not be called from the callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/sync/sync.h"
#include "sdk/Blocksock.h"
#include "sdk/OrvoSDK.h"

class CEventServer {
 public:
  static constexpr uint32_t kMaxPayload = 4096;
  static constexpr int kMaxConnections = 64;
  static constexpr int kReadTimeOutMs = 60000;
  static constexpr int kAcceptPauseMs = 10, kAcceptPauseMaxMs = 1000;

  // Finds the DVR id of a peer address (-1 when none).
  using DvrLookup = std::function<int(const char* address)>;

  CEventServer() = default;
  ~CEventServer();
  CEventServer(const CEventServer&) = delete;
  CEventServer& operator=(const CEventServer&) = delete;

  // 1 listening; 0 when the port cannot be bound (traced, nothing else happens).
  int Start(SDK_INIT_CALLBACK callback, DvrLookup lookup, uint16_t port);
  void Stop();
  int IsRunning() const { return m_bRunning; }
  uint16_t Port() const { return m_wPort; }
  // The limit on a connection's whole message (tests shorten it).
  void SetReadTimeOut(int ms) { m_nReadTimeOut = ms; }
  // Connections being read or delivered.
  int OpenConnections();

  // The message header a connection starts with (`available` bytes at `header`): true with
  // its event number and payload length when the server takes it (12 bytes, flag word 1, a
  // payload of at most kMaxPayload); false drops the connection.
  static bool ReadHeader(const uint8_t* header, size_t available, uint32_t* number,
                         uint32_t* length);
  // The code, text and channel of an event packet; false for an unknown number or a payload
  // too short for the fields it needs.
  static bool Decode(uint32_t number, const uint8_t* payload, size_t length, int* code,
                     std::string* text, int* channel);
  void OnEvent(uint32_t number, const uint8_t* payload, size_t length, const char* address);

 private:
  struct Conn {
    CBlockingSocket socket;
    std::thread thread;
    std::atomic<bool> done{false};
    std::atomic<bool> waiting{true};  // its message has not arrived yet
    bool dropped = false;             // closed to make room (under the map lock)
    std::string address;
  };
  void ListenLoop();
  void Serve(Conn* c);
  void Reap(bool all);

  CBlockingSocket m_listener;
  std::thread m_listenThread;
  std::atomic<int> m_bRunning{0};
  SyncEvent m_stopEvent{true, false};  // ends the accept pause at once
  uint16_t m_wPort = 0;
  SDK_INIT_CALLBACK m_pCallback = nullptr;
  DvrLookup m_lookup;
  std::mutex m_mapLock;
  std::list<std::unique_ptr<Conn>> m_conns;
  std::mutex m_eventLock;
  std::atomic<int> m_nReadTimeOut{kReadTimeOutMs};
};
