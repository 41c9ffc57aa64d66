#include "platform/host/dbsymtb.h"

#include <unordered_set>

#include "platform/host/dbents.h"
#include "platform/host/dbimpl_internal.h"
#include "platform/win/locale.h"

SW_ACRX_DEFINE_MEMBERS(AcDbSymbolTable, AcDbObject)
SW_ACRX_DEFINE_MEMBERS(AcDbBlockTable, AcDbSymbolTable)
SW_ACRX_DEFINE_MEMBERS(AcDbLayerTable, AcDbSymbolTable)
SW_ACRX_DEFINE_MEMBERS(AcDbSymbolTableRecord, AcDbObject)
SW_ACRX_DEFINE_MEMBERS(AcDbBlockTableRecord, AcDbSymbolTableRecord)
SW_ACRX_DEFINE_MEMBERS(AcDbLayerTableRecord, AcDbSymbolTableRecord)

namespace {

// The record's name: the block list holds block names (R12 blocks have no table record).
std::wstring NameOf(const AcDbStub* stub) {
  if (stub->kind == StubKind::kBlockRecord) return stub->db->blocks[stub->block].name;
  if (stub->record == dxf::kNoRecord) return {};
  return dbtags::Text(stub->db->Get(stub), dxf::kCodeName, L"");
}

}  // namespace

// ---- Iterators

void AcDbSymbolTableIterator::start(bool at_beginning, bool /*skip_deleted*/) {
  if (at_beginning) it_.start();
}

void AcDbSymbolTableIterator::step(bool /*forward*/, bool /*skip_deleted*/) {
  it_.step();
}

Acad::ErrorStatus AcDbSymbolTableIterator::getRecordId(AcDbObjectId& id) const {
  id = it_.objectId();
  return done() ? Acad::eInvalidIndex : Acad::eOk;
}

Acad::ErrorStatus AcDbSymbolTableIterator::getRecord(AcDbSymbolTableRecord*& record,
                                                     AcDb::OpenMode mode, bool open_erased) const {
  record = nullptr;
  if (done()) return Acad::eInvalidIndex;
  return acdbOpenObject(record, it_.objectId(), mode, open_erased);
}

Acad::ErrorStatus AcDbBlockTableIterator::getRecord(AcDbBlockTableRecord*& record,
                                                    AcDb::OpenMode mode, bool open_erased) const {
  record = nullptr;
  AcDbObjectId id;
  if (getRecordId(id) != Acad::eOk) return Acad::eInvalidIndex;
  return acdbOpenObject(record, id, mode, open_erased);
}

Acad::ErrorStatus AcDbLayerTableIterator::getRecord(AcDbLayerTableRecord*& record,
                                                    AcDb::OpenMode mode, bool open_erased) const {
  record = nullptr;
  AcDbObjectId id;
  if (getRecordId(id) != Acad::eOk) return Acad::eInvalidIndex;
  return acdbOpenObject(record, id, mode, open_erased);
}

void AcDbBlockTableRecordIterator::start(bool at_beginning, bool /*skip_deleted*/) {
  if (at_beginning) it_.start();
}

void AcDbBlockTableRecordIterator::step(bool /*forward*/, bool /*skip_deleted*/) {
  it_.step();
}

Acad::ErrorStatus AcDbBlockTableRecordIterator::getEntityId(AcDbObjectId& id) const {
  id = it_.objectId();
  return done() ? Acad::eInvalidIndex : Acad::eOk;
}

Acad::ErrorStatus AcDbBlockTableRecordIterator::getEntity(AcDbEntity*& entity, AcDb::OpenMode mode,
                                                          bool open_erased) const {
  return it_.getEntity(entity, mode, open_erased);
}

// ---- Tables

AcDbObjectIdArray AcDbSymbolTable::recordIds() const {
  AcDbObjectIdArray ids;
  AcDbDatabaseImpl& db = *stub()->db;
  if (stub()->kind == StubKind::kBlockTable) {
    for (const BlockInfo& b : db.blocks)
      if (!db.IsErased(b.stub)) ids.append(AcDbObjectId(b.stub));
  } else if (stub()->kind == StubKind::kLayerTable) {
    for (AcDbStub* layer : db.layers)
      if (!db.IsErased(layer)) ids.append(AcDbObjectId(layer));
  }
  return ids;
}

