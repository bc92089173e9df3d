#include "controls/framework/PelorinCListView.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/Messages.h"
#include "common/ResultCodes.h"
#include "controls/framework/PelorinCThread.h"
#include "platform/TaskAllocator.h"
#include "ui/UiServices.h"

namespace {

// The one hooked view of the process: the focused pane.
std::atomic<PelorinCListView*> g_activeView{nullptr};
std::atomic<HHOOK> g_hook{0};

constexpr DWORD kCloseWaitMs = 10000;

}  // namespace

PelorinCListView::PelorinCListView() = default;

PelorinCListView::~PelorinCListView() {
  ProcessSnapshotClose();
  ProcessClose();
  DestroyImageList();
  DestroyWindow();
}

PelorinCListView* PelorinCListView::ActiveHookedView() { return g_activeView.load(); }

// --- image list and icons ---

ImageList* PelorinCListView::CreateImageList(LONG id) {
  DestroyImageList();
  auto images = std::make_unique<ImageList>();
  if (id < 0) {
    m_imageList = std::move(images);
    return m_imageList.get();
  }
  const bool created = m_smallIcons ? images->Create(18, 16, ILC_MASK, 1, 1) : images->Create(24, 24, ILC_MASK, 1, 1);
  if (!created) return nullptr;
  m_imageListId = id;
  // The default process icon, used for processes whose program shows no icon of its own.
  m_defaultIcon = images->Add(IconImage::Theme("application-x-executable"));
  m_imageList = std::move(images);
  SetImageList(m_imageList.get(), LVSIL_SMALL);
  return m_imageList.get();
}

void PelorinCListView::DestroyImageList() {
  if (m_imageList && ListControl::GetImageList(LVSIL_SMALL) == m_imageList.get()) SetImageList(nullptr, LVSIL_SMALL);
  m_imageList.reset();
  m_imageListId = -1;
  m_defaultIcon = -1;
  std::lock_guard<std::mutex> lock(m_iconLock);
  m_iconByName.clear();
}

LONG PelorinCListView::ImageExists(const std::string& name) {
  // The image of the first row whose first-column text equals the name, case-blind.
  const std::string wanted = ProcessNameFormat(name.substr(0, 259));
  const int count = GetItemCount();
  for (int row = 0; row < count; ++row) {
    std::string text = GetItemText(row, 0);
    if (text.size() > 259) text.resize(259);
    if (ProcessNameFormat(text) == wanted) {
      const int image = GetItemImage(row);
      if (image >= 0) return image;
    }
  }
  return -1;
}

LONG PelorinCListView::GetAppIcon(const std::string& name, int, DWORD processId) {
  if (!m_imageList || !m_imageList->IsCreated()) return -1;
  // Processes of one program share one image; the map spares a walk over every row per lookup.
  const std::string key = ProcessNameFormat(name);
  {
    std::lock_guard<std::mutex> lock(m_iconLock);
    if (auto it = m_iconByName.find(key); it != m_iconByName.end()) return it->second;
  }
  LONG image = ImageExists(name);
  if (image < 0) {
    const IconImage icon = GetFileIcon(processId);
    image = icon.IsNull() ? -1 : m_imageList->Add(icon);
    if (image < 0) return m_defaultIcon;
  }
  std::lock_guard<std::mutex> lock(m_iconLock);
  m_iconByName.emplace(key, image);
  return image;
}

IconImage PelorinCListView::GetFileIcon(DWORD processId) {
  std::string path;
  ProcessGetName(processId, &path);
  if (path.empty()) return IconImage{};
  return UiServices::Current().ProgramIcon(path);
}

// --- process names ---

void PelorinCListView::ProcessSnapshotTake() {
  std::lock_guard<std::mutex> lock(m_snapshotLock);
  if (m_snapshot == INVALID_HANDLE_VALUE) m_snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
}

