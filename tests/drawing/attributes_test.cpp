// The attributes of block references, in block definition order: compared with what ezdxf
// reads from real and generated drawings, and the cases a changed block definition or an
// edited reference leaves behind.
#include "drawing/attributes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/host/dbents.h"
#include "platform/host/dbsymtb.h"
#include "tests/drawing/drawing_test_support.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace {

namespace fs = std::filesystem;
using drawing_test::WorkingDrawing;

struct Att {
  std::wstring tag, prompt, value;
  bool constant;
  bool operator==(const Att&) const = default;
};

void PrintTo(const Att& a, std::ostream* os) {
  *os << testing::PrintToString(a.tag) << "/" << testing::PrintToString(a.prompt) << "="
      << testing::PrintToString(a.value) << (a.constant ? " const" : "");
}

std::vector<Att> Plain(const AttInfoArray& list) {
  std::vector<Att> out;
  for (const AttInfo& a : list) out.push_back({a.tag, a.prompt, a.value, a.isConstant});
  return out;
}

// CollectAttributes on the reference `id`; false when it cannot be opened or collection fails.
bool Collect(AcDbObjectId id, AttInfoArray& list) {
  AcDbBlockReference* ref = nullptr;
  if (acdbOpenObject(ref, id, AcDb::kForRead) != Acad::eOk) return false;
  const bool ok = CollectAttributes(ref, list);
  ref->close();
  return ok;
}

struct Reference {
  std::string handle;
  std::vector<Att> atts;
};

std::vector<Reference> References(const drawing_test::Rows& rows) {
  std::vector<Reference> out;
  for (const auto& row : rows) {
    if (row.size() == 3 && row[0] == L"REF") {
      out.push_back({std::string(row[1].begin(), row[1].end()), {}});
    } else if (!out.empty() && row.size() == 4) {
      out.back().atts.push_back({row[0], row[1], row[2], row[3] == L"1"});
    }
  }
  return out;
}

TEST(CollectAttributes, GivesWhatEzdxfReadsForEveryReferenceOfRealAndGeneratedDrawings) {
  if (!dxf_test::HaveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
  dxf_test::TempDir dir;
  std::vector<fs::path> files = drawing_test::RealDrawings();
  if (drawing_test::HaveGenerator()) {
    files.push_back(dir.path() / "generated.dxf");
    ASSERT_TRUE(drawing_test::Generate(files.back(), "--refs 400 --blocks 10 --dynamic 3"));
  }
  const auto expected = drawing_test::EzdxfView("attribs", files);
  ASSERT_EQ(expected.size(), files.size()) << "ezdxf could not read every drawing";
  std::size_t compared = 0, with_values = 0, with_constants = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    WorkingDrawing drawing(file);
    ASSERT_TRUE(drawing.ok()) << drawing.error();
    // Each block's definitions read for every reference, and read once for the whole drawing
    // as an export does: the same lists (dynamic blocks' anonymous variants have their own).
    for (const bool reuse : {false, true}) {
      SCOPED_TRACE(reuse ? "definitions reused" : "definitions read each time");
      std::optional<AttributeDefinitionsReuse> reusing;
      if (reuse) reusing.emplace();
      for (const Reference& ref : References(expected.at(file.string()))) {
        const AcDbObjectId id = drawing.Id(ref.handle);
        ASSERT_FALSE(id.isNull()) << "no object " << ref.handle;
        AttInfoArray list;
        ASSERT_TRUE(Collect(id, list)) << ref.handle;
        EXPECT_EQ(Plain(list), ref.atts) << ref.handle;
        if (reuse) continue;
        ++compared;
        for (const Att& a : ref.atts) {
          if (a.constant) ++with_constants;
          if (!a.value.empty()) ++with_values;
        }
      }
    }
  }
  EXPECT_GT(compared, 1000u);
  EXPECT_GT(with_values, 500u);
  EXPECT_GT(with_constants, 0u);
}

class AttributeEdgeCases : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!dxf_test::HaveEzdxf()) GTEST_SKIP() << "ezdxf is not installed";
    path_ = dir_.path() / "edge.dxf";
    ASSERT_TRUE(drawing_test::MakeEdgeCaseDrawing(path_));
    const auto view = drawing_test::EzdxfView("attribs", {path_});
    ASSERT_EQ(view.size(), 1u);
    refs_ = References(view.begin()->second);
    ASSERT_EQ(refs_.size(), 6u);
  }

  dxf_test::TempDir dir_;
  fs::path path_;
  std::vector<Reference> refs_;  // in the order ezdxf_view.py's edge-cases inserts them
};

