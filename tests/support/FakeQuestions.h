#pragma once
// Records every question the core asks and answers from a prepared list.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/Questions.h"

namespace qvtest {

class FakeQuestions : public qv::Questions {
public:
    struct Asked {
        std::string text;
        qv::Buttons buttons;
        std::string caption;
        qv::MessageKind kind = qv::MessageKind::Warning;
    };

    qv::Answer Ask(const std::string& text, qv::Buttons buttons,
                   const std::string& caption) override {
        return AskAs(qv::DefaultKind(buttons), text, buttons, caption);
    }
    qv::Answer AskAs(qv::MessageKind kind, const std::string& text, qv::Buttons buttons,
                     const std::string& caption) override {
        asked.push_back({text, buttons, caption, kind});
        if (onAsk) {
            onAsk(asked.back());
        }
        if (!answers.empty()) {
            qv::Answer a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == qv::Buttons::Ok ? qv::Answer::Ok : qv::Answer::Cancel;
    }

    std::vector<Asked> asked;
    std::function<void(const Asked&)> onAsk;  // called as each question is asked
    std::deque<qv::Answer> answers;
};

}  // namespace qvtest
