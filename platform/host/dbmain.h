// The drawing database of the CAD host: a drawing loaded from a DXF file, its objects opened by
// id for reading or writing, and saved back so that only the edited objects' bytes change.
//
// Stands in for ObjectARX's dbmain.h (AcDbDatabase, AcDbObject, AcDbEntity, acdbOpenObject and
// its relatives) and rxobject.h (AcRxClass, cast, isKindOf). The database is a view over the DXF
// tag store of platform/dxf: objects read and write their tags in place, there is no separate
// in-memory copy. Left out: DWG, undo and transactions, reactors, deep cloning, object
// notification (kForNotify opens like kForRead), proxy objects, xrefs.
//
// Threads: a database and its objects belong to the thread that loaded it (the host's main
// thread); no call may come from another thread.
//
//   AcDbDatabase db(false, true);
//   if (db.dxfIn(L"site.dxf") != Acad::eOk) report(db.lastErrorText());
//   AcDbObjectId id;
//   db.getAcDbObjectId(id, false, AcDbHandle(L"2D2"));
//   AcDbBlockReference* ref = nullptr;
//   if (acdbOpenObject(ref, id, AcDb::kForWrite) == Acad::eOk) {
//     ref->setRotation(0.5);
//     ref->close();
//   }
//   db.saveAs(L"site.dxf");   // the old file is kept as site.bak
#pragma once

#include <memory>
#include <string>

#include "platform/host/acdbcore.h"
#include "platform/host/acgegeometry.h"

class AcDbObject;
class AcDbEntity;
class AcDbBlockTable;
class AcDbLayerTable;
class AcDbDatabaseImpl;

/// Run-time class information: the class name and its parent, for isKindOf and cast.
class AcRxClass {
 public:
  AcRxClass(const ACHAR* name, const AcRxClass* parent) : name_(name), parent_(parent) {}
  const ACHAR* name() const { return name_; }
  const AcRxClass* myParent() const { return parent_; }
  bool isDerivedFrom(const AcRxClass* other) const;

 private:
  const ACHAR* name_;
  const AcRxClass* parent_;
};

/// Declares desc(), isA() and cast() of a database class.
#define SW_ACRX_DECLARE_MEMBERS(CLASS)                 \
  static const AcRxClass* desc();                      \
  const AcRxClass* isA() const override;               \
  static CLASS* cast(AcDbObject* object) {             \
    return dynamic_cast<CLASS*>(object);               \
  }                                                    \
  static const CLASS* cast(const AcDbObject* object) { \
    return dynamic_cast<const CLASS*>(object);         \
  }

/// An object of the drawing: a table, table record, entity or non-graphical object, opened from
/// its id. The database owns it: the caller never deletes an opened object but closes it.
/// Getters need the object open (any mode); setters need kForWrite and otherwise return
/// eNotOpenForWrite without changing anything.
class AcDbObject {
 public:
  /// Made by the database only (the stub is internal; inherited constructors keep this
  /// access).
  explicit AcDbObject(AcDbStub* stub);
  AcDbObject(const AcDbObject&) = delete;
  AcDbObject& operator=(const AcDbObject&) = delete;
  virtual ~AcDbObject();

  static const AcRxClass* desc();
  virtual const AcRxClass* isA() const;
  bool isKindOf(const AcRxClass* cls) const { return isA()->isDerivedFrom(cls); }
  static AcDbObject* cast(AcDbObject* object) { return object; }

  /// The object's id; null for an object that is not in a database yet (made with new).
  AcDbObjectId objectId() const;
  /// The owner: the block record for an entity, the block reference for an attribute, the
  /// table for a record (null where the file names none).
  AcDbObjectId ownerId() const;
  AcDbHandle handle() const;
  void getAcDbHandle(AcDbHandle& handle) const { handle = this->handle(); }
  /// The database holding the object; null for one not in a database yet.
  AcDbDatabase* database() const;
  /// The object's DXF type name ("INSERT", "BLOCK_RECORD" ...).
  const ACHAR* dxfName() const;
  /// The extension dictionary's id (group 360 in the {ACAD_XDICTIONARY group), or null.
  AcDbObjectId extensionDictionary() const;

  bool isErased() const;
  bool isReadEnabled() const { return mode_ != AcDb::kNotOpen; }
  bool isWriteEnabled() const { return mode_ == AcDb::kForWrite; }
  bool isNotifyEnabled() const { return mode_ == AcDb::kForNotify; }
  /// Ends this open. An object opened for read several times stays open until the last close.
  /// eInvalidOpenState when not open.
  Acad::ErrorStatus close();
  /// Erases (or with false un-erases) the object; needs kForWrite. Erased objects are left
  /// out when the drawing is saved and can no longer be opened (eWasErased). The tag store
  /// removes records for good, so un-erasing answers eNotApplicable; erasing a table, block
  /// record or layer is refused the same way.
  Acad::ErrorStatus erase(bool erasing = true);
  /// From kForRead to kForWrite: eWasOpenForRead when others still read it.
  Acad::ErrorStatus upgradeOpen();
  Acad::ErrorStatus downgradeOpen();

