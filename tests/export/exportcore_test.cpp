// The export core on real and generated drawings: every reference of each block name, the
// anonymous variants of dynamic blocks under the dynamic block's name and before its own
// references, nested references, the layer and selection filters. The workbook is read back
// by openpyxl and compared with what ezdxf sees of the same drawing.
#include "export/exportcore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "drawing/blockrefs.h"
#include "drawing/layerfilter.h"
#include "export/worksheetwriter.h"
#include "platform/calc/application.h"
#include "res/resource_ids.h"
#include "tests/drawing/drawing_test_support.h"
#include "tests/export/export_test_support.h"
#include "tests/platform/dxf/dxf_test_support.h"

namespace {

namespace fs = std::filesystem;
using export_test::Book;
using export_test::DrawingRefs;
using export_test::ExportTest;
using export_test::Narrow;
using export_test::Ref;
using export_test::Sheet;
using sheetwise::SettingsInfo;

class ExportCore : public ExportTest {
 protected:
  void SetUp() override {
    ExportTest::SetUp();
    if (HasFatalFailure()) return;
    if (!export_test::HaveReaders()) GTEST_SKIP() << "/usr/bin/python3 lacks ezdxf or openpyxl";
  }

  // The rows of one block name: its header row and data rows, as found in a sheet.
  struct Block {
    std::wstring name;
    int header_row = 0;
    std::vector<int> rows;
  };

  // Checks the rows of `block` against ezdxf's references exported under its name.
  void CheckBlock(const std::string& file, const Sheet& sheet, const Block& block,
                  const DrawingRefs& drawing, const drawing_test::Rows& attribs) {
    SCOPED_TRACE(file + " block " + Narrow(block.name));
    std::vector<const Ref*> expected;
    for (const Ref& ref : drawing.refs)
      if (ref.exported_as == block.name) expected.push_back(&ref);
    std::map<std::wstring, const Ref*> by_handle;
    for (const Ref* ref : expected) by_handle[ref->handle] = ref;
    // ezdxf's attribute view of each reference: the non-constant values in definition order.
    std::map<std::wstring, std::vector<std::wstring>> values;
    for (std::size_t i = 0; i < attribs.size(); ++i) {
      if (attribs[i].size() < 3 || attribs[i][0] != L"REF") continue;
      std::vector<std::wstring>& v = values[attribs[i][1]];
      const std::size_t n = std::stoul(Narrow(attribs[i][2]));
      for (std::size_t k = 1; k <= n && i + k < attribs.size(); ++k)
        if (attribs[i + k].size() >= 4 && attribs[i + k][3] == L"0") v.push_back(attribs[i + k][2]);
    }

    // The property columns by their labels, as the import finds them (a tag may read "X").
    auto column_of = [&](unsigned label_id) -> int {
      for (const auto& [at, cell] : sheet.cells)
        if (at.first == block.header_row && cell.comment == Text(label_id)) return at.second;
      return 0;
    };
    const int x_col = column_of(res::kLabelX);
    const int rot_col = column_of(res::kLabelRotation);
    const int sx_col = column_of(res::kLabelScaleX);
    const int layer_col = column_of(res::kLabelLayer);
    ASSERT_GT(x_col, 1);
    ASSERT_EQ(rot_col, x_col + 3);
    ASSERT_EQ(sx_col, x_col + 4);
    ASSERT_EQ(layer_col, x_col + 7);
    const double tolerance = 0.5 * std::pow(10.0, -drawing.luprec) + 1e-9;
    const double angle_tolerance = 0.5 * std::pow(10.0, -drawing.auprec) + 1e-9;

    std::set<std::wstring> seen;
    bool named_seen = false;
    for (int row : block.rows) {
      SCOPED_TRACE("row " + std::to_string(row));
      const export_test::Cell* first = sheet.At(row, 1);
      ASSERT_NE(first, nullptr);
      EXPECT_EQ(first->value, block.name);
      auto found = by_handle.find(first->comment);
      ASSERT_NE(found, by_handle.end()) << "handle " << Narrow(first->comment);
      EXPECT_TRUE(seen.insert(first->comment).second) << "one row per reference";
      const Ref& ref = *found->second;
      // The anonymous variants' references come before the dynamic block's own.
      const bool anonymous = ref.block.starts_with(L"*");
      if (!anonymous) named_seen = true;
      EXPECT_FALSE(anonymous && named_seen) << "a variant's reference after the block's own";

      const std::vector<std::wstring>& attrs = values[ref.handle];
      for (int c = 2; c < x_col; ++c) {
        const std::size_t k = static_cast<std::size_t>(c - 2);
        EXPECT_EQ(sheet.Text(row, c), k < attrs.size() ? attrs[k] : L"") << "column " << c;
      }
      if (drawing.lunits == 2) {
        const double xyz[3] = {ref.x, ref.y, ref.z};
        for (int k = 0; k < 3; ++k)
          EXPECT_NEAR(std::stod(Narrow(sheet.Text(row, x_col + k))), xyz[k], tolerance)
              << "coordinate " << k;
        const double scales[3] = {ref.sx, ref.sy, ref.sz};
        for (int k = 0; k < 3; ++k)
          EXPECT_NEAR(std::stod(Narrow(sheet.Text(row, sx_col + k))), scales[k], tolerance)
              << "scale " << k;
      }
      if (drawing.aunits == 0) {
        const double shown = std::stod(Narrow(sheet.Text(row, rot_col)));
        double diff = std::fmod(std::fabs(shown - ref.rotation_degrees), 360.0);
        diff = std::min(diff, 360.0 - diff);
        EXPECT_LE(diff, angle_tolerance) << "rotation";
      }
      EXPECT_EQ(sheet.Text(row, layer_col), ref.layer);
    }
    EXPECT_EQ(seen.size(), expected.size()) << "every reference written";
  }