Acad::ErrorStatus AcDbSymbolTable::getAt(const ACHAR* name, AcDbObjectId& id,
                                         bool get_erased) const {
  id.setNull();
  if (name == nullptr) return Acad::eInvalidInput;
  AcDbDatabaseImpl& db = *stub()->db;
  std::vector<AcDbStub*> candidates;
  // R12 spells the layout blocks $MODEL_SPACE and $PAPER_SPACE.
  std::wstring_view wanted(name);
  if (stub()->kind == StubKind::kBlockTable &&
      (EqualsNoCase(wanted, L"*Model_Space") || EqualsNoCase(wanted, L"*Paper_Space"))) {
    AcDbStub* space = EqualsNoCase(wanted, L"*Model_Space") ? db.model_space : db.paper_space;
    if (space != nullptr && (get_erased || !db.IsErased(space))) {
      id = AcDbObjectId(space);
      return Acad::eOk;
    }
  }
  if (stub()->kind == StubKind::kBlockTable) {
    for (const BlockInfo& b : db.blocks) candidates.push_back(b.stub);
  } else if (stub()->kind == StubKind::kLayerTable) {
    candidates = db.layers;
  }
  for (AcDbStub* s : candidates) {
    if (!get_erased && db.IsErased(s)) continue;
    if (EqualsNoCase(NameOf(s), name)) {
      id = AcDbObjectId(s);
      return Acad::eOk;
    }
  }
  return Acad::eKeyNotFound;
}

bool AcDbSymbolTable::has(const ACHAR* name) const {
  AcDbObjectId id;
  return getAt(name, id) == Acad::eOk;
}

bool AcDbSymbolTable::has(AcDbObjectId id) const {
  return recordIds().contains(id);
}

Acad::ErrorStatus AcDbBlockTable::getAt(const ACHAR* name, AcDbBlockTableRecord*& record,
                                        AcDb::OpenMode mode, bool open_erased) const {
  record = nullptr;
  AcDbObjectId id;
  if (Acad::ErrorStatus es = getAt(name, id, open_erased); es != Acad::eOk) return es;
  return acdbOpenObject(record, id, mode, open_erased);
}

Acad::ErrorStatus AcDbBlockTable::newIterator(AcDbBlockTableIterator*& iterator, bool, bool) const {
  iterator = new AcDbBlockTableIterator(recordIds());
  return Acad::eOk;
}

Acad::ErrorStatus AcDbLayerTable::getAt(const ACHAR* name, AcDbLayerTableRecord*& record,
                                        AcDb::OpenMode mode, bool open_erased) const {
  record = nullptr;
  AcDbObjectId id;
  if (Acad::ErrorStatus es = getAt(name, id, open_erased); es != Acad::eOk) return es;
  return acdbOpenObject(record, id, mode, open_erased);
}

Acad::ErrorStatus AcDbLayerTable::newIterator(AcDbLayerTableIterator*& iterator, bool, bool) const {
  iterator = new AcDbLayerTableIterator(recordIds());
  return Acad::eOk;
}

// ---- Records

Acad::ErrorStatus AcDbSymbolTableRecord::getName(ACHAR*& name) const {
  name = acutNewString(NameOf(stub()).c_str());
  return Acad::eOk;
}

Acad::ErrorStatus AcDbSymbolTableRecord::getName(AcString& name) const {
  name = NameOf(stub());
  return Acad::eOk;
}

Acad::ErrorStatus AcDbSymbolTableRecord::getName(const ACHAR*& name) const {
  name_cache_ = NameOf(stub());
  name = name_cache_.c_str();
  return Acad::eOk;
}

namespace {

const BlockInfo& InfoOf(const AcDbStub* stub) {
  return stub->db->blocks[stub->block];
}

}  // namespace

bool AcDbBlockTableRecord::isAnonymous() const {
  const BlockInfo& info = InfoOf(stub());
  if (info.name.starts_with(L"*") && stub() != stub()->db->model_space && !isLayout()) return true;
  if (info.block_begin == dxf::kNoRecord) return false;
  return (dbtags::Integer(stub()->db->doc().Get(info.block_begin), 70, 0) & 1) != 0;
}

bool AcDbBlockTableRecord::hasAttributeDefinitions() const {
  AcDbDatabaseImpl& db = *stub()->db;
  for (AcDbStub* e : InfoOf(stub()).entities)
    if (!db.IsErased(e) && db.Get(e).Type() == "ATTDEF") return true;
  return false;
}

