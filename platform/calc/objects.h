// The application's state and its automation objects (inside platform/calc).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/calc/application.h"
#include "platform/win/file_version.h"
#include "platform/xlsx/book.h"

namespace sheetwise::calc {

class AppObject;

/// Per column of a sheet: how many cells show a text of each width (in tenths of a character),
/// so that the widest is known at once however the cells change.
struct ColumnWidths {
  std::map<std::uint32_t, std::uint32_t> counts;
  std::uint32_t Widest() const { return counts.empty() ? 0 : counts.rbegin()->first; }
  void Add(std::uint32_t w) {
    if (w) ++counts[w];
  }
  void Remove(std::uint32_t w) {
    if (!w) return;
    auto it = counts.find(w);
    if (it != counts.end() && --it->second == 0) counts.erase(it);
  }
};

struct SheetWidths {
  bool built = false;
  std::unordered_map<std::uint32_t, ColumnWidths> columns;
};

struct BookState {
  std::unique_ptr<xlsx::Book> book;
  std::wstring name;
  std::filesystem::path path;  // the file it was read from or last saved to
  // The file as this application last read or wrote it: another version is another program's.
  win::FileVersion file;
  int next_sheet_number = 0;  // the number of the last "SheetN" this workbook gave
  std::unordered_map<const xlsx::Sheet*, SheetWidths> widths;
};

struct AppState {
  AppObject* object = nullptr;  // the one _Application (no reference held)
  DWORD rot_cookie = 0;
  std::vector<std::shared_ptr<BookState>> books;
  std::shared_ptr<BookState> active;
  bool visible = false;
  bool interactive = true;
  int next_book_number = 1;
  int watch_fd = -1;  // inotify
  std::unique_ptr<Application> face;

  std::shared_ptr<BookState> NewBook();
  std::shared_ptr<BookState> Find(const xlsx::Book* book) const;
};

/// The shown text of a cell (Range.Text).
std::string ShownText(const xlsx::Book& book, const xlsx::Sheet& sheet, std::uint32_t row,
                      std::uint32_t col);

}  // namespace sheetwise::calc
