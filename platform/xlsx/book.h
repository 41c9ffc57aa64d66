// An editable workbook over an .xlsx package: the spreadsheet application's document. It stands
// in for what Excel holds in memory for an open workbook: sheets in tab order, cells with values,
// formulas, styles (number format and bold), comments, column widths, and the active sheet.
// Saving regenerates only what changed: a changed worksheet's <sheetData> (unchanged cells and
// rows are copied from the file as they were), its <dimension>, <cols> and comment parts, the
// shared strings when strings were added, the styles when styles were added, the workbook part
// when sheets were added, renamed or activated; every other part (and every other piece of a
// regenerated part) passes through byte for byte, with relationships and content types kept
// consistent. Left out: formula evaluation (a formula's value is its cached value; a saved
// workbook with changed cells asks the spreadsheet that opens it to recalculate), merged-cell and
// array-formula protection, rewriting formulas when a sheet is renamed, and docProps/app.xml's
// list of sheet titles (spreadsheets rebuild it).
//
//   BookResult opened = Book::Open("book.xlsx");
//   if (!opened) { std::cerr << opened.error->ToString() << '\n'; return; }
//   Book& book = *opened.book;
//   Sheet& sheet = book.sheet(0);
//   sheet.SetText(2, 1, "A1B2");            // row 2, column 1
//   sheet.SetComment(2, 1, "2F", "Sheetwise");
//   if (auto failed = book.Save("book.xlsx")) ...  // atomic; the old file kept as book.xlsx.bak
//
// Threads: a Book belongs to one thread (the spreadsheet application's); nothing is locked.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xlsx/comments.h"
#include "platform/xlsx/package.h"
#include "platform/xlsx/workbook.h"

namespace sheetwise::xlsx {

class Book;
class BookImpl;

/// What a cell holds, as the application reads it.
enum class ValueKind : std::uint8_t { kEmpty, kNumber, kText, kBool, kError };

/// A cell's value. `text` points into the book and stays valid until the book changes.
struct CellValue {
  ValueKind kind = ValueKind::kEmpty;
  double number = 0;      ///< kNumber; kBool as 0 or 1
  std::string_view text;  ///< kText, kError ("#N/A")
  bool operator==(const CellValue& o) const {
    return kind == o.kind && number == o.number && text == o.text;
  }
};

/// One cell that changed: by sheet name, 1-based row and column.
struct CellChange {
  std::string sheet;
  std::uint32_t row = 0;
  std::uint32_t col = 0;
};

/// One worksheet or chart sheet of a Book.
class Sheet {
 public:
  const std::string& name() const { return name_; }
  SheetKind kind() const { return kind_; }
  SheetState state() const { return state_; }
  Book& book() const { return *book_; }

  /// The value of the cell (1-based row and column); kEmpty for a cell the sheet does not have.
  CellValue Value(std::uint32_t row, std::uint32_t col) const;
  /// The formula of the cell without '=', empty when it has none (a shared formula's followers
  /// answer their own translated formula).
  std::string Formula(std::uint32_t row, std::uint32_t col) const;
  /// The cell's style index (see Book::Style); a cell without one takes its row's style.
  std::uint32_t StyleOf(std::uint32_t row, std::uint32_t col) const;

  /// Set a value; any formula of the cell goes (a shared formula's other cells keep theirs).
  /// Rows and columns out of range (0 or above kMaxRow / kMaxColumn) are ignored by all setters.
  void SetNumber(std::uint32_t row, std::uint32_t col, double value);
  void SetText(std::uint32_t row, std::uint32_t col, std::string_view text);
  void SetBool(std::uint32_t row, std::uint32_t col, bool value);
  void SetError(std::uint32_t row, std::uint32_t col, std::string_view error);
  /// A formula (without '=') whose value is `cached` until a spreadsheet recalculates.
  void SetFormula(std::uint32_t row, std::uint32_t col, std::string_view formula,
                  const CellValue& cached);
  /// Clears the value and formula; the style stays.
  void ClearValue(std::uint32_t row, std::uint32_t col);
  void SetStyle(std::uint32_t row, std::uint32_t col, std::uint32_t style);
  /// The style of a whole row: its existing cells and the cells written to it later.
  void SetRowStyle(std::uint32_t row, std::uint32_t style);
  std::optional<std::uint32_t> RowStyle(std::uint32_t row) const;

  /// The comment of a cell, or null. Valid until the comments of the sheet change.
  const CellComment* Comment(std::uint32_t row, std::uint32_t col) const;
  /// Adds or replaces the comment of a cell (a threaded comment's thread keeps its replies; its
  /// first comment takes the text).
  void SetComment(std::uint32_t row, std::uint32_t col, std::string_view text,
                  std::string_view author);
  std::size_t comment_count() const;

