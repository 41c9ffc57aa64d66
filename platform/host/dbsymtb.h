// The block table and the layer table of a drawing, their records, and iterators over them.
//
// Stands in for ObjectARX's dbsymtb.h. The block table unites the BLOCK_RECORD table and the
// BLOCK ... ENDBLK definitions of the BLOCKS section (R12 drawings, which have no BLOCK_RECORD
// table, are read from their BLOCKS section alone); model space and the active paper space hold
// the entities of the ENTITIES section. Left out: creating, renaming and erasing records, the
// other symbol tables (linetypes, text styles, views ...), xref blocks' binding.
#pragma once

#include "platform/host/dbmain.h"

class AcDbSymbolTableRecord;
class AcDbBlockTableRecord;
class AcDbLayerTableRecord;
class AcDbBlockTableRecordIterator;

/// Steps through a table's records in file order; erased records are skipped. Delete when
/// done.
class AcDbSymbolTableIterator {
 public:
  explicit AcDbSymbolTableIterator(AcDbObjectIdArray ids) : it_(std::move(ids)) {}
  virtual ~AcDbSymbolTableIterator() = default;
  void start(bool at_beginning = true, bool skip_deleted = true);
  bool done() const { return it_.done(); }
  void step(bool forward = true, bool skip_deleted = true);
  Acad::ErrorStatus getRecordId(AcDbObjectId& id) const;
  /// Opens the current record; the caller closes it.
  Acad::ErrorStatus getRecord(AcDbSymbolTableRecord*& record, AcDb::OpenMode mode,
                              bool open_erased = false) const;

 private:
  AcDbObjectIterator it_;
};

class AcDbBlockTableIterator : public AcDbSymbolTableIterator {
 public:
  using AcDbSymbolTableIterator::AcDbSymbolTableIterator;
  using AcDbSymbolTableIterator::getRecord;
  Acad::ErrorStatus getRecord(AcDbBlockTableRecord*& record, AcDb::OpenMode mode,
                              bool open_erased = false) const;
};

class AcDbLayerTableIterator : public AcDbSymbolTableIterator {
 public:
  using AcDbSymbolTableIterator::AcDbSymbolTableIterator;
  using AcDbSymbolTableIterator::getRecord;
  Acad::ErrorStatus getRecord(AcDbLayerTableRecord*& record, AcDb::OpenMode mode,
                              bool open_erased = false) const;
};

/// A symbol table: records by name. Names compare case-insensitively (non-ASCII letters
/// folded too).
class AcDbSymbolTable : public AcDbObject {
 public:
  SW_ACRX_DECLARE_MEMBERS(AcDbSymbolTable)

  /// The record named `name`. eKeyNotFound when there is none (or it is erased); eInvalidInput
  /// for a null name.
  Acad::ErrorStatus getAt(const ACHAR* name, AcDbObjectId& id, bool get_erased = false) const;
  bool has(const ACHAR* name) const;
  bool has(AcDbObjectId id) const;
  /// The record ids in file order (erased ones left out).
  AcDbObjectIdArray recordIds() const;

  /// Made by the database only (the stub is internal).
  using AcDbObject::AcDbObject;

 protected:
};

class AcDbBlockTable : public AcDbSymbolTable {
 public:
  SW_ACRX_DECLARE_MEMBERS(AcDbBlockTable)
  using AcDbSymbolTable::getAt;
  /// Opens the record named `name` ("*Model_Space", "*Paper_Space" and anonymous names
  /// included).
  Acad::ErrorStatus getAt(const ACHAR* name, AcDbBlockTableRecord*& record, AcDb::OpenMode mode,
                          bool open_erased = false) const;
  /// A new iterator over the records; the caller deletes it.
  Acad::ErrorStatus newIterator(AcDbBlockTableIterator*& iterator, bool at_beginning = true,
                                bool skip_deleted = true) const;

  /// Made by the database only (the stub is internal).
  using AcDbSymbolTable::AcDbSymbolTable;

 protected:
  friend class AcDbDatabaseImpl;
};

