#pragma once
// Where the main window's controls go at any window size. At the template's
// size every control stands at its template rectangle. Extra height goes to the
// scene list (three quarters) and the input list (one quarter), and the controls
// below each list move down with it, so everything under the scene list keeps to
// the bottom edge; extra width widens the lists, the output edit and the status
// text, moves the buttons on the right with the right edge and the centred
// buttons by half. The picture strip keeps its size, centred, so its pictures
// keep their shape. Smaller than the template, the input list gives up rows
// first, then the scene list, then the strip shrinks (its shape kept), down to
// the minimum size.

#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <vector>

namespace qv {

class DialogUnits;

class MainWindowLayout {
public:
    // Takes the places of window's controls as they stand now, at the template's
    // size. units: the window's dialog units.
    MainWindowLayout(QWidget& window, const DialogUnits& units);

    QSize MinimumSize() const;
    // Places every control for size.
    void Apply(QSize size);

    enum class Across { Left, Stretch, Right, Centre, Strip };
    enum class Down { InputsGrow, BelowInputs, ScenesGrow, BelowScenes, Bottom };

private:
    struct Placed {
        QPointer<QWidget> widget;
        QRect rect;
        Across across;
        Down down;
    };

    QSize templateSize_;
    std::vector<Placed> placed_;
    int inputsShrink_ = 0;  // pixels the input list may give up
    int scenesShrink_ = 0;  // and the scene list
    int stripShrink_ = 0;   // and the picture strip
    int widthShrink_ = 0;
};

}  // namespace qv