  // The block names ezdxf finds references of, as the export writes them (no *U names).
  static std::vector<std::wstring> ExportedNames(const DrawingRefs& drawing) {
    std::vector<std::wstring> names;
    std::set<std::wstring> known;
    for (const Ref& ref : drawing.refs)
      if (!ref.exported_as.starts_with(L"*") && known.insert(ref.exported_as).second)
        names.push_back(ref.exported_as);
    return names;
  }
};

TEST_F(ExportCore, GeneratedDrawingsOneSheetPerBlockName) {
  if (!drawing_test::HaveGenerator()) GTEST_SKIP() << "gen_drawing.py absent";
  const fs::path file = dir_ / "generated.dxf";
  ASSERT_TRUE(drawing_test::Generate(file, "--refs 400 --blocks 6 --dynamic 2 --seed 7"));
  const DrawingRefs drawing = export_test::EzdxfRefs({file})[file.string()];
  const drawing_test::Rows attribs = drawing_test::EzdxfView("attribs", {file})[file.string()];
  const std::vector<std::wstring> names = ExportedNames(drawing);
  ASSERT_GE(names.size(), 4u);
  std::size_t variants = 0;
  for (const Ref& ref : drawing.refs) variants += ref.block.starts_with(L"*");
  ASSERT_GT(variants, 0u) << "the generator makes dynamic-block variants";

  drawing_test::WorkingDrawing working(file);
  ASSERT_TRUE(working.ok()) << working.error();
  NewWorkbook();
  SettingsInfo settings;
  for (const std::wstring& name : names) {
    currentRow = 1;  // as the driver does for a sheet per block name
    EXPECT_TRUE(ExportBlockName(name.c_str(), settings)) << Narrow(name);
  }
  EXPECT_TRUE(boxes_->shown.empty());
  const fs::path saved = SaveActive("generated.xlsx");
  const Book book = export_test::ReadBooks({saved})[saved.string()];
  EXPECT_EQ(book.sheets.size(), names.size() + 1);
  for (const std::wstring& name : names) {
    // A name the spreadsheet refuses as a tab (longer than 31 characters) leaves the sheet
    // its own name; the rows are there all the same.
    const Sheet* sheet = book.Find(name);
    if (name.size() > 31) {
      EXPECT_EQ(sheet, nullptr);
      for (const Sheet& s : book.sheets)
        if (s.Text(2, 1) == name) sheet = &s;
    }
    ASSERT_NE(sheet, nullptr) << Narrow(name);
    EXPECT_EQ(sheet->Text(1, 1), L"Block name");
    Block block{name, 1, {}};
    for (int row = 2; row <= sheet->LastRow(); ++row) block.rows.push_back(row);
    CheckBlock(file.string(), *sheet, block, drawing, attribs);
  }
}

TEST_F(ExportCore, RealDrawingsIntoOneSheetMatchEzdxf) {
  std::vector<fs::path> files = drawing_test::RealDrawings();
  ASSERT_FALSE(files.empty());
  const auto all_refs = export_test::EzdxfRefs(files);
  const auto all_attribs = drawing_test::EzdxfView("attribs", files);
  std::size_t checked_variants = 0, checked_nested = 0, checked_refs = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    auto drawing = all_refs.find(file.string());
    if (drawing == all_refs.end()) continue;  // ezdxf cannot read it either
    drawing_test::WorkingDrawing working(file);
    if (!working.ok()) continue;  // DXF the host refuses: its own tests say why
    const std::vector<std::wstring> names = ExportedNames(drawing->second);
    if (names.empty()) continue;

    NewWorkbook();
    SettingsInfo settings;
    settings.WorksheetSettings = 1;
    settings.AddHeader = true;
    currentRow = 1;
    for (const std::wstring& name : names)
      EXPECT_TRUE(ExportBlockName(name.c_str(), settings)) << Narrow(name);
    EXPECT_TRUE(boxes_->shown.empty());
    const fs::path saved = SaveActive(file.stem().string() + ".xlsx");
    const Book book = export_test::ReadBooks({saved})[saved.string()];
    ASSERT_EQ(book.sheets.size(), 1u);
    const Sheet& sheet = book.sheets[0];

    // Each block name: a header row ("Block name" in column 1), then its data rows.
    std::vector<Block> blocks;
    for (int row = 1; row <= sheet.LastRow(); ++row) {
      const export_test::Cell* first = sheet.At(row, 1);
      if (first != nullptr && first->value == L"Block name" && first->bold) {
        blocks.push_back(Block{L"", row, {}});
      } else {
        ASSERT_FALSE(blocks.empty()) << "a data row before any header, row " << row;
        if (blocks.back().name.empty()) blocks.back().name = sheet.Text(row, 1);
        blocks.back().rows.push_back(row);
      }
    }
    ASSERT_EQ(blocks.size(), names.size()) << "one header per block name with references";
    const drawing_test::Rows& attribs = all_attribs.at(file.string());
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      EXPECT_EQ(blocks[i].name, names[i]) << "block names in the order asked";
      CheckBlock(file.string(), sheet, blocks[i], drawing->second, attribs);
    }
    for (const Ref& ref : drawing->second.refs) {
      if (ref.exported_as.starts_with(L"*")) continue;
      ++checked_refs;
      checked_variants += ref.block.starts_with(L"*");
      checked_nested += ref.owner == L"block";
    }
  }
  std::cout << "references " << checked_refs << ", of dynamic-block variants " << checked_variants
            << ", nested " << checked_nested << "\n";
  EXPECT_GT(checked_variants, 0u) << "samples/dynamic_blocks.dxf has variants";
}

