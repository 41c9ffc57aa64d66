// The product information shown in the About tab and the Options dialog's title: defaults
// compiled in, replaced line by line from Product.txt beside the library.
//
// Product.txt holds up to nine lines in this order: product name, product title, menu group
// name, web address, company name, company legal name, year, version, product id. A line of more
// than two characters replaces its field (without its line ends); a shorter one keeps the
// default. The file is read on the first call of a getter; while it cannot be opened the
// defaults are used and the next call tries again.
//
// Threads: the host's main thread.
#pragma once

#include <string>

std::wstring ProductName();
std::wstring ProductTitle();
std::wstring MenuGroupName();
std::wstring WebAddress();
std::wstring CompanyName();
std::wstring CompanyLegalName();
std::wstring YearText();
std::wstring VersionText();
std::wstring ProductId();

/// Forgets what was read, so that the next getter reads Product.txt again (tests).
void ResetProductInfo();
