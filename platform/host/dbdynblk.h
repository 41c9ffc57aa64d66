// Dynamic blocks: the block record a user defined with parameters, and the anonymous *U
// records the host made for references whose parameters were changed.
//
// Stands in for ObjectARX's dbdynblk.h (AcDbDynBlockTableRecord, AcDbDynBlockReference). Found
// from the drawing's own data: a dynamic block record has an ACAD_ENHANCEDBLOCK entry in its
// extension dictionary; a *U record made from it carries XDATA "AcDbBlockRepBTag" whose handle
// (1005) points at it; a reference to a *U record may carry an extension dictionary entry
// "AcDbBlockRepresentation" whose data (AcDbRepData, group 340) points at it too. Left out:
// the block's parameters and properties (getBlockProperties), updating anonymous blocks.
#pragma once

#include "platform/host/dbents.h"

/// Wraps a block record id; no object stays open.
class AcDbDynBlockTableRecord {
 public:
  explicit AcDbDynBlockTableRecord(AcDbObjectId block_record_id) : id_(block_record_id) {}

  /// The record defines a dynamic block (ACAD_ENHANCEDBLOCK entry, or a *U record points at
  /// it).
  bool isDynamicBlock() const;
  static bool isDynamicBlock(AcDbObjectId block_record_id);
  AcDbObjectId blockTableRecordId() const { return id_; }
  /// The anonymous records made from this dynamic block (file order, erased left out).
  /// eNotApplicable when the record is not a dynamic block.
  Acad::ErrorStatus getAnonymousBlockIds(AcDbObjectIdArray& ids) const;

 private:
  AcDbObjectId id_;
};

/// Wraps a block reference id.
class AcDbDynBlockReference {
 public:
  explicit AcDbDynBlockReference(AcDbObjectId block_reference_id) : id_(block_reference_id) {}

  /// The reference is to a dynamic block (directly, or through one of its *U records).
  bool isDynamicBlock() const;
  static bool isDynamicBlock(AcDbObjectId block_reference_id);
  /// The dynamic block's record: for a reference to a *U record, the record it was made
  /// from; otherwise the record the reference names.
  AcDbObjectId dynamicBlockTableRecord() const;
  /// The record the reference names (*U or not).
  AcDbObjectId anonymousBlockTableRecord() const;

 private:
  AcDbObjectId id_;
};
