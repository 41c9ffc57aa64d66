// The export's block-name selection and filter dialogs, driven by scripts as a user's script
// drives them: the names offered, the right-click commands, the name pattern, the layers of the
// working drawing, what the filter keeps within one selection and across selections, and the
// process-wide layer filter after OK.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/nvarxapp.h"
#include "drawing/blocknames.h"
#include "drawing/blockrefs.h"
#include "drawing/layerfilter.h"
#include "platform/dialog/console.h"
#include "platform/host/dbapserv.h"
#include "platform/host/dbsymtb.h"
#include "platform/host/docman.h"
#include "platform/host/selection.h"
#include "platform/win/codepage.h"
#include "platform/win/message.h"
#include "platform/win/module.h"
#include "tests/drawing/drawing_test_support.h"
#include "tests/platform/dialog/dialog_test_support.h"
#include "tests/platform/dxf/dxf_test_support.h"
#include "ui/cstr.h"
#include "ui/dlgselnames.h"
#include "ui/selectnames.h"

namespace {

namespace fs = std::filesystem;
using drawing_test::WorkingDrawing;
using Names = std::vector<std::wstring>;

constexpr char kPatternTip[] =
    "\"Examples of using: *, a*, *a, a?b?c\\r  * - it stands for many characters\\r  ? - it "
    "stands for a one character\\r  Case sensitive!\"";

TEST(CStrPattern, MatchesTheWholeNameCharacterByCharacterCaseSensitively) {
  struct Row {
    const wchar_t* name;
    const wchar_t* pattern;
    bool matches;
  };
  const Row rows[] = {
      {L"DOOR", L"*", true},
      {L"DOOR", L"*R", true},
      {L"DOOR", L"*r", false},  // no case folding
      {L"DOOR", L"DOOR", true},
      {L"DOOR", L"DOO", false},  // the whole name must be consumed
      {L"DOOR", L"D?OR", true},
      {L"DOOR", L"D?R", false},  // '?' takes exactly one character
      {L"DOOR", L"D**R", true},  // several '*' act as one
      {L"DOOR", L"*O*O*O*", false},
      {L"DOOR", L"", false},  // an empty pattern matches nothing
      {L"", L"", false},
      {L"", L"*", true},
      {L"abxbyc", L"a*b?c", true},  // the first 'b' must be given back to the '*'
      {L"abxbc", L"a*b?c", false},
      {L"Ventil_Überprüfung", L"*über*", false},  // nor for letters outside ASCII
      {L"Ventil_Überprüfung", L"Ventil_?berpr?fung", true},
      {L"Tür😀", L"Tür?", true},  // one character, beyond the 16-bit range too
      {L"A*B", L"A?B", true},    // a '*' in the name is an ordinary character
      {L"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", L"*a*a*a*a*a*a*a*a*a*c", false},
  };
  for (const Row& row : rows) {
    const CStr name(row.name);
    EXPECT_EQ(name.MatchesPattern(row.pattern), row.matches)
        << testing::PrintToString(std::wstring(row.name)) << " against "
        << testing::PrintToString(std::wstring(row.pattern));
  }
}

// A block of the test drawing: its name and whether it holds an attribute definition.
struct Block {
  std::string name;
  bool attributed;
};

// An AutoCAD R12 drawing with these layers (after "0"), these block definitions, and one
// reference to every block, on the layers in turn.
// The group codes read best a few pairs to a line.
// clang-format off
std::string DrawingText(const std::vector<Block>& blocks, const std::vector<std::string>& layers) {
  std::ostringstream out;
  auto tags = [&out](std::initializer_list<std::pair<int, std::string>> list) {
    for (const auto& [code, value] : list) out << code << "\n" << value << "\n";
  };
  tags({{0, "SECTION"}, {2, "HEADER"}, {9, "$ACADVER"}, {1, "AC1009"}, {9, "$HANDLING"}, {70, "1"},
        {9, "$HANDSEED"}, {5, "FFFF"}, {0, "ENDSEC"}});
  tags({{0, "SECTION"}, {2, "TABLES"}, {0, "TABLE"}, {2, "LAYER"},
        {70, std::to_string(layers.size() + 1)}});
  std::vector<std::string> all_layers = {"0"};
  all_layers.insert(all_layers.end(), layers.begin(), layers.end());
  for (const std::string& layer : all_layers) {
    tags({{0, "LAYER"}, {2, layer}, {70, "0"}, {62, "7"}, {6, "CONTINUOUS"}});
  }
  tags({{0, "ENDTAB"}, {0, "ENDSEC"}, {0, "SECTION"}, {2, "BLOCKS"}});
  for (const Block& block : blocks) {
    tags({{0, "BLOCK"}, {8, "0"}, {2, block.name}, {70, block.attributed ? "2" : "0"}, {10, "0.0"},
          {20, "0.0"}, {30, "0.0"}, {3, block.name}});
    tags({{0, "LINE"}, {8, "0"}, {10, "0.0"}, {20, "0.0"}, {30, "0.0"}, {11, "10.0"}, {21, "0.0"},
          {31, "0.0"}});
    if (block.attributed) {
      tags({{0, "ATTDEF"}, {8, "0"}, {10, "0.0"}, {20, "1.0"}, {30, "0.0"}, {40, "0.5"}, {1, ""},
            {3, "Number?"}, {2, "NUMBER"}, {70, "0"}});
    }
    tags({{0, "ENDBLK"}, {8, "0"}});
  }
  tags({{0, "ENDSEC"}, {0, "SECTION"}, {2, "ENTITIES"}});
  int handle = 0x100;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    std::ostringstream hex;
    hex << std::hex << std::uppercase << handle++;
    tags({{0, "INSERT"}, {5, hex.str()}, {8, all_layers[(i + 1) % all_layers.size()]},
          {2, blocks[i].name}, {10, std::to_string(20.0 * static_cast<double>(i))}, {20, "0.0"},
          {30, "0.0"}});
  }
  tags({{0, "ENDSEC"}, {0, "EOF"}});
  return out.str();
}
// clang-format on

