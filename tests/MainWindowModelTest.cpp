#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <array>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "app/MainView.h"
#include "app/MainWindowModel.h"
#include "app/SceneListExport.h"
#include "platform/FileSystem.h"
#include "support/FakeQuestions.h"
#include "support/Faults.h"
#include "support/FfmpegTapes.h"
#include "support/RecordingProgress.h"
#include "support/Tapes.h"
#include "support/TimeZone.h"

namespace {

using qv::Answer;
using qvtest::DvTime;

const char kDeleteQuestion[] =
    "To save diskspace, Quorvandel will delete the sourcefiles after the marked scenes have been "
    "written.\nDo you want to proceed?";
const char kCompleted[] = "completed successfully!";
const char kError[] = "An error occured!";

// A list view with selection and focus, as the window has it.
class FakeView : public qv::MainView {
public:
    void RefreshRows(int row) override {
        refreshed.push_back(row);
        if (row == kAllRows) {  // the items are rebuilt: selection and focus are gone
            selected.clear();
            focused = -1;
        }
    }
    void ShowScenePictures(int) override {}
    void EnableWriteScenes(bool enabled) override { writeEnabled = enabled; }
    void SetFileInformation(const std::string& text) override { information = text; }
    void SetSelectionStatus(const std::string& text) override { status = text; }
    void InputListChanged() override { ++inputChanges; }
    std::vector<int> SelectedRows() override { return {selected.begin(), selected.end()}; }
    int FocusedRow() override { return focused; }
    void DeselectRow(int row) override { selected.erase(row); }
    void FocusRow(int row) override {
        selected.insert(row);
        focused = row;
    }
    std::unique_ptr<qv::Progress> OpenProgress(const std::string& title) override {
        progressTitles.push_back(title);
        return std::make_unique<qvtest::RecordingProgress>(progress);
    }
    std::optional<std::string> AskSaveFileName(const std::string& title,
                                               const std::string& folder) override {
        saveDialogs.push_back(title + " in " + folder);
        if (saveNames.empty()) {
            return std::nullopt;
        }
        std::string name = saveNames.front();
        saveNames.pop_front();
        return name;
    }

    std::set<int> selected;
    int focused = -1;
    std::vector<int> refreshed;
    bool writeEnabled = false;
    std::string information, status;
    int inputChanges = 0;
    std::vector<std::string> progressTitles;
    qvtest::ProgressLog progress;  // of all progress dialogs, kept after they are closed
    std::vector<std::string> saveDialogs;
    std::deque<std::string> saveNames;
};

using Paths = std::vector<std::string>;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }
Paths Existing(Paths paths) {
    std::erase_if(paths, [](const std::string& p) { return !Exists(p); });
    return paths;
}

ino_t Inode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}
// A size as the deletion question gives sizes under a megabyte.
std::string KiloBytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f kB", static_cast<double>(bytes) / 1000.0);
    return text;
}
int64_t ModificationTime(const std::string& path) {
    int64_t modified = -1;
    return qv::GetModificationTime(path, &modified) ? modified : -1;
}

class MainWindowModelTest : public ::testing::Test {
protected:
    MainWindowModelTest() {
        model.copyBufferBytes = 1 << 20;
        model.outputPath = dir.Path("out.avi");
    }

    // Adds an input: a type-1 tape of recordings of the given lengths, one hour apart
    // from start on.
    std::string Add(const std::string& name, const std::vector<int>& lengths, DvTime start) {
        std::vector<qvtest::Stretch> stretches;
        for (size_t i = 0; i < lengths.size(); ++i) {
            stretches.push_back({lengths[i], qvtest::Plus(start, 3600 * static_cast<int>(i)),
                                 i == 0 ? nextSeed_ : 0});
        }
        nextSeed_ += 100000;
        const std::string path = dir.Path(name);
        frames[path] = qvtest::WriteTape(path, {.type = qvtest::DvType::Type1}, stretches);
        EXPECT_TRUE(model.AddInput(path));
        return path;
    }
    // Adds a.avi, b.avi, ... of these recordings from these starts and scans them; names
    // gets the scenes' output names.
    template <size_t N>
    std::array<std::string, N> Scan(const std::pair<std::vector<int>, DvTime> (&tapes)[N]) {
        std::array<std::string, N> paths;
        for (size_t i = 0; i < N; ++i) {
            paths[i] = Add(std::string(1, static_cast<char>('a' + i)) + ".avi", tapes[i].first,
                           tapes[i].second);
        }
        EXPECT_TRUE(model.ScanDatestamps(true));
        names = OutputNames();
        return paths;
    }
    // A run that deletes the sources, the questions answered so.
    bool Run(std::deque<Answer> answers = {Answer::Yes}) {
        questions.answers = std::move(answers);
        return model.WriteRun(true);
    }
    // The scene's frames as they must arrive in its output file.
    qvtest::FileContent Expected(const qv::Scene& s) {
        return qvtest::ContentOf(frames[s.sourceFile], s.firstFrame, s.frameCount);
    }
    // The output of each scene at rows with the content it must get; taken before a
    // run, which may scan the inputs again.
    using Outputs = std::vector<std::pair<std::string, qvtest::FileContent>>;
    Outputs Planned(std::initializer_list<int> rows) {
        Outputs outputs;
        for (int row : rows) {
            outputs.emplace_back(model.scenes[row].outputName, Expected(model.scenes[row]));
        }
        return outputs;
    }
    static void ExpectWritten(const Outputs& outputs) {
        for (const auto& [name, content] : outputs) {
            EXPECT_EQ(qvtest::ReadContent(name), content) << name;
        }
    }
    Paths OutputNames() const {
        Paths out;
        for (const qv::Scene& s : model.scenes) {
            out.push_back(s.outputName);
        }
        return out;
    }
    Paths Told() const {
        Paths texts;
        for (const auto& a : questions.asked) {
            if (a.buttons == qv::Buttons::Ok) {
                texts.push_back(a.text);
            }
        }
        return texts;
    }
    bool WasTold(const std::string& part) const {
        return std::ranges::any_of(
            Told(), [&](const std::string& t) { return t.find(part) != std::string::npos; });
    }

