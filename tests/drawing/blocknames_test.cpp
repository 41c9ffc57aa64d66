// The block names an export offers: read from real drawings and compared with what ezdxf sees,
// the anonymous and layout blocks left out, the message of a drawing without any, and the
// look-up of a typed name.
#include "drawing/blocknames.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/nvarxapp.h"
#include "platform/host/dbapserv.h"
#include "platform/host/docman.h"
#include "platform/win/message.h"
#include "platform/win/module.h"
#include "platform/win/resource.h"
#include "res/resource_ids.h"
#include "tests/drawing/drawing_test_support.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace {

namespace fs = std::filesystem;
using drawing_test::WorkingDrawing;

using Names = std::vector<std::pair<std::wstring, bool>>;

Names NamesOf(const BlockNameMap& map) {
  Names out;
  for (const BlockNameMap::Entry& e : map) out.emplace_back(e.name, e.has_attributes);
  return out;
}

// Records the message boxes instead of asking, with the resource module current at the time.
struct Shown {
  std::wstring text;
  std::wstring caption;
  UINT type;
  HINSTANCE resources;
};
class Recorder : public MessageBoxPresenter {
 public:
  int Present(HWND, std::wstring_view text, std::wstring_view caption, UINT type) override {
    shown.push_back({std::wstring(text), std::wstring(caption), type,
                     acDocManagerPtr()->CurrentResourceHandle()});
    return IDOK;
  }
  std::vector<Shown> shown;
};

// The application as the host loads it: its frame holds the resource library.
class CollectBlockNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_.m_hResource = LoadLibraryW(drawing_test::Widen(SW_VANTARES).c_str());
    ASSERT_NE(app_.m_hResource, nullptr) << SW_VANTARES;
    recorder_ = std::make_shared<Recorder>();
    previous_ = SetMessageBoxPresenter(recorder_);
  }
  void TearDown() override {
    SetMessageBoxPresenter(previous_);
    if (app_.m_hResource != nullptr) FreeLibrary(app_.m_hResource);
  }
  std::wstring ResourceString(UINT id) {
    const wchar_t* text = nullptr;
    const int n = LoadStringW(app_.m_hResource, id, reinterpret_cast<LPWSTR>(&text), 0);
    return n > 0 ? std::wstring(text, n) : std::wstring();
  }

  CNvArxApp app_;
  std::shared_ptr<Recorder> recorder_;
  std::shared_ptr<MessageBoxPresenter> previous_;
};

TEST_F(CollectBlockNamesTest, ListsTheNamedBlocksOfRealDrawingsInBlockTableOrderAsEzdxfSeesThem) {
  if (!dxf_test::HaveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
  const std::vector<fs::path> files = drawing_test::RealDrawings();
  ASSERT_FALSE(files.empty());
  const auto expected = drawing_test::EzdxfView("blocks", files);
  ASSERT_EQ(expected.size(), files.size()) << "ezdxf could not read every drawing";
  int with_names = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    Names want;
    for (const auto& row : expected.at(file.string())) want.emplace_back(row[0], row[1] == L"1");
    WorkingDrawing drawing(file);
    ASSERT_TRUE(drawing.ok()) << drawing.error();
    recorder_->shown.clear();
    BlockNameMap map;
    ASSERT_TRUE(CollectBlockNames(map));
    EXPECT_EQ(NamesOf(map), want);
    // The message comes exactly when nothing can be exported.
    EXPECT_EQ(recorder_->shown.size(), want.empty() ? 1u : 0u);
    if (!want.empty()) ++with_names;
  }
  EXPECT_GT(with_names, 10);
}

TEST_F(CollectBlockNamesTest, LeavesOutDynamicBlockVariantsAndEveryLayoutBlockByItsFirst12Letters) {
  if (!drawing_test::HaveGenerator()) GTEST_SKIP() << "gen_drawing.py is not at hand";
  dxf_test::TempDir dir;
  const fs::path generated = dir.path() / "generated.dxf";
  ASSERT_TRUE(drawing_test::Generate(generated, "--refs 80 --blocks 6 --dynamic 3 --lf"));
  {
    WorkingDrawing drawing(generated);
    ASSERT_TRUE(drawing.ok()) << drawing.error();
    BlockNameMap map;
    ASSERT_TRUE(CollectBlockNames(map));
    // Six named definitions (one without attributes); the three dynamic blocks' *U variants
    // and the layouts' *Paper_Space and *Paper_Space0 are not among them.
    const Names want = {
        {L"ROOM_TAG", true},           {L"DOOR_TAG", true},
        {L"Ventil_Überprüfung", true}, {L"EQUIPMENT_TAG", true},
        {L"NORTH_ARROW", false},       {L"TITLE_BLOCK_A1_ELECTRICAL_DISTRIBUTION", true}};
    EXPECT_EQ(NamesOf(map), want);
    EXPECT_TRUE(recorder_->shown.empty());
  }
  // The same drawing with blocks renamed (definition, record and references alike).
  std::string text = dxf_test::ReadBytes(generated);
  auto rename = [&text](const std::string& from, const std::string& to) {
    std::string pattern = "\n" + from + "\n";
    for (std::size_t at = text.find(pattern); at != std::string::npos;
         at = text.find(pattern, at + to.size()))
      text.replace(at, pattern.size(), "\n" + to + "\n");
  };
  rename("ROOM_TAG", "*Paper_SpaceArchive");   // 12 letters match: a layout block
  rename("DOOR_TAG", "$PAPER_SPACE7");         // the R12 spelling
  rename("EQUIPMENT_TAG", "$Paper_Spac");      // 11 letters: too short to match
  rename("NORTH_ARROW", "PAPER_SPACE_NORTH");  // no leading mark: an ordinary name
  const fs::path renamed = dir.path() / "renamed.dxf";
  dxf_test::WriteBytes(renamed, text);
  WorkingDrawing drawing(renamed);
  ASSERT_TRUE(drawing.ok()) << drawing.error();
  BlockNameMap map;
  ASSERT_TRUE(CollectBlockNames(map));
  const Names want = {{L"Ventil_Überprüfung", true},
                      {L"$Paper_Spac", true},
                      {L"PAPER_SPACE_NORTH", false},
                      {L"TITLE_BLOCK_A1_ELECTRICAL_DISTRIBUTION", true}};
  EXPECT_EQ(NamesOf(map), want);
}

