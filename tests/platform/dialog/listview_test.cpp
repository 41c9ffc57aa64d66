// List views in report mode driven by scripts and by their LVM_ messages, the right-click
// menu with its commands and check marks, and tooltips.
#include <gtest/gtest.h>

#include "platform/dialog/afxcmn.h"
#include "platform/dialog/afxwin.h"
#include "platform/dialog/popupmenu.h"
#include "platform/win/resource.h"
#include "tests/platform/dialog/dialog_test_support.h"

namespace {

using dialog_test::DialogTest;

// A name list as the block-name dialog has it (template 210, menu 301).
class NamesDialog : public CDialog {
 public:
  explicit NamesDialog(std::vector<std::wstring> names) : CDialog(210), names_(std::move(names)) {
    MapNotify(1005, NM_RCLICK, [this](NMHDR*, LRESULT*) { ShowMenu(); });
    MapCommand(32773, [this] { SetAll(true); });
    MapCommand(32774, [this] {
      for (int i = 0; i < list_.GetItemCount(); ++i) {
        const bool on = list_.GetItemState(i, LVIS_SELECTED) != 0;
        list_.SetItemState(i, on ? 0 : LVIS_SELECTED, LVIS_SELECTED);
      }
    });
    MapCommand(32775, [this] { SetAll(false); });
    MapCommand(32776, [this] {
      for (int i = 0; i < list_.GetItemCount(); ++i) {
        const bool focused = list_.GetItemState(i, LVIS_FOCUSED) != 0;
        list_.SetItemState(i, focused ? 0 : LVIS_SELECTED, LVIS_SELECTED);
      }
    });
    MapCommand(32777, [this] { show_all_ = true; });
    MapCommand(32778, [this] { show_all_ = false; });
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    list_.InsertColumn(0, L"Block name", LVCFMT_LEFT);
    list_.SetExtendedStyle(LVS_EX_FULLROWSELECT);
    RECT client{};
    list_.GetClientRect(&client);
    list_.SetColumnWidth(0, client.right);
    for (const auto& name : names_) {
      LVITEMW item{};
      item.mask = LVIF_TEXT | LVIF_STATE;
      item.iItem = list_.GetItemCount();
      item.state = LVIS_SELECTED;
      item.stateMask = LVIS_SELECTED;
      item.pszText = const_cast<LPWSTR>(name.c_str());
      list_.InsertItem(&item);
    }
    tooltip_.Create(this);
    tooltip_.Activate(TRUE);
    tooltip_.AddTool(&list_, L"Press right mouse button for more options.");
    GotoDlgCtrl(&list_);
    return TRUE;
  }
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, 1005, list_); }
  BOOL PreTranslateMessage(MSG* msg) override {
    tooltip_.RelayEvent(msg);
    ++relayed;
    return CDialog::PreTranslateMessage(msg);
  }
  void OnOK() override {
    for (int i = list_.GetNextItem(-1, LVNI_SELECTED); i != -1;
         i = list_.GetNextItem(i, LVNI_SELECTED)) {
      chosen.push_back(list_.GetItemText(i, 0));
    }
    EndDialog(IDOK);
  }

  std::vector<std::wstring> chosen;
  std::vector<std::pair<UINT, UINT>> marks;  // states of 32777 and 32778 as each menu showed
  int relayed = 0;

 private:
  void ShowMenu() {
    CMenu menu;
    ASSERT_TRUE(menu.LoadMenu(301));
    CMenu* popup = menu.GetSubMenu(0);
    ASSERT_NE(popup, nullptr);
    popup->CheckMenuItem(32777, show_all_ ? MF_CHECKED : MF_UNCHECKED);
    popup->CheckMenuItem(32778, show_all_ ? MF_UNCHECKED : MF_CHECKED);
    marks.emplace_back(popup->GetMenuState(32777, MF_BYCOMMAND) & MF_CHECKED,
                       popup->GetMenuState(32778, MF_BYCOMMAND) & MF_CHECKED);
    POINT at{};
    GetCursorPos(&at);
    popup->TrackPopupMenu(0, at.x, at.y, this);
  }
  void SetAll(bool on) {
    list_.SetItemState(-1, on ? LVIS_SELECTED : 0, LVIS_SELECTED);
    GotoDlgCtrl(&list_);
  }
  std::vector<std::wstring> names_;
  CListCtrl list_;
  CToolTipCtrl tooltip_;
  bool show_all_ = false;
};

const std::vector<std::wstring> kFive = {L"DOOR", L"TREE", L"WALL", L"ROOF", L"GATE"};

