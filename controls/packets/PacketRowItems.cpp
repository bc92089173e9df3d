#include "controls/packets/PacketRowItems.h"

#include "platform/TaskAllocator.h"

PacketRowItems::~PacketRowItems() {
  for (auto* item : m_supply) CoTaskMemFree(item);
  for (auto* item : m_given) CoTaskMemFree(item);
}

PacketRowItem* PacketRowItems::Take() {
  if (m_supply.empty()) {
    // One lock for all the items given back since the last time.
    std::lock_guard<std::mutex> lock(m_lock);
    m_supply.swap(m_given);
  }
  if (m_supply.empty()) return CoTaskMemNew<PacketRowItem>();
  PacketRowItem* item = m_supply.back();
  m_supply.pop_back();
  // The cells are left to the capture thread, which writes them all for each row.
  item->record = {};
  item->logFile = 0;
  return item;
}

void PacketRowItems::Give(const std::vector<DWORD_PTR>& items) {
  std::lock_guard<std::mutex> lock(m_lock);
  for (DWORD_PTR item : items) KeepLocked(reinterpret_cast<void*>(item));
}

void PacketRowItems::Give(void* item) {
  std::lock_guard<std::mutex> lock(m_lock);
  KeepLocked(item);
}

void PacketRowItems::KeepLocked(void* item) {
  if (item == nullptr) return;
  if (m_given.size() >= kMaxKept) {
    CoTaskMemFree(item);
    return;
  }
  m_given.push_back(static_cast<PacketRowItem*>(item));
}
