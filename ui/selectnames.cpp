#include "ui/selectnames.h"

#include "app/nvarxapp.h"
#include "platform/dialog/afxwin.h"
#include "platform/host/docman.h"
#include "platform/host/menus.h"
#include "ui/dlgselnames.h"

namespace {

// The resource library is the host's current resource module, and the module the dialogs load
// their templates and menus from, while this object lives.
class ResourceScope {
 public:
  ResourceScope() : previous_(AfxGetResourceHandle()) {
    CNvArxApp* app = NvGetCurrentApp();
    const HINSTANCE resources = app != nullptr ? app->m_hResource : nullptr;
    acDocManagerPtr()->pushResourceHandle(resources);
    AfxSetResourceHandle(resources);
  }
  ~ResourceScope() {
    AfxSetResourceHandle(previous_);
    acDocManagerPtr()->popResourceHandle();
  }
  ResourceScope(const ResourceScope&) = delete;
  ResourceScope& operator=(const ResourceScope&) = delete;

 private:
  HINSTANCE previous_;
};

}  // namespace

bool SelectBlockNames(const BlockNameMap& map, std::vector<std::wstring>& names) {
  ResourceScope resources;
  CDlgSelNames dialog(CWnd::FromHandle(adsw_acadMainWnd()), &map);
  if (dialog.DoModal() != IDOK) return false;
  names.insert(names.end(), dialog.ChosenNames().begin(), dialog.ChosenNames().end());
  return true;
}
