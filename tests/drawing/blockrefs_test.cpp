// The picked block references: the pick-first set filtered to block references, the user's
// selection when there is none, cancelling, and the list that grows until it is cleared.
#include "drawing/blockrefs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/host/adscodes.h"
#include "platform/host/selection.h"
#include "tests/drawing/drawing_test_support.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace {

namespace fs = std::filesystem;
using drawing_test::ScriptedInput;
using drawing_test::WorkingDrawing;

constexpr int kRefs = 50;

std::vector<AcDbObjectId> Ids(const AcDbObjectIdArray& array) {
  return std::vector<AcDbObjectId>(array.begin(), array.end());
}

// The entities of the drawing's spaces of DXF type `type`, in drawing order.
std::vector<AcDbObjectId> AllOfType(const wchar_t* type) {
  resbuf filter{nullptr, 0, {}};
  filter.resval.rstring = const_cast<ACHAR*>(type);
  ads_name ss;
  std::vector<AcDbObjectId> out;
  if (acedSSGet(L"_X", nullptr, nullptr, &filter, ss) != RTNORM) return out;
  Adesk::Int32 n = 0;
  acedSSLength(ss, &n);
  for (Adesk::Int32 i = 0; i < n; ++i) {
    ads_name e;
    AcDbObjectId id;
    if (acedSSName(ss, i, e) == RTNORM && acdbGetObjectId(id, e) == Acad::eOk) out.push_back(id);
  }
  acedSSFree(ss);
  return out;
}

class SelectBlockReferencesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!drawing_test::HaveGenerator()) GTEST_SKIP() << "gen_drawing.py is not at hand";
    path_ = dir_.path() / "picked.dxf";
    ASSERT_TRUE(drawing_test::Generate(path_, "--refs " + std::to_string(kRefs) + " --other 20"));
    ClearSelection();
  }
  void TearDown() override { ClearSelection(); }

  dxf_test::TempDir dir_;
  fs::path path_;
};

TEST_F(SelectBlockReferencesTest, PickFirstSetGivesItsBlockReferencesOnlyAndEveryCallAppends) {
  WorkingDrawing drawing(path_);
  ASSERT_TRUE(drawing.ok()) << drawing.error();
  const std::vector<AcDbObjectId> refs = AllOfType(L"INSERT");
  const std::vector<AcDbObjectId> lines = AllOfType(L"LINE");
  const std::vector<AcDbObjectId> circles = AllOfType(L"CIRCLE");
  ASSERT_EQ(refs.size(), static_cast<std::size_t>(kRefs));
  ASSERT_FALSE(lines.empty());
  ASSERT_FALSE(circles.empty());

  sheetwise::host::SetPickFirst({lines[0], refs[7], circles[0], refs[3], lines.back(), refs[40]});
  ScriptedInput nobody({});  // the user is not asked
  EXPECT_EQ(SelectBlockReferences(SelectedBlockRefs), 3);
  EXPECT_EQ(Ids(SelectedBlockRefs), (std::vector<AcDbObjectId>{refs[7], refs[3], refs[40]}));
  // Without a clear in between, the same references come again.
  EXPECT_EQ(SelectBlockReferences(SelectedBlockRefs), 3);
  EXPECT_EQ(Ids(SelectedBlockRefs),
            (std::vector<AcDbObjectId>{refs[7], refs[3], refs[40], refs[7], refs[3], refs[40]}));
  EXPECT_EQ(nobody.output, L"");
  ClearSelection();
  EXPECT_TRUE(SelectedBlockRefs.isEmpty());
}

TEST_F(SelectBlockReferencesTest, WithoutPickedReferencesTheUserSelectsAndMayCancel) {
  WorkingDrawing drawing(path_);
  ASSERT_TRUE(drawing.ok()) << drawing.error();
  const std::vector<AcDbObjectId> refs = AllOfType(L"INSERT");
  const std::vector<AcDbObjectId> lines = AllOfType(L"LINE");
  ASSERT_EQ(refs.size(), static_cast<std::size_t>(kRefs));
  ASSERT_FALSE(lines.empty());
  const std::wstring ref5 = refs[5].handle().text();
  const std::wstring ref9 = refs[9].handle().text();
  const std::wstring line = lines[0].handle().text();
  {
    // A pick-first set of lines only does not count: the user is asked. The same reference
    // picked twice is one member; the line picked with them is dropped.
    sheetwise::host::SetPickFirst({lines[0]});
    ScriptedInput user({ref9, ref5 + L" " + line, ref9, L""});
    EXPECT_EQ(SelectBlockReferences(SelectedBlockRefs), 2);
    EXPECT_EQ(Ids(SelectedBlockRefs), (std::vector<AcDbObjectId>{refs[9], refs[5]}));
    EXPECT_TRUE(user.output.starts_with(L"Select objects: ")) << user.output;
  }
  sheetwise::host::SetPickFirst({});
  {
    // Everything: every block reference of model space and the layouts.
    ScriptedInput user({L"ALL", L""});
    EXPECT_EQ(SelectBlockReferences(SelectedBlockRefs), kRefs);
    ASSERT_EQ(SelectedBlockRefs.length(), kRefs + 2);
    EXPECT_EQ(std::vector<AcDbObjectId>(SelectedBlockRefs.begin() + 2, SelectedBlockRefs.end()),
              refs);
  }
  const std::vector<AcDbObjectId> before = Ids(SelectedBlockRefs);
  // Cancelled, the input ended, or only a line picked: nothing appended.
  for (const std::vector<std::wstring>& lines_typed :
       {std::vector<std::wstring>{ref5, L"\x1b"}, std::vector<std::wstring>{ref5},
        std::vector<std::wstring>{line, L""}}) {
    ScriptedInput user(lines_typed);
    EXPECT_EQ(SelectBlockReferences(SelectedBlockRefs), 0);
    EXPECT_EQ(Ids(SelectedBlockRefs), before);
  }
}

TEST(SelectBlockReferences, WithoutADrawingSelectsNothing) {
  AcDbObjectIdArray list;
  ScriptedInput user({L"ALL", L""});
  EXPECT_EQ(SelectBlockReferences(list), 0);
  EXPECT_TRUE(list.isEmpty());
}

}  // namespace
