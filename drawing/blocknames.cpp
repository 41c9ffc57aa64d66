#include "drawing/blocknames.h"

#include <memory>

#include "app/nvarxapp.h"
#include "app/resstring.h"
#include "drawing/dbobject_internal.h"
#include "platform/host/dbapserv.h"
#include "platform/host/dbsymtb.h"
#include "platform/host/docman.h"
#include "platform/host/menus.h"
#include "platform/win/locale.h"
#include "platform/win/message.h"
#include "res/resource_ids.h"

using drawing_internal::ClosedOnExit;
using drawing_internal::TakeHostString;

bool& BlockNameMap::operator[](std::wstring_view name) {
  std::wstring key(name);
  auto found = index_.find(key);
  if (found != index_.end()) return entries_[found->second].has_attributes;
  index_.emplace(key, entries_.size());
  entries_.push_back(Entry{std::move(key), false});
  return entries_.back().has_attributes;
}

bool BlockNameMap::Lookup(std::wstring_view name, bool& has_attributes) const {
  auto found = index_.find(std::wstring(name));
  if (found == index_.end()) return false;
  has_attributes = entries_[found->second].has_attributes;
  return true;
}

void BlockNameMap::RemoveAll() {
  entries_.clear();
  index_.clear();
}

namespace {

// The resource library is the host's current resource module while this object lives.
class ResourceScope {
 public:
  ResourceScope() {
    // The application object is the CVantaApp; its resource library is kept by the frame.
    CNvArxApp* app = NvGetCurrentApp();
    acDocManagerPtr()->pushResourceHandle(app != nullptr ? app->m_hResource : nullptr);
  }
  ~ResourceScope() { acDocManagerPtr()->popResourceHandle(); }
  ResourceScope(const ResourceScope&) = delete;
  ResourceScope& operator=(const ResourceScope&) = delete;
};

constexpr std::size_t kLayoutPrefixLength = 12;

// Model space and every layout's paper space: "*Paper_Space" followed by any number. R12
// drawings spell them with "$", which other programs turn into "*" when they load them.
bool IsLayoutBlockName(std::wstring_view name) {
  if (name.size() < kLayoutPrefixLength) return false;
  std::wstring prefix = FoldCase(name.substr(0, kLayoutPrefixLength));
  if (prefix[0] == L'$') prefix[0] = L'*';
  return prefix == L"*model_space" || prefix == L"*paper_space";
}

}  // namespace

bool CollectBlockNames(BlockNameMap& map) {
  ResourceScope resources;
  AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
  if (db == nullptr) return false;
  AcDbBlockTable* table = nullptr;
  if (db->getSymbolTable(table, AcDb::kForRead) != Acad::eOk || table == nullptr) return false;
  {
    ClosedOnExit<AcDbBlockTable> table_closer(table);
    AcDbBlockTableIterator* raw_iterator = nullptr;
    if (table->newIterator(raw_iterator, true, true) != Acad::eOk || raw_iterator == nullptr)
      return false;
    std::unique_ptr<AcDbBlockTableIterator> iterator(raw_iterator);
    for (iterator->start(); !iterator->done(); iterator->step()) {
      AcDbBlockTableRecord* record = nullptr;
      if (iterator->getRecord(record, AcDb::kForRead) != Acad::eOk || record == nullptr) continue;
      ClosedOnExit<AcDbBlockTableRecord> record_closer(record);
      if (record->isAnonymous()) continue;
      ACHAR* raw_name = nullptr;
      if (record->getName(raw_name) != Acad::eOk) {
        acutDelBuffer(raw_name);
        continue;
      }
      const std::wstring name = TakeHostString(raw_name);
      if (IsLayoutBlockName(name)) continue;
      map[name] = record->hasAttributeDefinitions();
    }
  }
  if (map.IsEmpty()) {
    const std::wstring text = g_resString.Load(res::kNoExportableBlocks);
    const std::wstring caption = g_resString.Load(res::kErrorCaption);
    MessageBoxW(adsw_acadMainWnd(), text.c_str(), caption.c_str(), MB_ICONERROR);
  }
  return true;
}

bool IsBlockNameKnown(const wchar_t* name, const BlockNameMap& map) {
  if (name == nullptr) return false;
  const std::wstring folded = FoldCase(name);
  for (const BlockNameMap::Entry& entry : map)
    if (FoldCase(entry.name) == folded) return true;
  return false;
}
