#include "platform/host/dbmain.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <set>

#include "platform/host/dbapserv.h"
#include "platform/host/dbents.h"
#include "platform/host/dbimpl_internal.h"
#include "platform/host/dbsymtb.h"
#include "platform/win/codepage.h"
#include "platform/win/locale.h"

namespace {

// A new drawing: the smallest R12 file every CAD program opens (layer 0, model and paper
// space, no handles needed).
constexpr char kNewDrawing[] =
    "0\nSECTION\n2\nHEADER\n9\n$ACADVER\n1\nAC1009\n9\n$LUNITS\n70\n2\n9\n$LUPREC\n70\n4\n"
    "9\n$AUNITS\n70\n0\n9\n$AUPREC\n70\n0\n9\n$DIMZIN\n70\n0\n9\n$UNITMODE\n70\n0\n"
    "9\n$TILEMODE\n70\n1\n9\n$CLAYER\n8\n0\n0\nENDSEC\n"
    "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nLAYER\n70\n1\n0\nLAYER\n2\n0\n70\n0\n62\n7\n6\n"
    "CONTINUOUS\n0\nENDTAB\n0\nENDSEC\n"
    "0\nSECTION\n2\nBLOCKS\n0\nBLOCK\n8\n0\n2\n$MODEL_SPACE\n70\n0\n10\n0.0\n20\n0.0\n30\n0.0\n"
    "3\n$MODEL_SPACE\n1\n\n0\nENDBLK\n8\n0\n0\nBLOCK\n67\n1\n8\n0\n2\n$PAPER_SPACE\n70\n0\n"
    "10\n0.0\n20\n0.0\n30\n0.0\n3\n$PAPER_SPACE\n1\n\n0\nENDBLK\n67\n1\n8\n0\n0\nENDSEC\n"
    "0\nSECTION\n2\nENTITIES\n0\nENDSEC\n0\nEOF\n";

bool IsModelSpaceName(std::wstring_view name) {
  return EqualsNoCase(name, L"*Model_Space") || EqualsNoCase(name, L"$MODEL_SPACE");
}

bool IsPaperSpaceName(std::wstring_view name) {
  return EqualsNoCase(name, L"*Paper_Space") || EqualsNoCase(name, L"$PAPER_SPACE");
}

std::wstring Widen(std::string_view ascii) {
  return Utf8ToWide(ascii);
}

const AcRxClass kAcDbObjectClass(L"AcDbObject", nullptr);

}  // namespace

// ---- AcRxClass

bool AcRxClass::isDerivedFrom(const AcRxClass* other) const {
  for (const AcRxClass* c = this; c != nullptr; c = c->myParent())
    if (c == other) return true;
  return false;
}

// ---- Tag helpers

namespace dbtags {

std::size_t OwnEnd(const dxf::Entity& e) {
  return e.OwnEnd();
}

std::size_t FindOwn(const dxf::Entity& e, int code) {
  std::size_t end = e.OwnEnd();
  // From R2018, AcDbAttribute / AcDbAttributeDefinition repeat 71, 72 and 11/21/31 with other
  // meanings (attribute type, lock, alignment copy); those codes are AcDbText's.
  if (code == 71 || code == 72 || code == 11 || code == 21 || code == 31) {
    for (std::size_t i = e.Find(dxf::kCodeSubclass, 1); i < end;
         i = e.Find(dxf::kCodeSubclass, i + 1)) {
      const std::string_view raw = e.Raw(i);
      if (raw == "AcDbAttribute" || raw == "AcDbAttributeDefinition") {
        end = i;
        break;
      }
    }
  }
  return e.FindOutsideGroups(code, 1, end);
}

double Real(const dxf::Entity& e, int code, double fallback) {
  std::size_t i = FindOwn(e, code);
  if (i == dxf::kNoTag) return fallback;
  return e.Real(i).value_or(fallback);
}

std::int64_t Integer(const dxf::Entity& e, int code, std::int64_t fallback) {
  std::size_t i = FindOwn(e, code);
  if (i == dxf::kNoTag) return fallback;
  return e.Integer(i).value_or(fallback);
}

std::wstring Text(const dxf::Entity& e, int code, std::wstring_view fallback) {
  std::size_t i = FindOwn(e, code);
  return i == dxf::kNoTag ? std::wstring(fallback) : e.Text(i);
}

AcGePoint3d Point(const dxf::Entity& e, int code, const AcGePoint3d& fallback) {
  std::size_t i = FindOwn(e, code);
  if (i == dxf::kNoTag) return fallback;
  return {Real(e, code, fallback.x), Real(e, code + 10, fallback.y),
          Real(e, code + 20, fallback.z)};
}

bool SetOrInsert(dxf::DxfDocument& doc, dxf::RecordId id, const dxf::NewTag& value,
                 std::initializer_list<int> predecessors) {
  dxf::Entity e = doc.Get(id);
  std::size_t at = FindOwn(e, value.code);
  if (at != dxf::kNoTag) return doc.SetValue(id, at, value);
  std::size_t pos = 0;
  for (int code : predecessors) {
    std::size_t i = FindOwn(e, code);
    if (i != dxf::kNoTag && i + 1 > pos) pos = i + 1;
  }
  if (pos == 0) pos = OwnEnd(e);
  return doc.InsertTags(id, pos, std::span<const dxf::NewTag>(&value, 1));
}

bool SetPoint(dxf::DxfDocument& doc, dxf::RecordId id, int code, const AcGePoint3d& p,
              std::initializer_list<int> predecessors) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return false;
  if (!SetOrInsert(doc, id, dxf::NewTag::Real(code, p.x), predecessors)) return false;
  if (!SetOrInsert(doc, id, dxf::NewTag::Real(code + 10, p.y), {code})) return false;
  return SetOrInsert(doc, id, dxf::NewTag::Real(code + 20, p.z), {code + 10});
}