// One `?` listing of a dialog: its caption line and the lines that follow it.
struct Screen {
  std::vector<std::wstring> lines;

  // The line that describes control `id` ("" when the listing has none).
  std::wstring Control(int id) const {
    std::wstring key = std::to_wstring(id);
    key.resize(std::max<std::size_t>(key.size(), 5), L' ');
    key = L"  " + key + L" ";
    for (const std::wstring& line : lines) {
      if (line.starts_with(key)) return line;
    }
    return {};
  }
  // The rows of list `id`, "[x] NAME" for a selected one and "[ ] NAME" for the others.
  Names Rows(int id) const {
    Names rows;
    const std::wstring head = Control(id);
    bool in_list = false;
    for (const std::wstring& line : lines) {
      if (in_list && line.starts_with(L"        [")) {
        std::wstring row = line.substr(8);
        if (const auto focus = row.find(L"  <focus>"); focus != std::wstring::npos) {
          row.erase(focus);
        }
        rows.push_back(row);
        continue;
      }
      in_list = !head.empty() && line == head;
    }
    return rows;
  }
  bool Has(const std::wstring& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
};

std::wstring W(const std::string& text) {
  return drawing_test::Widen(text);
}

// The application's resource library loaded as the host loads it, the dialogs' output kept, and
// the process-wide filter state reset for each test.
class SelectBlockNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_.m_hResource = LoadLibraryW(W(SW_VANTARES).c_str());
    ASSERT_NE(app_.m_hResource, nullptr) << SW_VANTARES << ": " << LoadLibraryErrorText();
    presenter_ = std::make_shared<dialog_test::RecordingPresenter>();
    SetMessageBoxPresenter(presenter_);
    SetDialogOutput([this](std::wstring_view text) { output_ += text; });
    LayerFilterNames.clear();
    LayerFilterOn = false;
    ClearSelection();
  }
  void TearDown() override {
    ClearSelection();
    SetDialogOutput(nullptr);
    SetMessageBoxPresenter(nullptr);
    SetMessageBoxLineSource(nullptr);
    if (app_.m_hResource != nullptr) FreeLibrary(app_.m_hResource);
  }

  // Writes the test drawing and makes it the working drawing.
  void OpenDrawing(const std::vector<Block>& blocks, const std::vector<std::string>& layers = {}) {
    const fs::path file = dir_.path() / "drawing.dxf";
    dxf_test::WriteBytes(file, DrawingText(blocks, layers));
    drawing_ = std::make_unique<WorkingDrawing>(file);
    ASSERT_TRUE(drawing_->ok()) << drawing_->error();
    map_.RemoveAll();
    ASSERT_TRUE(CollectBlockNames(map_));
  }

  // Runs SelectBlockNames on `lines`; the names chosen are appended to `names`.
  bool Select(std::vector<std::string> lines, Names& names) {
    output_.clear();
    source_ = std::make_shared<dialog_test::ScriptSource>(std::move(lines), false);
    SetMessageBoxLineSource(source_);
    return SelectBlockNames(map_, names);
  }
  Names Select(std::vector<std::string> lines) {
    Names names;
    EXPECT_TRUE(Select(std::move(lines), names)) << Output();
    return names;
  }

  // The `?` listings of the last run, in order.
  std::vector<Screen> Screens() const {
    std::vector<Screen> screens;
    std::wistringstream in(output_);
    std::wstring line;
    while (std::getline(in, line)) {
      if (line.starts_with(L"Dialog \"")) {
        screens.emplace_back();
      } else if (!screens.empty()) {
        screens.back().lines.push_back(line);
      }
    }
    std::erase_if(screens, [](const Screen& s) { return s.lines.empty() || s.Control(2).empty(); });
    return screens;
  }
  std::string Output() const { return WideToUtf8(output_); }

  CNvArxApp app_;
  dxf_test::TempDir dir_;
  std::unique_ptr<WorkingDrawing> drawing_;
  BlockNameMap map_;
  std::shared_ptr<dialog_test::RecordingPresenter> presenter_;
  std::shared_ptr<dialog_test::ScriptSource> source_;
  std::wstring output_;
};

