// The clip sheet's layout: which frames its pictures show and the texts under
// them. (Drawing, clicks and printing are the clip sheet window's tests.)

#include "clipsheet/ClipSheetLayout.h"

#include <QImage>
#include <QPainter>

#include "app/SceneList.h"
#include "progress/PictureCache.h"
#include "windows/WindowTests.h"

namespace {

struct SceneRow {
    int firstFrame, frameCount, write = 1;
    std::string name = "/out/scenes'20260101 10.00.00.avi";
};

class ClipSheetLayoutTest : public ::testing::Test {
  protected:
    void SetUp() override { qv::framesPerSecond = 25.0f; }

    // Lays out and draws the scenes on a 600 x 400 target.
    void Paint(const std::vector<SceneRow>& rows) {
        scenes_ = qv::SceneList();
        for (const SceneRow& r : rows) {
            qv::Scene s;
            s.sourceFile = "/nonexistent/tape.avi";
            s.outputName = r.name;
            s.firstFrame = r.firstFrame;
            s.frameCount = r.frameCount;
            s.write = r.write;
            scenes_.Append(s);
        }
        QImage image(600, 400, QImage::Format_RGB32);
        layout_.clientRect = qv::SheetRect{0, 0, 600, 400};
        QPainter painter(&image);
        layout_.PaintSheet(image, &painter, scenes_, layout_.clientRect, false);
    }
    // The texts under the pictures cells, the time and the name between bars.
    std::vector<std::string> Texts(std::vector<size_t> cells) {
        std::vector<std::string> texts;
        for (size_t k : cells) {
            texts.push_back(layout_.TimeText(scenes_, k) + "|" + layout_.NameText(scenes_, k));
        }
        return texts;
    }

    qv::PictureCache cache_{1 << 24};
    qv::ClipSheetLayout layout_{&cache_};
    qv::SceneList scenes_;
};

TEST_F(ClipSheetLayoutTest, PicturesRunEvenlyFromFirstToLastFrameAndOneShowsTheMiddle) {
    const struct {
        int picsPerScene, secsPerPic, firstFrame, frameCount;
        std::vector<int> frames;
    } rows[] = {
        {3, 0, 100, 101, {100, 150, 200}},
        {1, 0, 100, 101, {150}},                      // the middle frame
        {0, 2, 100, 101, {100, 150, 200}},            // 50 frames per picture: 3 pictures
        {5, 2, 100, 101, {100, 125, 150, 175, 200}},  // the minimum is larger
        {0, 2, 0, 50, {25}},                          // one picture of 50 frames: the middle
        {0, 0, 100, 101, {}},                         // no pictures at all
        {4, 0, 0, 3, {0, 1, 1, 2}},                   // step 2/3, rounded to the nearest
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.picsPerScene << " per scene, " << r.secsPerPic
                                        << " s per pic, " << r.frameCount << " frames");
        layout_.settings.picsPerScene = r.picsPerScene;
        layout_.settings.secsPerPic = r.secsPerPic;
        Paint({{r.firstFrame, r.frameCount}});
        std::vector<int> frames;
        for (const qv::ClipCell& c : layout_.cells) {
            frames.push_back(c.frame);
        }
        EXPECT_EQ(frames, r.frames);
    }
}

TEST_F(ClipSheetLayoutTest, TimeTextsAreSourcePositionsOrARunningTimeFromTheOffset) {
    layout_.settings.picsPerScene = 3;
    const std::vector<SceneRow> rows = {{1000, 101, 1, "/out/a'one.avi"},
                                        {5000, 51, 0, "/out/a'two.avi"},
                                        {200, 26, 1, "/out/a'three.avi"}};
    Paint(rows);
    ASSERT_EQ(layout_.cells.size(), 9u);
    // Offset 0: positions in the source; the length and the name only under a
    // scene's first picture.
    EXPECT_EQ(Texts({0, 1, 2, 3}),
              (std::vector<std::string>{"00:40:00 [00:04:01]|a'one", "00:42:00|", "00:44:00|",
                                        "03:20:00 [00:02:01]|a'two"}));
    // Offset 250 frames: the first scene starts at 00:10:00, each next one where
    // the one before ends (250 + 100, 250 + 101, 250 + 152).
    layout_.settings.timecodeOffset = 250;
    Paint(rows);
    EXPECT_EQ(Texts({0, 2, 3, 6}),
              (std::vector<std::string>{"00:10:00 [00:04:01]|a'one", "00:14:00|",
                                        "00:14:01 [00:02:01]|a'two", "00:16:02 [00:01:01]|a'three"}));
    // Printed, the write = NO scene is left out of the sheet and of the running time.
    layout_.printMode = 1;
    QImage page(600, 400, QImage::Format_RGB32);
    layout_.PaintSheet(page, nullptr, scenes_, qv::SheetRect{}, true);
    ASSERT_EQ(layout_.cells.size(), 6u);
    EXPECT_EQ(std::pair(layout_.cells[3].sceneIndex, layout_.TimeText(scenes_, 3)),
              std::pair(2, std::string("00:14:01 [00:01:01]")));
}

}  // namespace
