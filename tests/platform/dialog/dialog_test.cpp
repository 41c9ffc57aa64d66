// Dialogs driven by scripts: check boxes, radio groups, edits with range validation, enable
// rules run from click handlers, help, the end of input, and lines the driver cannot use.
#include <gtest/gtest.h>

#include "platform/dialog/afxcmn.h"
#include "platform/dialog/afxwin.h"
#include "tests/platform/dialog/dialog_test_support.h"

namespace {

using dialog_test::DialogTest;

// The export settings page as a dialog of its own (template 200), with its enable rules.
class ExportDialog : public CDialog {
 public:
  ExportDialog() : CDialog(200) {
    MapCommand(1003, [this] { SetSheetControls(false, false); });
    MapCommand(1004, [this] { SetSheetControls(true, IsDlgButtonChecked(1017) != BST_CHECKED); });
    MapCommand(1017, [this] {
      const bool blank = IsDlgButtonChecked(1017) == BST_CHECKED;
      GetDlgItem(1005)->EnableWindow(!blank);
      GetDlgItem(1007)->EnableWindow(!blank);
    });
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    spin_.SetRange32(1, 65536);
    SetSheetControls(worksheet == 1, worksheet == 1 && find_blank == 0);
    return TRUE;
  }
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Control(dx, 1007, spin_);
    DDX_Check(dx, 1009, rotation);
    DDX_Check(dx, 1006, x_coord);
    DDX_Radio(dx, 1003, worksheet);
    DDX_Radio(dx, 1000, workbook);
    DDX_Text(dx, 1005, start_row);
    DDV_MinMaxInt(dx, start_row, 1, 65536);
    DDX_Check(dx, 1011, add_header);
    DDX_Check(dx, 1017, find_blank);
  }
  BOOL OnHelpInfo(HELPINFO* info) override {
    help_for = info->iCtrlId;
    ++helps;
    return TRUE;
  }

  int rotation = 0;
  int x_coord = 1;
  int worksheet = 0;
  int workbook = 0;
  int start_row = 1;
  int add_header = 0;
  int find_blank = 0;
  int helps = 0;
  int help_for = -1;

 private:
  void SetSheetControls(bool sheet, bool row) {
    GetDlgItem(1011)->EnableWindow(sheet);
    GetDlgItem(1017)->EnableWindow(sheet);
    GetDlgItem(1005)->EnableWindow(row);
    GetDlgItem(1007)->EnableWindow(row);
  }
  CSpinButtonCtrl spin_;
};

TEST_F(DialogTest, CheckBoxesRadioGroupsAndEditsReachTheFieldsAtOk) {
  Script({"1009 on", "1006 off", "1004", "1002", "1005 = 42", "1011 on", "ok"});
  ExportDialog dlg;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.rotation, 1);
  EXPECT_EQ(dlg.x_coord, 0);
  EXPECT_EQ(dlg.worksheet, 1);
  EXPECT_EQ(dlg.workbook, 2);  // the third button of the group that 1000 starts
  EXPECT_EQ(dlg.start_row, 42);
  EXPECT_EQ(dlg.add_header, 1);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(source_->Left(), 0u);
  // The dialog's windows are gone; its fields stay.
  EXPECT_EQ(dlg.m_hWnd, nullptr);
}

TEST_F(DialogTest, CancelAndEndOfInputLeaveTheFieldsAsTheyWere) {
  Script({"1009 on", "1004", "cancel", "1009 on"});
  ExportDialog dlg;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.rotation, 0);
  EXPECT_EQ(dlg.worksheet, 0);
  EXPECT_EQ(source_->Left(), 1u);  // the line after cancel belongs to the next prompt

  ExportDialog second;
  EXPECT_EQ(second.DoModal(), IDCANCEL);  // "1009 on", then the end of input
  EXPECT_EQ(second.rotation, 0);
  EXPECT_TRUE(Printed(L"Export: end of input, cancelled"));
}

TEST_F(DialogTest, AnIntegerOutOfRangeKeepsTheDialogOpenWithTheStandardMessage) {
  Script({"1004", "1005 = 70000", "ok", "1005 = 0", "ok", "1005 = twelve", "ok", "1005 = 65536",
          "ok"});
  ExportDialog dlg;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.start_row, 65536);
  ASSERT_EQ(Boxes().size(), 3u);
  EXPECT_EQ(Boxes()[0].text, L"Please enter an integer between 1 and 65536.");
  EXPECT_EQ(Boxes()[1].text, L"Please enter an integer between 1 and 65536.");
  EXPECT_EQ(Boxes()[2].text, L"Please enter an integer.");
  for (const auto& box : Boxes()) {
    EXPECT_NE(box.owner, nullptr);  // owned by the dialog
    EXPECT_EQ(box.type & MB_ICONMASK, MB_ICONEXCLAMATION);
    EXPECT_EQ(box.answer, IDOK);
  }
}