const std::vector<Block> kDoorAndTree = {{"DOOR", true}, {"TREE", false}};

TEST_F(SelectBlockNamesTest, OffersTheNamesWithAttributesSelectedAndTheOthersOnRequest) {
  OpenDrawing(kDoorAndTree);
  const Names names = Select(
      {"?", "menu 32777", "?", "menu 32777", "?", "menu 32778", "?", "menu 32778", "?", "ok"});
  const std::vector<Screen> screens = Screens();
  ASSERT_EQ(screens.size(), 5u) << Output();
  EXPECT_NE(screens[0].Control(1005).find(L"columns \"Block name\""), std::wstring::npos);
  EXPECT_EQ(screens[0].Rows(1005), Names({L"[x] DOOR"}));
  EXPECT_TRUE(screens[0].Has(L"  tooltip on 1005: \"Press right mouse button for more options.\""))
      << Output();
  // Show all adds the block without attributes, unselected, once.
  EXPECT_EQ(screens[1].Rows(1005), Names({L"[x] DOOR", L"[ ] TREE"}));
  EXPECT_EQ(screens[2].Rows(1005), Names({L"[x] DOOR", L"[ ] TREE"}));
  EXPECT_EQ(screens[3].Rows(1005), Names({L"[x] DOOR"}));
  EXPECT_EQ(screens[4].Rows(1005), Names({L"[x] DOOR"}));
  EXPECT_EQ(names, Names({L"DOOR"}));
}

