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

class Questions {
public:
    virtual ~Questions() = default;
    // caption empty = the default caption of the message box.
    virtual Answer Ask(const std::string& text, Buttons buttons, const std::string& caption = {}) = 0;

    void Tell(const std::string& text, const std::string& caption = {}) {
        Ask(text, Buttons::Ok, caption);
    }
};

}  // namespace qv
