// VARIANT lifetime and conversion: VariantInit, VariantClear, VariantCopy, VariantCopyInd and
// VariantChangeType with the platform's coercion rules.
//
// Stands in for the VARIANT functions of oleaut32 (<oleauto.h>). Left out: SAFEARRAY contents
// (VT_ARRAY values are refused with DISP_E_BADVARTYPE), VT_DECIMAL and VT_RECORD conversions,
// and locale-specific text: numbers are written and read with the decimal point and dates in the
// English (United States) short form, whatever the locale argument says.
//
// Every function may be called from any thread; a VARIANT itself is not guarded, so one VARIANT
// is used by one thread at a time.
#pragma once

#include "platform/com/comtypes.h"

/// VariantChangeType flags.
inline constexpr USHORT VARIANT_NOVALUEPROP = 0x01;  ///< no default-value call on VT_DISPATCH
inline constexpr USHORT VARIANT_ALPHABOOL = 0x02;    ///< VT_BOOL to text as "True"/"False"
inline constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
inline constexpr USHORT VARIANT_CALENDAR_HIJRI = 0x08;
inline constexpr USHORT VARIANT_LOCALBOOL = 0x10;  ///< VT_BOOL to text in the locale's words
inline constexpr USHORT VARIANT_CALENDAR_THAI = 0x20;
inline constexpr USHORT VARIANT_CALENDAR_GREGORIAN = 0x40;
inline constexpr USHORT VARIANT_USE_NLS = 0x80;

/// Var*From* flags (a subset: the ones that change what this runtime does).
inline constexpr ULONG VAR_TIMEVALUEONLY = 0x01;  ///< date to text: the time only
inline constexpr ULONG VAR_DATEVALUEONLY = 0x02;  ///< date to text: the date only
inline constexpr ULONG VAR_LOCALBOOL = 0x10;      ///< bool to text: "True"/"False"

/// The earliest and latest DATE values (1 January 100 and 31 December 9999, 23:59:59).
inline constexpr DATE kDateMin = -657434.0;
inline constexpr DATE kDateMax = 2958465.99998843;

/// Makes `v` VT_EMPTY without looking at what it held.
void VariantInit(VARIANT* v);

/// Frees what `v` owns (a BSTR; one reference of an interface) and makes it VT_EMPTY. A VT_BYREF
/// value is not freed: the caller owns what it points to. Returns DISP_E_BADVARTYPE, leaving `v`
/// untouched, when its type is not a valid VARIANT type; E_INVALIDARG for null.
HRESULT VariantClear(VARIANT* v);

/// Deep copy: clears `dest` first, duplicates a BSTR, adds a reference to an interface; a
/// VT_BYREF value is copied as the pointer. `dest == src` does nothing. DISP_E_BADVARTYPE for a
/// bad source type (dest untouched), E_OUTOFMEMORY when the BSTR copy fails (dest VT_EMPTY).
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);

/// As VariantCopy, but a VT_BYREF source is dereferenced: `dest` receives a copy of the value it
/// points to (VT_VARIANT | VT_BYREF: of the VARIANT it points to, which must not itself be
/// VT_VARIANT | VT_BYREF: E_INVALIDARG). `dest == src` is allowed.
HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src);

/// Converts `src` to type `vt` into `dest` (which is cleared first, and may be `src` itself)
/// with the platform's rules: numbers round half to even into integers, out-of-range values give
/// DISP_E_OVERFLOW, text that is not a number or date gives DISP_E_TYPEMISMATCH, VT_EMPTY is 0,
/// "" or false, VT_NULL converts to nothing but VT_NULL, VT_DISPATCH converts through its
/// default value (DISPID_VALUE property get) unless `flags` has VARIANT_NOVALUEPROP. On failure
/// `dest` is left as it was.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);

/// VariantChangeType with a locale. The locale is accepted and ignored: text always uses the
/// decimal point and the English (United States) date form and words.
HRESULT VariantChangeTypeEx(VARIANT* dest, const VARIANT* src, LCID lcid, USHORT flags, VARTYPE vt);

// ---- Single conversions, as VariantChangeType does them ----------------------------------------

/// Text to double: blanks around, sign (leading, trailing or parentheses), thousands
/// separators, decimal point, exponent, "&H" hex and "&O" octal. DISP_E_TYPEMISMATCH for text
/// that is not a number, DISP_E_OVERFLOW beyond the double range.
HRESULT VarR8FromStr(const OLECHAR* text, LCID lcid, ULONG flags, DOUBLE* out);

/// A double as text with up to 15 significant digits ("0.1", "1.5", "1E+20").
HRESULT VarBstrFromR8(DOUBLE value, LCID lcid, ULONG flags, BSTR* out);

/// A double rounded half to even into a LONG; DISP_E_OVERFLOW when out of range.
HRESULT VarI4FromR8(DOUBLE value, LONG* out);

/// A double rounded half to even into a SHORT; DISP_E_OVERFLOW when out of range.
HRESULT VarI2FromR8(DOUBLE value, SHORT* out);

/// Text to DATE: "2026-12-05", "12/5/2026", "Dec 5, 2026", "5 December 2026", each optionally
/// followed by a time "13:30", "1:30:00 PM"; a time alone gives that time on day 0
/// (1899-12-30). A day and month without a year take the current year. DISP_E_TYPEMISMATCH for
/// anything else.
HRESULT VarDateFromStr(const OLECHAR* text, LCID lcid, ULONG flags, DATE* out);

/// A DATE as the short date and time ("12/5/2026 1:30:00 PM"): the date alone when there is no
/// time of day, the time alone on day 0. E_INVALIDARG outside kDateMin..kDateMax (as the
/// platform's, whose VariantTimeToSystemTime fails there).
HRESULT VarBstrFromDate(DATE value, LCID lcid, ULONG flags, BSTR* out);
