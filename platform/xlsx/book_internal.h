// The inside of Book and Sheet: cell storage with the file's bytes kept for unchanged cells, and
// what the writer needs to regenerate only what changed.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "platform/xlsx/book.h"
#include "platform/xlsx/xml_internal.h"
#include "platform/xlsx/zip_write.h"

namespace sheetwise::xlsx {

inline constexpr std::uint32_t kNone = 0xFFFFFFFFu;
// A cell's text index with this bit refers to the book's other strings (inline strings,
// formula results, errors), without it to the shared strings.
inline constexpr std::uint32_t kOtherString = 0x80000000u;

/// One cell. `raw_len` != 0: the cell is unchanged and its XML is bytes [raw_begin, raw_begin +
/// raw_len) of the sheet's part.
struct StoredCell {
  std::uint32_t col = 0;
  std::uint32_t style = 0;
  std::uint32_t text = kNone;     // kText, kError: string index
  std::uint32_t formula = kNone;  // index into Sheet::Data::formulas
  std::uint32_t raw_begin = 0;
  std::uint32_t raw_len = 0;
  double number = 0;
  ValueKind kind = ValueKind::kEmpty;
  bool has_style = false;  // written with s="..."
  bool shared_master = false;
  bool restyled = false;               // raw is valid but for its s attribute (a style-only change)
  std::uint32_t shared_index = kNone;  // si of a shared formula (master or follower)
};

struct Row {
  std::vector<StoredCell> cells;  // ascending columns
  std::uint32_t raw_begin = 0;    // the <row ...> start tag in the part; raw_len 0: none
  std::uint32_t raw_len = 0;
  std::uint32_t style = kNone;  // row style (s with customFormat)
  bool present = false;         // the row exists (cells or a row element of its own)
  bool tag_changed = false;     // the start tag must be regenerated
};

/// Rows in pages of 1024, so that a sheet with one cell at row 1,000,000 costs one page.
class RowStore {
 public:
  static constexpr std::uint32_t kPage = 1024;
  Row* Find(std::uint32_t row) {
    const std::uint32_t p = (row - 1) / kPage;
    if (p >= pages_.size() || !pages_[p]) return nullptr;
    Row& r = (*pages_[p])[(row - 1) % kPage];
    return r.present ? &r : nullptr;
  }
  const Row* Find(std::uint32_t row) const { return const_cast<RowStore*>(this)->Find(row); }
  Row& Get(std::uint32_t row) {
    const std::uint32_t p = (row - 1) / kPage;
    if (p >= pages_.size()) pages_.resize(p + 1);
    if (!pages_[p]) pages_[p] = std::make_unique<std::array<Row, kPage>>();
    Row& r = (*pages_[p])[(row - 1) % kPage];
    if (!r.present) {
      r.present = true;
      if (row > max_row_) max_row_ = row;
    }
    return r;
  }
  std::uint32_t max_row() const { return max_row_; }
  /// Calls fn(row_number, Row&) for every present row, ascending.
  template <typename Fn>
  void ForEach(Fn&& fn) const {
    for (std::size_t p = 0; p < pages_.size(); ++p) {
      if (!pages_[p]) continue;
      for (std::uint32_t i = 0; i < kPage; ++i) {
        const Row& r = (*pages_[p])[i];
        if (r.present) fn(static_cast<std::uint32_t>(p * kPage + i + 1), r);
      }
    }
  }

