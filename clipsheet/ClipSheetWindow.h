#pragma once
// The clip sheet window (template 135): the whole scene list as a scrollable
// sheet of pictures. A 100 ms timer draws the missing pictures and decodes the
// rest of the sheet ahead into the shared picture cache, never for much longer
// than 100 ms at a time; clicking a picture switches its scene between write =
// YES and NO, dragging from one picture to another sets the whole range of
// scenes; "&Print..." prints the scenes to be written.
//
// The sheet is drawn into a surface the size of the client area, which stands
// for the window's device context: painting lays the sheet out and draws the
// invalidated part there, the timer draws single pictures there, and the
// screen is a copy of it.

#include <QDialog>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

#include "clipsheet/ClipSheetLayout.h"
#include "resources/TemplateDialog.h"

class QAction;
class QPrinter;
class QScrollBar;

namespace qv {

class PictureCache;
class SceneList;
class SettingsStore;
class ClipSheetWindow;

// The client area: shows the surface and passes the mouse to the window.
class ClipSheetView : public QWidget {
  public:
    explicit ClipSheetView(ClipSheetWindow& window);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    ClipSheetWindow& window_;
};

class ClipSheetWindow : public TemplateDialog {
    Q_OBJECT
  public:
    // Menu 137.
    static constexpr int kPrintCommand = 57607;
    static constexpr int kCloseCommand = 32774;
    static constexpr int kOptionsCommand = 32773;
    static constexpr int kTimerMilliseconds = 100;
    // The shared cache's budget never exceeds this: thumbnails of a long list
    // at any window width fit, and a large machine keeps no gigabytes of them.
    static constexpr int64_t kMaxCacheBudget = int64_t{1} << 30;

    // scenes, cache and store (may be null: nothing loaded or saved) must
    // outlive the window. codecSetting: the decoder to prefer.
    ClipSheetWindow(SceneList& scenes, SettingsStore* store, PictureCache& cache,
                    const std::string& codecSetting, QWidget* parent);
    ~ClipSheetWindow() override;

    // The program's one cache of sheet pictures; it lives as long as the program.
    static PictureCache& SharedCache();
    // Half of the available memory, at most kMaxCacheBudget.
    static int CacheBudget(uint64_t availableBytes);

    ClipSheetLayout& Layout() { return layout_; }
    ClipSheetView* Sheet() { return view_; }
    QScrollBar* ScrollBar() { return scrollBar_; }
    QAction* Command(int id) const;
    QTimer& Timer() { return timer_; }
    int SheetHeight() const { return sheetHeight_; }
    // What the window shows (the client area's surface).
    const QPixmap& Surface() const { return surface_; }

    // The print dialog; true to print on printer. Tests replace it.
    std::function<bool(QPrinter&)> askPrinter;
    // The options dialog's run; returns exec()'s result. Tests replace it.
    std::function<int(QDialog&)> runDialog;
    // Pages of the last print job.
    int PagesPrinted() const { return pagesPrinted_; }

    // One timer tick: PaintPending onto the surface, the drawn parts shown.
    void Tick();
    // Lays out and draws the part clip of the client area (all of it when
    // clip is empty).
    void Redraw(const SheetRect& clip = {});
    // Scrolls to p, kept within 0 ... sheet height - client height.
    void ScrollTo(int p);
    // The scroll codes: a row, a page, the top, the bottom.
    void ScrollLines(int lines);
    void ScrollPages(int pages);
    void ScrollToTop() { ScrollTo(0); }
    void ScrollToBottom();
    void Wheel(int delta);

    // Left button down / double-click, and up, at a client-area point.
    void ButtonDown(int x, int y);
    void ButtonUp(int x, int y);

    void Print();
    void ShowOptions();

  public slots:
    void done(int result) override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    friend class ClipSheetView;
    void UpdateScrollBar();
    void SavePlacement();
    void Resized();

    SceneList& scenes_;
    SettingsStore* store_;
    std::string codecSetting_;
    ClipSheetLayout layout_;
    ClipSheetView* view_ = nullptr;
    QScrollBar* scrollBar_ = nullptr;
    QTimer timer_;
    QPixmap surface_;
    int dragging_ = 0;
    int anchorScene_ = 0;
    int sheetHeight_ = 1;
    int pagesPrinted_ = 0;
    // The stored placement (frame rectangle), applied at the first show.
    QRect placement_;
    bool placed_ = false;
    bool saved_ = false;
};

}  // namespace qv
