// Block references, attributes and attribute definitions, and single-line text, as the
// drawing database offers them.
//
// Stands in for ObjectARX's dbents.h (AcDbText, AcDbBlockReference, AcDbMInsertBlock) and
// dbattr.h / dbattdef.h (AcDbAttribute, AcDbAttributeDefinition). Values are read from and
// written to the entity's DXF tags (INSERT, MINSERT, ATTRIB, ATTDEF, TEXT); a tag the file left
// out reads as its DXF default and is added when set. Multi-line attributes (R2018 ATTRIB and
// ATTDEF with an embedded MTEXT, group 101 "Embedded Object") read and write their full text.
// Left out: creating references, text geometry (extents), fields, annotative scaling, MTEXT
// formatting codes (kept as written).
#pragma once

#include "platform/host/dbmain.h"

class AcDbAttribute;
class AcDbAttributeDefinition;

/// Single-line text: the common part of TEXT, ATTRIB and ATTDEF.
class AcDbText : public AcDbEntity {
 public:
  SW_ACRX_DECLARE_MEMBERS(AcDbText)

  /// The insertion point (group 10) in world coordinates.
  AcGePoint3d position() const;
  Acad::ErrorStatus setPosition(const AcGePoint3d& point);
  /// The alignment point (group 11); the insertion point when the file has none.
  AcGePoint3d alignmentPoint() const;
  Acad::ErrorStatus setAlignmentPoint(const AcGePoint3d& point);
  /// True when the justification is left/baseline (10 is the point that counts).
  bool isDefaultAlignment() const;
  /// Rotation in radians (group 50 holds degrees).
  double rotation() const;
  Acad::ErrorStatus setRotation(double radians);
  double height() const;
  Acad::ErrorStatus setHeight(double height);
  /// Width factor (group 41, default 1).
  double widthFactor() const;
  Acad::ErrorStatus setWidthFactor(double factor);
  /// Oblique angle in radians (group 51 holds degrees).
  double oblique() const;
  Acad::ErrorStatus setOblique(double radians);
  /// The text style's name (group 7, default "Standard"); caller frees with acutDelBuffer.
  ACHAR* textStyleName() const;
  Acad::ErrorStatus setTextStyleName(const ACHAR* name);
  AcDb::TextHorzMode horizontalMode() const;
  Acad::ErrorStatus setHorizontalMode(AcDb::TextHorzMode mode);
  AcDb::TextVertMode verticalMode() const;
  Acad::ErrorStatus setVerticalMode(AcDb::TextVertMode mode);
  /// Text generation flags (group 71): 2 backward (mirrored in X), 4 upside down.
  bool isMirroredInX() const;
  Acad::ErrorStatus mirrorInX(bool mirrored);
  bool isMirroredInY() const;
  Acad::ErrorStatus mirrorInY(bool mirrored);
  /// The extrusion direction (group 210, default +Z).
  AcGeVector3d normal() const;
  Acad::ErrorStatus setNormal(const AcGeVector3d& normal);
  /// The text (group 1); the caller frees it with acutDelBuffer.
  ACHAR* textString() const;
  Acad::ErrorStatus textString(AcString& text) const;
  /// Sets the text. eInvalidInput for a line break in a single-line text, or a character the
  /// file cannot hold.
  Acad::ErrorStatus setTextString(const ACHAR* text);

  /// Made by the database only (the stub is internal).
  using AcDbEntity::AcDbEntity;

 protected:
  /// Whether group 74 (ATTRIB, ATTDEF) or 73 (TEXT) holds the vertical mode.
  virtual int verticalModeCode() const { return 73; }
};

/// An attribute definition (ATTDEF) in a block definition.
class AcDbAttributeDefinition : public AcDbText {
 public:
  SW_ACRX_DECLARE_MEMBERS(AcDbAttributeDefinition)

  /// The tag (group 2), caller frees with acutDelBuffer.
  ACHAR* tag() const;
  Acad::ErrorStatus setTag(const ACHAR* tag);
  /// The prompt (group 3), caller frees with acutDelBuffer.
  ACHAR* prompt() const;
  Acad::ErrorStatus setPrompt(const ACHAR* prompt);
  /// Flags of group 70: 1 invisible, 2 constant, 4 verify, 8 preset.
  bool isInvisible() const;
  bool isConstant() const;
  bool isVerifiable() const;
  bool isPreset() const;
  Acad::ErrorStatus setConstant(bool constant);
  Acad::ErrorStatus setInvisible(bool invisible);
  /// Field length (group 73), 0 when the file leaves it out.
  Adesk::UInt16 fieldLength() const;
  Acad::ErrorStatus setFieldLength(Adesk::UInt16 length);
  /// A multi-line definition (R2018 with an embedded MTEXT).
  bool isMTextAttributeDefinition() const;

  /// Made by the database only (the stub is internal).
  using AcDbText::AcDbText;

 protected:
  int verticalModeCode() const override { return 74; }
};

/// An attribute (ATTRIB) of a block reference.
class AcDbAttribute : public AcDbText {
 public:
  SW_ACRX_DECLARE_MEMBERS(AcDbAttribute)