 private:
  std::vector<std::unique_ptr<std::array<Row, kPage>>> pages_;
  std::uint32_t max_row_ = 0;
};

struct SharedFormula {
  std::uint32_t row = 0, col = 0;  // the master cell
  std::string formula;             // the master's formula text
  std::string ref;                 // the group's range
};

/// A new sheet's part and its notes part, written and deflated on the book's helper thread after
/// the program moved on to another sheet (AheadWriter). The save takes them while the sheet is
/// unchanged since. The notes' drawing is not among them: its shape ids follow the sheet's
/// position at the save, and an export adds each sheet before the one it left.
struct AheadParts {
  std::uint64_t edits = 0;    // Sheet::Data::edits they were made from
  std::string legacy_rel_id;  // the notes' relationship the sheet part names; empty: no notes
  Packed sheet, comments;     // comments only with notes
};

struct Sheet::Data {
  // The sheet as the workbook part lists it.
  std::string part;    // "xl/worksheets/sheet1.xml"; empty for a new sheet
  std::string rel_id;  // in the workbook's relationships
  std::uint32_t sheet_id = 0;
  std::string original_name;  // the name in the file (renames regenerate the <sheet> element)
  const std::string* bytes = nullptr;  // the part's bytes in the book's package (raw spans)
  std::string prefix;                  // namespace prefix of the main namespace ("x:" or "")
  std::size_t root_end = 0;            // just after the <worksheet ...> start tag
  std::size_t sheet_data_begin = 0;    // the <sheetData> element: [begin, end) of the part
  std::size_t sheet_data_end = 0;

  RowStore rows;
  std::uint32_t max_col = 0;
  std::vector<std::string> formulas;
  std::map<std::uint32_t, SharedFormula> shared;  // si -> master

  std::unordered_map<std::uint64_t, CellComment> comments;
  SheetCommentParts comment_parts;
  // The notes' VML shapes are read only when the notes are written (a reader never needs
  // them, and they are the biggest part of a sheet with many notes).
  bool shapes_pending = false;

  std::vector<ColumnInfo> columns;  // from <cols>, then as set
  // What changed since the file was read (kept across saves: every save regenerates from the
  // file as read, so a sheet changed once is written from the model from then on).
  bool cells_changed = false;
  bool comments_changed = false;
  bool columns_changed = false;
  std::string sheet_rels_part;  // assigned at the first save that needs it

  // Every change of cells, comments or columns counts (Sheet::Changing).
  std::uint64_t edits = 0;
  // True from the moment the sheet is handed to the AheadWriter until its parts are made. The
  // helper thread only reads the sheet meanwhile, and nothing changes it: a change waits.
  std::atomic<bool> ahead_busy{false};
  std::optional<AheadParts> ahead;  // written by the helper while ahead_busy

  static std::uint64_t Key(std::uint32_t row, std::uint32_t col) {
    return (std::uint64_t{row} << 16) | col;
  }
  StoredCell* FindCell(std::uint32_t row, std::uint32_t col);
  const StoredCell* FindCell(std::uint32_t row, std::uint32_t col) const {
    return const_cast<Data*>(this)->FindCell(row, col);
  }
  /// The cell, created (with its row's style) when missing.
  StoredCell& GetCell(std::uint32_t row, std::uint32_t col);
};

struct StyleRecipe {
  std::uint32_t base = 0;
  std::string format;  // new number format code, or empty
  int bold = -1;       // 0/1: new boldness; -1: unchanged
};

/// Writes and deflates new sheets' parts on a helper thread while the program works on
/// another sheet: an export fills one sheet per block name, and each finished sheet is then
/// ready for the save; a save also hands it tasks of its own. Only the owning thread calls it;
/// the helper reads a sheet while its ahead_busy is set and writes only its `ahead`, and a
/// task writes only its own result.
class AheadWriter {
 public:
  AheadWriter() = default;
  /// Drops what is queued and waits for the sheet being written.
  ~AheadWriter();
  AheadWriter(const AheadWriter&) = delete;
  AheadWriter& operator=(const AheadWriter&) = delete;

  /// Queues `sheet` unless it is not worth it or cannot be written ahead.
  void Start(const std::shared_ptr<Sheet>& sheet);
  /// Returns once the helper is done with `data`.
  void Wait(const Sheet::Data& data);
  /// Runs `task` on the helper thread, with the helper's packer; false when there is no helper
  /// (the caller then does the work itself).
  bool Post(std::function<void(PartPacker&)> task);
  /// Returns once the helper is done with every sheet and task queued.
  void WaitAll();

