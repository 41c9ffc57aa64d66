// CDlgAbout: the About page of the Options dialog: the product, its maker and version, and links
// to the maker's web site and the product's page.
//
// Main thread, as every dialog.
#pragma once

#include <string>

#include "platform/dialog/acui.h"
#include "ui/hyperlink.h"

class CDlgAbout : public CAcUiTabChildDialog {
 public:
  /// The page's template in the resource library.
  static constexpr UINT kTemplateId = 1003;

  explicit CDlgAbout(CWnd* parent = nullptr, HINSTANCE resources = nullptr);

  /// Fills the texts from the product information (app/product.h): 1028 the product title and
  /// the maker's legal line, 1022 the version; link 1018 the web address, link 1020 the
  /// product's page below it ("WEB/PRODUCT"), each showing its own target.
  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;

  /// The maker's legal line shown under the product title: the year and the company's legal
  /// name.
  static std::wstring LegalLine();

  CHyperLink m_linkWeb;      // 1018
  CHyperLink m_linkProduct;  // 1020
};
