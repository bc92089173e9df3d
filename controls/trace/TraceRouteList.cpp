#include "controls/trace/TraceRouteList.h"

#include <algorithm>
#include <cstring>

#include "common/TraceRoutePoint.h"
#include "platform/TaskAllocator.h"
#include "ui/ListBox.h"

namespace {

// Copies text into a fixed field, cut to leave room for the terminating zero.
template <std::size_t N>
void CopyField(char (&field)[N], const std::string& text) {
  const std::size_t size = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), size);
  field[size] = 0;
}

char* NewDetail(const std::string& text, std::size_t atLeast) {
  auto* block = static_cast<char*>(CoTaskMemAlloc(std::max(text.size() + 1, atLeast)));
  if (block != nullptr) std::memcpy(block, text.c_str(), text.size() + 1);
  return block;
}

void FreeRecord(_TraceRoutePoint* record) {
  if (record == nullptr) return;
  CoTaskMemFree(record->detail);
  CoTaskMemFree(record);
}

}  // namespace

_TraceRoutePoint* TraceRouteList::RecordAt(int index) const {
  if (index < 0 || index >= m_list->GetCount()) return nullptr;
  return reinterpret_cast<_TraceRoutePoint*>(m_list->GetItemData(index));
}

void TraceRouteList::AddPoint(const std::string& line, int hop, const std::string& address, const std::string& hostName) {
  auto* record = CoTaskMemNew<_TraceRoutePoint>();
  if (record != nullptr) {
    record->hop = hop;
    CopyField(record->address, address);
    CopyField(record->hostName, hostName);
    record->detail = NewDetail(kDefaultDetail, kDefaultDetailSize);
  }
  CriticalSectionLock lock(m_lock);
  const int index = m_list->AddString(line);
  m_list->SetItemData(index, reinterpret_cast<DWORD_PTR>(record));
  m_list->SetCurSel(index);
}

void TraceRouteList::AddStatusLine(const std::string& line) {
  CriticalSectionLock lock(m_lock);
  m_list->SetCurSel(m_list->AddString(line));
}

void TraceRouteList::Clear() {
  CriticalSectionLock lock(m_lock);
  for (int i = 0; i < m_list->GetCount(); ++i) FreeRecord(RecordAt(i));
  m_list->ResetContent();
}

int TraceRouteList::Count() const {
  CriticalSectionLock lock(m_lock);
  return m_list->GetCount();
}

void TraceRouteList::Select(int index) {
  CriticalSectionLock lock(m_lock);
  m_list->SetCurSel(index);
}

TraceRouteList::Point TraceRouteList::PointAt(int index) const {
  CriticalSectionLock lock(m_lock);
  Point point;
  if (const _TraceRoutePoint* record = RecordAt(index)) {
    point.valid = true;
    point.hop = record->hop;
    point.address = record->address;
    point.hostName = record->hostName;
  }
  return point;
}

std::string TraceRouteList::Detail(int index) const {
  CriticalSectionLock lock(m_lock);
  const _TraceRoutePoint* record = RecordAt(index);
  return record != nullptr && record->detail != nullptr ? record->detail : "";
}

void TraceRouteList::SetDetail(int index, const std::string& text) {
  CriticalSectionLock lock(m_lock);
  _TraceRoutePoint* record = RecordAt(index);
  if (record == nullptr) return;
  CoTaskMemFree(record->detail);
  record->detail = NewDetail(text, 1);
}
