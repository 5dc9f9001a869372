#pragma once
// How long work reports its progress and learns that the user wants to stop.
// The windows show a progress dialog; the CLI and tests use their own.

#include <string>

namespace qv {

class AviStream;

class Progress {
public:
    virtual ~Progress() = default;
    virtual void SetRange(int low, int high) = 0;
    virtual void SetText(const std::string& text) = 0;
    // Moves the bar to position (-1 leaves it) and shows frame of stream (null:
    // none) as the preview. Returns the previous position.
    virtual int SetPosition(int position, const std::string& fileName, AviStream* stream,
                            int frame) = 0;
    // Whether Cancel was pressed since the last call.
    virtual bool CancelRequested() = 0;
    // Whether the program is being stopped from outside (the CLI on a signal): the
    // work ends at once and deletes or moves no more files. Cancel is reported too.
    virtual bool Stopping() { return false; }
};

// Progress that nobody watches.
class SilentProgress : public Progress {
public:
    void SetRange(int, int) override {}
    void SetText(const std::string&) override {}
    int SetPosition(int position, const std::string&, AviStream*, int) override {
        int previous = position_;
        if (position >= 0) {
            position_ = position;
        }
        return previous;
    }
    bool CancelRequested() override { return false; }

private:
    int position_ = 0;
};

}  // namespace qv