void PelorinCListView::ProcessSnapshotClose() {
  std::lock_guard<std::mutex> lock(m_snapshotLock);
  if (m_snapshot != INVALID_HANDLE_VALUE) CloseHandle(m_snapshot);
  m_snapshot = INVALID_HANDLE_VALUE;
}

std::string PelorinCListView::ProcessGetName(DWORD processId, std::string* fullPath) {
  std::lock_guard<std::mutex> lock(m_snapshotLock);
  bool owned = false;
  if (m_snapshot == INVALID_HANDLE_VALUE) {
    m_snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    owned = true;
  }
  std::string name;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  if (m_snapshot != INVALID_HANDLE_VALUE && Process32First(m_snapshot, &entry)) {
    do {
      if (entry.th32ProcessID != processId) continue;
      MODULEENTRY32 module{};
      const BOOL hasModule = ProcessGetModule(processId, -1, &module, sizeof module);
      const std::string exe(entry.szExeFile, strnlen(entry.szExeFile, sizeof entry.szExeFile));
      if (fullPath)
        *fullPath = hasModule ? std::string(module.szExePath, strnlen(module.szExePath, sizeof module.szExePath)) : exe;
      const std::size_t slash = exe.rfind('/');
      if (slash != std::string::npos)
        name = exe.substr(slash + 1);
      else
        name = hasModule ? std::string(module.szModule, strnlen(module.szModule, sizeof module.szModule)) : exe;
      break;
    } while (Process32Next(m_snapshot, &entry));
  }
  if (owned) {
    if (m_snapshot != INVALID_HANDLE_VALUE) CloseHandle(m_snapshot);
    m_snapshot = INVALID_HANDLE_VALUE;
  }
  return ProcessNameFormat(name);
}

BOOL PelorinCListView::ProcessGetModule(DWORD processId, LONG, MODULEENTRY32* entry, DWORD entrySize) {
  if (!entry) return 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  MODULEENTRY32 first{};
  first.dwSize = sizeof first;
  const BOOL found = Module32First(snapshot, &first);
  CloseHandle(snapshot);
  if (!found) return 0;
  std::memcpy(entry, &first, std::min<std::size_t>(entrySize, sizeof first));
  return 1;
}

std::string PelorinCListView::ProcessNameFormat(std::string name) {
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  if (!name.empty() && name[0] >= 'a' && name[0] <= 'z') name[0] = static_cast<char>(name[0] - 'a' + 'A');
  return name;
}

// --- creation, rows, columns ---

LONG PelorinCListView::ListCreate(Window* parent, UINT id, const Rect& rect, BOOL singleSelection) {
  const DWORD style = kListStyle | (singleSelection ? LVS_SINGLESEL : 0);
  if (!Create(style, rect, parent, id)) return E_FAIL;
  SetExtendedStyle(LVS_EX_FULLROWSELECT);
  m_parentWindow = parent;
  return S_OK;
}

LONG PelorinCListView::ListStart() { return 0; }
void PelorinCListView::ListStop() {}

void* PelorinCListView::GetItemData(int row) { return reinterpret_cast<void*>(ListControl::GetItemData(row)); }

void PelorinCListView::SetItemData(int row, void* data) {
  ListControl::SetItemData(row, reinterpret_cast<DWORD_PTR>(data));
}

void PelorinCListView::FreeRecord(void* record) { CoTaskMemFree(record); }

void PelorinCListView::FreeItemData(int row) {
  void* data = GetItemData(row);
  if (!data) return;
  SetItemData(row, nullptr);
  FreeRecord(data);
}

void PelorinCListView::FreeItemDataAll() {
  if (!IsCreated()) return;
  const int count = GetItemCount();
  for (int row = 0; row < count; ++row) FreeItemData(row);
}

void PelorinCListView::SetItem(int row, int column, const char* text) {
  if (text) SetItemText(row, column, text);
}

LONG PelorinCListView::ListSetText(int row, int column, const std::string& text) {
  SetItemText(row, column, text);
  return 0;
}

