// Operations whose work comes with the export, import, options and live-link parts of the
// application: until each part lands, its keyword is accepted and ends without effect.
#include "cmd/operations.h"

bool ExportOperation() {
  return false;
}
bool Export2Operation() {
  return false;
}
bool SelectionExportOperation() {
  return false;
}
bool ImportOperation() {
  return false;
}
bool Import2Operation() {
  return false;
}
