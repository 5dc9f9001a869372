// The bitmap export: the choice of scenes, the base name, the saving of a file
// (beside its final name, never onto an input, asking before a file that is no
// bitmap goes), and whole runs over real DV pictures in a fixture file.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/SceneList.h"
#include "clipsheet/BitmapExport.h"
#include "dv/BitmapImage.h"
#include "dv/PackedDib.h"
#include "platform/Progress.h"
#include "platform/SettingsStore.h"
#include "support/AviFixture.h"
#include "support/DvPictures.h"
#include "support/FakeQuestions.h"
#include "support/Faults.h"
#include "support/RecordingProgress.h"
#include "support/SceneSetup.h"

namespace {

using qv::BitmapExport;
using qv::BitmapExportSettings;
using qv::PackedDib;
using qv::SceneList;
using qvtest::FakeQuestions;
using qvtest::Rgb;
using qvtest::TempDir;

namespace fs = std::filesystem;

SceneList ScenesOfLengths(const std::vector<int>& lengths) {
    SceneList scenes;
    for (int length : lengths) {
        scenes.Append(qvtest::SceneOf({}, 0, length));
    }
    return scenes;
}

// What ChooseScenes counts, and the rows it marked.
using Chosen = std::pair<int, std::vector<int>>;
Chosen Choose(SceneList& scenes, const BitmapExportSettings& settings,
              const std::vector<int>& selected, float fps) {
    Chosen chosen{qv::ChooseScenes(scenes, settings, selected, fps), {}};
    for (int i = 0; i < scenes.Count(); ++i) {
        if (scenes[i].mark == 1) {
            chosen.second.push_back(i);
        }
    }
    return chosen;
}

TEST(BitmapExportChoiceTest, BySelectionAndByLengthAtBothFrameRates) {
    BitmapExportSettings all;
    all.selectedOnly = 0;
    SceneList scenes = ScenesOfLengths({10, 20, 30});
    scenes[1].mark = 1;
    EXPECT_EQ(Choose(scenes, all, {}, 25.0f), (Chosen{3, {0, 1, 2}}));

    BitmapExportSettings selected;  // the defaults: selected scenes only
    EXPECT_EQ(Choose(scenes, selected, {}, 25.0f), (Chosen{0, {}}));
    EXPECT_EQ(Choose(scenes, selected, {2, 0, 7, -1}, 25.0f), (Chosen{2, {0, 2}}));

    // Six seconds, two either way: 100 ... 200 frames at 25 fps, 120 ... 239 at 29.97.
    BitmapExportSettings byLength;
    byLength.selectedOnly = 0;
    byLength.useLength = 1;  // of the default 6 s
    scenes = ScenesOfLengths({99, 100, 150, 200, 201, 119, 120, 239, 240});
    EXPECT_EQ(Choose(scenes, byLength, {}, 25.0f), (Chosen{5, {1, 2, 3, 5, 6}}));
    EXPECT_EQ(Choose(scenes, byLength, {}, 29.97f), (Chosen{5, {2, 3, 4, 6, 7}}));

    // Both criteria: selected and of the length.
    byLength.selectedOnly = 1;
    EXPECT_EQ(Choose(scenes, byLength, {0, 1, 4}, 25.0f), (Chosen{1, {1}}));

    // Typed lengths of any size neither overflow nor match.
    EXPECT_FALSE(qv::HasLength(150, 2147483647, 29.97f));
    EXPECT_FALSE(qv::HasLength(150, -2147483647 - 1, 25.0f));
}

// The base is the chosen name cut at its apostrophe (the runs below pick theirs so),
// always a ".bmp" name.
TEST(BitmapExportChoiceTest, TheBaseIsTheChosenNameCutAtItsApostropheAndEndsInBmp) {
    EXPECT_EQ(qv::BitmapBasePath("/pics/it's.bmp"), "/pics/it.bmp");
    // A folder's apostrophe belongs to the folder.
    EXPECT_EQ(qv::BitmapBasePath("/home/bob's/clip.bmp"), "/home/bob's/clip.bmp");
    EXPECT_EQ(std::tuple(qv::BitmapBasePath("/pics/tape'20000412 18.03.09.avi"),
                         qv::BitmapBasePath("/pics/clip"), qv::BitmapBasePath("/pics/clip.BMP")),
              std::tuple("/pics/tape.bmp", "/pics/clip.bmp", "/pics/clip.BMP"));
}

// A small picture whose stored rows are numbered.
PackedDib SmallPicture(uint8_t first = 1) {
    PackedDib dib = PackedDib::Make24(8, 4);
    for (int i = 0; i < 4; ++i) {
        std::fill_n(dib.Row(i), dib.Stride(), static_cast<uint8_t>(first + i));
    }
    return dib;
}

// The one question asked since the last call: the bitmap could not be saved.
void ExpectCannotSave(FakeQuestions& questions) {
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].buttons, qv::Buttons::Ok);
    EXPECT_EQ(questions.asked[0].text.rfind(qv::kCannotSaveBitmap, 0), 0u);
    questions.asked.clear();
}

