#include "progress/ProgressDialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/Platform.h"
#include "resources/Templates.h"

namespace qv {

namespace {

constexpr int kIdBar = 1003;
constexpr int kIdPercent = 1004;
constexpr int kIdStatus = 1005;
constexpr int kIdPreview = 1016;
constexpr int kIdCancel = 2;
constexpr int kPreviewCropMargin = 10;
const QColor kNoPicture(160, 160, 160);

QWidget* TopLevel(QWidget* owner) { return owner != nullptr ? owner->window() : nullptr; }

// The bar counts in 16-bit bounds, as callers do.
int BarBound(int value) { return static_cast<int>(static_cast<uint16_t>(value)); }

// Moves bar to position, kept inside its range; returns where it was.
int MoveBar(QProgressBar* bar, int position) {
    const int previous = bar->value();
    bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
    return previous;
}

// Draws the part of a 24-bit bottom-up picture that source names into its
// target, smoothly scaled. False when the picture does not hold what it asks for.
bool DrawPicture(QPainter& painter, const PackedDib& picture, const DrawSource& source) {
    const uint8_t* bits = picture.Bits();
    if (!source.valid || bits == nullptr || picture.BitCount() != 24 || picture.Width() <= 0) {
        return false;
    }
    const size_t stride = picture.Stride();
    // One-field views put two stored rows side by side in each view row.
    const size_t rowsPerView = source.viewWidth == picture.Width() ? 1 : 2;
    const size_t viewStride = stride * rowsPerView;
    const size_t end = stride * static_cast<size_t>(picture.Height());
    const PictureRect& s = source.source;
    QImage image(s.width, s.height, QImage::Format_BGR888);
    if (image.isNull()) {
        return false;
    }
    for (int i = 0; i < s.height; ++i) {
        // View rows are stored bottom-up like the picture's.
        const int viewRow = source.viewHeight - 1 - (s.y + i);
        const size_t offset = static_cast<size_t>(viewRow) * viewStride + 3 * static_cast<size_t>(s.x);
        const size_t bytes = 3 * static_cast<size_t>(s.width);
        if (viewRow < 0 || offset + bytes > end) {
            return false;
        }
        std::memcpy(image.scanLine(i), bits + offset, bytes);
    }
    const PictureRect& t = source.target;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(QRect(t.x, t.y, t.width, t.height), image);
    return true;
}

}  // namespace

int ProgressPercent(int position, int low, int high) {
    const int64_t span = static_cast<int64_t>(high) - low;
    if (span == 0) {
        return 0;
    }
    // 32-bit arithmetic, as the counts have always been done.
    const auto scaled = static_cast<int32_t>((static_cast<int64_t>(position) - low) * 100);
    int percent = static_cast<int32_t>(int64_t{scaled} / static_cast<int32_t>(span));
    if (percent != 100) {
        percent %= 100;
    }
    return percent;
}

std::string ProgressPercentText(int position, int low, int high, uint32_t elapsedMs) {
    const int percent = ProgressPercent(position, low, high);
    char text[96];
    if (elapsedMs == 0 || position == low || high == low) {
        std::snprintf(text, sizeof text, "%d%%", percent);
        return text;
    }
    const double done = static_cast<double>(static_cast<int64_t>(position) - low) /
                        static_cast<double>(static_cast<int64_t>(high) - low);
    // The whole run's estimated duration in seconds, at the speed so far.
    const auto total = static_cast<float>(elapsedMs * 0.001 / done);
    // Remaining seconds rounded up to whole minutes.
    const auto seconds = static_cast<int>((1.0 - done) * total + 59);
    const int minutes = seconds / 60;
    std::snprintf(text, sizeof text, "%d%% (estimated time left: %d %s)", percent, minutes,
                  minutes == 1 ? "minute" : "minutes");
    return text;
}

void OwnerLock::Take(QWidget* owner, QWidget* dialog) {
    owner_ = TopLevel(owner);
    if (owner_ != nullptr && owner_->isEnabled()) {
        disabled_ = true;
        Disable(dialog);
    }
}

void OwnerLock::Disable(QWidget* dialog) {
    if (owner_ == nullptr) {
        return;
    }
    if (QWidget* focus = owner_->focusWidget(); focus != nullptr) {
        focus_ = focus;
    }
    owner_->setEnabled(false);
    // Disabling a window disables the windows it owns; the dialog must stay usable,
    // and so must a question open over the owner (a message box, the Confirm
    // dialog), which the work waits for.
    dialog->setEnabled(true);
    for (QWidget* w : owner_->findChildren<QWidget*>()) {
        if (w != dialog && w->isWindow() && w->isModal() && w->isVisible()) {
            w->setEnabled(true);
        }
    }
}

void OwnerLock::Release(QWidget* dialog) {
    if (disabled_ && owner_ != nullptr) {
        owner_->setEnabled(true);
        if (focus_ != nullptr && owner_->focusWidget() == nullptr && focus_->window() == owner_) {
            focus_->setFocus(Qt::OtherFocusReason);
        }
        if (dialog->isActiveWindow() && owner_->isVisible()) {
            owner_->activateWindow();
        }
    }
    disabled_ = false;
}

// ---------------------------------------------------------------------------

ProgressDialog::ProgressDialog(QWidget* owner, const std::string& title, TickSource tick)
    : TemplateDialog(ProgressTemplate(), TopLevel(owner)), tick_(std::move(tick)) {
    if (!tick_) {
        tick_ = TickCount;
    }
    bar_ = Control<QProgressBar>(kIdBar);
    percent_ = Control<QLabel>(kIdPercent);
    status_ = Control<QLabel>(kIdStatus);
    preview_ = Control(kIdPreview);
    for (QLabel* label : findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    }
    connect(Control<QPushButton>(kIdCancel), &QPushButton::clicked, this,
            [this] { cancel_ = true; });
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    owner_.Take(owner, this);
    if (owner_.Owner() != nullptr) {
        owner_.Owner()->installEventFilter(this);
    }

    startTick_ = tick_();
    bar_->setRange(BarBound(low_), BarBound(high_));
    bar_->setValue(BarBound(low_));
    setWindowTitle(ControlText(title.empty() ? std::string("working...") : title));
    show();
}

ProgressDialog::~ProgressDialog() {
    QWidget* owner = owner_.Owner();
    if (owner != nullptr) {
        owner->removeEventFilter(this);
    }
    if (minimizedOwner_ != nullptr) {
        // The work is done: the window it minimized comes back.
        QWidget* minimized = minimizedOwner_;
        minimizedOwner_ = nullptr;  // first: restoring reports a state change
        minimized->setEnabled(false);
        minimized->setWindowState(minimized->windowState() & ~Qt::WindowMinimized);
        if (minimized->isHidden()) {
            minimized->show();
        }
    }
    owner_.Release(this);
    if (ownerTitleSaved_ && owner != nullptr) {
        owner->setWindowTitle(savedOwnerTitle_);
    }
    decoder_.Detach();
}

void ProgressDialog::SetRange(int low, int high) {
    low_ = low;
    high_ = high;
    bar_->setRange(BarBound(low), BarBound(high));
}

void ProgressDialog::SetText(const std::string& text) { status_->setText(ControlText(text)); }

int ProgressDialog::SetPosition(int position, const std::string& fileName, AviStream* stream,
                                int frame) {
    const bool attached = decoder_.Attach(fileName, stream, kPreviewCropMargin);
    if (stream != nullptr) {
        previewFrame_ = frame;
        const QRect r = preview_->geometry();
        hasPicture_ = attached && decoder_.PrepareDraw(frame, {r.x(), r.y(), r.width(), r.height()},
                                                       true, picture_, source_);
        update(r);
    } else if (hasPicture_) {
        // Without a stream there is nothing to draw: the picture on screen goes now, or
        // it would stand beside the next scene's text until that scene's first picture.
        hasPicture_ = false;
        update(preview_->geometry());
    }
    Pump();
    if (position < 0) {
        return 0;
    }
    const int previous = MoveBar(bar_, position);
    UpdatePercentText(position);
    return previous;
}

bool ProgressDialog::CancelRequested() {
    Pump();
    return std::exchange(cancel_, false);
}

void ProgressDialog::Pump() { QCoreApplication::processEvents(); }

void ProgressDialog::UpdatePercentText(int position) {
    const QString text = QString::fromStdString(
        ProgressPercentText(position, low_, high_, tick_() - startTick_));
    if (text == percent_->text()) {
        return;
    }
    percent_->setText(text);
    if (minimizedOwner_ != nullptr) {
        minimizedOwner_->setWindowTitle(savedOwnerTitle_ + QStringLiteral(" ") + text);
    }
}

void ProgressDialog::paintEvent(QPaintEvent* event) {
    TemplateDialog::paintEvent(event);
    QPainter painter(this);
    const QRect r = preview_->geometry();
    if (!(hasPicture_ && decoder_.IsCodecOpen() && decoder_.IsAttached() &&
          DrawPicture(painter, picture_, source_))) {
        painter.fillRect(r, kNoPicture);
    }
}

void ProgressDialog::changeEvent(QEvent* event) {
    TemplateDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange) {
        return;
    }
    if (windowState() & Qt::WindowMinimized) {
        if (minimizedOwner_ == nullptr) {
            OnMinimized();
        }
    } else if (minimizedOwner_ != nullptr) {
        OnRestored();
    }
}

