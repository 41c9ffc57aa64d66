// CNvMenuButton: a push button with a drop-down arrow that opens a popup menu below itself.
//
// The dialog that owns the button calls ShowMenu from the button's click handler and acts on
// the command it returns. Drawing (the owner-drawn face and arrow) belongs to a desktop front
// end; the console shows the button as a "menubutton" and the menu as a list to choose from.
#pragma once

#include "platform/dialog/afxwin.h"

class CNvMenuButton : public CButton {
 public:
  /// Loads menu `menu_id` from the current resource module, shows its first submenu at the
  /// button's bottom-left corner (TPM_RETURNCMD | TPM_NONOTIFY) and returns the command chosen;
  /// 0 when the menu is dismissed, missing, or has no submenu. The menu is destroyed again.
  UINT ShowMenu(UINT menu_id);
};
