#pragma once
// The questions of the window's model, asked with message boxes and the Confirm
// dialog.

#include <functional>
#include <memory>
#include <string>

#include "platform/Questions.h"

class QMessageBox;
class QWidget;

namespace qv {

class MessageDialog : public Questions {
public:
    // The caption a message box without one shows: the program's name.
    static constexpr const char* kDefaultCaption = "Quorvandel";

    explicit MessageDialog(QWidget* owner) : owner_(owner) {}

    Answer Ask(const std::string& text, Buttons buttons, const std::string& caption = {}) override;
    Answer AskAs(MessageKind kind, const std::string& text, Buttons buttons,
                 const std::string& caption = {}) override;

    // One message box (or the Confirm dialog); owner may be null.
    static Answer Show(QWidget* owner, MessageKind kind, const std::string& text, Buttons buttons,
                       const std::string& caption = {});
    static Answer Show(QWidget* owner, const std::string& text, Buttons buttons,
                       const std::string& caption = {}) {
        return Show(owner, DefaultKind(buttons), text, buttons, caption);
    }
    // The message box Show runs for every button set but the Confirm dialog's:
    // caption, icon of its kind, buttons and default button.
    static std::unique_ptr<QMessageBox> MakeBox(QWidget* owner, MessageKind kind,
                                                const std::string& text, Buttons buttons,
                                                const std::string& caption);

    // When set, answers instead of a dialog (tests: no dialog blocks them).
    std::function<Answer(const std::string& text, Buttons buttons, const std::string& caption)>
        answerHook;
    // The kind of the last message asked (also with answerHook set).
    MessageKind LastKind() const { return lastKind_; }

private:
    QWidget* owner_;
    MessageKind lastKind_ = MessageKind::Warning;
};

}  // namespace qv