void PelorinCListView::ListDeleteAll() {
  // Rows and their records go in one step, so a row a worker adds meanwhile keeps its record
  // until it is deleted in turn.
  std::vector<DWORD_PTR> records;
  if (IsCreated()) DeleteAllItems(&records);
  for (DWORD_PTR record : records) FreeRecord(reinterpret_cast<void*>(record));
  SetRowCounter(0);
  SetCurrent(-1, -1);
}

LONG PelorinCListView::ListInsertColumn(int index, const ListColumn* column) {
  if (!column || index < 0) return E_UNEXPECTED;
  if (InsertColumn(index, *column) >= 0) ++m_columnCount;
  return 0;
}

LONG PelorinCListView::ListDeleteColumn(int index) {
  if (index < 0) return E_UNEXPECTED;
  if (DeleteColumn(index) && m_columnCount > 0) --m_columnCount;
  return 0;
}

void PelorinCListView::ListSelect(int row) {
  if (row >= 0) SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
}

void PelorinCListView::ListUnselect(int row) {
  if (row >= 0) SetItemState(row, 0, LVIS_SELECTED);
}

void PelorinCListView::ListUnSelectAll(int keepRow) {
  for (int row = GetNextItem(-1, LVNI_SELECTED); row >= 0; row = GetNextItem(row, LVNI_SELECTED))
    if (row != keepRow) ListUnselect(row);
  SetCurrent(-1, -1);
}

void PelorinCListView::ListDlgClose(Window*) {}

LONG PelorinCListView::ListCreateFont(int pointSize, const char* face) {
  m_font.DeleteObject();
  m_fontSize = 0;
  if (!face) return 0;
  if (m_font.CreatePointFont(pointSize * 10, face)) m_fontSize = pointSize;
  return 0;
}

LONG PelorinCListView::ListSetFont() {
  if (m_font.IsNull()) return E_UNEXPECTED;
  SetFont(m_font, true);
  return 0;
}

BOOL PelorinCListView::IsClose() { return m_thread ? m_thread->IsClose() : 1; }

// --- thread ---

void PelorinCListView::SetThread(std::unique_ptr<PelorinCThread> thread) { m_thread = std::move(thread); }

std::unique_ptr<PelorinCThread> PelorinCListView::TakeThread() { return std::move(m_thread); }

void PelorinCListView::ProcessClose() {
  Show(0);
  if (m_thread) {
    m_thread->SetClose();
    m_thread->SetStop(1);
    // Up to ten seconds for the worker to finish its pass: over as soon as it runs no handler.
    m_thread->WaitForQuiet(kCloseWaitMs);
    m_thread->Stop();
    m_thread.reset();  // ends the platform thread
  }
  ListDeleteAll();
}

// --- mouse hook and notifications ---

void PelorinCListView::Show(BOOL show) {
  if (show && !m_hook) {
    PelorinCListView* previous = g_activeView.exchange(this);
    if (previous && previous != this && previous->m_hook) {
      MouseHook::Remove(previous->m_hook);
      previous->m_hook = 0;
    }
    m_hook = MouseHook::Install(&PelorinCListView::HookProc);
    g_hook.store(m_hook);
  } else if (!show && m_hook) {
    MouseHook::Remove(m_hook);
    m_hook = 0;
    PelorinCListView* self = this;
    g_activeView.compare_exchange_strong(self, nullptr);
    g_hook.store(0);
  }
}

void PelorinCListView::HookProc(const MouseHookEvent& event) {
  PelorinCListView* view = g_activeView.load();
  if (!view) return;
  view->m_mousePoint.store(event.pt);
  if (event.message == WM_LBUTTONDOWN || event.message == WM_NCLBUTTONDOWN)
    view->MouseLButtonDown(static_cast<UINT>(event.hitTest), event.pt);
  else if (event.message == WM_RBUTTONDOWN || event.message == WM_NCRBUTTONDOWN)
    view->MouseRButtonDown(static_cast<UINT>(event.hitTest), event.pt);
}

