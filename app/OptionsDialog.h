#pragma once
// The options dialog (template 146): edits a copy of the four options and
// writes it back into the caller's settings only when it ends with OK.

#include <string>
#include <vector>

#include "app/Settings.h"
#include "resources/TemplateDialog.h"

namespace qv {

class OptionsDialog : public TemplateDialog {
    Q_OBJECT
  public:
    // settings must outlive the dialog; it changes only on OK.
    OptionsDialog(Settings& settings, QWidget* parent);

    // The sensitivity entries in index order (the index is the stored value).
    static const std::vector<std::string>& SensitivityTexts();

  private:
    void TakeValues();

    Settings& settings_;
    Settings copy_;
    // Parallel to the codec list's entries: the driver name each one stores.
    std::vector<std::string> codecNames_;
};

}  // namespace qv