bool ProgressDialog::eventFilter(QObject* watched, QEvent* event) {
    // Restoring the minimized owner brings the dialog back.
    if (event->type() == QEvent::WindowStateChange && minimizedOwner_ != nullptr &&
        watched == minimizedOwner_ && !(minimizedOwner_->windowState() & Qt::WindowMinimized)) {
        OnRestored();
    }
    return TemplateDialog::eventFilter(watched, event);
}

void ProgressDialog::OnMinimized() {
    QWidget* owner = owner_.Owner();
    if (owner == nullptr) {
        return;
    }
    minimizedOwner_ = owner;
    savedOwnerTitle_ = owner->windowTitle();
    ownerTitleSaved_ = true;
    owner->showMinimized();
    owner->setEnabled(true);
    // Hidden once the minimizing is complete: showMinimized shows the dialog
    // after its state has changed.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (minimizedOwner_ != nullptr) {
                hide();
            }
        },
        Qt::QueuedConnection);
}

void ProgressDialog::OnRestored() {
    QWidget* owner = minimizedOwner_;
    minimizedOwner_ = nullptr;  // first: the calls below report state changes again
    owner_.Disable(this);
    if (owner->windowState() & Qt::WindowMinimized) {
        owner->setWindowState(owner->windowState() & ~Qt::WindowMinimized);
    }
    if (owner->isHidden()) {
        owner->show();
    }
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    owner->setWindowTitle(savedOwnerTitle_);
    ownerTitleSaved_ = false;
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
    cancel_ = true;
    event->ignore();
}