  ACHAR* tag() const;
  Acad::ErrorStatus setTag(const ACHAR* tag);
  bool isInvisible() const;
  bool isConstant() const;
  bool isVerifiable() const;
  bool isPreset() const;
  Acad::ErrorStatus setInvisible(bool invisible);
  Adesk::UInt16 fieldLength() const;
  Acad::ErrorStatus setFieldLength(Adesk::UInt16 length);
  /// A multi-line attribute (R2018 with an embedded MTEXT): textString answers the MTEXT's
  /// full text (groups 3 and 1 joined) and setTextString writes it there, keeping the group 1
  /// of the attribute itself in step.
  bool isMTextAttribute() const;
  /// Places the attribute as the host does when inserting a block: takes the definition's tag,
  /// flags, field length, text, style, height, width factor, oblique angle, justification,
  /// layer and (for a multi-line definition) its embedded text, then transforms it by
  /// `block_transform` (the reference's blockTransform): the insertion and alignment points
  /// are transformed, the height is scaled by the transform's scale across the text, the width
  /// factor by the ratio of its scale along and across it, the rotation turned with it; a
  /// mirroring transform mirrors the text (generation flag 2, backward, with its up direction
  /// kept). eNullObjectPointer for a null definition, eNotOpenForWrite.
  Acad::ErrorStatus setAttributeFromBlock(const AcDbAttributeDefinition* definition,
                                          const AcGeMatrix3d& block_transform);

  /// A new attribute, not in a database yet: tag empty, text empty, at the origin, height
  /// 2.5, layer "0", style "Standard". It is open for write to its maker, who sets it up
  /// (setAttributeFromBlock) and appends it to a reference (AcDbBlockReference::
  /// appendAttribute), then closes it; one that is never appended is deleted by its maker.
  /// Until appended, objectId() and database() are null and setLayer takes any name.
  AcDbAttribute();
  /// Made by the database only (the stub is internal).
  using AcDbText::AcDbText;

 protected:
  int verticalModeCode() const override { return 74; }
};

/// A block reference (INSERT); a MINSERT reads as one reference (its array is in
/// AcDbMInsertBlock).
class AcDbBlockReference : public AcDbEntity {
 public:
  SW_ACRX_DECLARE_MEMBERS(AcDbBlockReference)

  /// The block record the reference names (group 2); null when the drawing lacks it.
  AcDbObjectId blockTableRecord() const;
  /// The insertion point in world coordinates (group 10 is in the object coordinate system of
  /// group 210).
  AcGePoint3d position() const;
  Acad::ErrorStatus setPosition(const AcGePoint3d& point);
  /// Rotation in radians about the extrusion direction (group 50 holds degrees).
  double rotation() const;
  Acad::ErrorStatus setRotation(double radians);
  /// Scale factors (groups 41, 42, 43; default 1). Zero factors are refused (eInvalidInput).
  AcGeScale3d scaleFactors() const;
  Acad::ErrorStatus setScaleFactors(const AcGeScale3d& scale);
  AcGeVector3d normal() const;
  /// The transform from the block's coordinates to world coordinates: translation to the
  /// position, the extrusion's plane, rotation, scaling, and the block's base point to the
  /// origin.
  AcGeMatrix3d blockTransform() const;
  /// A new iterator over the attributes (ATTRIB entities following the reference); the caller
  /// deletes it.
  AcDbObjectIterator* attributeIterator() const;
  /// Opens attribute `id` of this reference; the caller closes it.
  Acad::ErrorStatus openAttribute(AcDbAttribute*& attribute, AcDbObjectId id, AcDb::OpenMode mode,
                                  bool open_erased = false);
  /// Adds `attribute` (made with new AcDbAttribute) to this reference, which must be open for
  /// write: an ATTRIB record after the reference's last attribute (or right after it), written
  /// as the drawing's version writes it (subclass markers and owner from R13, no handle in an
  /// R12 drawing without $HANDLING), with a new handle from $HANDSEED; the reference's
  /// "attributes follow" flag (66) is set and a SEQEND added when it had none. The database
  /// then owns the attribute, which stays open for write: the caller closes it, never deletes
  /// it. `id` is its id at once. A multi-line attribute stays multi-line only in R2018
  /// drawings. eNullObjectPointer, eAlreadyInDb, eNotOpenForWrite, eInvalidInput (empty tag),
  /// eKeyNotFound (its layer is not in this drawing); on failure the drawing is unchanged and
  /// the caller still owns the attribute.
  Acad::ErrorStatus appendAttribute(AcDbObjectId& id, AcDbAttribute* attribute);

  /// Made by the database only (the stub is internal).
  using AcDbEntity::AcDbEntity;

 protected:
};

/// A MINSERT: a block reference repeated in rows and columns.
class AcDbMInsertBlock : public AcDbBlockReference {
 public:
  SW_ACRX_DECLARE_MEMBERS(AcDbMInsertBlock)
  Adesk::UInt16 columns() const;
  Adesk::UInt16 rows() const;
  double columnSpacing() const;
  double rowSpacing() const;

  /// Made by the database only (the stub is internal).
  using AcDbBlockReference::AcDbBlockReference;

 protected:
};
