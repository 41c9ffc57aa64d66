// The export's block-name selection dialog, its right-click menu and the filter dialog.
#include "platform/win/resource.h"
#include "res/resource_table.h"

namespace {

const char kSelectNames[] = R"(DIALOG 131 "Block names to export"
STATIC -1 "Blocks to export:" AT 7 7 220 12
LISTVIEW 1005 REPORT AT 7 22 220 180
BUTTON 1 "OK" DEFAULT GROUP AT 66 210 50 14
BUTTON 2 "Cancel" AT 122 210 50 14
)";

const char kFilter[] = R"(DIALOG 9 "Filter"
CHECKBOX 1030 "Only block references on the selected layers" GROUP AT 7 7 220 12
LISTVIEW 1005 REPORT AT 7 22 220 120
CHECKBOX 1031 "Only block names matching the pattern" GROUP AT 7 150 220 12
EDIT 1032 "" AT 19 165 208 14
CHECKBOX 1033 "Only the selected block references" GROUP AT 7 186 220 12
BUTTON 1 "OK" DEFAULT GROUP AT 66 206 50 14
BUTTON 2 "Cancel" AT 122 206 50 14
)";

const char kSelectNamesMenu[] = R"(MENU 1009
POPUP "Block names"
  ITEM 32773 "Select &all"
  ITEM 32774 "&Invert selection"
  ITEM 32775 "&Clear selection"
  ITEM 32776 "Select all &but the focused name"
  SEPARATOR
  ITEM 32777 "Show all &blocks"
  ITEM 32778 "Show only blocks with a&ttributes"
  SEPARATOR
  ITEM 1011 "&Filter..."
END
)";

const res::TemplateEntry kSelectNamesTemplates[] = {
    {RT_DIALOG_ID, 131, kSelectNames},
    {RT_DIALOG_ID, 9, kFilter},
    {RT_MENU_ID, 1009, kSelectNamesMenu},
};
const res::TemplateTable kSelectNamesTable(kSelectNamesTemplates);

}  // namespace
