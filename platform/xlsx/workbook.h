// A workbook read from an .xlsx package: sheets, defined names, the date system, shared
// strings, cell styles (number format and bold), and each worksheet's cells on demand. It stands
// in for Excel's reading of a workbook file. Left out: writing, formulas' evaluation (a formula's
// cached value is its value), conditional formats, comments, charts' content, pivot tables,
// fonts and fills beyond bold, and the binary (.xlsb) and legacy (.xls) formats.
//
//   WorkbookResult opened = Workbook::Open("book.xlsx");
//   if (!opened) { std::cerr << opened.error->ToString() << '\n'; return; }
//   SheetResult sheet = opened.workbook->ReadSheet(0);
//   for (const Cell& c : sheet.sheet->cells()) ... c.row, c.col, c.type, c.number, c.text
//
// Text is UTF-8 as in the file (Utf8ToWide from platform/win/codepage.h for wide strings).
// Threads: a Workbook is immutable after Open; ReadSheet may run on several threads at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xlsx/package.h"

namespace sheetwise::xlsx {

/// Largest row and column numbers of a worksheet (1-based): 1048576 and 16384 ("XFD").
inline constexpr std::uint32_t kMaxRow = 1048576;
inline constexpr std::uint32_t kMaxColumn = 16384;

/// Parses "A1"-style references ("$" signs allowed): 1-based row and column. False for
/// anything else, or beyond kMaxRow/kMaxColumn; `row`/`col` are then unchanged.
[[nodiscard]] bool ParseCellRef(std::string_view ref, std::uint32_t& row, std::uint32_t& col);
/// "A1" for row 1, column 1; empty when out of range.
std::string FormatCellRef(std::uint32_t row, std::uint32_t col);
/// Writes the letters of column `col` (1 to kMaxColumn: "A" to "XFD") at `out`; returns the end.
char* PutColumnLetters(std::uint32_t col, char* out);

enum class SheetState : std::uint8_t { kVisible, kHidden, kVeryHidden };
enum class SheetKind : std::uint8_t { kWorksheet, kChartsheet, kOther };

struct SheetInfo {
  std::string name;
  std::uint32_t sheet_id = 0;
  std::string rel_id;  ///< r:id in workbook.xml
  std::string part;    ///< resolved part name; empty when the relationship is missing
  SheetState state = SheetState::kVisible;
  SheetKind kind = SheetKind::kWorksheet;
};

struct DefinedName {
  std::string name;
  std::string formula;                       ///< the text, e.g. "Sheet1!$A$1:$B$4"
  std::optional<std::uint32_t> local_sheet;  ///< 0-based sheet index for a sheet-local name
  bool hidden = false;
};

/// One cell style (an entry of cellXfs): its number format and whether its font is bold.
struct CellStyle {
  std::uint32_t num_fmt_id = 0;
  std::string format_code;  ///< custom numFmt, or the built-in code of the id; "General" for 0
  bool bold = false;
};

/// The t attribute of a cell; kBlank: a cell with no value (styled only).
enum class CellType : std::uint8_t {
  kNumber,
  kSharedString,
  kFormulaString,
  kInlineString,
  kBool,
  kError,
  kDate,
  kBlank
};

/// One cell. Text views point into the sheet or the workbook and live as long as both.
struct Cell {
  std::uint32_t row = 0;  ///< 1-based
  std::uint32_t col = 0;  ///< 1-based
  CellType type = CellType::kBlank;
  std::uint32_t style = 0;   ///< index into Workbook::styles()
  double number = 0;         ///< kNumber; kBool as 0/1
  std::string_view text;     ///< strings, error text ("#DIV/0!"), ISO date text (kDate)
  std::string_view formula;  ///< formula text without '='; empty when none (a shared formula's
                             ///< followers carry only their group; see formula_shared_index)
  std::optional<std::uint32_t> formula_shared_index;  ///< si of a shared formula
  bool bool_value() const { return number != 0; }
};

/// Widths from <cols>: columns min..max (1-based) have `width` (character units).
struct ColumnInfo {
  std::uint32_t min = 0;
  std::uint32_t max = 0;
  double width = 0;
  bool custom_width = false;
  bool hidden = false;
};

class Workbook;

/// A worksheet's cells in file order (rows ascending, columns ascending within a row, as
/// spreadsheets write them) and its column widths.
class Worksheet {
 public:
  std::span<const Cell> cells() const { return cells_; }
  std::span<const ColumnInfo> columns() const { return columns_; }
  /// The cell at row/col (1-based), or null when the file has none there.
  const Cell* Find(std::uint32_t row, std::uint32_t col) const;

