#include "clipsheet/ClipSheetLayout.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <memory>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "progress/PictureCache.h"

namespace {

using qv::ClipSheetLayout;
using qv::SceneList;
using qv::SheetRect;

qv::Scene MakeScene(int firstFrame, int frameCount, int write = 1,
                    const std::string& name = "/out/scenes'20260101 10.00.00.avi") {
    qv::Scene s;
    s.sourceFile = "/nonexistent/tape.avi";
    s.outputName = name;
    s.firstFrame = firstFrame;
    s.frameCount = frameCount;
    s.write = write;
    return s;
}

SceneList ListOf(const std::vector<qv::Scene>& scenes) {
    SceneList list;
    for (const qv::Scene& s : scenes) {
        list.Append(s);
    }
    return list;
}

class ClipSheetLayoutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qv::framesPerSecond = 25.0f;
        layout_.settings = qv::ClipSheetSettings{};
    }

    // Lays out and draws the whole target of width x height.
    QImage Paint(const SceneList& scenes, int width = 600, int height = 400) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::blue);
        layout_.clientRect = SheetRect{0, 0, width, height};
        QPainter painter(&image);
        layout_.PaintSheet(image, &painter, scenes, layout_.clientRect, false);
        return image;
    }

    std::vector<int> Frames() const {
        std::vector<int> frames;
        for (const qv::ClipCell& c : layout_.cells) {
            frames.push_back(c.frame);
        }
        return frames;
    }

    qv::PictureCache cache_{1 << 24};
    ClipSheetLayout layout_{&cache_};
};

TEST_F(ClipSheetLayoutTest, PicturesRunEvenlyFromFirstToLastFrameAndOneShowsTheMiddle) {
    struct Row {
        int picsPerScene, secsPerPic, firstFrame, frameCount;
        std::vector<int> frames;
    };
    const Row rows[] = {
        {3, 0, 100, 101, {100, 150, 200}},
        {1, 0, 100, 101, {150}},                      // the middle frame
        {2, 0, 7, 10, {7, 16}},                       // first and last
        {0, 2, 100, 101, {100, 150, 200}},            // 50 frames per picture: 3 pictures
        {5, 2, 100, 101, {100, 125, 150, 175, 200}},  // the minimum is larger
        {1, 2, 100, 40, {120}},                       // one picture of 50 frames: the middle
        {0, 2, 0, 50, {25}},
        {0, 2, 0, 51, {0, 50}},
        {0, 0, 100, 101, {}},                         // no pictures at all
        {4, 0, 0, 3, {0, 1, 1, 2}},                   // step 2/3, rounded to the nearest
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.picsPerScene << " per scene, " << r.secsPerPic
                                        << " s per pic, " << r.frameCount << " frames");
        layout_.settings.picsPerScene = r.picsPerScene;
        layout_.settings.secsPerPic = r.secsPerPic;
        Paint(ListOf({MakeScene(r.firstFrame, r.frameCount)}));
        EXPECT_EQ(Frames(), r.frames);
    }
}

TEST_F(ClipSheetLayoutTest, CellsRowsAndMarginsFollowTheWidth) {
    // 600 / 6 = 100 per slot: gap 5, pictures 95 x 71; 600 / 96 = 6 columns and
    // (600 - 5 - 570) / 2 = 12 pixels left margin.
    layout_.settings.picsPerScene = 4;
    const SceneList scenes = ListOf({MakeScene(0, 100), MakeScene(100, 100), MakeScene(200, 100),
                                     MakeScene(300, 100)});
    Paint(scenes);
    EXPECT_EQ(layout_.rowGap, 5);
    EXPECT_EQ(layout_.pictureWidth, 95);
    EXPECT_EQ(layout_.pictureHeight, 71);
    EXPECT_EQ(layout_.leftMargin, 12);
    EXPECT_EQ(layout_.textLines, 2);
    ASSERT_EQ(layout_.cells.size(), 16u);
    const int textHeight = 2 * layout_.lineHeight;
    const int rowPitch = textHeight + 5 + 71;
    // A scene's first picture is 2 pixels narrower on the left, its last on the
    // right: neighbouring scenes are 5 pixels apart.
    EXPECT_EQ(layout_.cells[0].rect, (SheetRect{14, 10, 107, 81}));
    EXPECT_EQ(layout_.cells[1].rect, (SheetRect{108, 10, 203, 81}));
    EXPECT_EQ(layout_.cells[3].rect, (SheetRect{300, 10, 393, 81}));
    EXPECT_EQ(layout_.cells[4].rect.left - layout_.cells[3].rect.right, 5);
    // Cell 6 starts the second row, in the first column.
    EXPECT_EQ(layout_.cells[6].rect.top, 10 + rowPitch);
    EXPECT_EQ(layout_.cells[6].rect.left, 12);
    EXPECT_EQ(layout_.totalHeight, 10 + 2 * rowPitch + 71 + textHeight + 10);
    EXPECT_EQ(layout_.settings.picsPerLine, 6);

    // Scrolled: the same cells, higher up.
    layout_.scrollOffset = 30;
    Paint(scenes);
    EXPECT_EQ(layout_.cells[6].rect.top, 10 + rowPitch - 30);
}