TEST_F(CollectBlockNamesTest, DrawingWithoutNamedBlocksShowsTheMessageWithTheResourceLibrary) {
  const std::size_t depth = acDocManagerPtr()->ResourceDepth();
  {
    // A new drawing holds model space and one paper space only.
    AcDbDatabase db(true, true);
    acdbHostApplicationServices()->setWorkingDatabase(&db);
    BlockNameMap map;
    EXPECT_TRUE(CollectBlockNames(map)) << "an empty map is no failure";
    acdbHostApplicationServices()->setWorkingDatabase(nullptr);
    EXPECT_TRUE(map.IsEmpty());
    ASSERT_EQ(recorder_->shown.size(), 1u);
    const Shown& box = recorder_->shown[0];
    EXPECT_EQ(box.text, ResourceString(res::kNoExportableBlocks));
    EXPECT_EQ(box.caption, ResourceString(res::kErrorCaption));
    EXPECT_FALSE(box.text.empty());
    EXPECT_EQ(box.type, MB_ICONERROR);
    EXPECT_EQ(box.resources, app_.m_hResource) << "the resource library is current meanwhile";
    EXPECT_EQ(acDocManagerPtr()->ResourceDepth(), depth);
  }
  // No drawing: a failure, without a message, the resource stack as it was.
  recorder_->shown.clear();
  BlockNameMap map;
  map.SetAt(L"KEPT", true);
  EXPECT_FALSE(CollectBlockNames(map));
  EXPECT_EQ(NamesOf(map), (Names{{L"KEPT", true}}));
  EXPECT_TRUE(recorder_->shown.empty());
  EXPECT_EQ(acDocManagerPtr()->ResourceDepth(), depth);
}

TEST(BlockNameMap, KeepsKeysAsStoredInTheOrderTheyCame) {
  BlockNameMap map;
  map.SetAt(L"Zeta", false);
  map.SetAt(L"alpha", true);
  map.SetAt(L"ALPHA", false);
  map[L"Zeta"] = true;  // a known key keeps its place
  EXPECT_EQ(NamesOf(map), (Names{{L"Zeta", true}, {L"alpha", true}, {L"ALPHA", false}}));
  bool flag = false;
  EXPECT_TRUE(map.Lookup(L"alpha", flag));
  EXPECT_TRUE(flag);
  flag = true;
  EXPECT_FALSE(map.Lookup(L"Alpha", flag)) << "keys compare as stored";
  EXPECT_TRUE(flag) << "left unchanged";
  EXPECT_EQ(map.GetCount(), 3);
  map.RemoveAll();
  EXPECT_TRUE(map.IsEmpty());
  EXPECT_FALSE(map.Lookup(L"Zeta", flag));
}

TEST(IsBlockNameKnown, FindsTypedNamesIgnoringCaseOfEveryAlphabet) {
  BlockNameMap map;
  for (const wchar_t* name : {L"DOOR", L"Ärmel", L"Straße", L"ΣΧΕΔΙΟ", L"Дверь", L"窓"})
    map.SetAt(name, false);
  struct Row {
    const wchar_t* typed;
    bool known;
  };
  const Row rows[] = {
      {L"DOOR", true},   {L"door", true},   {L"dOoR", true},     {L"ÄRMEL", true},
      {L"ärmel", true},  {L"armel", false}, {L"STRASSE", false}, {L"STRAßE", true},
      {L"σχεδιο", true}, {L"ДВЕРЬ", true},  {L"窓", true},       {L"DOOR ", false},
      {L"DOO", false},   {L"", false},      {nullptr, false},
  };
  for (const Row& row : rows)
    EXPECT_EQ(IsBlockNameKnown(row.typed, map), row.known)
        << (row.typed != nullptr ? row.typed : L"(null)");
  EXPECT_FALSE(IsBlockNameKnown(L"DOOR", BlockNameMap()));
}

}  // namespace
