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
class CRamparoListView : public PelorinCListView {
 public:
  static constexpr UINT kMenuAllow = 32830;  // menu 140
  static constexpr UINT kMenuBlock = 32831;
  static constexpr int kColumnProcessName = 0;

  CRamparoListView();
  ~CRamparoListView() override;

  // Creates the list with its columns, font and icons in the parent's client area.
  bool CreateView(Window* parent, UINT id, const Rect& rect);
  // Loads the process file (read alone); false when it is missing or held by another.
  bool SetProcessFile(const std::string& path);
  // Lists the endpoints again, then rewrites the process file; false when it could not be written.
  bool Refresh();

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

  std::string m_processFile;
  std::vector<_FirewallProcessRecord> m_entries;
  ConnectionTables m_tables;
};