bool Remove(dxf::DxfDocument& doc, dxf::RecordId id, int code) {
  std::size_t i = FindOwn(doc.Get(id), code);
  return i == dxf::kNoTag || doc.RemoveTags(id, i, 1);
}

}  // namespace dbtags

// ---- The index

AcDbStub* AcDbDatabaseImpl::NewStub(StubKind kind, dxf::RecordId record) {
  AcDbStub& stub = stubs_.emplace_back();
  stub.db = this;
  stub.kind = kind;
  stub.record = record;
  if (record != dxf::kNoRecord) {
    stub.handle = AcDbHandle(doc_->Get(record).handle());
    if (!stub.handle.isNull()) by_handle_.emplace(stub.handle.value(), &stub);
    if (record < by_record_.size()) by_record_[record] = &stub;
  }
  return &stub;
}

AcDbStub* AcDbDatabaseImpl::FindHandle(Adesk::UInt64 handle) const {
  auto it = by_handle_.find(handle);
  return it == by_handle_.end() ? nullptr : it->second;
}

AcDbStub* AcDbDatabaseImpl::FindRecord(dxf::RecordId id) const {
  return id < by_record_.size() ? by_record_[id] : nullptr;
}

bool AcDbDatabaseImpl::IsErased(const AcDbStub* stub) const {
  return stub->record != dxf::kNoRecord && doc_->Get(stub->record).IsErased();
}

int AcDbDatabaseImpl::FindBlock(std::wstring_view name) const {
  for (std::size_t i = 0; i < blocks.size(); ++i)
    if (blocks[i].name == name) return static_cast<int>(i);
  for (std::size_t i = 0; i < blocks.size(); ++i)
    if (EqualsNoCase(blocks[i].name, name)) return static_cast<int>(i);
  return -1;
}

void AcDbDatabaseImpl::Adopt(std::unique_ptr<dxf::DxfDocument> doc) {
  doc_ = std::move(doc);
  stubs_.clear();
  by_handle_.clear();
  by_record_.assign(doc_->RecordCount(), nullptr);
  blocks.clear();
  layers.clear();
  block_table = layer_table = model_space = paper_space = root_dictionary = nullptr;
  header_modified = false;
  inserts_by_name_.clear();
  inserts_indexed_ = false;
  ReadHeader();
  IndexTables();
  IndexBlocks();
  IndexEntities();
  IndexRest();
}

void AcDbDatabaseImpl::ReadHeader() {
  version = Widen(doc_->Version());
  auto integer = [&](const char* name, std::int64_t fallback) {
    return doc_->HeaderInteger(name).value_or(fallback);
  };
  lunits = static_cast<Adesk::Int16>(integer("$LUNITS", 2));
  luprec = static_cast<Adesk::Int16>(integer("$LUPREC", 4));
  aunits = static_cast<Adesk::Int16>(integer("$AUNITS", 0));
  auprec = static_cast<Adesk::Int16>(integer("$AUPREC", 0));
  dimzin = static_cast<Adesk::UInt8>(integer("$DIMZIN", 0));
  unitmode = static_cast<Adesk::Int16>(integer("$UNITMODE", 0));
  angdir = integer("$ANGDIR", 0) != 0;
  tilemode = integer("$TILEMODE", 1) != 0;
  angbase = doc_->HeaderReal("$ANGBASE").value_or(0) * std::numbers::pi / 180;
  clayer = doc_->HeaderText("$CLAYER").value_or(L"0");
}

