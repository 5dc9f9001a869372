#include "clipsheet/ClipSheetWindow.h"

#include <QAction>
#include <QGridLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

#include "app/SceneList.h"
#include "clipsheet/ClipSheetOptionsDialog.h"
#include "clipsheet/ClipSheetSettings.h"
#include "platform/FileSystem.h"
#include "platform/SettingsStore.h"
#include "progress/PictureCache.h"
#include "resources/Templates.h"

namespace qv {

namespace {

const char kDocumentName[] = "Quorvandel Clipsheet";
const char* const kPlacement[] = {"cliplist.left", "cliplist.top", "cliplist.right",
                                  "cliplist.bottom"};

QRect Q(const SheetRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

bool RunPrintDialog(QWidget* owner, QPrinter& printer) {
    QPrintDialog dialog(&printer, owner);
    // All pages, no page numbers, no selection. Printing to a file stays on
    // offer: it is how a PDF is printed here.
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    dialog.setPrintRange(QAbstractPrintDialog::AllPages);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace

// The view

ClipSheetView::ClipSheetView(ClipSheetWindow& window) : QWidget(&window), window_(window) {
    setObjectName(QStringLiteral("clipSheet"));
    // Painting fills everything from the surface: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
}

void ClipSheetView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (window_.surface_.isNull()) {
        painter.fillRect(event->rect(), Qt::white);
        return;
    }
    painter.drawPixmap(event->rect(), window_.surface_, event->rect());
}

void ClipSheetView::resizeEvent(QResizeEvent* /*event*/) { window_.Resized(); }

void ClipSheetView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        window_.ButtonDown(event->position().toPoint().x(), event->position().toPoint().y());
    }
}

void ClipSheetView::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void ClipSheetView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        window_.ButtonUp(event->position().toPoint().x(), event->position().toPoint().y());
    }
}

void ClipSheetView::wheelEvent(QWheelEvent* event) {
    window_.Wheel(event->angleDelta().y());
    event->accept();
}

// The window

PictureCache& ClipSheetWindow::SharedCache() {
    static PictureCache cache(0);
    return cache;
}

int ClipSheetWindow::CacheBudget(uint64_t availableBytes) {
    return static_cast<int>(std::min<uint64_t>(availableBytes / 2, kMaxCacheBudget));
}

ClipSheetWindow::ClipSheetWindow(SceneList& scenes, SettingsStore* store, PictureCache& cache,
                                 const std::string& codecSetting, QWidget* parent)
    : TemplateDialog(ClipSheetTemplate(), parent),
      scenes_(scenes),
      store_(store),
      codecSetting_(codecSetting),
      layout_(&cache, codecSetting) {
    cache.SetBudget(CacheBudget(AvailableMemory()));
    cache.EvictToBudget();
    if (store_ != nullptr) {
        layout_.settings = LoadClipSheetSettings(*store_);
    }
    askPrinter = [this](QPrinter& printer) { return RunPrintDialog(this, printer); };
    runDialog = [](QDialog& dialog) { return dialog.exec(); };

    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint);
    // The template's size, with a sizing border.
    const QSize initial = size();
    setMinimumSize(80, 60);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(initial);
    if (parent != nullptr) {
        setWindowIcon(parent->windowIcon());
    }

    auto* menuBar = new QMenuBar(this);
    menuBar->setObjectName(QStringLiteral("menu137"));
    QMenu* file = menuBar->addMenu(QStringLiteral("&File"));
    QAction* print = file->addAction(QStringLiteral("&Print..."), this, &ClipSheetWindow::Print);
    print->setObjectName(QStringLiteral("id%1").arg(kPrintCommand));
    QAction* close = file->addAction(QStringLiteral("Close Cliplist"), this, &QDialog::accept);
    close->setObjectName(QStringLiteral("id%1").arg(kCloseCommand));
    QMenu* tools = menuBar->addMenu(QStringLiteral("&Tools"));
    QAction* options =
        tools->addAction(QStringLiteral("&Options"), this, &ClipSheetWindow::ShowOptions);
    options->setObjectName(QStringLiteral("id%1").arg(kOptionsCommand));

    view_ = new ClipSheetView(*this);
    scrollBar_ = new QScrollBar(Qt::Vertical, this);
    scrollBar_->setObjectName(QStringLiteral("verticalScrollBar"));
    scrollBar_->setFocusPolicy(Qt::NoFocus);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    grid->setMenuBar(menuBar);
    grid->addWidget(view_, 0, 0);
    grid->addWidget(scrollBar_, 0, 1);
    connect(scrollBar_, &QScrollBar::actionTriggered, this, [this](int action) {
        switch (action) {
            case QAbstractSlider::SliderSingleStepAdd: ScrollLines(1); break;
            case QAbstractSlider::SliderSingleStepSub: ScrollLines(-1); break;
            case QAbstractSlider::SliderPageStepAdd: ScrollPages(1); break;
            case QAbstractSlider::SliderPageStepSub: ScrollPages(-1); break;
            case QAbstractSlider::SliderToMinimum: ScrollToTop(); break;
            case QAbstractSlider::SliderToMaximum: ScrollToBottom(); break;
            case QAbstractSlider::SliderMove: ScrollTo(scrollBar_->sliderPosition()); break;
            default: break;
        }
        // The bar shows where the sheet is, whatever the action proposed.
        scrollBar_->setSliderPosition(layout_.scrollOffset);
    });

    // The stored placement, when it describes a rectangle.
    if (store_ != nullptr) {
        const SettingsValues values = store_->Load();
        int v[4];
        for (int i = 0; i < 4; ++i) {
            v[i] = values.ReadDecimal(kMainKey, kPlacement[i], 0);
        }
        if (int64_t{v[2]} - v[0] > 0 && int64_t{v[3]} - v[1] > 0) {
            placement_ = QRect(QPoint(v[0], v[1]), QPoint(v[2] - 1, v[3] - 1));
            move(placement_.topLeft());
            resize(placement_.size());
        }
    }

    timer_.setInterval(kTimerMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &ClipSheetWindow::Tick);
    timer_.start();
}