    qvtest::ScopedTimeZone zone{"UTC"};
    qvtest::TempDir dir;
    qvtest::FakeQuestions questions;
    FakeView view;
    qv::MainWindowModel model{questions, view, nullptr};
    std::map<std::string, std::vector<qvtest::FixtureFrame>> frames;
    Paths names;

private:
    uint32_t nextSeed_ = 1;
};

const DvTime kJuly{2004, 7, 14, 10, 0, 0};
const DvTime kAugust{2004, 8, 1, 10, 0, 0};
const DvTime kSeptember{2004, 9, 1, 10, 0, 0};

TEST_F(MainWindowModelTest, InputListIsSortedIgnoringCaseAndHoldsEachFileOnce) {
    const std::string b = Add("B.avi", {30}, kJuly);
    const std::string c = Add("c.avi", {10}, kSeptember);
    const std::string a = Add("a.avi", {20}, kAugust);
    std::filesystem::create_directory(dir.Path("sub"));
    std::filesystem::create_symlink(b, dir.Path("link.avi"));
    EXPECT_EQ(model.Inputs(), (Paths{a, b, c}));
    // The same file again, a folder or a device is no new input.
    for (const std::string& refused : {b, dir.Path("link.avi"), dir.Path("sub/../B.avi"),
                                       std::string(), dir.Path("sub"), std::string("/dev/null")}) {
        EXPECT_FALSE(model.AddInput(refused)) << refused;
    }
    EXPECT_EQ(model.Inputs().size(), 3u);
    // A file of no kind that is read is refused with a message naming it, not listed as
    // a scene of 0 frames.
    const std::string notes = dir.Path("notes.dv");
    ASSERT_TRUE(qvtest::WriteFileBytes(notes, {'h', 'i', '\n'}));
    EXPECT_FALSE(model.AddInput(notes));
    EXPECT_EQ(Told(), (Paths{notes + ": not an AVI, raw DV or QuickTime file."}));
    questions.asked.clear();

    // Files that are gone leave the list; the others become unscanned records.
    EXPECT_TRUE(model.AddInput(dir.Path("d.avi")));
    std::filesystem::remove(c);
    const int changes = view.inputChanges;
    model.RebuildFromInputs();
    EXPECT_EQ(model.Inputs(), (Paths{a, b}));
    EXPECT_GT(view.inputChanges, changes);
    ASSERT_EQ(model.scenes.Count(), 2);
    for (int i = 0; i < 2; ++i) {
        const qv::Scene& s = model.scenes[i];
        EXPECT_EQ(s.sourceFile, model.Inputs()[static_cast<size_t>(i)]);
        EXPECT_EQ(s.outputName, s.sourceFile);
        EXPECT_EQ(std::tie(s.frameCount, s.write, s.wholeFile, s.unscanned, s.firstFrame, s.datestamp),
                  std::make_tuple(i == 0 ? 20 : 30, 1, 1, 1, 0, 0));
    }
    EXPECT_FALSE(view.writeEnabled);
    EXPECT_EQ(view.information.rfind("file a.avi, 20 frames", 0), 0u) << view.information;
    // Unscanned records are never written.
    EXPECT_FALSE(model.WriteRun(false));
    EXPECT_TRUE(questions.asked.empty());

    EXPECT_TRUE(model.ScanDatestamps(true));
    EXPECT_TRUE(view.writeEnabled);
    EXPECT_EQ(OutputNames(), (Paths{dir.Path("out'20040801 10.00.00.avi"),
                                    dir.Path("out'20040714 10.00.00.avi")}));

    model.RemoveInputs({1, 0, 1});
    EXPECT_TRUE(model.Inputs().empty());
    model.RebuildFromInputs();
    EXPECT_EQ(std::tuple(model.scenes.Count(), view.information, view.writeEnabled),
              std::tuple(0, "", false));
    model.ScanDatestampsCommand();
    EXPECT_EQ(Told(), (Paths{"Please specify some inputfiles first."}));
}

