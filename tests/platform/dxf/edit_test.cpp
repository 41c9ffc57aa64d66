// Edits change only what was edited: the rest of the file keeps its bytes, the edited entity
// keeps its line ends, group-code padding and number alignment, and new records get handles
// from $HANDSEED.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "platform/dxf/document.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace {

using namespace sheetwise::dxf;
namespace fs = std::filesystem;

// Byte offset of 1-based `line` in `bytes`.
size_t LineOffset(const std::string& bytes, std::uint64_t line) {
  size_t at = 0;
  for (std::uint64_t l = 1; l < line; ++l) at = bytes.find('\n', at) + 1;
  return at;
}

RecordId FirstOfType(const DxfDocument& doc, std::string_view section, std::string_view type) {
  for (Entity e : doc.Records(*doc.FindSection(section))) {
    if (e.Type() == type) return e.id();
  }
  return kNoRecord;
}

TEST(DxfEdit, AttributeTextEditChangesOnlyThatValueLine) {
  const fs::path file = dxf_test::CorpusDir() / "acad_AC1018_A_000217.dxf";
  if (!fs::exists(file)) GTEST_SKIP() << "corpus absent";
  const std::string original = dxf_test::ReadBytes(file);
  auto loaded = DxfDocument::Load(file);
  ASSERT_TRUE(loaded) << loaded.error->ToString();
  DxfDocument& doc = *loaded.document;
  const RecordId attrib = FirstOfType(doc, "ENTITIES", "ATTRIB");
  ASSERT_NE(attrib, kNoRecord);
  const Entity e = doc.Get(attrib);
  const size_t value = e.Find(kCodeText);
  ASSERT_NE(value, kNoTag);
  const std::string old_value(e.Raw(value));
  ASSERT_TRUE(doc.SetText(attrib, value, L"EDITED 42"));
  EXPECT_EQ(doc.Get(attrib).Text(value), L"EDITED 42");
  EXPECT_TRUE(doc.Get(attrib).IsModified());
  EXPECT_TRUE(doc.IsModified());

  // Expected: the original with that one value line replaced, nothing else.
  const size_t at = LineOffset(original, e.SourcePosition() + 2 * value + 1);
  ASSERT_EQ(original.compare(at, old_value.size(), old_value), 0);
  std::string expected = original;
  expected.replace(at, old_value.size(), "EDITED 42");
  EXPECT_TRUE(doc.Serialize() == expected);
}

TEST(DxfEdit, NumbersKeepTheFilesAlignmentAndFloatStyle) {
  const fs::path file = dxf_test::CorpusDir() / "acad_AC1024_gh209_1.dxf";
  if (!fs::exists(file)) GTEST_SKIP() << "corpus absent";
  auto loaded = DxfDocument::Load(file);
  ASSERT_TRUE(loaded) << loaded.error->ToString();
  DxfDocument& doc = *loaded.document;
  const RecordId insert = FirstOfType(doc, "ENTITIES", "INSERT");
  ASSERT_NE(insert, kNoRecord);
  const size_t x = doc.Get(insert).Find(kCodeX);
  const size_t flags = doc.Get(insert).Find(kCodeEntitiesFollow);
  ASSERT_NE(flags, kNoTag);
  ASSERT_EQ(doc.Get(insert).Raw(flags), "     1") << "AutoCAD pads integers to six";
  ASSERT_TRUE(doc.SetReal(insert, x, 12.5));
  ASSERT_TRUE(doc.SetInteger(insert, flags, 0));
  EXPECT_EQ(doc.Get(insert).Raw(x), "12.5");
  EXPECT_EQ(doc.Get(insert).Raw(flags), "     0");
  ASSERT_TRUE(doc.SetReal(insert, x, 3.0));
  EXPECT_EQ(doc.Get(insert).Raw(x), "3.0");
  ASSERT_TRUE(doc.SetReal(insert, x, 1e-12));
  EXPECT_EQ(doc.Get(insert).Raw(x), "1.0E-12");
  EXPECT_EQ(doc.Get(insert).Real(x), 1e-12);
  // Values the file cannot hold are refused and change nothing.
  EXPECT_FALSE(doc.SetInteger(insert, flags, 70000));
  EXPECT_FALSE(doc.SetReal(insert, x, std::nan("")));
  EXPECT_FALSE(doc.SetText(insert, doc.Get(insert).Find(kCodeLayer), L"two\nlines"));
  EXPECT_FALSE(doc.SetText(insert, 99999, L"x"));
  EXPECT_EQ(doc.Get(insert).Raw(flags), "     0");
  // CR LF stays on the edited lines.
  const std::string out = doc.Serialize();
  EXPECT_NE(out.find("\r\n 10\r\n1.0E-12\r\n"), std::string::npos);
}

