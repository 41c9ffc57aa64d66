#include "ui/menubutton.h"

#include "platform/dialog/popupmenu.h"

UINT CNvMenuButton::ShowMenu(UINT menu_id) {
  CMenu menu;
  if (!menu.LoadMenu(menu_id)) return 0;
  CMenu* popup = menu.GetSubMenu(0);
  if (popup == nullptr) return 0;
  RECT rect{};
  GetWindowRect(&rect);
  const UINT command = static_cast<UINT>(
      popup->TrackPopupMenu(TPM_RETURNCMD | TPM_NONOTIFY, rect.left, rect.bottom, this));
  menu.DestroyMenu();
  return command;
}
