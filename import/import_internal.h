// Helpers shared by the import's reader and driver: single-cell reads and the import's own
// COM errors.
#pragma once

#include <string>

#include "excel/excel.h"

/// The shown text of cell (row, column) of the Cells collection `cells`; with `comment`, also
/// the cell's comment (null when it has none). Raises _com_error when a call fails.
std::wstring CellText(IDispatch* cells, LONG row, LONG column, IDispatchPtr* comment);
/// The stored value of cell (row, column). Raises _com_error when a call fails.
_variant_t CellValue(IDispatch* cells, LONG row, LONG column);
/// Raises _com_error(hr) whose error information has the import as source and `description`
/// (which names the sheet, row and column) as description.
[[noreturn]] void RaiseImportError(HRESULT hr, const std::wstring& description);
