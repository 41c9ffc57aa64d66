// Feeds arbitrary bytes to the settings store's file parser. Whatever parses must serialize to
// text that parses back to the same text (nothing is lost or changed on a rewrite).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/win/registry_store_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace ri = sheetwise::win::registry_internal;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ri::Store store;
  ri::ParseError error;
  if (!ri::ParseStore(text, store, error)) {
    if (error.line == 0 || error.message.empty()) std::abort();
    return 0;
  }
  const std::string once = ri::SerializeStore(store);
  ri::Store again;
  if (!ri::ParseStore(once, again, error)) std::abort();
  if (ri::SerializeStore(again) != once) std::abort();
  return 0;
}
