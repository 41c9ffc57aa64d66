// The self-check of `sheetwise selftest`: runs each part Sheetwise stands on once, for real, and
// prints one line per check.
#pragma once

#include <cstdio>

/// Runs every check, printing "ok   NAME: detail" or "FAIL NAME: why" to `out`. Returns true
/// when all passed. Main thread only; starts and ends its own threads.
bool RunSelfTest(std::FILE* out);
