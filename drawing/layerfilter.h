// The export's layer filter: the layers the user chose in the filter dialog, and whether the
// filter is on (it can be on with no layer chosen: then no reference passes). Both keep their
// values from one command to the next until the filter dialog is confirmed again.
//
// Threads: the host's main thread.
#pragma once

#include <string>
#include <vector>

extern std::vector<std::wstring> LayerFilterNames;
extern bool LayerFilterOn;
