// The Options dialog: its tabbed frame, the Export, Import and About pages, and the settings-file
// menu of its menu button.
#include "platform/win/resource.h"
#include "res/resource_table.h"

namespace {

// The frame: the tab control above the pages' area, the buttons below it. Pages are placed
// inside the tab control by the dialog engine.
const char kFrame[] = R"tmpl(# Options: the tabbed frame
DIALOG 1001 "Options" CONTEXTHELP
TAB 1012 AT 7 7 318 238
BUTTON 3 "Settings file" OWNERDRAW AT 7 252 70 14
BUTTON 4 "Defaults" AT 83 252 60 14
BUTTON 1 "OK" DEFAULT AT 199 252 60 14
BUTTON 2 "Cancel" AT 265 252 60 14
)tmpl";

// The Export page: what each row holds on the left, where the rows go on the right.
const char kExportPage[] = R"tmpl(# Options: Export
DIALOG 132 "Export"
GROUPBOX -1 "Columns" AT 7 7 146 204
CHECKBOX 1012 "Block name" AT 14 20 132 10
CHECKBOX 1006 "X coordinate" AT 14 34 132 10
CHECKBOX 1013 "Y coordinate" AT 14 48 132 10
CHECKBOX 1014 "Z coordinate" AT 14 62 132 10
CHECKBOX 1009 "Rotation" AT 14 76 132 10
CHECKBOX 1008 "Scale" AT 14 90 132 10
CHECKBOX 1010 "Layer name" AT 14 104 132 10
CHECKBOX 1015 "Layout name" AT 14 118 132 10
CHECKBOX 1021 "Constant attributes" AT 14 132 132 10
CHECKBOX 1022 "Attributes sorted by tag" AT 14 146 132 10
CHECKBOX 1027 "Row of attribute prompts" AT 14 160 132 10
CHECKBOX 1034 "Time stamp after each block" AT 14 174 132 10
CHECKBOX 1016 "Coordinates as S-JTSK" AT 14 188 132 10
GROUPBOX -1 "Worksheet" AT 160 7 146 86
RADIO 1003 "A new worksheet for each block" GROUP AT 167 20 132 10
RADIO 1004 "The active worksheet" AT 167 34 132 10
STATIC -1 "Start row:" GROUP AT 179 49 40 10
EDIT 1005 "" NUMBER AT 222 47 48 12
UPDOWN 1007 BUDDY 1005 AT 270 47 10 12
CHECKBOX 1017 "Continue at the next blank row" AT 179 63 124 10
CHECKBOX 1011 "Header row" AT 179 77 124 10
GROUPBOX -1 "Workbook" AT 160 97 146 42
RADIO 1000 "A new workbook" GROUP AT 167 110 132 10
RADIO 1001 "The active workbook" AT 167 124 132 10
GROUPBOX -1 "Cells" GROUP AT 160 143 146 68
CHECKBOX 1025 "Values as text" AT 167 156 132 10
CHECKBOX 1024 "Keep column widths" AT 167 170 132 10
CHECKBOX 1023 "Empty row between rows" AT 167 184 132 10
CHECKBOX 1033 "Ask for a selection first" AT 7 216 146 10
CHECKBOX 1020 "Connect after the export" AT 160 216 146 10
)tmpl";

// The Import page.
const char kImportPage[] = R"tmpl(# Options: Import
DIALOG 1002 "Import"
GROUPBOX -1 "Read from" AT 7 7 299 42
RADIO 1013 "The active worksheet" GROUP AT 14 20 200 10
RADIO 1014 "Every worksheet of the active workbook" AT 14 34 200 10
STATIC -1 "First column:" GROUP AT 14 58 60 10
EDIT 1006 "" NUMBER AT 80 56 48 12
UPDOWN 1008 BUDDY 1006 AT 128 56 10 12
STATIC -1 "First row:" AT 14 74 60 10
EDIT 1005 "" NUMBER AT 80 72 48 12
UPDOWN 1016 BUDDY 1005 AT 128 72 10 12
CHECKBOX 1015 "Attributes only (block properties stay as they are)" AT 14 92 250 10
)tmpl";

// The About page: product, maker, version and the two links.
const char kAboutPage[] = R"tmpl(# Options: About
DIALOG 1003 "About"
STATIC 1028 "" CENTER AT 7 20 299 24
STATIC -1 "Version" CENTER AT 7 56 299 10
STATIC 1022 "" CENTER AT 7 68 299 10
STATIC 1018 "" NOTIFY CENTER AT 7 96 299 10
STATIC 1020 "" NOTIFY CENTER AT 7 112 299 10
)tmpl";

const char kSettingsFileMenu[] = R"tmpl(# Options: the menu of the settings-file button
MENU 1006
POPUP "Settings file"
  ITEM 32771 "&Load from file..."
  ITEM 32772 "&Save to file..."
END
)tmpl";

const res::TemplateEntry kOptions[] = {
    {RT_DIALOG_ID, 1001, kFrame},          {RT_DIALOG_ID, 132, kExportPage},
    {RT_DIALOG_ID, 1002, kImportPage},     {RT_DIALOG_ID, 1003, kAboutPage},
    {RT_MENU_ID, 1006, kSettingsFileMenu},
};
const res::TemplateTable kOptionsTable(kOptions);

}  // namespace
