// Tests of cell comments: read from the real-file corpus, written back, read again, and read by
// an independent reader. Expected texts, authors and refs of corpus notes were taken once from
// openpyxl 3.0.9 (/usr/bin/python3: load_workbook, cell.comment.author / .text; for
// excel16_aaa.xlsx, which load_workbook refuses, CommentSheet.from_tree on its comments parts);
// the threaded comment's values from its threadedComments XML, as openpyxl sees only the
// legacy note beside it.
#include "platform/xlsx/comments.h"

#include <gtest/gtest.h>
#include <zip.h>
#include <pugixml.hpp>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/xlsx/workbook.h"
#include "tests/platform/xlsx/xlsx_test_support.h"

namespace sheetwise::xlsx {
namespace {

using xlsxtest::MakeZip;
using xlsxtest::ReadFile;

const std::filesystem::path kCorpus = std::filesystem::path(SW_SHARED_DIR) / "corpus" / "xlsx";

// The parts of a one-sheet workbook holding comments; an empty string leaves a part (and its
// relationship) out, kMissing keeps the relationship but leaves the part out.
struct BookParts {
  BookParts(std::string c = "", std::string v = "", std::string t = "", std::string p = "")
      : comments(std::move(c)), vml(std::move(v)), threaded(std::move(t)), persons(std::move(p)) {}
  std::string comments, vml, threaded, persons;
  std::string rel_base = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
};
const std::string kMissing = "\x01missing";

std::string MakeBook(const BookParts& p) {
  const std::string rels_ns = "http://schemas.openxmlformats.org/package/2006/relationships";
  std::string types =
      R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
      R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
      R"(<Default Extension="xml" ContentType="application/xml"/>)"
      R"(<Default Extension="vml" ContentType="application/vnd.openxmlformats-officedocument.vmlDrawing"/>)"
      R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>)"
      R"(<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)"
      R"(<Override PartName="/xl/comments1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.comments+xml"/>)"
      R"(</Types>)";
  std::string root_rels = "<Relationships xmlns=\"" + rels_ns +
                          "\"><Relationship Id=\"rId1\" Type=\"" + p.rel_base +
                          "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
  std::string workbook =
      R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
      R"(<sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>)";
  std::string workbook_rels = "<Relationships xmlns=\"" + rels_ns +
                              "\"><Relationship Id=\"rId1\" Type=\"" + p.rel_base +
                              "/worksheet\" Target=\"worksheets/sheet1.xml\"/>";
  if (!p.persons.empty())
    workbook_rels +=
        "<Relationship Id=\"rId2\" "
        "Type=\"http://schemas.microsoft.com/office/2017/10/relationships/person\" "
        "Target=\"persons/person.xml\"/>";
  workbook_rels += "</Relationships>";
  std::string sheet =
      R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheetData/>)";
  std::string sheet_rels = "<Relationships xmlns=\"" + rels_ns + "\">";
  std::vector<std::pair<std::string, std::string>> parts = {
      {"[Content_Types].xml", types},
      {"_rels/.rels", root_rels},
      {"xl/workbook.xml", workbook},
      {"xl/_rels/workbook.xml.rels", workbook_rels}};
  auto add = [&](const std::string& bytes, const char* id, const std::string& type,
                 const char* target, const char* name) {
    if (bytes.empty()) return;
    sheet_rels += std::string("<Relationship Id=\"") + id + "\" Type=\"" + type + "\" Target=\"" +
                  target + "\"/>";
    if (bytes != kMissing) parts.emplace_back(name, bytes);
  };
  add(p.comments, "rId1", p.rel_base + "/comments", "../comments1.xml", "xl/comments1.xml");
  add(p.vml, "rId2", p.rel_base + "/vmlDrawing", "../drawings/vmlDrawing1.vml",
      "xl/drawings/vmlDrawing1.vml");
  add(p.threaded, "rId3",
      "http://schemas.microsoft.com/office/2017/10/relationships/threadedComment",
      "../threadedComments/threadedComment1.xml", "xl/threadedComments/threadedComment1.xml");
  if (!p.persons.empty() && p.persons != kMissing)
    parts.emplace_back("xl/persons/person.xml", p.persons);
  if (!p.vml.empty()) sheet += R"(<legacyDrawing r:id="rId2"/>)";
  sheet += "</worksheet>";
  sheet_rels += "</Relationships>";
  parts.emplace_back("xl/worksheets/sheet1.xml", sheet);
  parts.emplace_back("xl/worksheets/_rels/sheet1.xml.rels", sheet_rels);
  return MakeZip(parts);
}

CommentsResult ReadBook(const BookParts& p) {
  WorkbookResult wb = Workbook::OpenFromMemory(MakeBook(p), "book.xlsx");
  if (!wb) return {{}, {}, wb.error};
  return ReadComments(*wb.workbook, 0);
}

const std::string kCommentsHead =
    R"(<comments xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)";
// A comments part with `authors` and the <comment> elements of `list`.
std::string Notes(const std::string& list, const std::string& authors = "<author>a</author>") {
  return kCommentsHead + "<authors>" + authors + "</authors><commentList>" + list +
         "</commentList></comments>";
}
const std::string kVmlHead =
    R"(<xml xmlns:v="urn:schemas-microsoft-com:vml" xmlns:o="urn:schemas-microsoft-com:office:office" xmlns:x="urn:schemas-microsoft-com:office:excel">)";

std::string NoteShape(const std::string& id, int row0, int col0,
                      const std::string& object = "Note") {
  std::string s = "<v:shape id=\"" + id + "\" type=\"#_x0000_t202\"><x:ClientData ObjectType=\"" +
                  object + "\">";
  if (row0 >= 0) s += "<x:Row>" + std::to_string(row0) + "</x:Row>";
  if (col0 >= 0) s += "<x:Column>" + std::to_string(col0) + "</x:Column>";
  return s + "</x:ClientData></v:shape>";
}

