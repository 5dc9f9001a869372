#pragma once
// The progress dialogs of long operations. They run in the user-interface
// thread: the operation calls them between units of work, and they pump the
// event queue so that the windows stay alive and Cancel can be pressed.
//
// ProgressDialog (template 103): status text, percentage with an estimate of
// the time left, progress bar, Cancel, and a preview picture of the frame being
// worked on. Minimizing it minimizes its owner, whose title then shows the
// percentage. SimpleProgressDialog (template 105): percentage, bar and Cancel.
//
// Both disable their owner's window while they exist and enable it again when
// they are destroyed. Cancel, Esc and the close box only set the cancel flag;
// the operation destroys the dialog when it is done.

#include <QPointer>
#include <cstdint>
#include <functional>
#include <string>

#include "dv/PackedDib.h"
#include "dv/PictureDecoder.h"
#include "platform/Progress.h"
#include "resources/TemplateDialog.h"

class QLabel;
class QProgressBar;

namespace qv {

// A 32-bit millisecond tick; tests pass their own clock.
using TickSource = std::function<uint32_t()>;

// The percentage of position in [low, high]: (position - low) x 100 / (high -
// low) in 32-bit integer arithmetic, taken modulo 100 unless it is exactly 100.
int ProgressPercent(int position, int low, int high);
// ProgressDialog's percentage text: "%d%%", or after some time has passed
// "%d%% (estimated time left: %d %s)" with the remaining whole minutes, rounded
// up, assuming constant speed since elapsedMs ago.
std::string ProgressPercentText(int position, int low, int high, uint32_t elapsedMs);

// Disables the top-level window of a dialog's owner while the dialog lives and
// enables it again afterwards, keeping the dialog itself usable.
class OwnerLock {
public:
    OwnerLock() = default;
    OwnerLock(const OwnerLock&) = delete;
    OwnerLock& operator=(const OwnerLock&) = delete;

    // Takes owner's top-level window; disables it when it is enabled.
    void Take(QWidget* owner, QWidget* dialog);
    // Disables the owner (again) and keeps dialog enabled.
    void Disable(QWidget* dialog);
    // Enables the owner if this lock disabled it, with the focus it had inside
    // before, and activates it in place of the dialog.
    void Release(QWidget* dialog);
    QWidget* Owner() const { return owner_; }
    bool Disabled() const { return disabled_; }

private:
    QPointer<QWidget> owner_;
    // Disabling the window takes the focus from its widget; enabling gives it back.
    QPointer<QWidget> focus_;
    bool disabled_ = false;
};

class ProgressDialog : public TemplateDialog, public Progress {
    Q_OBJECT
public:
    // title: the window title; empty gives "working...". tick: the millisecond
    // clock of the time-left estimate (the system's tick count when empty).
    ProgressDialog(QWidget* owner, const std::string& title, TickSource tick = {});
    ~ProgressDialog() override;

    void SetRange(int low, int high) override;
    void SetText(const std::string& text) override;
    // Shows frame of stream as the preview (a null stream drops the preview, so
    // pass -1, "" and null before the reader that owns the stream goes away),
    // pumps the event queue, then moves the bar to position unless it is < 0.
    // Returns the previous position (0 when position < 0).
    int SetPosition(int position, const std::string& fileName, AviStream* stream,
                    int frame) override;
    // Pumps the event queue; then whether Cancel was pressed since the last call.
    bool CancelRequested() override;

    int PreviewFrame() const { return previewFrame_; }
    // The owner window this dialog minimized, or null.
    QWidget* MinimizedOwner() const { return minimizedOwner_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

public slots:
    void reject() override;

private:
    void Pump();
    void UpdatePercentText(int position);
    void OnMinimized();
    void OnRestored();

    TickSource tick_;
    uint32_t startTick_ = 0;
    int low_ = 0;
    int high_ = 100;
    int step_ = 10;
    bool cancel_ = false;
    OwnerLock owner_;
    QPointer<QWidget> minimizedOwner_;
    QString savedOwnerTitle_;
    bool ownerTitleSaved_ = false;

    PictureDecoder decoder_;
    int previewFrame_ = 0;
    // The preview picture, decoded when SetPosition names the frame, so that
    // painting never reads the caller's stream.
    PackedDib picture_;
    DrawSource source_;
    bool hasPicture_ = false;

    QProgressBar* bar_ = nullptr;
    QLabel* percent_ = nullptr;
    QLabel* status_ = nullptr;
    QWidget* preview_ = nullptr;
};

class SimpleProgressDialog : public TemplateDialog, public Progress {
    Q_OBJECT
public:
    // title: the window title; empty gives "Saving Bitmaps".
    SimpleProgressDialog(QWidget* owner, const std::string& title);
    ~SimpleProgressDialog() override;

    void SetRange(int low, int high) override;
    // Pumps the event queue, moves the bar and returns the previous position.
    int SetPosition(int position);
    bool CancelRequested() override;

    // The progress interface: no status text, no preview; a position < 0 only pumps.
    void SetText(const std::string&) override {}
    int SetPosition(int position, const std::string& fileName, AviStream* stream,
                    int frame) override;

protected:
    void closeEvent(QCloseEvent* event) override;

public slots:
    void reject() override;

private:
    int low_ = 0;
    int high_ = 100;
    int step_ = 10;
    bool cancel_ = false;
    OwnerLock owner_;

    QProgressBar* bar_ = nullptr;
    QLabel* percent_ = nullptr;
};

}  // namespace qv
