#pragma once
// Progress that records all it is shown, and presses Cancel or stops the program
// when a test says so.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Progress.h"

namespace qvtest {

struct ProgressLog {
    struct Position {
        int position;
        std::string fileName;
        qv::AviStream* stream;
        int frame;
    };
    std::vector<std::pair<int, int>> ranges;
    std::vector<std::string> texts;
    std::vector<Position> positions;
    int cancelChecks = 0;                   // calls of CancelRequested so far
    std::function<bool(int check)> cancel;  // the answer to check number 1, 2, ...; none: no
    std::function<void(const std::string&)> onText;
    std::function<void(int position)> onPosition;
    bool stopping = false;
};

class RecordingProgress : public qv::Progress {
public:
    explicit RecordingProgress(ProgressLog& log) : log_(log) {}
    void SetRange(int low, int high) override { log_.ranges.emplace_back(low, high); }
    void SetText(const std::string& text) override {
        log_.texts.push_back(text);
        if (log_.onText) {
            log_.onText(text);
        }
    }
    int SetPosition(int position, const std::string& fileName, qv::AviStream* stream,
                    int frame) override {
        log_.positions.push_back({position, fileName, stream, frame});
        if (log_.onPosition) {
            log_.onPosition(position);
        }
        return 0;
    }
    bool CancelRequested() override {
        ++log_.cancelChecks;
        return log_.cancel && log_.cancel(log_.cancelChecks);
    }
    bool Stopping() override { return log_.stopping; }

private:
    ProgressLog& log_;
};

}  // namespace qvtest
