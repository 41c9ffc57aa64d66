// Expected values were observed with Wine 8.0 (Debian wine64): a small program cross-compiled with
// mingw-w64 called each function and printed its result and GetLastError. Where Wine leaves the
// last error untouched for a bad menu handle, Windows documents ERROR_INVALID_MENU_HANDLE, and
// that is what is expected here. Window menus could not be observed (no display for Wine).
#include "platform/win/menu.h"

#include <string>

#include <gtest/gtest.h>

namespace {

constexpr UINT kNone = static_cast<UINT>(-1);

std::wstring Text(HMENU menu, UINT item, UINT flags) {
  wchar_t buf[64];
  const int n = GetMenuStringW(menu, item, buf, 64, flags);
  return std::wstring(buf, static_cast<size_t>(n));
}

UINT_PTR AsId(HMENU menu) {
  return reinterpret_cast<UINT_PTR>(menu);
}

// The probe's menu: "&Open..." (100), a separator, "Chec&ked" (101, checked and grayed), and
// "&Sub" holding "Sub &item" (200).
struct ProbeMenu {
  HMENU menu = CreatePopupMenu();
  HMENU sub = CreatePopupMenu();
  ProbeMenu() {
    AppendMenuW(menu, MF_STRING, 100, L"&Open...");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | MF_CHECKED | MF_GRAYED, 101, L"Chec&ked");
    AppendMenuW(sub, MF_STRING, 200, L"Sub &item");
    AppendMenuW(menu, MF_POPUP | MF_STRING, AsId(sub), L"&Sub");
  }
  ~ProbeMenu() { DestroyMenu(menu); }
};

}  // namespace

TEST(Menu, BadHandlesAnswerAsWindows) {
  HMENU dead = CreatePopupMenu();
  ASSERT_TRUE(DestroyMenu(dead));
  const HMENU bad_handles[] = {nullptr, dead, reinterpret_cast<HMENU>(UINT_PTR{0x12345})};
  for (HMENU bad : bad_handles) {
    SCOPED_TRACE(reinterpret_cast<UINT_PTR>(bad));
    wchar_t buf[8];
    struct Row {
      const char* call;
      long long result;
      long long expected;
      DWORD error;
    };
    auto run = [](auto call) {
      SetLastError(0xDEAD);
      const long long r = static_cast<long long>(call());
      return std::pair{r, GetLastError()};
    };
    const auto row = [&](const char* name, auto call, long long expected) {
      auto [r, e] = run(call);
      return Row{name, r, expected, e};
    };
    const Row rows[] = {
        row(
            "GetMenuItemCount", [&] { return GetMenuItemCount(bad); }, -1),
        row(
            "GetMenuStringW", [&] { return GetMenuStringW(bad, 0, buf, 8, MF_BYPOSITION); }, 0),
        row(
            "GetMenuItemID", [&] { return GetMenuItemID(bad, 0); }, kNone),
        row(
            "GetSubMenu", [&] { return AsId(GetSubMenu(bad, 0)); }, 0),
        row(
            "CheckMenuItem", [&] { return CheckMenuItem(bad, 0, MF_BYPOSITION); }, 0xFFFFFFFFu),
        row(
            "EnableMenuItem", [&] { return EnableMenuItem(bad, 0, MF_BYPOSITION); }, -1),
        row(
            "GetMenuState", [&] { return GetMenuState(bad, 0, MF_BYPOSITION); }, kNone),
        row(
            "RemoveMenu", [&] { return RemoveMenu(bad, 0, MF_BYPOSITION); }, FALSE),
        row(
            "DeleteMenu", [&] { return DeleteMenu(bad, 0, MF_BYPOSITION); }, FALSE),
        row(
            "DestroyMenu", [&] { return DestroyMenu(bad); }, FALSE),
        row(
            "AppendMenuW", [&] { return AppendMenuW(bad, MF_STRING, 1, L"x"); }, FALSE),
        row(
            "InsertMenuW", [&] { return InsertMenuW(bad, 0, MF_BYPOSITION, 1, L"x"); }, FALSE),
        row(
            "IsMenu", [&] { return IsMenu(bad); }, FALSE),
    };
    for (const Row& r : rows) {
      EXPECT_EQ(r.result, r.expected) << r.call;
      if (std::string(r.call) != "IsMenu") {
        EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE)) << r.call;
      }
    }
  }
}