// A bitmap of the name is replaced unasked, any other file only when the user says yes;
// no temporary file stays behind.
TEST(SaveBmpTest, WritesTheFileBytesAskingBeforeAFileThatIsNoBitmapGoes) {
    TempDir dir;
    FakeQuestions questions;
    const std::string path = dir.Path("scenes'20000412 18.03.09.avi");
    for (const PackedDib& picture : {SmallPicture(1), SmallPicture(9)}) {
        ASSERT_TRUE(qv::SaveBmp(picture, path, questions, {}));
        EXPECT_EQ(qvtest::ReadFileBytes(path), *qv::BmpFileBytes(picture));
    }
    EXPECT_EQ(qvtest::FolderEntries(dir.Dir()), std::vector<std::string>{"scenes'20000412 18.03.09.avi"});
    EXPECT_TRUE(questions.asked.empty());

    const std::vector<uint8_t> video{'R', 'I', 'F', 'F', 1, 2, 3};
    ASSERT_TRUE(qvtest::WriteFileBytes(path, video));
    questions.answers = {qv::Answer::No};
    EXPECT_FALSE(qv::SaveBmp(SmallPicture(), path, questions, {}));
    EXPECT_EQ(qvtest::ReadFileBytes(path), video);
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].buttons, qv::Buttons::YesNoDefaultNo);
    EXPECT_EQ(questions.asked[0].text, std::string(qv::kReplaceNotBitmap) + "\n" + path);
    questions.answers = {qv::Answer::Yes};
    EXPECT_TRUE(qv::SaveBmp(SmallPicture(), path, questions, {}));
    EXPECT_EQ(qvtest::ReadFileBytes(path), *qv::BmpFileBytes(SmallPicture()));

    // An input named like the temporary file is left alone.
    ASSERT_TRUE(qvtest::WriteFileBytes(path + ".part", video));
    EXPECT_TRUE(qv::SaveBmp(SmallPicture(), path, questions, {path + ".part"}));
    EXPECT_EQ(qvtest::ReadFileBytes(path + ".part"), video);
}

// A failed write, a missing folder or a folder of the name: "can not save", nothing left.
TEST(SaveBmpTest, FailuresSayCanNotSaveBitmapAndLeaveNothingBehind) {
    TempDir dir;
    const std::string path = dir.Path("pic.bmp");
    FakeQuestions questions;
    ASSERT_TRUE(qv::SaveBmp(SmallPicture(7), path, questions, {}));
    for (qvtest::NamedFaults f : qvtest::EachSaveFault()) {
        SCOPED_TRACE(f.name);
        {
            qvtest::ScopedFaults installed(&f.faults);
            EXPECT_FALSE(qv::SaveBmp(SmallPicture(), path, questions, {}));
        }
        ExpectCannotSave(questions);
        EXPECT_EQ(qvtest::ReadFileBytes(path), *qv::BmpFileBytes(SmallPicture(7)));
        EXPECT_EQ(qvtest::FolderEntries(dir.Dir()), std::vector<std::string>{"pic.bmp"});
    }
    EXPECT_FALSE(qv::SaveBmp(SmallPicture(), dir.Path("missing/pic.bmp"), questions, {}));
    ExpectCannotSave(questions);
    fs::create_directory(dir.Path("folder.bmp"));
    EXPECT_FALSE(qv::SaveBmp(SmallPicture(), dir.Path("folder.bmp"), questions, {}));
    ExpectCannotSave(questions);
    EXPECT_TRUE(fs::is_directory(dir.Path("folder.bmp")));
}

