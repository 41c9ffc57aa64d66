// The options of export and import as one plain record, loaded from and saved to the user's
// settings store (the registry) under HKEY_CURRENT_USER\SOFTWARE\Norvane\Sheetwise\Settings.
//
// A record is never kept between commands: every command that needs it declares a fresh one,
// fills it with LoadSettings and passes it down; the import part goes to the import on its own.
//
//   sheetwise::SettingsInfo settings;
//   sheetwise::LoadSettings(settings);
//   RunImport(drawing, settings.Import);
#pragma once

#include <cstdint>

namespace sheetwise {

/// The store's key of the export options, below HKEY_CURRENT_USER.
inline constexpr const wchar_t* kExportSettingsKey =
    L"SOFTWARE\\Norvane\\Sheetwise\\Settings\\Export";
/// The store's key of the import options, below HKEY_CURRENT_USER.
inline constexpr const wchar_t* kImportSettingsKey =
    L"SOFTWARE\\Norvane\\Sheetwise\\Settings\\Import";

/// The import's options (stored under the Import key). Field names are the stored value names.
struct ImportSettingsInfo {
  /// 1: the import reads the worksheets of the active workbook; any other value: the active
  /// worksheet only.
  int32_t ImportSettings = 0;
  /// The import leaves block properties alone and writes attributes only.
  bool IgnoreProps = true;
  /// First worksheet column the import reads (1-based; not range-checked on load).
  int32_t StartCol = 1;
  /// First worksheet row the import reads (1-based; not range-checked on load).
  int32_t StartRow = 2;

  bool operator==(const ImportSettingsInfo&) const = default;
};

/// Every option of export and import. Field names are the stored value names (under the Export
/// key); the import's four fields, whose "StartRow" shares its name with the export's, are the
/// sub-record `Import`. The initializers are the defaults (SetDefaults restores them).
struct SettingsInfo {
  /// 1: an export writes to the active workbook (adding one when none is open); any other
  /// value: always to a new workbook.
  int32_t WorkbookSettings = 0;
  /// 1: write into the active worksheet, continuing at a start row; 0: each block name's rows
  /// start at row 1 of the worksheet the export chooses.
  int32_t WorksheetSettings = 0;
  /// The export's first row when WorksheetSettings is 1 and FindNextBlankLine is off.
  int32_t StartRow = 1;
  bool AddHeader = false;    ///< a header row of column titles
  bool BlockNames = true;    ///< the block name column
  bool XCoord = true;        ///< the X of the insertion point
  bool YCoord = true;        ///< the Y of the insertion point
  bool ZCoord = true;        ///< the Z of the insertion point
  bool OddLine = false;      ///< one empty row above every data row
  bool Rotation = true;      ///< the rotation angle
  bool LayerNames = true;    ///< the layer name
  bool AutoConnect = false;  ///< start the live link after a successful export
  /// Write constant attributes too. Defaults to false: an export writes only the attributes
  /// that block references carry themselves, which are also the only ones an import can change.
  bool IncludeConstant = false;
  bool Scale = true;         ///< the scale factors
  bool Sort = false;         ///< attribute columns ordered by tag instead of definition order
  bool LayoutNames = false;  ///< a layout name column
  bool NoAutofit = false;    ///< do not auto-fit the written columns
  bool JTSK = false;         ///< negative coordinates written as their absolute value (S-JTSK)
  bool AsText = true;        ///< cells written as text
  /// With WorksheetSettings 1, start at the first blank row of the active worksheet instead of
  /// StartRow.
  bool FindNextBlankLine = false;
  bool ExportAttPrompts = false;  ///< a second header row with the attribute prompts
  bool Selection = false;         ///< the Export keyword asks for a selection first
  bool TimeStamp = false;         ///< the command's start time after each block name's rows
  ImportSettingsInfo Import;

  bool operator==(const SettingsInfo&) const = default;
};

/// Sets every field of `settings` to its default (those of a value-initialized record).
void SetDefaults(SettingsInfo& settings);

/// Fills `settings`: the defaults, then every value found in the store. A value changes its
/// field only when it is a REG_DWORD of exactly 4 bytes; any other type or size is ignored. A
/// bool is true when the stored number is not 0. The old "Coords" switch, when present, sets
/// XCoord, YCoord and ZCoord, and each of those three stored on its own then overrides it. When
/// the Export key cannot be opened every field keeps its default, the import's too. Values are
/// not range-checked. Never fails visibly. Main thread.
void LoadSettings(SettingsInfo& settings);

/// Writes every field of `settings` as a REG_DWORD (bools as 0 or 1), the Export key's values
/// first, then the Import key's, each key opened for writing or else created. Returns true only
/// when both keys could be opened or created, every value written and both keys closed; the
/// first failure stops the save and returns false, leaving the values written before it. Never
/// writes "Coords": an old one stays and is overridden at load by the three coordinates. Main
/// thread.
bool SaveSettings(const SettingsInfo& settings);

}  // namespace sheetwise
