#include "ui/Dialog.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "ui/Button.h"
#include "ui/ComboBox.h"
#include "ui/Edit.h"
#include "ui/GroupBox.h"
#include "ui/IpAddressControl.h"
#include "ui/ListBox.h"
#include "ui/ListControl.h"
#include "ui/ProgressBar.h"
#include "ui/RichEdit.h"
#include "ui/StaticText.h"
#include "ui/UiPump.h"
#include "ui/UiServices.h"

namespace {
// A modal dialog run by hand (no toolkit loop) waits at most this long for someone to end it.
constexpr DWORD kHeadlessModalLimit = 10000;  // ms
// What the desktop adds around a dialog's client area.
constexpr int kTitleBar = 32;  // pixels
constexpr int kBorder = 8;     // pixels
// The smallest font a large template is shrunk to, in tenths of a point.
constexpr int kSmallestFontTenths = 50;
// The height of a one-line edit in dialog units, which a closed combo box shares.
constexpr int kEditHeight = 12;
}  // namespace

Dialog::Dialog(DialogTemplate dialogTemplate, Window* parent) : m_template(std::move(dialogTemplate)), m_parentWindow(parent) {}

Dialog::~Dialog() { DestroyWindow(); }

Size Dialog::GetDialogBaseUnits() const {
  return UiServices::Current().DialogBaseUnits(Font(m_template.fontFace, FontTenths()));
}

Rect Dialog::MapDialogRect(const Rect& units) const {
  const Size base = GetDialogBaseUnits();
  auto x = [&](int v) { return (v * base.cx + 2) / 4; };
  auto y = [&](int v) { return (v * base.cy + 4) / 8; };
  return Rect{x(units.left), y(units.top), x(units.right), y(units.bottom)};
}

std::unique_ptr<Window> Dialog::CreateControl(const DialogItem& item) {
  const Rect rect = MapDialogRect(Rect{item.x, item.y, item.x + item.cx, item.y + item.cy});
  switch (item.kind) {
    case WindowKind::Static: {
      auto control = std::make_unique<StaticText>();
      return control->Create(item.text, item.style, rect, this, item.id) ? std::move(control) : nullptr;
    }
    case WindowKind::GroupBox: {
      auto control = std::make_unique<GroupBox>();
      return control->Create(item.text, item.style, rect, this, item.id) ? std::move(control) : nullptr;
    }
    case WindowKind::Edit: {
      auto control = std::make_unique<Edit>();
      if (!control->Create(item.style, rect, this, item.id)) return nullptr;
      control->Window::SetWindowText(item.text);
      return control;
    }
    case WindowKind::Button: {
      auto control = std::make_unique<Button>();
      return control->Create(item.text, item.style, rect, this, item.id) ? std::move(control) : nullptr;
    }
    case WindowKind::ComboBox: {
      // The template's height includes the dropped list; the box itself is an edit's height.
      Rect closed = rect;
      closed.bottom = std::min(rect.bottom, rect.top + MapDialogRect(Rect{0, 0, 0, kEditHeight}).bottom);
      auto control = std::make_unique<ComboBox>();
      return control->Create(item.style, closed, this, item.id, rect.Height()) ? std::move(control) : nullptr;
    }
    case WindowKind::ListBox: {
      auto control = std::make_unique<ListBox>();
      return control->Create(item.style, rect, this, item.id) ? std::move(control) : nullptr;
    }
    case WindowKind::IpAddress: {
      auto control = std::make_unique<IpAddressControl>();
      return control->Create(item.style, rect, this, item.id) ? std::move(control) : nullptr;
    }
    case WindowKind::ListControl: {
      auto control = std::make_unique<ListControl>();
      return control->Create(item.style, rect, this, item.id) ? std::move(control) : nullptr;
    }
    case WindowKind::Progress: {
      auto control = std::make_unique<ProgressBar>();
      return control->Create(item.style, rect, this, item.id) ? std::move(control) : nullptr;
    }
    case WindowKind::RichEdit: {
      auto control = std::make_unique<RichEdit>();
      return control->Create(item.style, rect, this, item.id) ? std::move(control) : nullptr;
    }
    default: {
      auto control = std::make_unique<Window>();
      return control->Create(item.text, item.style, rect, this, item.id) ? std::move(control) : nullptr;
    }
  }
}

