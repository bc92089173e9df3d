#include "ui/Splitter.h"

void Splitter::UserDrag(int top) {
  if (!IsWindowVisible()) return;
  m_dragTop = top;
  NotifyParentCommand(kMoved);
}