TEST_F(MainWindowModelTest, ScanBarHasAStepPer256FramesOfAllInputs) {
    Scan({{{300}, kJuly}, {{211}, kAugust}});
    EXPECT_EQ(view.progress.ranges.front(), std::make_pair(0, 1));  // 511 frames
    Add("c.avi", {1}, kSeptember);
    view.progress.ranges.clear();
    ASSERT_TRUE(model.ScanDatestamps(true));
    EXPECT_EQ(view.progress.ranges.front(), std::make_pair(0, 2));
}

// An undated ffmpeg-made tape: recordings started at frames 0 and 30, the timecode
// breaking at 60 and the picture turning 16:9 at 90.
TEST_F(MainWindowModelTest, ThoroughScanListsTheScenesOfTheMarksTheSettingsSplitAt) {
    std::vector<uint8_t> bytes;
    for (const auto& frame : qvtest::TapeOf({{30, nullptr, "00:00:00:00", true},
                                             {30, nullptr, "00:00:01:05", true},
                                             {30, nullptr, "00:10:00:00"},
                                             {30, nullptr, "00:10:01:05", false, true}})) {
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    ASSERT_TRUE(qvtest::WriteFileBytes(dir.Path("tape.dv"), bytes));
    ASSERT_TRUE(model.AddInput(dir.Path("tape.dv")));
    using Scenes = std::vector<std::tuple<int, int, std::string, std::string>>;
    const auto scan = [&](int recordingStarts, int timecodeBreaks, int formatChanges) {
        model.settings.splitRecordingStarts = recordingStarts;
        model.settings.splitTimecodeBreaks = timecodeBreaks;
        model.settings.splitFormatChanges = formatChanges;
        EXPECT_TRUE(model.ScanThoroughly(true));
        Scenes found;
        for (const qv::Scene& s : model.scenes) {
            found.emplace_back(s.firstFrame, s.frameCount, qv::SceneStartName(s.start),
                               s.outputName.substr(dir.Path("").size()));
        }
        return found;
    };
    EXPECT_EQ(scan(1, 1, 1), (Scenes{{0, 30, "file", "out'#0001.avi"},
                                     {30, 30, "recording-start", "out'#0002.avi"},
                                     {60, 30, "timecode", "out'#0003.avi"},
                                     {90, 30, "format", "out'#0004.avi"}}));
    EXPECT_TRUE(view.writeEnabled);
    EXPECT_EQ(scan(0, 1, 1), (Scenes{{0, 60, "file", "out'#0001.avi"},
                                     {60, 30, "timecode", "out'#0002.avi"},
                                     {90, 30, "format", "out'#0003.avi"}}));
    EXPECT_EQ(scan(1, 0, 1), (Scenes{{0, 30, "file", "out'#0001.avi"},
                                     {30, 60, "recording-start", "out'#0002.avi"},
                                     {90, 30, "format", "out'#0003.avi"}}));
    EXPECT_EQ(scan(1, 1, 0), (Scenes{{0, 30, "file", "out'#0001.avi"},
                                     {30, 30, "recording-start", "out'#0002.avi"},
                                     {60, 60, "timecode", "out'#0003.avi"}}));
    EXPECT_EQ(scan(0, 0, 0), (Scenes{{0, 120, "file", "out'#0001.avi"}}));
}

TEST_F(MainWindowModelTest, DialogsOpenInTheLongestExistingFolderOfTheFirst511Characters) {
    std::filesystem::create_directories(dir.Path("a/b"));
    ASSERT_TRUE(qvtest::WriteFileBytes(dir.Path("a/notes.txt"), {1}));
    EXPECT_EQ(qv::ExistingDirectoryOf(dir.Path("a/b/missing/x.avi")), dir.Path("a/b"));
    EXPECT_EQ(qv::ExistingDirectoryOf(dir.Path("a/b")), dir.Path("a"));
    EXPECT_EQ(qv::ExistingDirectoryOf(dir.Path("a/notes.txt/x.avi")), dir.Path("a"));
    EXPECT_EQ(qv::ExistingDirectoryOf("scenes.avi"), ".");
    EXPECT_EQ(qv::ExistingDirectoryOf("/x.avi"), "/");
    // A folder whose name ends at the 511th character lies beyond the handled length.
    std::string deep = dir.Dir().string();
    while (deep.size() + 201 < 511) {
        deep += "/" + std::string(200, 'x');
    }
    const std::string parent = deep;
    deep += "/" + std::string(510 - deep.size(), 'y');
    ASSERT_EQ(deep.size(), 511u);
    std::filesystem::create_directories(deep);
    EXPECT_EQ(qv::ExistingDirectoryOf(deep + "/x.avi"), parent);
}

TEST_F(MainWindowModelTest, SetWriteForSelectedMarksTheRowsAndWalksDownTheList) {
    Add("tape.avi", {50, 25, 75}, kJuly);
    model.ScanDatestampsCommand();
    ASSERT_EQ(model.scenes.Count(), 3);
    EXPECT_TRUE(questions.asked.empty());  // nothing overlaps: no question
    // After the scan only the first row is selected and focused.
    EXPECT_EQ(std::tie(view.selected, view.focused, view.status),
              std::tuple(std::set<int>{0}, 0, "length: 00:02:00, 1 clip"));

    model.SetWriteForSelected(0, true);
    EXPECT_EQ(std::tie(model.scenes[0].write, model.scenes[1].write), std::make_tuple(0, 1));
    EXPECT_EQ(std::tie(view.selected, view.focused, view.refreshed.back()),
              std::tuple(std::set<int>{1}, 1, 0));

    view.selected = {1, 2};
    view.focused = 2;
    model.SetWriteForSelected(0, true);
    EXPECT_EQ(model.scenes[1].write + model.scenes[2].write, 0);
    // The focus was on the last row.
    EXPECT_EQ(std::tie(view.selected, view.status), std::tuple(std::set<int>{}, ""));

    view.selected = {0, 2};
    view.focused = 0;
    model.SetWriteForSelected(1, false);
    EXPECT_EQ(model.scenes[0].write + model.scenes[2].write, 2);
    EXPECT_EQ(view.selected, (std::set<int>{0, 2}));
    EXPECT_EQ(view.status, "length: 00:05:00, 2 clips");
    // The thorough scan's damage of the selected scenes is named after their length.
    model.scenes[2].health.Add({.frame = 7, .concealedBlocks = 3, .audioErrors = 0, .flags = 0});
    model.scenes[2].health.Add({.frame = 9, .concealedBlocks = 0, .audioErrors = 0, .flags = 1});
    model.SetWriteForSelected(1, false);
    EXPECT_EQ(view.status, "length: 00:05:00, 2 clips, 2 damaged frames");
}

TEST_F(MainWindowModelTest, WriteRunNamesEverySceneAndScalesTheBarTo1024Steps) {
    Scan({{{1024, 976, 1000}, kJuly}});
    ASSERT_EQ(names.size(), 3u);
    model.scenes[1].write = model.scenes[2].write = 0;
    // The bar of a finished run stands full under the report of success.
    int position = -1, positionWhenTold = -1;
    view.progress.onPosition = [&](int p) { position = p >= 0 ? p : position; };
    questions.onAsk = [&](const qvtest::FakeQuestions::Asked&) { positionWhenTold = position; };
    questions.asked.clear();
    EXPECT_TRUE(model.WriteRun(false));
    EXPECT_EQ(view.progress.ranges.back(), std::make_pair(0, 1024));
    EXPECT_EQ(positionWhenTold, 1024);
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].kind, qv::MessageKind::Information);

    model.scenes[1].write = model.scenes[2].write = 1;
    view.progress.texts.clear();
    EXPECT_TRUE(model.WriteRun(false));
    EXPECT_EQ(view.progress.texts,
              (Paths{"writing " + names[0], "writing " + names[1], "writing " + names[2]}));
    EXPECT_EQ(view.progress.ranges.back(), std::make_pair(0, 750));
    ExpectWritten(Planned({0, 1, 2}));
    EXPECT_EQ(model.scenes.Count(), 3);  // nothing deleted: no rescan
}

