#include "ui/Button.h"

#include <algorithm>

bool Button::Create(const std::string& text, DWORD style, const Rect& rect, Window* parent, UINT id) {
  return CreateKind(WindowKind::Button, text, style, rect, parent, id);
}

int Button::GetCheck() const {
  std::lock_guard<std::mutex> lock(StateLock());
  return m_check;
}

void Button::SetCheck(int check) {
  {
    std::lock_guard<std::mutex> lock(StateLock());
    if (m_check == check) return;
    m_check = check;
  }
  Changed(kChangeStyle);
}

void Button::UncheckGroupSiblings() {
  Window* parent = GetParent();
  if (parent == nullptr) return;
  const std::vector<Window*> siblings = parent->Children();
  auto self = std::find(siblings.begin(), siblings.end(), this);
  if (self == siblings.end()) return;
  auto first = self;
  while (first != siblings.begin() && ((*first)->GetStyle() & WS_GROUP) == 0) --first;
  for (auto it = first; it != siblings.end(); ++it) {
    if (it != first && ((*it)->GetStyle() & WS_GROUP) != 0) break;
    auto* radio = dynamic_cast<Button*>(*it);
    if (radio != nullptr && radio != this && radio->IsRadioButton()) radio->SetCheck(BST_UNCHECKED);
  }
}

bool Button::Click() {
  if (!IsWindowVisible() || !IsWindowEnabled()) return false;
  if (IsCheckBox()) SetCheck(GetCheck() == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
  if (IsRadioButton()) {
    SetCheck(BST_CHECKED);
    UncheckGroupSiblings();
  }
  NotifyParentCommand(BN_CLICKED);
  return true;
}
