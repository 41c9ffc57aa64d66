#include "platform/host/menus.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

// An application's menu file: two pull-downs, a submenu, a separator, a toolbar.
constexpr const char* kVantaMenu =
    "# The application's menus\n"
    "menugroup VANTA\n"
    "\n"
    "pulldown pop1 \"&Vanta\"\n"
    "  item \"&Export attributes...\" \"^C^C_vanta _export\" \"Exports block attributes\"\n"
    "  item \"&Import attributes...\" \"^C^C_vanta _import\"\n"
    "  separator\n"
    "  submenu \"&Settings\"\n"
    "    item \"&Load...\" \"^C^C_vanta _settings _load\"\n"
    "    item \"Fish && \\\"Chips\\\"\" \"^C^C_fish\"   # a comment after the fields\n"
    "  end\n"
    "  item \"&\xC3\x84ndern\" \"^C^C_vanta _change\"\n"
    "end\n"
    "pulldown pop2 \"Vanta &Link\"\n"
    "  item \"&Connect\" \"^C^C_vanta _link\"\n"
    "end\n"
    "toolbar tb_vanta \"Vanta\"\n"
    "  button \"Export\" \"^C^C_vanta _export\" \"Exports block attributes\"\n"
    "  separator\n"
    "  button \"Link now\" \"^C^C_vanta _link\"\n"
    "end\n";

const wchar_t* const kHostBar[] = {L"&File",   L"&Edit",   L"&View", L"&Insert",
                                   L"F&ormat", L"&Tools",  L"&Draw", L"Dime&nsion",
                                   L"&Modify", L"&Window", L"&Help"};

std::wstring BarText(int position) {
  HMENU bar = GetMenu(adsw_acadMainWnd());
  wchar_t text[64];
  const int n = GetMenuStringW(bar, static_cast<UINT>(position), text, 64, MF_BYPOSITION);
  return std::wstring(text, static_cast<size_t>(n));
}

int BarCount() {
  return GetMenuItemCount(GetMenu(adsw_acadMainWnd()));
}

class Menus : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetMenus();
    std::string pattern = (fs::temp_directory_path() / "sheetwise-menus-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    ResetMenus();
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }
  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path path = folder_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  void LoadVanta() {
    std::wstring error;
    ASSERT_EQ(LoadMenuGroup(Write("vanta.swmenu", kVantaMenu), &error), L"VANTA") << error;
  }
  fs::path folder_;
};

}  // namespace

TEST_F(Menus, MainMenuBarStartsWithTheHostsPulldowns) {
  ASSERT_EQ(BarCount(), 11);
  for (int i = 0; i < 11; ++i) EXPECT_EQ(BarText(i), kHostBar[i]) << i;
  EXPECT_TRUE(acedIsMenuGroupLoaded(L"acad"));
  EXPECT_FALSE(acedIsMenuGroupLoaded(L"VANTA"));
  // The host's items have macros, found past their mnemonic and accelerator.
  EXPECT_EQ(MacroOf(L"save"), L"^C^C_qsave");
  EXPECT_EQ(MacroOf(L"Single..."), L"^C^C_eattedit");  // Modify > Object > Attribute
  std::wstring error;
  EXPECT_FALSE(UnloadMenuGroup(L"ACAD", &error));
  EXPECT_NE(error.find(L"cannot be unloaded"), std::wstring::npos) << error;
  EXPECT_EQ(BarCount(), 11);
}