TEST(Menu, ItemsReadBackAsWine) {
  ProbeMenu p;
  EXPECT_EQ(GetMenuItemCount(p.menu), 4);
  struct Row {
    UINT item;
    UINT flags;
    const wchar_t* text;
    UINT state;
  };
  const Row rows[] = {
      {0, MF_BYPOSITION, L"&Open...", 0},
      {1, MF_BYPOSITION, L"", 0x803},  // separator: MF_SEPARATOR | MF_DISABLED | MF_GRAYED
      {2, MF_BYPOSITION, L"Chec&ked", MF_CHECKED | MF_GRAYED},
      {3, MF_BYPOSITION, L"&Sub", 0x110},  // one item in the submenu, MF_POPUP
      {101, MF_BYCOMMAND, L"Chec&ked", MF_CHECKED | MF_GRAYED},
      {200, MF_BYCOMMAND, L"Sub &item", 0},  // found in the submenu
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.item);
    SetLastError(0xDEAD);
    EXPECT_EQ(Text(p.menu, r.item, r.flags), r.text);
    EXPECT_EQ(GetMenuState(p.menu, r.item, r.flags), r.state);
    EXPECT_EQ(GetLastError(), 0xDEADu) << "a found item leaves the last error alone";
  }
  // A popup's handle value is its command id too.
  EXPECT_EQ(GetMenuState(p.menu, static_cast<UINT>(AsId(p.sub)), MF_BYCOMMAND), 0x110u);

  EXPECT_EQ(GetMenuItemID(p.menu, 0), 100u);
  EXPECT_EQ(GetMenuItemID(p.menu, 1), 0u);     // separator
  EXPECT_EQ(GetMenuItemID(p.menu, 3), kNone);  // popup
  EXPECT_EQ(GetMenuItemID(p.menu, 9), kNone);  // past the end
  EXPECT_EQ(GetMenuItemID(p.menu, -1), kNone);
  EXPECT_EQ(GetSubMenu(p.menu, 3), p.sub);
  EXPECT_EQ(GetSubMenu(p.menu, 0), nullptr);
  EXPECT_EQ(GetSubMenu(p.menu, 9), nullptr);

  for (const auto& [item, flags] : {std::pair{9u, MF_BYPOSITION}, std::pair{999u, MF_BYCOMMAND}}) {
    SetLastError(0);
    EXPECT_EQ(Text(p.menu, item, flags), L"");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MENU_ITEM_NOT_FOUND));
    EXPECT_EQ(GetMenuState(p.menu, item, flags), kNone);
  }
}

TEST(Menu, GetMenuStringLengthAndTruncation) {
  ProbeMenu p;
  wchar_t buf[8] = L"ZZZZZZZ";
  EXPECT_EQ(GetMenuStringW(p.menu, 0, nullptr, 0, MF_BYPOSITION), 8);
  EXPECT_EQ(GetMenuStringW(p.menu, 0, buf, 0, MF_BYPOSITION), 8);
  EXPECT_EQ(buf[0], L'Z') << "nothing copied for a zero size";
  EXPECT_EQ(GetMenuStringW(p.menu, 0, buf, 3, MF_BYPOSITION), 2);
  EXPECT_EQ(std::wstring(buf), L"&O");
  EXPECT_EQ(buf[3], L'Z') << "nothing written past max_count";
  // An item appended with no text.
  ASSERT_TRUE(AppendMenuW(p.menu, MF_STRING, 305, nullptr));
  SetLastError(0);
  EXPECT_EQ(GetMenuStringW(p.menu, 305, buf, 8, MF_BYCOMMAND), 0);
  EXPECT_EQ(GetLastError(), 0u);
}

