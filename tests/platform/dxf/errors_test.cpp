// Malformed files are refused with the file, the line (or byte offset) and what was expected
// and found; damage that is safe to repair is repaired and reported.
#include <gtest/gtest.h>

#include "platform/dxf/document.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace {

using namespace sheetwise::dxf;
namespace fs = std::filesystem;

// A small valid R2000 drawing to damage; each pair of lines is one tag.
std::string Drawing(std::string_view entities = "  0\nLINE\n  5\n20\n  8\n0\n 10\n1.5\n",
                    std::string_view seed = "30") {
  return "  0\nSECTION\n  2\nHEADER\n  9\n$ACADVER\n  1\nAC1015\n  9\n$HANDSEED\n  5\n" +
         std::string(seed) + "\n  0\nENDSEC\n  0\nSECTION\n  2\nENTITIES\n" +
         std::string(entities) + "  0\nENDSEC\n  0\nEOF\n";
}

struct BadFile {
  const char* name;
  std::string bytes;
  std::string expected;  // the whole ToString() of the error
};

TEST(DxfErrors, MalformedFilesNameLineExpectedAndFound) {
  ASSERT_TRUE(DxfDocument::Parse(Drawing(), "ok.dxf")) << "the base drawing must be valid";
  const std::string base = Drawing();
  const BadFile rows[] = {
      {"empty", "", "f.dxf:1: SECTION expected, found end of file"},
      {"bad group code", "  0\nSECTION\n  2\nHEADER\nabc\nx\n",
       "f.dxf:5: group code expected, found 'abc'"},
      {"odd number of lines", "  0\nSECTION\n  2\nENTITIES\n  0\n",
       "f.dxf:6: value of group code 0 expected, found end of file"},
      {"truncated inside a section", base.substr(0, base.find("  0\nENDSEC\n  0\nEOF")),
       "f.dxf:27: ENDSEC of section ENTITIES (started at line 15) expected, found end of file"},
      {"section without ENDSEC",
       "  0\nSECTION\n  2\nENTITIES\n  0\nSECTION\n  2\nOBJECTS\n  0\nENDSEC\n  0\nEOF\n",
       "f.dxf:5: ENDSEC of section ENTITIES (started at line 1) expected, found 'SECTION'"},
      {"EOF inside a section", "  0\nSECTION\n  2\nENTITIES\n  0\nEOF\n",
       "f.dxf:5: ENDSEC of section ENTITIES (started at line 1) expected, found 'EOF'"},
      {"section without name", "  0\nSECTION\n  8\nX\n",
       "f.dxf:3: section name (group 2) expected, found group code 8"},
      {"entity outside a section", "  0\nLINE\n", "f.dxf:1: SECTION or EOF expected, found 'LINE'"},
      {"float that does not parse", Drawing("  0\nLINE\n  5\n20\n 10\n1.5.2\n"),
       "f.dxf:24: floating-point value for group code 10 expected, found '1.5.2'"},
      {"integer that does not parse", Drawing("  0\nLINE\n  5\n20\n 62\nred\n"),
       "f.dxf:24: integer value for group code 62 expected, found 'red'"},
      {"duplicate handle", Drawing("  0\nLINE\n  5\n20\n  0\nLINE\n  5\n20\n"),
       "f.dxf:23: unique handle expected, found 20 of LINE already used at line 19"},
      {"entity without handle", Drawing("  0\nLINE\n  8\n0\n"),
       "f.dxf:19: handle (group 5) of LINE expected, found none"},
      {"handle not hexadecimal", Drawing("  0\nLINE\n  5\nXYZ\n"),
       "f.dxf:22: hexadecimal handle expected, found 'XYZ'"},
      {"DWG", "AC1032\0\0\0 binary",
       "f.dxf: a DXF file expected, found a DWG drawing: save it "
       "as DXF"},
  };
  for (const BadFile& row : rows) {
    SCOPED_TRACE(row.name);
    auto r = DxfDocument::Parse(row.bytes, "f.dxf");
    ASSERT_FALSE(r);
    ASSERT_TRUE(r.error.has_value());
    EXPECT_EQ(r.error->ToString(), row.expected);
  }
}

