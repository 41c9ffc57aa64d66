// The custom controls in dialogs driven by scripts: the number spin's decimals and range rules,
// the menu button's menu, and a link that cannot be opened.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include <unistd.h>

#include "platform/win/registry.h"
#include "tests/platform/dialog/dialog_test_support.h"
#include "ui/hyperlink.h"
#include "ui/menubutton.h"
#include "ui/numspin.h"

namespace {

using dialog_test::DialogTest;

// Template 212: edit 1005 "2" with up-down 1007.
class SpinDialog : public CDialog {
 public:
  SpinDialog(double step, double lower, double upper, const wchar_t* start)
      : CDialog(212), step_(step), lower_(lower), upper_(upper), start_(start) {}
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    spin.SendMessage(UDM_SETBASE, 10);
    spin.SetStep(step_);
    spin.SetValueRange(lower_, upper_);
    SetDlgItemText(1005, start_);
    return TRUE;
  }
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, 1007, spin); }
  void OnOK() override {
    text = GetDlgItemText(1005);
    value = spin.GetValue();
    int lower = 0;
    int upper = 0;
    spin.GetRange32(lower, upper);
    own_range = {lower, upper};
    position = static_cast<int>(spin.SendMessage(UDM_GETPOS32));
    EndDialog(IDOK);
  }
  CNvNumSpinCtrl spin;
  std::wstring text;
  double value = -1;
  std::pair<int, int> own_range;
  int position = -1;

 private:
  double step_, lower_, upper_;
  const wchar_t* start_;
};

TEST_F(DialogTest, NumberSpinStepsTheBuddysNumberWithinItsRange) {
  struct Row {
    double step, lower, upper;
    const wchar_t* start;
    std::vector<std::string> clicks;
    const wchar_t* shown;
  };
  const Row rows[] = {
      {0.5, 0, 100, L"2", {"up"}, L"2.5"},
      {0.5, 0, 100, L"2", {"up", "up"}, L"3.0"},  // one decimal, once shown, stays
      {1, 1, 65536, L"65536", {"up"}, L"65536"},  // held at the upper bound
      {1, 1, 65536, L"1", {"down"}, L"1"},        // and at the lower
      {1, 0, 100, L"abc", {"up"}, L"1"},          // not a number: from 0
      {0.25, 3, 100, L"abc", {"up"}, L"3"},       // ... or the lower bound
      {1, 10, 5, L"7", {"up"}, L"10"},            // lower above upper: lower wins
      {0.001, 0, 10, L"1", {"up", "down"}, L"1.000"},
      {2.5, -10, 10, L"-1", {"down", "down"}, L"-6.0"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> lines;
    for (const auto& click : row.clicks) lines.push_back("1007 " + click);
    lines.push_back("ok");
    Script(lines);
    SpinDialog dlg(row.step, row.lower, row.upper, row.start);
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.text, row.shown) << "start " << testing::PrintToString(row.start) << ", "
                                   << row.clicks.size() << " clicks, step " << row.step;
  }
}

TEST_F(DialogTest, NumberSpinKeepsItsOwnPositionNearTheMiddle) {
  std::vector<std::string> lines(600, "1007 up");
  lines.push_back("ok");
  Script(lines);
  SpinDialog dlg(1, 0, 1e9, L"0");
  ASSERT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.text, L"600");  // the control's own range never stopped a click
  EXPECT_EQ(dlg.value, 600.0);
  EXPECT_EQ(dlg.own_range, std::make_pair(0, 1000));
  EXPECT_GT(dlg.position, 0);
  EXPECT_LT(dlg.position, 1000);
}

TEST(NumSpinFormat, DecimalsOnlyGrow) {
  struct Row {
    double value;
    const wchar_t* shown;
    int decimals;
  };
  // One control, values in this order.
  const Row rows[] = {
      {2, L"2", 0},
      {2.5, L"2.5", 1},
      {3, L"3.0", 1},
      {0.125, L"0.125", 3},
      {7, L"7.000", 3},
      {-1.5, L"-1.500", 3},
      {1e-5, L"0.000", 3},      // "%g" gives "1e-05": no '.', no more decimals
      {1.5e-7, L"0.00000", 5},  // "1.5e-07": the five characters after '.' count
      {123456, L"123456.00000", 5},
  };
  CNvNumSpinCtrl spin;
  for (const Row& row : rows) {
    EXPECT_EQ(spin.FormatValue(row.value), row.shown) << row.value;
    EXPECT_EQ(spin.Decimals(), row.decimals) << row.value;
  }
  // "%g" of 1e-5 has no '.': a fresh control shows no decimals for it.
  EXPECT_EQ(CNvNumSpinCtrl().FormatValue(1e-5), L"0");
}

// Template 201's button 3 drops down menu 300.
class MenuButtonDialog : public CDialog {
 public:
  explicit MenuButtonDialog(UINT menu) : CDialog(201), menu_(menu) {
    MapCommand(3, [this] { chosen.push_back(button.ShowMenu(menu_)); });
  }
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, 3, button); }
  CNvMenuButton button;
  std::vector<UINT> chosen;

 private:
  UINT menu_;
};

TEST_F(DialogTest, MenuButtonReturnsTheChosenCommandOrZero) {
  Script({"3", "32771", "3", "", "3", "&save to file...", "3", "save to file...", "ok"});
  MenuButtonDialog dlg(300);
  ASSERT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.chosen, (std::vector<UINT>{32771, 0, 0, 32772}));

  Script({"3", "ok"});
  MenuButtonDialog broken(350);
  ASSERT_EQ(broken.DoModal(), IDOK);
  EXPECT_EQ(broken.chosen, (std::vector<UINT>{0}));
  EXPECT_TRUE(Printed(L"error: menu 350, line 2: this POPUP has no END"));
}

