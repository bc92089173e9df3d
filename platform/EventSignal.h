#pragma once

// A one-way signal another thread can wait on with poll(): once set it stays set, so a waiter
// that starts after the signal still sees it. Used to cut short the bounded waits of a worker
// (an ICMP echo, a whois read) when its window closes.
class EventSignal {
 public:
  EventSignal();
  ~EventSignal();
  EventSignal(const EventSignal&) = delete;
  EventSignal& operator=(const EventSignal&) = delete;

  void Set();
  bool IsSet() const;
  // The descriptor that becomes readable once set; -1 when none could be made (never set then).
  int Descriptor() const { return m_fd; }

 private:
  int m_fd = -1;
};
