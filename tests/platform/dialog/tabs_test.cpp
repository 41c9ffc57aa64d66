// A tabbed dialog: pages with their own data exchange, ValidateData on a page, the active tab,
// a control that lives on a hidden page, and a menu button's menu read from the next line.
#include <gtest/gtest.h>

#include "platform/dialog/acui.h"
#include "platform/dialog/popupmenu.h"
#include "tests/platform/dialog/dialog_test_support.h"

namespace {

using dialog_test::DialogTest;

class ExportPage : public CAcUiTabChildDialog {
 public:
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Check(dx, 1009, rotation);
    DDX_Radio(dx, 1003, worksheet);
    DDX_Text(dx, 1005, start_row);
    DDV_MinMaxInt(dx, start_row, 1, 65536);
  }
  int rotation = 0;
  int worksheet = 1;
  int start_row = 1;
};

class ImportPage : public CAcUiTabChildDialog {
 public:
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Radio(dx, 1013, import_settings);
    DDX_Check(dx, 1015, ignore_props);
    DDX_Text(dx, 1006, start_col);
    DDV_MinMaxInt(dx, start_col, 1, 256);
    DDX_Text(dx, 1005, start_row);
    DDV_MinMaxInt(dx, start_row, 1, 65536);
  }
  BOOL OnTabChanging() override { return !keep; }
  int import_settings = 0;
  int ignore_props = 1;
  int start_col = 1;
  int start_row = 2;
  bool keep = false;
};

class Frame : public CAcUiTabMainDialog {
 public:
  Frame() : CAcUiTabMainDialog(201) {
    MapCommand(3, [this] {
      CMenu menu;
      ASSERT_TRUE(menu.LoadMenu(300));
      commands.push_back(static_cast<UINT>(
          menu.GetSubMenu(0)->TrackPopupMenu(TPM_RETURNCMD | TPM_NONOTIFY, 0, 0, this)));
    });
  }
  BOOL OnInitDialog() override {
    CAcUiTabMainDialog::OnInitDialog();
    SetAcadTabPointer(&tab_);
    EXPECT_TRUE(AddTab(0, L"Export", 200, &export_page));
    EXPECT_TRUE(AddTab(1, L"Import", 202, &import_page));
    return TRUE;
  }
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, 1012, tab_); }
  void OnOK() override {
    if (!export_page.ValidateData() || !import_page.ValidateData()) return;
    active_at_ok = tab_.GetActiveTab();
    EndDialog(IDOK);
  }
  ExportPage export_page;
  ImportPage import_page;
  std::vector<UINT> commands;
  int active_at_ok = -1;

 private:
  CAdUiTab tab_;
};

TEST_F(DialogTest, EachTabExchangesItsOwnFields) {
  Script({"1009 on", "1005 = 10", "tab 1", "1014", "1015 off", "1006 = 20", "1005 = 30", "ok"});
  Frame dlg;
  ASSERT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.export_page.rotation, 1);
  EXPECT_EQ(dlg.export_page.start_row, 10);  // 1005 of the export page
  EXPECT_EQ(dlg.import_page.import_settings, 1);
  EXPECT_EQ(dlg.import_page.ignore_props, 0);
  EXPECT_EQ(dlg.import_page.start_col, 20);
  EXPECT_EQ(dlg.import_page.start_row, 30);  // 1005 of the import page, shown then
  EXPECT_EQ(dlg.active_at_ok, 1);
}

TEST_F(DialogTest, AnInvalidPageIsShownAndKeepsTheDialogOpen) {
  Script({"tab 1", "1006 = 300", "tab 0", "ok", "?", "1006 = 256", "ok"});
  Frame dlg;
  ASSERT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.import_page.start_col, 256);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, L"Please enter an integer between 1 and 256.");
  EXPECT_NE(Boxes()[0].owner, nullptr);
  // The failing page came to the front, so the next line reached its edit.
  EXPECT_TRUE(Printed(L"Tab 1 \"Import\" (active):\n")) << output_;
  EXPECT_EQ(dlg.active_at_ok, 1);
}

TEST_F(DialogTest, ShowListsTheFrameAndTheActivePage) {
  Script({"?", "cancel"});
  Frame dlg;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(Printed(L"  1012  tab       0 \"Export\" (active), 1 \"Import\"\n")) << output_;
  EXPECT_TRUE(
      Printed(L"  4     button    \"Defaults\"\nTab 0 \"Export\" (active):\n"
              L"  1009  checkbox  \"Rotation\" off\n"));
  EXPECT_FALSE(Printed(L"Ignore properties"));
}

TEST_F(DialogTest, AControlOnAHiddenTabAndABadTabAreRefused) {
  // 1006 is the export page's check box and the import page's edit: the shown page's counts.
  Script({"1014", "1006 = 5", "tab 2", "tab x", "tab 1", "1006 = 5", "1014", "ok"});
  Frame dlg;
  ASSERT_EQ(dlg.DoModal(), IDOK);
  EXPECT_TRUE(Printed(L"Options: control 1014 is on a tab that is not shown (tab N first)"))
      << output_;
  EXPECT_TRUE(Printed(L"Options: control 1006 (checkbox) has no text to set"));
  EXPECT_TRUE(Printed(L"Options: tab takes a tab number from 0 to 1"));
  EXPECT_EQ(dlg.import_page.start_col, 5);
  EXPECT_EQ(dlg.import_page.import_settings, 1);
}

TEST_F(DialogTest, APageThatDoesNotLetGoKeepsItsTab) {
  Script({"tab 1", "tab 0", "1009 on", "ok"});
  Frame dlg;
  dlg.import_page.keep = true;
  ASSERT_EQ(dlg.DoModal(), IDOK);
  EXPECT_TRUE(Printed(L"Options: the page shown does not let go"));
  EXPECT_TRUE(Printed(L"Options: control 1009 is on a tab that is not shown"));
  EXPECT_EQ(dlg.export_page.rotation, 0);
}

TEST_F(DialogTest, AMenuButtonReadsTheChosenCommandFromTheNextLine) {
  Script({"3", "32772", "3", "", "3", "save to file...", "3", "32790", "ok"});
  Frame dlg;
  ASSERT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.commands, (std::vector<UINT>{32772, 0, 32772, 0}));
  EXPECT_TRUE(Printed(L"Menu:\n  32771  Load from file...\n"));
}

}  // namespace
