// The drawing side of the import: objects named by their handle text get attribute texts, a
// layer, a new position, rotation or scale, with the attributes of a moved block reference
// placed again from their block definition.
//
//   if (!SetAttributesByTag(L"2D2", {L"NUMBER", L"MAKER"}, {L"P-100", L"ACME"}))
//     ...;  // a tag the reference lacks, or a handle that names no block reference
//   SetBlockRotation(L"2D2", std::numbers::pi / 2);  // attributes turn with the reference
//
// Every operation opens what it needs and closes it before it returns (FindAttributeDefinition
// alone hands an open definition to its caller); host error statuses are never shown, they
// make the operation answer false. All of it runs on the host's main thread, inside a command,
// against the host's working drawing.
#pragma once

#include <string>
#include <vector>

#include "platform/host/dbents.h"

/// Opens the entity of the working drawing whose handle is `handle` (hexadecimal text as the
/// export writes it; blanks around it allowed) in `mode`; erased entities are not opened.
/// False, with `entity` null, without a working drawing, for text that is no handle (empty
/// included), a handle that names nothing, an erased object, an object that is no entity (a
/// table record), or one the host cannot open in that mode (already open for write). On true
/// the caller owns the open entity and closes it.
bool OpenEntityByHandle(const std::wstring& handle, AcDb::OpenMode mode, AcDbEntity*& entity);

/// Writes values[i] into every attribute of block reference `handle` whose tag equals tags[i]
/// (letter case ignored, non-ASCII letters folded too), setting the attribute's field length
/// to the value's character count. Tags are compared in order for each attribute without early
/// exit: of two equal tags the later value stands; attributes sharing a tag all take it, each
/// counting as a match (so one value for two such attributes answers false). True
/// when the number of (attribute, tag) matches written equals the number of values: an empty
/// list succeeds; a tag the reference lacks fails, though every other tag was written. False
/// as well when the counts differ (nothing is written), the handle names no block reference, or
/// a value cannot be stored (a line break in a single-line attribute: that attribute keeps its
/// text and field length).
bool SetAttributesByTag(const std::wstring& handle, const std::vector<std::wstring>& tags,
                        const std::vector<std::wstring>& values);

/// Moves entity `handle` (of any type) to layer `layer`, named in any letter case. False for a
/// layer the drawing lacks (no layer is created, the entity keeps its layer) and for a handle
/// that names no entity. Attributes of a block reference keep their own layers.
bool SetEntityLayer(const std::wstring& handle, const std::wstring& layer);

/// Sets the insertion point (world coordinates) of block reference `handle`, then places its
/// attributes again (RefitAttributes). False when the handle names no block reference; when
/// the point is refused, nothing changes; otherwise the refit's result.
bool SetBlockPosition(const std::wstring& handle, const AcGePoint3d& position);
/// Sets the rotation (radians) of block reference `handle`, then RefitAttributes. A value that
/// is not finite is refused and changes nothing. Results as SetBlockPosition.
bool SetBlockRotation(const std::wstring& handle, double rotation);
/// Sets the scale factors of block reference `handle`, then RefitAttributes; negative factors
/// mirror it (its attributes become backward text). A zero or non-finite factor is refused and
/// changes nothing. Results as SetBlockPosition.
bool SetBlockScale(const std::wstring& handle, const AcGeScale3d& scale);

/// Places every attribute of `ref` (open in any mode; the caller keeps it open) again from its
/// block definition, as the host does on insertion with the reference's block transform
/// (mirrored references included), keeping each attribute's text; the field length becomes the
/// text's character count plus one. An attribute whose tag the definition no longer has, or that
/// cannot be opened for write, is left as it is. False for a null or closed reference, and when
/// the host refuses a step for some attribute (the others are still placed, and every
/// attribute keeps its text).
bool RefitAttributes(AcDbBlockReference* ref);

/// Finds the attribute definition of `ref`'s block whose tag equals `att`'s tag (letter case
/// ignored; the first one in the block's order, erased ones skipped) and opens it in `mode`:
/// on true `def` is open and the caller closes it; on false `def` is null. A null `ref` or `att`
/// is a programming error: a stop message box titled "Assertion failed" names the module, line
/// and condition, and the answer is false. Also false when the block definition cannot be
/// opened or holds no such definition.
bool FindAttributeDefinition(AcDbBlockReference* ref, AcDbAttribute* att,
                             AcDbAttributeDefinition*& def, AcDb::OpenMode mode);
