// Ids of the resource library's strings, dialogs and menus, shared by the library that holds
// them and the code that loads them.
#pragma once

namespace res {

inline constexpr unsigned kLinkErrorCaption = 4;
inline constexpr unsigned kErrorCaption = 5;
inline constexpr unsigned kUnexpectedError = 6;
inline constexpr unsigned kVantaKeywords = 7;
inline constexpr unsigned kVantaPrompt = 8;
inline constexpr unsigned kBlockNamesPrompt = 9;
inline constexpr unsigned kSpreadsheetUnavailable = 10;
inline constexpr unsigned kNoExportableBlocks = 11;
// Column headers (odd) and the column labels kept as their comments (even), 12 to 30.
inline constexpr unsigned kHeaderBlockName = 12;
inline constexpr unsigned kHeaderX = 13;
inline constexpr unsigned kLabelX = 14;
inline constexpr unsigned kHeaderY = 15;
inline constexpr unsigned kLabelY = 16;
inline constexpr unsigned kHeaderZ = 17;
inline constexpr unsigned kLabelZ = 18;
inline constexpr unsigned kHeaderRotation = 19;
inline constexpr unsigned kLabelRotation = 20;
inline constexpr unsigned kHeaderScaleX = 21;
inline constexpr unsigned kLabelScaleX = 22;
inline constexpr unsigned kHeaderScaleY = 23;
inline constexpr unsigned kLabelScaleY = 24;
inline constexpr unsigned kHeaderScaleZ = 25;
inline constexpr unsigned kLabelScaleZ = 26;
inline constexpr unsigned kHeaderLayer = 27;
inline constexpr unsigned kLabelLayer = 28;
inline constexpr unsigned kHeaderLayout = 29;
inline constexpr unsigned kLabelLayout = 30;
inline constexpr unsigned kDefaultsQuestion = 35;
inline constexpr unsigned kTabExport = 36;
inline constexpr unsigned kTabImport = 37;
inline constexpr unsigned kTabAbout = 38;
inline constexpr unsigned kCoordinatesCaption = 39;
inline constexpr unsigned kCoordinatesNotice = 40;
inline constexpr unsigned kSettingsFileFilter = 41;
inline constexpr unsigned kSettingsFileName = 42;
inline constexpr unsigned kSettingsFileExtension = 43;
inline constexpr unsigned kRowWriteFailed = 55;

}  // namespace res