TEST(Menu, CheckAndEnableReturnThePreviousState) {
  ProbeMenu p;
  // Sequences as Wine answered them.
  EXPECT_EQ(CheckMenuItem(p.menu, 100, MF_BYCOMMAND | MF_CHECKED), MF_UNCHECKED);
  EXPECT_EQ(CheckMenuItem(p.menu, 100, MF_BYCOMMAND | MF_CHECKED), MF_CHECKED);
  EXPECT_EQ(CheckMenuItem(p.menu, 100, MF_BYCOMMAND | MF_UNCHECKED), MF_CHECKED);
  EXPECT_EQ(GetMenuState(p.menu, 0, MF_BYPOSITION), 0u);
  EXPECT_EQ(CheckMenuItem(p.menu, 200, MF_BYCOMMAND | MF_CHECKED), 0u);
  EXPECT_EQ(GetMenuState(p.sub, 0, MF_BYPOSITION), MF_CHECKED);
  EXPECT_EQ(CheckMenuItem(p.menu, 999, MF_BYCOMMAND | MF_CHECKED), 0xFFFFFFFFu);
  EXPECT_EQ(CheckMenuItem(p.menu, 9, MF_BYPOSITION | MF_CHECKED), 0xFFFFFFFFu);

  EXPECT_EQ(EnableMenuItem(p.menu, 101, MF_BYCOMMAND | MF_ENABLED), BOOL(MF_GRAYED));
  EXPECT_EQ(EnableMenuItem(p.menu, 101, MF_BYCOMMAND | MF_DISABLED), BOOL(MF_ENABLED));
  EXPECT_EQ(EnableMenuItem(p.menu, 101, MF_BYCOMMAND | MF_GRAYED), BOOL(MF_DISABLED));
  EXPECT_EQ(EnableMenuItem(p.menu, 101, MF_BYCOMMAND | MF_ENABLED), BOOL(MF_GRAYED));
  EXPECT_EQ(GetMenuState(p.menu, 101, MF_BYCOMMAND), MF_CHECKED) << "check kept when enabling";
  EXPECT_EQ(EnableMenuItem(p.menu, 999, MF_BYCOMMAND | MF_GRAYED), -1);
  EXPECT_EQ(EnableMenuItem(p.menu, 3, MF_BYPOSITION | MF_GRAYED), 0);
  EXPECT_EQ(GetMenuState(p.menu, 3, MF_BYPOSITION), 0x111u);
}

TEST(Menu, InsertPlacesItemsAsWindows) {
  ProbeMenu p;
  // Past the end and (UINT)-1 append.
  ASSERT_TRUE(InsertMenuW(p.menu, 99, MF_BYPOSITION | MF_STRING, 300, L"End"));
  EXPECT_EQ(GetMenuItemID(p.menu, 4), 300u);
  ASSERT_TRUE(InsertMenuW(p.menu, kNone, MF_BYPOSITION | MF_STRING, 301, L"End2"));
  EXPECT_EQ(GetMenuItemID(p.menu, 5), 301u);
  // By command: before that item, in the menu where it was found.
  ASSERT_TRUE(InsertMenuW(p.menu, 101, MF_BYCOMMAND | MF_STRING, 302, L"Before101"));
  EXPECT_EQ(GetMenuItemID(p.menu, 2), 302u);
  EXPECT_EQ(GetMenuItemID(p.menu, 3), 101u);
  ASSERT_TRUE(InsertMenuW(p.menu, 200, MF_BYCOMMAND | MF_STRING, 303, L"BeforeSub200"));
  EXPECT_EQ(GetMenuItemCount(p.sub), 2);
  EXPECT_EQ(GetMenuItemID(p.sub, 0), 303u);
  // A command that is not there appends.
  ASSERT_TRUE(InsertMenuW(p.menu, 999, MF_BYCOMMAND | MF_STRING, 304, L"x"));
  EXPECT_EQ(GetMenuItemCount(p.menu), 8);
  EXPECT_EQ(GetMenuItemID(p.menu, 7), 304u);
  // At position 0.
  ASSERT_TRUE(InsertMenuW(p.menu, 0, MF_BYPOSITION | MF_STRING, 1, L"First"));
  EXPECT_EQ(Text(p.menu, 0, MF_BYPOSITION), L"First");
  EXPECT_EQ(Text(p.menu, 1, MF_BYPOSITION), L"&Open...");
}

