#include "import/importrow.h"

#include <cmath>
#include <memory>
#include <numbers>
#include <utility>

#include "app/resstring.h"
#include "cmd/cmdvanta.h"
#include "import/import_internal.h"
#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/variant.h"
#include "platform/host/dbapserv.h"
#include "platform/host/dbsymtb.h"
#include "platform/host/editor.h"
#include "platform/win/locale.h"
#include "res/resource_ids.h"

namespace {

// Columns from 256 on are never read: the worksheet layout's width.
constexpr LONG kLastColumn = 255;
// How far a header row is looked at for columns left unread (Excel's last column).
constexpr LONG kLastSheetColumn = 16384;

struct Label {
  UINT id;
  ColumnKind kind;
};
// Compared in this order; the first one equal to a header comment names the column.
constexpr Label kLabels[] = {
    {res::kLabelLayer, ColumnKind::kLayer},  {res::kLabelRotation, ColumnKind::kRotation},
    {res::kLabelX, ColumnKind::kX},          {res::kLabelY, ColumnKind::kY},
    {res::kLabelZ, ColumnKind::kZ},          {res::kLabelScaleX, ColumnKind::kScale},
    {res::kLabelScaleY, ColumnKind::kScale}, {res::kLabelScaleZ, ColumnKind::kScale},
};

std::wstring ToText(const _bstr_t& text) {
  const wchar_t* p = static_cast<const wchar_t*>(text);
  return p != nullptr ? std::wstring(p, text.length()) : std::wstring();
}

// The platform's conversion of a cell value to text (flags 0); false when it refuses (an
// error value).
bool ValueText(const VARIANT& value, std::wstring* text, HRESULT* hr) {
  VARIANT out;
  VariantInit(&out);
  *hr = VariantChangeType(&out, &value, 0, VT_BSTR);
  if (FAILED(*hr)) return false;
  *text = out.bstrVal != nullptr ? std::wstring(out.bstrVal, SysStringLen(out.bstrVal)) : L"";
  VariantClear(&out);
  return true;
}

// The drawing's view of one object, read before anything is written.
struct Current {
  bool is_reference = false;
  std::vector<std::pair<std::wstring, std::wstring>> attributes;  // tag, text
  std::vector<bool> multiline;
  AcGePoint3d position;
  AcGeScale3d scale;
  double rotation = 0.0;
  std::wstring layer;
};

std::wstring TakeHostText(ACHAR* text) {
  std::wstring out = text != nullptr ? text : L"";
  acutDelBuffer(text);
  return out;
}

bool ReadCurrent(const std::wstring& handle, Current* out) {
  AcDbEntity* entity = nullptr;
  if (!OpenEntityByHandle(handle, AcDb::kForRead, entity)) return false;
  out->layer = TakeHostText(entity->layer());
  if (auto* ref = AcDbBlockReference::cast(entity)) {
    out->is_reference = true;
    out->position = ref->position();
    out->scale = ref->scaleFactors();
    out->rotation = ref->rotation();
    std::unique_ptr<AcDbObjectIterator> it(ref->attributeIterator());
    for (; it && !it->done(); it->step()) {
      AcDbAttribute* att = nullptr;
      if (ref->openAttribute(att, it->objectId(), AcDb::kForRead, false) != Acad::eOk) continue;
      AcString text;
      att->textString(text);
      out->attributes.emplace_back(TakeHostText(att->tag()), text.kwszPtr());
      out->multiline.push_back(att->isMTextAttribute());
      att->close();
    }
  }
  entity->close();
  return true;
}

bool LayerExists(const std::wstring& name) {
  AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
  AcDbLayerTable* table = nullptr;
  if (db == nullptr || db->getLayerTable(table, AcDb::kForRead) != Acad::eOk) return false;
  const bool has = table->has(name.c_str());
  table->close();
  return has;
}

bool Near(double a, double b) {
  return std::fabs(a - b) <= 1e-12 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

// The cell holds the drawing's value when it equals it, or equals what the export writes for
// it in the drawing's units and precision: an unedited "12.3457" leaves 12.345678 alone.
bool SameDistance(double cell, double current, const UnitSettings& units) {
  if (Near(cell, current)) return true;
  const UnitText shown = FormatDistance(current, -1, -1, units);
  double read = 0.0;
  return shown.status == RTNORM && ParseDistance(shown.text, &read) && Near(cell, read);
}

double NormalAngle(double radians) {
  double a = std::fmod(radians, 2 * std::numbers::pi);
  if (a < 0) a += 2 * std::numbers::pi;
  return a;
}

bool SameAngle(double cell, double current, const UnitSettings& units) {
  const double a = NormalAngle(cell);
  auto near = [](double x, double y) {
    const double d = std::fabs(x - y);
    return d <= 1e-12 || std::fabs(d - 2 * std::numbers::pi) <= 1e-12;
  };
  if (near(a, NormalAngle(current))) return true;
  const UnitText shown = FormatAngle(current, -1, -1, units);
  if (shown.status != RTNORM) return false;
  const AngleValue read = ParseAngle(shown.text, units.aunits, units);
  return read.status == RTNORM && near(a, NormalAngle(read.radians));
}

// A point or scale from three cells: an empty cell keeps the drawing's component; a cell that
// holds the drawing's value as exported keeps it exactly.
template <typename Triple>
Triple Merge(const std::vector<std::optional<double>>& cells, Triple current,
             const UnitSettings& units, double Triple::*x, double Triple::*y, double Triple::*z) {
  double Triple::*members[3] = {x, y, z};
  Triple out = current;
  for (int i = 0; i < 3; ++i) {
    const std::optional<double>& cell = cells[static_cast<std::size_t>(i)];
    if (cell && !SameDistance(*cell, current.*members[i], units)) out.*members[i] = *cell;
  }
  return out;
}

}  // namespace

std::wstring ColumnName(LONG column) {
  std::wstring name;
  for (LONG n = column; n > 0; n = (n - 1) / 26)
    name.insert(name.begin(), static_cast<wchar_t>(L'A' + (n - 1) % 26));
  return name.empty() ? std::to_wstring(column) : name;
}

std::wstring RowPlace::Text() const {
  return L"Sheet \"" + sheet + L"\" row " + std::to_wstring(row);
}

std::wstring CellText(IDispatch* cells, LONG row, LONG column, IDispatchPtr* comment) {
  const _variant_t item = Excel::Range(cells).GetItem(_variant_t(row), _variant_t(column));
  const Excel::RangePtr cell = item;
  if (comment != nullptr) *comment = cell->GetComment();
  return ToText(VariantToText(cell->GetText()));
}

_variant_t CellValue(IDispatch* cells, LONG row, LONG column) {
  const _variant_t item = Excel::Range(cells).GetItem(_variant_t(row), _variant_t(column));
  const Excel::RangePtr cell = item;
  return cell->GetValue();
}

HeaderLayout ReadHeaderLayout(IDispatch* cells, LONG row, LONG start_col) {
  HeaderLayout layout;
  layout.row = row;
  if (start_col > kLastColumn) return layout;
  std::wstring labels[std::size(kLabels)];
  for (std::size_t i = 0; i < std::size(kLabels); ++i) labels[i] = g_resString.Load(kLabels[i].id);
  int empty = 0;
  LONG column = start_col;
  for (; column <= kLastColumn; ++column) {
    IDispatchPtr comment;
    const std::wstring text = CellText(cells, row, column, std::addressof(comment));
    if (text.empty() && ++empty == 2) break;
    if (!comment) {
      if (!text.empty()) layout.columns.push_back({column, ColumnKind::kAttribute, text});
      continue;
    }
    const std::wstring label = ToText(Excel::Comment(comment).Text());
    for (std::size_t i = 0; i < std::size(kLabels); ++i) {
      if (!labels[i].empty() && label == labels[i]) {
        layout.columns.push_back({column, kLabels[i].kind, text});
        break;
      }
    }
  }
  // Header cells beyond where rows end are named for the user, so that no column is left
  // unread without a word.
  const bool by_empty = column <= kLastColumn;
  const LONG stop = column;
  const LONG limit = by_empty ? kLastColumn : kLastSheetColumn;
  for (LONG c = stop + 1; c <= limit; ++c) {
    const std::wstring text = CellText(cells, row, c, nullptr);
    if (text.empty()) {
      if (!by_empty && ++empty >= 2) break;
      continue;
    }
    std::wstring why =
        by_empty ? L"its second empty header cell, column " + ColumnName(stop) + L", ends every row"
                 : L"columns after " + ColumnName(kLastColumn) + L" are never read";
    layout.warnings.push_back(L"header row " + std::to_wstring(row) + L": column " + ColumnName(c) +
                              L" (\"" + text + L"\") is not read: " + why);
    break;
  }
  return layout;
}

void ReadImportRow(IDispatch* cells, const HeaderLayout& header, const RowPlace& place,
                   const UnitSettings& units, ImportRow& row, ImportReport& report) {
  row.tags.clear();
  row.values.clear();
  row.coordinates.clear();
  row.scales.clear();
  row.bad_coordinates = false;
  row.bad_scale = false;
  row.rotation_in_row = false;
  row.layer_in_row = false;
  for (const HeaderColumn& column : header.columns) {
    const _variant_t value = CellValue(cells, place.row, column.column);
    // Where the cell is, for a note; formed only when one is written.
    auto where = [&] { return place.Text() + L" column " + ColumnName(column.column); };
    auto number = [&](NumberColumn kind) {
      CellNumber n = CellToNumber(value, kind, units);
      if (n.kind == CellNumber::kInvalid)
        report.Note(where() + L" (\"" + column.tag + L"\"): the cell " + n.problem +
                    L"; the property is left as it is");
      return n;
    };
    switch (column.kind) {
      case ColumnKind::kAttribute: {
        std::wstring text;
        HRESULT hr = S_OK;
        if (!ValueText(value, &text, &hr)) {
          report.Note(where() + L" (\"" + column.tag +
                      L"\"): the cell holds an error value; the attribute is left as it is");
          break;
        }
        row.tags.push_back(column.tag);
        row.values.push_back(std::move(text));
        break;
      }
      case ColumnKind::kLayer: {
        std::wstring text;
        HRESULT hr = S_OK;
        if (!ValueText(value, &text, &hr))
          RaiseImportError(hr, where() + L": the layer cell holds a value that is no text");
        row.layer = std::move(text);
        row.layer_in_row = true;
        break;
      }
      case ColumnKind::kRotation: {
        row.rotation_in_row = true;
        const CellNumber n = number(NumberColumn::kAngle);
        // An empty or unreadable cell leaves this row's rotation alone.
        if (n.kind == CellNumber::kNumber) {
          row.rotation = n.value;
        } else {
          row.rotation.reset();
        }
        break;
      }
      case ColumnKind::kX:
      case ColumnKind::kY:
      case ColumnKind::kZ: {
        const CellNumber n = number(NumberColumn::kDistance);
        if (n.kind == CellNumber::kInvalid) row.bad_coordinates = true;
        row.coordinates.push_back(n.kind == CellNumber::kNumber ? std::optional(n.value)
                                                                : std::nullopt);
        break;
      }
      case ColumnKind::kScale: {
        // The scale columns fill X, Y, Z in the order they stand; a fourth is not read.
        if (row.scales.size() == 3) break;
        const CellNumber n = number(NumberColumn::kScale);
        if (n.kind == CellNumber::kInvalid) row.bad_scale = true;
        row.scales.push_back(n.kind == CellNumber::kNumber ? std::optional(n.value) : std::nullopt);
        break;
      }
    }
  }
}

void ApplyImportRow(const ImportRow& row, bool ignore_props, bool dry_run, const RowPlace& place,
                    const UnitSettings& units, ImportReport& report) {
  Current current;
  if (!ReadCurrent(row.handle, &current)) {
    ++report.unknown_handles;
    report.Note(place.Text() + L": handle \"" + row.handle +
                L"\" names no object in the drawing; the row is skipped");
    return;
  }
  bool changed = false;
  if (!current.is_reference) {
    ++report.not_block_references;
    report.Note(place.Text() + L": handle \"" + row.handle +
                L"\" is not a block reference; its attributes are skipped");
  } else {
    // The value each attribute ends with: of two columns with one tag the right-hand one.
    const std::wstring block_name = g_resString.Load(res::kHeaderBlockName);
    std::vector<bool> found(row.tags.size(), false);
    std::vector<std::size_t> last_of(current.attributes.size(), row.tags.size());
    for (std::size_t a = 0; a < current.attributes.size(); ++a) {
      for (std::size_t t = 0; t < row.tags.size(); ++t) {
        if (!EqualsNoCase(current.attributes[a].first, row.tags[t])) continue;
        found[t] = true;
        last_of[a] = t;
      }
    }
    for (std::size_t t = 0; t < row.tags.size(); ++t)
      if (!found[t] && row.tags[t] != block_name) ++report.tags_not_found[row.tags[t]];
    std::vector<std::wstring> tags, values;
    std::size_t planned = 0;
    for (std::size_t a = 0; a < current.attributes.size(); ++a) {
      const std::size_t t = last_of[a];
      if (t == row.tags.size() || current.attributes[a].second == row.values[t]) continue;
      const std::wstring& value = row.values[t];
      if (!current.multiline[a] && value.find_first_of(L"\r\n") != std::wstring::npos) {
        report.Note(place.Text() + L": the value for " + current.attributes[a].first +
                    L" has a line break, which a single-line attribute cannot hold; "
                    L"the attribute is left as it is");
        continue;
      }
      ++planned;
      tags.push_back(current.attributes[a].first);
      values.push_back(value);
    }
    if (planned > 0) {
      if (!dry_run && !SetAttributesByTag(row.handle, tags, values)) {
        // Count what the drawing took, attribute by attribute.
        Current after;
        planned = 0;
        if (ReadCurrent(row.handle, &after))
          for (std::size_t a = 0; a < after.attributes.size() && a < current.attributes.size(); ++a)
            if (after.attributes[a].second != current.attributes[a].second) ++planned;
      }
      report.attributes_written += planned;
      changed = changed || planned > 0;
    }
  }

  if (!ignore_props) {
    // Position, scale, layer, rotation: each opens the object again and fails alone.
    if (current.is_reference && row.coordinates.size() == 3) {
      if (row.bad_coordinates) {
        // Noted where the cell was read.
      } else {
        const AcGePoint3d target = Merge(row.coordinates, current.position, units, &AcGePoint3d::x,
                                         &AcGePoint3d::y, &AcGePoint3d::z);
        if (target.x != current.position.x || target.y != current.position.y ||
            target.z != current.position.z) {
          if (dry_run || SetBlockPosition(row.handle, target)) {
            ++report.positions_written;
            changed = true;
          } else {
            report.Note(place.Text() + L": the drawing refused the new position");
          }
        }
      }
    }
    if (current.is_reference && row.scales.size() == 3 && !row.bad_scale) {
      const AcGeScale3d target = Merge(row.scales, current.scale, units, &AcGeScale3d::sx,
                                       &AcGeScale3d::sy, &AcGeScale3d::sz);
      if (target.sx != current.scale.sx || target.sy != current.scale.sy ||
          target.sz != current.scale.sz) {
        if (dry_run || SetBlockScale(row.handle, target)) {
          ++report.scales_written;
          changed = true;
        } else {
          report.Note(place.Text() + L": the drawing refused the new scale factors");
        }
      }
    }
    if (row.layer && !row.layer->empty() && !EqualsNoCase(*row.layer, current.layer)) {
      if (!LayerExists(*row.layer)) {
        report.Note(place.Text() + L": the drawing has no layer \"" + *row.layer +
                    L"\"; the layer is left as it is");
      } else if (dry_run || SetEntityLayer(row.handle, *row.layer)) {
        ++report.layers_written;
        changed = true;
      } else {
        report.Note(place.Text() + L": the drawing refused layer \"" + *row.layer + L"\"");
      }
    }
    if (current.is_reference && row.rotation &&
        !SameAngle(*row.rotation, current.rotation, units)) {
      if (dry_run || SetBlockRotation(row.handle, *row.rotation)) {
        ++report.rotations_written;
        changed = true;
      } else {
        report.Note(place.Text() + L": the drawing refused the new rotation");
      }
    }
  }
  if (changed) report.updated.insert(FoldCase(row.handle));
}

[[noreturn]] void RaiseImportError(HRESULT hr, const std::wstring& description) {
  ICreateErrorInfo* create = nullptr;
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    create->SetSource(const_cast<LPOLESTR>(L"Sheetwise import"));
    create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    if (FAILED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info))))
      info = nullptr;
    create->Release();
  }
  throw _com_error(hr, info, false);
}
