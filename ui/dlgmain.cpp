#include "ui/dlgmain.h"

#include <string>

#include "app/product.h"
#include "app/resstring.h"
#include "app/vantaapp.h"
#include "platform/dialog/afxdlgs.h"
#include "res/resource_ids.h"
#include "settings/settings_file.h"

namespace {

int32_t Flag(bool value) {
  return value ? 1 : 0;
}

}  // namespace

CDlgMain::CDlgMain(CWnd* parent, HINSTANCE resources)
    : CAcUiTabMainDialog(kTemplateId, parent, resources) {
  MapCommand(kDefaultsButton, [this] { OnDefaults(); });
  MapCommand(kSettingsFileButton, [this] { OnSettingsFile(); });
}

void CDlgMain::DoDataExchange(CDataExchange* dx) {
  CAcUiTabMainDialog::DoDataExchange(dx);
  DDX_Control(dx, kTabControl, m_tab);
  DDX_Control(dx, kSettingsFileButton, m_btnSettingsFile);
}

BOOL CDlgMain::OnInitDialog() {
  CAcUiTabMainDialog::OnInitDialog();
  SetWindowText(ProductTitle().c_str());
  SetAcadTabPointer(&m_tab);
  sheetwise::SettingsInfo settings;
  sheetwise::LoadSettings(settings);
  FieldsFromSettings(settings);
  AddTab(0, g_resString.Load(res::kTabExport).c_str(), CDlgExport::kTemplateId, &m_dlgExport);
  AddTab(1, g_resString.Load(res::kTabImport).c_str(), CDlgImport::kTemplateId, &m_dlgImport);
  AddTab(2, g_resString.Load(res::kTabAbout).c_str(), CDlgAbout::kTemplateId, &m_dlgAbout);
  ModifyStyleEx(WS_EX_CONTEXTHELP, 0);
  return TRUE;
}

void CDlgMain::FieldsFromSettings(const sheetwise::SettingsInfo& s) {
  CDlgExport& e = m_dlgExport;
  e.Rotation = Flag(s.Rotation);
  e.XCoord = Flag(s.XCoord);
  e.YCoord = Flag(s.YCoord);
  e.ZCoord = Flag(s.ZCoord);
  e.Scale = Flag(s.Scale);
  e.LayerNames = Flag(s.LayerNames);
  e.WorksheetSettings = s.WorksheetSettings;
  e.WorkbookSettings = s.WorkbookSettings;
  e.StartRow = s.StartRow;
  e.AddHeader = Flag(s.AddHeader);
  e.AutoConnect = Flag(s.AutoConnect);
  e.IncludeConstant = Flag(s.IncludeConstant);
  e.BlockNames = Flag(s.BlockNames);
  e.Sort = Flag(s.Sort);
  e.LayoutNames = Flag(s.LayoutNames);
  e.OddLine = Flag(s.OddLine);
  e.JTSK = Flag(s.JTSK);
  e.NoAutofit = Flag(s.NoAutofit);
  e.AsText = Flag(s.AsText);
  e.FindNextBlankLine = Flag(s.FindNextBlankLine);
  e.ExportAttPrompts = Flag(s.ExportAttPrompts);
  e.Selection = Flag(s.Selection);
  e.TimeStamp = Flag(s.TimeStamp);
  CDlgImport& i = m_dlgImport;
  i.ImportSettings = s.Import.ImportSettings;
  i.IgnoreProps = Flag(s.Import.IgnoreProps);
  i.StartCol = s.Import.StartCol;
  i.StartRow = s.Import.StartRow;
}

sheetwise::SettingsInfo CDlgMain::SettingsFromFields() const {
  const CDlgExport& e = m_dlgExport;
  sheetwise::SettingsInfo s;
  s.Rotation = e.Rotation != 0;
  s.XCoord = e.XCoord != 0;
  s.YCoord = e.YCoord != 0;
  s.ZCoord = e.ZCoord != 0;
  s.Scale = e.Scale != 0;
  s.LayerNames = e.LayerNames != 0;
  s.WorksheetSettings = e.WorksheetSettings;
  s.WorkbookSettings = e.WorkbookSettings;
  s.StartRow = e.StartRow;
  s.AddHeader = e.AddHeader != 0;
  s.AutoConnect = e.AutoConnect != 0;
  s.IncludeConstant = e.IncludeConstant != 0;
  s.BlockNames = e.BlockNames != 0;
  s.Sort = e.Sort != 0;
  s.LayoutNames = e.LayoutNames != 0;
  s.OddLine = e.OddLine != 0;
  s.JTSK = e.JTSK != 0;
  s.NoAutofit = e.NoAutofit != 0;
  s.AsText = e.AsText != 0;
  s.FindNextBlankLine = e.FindNextBlankLine != 0;
  s.ExportAttPrompts = e.ExportAttPrompts != 0;
  s.Selection = e.Selection != 0;
  s.TimeStamp = e.TimeStamp != 0;
  const CDlgImport& i = m_dlgImport;
  s.Import.ImportSettings = i.ImportSettings;
  s.Import.IgnoreProps = i.IgnoreProps != 0;
  s.Import.StartCol = i.StartCol;
  s.Import.StartRow = i.StartRow;
  return s;
}