void AcDbDatabaseImpl::IndexTables() {
  auto tables = doc_->FindSection("TABLES");
  if (tables) {
    std::wstring table;
    AcDbStub* table_stub = nullptr;
    for (dxf::Entity e : doc_->Records(*tables)) {
      std::string_view type = e.Type();
      if (type == "TABLE") {
        table = dbtags::Text(e, dxf::kCodeName, L"");
        StubKind kind = table == L"BLOCK_RECORD" ? StubKind::kBlockTable
                        : table == L"LAYER"      ? StubKind::kLayerTable
                                                 : StubKind::kObject;
        table_stub = NewStub(kind, e.id());
        if (kind == StubKind::kBlockTable && block_table == nullptr) block_table = table_stub;
        if (kind == StubKind::kLayerTable && layer_table == nullptr) layer_table = table_stub;
      } else if (type == "ENDTAB") {
        table.clear();
        table_stub = nullptr;
      } else if (type == "BLOCK_RECORD" && table == L"BLOCK_RECORD") {
        AcDbStub* stub = NewStub(StubKind::kBlockRecord, e.id());
        stub->owner = table_stub;
        stub->block = static_cast<int>(blocks.size());
        blocks.push_back(
            {stub, dxf::kNoRecord, dxf::kNoRecord, dbtags::Text(e, dxf::kCodeName, L""), {}});
      } else if (type == "LAYER" && table == L"LAYER") {
        AcDbStub* stub = NewStub(StubKind::kLayer, e.id());
        stub->owner = table_stub;
        layers.push_back(stub);
      } else if (table_stub != nullptr) {
        NewStub(StubKind::kObject, e.id())->owner = table_stub;
      }
    }
  }
  // R12 has no BLOCK_RECORD table: the block table is the BLOCKS section itself.
  if (block_table == nullptr) block_table = NewStub(StubKind::kBlockTable, dxf::kNoRecord);
  if (layer_table == nullptr) layer_table = NewStub(StubKind::kLayerTable, dxf::kNoRecord);
}

void AcDbDatabaseImpl::AddEntities(dxf::RecordRange range, int block, bool entities_section) {
  AcDbStub* parent = nullptr;  // INSERT or POLYLINE whose followers come next
  for (dxf::Entity e : range) {
    std::string_view type = e.Type();
    if (parent != nullptr && (type == "ATTRIB" || type == "VERTEX" || type == "SEQEND")) {
      AcDbStub* stub = NewStub(type == "SEQEND" ? StubKind::kObject : StubKind::kEntity, e.id());
      stub->owner = parent;
      if (type == "ATTRIB") parent->children.push_back(stub);
      if (type == "SEQEND") {
        parent->seqend = e.id();
        parent = nullptr;
      }
      continue;
    }
    parent = nullptr;
    int target = block;
    if (entities_section) {
      AcDbStub* owner = FindHandle(e.Owner());
      if (owner != nullptr && owner->kind == StubKind::kBlockRecord) {
        target = owner->block;
      } else if (dbtags::Integer(e, 67, 0) == 1) {
        if (paper_space == nullptr) {
          paper_space = NewStub(StubKind::kBlockRecord, dxf::kNoRecord);
          paper_space->owner = block_table;
          paper_space->block = static_cast<int>(blocks.size());
          blocks.push_back({paper_space, dxf::kNoRecord, dxf::kNoRecord, L"*Paper_Space", {}});
        }
        target = paper_space->block;
      }
    }
    AcDbStub* stub = NewStub(StubKind::kEntity, e.id());
    stub->owner = blocks[target].stub;
    blocks[target].entities.push_back(stub);
    if (type == "POLYLINE" || (type == "INSERT" && dbtags::Integer(e, 66, 0) == 1)) parent = stub;
  }
}

