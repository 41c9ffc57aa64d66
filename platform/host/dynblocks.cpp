#include "platform/host/dbdynblk.h"

#include "platform/host/dbimpl_internal.h"

namespace {

// The dynamic block a *U record was made from: its XDATA AcDbBlockRepBTag's 1005 handle.
AcDbStub* RepresentedBlock(const AcDbStub* record) {
  if (record->record == dxf::kNoRecord) return nullptr;
  AcDbDatabaseImpl& db = *record->db;
  dxf::Entity e = db.Get(record);
  std::size_t app = e.FindXData("AcDbBlockRepBTag");
  if (app == dxf::kNoTag) return nullptr;
  for (std::size_t i = app + 1; i < e.TagCount() && e.Code(i) != 1001; ++i) {
    if (e.Code(i) != 1005) continue;
    AcDbStub* target = db.FindHandle(e.HandleAt(i));
    if (target != nullptr && target->kind == StubKind::kBlockRecord && target != record)
      return target;
  }
  return nullptr;
}

// The record of a dictionary entry `key` of `dictionary`, or null.
AcDbStub* DictionaryEntry(AcDbDatabaseImpl& db, const AcDbStub* dictionary, std::wstring_view key) {
  if (dictionary == nullptr || dictionary->record == dxf::kNoRecord) return nullptr;
  dxf::Entity e = db.Get(dictionary);
  for (std::size_t i = 1; i + 1 < e.TagCount(); ++i) {
    if (e.Code(i) == 3 && e.Text(i) == key) {
      int next = e.Code(i + 1);
      if (next == 350 || next == 360) return db.FindHandle(e.HandleAt(i + 1));
    }
  }
  return nullptr;
}

AcDbStub* ExtensionDictionary(const AcDbStub* stub) {
  if (stub->record == dxf::kNoRecord) return nullptr;
  AcDbDatabaseImpl& db = *stub->db;
  dxf::Entity e = db.Get(stub);
  bool in_xdict = false;
  for (std::size_t i = 1; i < e.TagCount(); ++i) {
    int code = e.Code(i);
    if (code == dxf::kCodeControl) {
      in_xdict = e.Raw(i) == "{ACAD_XDICTIONARY";
    } else if (in_xdict && code == dxf::kCodeHardOwner) {
      return db.FindHandle(e.HandleAt(i));
    } else if (code == 100) {
      break;
    }
  }
  return nullptr;
}

bool IsBlockRecord(AcDbObjectId id) {
  return !id.isNull() && id.stub()->kind == StubKind::kBlockRecord;
}

// The dynamic block named by a reference's AcDbBlockRepresentation data (AcDbRepData 340).
AcDbStub* RepresentationOfReference(const AcDbStub* reference) {
  AcDbDatabaseImpl& db = *reference->db;
  AcDbStub* rep = DictionaryEntry(db, ExtensionDictionary(reference), L"AcDbBlockRepresentation");
  AcDbStub* data = DictionaryEntry(db, rep, L"AcDbRepData");
  if (data == nullptr || data->record == dxf::kNoRecord) return nullptr;
  dxf::Entity e = db.Get(data);
  std::size_t i = e.Find(340);
  if (i == dxf::kNoTag) return nullptr;
  AcDbStub* target = db.FindHandle(e.HandleAt(i));
  return target != nullptr && target->kind == StubKind::kBlockRecord ? target : nullptr;
}

}  // namespace

bool AcDbDynBlockTableRecord::isDynamicBlock(AcDbObjectId id) {
  if (!IsBlockRecord(id)) return false;
  AcDbStub* stub = id.stub();
  AcDbDatabaseImpl& db = *stub->db;
  if (DictionaryEntry(db, ExtensionDictionary(stub), L"ACAD_ENHANCEDBLOCK") != nullptr) return true;
  for (const BlockInfo& b : db.blocks)
    if (!db.IsErased(b.stub) && RepresentedBlock(b.stub) == stub) return true;
  return false;
}

bool AcDbDynBlockTableRecord::isDynamicBlock() const {
  return isDynamicBlock(id_);
}

Acad::ErrorStatus AcDbDynBlockTableRecord::getAnonymousBlockIds(AcDbObjectIdArray& ids) const {
  ids.removeAll();
  if (!isDynamicBlock()) return Acad::eNotApplicable;
  AcDbDatabaseImpl& db = *id_.stub()->db;
  for (const BlockInfo& b : db.blocks)
    if (!db.IsErased(b.stub) && RepresentedBlock(b.stub) == id_.stub())
      ids.append(AcDbObjectId(b.stub));
  // References whose representation data names this block, to *U records without the tag.
  for (const BlockInfo& b : db.blocks) {
    for (AcDbStub* e : b.entities) {
      if (db.IsErased(e) || db.Get(e).Type() != "INSERT") continue;
      if (RepresentationOfReference(e) != id_.stub()) continue;
      AcDbDynBlockReference ref(AcDbObjectId{e});
      AcDbObjectId anonymous = ref.anonymousBlockTableRecord();
      if (!anonymous.isNull() && anonymous != id_ && !ids.contains(anonymous))
        ids.append(anonymous);
    }
  }
  return Acad::eOk;
}

AcDbObjectId AcDbDynBlockReference::anonymousBlockTableRecord() const {
  AcDbBlockReference* ref = nullptr;
  if (acdbOpenObject(ref, id_, AcDb::kForRead) != Acad::eOk) return {};
  AcDbObjectId block = ref->blockTableRecord();
  ref->close();
  return block;
}

AcDbObjectId AcDbDynBlockReference::dynamicBlockTableRecord() const {
  if (id_.isNull()) return {};
  if (AcDbStub* rep = RepresentationOfReference(id_.stub())) return AcDbObjectId(rep);
  AcDbObjectId block = anonymousBlockTableRecord();
  if (block.isNull()) return {};
  if (AcDbStub* source = RepresentedBlock(block.stub())) return AcDbObjectId(source);
  return block;
}

bool AcDbDynBlockReference::isDynamicBlock(AcDbObjectId id) {
  return AcDbDynBlockReference(id).isDynamicBlock();
}

bool AcDbDynBlockReference::isDynamicBlock() const {
  AcDbObjectId block = dynamicBlockTableRecord();
  return !block.isNull() && AcDbDynBlockTableRecord::isDynamicBlock(block);
}
