#pragma once
#include <string>
#include <vector>

#include "common/FirewallProcessRecord.h"
#include "controls/connections/ConnectionTables.h"
#include "controls/framework/PelorinCListView.h"

// The process list of the firewall: every TCP and UDP endpoint of the machine with the process
// that owns it, read from the same tables as the connections monitor. A right click on a row
// offers to block or allow that process; the choice marks every row and every entry of the
// firewall process file with the same process name. The file is read when the list is given it
// and rewritten whole after every refresh: its entries, then one allowed entry for each process
// listed that has none yet, 64 entries at most.
//
// A file that is there but could not be read (the engine holds it) is never written: a write
// would allow every process it blocks. A refresh reads it again. A write that fails is said,
// and the rows go back to what the file holds.
class CRamparoListView : public PelorinCListView {
 public:
  static constexpr UINT kMenuAllow = 32830;  // menu 140
  static constexpr UINT kMenuBlock = 32831;
  static constexpr int kColumnProcessName = 0;

  CRamparoListView();
  ~CRamparoListView() override;

  // Creates the list with its columns, font and icons in the parent's client area.
  bool CreateView(Window* parent, UINT id, const Rect& rect);
  static constexpr char kCaption[] = "Processes";
  // What the window says of a process file it could not read.
  static std::string UnreadText(const std::string& path);

  // Loads the process file (read alone); false when it exists but is held by another or
  // unreadable. A missing file has no entries yet and is made by the first write.
  bool SetProcessFile(const std::string& path);
  // Lists the endpoints again, then rewrites the process file; false when it was not written.
  bool Refresh();
  bool IsLoaded() const { return m_loaded; }
  // Some change reached the file since it was given.
  bool IsWritten() const { return m_written; }

  // Marks the process of a row (and every row and entry of that name) blocked or allowed.
  void MarkProcess(int row, bool blocked);
  bool IsRowBlocked(int row) const;
  const std::vector<_FirewallProcessRecord>& Entries() const { return m_entries; }

 protected:
  void OnRclick(const ListNotify& notify, LRESULT* result) override;
  // A row's item data is its blocked mark (0 or 1), not a block of memory.
  void FreeRecord(void*) override {}

 private:
  _FirewallProcessRecord* EntryOf(const std::string& name);
  void AddRow(const TableEndpoint& endpoint, bool tcp, bool extended);
  void ListEndpoints();
  // Writes the entries when they are known; says so when the file could not be written.
  bool Save();

  std::string m_processFile;
  bool m_loaded = false;
  bool m_written = false;
  std::vector<_FirewallProcessRecord> m_entries;
  ConnectionTables m_tables;
};
