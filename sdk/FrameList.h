// A session's queued frames (CClientSite's frame list): FrameItem, one frame with what the
// session needs to hand it out, and FrameList, their FIFO, which keeps the bytes it holds so the
// list can be bounded by bytes as well as by count. Not locked: the session holds its list lock
// around every use. front, take_front and pop_front need a frame in the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

// One queued frame.
struct FrameItem {
  std::vector<uint8_t> data;
  uint32_t timeOffset = 0;
  uint8_t kind = 0;  // 0 video, 1 audio
  bool key = false;
  bool field = false;  // flag C: the second field of a tall picture
  size_t inPlace = 0;  // handed over into the waiting caller's buffer: its bytes there
  size_t Length() const { return inPlace ? inPlace : data.size(); }
};

// A FIFO of frames that keeps the bytes they hold.
class FrameList {
 public:
  bool empty() const { return m_items.empty(); }
  size_t size() const { return m_items.size(); }
  size_t bytes() const { return m_nBytes; }
  const FrameItem& front() const { return m_items.front(); }
  // The oldest frame, moved out: its bytes leave the count before they leave the item.
  FrameItem take_front() {
    m_nBytes -= m_items.front().data.size();
    FrameItem item = std::move(m_items.front());
    m_items.pop_front();
    return item;
  }
  void push_back(FrameItem&& item) {
    m_nBytes += item.data.size();
    m_items.push_back(std::move(item));
  }
  void pop_front() {
    m_nBytes -= m_items.front().data.size();
    m_items.pop_front();
  }
  void clear() {
    m_items.clear();
    m_nBytes = 0;
  }

 private:
  std::deque<FrameItem> m_items;
  size_t m_nBytes = 0;
};