 protected:
  Acad::ErrorStatus assertWriteEnabled() const {
    return isWriteEnabled() ? Acad::eOk : Acad::eNotOpenForWrite;
  }
  AcDbStub* stub() const { return stub_; }

 private:
  friend class AcDbDatabaseImpl;
  AcDbStub* stub_;
  AcDb::OpenMode mode_ = AcDb::kNotOpen;
  int open_count_ = 0;
  /// An object made with new, not yet in a database: the small drawing of its own that holds
  /// its tags until it is appended (null once it is in a database).
  std::unique_ptr<AcDbDatabaseImpl> detached_;
};

/// A graphical object: it has a layer and belongs to a block record.
class AcDbEntity : public AcDbObject {
 public:
  SW_ACRX_DECLARE_MEMBERS(AcDbEntity)

  /// The block record the entity belongs to (model space, a layout's paper space or a block).
  AcDbObjectId blockId() const;
  /// The layer name (group 8; "0" when the file leaves it out). The caller frees the result
  /// with acutDelBuffer.
  ACHAR* layer() const;
  AcDbObjectId layerId() const;
  /// Moves the entity to layer `name` (case-insensitive, stored with the layer's own
  /// spelling). eKeyNotFound for a layer the drawing lacks: no layer is created.
  Acad::ErrorStatus setLayer(const ACHAR* name);
  Acad::ErrorStatus setLayer(AcDbObjectId layer_id);

  /// Made by the database only (the stub is internal).
  using AcDbObject::AcDbObject;

 protected:
};

/// Steps through a set of objects: the entities of a block record, the attributes of a block
/// reference. Erased objects are skipped. Delete it when done.
class AcDbObjectIterator {
 public:
  explicit AcDbObjectIterator(AcDbObjectIdArray ids) : ids_(std::move(ids)) { skipErased(); }
  void start() {
    pos_ = 0;
    skipErased();
  }
  bool done() const { return pos_ >= ids_.length(); }
  void step() {
    ++pos_;
    skipErased();
  }
  AcDbObjectId objectId() const { return done() ? AcDbObjectId() : ids_[pos_]; }
  /// Opens the current entity (the caller closes it).
  Acad::ErrorStatus getEntity(AcDbEntity*& entity, AcDb::OpenMode mode,
                              bool open_erased = false) const;

 private:
  void skipErased() {
    while (pos_ < ids_.length() && ids_[pos_].isErased()) ++pos_;
  }
  AcDbObjectIdArray ids_;
  int pos_ = 0;
};

/// One drawing. Constructed empty, then filled from a DXF file with dxfIn, or as a new drawing
/// (a minimal R12 drawing with model space, paper space and layer "0", which every CAD
/// program opens).
class AcDbDatabase {
 public:
  /// `build_default_drawing`: start with a new empty drawing. Otherwise the database is empty
  /// until dxfIn fills it (and every call answers as for a drawing without objects).
  explicit AcDbDatabase(bool build_default_drawing = true, bool no_document = false);
  AcDbDatabase(const AcDbDatabase&) = delete;
  AcDbDatabase& operator=(const AcDbDatabase&) = delete;
  ~AcDbDatabase();

  /// Loads the DXF file (ASCII or binary, R12-2018), replacing the contents. eFileNotFound,
  /// eFileAccessErr, eBadDxfSequence (malformed file) or eInvalidInput (not DXF: a DWG is
  /// refused with a message saying to save it as DXF); the message naming file and position is
  /// in lastErrorText and, when `log_file` is given, written there. On failure the database
  /// keeps what it held.
  Acad::ErrorStatus dxfIn(const ACHAR* file_name, const ACHAR* log_file = nullptr);
  /// Writes the drawing to `file_name` atomically (a temporary file renamed over the old one,
  /// which is kept as NAME.bak). Objects that were not edited are written byte for byte as
  /// read; erased ones are left out; $HANDSEED is updated; objects still open are saved as
  /// they are. eFileAccessErr (with lastErrorText) when the file cannot be written; the old
  /// file is then untouched.
  Acad::ErrorStatus saveAs(const ACHAR* file_name);
  Acad::ErrorStatus dxfOut(const ACHAR* file_name) { return saveAs(file_name); }
  /// The file the drawing was loaded from or last saved to (empty for a new drawing).
  Acad::ErrorStatus getFilename(const ACHAR*& file_name) const;
  /// The message of the last failed dxfIn or saveAs ("site.dxf:1204: group code 10
  /// expected, found 20"); empty after success.
  const std::wstring& lastErrorText() const;
  /// True when an object has been changed (or created, erased) since loading or saving.
  bool isModified() const;