// `text` holds `part`; when it does not, the message shows the whole text.
::testing::AssertionResult Has(const std::string& text, const std::string& part) {
  if (text.find(part) == std::string::npos)
    return ::testing::AssertionFailure() << "no \"" << part << "\" in\n" << text;
  return ::testing::AssertionSuccess() << "\"" << part << "\" found in\n" << text;
}

// Every prefix used in the document is declared where it is used.
void ExpectNamespacesDeclared(const std::string& xml) {
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(xml.c_str())) << xml.substr(0, 300);
  std::vector<std::string> problems;
  auto declared = [](pugi::xml_node n, const std::string& prefix) {
    for (; n; n = n.parent())
      if (n.attribute(("xmlns:" + prefix).c_str())) return true;
    return prefix == "xml" || prefix == "xmlns";
  };
  for (pugi::xpath_node x : doc.select_nodes("//*")) {
    pugi::xml_node n = x.node();
    std::vector<std::string> names = {n.name()};
    for (pugi::xml_attribute a : n.attributes()) names.emplace_back(a.name());
    for (const std::string& name : names) {
      std::size_t colon = name.find(':');
      if (colon != std::string::npos && !declared(n, name.substr(0, colon)))
        problems.push_back(name);
    }
  }
  EXPECT_TRUE(problems.empty()) << "undeclared prefix in " << problems.front();
}

struct Expected {
  const char* file;
  std::size_t sheet;
  const char* ref;
  const char* author;
  const char* text;
};

// From openpyxl (see the top of this file). Google Sheets' empty <author/> is "" here; openpyxl
// shows the None it reads as 'None'.
const Expected kCorpusComments[] = {
    {"excel16_aaa.xlsx", 0, "F7", "作成者", "作成者:\ndddddd"},
    {"excel16_aaa.xlsx", 0, "C20", "作成者", "作成者:\nTest"},
    {"excel16_aaa.xlsx", 1, "K27", "作成者", "作成者:\nシート２"},
    {"excel16_issue_190.xlsx", 0, "A1", "作成者", "ABCD"},
    {"excel16_issue_190.xlsx", 0, "K4", "作成者", "DDDD"},
    {"excel16_issue_190.xlsx", 0, "E6", "作成者", "AAA"},
    {"excel16_issue_190.xlsx", 0, "K6", "作成者", "TEST"},
    {"excel16_issue_190.xlsx", 1, "J5", "作成者", "TEST"},
    {"excel16_issue_216.xlsx", 0, "J8", "Auteur",
     "First set of changes applied. Not tested for bugs yet."},
    {"excel16_issue_216.xlsx", 0, "B18", "Auteur",
     "Only use this if you start after the round begins."},
    {"excel16_issue_216.xlsx", 2, "C3", "Auteur",
     "Taking these bonusses can only be done once per day before 11.59 PM SERVER TIME. But you "
     "can just cheat and take plat bonus every hour if you really want to"},
    {"excel16_issue_216.xlsx", 4, "L16", "Auteur",
     "Use this area to save values, in order to determine if a change you make results in "
     "better values. (Tip: You can make custom formula's to compare different stats)"},
    {"excel16_issue_216.xlsx", 5, "L1", "Auteur", "see below for an example"},
    {"excel16_issue_216.xlsx", 9, "O1", "Auteur",
     "Note: In the Resource column, type the resource which you want to invest In the Part "
     "column, type which castle part you want to improve. Make sure your spelling is correct."},
    {"excel16_issue_216.xlsx", 9, "M3", "Auteur",
     "\"1\" means you have to login \"0\" means you can sleep\n"},
    {"excel16_issue_216.xlsx", 12, "I4", "Auteur", "Don't think they are accurate anymore"},
    {"excel16_issue_216.xlsx", 13, "B3", "Auteur", "works less accurate as size increases"},
    // Threaded: the thread's text and person (the persons part is empty), not the legacy note.
    {"excel16_threaded_comment_issue_285.xlsx", 0, "B2", "", "test"},
    {"googlesheets_comment.xlsx", 1, "G3", "", "TEST\n\t-城博之"},
    {"libreoffice73_comments_libre2.xlsx", 0, "E4", " ", "Test\nUMYA!!"},
    {"libreoffice73_comments_libre2.xlsx", 0, "D7", " ", "UMYA"},
    {"libreoffice73_comments_libre2.xlsx", 0, "B9", " ", "DDDD"},
    {"macexcel15_comments_hyperlinks_formulae.xlsx", 0, "A1", "Microsoft Office User",
     "Sheet1 comment"},
    {"macexcel15_comments_hyperlinks_formulae.xlsx", 0, "A2", "Microsoft Office User",
     "Sheet1 comment2"},
    {"macexcel15_comments_hyperlinks_formulae.xlsx", 1, "A1", "Microsoft Office User",
     "Sheet2 comment"},
    {"macexcel15_comments_hyperlinks_formulae.xlsx", 1, "A2", "Microsoft Office User",
     "Sheet2 comment2"},
    {"macexcel16_issue_880.xlsx", 0, "A3", "rd", "rd:\nmehrkilometer kosten ist \n"},
    {"macexcel16_issue_880.xlsx", 0, "A4", "rd", "rd:\nkosten arbeitszeit plan"},
    {"macexcel16_issue_880.xlsx", 0, "A5", "rd", "rd:\nkosten arbeitzzeit \nist\n"},
    {"macexcel16_issue_880.xlsx", 0, "A6", "rd", "rd:\nkosten mehrkilometer plan\n"},
    {"wps_comment.xlsx", 0, "A1", "Nomadness", "Nomadness:\nWPS excel\n\n"},
};