void ProgressDialog::reject() { cancel_ = true; }

// ---------------------------------------------------------------------------

SimpleProgressDialog::SimpleProgressDialog(QWidget* owner, const std::string& title)
    : TemplateDialog(SimpleProgressTemplate(), TopLevel(owner)) {
    bar_ = Control<QProgressBar>(kIdBar);
    percent_ = Control<QLabel>(kIdPercent);
    connect(Control<QPushButton>(kIdCancel), &QPushButton::clicked, this,
            [this] { cancel_ = true; });
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    owner_.Take(owner, this);
    bar_->setRange(BarBound(low_), BarBound(high_));
    bar_->setValue(BarBound(low_));
    setWindowTitle(ControlText(title.empty() ? std::string("Saving Bitmaps") : title));
    show();
}

SimpleProgressDialog::~SimpleProgressDialog() { owner_.Release(this); }

void SimpleProgressDialog::SetRange(int low, int high) {
    low_ = low;
    high_ = high;
    bar_->setRange(BarBound(low), BarBound(high));
}

int SimpleProgressDialog::SetPosition(int position) {
    QCoreApplication::processEvents();
    const int previous = MoveBar(bar_, position);
    char text[32];
    std::snprintf(text, sizeof text, "%d%c", ProgressPercent(position, low_, high_), '%');
    const QString qtext = QString::fromLatin1(text);
    if (qtext != percent_->text()) {
        percent_->setText(qtext);
    }
    return previous;
}

int SimpleProgressDialog::SetPosition(int position, const std::string&, AviStream*, int) {
    if (position < 0) {
        QCoreApplication::processEvents();
        return 0;
    }
    return SetPosition(position);
}

bool SimpleProgressDialog::CancelRequested() {
    QCoreApplication::processEvents();
    return std::exchange(cancel_, false);
}

void SimpleProgressDialog::closeEvent(QCloseEvent* event) {
    cancel_ = true;
    event->ignore();
}

void SimpleProgressDialog::reject() { cancel_ = true; }

}  // namespace qv
