// DXF group codes by name, and the value type each group code carries in a file.
#pragma once

#include <cstdint>

namespace sheetwise::dxf {

/// Group codes this program refers to by name. Ranges (points, XDATA) name their first code.
inline constexpr int kCodeComment = 999;  ///< 999: comment line, kept where it stands
inline constexpr int kCodeType = 0;       ///< 0: entity, object, record or section marker
inline constexpr int kCodeText = 1;       ///< 1: primary text (TEXT, ATTRIB value)
inline constexpr int kCodeName = 2;       ///< 2: name (section, block, table, attribute tag)
inline constexpr int kCodeText3 = 3;      ///< 3: other text (ATTDEF prompt, header strings)
inline constexpr int kCodeLinetype = 6;   ///< 6: linetype name
inline constexpr int kCodeLayer = 8;      ///< 8: layer name
inline constexpr int kCodeVariable = 9;   ///< 9: header variable name ($ACADVER ...)
inline constexpr int kCodeHandle = 5;     ///< 5: handle of an entity, object or record
inline constexpr int kCodeX = 10;         ///< 10/20/30: first point
inline constexpr int kCodeY = 20;
inline constexpr int kCodeZ = 30;
inline constexpr int kCodeFlags = 70;            ///< 70: flags (ATTRIB, ATTDEF, BLOCK, tables)
inline constexpr int kCodeEntitiesFollow = 66;   ///< 66: INSERT/POLYLINE followed by ATTRIB/VERTEX
inline constexpr int kCodeSubclass = 100;        ///< 100: subclass marker (AcDbEntity ...)
inline constexpr int kCodeControl = 102;         ///< 102: "{APP" ... "}" group brackets
inline constexpr int kCodeDimstyleHandle = 105;  ///< 105: handle of a DIMSTYLE record
inline constexpr int kCodeBinaryChunk = 310;     ///< 310-319: binary data (hex in ASCII files)
inline constexpr int kCodeOwner = 330;           ///< 330: soft pointer; outside 102 groups: owner
inline constexpr int kCodeHardOwner = 360;       ///< 360: hard owner (extension dictionary)
inline constexpr int kCodeXDataApp = 1001;       ///< 1001: XDATA application name; XDATA 1000-1071
inline constexpr int kCodeXDataString = 1000;
inline constexpr int kCodeXDataControl = 1002;  ///< 1002: "{" / "}" inside XDATA
inline constexpr int kCodeXDataInt16 = 1070;
inline constexpr int kCodeXDataInt32 = 1071;

/// What a group code's value is. Fixed by the code alone, as in every DXF version.
enum class ValueType : std::uint8_t {
  kString,  ///< text (in binary files zero-terminated)
  kHandle,  ///< hexadecimal handle text (5, 105, 320-369, 390-399, 480-481, 1005)
  kBinary,  ///< binary chunk: hex text in ASCII files, length-prefixed bytes in binary files
  kDouble,  ///< 64-bit float
  kInt16,   ///< 16-bit integer
  kInt32,   ///< 32-bit integer
  kInt64,   ///< 64-bit integer (160-169)
  kBool,    ///< 290-299: 0 or 1 (one byte in binary files)
};

/// The value type of `code`. Codes DXF leaves undefined read as kString, so that an unknown
/// code from a newer program is kept as text and never refused.
ValueType ValueTypeOf(int code);

}  // namespace sheetwise::dxf
