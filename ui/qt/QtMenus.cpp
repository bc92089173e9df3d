#include "ui/qt/QtMenus.h"

#include "ui/Window.h"
#include "ui/qt/QtText.h"

void FillQMenu(QMenu* target, Menu& menu, HWND owner) {
  target->clear();
  for (int i = 0; i < menu.GetMenuItemCount(); ++i) {
    const Menu::Item& item = menu.Items()[static_cast<std::size_t>(i)];
    if (item.flags & MF_SEPARATOR) {
      target->addSeparator();
      continue;
    }
    if (!item.toolTip.empty()) target->setToolTipsVisible(true);
    if (item.popup) {
      QMenu* sub = target->addMenu(ToQLabel(item.text));
      sub->setEnabled((item.flags & (MF_GRAYED | MF_DISABLED)) == 0);
      sub->menuAction()->setToolTip(ToQString(item.toolTip));
      Menu* model = item.popup.get();
      // Sub-menus are filled as they open, after the owner's rules ran on them.
      QObject::connect(sub, &QMenu::aboutToShow, sub, [sub, model, owner] {
        if (Window* window = Window::FromHandle(owner)) model->UpdateItems(window);
        FillQMenu(sub, *model, owner);
      });
      continue;
    }
    QAction* action = target->addAction(ToQLabel(item.text));
    action->setData(QVariant::fromValue<uint>(item.id));
    action->setEnabled((item.flags & (MF_GRAYED | MF_DISABLED)) == 0);
    action->setToolTip(ToQString(item.toolTip));
    if (item.flags & MF_CHECKED) {
      action->setCheckable(true);
      action->setChecked(true);
    }
  }
}
