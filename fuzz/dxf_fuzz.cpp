// Feeds arbitrary bytes (ASCII or binary DXF) to the DXF reader. A file read without warnings
// must write back byte for byte; after an edit, what is written must read again with the
// edited value; every accessor must answer without crashing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/dxf/document.h"

using namespace sheetwise::dxf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  auto loaded = DxfDocument::Parse(bytes, "fuzz.dxf");
  if (!loaded) {
    if (!loaded.error || loaded.error->message.empty()) std::abort();
    return 0;
  }
  DxfDocument& doc = *loaded.document;
  if (loaded.warnings.empty() && doc.Serialize() != bytes) std::abort();
  RecordId target = kNoRecord;
  size_t target_tag = 0;
  size_t visited = 0;
  for (RecordId id = doc.First(); id != kNoRecord && visited < 2000; id = doc.Next(id)) {
    ++visited;
    const Entity e = doc.Get(id);
    (void)e.Type();
    (void)e.Owner();
    (void)e.Subclasses();
    if (e.handle() && doc.FindByHandle(e.handle()) != id) std::abort();
    for (size_t i = 0; i < e.TagCount() && i < 64; ++i) {
      (void)e.Text(i);
      (void)e.Real(i);
      (void)e.Integer(i);
      (void)e.HandleAt(i);
      if (target == kNoRecord && i > 0 && e.Code(i) == kCodeText && e.Type() != "SECTION") {
        target = id;
        target_tag = i;
      }
    }
  }
  for (const Section& s : doc.Sections()) {
    for (Entity e : doc.Records(s)) (void)e.TagCount();
  }
  (void)doc.HeaderText("$ACADVER");
  if (target != kNoRecord) {
    if (!doc.SetText(target, target_tag, L"Fuzz ✓")) std::abort();
    auto again = DxfDocument::Parse(doc.Serialize(), "fuzz2.dxf");
    if (!again) std::abort();
    if (again.document->Get(target).Text(target_tag) != L"Fuzz ✓") std::abort();
  }
  (void)doc.NewHandle();
  return 0;
}