  // Header variables the unit conversions use. Values from the file's HEADER section, or the
  // defaults of a new drawing where it has none: LUNITS 2, LUPREC 4, AUNITS 0, AUPREC 0,
  // DIMZIN 0, UNITMODE 0, ANGBASE 0, ANGDIR 0.
  Adesk::Int16 lunits() const;
  Adesk::Int16 luprec() const;
  Adesk::Int16 aunits() const;
  Adesk::Int16 auprec() const;
  Adesk::UInt8 dimzin() const;
  Adesk::Int16 unitmode() const;
  /// ANGBASE in radians and ANGDIR (0 counterclockwise, 1 clockwise).
  double angbase() const;
  bool angdir() const;
  /// Setters change the variable in memory and in the HEADER section written by saveAs.
  /// eInvalidInput for values out of the host's range (LUNITS 1-5, LUPREC 0-8, AUNITS 0-4,
  /// AUPREC 0-8, DIMZIN 0-15, UNITMODE 0-1).
  Acad::ErrorStatus setLunits(Adesk::Int16 value);
  Acad::ErrorStatus setLuprec(Adesk::Int16 value);
  Acad::ErrorStatus setAunits(Adesk::Int16 value);
  Acad::ErrorStatus setAuprec(Adesk::Int16 value);
  Acad::ErrorStatus setDimzin(Adesk::UInt8 value);
  Acad::ErrorStatus setUnitmode(Adesk::Int16 value);
  /// $HANDSEED: the next handle a new object gets.
  AcDbHandle handseed() const;
  /// The drawing format's $ACADVER ("AC1032").
  const ACHAR* acadVersion() const;
  /// TILEMODE: 1 when model space is the current space.
  bool tilemode() const;
  /// The record of the current layer (CLAYER).
  AcDbObjectId clayer() const;

  /// Opens the block table or the layer table. The caller closes it.
  Acad::ErrorStatus getSymbolTable(AcDbBlockTable*& table, AcDb::OpenMode mode);
  Acad::ErrorStatus getBlockTable(AcDbBlockTable*& table, AcDb::OpenMode mode) {
    return getSymbolTable(table, mode);
  }
  Acad::ErrorStatus getSymbolTable(AcDbLayerTable*& table, AcDb::OpenMode mode);
  Acad::ErrorStatus getLayerTable(AcDbLayerTable*& table, AcDb::OpenMode mode) {
    return getSymbolTable(table, mode);
  }
  AcDbObjectId blockTableId() const;
  AcDbObjectId layerTableId() const;
  /// The root dictionary (named objects), null in R12 drawings.
  AcDbObjectId namedObjectsDictionaryId() const;

  /// The id of the object with `handle`. eNullHandle for the null handle, eUnknownHandle when
  /// no object has it (`create_if_not_found` reserves nothing: the database creates objects
  /// only through its own calls), eWasErased (with `id` set) when it has been erased.
  Acad::ErrorStatus getAcDbObjectId(AcDbObjectId& id, bool create_if_not_found,
                                    const AcDbHandle& handle, Adesk::UInt32 reserved = 0);

  AcDbDatabaseImpl& impl() { return *impl_; }
  const AcDbDatabaseImpl& impl() const { return *impl_; }

 private:
  std::unique_ptr<AcDbDatabaseImpl> impl_;
};

/// Opens the object `id` names. eNullObjectId, eWasErased (unless `open_erased`),
/// eWasOpenForWrite (already open for write, by anyone), eWasOpenForRead (kForWrite while open
/// for read), eNotAnEntity (acdbOpenAcDbEntity on a non-entity); `object` is null on failure.
Acad::ErrorStatus acdbOpenAcDbObject(AcDbObject*& object, AcDbObjectId id, AcDb::OpenMode mode,
                                     bool open_erased = false);
Acad::ErrorStatus acdbOpenAcDbEntity(AcDbEntity*& entity, AcDbObjectId id, AcDb::OpenMode mode,
                                     bool open_erased = false);
/// Opens `id` as a T: eNotThatKindOfClass (nothing left open) when the object is of another
/// class.
template <typename T>
Acad::ErrorStatus acdbOpenObject(T*& object, AcDbObjectId id, AcDb::OpenMode mode,
                                 bool open_erased = false) {
  object = nullptr;
  AcDbObject* opened = nullptr;
  Acad::ErrorStatus es = acdbOpenAcDbObject(opened, id, mode, open_erased);
  if (es != Acad::eOk) return es;
  object = T::cast(opened);
  if (object == nullptr) {
    opened->close();
    return Acad::eNotThatKindOfClass;
  }
  return Acad::eOk;
}
/// The id of the object with `handle` in `db` (a null database: the working one).
/// eNullHandle, eUnknownHandle, eNoDatabase.
Acad::ErrorStatus acdbGetObjectId(AcDbObjectId& id, AcDbDatabase* db, const AcDbHandle& handle);