void AcDbDatabaseImpl::IndexBlocks() {
  auto section = doc_->FindSection("BLOCKS");
  if (section) {
    int current = -1;
    dxf::RecordId begin = dxf::kNoRecord;
    for (dxf::Entity e : doc_->Records(*section)) {
      std::string_view type = e.Type();
      if (type == "BLOCK") {
        std::wstring name = dbtags::Text(e, dxf::kCodeName, L"");
        current = FindBlock(name);
        if (current < 0 || blocks[current].block_begin != dxf::kNoRecord) {
          AcDbStub* stub = NewStub(StubKind::kBlockRecord, e.id());
          stub->owner = block_table;
          current = static_cast<int>(blocks.size());
          stub->block = current;
          blocks.push_back({stub, dxf::kNoRecord, dxf::kNoRecord, name, {}});
        } else {
          NewStub(StubKind::kObject, e.id())->owner = blocks[current].stub;
        }
        blocks[current].block_begin = begin = e.id();
      } else if (type == "ENDBLK") {
        if (current >= 0) {
          blocks[current].block_end = e.id();
          AddEntities(doc_->Between(begin, e.id()), current, false);
          NewStub(StubKind::kObject, e.id())->owner = blocks[current].stub;
        }
        current = -1;
      }
    }
  }
  for (BlockInfo& b : blocks) {
    if (model_space == nullptr && IsModelSpaceName(b.name)) model_space = b.stub;
    if (paper_space == nullptr && IsPaperSpaceName(b.name)) paper_space = b.stub;
  }
  if (model_space == nullptr) {
    model_space = NewStub(StubKind::kBlockRecord, dxf::kNoRecord);
    model_space->owner = block_table;
    model_space->block = static_cast<int>(blocks.size());
    blocks.push_back({model_space, dxf::kNoRecord, dxf::kNoRecord, L"*Model_Space", {}});
  }
}

void AcDbDatabaseImpl::IndexEntities() {
  auto section = doc_->FindSection("ENTITIES");
  if (section) AddEntities(doc_->Records(*section), model_space->block, true);
}

void AcDbDatabaseImpl::IndexRest() {
  auto objects = doc_->FindSection("OBJECTS");
  for (dxf::RecordId id = doc_->First(); id != dxf::kNoRecord; id = doc_->Next(id)) {
    if (FindRecord(id) != nullptr) continue;
    dxf::Entity e = doc_->Get(id);
    if (e.handle() == 0) continue;
    AcDbStub* stub = NewStub(StubKind::kObject, id);
    if (root_dictionary == nullptr && objects && e.Type() == "DICTIONARY") root_dictionary = stub;
  }
}

namespace {

std::unique_ptr<AcDbObject> MakeObject(AcDbStub* stub) {
  switch (stub->kind) {
    case StubKind::kBlockTable:
      return std::make_unique<AcDbBlockTable>(stub);
    case StubKind::kLayerTable:
      return std::make_unique<AcDbLayerTable>(stub);
    case StubKind::kBlockRecord:
      return std::make_unique<AcDbBlockTableRecord>(stub);
    case StubKind::kLayer:
      return std::make_unique<AcDbLayerTableRecord>(stub);
    case StubKind::kObject:
      return std::make_unique<AcDbObject>(stub);
    case StubKind::kEntity:
      break;
  }
  dxf::Entity e = stub->db->Get(stub);
  std::string_view type = e.Type();
  if (type == "INSERT") {
    bool minsert = dbtags::Integer(e, 70, 1) > 1 || dbtags::Integer(e, 71, 1) > 1;
    for (std::string_view sub : e.Subclasses())
      if (sub == "AcDbMInsertBlock") minsert = true;
    if (minsert) return std::make_unique<AcDbMInsertBlock>(stub);
    return std::make_unique<AcDbBlockReference>(stub);
  }
  if (type == "ATTRIB") return std::make_unique<AcDbAttribute>(stub);
  if (type == "ATTDEF") return std::make_unique<AcDbAttributeDefinition>(stub);
  if (type == "TEXT") return std::make_unique<AcDbText>(stub);
  return std::make_unique<AcDbEntity>(stub);
}

}  // namespace

Acad::ErrorStatus AcDbDatabaseImpl::Open(AcDbStub* stub, AcDbObject*& object, AcDb::OpenMode mode,
                                         bool open_erased) {
  object = nullptr;
  if (IsErased(stub) && !open_erased) return Acad::eWasErased;
  if (!stub->object) stub->object = MakeObject(stub);
  AcDbObject* obj = stub->object.get();
  if (obj->mode_ == AcDb::kForWrite) return Acad::eWasOpenForWrite;
  if (mode == AcDb::kForWrite && obj->open_count_ > 0) return Acad::eWasOpenForRead;
  if (obj->open_count_ == 0 || mode == AcDb::kForWrite) obj->mode_ = mode;
  ++obj->open_count_;
  object = obj;
  return Acad::eOk;
}

