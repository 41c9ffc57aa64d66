#include "ui/dlgselnames.h"

#include "drawing/blocknames.h"
#include "drawing/blockrefs.h"
#include "platform/dialog/popupmenu.h"
#include "ui/cstr.h"

namespace {

constexpr wchar_t kListTip[] = L"Press right mouse button for more options.";

}  // namespace

CDlgSelNames::CDlgSelNames(CWnd* parent, const BlockNameMap* map)
    : CAcUiDialog(IDD, parent), map_(map), filter_(this) {
  MapNotify(kNameList, NM_RCLICK, [this](NMHDR*, LRESULT*) { OnNameListRightClick(); });
  MapCommand(kSelectAll, [this] { OnSelectAll(); });
  MapCommand(kInvertSelection, [this] { OnInvertSelection(); });
  MapCommand(kClearSelection, [this] { OnClearSelection(); });
  MapCommand(kAllButFocused, [this] { OnAllButFocused(); });
  MapCommand(kShowAll, [this] { OnShowAll(); });
  MapCommand(kShowWithAttributes, [this] { OnShowWithAttributes(); });
  MapCommand(kFilter, [this] { OnFilter(); });
}

void CDlgSelNames::DoDataExchange(CDataExchange* dx) {
  CAcUiDialog::DoDataExchange(dx);
  DDX_Control(dx, kNameList, name_list_);
}

BOOL CDlgSelNames::OnInitDialog() {
  CAcUiDialog::OnInitDialog();
  name_list_.InsertColumn(0, L"Block name", LVCFMT_LEFT);
  name_list_.SetExtendedStyle(LVS_EX_FULLROWSELECT);
  RECT client{};
  name_list_.GetClientRect(&client);
  name_list_.SetColumnWidth(0, client.right - client.left);

  if (map_ != nullptr) {
    for (const BlockNameMap::Entry& entry : *map_) {
      if (entry.has_attributes) AppendRow(entry.name, true);
    }
  }

  tooltip_.Create(this);
  tooltip_.Activate(TRUE);
  tooltip_.AddTool(&name_list_, kListTip);

  Invalidate();
  GotoDlgCtrl(&name_list_);
  filter_.SetSelectionField(SelectedBlockRefs.isEmpty() ? 0 : 1);
  return TRUE;
}

void CDlgSelNames::AppendRow(const std::wstring& name, bool selected) {
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_STATE;
  item.iItem = name_list_.GetItemCount();
  item.state = selected ? LVIS_SELECTED : 0;
  item.stateMask = LVIS_SELECTED;
  item.pszText = const_cast<LPWSTR>(name.c_str());
  name_list_.InsertItem(&item);
}

void CDlgSelNames::OnNameListRightClick() {
  CMenu menu;
  if (!menu.LoadMenu(kContextMenu)) return;
  CMenu* popup = menu.GetSubMenu(0);
  if (popup == nullptr) return;
  popup->CheckMenuItem(kShowAll, MF_BYCOMMAND | (show_all_ ? MF_CHECKED : MF_UNCHECKED));
  popup->CheckMenuItem(kShowWithAttributes, MF_BYCOMMAND | (show_all_ ? MF_UNCHECKED : MF_CHECKED));
  const bool filtering = filter_.LayerFilterField() != 0 || filter_.NameFilterField() != 0 ||
                         filter_.SelectionField() != 0;
  popup->CheckMenuItem(kFilter, MF_BYCOMMAND | (filtering ? MF_CHECKED : MF_UNCHECKED));
  POINT cursor{};
  GetCursorPos(&cursor);
  popup->TrackPopupMenu(0, cursor.x, cursor.y, this);
}

void CDlgSelNames::OnSelectAll() {
  name_list_.SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED);
  GotoDlgCtrl(&name_list_);
}

void CDlgSelNames::OnInvertSelection() {
  const int rows = name_list_.GetItemCount();
  for (int row = 0; row < rows; ++row) {
    const bool selected = (name_list_.GetItemState(row, LVIS_SELECTED) & LVIS_SELECTED) != 0;
    name_list_.SetItemState(row, selected ? 0 : LVIS_SELECTED, LVIS_SELECTED);
  }
}

void CDlgSelNames::OnClearSelection() {
  name_list_.SetItemState(-1, 0, LVIS_SELECTED);
}

void CDlgSelNames::OnAllButFocused() {
  const int rows = name_list_.GetItemCount();
  for (int row = 0; row < rows; ++row) {
    const bool focused = (name_list_.GetItemState(row, LVIS_FOCUSED) & LVIS_FOCUSED) != 0;
    name_list_.SetItemState(row, focused ? 0 : LVIS_SELECTED, LVIS_SELECTED);
  }
}

void CDlgSelNames::OnShowAll() {
  if (show_all_) return;
  if (map_ != nullptr) {
    for (const BlockNameMap::Entry& entry : *map_) {
      LVFINDINFOW find{};
      find.flags = LVFI_STRING;
      find.psz = entry.name.c_str();
      // The current pattern is not applied: every name of the drawing comes back.
      if (name_list_.FindItem(&find, -1) == -1) AppendRow(entry.name, false);
    }
  }
  show_all_ = true;
}

void CDlgSelNames::OnShowWithAttributes() {
  if (!show_all_) return;
  if (map_ != nullptr) {
    for (int row = 0; row < name_list_.GetItemCount();) {
      bool has_attributes = true;
      if (map_->Lookup(name_list_.GetItemText(row, 0), has_attributes) && !has_attributes) {
        name_list_.DeleteItem(row);  // the next row has moved up to this index
      } else {
        ++row;
      }
    }
  }
  show_all_ = false;
}

void CDlgSelNames::OnFilter() {
  if (filter_.DoModal() != IDOK) return;
  if (filter_.NameFilterField() != 0) {
    name_list_.DeleteAllItems();
    if (map_ != nullptr) {
      for (const BlockNameMap::Entry& entry : *map_) {
        if ((show_all_ || entry.has_attributes) &&
            CStr(entry.name).MatchesPattern(filter_.Pattern())) {
          AppendRow(entry.name, false);
        }
      }
    }
  }
  OnSelectAll();
}

void CDlgSelNames::OnOK() {
  chosen_.clear();
  for (int row = name_list_.GetNextItem(-1, LVNI_SELECTED); row != -1;
       row = name_list_.GetNextItem(row, LVNI_SELECTED)) {
    chosen_.push_back(name_list_.GetItemText(row, 0));
  }
  EndDialog(IDOK);
}

BOOL CDlgSelNames::PreTranslateMessage(MSG* msg) {
  tooltip_.RelayEvent(msg);
  return CAcUiDialog::PreTranslateMessage(msg);
}