TEST_F(MainWindowModelTest, WriteScenesScansFirstAsksBeforeDeletingAndMissingFoldersAreNamed) {
    const std::string tape = Add("tape.avi", {30, 20}, kJuly);
    model.settings.deleteSourceFiles = 1;
    questions.answers = {Answer::No};
    model.WriteScenes();
    ASSERT_EQ(questions.asked.size(), 1u);
    // The question names the files it deletes and their size.
    EXPECT_EQ(questions.asked[0].text, std::string(kDeleteQuestion) + "\n\n1 file, " +
                                           KiloBytes(std::filesystem::file_size(tape)) + ":\n" +
                                           tape);
    EXPECT_EQ(questions.asked[0].buttons, qv::Buttons::YesNo);
    EXPECT_EQ(view.progressTitles, (Paths{"Scanning..."}));
    ASSERT_EQ(model.scenes.Count(), 2);
    EXPECT_FALSE(Exists(model.scenes[0].outputName));

    model.settings.deleteSourceFiles = 0;
    model.WriteScenes();
    EXPECT_EQ(qvtest::ReadContent(dir.Path("out'20040714 11.00.00.avi")),
              Expected(model.scenes[1]));
    EXPECT_TRUE(Exists(tape));

    // The scene list's save dialog asks again until the file can be written.
    questions.asked.clear();
    view.saveNames = {dir.Path("missing/list.txt"), dir.Path("list.txt")};
    model.SaveList();
    EXPECT_EQ(Told(), (Paths{"Can't open the file for writing"}));
    const std::string dialog = "Save scenelist as textfile in " + dir.Dir().string();
    EXPECT_EQ(view.saveDialogs, (Paths{dialog, dialog}));
    EXPECT_EQ(qvtest::ReadFileText(dir.Path("list.txt")), qv::SceneListText(model.scenes));
    model.SaveList();  // cancelled
    EXPECT_EQ(std::pair(view.saveDialogs.size(), Told().size()), std::pair(size_t{3}, size_t{1}));

    // A missing output folder is named before anything is asked or written.
    const std::string missing = dir.Path("gone/deeper");
    model.SetOutputPath(missing + "/out.avi");
    view.progressTitles.clear();
    questions.asked.clear();
    EXPECT_FALSE(model.WriteRun(true));
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].text,
              "The output folder does not exist:\n" + missing +
                  "\nNo scene was written. Please choose an output filename in an existing folder.");
    EXPECT_EQ(questions.asked[0].kind, qv::MessageKind::Warning);
    EXPECT_TRUE(view.progressTitles.empty());
    EXPECT_TRUE(Exists(tape));
    EXPECT_FALSE(Exists(dir.Path("gone")));
    // Only marked scenes need their folder: with none marked the run completes.
    model.scenes[0].write = model.scenes[1].write = 0;
    questions.asked.clear();
    EXPECT_TRUE(model.WriteRun(false));
    EXPECT_EQ(Told(), (Paths{kCompleted}));
}