ClipSheetWindow::~ClipSheetWindow() { timer_.stop(); }

QAction* ClipSheetWindow::Command(int id) const {
    return findChild<QAction*>(QStringLiteral("id%1").arg(id));
}

void ClipSheetWindow::showEvent(QShowEvent* event) {
    TemplateDialog::showEvent(event);
    if (!placed_ && !placement_.isNull()) {
        // The stored rectangle is the frame's: the client area is less the
        // window manager's border.
        const QSize extra = frameGeometry().size() - size();
        if (extra.width() > 0 || extra.height() > 0) {
            resize(placement_.size() - extra);
        }
        move(placement_.topLeft());
    }
    placed_ = true;
}

void ClipSheetWindow::Resized() {
    const QSize size = view_->size();
    if (size.isEmpty()) {
        return;
    }
    if (surface_.size() != size) {
        surface_ = QPixmap(size);
    }
    // The next paint lays the sheet out for the new width.
    Redraw();
}

void ClipSheetWindow::Redraw(const SheetRect& requested) {
    if (surface_.isNull()) {
        return;
    }
    const int width = surface_.width();
    const int height = surface_.height();
    const SheetRect all{0, 0, width, height};
    SheetRect clip = requested.Width() > 0 && requested.Height() > 0 ? requested : all;
    for (int pass = 0; pass < 2; ++pass) {
        layout_.clientRect = all;
        {
            QPainter painter(&surface_);
            layout_.PaintSheet(surface_, &painter, scenes_, clip, false);
        }
        const int highest = std::max(0, layout_.totalHeight - height);
        if (layout_.scrollOffset <= highest) {
            break;
        }
        // The sheet got shorter than the place it was shown from: show its end,
        // all of the client area drawn again from there.
        layout_.scrollOffset = highest;
        clip = all;
    }
    if (layout_.totalHeight != sheetHeight_) {
        sheetHeight_ = layout_.totalHeight;
    }
    UpdateScrollBar();
    view_->update(Q(clip));
}

void ClipSheetWindow::UpdateScrollBar() {
    const int client = view_->height();
    const int page = std::min(sheetHeight_, client);
    const QSignalBlocker block(scrollBar_);
    scrollBar_->setRange(0, std::max(0, sheetHeight_ - page));
    scrollBar_->setPageStep(std::max(1, page));
    scrollBar_->setSingleStep(std::max(1, layout_.rowGap + layout_.textLines * layout_.lineHeight +
                                              layout_.pictureHeight));
    scrollBar_->setValue(layout_.scrollOffset);
    // Shown but disabled when there is nothing to scroll.
    scrollBar_->setEnabled(scrollBar_->maximum() > 0);
}

void ClipSheetWindow::ScrollTo(int requested) {
    const int client = view_->height();
    int p = std::min<int64_t>(requested, int64_t{sheetHeight_} - client);
    p = std::max(p, 0);
    if (p == layout_.scrollOffset) {
        return;
    }
    const int dy = layout_.scrollOffset - p;
    layout_.scrolled = 1;
    layout_.scrollOffset = p;
    if (!surface_.isNull()) {
        QRegion exposed;
        surface_.scroll(0, dy, surface_.rect(), &exposed);
        const QRect e = exposed.boundingRect();
        Redraw(SheetRect{e.left(), e.top(), e.left() + e.width(), e.top() + e.height()});
        view_->update();
    }
    UpdateScrollBar();
}

