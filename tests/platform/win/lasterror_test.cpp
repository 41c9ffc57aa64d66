#include <thread>

#include <gtest/gtest.h>

#include "platform/win/wintypes.h"

TEST(LastError, IsKeptPerThread) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  DWORD seen_by_other = 1234;
  std::thread([&] { seen_by_other = GetLastError(); }).join();
  EXPECT_EQ(seen_by_other, 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Hresult, FromWin32AddsFacilityAndKeepsSuccess) {
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), static_cast<HRESULT>(0x80070002u));
  EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
  EXPECT_EQ(HRESULT_FROM_WIN32(static_cast<DWORD>(E_POINTER)), E_POINTER);
  EXPECT_EQ(HRESULT_FACILITY(E_OUTOFMEMORY), FACILITY_WIN32);
}