TEST_F(SelectBlockNamesTest, MenuCommandsChangeTheSelectionOfEveryRow) {
  OpenDrawing({{"A", true}, {"B", true}, {"C", true}, {"D", true}, {"E", true}, {"F", false}});
  struct Row {
    std::vector<std::string> lines;
    Names chosen;
  };
  const Row rows[] = {
      {{}, {L"A", L"B", L"C", L"D", L"E"}},
      {{"1005 select C", "menu 32776"}, {L"A", L"B", L"D", L"E"}},  // all but the focused row
      {{"1005 select A,C", "menu 32776"}, {L"A", L"B", L"D", L"E"}},
      {{"1005 select B,D", "menu 32774"}, {L"A", L"C", L"E"}},  // inverted
      {{"menu 32774"}, {}},
      {{"menu 32775"}, {}},  // cleared: OK still succeeds, with no names
      {{"1005 select none", "menu 32773"}, {L"A", L"B", L"C", L"D", L"E"}},
      {{"menu 32777", "menu 32773"}, {L"A", L"B", L"C", L"D", L"E", L"F"}},
      {{"menu 32777", "1005 select F,A"}, {L"A", L"F"}},  // list order, not selection order
      {{"menu 32777", "menu 32775", "1005 select F", "menu 32774"}, {L"A", L"B", L"C", L"D", L"E"}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> lines = row.lines;
    lines.push_back("ok");
    EXPECT_EQ(Select(lines), row.chosen) << testing::PrintToString(row.lines) << "\n" << Output();
  }
}

TEST_F(SelectBlockNamesTest, ChosenNamesAreAppendedAndCancelLeavesTheListAlone) {
  OpenDrawing({{"DOOR", true}, {"WINDOW", true}});
  Names names = {L"KEPT"};
  EXPECT_TRUE(Select({"1005 select WINDOW", "ok"}, names));
  EXPECT_EQ(names, Names({L"KEPT", L"WINDOW"}));

  names = {L"KEPT"};
  EXPECT_FALSE(Select({"menu 32775", "cancel"}, names));
  EXPECT_EQ(names, Names({L"KEPT"}));
  // The end of the script cancels too, and so does a filter dialog left open by it.
  EXPECT_FALSE(Select({"1005 select DOOR"}, names));
  EXPECT_FALSE(Select({"menu 1011", "1031 on"}, names));
  EXPECT_EQ(names, Names({L"KEPT"}));
  EXPECT_FALSE(LayerFilterOn);
}

TEST_F(SelectBlockNamesTest, ShowsTheDialogWithTheResourceLibraryAndRestoresTheModules) {
  OpenDrawing(kDoorAndTree);
  const HINSTANCE before = reinterpret_cast<HINSTANCE>(0x1234);
  AfxSetResourceHandle(before);
  const std::size_t depth = acDocManagerPtr()->ResourceDepth();
  EXPECT_EQ(Select({"ok"}), Names({L"DOOR"}));
  EXPECT_EQ(AfxGetResourceHandle(), before);
  EXPECT_EQ(acDocManagerPtr()->ResourceDepth(), depth);

  // Without the resource library the dialog cannot be shown: refused, nothing chosen.
  const HINSTANCE resources = app_.m_hResource;
  app_.m_hResource = nullptr;
  Names names = {L"KEPT"};
  EXPECT_FALSE(Select({"ok"}, names));
  app_.m_hResource = resources;
  EXPECT_EQ(names, Names({L"KEPT"}));
  EXPECT_NE(output_.find(L"dialog 131"), std::wstring::npos) << Output();
  EXPECT_EQ(AfxGetResourceHandle(), before);
  EXPECT_EQ(acDocManagerPtr()->ResourceDepth(), depth);
  AfxSetResourceHandle(nullptr);
}

TEST_F(SelectBlockNamesTest, AnEmptyMapListsNothingAndOkChoosesNoNames) {
  Names names;
  EXPECT_TRUE(Select({"?", "ok"}, names));
  EXPECT_TRUE(names.empty());
  const std::vector<Screen> screens = Screens();
  ASSERT_EQ(screens.size(), 1u) << Output();
  EXPECT_TRUE(screens[0].Rows(1005).empty());
  EXPECT_NE(screens[0].Control(1005).find(L"0 rows"), std::wstring::npos);
}

TEST_F(SelectBlockNamesTest, TheNameFilterListsTheMatchingNamesAllSelected) {
  OpenDrawing({{"DOOR", true},
               {"TREE", false},
               {"DOOR_TAG", true},
               {"Drawer", true},
               {"DESK", false},
               {"WINDOW", true}});
  struct Row {
    std::string pattern;
    bool show_all;
    Names listed;  // all of them selected
  };
  const Row rows[] = {
      {"D*", false, {L"DOOR", L"DOOR_TAG", L"Drawer"}},
      {"D*", true, {L"DOOR", L"DOOR_TAG", L"Drawer", L"DESK"}},  // map order
      {"*r", false, {L"Drawer"}},                                // case-sensitive: not DOOR
      {"*R", false, {L"DOOR"}},
      {"D??R", false, {L"DOOR"}},
      {"????", false, {L"DOOR"}},
      {"????", true, {L"DOOR", L"TREE", L"DESK"}},
      {"*", true, {L"DOOR", L"TREE", L"DOOR_TAG", L"Drawer", L"DESK", L"WINDOW"}},
      {"WINDOWS", true, {}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> lines;
    if (row.show_all) lines.push_back("menu 32777");
    for (const char* line : {"menu 32775", "menu 1011", "1031 on"}) lines.push_back(line);
    lines.push_back("1032 = " + row.pattern);
    for (const char* line : {"ok", "?", "ok"}) lines.push_back(line);
    const Names chosen = Select(lines);
    const std::vector<Screen> screens = Screens();
    ASSERT_EQ(screens.size(), 1u) << Output();
    Names want;
    for (const std::wstring& name : row.listed) want.push_back(L"[x] " + name);
    EXPECT_EQ(screens[0].Rows(1005), want) << row.pattern << (row.show_all ? " (all)" : "");
    EXPECT_EQ(chosen, row.listed) << row.pattern;
  }
}

TEST_F(SelectBlockNamesTest, FilterConfirmedWithoutTheNameFilterSelectsEveryRowOfTheList) {
  OpenDrawing(kDoorAndTree);
  // The list is not rebuilt (TREE stays, as show-all put it there), but all rows are selected.
  EXPECT_EQ(Select({"menu 32777", "menu 32775", "menu 1011", "ok", "?", "ok"}),
            Names({L"DOOR", L"TREE"}));
  EXPECT_EQ(Screens().back().Rows(1005), Names({L"[x] DOOR", L"[x] TREE"}));
  // A pattern typed while the name filter is off does not count.
  EXPECT_EQ(Select({"menu 1011", "1031 on", "1032 = T*", "1031 off", "ok", "ok"}),
            Names({L"DOOR"}));
  // A cancelled filter changes nothing.
  EXPECT_EQ(Select({"menu 32775", "menu 1011", "1031 on", "1032 = X*", "cancel", "ok"}), Names{});
}

TEST_F(SelectBlockNamesTest, ShowAllAfterAFilteredListAddsEveryMissingNameWhateverThePattern) {
  OpenDrawing({{"DOOR", true}, {"TREE", false}, {"WINDOW", true}, {"DESK", false}});
  Select(
      {"menu 1011", "1031 on", "1032 = W*", "ok", "?", "menu 32777", "?", "menu 32778", "?", "ok"});
  const std::vector<Screen> screens = Screens();
  ASSERT_EQ(screens.size(), 3u) << Output();
  EXPECT_EQ(screens[0].Rows(1005), Names({L"[x] WINDOW"}));
  EXPECT_EQ(screens[1].Rows(1005), Names({L"[x] WINDOW", L"[ ] DOOR", L"[ ] TREE", L"[ ] DESK"}));
  EXPECT_EQ(screens[2].Rows(1005), Names({L"[x] WINDOW", L"[ ] DOOR"}));
}

TEST_F(SelectBlockNamesTest, FilterListsTheDrawingsLayersAndSetsTheLayerFilterAtOk) {
  OpenDrawing(kDoorAndTree, {"A", "B", "Walls", "Doors"});
  const Names names =
      Select({"menu 1011", "?", "1005 select A", "1030 on", "?", "1005 select A,B", "ok", "ok"});
  EXPECT_EQ(names, Names({L"DOOR"}));
  const std::vector<Screen> screens = Screens();
  ASSERT_EQ(screens.size(), 2u) << Output();
  const Screen& first = screens[0];
  EXPECT_NE(first.Control(1005).find(L"columns \"Layer name\""), std::wstring::npos);
  EXPECT_EQ(first.Rows(1005), Names({L"[ ] 0", L"[ ] A", L"[ ] B", L"[ ] Walls", L"[ ] Doors"}));
  // Both filters start off, their controls disabled, and the pattern offered is "*".
  EXPECT_NE(first.Control(1005).find(L"[disabled]"), std::wstring::npos);
  EXPECT_NE(first.Control(1030).find(L"\" off"), std::wstring::npos);
  EXPECT_NE(first.Control(1031).find(L"\" off"), std::wstring::npos);
  EXPECT_EQ(first.Control(1032), L"  1032  edit      \"*\" [disabled]");
  EXPECT_TRUE(first.Has(L"  tooltip on 1032: " + W(kPatternTip))) << Output();
  EXPECT_TRUE(first.Has(L"  tooltip on 1031: " + W(kPatternTip))) << Output();
  // The disabled list took no selection; checking 1030 enabled it.
  EXPECT_EQ(screens[1].Control(1005).find(L"[disabled]"), std::wstring::npos);
  EXPECT_EQ(screens[1].Rows(1005), first.Rows(1005));
  EXPECT_EQ(LayerFilterNames, Names({L"A", L"B"}));
  EXPECT_TRUE(LayerFilterOn);

  // The next selection starts afresh, yet the confirmed layer filter stays until the filter
  // dialog is confirmed again.
  Select({"menu 1011", "?", "cancel", "ok"});
  ASSERT_EQ(Screens().size(), 1u) << Output();
  const Screen fresh = Screens()[0];
  EXPECT_EQ(fresh.Rows(1005), first.Rows(1005));
  EXPECT_NE(fresh.Control(1030).find(L"\" off"), std::wstring::npos);
  EXPECT_EQ(fresh.Control(1032), L"  1032  edit      \"*\" [disabled]");
  EXPECT_EQ(LayerFilterNames, Names({L"A", L"B"}));
  EXPECT_TRUE(LayerFilterOn);

  // Confirmed with the layer filter off: off, with the layers then selected kept as names.
  Select({"menu 1011", "1030 on", "1005 select Walls", "1030 off", "ok", "ok"});
  EXPECT_FALSE(LayerFilterOn);
  EXPECT_EQ(LayerFilterNames, Names({L"Walls"}));
  // On with no layer chosen: on, and the names kept before are gone.
  Select({"menu 1011", "1030 on", "ok", "ok"});
  EXPECT_TRUE(LayerFilterOn);
  EXPECT_TRUE(LayerFilterNames.empty());
}

TEST_F(SelectBlockNamesTest, TheFilterKeepsItsStateWithinOneSelection) {
  OpenDrawing({{"DOOR", true}, {"DOOR_TAG", true}, {"WINDOW", true}}, {"A", "B", "C"});
  Select({"menu 1011", "1030 on", "1031 on", "1032 = DOOR*", "1005 select C,A", "ok",  //
          "menu 1011", "?", "ok", "ok"});
  const std::vector<Screen> screens = Screens();
  ASSERT_EQ(screens.size(), 1u) << Output();
  const Screen& again = screens[0];
  EXPECT_NE(again.Control(1030).find(L"\" on"), std::wstring::npos);
  EXPECT_NE(again.Control(1031).find(L"\" on"), std::wstring::npos);
  EXPECT_EQ(again.Control(1005).find(L"[disabled]"), std::wstring::npos);
  EXPECT_EQ(again.Control(1032), L"  1032  edit      \"DOOR*\"");
  EXPECT_EQ(again.Rows(1005), Names({L"[ ] 0", L"[x] A", L"[ ] B", L"[x] C"}));
  // The tooltips were made again for the new window.
  EXPECT_TRUE(again.Has(L"  tooltip on 1032: " + W(kPatternTip))) << Output();
  EXPECT_EQ(LayerFilterNames, Names({L"A", L"C"}));

  // A second OK in the same selection replaces the kept rows; a cancel in between does not.
  Select({"menu 1011", "1030 on", "1005 select B", "ok", "menu 1011", "1005 select C", "cancel",
          "menu 1011", "?", "cancel", "ok"});
  ASSERT_EQ(Screens().size(), 1u) << Output();
  EXPECT_EQ(Screens()[0].Rows(1005), Names({L"[ ] 0", L"[ ] A", L"[x] B", L"[ ] C"}));
  EXPECT_EQ(LayerFilterNames, Names({L"B"}));
}

TEST_F(SelectBlockNamesTest, AfterAFirstCancelThePatternEditIsEmptyAndMatchesNothing) {
  OpenDrawing({{"DOOR", true}, {"WINDOW", true}});
  const Names names = Select({"menu 1011", "cancel", "menu 1011", "?", "1031 on", "ok", "?", "ok"});
  const std::vector<Screen> screens = Screens();
  ASSERT_EQ(screens.size(), 2u) << Output();
  EXPECT_EQ(screens[0].Control(1032), L"  1032  edit      \"\" [disabled]");
  EXPECT_TRUE(screens[1].Rows(1005).empty());
  EXPECT_TRUE(names.empty());
}

TEST_F(SelectBlockNamesTest, SelectionCheckBoxIsShownOnlyWhileBlockReferencesArePicked) {
  OpenDrawing(kDoorAndTree, {"A"});
  Select({"menu 1011", "?", "1033 on", "cancel", "ok"});
  ASSERT_EQ(Screens().size(), 1u) << Output();
  EXPECT_NE(Screens()[0].Control(1033).find(L"[hidden]"), std::wstring::npos);
  EXPECT_NE(output_.find(L"Filter: control 1033 (checkbox) is hidden"), std::wstring::npos)
      << Output();

  // The user picked a reference before the command.
  AcDbObjectId door = drawing_->Id("100");
  ASSERT_FALSE(door.isNull());
  sheetwise::host::SetPickFirst({door});
  ASSERT_EQ(SelectBlockReferences(SelectedBlockRefs), 1);
  const Names names = Select({"menu 1011", "?", "1033 off", "ok", "menu 1011", "?", "ok", "ok"});
  ASSERT_EQ(Screens().size(), 2u) << Output();
  EXPECT_EQ(Screens()[0].Control(1033).find(L"[hidden]"), std::wstring::npos);
  EXPECT_NE(Screens()[0].Control(1033).find(L"\" on"), std::wstring::npos);
  // Turned off, it stays off within this selection, and it changes neither list nor names.
  EXPECT_NE(Screens()[1].Control(1033).find(L"\" off"), std::wstring::npos);
  EXPECT_EQ(names, Names({L"DOOR"}));
}

// F1 opens the right-click menu without a command given ahead, so that the console lists the
// menu with its check marks and reads the command from the next line.
class MenuListingDialog : public CDlgSelNames {
 public:
  using CDlgSelNames::CDlgSelNames;

 protected:
  BOOL OnHelpInfo(HELPINFO*) override {
    OnNameListRightClick();
    return TRUE;
  }
};

TEST_F(SelectBlockNamesTest, MenuMarksFollowTheShowAllFlagAndTheFilterCheckBoxes) {
  OpenDrawing(kDoorAndTree, {"A"});
  struct Row {
    std::vector<std::string> lines;  // before F1
    bool show_all, show_with_attributes, filter;
  };
  const Row rows[] = {
      {{}, false, true, false},
      {{"menu 32777"}, true, false, false},
      {{"menu 32777", "menu 32778"}, false, true, false},
      {{"menu 1011", "1030 on", "ok"}, false, true, true},
      {{"menu 1011", "1031 on", "ok"}, false, true, true},
      {{"menu 1011", "1031 on", "1031 off", "ok"}, false, true, false},
      // A click takes effect at once: Cancel keeps the check boxes as clicked.
      {{"menu 1011", "1031 on", "cancel"}, false, true, true},
      {{"pick", "menu 1011", "cancel"}, false, true, true},  // 1033 set by the picked reference
      {{"pick", "menu 1011", "1033 off", "ok"}, false, true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.lines));
    ClearSelection();
    std::vector<std::string> lines;
    for (const std::string& line : row.lines) {
      if (line == "pick") {
        SelectedBlockRefs.append(drawing_->Id("100"));
      } else {
        lines.push_back(line);
      }
    }
    // F1, then the menu's answer: a command that changes nothing visible.
    lines.insert(lines.end(), {"help", "32773", "ok"});
    output_.clear();
    SetMessageBoxLineSource(std::make_shared<dialog_test::ScriptSource>(lines, false));
    AfxSetResourceHandle(app_.m_hResource);
    MenuListingDialog dialog(nullptr, &map_);
    ASSERT_EQ(dialog.DoModal(), IDOK) << Output();
    AfxSetResourceHandle(nullptr);
    const std::size_t menu = output_.rfind(L"Menu:\n");
    ASSERT_NE(menu, std::wstring::npos) << Output();
    const std::wstring listing = output_.substr(menu);
    auto checked = [&listing](const std::wstring& item) {
      return listing.find(item + L"  [x] ") != std::wstring::npos;
    };
    EXPECT_EQ(checked(L"32777"), row.show_all) << Output();
    EXPECT_EQ(checked(L"32778"), row.show_with_attributes) << Output();
    EXPECT_EQ(checked(L"1011 "), row.filter) << Output();
    EXPECT_FALSE(checked(L"32773"));
    EXPECT_EQ(dialog.IsShowingAll(), row.show_all);
  }
}

TEST_F(SelectBlockNamesTest, WithoutAWorkingDrawingTheFilterListsNoLayersAndOffersStarAgain) {
  OpenDrawing(kDoorAndTree, {"A"});
  drawing_.reset();  // no working drawing: the layer table cannot be opened
  ASSERT_EQ(acdbHostApplicationServices()->workingDatabase(), nullptr);
  Select({"menu 1011", "?", "1032 = X", "cancel", "menu 1011", "?", "1030 on", "ok", "ok"});
  const std::vector<Screen> screens = Screens();
  ASSERT_EQ(screens.size(), 2u) << Output();
  EXPECT_TRUE(screens[0].Rows(1005).empty());
  EXPECT_NE(screens[0].Control(1005).find(L"0 rows"), std::wstring::npos);
  // Never initialised to its end, the filter dialog still offers "*" after the cancel.
  EXPECT_EQ(screens[1].Control(1032), L"  1032  edit      \"*\" [disabled]");
  EXPECT_TRUE(LayerFilterOn);
  EXPECT_TRUE(LayerFilterNames.empty());
}

// ezdxf lists each file's LAYER table in file order. It adds a "Defpoints" layer at the end of
// a drawing that has none: that one is left out.
constexpr char kLayerLister[] = R"(import sys
import ezdxf
for path in sys.argv[1:]:
    try:
        doc = ezdxf.readfile(path)
    except Exception:
        continue
    names = [layer.dxf.name for layer in doc.layers]
    with open(path, "rb") as f:
        if names and names[-1] == "Defpoints" and b"Defpoints" not in f.read():
            names.pop()
    sys.stdout.buffer.write(("FILE\t" + path + "\n").encode())
    for name in names:
        sys.stdout.buffer.write((name + "\n").encode())
)";

