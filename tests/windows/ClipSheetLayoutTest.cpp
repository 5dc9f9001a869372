#include "clipsheet/ClipSheetLayout.h"

#include <QImage>
#include <QPainter>

#include <tuple>

#include "app/SceneList.h"
#include "progress/PictureCache.h"
#include "windows/WindowTests.h"

namespace {

using qv::SheetRect;

struct SceneRow {
    int firstFrame, frameCount, write = 1;
    std::string name = "/out/scenes'20260101 10.00.00.avi";
};

qv::SceneList ListOf(const std::vector<SceneRow>& rows) {
    qv::SceneList list;
    for (const SceneRow& r : rows) {
        qv::Scene s;
        s.sourceFile = "/nonexistent/tape.avi";
        s.outputName = r.name;
        s.firstFrame = r.firstFrame;
        s.frameCount = r.frameCount;
        s.write = r.write;
        list.Append(s);
    }
    return list;
}

// The pixels darker than mid-grey in [x0, x1) x [y0, y1).
int Ink(const QImage& image, int x0, int x1, int y0, int y1) {
    int dark = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            dark += QColor(image.pixel(x, y)).lightness() < 128 ? 1 : 0;
        }
    }
    return dark;
}

class ClipSheetLayoutTest : public ::testing::Test {
  protected:
    void SetUp() override { qv::framesPerSecond = 25.0f; }

    // Lays out and draws the whole target of width x height.
    QImage Paint(const qv::SceneList& scenes, int width = 600, int height = 400) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::blue);
        layout_.clientRect = SheetRect{0, 0, width, height};
        QPainter painter(&image);
        layout_.PaintSheet(image, &painter, scenes, layout_.clientRect, false);
        return image;
    }
    std::vector<std::string> TimeTexts(const qv::SceneList& scenes, std::vector<size_t> cells) {
        std::vector<std::string> texts;
        for (size_t k : cells) {
            texts.push_back(layout_.TimeText(scenes, k));
        }
        return texts;
    }
    int TextHeight() const { return layout_.textLines * layout_.lineHeight; }

    qv::PictureCache cache_{1 << 24};
    qv::ClipSheetLayout layout_{&cache_};
};

TEST_F(ClipSheetLayoutTest, PicturesRunEvenlyFromFirstToLastFrameAndOneShowsTheMiddle) {
    const struct {
        int picsPerScene, secsPerPic, firstFrame, frameCount;
        std::vector<int> frames;
    } rows[] = {
        {3, 0, 100, 101, {100, 150, 200}},
        {1, 0, 100, 101, {150}},                      // the middle frame
        {2, 0, 7, 10, {7, 16}},                       // first and last
        {0, 2, 100, 101, {100, 150, 200}},            // 50 frames per picture: 3 pictures
        {5, 2, 100, 101, {100, 125, 150, 175, 200}},  // the minimum is larger
        {1, 2, 100, 40, {120}},                       // one picture of 50 frames: the middle
        {0, 2, 0, 50, {25}},
        {0, 2, 0, 51, {0, 50}},
        {0, 0, 100, 101, {}},        // no pictures at all
        {4, 0, 0, 3, {0, 1, 1, 2}},  // step 2/3, rounded to the nearest
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.picsPerScene << " per scene, " << r.secsPerPic
                                        << " s per pic, " << r.frameCount << " frames");
        layout_.settings.picsPerScene = r.picsPerScene;
        layout_.settings.secsPerPic = r.secsPerPic;
        Paint(ListOf({{r.firstFrame, r.frameCount}}));
        std::vector<int> frames;
        for (const qv::ClipCell& c : layout_.cells) {
            frames.push_back(c.frame);
        }
        EXPECT_EQ(frames, r.frames);
    }
}

TEST_F(ClipSheetLayoutTest, ColumnCountBecomesTheSettingUpToTheOptionsMaximum) {
    // 100 per slot, pictures 95 wide: 2500 / 96 = 26 columns, where 31 would
    // lay out more and smaller pictures at every repaint.
    for (auto [picsPerLine, width, columns] : {std::tuple{25, 2500, 26}, {30, 3000, 30}}) {
        layout_.settings.picsPerLine = picsPerLine;
        Paint(ListOf({{0, 100}}), width, 100);
        EXPECT_EQ(layout_.settings.picsPerLine, columns) << picsPerLine << " in " << width;
    }
    // A target narrower than the count: pictures of no width, but no division by zero.
    layout_.settings.picsPerLine = 6;
    Paint(ListOf({{0, 100}}), 3, 100);
    EXPECT_EQ(layout_.cells.size(), 3u);
    EXPECT_GE(layout_.settings.picsPerLine, 1);
}

