// Captured tapes with known recording breaks go the whole way: scan, overlap
// removal, naming and the write run, as the buttons drive them.

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <set>
#include <tuple>

#include "app/MainView.h"
#include "app/MainWindowModel.h"
#include "platform/FileSystem.h"
#include "support/FakeQuestions.h"
#include "support/SceneSetup.h"
#include "support/Tapes.h"
#include "support/TimeZone.h"

namespace {

using qv::Answer;
using qvtest::DvTime;
using qvtest::FixtureFrame;

const char kOverlapQuestion[] =
    "There are overlapping scenes, do you want quorvandel to remove overlapping parts?\n"
    "Please note: scenes have to overlap by more than one seconds to be frame-accurately merged.";
const char kDeleteQuestion[] =
    "To save diskspace, Quorvandel will delete the sourcefiles after the marked scenes have been "
    "written.\nDo you want to proceed?";

// A scene the files must come out as.
struct ExpectedScene {
    std::string name;    // after "out'"
    std::string source;  // file name in the folder
    int first = 0, count = 0;
    std::optional<DvTime> recorded;  // local wall-clock time of the first frame
    bool summer = false;             // daylight saving time then, where the zone has it
};

class EndToEndTest : public ::testing::TestWithParam<const char*> {
protected:
    EndToEndTest() : zone_(GetParam()) { model.copyBufferBytes = 1 << 20; }

    void MakeTapes() {
        // Type-2: a +2 s jump (same scene), a forward jump, +3 s, a backward jump, -2 s
        // (same scene), -3 s, an undated stretch, and a recording over midnight.
        qvtest::FixtureOptions type2;
        tapes_["tape1.avi"] = qvtest::WriteTape(dir.Path("tape1.avi"), type2,
                                                {{75, DvTime{2004, 7, 14, 10, 0, 0}, 1},
                                                 {75, DvTime{2004, 7, 14, 10, 0, 5}},
                                                 {75, DvTime{2004, 7, 14, 12, 0, 0}},
                                                 {50, DvTime{2004, 7, 14, 12, 0, 6}},
                                                 {75, DvTime{2004, 7, 14, 8, 0, 0}},
                                                 {50, DvTime{2004, 7, 14, 8, 0, 1}},
                                                 {50, DvTime{2004, 7, 14, 8, 0, 2}},
                                                 {100, std::nullopt},
                                                 {100, DvTime{2004, 12, 31, 23, 59, 58}}});
        // Type-1 OpenDML: one recording of 50 s captured in two files that share two seconds.
        qvtest::FixtureOptions odml = qvtest::Type1Options();
        odml.generation = qvtest::Generation::OpenDml;
        tapes_["tape2 part1.avi"] = qvtest::WriteTape(
            dir.Path("tape2 part1.avi"), odml, {{1175, DvTime{2005, 8, 20, 15, 30, 0}, 5001}});
        tapes_["tape2 part2.avi"] =
            qvtest::WriteTape(dir.Path("tape2 part2.avi"), odml,
                              {{125, DvTime{2005, 8, 20, 15, 30, 45}, 5001 + 1125}});
        // Type-1 whose frames are "REF " chunks into a data file.
        const qvtest::FixtureOptions type1 = qvtest::Type1Options();
        std::vector<FixtureFrame> frames = qvtest::TapeFrames(
            type1, {{75, DvTime{2006, 1, 15, 9, 0, 0}, 9001}, {50, DvTime{2006, 1, 15, 9, 30, 0}}});
        qvtest::RiffBuilder data;
        for (FixtureFrame& f : frames) {
            const auto position = static_cast<uint32_t>(data.Position());
            data.Chunk("00__", f.video);
            f.video = qvtest::MakeRefChunk(position, dataFile());
        }
        ASSERT_TRUE(qvtest::WriteFileBytes(dataFile(), data.Bytes()));
        ASSERT_TRUE(qvtest::WriteFixtureAvi(dir.Path("tape3 ref.avi"), type1, frames));
        tapes_["tape3 ref.avi"] = frames;

        for (const char* name :
             {"tape3 ref.avi", "tape2 part2.avi", "tape1.avi", "tape2 part1.avi"}) {
            ASSERT_TRUE(model.AddInput(dir.Path(name)));
        }
        model.SetOutputPath(dir.Path("out.avi"));
    }

    std::string dataFile() const { return dir.Path("tape3 frames.dat"); }