const std::vector<AcDbStub*>& AcDbDatabaseImpl::InsertsNamed(std::wstring_view name) {
  static const std::vector<AcDbStub*> kNone;
  if (!doc_) return kNone;
  if (!inserts_indexed_ || inserts_edits_ != doc_->EditCount() || inserts_stubs_ != stubs_.size()) {
    inserts_by_name_.clear();
    for (const BlockInfo& b : blocks) {
      if (IsErased(b.stub)) continue;
      for (AcDbStub* e : b.entities) {
        if (IsErased(e)) continue;
        dxf::Entity tags = Get(e);
        if (tags.Type() != "INSERT") continue;
        inserts_by_name_[FoldCase(dbtags::Text(tags, 2, L""))].push_back(e);
      }
    }
    inserts_indexed_ = true;
    inserts_edits_ = doc_->EditCount();
    inserts_stubs_ = stubs_.size();
  }
  const auto found = inserts_by_name_.find(FoldCase(name));
  return found == inserts_by_name_.end() ? kNone : found->second;
}

AcDbStub* AcDbDatabaseImpl::AddStub(StubKind kind, dxf::RecordId record, AcDbStub* owner) {
  if (record != dxf::kNoRecord && record >= by_record_.size()) by_record_.resize(record + 1);
  AcDbStub* stub = NewStub(kind, record);
  stub->owner = owner;
  return stub;
}

void AcDbDatabaseImpl::AdoptObject(AcDbObject* object, AcDbStub* stub) {
  std::unique_ptr<AcDbDatabaseImpl> own = std::move(object->detached_);
  object->stub_ = stub;
  stub->object.reset(object);
  object->mode_ = AcDb::kForWrite;
  object->open_count_ = 1;
}

AcDbStub* AcDbDatabaseImpl::NewDetached(std::string dxf) {
  dxf::LoadResult loaded = dxf::DxfDocument::Parse(std::move(dxf), "new object");
  if (!loaded) return nullptr;
  auto impl = std::make_unique<AcDbDatabaseImpl>(nullptr);
  impl->Adopt(std::move(loaded.document));
  auto section = impl->doc().FindSection("ENTITIES");
  if (!section) return nullptr;
  for (dxf::Entity e : impl->doc().Records(*section)) {
    AcDbStub* stub = impl->FindRecord(e.id());
    if (stub == nullptr) continue;
    stub->detached = true;
    stub->owner = nullptr;
    impl.release();
    return stub;
  }
  return nullptr;
}

// ---- AcDbObject

AcDbObject::AcDbObject(AcDbStub* stub) : stub_(stub) {
  // An object made with new is open for write to its maker until it is appended and closed.
  if (stub->detached) {
    detached_.reset(stub->db);
    mode_ = AcDb::kForWrite;
    open_count_ = 1;
  }
}
AcDbObject::~AcDbObject() = default;

const AcRxClass* AcDbObject::desc() {
  return &kAcDbObjectClass;
}
const AcRxClass* AcDbObject::isA() const {
  return desc();
}

AcDbObjectId AcDbObject::objectId() const {
  if (stub_->detached) return {};
  return AcDbObjectId(stub_);
}

AcDbObjectId AcDbObject::ownerId() const {
  if (stub_->owner != nullptr) return AcDbObjectId(stub_->owner);
  if (stub_->record == dxf::kNoRecord) return {};
  return AcDbObjectId(stub_->db->FindHandle(stub_->db->Get(stub_).Owner()));
}

AcDbHandle AcDbObject::handle() const {
  return stub_->handle;
}

AcDbDatabase* AcDbObject::database() const {
  return stub_->db->owner();
}

const ACHAR* AcDbObject::dxfName() const {
  // Interned: a handful of type names, so callers may keep the pointer.
  static std::set<std::wstring> names;
  std::wstring name;
  if (stub_->record != dxf::kNoRecord) {
    name = Widen(stub_->db->Get(stub_).Type());
  } else {
    name = stub_->kind == StubKind::kBlockRecord ? L"BLOCK_RECORD" : L"TABLE";
  }
  return names.insert(name).first->c_str();
}