TEST_F(Menus, PulldownsGoWhereMenuCommandsPutThem) {
  LoadVanta();
  EXPECT_TRUE(acedIsMenuGroupLoaded(L"vanta"));
  EXPECT_EQ(BarCount(), 11) << "loading does not put pull-downs on the bar";
  EXPECT_EQ(MacroOf(L"Export attributes..."), std::nullopt) << "a pull-down not on the bar";

  // As an application computes it: after the last item.
  EXPECT_EQ(acedMenuCmd(L"P12=+VANTA.pop1"), RTNORM);
  ASSERT_EQ(BarCount(), 12);
  EXPECT_EQ(BarText(11), L"&Vanta");
  HMENU vanta = GetSubMenu(GetMenu(adsw_acadMainWnd()), 11);
  EXPECT_EQ(GetMenuItemCount(vanta), 5);

  // P3 puts it after the third pull-down; the old fourth moves right.
  EXPECT_EQ(acedMenuCmd(L" p3=+vanta.POP2 "), RTNORM);
  ASSERT_EQ(BarCount(), 13);
  EXPECT_EQ(BarText(2), L"&View");
  EXPECT_EQ(BarText(3), L"Vanta &Link");
  EXPECT_EQ(BarText(4), L"&Insert");

  // A pull-down already on the bar moves, it is not doubled; P0 is the front.
  EXPECT_EQ(acedMenuCmd(L"P0=+VANTA.pop1"), RTNORM);
  ASSERT_EQ(BarCount(), 13);
  EXPECT_EQ(BarText(0), L"&Vanta");
  EXPECT_EQ(BarText(1), L"&File");
  // Past the end appends.
  EXPECT_EQ(acedMenuCmd(L"P99=+VANTA.pop1"), RTNORM);
  EXPECT_EQ(BarText(12), L"&Vanta");

  // Removing takes the n-th off the bar; the pull-down stays loaded and can come back.
  EXPECT_EQ(acedMenuCmd(L"P4=-"), RTNORM);  // "Vanta &Link" is P4 now
  ASSERT_EQ(BarCount(), 12);
  EXPECT_EQ(BarText(2), L"&View");
  EXPECT_EQ(BarText(11), L"&Vanta");
  EXPECT_EQ(acedMenuCmd(L"P2=-"), RTNORM);  // the host's "&Edit"
  EXPECT_EQ(BarText(1), L"&View");
  EXPECT_EQ(acedMenuCmd(L"P1=+ACAD.pop2"), RTNORM);
  EXPECT_EQ(BarText(1), L"&Edit");
}

TEST_F(Menus, BadMenuCommandsChangeNothing) {
  LoadVanta();
  ASSERT_EQ(acedMenuCmd(L"P12=+VANTA.pop1"), RTNORM);
  const wchar_t* const bad[] = {
      L"",      L"P",    L"P=-",  L"P0=-", L"P12=+NOPE.pop1",   L"P12=+VANTA.nope", L"P12=+.pop1",
      L"P13=-", L"X1=-", L"P1=*", L"P1-",  L"P1=+VANTA.pop1.x",
  };
  for (const wchar_t* cmd : bad) {
    EXPECT_EQ(acedMenuCmd(cmd), RTERROR) << testing::PrintToString(std::wstring(cmd));
    EXPECT_EQ(BarCount(), 12);
  }
  EXPECT_EQ(acedMenuCmd(nullptr), RTERROR);
  EXPECT_EQ(BarText(11), L"&Vanta");
}

