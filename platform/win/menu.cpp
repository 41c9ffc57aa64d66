#include "platform/win/menu.h"

#include <algorithm>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// The flags an item keeps; how it is named (MF_BYPOSITION) and MF_STRING (0) are not state.
constexpr UINT kItemFlags = MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_POPUP | MF_MENUBARBREAK |
                            MF_MENUBREAK | MF_HILITE | MF_SEPARATOR | MF_DEFAULT;
constexpr UINT kEnableMask = MF_GRAYED | MF_DISABLED;
constexpr UINT kNotFound = static_cast<UINT>(-1);

struct Item {
  UINT flags = 0;
  // The command id; for a popup item the submenu's handle value, which MF_BYCOMMAND also
  // matches, as on Windows.
  UINT_PTR id = 0;
  HMENU submenu = nullptr;
  std::wstring text;
};

struct Menu {
  bool bar = false;
  std::vector<Item> items;
};

struct Model {
  // Guards everything below. A menu belongs to no thread: any thread may read or change any
  // menu, so every entry point holds this for its whole call.
  std::mutex mutex;
  std::unordered_map<UINT_PTR, Menu> menus;
  std::unordered_map<HWND, HMENU> window_menus;
  // Handles are never reused, so a stale handle stays invalid. They start above the command ids
  // applications use, because a popup item's handle value is also its command id.
  UINT_PTR next_handle = 0x00010000;
};

Model& TheModel() {
  // Never destroyed: menus may be touched by static destructors of other modules.
  static Model* model = new Model;
  return *model;
}

UINT_PTR Key(HMENU menu) {
  return reinterpret_cast<UINT_PTR>(menu);
}

// The menu behind `handle`, or null with ERROR_INVALID_MENU_HANDLE. Needs the model's lock.
Menu* Lookup(Model& model, HMENU handle) {
  if (handle != nullptr) {
    if (auto it = model.menus.find(Key(handle)); it != model.menus.end()) return &it->second;
  }
  SetLastError(ERROR_INVALID_MENU_HANDLE);
  return nullptr;
}

struct Found {
  HMENU handle = nullptr;
  Menu* menu = nullptr;
  size_t index = 0;
};

// Depth first, as Windows searches: a plain item with the id wins over a popup item whose handle
// value equals the id, which is only the fallback.
Found FindByCommand(Model& model, HMENU handle, Menu& menu, UINT id) {
  Found fallback;
  for (size_t i = 0; i < menu.items.size(); ++i) {
    Item& item = menu.items[i];
    if ((item.flags & MF_POPUP) != 0) {
      if (auto it = model.menus.find(Key(item.submenu)); it != model.menus.end()) {
        Found inner = FindByCommand(model, item.submenu, it->second, id);
        if (inner.menu != nullptr) return inner;
      }
      if (fallback.menu == nullptr && static_cast<UINT>(item.id) == id)
        fallback = {handle, &menu, i};
    } else if (static_cast<UINT>(item.id) == id) {
      return {handle, &menu, i};
    }
  }
  return fallback;
}

// The item named by `item` and `flags`; sets the last error when there is none.
Found Find(Model& model, HMENU handle, UINT item, UINT flags) {
  Menu* menu = Lookup(model, handle);
  if (menu == nullptr) return {};
  Found found;
  if ((flags & MF_BYPOSITION) != 0) {
    if (item < menu->items.size()) found = {handle, menu, item};
  } else {
    found = FindByCommand(model, handle, *menu, item);
  }
  if (found.menu == nullptr) SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
  return found;
}

// True when `target` is `root` or one of the menus below it.
bool Reaches(Model& model, HMENU root, HMENU target) {
  if (root == target) return true;
  auto it = model.menus.find(Key(root));
  if (it == model.menus.end()) return false;
  for (const Item& item : it->second.items) {
    if ((item.flags & MF_POPUP) != 0 && Reaches(model, item.submenu, target)) return true;
  }
  return false;
}