TEST_F(MainWindowModelTest, DeletesEachSourceRightAfterItsLastMarkedScene) {
    const auto [a, b] = Scan({{{30, 20}, kJuly}, {{25, 40}, kAugust}});
    ASSERT_EQ(names.size(), 4u);
    model.scenes[1].write = 0;
    const Outputs written = Planned({0, 2, 3});
    Paths seen;
    view.progress.onText = [&](const std::string& text) {
        seen.push_back(text + (Exists(a) ? " A" : "") + (Exists(b) ? " B" : ""));
    };
    // Scene 2 is in no output: the user is asked again, naming a.avi and its length.
    EXPECT_TRUE(Run({Answer::Yes, Answer::Yes}));
    ASSERT_GE(questions.asked.size(), 2u);
    EXPECT_EQ(questions.asked[1].text,
              "These source files hold frames that are in no marked scene; deleting them loses "
              "those frames:\n" + a + " (00:00:20)\nDelete these files as well?\n(No writes the "
              "marked scenes and keeps these files.)");
    EXPECT_EQ(questions.asked[1].buttons, qv::Buttons::YesNoDefaultNo);  // frames would go
    EXPECT_EQ(seen, (Paths{"writing " + names[0] + " A B", "writing " + names[1] + " B",
                           "writing " + names[2] + " B", "writing " + names[3] + " B"}));
    EXPECT_EQ(Existing({a, b, names[1]}), Paths{});
    ExpectWritten(written);
    EXPECT_TRUE(model.Inputs().empty());
    EXPECT_EQ(model.scenes.Count(), 0);  // scanned again: nothing left
    EXPECT_TRUE(WasTold(kCompleted));
}

TEST_F(MainWindowModelTest, SourcesWithUnwrittenScenesAreKeptWhenTheUserSaysNo) {
    const auto [a, b, c] = Scan({{{30, 20}, kJuly}, {{25, 40}, kAugust}, {{10}, kJuly}});
    ASSERT_EQ(names.size(), 5u);
    // a: one scene unmarked; b: both marked; c: nothing marked at all.
    model.scenes[1].write = model.scenes[4].write = 0;
    EXPECT_TRUE(Run({Answer::Yes, Answer::No}));
    ASSERT_GE(questions.asked.size(), 2u);
    const std::string& asked = questions.asked[1].text;
    EXPECT_NE(asked.find(a + " (00:00:20)\n" + c + " (00:00:10)\n"), std::string::npos) << asked;
    EXPECT_EQ(asked.find(b), std::string::npos) << asked;
    EXPECT_EQ(Existing({a, b, c}), (Paths{a, c}));
    EXPECT_EQ(Existing(names), (Paths{names[0], names[2], names[3]}));
    EXPECT_EQ(model.Inputs(), (Paths{a, c}));
    EXPECT_TRUE(WasTold(kCompleted));
}

TEST_F(MainWindowModelTest, WholeFileIsMovedByRenamingButNeverOntoAnExistingFile) {
    const auto [a, b] = Scan({{{40}, kJuly}, {{30}, kAugust}});
    ASSERT_EQ(names.size(), 2u);
    ASSERT_TRUE(qvtest::WriteFileBytes(names[1], {1, 2, 3}));
    const auto original = qvtest::ReadFileBytes(a);
    const ino_t inodeA = Inode(a), inodeB = Inode(b);

    EXPECT_FALSE(Run({Answer::Yes, Answer::Abort}));
    EXPECT_FALSE(Exists(a));
    EXPECT_EQ(Inode(names[0]), inodeA);  // the file itself, not a copy
    EXPECT_EQ(qvtest::ReadFileBytes(names[0]), original);
    EXPECT_EQ(ModificationTime(names[0]), qvtest::Instant(kJuly));  // dated like a copied scene
    ASSERT_EQ(questions.asked.size(), 3u);
    EXPECT_EQ(questions.asked[1].text, "Do you want to overwrite\r\n" + names[1] + "?");
    EXPECT_EQ(questions.asked[2].text, std::string(kError) + "\n1 of 2 marked scenes written.");
    EXPECT_EQ(qvtest::ReadFileBytes(names[1]), (std::vector<uint8_t>{1, 2, 3}));
    // Scanned again: the moved file has left the list.
    EXPECT_EQ(model.Inputs(), (Paths{b}));
    ASSERT_EQ(model.scenes.Count(), 1);

    EXPECT_TRUE(Run({Answer::Yes, Answer::Yes}));
    EXPECT_FALSE(Exists(b));
    EXPECT_NE(Inode(names[1]), inodeB);
    EXPECT_EQ(qvtest::ReadContent(names[1]), qvtest::ContentOf(frames[b], 0, 30));
}