 private:
  friend class Workbook;
  std::string buffer_;  // the part's XML, parsed in place: cells' views point into it
  struct Pool;          // joined rich-text strings of inline cells
  std::unique_ptr<Pool> pool_;
  std::vector<Cell> cells_;
  std::vector<ColumnInfo> columns_;
  bool sorted_ = true;

 public:
  Worksheet();
  ~Worksheet();
  Worksheet(Worksheet&&) noexcept;
  Worksheet& operator=(Worksheet&&) noexcept;
};

struct [[nodiscard]] SheetResult {
  std::unique_ptr<Worksheet> sheet;
  std::optional<Error> error;
  explicit operator bool() const { return sheet != nullptr; }
};

class Workbook;
struct [[nodiscard]] WorkbookResult {
  std::unique_ptr<Workbook> workbook;
  std::optional<Error> error;
  explicit operator bool() const { return workbook != nullptr; }
};

class Workbook {
 public:
  /// Opens the package and reads workbook.xml, its shared strings and styles. Errors name the
  /// file and part (missing workbook part, malformed XML, a sheet without a name ...).
  static WorkbookResult Open(const std::filesystem::path& path);
  /// As Open from bytes; `name` stands for the file in errors.
  static WorkbookResult OpenFromMemory(std::string_view bytes, std::string name);
  /// Reads the workbook parts of an open package.
  static WorkbookResult FromPackage(std::unique_ptr<Package> package);

  const Package& package() const { return *package_; }
  /// Hands the package over (to an editable book built from this reader); the workbook must not
  /// read sheets afterwards.
  std::unique_ptr<Package> ReleasePackage() { return std::move(package_); }
  /// The workbook part's name ("xl/workbook.xml").
  const std::string& workbook_part() const { return workbook_part_; }
  /// Sheets in tab order (worksheets and chart sheets).
  std::span<const SheetInfo> sheets() const { return sheets_; }
  std::span<const DefinedName> defined_names() const { return names_; }
  /// True for the 1904 date system (workbookPr date1904).
  bool date1904() const { return date1904_; }
  /// Shared strings as plain text (rich runs joined, phonetic runs left out).
  std::span<const std::string> shared_strings() const { return shared_strings_; }
  /// cellXfs; a workbook without styles has one default "General" style.
  std::span<const CellStyle> styles() const { return styles_; }
  /// The style of index `style`, or the default for an index out of range.
  const CellStyle& Style(std::uint32_t style) const;

  /// Reads sheet `index` (0-based, a worksheet). Errors: index out of range or not a worksheet,
  /// missing part, malformed XML, a bad cell reference, a shared string index out of range,
  /// each naming the part (and the offset where known).
  SheetResult ReadSheet(std::size_t index) const;

 private:
  std::unique_ptr<Package> package_;
  std::string workbook_part_;
  std::vector<SheetInfo> sheets_;
  std::vector<DefinedName> names_;
  bool date1904_ = false;
  std::vector<std::string> shared_strings_;
  std::vector<CellStyle> styles_;
};

/// The format code of a built-in number format id ("0.00" for 2, "m/d/yyyy" for 14, "@" for
/// 49), as Excel shows it in the en-US locale; empty for an id without a built-in code.
std::string_view BuiltinNumberFormat(std::uint32_t id);

}  // namespace sheetwise::xlsx