void Destroy(Model& model, HMENU handle) {
  auto it = model.menus.find(Key(handle));
  if (it == model.menus.end()) return;  // Already gone through another parent.
  std::vector<Item> items = std::move(it->second.items);
  model.menus.erase(it);
  for (const Item& item : items) {
    if ((item.flags & MF_POPUP) != 0) Destroy(model, item.submenu);
  }
}

HMENU Create(bool bar) {
  Model& model = TheModel();
  std::lock_guard lock(model.mutex);
  try {
    const UINT_PTR key = model.next_handle++;
    model.menus[key].bar = bar;
    return reinterpret_cast<HMENU>(key);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

// Builds the item AppendMenuW and InsertMenuW add; false (with the last error) when refused.
bool MakeItem(Model& model, HMENU menu, UINT flags, UINT_PTR id, LPCWSTR text, Item& item) {
  if ((flags & (MF_BITMAP | MF_OWNERDRAW)) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return false;
  }
  item.flags = flags & kItemFlags;
  if ((flags & MF_POPUP) != 0) {
    const auto submenu = reinterpret_cast<HMENU>(id);
    if (Lookup(model, submenu) == nullptr) return false;
    if (Reaches(model, submenu, menu)) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return false;
    }
    item.submenu = submenu;
    item.flags &= ~MF_SEPARATOR;
  }
  if ((item.flags & MF_SEPARATOR) != 0) {
    // Windows reports separators as grayed and disabled.
    item.flags |= kEnableMask;
    item.id = 0;
  } else {
    item.id = id;
    if (text != nullptr) item.text = text;
  }
  return true;
}

BOOL Insert(HMENU handle, UINT position, UINT flags, UINT_PTR id, LPCWSTR text) {
  Model& model = TheModel();
  std::lock_guard lock(model.mutex);
  Menu* menu = Lookup(model, handle);
  if (menu == nullptr) return FALSE;
  Item item;
  if (!MakeItem(model, handle, flags, id, text, item)) return FALSE;
  Menu* target = menu;
  size_t index = menu->items.size();
  if ((flags & MF_BYPOSITION) != 0) {
    if (position < menu->items.size()) index = position;
  } else if (Found found = FindByCommand(model, handle, *menu, position); found.menu != nullptr) {
    // The new item goes into the submenu where the command was found.
    if (item.submenu != nullptr && Reaches(model, item.submenu, found.handle)) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return FALSE;
    }
    target = found.menu;
    index = found.index;
  }
  try {
    target->items.insert(target->items.begin() + static_cast<std::ptrdiff_t>(index),
                         std::move(item));
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}

BOOL Remove(HMENU handle, UINT position, UINT flags, bool destroy_submenu) {
  Model& model = TheModel();
  std::lock_guard lock(model.mutex);
  Found found = Find(model, handle, position, flags);
  if (found.menu == nullptr) return FALSE;
  const Item item = std::move(found.menu->items[found.index]);
  found.menu->items.erase(found.menu->items.begin() + static_cast<std::ptrdiff_t>(found.index));
  if (destroy_submenu && (item.flags & MF_POPUP) != 0) Destroy(model, item.submenu);
  return TRUE;
}

}  // namespace

HMENU CreateMenu() {
  return Create(true);
}

HMENU CreatePopupMenu() {
  return Create(false);
}

BOOL DestroyMenu(HMENU menu) {
  Model& model = TheModel();
  std::lock_guard lock(model.mutex);
  if (Lookup(model, menu) == nullptr) return FALSE;
  Destroy(model, menu);
  return TRUE;
}

BOOL IsMenu(HMENU menu) {
  Model& model = TheModel();
  std::lock_guard lock(model.mutex);
  return model.menus.count(Key(menu)) != 0 ? TRUE : FALSE;
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, LPCWSTR text) {
  return Insert(menu, kNotFound, (flags | MF_BYPOSITION), id, text);
}

BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCWSTR text) {
  return Insert(menu, position, flags, id, text);
}

BOOL RemoveMenu(HMENU menu, UINT position, UINT flags) {
  return Remove(menu, position, flags, false);
}

