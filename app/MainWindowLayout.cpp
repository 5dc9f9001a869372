#include "app/MainWindowLayout.h"

#include <algorithm>

#include "resources/TemplateDialog.h"

namespace qv {

namespace {

using Across = MainWindowLayout::Across;
using Down = MainWindowLayout::Down;

struct Rule {
    int id;
    Across across;
    Down down;
};

constexpr int kInputList = 1004;
constexpr int kSceneList = 1013;

// Every control of template 102; the label without an ID keeps to the left and
// the bottom like the edit below it.
constexpr Rule kRules[] = {
    {kInputList, Across::Stretch, Down::InputsGrow},
    {1015, Across::Left, Down::BelowInputs},
    {1005, Across::Left, Down::BelowInputs},
    {1008, Across::Right, Down::BelowInputs},
    {1006, Across::Right, Down::BelowInputs},
    {3, Across::Centre, Down::BelowInputs},
    {4, Across::Centre, Down::BelowInputs},
    {1050, Across::Centre, Down::BelowInputs},
    {1051, Across::Right, Down::BelowInputs},
    {kSceneList, Across::Stretch, Down::ScenesGrow},
    {1022, Across::Left, Down::BelowScenes},
    {1021, Across::Left, Down::BelowScenes},
    {1023, Across::Stretch, Down::BelowScenes},
    {1025, Across::Right, Down::BelowScenes},
    {1020, Across::Right, Down::BelowScenes},
    {1016, Across::Right, Down::BelowScenes},
    {1017, Across::Strip, Down::BelowScenes},
    {1003, Across::Stretch, Down::Bottom},
    {1011, Across::Right, Down::Bottom},
    {1009, Across::Centre, Down::Bottom},
    {1014, Across::Right, Down::Bottom},
    {1024, Across::Right, Down::Bottom},
};

// The smallest the window gets: the input list shows two or three files, the
// scene list its header and three scenes, the strip 70 % of its pictures' size;
// 40 dialog units of width go, which leaves the selection status its text. At
// 200 % scaling that window fits a 1600 x 1000 screen.
constexpr int kMinInputsUnits = 24;
constexpr int kMinScenesUnits = 55;
constexpr int kMinStripUnits = 52;
constexpr int kWidthShrinkUnits = 40;
constexpr int kStrip = 1017;

int IdOf(const QWidget* w) {
    const QString name = w->objectName();
    bool ok = false;
    const int id = name.startsWith(QLatin1String("id")) ? name.mid(2).toInt(&ok) : 0;
    return ok ? id : -1;
}

}  // namespace

MainWindowLayout::MainWindowLayout(QWidget& window, const DialogUnits& units)
    : templateSize_(window.size()) {
    for (QWidget* w : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isWindow()) {
            continue;
        }
        const int id = IdOf(w);
        Placed placed{w, w->geometry(), Across::Left, Down::Bottom};
        if (id >= 0) {
            const Rule* rule = std::find_if(std::begin(kRules), std::end(kRules),
                                            [id](const Rule& r) { return r.id == id; });
            if (rule == std::end(kRules)) {
                continue;  // not of the template: its owner places it
            }
            placed.across = rule->across;
            placed.down = rule->down;
        }
        if (id == kInputList) {
            inputsShrink_ = std::max(0, placed.rect.height() - units.Y(kMinInputsUnits));
        } else if (id == kSceneList) {
            scenesShrink_ = std::max(0, placed.rect.height() - units.Y(kMinScenesUnits));
        } else if (id == kStrip) {
            stripShrink_ = std::max(0, placed.rect.height() - units.Y(kMinStripUnits));
        }
        placed_.push_back(placed);
    }
    widthShrink_ = units.X(kWidthShrinkUnits);
}

QSize MainWindowLayout::MinimumSize() const {
    return {templateSize_.width() - widthShrink_,
            templateSize_.height() - inputsShrink_ - scenesShrink_ - stripShrink_};
}

void MainWindowLayout::Apply(QSize size) {
    const int dx = size.width() - templateSize_.width();
    const int dy = size.height() - templateSize_.height();
    // Growing, the input list takes a quarter and the scene list the rest;
    // shrinking, the input list gives up rows first, then the scene list, then the strip.
    int inputsDy = dy / 4;
    int scenesDy = dy - inputsDy;
    int stripDy = 0;
    if (dy < 0) {
        inputsDy = std::max(dy, -inputsShrink_);
        scenesDy = std::max(dy - inputsDy, -scenesShrink_);
        stripDy = std::max(dy - inputsDy - scenesDy, -stripShrink_);
    }
    const int belowScenes = inputsDy + scenesDy;
    const int bottom = belowScenes + stripDy;
    for (const Placed& p : placed_) {
        if (p.widget == nullptr) {
            continue;
        }
        QRect r = p.rect;
        switch (p.across) {
            case Across::Left:
                break;
            case Across::Stretch:
                r.setWidth(std::max(0, r.width() + dx));
                break;
            case Across::Right:
                r.translate(dx, 0);
                break;
            case Across::Centre:
                r.translate(dx / 2, 0);
                break;
            case Across::Strip: {
                // Its own shape, centred in the room it has; smaller only as the
                // window is.
                const int room = r.width() + dx;
                int height = r.height() + stripDy;
                const int width =
                    std::max(0, std::min(r.width() * height / std::max(1, r.height()), room));
                height = std::min(height, r.height() * width / std::max(1, r.width()));
                r = QRect(r.x() + (room - width) / 2, r.y(), width, height);
                break;
            }
        }
        switch (p.down) {
            case Down::InputsGrow:
                r.setHeight(r.height() + inputsDy);
                break;
            case Down::BelowInputs:
                r.translate(0, inputsDy);
                break;
            case Down::ScenesGrow:
                r.translate(0, inputsDy);
                r.setHeight(r.height() + scenesDy);
                break;
            case Down::BelowScenes:
                r.translate(0, belowScenes);
                break;
            case Down::Bottom:
                r.translate(0, bottom);
                break;
        }
        p.widget->setGeometry(r);
    }
}

}  // namespace qv