TEST_F(ClipSheetLayoutTest, ColumnCountBecomesTheSettingUpToTheOptionsMaximum) {
    const SceneList scenes = ListOf({MakeScene(0, 100)});
    // 2500 / 25 = 100 per slot, pictures 95 wide: 2500 / 96 = 26 columns.
    layout_.settings.picsPerLine = 25;
    Paint(scenes, 2500, 100);
    EXPECT_EQ(layout_.settings.picsPerLine, 26);
    Paint(scenes, 2500, 100);
    EXPECT_EQ(layout_.settings.picsPerLine, 26);  // and stays there
    // 31 columns would lay out more and smaller pictures at every repaint.
    layout_.settings.picsPerLine = 30;
    Paint(scenes, 3000, 100);
    EXPECT_EQ(layout_.settings.picsPerLine, 30);
    // A target narrower than the count: pictures of no width, but no division by zero.
    layout_.settings.picsPerLine = 6;
    Paint(scenes, 3, 100);
    EXPECT_EQ(layout_.cells.size(), 3u);
    EXPECT_GE(layout_.settings.picsPerLine, 1);
}

TEST_F(ClipSheetLayoutTest, TimeTextsAreSourcePositionsOrARunningTimeFromTheOffset) {
    layout_.settings.picsPerScene = 3;
    const SceneList scenes =
        ListOf({MakeScene(1000, 101, 1, "/out/a'one.avi"), MakeScene(5000, 51, 0, "/out/a'two.avi"),
                MakeScene(200, 26, 1, "/out/a'three.avi")});
    Paint(scenes);
    ASSERT_EQ(layout_.cells.size(), 9u);
    // Offset 0: positions in the source; the length only under the first picture.
    EXPECT_EQ(layout_.TimeText(scenes, 0), "00:40:00 [00:04:01]");
    EXPECT_EQ(layout_.TimeText(scenes, 1), "00:42:00");
    EXPECT_EQ(layout_.TimeText(scenes, 2), "00:44:00");
    EXPECT_EQ(layout_.TimeText(scenes, 3), "03:20:00 [00:02:01]");
    EXPECT_EQ(layout_.NameText(scenes, 0), "a'one");
    EXPECT_EQ(layout_.NameText(scenes, 1), "");
    EXPECT_EQ(layout_.NameText(scenes, 3), "a'two");

    // Offset 250 frames: the first scene starts at 00:10:00, each next one where
    // the one before ends.
    layout_.settings.timecodeOffset = 250;
    Paint(scenes);
    EXPECT_EQ(layout_.TimeText(scenes, 0), "00:10:00 [00:04:01]");
    EXPECT_EQ(layout_.TimeText(scenes, 2), "00:14:00");           // 250 + 100
    EXPECT_EQ(layout_.TimeText(scenes, 3), "00:14:01 [00:02:01]");  // 250 + 101
    EXPECT_EQ(layout_.TimeText(scenes, 6), "00:16:02 [00:01:01]");  // 250 + 152

    // Printed, the write = NO scene is left out of the sheet and of the running time.
    layout_.printMode = 1;
    QImage page(600, 400, QImage::Format_RGB32);
    layout_.PaintSheet(page, nullptr, scenes, SheetRect{}, true);
    ASSERT_EQ(layout_.cells.size(), 6u);
    EXPECT_EQ(layout_.cells[3].sceneIndex, 2);
    EXPECT_EQ(layout_.TimeText(scenes, 3), "00:14:01 [00:01:01]");
}

