// Operations whose work comes with the live link: until it lands, its keywords are accepted and
// end without effect.
#include "cmd/operations.h"

bool ConnectOperation() { return false; }
bool DisconnectOperation() { return false; }
bool Import2Operation() { return false; }