TEST_F(SelectBlockNamesTest, ListsTheLayersOfRealDrawingsInTableOrderAsEzdxfSeesThem) {
  if (!dxf_test::HaveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
  std::vector<fs::path> files = dxf_test::DxfFiles(dxf_test::CorpusDir());
  for (const fs::path& f : dxf_test::DxfFiles(dxf_test::SamplesDir())) files.push_back(f);
  ASSERT_FALSE(files.empty());
  const fs::path lister = dir_.path() / "layers.py";
  dxf_test::WriteBytes(lister, kLayerLister);
  std::string command = "/usr/bin/python3 '" + lister.string() + "'";
  for (const fs::path& file : files) command += " '" + file.string() + "'";
  std::string listed;
  ASSERT_EQ(dxf_test::Run(command + " 2>/dev/null", &listed), 0);
  std::map<std::string, Names> expected;
  Names* current = nullptr;
  std::istringstream lines(listed);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("FILE\t")) {
      current = &expected[line.substr(5)];
    } else if (current != nullptr) {
      current->push_back(L"[ ] " + W(line));
    }
  }
  int checked = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    const auto want = expected.find(file.string());
    if (want == expected.end()) continue;  // ezdxf could not read it
    WorkingDrawing drawing(file);
    ASSERT_TRUE(drawing.ok()) << drawing.error();
    map_.RemoveAll();
    Names ignored;
    Select({"menu 1011", "?", "cancel", "cancel"}, ignored);
    ASSERT_EQ(Screens().size(), 1u) << Output();
    EXPECT_EQ(Screens()[0].Rows(1005), want->second);
    ++checked;
  }
  EXPECT_GT(checked, 10);
}

