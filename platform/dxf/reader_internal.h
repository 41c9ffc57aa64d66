// The DXF reader behind DxfDocument::Parse.
#pragma once

#include "platform/dxf/document_internal.h"

namespace sheetwise::dxf {

/// Splits `doc.data` into tags and records, checks the structure, value syntax and handles,
/// and sets version and code page. False with `result.error` set when the file is refused;
/// repairable damage adds warnings. `highest_handle` receives the largest handle in the file.
bool ReadDxf(DxfDocument::Impl& doc, LoadResult& result, Handle& highest_handle);

}  // namespace sheetwise::dxf