BOOL DeleteMenu(HMENU menu, UINT position, UINT flags) {
  return Remove(menu, position, flags, true);
}

int GetMenuItemCount(HMENU handle) {
  Model& model = TheModel();
  std::lock_guard lock(model.mutex);
  const Menu* menu = Lookup(model, handle);
  return menu == nullptr ? -1 : static_cast<int>(menu->items.size());
}

int GetMenuStringW(HMENU menu, UINT item, LPWSTR text, int max_count, UINT flags) {
  Model& model = TheModel();
  std::lock_guard lock(model.mutex);
  Found found = Find(model, menu, item, flags);
  if (found.menu == nullptr) return 0;
  const std::wstring& label = found.menu->items[found.index].text;
  if (text == nullptr || max_count <= 0) return static_cast<int>(label.size());
  const size_t n = std::min(label.size(), static_cast<size_t>(max_count) - 1);
  label.copy(text, n);
  text[n] = L'\0';
  return static_cast<int>(n);
}

UINT GetMenuItemID(HMENU handle, int position) {
  Model& model = TheModel();
  std::lock_guard lock(model.mutex);
  const Menu* menu = Lookup(model, handle);
  if (menu == nullptr) return kNotFound;
  if (position < 0 || static_cast<size_t>(position) >= menu->items.size()) return kNotFound;
  const Item& item = menu->items[static_cast<size_t>(position)];
  return (item.flags & MF_POPUP) != 0 ? kNotFound : static_cast<UINT>(item.id);
}

HMENU GetSubMenu(HMENU handle, int position) {
  Model& model = TheModel();
  std::lock_guard lock(model.mutex);
  const Menu* menu = Lookup(model, handle);
  if (menu == nullptr) return nullptr;
  if (position < 0 || static_cast<size_t>(position) >= menu->items.size()) return nullptr;
  return menu->items[static_cast<size_t>(position)].submenu;
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT check) {
  Model& model = TheModel();
  std::lock_guard lock(model.mutex);
  Found found = Find(model, menu, item, check);
  if (found.menu == nullptr) return static_cast<DWORD>(-1);
  UINT& flags = found.menu->items[found.index].flags;
  const DWORD previous = flags & MF_CHECKED;
  flags = (flags & ~MF_CHECKED) | (check & MF_CHECKED);
  return previous;
}

BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable) {
  Model& model = TheModel();
  std::lock_guard lock(model.mutex);
  Found found = Find(model, menu, item, enable);
  if (found.menu == nullptr) return -1;
  UINT& flags = found.menu->items[found.index].flags;
  const UINT previous = flags & kEnableMask;
  flags = (flags & ~kEnableMask) | (enable & kEnableMask);
  return static_cast<BOOL>(previous);
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
  Model& model = TheModel();
  std::lock_guard lock(model.mutex);
  Found found = Find(model, menu, item, flags);
  if (found.menu == nullptr) return kNotFound;
  const Item& it = found.menu->items[found.index];
  if ((it.flags & MF_POPUP) == 0) return it.flags;
  auto sub = model.menus.find(Key(it.submenu));
  const UINT count = sub == model.menus.end() ? 0 : static_cast<UINT>(sub->second.items.size());
  return (count << 8) | (it.flags & 0xFF);
}

HMENU GetMenu(HWND hwnd) {
  if (hwnd == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  Model& model = TheModel();
  std::lock_guard lock(model.mutex);
  auto it = model.window_menus.find(hwnd);
  return it == model.window_menus.end() ? nullptr : it->second;
}

BOOL SetMenu(HWND hwnd, HMENU menu) {
  if (hwnd == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  Model& model = TheModel();
  std::lock_guard lock(model.mutex);
  if (menu == nullptr) {
    model.window_menus.erase(hwnd);
    return TRUE;
  }
  if (Lookup(model, menu) == nullptr) return FALSE;
  try {
    model.window_menus[hwnd] = menu;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return TRUE;
}

BOOL DrawMenuBar(HWND hwnd) {
  if (hwnd == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}