TEST_F(SelectBlockNamesTest, OffersTheAttributedBlocksOfAGeneratedDrawing) {
  if (!drawing_test::HaveGenerator()) GTEST_SKIP() << "gen_drawing.py is not at hand";
  const fs::path generated = dir_.path() / "generated.dxf";
  ASSERT_TRUE(drawing_test::Generate(generated, "--refs 40 --blocks 6 --dynamic 2 --lf"));
  WorkingDrawing drawing(generated);
  ASSERT_TRUE(drawing.ok()) << drawing.error();
  map_.RemoveAll();
  ASSERT_TRUE(CollectBlockNames(map_));
  Names with_attributes;
  Names all;
  for (const BlockNameMap::Entry& e : map_) {
    all.push_back(e.name);
    if (e.has_attributes) with_attributes.push_back(e.name);
  }
  ASSERT_LT(with_attributes.size(), all.size());  // the generator makes one without
  EXPECT_EQ(Select({"ok"}), with_attributes);
  // Show all appends the others after the listed names, in map order.
  Names shown = with_attributes;
  for (const std::wstring& name : all) {
    if (std::find(shown.begin(), shown.end(), name) == shown.end()) shown.push_back(name);
  }
  EXPECT_EQ(Select({"menu 32777", "menu 32773", "ok"}), shown);
  // Names outside ASCII pass through the pattern as single characters.
  EXPECT_EQ(Select({"menu 1011", "1031 on", "1032 = Ventil_?berpr?fung", "ok", "ok"}),
            Names({L"Ventil_Überprüfung"}));
}

}  // namespace