bool Dialog::CreateFromTemplate(Window* parent) {
  if (parent != nullptr) m_parentWindow = parent;
  const Rect work = UiServices::Current().WorkArea();
  FitFont(work);
  const Rect size = MapDialogRect(Rect{0, 0, m_template.cx, m_template.cy});
  // Centred on the owner, or on the screen, and kept on the screen with its title bar.
  Rect around = work;
  if (m_parentWindow != nullptr && m_parentWindow->IsCreated()) around = m_parentWindow->GetWindowRect();
  const auto keep = [](int at, int low, int high) { return std::max(low, std::min(at, high)); };
  const int left = keep(around.left + (around.Width() - size.Width()) / 2, work.left + kBorder, work.right - size.Width() - kBorder);
  const int top = keep(around.top + (around.Height() - size.Height()) / 2, work.top + kTitleBar, work.bottom - size.Height() - kBorder);
  // The owner is known before the window is drawn: a window opened from a modal one must be
  // drawn as its child to take input while that one runs.
  SetOwner(m_parentWindow);
  if (!CreateKind(WindowKind::Dialog, m_template.caption, 0, Rect{left, top, left + size.Width(), top + size.Height()}, nullptr, 0)) {
    return false;
  }
  Window::SetFont(Font(m_template.fontFace, FontTenths()));
  for (const DialogItem& item : m_template.items) {
    std::unique_ptr<Window> control = CreateControl(item);
    if (control) {
      if (item.kind != WindowKind::Dialog) control->SetFont(GetFont());
      Adopt(std::move(control));
    }
  }
  return true;
}

void Dialog::FitFont(const Rect& work) {
  m_fontTenths = 0;
  for (int tenths = FontTenths(); tenths >= kSmallestFontTenths; tenths -= 5) {
    m_fontTenths = tenths;
    const Rect size = MapDialogRect(Rect{0, 0, m_template.cx, m_template.cy});
    if (size.Width() + 2 * kBorder <= work.Width() && size.Height() + kTitleBar + kBorder <= work.Height()) return;
  }
}

void Dialog::OnSize(UINT, int cx, int cy) { m_layout.Apply(cx, cy); }

int Dialog::DoModal() {
  m_modal = true;
  m_ended.store(false);
  m_result.store(0);
  if (!CreateFromTemplate(m_parentWindow)) return -1;
  const HWND self = GetSafeHwnd();
  const bool focusFirst = OnInitDialog();
  m_layout.Capture(*this);
  if (focusFirst) {
    for (Window* child : Children()) {
      if ((child->GetStyle() & WS_TABSTOP) && child->IsShown() && child->IsWindowEnabled()) {
        GotoDlgCtrl(child);
        break;
      }
    }
  }
  if (!m_ended.load() && IsWindow(self)) {
    ShowWindow(SW_SHOW);
    UiServices::Current().ModalStarted(*this);
    UiPump::Instance().RunModalLoop([this, self] { return m_ended.load() || !IsWindow(self); }, kHeadlessModalLimit);
  }
  if (!m_ended.load()) m_result.store(IDCANCEL);
  const int result = m_result.load();
  DestroyWindow();
  m_modal = false;
  return result;
}

bool Dialog::CreateModeless(Window* parent) {
  m_modal = false;
  m_ended.store(false);
  if (!CreateFromTemplate(parent)) return false;
  const HWND self = GetSafeHwnd();
  OnInitDialog();
  m_layout.Capture(*this);
  if (m_template.visible && IsWindow(self) && !m_ended.load()) ShowWindow(SW_SHOW);
  return IsWindow(self);
}

void Dialog::EndDialog(int result) {
  m_result.store(result);
  m_ended.store(true);
  if (!m_modal && IsCreated()) ShowWindow(SW_HIDE);
  UiPump::Instance().Wake();
}

bool Dialog::OnCommand(UINT id, UINT code, HWND control) {
  if (Window::OnCommand(id, code, control)) return true;
  if (code != BN_CLICKED) return false;
  if (id == IDOK) {
    OnOK();
    return true;
  }
  if (id == IDCANCEL) {
    OnCancel();
    return true;
  }
  return false;
}

void Dialog::SetDlgItemText(int id, const std::string& text) {
  if (Window* control = GetDlgItem(id)) control->SetWindowText(text);
}

std::string Dialog::GetDlgItemText(int id) const {
  Window* control = GetDlgItem(id);
  return control != nullptr ? control->GetWindowText() : std::string();
}

void Dialog::SetDlgItemInt(int id, int value, bool isSigned) {
  SetDlgItemText(id, isSigned ? std::to_string(value) : std::to_string(static_cast<unsigned>(value)));
}

int Dialog::GetDlgItemInt(int id, bool* translated, bool isSigned) const {
  const std::string text = GetDlgItemText(id);
  std::size_t pos = 0;
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
  bool negative = false;
  if (isSigned && pos < text.size() && text[pos] == '-') {
    negative = true;
    ++pos;
  }
  long long value = 0;
  const std::size_t first = pos;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    value = value * 10 + (text[pos] - '0');
    if (value > static_cast<long long>(UINT_MAX)) break;
    ++pos;
  }
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
  const bool ok = pos > first && pos == text.size() && (isSigned ? value <= INT_MAX : value <= UINT_MAX);
  if (translated != nullptr) *translated = ok;
  if (!ok) return 0;
  return static_cast<int>(negative ? -value : value);
}

