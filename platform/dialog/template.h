// Dialog and menu templates: the text format of a resource library's RT_DIALOG and RT_MENU
// resources, parsed into the controls and items they describe (format: docs/dialogs.md).
//
//   DIALOG 1001 "Options"
//   CHECKBOX 1011 "Add header row"
//   RADIO 1003 "New worksheet" GROUP
//   EDIT 1005 ""
//   UPDOWN 1007 BUDDY 1005
//   BUTTON 1 "OK" DEFAULT
//
// A template with a mistake is refused as a whole; the error names the resource, the line and
// what was expected.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win/wintypes.h"

namespace dialog {

enum class ControlKind {
  kButton,
  kCheckBox,
  kRadio,
  kEdit,
  kStatic,
  kGroupBox,
  kUpDown,
  kListView,
  kTab,
};

/// The template keyword of a kind ("CHECKBOX") and its lower-case word in the console ("checkbox").
std::string_view KindKeyword(ControlKind kind);
std::string_view KindWord(ControlKind kind);

struct ControlTemplate {
  ControlKind kind = ControlKind::kStatic;
  int id = -1;  ///< -1: a static or group box nobody addresses
  std::wstring text;
  DWORD style = 0;  ///< WS_*, BS_*, SS_*, ES_*, UDS_*, LVS_* as the flags give them
  int buddy = 0;    ///< UPDOWN: the edit control it steps (0: none)
  RECT rect{};      ///< AT x y w h, else a default place below the previous control
  int line = 0;     ///< where it was written
};

struct DialogTemplate {
  WORD id = 0;
  std::wstring caption;
  DWORD ex_style = 0;
  std::vector<ControlTemplate> controls;  ///< in file order, which is the tab order
};

struct MenuItemTemplate {
  enum class Kind { kItem, kSeparator, kPopup };
  Kind kind = Kind::kItem;
  UINT id = 0;
  std::wstring text;
  UINT flags = 0;                       ///< MF_CHECKED, MF_GRAYED
  std::vector<MenuItemTemplate> items;  ///< a popup's items
};

struct MenuTemplate {
  WORD id = 0;
  std::vector<MenuItemTemplate> items;  ///< the menu bar: popups (and plain items)
};

/// Why a template was refused: "dialog 1001, line 4: a control id expected, found \"x\"".
struct TemplateError {
  WORD id = 0;
  int line = 0;  ///< 0: the resource itself (missing, empty)
  std::string message;
};

template <typename T>
struct [[nodiscard]] TemplateResult {
  std::optional<T> value;
  TemplateError error;
  explicit operator bool() const { return value.has_value(); }
};

/// Parses the UTF-8 text of dialog template `id`. Any thread.
TemplateResult<DialogTemplate> ParseDialogTemplate(std::string_view text, WORD id);
/// Parses the UTF-8 text of menu template `id`. Any thread.
TemplateResult<MenuTemplate> ParseMenuTemplate(std::string_view text, WORD id);

/// Finds and parses RT_DIALOG `id` of `module`; a missing resource is an error with line 0.
TemplateResult<DialogTemplate> LoadDialogTemplate(HMODULE module, WORD id);
/// Finds and parses RT_MENU `id` of `module`.
TemplateResult<MenuTemplate> LoadMenuTemplate(HMODULE module, WORD id);

}  // namespace dialog
