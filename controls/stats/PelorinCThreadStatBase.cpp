#include "controls/stats/PelorinCThreadStatBase.h"

#include <charconv>

#include "controls/framework/PelorinCListView.h"

namespace {

// While stopped the worker only waits for the list to suspend it; it looks again this often
// rather than spinning. Posted messages, Wake and the end cut the wait short.
constexpr DWORD kStopPollMs = 50;

// The counter as the platform's signed 32-bit conversion prints it.
std::string SignedText(DWORD value) {
  char text[16];
  const auto end = std::to_chars(text, text + sizeof text, static_cast<LONG>(value)).ptr;
  return std::string(text, end);
}

}  // namespace

PelorinCThreadStatBase::PelorinCThreadStatBase(PelorinCListView* list, std::vector<std::string> rowLabels)
    : PelorinCThread(list, list) {
  for (std::string& label : rowLabels) {
    auto row = std::make_unique<Row>();
    row->label = std::move(label);
    m_rows.push_back(std::move(row));
  }
  SetScan(1000);  // ms, until the list sets the profile's interval
}

PelorinCThreadStatBase::~PelorinCThreadStatBase() {
  EndThread();
  if (m_library) FreeLibrary(m_library);
  m_library = nullptr;
}

void PelorinCThreadStatBase::LoadEntryPoints() {
  std::call_once(m_loaded, [this] {
    m_library = LoadLibraryA("iphlpapi.dll");
    LookUp(m_library);  // a missing library leaves every call null
  });
}

bool PelorinCThreadStatBase::InitInstance() {
  LoadEntryPoints();
  return true;
}

int PelorinCThreadStatBase::ExitInstance() {
  // The calls are not made after the loop ends; the library goes with the thread object.
  return 0;
}

// --- flags ---

void PelorinCThreadStatBase::SetDeleteAll(BOOL deleteAll) {
  CriticalSectionLock lock(m_deleteAllLock);
  m_deleteAll = deleteAll;
}

BOOL PelorinCThreadStatBase::IsDeleteAll() {
  CriticalSectionLock lock(m_deleteAllLock);
  return m_deleteAll;
}

void PelorinCThreadStatBase::SetRowExists(std::size_t row, BOOL exists) {
  if (row < m_rows.size()) m_rows[row]->exists.store(exists);
}

BOOL PelorinCThreadStatBase::RowExists(std::size_t row) const {
  return row < m_rows.size() ? m_rows[row]->exists.load() : 0;
}

void PelorinCThreadStatBase::ClearRows() {
  for (auto& row : m_rows) row->exists.store(0);
}

void PelorinCThreadStatBase::ListDeleteAll() {
  ClearRows();
  if (PelorinCListView* list = GetListView()) list->ListDeleteAll();
  SetDeleteAll(0);
}

// --- idle pass ---

void PelorinCThreadStatBase::CloseList() {
  ListDeleteAll();
  SetCount(0);
}

bool PelorinCThreadStatBase::AcknowledgeStop() {
  if (!m_stopAcknowledged) {
    m_stopAcknowledged = true;
    PostStopAck();
  }
  Pause(kStopPollMs);
  return CountAsIdleResult();
}

bool PelorinCThreadStatBase::OnIdle(long) {
  if (IsClose()) {
    CloseList();
    return false;
  }
  if (IsStop()) return AcknowledgeStop();
  m_stopAcknowledged = false;
  Scan();
  if (IsClose()) {
    CloseList();
    return false;
  }
  if (IsStop()) return AcknowledgeStop();
  Pause(GetScan());  // cut short by a posted message, a close or a stop request
  if (IsClose()) {
    CloseList();
    return false;
  }
  IncreCount();
  return CountAsIdleResult();
}

void PelorinCThreadStatBase::Scan() {
  if (IsDeleteAll()) ListDeleteAll();
  ScanRows();
}

// --- rows ---

int PelorinCThreadStatBase::Rank(const std::string& label) const {
  for (std::size_t i = 0; i < m_rows.size(); ++i)
    if (m_rows[i]->label == label) return static_cast<int>(i);
  return -1;
}

int PelorinCThreadStatBase::LocateRow(Row& row) {
  PelorinCListView& list = *GetListView();
  if (row.index >= 0 && list.GetItemText(row.index, 0) == row.label) return row.index;
  // Moved or gone: the list was cleared since the last pass.
  const int count = list.GetItemCount();
  for (int i = 0; i < count; ++i) {
    if (list.GetItemText(i, 0) == row.label) {
      row.index = i;
      row.shown.clear();
      return i;
    }
  }
  return -1;
}

int PelorinCThreadStatBase::InsertIndex(std::size_t row) {
  // Before the first row that stands after this one, so the rows keep their order whichever of
  // them is missing.
  PelorinCListView& list = *GetListView();
  const int count = list.GetItemCount();
  for (int i = 0; i < count; ++i) {
    if (Rank(list.GetItemText(i, 0)) > static_cast<int>(row)) return i;
  }
  return count;
}

void PelorinCThreadStatBase::WriteRow(std::size_t which, std::span<const StatCell> cells) {
  if (which >= m_rows.size() || !GetListView()) return;
  PelorinCListView& list = *GetListView();
  Row& row = *m_rows[which];
  int index = row.exists.load() ? LocateRow(row) : -1;
  if (index < 0) {
    index = list.InsertItem(InsertIndex(which), row.label, -1, 0);
    if (index < 0) return;
    row.index = index;
    row.shown.clear();
    row.exists.store(1);
  }
  for (const StatCell& cell : cells) {
    if (cell.subItem <= 0) continue;  // column 0 is the label
    const auto sub = static_cast<std::size_t>(cell.subItem);
    if (row.shown.size() <= sub) row.shown.resize(sub + 1);
    std::string text = SignedText(cell.value);
    if (row.shown[sub] == text) continue;
    // A write that fails (the row went with a clearing) is tried again on the next pass.
    if (list.SetItemText(index, cell.subItem, text)) row.shown[sub] = std::move(text);
  }
}