void Dialog::CheckDlgButton(int id, int check) {
  if (auto* button = GetDlgItemAs<Button>(id)) button->SetCheck(check);
}

int Dialog::IsDlgButtonChecked(int id) const {
  auto* button = GetDlgItemAs<Button>(id);
  return button != nullptr ? button->GetCheck() : BST_UNCHECKED;
}

void Dialog::CheckRadioButton(int firstId, int lastId, int checkId) {
  for (int id = firstId; id <= lastId; ++id) CheckDlgButton(id, id == checkId ? BST_CHECKED : BST_UNCHECKED);
}

int Dialog::GetCheckedRadioButton(int firstId, int lastId) const {
  for (int id = firstId; id <= lastId; ++id) {
    if (IsDlgButtonChecked(id) == BST_CHECKED) return id;
  }
  return 0;
}

void Dialog::GotoDlgCtrl(Window* control) {
  if (control == nullptr) return;
  control->SetFocus();
  if (auto* edit = dynamic_cast<Edit*>(control)) edit->SetSel(0, -1);
}

UINT Dialog::GetDefID() const {
  if (m_defId != 0) return m_defId;
  for (Window* child : Children()) {
    auto* button = dynamic_cast<Button*>(child);
    if (button != nullptr && button->IsDefaultButton()) return static_cast<UINT>(button->GetDlgCtrlID());
  }
  return IDOK;
}

bool Dialog::DlgDirList(const std::string& folder, int listBoxId, int pathLabelId) {
  auto* list = GetDlgItemAs<ListBox>(listBoxId);
  if (list == nullptr) return false;
  list->ResetContent();
  const std::string path = list->Dir(folder);
  if (path.empty()) return false;
  if (pathLabelId != 0) SetDlgItemText(pathLabelId, path);
  return true;
}

bool Dialog::TypeInto(int id, const std::string& text) {
  Window* control = GetDlgItem(id);
  if (control == nullptr || !control->IsWindowVisible() || !control->IsWindowEnabled()) return false;
  control->SetFocus();
  if (auto* edit = dynamic_cast<Edit*>(control)) return edit->TypeText(text);
  if (auto* address = dynamic_cast<IpAddressControl*>(control)) return address->TypeText(text);
  if (auto* combo = dynamic_cast<ComboBox*>(control)) return combo->TypeText(text);
  return false;
}

bool Dialog::ClickButton(int id) {
  auto* button = GetDlgItemAs<Button>(id);
  return button != nullptr && button->Click();
}

bool Dialog::SelectListItem(int id, int index) {
  Window* control = GetDlgItem(id);
  if (control == nullptr || !control->IsWindowVisible() || !control->IsWindowEnabled()) return false;
  if (auto* list = dynamic_cast<ListBox*>(control)) return list->SelectItem(index);
  if (auto* combo = dynamic_cast<ComboBox*>(control)) return combo->SelectItem(index);
  if (auto* report = dynamic_cast<ListControl*>(control)) {
    if (index < 0 || index >= report->GetItemCount()) return false;
    report->UserClick(index, 0);
    return true;
  }
  return false;
}

bool Dialog::DoubleClickListItem(int id, int index) {
  Window* control = GetDlgItem(id);
  if (control == nullptr || !control->IsWindowVisible() || !control->IsWindowEnabled()) return false;
  if (auto* list = dynamic_cast<ListBox*>(control)) return list->DoubleClickItem(index);
  if (auto* report = dynamic_cast<ListControl*>(control)) {
    if (index < 0 || index >= report->GetItemCount()) return false;
    report->UserClick(index, 0);
    report->UserDoubleClick(index, 0);
    return true;
  }
  return false;
}

bool Dialog::PressEnter() {
  const UINT id = GetDefID();
  if (auto* button = GetDlgItemAs<Button>(static_cast<int>(id))) return button->Click();
  SendMessage(WM_COMMAND, static_cast<WPARAM>(id), 0);
  return true;
}

bool Dialog::PressEscape() {
  if (auto* button = GetDlgItemAs<Button>(IDCANCEL)) {
    if (!button->IsWindowEnabled()) return false;
  }
  SendMessage(WM_COMMAND, static_cast<WPARAM>(IDCANCEL), 0);
  return true;
}

bool Dialog::PressHelp() { return SendMessage(WM_HELP) != 0; }