constexpr Rgb kBlue{0x30, 0x60, 0xC0};
constexpr Rgb kRed{0xC0, 0x40, 0x20};
constexpr Rgb kGreen{0x40, 0xA0, 0x60};

// The middle pixel of a stored row (287: the middle one) of a PAL .bmp file is near colour c.
void ExpectCentreNear(const std::string& path, Rgb c, int row = 287) {
    const std::vector<uint8_t> file = qvtest::ReadFileBytes(path);
    ASSERT_EQ(file.size(), 1244214u) << path;
    const size_t at = 54 + 2160 * static_cast<size_t>(row) + 3 * 360;
    EXPECT_NEAR(file[at + 2], c.r, 8);
    EXPECT_NEAR(file[at + 1], c.g, 8);
    EXPECT_NEAR(file[at], c.b, 8);
}

// A type-1 tape of real PAL pictures: frames 0-4 blue but frame 2 red, frames
// 5-7 blue but frame 6 green, so each scene's middle frame has a colour of its own.
class BitmapExportRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static const std::vector<uint8_t> blue = qvtest::EncodeDvColour(true, kBlue),
                                          red = qvtest::EncodeDvColour(true, kRed),
                                          green = qvtest::EncodeDvColour(true, kGreen);
        ASSERT_EQ(blue.size(), 144000u) << "libavcodec's dvvideo encoder is needed";
        ASSERT_TRUE(
            qvtest::WriteVideoAvi(tape_, type1_, {blue, blue, red, blue, blue, blue, green, blue}));
        qv::framesPerSecond = 25.0f;
        scenes_ = qvtest::ListOf({qvtest::SceneOf(tape_, 0, 5, "20040714 10.20.30"),
                                  qvtest::SceneOf(tape_, 5, 3, "#0001")});
        settings_.selectedOnly = 0;
    }

    // Cancel is pressed once the bar stands at cancelAt.
    qv::BitmapExportResult Run(std::optional<std::string> chosen, int cancelAt = -1) {
        progress_.cancel = [this, cancelAt](int) {
            return !progress_.positions.empty() && progress_.positions.back().position == cancelAt;
        };
        BitmapExport exporter(questions_, &store_);
        exporter.onSaved = [this](const std::string& path) { told_.push_back(path); };
        return exporter.SaveBitmaps(
            settings_, scenes_, selected_,
            [&](const std::string& folder, const std::string& name) {
                asks_.push_back({folder, name});
                return chosen;
            },
            [&] {
                progressOpened_ = true;
                return std::make_unique<qvtest::RecordingProgress>(progress_);
            });
    }

    TempDir dir_;
    const std::string tape_ = dir_.Path("tape.avi");
    const qvtest::FixtureOptions type1_ = qvtest::Type1Options();
    qv::SettingsStore store_{dir_.Path("q.reg")};
    FakeQuestions questions_;
    SceneList scenes_;
    std::vector<int> selected_;
    BitmapExportSettings settings_;
    std::vector<std::pair<std::string, std::string>> asks_;
    std::vector<std::string> told_;
    qvtest::ProgressLog progress_;
    bool progressOpened_ = false;
};

TEST_F(BitmapExportRunTest, SavesEachChosenScenesMiddleFrameNamedAfterItsSuffix) {
    const qv::BitmapExportResult r = Run(dir_.Path("pics'20000412 18.03.09.bmp"));
    // First run: no earlier base, so the dialog offers clip.bmp in the current folder.
    ASSERT_EQ(asks_.size(), 1u);
    EXPECT_EQ(asks_[0], (std::pair<std::string, std::string>{".", "clip.bmp"}));
    const std::string first = dir_.Path("pics'20040714 10.20.30.bmp"),
                      second = dir_.Path("pics'#0001.bmp");
    EXPECT_EQ(r.chosen, 2);
    EXPECT_EQ(r.saved, (std::vector<std::string>{first, second}));
    EXPECT_EQ(told_, r.saved);
    EXPECT_TRUE(r.failed.empty() && !r.cancelled) << r.failed.size();
    EXPECT_TRUE(questions_.asked.empty());
    EXPECT_EQ(progress_.ranges, (std::vector<std::pair<int, int>>{{0, 2}}));

    ExpectCentreNear(first, kRed);
    ExpectCentreNear(second, kGreen);

    // The base is remembered, and offered as the folder next time, without a name.
    EXPECT_EQ(settings_.lastOutput, dir_.Path("pics.bmp"));
    EXPECT_EQ(qv::LoadBitmapExportSettings(store_), settings_);
    Run(std::nullopt);
    ASSERT_EQ(asks_.size(), 2u);
    EXPECT_EQ(asks_[1], (std::pair<std::string, std::string>{dir_.Dir().string(), ""}));
}