void CDlgMain::OnOK() {
  if (!m_dlgExport.ValidateData()) return;
  if (!m_dlgImport.ValidateData()) return;
  const CDlgExport& e = m_dlgExport;
  // Rows without all three coordinates cannot move their blocks on import: worth a word while
  // the user is looking at those check boxes, never a reason to refuse.
  const bool coordinates_differ = !(e.XCoord == e.YCoord && e.YCoord == e.ZCoord);
  if (coordinates_differ && m_tab.GetActiveTab() == 0) {
    const std::wstring text = g_resString.Load(res::kCoordinatesNotice);
    const std::wstring caption = g_resString.Load(res::kCoordinatesCaption);
    MessageBox(text.c_str(), caption.c_str(), MB_ICONINFORMATION);
  }
  // A store that cannot be written is the store's problem to report; the dialog still closes.
  sheetwise::SaveSettings(SettingsFromFields());
  CAcUiTabMainDialog::OnOK();
}

void CDlgMain::OnDefaults() {
  const std::wstring question = g_resString.Load(res::kDefaultsQuestion);
  const std::wstring title = ProductTitle();
  if (MessageBox(question.c_str(), title.c_str(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) !=
      IDYES) {
    return;
  }
  // The defaults of the record, except the two options that decide which attributes a
  // workbook holds: those stay as the user chose them.
  CDlgExport& e = m_dlgExport;
  const int32_t include_constant = e.IncludeConstant;
  const int32_t export_att_prompts = e.ExportAttPrompts;
  sheetwise::SettingsInfo defaults;
  sheetwise::SetDefaults(defaults);
  FieldsFromSettings(defaults);
  e.IncludeConstant = include_constant;
  e.ExportAttPrompts = export_att_prompts;
  m_dlgExport.UpdateData(FALSE);
  m_dlgImport.UpdateData(FALSE);
  m_dlgExport.SetWorksheetControls(false, false);
}

void CDlgMain::OnSettingsFile() {
  const UINT command = m_btnSettingsFile.ShowMenu(kSettingsFileMenu);
  if (command == kSaveCommand) {
    SaveToFile();
  } else if (command == kLoadCommand) {
    LoadFromFile();
  }
}

void CDlgMain::SaveToFile() {
  const std::wstring extension = g_resString.Load(res::kSettingsFileExtension);
  const std::wstring name = g_resString.Load(res::kSettingsFileName);
  const std::wstring filter = g_resString.Load(res::kSettingsFileFilter);
  CFileDialog dlg(FALSE, extension.c_str(), name.c_str(), OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                  filter.c_str(), this);
  // What the controls show is what goes to the file; a field that does not validate keeps the
  // value it had, as the user has just been told.
  m_dlgExport.ValidateData();
  m_dlgImport.ValidateData();
  if (dlg.DoModal() != IDOK) return;
  // Written key by key with the profile functions, the file replaced only when all are in;
  // a file that cannot be written is left as it was, without a word, as the dialog has it.
  sheetwise::SaveSettingsFile(SettingsFromFields(), dlg.GetPathName());
}

void CDlgMain::LoadFromFile() {
  const std::wstring extension = g_resString.Load(res::kSettingsFileExtension);
  const std::wstring name = g_resString.Load(res::kSettingsFileName);
  const std::wstring filter = g_resString.Load(res::kSettingsFileFilter);
  CFileDialog dlg(TRUE, extension.c_str(), name.c_str(), OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                  filter.c_str(), this);
  if (dlg.DoModal() != IDOK) return;
  // Missing or empty keys keep their field; other values are taken as _wtoi reads them and are
  // checked only at OK. A file that cannot be read changes nothing.
  sheetwise::SettingsInfo settings = SettingsFromFields();
  if (!sheetwise::LoadSettingsFile(settings, dlg.GetPathName())) return;
  FieldsFromSettings(settings);
  m_dlgExport.UpdateData(FALSE);
  m_dlgImport.UpdateData(FALSE);
  m_dlgExport.SetWorksheetControls(m_dlgExport.WorksheetSettings != 0,
                                   m_dlgExport.FindNextBlankLine != 0);
}

BOOL CDlgMain::OnHelpInfo(HELPINFO* /*info*/) {
  if (CVantaApp* app = GetVantaApp()) app->ShowHelp();
  return TRUE;
}
