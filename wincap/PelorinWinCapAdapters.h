#pragma once
#include <string>

#include "common/PelorinWinCapAdapter.h"
#include "common/WinTypes.h"

struct pcap_if;

// What the cursor functions return for a device that the usable-only rule passes over: the
// pointer value -1. Compare with IsAdapterSkip before using a returned record.
inline _PelorinWinCapAdapter* AdapterSkipMarker() {
  return reinterpret_cast<_PelorinWinCapAdapter*>(static_cast<std::intptr_t>(-1));
}
inline bool IsAdapterSkip(const _PelorinWinCapAdapter* adapter) { return adapter == AdapterSkipMarker(); }

// Cursor over the capture library's devices. It owns the device list, so it is not copied.
// A record's index is the device's position in the enumeration counted over all devices,
// skipped ones included. A device is usable when it has at least one address. Its description
// is the one AdapterDescription gives ("Ethernet 192.168.1.20").
class PelorinWinCapAdapters {
 public:
  PelorinWinCapAdapters();
  ~PelorinWinCapAdapters();
  PelorinWinCapAdapters(const PelorinWinCapAdapters&) = delete;
  PelorinWinCapAdapters& operator=(const PelorinWinCapAdapters&) = delete;

  // Enumerates afresh and returns the first device's record (index 0); null when the enumeration
  // fails or finds no device; the skip marker when usableOnly is set and the device has no address.
  _PelorinWinCapAdapter* AdaptersGetFirst(int usableOnly);
  // The next device's record (index + 1) under the same rule; null when the list is exhausted or
  // there is none.
  _PelorinWinCapAdapter* AdaptersGetNext(int usableOnly);
  // Enumerates afresh and returns the record whose index equals index, usable or not; null when
  // there is none.
  _PelorinWinCapAdapter* AdaptersGet(LONG index);
  // The same by device name.
  _PelorinWinCapAdapter* AdaptersGetByName(const std::string& name);

  const char* ErrorText() const { return m_error; }

 private:
  void FreeList();
  _PelorinWinCapAdapter* TakeCurrent(int usableOnly);

  pcap_if* m_list = nullptr;           // owned; freed with pcap_freealldevs
  const pcap_if* m_current = nullptr;  // the node the cursor stands on
  _PelorinWinCapAdapter m_adapter{};
  char m_error[256]{};
};