bool AcDbBlockTableRecord::isLayout() const {
  const std::wstring& name = InfoOf(stub()).name;
  return stub() == stub()->db->model_space || stub() == stub()->db->paper_space ||
         FoldCase(name).starts_with(L"*paper_space") ||
         FoldCase(name).starts_with(L"$paper_space") || FoldCase(name).starts_with(L"*model_space");
}

bool AcDbBlockTableRecord::isFromExternalReference() const {
  const BlockInfo& info = InfoOf(stub());
  if (info.block_begin == dxf::kNoRecord) return false;
  return (dbtags::Integer(stub()->db->doc().Get(info.block_begin), 70, 0) & 4) != 0;
}

AcGePoint3d AcDbBlockTableRecord::origin() const {
  const BlockInfo& info = InfoOf(stub());
  if (info.block_begin == dxf::kNoRecord) return AcGePoint3d::kOrigin;
  return dbtags::Point(stub()->db->doc().Get(info.block_begin), 10, AcGePoint3d::kOrigin);
}

AcDbObjectId AcDbBlockTableRecord::getLayoutId() const {
  if (stub()->record == dxf::kNoRecord) return {};
  dxf::Entity e = stub()->db->Get(stub());
  if (e.Type() != "BLOCK_RECORD") return {};
  std::size_t i = dbtags::FindOwn(e, 340);
  if (i == dxf::kNoTag) return {};
  return AcDbObjectId(stub()->db->FindHandle(e.HandleAt(i)));
}

Acad::ErrorStatus AcDbBlockTableRecord::comments(ACHAR*& text) const {
  const BlockInfo& info = InfoOf(stub());
  std::wstring value;
  if (info.block_begin != dxf::kNoRecord)
    value = dbtags::Text(stub()->db->doc().Get(info.block_begin), 4, L"");
  text = acutNewString(value.c_str());
  return Acad::eOk;
}

namespace {

// Every live INSERT naming block `target`, over all block records.
void DirectReferences(AcDbDatabaseImpl& db, const AcDbStub* target, AcDbObjectIdArray& out) {
  for (AcDbStub* e : db.InsertsNamed(db.blocks[target->block].name)) out.append(AcDbObjectId(e));
}

}  // namespace

Acad::ErrorStatus AcDbBlockTableRecord::getBlockReferenceIds(AcDbObjectIdArray& ids,
                                                             bool direct_only, bool) const {
  ids.removeAll();
  AcDbDatabaseImpl& db = *stub()->db;
  DirectReferences(db, stub(), ids);
  if (direct_only) return Acad::eOk;
  // Nested: references to every block that contains a reference already found.
  std::unordered_set<const AcDbStub*> visited = {stub()};
  std::unordered_set<const AcDbStub*> found;
  for (int i = 0; i < ids.length(); ++i) found.insert(ids[i].stub());
  for (int i = 0; i < ids.length(); ++i) {
    const AcDbStub* container = ids[i].stub()->owner;
    if (container == nullptr || container->kind != StubKind::kBlockRecord) continue;
    if (!visited.insert(container).second) continue;
    for (AcDbStub* e : db.InsertsNamed(db.blocks[container->block].name))
      if (found.insert(e).second) ids.append(AcDbObjectId(e));
  }
  return Acad::eOk;
}

Acad::ErrorStatus AcDbBlockTableRecord::newIterator(AcDbBlockTableRecordIterator*& iterator, bool,
                                                    bool) const {
  AcDbObjectIdArray ids;
  for (AcDbStub* e : InfoOf(stub()).entities) ids.append(AcDbObjectId(e));
  iterator = new AcDbBlockTableRecordIterator(std::move(ids));
  return Acad::eOk;
}

bool AcDbLayerTableRecord::isOff() const {
  return dbtags::Integer(stub()->db->Get(stub()), 62, 7) < 0;
}
bool AcDbLayerTableRecord::isFrozen() const {
  return (dbtags::Integer(stub()->db->Get(stub()), 70, 0) & 1) != 0;
}
bool AcDbLayerTableRecord::isLocked() const {
  return (dbtags::Integer(stub()->db->Get(stub()), 70, 0) & 4) != 0;
}
Adesk::Int16 AcDbLayerTableRecord::colorIndex() const {
  auto color = dbtags::Integer(stub()->db->Get(stub()), 62, 7);
  return static_cast<Adesk::Int16>(color < 0 ? -color : color);
}
