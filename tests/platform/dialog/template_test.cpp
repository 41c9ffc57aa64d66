// The template format: what a dialog and a menu template hold, and mistakes refused with the
// resource id, the line and what was expected.
#include <gtest/gtest.h>

#include "platform/dialog/template.h"
#include "platform/dialog/window.h"
#include "platform/win/menu.h"

namespace {

using dialog::ControlKind;
using dialog::ParseDialogTemplate;
using dialog::ParseMenuTemplate;

TEST(DialogTemplate, HoldsControlsInFileOrderWithTheirFlags) {
  const auto result = ParseDialogTemplate(
      "\xEF\xBB\xBF# comment line\r\n"
      "DIALOG 9 \"Filter \\\"names\\\"\" CONTEXTHELP\r\n"
      "\n"
      "  radio 1000 \"A\" GROUP DISABLED   # a comment after the fields\n"
      "RADIO 1001 \"B\"\n"
      "EDIT 1005 \"\" NUMBER\n"
      "UPDOWN 1007 BUDDY 1005 SETBUDDYINT\n"
      "LISTVIEW 1030 REPORT SINGLESEL AT 10 20 150 60\n"
      "STATIC -1 \"Tab\\there\\r\\nnext\" HIDDEN\n"
      "BUTTON 1 \"OK\" DEFAULT\n",
      9);
  ASSERT_TRUE(result) << result.error.message;
  const dialog::DialogTemplate& t = *result.value;
  EXPECT_EQ(t.caption, L"Filter \"names\"");
  EXPECT_EQ(t.ex_style, WS_EX_CONTEXTHELP);
  ASSERT_EQ(t.controls.size(), 7u);
  EXPECT_EQ(t.controls[0].kind, ControlKind::kRadio);
  EXPECT_EQ(t.controls[0].style & (WS_GROUP | WS_DISABLED), WS_GROUP | WS_DISABLED);
  EXPECT_EQ(t.controls[1].style & WS_GROUP, 0u);
  EXPECT_EQ(t.controls[2].style & ES_NUMBER, ES_NUMBER);
  EXPECT_EQ(t.controls[3].buddy, 1005);
  EXPECT_EQ(t.controls[3].style & UDS_SETBUDDYINT, UDS_SETBUDDYINT);
  EXPECT_EQ(t.controls[4].style & (LVS_REPORT | LVS_SINGLESEL), LVS_REPORT | LVS_SINGLESEL);
  EXPECT_EQ(t.controls[4].rect.left, 10);
  EXPECT_EQ(t.controls[4].rect.bottom, 80);
  EXPECT_EQ(t.controls[5].id, -1);
  EXPECT_EQ(t.controls[5].text, L"Tab\there\r\nnext");
  EXPECT_EQ(t.controls[5].style & WS_VISIBLE, 0u);
  EXPECT_EQ(t.controls[6].style & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  EXPECT_EQ(t.controls[6].line, 10);
}

TEST(DialogTemplate, RefusesMistakesWithTheLineAndWhatWasExpected) {
  struct Row {
    const char* text;
    const char* message;
  };
  const Row rows[] = {
      {"", "dialog 7: empty template (DIALOG expected)"},
      {"CHECKBOX 1 \"x\"\n", "dialog 7, line 1: DIALOG expected first, found \"CHECKBOX\""},
      {"DIALOG 8 \"x\"\n",
       "dialog 7, line 1: DIALOG 7 expected (the resource's own id), found \"8\""},
      {"DIALOG 7\n", "dialog 7, line 1: a quoted caption expected after DIALOG 7"},
      {"DIALOG 7 \"x\" MODAL\n", "dialog 7, line 1: DIALOG takes CONTEXTHELP, found \"MODAL\""},
      {"DIALOG 7 \"x\"\nSLIDER 3\n",
       "dialog 7, line 2: a control kind (BUTTON, CHECKBOX, RADIO, EDIT, STATIC, GROUPBOX, UPDOWN, "
       "LISTVIEW or TAB) expected, found \"SLIDER\""},
      {"DIALOG 7 \"x\"\nCHECKBOX abc \"x\"\n",
       "dialog 7, line 2: a control id (1 to 65535) expected after CHECKBOX, found \"abc\""},
      {"DIALOG 7 \"x\"\nCHECKBOX -1 \"x\"\n",
       "dialog 7, line 2: a control id (1 to 65535) expected after CHECKBOX, found \"-1\""},
      {"DIALOG 7 \"x\"\nSTATIC 0 \"x\"\n",
       "dialog 7, line 2: a control id (1 to 65535, or -1) expected after STATIC, found \"0\""},
      {"DIALOG 7 \"x\"\nBUTTON 70000 \"x\"\n",
       "dialog 7, line 2: a control id (1 to 65535) expected after BUTTON, found \"70000\""},
      {"DIALOG 7 \"x\"\nRADIO 2\n", "dialog 7, line 2: a quoted text expected after RADIO 2"},
      {"DIALOG 7 \"x\"\nEDIT 2 \"unclosed\n",
       "dialog 7, line 2: a quoted text has no closing quote"},
      {"DIALOG 7 \"x\"\nEDIT 2 \"\\q\"\n",
       "dialog 7, line 2: unknown escape \\q in a quoted text (\\\" \\\\ \\t \\n \\r expected)"},
      {"DIALOG 7 \"x\"\n\nRADIO 2 \"x\" REPORT\n",
       "dialog 7, line 3: RADIO takes GROUP, DISABLED, HIDDEN, TABSTOP, NOTABSTOP, AT x y w h, "
       "found \"REPORT\""},
      {"DIALOG 7 \"x\"\nLISTVIEW 5 AT 1 2 3\n",
       "dialog 7, line 2: AT takes four numbers (x y width height, 0 to 32767)"},
      {"DIALOG 7 \"x\"\nEDIT 5 \"\"\nCHECKBOX 5 \"y\"\n",
       "dialog 7, line 3: control id 5 is already used on line 2"},
      {"DIALOG 7 \"x\"\nUPDOWN 6 BUDDY\n",
       "dialog 7, line 2: BUDDY takes the id of an edit control (1 to 65535)"},
      {"DIALOG 7 \"x\"\nCHECKBOX 5 \"c\"\nUPDOWN 6 BUDDY 5\n",
       "dialog 7, line 3: BUDDY 5 names no EDIT control of this dialog"},
      {"DIALOG 7 \"x\"\nDIALOG 7 \"y\"\n", "dialog 7, line 2: a second DIALOG statement"},
      {"DIALOG 7 \"\xC3\x28\"\n", "dialog 7: the text is not UTF-8"},
  };
  for (const Row& row : rows) {
    const auto result = ParseDialogTemplate(row.text, 7);
    EXPECT_FALSE(result) << row.text;
    EXPECT_EQ(result.error.message, row.message) << row.text;
  }
}

TEST(MenuTemplate, HoldsPopupsItemsAndSeparators) {
  const auto result = ParseMenuTemplate(
      "MENU 1009\n"
      "POPUP \"Names\"\n"
      "  ITEM 32773 \"Select &all\" CHECKED\n"
      "  SEPARATOR\n"
      "  POPUP \"More\"\n"
      "    ITEM 1011 \"&Filter...\" GRAYED\n"
      "  END\n"
      "END\n",
      1009);
  ASSERT_TRUE(result) << result.error.message;
  ASSERT_EQ(result.value->items.size(), 1u);
  const auto& popup = result.value->items[0];
  EXPECT_EQ(popup.text, L"Names");
  ASSERT_EQ(popup.items.size(), 3u);
  EXPECT_EQ(popup.items[0].id, 32773u);
  EXPECT_EQ(popup.items[0].flags, MF_CHECKED);
  EXPECT_EQ(popup.items[1].kind, dialog::MenuItemTemplate::Kind::kSeparator);
  EXPECT_EQ(popup.items[2].items[0].flags, MF_GRAYED);
}

TEST(MenuTemplate, RefusesMistakesWithTheLine) {
  struct Row {
    const char* text;
    const char* message;
  };
  const Row rows[] = {
      {"POPUP \"x\"\n", "menu 5, line 1: MENU 5 expected first"},
      {"MENU 5\nPOPUP \"x\"\nITEM 0 \"a\"\nEND\n",
       "menu 5, line 3: a command id (1 to 65535) expected after ITEM, found \"0\""},
      {"MENU 5\nPOPUP \"x\"\nITEM 3\nEND\n", "menu 5, line 3: a quoted text expected after ITEM 3"},
      {"MENU 5\nPOPUP \"x\"\nITEM 3 \"a\" BOLD\nEND\n",
       "menu 5, line 3: ITEM takes CHECKED or GRAYED, found \"BOLD\""},
      {"MENU 5\nPOPUP \"x\"\nITEM 3 \"a\"\nITEM 3 \"b\"\nEND\n",
       "menu 5, line 4: command id 3 is already used in this menu"},
      {"MENU 5\nPOPUP \"x\"\n  POPUP \"y\"\n  END\n", "menu 5, line 2: this POPUP has no END"},
      {"MENU 5\nEND\nITEM 3 \"a\"\n",
       "menu 5, line 3: nothing may follow the END of the menu, found \"ITEM\""},
      {"MENU 5\nBUTTON 3\n",
       "menu 5, line 2: POPUP, ITEM, SEPARATOR or END expected, found \"BUTTON\""},
  };
  for (const Row& row : rows) {
    const auto result = ParseMenuTemplate(row.text, 5);
    EXPECT_FALSE(result) << row.text;
    EXPECT_EQ(result.error.message, row.message) << row.text;
  }
}

}  // namespace