TEST_F(ClipSheetLayoutTest, TimeTextsAreSourcePositionsOrARunningTimeFromTheOffset) {
    layout_.settings.picsPerScene = 3;
    const qv::SceneList scenes = ListOf({{1000, 101, 1, "/out/a'one.avi"},
                                         {5000, 51, 0, "/out/a'two.avi"},
                                         {200, 26, 1, "/out/a'three.avi"}});
    Paint(scenes);
    ASSERT_EQ(layout_.cells.size(), 9u);
    // Offset 0: positions in the source; the length only under the first picture.
    EXPECT_EQ(TimeTexts(scenes, {0, 1, 2, 3}),
              (std::vector<std::string>{"00:40:00 [00:04:01]", "00:42:00", "00:44:00",
                                        "03:20:00 [00:02:01]"}));
    EXPECT_EQ(layout_.NameText(scenes, 0), "a'one");
    EXPECT_EQ(layout_.NameText(scenes, 1), "");
    EXPECT_EQ(layout_.NameText(scenes, 3), "a'two");

    // Offset 250 frames: the first scene starts at 00:10:00, each next one where
    // the one before ends (250 + 100, 250 + 101, 250 + 152).
    layout_.settings.timecodeOffset = 250;
    Paint(scenes);
    EXPECT_EQ(TimeTexts(scenes, {0, 2, 3, 6}),
              (std::vector<std::string>{"00:10:00 [00:04:01]", "00:14:00", "00:14:01 [00:02:01]",
                                        "00:16:02 [00:01:01]"}));

    // Printed, the write = NO scene is left out of the sheet and of the running time.
    layout_.printMode = 1;
    QImage page(600, 400, QImage::Format_RGB32);
    layout_.PaintSheet(page, nullptr, scenes, SheetRect{}, true);
    ASSERT_EQ(layout_.cells.size(), 6u);
    EXPECT_EQ(layout_.cells[3].sceneIndex, 2);
    EXPECT_EQ(layout_.TimeText(scenes, 3), "00:14:01 [00:01:01]");
}

TEST_F(ClipSheetLayoutTest, DrawsUnderlinesCrossesAndTextsAndFindsTheCellUnderAPoint) {
    layout_.settings.picsPerScene = 2;
    const qv::SceneList scenes = ListOf({{0, 100, 1}, {100, 100, 0}});
    const QImage image = Paint(scenes);
    const SheetRect first = layout_.cells[0].rect;
    const SheetRect last = layout_.cells[1].rect;
    const SheetRect crossed = layout_.cells[2].rect;
    const int line = layout_.lineHeight;
    auto at = [&](int x, int y) { return image.pixelColor(x, y); };
    EXPECT_EQ(at(1, 1), QColor(Qt::white));  // the clip area is white outside the drawing
    // The underline joins the pictures of a scene and stops at its end.
    EXPECT_EQ(at(first.right, first.bottom + TextHeight()), QColor(Qt::black));
    EXPECT_EQ(at(last.right + 2, last.bottom + TextHeight()), QColor(Qt::white));
    // Missing pictures wait for the timer; only the write = NO scene is crossed out.
    EXPECT_EQ(layout_.cells[0].pending, 1);
    const QColor red(255, 0, 0);
    auto middle = [&](const SheetRect& r) {
        return at((r.left + r.right - 1) / 2, (r.top + r.bottom - 1) / 2);
    };
    EXPECT_EQ(middle(crossed), red);
    EXPECT_NE(middle(first), red);
    // The time under every picture, the file name only under a scene's first,
    // and none at all without file names.
    auto ink = [&](const QImage& in, const SheetRect& r, int y0, int y1) {
        return Ink(in, r.left + 1, r.right - 1, r.bottom + y0, r.bottom + y1);
    };
    EXPECT_GT(ink(image, last, 0, line), 0);
    EXPECT_GT(ink(image, first, line, 2 * line), 0);
    EXPECT_EQ(ink(image, last, line, 2 * line), 0);
    layout_.settings.showFileNames = 0;
    EXPECT_EQ(ink(Paint(scenes), first, line + 2, 2 * line), 0);

    EXPECT_EQ(layout_.HitTest(crossed.left, crossed.top), 2);
    EXPECT_EQ(layout_.HitTest(crossed.right - 1, crossed.bottom - 1), 2);
    EXPECT_EQ(layout_.HitTest(crossed.right, crossed.top), -1);  // the column gap
    EXPECT_EQ(layout_.HitTest(crossed.right + 1, crossed.top), 3);
    EXPECT_EQ(layout_.HitTest(crossed.left - 1, crossed.top), -1);     // the gap between scenes
    EXPECT_EQ(layout_.HitTest(crossed.left, crossed.bottom + 2), -1);  // the text under it
}

TEST_F(ClipSheetLayoutTest, AHeadlineComesFirstAndIsAllOfASheetWithoutPictures) {
    layout_.settings.picsPerScene = 0;
    layout_.settings.secsPerPic = 0;
    layout_.settings.headline = "Tape 1";
    const qv::SceneList scenes = ListOf({{0, 100}, {100, 50}});
    const QImage image = Paint(scenes);
    const int headline = layout_.totalHeight;
    EXPECT_EQ(std::tuple(layout_.cells.size(), layout_.lastVisibleBottom),
              std::tuple(0u, headline));
    EXPECT_GT(Ink(image, 0, 300, 10, 10 + headline), 0);
    // With pictures, the first row starts below it, and the sheet ends below
    // the row's texts.
    layout_.settings.picsPerScene = 1;
    Paint(scenes);
    ASSERT_EQ(layout_.cells.size(), 2u);
    EXPECT_EQ(layout_.cells[0].rect.top, 10 + headline);
    EXPECT_EQ(layout_.totalHeight, layout_.cells[0].rect.bottom + TextHeight() + 10);
}

}  // namespace
