// Tests of the sheets a new workbook writes ahead of its save, on a helper thread, once the
// program has moved on to another sheet: the saved file is the one a save without them writes,
// whatever changes came after a sheet was left (while its parts were being made or after), and
// a book dropped while a sheet is written stops its helper. Also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/xlsx/book.h"
#include "platform/xlsx/book_internal.h"

namespace sheetwise::xlsx {
namespace {

// Fills `sheet` as an export does: a header row, then per row a handle with its note, texts
// (some repeated, some with characters XML escapes), numbers, a logical, a styled empty cell.
void Fill(Book& book, Sheet& sheet, std::uint32_t rows, const std::string& tag) {
  const std::uint32_t text_style = book.StyleWithFormat(0, "@");
  const std::uint32_t bold = book.StyleWithBold(0, true);
  for (std::uint32_t c = 1; c <= 6; ++c) {
    sheet.SetText(1, c, tag + " column " + std::to_string(c));
    sheet.SetStyle(1, c, bold);
  }
  sheet.SetComment(1, 3, "X of the insertion point", "Sheetwise");
  for (std::uint32_t r = 2; r <= rows; ++r) {
    sheet.SetStyle(r, 1, text_style);
    sheet.SetText(r, 1, std::to_string(0x2F0 + r));
    sheet.SetComment(r, 1, std::to_string(0x2F0 + r), "Sheetwise");
    sheet.SetText(r, 2, r % 3 ? "A&B <" + tag + ">" : "same");
    sheet.SetNumber(r, 3, r * 0.25);
    sheet.SetBool(r, 4, r % 2 == 0);
    sheet.SetStyle(r, 5, text_style);
    sheet.SetText(r, 6, "00" + std::to_string(r));
  }
  sheet.SetColumnWidth(2, 17.5);
}

// A workbook made as the export makes one: each block name's sheet added before the active one,
// filled, and left for the next.
std::unique_ptr<Book> ExportLike(int sheets, std::uint32_t rows) {
  std::unique_ptr<Book> book = Book::New("Sheet1");
  for (int k = 0; k < sheets; ++k) {
    const std::size_t at = book->active_sheet();
    book->AddSheet(at, "Block" + std::to_string(k));
    book->SetActiveSheet(at);
    Fill(*book, book->sheet(at), rows, "B" + std::to_string(k));
  }
  return book;
}

// A change that changes nothing: the sheet's parts made ahead no longer count.
void Touch(Sheet& sheet) {
  if (sheet.Value(2, 1).kind != ValueKind::kEmpty) sheet.SetStyle(2, 1, sheet.StyleOf(2, 1));
}

TEST(AheadWriter, SavesTheBytesASaveWithoutItWrites) {
  std::unique_ptr<Book> ahead = ExportLike(4, 120);
  std::unique_ptr<Book> plain = ExportLike(4, 120);
  // One more sheet in each with a formula: it needs the book, so it is never written ahead.
  for (Book* b : {ahead.get(), plain.get()}) {
    b->AddSheet(0, "Formulas");
    b->SetActiveSheet(0);
    Fill(*b, b->sheet(0), 60, "F");
    b->sheet(0).SetFormula(70, 1, "C2*2", CellValue{});
    b->SetActiveSheet(1);
  }
  ahead->impl().ahead.WaitAll();
  // Every block's sheet was left once (the last when the formulas came, and it is active again:
  // its parts are made but not what the save writes, as its tab is now selected).
  for (std::size_t i = 0; i < ahead->sheet_count(); ++i)
    EXPECT_EQ(ahead->sheet(i).data().ahead.has_value(), ahead->sheet(i).name().starts_with("Block"))
        << ahead->sheet(i).name();
  for (std::size_t i = 0; i < plain->sheet_count(); ++i) Touch(plain->sheet(i));
  for (std::size_t i = 0; i < plain->sheet_count(); ++i)
    EXPECT_FALSE(plain->sheet(i).data().ahead.has_value());

  const std::string saved = ahead->Serialize();
  EXPECT_TRUE(saved == plain->Serialize());
  // The parts made ahead are used once; a second save writes the same.
  EXPECT_TRUE(ahead->Serialize() == saved);
}

TEST(AheadWriter, ChangesAfterASheetWasLeftAreSaved) {
  // Big sheets, so that the first change comes while the helper is still writing the sheet.
  std::unique_ptr<Book> book = ExportLike(5, 3000);
  std::unique_ptr<Book> reference = ExportLike(5, 3000);
  for (Book* b : {book.get(), reference.get()}) {
    // Block3 was just left: its parts are likely being made.
    b->sheet(1).SetText(2, 2, "changed");
    // One kind of change on each sheet whose parts are made.
    b->impl().ahead.WaitAll();
    b->sheet(2).SetComment(3, 1, "a new note text", "Sheetwise");
    b->sheet(3).SetColumnWidth(4, 30);
    b->sheet(4).SetNumber(3001, 7, 42);
    // A sheet added in front moves them all; Block4 is left unchanged, its parts stay good.
    b->AddSheet(0, "Front");
    b->SetActiveSheet(0);
  }
  for (std::size_t i = 0; i < reference->sheet_count(); ++i) Touch(reference->sheet(i));

  const std::string saved = book->Serialize();
  EXPECT_TRUE(saved == reference->Serialize());
  BookResult read = Book::OpenFromMemory(saved, "ahead.xlsx");
  ASSERT_TRUE(read) << read.error->message;
  auto sheet = [&read](const char* name) -> const Sheet& {
    return read.book->sheet(read.book->FindSheet(name).value());
  };
  EXPECT_EQ(sheet("Block3").Value(2, 2).text, "changed");
  ASSERT_NE(sheet("Block2").Comment(3, 1), nullptr);
  EXPECT_EQ(sheet("Block2").Comment(3, 1)->text, "a new note text");
  EXPECT_EQ(sheet("Block1").ColumnWidth(4), 30);
  EXPECT_EQ(sheet("Block0").Value(3001, 7).number, 42);
  EXPECT_EQ(sheet("Block4").Value(3000, 6).text, "003000");
}

TEST(AheadWriter, ABookDroppedWhileASheetIsWrittenStops) {
  for (int round = 0; round < 3; ++round) {
    std::unique_ptr<Book> book = ExportLike(2, 6000);
    book->AddSheet(0, "Last");
    book->SetActiveSheet(0);  // the sheet just left is being written
    book.reset();
  }
  // A sheet kept after its book went: the helper let it go with the book.
  std::shared_ptr<Sheet> kept;
  {
    std::unique_ptr<Book> book = ExportLike(2, 3000);
    kept = book->sheet_ptr(1);
    book->SetActiveSheet(2);
  }
  EXPECT_EQ(kept->name(), "Block0");
  EXPECT_FALSE(kept->data().ahead_busy.load());
}

}  // namespace
}  // namespace sheetwise::xlsx
