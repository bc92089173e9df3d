#pragma once
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/WinTypes.h"
#include "controls/framework/PelorinCThread.h"
#include "platform/CriticalSection.h"
#include "platform/DynamicLibrary.h"
#include "platform/LastError.h"

// One counter cell of a statistics row: the sub-item it fills and the platform's 32-bit counter,
// shown as a signed decimal.
struct StatCell {
  int subItem;
  DWORD value;
};

// The worker of a statistics pane. Each idle pass fetches the platform's counters through the IP
// Helper calls and writes them into the pane's rows, one row per counter record, each inserted
// on the first pass that has its record; then it sleeps the scan interval. A row whose call is
// missing is left out.
//
// The pane's user-interface thread may clear the list at any moment (SetDeleteAll), so a row is
// found again by its label before its cells are written, and a vanished row is inserted anew in
// its place among the others.
class PelorinCThreadStatBase : public PelorinCThread {
 public:
  // rowLabels: the first-column texts of the rows, in the order the rows stand in the list.
  PelorinCThreadStatBase(PelorinCListView* list, std::vector<std::string> rowLabels);
  ~PelorinCThreadStatBase() override;

  // Loads "iphlpapi.dll" and looks the calls up; the worker does it as it starts. Only the first
  // call loads, whichever thread makes it.
  void LoadEntryPoints();
  // One scan: clears the list first when asked to, then fetches and writes every row whose call
  // exists, as long as the list is not closing.
  void Scan();

  void SetDeleteAll(BOOL deleteAll);
  BOOL IsDeleteAll();
  // Clears the list (which forgets the rows), then the delete-all flag.
  void ListDeleteAll();
  // Forgets every row: the list is being cleared.
  void ClearRows();
  // The statistics monitors keep no log.
  void SetLog(BOOL) {}

 protected:
  bool InitInstance() override;
  int ExitInstance() override;
  bool OnIdle(long count) override;

  // Looks up the calls of the derived worker in the loaded library (null when it is missing).
  virtual void LookUp(HMODULE library) = 0;
  // Fetches the records and writes their rows; each record is cleared before its call.
  virtual void ScanRows() = 0;

  // Makes one statistics call into a cleared record and clears it again when the call fails, so
  // a failure shows zeros whatever the call left in it. The call's result.
  template <typename Record, typename Call, typename... Args>
  static DWORD Fetch(Record& record, Call call, Args... args) {
    record = {};
    const DWORD result = call(&record, args...);
    if (result != NO_ERROR) record = {};
    return result;
  }

  void SetRowExists(std::size_t row, BOOL exists);
  BOOL RowExists(std::size_t row) const;
  // Writes the cells of a row, inserting the row first (item data 0) when it does not exist.
  // Cells whose text has not changed since the last pass are not written again.
  void WriteRow(std::size_t row, std::span<const StatCell> cells);

 private:
  struct Row {
    std::string label;
    std::atomic<BOOL> exists{0};  // cleared by the list's thread when it clears the list
    int index = -1;               // where the worker last wrote it
    std::vector<std::string> shown;  // texts last written, by sub-item
  };

  void CloseList();  // the list is closing: clear it and end idle processing
  bool AcknowledgeStop();
  int LocateRow(Row& row);
  int InsertIndex(std::size_t row);
  int Rank(const std::string& label) const;

  std::vector<std::unique_ptr<Row>> m_rows;
  std::once_flag m_loaded;
  HMODULE m_library = nullptr;
  CriticalSection m_deleteAllLock;
  BOOL m_deleteAll = 0;
  bool m_stopAcknowledged = false;  // since the last scanning pass
};