void PelorinCListView::MouseLButtonDown(UINT, Point) {}
void PelorinCListView::MouseRButtonDown(UINT, Point) {}

void PelorinCListView::GetMouse() { m_clickPoint = m_mousePoint.load(); }

BOOL PelorinCListView::OnSubItemGetclick(const ListNotify&, LRESULT*) {
  const Rect window = GetWindowRect();
  const Point mouse = m_mousePoint.load();
  ListHitTest hit;
  hit.pt = Point{mouse.x - window.left, mouse.y - window.top};
  SubItemHitTest(&hit);
  m_currentColumn = hit.iSubItem;
  return 0;
}

void PelorinCListView::OnClick(const ListNotify& notify, LRESULT* result) {
  GetMouse();
  SetCurrent(notify.iItem, notify.iSubItem);
  SetFocus();
  if (result) *result = 0;
}

void PelorinCListView::OnDblclk(const ListNotify& notify, LRESULT* result) {
  GetMouse();
  SetCurrent(notify.iItem, notify.iSubItem);
  if (result) *result = 0;
}

void PelorinCListView::OnRclick(const ListNotify& notify, LRESULT* result) {
  if (!HasFocus()) Show(1);
  GetMouse();
  SetCurrent(notify.iItem, notify.iSubItem);
  if (result) *result = 0;
}

void PelorinCListView::OnItemchanged(const ListNotify& notify, LRESULT* result) {
  SetCurrent(notify.iItem, notify.iSubItem);
  if (result) *result = 0;
}

void PelorinCListView::OnColumnclick(const ListNotify&, LRESULT* result) {
  if (result) *result = 0;
}

void PelorinCListView::OnReturn(const ListNotify&, LRESULT* result) {
  if (result) *result = 0;
}

void PelorinCListView::OnSetFocus(Window* oldWindow) {
  ListControl::OnSetFocus(oldWindow);
  Show(1);
}

void PelorinCListView::OnKillFocus(Window* newWindow) {
  Show(0);
  ListControl::OnKillFocus(newWindow);
}

void PelorinCListView::OnContextMenu(Window* window, Point screenPoint) {
  // The point goes in wParam and the list's own handle in lParam: the frame reads them so.
  if (m_parentWindow)
    m_parentWindow->SendMessage(WM_CONTEXTMENU, static_cast<WPARAM>(MAKELPARAM(screenPoint.x, screenPoint.y)),
                                static_cast<LPARAM>(GetSafeHwnd()));
  ListControl::OnContextMenu(window, screenPoint);
}

bool PelorinCListView::PreTranslateMessage(const WindowMessage& message) {
  if (message.message == WM_PELORIN_CLOSE_WINDOW) {
    ListDlgClose(Window::FromHandle(static_cast<HWND>(message.lParam)));
    return true;
  }
  if (message.message == WM_PELORIN_STOP_ACK && message.wParam == 1) {
    if (m_thread && m_thread->IsStop()) m_thread->Stop();
    return true;
  }
  return ListControl::PreTranslateMessage(message);
}

void PelorinCListView::SetAddressColumns(std::vector<int> columns, int margin) {
  m_addressColumns = std::move(columns);
  // Measured here, on the user-interface thread, for the workers that widen. A digit is as wide
  // as the widest character of an address text.
  for (std::size_t length = 0; length < m_addressWidths.size(); ++length)
    m_addressWidths[length] = GetStringWidth(std::string(length, '0')) + margin;
}

void PelorinCListView::WidenAddressColumns(std::size_t textLength) {
  textLength = std::min(textLength, m_addressWidths.size() - 1);
  // Read first: every IPv6 row asks, and only a text longer than any before widens.
  std::size_t longest = m_longestAddress.load(std::memory_order_relaxed);
  do {
    if (textLength <= longest) return;
  } while (!m_longestAddress.compare_exchange_weak(longest, textLength));
  const int width = m_addressWidths[textLength];
  for (int column : m_addressColumns)
    if (GetColumnWidth(column) < width) SetColumnWidth(column, width);
}
