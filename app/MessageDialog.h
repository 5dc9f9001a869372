#pragma once
// The questions of the window's model, asked with message boxes and the Confirm
// dialog.

#include <functional>
#include <string>

#include "platform/Questions.h"

class QWidget;

namespace qv {

class MessageDialog : public Questions {
public:
    // The caption a message box without one shows.
    static constexpr const char* kDefaultCaption = "Error";

    explicit MessageDialog(QWidget* owner) : owner_(owner) {}

    Answer Ask(const std::string& text, Buttons buttons, const std::string& caption = {}) override;

    // One message box; owner may be null.
    static Answer Show(QWidget* owner, const std::string& text, Buttons buttons,
                       const std::string& caption = {});

    // When set, answers instead of a dialog (tests: no dialog blocks them).
    std::function<Answer(const std::string& text, Buttons buttons, const std::string& caption)>
        answerHook;

private:
    QWidget* owner_;
};

}  // namespace qv