void ClipSheetWindow::ScrollLines(int lines) {
    const int64_t row =
        layout_.rowGap + int64_t{layout_.textLines} * layout_.lineHeight + layout_.pictureHeight;
    ScrollTo(static_cast<int>(std::clamp<int64_t>(layout_.scrollOffset + lines * row, INT32_MIN,
                                                  INT32_MAX)));
}

void ClipSheetWindow::ScrollPages(int pages) {
    ScrollTo(static_cast<int>(std::clamp<int64_t>(
        layout_.scrollOffset + int64_t{pages} * view_->height(), INT32_MIN, INT32_MAX)));
}

void ClipSheetWindow::ScrollToBottom() { ScrollTo(sheetHeight_ - view_->height()); }

void ClipSheetWindow::Wheel(int delta) {
    ScrollTo(static_cast<int>(std::clamp<int64_t>(
        layout_.scrollOffset - int64_t{delta} * layout_.pictureHeight / 120, INT32_MIN,
        INT32_MAX)));
}

void ClipSheetWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Up: ScrollLines(-1); break;
        case Qt::Key_Down: ScrollLines(1); break;
        case Qt::Key_PageUp: ScrollPages(-1); break;
        case Qt::Key_PageDown: ScrollPages(1); break;
        case Qt::Key_Home: ScrollToTop(); break;
        case Qt::Key_End: ScrollToBottom(); break;
        default: TemplateDialog::keyPressEvent(event); return;
    }
    event->accept();
}

void ClipSheetWindow::Tick() {
    if (surface_.isNull()) {
        return;
    }
    std::vector<SheetRect> drawn;
    {
        QPainter painter(&surface_);
        drawn = layout_.PaintPending(painter, scenes_);
    }
    for (const SheetRect& r : drawn) {
        view_->update(Q(r));
    }
}

void ClipSheetWindow::ButtonDown(int x, int y) {
    const int hit = layout_.HitTest(x, y);
    if (hit >= 0) {
        anchorScene_ = layout_.cells[static_cast<size_t>(hit)].sceneIndex;
        dragging_ = 1;
    }
}

void ClipSheetWindow::ButtonUp(int x, int y) {
    if (dragging_ == 0) {
        return;
    }
    dragging_ = 0;
    const int hit = layout_.HitTest(x, y);
    if (hit < 0 || anchorScene_ < 0 || anchorScene_ >= scenes_.Count()) {
        return;
    }
    const int hitScene = layout_.cells[static_cast<size_t>(hit)].sceneIndex;
    const int value = scenes_[anchorScene_].write == 0 ? 1 : 0;
    const int first = std::min(anchorScene_, hitScene);
    const int last = std::max(anchorScene_, hitScene);
    for (int i = first; i <= last && i < scenes_.Count(); ++i) {
        scenes_[i].write = value;
    }
    // The next ticks draw them again, with or without the cross.
    for (ClipCell& cell : layout_.cells) {
        if (cell.sceneIndex >= first && cell.sceneIndex <= last) {
            cell.pending = 1;
        }
    }
}

void ClipSheetWindow::Print() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QString::fromLatin1(kDocumentName));
    printer.setCreator(QString::fromLatin1(kDocumentName));
    if (!askPrinter || !askPrinter(printer)) {
        return;
    }
    pagesPrinted_ = PrintSheet(printer, layout_, scenes_, codecSetting_);
}

void ClipSheetWindow::ShowOptions() {
    ClipSheetSettings edited = layout_.settings;
    ClipSheetOptionsDialog dialog(edited, this);
    if ((runDialog ? runDialog(dialog) : dialog.exec()) != QDialog::Accepted) {
        return;
    }
    layout_.settings = edited;
    Redraw();
    if (store_ != nullptr) {
        SaveClipSheetSettings(layout_.settings, *store_);
    }
}

void ClipSheetWindow::SavePlacement() {
    if (saved_ || store_ == nullptr) {
        return;
    }
    saved_ = true;
    const QRect frame = frameGeometry();
    const int v[4] = {frame.left(), frame.top(), frame.left() + frame.width(),
                      frame.top() + frame.height()};
    store_->Edit([&](SettingsValues& values) {
        for (int i = 0; i < 4; ++i) {
            values.WriteText(kMainKey, kPlacement[i], std::to_string(v[i]));
        }
    });
}

void ClipSheetWindow::done(int result) {
    timer_.stop();
    SavePlacement();
    TemplateDialog::done(result);
}

}  // namespace qv