TEST_F(Menus, MalformedFilesNameFileAndLineAndLoadNothing) {
  struct Row {
    const char* text;
    int line;
    const wchar_t* says;
  };
  const std::string deep = [] {
    std::string s = "menugroup BAD\npulldown p \"P\"\n";
    for (int i = 0; i < 9; ++i) s += "submenu \"S\"\n";  // the 9th is line 11
    return s;
  }();
  const Row rows[] = {
      {"", 1, L"no \"menugroup NAME\" line"},
      {"pulldown pop1 \"x\"\nend\n", 1, L"\"menugroup NAME\" expected first, found \"pulldown\""},
      {"menugroup BAD\nmenugroup BAD2\n", 2, L"a second \"menugroup\" line"},
      {"menugroup B A D\n", 1, L"\"menugroup\" takes a group name, found 3 fields"},
      {"menugroup BA/D\n", 1, L"group name \"BA/D\" is not 1 to 32 letters"},
      {"menugroup BAD\npulldown pop1 \"&X\"\n  item \"a\" \"b\"\n", 2,
       L"pulldown pop1 has no \"end\""},
      {"menugroup BAD\npulldown pop1 \"&X\"\n  item \"a\n", 3,
       L"quoted text starting in column 8 has no closing quote"},
      {"menugroup BAD\npulldown pop1 \"X\"\n item \"a\\q\" \"b\"\nend\n", 3, L"unknown escape \\q"},
      {"menugroup BAD\npulldown pop1 \"X\"\n item a\"b \"c\"\nend\n", 3, L"quote inside a word"},
      {"menugroup BAD\nitem \"a\" \"b\"\n", 2, L"\"item\" outside a pulldown"},
      {"menugroup BAD\npulldown p \"P\"\n button \"a\" \"b\"\nend\n", 3,
       L"\"button\" outside a toolbar"},
      {"menugroup BAD\npulldown pop1 \"X\"\nend\npulldown POP1 \"Y\"\nend\n", 4,
       L"a second pull-down POP1"},
      {"menugroup BAD\npulldown pop1 \"X\"\n item \"a\"\nend\n", 3,
       L"\"item\" takes a label, a macro and optionally a help text, found 1 field"},
      {"menugroup BAD\nfrobnicate\n", 2, L"unknown keyword \"frobnicate\""},
      {"menugroup BAD\n\xFF\xFE\n", 2, L"not valid UTF-8"},
      {"menugroup BAD\npulldown pop1 \"X\"\npulldown pop2 \"Y\"\n", 3,
       L"\"pulldown\" inside pulldown pop1 (its \"end\" is missing; opened in line 2)"},
      {"menugroup BAD\ntoolbar tb \"T\" visible\nend\n", 2,
       L"shown or hidden expected, found \"visible\""},
      {"menugroup BAD\npulldown p \"P\"\n submenu \"S\"\n item \"a\" \"b\"\n", 3,
       L"submenu \"S\" has no \"end\""},
      {deep.c_str(), 11, L"submenus nested deeper than 8"},
  };
  int n = 0;
  for (const Row& r : rows) {
    const fs::path path = Write("bad" + std::to_string(++n) + ".swmenu", r.text);
    SCOPED_TRACE(path.filename().string());
    std::wstring error;
    EXPECT_EQ(LoadMenuGroup(path, &error), std::nullopt);
    const std::wstring where = path.wstring() + L":" + std::to_wstring(r.line) + L": ";
    EXPECT_EQ(error.substr(0, where.size()), where) << testing::PrintToString(error);
    EXPECT_NE(error.find(r.says), std::wstring::npos) << testing::PrintToString(error);
    EXPECT_FALSE(acedIsMenuGroupLoaded(L"BAD"));
  }
  std::wstring error;
  EXPECT_EQ(LoadMenuGroup(folder_ / "missing.swmenu", &error), std::nullopt);
  EXPECT_EQ(error, (folder_ / "missing.swmenu").wstring() + L": cannot open the menu file");
  EXPECT_EQ(LoadMenuGroup(folder_, &error), std::nullopt);
  EXPECT_EQ(error, folder_.wstring() + L": a folder, not a menu file");
  EXPECT_EQ(BarCount(), 11);
}

TEST_F(Menus, AGroupLoadsOnceAndUnloadsCompletely) {
  LoadVanta();
  // Windows line ends and a byte order mark are fine; the same group name is refused.
  std::wstring error;
  const std::string again = "\xEF\xBB\xBFmenugroup vanta\r\npulldown x \"X\"\r\nend\r\n";
  EXPECT_EQ(LoadMenuGroup(Write("again.swmenu", again), &error), std::nullopt);
  EXPECT_NE(error.find(L"menu group vanta is already loaded"), std::wstring::npos) << error;
  ASSERT_EQ(LoadMenuGroup(Write("other.swmenu",
                                "\xEF\xBB\xBFmenugroup OTHER\r\n"
                                "pulldown x \"&Other\"\r\n"
                                "  item \"One\" \"^C^C_one\"\r\n"
                                "end\r\n"),
                          &error),
            L"OTHER")
      << error;

  ASSERT_EQ(acedMenuCmd(L"P12=+VANTA.pop1"), RTNORM);
  ASSERT_EQ(acedMenuCmd(L"P1=+VANTA.pop2"), RTNORM);
  ASSERT_EQ(acedMenuCmd(L"P14=+OTHER.x"), RTNORM);
  ASSERT_TRUE(ShowToolbar(L"VANTA.tb_vanta", true));
  const auto choice = FindMenuChoice(L"export attributes...");
  ASSERT_TRUE(choice.has_value());
  EXPECT_EQ(choice->help, L"Exports block attributes");
  ASSERT_EQ(MenuChoiceOfCommand(choice->command)->macro, L"^C^C_vanta _export");
  HMENU pop1 = GetSubMenu(GetMenu(adsw_acadMainWnd()), 12);
  ASSERT_TRUE(IsMenu(pop1));

  EXPECT_TRUE(UnloadMenuGroup(L"Vanta"));
  EXPECT_FALSE(acedIsMenuGroupLoaded(L"VANTA"));
  ASSERT_EQ(BarCount(), 12);
  EXPECT_EQ(BarText(0), L"&File");
  EXPECT_EQ(BarText(11), L"&Other");
  EXPECT_FALSE(IsMenu(pop1)) << "the group's menus are destroyed";
  EXPECT_EQ(MenuChoiceOfCommand(choice->command), std::nullopt);
  EXPECT_EQ(MacroOf(L"Export"), std::nullopt) << "its toolbar went too";
  EXPECT_TRUE(VisibleToolbars().empty());
  EXPECT_EQ(MacroOf(L"one"), L"^C^C_one");
  EXPECT_FALSE(UnloadMenuGroup(L"VANTA", &error));
  EXPECT_EQ(error, L"Menu group VANTA is not loaded.");

  // Loaded again, it works again.
  LoadVanta();
  EXPECT_EQ(acedMenuCmd(L"P13=+VANTA.pop1"), RTNORM);
  EXPECT_EQ(MacroOf(L"export attributes..."), L"^C^C_vanta _export");
}

