// `sheetwise settings show | load FILE.ini | save FILE.ini | reset`: the user's settings store
// from the command line, through the settings files the Options dialog reads and writes.
#pragma once

#include <cstdio>

namespace sheetwise::cli {

/// The usage line of the settings command.
inline constexpr const char* kSettingsUsage =
    "usage: sheetwise settings show | load FILE.ini | save FILE.ini | reset\n";

/// Runs the settings command on `args` (the arguments after "settings"):
/// - show: every setting as the program will use it, as a settings file (both sections, every
///   key in the file's order), so that it can be redirected into one; a damaged store fails;
/// - load FILE: the file's values over the stored settings, then saved to the store; a key the
///   file lacks or leaves empty keeps its stored value; what will not load as written (unknown
///   key, value that is not a number ...) is warned about on `err` with the file and line, and
///   loaded by the settings file's rule all the same;
/// - save FILE: the stored settings into FILE, replaced in one step; an existing file keeps its
///   comments and other sections; a damaged store fails and leaves FILE alone;
/// - reset: the defaults written to the store (every value, so the file shows them; an old
///   "Coords" value stays and no longer counts).
/// Messages for the user go to `out`, errors and warnings to `err`. Returns the exit status: 0
/// done, 1 failed (a file that cannot be read or written, a store that cannot be read or
/// written; the file and the store are left as they were, but for the values a failing store
/// write got through before it failed), 2 bad usage (with the usage line). Main thread.
int RunSettingsCommand(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace sheetwise::cli