TEST_F(DialogTest, SelectChoosesRowsByTheirText) {
  Script({"1005 select WALL,DOOR", "ok"});
  NamesDialog dlg(kFive);
  ASSERT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.chosen, (std::vector<std::wstring>{L"DOOR", L"WALL"}));  // in list order

  Script({"1005 select none", "ok"});
  NamesDialog none(kFive);
  none.DoModal();
  EXPECT_TRUE(none.chosen.empty());

  Script({"1005 select none", "1005 select all", "ok"});
  NamesDialog all(kFive);
  all.DoModal();
  EXPECT_EQ(all.chosen, kFive);
}

TEST_F(DialogTest, ARowThatIsNotThereChangesNothing) {
  Script({"1005 select none", "1005 select DOOR,door", "1005 select \"WALL\", GATE", "ok"});
  NamesDialog dlg(kFive);
  dlg.DoModal();
  EXPECT_TRUE(Printed(L"Block names: list 1005 has no row \"door\"; nothing selected"));
  EXPECT_EQ(dlg.chosen, (std::vector<std::wstring>{L"WALL", L"GATE"}));
}

TEST_F(DialogTest, ContextMenuCommandsRunTheRightClickHandler) {
  // The last row named has the focus, as the last of several clicks would.
  Script({"1005 select WALL", "menu 32776", "ok"});
  NamesDialog dlg(kFive);
  dlg.DoModal();
  EXPECT_EQ(dlg.chosen, (std::vector<std::wstring>{L"DOOR", L"TREE", L"ROOF", L"GATE"}));

  Script({"1005 select DOOR,TREE", "menu 32774", "ok"});
  NamesDialog inverted(kFive);
  inverted.DoModal();
  EXPECT_EQ(inverted.chosen, (std::vector<std::wstring>{L"WALL", L"ROOF", L"GATE"}));

  Script({"menu 32775", "menu 32773", "menu 32775", "ok"});
  NamesDialog cleared(kFive);
  cleared.DoModal();
  EXPECT_TRUE(cleared.chosen.empty());
}

TEST_F(DialogTest, ContextMenuShowsItsCheckMarksAndRefusesOtherCommands) {
  Script({"menu 32777", "menu 32778", "menu 32790", "menu 1011", "ok"});
  NamesDialog dlg(kFive);
  dlg.DoModal();
  ASSERT_EQ(dlg.marks.size(), 4u);
  EXPECT_EQ(dlg.marks[0], std::make_pair(0u, MF_CHECKED));
  EXPECT_EQ(dlg.marks[1], std::make_pair(MF_CHECKED, 0u));
  EXPECT_EQ(dlg.marks[2], std::make_pair(0u, MF_CHECKED));
  EXPECT_TRUE(
      Printed(L"Block names: command 32790 is not a command of this menu that can be chosen"));
  EXPECT_EQ(dlg.chosen, kFive);
  // Every action was offered to the dialog first (its tooltip relays them).
  EXPECT_EQ(dlg.relayed, 4 + 1);
}

TEST_F(DialogTest, ShowListsRowsWithTheirMarksAndTheTooltips) {
  Script({"1005 select TREE", "?", "cancel"});
  NamesDialog dlg({L"DOOR", L"TREE"});
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  const std::wstring expected =
      L"Dialog \"Block names\"\n"
      L"  1005  listview  2 rows, columns \"Block name\"\n"
      L"        [ ] DOOR\n"
      L"        [x] TREE  <focus>\n"
      L"  1033  checkbox  \"Selection only\" off [hidden]\n"
      L"  1     button    \"OK\" default\n"
      L"  2     button    \"Cancel\"\n"
      L"  tooltip on 1005: \"Press right mouse button for more options.\"\n";
  EXPECT_TRUE(Printed(expected)) << output_;
  EXPECT_TRUE(dlg.chosen.empty());
}

TEST_F(DialogTest, HiddenControlsRefuseInput) {
  Script({"1033 on", "ok"});
  NamesDialog dlg({L"DOOR"});
  dlg.DoModal();
  EXPECT_TRUE(Printed(L"Block names: control 1033 (checkbox) is hidden"));
}

