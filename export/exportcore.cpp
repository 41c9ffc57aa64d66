#include "export/exportcore.h"

#include <string>
#include <unordered_set>
#include <vector>

#include "drawing/attributes.h"
#include "drawing/blockrefs.h"
#include "drawing/layerfilter.h"
#include "export/export_internal.h"
#include "export/worksheetwriter.h"
#include "platform/host/dbapserv.h"
#include "platform/host/dbdynblk.h"
#include "platform/host/dbents.h"
#include "platform/host/dbsymtb.h"
#include "platform/win/locale.h"

using export_internal::ClosedOnExit;
using export_internal::TakeHostString;

namespace {

// Appends the direct references of block record `record_id` to `refs`; false when the record
// cannot be opened or will not list its references.
bool AppendReferencesOf(AcDbObjectId record_id, std::vector<AcDbObjectId>& refs) {
  AcDbBlockTableRecord* record = nullptr;
  if (acdbOpenObject(record, record_id, AcDb::kForRead) != Acad::eOk) return false;
  ClosedOnExit<AcDbBlockTableRecord> closer(record);
  AcDbObjectIdArray ids;
  if (record->getBlockReferenceIds(ids, true, false) != Acad::eOk) return false;
  refs.insert(refs.end(), ids.begin(), ids.end());
  return true;
}

// The anonymous variants' references first, in the order of the anonymous records, then the
// named record's own. Duplicates are not looked for.
std::vector<AcDbObjectId> GatherReferences(AcDbBlockTableRecord* record) {
  std::vector<AcDbObjectId> refs;
  {
    const AcDbDynBlockTableRecord dynamic(record->objectId());
    AcDbObjectIdArray anonymous;
    if (dynamic.isDynamicBlock() && dynamic.getAnonymousBlockIds(anonymous) == Acad::eOk)
      for (const AcDbObjectId& id : anonymous) AppendReferencesOf(id, refs);
  }
  // Whatever the call answers, the ids it gave are taken.
  AcDbObjectIdArray own;
  (void)record->getBlockReferenceIds(own, true, false);
  refs.insert(refs.end(), own.begin(), own.end());
  return refs;
}

// Keeps the references on one of the filter's layers, in their order. The filter's names are
// folded once, so the cost is one layer look-up per reference.
void ApplyLayerFilter(std::vector<AcDbObjectId>& refs) {
  std::unordered_set<std::wstring> layers;
  for (const std::wstring& name : LayerFilterNames) layers.insert(FoldCase(name));
  std::size_t kept = 0;
  for (const AcDbObjectId& id : refs) {
    AcDbBlockReference* ref = nullptr;
    // A reference that cannot be opened is dropped (see exportcore.h).
    if (acdbOpenObject(ref, id, AcDb::kForRead) != Acad::eOk) continue;
    const std::wstring layer = TakeHostString(ref->layer());
    ref->close();
    if (layers.count(FoldCase(layer)) != 0) refs[kept++] = id;
  }
  refs.resize(kept);
}

// Keeps the references the user picked, in the list's own order.
void ApplySelectionFilter(std::vector<AcDbObjectId>& refs) {
  const std::unordered_set<AcDbObjectId> picked(SelectedBlockRefs.begin(), SelectedBlockRefs.end());
  std::size_t kept = 0;
  for (const AcDbObjectId& id : refs)
    if (picked.count(id) != 0) refs[kept++] = id;
  refs.resize(kept);
}

// Writes reference `id`, unless it is erased, cannot be opened or its owner cannot be opened.
void ExportOne(AcDbObjectId id, const sheetwise::SettingsInfo& settings, bool first,
               const wchar_t* block_name) {
  if (id.isErased()) return;
  AcDbBlockReference* ref = nullptr;
  if (acdbOpenObject(ref, id, AcDb::kForRead) != Acad::eOk) return;
  ClosedOnExit<AcDbBlockReference> ref_closer(ref);
  AcDbObject* owner = nullptr;
  if (acdbOpenAcDbObject(owner, ref->ownerId(), AcDb::kForRead) != Acad::eOk) return;
  owner->close();
  ExportReference(ref, settings, first, block_name);
}

}  // namespace

bool ExportBlockName(const wchar_t* blockName, const sheetwise::SettingsInfo& settings) {
  if (blockName == nullptr) return false;
  AcDbDatabase* db = acdbHostApplicationServices()->workingDatabase();
  if (db == nullptr) return false;
  AcDbBlockTable* table = nullptr;
  if (db->getSymbolTable(table, AcDb::kForRead) != Acad::eOk || table == nullptr) return false;
  ClosedOnExit<AcDbBlockTable> table_closer(table);
  AcDbBlockTableRecord* record = nullptr;
  if (table->getAt(blockName, record, AcDb::kForRead) != Acad::eOk || record == nullptr)
    return false;
  ClosedOnExit<AcDbBlockTableRecord> record_closer(record);

  std::vector<AcDbObjectId> refs = GatherReferences(record);
  if (LayerFilterOn && !refs.empty()) ApplyLayerFilter(refs);
  if (!SelectedBlockRefs.isEmpty() && !refs.empty()) ApplySelectionFilter(refs);
  // An export only reads the drawing: a block's definitions are read for its first reference.
  const AttributeDefinitionsReuse reuse;
  for (std::size_t i = 0; i < refs.size(); ++i) ExportOne(refs[i], settings, i == 0, blockName);
  return true;
}