TEST(Menu, RefusesBadPopupsAndCycles) {
  ProbeMenu p;
  struct Row {
    HMENU into;
    UINT flags;
    UINT_PTR id;
    DWORD error;
  };
  HMENU other = CreatePopupMenu();
  const Row rows[] = {
      // Wine inserts a dead popup; Windows' menu manager refuses it and so does this model.
      {p.menu, MF_POPUP, 0x12345, ERROR_INVALID_MENU_HANDLE},
      {p.menu, MF_POPUP, 0, ERROR_INVALID_MENU_HANDLE},
      {p.menu, MF_POPUP, AsId(p.menu), ERROR_INVALID_MENU_HANDLE},  // itself
      {p.sub, MF_POPUP, AsId(p.menu), ERROR_INVALID_MENU_HANDLE},   // its parent
      {p.menu, MF_BITMAP, 5, ERROR_INVALID_FLAGS},
      {p.menu, MF_OWNERDRAW, 5, ERROR_INVALID_FLAGS},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.id);
    SetLastError(0);
    EXPECT_FALSE(AppendMenuW(r.into, r.flags, r.id, L"x"));
    EXPECT_EQ(GetLastError(), r.error);
  }
  // Inserted by command into the submenu that the new popup is: a cycle too.
  SetLastError(0);
  EXPECT_FALSE(InsertMenuW(p.menu, 200, MF_BYCOMMAND | MF_POPUP, AsId(p.sub), L"x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
  EXPECT_EQ(GetMenuItemCount(p.menu), 4);
  EXPECT_EQ(GetMenuItemCount(p.sub), 1);
  // The same submenu under two parents is fine.
  EXPECT_TRUE(AppendMenuW(other, MF_POPUP, AsId(p.sub), L"Again"));
  EXPECT_EQ(GetSubMenu(other, 0), p.sub);
  EXPECT_TRUE(RemoveMenu(other, 0, MF_BYPOSITION));
  EXPECT_TRUE(DestroyMenu(other));
}

TEST(Menu, RemoveKeepsSubmenusAndDeleteDestroysThem) {
  ProbeMenu p;
  SetLastError(0);
  EXPECT_FALSE(RemoveMenu(p.menu, 999, MF_BYCOMMAND));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MENU_ITEM_NOT_FOUND));
  EXPECT_FALSE(RemoveMenu(p.menu, 99, MF_BYPOSITION));
  EXPECT_FALSE(DeleteMenu(p.menu, 999, MF_BYCOMMAND));
  EXPECT_EQ(GetMenuItemCount(p.menu), 4);

  EXPECT_TRUE(RemoveMenu(p.menu, 200, MF_BYCOMMAND));  // from the submenu
  EXPECT_EQ(GetMenuItemCount(p.sub), 0);

  HMENU sub2 = CreatePopupMenu();
  AppendMenuW(sub2, MF_STRING, 7, L"seven");
  ASSERT_TRUE(AppendMenuW(p.menu, MF_POPUP, AsId(sub2), L"sub2"));
  EXPECT_TRUE(RemoveMenu(p.menu, 4, MF_BYPOSITION));
  EXPECT_EQ(GetMenuItemCount(sub2), 1) << "RemoveMenu leaves the submenu alive";
  ASSERT_TRUE(AppendMenuW(p.menu, MF_POPUP, AsId(sub2), L"sub2"));
  EXPECT_TRUE(DeleteMenu(p.menu, 4, MF_BYPOSITION));
  EXPECT_EQ(GetMenuItemCount(sub2), -1) << "DeleteMenu destroys the submenu";
  EXPECT_FALSE(DestroyMenu(sub2));

  // Destroying a menu destroys its submenus, and a handle is never handed out again.
  HMENU menu = p.menu;
  HMENU sub = p.sub;
  ASSERT_TRUE(DestroyMenu(menu));
  p.menu = nullptr;
  EXPECT_FALSE(IsMenu(sub));
  EXPECT_EQ(GetMenuItemCount(menu), -1);
  for (int i = 0; i < 100; ++i) {
    HMENU fresh = CreatePopupMenu();
    EXPECT_NE(fresh, menu);
    EXPECT_NE(fresh, sub);
    DestroyMenu(fresh);
  }
}

TEST(Menu, WindowMenuBars) {
  const auto hwnd = reinterpret_cast<HWND>(UINT_PTR{0x4242});
  const auto other = reinterpret_cast<HWND>(UINT_PTR{0x4243});
  HMENU bar = CreateMenu();
  EXPECT_EQ(GetMenuItemCount(bar), 0);
  EXPECT_EQ(GetMenu(hwnd), nullptr);
  EXPECT_TRUE(SetMenu(hwnd, bar));
  EXPECT_EQ(GetMenu(hwnd), bar);
  EXPECT_EQ(GetMenu(other), nullptr);
  EXPECT_TRUE(DrawMenuBar(hwnd));

  SetLastError(0);
  EXPECT_FALSE(SetMenu(hwnd, reinterpret_cast<HMENU>(UINT_PTR{0x12345})));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MENU_HANDLE));
  EXPECT_EQ(GetMenu(hwnd), bar) << "a refused SetMenu keeps the old bar";
  for (auto call : {+[] { return static_cast<long long>(SetMenu(nullptr, nullptr)); },
                    +[] { return static_cast<long long>(DrawMenuBar(nullptr)); },
                    +[] { return reinterpret_cast<long long>(GetMenu(nullptr)); }}) {
    SetLastError(0);
    EXPECT_EQ(call(), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  }
  EXPECT_TRUE(SetMenu(hwnd, nullptr));
  EXPECT_EQ(GetMenu(hwnd), nullptr);
  EXPECT_TRUE(IsMenu(bar)) << "SetMenu does not destroy the old bar";
  DestroyMenu(bar);
}
