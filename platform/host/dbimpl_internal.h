// The database's index over the DXF tag store: one stub per object, the block records with
// their entities, the layers; and the tag helpers the object classes share.
#pragma once

#include <deque>
#include <initializer_list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/dxf/document.h"
#include "platform/host/dbmain.h"

namespace dxf = sheetwise::dxf;

enum class StubKind { kObject, kBlockTable, kLayerTable, kBlockRecord, kLayer, kEntity };

/// One object of the database. Lives as long as the database; ids point at it.
class AcDbStub {
 public:
  AcDbDatabaseImpl* db = nullptr;
  StubKind kind = StubKind::kObject;
  /// The record holding the object's tags (BLOCK_RECORD, or BLOCK in R12); kNoRecord for a
  /// table the file lacks (R12 block table).
  dxf::RecordId record = dxf::kNoRecord;
  AcDbHandle handle;
  AcDbStub* owner = nullptr;
  /// Block records: index into AcDbDatabaseImpl::blocks.
  int block = -1;
  /// INSERT: its ATTRIB stubs; POLYLINE: nothing (vertices are not objects here).
  std::vector<AcDbStub*> children;
  /// INSERT/POLYLINE: the SEQEND record closing its followers.
  dxf::RecordId seqend = dxf::kNoRecord;
  /// Made on first open, kept until the database goes.
  std::unique_ptr<AcDbObject> object;
  /// The object was made with new and is not in a database yet: `db` is its own small drawing,
  /// owned by the object.
  bool detached = false;
};

struct BlockInfo {
  AcDbStub* stub = nullptr;
  dxf::RecordId block_begin = dxf::kNoRecord;  ///< BLOCK
  dxf::RecordId block_end = dxf::kNoRecord;    ///< ENDBLK
  std::wstring name;
  std::vector<AcDbStub*> entities;
};

class AcDbDatabaseImpl {
 public:
  explicit AcDbDatabaseImpl(AcDbDatabase* owner) : owner_(owner) {}

  /// Replaces the document and rebuilds the index.
  void Adopt(std::unique_ptr<dxf::DxfDocument> doc);
  bool HasDocument() const { return doc_ != nullptr; }
  dxf::DxfDocument& doc() { return *doc_; }
  const dxf::DxfDocument& doc() const { return *doc_; }
  dxf::Entity Get(const AcDbStub* stub) const { return doc_->Get(stub->record); }
  AcDbDatabase* owner() const { return owner_; }

  AcDbStub* FindHandle(Adesk::UInt64 handle) const;
  AcDbStub* FindRecord(dxf::RecordId id) const;
  bool IsErased(const AcDbStub* stub) const;
  /// Opens the stub's object (see acdbOpenAcDbObject).
  Acad::ErrorStatus Open(AcDbStub* stub, AcDbObject*& object, AcDb::OpenMode mode,
                         bool open_erased);
  /// A stub for a record added after loading (an appended attribute, its SEQEND).
  AcDbStub* AddStub(StubKind kind, dxf::RecordId record, AcDbStub* owner);
  /// Makes `object` (made with new) the object of `stub`, open for write as the caller had it;
  /// the object's own small drawing is released.
  void AdoptObject(AcDbObject* object, AcDbStub* stub);
  /// A drawing of its own for an object made with new: `dxf` is a small drawing whose ENTITIES
  /// section holds the object's record with its defaults. The returned stub is marked detached;
  /// the object that takes it owns `stub->db`. Null when `dxf` does not parse.
  static AcDbStub* NewDetached(std::string dxf);
  /// The live INSERTs naming block `name` (letter case ignored), in drawing order. The index
  /// behind it is built on first use and again after any change to the drawing, so that asking
  /// for every block's references does not scan the drawing once per block.
  const std::vector<AcDbStub*>& InsertsNamed(std::wstring_view name);
  /// The stub behind an object (for code outside the object's own class).
  static AcDbStub* StubOf(const AcDbObject* object) { return object->stub_; }

  AcDbStub* block_table = nullptr;
  AcDbStub* layer_table = nullptr;
  std::vector<BlockInfo> blocks;
  std::vector<AcDbStub*> layers;
  AcDbStub* model_space = nullptr;
  AcDbStub* paper_space = nullptr;
  AcDbStub* root_dictionary = nullptr;

  std::wstring file_name;
  std::wstring last_error;
  std::wstring version = L"AC1024";

  // Header values (cached; setters write through to the HEADER section).
  Adesk::Int16 lunits = 2, luprec = 4, aunits = 0, auprec = 0, unitmode = 0;
  Adesk::UInt8 dimzin = 0;
  double angbase = 0;
  bool angdir = false;
  bool tilemode = true;
  std::wstring clayer = L"0";
  bool header_modified = false;

 private:
  AcDbStub* NewStub(StubKind kind, dxf::RecordId record);
  void IndexTables();
  void IndexBlocks();
  void IndexEntities();
  void IndexRest();
  void ReadHeader();
  /// Adds the entities of [first, end) to block `block`, grouping INSERT/POLYLINE followers.
  void AddEntities(dxf::RecordRange range, int block, bool entities_section);
  int FindBlock(std::wstring_view name) const;

  AcDbDatabase* owner_;
  std::unique_ptr<dxf::DxfDocument> doc_;
  std::deque<AcDbStub> stubs_;
  std::unordered_map<Adesk::UInt64, AcDbStub*> by_handle_;
  std::vector<AcDbStub*> by_record_;
  std::unordered_map<std::wstring, std::vector<AcDbStub*>> inserts_by_name_;
  bool inserts_indexed_ = false;
  std::uint64_t inserts_edits_ = 0;
  std::size_t inserts_stubs_ = 0;
};

namespace dbtags {

/// The end of the object's own tags: the first 101 (embedded object) or 1001 (XDATA) tag.
std::size_t OwnEnd(const dxf::Entity& e);
/// The first `code` among the object's own tags (outside 102 groups), or kNoTag.
std::size_t FindOwn(const dxf::Entity& e, int code);
double Real(const dxf::Entity& e, int code, double fallback);
std::int64_t Integer(const dxf::Entity& e, int code, std::int64_t fallback);
std::wstring Text(const dxf::Entity& e, int code, std::wstring_view fallback);
AcGePoint3d Point(const dxf::Entity& e, int code, const AcGePoint3d& fallback);
/// Sets `code` to `value`, or inserts it after the last present tag of `predecessors` (the
/// codes that come before it in the record); false when the store refuses the value.
bool SetOrInsert(dxf::DxfDocument& doc, dxf::RecordId id, const dxf::NewTag& value,
                 std::initializer_list<int> predecessors);
bool SetPoint(dxf::DxfDocument& doc, dxf::RecordId id, int code, const AcGePoint3d& p,
              std::initializer_list<int> predecessors);
/// Removes the object's own `code` tag when present.
bool Remove(dxf::DxfDocument& doc, dxf::RecordId id, int code);

}  // namespace dbtags

/// The database of `stub` (for the object classes).
inline AcDbDatabaseImpl& ImplOf(const AcDbStub* stub) {
  return *stub->db;
}

/// Defines desc() and isA() of a database class.
#define SW_ACRX_DEFINE_MEMBERS(CLASS, PARENT)                  \
  const AcRxClass* CLASS::desc() {                             \
    static const AcRxClass kClass(L## #CLASS, PARENT::desc()); \
    return &kClass;                                            \
  }                                                            \
  const AcRxClass* CLASS::isA() const {                        \
    return desc();                                             \
  }