TEST(DxfErrors, BinaryFileCutShortGivesItsOffset) {
  const std::string bytes = dxf_test::ReadBytes(dxf_test::SamplesDir() / "binary_r2010.dxf");
  ASSERT_GT(bytes.size(), 1000u);
  ASSERT_TRUE(DxfDocument::Parse(bytes, "b.dxf"));
  // Cut at every offset of a window: always an error with an offset, never a crash.
  for (size_t cut = 22; cut < bytes.size() - 1; cut += bytes.size() / 97) {
    auto r = DxfDocument::Parse(bytes.substr(0, cut), "b.dxf");
    ASSERT_FALSE(r) << cut;
    EXPECT_TRUE(r.error->binary);
    EXPECT_LE(r.error->offset, cut);
    EXPECT_NE(r.error->ToString().find("b.dxf:offset "), std::string::npos);
  }
  auto r = DxfDocument::Parse(bytes.substr(0, 30), "b.dxf");
  EXPECT_EQ(r.error->ToString(),
            "b.dxf:offset 24: zero-terminated string of group code 0 expected, found end of "
            "file");
}

TEST(DxfErrors, MissingFileAndFolderAreErrorsNotCrashes) {
  dxf_test::TempDir dir;
  auto missing = DxfDocument::Load(dir.path() / "nope.dxf");
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error->ToString().find("nope.dxf: cannot open"), std::string::npos);
  auto folder = DxfDocument::Load(dir.path());
  ASSERT_FALSE(folder);
  EXPECT_NE(folder.error->message.find("folder"), std::string::npos);
}

TEST(DxfWarnings, RepairableDamageIsRepairedAndReported) {
  struct Row {
    const char* name;
    std::string bytes;
    std::string warning;  // fragment
    bool changes_bytes;
  };
  std::string mixed = Drawing();
  mixed.replace(mixed.find("\nENTITIES\n"), 10, "\r\nENTITIES\r\n");
  std::string blanks = Drawing("  0\nLINE\n  5\n20\n 10  \n1.5 \n");
  const Row rows[] = {
      {"mixed line ends", mixed, "mixed line ends: 2 CR LF and", false},
      {"trailing blanks", blanks, "2 group codes or numbers with trailing blanks", false},
      {"missing EOF", Drawing().substr(0, Drawing().size() - 8),
       "EOF expected at the end of the file", true},
      {"missing EOF and last line end", Drawing().substr(0, Drawing().size() - 9),
       "EOF expected at the end of the file", true},
      {"HANDSEED too low", Drawing(std::string_view("  0\nLINE\n  5\n20\n"), "1F"),
       "$HANDSEED above the highest handle 20 expected, found 1F; set to 21", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto r = DxfDocument::Parse(row.bytes, "w.dxf");
    ASSERT_TRUE(r) << r.error->ToString();
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].ToString().find(row.warning), std::string::npos)
        << r.warnings[0].ToString();
    const std::string out = r.document->Serialize();
    EXPECT_EQ(out != row.bytes, row.changes_bytes);
    // What is written after a repair reads back without warnings (mixed ends and blanks stay
    // as the user's file had them).
    auto again = DxfDocument::Parse(out, "w.dxf");
    ASSERT_TRUE(again) << again.error->ToString();
    EXPECT_EQ(again.warnings.empty(), row.changes_bytes);
  }
  // The repaired seed is what the next new handle gets, and values read without their blanks.
  auto seeded = DxfDocument::Parse(rows[4].bytes, "w.dxf");
  EXPECT_EQ(seeded.document->NewHandle(), 0x21u);
  auto blank = DxfDocument::Parse(blanks, "w.dxf");
  const RecordId line = blank.document->FindByHandle(0x20);
  ASSERT_NE(line, kNoRecord);
  EXPECT_EQ(blank.document->Get(line).Real(blank.document->Get(line).Find(10)), 1.5);
  EXPECT_EQ(blank.document->Get(line).Code(2), 10);
}

}  // namespace