TEST(DxfEdit, NewAttribGetsFreshHandleAndIsFoundAfterReload) {
  const fs::path file = dxf_test::SamplesDir() / "attributes_r2010.dxf";
  auto loaded = DxfDocument::Load(file);
  ASSERT_TRUE(loaded) << loaded.error->ToString();
  DxfDocument& doc = *loaded.document;
  const Handle seed = static_cast<Handle>(std::stoull(
      std::string(doc.Get(doc.HeaderRecord()).Raw(doc.FindHeader("$HANDSEED"))), nullptr, 16));
  const RecordId insert = FirstOfType(doc, "ENTITIES", "INSERT");
  const RecordId attrib = doc.Next(insert);
  ASSERT_EQ(doc.Get(attrib).Type(), "ATTRIB");
  const Handle h = doc.NewHandle();
  EXPECT_EQ(h, seed);
  EXPECT_EQ(doc.FindByHandle(h), kNoRecord);
  const Handle owner = doc.Get(insert).handle();
  const NewTag tags[] = {
      NewTag::Text(0, L"ATTRIB"),    NewTag::HandleRef(5, h),
      NewTag::HandleRef(330, owner), NewTag::Text(100, L"AcDbEntity"),
      NewTag::Text(8, L"0"),         NewTag::Text(100, L"AcDbText"),
      NewTag::Real(10, 1),           NewTag::Real(20, 2),
      NewTag::Real(30, 0),           NewTag::Real(40, 0.5),
      NewTag::Text(1, L"NEW VALUE"), NewTag::Text(100, L"AcDbAttribute"),
      NewTag::Integer(280, 0),       NewTag::Text(2, L"EXTRA"),
      NewTag::Integer(70, 0),
  };
  const RecordId added = doc.InsertRecordAfter(attrib, tags);
  ASSERT_NE(added, kNoRecord);
  EXPECT_EQ(doc.FindByHandle(h), added);
  EXPECT_EQ(doc.Get(added).Owner(), owner);
  // The same handle twice is refused.
  EXPECT_EQ(doc.InsertRecordAfter(attrib, tags), kNoRecord);
  // Structure stays sound: nothing after ENDSEC or before SECTION.
  const Section entities = *doc.FindSection("ENTITIES");
  EXPECT_EQ(doc.InsertRecordAfter(entities.end, tags), kNoRecord);
  EXPECT_EQ(doc.InsertRecordBefore(entities.head, tags), kNoRecord);
  EXPECT_FALSE(doc.Erase(entities.end));

  dxf_test::TempDir dir;
  const fs::path out = dir.path() / "out.dxf";
  ASSERT_FALSE(doc.SaveAs(out).has_value());
  auto again = DxfDocument::Load(out);
  ASSERT_TRUE(again) << again.error->ToString();
  EXPECT_TRUE(again.warnings.empty());
  const RecordId found = again.document->FindByHandle(h);
  ASSERT_NE(found, kNoRecord);
  EXPECT_EQ(again.document->Get(found).Text(again.document->Get(found).Find(1)), L"NEW VALUE");
  EXPECT_EQ(again.document->Prev(found), attrib) << "records before the new one keep their ids";
  char next[24];
  std::snprintf(next, sizeof next, "%llX", static_cast<unsigned long long>(h + 1));
  EXPECT_EQ(again.document->HeaderText("$HANDSEED"),
            std::optional<std::wstring>(std::wstring(next, next + std::string_view(next).size())));
}

TEST(DxfEdit, TagsInsertedRemovedAndRecordsErased) {
  const fs::path file = dxf_test::SamplesDir() / "attributes_r2010.dxf";
  auto loaded = DxfDocument::Load(file);
  ASSERT_TRUE(loaded);
  DxfDocument& doc = *loaded.document;
  const RecordId insert = FirstOfType(doc, "ENTITIES", "INSERT");
  const size_t before = doc.Get(insert).TagCount();
  const NewTag xdata[] = {NewTag::Text(1001, L"SHEETWISE"), NewTag::Text(1000, L"row 7"),
                          NewTag::Integer(1070, 3), NewTag::Integer(1071, 100000)};
  ASSERT_TRUE(doc.InsertTags(insert, before, xdata));
  const size_t app = doc.Get(insert).FindXData("sheetwise");
  ASSERT_EQ(app, before);
  EXPECT_EQ(doc.Get(insert).Integer(app + 3), 100000);
  EXPECT_FALSE(doc.InsertTags(insert, 0, xdata)) << "the group 0 tag stays first";
  ASSERT_TRUE(doc.RemoveTags(insert, app, 4));
  EXPECT_EQ(doc.Get(insert).TagCount(), before);
  EXPECT_EQ(doc.Get(insert).FindXData("SHEETWISE"), kNoTag);

  // Erasing the INSERT's ATTRIBs and SEQEND and the INSERT itself.
  const Handle h = doc.Get(insert).handle();
  std::vector<RecordId> gone{insert};
  for (RecordId id = doc.Next(insert); doc.Get(id).Type() != "INSERT"; id = doc.Next(id)) {
    gone.push_back(id);
    if (doc.Get(id).Type() == "SEQEND") break;
  }
  for (RecordId id : gone) ASSERT_TRUE(doc.Erase(id));
  EXPECT_FALSE(doc.Erase(insert));
  EXPECT_EQ(doc.FindByHandle(h), kNoRecord);
  const std::string out = doc.Serialize();
  auto again = DxfDocument::Parse(out, "erased.dxf");
  ASSERT_TRUE(again) << again.error->ToString();
  EXPECT_EQ(again.document->FindByHandle(h), kNoRecord);
  size_t inserts = 0;
  for (Entity e : again.document->Records(*again.document->FindSection("ENTITIES"))) {
    inserts += e.Type() == "INSERT";
  }
  EXPECT_EQ(inserts, 4u);
}

