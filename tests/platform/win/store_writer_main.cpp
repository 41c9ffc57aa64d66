// A helper program of the settings store tests: another process writing to the store.
//   win_store_writer write PREFIX COUNT   waits for a line on stdin, then sets COUNT values
//   win_store_writer hang                 sets one value and stops for good halfway through
//                                         writing the file, after printing "writing"
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

#include "platform/win/registry.h"
#include "platform/win/registry_store_internal.h"

namespace {

void StopMidWrite() {
  std::puts("writing");
  std::fflush(stdout);
  while (true) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\SheetwiseTest", 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return 1;
  }
  if (std::strcmp(argv[1], "write") == 0 && argc == 4) {
    char line[16];
    if (std::fgets(line, sizeof line, stdin) == nullptr) return 1;  // the start signal
    const std::string prefix = argv[2];
    const int count = std::atoi(argv[3]);
    for (int i = 0; i < count; ++i) {
      const std::wstring name(prefix.begin(), prefix.end());
      const std::wstring full = name + L"_" + std::to_wstring(i);
      const DWORD value = static_cast<DWORD>(i);
      if (RegSetValueExW(key, full.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof value) != ERROR_SUCCESS) {
        return 1;
      }
    }
    return 0;
  }
  if (std::strcmp(argv[1], "hang") == 0) {
    sheetwise::win::registry_internal::SetWriteHookForTesting(StopMidWrite);
    const DWORD value = 1;
    RegSetValueExW(key, L"Killed", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
    return 1;
  }
  return 2;
}