 private:
  struct Job {
    std::shared_ptr<Sheet> sheet;           // a sheet to write ahead, or
    std::function<void(PartPacker&)> task;  // a task of the save
  };
  bool StartHelper();  // under mutex_
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;  // a job came, or the writer stops
  std::condition_variable done_;  // a job ended
  std::deque<Job> jobs_;
  bool running_ = false;  // the helper is making a job's parts
  bool stop_ = false;
  std::thread helper_;
};

/// The parts of a new sheet as the save would write them, deflated: nullopt when some cell or
/// note needs the book (a formula, an inline text) or the sheet came from a file. Reads only
/// `data`.
std::optional<AheadParts> MakeAheadParts(const Sheet::Data& data, PartPacker& packer);

class BookImpl {
 public:
  Book* owner = nullptr;
  std::unique_ptr<Package> package;  // the file as read (or the template of a new book)
  std::string workbook_part;
  std::vector<std::shared_ptr<Sheet>> sheets;
  bool date1904 = false;
  std::size_t active = 0;
  std::size_t original_active = 0;
  bool sheets_changed = false;  // added, renamed, reordered, activated
  bool has_formulas = false;

  // Shared strings: the file's (plain text) and those added since.
  std::deque<std::string> shared;  // a deque: texts stay where they are as it grows
  std::size_t shared_in_file = 0;
  // Finds a text among `shared`: open addressing over (hash, index + 1) pairs, built on the
  // first added text (a workbook only read never needs it). One probe is one cache line, which
  // matters at a million strings.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> text_slots;
  std::vector<std::uint32_t> text_hashes;  // of shared[0, text_hashes.size()), for regrowing
  std::size_t indexed = 0;                 // shared[0, indexed) are in text_slots
  std::deque<std::string> other;           // kOtherString texts

  // Styles: the file's cellXfs and those derived since.
  std::vector<StyleInfo> styles;
  std::size_t styles_in_file = 0;
  std::vector<StyleRecipe> recipes;  // for styles[styles_in_file + i]
  // Compared transparently: a lookup needs no copy of the format code. (Compared as views:
  // clang does not order a tuple holding a string against one holding a view.)
  struct DerivedLess {
    using is_transparent = void;
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      return View(a) < View(b);
    }
    template <typename T>
    static std::tuple<std::uint32_t, std::string_view, int> View(const T& key) {
      return {std::get<0>(key), std::get<1>(key), std::get<2>(key)};
    }
  };
  std::map<std::tuple<std::uint32_t, std::string, int>, std::uint32_t, DerivedLess> derived;

  bool modified = false;
  // Last, so that it stops before the sheets and strings it might still read go.
  AheadWriter ahead;

  std::uint32_t AddShared(std::string_view text);
  std::uint32_t AddOther(std::string_view text);
  std::string_view Text(std::uint32_t index) const {
    if (index == kNone) return {};
    if (index & kOtherString) return other[index & ~kOtherString];
    return shared[index];
  }
  static BookResult Load(std::unique_ptr<Package> package);
  /// The file's bytes; empty with `*error` set when a part cannot be written.
  std::string Serialize(std::optional<Error>* error);
};

/// The end (just after) of the element that starts at `begin` ('<') with qualified name
/// `qname`: after its "/>" or its end tag, nested elements of any name counted; npos when the
/// bytes end first or the tags do not nest.
std::size_t ElementEnd(std::string_view bytes, std::size_t begin, std::string_view qname);
/// The end (just after '>') of the start tag at `begin`; npos when cut short.
std::size_t StartTagEnd(std::string_view bytes, std::size_t begin);

/// A formula of the cell at (row, col) moved by (drow, dcol): relative references shift,
/// $-anchored parts stay; quoted text and sheet names are left alone.
std::string TranslateFormula(std::string_view formula, int drow, int dcol);

}  // namespace sheetwise::xlsx