TEST(DxfRecords, DynamicBlockVariantsTablesAndOwners) {
  auto loaded = DxfDocument::Load(dxf_test::SamplesDir() / "dynamic_blocks.dxf");
  ASSERT_TRUE(loaded) << loaded.error->ToString();
  const DxfDocument& doc = *loaded.document;
  // Anonymous *U block records carry AcDbBlockRepBTag XDATA naming their dynamic block.
  size_t variants = 0;
  for (Entity e : doc.Records(*doc.FindSection("TABLES"))) {
    if (e.Type() != "BLOCK_RECORD" || e.Text(e.Find(kCodeName)).rfind(L"*U", 0) != 0) continue;
    const size_t app = e.FindXData("acdbblockrepbtag");
    ASSERT_NE(app, kNoTag);
    const size_t ref = e.Find(1005, app);
    ASSERT_NE(ref, kNoTag);
    const RecordId dynamic = doc.FindByHandle(e.HandleAt(ref));
    ASSERT_NE(dynamic, kNoRecord);
    EXPECT_EQ(doc.Get(dynamic).Type(), "BLOCK_RECORD");
    ++variants;
  }
  EXPECT_EQ(variants, 4u);
  // Every INSERT's owner is a BLOCK_RECORD; every ATTRIB's owner is the INSERT before it.
  RecordId last_insert = kNoRecord;
  size_t attribs = 0;
  for (Entity e : doc.Records(*doc.FindSection("ENTITIES"))) {
    if (e.Type() == "INSERT") {
      last_insert = e.id();
      EXPECT_EQ(doc.Get(doc.FindByHandle(e.Owner())).Type(), "BLOCK_RECORD");
      EXPECT_EQ(e.Subclasses(),
                (std::vector<std::string_view>{"AcDbEntity", "AcDbBlockReference"}));
    } else if (e.Type() == "ATTRIB") {
      EXPECT_EQ(doc.FindByHandle(e.Owner()), last_insert);
      EXPECT_NE(e.FindInSubclass("AcDbAttribute", kCodeName), kNoTag);
      ++attribs;
    }
  }
  EXPECT_GT(attribs, 100u) << "gen_drawing made 126 ATTRIBs, most in model space";
}

TEST(DxfEdit, HeaderVariablesReadAndSet) {
  const fs::path file = dxf_test::CorpusDir() / "acad_AC1015_example_2000.dxf";
  if (!fs::exists(file)) GTEST_SKIP() << "corpus absent";
  auto loaded = DxfDocument::Load(file);
  ASSERT_TRUE(loaded);
  DxfDocument& doc = *loaded.document;
  EXPECT_EQ(doc.HeaderText("$ACADVER"), std::optional<std::wstring>(L"AC1015"));
  EXPECT_EQ(doc.VersionNumber(), 1015);
  EXPECT_EQ(doc.CodePage(), 1252u);
  ASSERT_TRUE(doc.HeaderInteger("$LUNITS").has_value());
  ASSERT_TRUE(doc.HeaderInteger("$INSUNITS").has_value());
  ASSERT_TRUE(doc.SetHeader("$LUPREC", NewTag::Integer(70, 6)));
  EXPECT_EQ(doc.HeaderInteger("$LUPREC"), 6);
  ASSERT_TRUE(doc.SetHeader("$SHEETWISE_TEST", NewTag::Real(40, 2.5)));
  EXPECT_EQ(doc.HeaderReal("$SHEETWISE_TEST"), 2.5);
  auto again = DxfDocument::Parse(doc.Serialize(), "header.dxf");
  ASSERT_TRUE(again) << again.error->ToString();
  EXPECT_EQ(again.document->HeaderInteger("$LUPREC"), 6);
  EXPECT_EQ(again.document->HeaderReal("$SHEETWISE_TEST"), 2.5);
  EXPECT_EQ(again.document->HeaderReal("$ABSENT"), std::nullopt);
}

}  // namespace
