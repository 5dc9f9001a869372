#pragma once
// The terminal's side of the questions and the progress of long work.

#include <cstdint>
#include <string>

#include "platform/Progress.h"
#include "platform/Questions.h"

namespace qv {

// SIGINT, SIGTERM and SIGHUP end the work in progress cleanly instead of killing
// the program: the copy being written is removed, no source is deleted or moved,
// and the program exits with 128 + the signal's number. A signal the program was
// started with ignored stays ignored.
void CatchInterrupts();
// The first of those signals received since CatchInterrupts, or 0.
int InterruptSignal();

// Messages go to stderr. A question is answered from the command's flags where
// they answer it; otherwise it is asked on the terminal, and without one the
// answer is the one that stops or changes nothing.
class TerminalQuestions : public Questions {
public:
    Answer Ask(const std::string& text, Buttons buttons, const std::string& caption) override;

    bool removeOverlaps = false;   // answers the overlap question
    bool yes = false;              // answers overwriting and deleting sources
    bool deleteUnwritten = false;  // answers deleting sources with frames in no marked scene
    bool ignoreAudioErrors = false;  // answers ignoring audio read errors (silence instead)
    int errors = 0;                // messages that reported a failure

private:
    static std::string Prompt(const char* choices);
};

// A one-line bar with percentage and time left on a terminal; silent otherwise.
class TerminalProgress : public Progress {
public:
    explicit TerminalProgress(std::string title);
    ~TerminalProgress() override;

    void SetRange(int low, int high) override;
    void SetText(const std::string& text) override;
    int SetPosition(int position, const std::string& fileName, AviStream* stream,
                    int frame) override;
    bool CancelRequested() override { return InterruptSignal() != 0; }
    bool Stopping() override { return InterruptSignal() != 0; }

private:
    void Show(bool force);

    std::string title_;
    std::string text_;
    int low_ = 0, high_ = 1, position_ = 0;
    bool interactive_ = false;
    uint32_t startTick_ = 0, lastShownTick_ = 0;
    int lastShownPercent_ = -100;
    bool shown_ = false;
};

// Progress nobody watches that still learns of an interrupt.
class QuietProgress : public SilentProgress {
public:
    bool CancelRequested() override { return InterruptSignal() != 0; }
    bool Stopping() override { return InterruptSignal() != 0; }
};

}  // namespace qv
