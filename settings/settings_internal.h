// The stored names of the settings record's fields, in the order the store and the settings
// file write them, shared by settings.cpp and settings_file.cpp. Not part of the public
// interface.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "settings/settings.h"

namespace sheetwise::settings_internal {

/// One field of SettingsInfo under its stored name: a bool or a 32-bit integer, of the record
/// itself (export) or of its Import part.
struct Field {
  const wchar_t* name;
  bool SettingsInfo::*export_flag = nullptr;
  int32_t SettingsInfo::*export_number = nullptr;
  bool ImportSettingsInfo::*import_flag = nullptr;
  int32_t ImportSettingsInfo::*import_number = nullptr;

  bool IsFlag() const { return export_flag != nullptr || import_flag != nullptr; }
  /// The field as stored: a bool as 0 or 1, an integer as its two's complement.
  uint32_t Get(const SettingsInfo& s) const;
  /// Sets the field from a stored number: a bool becomes true when `stored` is not 0.
  void Set(SettingsInfo& s, uint32_t stored) const;
};

constexpr Field Flag(const wchar_t* name, bool SettingsInfo::*m) {
  return {name, m};
}
constexpr Field Number(const wchar_t* name, int32_t SettingsInfo::*m) {
  return {name, nullptr, m};
}
constexpr Field ImportFlag(const wchar_t* name, bool ImportSettingsInfo::*m) {
  return {name, nullptr, nullptr, m};
}
constexpr Field ImportNumber(const wchar_t* name, int32_t ImportSettingsInfo::*m) {
  return {name, nullptr, nullptr, nullptr, m};
}

/// The Export key's values and the settings file's [Export] keys, in writing order. Loading
/// from the store reads "Coords" between BlockNames and XCoord.
inline constexpr std::array<Field, 23> kExportFields = {
    Flag(L"AddHeader", &SettingsInfo::AddHeader),
    Flag(L"AutoConnect", &SettingsInfo::AutoConnect),
    Flag(L"BlockNames", &SettingsInfo::BlockNames),
    Flag(L"XCoord", &SettingsInfo::XCoord),
    Flag(L"YCoord", &SettingsInfo::YCoord),
    Flag(L"ZCoord", &SettingsInfo::ZCoord),
    Flag(L"LayerNames", &SettingsInfo::LayerNames),
    Flag(L"LayoutNames", &SettingsInfo::LayoutNames),
    Flag(L"OddLine", &SettingsInfo::OddLine),
    Flag(L"Rotation", &SettingsInfo::Rotation),
    Flag(L"Scale", &SettingsInfo::Scale),
    Flag(L"Sort", &SettingsInfo::Sort),
    Number(L"StartRow", &SettingsInfo::StartRow),
    Number(L"WorkbookSettings", &SettingsInfo::WorkbookSettings),
    Number(L"WorksheetSettings", &SettingsInfo::WorksheetSettings),
    Flag(L"IncludeConstant", &SettingsInfo::IncludeConstant),
    Flag(L"JTSK", &SettingsInfo::JTSK),
    Flag(L"NoAutofit", &SettingsInfo::NoAutofit),
    Flag(L"AsText", &SettingsInfo::AsText),
    Flag(L"FindNextBlankLine", &SettingsInfo::FindNextBlankLine),
    Flag(L"ExportAttPrompts", &SettingsInfo::ExportAttPrompts),
    Flag(L"Selection", &SettingsInfo::Selection),
    Flag(L"TimeStamp", &SettingsInfo::TimeStamp),
};

/// The Import key's values and the settings file's [Import] keys, in writing order.
inline constexpr std::array<Field, 4> kImportFields = {
    ImportNumber(L"ImportSettings", &ImportSettingsInfo::ImportSettings),
    ImportFlag(L"IgnoreProps", &ImportSettingsInfo::IgnoreProps),
    ImportNumber(L"StartCol", &ImportSettingsInfo::StartCol),
    ImportNumber(L"StartRow", &ImportSettingsInfo::StartRow),
};

/// The older single switch for all three coordinates: read, never written.
inline constexpr const wchar_t* kCoordsValue = L"Coords";

/// The integer at the start of `text` as _wtoi reads it: blanks skipped, an optional sign, the
/// ASCII digits up to the first other character; 0 when there are none; saturated at INT32_MIN
/// and INT32_MAX (as Windows' CRT does, observed under Wine).
int32_t LeadingInteger(std::wstring_view text);

}  // namespace sheetwise::settings_internal