TEST_F(Menus, LabelsAreFoundWithoutMnemonicsAndCase) {
  LoadVanta();
  ASSERT_EQ(acedMenuCmd(L"P12=+VANTA.pop1"), RTNORM);
  struct Row {
    const wchar_t* label;
    const wchar_t* macro;  // null: not found
  };
  const Row rows[] = {
      {L"Export attributes...", L"^C^C_vanta _export"},
      {L"&Export Attributes...", L"^C^C_vanta _export"},
      {L"Export attributes", nullptr},              // not a prefix match
      {L"load...", L"^C^C_vanta _settings _load"},  // in the submenu
      {L"fish & \"chips\"", L"^C^C_fish"},          // "&&" is one '&'
      {L"\u00e4ndern", L"^C^C_vanta _change"},      // non-ASCII case folding
      {L"Settings", nullptr},                       // a submenu has no macro
      {L"Connect", nullptr},                        // pop2 is not on the bar
      {L"Export", nullptr},                         // toolbar hidden
      {L"open...", L"^C^C_open"},                   // the host's, accelerator cut off
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(r.label)));
    const auto macro = MacroOf(r.label);
    if (r.macro == nullptr) {
      EXPECT_EQ(macro, std::nullopt);
    } else {
      EXPECT_EQ(macro, r.macro);
    }
  }
  // A grayed item cannot be chosen; enabled again, it can.
  const auto choice = FindMenuChoice(L"Import attributes...");
  ASSERT_TRUE(choice.has_value());
  HMENU bar = GetMenu(adsw_acadMainWnd());
  EXPECT_EQ(EnableMenuItem(bar, choice->command, MF_BYCOMMAND | MF_GRAYED), MF_ENABLED);
  EXPECT_EQ(MacroOf(L"Import attributes..."), std::nullopt);
  EnableMenuItem(bar, choice->command, MF_BYCOMMAND | MF_ENABLED);
  EXPECT_EQ(MacroOf(L"Import attributes..."), L"^C^C_vanta _import");
}

TEST_F(Menus, ToolbarsShowAndHide) {
  LoadVanta();
  std::wstring error;
  EXPECT_TRUE(VisibleToolbars().empty());
  EXPECT_TRUE(ShowToolbar(L"VANTA.tb_vanta", true, &error)) << error;
  EXPECT_EQ(VisibleToolbars(), std::vector<std::wstring>{L"VANTA.tb_vanta"});
  EXPECT_EQ(MacroOf(L"link now"), L"^C^C_vanta _link");
  EXPECT_TRUE(ShowToolbar(L"TB_VANTA", false));  // a bare name finds it too
  EXPECT_TRUE(VisibleToolbars().empty());
  EXPECT_EQ(MacroOf(L"link now"), std::nullopt);
  EXPECT_TRUE(ShowToolbar(L"ALL", true));
  EXPECT_EQ(VisibleToolbars().size(), 1u);
  const char* shown = "menugroup T2\ntoolbar a \"A\" shown\n button \"x\" \"y\"\nend\n";
  ASSERT_EQ(LoadMenuGroup(Write("t2.swmenu", shown), &error), L"T2") << error;
  EXPECT_EQ(VisibleToolbars(), (std::vector<std::wstring>{L"VANTA.tb_vanta", L"T2.a"}));
  EXPECT_TRUE(ShowToolbar(L"all", false));
  EXPECT_TRUE(VisibleToolbars().empty());
  for (const wchar_t* missing : {L"VANTA.nope", L"NOPE.tb_vanta", L"nope", L"T2.tb_vanta"}) {
    EXPECT_FALSE(ShowToolbar(missing, true, &error));
    EXPECT_EQ(error, L"Toolbar \"" + std::wstring(missing) + L"\" not found.");
  }
  EXPECT_TRUE(VisibleToolbars().empty());
}

