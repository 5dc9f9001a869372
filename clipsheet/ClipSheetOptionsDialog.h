#pragma once
// The "Cliplist Options" dialog (template 144): edits the clip sheet's nine
// settings; the caller's settings change only when it ends with OK.

#include "app/MessageDialog.h"
#include "clipsheet/ClipSheetSettings.h"
#include "resources/TemplateDialog.h"

namespace qv {

class ClipSheetOptionsDialog : public TemplateDialog {
    Q_OBJECT
  public:
    // settings must outlive the dialog.
    ClipSheetOptionsDialog(ClipSheetSettings& settings, QWidget* parent);

    // The validation messages; tests answer them through its hook.
    MessageDialog& Messages() { return messages_; }

  public slots:
    // OK (and Enter): closes only when every value passes.
    void accept() override;

  private:
    // Takes the controls' values over in the checking order; false, with the
    // message shown and the focus on the failing control, at the first bad one.
    bool TakeValues();
    bool TakeInt(int id, IntRange range, int32_t& field);
    void Refuse(int id, const std::string& message);

    ClipSheetSettings& settings_;
    ClipSheetSettings copy_;
    MessageDialog messages_;
};

}  // namespace qv
