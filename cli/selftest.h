// The self-check of `sheetwise selftest`: runs each part Sheetwise stands on once, for real, and
// prints one line per check.
#pragma once

#include <cstdio>

/// Runs every check, printing "ok   NAME: detail" or "FAIL NAME: why" to `out`; with `drawing`
/// (a DXF path, or null) also loads that drawing, counts its block references and attributes and
/// saves a byte-identical copy to a temporary folder. Returns true when all passed. Main thread
/// only; starts and ends its own threads.
bool RunSelfTest(std::FILE* out, const char* drawing);
