// The attributes of one block reference as the worksheet writer needs them: tag, prompt,
// value and constant flag of every attribute definition of its block, in definition order.
//
//   AttInfoArray atts;
//   if (CollectAttributes(ref, atts))            // ref: an AcDbBlockReference open for read
//     for (const AttInfo& a : atts) ...          // one entry per ATTDEF of the block
//
// Threads: the host's main thread only.
#pragma once

#include <string>
#include <vector>

class AcDbBlockReference;

/// One attribute of one block reference.
struct AttInfo {
  std::wstring tag;     ///< the tag of the attribute definition
  std::wstring prompt;  ///< the prompt of the attribute definition
  /// The text of the reference's attribute with this tag; the definition's default text where
  /// the reference has none (always so for a constant attribute).
  std::wstring value;
  bool isConstant = false;  ///< the attribute definition is constant
};

using AttInfoArray = std::vector<AttInfo>;

/// Appends to `list` one entry per attribute definition (ATTDEF) of the block that
/// `blockReference` (open for read) names, in the block definition's order, constant ones
/// included, each with the definition's default text as value. Then the reference's own
/// attributes, in their order, fill in the values: the k-th attribute that can be opened
/// (from 0) takes part only while k is below the number of definitions (a reference that
/// carries more attributes than its block now defines leaves the extra ones out), and sets the
/// value of every entry whose tag equals its tag ignoring case (non-ASCII letters folded), so
/// that duplicate tags all take it and the last such attribute wins. Erased attributes and
/// entities that cannot be opened are skipped; attributes whose tag no definition has are not
/// listed. Entries already in `list` are left alone.
/// Returns true when the block definition was walked (the list may have gained nothing);
/// false, with `list` unchanged, for a null reference or when the block record or its entity
/// iterator cannot be opened. Every object opened here is closed before it returns. Main
/// thread.
bool CollectAttributes(const AcDbBlockReference* blockReference, AttInfoArray& list);

/// While one lives, CollectAttributes reads the attribute definitions of each block once and
/// reuses them for the block's other references: for loops over many references of a drawing
/// whose block definitions do not change meanwhile (an export). Main thread; one inside another
/// changes nothing.
class AttributeDefinitionsReuse {
 public:
  AttributeDefinitionsReuse();
  ~AttributeDefinitionsReuse();
  AttributeDefinitionsReuse(const AttributeDefinitionsReuse&) = delete;
  AttributeDefinitionsReuse& operator=(const AttributeDefinitionsReuse&) = delete;

 private:
  bool outermost_;
};
