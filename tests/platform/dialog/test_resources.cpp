// The dialog tests' resource library: dialog templates and menus in the template format of
// docs/dialogs.md, as a resource library lists them.
#include "platform/win/resource.h"

namespace {

// A settings page: check boxes, a radio group, an edit with its up-down.
const char kExportPage[] = R"(# The export settings page
DIALOG 200 "Export"
CHECKBOX 1009 "Rotation"
CHECKBOX 1006 "X coordinate"
RADIO 1003 "New worksheet" GROUP
RADIO 1004 "Active worksheet"
STATIC -1 "Start row:" GROUP
EDIT 1005 ""
UPDOWN 1007 BUDDY 1005 SETBUDDYINT
CHECKBOX 1011 "Add header row"
CHECKBOX 1017 "Find next blank line"
RADIO 1000 "New workbook" GROUP
RADIO 1001 "Active workbook"
RADIO 1002 "Workbook on disk"
BUTTON 1 "OK" DEFAULT GROUP
BUTTON 2 "Cancel"
)";

// The tabbed frame.
const char kFrame[] = R"(DIALOG 201 "Options"
TAB 1012 AT 7 7 300 200
BUTTON 1 "OK" DEFAULT
BUTTON 2 "Cancel"
BUTTON 3 "Settings file" OWNERDRAW
BUTTON 4 "Defaults"
)";

// The import page: its edit 1005 has the same id as the export page's.
const char kImportPage[] = R"(DIALOG 202 "Import"
RADIO 1013 "Update blocks" GROUP
RADIO 1014 "Update and add"
CHECKBOX 1015 "Ignore properties" GROUP
EDIT 1006 "" NUMBER
UPDOWN 1008 BUDDY 1006
EDIT 1005 ""
)";

// A name list with a context menu.
const char kNames[] = R"(DIALOG 210 "Block names"
LISTVIEW 1005 REPORT AT 7 7 180 120
CHECKBOX 1033 "Selection only" HIDDEN
BUTTON 1 "OK" DEFAULT
BUTTON 2 "Cancel"
)";

// A page with a link and a static text.
const char kAbout[] = R"(DIALOG 211 "About"
STATIC 1028 "Sheetwise"
STATIC 1018 "" NOTIFY AT 10 40 200 20
STATIC 1020 "Product page" NOTIFY CENTER AT 10 70 200 20
BUTTON 2 "Close"
)";

// A number spin with its edit.
const char kSpin[] = R"(DIALOG 212 "Spin"
EDIT 1005 "2"
UPDOWN 1007 BUDDY 1005
BUTTON 1 "OK" DEFAULT
BUTTON 2 "Cancel"
)";

// Refused: a radio button without its text on line 3.
const char kBroken[] = "DIALOG 250 \"Broken\"\nCHECKBOX 1 \"fine\"\nRADIO 2\n";

const char kSettingsMenu[] = R"(MENU 300
POPUP "Settings file"
  ITEM 32771 "&Load from file..."
  ITEM 32772 "&Save to file..."
  SEPARATOR
  ITEM 32790 "Disabled" GRAYED
END
)";

const char kContextMenu[] = R"(MENU 301
POPUP "Names"
  ITEM 32773 "Select &all"
  ITEM 32774 "&Invert selection"
  ITEM 32775 "&Clear selection"
  ITEM 32776 "All but the &focused row"
  SEPARATOR
  ITEM 32777 "Show all &names"
  ITEM 32778 "Show names with &attributes"
  SEPARATOR
  ITEM 1011 "&Filter..."
END
)";

// Refused: the popup is never closed.
const char kBrokenMenu[] = "MENU 350\nPOPUP \"Open\"\n  ITEM 1 \"One\"\n";

#define SW_TEXT(id, type, text) \
  { type, id, text, sizeof(text) - 1 }
const SwResource kResources[] = {
    SW_TEXT(200, RT_DIALOG_ID, kExportPage), SW_TEXT(201, RT_DIALOG_ID, kFrame),
    SW_TEXT(202, RT_DIALOG_ID, kImportPage), SW_TEXT(210, RT_DIALOG_ID, kNames),
    SW_TEXT(211, RT_DIALOG_ID, kAbout),      SW_TEXT(212, RT_DIALOG_ID, kSpin),
    SW_TEXT(250, RT_DIALOG_ID, kBroken),     SW_TEXT(300, RT_MENU_ID, kSettingsMenu),
    SW_TEXT(301, RT_MENU_ID, kContextMenu),  SW_TEXT(350, RT_MENU_ID, kBrokenMenu),
};
#undef SW_TEXT

}  // namespace

extern "C" __attribute__((visibility("default"))) const SwResource* sheetwise_resources(
    size_t* count) {
  *count = sizeof(kResources) / sizeof(kResources[0]);
  return kResources;
}