    static std::vector<ExpectedScene> Expected() {
        return {
            {"20040714 10.00.00", "tape1.avi", 0, 150, DvTime{2004, 7, 14, 10, 0, 0}, true},
            {"20040714 12.00.00", "tape1.avi", 150, 75, DvTime{2004, 7, 14, 12, 0, 0}, true},
            {"20040714 12.00.06", "tape1.avi", 225, 50, DvTime{2004, 7, 14, 12, 0, 6}, true},
            {"20040714 08.00.00", "tape1.avi", 275, 125, DvTime{2004, 7, 14, 8, 0, 0}, true},
            // Within the last one's time span, but another recording: kept.
            {"20040714 08.00.02", "tape1.avi", 400, 50, DvTime{2004, 7, 14, 8, 0, 2}, true},
            {"#0001", "tape1.avi", 450, 100, std::nullopt, false},
            {"20041231 23.59.58", "tape1.avi", 550, 100, DvTime{2004, 12, 31, 23, 59, 58}, false},
            // The shared seconds go to the second file from its first whole second on.
            {"20050820 15.30.00", "tape2 part1.avi", 0, 1150, DvTime{2005, 8, 20, 15, 30, 0}, true},
            {"20050820 15.30.46", "tape2 part2.avi", 25, 100, DvTime{2005, 8, 20, 15, 30, 46},
             true},
            {"20060115 09.00.00", "tape3 ref.avi", 0, 75, DvTime{2006, 1, 15, 9, 0, 0}, false},
            {"20060115 09.30.00", "tape3 ref.avi", 75, 50, DvTime{2006, 1, 15, 9, 30, 0}, false},
        };
    }

    int64_t InstantOf(const ExpectedScene& e) const {
        const bool cet = std::string(GetParam()) == qvtest::kCentralEurope;
        return qvtest::Instant(*e.recorded, cet ? (e.summer ? 7200 : 3600) : 0);
    }
    std::string OutputOf(const ExpectedScene& e) const {
        return dir.Path("out'" + e.name + ".avi");
    }

    qvtest::ScopedTimeZone zone_;
    qvtest::TempDir dir;
    qvtest::FakeQuestions questions;
    qv::HeadlessView view;
    qv::MainWindowModel model{questions, view, nullptr};
    std::map<std::string, std::vector<FixtureFrame>> tapes_;
};

// In central Europe the run also deletes the sources: every one, once all its scenes
// are written; the data file the "REF " frames point into is no input and stays.
TEST_P(EndToEndTest, EachSceneBecomesAFileNamedAndDatedByItsRecording) {
    MakeTapes();
    // The scan button, with Yes to the overlap question.
    questions.answers = {Answer::Yes};
    model.ScanDatestampsCommand();
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].text, kOverlapQuestion);
    questions.asked.clear();
    const std::vector<ExpectedScene> expected = Expected();
    ASSERT_EQ(model.scenes.Count(), static_cast<int>(expected.size()));
    for (int i = 0; i < model.scenes.Count(); ++i) {
        const ExpectedScene& e = expected[static_cast<size_t>(i)];
        const qv::Scene& s = model.scenes[i];
        EXPECT_EQ(std::tie(s.outputName, s.sourceFile, s.referencedFile),
                  std::make_tuple(OutputOf(e), dir.Path(e.source),
                                  e.source == "tape3 ref.avi" ? dataFile() : ""))
            << i;
        EXPECT_EQ(std::make_tuple(s.firstFrame, s.frameCount, int64_t{s.datestamp}),
                  std::make_tuple(e.first, e.count, e.recorded ? InstantOf(e) : 0))
            << i;
    }

    const bool deleting = std::string(GetParam()) == qvtest::kCentralEurope;
    questions.answers = {Answer::Yes};
    // An undated scene's file keeps the time the system gives it, not the epoch.
    const int64_t start = static_cast<int64_t>(std::time(nullptr)) - 5;
    EXPECT_TRUE(model.WriteRun(deleting));
    ASSERT_EQ(questions.asked.size(), deleting ? 2u : 1u);
    EXPECT_EQ(questions.asked[0].text.rfind(deleting ? kDeleteQuestion : "completed successfully!", 0),
              0u);
    if (deleting) {  // the sources are named
        EXPECT_NE(questions.asked[0].text.find("\n4 files, "), std::string::npos);
    }
    EXPECT_EQ(questions.asked.back().text, "completed successfully!");
    std::set<std::string> files = {"tape3 frames.dat"};
    if (!deleting) {
        files.insert({"tape1.avi", "tape2 part1.avi", "tape2 part2.avi", "tape3 ref.avi"});
    }
    for (const ExpectedScene& e : expected) {
        const std::string out = OutputOf(e);
        EXPECT_EQ(qvtest::ReadContent(out), qvtest::ContentOf(tapes_[e.source], e.first, e.count))
            << out;
        int64_t mtime = 0;
        EXPECT_TRUE(qv::GetModificationTime(out, &mtime)) << out;
        EXPECT_TRUE(e.recorded ? mtime == InstantOf(e) : mtime >= start) << out << " " << mtime;
        files.insert("out'" + e.name + ".avi");
    }
    const std::vector<std::string> entries = qvtest::FolderEntries(dir.Dir());
    EXPECT_EQ(std::set<std::string>(entries.begin(), entries.end()), files);
    EXPECT_EQ(model.Inputs().empty(), deleting);
}

INSTANTIATE_TEST_SUITE_P(Zones, EndToEndTest, ::testing::Values("UTC", qvtest::kCentralEurope),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             return std::string(param.param) == "UTC" ? "Utc" : "CentralEurope";
                         });

}  // namespace