AcDbObjectId AcDbObject::extensionDictionary() const {
  if (stub_->record == dxf::kNoRecord) return {};
  dxf::Entity e = stub_->db->Get(stub_);
  bool in_xdict = false;
  for (std::size_t i = 1; i < e.TagCount(); ++i) {
    int code = e.Code(i);
    if (code == dxf::kCodeControl) {
      in_xdict = e.Raw(i) == "{ACAD_XDICTIONARY";
    } else if (in_xdict && code == dxf::kCodeHardOwner) {
      return AcDbObjectId(stub_->db->FindHandle(e.HandleAt(i)));
    } else if (code == 100) {
      break;
    }
  }
  return {};
}

bool AcDbObject::isErased() const {
  return stub_->db->IsErased(stub_);
}

Acad::ErrorStatus AcDbObject::close() {
  if (open_count_ <= 0) return Acad::eInvalidOpenState;
  if (--open_count_ == 0) mode_ = AcDb::kNotOpen;
  return Acad::eOk;
}

Acad::ErrorStatus AcDbObject::erase(bool erasing) {
  if (Acad::ErrorStatus es = assertWriteEnabled(); es != Acad::eOk) return es;
  // The tag store removes records for good: an erase cannot be taken back.
  if (!erasing) return isErased() ? Acad::eNotApplicable : Acad::eOk;
  if (isErased()) return Acad::eWasErased;
  if (stub_->record == dxf::kNoRecord || stub_->kind == StubKind::kBlockRecord ||
      stub_->kind == StubKind::kBlockTable || stub_->kind == StubKind::kLayerTable)
    return Acad::eNotApplicable;
  dxf::DxfDocument& doc = stub_->db->doc();
  for (AcDbStub* child : stub_->children)
    if (!stub_->db->IsErased(child)) (void)doc.Erase(child->record);
  if (stub_->seqend != dxf::kNoRecord && !doc.Get(stub_->seqend).IsErased())
    (void)doc.Erase(stub_->seqend);
  return doc.Erase(stub_->record) ? Acad::eOk : Acad::eNotApplicable;
}

Acad::ErrorStatus AcDbObject::upgradeOpen() {
  if (mode_ == AcDb::kNotOpen) return Acad::eInvalidOpenState;
  if (mode_ == AcDb::kForWrite) return Acad::eOk;
  if (open_count_ > 1) return Acad::eWasOpenForRead;
  mode_ = AcDb::kForWrite;
  return Acad::eOk;
}

Acad::ErrorStatus AcDbObject::downgradeOpen() {
  if (mode_ != AcDb::kForWrite) return Acad::eNotOpenForWrite;
  mode_ = AcDb::kForRead;
  return Acad::eOk;
}

// ---- AcDbDatabase

AcDbDatabase::AcDbDatabase(bool build_default_drawing, bool /*no_document*/)
    : impl_(std::make_unique<AcDbDatabaseImpl>(this)) {
  if (build_default_drawing) {
    dxf::LoadResult loaded = dxf::DxfDocument::Parse(kNewDrawing, "Drawing1.dxf");
    if (loaded) impl_->Adopt(std::move(loaded.document));
  }
}

AcDbDatabase::~AcDbDatabase() {
  AcDbHostApplicationServices* services = acdbHostApplicationServices();
  if (services->workingDatabase() == this) services->setWorkingDatabase(nullptr);
}

Acad::ErrorStatus AcDbDatabase::dxfIn(const ACHAR* file_name, const ACHAR* log_file) {
  AcDbDatabaseImpl& d = *impl_;
  auto fail = [&](Acad::ErrorStatus es, std::wstring message) {
    d.last_error = std::move(message);
    if (log_file != nullptr) {
      std::ofstream log(std::filesystem::path(log_file), std::ios::app);
      log << WideToUtf8(d.last_error) << '\n';
    }
    return es;
  };
  if (file_name == nullptr || *file_name == 0)
    return fail(Acad::eInvalidInput, L"no drawing file named");
  std::filesystem::path path(file_name);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    return fail(Acad::eFileNotFound, std::wstring(file_name) + L": no such drawing file");
  {
    std::ifstream in(path, std::ios::binary);
    char magic[6] = {};
    in.read(magic, sizeof magic);
    if (in.gcount() == 6 && std::string_view(magic, 4) == "AC10" && magic[4] >= '0' &&
        magic[4] <= '9') {
      return fail(Acad::eInvalidInput,
                  std::wstring(file_name) +
                      L": is a DWG drawing; save it as DXF in the CAD program and open that");
    }
  }
  dxf::LoadResult loaded = dxf::DxfDocument::Load(path);
  if (!loaded) {
    if (!loaded.error)
      return fail(Acad::eBadDxfSequence, std::wstring(file_name) + L": cannot be read");
    std::wstring text = Utf8ToWide(loaded.error->ToString());
    // Refused at its first tag, the file is no DXF at all (a PDF, a drawing of another format):
    // say what is read, not only what was found.
    if (!loaded.error->binary && (loaded.error->line == 1 || loaded.error->line == 2))
      text += L"; this is not a DXF drawing: save it as DXF in the CAD program and open that";
    return fail(Acad::eBadDxfSequence, text);
  }
  d.Adopt(std::move(loaded.document));
  d.file_name = file_name;
  d.last_error.clear();
  return Acad::eOk;
}

