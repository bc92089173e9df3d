#pragma once
#include <memory>
#include <string>
#include <vector>

#include "wincap/DlgPelorinFind.h"

class DlgPelorinIpView;

// The packet pane's "Find": the packet log search whose result rows open a packet view on a
// double click. Each view reads the record through its own handle on the log, walks the result
// rows with "Next Packet" and "Previous Packet", and is destroyed when it asks to close or when
// the search window closes. The search may go on while views are open: rows are only ever added
// to the list on this window's thread, and a view reads a row's texts only when it shows it.
class DlgPelorinFindPkt : public DlgPelorinFind {
 public:
  // The first column of a row that names no logged record.
  static constexpr char kNoLog[] = "NoLog";

  explicit DlgPelorinFindPkt(Window* parent);
  DlgPelorinFindPkt(Window* parent, AppProfile* application, const std::string& logPath, LONG pageSize);
  ~DlgPelorinFindPkt() override;

  // Opens a packet view of the selected row, unless there is none or it reads "NoLog".
  void FindIpView();
  // Destroys a view this window opened (its close request, message 1025).
  void ListDlgClose(Window* window) override;
  // Destroys every open view.
  void ListDlgCloseAll();
  void OnClose() override;
  void OnCancel() override;  // "Done", and "Load From" as it ends the dialog

  // The row the views show: the list's selected row, else the one last clicked; -1 for none.
  int CurrentRow() const;
  // Moves the list's selection to row and scrolls it into view.
  void SelectRow(int row);
  AppProfile* GetApplication() const { return m_application; }
  const std::vector<std::unique_ptr<DlgPelorinIpView>>& Views() const { return m_views; }

 protected:
  void OnDblclkListPackets(const ListNotify& notify, LRESULT* result) override;

 private:
  AppProfile* m_application = nullptr;
  std::vector<std::unique_ptr<DlgPelorinIpView>> m_views;
};
