// The clip sheet's layout: which frames its pictures show and the texts under
// them. (Drawing, clicks, one picture's middle frame and printing are the clip
// sheet window's tests.)

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

TEST_F(ClipSheetLayoutTest, PicturesRunEvenlyUnderTheirSourcePositionsOrARunningTimeFromTheOffset) {
    layout_.settings.picsPerScene = 3;
    const std::vector<SceneRow> rows = {{1000, 101, 1, "/out/a'one.avi"},
                                        {5000, 51, 0, "/out/a'two.avi"},
                                        {200, 26, 1, "/out/a'three.avi"}};
    Paint(rows);
    ASSERT_EQ(layout_.cells.size(), 9u);
    // The pictures run evenly from a scene's first frame to its last.
    EXPECT_EQ((std::vector{layout_.cells[0].frame, layout_.cells[1].frame, layout_.cells[2].frame}),
              (std::vector{1000, 1050, 1100}));
    // Offset 0: positions in the source; the length and the name only under a
    // scene's first picture.
    EXPECT_EQ(Texts({0, 1, 2, 3}),
              (std::vector<std::string>{"00:40:00 [00:04:01]|a'one", "00:42:00|", "00:44:00|",
                                        "03:20:00 [00:02:01]|a'two"}));
    // Offset 250 frames: the first scene starts at 00:10:00, each next one where
    // the one before ends (250 + 100, 250 + 101, 250 + 152).
    layout_.settings.timecodeOffset = 250;
    Paint(rows);
    EXPECT_EQ(
        Texts({0, 2, 3, 6}),
        (std::vector<std::string>{"00:10:00 [00:04:01]|a'one", "00:14:00|",
                                  "00:14:01 [00:02:01]|a'two", "00:16:02 [00:01:01]|a'three"}));
}

}  // namespace