// The list view's messages on a dialog created without its loop.
TEST_F(DialogTest, ListViewMessagesAnswerAsWindowsDoes) {
  CDialog dlg(210);
  ASSERT_TRUE(dlg.Create(210, nullptr));
  const HWND list = GetDlgItem(dlg.m_hWnd, 1005);
  ASSERT_NE(list, nullptr);
  auto insert = [&](const wchar_t* text, UINT state) {
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_STATE;
    item.iItem = 1000;  // past the end: appended
    item.state = state;
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.pszText = const_cast<LPWSTR>(text);
    return SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  };
  EXPECT_EQ(insert(L"Door", LVIS_SELECTED), 0);
  EXPECT_EQ(insert(L"Tree", 0), 1);
  EXPECT_EQ(insert(L"Wall", LVIS_SELECTED | LVIS_FOCUSED), 2);
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 3);

  struct Next {
    int start;
    UINT flags;
    LRESULT expected;
  };
  for (const Next& row :
       {Next{-1, LVNI_SELECTED, 0}, Next{0, LVNI_SELECTED, 2}, Next{2, LVNI_SELECTED, -1},
        Next{-1, LVNI_FOCUSED, 2}, Next{-1, LVNI_ALL, 0}, Next{1, LVNI_ALL, 2}}) {
    EXPECT_EQ(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row.start), row.flags),
              row.expected)
        << "start " << row.start << " flags " << row.flags;
  }
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMSTATE, 2, LVIS_SELECTED | LVIS_FOCUSED),
            LVIS_SELECTED | LVIS_FOCUSED);
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMSTATE, 2, LVIS_FOCUSED), LVIS_FOCUSED);

  struct Find {
    const wchar_t* text;
    UINT flags;
    int start;
    LRESULT expected;
  };
  for (const Find& row : {Find{L"Tree", LVFI_STRING, -1, 1}, Find{L"tree", LVFI_STRING, -1, 1},
                          Find{L"Tre", LVFI_STRING, -1, -1}, Find{L"Tre", LVFI_PARTIAL, -1, 1},
                          Find{L"Door", LVFI_STRING, 0, -1}, Find{L"Roof", LVFI_STRING, -1, -1}}) {
    LVFINDINFOW info{row.flags, row.text, 0};
    EXPECT_EQ(SendMessageW(list, LVM_FINDITEM, static_cast<WPARAM>(row.start),
                           reinterpret_cast<LPARAM>(&info)),
              row.expected)
        << "find " << row.text;
  }

  // Focus moves: one row has it at a time.
  LVITEMW focus{};
  focus.state = LVIS_FOCUSED;
  focus.stateMask = LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&focus));
  EXPECT_EQ(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED), 0);
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMSTATE, 2, LVIS_FOCUSED), 0);

  EXPECT_EQ(SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT), 0);
  EXPECT_EQ(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), LVS_EX_FULLROWSELECT);

  EXPECT_TRUE(SendMessageW(list, LVM_DELETEITEM, 0, 0));
  EXPECT_FALSE(SendMessageW(list, LVM_DELETEITEM, 5, 0));
  wchar_t text[16];
  LVITEMW get{};
  get.pszText = text;
  get.cchTextMax = 3;  // cut to two characters and the zero
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&get)), 2);
  EXPECT_STREQ(text, L"Tr");
  EXPECT_TRUE(SendMessageW(list, LVM_DELETEALLITEMS, 0, 0));
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);

  EXPECT_TRUE(dlg.DestroyWindow());
  EXPECT_FALSE(IsWindow(list));
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(DialogTest, APopupMenuReadsItsCommandFromTheNextLine) {
  HMENU bar = LoadMenuW(module_, MAKEINTRESOURCEW(300));
  ASSERT_NE(bar, nullptr);
  HMENU popup = GetSubMenu(bar, 0);
  struct Row {
    const char* line;
    UINT expected;
  };
  for (const Row& row : {Row{"32772", 32772}, Row{"", 0}, Row{"load from file...", 32771},
                         Row{"32790", 0}, Row{"99", 0}}) {
    Script({row.line});
    EXPECT_EQ(static_cast<UINT>(TrackPopupMenu(popup, TPM_RETURNCMD, 0, 0, 0, nullptr, nullptr)),
              row.expected)
        << row.line;
    EXPECT_EQ(source_->Left(), 0u);
  }
  Script({});
  EXPECT_EQ(TrackPopupMenu(popup, TPM_RETURNCMD, 0, 0, 0, nullptr, nullptr), 0);
  EXPECT_TRUE(
      Printed(L"  32771  Load from file...\n  32772  Save to file...\n  ------\n"
              L"  32790  Disabled [disabled]\n"));
  EXPECT_TRUE(
      Printed(L"Menu: \"99\" is not a command of this menu that can be chosen; menu dismissed"));
  DestroyMenu(bar);

  output_.clear();
  EXPECT_EQ(LoadMenuW(module_, MAKEINTRESOURCEW(350)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_TRUE(Printed(L"error: menu 350, line 2: this POPUP has no END"));
}

}  // namespace
