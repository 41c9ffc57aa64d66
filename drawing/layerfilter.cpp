#include "drawing/layerfilter.h"

std::vector<std::wstring> LayerFilterNames;
bool LayerFilterOn = false;