class AcDbLayerTable : public AcDbSymbolTable {
 public:
  SW_ACRX_DECLARE_MEMBERS(AcDbLayerTable)
  using AcDbSymbolTable::getAt;
  Acad::ErrorStatus getAt(const ACHAR* name, AcDbLayerTableRecord*& record, AcDb::OpenMode mode,
                          bool open_erased = false) const;
  Acad::ErrorStatus newIterator(AcDbLayerTableIterator*& iterator, bool at_beginning = true,
                                bool skip_deleted = true) const;

  /// Made by the database only (the stub is internal).
  using AcDbSymbolTable::AcDbSymbolTable;

 protected:
  friend class AcDbDatabaseImpl;
};

/// A named record of a table.
class AcDbSymbolTableRecord : public AcDbObject {
 public:
  SW_ACRX_DECLARE_MEMBERS(AcDbSymbolTableRecord)

  /// The name; the caller frees it with acutDelBuffer.
  Acad::ErrorStatus getName(ACHAR*& name) const;
  Acad::ErrorStatus getName(AcString& name) const;
  /// The name, valid while the record stays open.
  Acad::ErrorStatus getName(const ACHAR*& name) const;

  /// Made by the database only (the stub is internal).
  using AcDbObject::AcDbObject;

 protected:
 private:
  mutable std::wstring name_cache_;
};

/// A block definition, model space or a layout's paper space.
class AcDbBlockTableRecord : public AcDbSymbolTableRecord {
 public:
  SW_ACRX_DECLARE_MEMBERS(AcDbBlockTableRecord)

  /// "*U12", "*D3", "*X" names, or BLOCK flag 1.
  bool isAnonymous() const;
  /// The block holds attribute definitions (ATTDEF entities; flag 2 is not trusted, files
  /// written by other programs leave it out).
  bool hasAttributeDefinitions() const;
  bool isLayout() const;
  bool isFromExternalReference() const;
  /// The base point (BLOCK group 10).
  AcGePoint3d origin() const;
  /// The LAYOUT object of model space and paper-space records (group 340); null otherwise.
  AcDbObjectId getLayoutId() const;
  /// The block's description (BLOCK group 4), empty when none.
  Acad::ErrorStatus comments(ACHAR*& text) const;
  /// The references to this block: every INSERT/MINSERT naming it, wherever it stands; with
  /// `direct_only` false also the references to blocks that contain a reference to it
  /// (nested, any depth). Erased references are left out.
  Acad::ErrorStatus getBlockReferenceIds(AcDbObjectIdArray& ids, bool direct_only = true,
                                         bool force_validity = false) const;
  /// A new iterator over the entities (file order); the caller deletes it.
  Acad::ErrorStatus newIterator(AcDbBlockTableRecordIterator*& iterator, bool at_beginning = true,
                                bool skip_deleted = true) const;

  /// Made by the database only (the stub is internal).
  using AcDbSymbolTableRecord::AcDbSymbolTableRecord;

 protected:
  friend class AcDbDatabaseImpl;
};

/// Steps through the entities of a block record; erased ones are skipped.
class AcDbBlockTableRecordIterator {
 public:
  explicit AcDbBlockTableRecordIterator(AcDbObjectIdArray ids) : it_(std::move(ids)) {}
  void start(bool at_beginning = true, bool skip_deleted = true);
  bool done() const { return it_.done(); }
  void step(bool forward = true, bool skip_deleted = true);
  Acad::ErrorStatus getEntityId(AcDbObjectId& id) const;
  /// Opens the current entity; the caller closes it.
  Acad::ErrorStatus getEntity(AcDbEntity*& entity, AcDb::OpenMode mode,
                              bool open_erased = false) const;

 private:
  AcDbObjectIterator it_;
};

/// A layer.
class AcDbLayerTableRecord : public AcDbSymbolTableRecord {
 public:
  SW_ACRX_DECLARE_MEMBERS(AcDbLayerTableRecord)

  /// Off: a negative colour number (group 62).
  bool isOff() const;
  /// Frozen: flag 1 of group 70.
  bool isFrozen() const;
  /// Locked: flag 4 of group 70.
  bool isLocked() const;
  /// The colour number (1-255; the sign of an off layer removed).
  Adesk::Int16 colorIndex() const;

  /// Made by the database only (the stub is internal).
  using AcDbSymbolTableRecord::AcDbSymbolTableRecord;

 protected:
  friend class AcDbDatabaseImpl;
};
