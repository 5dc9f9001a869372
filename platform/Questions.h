#pragma once
// How the core asks the user something: message boxes and the Confirm dialog.
// The windows answer with real dialogs, the CLI on the terminal, tests with a fake.

#include <string>

namespace qv {

enum class Buttons {
    Ok,                 // a plain message
    OkCancel,           // per-file failures during a scan: go on or stop
    YesNo,
    YesNoDefaultNo,     // Yes/No with No as the default button
    YesYesForAllAbort,  // the Confirm dialog
};

enum class Answer { Ok, Cancel, Yes, No, YesForAll, Abort };

// What a message is, for the icon its box shows.
enum class MessageKind {
    Information,  // a report of success, a note
    Question,
    Warning,      // a failure
};

// The kind a message has unless its caller says otherwise: questions for Yes/No
// and the Confirm dialog, failures for the rest (an OK message reports a failure,
// OK/Cancel a file that cannot be read).
constexpr MessageKind DefaultKind(Buttons buttons) {
    switch (buttons) {
        case Buttons::YesNo:
        case Buttons::YesNoDefaultNo:
        case Buttons::YesYesForAllAbort:
            return MessageKind::Question;
        case Buttons::Ok:
        case Buttons::OkCancel:
            break;
    }
    return MessageKind::Warning;
}

class Questions {
public:
    virtual ~Questions() = default;
    // caption empty = the default caption of the message box.
    virtual Answer Ask(const std::string& text, Buttons buttons, const std::string& caption = {}) = 0;
    // Ask with the kind of message given; askers without icons ignore it.
    virtual Answer AskAs(MessageKind kind, const std::string& text, Buttons buttons,
                         const std::string& caption = {}) {
        static_cast<void>(kind);
        return Ask(text, buttons, caption);
    }

    // A failure, with OK.
    void Tell(const std::string& text, const std::string& caption = {}) {
        Ask(text, Buttons::Ok, caption);
    }
    // A report of success or a note, with OK.
    void Report(const std::string& text, const std::string& caption = {}) {
        AskAs(MessageKind::Information, text, Buttons::Ok, caption);
    }
};

}  // namespace qv