TEST_F(DialogTest, EnableRulesRunFromClickHandlersAndDisabledControlsRefuseInput) {
  Script({"?", "1005 = 7", "1011 on", "1004", "1017 on", "?", "1005 = 7", "1017 off", "1005 = 7",
          "1003", "1011 on", "ok"});
  ExportDialog dlg;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_TRUE(Printed(L"1005  edit      \"1\" [disabled]"));
  EXPECT_TRUE(Printed(L"Export: control 1005 (edit) is disabled"));
  EXPECT_TRUE(Printed(L"Export: control 1011 (checkbox) is disabled"));
  // After 1004 and 1017 on: the header box is enabled, the start row is not.
  EXPECT_TRUE(Printed(L"1011  checkbox  \"Add header row\" off\n"));
  EXPECT_EQ(dlg.start_row, 7);   // only the third "1005 = 7" reached the edit
  EXPECT_EQ(dlg.worksheet, 0);   // 1003 at the end
  EXPECT_EQ(dlg.add_header, 0);  // refused after 1003
  EXPECT_EQ(dlg.find_blank, 0);
}

TEST_F(DialogTest, ShowListsEveryControlWithItsState) {
  Script({"1009 on", "1004", "1005 = 12", "?", "cancel"});
  ExportDialog dlg;
  dlg.DoModal();
  const std::wstring expected =
      L"Dialog \"Export\"\n"
      L"  1009  checkbox  \"Rotation\" on\n"
      L"  1006  checkbox  \"X coordinate\" on\n"
      L"  1003  radio     \"New worksheet\" off (starts a group)\n"
      L"  1004  radio     \"Active worksheet\" on\n"
      L"  -     static    \"Start row:\"\n"
      L"  1005  edit      \"12\"\n"
      L"  1007  updown    buddy 1005 position 12 range 1..65536\n"
      L"  1011  checkbox  \"Add header row\" off\n"
      L"  1017  checkbox  \"Find next blank line\" off\n"
      L"  1000  radio     \"New workbook\" on (starts a group)\n"
      L"  1001  radio     \"Active workbook\" off\n"
      L"  1002  radio     \"Workbook on disk\" off\n"
      L"  1     button    \"OK\" default\n"
      L"  2     button    \"Cancel\"\n";
  EXPECT_TRUE(Printed(expected)) << output_;
}

TEST_F(DialogTest, UpDownStepsItsBuddyWithinItsRange) {
  Script({"1004", "1005 = 65535", "1007 up", "1007 up", "ok"});
  ExportDialog dlg;
  ASSERT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.start_row, 65536);  // the second click stops at the end of the range
}

TEST_F(DialogTest, LinesTheDriverCannotUseAreReportedAndConsumed) {
  Script({"frobnicate", "1999", "1009 maybe", "1005 = 3", "1009 = x", "tab 1", "menu 5", "help",
          "1009 on", "ok"});
  ExportDialog dlg;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_TRUE(Printed(L"Export: unknown command \"frobnicate\" (type ? for help)"));
  EXPECT_TRUE(Printed(L"Export: no control 1999 (type ? for the list)"));
  EXPECT_TRUE(Printed(L"Export: unknown action \"maybe\" for control 1009 (checkbox)"));
  EXPECT_TRUE(Printed(L"Export: control 1009 (checkbox) has no text to set"));
  EXPECT_TRUE(Printed(L"Export: this dialog has no tabs"));
  EXPECT_TRUE(Printed(L"Export: this dialog has no context menu"));
  EXPECT_EQ(dlg.rotation, 1);
  EXPECT_EQ(dlg.helps, 1);
  EXPECT_EQ(dlg.start_row, 1);  // "1005 = 3" met a disabled edit
}

TEST_F(DialogTest, HelpReachesTheDialogsHandlerWithTheFocusedControl) {
  Script({"1009 on", "help", "ok"});
  ExportDialog dlg;
  dlg.DoModal();
  EXPECT_EQ(dlg.helps, 1);
  EXPECT_EQ(dlg.help_for, 1009);

  Script({"help", "ok"});
  CDialog plain(200);
  EXPECT_EQ(plain.DoModal(), IDOK);
  EXPECT_TRUE(Printed(L"Export: no help for this dialog"));
}

TEST_F(DialogTest, InteractiveInputGetsAHeaderAndAPrompt) {
  Script({"ok"}, /*interactive=*/true);
  CDialog dlg(200);
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_TRUE(Printed(L"Dialog \"Export\": type ? for help\nExport> ")) << output_;

  output_.clear();
  Script({"ok"}, /*interactive=*/false);
  CDialog quiet(200);
  quiet.DoModal();
  EXPECT_EQ(output_, L"Dialog \"Export\"\n");
}

TEST_F(DialogTest, AMalformedOrMissingTemplateIsRefusedWithItsPosition) {
  Script({"ok"});
  CDialog broken(250);
  EXPECT_EQ(broken.DoModal(), -1);
  EXPECT_EQ(broken.LastError(), "dialog 250, line 3: a quoted text expected after RADIO 2");
  EXPECT_TRUE(Printed(L"error: dialog 250, line 3: a quoted text expected after RADIO 2"));
  EXPECT_EQ(source_->Left(), 1u);  // nothing was read

  CDialog missing(999);
  EXPECT_EQ(missing.DoModal(), -1);
  EXPECT_EQ(missing.LastError(), "dialog 999: the resource library has no such template");
}

TEST_F(DialogTest, ADialogThatRefusesToCancelStillEndsAtTheEndOfInput) {
  class Stubborn : public CDialog {
   public:
    Stubborn() : CDialog(200) {}
    void OnCancel() override { ++refused; }
    int refused = 0;
  };
  Script({"cancel"});
  Stubborn dlg;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.refused, 2);  // the line, then the end of input
}

}  // namespace
