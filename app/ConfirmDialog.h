#pragma once
// The overwrite question: "Yes" (6), "Yes for all" (8) or "Abort" (7); Escape and
// the close box end it with 2.

#include <string>

#include "resources/TemplateDialog.h"

namespace qv {

class ConfirmDialog : public TemplateDialog {
    Q_OBJECT
public:
    static constexpr int kYes = 6;
    static constexpr int kYesForAll = 8;
    static constexpr int kAbort = 7;
    static constexpr int kCancel = 2;

    ConfirmDialog(const std::string& text, QWidget* parent);

    void reject() override { done(kCancel); }
};

}  // namespace qv