// Neither a single frame nor a missing datestamp keeps a whole file from being
// moved; an undated one keeps its own time. A capture cut short (no "idx1", its last
// frame half there) is copied rather than moved: the output gets the whole frames and
// a complete index.
TEST_F(MainWindowModelTest, UndatedSourceOfASingleFrameIsMovedAndKeepsItsTime) {
    const std::string a = dir.Path("a.avi");
    qvtest::WriteTape(a, {.type = qvtest::DvType::Type1}, {{1, std::nullopt, 1}});
    ASSERT_TRUE(qv::SetModificationTime(a, 1000000000));
    const ino_t inodeA = Inode(a);
    ASSERT_TRUE(model.AddInput(a));
    const std::string b = Add("b.avi", {40}, kJuly);
    std::filesystem::resize_file(b, std::filesystem::file_size(b) * 9 / 10);
    const ino_t inodeB = Inode(b);
    EXPECT_TRUE(model.ScanDatestamps(true));
    names = OutputNames();
    ASSERT_EQ(names.size(), 2u);
    ASSERT_EQ(model.scenes[0].datestamp, 0);
    ASSERT_EQ(model.scenes[1].wholeFile, 1);
    const int frameCount = model.scenes[1].frameCount;
    EXPECT_LT(frameCount, 40);
    EXPECT_TRUE(Run());
    EXPECT_EQ(Existing({a, b}), Paths{});
    EXPECT_EQ(Inode(names[0]), inodeA);
    EXPECT_EQ(ModificationTime(names[0]), 1000000000);
    EXPECT_NE(Inode(names[1]), inodeB);
    EXPECT_EQ(qvtest::ReadContent(names[1]), qvtest::ContentOf(frames[b], 0, frameCount));
    auto output = qv::OpenAviFile(names[1]);
    ASSERT_NE(output, nullptr);
    EXPECT_FALSE(output->IndexRebuilt());
}

TEST_F(MainWindowModelTest, FailingCopyEndsTheRunAndKeepsItsSource) {
    const auto [a, b, c] = Scan({{{30, 20}, kJuly}, {{25, 40}, kAugust}, {{35}, kSeptember}});
    ASSERT_EQ(names.size(), 5u);
    const Outputs written = Planned({0, 1, 2});
    // The disk fails while the fourth scene is written.
    qv::WriteFaults faults{.failWriteAt = 0};
    view.progress.onText = [&](const std::string& text) {
        if (text == "writing " + names[3]) {
            qv::SetWriteFaults(&faults);
        }
    };
    const bool succeeded = Run();
    qv::SetWriteFaults(nullptr);
    EXPECT_FALSE(succeeded);
    EXPECT_TRUE(WasTold(kError));
    EXPECT_FALSE(WasTold(kCompleted));
    ExpectWritten(written);
    EXPECT_EQ(Existing({names[3], names[4]}), Paths{});
    const auto& texts = view.progress.texts;
    EXPECT_NE(std::find(texts.begin(), texts.end(), "writing " + names[3]), texts.end());
    EXPECT_EQ(std::find(texts.begin(), texts.end(), "writing " + names[4]), texts.end());
    EXPECT_EQ(Existing({a, b, c}), (Paths{b, c}));
    // The deletion of a.avi made the run scan the remaining files again.
    EXPECT_EQ(model.Inputs(), (Paths{b, c}));
    EXPECT_EQ(model.scenes.Count(), 3);
}

TEST_F(MainWindowModelTest, StoppedProgramDeletesAndMovesNoSourceMore) {
    const auto [a, b] = Scan({{{30, 20}, kJuly}, {{25}, kAugust}});  // b, a whole file: moved
    ASSERT_EQ(names.size(), 3u);
    const Outputs written = Planned({0, 1});
    // The stop comes once the last frame of a's last scene is written.
    int copiesEnded = 0;
    view.progress.onPosition = [&](int position) {
        view.progress.stopping = view.progress.stopping || (position == -1 && ++copiesEnded == 2);
    };
    EXPECT_FALSE(Run());
    ExpectWritten(written);
    EXPECT_EQ(Existing({a, b, names[2]}), (Paths{a, b}));
    EXPECT_FALSE(WasTold(kCompleted));
    EXPECT_EQ(model.Inputs(), (Paths{a, b}));  // and no scan again
}