Acad::ErrorStatus AcDbDatabase::saveAs(const ACHAR* file_name) {
  AcDbDatabaseImpl& d = *impl_;
  if (file_name == nullptr || *file_name == 0) {
    d.last_error = L"no file name to save the drawing as";
    return Acad::eInvalidInput;
  }
  if (!d.HasDocument()) {
    d.last_error = L"the database holds no drawing";
    return Acad::eNoDatabase;
  }
  if (auto failed = d.doc().SaveAs(std::filesystem::path(file_name))) {
    d.last_error = Utf8ToWide(failed->ToString());
    return Acad::eFileAccessErr;
  }
  d.file_name = file_name;
  d.header_modified = false;
  d.last_error.clear();
  return Acad::eOk;
}

Acad::ErrorStatus AcDbDatabase::getFilename(const ACHAR*& file_name) const {
  file_name = impl_->file_name.c_str();
  return Acad::eOk;
}

const std::wstring& AcDbDatabase::lastErrorText() const {
  return impl_->last_error;
}

bool AcDbDatabase::isModified() const {
  return impl_->header_modified || (impl_->HasDocument() && impl_->doc().IsModified());
}

Adesk::Int16 AcDbDatabase::lunits() const {
  return impl_->lunits;
}
Adesk::Int16 AcDbDatabase::luprec() const {
  return impl_->luprec;
}
Adesk::Int16 AcDbDatabase::aunits() const {
  return impl_->aunits;
}
Adesk::Int16 AcDbDatabase::auprec() const {
  return impl_->auprec;
}
Adesk::UInt8 AcDbDatabase::dimzin() const {
  return impl_->dimzin;
}
Adesk::Int16 AcDbDatabase::unitmode() const {
  return impl_->unitmode;
}
double AcDbDatabase::angbase() const {
  return impl_->angbase;
}
bool AcDbDatabase::angdir() const {
  return impl_->angdir;
}
bool AcDbDatabase::tilemode() const {
  return impl_->tilemode;
}
AcDbHandle AcDbDatabase::handseed() const {
  if (!impl_->HasDocument()) return {};
  auto text = impl_->doc().HeaderText("$HANDSEED");
  AcDbHandle h;
  if (text) AcDbHandle::fromText(*text, h);
  return h;
}
const ACHAR* AcDbDatabase::acadVersion() const {
  return impl_->version.c_str();
}

namespace {

// Writes header variable `name` (group 70) and keeps the database's copy `field` in step.
template <class T>
Acad::ErrorStatus SetHeaderInt(AcDbDatabaseImpl& d, T AcDbDatabaseImpl::*field, const char* name,
                               int value, int low, int high) {
  if (value < low || value > high) return Acad::eInvalidInput;
  if (d.HasDocument() && !d.doc().SetHeader(name, dxf::NewTag::Integer(70, value)))
    return Acad::eInvalidInput;
  d.header_modified = true;
  d.*field = static_cast<T>(value);
  return Acad::eOk;
}

}  // namespace