TEST_F(AttributeEdgeCases, DefinitionsInOrderValuedByTheReferencesFirstAttributes) {
  WorkingDrawing drawing(path_);
  ASSERT_TRUE(drawing.ok()) << drawing.error();
  struct Case {
    const char* what;
    std::vector<Att> want;
  };
  const Case cases[] = {
      {"a block without attribute definitions", {}},
      {"tags in other letter cases, non-ASCII ones too",
       {{L"NUMBER", L"Room number", L"101", false},
        {L"KIND", L"", L"office", true},
        {L"Name", L"Room name", L"Büro", false},
        {L"RAUMNUTZUNG_Ä", L"Nutzung", L"Lager", false}}},
      {"an attribute the reference lacks keeps the default",
       {{L"NUMBER", L"Room number", L"102", false},
        {L"KIND", L"", L"office", true},
        {L"Name", L"Room name", L"unnamed", false},
        {L"RAUMNUTZUNG_Ä", L"Nutzung", L"Flur", false}}},
      {"duplicate tags all take the last attribute with it",
       {{L"DUP", L"", L"second", false},
        {L"OTHER", L"", L"x", false},
        {L"DUP", L"", L"second", false}}},
      {"attributes beyond the number of definitions update nothing",
       {{L"A", L"", L"a1", false}, {L"B", L"", L"b-default", false}}},
      {"an attribute answers a constant definition too",
       {{L"NUMBER", L"Room number", L"000", false},
        {L"KIND", L"", L"lab", true},
        {L"Name", L"Room name", L"unnamed", false},
        {L"RAUMNUTZUNG_Ä", L"Nutzung", L"-", false}}},
  };
  for (std::size_t i = 0; i < refs_.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    EXPECT_EQ(refs_[i].atts, cases[i].want) << "ezdxf's reading";
    AttInfoArray list;
    ASSERT_TRUE(Collect(drawing.Id(refs_[i].handle), list));
    EXPECT_EQ(Plain(list), cases[i].want);
  }

  // Entries already in the list stay as they are; the new ones follow.
  AttInfoArray list{{L"NUMBER", L"kept", L"kept", false}};
  ASSERT_TRUE(Collect(drawing.Id(refs_[1].handle), list));
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[0].value, L"kept");
  EXPECT_EQ(list[1].value, L"101");

  // Nothing stays open: the block record and the attributes open for write afterwards.
  AcDbBlockReference* ref = nullptr;
  ASSERT_EQ(acdbOpenObject(ref, drawing.Id(refs_[1].handle), AcDb::kForRead), Acad::eOk);
  const AcDbObjectId block = ref->blockTableRecord();
  std::vector<AcDbObjectId> attributes;
  AcDbObjectIterator* it = ref->attributeIterator();
  for (it->start(); !it->done(); it->step()) attributes.push_back(it->objectId());
  delete it;
  ref->close();
  AcDbBlockTableRecord* record = nullptr;
  ASSERT_EQ(acdbOpenObject(record, block, AcDb::kForWrite), Acad::eOk);
  record->close();
  ASSERT_EQ(attributes.size(), 3u);
  for (AcDbObjectId id : attributes) {
    AcDbAttribute* attribute = nullptr;
    ASSERT_EQ(acdbOpenObject(attribute, id, AcDb::kForWrite), Acad::eOk);
    attribute->close();
  }
}

// Attributes erased in the drawing are not the reference's any more: their tags keep the
// default, and they do not count among the first attributes.
TEST_F(AttributeEdgeCases, ErasedAttributesNeitherAnswerNorCount) {
  WorkingDrawing drawing(path_);
  ASSERT_TRUE(drawing.ok()) << drawing.error();
  auto erase = [&](const std::string& handle, const wchar_t* tag) {
    AcDbBlockReference* ref = nullptr;
    ASSERT_EQ(acdbOpenObject(ref, drawing.Id(handle), AcDb::kForRead), Acad::eOk);
    AcDbObjectIterator* it = ref->attributeIterator();
    for (it->start(); !it->done(); it->step()) {
      AcDbAttribute* attribute = nullptr;
      ASSERT_EQ(acdbOpenObject(attribute, it->objectId(), AcDb::kForWrite), Acad::eOk);
      ACHAR* t = attribute->tag();
      if (std::wstring(t) == tag) attribute->erase();
      acutDelBuffer(t);
      attribute->close();
    }
    delete it;
    ref->close();
  };
  erase(refs_[1].handle, L"NAME");
  AttInfoArray room;
  ASSERT_TRUE(Collect(drawing.Id(refs_[1].handle), room));
  EXPECT_EQ(Plain(room), (std::vector<Att>{{L"NUMBER", L"Room number", L"101", false},
                                           {L"KIND", L"", L"office", true},
                                           {L"Name", L"Room name", L"unnamed", false},
                                           {L"RAUMNUTZUNG_Ä", L"Nutzung", L"Lager", false}}));
  // ZZ A B A against two definitions: without ZZ, A and B are the first two.
  erase(refs_[4].handle, L"ZZ");
  AttInfoArray two;
  ASSERT_TRUE(Collect(drawing.Id(refs_[4].handle), two));
  EXPECT_EQ(Plain(two), (std::vector<Att>{{L"A", L"", L"a1", false}, {L"B", L"", L"late", false}}));
}

TEST_F(AttributeEdgeCases, AReferenceWithoutItsBlockGivesFalseAndNothing) {
  // The PLAIN reference names a block the drawing lacks.
  std::string text = dxf_test::ReadBytes(path_);
  const std::size_t entities = text.find("\nENTITIES\n");
  ASSERT_NE(entities, std::string::npos);
  const std::size_t at = text.find("\nPLAIN\n", entities);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 7, "\nGONE\n");
  const fs::path broken = dir_.path() / "broken.dxf";
  dxf_test::WriteBytes(broken, text);
  WorkingDrawing drawing(broken);
  ASSERT_TRUE(drawing.ok()) << drawing.error();
  AttInfoArray list{{L"X", L"", L"x", false}};
  EXPECT_FALSE(Collect(drawing.Id(refs_[0].handle), list));
  EXPECT_EQ(list.size(), 1u);
  EXPECT_FALSE(CollectAttributes(nullptr, list));
  // The others are untouched by the broken one.
  AttInfoArray room;
  EXPECT_TRUE(Collect(drawing.Id(refs_[1].handle), room));
  EXPECT_EQ(room.size(), 4u);
}

}  // namespace
