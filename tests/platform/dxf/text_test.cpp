// Text in the file's encoding: code pages before AC1021, UTF-8 after, and AutoCAD's \U+ and \M+
// escapes, decoded on read and written where the encoding needs them.
#include <gtest/gtest.h>

#include "platform/dxf/document.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace {

using namespace sheetwise::dxf;
namespace fs = std::filesystem;

TEST(DxfText, DecodesCodePagesAndEscapes) {
  struct Row {
    std::string bytes;
    unsigned code_page;
    std::wstring text;
  };
  const Row rows[] = {
      {"plain", 1252, L"plain"},
      {"\xC4\xD6\xDC", 1252, L"ÄÖÜ"},
      {"\xC0\xE1\xE2", 1251, L"Абв"},
      {"\xB0\xA1", 949, L"가"},
      {"\x93\xFA\x96\x7B", 932, L"日本"},
      {"Gr\xC3\xB6\xC3\x9F"
       "e",
       65001, L"Größe"},
      {"\\U+041F\\U+0440\\U+0438", 1252, L"При"},
      {"94\\U+00b0", 65001, L"94°"},
      {"\\U+D83D\\U+DE07", 1252, L"\U0001F607"},
      {"\\M+193FA\\M+1967B", 1252, L"日本"},  // Shift-JIS pairs in a Western drawing
      {"\\M+5D6D0", 1252, L"中"},             // GB2312
      {"\\U+12", 1252, L"\\U+12"},            // too short: kept as written
      {"\\U+XYZW C:\\path", 1252, L"\\U+XYZW C:\\path"},
      {"\\M+9ABCD", 1252, L"\\M+9ABCD"},  // no such code page number
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    EXPECT_EQ(DecodeText(row.bytes, row.code_page), row.text);
  }
}

TEST(DxfText, EncodesWhatTheCodePageLacksAsEscapes) {
  struct Row {
    std::wstring text;
    unsigned code_page;
    bool mbcs;
    std::string bytes;
  };
  const Row rows[] = {
      {L"Абв ✓", 1251, false, "\xC0\xE1\xE2 \\U+2713"},
      {L"Абв", 1252, false, "\\U+0410\\U+0431\\U+0432"},
      {L"Ā", 1252, false, "\\U+0100"},  // no best fit to 'A': the text must survive
      {L"€½", 1252, false, "\x80\xBD"},
      {L"日本", 932, false, "\x93\xFA\x96\x7B"},
      {L"日本", 932, true, "\\M+193FA\\M+1967B"},
      {L"x😇", 1252, false, "x\\U+D83D\\U+DE07"},
      {L"Größe", 65001, false,
       "Gr\xC3\xB6\xC3\x9F"
       "e"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    EXPECT_EQ(EncodeText(row.text, row.code_page, row.mbcs), row.bytes);
    EXPECT_EQ(DecodeText(row.bytes, row.code_page), row.text) << "round trip";
  }
}

TEST(DxfText, CodePageNamesOfDwgCodePage) {
  EXPECT_EQ(CodePageFromName("ANSI_1251"), 1251u);
  EXPECT_EQ(CodePageFromName("ansi_949"), 949u);
  EXPECT_EQ(CodePageFromName("ANSI_932"), 932u);
  EXPECT_EQ(CodePageFromName("DOS437"), 437u);
  EXPECT_EQ(CodePageFromName("ANSI_0"), 0u);
  EXPECT_EQ(CodePageFromName("ANSI_99999"), 0u);
  EXPECT_EQ(CodePageFromName("MACINTOSH"), 0u);
  EXPECT_EQ(CodePageFromName(""), 0u);
}

TEST(DxfText, CorpusEscapesReadAsCyrillicAndDegree) {
  const fs::path ru = dxf_test::CorpusDir() / "acad_AC1015_cp1251_PolyLine2D.dxf";
  if (!fs::exists(ru)) GTEST_SKIP() << "corpus absent";
  auto loaded = DxfDocument::Load(ru);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded.document->CodePage(), 1251u);
  bool found = false;
  for (RecordId id = loaded.document->First(); id != kNoRecord; id = loaded.document->Next(id)) {
    const Entity e = loaded.document->Get(id);
    for (size_t i = 0; i < e.TagCount(); ++i) {
      if (e.Code(i) < 10 && e.Text(i) == L"Аннотативный") found = true;
    }
  }
  EXPECT_TRUE(found) << "the \\U+ escaped style name reads as Cyrillic";
}

TEST(DxfText, Cp1251EditIsWrittenInCp1251) {
  auto loaded = DxfDocument::Load(dxf_test::SamplesDir() / "cp1251_r2000.dxf");
  ASSERT_TRUE(loaded) << loaded.error->ToString();
  DxfDocument& doc = *loaded.document;
  EXPECT_EQ(doc.CodePage(), 1251u);
  RecordId attrib = kNoRecord;
  RecordId text = kNoRecord;
  for (Entity e : doc.Records(*doc.FindSection("ENTITIES"))) {
    if (e.Type() == "ATTRIB" && attrib == kNoRecord) attrib = e.id();
    if (e.Type() == "TEXT") text = e.id();
  }
  ASSERT_NE(attrib, kNoRecord);
  ASSERT_NE(text, kNoRecord);
  const size_t value = doc.Get(attrib).Find(kCodeText);
  EXPECT_EQ(doc.Get(attrib).Text(value), L"Задвижка №1");
  EXPECT_EQ(doc.Get(text).Text(doc.Get(text).Find(kCodeText)), L"Привет, мир — € ✓");
  ASSERT_TRUE(doc.SetText(attrib, value, L"Кран ✓ 日"));
  EXPECT_EQ(doc.Get(attrib).Raw(value), "\xCA\xF0\xE0\xED \\U+2713 \\U+65E5");
  auto again = DxfDocument::Parse(doc.Serialize(), "ru.dxf");
  ASSERT_TRUE(again);
  EXPECT_EQ(again.document->Get(attrib).Text(value), L"Кран ✓ 日");
}

TEST(DxfText, Utf8DrawingsWriteUtf8WithoutEscapes) {
  auto loaded = DxfDocument::Load(dxf_test::SamplesDir() / "utf8_r2018.dxf");
  ASSERT_TRUE(loaded) << loaded.error->ToString();
  DxfDocument& doc = *loaded.document;
  EXPECT_EQ(doc.CodePage(), 65001u);
  RecordId attrib = kNoRecord;
  for (Entity e : doc.Records(*doc.FindSection("ENTITIES"))) {
    if (e.Type() == "ATTRIB" && e.Text(e.Find(kCodeName)) == L"NUMBER") attrib = e.id();
  }
  ASSERT_NE(attrib, kNoRecord);
  const size_t value = doc.Get(attrib).Find(kCodeText);
  EXPECT_EQ(doc.Get(attrib).Text(value), L"Größe Ø 50 – 日本語 😇");
  ASSERT_TRUE(doc.SetText(attrib, value, L"Ελληνικά ✓"));
  EXPECT_EQ(doc.Get(attrib).Raw(value),
            "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA"
            "\xCE\xAC \xE2\x9C\x93");
}

}  // namespace