// The settings' field: 1 keeps the even field (rows 0, 2, ... from the top), any
// other value but 0 the odd one; the rows of the other field are made from their
// neighbours. A picture of grey rows, dark in the even field and light in the odd.
TEST_F(BitmapExportRunTest, TheDeinterlaceValueChoosesTheFieldKept) {
    const std::vector<uint8_t> stripes = qvtest::EncodeDvPicture(true, [](int, int y) {
        const auto v = static_cast<uint8_t>(y % 2 == 0 ? 40 : 200);
        return Rgb{v, v, v};
    });
    ASSERT_TRUE(qvtest::WriteFixtureAvi(tape_, type1_, {{stripes, {}}}));
    scenes_.RemoveAt(1);
    scenes_[0].frameCount = 1;
    const struct {
        int value;
        uint8_t top, bottom;  // rows 288 and 289 from the top
    } rows[] = {{0, 40, 200}, {1, 40, 40}, {2, 200, 200}, {-1, 200, 200}};
    for (const auto& [value, top, bottom] : rows) {
        SCOPED_TRACE(value);
        settings_.deinterlace = value;
        const qv::BitmapExportResult r = Run(dir_.Path("f.bmp"));
        ASSERT_EQ(r.saved.size(), 1u);
        ExpectCentreNear(r.saved[0], Rgb{top, top, top}, 287);
        ExpectCentreNear(r.saved[0], Rgb{bottom, bottom, bottom}, 286);
    }
}

TEST_F(BitmapExportRunTest, CancelStopsBeforeTheNextSceneAndUnreadableScenesAreSkipped) {
    qv::BitmapExportResult r = Run(dir_.Path("pics.bmp"), 1);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(r.saved, std::vector<std::string>{dir_.Path("pics'20040714 10.20.30.bmp")});

    // A missing source and a frame beyond the file: no picture, no message.
    scenes_[0].sourceFile = dir_.Path("gone.avi");
    scenes_[1].firstFrame = 100;
    scenes_.Append(qvtest::SceneOf(tape_, 5, 3, "#0002"));
    questions_.asked.clear();
    r = Run(dir_.Path("pics.bmp"));
    EXPECT_EQ(r.withoutPicture, 2);
    EXPECT_EQ(r.saved, std::vector<std::string>{dir_.Path("pics'#0002.bmp")});
    EXPECT_TRUE(questions_.asked.empty());
}

// Not even through another name: the tape, linked as an output of an earlier split,
// the base picked from that name.
TEST_F(BitmapExportRunTest, APictureNeverReplacesAnInput) {
    // The input under a second name, that of a scene's picture.
    const std::string link = dir_.Path("scenes'20040714 10.20.30.bmp");
    fs::create_hard_link(tape_, link);
    const std::vector<uint8_t> tapeBytes = qvtest::ReadFileBytes(tape_);
    const qv::BitmapExportResult r = Run(link);
    EXPECT_EQ(settings_.lastOutput, dir_.Path("scenes.bmp"));
    EXPECT_EQ(r.failed, (std::vector<std::string>{link}));
    EXPECT_EQ(r.saved, (std::vector<std::string>{dir_.Path("scenes'#0001.bmp")}));
    EXPECT_EQ(qvtest::ReadFileBytes(tape_), tapeBytes);
    ASSERT_EQ(questions_.asked.size(), 1u);
    EXPECT_EQ(questions_.asked[0].text,
              std::string(qv::kCannotSaveBitmap) + "\n" + link + " is one of the input files.");
}

}  // namespace