TEST_F(Menus, ListShowsTheBarAndEveryLoadedPulldown) {
  LoadVanta();
  ASSERT_EQ(acedMenuCmd(L"P12=+VANTA.pop1"), RTNORM);
  ASSERT_TRUE(ShowToolbar(L"tb_vanta", true));
  HMENU bar = GetMenu(adsw_acadMainWnd());
  const auto import = FindMenuChoice(L"import attributes...");
  ASSERT_TRUE(import.has_value());
  CheckMenuItem(bar, import->command, MF_BYCOMMAND | MF_CHECKED);
  // A pull-down the application put on the bar itself, outside any menu group.
  HMENU own = CreatePopupMenu();
  AppendMenuW(own, MF_STRING, 42, L"&Own item");
  ASSERT_TRUE(AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(own), L"O&wn"));

  const std::wstring list = ListMenus();
  SCOPED_TRACE(testing::PrintToString(list));
  EXPECT_EQ(list.rfind(L"Menu bar:\n  P1   &File              ACAD.pop1\n", 0), 0u);
  EXPECT_NE(list.find(L"  P12  &Vanta             VANTA.pop1\n"), std::wstring::npos);
  EXPECT_NE(list.find(L"  P13  O&wn\n"), std::wstring::npos);
  const std::wstring vanta =
      L"\n&Vanta (VANTA.pop1)\n"
      L"  1  &Export attributes...          ^C^C_vanta _export\n"
      L"  2  &Import attributes...          ^C^C_vanta _import  (checked)\n"
      L"    ----\n"
      L"  3  &Settings >\n"
      L"  3.1  &Load...                     ^C^C_vanta _settings _load\n"
      L"  3.2  Fish && \"Chips\"              ^C^C_fish\n"
      L"  4  &\u00c4ndern                        ^C^C_vanta _change\n";
  EXPECT_NE(list.find(vanta), std::wstring::npos);
  EXPECT_NE(list.find(L"\nO&wn\n  1  &Own item                      (command 42)\n"),
            std::wstring::npos);
  EXPECT_NE(list.find(L"\nLoaded pull-downs not on the menu bar:\n\nVanta &Link (VANTA.pop2)\n"
                      L"  1  &Connect                       ^C^C_vanta _link\n"),
            std::wstring::npos);
  EXPECT_NE(list.find(L"\nToolbar Vanta (VANTA.tb_vanta)\n"
                      L"  1  Export                         ^C^C_vanta _export\n"
                      L"    ----\n"
                      L"  2  Link now                       ^C^C_vanta _link\n"),
            std::wstring::npos);
  // The host's pull-downs are listed on the bar, with their submenus.
  EXPECT_NE(list.find(L"\n&View (ACAD.pop3)\n  1  &Regen"), std::wstring::npos);
  EXPECT_NE(list.find(L"  1  &New...  Ctrl+N                ^C^C_new\n"), std::wstring::npos);
  EXPECT_TRUE(RemoveMenu(bar, 12, MF_BYPOSITION));
  DestroyMenu(own);
}

TEST_F(Menus, RunningOutOfCommandIdsLoadsNothingAndFreesThem) {
  // More items than there are command ids (57344, some taken by the host's menus).
  std::string huge = "menugroup HUGE\npulldown p \"P\"\n";
  for (int i = 0; i < 57344; ++i) huge += "item \"i\" \"m\"\n";
  huge += "end\n";
  std::wstring error;
  EXPECT_EQ(LoadMenuGroup(Write("huge.swmenu", huge), &error), std::nullopt);
  EXPECT_NE(error.find(L"too many menu items loaded"), std::wstring::npos) << error;
  EXPECT_FALSE(acedIsMenuGroupLoaded(L"HUGE"));
  // The ids it took are free again: a group of nearly that size still fits.
  huge = "menugroup BIG\npulldown p \"P\"\n";
  for (int i = 0; i < 57000; ++i) huge += "item \"i\" \"m\"\n";
  huge += "end\n";
  ASSERT_EQ(LoadMenuGroup(Write("big.swmenu", huge), &error), L"BIG") << error;
  ASSERT_EQ(acedMenuCmd(L"P12=+BIG.p"), RTNORM);
  EXPECT_EQ(GetMenuItemCount(GetSubMenu(GetMenu(adsw_acadMainWnd()), 11)), 57000);
  EXPECT_EQ(MacroOf(L"save"), L"^C^C_qsave") << "the host's items keep their ids";
}
