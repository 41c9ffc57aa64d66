// Registry scripts: the class registration records of a COM class written as a script (the
// registrar format of .rgs files), run to register or unregister the class.
//
//   HKCR
//   {
//     Vanta.AppEventHandler = s 'AppEventHandler Class'
//     {
//       CLSID = s '{...}'
//     }
//     NoRemove CLSID
//     {
//       ForceRemove {...} = s 'AppEventHandler Class'
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//       }
//     }
//   }
//
// A key is a name (a bare word, or quoted with '...' where '' stands for a quote), optionally
// preceded by NoRemove (never removed by unregistration), ForceRemove (removed whole and
// written anew by registration, removed whole by unregistration) or Delete (removed by
// registration); `= s 'text'` sets its default value (REG_SZ), `= d 'number'` a REG_DWORD
// (decimal or 0x hexadecimal). Inside its braces come its subkeys and its named values
// (`val NAME = s 'text'`). Roots: HKCR, HKCU, HKLM, HKU and their long names. %NAME% is
// replaced by the value given for NAME; %% is a percent sign. Unregistration removes, innermost
// first, every key of the script that is not NoRemove and has no subkeys left, and the named
// values of the keys it keeps.
//
// Threads: any thread (the settings store is safe for concurrent use).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/win/wintypes.h"

/// A %NAME% replacement: name (without the percent signs) and text.
using RegistryReplacement = std::pair<std::wstring, std::wstring>;

/// Parses `script` whole, then writes (`do_register` true) or removes its records in the
/// settings store. A script that does not parse changes nothing and answers DISP_E_EXCEPTION
/// with `*error` (when not null) naming the line and what was expected and found, such as
/// "line 4: '=' or '{' expected, found 'x'"; an unknown %NAME% is such an error too. A store that
/// cannot be written answers HRESULT_FROM_WIN32 of its error, with `*error` naming the key; the
/// records written before stay. S_OK otherwise (records already absent at unregistration are
/// no failure).
HRESULT RunRegistryScript(std::wstring_view script, bool do_register,
                          const std::vector<RegistryReplacement>& replacements,
                          std::wstring* error = nullptr);