Acad::ErrorStatus AcDbDatabase::setLunits(Adesk::Int16 value) {
  return SetHeaderInt(*impl_, &AcDbDatabaseImpl::lunits, "$LUNITS", value, 1, 5);
}
Acad::ErrorStatus AcDbDatabase::setLuprec(Adesk::Int16 value) {
  return SetHeaderInt(*impl_, &AcDbDatabaseImpl::luprec, "$LUPREC", value, 0, 8);
}
Acad::ErrorStatus AcDbDatabase::setAunits(Adesk::Int16 value) {
  return SetHeaderInt(*impl_, &AcDbDatabaseImpl::aunits, "$AUNITS", value, 0, 4);
}
Acad::ErrorStatus AcDbDatabase::setAuprec(Adesk::Int16 value) {
  return SetHeaderInt(*impl_, &AcDbDatabaseImpl::auprec, "$AUPREC", value, 0, 8);
}
Acad::ErrorStatus AcDbDatabase::setDimzin(Adesk::UInt8 value) {
  return SetHeaderInt(*impl_, &AcDbDatabaseImpl::dimzin, "$DIMZIN", value, 0, 15);
}
Acad::ErrorStatus AcDbDatabase::setUnitmode(Adesk::Int16 value) {
  return SetHeaderInt(*impl_, &AcDbDatabaseImpl::unitmode, "$UNITMODE", value, 0, 1);
}

AcDbObjectId AcDbDatabase::clayer() const {
  for (AcDbStub* layer : impl_->layers)
    if (EqualsNoCase(dbtags::Text(impl_->Get(layer), dxf::kCodeName, L""), impl_->clayer))
      return AcDbObjectId(layer);
  return {};
}

AcDbObjectId AcDbDatabase::blockTableId() const {
  return AcDbObjectId(impl_->block_table);
}
AcDbObjectId AcDbDatabase::layerTableId() const {
  return AcDbObjectId(impl_->layer_table);
}
AcDbObjectId AcDbDatabase::namedObjectsDictionaryId() const {
  return AcDbObjectId(impl_->root_dictionary);
}

Acad::ErrorStatus AcDbDatabase::getSymbolTable(AcDbBlockTable*& table, AcDb::OpenMode mode) {
  table = nullptr;
  if (!impl_->HasDocument()) return Acad::eNoDatabase;
  return acdbOpenObject(table, blockTableId(), mode);
}

Acad::ErrorStatus AcDbDatabase::getSymbolTable(AcDbLayerTable*& table, AcDb::OpenMode mode) {
  table = nullptr;
  if (!impl_->HasDocument()) return Acad::eNoDatabase;
  return acdbOpenObject(table, layerTableId(), mode);
}

Acad::ErrorStatus AcDbDatabase::getAcDbObjectId(AcDbObjectId& id, bool /*create_if_not_found*/,
                                                const AcDbHandle& handle,
                                                Adesk::UInt32 /*reserved*/) {
  id.setNull();
  if (handle.isNull()) return Acad::eNullHandle;
  if (!impl_->HasDocument()) return Acad::eUnknownHandle;
  AcDbStub* stub = impl_->FindHandle(handle.value());
  if (stub == nullptr) return Acad::eUnknownHandle;
  id = AcDbObjectId(stub);
  return impl_->IsErased(stub) ? Acad::eWasErased : Acad::eOk;
}

// ---- Opening

Acad::ErrorStatus acdbOpenAcDbObject(AcDbObject*& object, AcDbObjectId id, AcDb::OpenMode mode,
                                     bool open_erased) {
  object = nullptr;
  if (id.isNull()) return Acad::eNullObjectId;
  return id.stub()->db->Open(id.stub(), object, mode, open_erased);
}

Acad::ErrorStatus acdbOpenAcDbEntity(AcDbEntity*& entity, AcDbObjectId id, AcDb::OpenMode mode,
                                     bool open_erased) {
  entity = nullptr;
  AcDbObject* object = nullptr;
  Acad::ErrorStatus es = acdbOpenAcDbObject(object, id, mode, open_erased);
  if (es != Acad::eOk) return es;
  entity = AcDbEntity::cast(object);
  if (entity == nullptr) {
    object->close();
    return Acad::eNotAnEntity;
  }
  return Acad::eOk;
}

Acad::ErrorStatus acdbGetObjectId(AcDbObjectId& id, AcDbDatabase* db, const AcDbHandle& handle) {
  id.setNull();
  if (db == nullptr) db = acdbHostApplicationServices()->workingDatabase();
  if (db == nullptr) return Acad::eNoDatabase;
  Acad::ErrorStatus es = db->getAcDbObjectId(id, false, handle);
  return es == Acad::eWasErased ? Acad::eOk : es;
}

Acad::ErrorStatus AcDbObjectIterator::getEntity(AcDbEntity*& entity, AcDb::OpenMode mode,
                                                bool open_erased) const {
  entity = nullptr;
  if (done()) return Acad::eInvalidIndex;
  return acdbOpenAcDbEntity(entity, objectId(), mode, open_erased);
}
