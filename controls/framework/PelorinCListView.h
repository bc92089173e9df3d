#pragma once
#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/WinTypes.h"
#include "platform/Handle.h"
#include "platform/Toolhelp.h"
#include "ui/Font.h"
#include "ui/IconImage.h"
#include "ui/ImageList.h"
#include "ui/ListControl.h"
#include "ui/MouseHook.h"

class PelorinCThread;

// The base of every monitor pane: a report list hosted in the main frame that owns the pane's
// worker thread, the records hung on its rows, a font, an image list of process icons and the
// mouse hook that tells it where the user clicked. It also turns a process id into a display
// name and an icon.
//
// Worker threads insert rows, set texts and item data and look up process names and icons on
// it directly; the list control's own lock keeps those calls apart.
class PelorinCListView : public ListControl {
 public:
  // List styles: the plain report list, and with single selection and ascending sort.
  static constexpr DWORD kListStyle = 0x406100C9;
  static constexpr DWORD kListStyleSorted = 0x406100DD;
  static constexpr int kDefaultIconResource = 2006;

  PelorinCListView();
  ~PelorinCListView() override;

  virtual ImageList* CreateImageList(LONG id);
  virtual void DestroyImageList();
  virtual void MouseLButtonDown(UINT hitTest, Point point);
  virtual void MouseRButtonDown(UINT hitTest, Point point);
  virtual void ProcessClose();
  virtual LONG ListCreate(Window* parent, UINT id, const Rect& rect, BOOL singleSelection);
  virtual LONG ListStart();
  virtual void ListStop();
  virtual void* GetItemData(int row);
  virtual void SetItemData(int row, void* data);
  virtual void FreeItemData(int row);
  virtual void FreeItemDataAll();
  virtual void SetItem(int row, int column, const char* text);
  virtual void ListDeleteAll();
  virtual LONG ListInsertColumn(int index, const ListColumn* column);
  virtual LONG ListDeleteColumn(int index);
  virtual void ListUnSelectAll(int keepRow);
  virtual void ListSelect(int row);
  virtual void ListUnselect(int row);
  virtual void ListDlgClose(Window* dialog);

  LONG ListSetText(int row, int column, const std::string& text);
  LONG ListCreateFont(int pointSize, const char* face);
  LONG ListSetFont();
  BOOL IsClose();
  void Show(BOOL show);
  void GetMouse();
  BOOL OnSubItemGetclick(const ListNotify& notify, LRESULT* result);
  LONG ImageExists(const std::string& name);
  LONG GetAppIcon(const std::string& name, int row, DWORD processId);
  IconImage GetFileIcon(DWORD processId);
  std::string ProcessGetName(DWORD processId, std::string* fullPath);
  BOOL ProcessGetModule(DWORD processId, LONG moduleId, MODULEENTRY32* entry, DWORD entrySize);
  static std::string ProcessNameFormat(std::string name);

  // A process snapshot held across name lookups (a scan pass takes one, then closes it), so
  // each lookup walks the held snapshot instead of taking its own.
  void ProcessSnapshotTake();
  void ProcessSnapshotClose();

  PelorinCThread* GetThread() const { return m_thread.get(); }
  Window* GetParentWindow() const { return m_parentWindow; }
  int GetColumnCount() const { return m_columnCount; }
  int GetFontSize() const { return m_fontSize; }
  int GetCurrentItem() const { return m_currentItem; }
  int GetCurrentColumn() const { return m_currentColumn; }
  Point GetClickPoint() const { return m_clickPoint; }
  Point GetMousePoint() const { return m_mousePoint.load(); }
  ImageList* GetIconList() const { return m_imageList.get(); }
  LONG GetDefaultIconIndex() const { return m_defaultIcon; }
  bool HasHook() const { return m_hook != 0; }
  static PelorinCListView* ActiveHookedView();

  // The row counter: rows inserted since the last clearing; new rows go to this index and take
  // it as their sequence number. Written by workers and the user-interface thread.
  int GetRowCounter() const { return m_rowCounter.load(); }
  void SetRowCounter(int value) { m_rowCounter.store(value); }
  int IncreaseRowCounter() { return m_rowCounter.fetch_add(1) + 1; }

  // The address columns, widened to hold the longest IPv6 text of the rows so far (IPv4-only
  // lists keep their widths; a user who narrows them keeps them so until a longer address comes).
  // Named on the user-interface thread once the columns are made, with the margin in px beyond
  // the text; WidenAddressColumns, with the length of a new IPv6 row's longest address text, may
  // be called from any thread.
  void SetAddressColumns(std::vector<int> columns, int margin);
  void WidenAddressColumns(std::size_t textLength);

 protected:
  // Frees one row record (CoTaskMemFree); a pane whose records own more overrides it.
  virtual void FreeRecord(void* record);
  void SetThread(std::unique_ptr<PelorinCThread> thread);
  std::unique_ptr<PelorinCThread> TakeThread();
  void SetCurrent(int item, int column) {
    m_currentItem = item;
    m_currentColumn = column;
  }

  void OnClick(const ListNotify& notify, LRESULT* result) override;
  void OnRclick(const ListNotify& notify, LRESULT* result) override;
  void OnColumnclick(const ListNotify& notify, LRESULT* result) override;
  void OnDblclk(const ListNotify& notify, LRESULT* result) override;
  void OnSetFocus(Window* oldWindow) override;
  void OnKillFocus(Window* newWindow) override;
  void OnContextMenu(Window* window, Point screenPoint) override;
  void OnItemchanged(const ListNotify& notify, LRESULT* result) override;
  void OnReturn(const ListNotify& notify, LRESULT* result) override;
  bool PreTranslateMessage(const WindowMessage& message) override;

 private:
  static void HookProc(const MouseHookEvent& event);

  std::mutex m_snapshotLock;  // the held process snapshot
  HANDLE m_snapshot = INVALID_HANDLE_VALUE;
  Window* m_parentWindow = nullptr;
  int m_columnCount = 0;
  Font m_font;
  int m_fontSize = 0;
  std::atomic<int> m_currentItem{-1};  // written by workers that clear the list too
  std::atomic<int> m_currentColumn{-1};
  std::atomic<int> m_rowCounter{0};
  std::vector<int> m_addressColumns;
  std::array<int, 46> m_addressWidths{};  // px for an address text of each length (INET6_ADDRSTRLEN)
  std::atomic<std::size_t> m_longestAddress{0};
  std::unique_ptr<PelorinCThread> m_thread;
  Point m_clickPoint;
  std::atomic<Point> m_mousePoint{Point{-1, -1}};
  HHOOK m_hook = 0;
  std::unique_ptr<ImageList> m_imageList;
  LONG m_imageListId = -1;
  LONG m_defaultIcon = -1;
  BOOL m_smallIcons = 1;
  std::mutex m_iconLock;  // icons by process name, so a name is looked up among the rows once
  std::map<std::string, LONG> m_iconByName;
};
