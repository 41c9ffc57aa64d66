// Feeds arbitrary bytes to the INI parser. An unchanged document must write back byte for byte;
// after a change, every other section's values must read as before.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/win/locale.h"
#include "platform/win/profile_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using sheetwise::win::profile_internal::IniDocument;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  IniDocument doc = IniDocument::Parse(bytes);
  if (doc.Serialize() != bytes) std::abort();
  for (const std::wstring& section : doc.Sections()) {
    for (const std::wstring& key : doc.Keys(section)) (void)doc.Get(section, key);
  }
  doc.Set(L"Fuzz", L"Key", L"Value");
  IniDocument reread = IniDocument::Parse(doc.Serialize());
  if (reread.Get(L"fuzz", L"KEY") != std::optional<std::wstring>(L"Value")) std::abort();
  for (const std::wstring& section : doc.Sections()) {
    if (EqualsNoCase(section, L"Fuzz")) continue;
    for (const std::wstring& key : doc.Keys(section)) {
      if (reread.Get(section, key) != doc.Get(section, key)) std::abort();
    }
  }
  if (!reread.DeleteSection(L"Fuzz")) std::abort();
  return 0;
}
