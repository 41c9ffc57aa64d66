// CDlgMain: the Options dialog, a tabbed frame over the Export, Import and About pages that shows
// every field of the settings record and stores them with OK.
//
// The dialog reads the settings store when it opens and writes it only through OK; Cancel,
// Escape, closing it or the end of a script's input discard every change. Defaults and the
// settings-file button change the fields only. Run it with the resource library as the resource
// module (OptionsOperation does):
//
//   CDlgMain dlg(CWnd::FromHandle(adsw_acadMainWnd()), resources);
//   if (dlg.DoModal() == IDOK) ...   // the settings store holds the dialog's fields
//
// Main thread, as every dialog.
#pragma once

#include "platform/dialog/acui.h"
#include "settings/settings.h"
#include "ui/dlgabout.h"
#include "ui/dlgexport.h"
#include "ui/dlgimport.h"
#include "ui/menubutton.h"

class CDlgMain : public CAcUiTabMainDialog {
 public:
  static constexpr UINT kTemplateId = 1001;
  static constexpr int kTabControl = 1012;
  static constexpr int kSettingsFileButton = 3;
  static constexpr int kDefaultsButton = 4;
  static constexpr UINT kSettingsFileMenu = 1006;
  static constexpr UINT kLoadCommand = 32771;
  static constexpr UINT kSaveCommand = 32772;

  /// `resources`: the module of the templates (null: the current resource module at DoModal).
  explicit CDlgMain(CWnd* parent = nullptr, HINSTANCE resources = nullptr);

  /// Title, the stored settings into the pages' fields, the three tabs; removes the title bar's
  /// help button. TRUE.
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  /// Collects and validates both pages (a failure keeps the dialog open on the page at fault),
  /// shows the coordinate notice when X, Y and Z differ and the Export page is shown, saves the
  /// settings (a failed save is not reported) and closes with IDOK.
  void OnOK() override;

  /// Every setting into the pages' fields (bools as 1 or 0); the controls are not touched.
  void FieldsFromSettings(const sheetwise::SettingsInfo& settings);
  /// The pages' fields as a settings record: a check box field is true when not 0, integers as
  /// they are.
  sheetwise::SettingsInfo SettingsFromFields() const;

 protected:
  /// F1: the application's help; handled.
  BOOL OnHelpInfo(HELPINFO* info) override;

 private:
  /// Button 4: after the user agrees, every field but IncludeConstant and ExportAttPrompts
  /// back to its default, shown at once; nothing is stored until OK.
  void OnDefaults();
  /// Button 3: its menu saves the fields to a settings file or loads them from one.
  void OnSettingsFile();
  void SaveToFile();
  void LoadFromFile();

  CAdUiTab m_tab;                   // 1012
  CNvMenuButton m_btnSettingsFile;  // 3
  CDlgExport m_dlgExport;           // tab 0
  CDlgImport m_dlgImport;           // tab 1
  CDlgAbout m_dlgAbout;             // tab 2
};