// Every worksheet of every corpus workbook with the comments read from it.
struct CorpusSheet {
  std::string file;
  std::size_t sheet;
  std::string vml_bytes, threaded_bytes;
  CommentsResult read;
};
std::vector<CorpusSheet> ReadCorpus() {
  std::vector<CorpusSheet> out;
  for (const auto& entry : std::filesystem::directory_iterator(kCorpus)) {
    if (entry.path().extension() != ".xlsx") continue;
    WorkbookResult wb = Workbook::Open(entry.path());
    EXPECT_TRUE(wb) << wb.error->ToString();
    if (!wb) continue;
    for (std::size_t i = 0; i < wb.workbook->sheets().size(); ++i) {
      if (wb.workbook->sheets()[i].kind != SheetKind::kWorksheet) continue;
      CorpusSheet s{entry.path().filename().string(), i, "", "", ReadComments(*wb.workbook, i)};
      if (const Part* v = wb.workbook->package().FindPart(s.read.parts.vml)) s.vml_bytes = v->bytes;
      if (const Part* t = wb.workbook->package().FindPart(s.read.parts.threaded))
        s.threaded_bytes = t->bytes;
      out.push_back(std::move(s));
    }
  }
  return out;
}

TEST(CommentsCorpus, EveryNoteMatchesOpenpyxlAndItsShape) {
  if (!std::filesystem::exists(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  std::map<std::pair<std::string, std::size_t>, std::vector<const Expected*>> expected;
  for (const Expected& e : kCorpusComments) expected[{e.file, e.sheet}].push_back(&e);
  std::size_t total = 0;
  for (const CorpusSheet& s : ReadCorpus()) {
    SCOPED_TRACE(s.file + " sheet " + std::to_string(s.sheet));
    ASSERT_FALSE(s.read.error) << s.read.error->ToString();
    auto want = expected[{s.file, s.sheet}];
    // Sorted by row, then column.
    std::sort(want.begin(), want.end(), [](const Expected* a, const Expected* b) {
      std::uint32_t ar = 0, ac = 0, br = 0, bc = 0;
      EXPECT_TRUE(ParseCellRef(a->ref, ar, ac) && ParseCellRef(b->ref, br, bc));
      return std::pair(ar, ac) < std::pair(br, bc);
    });
    ASSERT_EQ(s.read.comments.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
      const CellComment& c = s.read.comments[i];
      EXPECT_EQ(FormatCellRef(c.row, c.col), want[i]->ref);
      EXPECT_EQ(c.author, want[i]->author) << want[i]->ref;
      EXPECT_EQ(c.text, want[i]->text) << want[i]->ref;
      EXPECT_TRUE(c.raw_note.starts_with("<comment ") && c.raw_note.ends_with("</comment>") &&
                  c.raw_note.find(" ref=\"" + std::string(want[i]->ref) + "\"") < 40)
          << c.raw_note;
      // Each note has its own box: the shape naming its cell, whatever the order of the VML.
      EXPECT_TRUE(Has(c.raw_shape, "Row>" + std::to_string(c.row - 1) + "</x:Row>"))
          << want[i]->ref;
      EXPECT_TRUE(Has(c.raw_shape, "Column>" + std::to_string(c.col - 1) + "</x:Column>"))
          << want[i]->ref;
    }
    total += want.size();
  }
  EXPECT_EQ(total, std::size(kCorpusComments));
}

TEST(CommentsCorpus, ThreadedCommentAndPartsOfEachSheet) {
  if (!std::filesystem::exists(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  WorkbookResult wb = Workbook::Open(kCorpus / "excel16_threaded_comment_issue_285.xlsx");
  ASSERT_TRUE(wb) << wb.error->ToString();
  CommentsResult read = ReadComments(*wb.workbook, 0);
  ASSERT_FALSE(read.error) << read.error->ToString();
  ASSERT_EQ(read.comments.size(), 1u);
  const CellComment& c = read.comments[0];
  EXPECT_TRUE(c.threaded);
  EXPECT_EQ(c.text, "test");
  EXPECT_EQ(c.thread_id, "{7A82DA9E-20F6-46BD-BF44-1A475728DA1A}");
  EXPECT_TRUE(Has(c.raw_note, "[Commento in thread]"));
  EXPECT_EQ(read.parts.comments, "xl/comments1.xml");
  EXPECT_EQ(read.parts.comments_rel_id, "rId2");
  EXPECT_EQ(read.parts.vml, "xl/drawings/vmlDrawing1.vml");
  EXPECT_EQ(read.parts.vml_rel_id, "rId1");
  EXPECT_EQ(read.parts.threaded, "xl/threadedComments/threadedComment1.xml");
  EXPECT_EQ(read.parts.threaded_rel_id, "rId3");

  // Sheets 2-4 of this workbook have a VML drawing for header pictures only (legacyDrawingHF):
  // not the drawing new notes would go to.
  WorkbookResult mac = Workbook::Open(kCorpus / "macexcel16_issue_880.xlsx");
  ASSERT_TRUE(mac) << mac.error->ToString();
  CommentsResult first = ReadComments(*mac.workbook, 0);
  EXPECT_EQ(first.parts.vml, "xl/drawings/vmlDrawing1.vml");
  CommentsResult header_only = ReadComments(*mac.workbook, 2);
  ASSERT_FALSE(header_only.error);
  EXPECT_TRUE(header_only.comments.empty());
  EXPECT_EQ(header_only.parts.vml, "");
}

TEST(CommentsCorpus, WrittenBackWithRawKeptOrRegenerated) {
  if (!std::filesystem::exists(kCorpus)) GTEST_SKIP() << "no corpus at " << kCorpus;
  for (const CorpusSheet& s : ReadCorpus()) {
    if (s.read.comments.empty()) continue;
    SCOPED_TRACE(s.file + " sheet " + std::to_string(s.sheet));
    const std::vector<CellComment>& original = s.read.comments;
    // Unchanged notes leave the VML as it was, byte for byte.
    WriteResult same_vml = WriteVmlDrawing(original, s.vml_bytes);
    ASSERT_FALSE(same_vml.error);
    EXPECT_EQ(same_vml.bytes, s.vml_bytes);

    BookParts kept;
    kept.comments = WriteCommentsPart(original);
    kept.vml = same_vml.bytes;
    if (!s.threaded_bytes.empty()) {
      WriteResult t = UpdateThreadedComments(s.threaded_bytes, original);
      ASSERT_FALSE(t.error);
      EXPECT_EQ(t.bytes, s.threaded_bytes);
      kept.threaded = t.bytes;
    }
    CommentsResult again = ReadBook(kept);
    ASSERT_FALSE(again.error) << again.error->ToString();
    ASSERT_EQ(again.comments.size(), original.size());
    for (std::size_t i = 0; i < original.size(); ++i) {
      EXPECT_EQ(again.comments[i].raw_note, original[i].raw_note);
      EXPECT_EQ(again.comments[i].raw_shape, original[i].raw_shape);
      EXPECT_EQ(again.comments[i].text, original[i].text);
    }

    // Every note changed: the parts are generated from the fields alone.
    std::vector<CellComment> changed = original;
    for (CellComment& c : changed) c.raw_note.clear(), c.raw_shape.clear();
    BookParts fresh;
    fresh.comments = WriteCommentsPart(changed);
    WriteResult vml = WriteVmlDrawing(changed, "");
    ASSERT_FALSE(vml.error);
    fresh.vml = vml.bytes;
    ExpectNamespacesDeclared(vml.bytes);
    ExpectNamespacesDeclared(fresh.comments);
    if (!s.threaded_bytes.empty()) {
      WriteResult t = UpdateThreadedComments(s.threaded_bytes, changed);
      ASSERT_FALSE(t.error);
      fresh.threaded = t.bytes;
    }
    again = ReadBook(fresh);
    ASSERT_FALSE(again.error) << again.error->ToString();
    ASSERT_EQ(again.comments.size(), original.size());
    for (std::size_t i = 0; i < original.size(); ++i) {
      SCOPED_TRACE(FormatCellRef(original[i].row, original[i].col));
      EXPECT_EQ(again.comments[i].row, original[i].row);
      EXPECT_EQ(again.comments[i].col, original[i].col);
      EXPECT_EQ(again.comments[i].text, original[i].text);
      if (!original[i].threaded) {
        EXPECT_EQ(again.comments[i].author, original[i].author);
      }
      // Generated notes and shapes are clean: they can be carried over raw in turn.
      EXPECT_FALSE(again.comments[i].raw_note.empty());
      EXPECT_TRUE(Has(again.comments[i].raw_shape,
                      "<x:Row>" + std::to_string(original[i].row - 1) + "</x:Row>"));
    }
  }
}

TEST(CommentsWrite, TextIsEscapedAndReadsBack) {
  struct Row {
    const char* text;
    const char* written;  // as it must appear in the part
    const char* read;     // as it reads back (null: the text itself)
  };
  const Row rows[] = {
      {"a < b & c > \"d\"", "a &lt; b &amp; c &gt; &quot;d&quot;", nullptr},
      {"line 1\nline 2\tend", "line 1\nline 2\tend", nullptr},
      {"crlf\r\nx", "crlf_x000D_\nx", nullptr},
      {"bell\x07 nul-free\x1f", "bell_x0007_ nul-free_x001F_", nullptr},
      {"literal _x0041_ stays", "literal _x005F_x0041_ stays", nullptr},
      {"_x12_ is no escape", "_x12_ is no escape", nullptr},
      {"Ünïcødé 城博之 😇 Λ", "Ünïcødé 城博之 😇 Λ", nullptr},
      {"non-char \xEF\xBF\xBF", "non-char _xFFFF_", nullptr},
      {"broken \xFF\xC3 utf-8", "broken \xEF\xBF\xBD\xEF\xBF\xBD utf-8",
       "broken \xEF\xBF\xBD\xEF\xBF\xBD utf-8"},
      {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD",
       "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"  spaces kept  ", "  spaces kept  ", nullptr},
  };
  std::vector<CellComment> comments;
  std::uint32_t row = 1;
  for (const Row& r : rows)
    comments.push_back({row++, 2, r.text, "Ann & <Bob>", false, "", "", ""});
  std::string part = WriteCommentsPart(comments);
  EXPECT_TRUE(Has(part, "<author>Ann &amp; &lt;Bob&gt;</author>"));
  for (const Row& r : rows) EXPECT_TRUE(Has(part, r.written));
  CommentsResult read = ReadBook({part});
  ASSERT_FALSE(read.error) << read.error->ToString();
  ASSERT_EQ(read.comments.size(), std::size(rows));
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(read.comments[i].text, rows[i].read ? rows[i].read : rows[i].text);
    EXPECT_EQ(read.comments[i].author, "Ann & <Bob>");
  }

  // Escapes written by Excel and others, decoded on reading.
  struct Decode {
    const char* xml;
    const char* text;
  };
  const Decode decodes[] = {
      {"_x0041__x0042_", "AB"},     {"_x005F_x0041_", "_x0041_"},
      {"_xD83D__xDE00_", "😀"},      {"_xD83D_ alone", "_xD83D_ alone"},
      {"_xDE00_", "_xDE00_"},       {"_x00zz_ _x41_", "_x00zz_ _x41_"},
      {"a_x000D_&#10;b", "a\r\nb"}, {"&#x1F607;&amp;", "😇&"},
  };
  std::string list;
  row = 1;
  for (const Decode& d : decodes)
    list += "<comment ref=\"A" + std::to_string(row++) + "\" authorId=\"0\"><text><r><t>" + d.xml +
            "</t></r></text></comment>";
  read = ReadBook({Notes(list)});
  ASSERT_FALSE(read.error) << read.error->ToString();
  ASSERT_EQ(read.comments.size(), std::size(decodes));
  for (std::size_t i = 0; i < std::size(decodes); ++i)
    EXPECT_EQ(read.comments[i].text, decodes[i].text) << decodes[i].xml;

  // A part in UTF-16 (with its BOM) reads as UTF-8; its raw note is the UTF-8 form.
  const std::u16string wide =
      u"\uFEFF<comments xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      u"<authors><author>Zoë</author></authors><commentList><comment ref=\"A1\" "
      u"authorId=\"0\"><text><t>城 😇</t></text></comment></commentList></comments>";
  std::string utf16;
  for (char16_t c : wide) {
    utf16 += static_cast<char>(c & 0xFF);
    utf16 += static_cast<char>(c >> 8);
  }
  read = ReadBook({utf16});
  ASSERT_FALSE(read.error) << read.error->ToString();
  ASSERT_EQ(read.comments.size(), 1u);
  EXPECT_EQ(read.comments[0].author, "Zoë");
  EXPECT_EQ(read.comments[0].text, "城 😇");
  EXPECT_EQ(read.comments[0].raw_note,
            "<comment ref=\"A1\" authorId=\"0\"><text><t>城 😇</t></text></comment>");
  // ... and its errors carry no offset, which would not be one in the file.
  read = ReadBook({utf16.substr(0, utf16.size() - 4)});
  ASSERT_TRUE(read.error.has_value());
  EXPECT_FALSE(read.error->offset.has_value());
}

TEST(CommentsWrite, RawNotesFollowTheNewAuthorsTableAndCells) {
  // Authors listed in another order than the notes use them; one rich note; a note with an
  // xr:uid (a prefix the written part declares) and one with an undeclared-here prefix.
  std::string xml =
      R"(<comments xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:xr="http://schemas.microsoft.com/office/spreadsheetml/2014/revision" xmlns:q="urn:other">)"
      R"(<authors><author>Yves</author><author>Xena</author></authors><commentList>)"
      R"(<comment ref="B1" authorId="0"><text><t>by Yves</t></text></comment>)"
      R"(<comment authorId="1" ref="A1" xr:uid="{1}"><text><r><rPr><b/></rPr><t>bold</t></r><r><t> plain</t></r></text></comment>)"
      R"(<comment ref="C1" authorId="1" q:x="1"><text><t>other prefix</t></text></comment>)"
      R"(</commentList></comments>)";
  CommentsResult read = ReadBook({xml});
  ASSERT_FALSE(read.error) << read.error->ToString();
  ASSERT_EQ(read.comments.size(), 3u);
  EXPECT_EQ(read.comments[0].text, "bold plain");
  EXPECT_EQ(read.comments[0].author, "Xena");
  EXPECT_EQ(
      read.comments[0].raw_note,
      R"(<comment authorId="1" ref="A1" xr:uid="{1}"><text><r><rPr><b/></rPr><t>bold</t></r><r><t> plain</t></r></text></comment>)");
  EXPECT_EQ(read.comments[2].raw_note, "");  // q: would be undeclared in a new part

  // Written sorted, A1 first: Xena becomes author 0 and the raw notes' authorIds follow.
  std::string part = WriteCommentsPart(read.comments);
  EXPECT_TRUE(Has(part, R"(<authors><author>Xena</author><author>Yves</author></authors>)"));
  EXPECT_TRUE(Has(part, R"(<comment authorId="0" ref="A1" xr:uid="{1}"><text><r><rPr><b/>)"));
  EXPECT_TRUE(Has(part, R"(<comment ref="B1" authorId="1"><text><t>by Yves</t>)"));

  std::vector<CellComment> edited = read.comments;
  edited.push_back(edited[1]);  // a second comment on B1: the later one wins
  edited.back().text = "later";
  edited.back().raw_note.clear();
  edited[0].col = 4;  // moved to D1 with its raw note
  edited.push_back({0, 1, "no cell", "Nobody", false, "", "", ""});
  part = WriteCommentsPart(edited);
  EXPECT_FALSE(Has(part, "Nobody"));
  EXPECT_TRUE(Has(part, R"(<authors><author>Yves</author><author>Xena</author></authors>)"));
  EXPECT_TRUE(Has(part, R"(<comment authorId="1" ref="D1" xr:uid="{1}"><text><r><rPr><b/>)"));
  CommentsResult again = ReadBook({part});
  ASSERT_FALSE(again.error) << again.error->ToString();
  ASSERT_EQ(again.comments.size(), 3u);
  EXPECT_EQ(FormatCellRef(again.comments[0].row, again.comments[0].col), "B1");
  EXPECT_EQ(again.comments[0].text, "later");
  EXPECT_EQ(again.comments[0].author, "Yves");
  EXPECT_EQ(again.comments[1].text, "other prefix");
  EXPECT_EQ(again.comments[1].author, "Xena");
  EXPECT_EQ(FormatCellRef(again.comments[2].row, again.comments[2].col), "D1");
  EXPECT_EQ(again.comments[2].text, "bold plain");
  EXPECT_EQ(again.comments[2].author, "Xena");
}

TEST(CommentsRead, ShapesMatchedByCellWhateverTheWriter) {
  // Shapes in another order than the notes, one shape of another object type, one note box
  // for a cell without a note.
  std::string notes = Notes(
      "<comment ref=\"C5\" authorId=\"0\"><text><t>c5</t></text></comment>"
      "<comment ref=\"A1\" authorId=\"0\"><text><t>a1</t></text></comment>"
      "<comment ref=\"B2\" authorId=\"0\"><text><t>b2</t></text></comment>");
  std::string vml = kVmlHead + NoteShape("_x0000_s1025", 0, 0, "Checkbox") +
                    NoteShape("_x0000_s1026", 1, 1) + NoteShape("_x0000_s1027", 9, 9) +
                    NoteShape("_x0000_s1028", 0, 0) + NoteShape("_x0000_s1029", 4, 2) + "</xml>";
  CommentsResult read = ReadBook({notes, vml});
  ASSERT_FALSE(read.error) << read.error->ToString();
  ASSERT_EQ(read.comments.size(), 3u);
  EXPECT_EQ(read.comments[0].raw_shape, NoteShape("_x0000_s1028", 0, 0));
  EXPECT_EQ(read.comments[1].raw_shape, NoteShape("_x0000_s1026", 1, 1));
  EXPECT_EQ(read.comments[2].raw_shape, NoteShape("_x0000_s1029", 4, 2));

  // Shapes without x:Row/x:Column pair with the notes in file order (C5, A1, B2).
  vml = kVmlHead + NoteShape("s1", -1, -1) + NoteShape("s2", -1, -1) + NoteShape("s3", 1, 1) +
        "</xml>";
  read = ReadBook({notes, vml});
  ASSERT_FALSE(read.error) << read.error->ToString();
  EXPECT_EQ(read.comments[2].raw_shape, NoteShape("s1", -1, -1));  // C5
  EXPECT_EQ(read.comments[0].raw_shape, NoteShape("s2", -1, -1));  // A1
  EXPECT_EQ(read.comments[1].raw_shape, NoteShape("s3", 1, 1));    // B2

  // Other prefixes for the VML namespaces: matched, but not carried raw into a drawing whose
  // root binds v, o and x.
  vml =
      R"(<xml xmlns:vml="urn:schemas-microsoft-com:vml" xmlns:xl="urn:schemas-microsoft-com:office:excel">)"
      R"(<vml:shape id="a"><xl:ClientData ObjectType="Note"><xl:Row>0</xl:Row><xl:Column>0</xl:Column></xl:ClientData></vml:shape></xml>)";
  read = ReadBook({notes, vml});
  ASSERT_FALSE(read.error) << read.error->ToString();
  EXPECT_EQ(read.comments[0].raw_shape, "");

  // Strict relationship types.
  BookParts strict{notes, vml};
  strict.rel_base = "http://purl.oclc.org/ooxml/officeDocument/relationships";
  read = ReadBook(strict);
  ASSERT_FALSE(read.error) << read.error->ToString();
  EXPECT_EQ(read.comments.size(), 3u);
  EXPECT_EQ(read.parts.vml, "xl/drawings/vmlDrawing1.vml");

  // Threads: the person's name, replies left out, a thread without a legacy note still read.
  BookParts threads{notes};
  threads.threaded =
      R"(<ThreadedComments xmlns="http://schemas.microsoft.com/office/spreadsheetml/2018/threadedcomments">)"
      R"(<threadedComment ref="B2" personId="{P1}" id="{T1}"><text>thread b2</text></threadedComment>)"
      R"(<threadedComment ref="B2" personId="{P2}" id="{T2}" parentId="{T1}"><text>reply</text></threadedComment>)"
      R"(<threadedComment ref="D4" personId="{P9}" id="{T3}"><text>no note</text></threadedComment>)"
      R"(</ThreadedComments>)";
  threads.persons =
      R"(<personList xmlns="http://schemas.microsoft.com/office/spreadsheetml/2018/threadedcomments">)"
      R"(<person displayName="Zoë Z" id="{P1}" userId="z@example.com" providerId="AD"/></personList>)";
  read = ReadBook(threads);
  ASSERT_FALSE(read.error) << read.error->ToString();
  ASSERT_EQ(read.comments.size(), 4u);
  EXPECT_EQ(read.comments[1].text, "thread b2");
  EXPECT_EQ(read.comments[1].author, "Zoë Z");
  EXPECT_TRUE(read.comments[1].threaded);
  EXPECT_EQ(FormatCellRef(read.comments[2].row, read.comments[2].col), "D4");
  EXPECT_EQ(read.comments[2].text, "no note");
  EXPECT_TRUE(read.comments[2].threaded);
  EXPECT_EQ(read.comments[2].raw_note, "");
  EXPECT_FALSE(read.comments[3].threaded);  // C5
}

TEST(CommentsRead, DamagedInputGivesErrorsNamingFileAndPart) {
  const std::string good =
      Notes(R"(<comment ref="A1" authorId="0"><text><t>x</t></text></comment>)");
  struct Case {
    const char* what;
    BookParts parts;
    const char* expected;
  };
  const Case cases[] = {
      {"malformed",
       {Notes("<comment ref=\"A1\" authorId=\"0\"><text>")},
       "book.xlsx: xl/comments1.xml: offset "},
      {"bad ref",
       {Notes(R"(<comment ref="XFE1" authorId="0"><text><t>x</t></text></comment>)")},
       "book.xlsx: xl/comments1.xml: offset 140: bad cell reference 'XFE1' in a note"},
      {"author out of range",
       {Notes(R"(<comment ref="B3" authorId="5"><text><t>x</t></text></comment>)")},
       "book.xlsx: xl/comments1.xml: offset 154: authorId '5' of the note in B3 is not in the "
       "authors table (1 authors)"},
      {"author missing",
       {Notes(R"(<comment ref="B3"/>)", "")},
       "book.xlsx: xl/comments1.xml: offset 109: authorId '' of the note in B3"},
      {"two notes on a cell",
       {Notes(R"(<comment ref="B3" authorId="0"/><comment ref="$B$3" authorId="0"/>)")},
       "book.xlsx: xl/comments1.xml: offset 159: two notes on cell B3"},
      {"wrong root",
       {"<worksheet/>"},
       "book.xlsx: xl/comments1.xml: offset 1: root element <comments> expected"},
      {"comments part missing",
       {kMissing},
       "book.xlsx: xl/comments1.xml: the comments part named by relationship rId1 of "
       "xl/worksheets/sheet1.xml is missing"},
      {"VML missing",
       {good, kMissing},
       "book.xlsx: xl/drawings/vmlDrawing1.vml: the VML drawing part named by relationship rId2"},
      {"VML malformed",
       {good, kVmlHead + "<v:shape></xml>"},
       "book.xlsx: xl/drawings/vmlDrawing1.vml: offset "},
      {"threads malformed",
       {good, "", "<ThreadedComments><threadedComment"},
       "book.xlsx: xl/threadedComments/threadedComment1.xml: offset "},
      {"thread ref",
       {good, "", R"(<ThreadedComments><threadedComment ref="A0"/></ThreadedComments>)"},
       "book.xlsx: xl/threadedComments/threadedComment1.xml: offset 40: bad cell reference 'A0'"},
      {"persons missing",
       {good, "", "<ThreadedComments/>", kMissing},
       "book.xlsx: xl/persons/person.xml: the persons part named by relationship rId2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = MakeBook(c.parts);
    WorkbookResult wb = Workbook::OpenFromMemory(bytes, "book.xlsx");
    ASSERT_TRUE(wb) << wb.error->ToString();
    CommentsResult read = ReadComments(*wb.workbook, 0);
    ASSERT_TRUE(read.error.has_value());
    EXPECT_TRUE(read.error->ToString().starts_with(c.expected)) << read.error->ToString();
    EXPECT_TRUE(read.comments.empty());
  }
  WorkbookResult wb = Workbook::OpenFromMemory(MakeBook({good}), "book.xlsx");
  ASSERT_TRUE(wb);
  CommentsResult beyond = ReadComments(*wb.workbook, 1);
  ASSERT_TRUE(beyond.error.has_value());
  EXPECT_EQ(beyond.error->ToString(),
            "book.xlsx: xl/workbook.xml: no sheet 1 (the workbook has 1)");

  // A real comments part cut short anywhere: an error about that part, never a crash.
  if (!std::filesystem::exists(kCorpus)) return;
  WorkbookResult real = Workbook::Open(kCorpus / "excel16_issue_190.xlsx");
  ASSERT_TRUE(real);
  const std::string whole = real.workbook->package().FindPart("xl/comments1.xml")->bytes;
  const std::string vml = real.workbook->package().FindPart("xl/drawings/vmlDrawing1.vml")->bytes;
  for (std::size_t cut = 1; cut < whole.size(); cut += 7) {
    SCOPED_TRACE(cut);
    CommentsResult read = ReadBook({whole.substr(0, cut), vml});
    ASSERT_TRUE(read.error.has_value());
    EXPECT_TRUE(read.error->ToString().starts_with("book.xlsx: xl/comments1.xml: offset "))
        << read.error->ToString();
  }
  for (std::size_t cut = 1; cut < vml.size(); cut += 11) {
    CommentsResult read = ReadBook({whole, vml.substr(0, cut)});
    ASSERT_TRUE(read.error.has_value()) << cut;
    EXPECT_TRUE(read.error->ToString().starts_with("book.xlsx: xl/drawings/vmlDrawing1.vml: "));
  }
}

TEST(CommentsWriteVml, KeepsOtherShapesAndGivesNewNotesFreeIds) {
  const std::string layout =
      R"(<o:shapelayout v:ext="edit"><o:idmap v:ext="edit" data="1"/></o:shapelayout>)";
  const std::string checkbox = NoteShape("_x0000_s1025", 0, 0, "Checkbox");
  const std::string old_note = NoteShape("_x0000_s1027", 0, 0);
  const std::string existing = kVmlHead + "\n " + layout + "\n " + checkbox + "\n " + old_note +
                               "\n <v:shape id=\"pic\" o:spid=\"_x0000_s1026\"/>\n</xml>";
  std::vector<CellComment> comments(1);
  comments[0].row = 2;
  comments[0].col = 3;  // C2, the note of A1 is gone
  WriteResult out = WriteVmlDrawing(comments, existing);
  ASSERT_FALSE(out.error);
  ExpectNamespacesDeclared(out.bytes);
  EXPECT_TRUE(Has(out.bytes, layout));
  EXPECT_TRUE(Has(out.bytes, checkbox));
  EXPECT_TRUE(Has(out.bytes, "<v:shape id=\"pic\" o:spid=\"_x0000_s1026\"/>"));
  EXPECT_FALSE(Has(out.bytes, old_note));
  EXPECT_TRUE(Has(out.bytes, "<v:shapetype id=\"_x0000_t202\""));
  // 1025 and 1026 are taken by the kept shapes; 1027 is free again.
  EXPECT_TRUE(Has(out.bytes, "<v:shape id=\"_x0000_s1027\" type=\"#_x0000_t202\""));
  EXPECT_TRUE(Has(out.bytes, "<x:Row>1</x:Row>\n   <x:Column>2</x:Column>"));
  EXPECT_TRUE(Has(out.bytes, "<x:Anchor>\n    3, 15, 0, 10, 5, 15, 4, 4</x:Anchor>"));

  // More notes than one block holds: ids stay unique and o:idmap lists every block used.
  std::vector<CellComment> many(2500);
  for (std::uint32_t i = 0; i < many.size(); ++i) many[i].row = i + 1, many[i].col = 1;
  out = WriteVmlDrawing(many, existing);
  ASSERT_FALSE(out.error);
  ExpectNamespacesDeclared(out.bytes);
  EXPECT_TRUE(Has(out.bytes, R"(<o:idmap v:ext="edit" data="1,2,3"/>)"));
  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_string(out.bytes.c_str()));
  std::set<std::string> ids;
  std::size_t notes = 0;
  for (pugi::xml_node s : doc.document_element().children("v:shape")) {
    EXPECT_TRUE(ids.insert(s.attribute("id").value()).second) << s.attribute("id").value();
    notes += std::string_view(s.child("x:ClientData").attribute("ObjectType").value()) == "Note";
  }
  EXPECT_EQ(notes, many.size());
  EXPECT_TRUE(ids.contains("_x0000_s3073"));   // 3 * 1024 + 1
  EXPECT_FALSE(ids.contains("_x0000_s2048"));  // slot 0 of a block is never used

  // A fresh drawing uses the sheet's block; the far edges of the grid move the box inside.
  many.resize(1);
  many[0].row = kMaxRow;
  many[0].col = kMaxColumn;
  out = WriteVmlDrawing(many, "", 7);
  ASSERT_FALSE(out.error);
  EXPECT_TRUE(Has(out.bytes, R"(data="7")"));
  EXPECT_TRUE(Has(out.bytes, "_x0000_s7169"));
  EXPECT_TRUE(Has(out.bytes, "16380, 15, 1048571, 10, 16382, 15, 1048575, 4"));

  // A drawing of another writer: no shapelayout (added), a root without x (each note
  // declares the VML prefixes itself), an empty root element reopened.
  out = WriteVmlDrawing(comments, R"(<xml xmlns:v="urn:schemas-microsoft-com:vml"/>)");
  ASSERT_FALSE(out.error);
  ExpectNamespacesDeclared(out.bytes);
  EXPECT_TRUE(
      out.bytes.starts_with(R"(<xml xmlns:v="urn:schemas-microsoft-com:vml"><o:shapelayout)"))
      << out.bytes;
  EXPECT_TRUE(out.bytes.ends_with("</v:shape></xml>"));

  // A raw shape naming another cell than its comment's is drawn anew.
  comments[0].raw_shape = NoteShape("_x0000_s1030", 0, 0);
  out = WriteVmlDrawing(comments, "");
  EXPECT_FALSE(Has(out.bytes, "_x0000_s1030"));
  comments[0].raw_shape = NoteShape("_x0000_s1030", 1, 2);
  out = WriteVmlDrawing(comments, "");
  EXPECT_TRUE(Has(out.bytes, comments[0].raw_shape));

  WriteResult bad = WriteVmlDrawing(comments, "<xml><v:shape></xml>");
  ASSERT_TRUE(bad.error.has_value());
  EXPECT_TRUE(bad.error->message.starts_with("malformed XML")) << bad.error->message;
}

TEST(CommentsWrite, ChangedThreadUpdatesItsTextAndLegacyNote) {
  const std::string existing =
      R"(<?xml version="1.0"?>)"
      "\n"
      R"(<ThreadedComments xmlns="http://schemas.microsoft.com/office/spreadsheetml/2018/threadedcomments">)"
      R"(<threadedComment ref="B2" dT="2025-06-25T12:58:28.16" personId="{P}" id="{T1}"><text>old</text>)"
      R"(<mentions><mention mentionpersonId="{P}" mentionId="{M}" startIndex="0" length="3"/></mentions></threadedComment>)"
      R"(<threadedComment ref="B2" personId="{P}" id="{T2}" parentId="{T1}"><text>reply</text></threadedComment>)"
      R"(<threadedComment ref="C3" personId="{P}" id="{T3}"><text>gone</text></threadedComment>)"
      R"(<threadedComment ref="C3" personId="{P}" id="{T4}" parentId="{T3}"><text>gone too</text></threadedComment>)"
      R"(<threadedComment ref="D4" personId="{P}" id="{T5}"><text>same</text></threadedComment>)"
      R"(</ThreadedComments>)";
  std::vector<CellComment> comments(2);
  comments[0] = {2, 2, "new <text> & more", "Zoë", true, "{T1}", "", ""};
  comments[1] = {4, 4, "same", "Zoë", true, "{T5}", "<comment ref=\"D4\" authorId=\"0\"/>", ""};
  WriteResult out = UpdateThreadedComments(existing, comments);
  ASSERT_FALSE(out.error);
  std::string expected = existing;
  auto cut = [&](const std::string& what, const std::string& with) {
    std::size_t at = expected.find(what);
    ASSERT_NE(at, std::string::npos) << what;
    expected.replace(at, what.size(), with);
  };
  cut("<text>old</text>", "<text>new &lt;text&gt; &amp; more</text>");
  cut(R"(<mentions><mention mentionpersonId="{P}" mentionId="{M}" startIndex="0" length="3"/></mentions>)",
      "");
  cut(R"(<threadedComment ref="C3" personId="{P}" id="{T3}"><text>gone</text></threadedComment>)",
      "");
  cut(R"(<threadedComment ref="C3" personId="{P}" id="{T4}" parentId="{T3}"><text>gone too</text></threadedComment>)",
      "");
  EXPECT_EQ(out.bytes, expected);

  // The legacy note of the changed thread, as Excel writes it for older versions.
  std::string part = WriteCommentsPart(comments);
  EXPECT_TRUE(Has(part, "<authors><author>tc={T1}</author><author>tc={T5}</author></authors>"));
  EXPECT_TRUE(Has(part,
                  "[Threaded comment]\n\nYour version of Excel allows you to read this "
                  "threaded comment; however, any edits to it will get removed if the file "
                  "is opened in a newer version of Excel. Learn more: "
                  "https://go.microsoft.com/fwlink/?linkid=870924\n\nComment:\n"
                  "new &lt;text&gt; &amp; more</t>"));
  EXPECT_TRUE(Has(part, R"(<comment ref="D4" authorId="1"/>)"));
  EXPECT_TRUE(UpdateThreadedComments("<ThreadedComments>", comments).error.has_value());
}

// The independent check: openpyxl (when installed) reads the notes of a generated package.
TEST(CommentsWrite, OpenpyxlReadsGeneratedParts) {
  const char* python = "/usr/bin/python3";
  if (!std::filesystem::exists(python) ||
      std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "no python3 with openpyxl";
  std::vector<CellComment> comments = {
      {1, 1, "handle 1A2B", "Sheetwise", false, "", "", ""},
      {3, 2, "two\nlines & <markup> \"quoted\"", "Ünï 城", false, "", "", ""},
      {1048576, 16384, "far corner 😇", "Sheetwise", false, "", "", ""},
  };
  BookParts parts;
  parts.comments = WriteCommentsPart(comments);
  WriteResult vml = WriteVmlDrawing(comments, "");
  ASSERT_FALSE(vml.error);
  parts.vml = vml.bytes;
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("sw_comments_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  { std::ofstream(dir / "book.xlsx", std::ios::binary) << MakeBook(parts); }
  std::string script =
      "import openpyxl,sys,warnings\n"
      "warnings.simplefilter('ignore')\n"
      "ws=openpyxl.load_workbook(sys.argv[1]).worksheets[0]\n"
      "out=open(sys.argv[2],'w',encoding='utf-8')\n"
      "for ref in ('A1','B3','XFD1048576'):\n"
      "  c=ws[ref].comment\n"
      "  out.write(ref+'|'+(c.author if c else '-')+'|'+(c.text if c else '-')+'\\x1e')\n";
  { std::ofstream(dir / "read.py") << script; }
  std::string command = std::string(python) + " " + (dir / "read.py").string() + " " +
                        (dir / "book.xlsx").string() + " " + (dir / "out.txt").string();
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::string got = ReadFile(dir / "out.txt");
  std::filesystem::remove_all(dir);
  EXPECT_EQ(got,
            "A1|Sheetwise|handle 1A2B\x1e"
            "B3|Ünï 城|two\nlines & <markup> \"quoted\"\x1e"
            "XFD1048576|Sheetwise|far corner 😇\x1e");
}

}  // namespace
}  // namespace sheetwise::xlsx
