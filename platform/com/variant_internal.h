// Helpers shared by variant.cpp and varconv.cpp.
#pragma once

#include <cstddef>

#include "platform/com/comtypes.h"

namespace sw::com {

/// Whether `vt` names a type a VARIANT may hold here: the base types VT_EMPTY..VT_DECIMAL and
/// VT_I1..VT_UINT, optionally VT_BYREF (but not of VT_EMPTY or VT_NULL). VT_ARRAY is refused:
/// this runtime has no SAFEARRAY support.
bool IsValidVariantType(VARTYPE vt);

/// The bytes a scalar of base type `base` takes in the VARIANT union, which is also what a
/// VT_BYREF pointer to it points to; 0 for types that have no such value (strings, interfaces,
/// VARIANT, DECIMAL ...).
std::size_t VariantScalarSize(VARTYPE base);

}  // namespace sw::com