TEST_F(ClipSheetLayoutTest, DrawsBracketsUnderlinesAndCrossesOutScenesNotWritten) {
    layout_.settings.picsPerScene = 2;
    const SceneList scenes = ListOf({MakeScene(0, 100, 1), MakeScene(100, 100, 0)});
    const QImage image = Paint(scenes);
    const int textHeight = layout_.textLines * layout_.lineHeight;
    const SheetRect first = layout_.cells[0].rect;
    const SheetRect last = layout_.cells[1].rect;
    const SheetRect crossed = layout_.cells[2].rect;
    auto at = [&](int x, int y) { return QColor(image.pixel(x, y)); };
    // The clip area is white outside the drawing.
    EXPECT_EQ(at(1, 1), QColor(Qt::white));
    // Brackets at the scene's outer edges, below the picture, as high as the texts.
    EXPECT_EQ(at(first.left, first.bottom + textHeight - 1), QColor(Qt::black));
    EXPECT_EQ(at(last.right, last.bottom + 1), QColor(Qt::black));
    EXPECT_NE(at(first.right, first.bottom + 1), QColor(Qt::black));  // not between its pictures
    // The underline joins the pictures of a scene and stops at its end.
    EXPECT_EQ(at(first.right, first.bottom + textHeight), QColor(Qt::black));
    EXPECT_EQ(at(last.right, last.bottom + textHeight), QColor(Qt::black));
    EXPECT_EQ(at(last.right + 2, last.bottom + textHeight), QColor(Qt::white));
    // Missing pictures wait for the timer; only the write = NO scene is crossed out.
    EXPECT_EQ(layout_.cells[0].pending, 1);
    auto middleOfCross = [](const SheetRect& r) {
        return QPoint((r.left + 4 + r.right - 5) / 2, (r.top + 4 + r.bottom - 5) / 2);
    };
    EXPECT_EQ(image.pixelColor(middleOfCross(crossed)), QColor(255, 0, 0));
    EXPECT_EQ(image.pixelColor(crossed.left + 4, crossed.top + 4), QColor(255, 0, 0));
    EXPECT_NE(image.pixelColor(middleOfCross(first)), QColor(255, 0, 0));

    // The time under every picture, the file name only under a scene's first.
    auto inks = [&](const SheetRect& r, int line) {
        int dark = 0;
        for (int y = r.bottom + line * layout_.lineHeight;
             y < r.bottom + (line + 1) * layout_.lineHeight; ++y) {
            for (int x = r.left + 1; x < r.right - 1; ++x) {
                dark += QColor(image.pixel(x, y)).lightness() < 128 ? 1 : 0;
            }
        }
        return dark;
    };
    EXPECT_GT(inks(first, 0), 0);
    EXPECT_GT(inks(last, 0), 0);
    EXPECT_GT(inks(first, 1), 0);
    EXPECT_EQ(inks(last, 1), 0);
    // Without file names nothing is written below the time line (past the
    // underline that closes it).
    layout_.settings.showFileNames = 0;
    const QImage noNames = Paint(scenes);
    int below = 0;
    const SheetRect r = layout_.cells[0].rect;
    for (int y = r.bottom + layout_.lineHeight + 2; y < r.bottom + 2 * layout_.lineHeight; ++y) {
        for (int x = r.left + 1; x < r.right - 1; ++x) {
            below += QColor(noNames.pixel(x, y)).lightness() < 128 ? 1 : 0;
        }
    }
    EXPECT_EQ(below, 0);
}