TEST_F(MainWindowModelTest, NoSceneIsWrittenOntoAnInputFile) {
    // a.avi's scene would be named like the other input.
    const std::string a = Add("a.avi", {30}, {2004, 8, 1, 12, 0, 0});
    const std::string other = Add("out'20040801 12.00.00.avi", {20}, kAugust);
    ASSERT_TRUE(model.ScanDatestamps(true));
    ASSERT_EQ(model.scenes[0].outputName, other);
    const auto otherBytes = qvtest::ReadFileBytes(other);
    Run();
    EXPECT_TRUE(WasTold(other));
    EXPECT_TRUE(Exists(a));  // its scene was not written
    // The other input, moved to its own output name, is what it was.
    EXPECT_EQ(qvtest::ReadFileBytes(dir.Path("out'20040801 10.00.00.avi")), otherBytes);
}

// The Scan button stopped by Cancel leaves the list it would have replaced, with the
// user's write choices.
TEST_F(MainWindowModelTest, AScanStoppedFromItsButtonKeepsTheListItReplaced) {
    Add("a.avi", {50, 50}, kJuly);
    Add("b.avi", {30}, kAugust);
    model.ScanDatestampsCommand();
    model.scenes[1].write = 0;
    const std::string before = qv::SceneListText(model.scenes);  // every column, write? too
    const int checks = view.progress.cancelChecks;
    view.progress.cancel = [checks](int check) { return check == checks + 3; };
    model.ScanDatestampsCommand();
    EXPECT_EQ(
        std::tuple(view.progress.cancelChecks, qv::SceneListText(model.scenes), view.writeEnabled),
        std::tuple(checks + 3, before, true));
    // Cancel on the optical scan's warning leaves the choices too, of selected rows as well.
    view.selected = {1};
    questions.answers = {Answer::Cancel};
    model.ScanOpticalCommand();
    EXPECT_EQ(qv::SceneListText(model.scenes), before);
}

TEST_F(MainWindowModelTest, SourceScannedOnlyInPartIsNeverDeleted) {
    const std::string a = Add("a.avi", {50, 50}, kJuly);
    const std::string b = Add("b.avi", {30}, kAugust);
    view.progress.cancel = [](int check) { return check == 7; };
    EXPECT_FALSE(model.ScanDatestamps(true));
    ASSERT_EQ(model.scenes.Count(), 1);
    const qv::Scene part = model.scenes[0];
    EXPECT_LT(part.frameCount, 50);
    EXPECT_EQ(part.wholeFile, 0);
    Run();
    EXPECT_EQ(qvtest::ReadContent(part.outputName), Expected(part));
    EXPECT_EQ(Existing({a, b}), (Paths{a, b}));
    EXPECT_TRUE(WasTold(a));
}

TEST_F(MainWindowModelTest, SourceChangedSinceTheScanStopsTheRunAndIsKept) {
    const auto [a, b, c, d] = Scan({{{30, 20}, kJuly}, {{25}, kAugust}, {{35, 15}, kSeptember},
                                    {{20}, {2004, 10, 1, 10, 0, 0}}});
    auto scanAndWrite = [&](int scenes, const std::function<void()>& change) {
        questions.asked.clear();
        ASSERT_TRUE(model.ScanDatestamps(true));
        ASSERT_EQ(model.scenes.Count(), scenes);
        change();
        EXPECT_FALSE(Run());
        EXPECT_FALSE(WasTold(kCompleted));
    };
    auto append = [](const std::string& path) {
        std::vector<uint8_t> bytes = qvtest::ReadFileBytes(path);
        bytes.resize(bytes.size() + 100);
        ASSERT_TRUE(qvtest::WriteFileBytes(path, bytes));
    };

    // Touched after the scan: nothing is copied, moved or deleted.
    scanAndWrite(6, [&] { ASSERT_TRUE(qv::SetModificationTime(a, ModificationTime(a) + 60)); });
    EXPECT_TRUE(WasTold(a + " has changed since it was scanned. Please scan again."));
    EXPECT_EQ(Existing({a, b, c, d}), (Paths{a, b, c, d}));
    EXPECT_EQ(Existing(OutputNames()), Paths{});

    // Grown after the scan; a whole file, it would have been moved. a.avi was
    // written and deleted before b.avi was reached.
    scanAndWrite(6, [&] {
        append(b);
        names = OutputNames();
    });
    EXPECT_TRUE(WasTold(b + " has changed"));
    EXPECT_EQ(Existing({a, b, c, d}), (Paths{b, c, d}));
    EXPECT_EQ(Existing(Paths(names.begin() + 2, names.end())), Paths{});

    // Changed while its last scene was being written: kept, and the run stops there.
    std::string dOutput;
    int copies = 0;
    scanAndWrite(4, [&] {  // b, c1, c2, d
        model.scenes[0].write = 0;
        dOutput = model.scenes[3].outputName;
        view.progress.onPosition = [&](int position) {
            if (position == -1 && ++copies == 2) {  // c.avi's last scene has been copied
                append(c);
            }
        };
    });
    EXPECT_TRUE(WasTold(c + " has changed"));
    EXPECT_EQ(Existing({c, d, dOutput}), (Paths{c, d}));
}

