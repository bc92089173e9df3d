#include "wincap/PelorinWinCapAdapters.h"

#include <pcap/pcap.h>

#include "common/FieldText.h"
#include "wincap/AdapterDescription.h"

// The error text buffer is the capture library's own size.
static_assert(PCAP_ERRBUF_SIZE == 256);

PelorinWinCapAdapters::PelorinWinCapAdapters() = default;

PelorinWinCapAdapters::~PelorinWinCapAdapters() { FreeList(); }

void PelorinWinCapAdapters::FreeList() {
  if (m_list) pcap_freealldevs(m_list);
  m_list = nullptr;
  m_current = nullptr;
}

_PelorinWinCapAdapter* PelorinWinCapAdapters::TakeCurrent(int usableOnly) {
  SetFieldText(m_adapter.name, m_current->name ? m_current->name : "");
  SetFieldText(m_adapter.description, AdapterDescription(*m_current));
  if (usableOnly && m_current->addresses == nullptr) return AdapterSkipMarker();
  return &m_adapter;
}

_PelorinWinCapAdapter* PelorinWinCapAdapters::AdaptersGetFirst(int usableOnly) {
  FreeList();
  m_error[0] = 0;
  pcap_if_t* list = nullptr;
  if (pcap_findalldevs(&list, m_error) == PCAP_ERROR) return nullptr;
  m_list = list;
  if (m_list == nullptr) return nullptr;
  m_current = m_list;
  m_adapter.index = 0;
  return TakeCurrent(usableOnly);
}

_PelorinWinCapAdapter* PelorinWinCapAdapters::AdaptersGetNext(int usableOnly) {
  if (m_list == nullptr || m_current == nullptr || m_current->next == nullptr) return nullptr;
  m_current = m_current->next;
  ++m_adapter.index;
  return TakeCurrent(usableOnly);
}

_PelorinWinCapAdapter* PelorinWinCapAdapters::AdaptersGet(LONG index) {
  for (_PelorinWinCapAdapter* adapter = AdaptersGetFirst(0); adapter != nullptr;
       adapter = AdaptersGetNext(0)) {
    if (adapter->index == index) return adapter;
  }
  return nullptr;
}

_PelorinWinCapAdapter* PelorinWinCapAdapters::AdaptersGetByName(const std::string& name) {
  for (_PelorinWinCapAdapter* adapter = AdaptersGetFirst(0); adapter != nullptr; adapter = AdaptersGetNext(0)) {
    if (GetFieldText(adapter->name) == name) return adapter;
  }
  return nullptr;
}
