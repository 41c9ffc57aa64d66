// The resource library's string table: every text the program shows, in English.
#include "res/resource_table.h"

namespace res {

// Keywords of the VANTA prompt: local names (capitals mark the abbreviation a user may type)
// and, after "_", the global names the program compares with, so that "_import2" always means
// Import2 whatever language the local names are in.
#define SW_VANTA_KEYWORDS                                                                       \
  L"Export Export2 Selection+export Export3 Export4 Import Options Connect Disconnect Import2 " \
  L"Toolbar Help"

const StringEntry kStrings[] = {
    {4, L"Sheetwise live link"},
    {5, L"Sheetwise"},
    {6,
     L"Sheetwise ran into an unexpected error and stopped this operation. The drawing and the "
     L"workbook keep what was done before the error."},
    {7, SW_VANTA_KEYWORDS L" _" SW_VANTA_KEYWORDS},
    {8,
     L"\nSheetwise [Export/Export2/Selection+export/Export3/Export4/Import/Options/Connect/"
     L"Disconnect/Import2/Toolbar/Help] <Export>: "},
    {9, L"\nBlock names to export, separated by commas (Enter for all): "},
    {10,
     L"The spreadsheet application could not be reached or started. Check that it is "
     L"installed and that it can start, then try again."},
    {11, L"This drawing has no named blocks that can be exported."},
    {12, L"Block name"},
    {13, L"X"},
    {14, L"Insertion point X"},
    {15, L"Y"},
    {16, L"Insertion point Y"},
    {17, L"Z"},
    {18, L"Insertion point Z"},
    {19, L"Rotation"},
    {20, L"Rotation angle"},
    {21, L"Scale X"},
    {22, L"X scale factor"},
    {23, L"Scale Y"},
    {24, L"Y scale factor"},
    {25, L"Scale Z"},
    {26, L"Z scale factor"},
    {27, L"Layer"},
    {28, L"Layer name"},
    {29, L"Layout"},
    {30, L"Layout name"},
    {35, L"Set every option back to its default value?"},
    {36, L"Export"},
    {37, L"Import"},
    {38, L"About"},
    {39, L"Coordinates"},
    {40,
     L"Not all three coordinates (X, Y and Z) are exported. An import can only move block "
     L"references whose rows hold the coordinates it needs; the others keep their place."},
    {41, L"Settings files (*.ini)|*.ini|All files (*.*)|*.*||"},
    {42, L"Sheetwise.ini"},
    {43, L"ini"},
    {55,
     L"A row could not be written to the worksheet. The export goes on with the next block "
     L"reference."},
};

const std::size_t kStringCount = sizeof(kStrings) / sizeof(kStrings[0]);

}  // namespace res
