// Test helper: the user's INI settings go to a private temporary folder while it lives, so
// a test starts without a settings file and never touches the real one.
#pragma once

#include <QSettings>
#include <QString>

#include <string>

#include "foundation/runtime/product_info.h"
#include "testing/temp_dir.h"

namespace kxtest {

class TempSettingsLocation {
 public:
  TempSettingsLocation() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(dir_.path()));
  }
  // The file the accessors read and write.
  std::string File() const {
    return dir_.File(ProductInfo::GetCompanyInfo().company_name + "/" +
                     ProductInfo::GetProductName() + ".ini");
  }

 private:
  TempDir dir_;
};

}  // namespace kxtest