TEST_F(ClipSheetLayoutTest, AHeadlineComesFirstAndIsAllOfASheetWithoutPictures) {
    layout_.settings.picsPerScene = 0;
    layout_.settings.secsPerPic = 0;
    layout_.settings.headline = "Tape 1";
    const SceneList scenes = ListOf({MakeScene(0, 100), MakeScene(100, 50)});
    const QImage image = Paint(scenes);
    EXPECT_TRUE(layout_.cells.empty());
    const int headline = layout_.totalHeight;
    EXPECT_GT(headline, 10);
    EXPECT_EQ(layout_.lastVisibleBottom, headline);
    int dark = 0;
    for (int y = 10; y < 10 + headline; ++y) {
        for (int x = 0; x < 300; ++x) {
            dark += QColor(image.pixel(x, y)).lightness() < 128 ? 1 : 0;
        }
    }
    EXPECT_GT(dark, 0);
    // With pictures, the first row starts below it.
    layout_.settings.picsPerScene = 1;
    Paint(scenes);
    ASSERT_EQ(layout_.cells.size(), 2u);
    EXPECT_EQ(layout_.cells[0].rect.top, 10 + headline);
    EXPECT_EQ(layout_.totalHeight,
              10 + headline + 71 + layout_.textLines * layout_.lineHeight + 10);
}

TEST_F(ClipSheetLayoutTest, ACachedPictureIsCopiedAndTheRestIsLeftToTheTimer) {
    layout_.settings.picsPerScene = 2;
    const SceneList scenes = ListOf({MakeScene(0, 100)});
    Paint(scenes);
    const SheetRect r = layout_.cells[1].rect;
    cache_.Add(std::make_unique<qv::CachedPicture>(
        "/nonexistent/tape.avi", 99, r.Width(), r.Height(),
        qv::PackedDib::Make24(r.Width(), r.Height())));
    const QImage image = Paint(scenes);
    EXPECT_EQ(layout_.cells[1].available, 1);
    EXPECT_EQ(layout_.cells[1].pending, 0);
    EXPECT_EQ(layout_.cells[0].pending, 1);
    EXPECT_EQ(image.pixelColor(r.left + 10, r.top + 10), QColor(0, 0, 0));  // the cached bitmap
    EXPECT_EQ(layout_.RenderCount(), 0);
}

TEST_F(ClipSheetLayoutTest, WholeCellsDecideWhatAPageHoldsAndWhereTheNextStarts) {
    layout_.settings.picsPerScene = 6;
    layout_.printMode = 1;
    const SceneList scenes = ListOf({MakeScene(0, 100), MakeScene(100, 100)});
    QImage page(600, 200, QImage::Format_RGB32);
    layout_.clientRect = SheetRect{0, 0, 600, 200};
    layout_.PaintSheet(page, nullptr, scenes, SheetRect{0, 0, 600, 200}, true);
    const int textHeight = layout_.textLines * layout_.lineHeight;
    const int rowBottom = 10 + 71 + textHeight;
    // One row of 6 fits, the second does not: it starts the next page.
    EXPECT_EQ(layout_.lastVisibleBottom, rowBottom);
    // Nothing fits: the bottom is the sheet's end.
    layout_.PaintSheet(page, nullptr, scenes, SheetRect{0, 0, 600, 50}, true);
    EXPECT_EQ(layout_.lastVisibleBottom, layout_.totalHeight);
    // In the window a partly visible cell counts.
    layout_.PaintSheet(page, nullptr, scenes, SheetRect{0, 0, 600, 50}, false);
    EXPECT_EQ(layout_.lastVisibleBottom, rowBottom);
}

TEST_F(ClipSheetLayoutTest, HitTestFindsTheCellUnderThePoint) {
    layout_.settings.picsPerScene = 2;
    const SceneList scenes = ListOf({MakeScene(0, 100), MakeScene(100, 100)});
    Paint(scenes);
    const SheetRect r = layout_.cells[2].rect;
    EXPECT_EQ(layout_.HitTest(r.left, r.top), 2);
    EXPECT_EQ(layout_.HitTest(r.right - 1, r.bottom - 1), 2);
    EXPECT_EQ(layout_.HitTest(r.right, r.top), -1);      // the column gap
    EXPECT_EQ(layout_.HitTest(r.right + 1, r.top), 3);
    EXPECT_EQ(layout_.HitTest(r.left - 1, r.top), -1);   // the gap between scenes
    EXPECT_EQ(layout_.HitTest(r.left, r.bottom + 2), -1);  // the text under it
}

}  // namespace