// Ten files are named, the rest counted, all of them sized.
TEST_F(MainWindowModelTest, TheDeletionQuestionNamesTenFilesAndCountsTheRest) {
    int64_t bytes = 0;
    Paths listed;
    for (int i = 0; i < 12; ++i) {
        const std::string name = std::string("tape") + static_cast<char>('a' + i) + ".avi";
        const std::string path = Add(name, {10 + i}, qvtest::Plus(kJuly, 86400 * i));
        bytes += static_cast<int64_t>(std::filesystem::file_size(path));
        if (i < 10) {
            listed.push_back(path);
        }
    }
    ASSERT_TRUE(model.ScanDatestamps(true));
    EXPECT_FALSE(Run({Answer::No}));
    ASSERT_EQ(questions.asked.size(), 1u);
    std::string files;
    for (const std::string& path : listed) {
        files += "\n" + path;
    }
    EXPECT_EQ(questions.asked[0].text, std::string(kDeleteQuestion) + "\n\n12 files, " +
                                           KiloBytes(bytes) + ":" + files + "\nand 2 more");
}

// A deletion or a time stamp that fails is told with the file and the reason, the
// source stays in the list, and the run does not say it completed.
TEST_F(MainWindowModelTest, FailedDeletionsAndTimeStampsAreToldAndTheRunDoesNotComplete) {
    const auto [a, b] = Scan({{{40, 30}, kJuly}, {{20}, kAugust}});
    const Outputs planned = Planned({0, 1, 2});
    qv::WriteFaults faults{.failRemove = true, .failTime = true};
    {
        qvtest::ScopedFaults scoped(&faults);
        EXPECT_FALSE(Run());
    }
    ExpectWritten(planned);
    EXPECT_EQ(std::pair(Exists(a), Exists(b)), std::pair(true, false));  // b was moved
    EXPECT_EQ(model.Inputs(), (Paths{a}));
    EXPECT_FALSE(WasTold(kCompleted));
    EXPECT_TRUE(WasTold("Can't delete " + a + "\n" + a + ": Permission denied"));
    for (const std::string& name : names) {
        EXPECT_TRUE(WasTold(qv::TimeFailure(name, EPERM))) << name;
    }
    EXPECT_EQ(Told().back(), "Not everything was done.\n3 of 3 marked scenes written.\n"
                             "Not deleted: " + a +
                                 "\n3 written files do not carry their recording time as "
                                 "modification time.");
}

// Every read of a scan made to fail in turn, the default scan's and the thorough
// one's (which lists a file's scenes as it goes): the file it hit is an error of the
// scan, which keeps none of its scenes and says why, and the other file's scenes are
// exact.
TEST_F(MainWindowModelTest, AReadErrorInTheScanIsAnErrorOfItsFileNeverAFrameWithoutDate) {
    const std::string a = Add("a.avi", {40, 30}, kJuly);
    const std::string b = Add("b.avi", {20}, kAugust);
    for (const bool thorough : {false, true}) {
        SCOPED_TRACE(thorough ? "thorough" : "default");
        const auto scan = [&] {
            return thorough ? model.ScanThoroughly(true) : model.ScanDatestamps(true);
        };
        model.copier.sourceReader.reset();
        qv::WriteFaults counting;
        {
            qvtest::ScopedFaults scoped(&counting);
            ASSERT_TRUE(scan());
        }
        const std::string clean = qv::SceneListText(model.scenes);
        ASSERT_EQ(model.scenes.Count(), 3);
        int failedScans = 0;
        for (int64_t n = 0; n < counting.reads; ++n) {
            SCOPED_TRACE("read " + std::to_string(n));
            model.copier.sourceReader.reset();
            questions.asked.clear();
            questions.answers = {Answer::Ok};  // go on with the next file
            qv::WriteFaults faults{.failReadAt = n};
            {
                qvtest::ScopedFaults scoped(&faults);
                scan();
            }
            if (questions.asked.empty()) {
                EXPECT_EQ(qv::SceneListText(model.scenes), clean);  // the probe's read: made again
                continue;
            }
            ++failedScans;
            ASSERT_EQ(questions.asked.size(), 1u);
            const std::string file = model.scenes.Count() == 1 ? a : b;
            EXPECT_EQ(questions.asked[0].text,
                      "Can't read this file. " + file + "\n" + file + ": Input/output error");
            EXPECT_EQ(questions.asked[0].buttons, qv::Buttons::OkCancel);
            for (const qv::Scene& s : model.scenes) {
                EXPECT_NE(s.sourceFile, file);
                EXPECT_NE(clean.find(s.outputName), std::string::npos);
            }
        }
        EXPECT_GT(failedScans, 5);
    }
}

}  // namespace