TEST_F(ExportCore, LayerFilterSelectionAndMissingBlocks) {
  const fs::path file = dir_ / "rooms.dxf";
  ASSERT_TRUE(export_test::MakeOptionsDrawing(file));
  const DrawingRefs drawing = export_test::EzdxfRefs({file})[file.string()];
  std::vector<std::wstring> rooms;  // handles of ROOM: layers A-Rooms, B-Other, a-rooms
  std::wstring bare;
  for (const Ref& ref : drawing.refs) {
    if (ref.block == L"ROOM") rooms.push_back(ref.handle);
    if (ref.block == L"BARE") bare = ref.handle;
  }
  ASSERT_EQ(rooms.size(), 3u);
  drawing_test::WorkingDrawing working(file);
  ASSERT_TRUE(working.ok()) << working.error();

  struct Case {
    std::string name;
    bool filter_on;
    std::vector<std::wstring> layers;
    std::vector<std::wstring> selected;  // handles
    std::vector<std::wstring> expected;  // handles written, in order; none: no sheet
  };
  const std::vector<Case> cases = {
      {"no-filter", false, {}, {}, rooms},
      {"layer-any-case", true, {L"B-OTHER", L"a-ROOMS"}, {}, {rooms[0], rooms[1], rooms[2]}},
      {"layer-one", true, {L"b-other"}, {}, {rooms[1]}},
      {"layer-prefix", true, {L"A-Room", L"B"}, {}, {}},
      {"layer-on-empty", true, {}, {}, {}},
      {"selection", false, {}, {rooms[2], rooms[1]}, {rooms[1], rooms[2]}},
      {"selection-elsewhere", false, {}, {bare}, {}},
      {"both", true, {L"A-ROOMS"}, {rooms[1], rooms[2]}, {rooms[2]}},
  };
  std::vector<fs::path> saved;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NewWorkbook();
    LayerFilterOn = c.filter_on;
    LayerFilterNames = c.layers;
    ClearSelection();
    for (const std::wstring& handle : c.selected)
      SelectedBlockRefs.append(working.Id(Narrow(handle)));
    currentRow = 1;
    SettingsInfo settings;
    EXPECT_TRUE(ExportBlockName(L"ROOM", settings));
    EXPECT_EQ(currentRow, c.expected.empty() ? 1 : static_cast<int32_t>(c.expected.size()) + 2);
    EXPECT_EQ(LayerFilterNames, c.layers) << "the filter is read, not changed";
    EXPECT_EQ(SelectedBlockRefs.length(), static_cast<int>(c.selected.size()));
    saved.push_back(SaveActive(c.name + ".xlsx"));
  }
  const auto books = export_test::ReadBooks(saved);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const Book& book = books.at(saved[i].string());
    const Sheet* sheet = book.Find(L"ROOM");
    if (c.expected.empty()) {
      EXPECT_EQ(sheet, nullptr) << "nothing written, no worksheet created";
      EXPECT_EQ(book.sheets.size(), 1u);
      continue;
    }
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->Text(1, 1), L"Block name") << "the first reference kept gets the header";
    std::vector<std::wstring> written;
    for (int row = 2; row <= sheet->LastRow(); ++row) written.push_back(sheet->At(row, 1)->comment);
    EXPECT_EQ(written, c.expected);
  }

  LayerFilterOn = false;
  ClearSelection();
  Excel::_WorkbookPtr book = NewWorkbook();
  IDispatchPtr sheets = book->GetWorksheets();
  SettingsInfo settings;
  currentRow = 1;
  EXPECT_TRUE(ExportBlockName(L"UNUSED", settings)) << "a block without references";
  EXPECT_FALSE(ExportBlockName(L"NO_SUCH_BLOCK", settings));
  EXPECT_FALSE(ExportBlockName(nullptr, settings));
  EXPECT_EQ(Excel::Worksheets(sheets).GetCount(), 1) << "no sheet for either";
  EXPECT_EQ(currentRow, 1);
  // The host finds the record ignoring case; the name as asked is the one written.
  EXPECT_TRUE(ExportBlockName(L"room", settings));
  EXPECT_EQ(Excel::Worksheets(sheets).GetCount(), 2);
  const fs::path last = SaveActive("case.xlsx");
  const Book read = export_test::ReadBooks({last})[last.string()];
  const Sheet* room = read.Find(L"room");
  ASSERT_NE(room, nullptr);
  EXPECT_EQ(room->Text(2, 1), L"room");
  EXPECT_EQ(room->LastRow(), 4);
  EXPECT_TRUE(boxes_->shown.empty());
}

TEST_F(ExportCore, NothingWithoutADrawingOrASpreadsheet) {
  SettingsInfo settings;
  EXPECT_FALSE(ExportBlockName(L"ROOM", settings)) << "no working drawing";
  const fs::path file = dir_ / "rooms.dxf";
  ASSERT_TRUE(export_test::MakeOptionsDrawing(file));
  drawing_test::WorkingDrawing working(file);
  ASSERT_TRUE(working.ok());
  // The spreadsheet gone: the export runs through its references and writes nothing.
  excel_ = nullptr;
  sheetwise::calc::RevokeApplicationClass();
  currentRow = 4;
  EXPECT_TRUE(ExportBlockName(L"ROOM", settings));
  WriteTimeStampLine(L"now");
  AutoFitColumns();
  EXPECT_EQ(currentRow, 4);
  EXPECT_TRUE(boxes_->shown.empty());
}

}  // namespace
