// Helpers of the export tests: the real spreadsheet application started in the test's
// apartment with the application's resource library, message boxes recorded, workbooks saved
// and read back by openpyxl, and what ezdxf sees of the block references of a drawing.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/nvarxapp.h"
#include "excel/excel.h"
#include "platform/win/message.h"
#include "settings/settings.h"

namespace export_test {

namespace fs = std::filesystem;

/// One cell as openpyxl reads it.
struct Cell {
  std::string kind;  ///< str, num, bool, date, none (a comment only)
  std::wstring value;
  std::wstring format;
  bool bold = false;
  std::wstring comment;
};

struct Sheet {
  std::wstring name;
  bool active = false;
  std::map<std::pair<int, int>, Cell> cells;  // (row, column), 1-based
  std::map<std::string, double> widths;       // column letter -> width the file sets

  /// The cell, or null when the file holds none there.
  const Cell* At(int row, int column) const;
  /// The value's text ("" for none).
  std::wstring Text(int row, int column) const;
  /// The texts of row `row` from column 1 up to its last cell.
  std::vector<std::wstring> Row(int row) const;
  /// The highest row holding a cell (0 for an empty sheet).
  int LastRow() const;
};

struct Book {
  std::vector<Sheet> sheets;
  const Sheet* Find(const std::wstring& name) const;
  const Sheet* Active() const;
};

/// /usr/bin/python3 with ezdxf and openpyxl: the independent readers.
bool HaveReaders();

/// The workbooks as openpyxl reads them, by path as given; a file that does not read is
/// missing from the result.
std::map<std::string, Book> ReadBooks(const std::vector<fs::path>& files);

/// One block reference as ezdxf sees it (ezdxf_refs.py).
struct Ref {
  std::wstring handle;
  std::wstring block;        ///< the name the INSERT names (*U4 ...)
  std::wstring exported_as;  ///< the dynamic block's name for a *U variant, else `block`
  double x = 0, y = 0, z = 0, rotation_degrees = 0, sx = 1, sy = 1, sz = 1;
  std::wstring layer;
  std::wstring owner;  ///< "layout" or "block"
};
struct DrawingRefs {
  int lunits = 2, luprec = 4, aunits = 0, auprec = 0, dimzin = 0;
  std::vector<Ref> refs;
};
std::map<std::string, DrawingRefs> EzdxfRefs(const std::vector<fs::path>& files);

/// Writes the drawing of the option tests (ezdxf_refs.py make-options); false on failure.
bool MakeOptionsDrawing(const fs::path& out);

/// Records message boxes instead of asking (the default button is taken).
class BoxRecorder : public MessageBoxPresenter {
 public:
  struct Shown {
    std::wstring text;
    std::wstring caption;
    UINT type;
  };
  int Present(HWND, std::wstring_view text, std::wstring_view caption, UINT type) override {
    shown.push_back({std::wstring(text), std::wstring(caption), type});
    return IDOK;
  }
  std::vector<Shown> shown;
};

/// The application as the host runs it: an apartment, the spreadsheet application running, the
/// frame holding the resource library, message boxes recorded, the export's process-wide state
/// as at load (currentRow 1, no layer filter, no selection), a folder of the test's own.
class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  /// A new workbook, active (its first sheet Sheet1 active).
  Excel::_WorkbookPtr NewWorkbook();
  /// Saves the active workbook to `name` in the test's folder; the path.
  fs::path SaveActive(const std::string& name);
  /// Resource string `id`.
  std::wstring Text(unsigned id) const;

  Excel::_ApplicationPtr excel_;
  CNvArxApp app_;
  std::shared_ptr<BoxRecorder> boxes_;
  fs::path dir_;

 private:
  std::shared_ptr<MessageBoxPresenter> previous_presenter_;
};

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

}  // namespace export_test
