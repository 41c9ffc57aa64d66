// Operations whose work comes with the export, import, options and live-link parts of the
// application: until each part lands, its keyword is accepted and ends without effect.
#include "cmd/operations.h"

bool ImportOperation() {
  return false;
}
bool ConnectOperation() {
  return false;
}
bool DisconnectOperation() {
  return false;
}
bool Import2Operation() {
  return false;
}
