// The clip sheet's layout: which frames its pictures show and the texts under
// them. (Drawing, clicks, one picture's middle frame and printing are the clip
// sheet window's tests.)

#include "clipsheet/ClipSheetLayout.h"

#include <QImage>
#include <QPainter>

#include "progress/PictureCache.h"
#include "support/SceneSetup.h"
#include "windows/WindowTests.h"

namespace {

TEST(ClipSheetLayoutTest, PicturesRunEvenlyUnderTheirSourcePositionsOrARunningTimeFromTheOffset) {
    qv::framesPerSecond = 25.0f;
    qv::SceneList scenes;
    for (auto [first, count, name] : {std::tuple{1000, 101, "/out/a'one.avi"},
                                      {5000, 51, "/out/a'two.avi"},
                                      {200, 26, "/out/a'three.avi"}}) {
        scenes.Append(qvtest::SceneOf("/nonexistent/tape.avi", first, count));
        scenes[scenes.Count() - 1].outputName = name;
    }
    qv::PictureCache cache{1 << 24};
    qv::ClipSheetLayout layout{&cache};
    layout.settings.picsPerScene = 3;
    QImage image(600, 400, QImage::Format_RGB32);
    layout.clientRect = qv::SheetRect{0, 0, 600, 400};
    // Laid out afresh (not drawn), the texts under the pictures cells: the time
    // and the name between bars.
    auto texts = [&](std::vector<size_t> cells) {
        layout.PaintSheet(image, nullptr, scenes, layout.clientRect, false);
        std::vector<std::string> shown;
        for (size_t k : cells) {
            shown.push_back(layout.TimeText(scenes, k) + "|" + layout.NameText(scenes, k));
        }
        return shown;
    };
    // Offset 0: positions in the source; the length and the name only under a
    // scene's first picture.
    EXPECT_EQ(texts({0, 1, 2, 3}),
              (std::vector<std::string>{"00:40:00 [00:04:01]|a'one", "00:42:00|", "00:44:00|",
                                        "03:20:00 [00:02:01]|a'two"}));
    // The pictures run evenly from a scene's first frame to its last.
    ASSERT_EQ(layout.cells.size(), 9u);
    EXPECT_EQ((std::vector{layout.cells[0].frame, layout.cells[1].frame, layout.cells[2].frame}),
              (std::vector{1000, 1050, 1100}));
    // Offset 250 frames: the first scene starts at 00:10:00, each next one where
    // the one before ends (250 + 100, 250 + 101, 250 + 152).
    layout.settings.timecodeOffset = 250;
    EXPECT_EQ(
        texts({0, 2, 3, 6}),
        (std::vector<std::string>{"00:10:00 [00:04:01]|a'one", "00:14:00|",
                                  "00:14:01 [00:02:01]|a'two", "00:16:02 [00:01:01]|a'three"}));
    // A text size is the whole line: each line of text is as high as asked (the
    // picture's height x fontSize / 64, and one pixel), so no text is cut at its foot.
    // (What is too wide for its picture ends in an ellipsis: the sheet command's test.)
    for (int fontSize : {10, 24, 64}) {
        layout.settings.fontSize = fontSize;
        layout.PaintSheet(image, nullptr, scenes, layout.clientRect, false);
        const int asked = layout.pictureHeight * fontSize / 64;
        EXPECT_TRUE(layout.lineHeight <= asked + 1 && layout.lineHeight >= asked * 9 / 10)
            << fontSize << ": " << layout.lineHeight << " for " << asked;
    }
}

}  // namespace

namespace {

TEST(ClipSheetLayoutTest, ADamagedScenesFirstPictureCarriesARedMark) {
    qv::framesPerSecond = 25.0f;
    qv::SceneList scenes;
    scenes.Append(qvtest::SceneOf("/nonexistent/tape.avi", 0, 100));
    scenes.Append(qvtest::SceneOf("/nonexistent/tape.avi", 100, 100));
    scenes[0].health.Add({.frame = 5, .concealedBlocks = 9, .audioErrors = 0, .flags = 0});
    qv::PictureCache cache{1 << 24};
    qv::ClipSheetLayout layout{&cache};
    layout.settings.picsPerScene = 2;
    QImage image(600, 400, QImage::Format_RGB32);
    image.fill(Qt::white);
    layout.clientRect = qv::SheetRect{0, 0, 600, 400};
    QPainter painter(&image);
    layout.PaintSheet(image, &painter, scenes, layout.clientRect, false);
    painter.end();
    ASSERT_EQ(layout.cells.size(), 4u);
    const auto at = [&](size_t cell) {
        const qv::SheetRect& r = layout.cells[cell].rect;
        return image.pixel(r.right - 3, r.bottom + 3) & 0xFFFFFFu;
    };
    EXPECT_EQ(at(0), 0xd62728u);  // the damaged scene's first picture
    EXPECT_NE(at(1), 0xd62728u);  // its second: no mark
    EXPECT_NE(at(2), 0xd62728u);  // the whole scene
}

}  // namespace
