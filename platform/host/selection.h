// Selection sets and entity names: the user's choice of objects of the working drawing, and the
// conversions between entity names and object ids.
//
// Stands in for ObjectARX's acedSSGet family (acedads.h) and acdbGetObjectId/acdbGetAdsName
// (dbmain.h). A console has no view to pick in, so the interactive selection reads lines: ALL,
// a handle, LAYER name, BLOCK name, W x1,y1 x2,y2, L, P, R and A (see acedSSGet). Left out:
// crossing windows, fences, polygons, groups, Undo and Single selection, filter operators (-4)
// and groups other than 0, 2 and 8, and the :S/:E/:N mode modifiers.
//
// Threads: the host's main thread only.
//
//   resbuf filter{nullptr, 0, {}};
//   filter.resval.rstring = const_cast<ACHAR*>(L"INSERT");
//   ads_name ss;
//   if (acedSSGet(L"_X", nullptr, nullptr, &filter, ss) == RTNORM) {
//     Adesk::Int32 n = 0;
//     acedSSLength(ss, &n);
//     for (Adesk::Int32 i = 0; i < n; ++i) { ads_name ent; acedSSName(ss, i, ent); ... }
//     acedSSFree(ss);
//   }
#pragma once

#include <vector>

#include "platform/host/adscodes.h"
#include "platform/host/dbmain.h"

namespace sheetwise::host {

/// The pick-first set: what the user selected before the command started (acedSSGet "_I").
/// The host's core sets it; an empty vector clears it.
void SetPickFirst(std::vector<AcDbObjectId> ids);
/// Drops every selection set, the previous set and the pick-first set of `db`. The host's core
/// calls it before a database goes, so that no set keeps ids of a freed drawing (the names of
/// dropped sets then answer RTERROR).
void ForgetDatabase(const AcDbDatabase* db);

}  // namespace sheetwise::host

/// Selects entities of the working drawing: those of model space and of every paper space
/// (block references of any block, anonymous ones included, and other entities by their DXF
/// type). `mode` (case-insensitive, the leading "_" optional):
///   null   interactive: "Select objects: " is asked until an empty line; each line adds
///          ALL (every entity), a handle in hex, "LAYER name", "BLOCK name" (block references;
///          names with wildcards), "W x1,y1 x2,y2" (entities whose insertion point lies in the
///          window: INSERT, TEXT, MTEXT, ATTDEF, POINT, CIRCLE, ARC by group 10, LINE by both
///          ends), "L" (the last created entity: the highest handle), "P" (the previous
///          selection set); "R" switches to removing ("Remove objects: "), "A" back to adding.
///          Each line prints "N found" as the host does; an input it does not know prints
///          "*Invalid selection*" and the prompt repeats.
///   "X"    the whole drawing; "A" or "ALL": the same; "I": the pick-first set (RTERROR when
///          empty); "L": the last entity; "P": the previous set; "W": the window `pt1`, `pt2`
///          (each an ads_point).
/// `filter` (may be null) keeps only entities passing every entry: group 0 the DXF type
/// ("INSERT", "LINE,TEXT"), 2 the block name of a block reference, 8 the layer; values are
/// wcmatch patterns (* ? # @ . [..] ~ ` and commas), compared ignoring case. The entry's restype
/// is the group code and its value an RTSTR text.
/// Returns RTNORM and the new set in `ss` (free it with acedSSFree); RTCAN when the user
/// cancelled; RTERROR (no set) for no working drawing, an unknown mode, a filter with another
/// group or no text, nothing selected, or 128 sets already open. A set made here becomes the
/// previous set.
int acedSSGet(const ACHAR* mode, const void* pt1, const void* pt2, const resbuf* filter,
              ads_name ss);
/// The number of entities in `ss`. RTERROR for a name that is no open set or a null `len`.
int acedSSLength(const ads_name ss, Adesk::Int32* len);
/// The entity name of member `i` (from 0) of `ss`. RTERROR for an index out of range or a name
/// that is no open set.
int acedSSName(const ads_name ss, Adesk::Int32 i, ads_name entity);
/// Frees the set. RTERROR for a name that is no open set (freed already, say).
int acedSSFree(const ads_name ss);
/// Adds `entity` to `ss` (then `result` names the same set), or with `entity` null makes a new
/// empty set in `result`; with both null a new empty set. RTERROR for a name that is no open
/// set or an entity name that is not valid.
int acedSSAdd(const ads_name entity, const ads_name ss, ads_name result);
/// RTNORM when `entity` is a member of `ss`, RTERROR otherwise.
int acedSSMemb(const ads_name entity, const ads_name ss);

/// Matches `string` against the wildcard `pattern` as the host's wcmatch does, ignoring case:
/// * any run, ? one character, # a digit, @ a letter, . a character that is neither, [ab] [a-z]
/// [~ab] a set, ` escapes the next character, commas separate alternatives, ~ at the start of
/// an alternative negates it. RTNORM on a match, RTERROR otherwise or for a null argument.
int acutWcMatch(const ACHAR* string, const ACHAR* pattern);

/// The object id behind an entity name. The null name {0, 0} gives the null id. eInvalidInput
/// for a name that no acdbGetAdsName or acedSSName made.
Acad::ErrorStatus acdbGetObjectId(AcDbObjectId& id, const ads_name ent);
/// The entity name of `id` (the null id gives {0, 0}). Always eOk.
Acad::ErrorStatus acdbGetAdsName(ads_name& ent, AcDbObjectId id);
