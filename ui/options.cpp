// The Options keyword of VANTA: the Options dialog over the settings store.
#include "app/vantaapp.h"
#include "cmd/operations.h"
#include "platform/host/docman.h"
#include "platform/host/menus.h"
#include "ui/dlgmain.h"

namespace {

// The resource library is the host's current resource module while the dialog runs, on every
// way out.
class ResourceScope {
 public:
  explicit ResourceScope(HINSTANCE module) { acDocManagerPtr()->pushResourceHandle(module); }
  ~ResourceScope() { acDocManagerPtr()->popResourceHandle(); }
  ResourceScope(const ResourceScope&) = delete;
  ResourceScope& operator=(const ResourceScope&) = delete;
};

}  // namespace

bool OptionsOperation() {
  CVantaApp* app = GetVantaApp();
  ResourceScope resources(app != nullptr ? app->m_hResource : nullptr);
  // The dialog engine loads the templates from the module given here, the host's current one.
  CDlgMain dlg(CWnd::FromHandle(adsw_acadMainWnd()), acDocManagerPtr()->CurrentResourceHandle());
  return dlg.DoModal() == IDOK;
}