  /// Column width in character units, or nullopt for the sheet's default width.
  std::optional<double> ColumnWidth(std::uint32_t col) const;
  void SetColumnWidth(std::uint32_t col, double width);

  /// Highest row and column that hold a cell (0 when the sheet is empty).
  std::uint32_t max_row() const;
  std::uint32_t max_col() const;
  /// Columns of `row` that hold a cell, ascending.
  std::vector<std::uint32_t> ColumnsInRow(std::uint32_t row) const;
  /// Every cell of the sheet, rows then columns.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> CellPositions() const;

  /// True when anything of this sheet changed since it was read or saved.
  bool modified() const;

  struct Data;  // the cells, comments and columns (book_internal.h)
  Data& data() const { return *data_; }
  Sheet(Book& book, std::string name, SheetKind kind, SheetState state);
  ~Sheet();
  Sheet(const Sheet&) = delete;
  Sheet& operator=(const Sheet&) = delete;

 private:
  friend class Book;
  friend class BookImpl;
  // Before any change: waits for the sheet's parts being made ahead and drops them.
  void Changing();
  Book* book_;
  std::string name_;
  SheetKind kind_;
  SheetState state_;
  std::unique_ptr<Data> data_;
};

class Book;
struct [[nodiscard]] BookResult {
  std::unique_ptr<Book> book;
  std::optional<Error> error;
  explicit operator bool() const { return book != nullptr; }
};

/// One cell style as the application sees it.
struct StyleInfo {
  std::string format_code;  ///< "General", "@", "0.00" ...
  bool bold = false;
};

class Book {
 public:
  /// Reads a workbook file: every worksheet's cells and comments. Errors name the file and part.
  static BookResult Open(const std::filesystem::path& path);
  static BookResult OpenFromMemory(std::string_view bytes, std::string name);
  /// A new workbook with one empty worksheet named `first_sheet`.
  static std::unique_ptr<Book> New(std::string_view first_sheet);

  ~Book();
  Book(const Book&) = delete;
  Book& operator=(const Book&) = delete;

  std::size_t sheet_count() const;
  Sheet& sheet(std::size_t index);
  const Sheet& sheet(std::size_t index) const;
  /// The sheet as a shared object: it stays usable (detached) if the sheet leaves the book.
  std::shared_ptr<Sheet> sheet_ptr(std::size_t index) const;
  /// The index of the sheet named `name` (ASCII and non-ASCII letters compared ignoring case).
  std::optional<std::size_t> FindSheet(std::string_view name) const;
  /// Adds an empty worksheet at `index` (0 = first), named `name`; returns it. The caller checks
  /// the name (Book does not refuse duplicates).
  Sheet& AddSheet(std::size_t index, std::string_view name);
  /// Renames a sheet (the caller checks the name).
  void RenameSheet(std::size_t index, std::string_view name);
  std::size_t active_sheet() const;
  void SetActiveSheet(std::size_t index);
  bool date1904() const;

  /// The style of index `style`; an index out of range answers the default style.
  /// Valid until the next style is derived (StyleWithFormat, StyleWithBold).
  const StyleInfo& Style(std::uint32_t style) const;
  /// A style equal to `style` but with number format `code` (an existing one when there is one).
  std::uint32_t StyleWithFormat(std::uint32_t style, std::string_view code);
  /// A style equal to `style` but bold or not.
  std::uint32_t StyleWithBold(std::uint32_t style, bool bold);

  /// True when anything changed since the book was read or last saved.
  bool modified() const;
  /// Saves to `path` atomically: a temporary file beside it, flushed, renamed over the old file,
  /// which stays as path + ".bak". On failure the old file is untouched. On success the book
  /// counts as unmodified.
  [[nodiscard]] std::optional<Error> Save(const std::filesystem::path& path);
  /// The bytes of the .xlsx file Save would write.
  [[nodiscard]] std::string Serialize();

  /// Takes over the content of `fresh` (the same workbook read again from its file): sheets
  /// matched by name keep their Sheet objects (with the new content); returns every cell whose
  /// value differs (added, changed or removed cells). The book then counts as unmodified.
  std::vector<CellChange> Replace(std::unique_ptr<Book> fresh);

  BookImpl& impl() const { return *impl_; }

 private:
  Book();
  friend class BookImpl;
  friend class Sheet;
  std::unique_ptr<BookImpl> impl_;
};

}  // namespace sheetwise::xlsx