// Template 211: link 1018 without text, link 1020 centred.
class AboutDialog : public CDialog {
 public:
  explicit AboutDialog(const wchar_t* target) : CDialog(211) { link.SetLinkTarget(target); }
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Control(dx, 1018, link);
    DDX_Control(dx, 1020, centred);
  }
  void OnCancel() override {
    visited = link.GetVisitedState();
    colour = link.TextColor();
    style = link.GetStyle();
    GetDlgItem(1020)->GetWindowRect(&centred_rect);
    GetWindowRect(&dialog_rect);
    CDialog::OnCancel();
  }
  CHyperLink link;
  CHyperLink centred;
  bool visited = true;
  COLORREF colour = 0;
  DWORD style = 0;
  RECT centred_rect{};
  RECT dialog_rect{};
};

std::vector<UINT> beeps;
BOOL RecordBeep(UINT type) {
  beeps.push_back(type);
  return TRUE;
}

class HyperLinkTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    // A store of our own, so that no ".htm" command of another test is found, and an opener
    // that does not exist, so that no browser ever opens.
    folder_ =
        std::filesystem::temp_directory_path() / ("sw_hyperlink_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    const char* old = std::getenv("XDG_CONFIG_HOME");
    old_config_ = old ? old : "";
    ::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
    ::setenv("SHEETWISE_OPENER", "sheetwise-no-such-opener", 1);
    beeps.clear();
    old_beep_ = CHyperLink::SetBeepFunction(&RecordBeep);
  }
  void TearDown() override {
    CHyperLink::SetBeepFunction(old_beep_);
    ::unsetenv("SHEETWISE_OPENER");
    if (old_config_.empty()) {
      ::unsetenv("XDG_CONFIG_HOME");
    } else {
      ::setenv("XDG_CONFIG_HOME", old_config_.c_str(), 1);
    }
    std::filesystem::remove_all(folder_);
    DialogTest::TearDown();
  }
  void RegisterHtm(const wchar_t* command) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L".htm", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t kClass[] = L"htmlfile";
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kClass), sizeof kClass);
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"htmlfile\\shell\\open\\command", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                   static_cast<DWORD>((wcslen(command) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }
  std::filesystem::path folder_;
  std::string old_config_;
  CHyperLink::BeepFunction old_beep_ = nullptr;
};

TEST_F(HyperLinkTest, ALinkThatCannotBeOpenedBeepsAndSaysWhy) {
  Script({"1018", "cancel"});
  AboutDialog dlg(L"https://example.com/sheetwise");
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(beeps, (std::vector<UINT>{MB_ICONEXCLAMATION}));
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text,
            L"Unable to open hyperlink:\n\nThere is no application associated\n"
            L"with the given filename extension.");
  EXPECT_EQ(Boxes()[0].type & MB_ICONMASK, MB_ICONEXCLAMATION);
  EXPECT_NE(Boxes()[0].owner, nullptr);
  EXPECT_FALSE(dlg.visited);
  EXPECT_EQ(dlg.colour, 0x00EE0000u);  // still the link colour
}

TEST_F(HyperLinkTest, TheRegisteredBrowserCommandIsTheFallback) {
  RegisterHtm(L"\"/nonexistent/browser\" \"%1\"");
  // WinExec's result: the browser's folder does not exist.
  EXPECT_EQ(CHyperLink::OpenLink(L"https://example.com", SW_SHOW), 3);

  RegisterHtm(L"/bin/true %1 --new-window");
  EXPECT_GT(CHyperLink::OpenLink(L"https://example.com", SW_SHOW), 32);

  Script({"1018", "cancel"});
  AboutDialog dlg(L"https://example.com");
  dlg.DoModal();
  EXPECT_TRUE(beeps.empty());
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(dlg.visited);
  EXPECT_EQ(dlg.colour, 0x008B1A55u);
}

TEST_F(HyperLinkTest, AnEmptyLinkShowsItsTargetAndFitsItsText) {
  Script({"?", "cancel"});
  AboutDialog dlg(L"https://example.com");
  dlg.DoModal();
  EXPECT_TRUE(Printed(L"  1018  static    \"https://example.com\" (link)\n")) << output_;
  EXPECT_TRUE(Printed(L"  tooltip on 1018: \"https://example.com\"\n"));
  EXPECT_EQ(dlg.style & SS_NOTIFY, SS_NOTIFY);
  // "Product page" (12 characters) centred in its 200 pixels: 36 pixels off each side.
  EXPECT_EQ(dlg.centred_rect.left - dlg.dialog_rect.left, 10 + (200 - 72) / 2);
  EXPECT_EQ(dlg.centred_rect.right - dlg.centred_rect.left, 72);
}

TEST(HyperLinkText, ErrorsReadAsTheTableHasThem) {
  struct Row {
    int result;
    const wchar_t* text;
  };
  const Row rows[] = {
      {0, L"The operating system is out\nof memory or resources."},
      {2, L"The specified file was not found."},
      {5, L"The operating system denied\naccess to the specified file."},
      {26, L"A sharing violation occurred. "},
      {31, L"There is no application associated\nwith the given filename extension."},
      {32, L"The specified dynamic-link library was not found."},
      {4, L"Unknown Error (4) occurred."},
      {-7, L"Unknown Error (-7) occurred."},
  };
  for (const Row& row : rows) EXPECT_EQ(CHyperLink::ErrorText(row.result), row.text) << row.result;
}

}  // namespace
