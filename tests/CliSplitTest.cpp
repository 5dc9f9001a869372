// The command-line program's scene commands: scan, split and list.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>

#include "support/Shell.h"
#include "support/Tapes.h"

namespace {

using qvtest::DvTime;

using qvtest::CliResult;
using qvtest::Quote;

class CliSplitTest : public ::testing::Test {
protected:
    CliSplitTest() {
        // A dated recording of 2 s, then 1 s without datestamp.
        qvtest::FixtureOptions type1;
        type1.type = qvtest::DvType::Type1;
        frames_ = qvtest::WriteTape(tape_, type1,
                                    {{50, DvTime{2004, 7, 14, 10, 20, 30}, 1}, {25, std::nullopt}});
    }

    CliResult Run(const std::string& args) { return qvtest::RunCli(dir_, args); }
    // split of the tape to out.avi, with more arguments.
    CliResult Split(const std::string& more) {
        return Run("split " + tapeArg_ + " --output " + outArg_ + more);
    }

    std::string Dated(const std::string& base = "out") const {
        return dir_.Path(base + "'20040714 10.20.30.avi");
    }
    std::string Undated(const std::string& base = "out") const {
        return dir_.Path(base + "'#0001.avi");
    }
    std::string SceneList() const {
        return "Filename\twrite?\tLength\tDatestamp\torig. file\torig. pos\r\n" + Dated() +
               "\tYES\t00:02:00\t20040714 10:20:30\t" + tape_ + "\t00:00:00\r\n" + Undated() +
               "\tYES\t00:01:00\tn/a\t" + tape_ + "\t00:02:00\r\n";
    }
    void ExpectScenesWritten(const std::string& base = "out") {
        EXPECT_EQ(qvtest::ReadContent(Dated(base)), qvtest::ContentOf(frames_, 0, 50));
        EXPECT_EQ(qvtest::ReadContent(Undated(base)), qvtest::ContentOf(frames_, 50, 25));
    }

    qvtest::TempDir dir_;
    const std::string tape_ = dir_.Path("tape.avi");
    const std::string tapeArg_ = Quote(tape_);
    const std::string outArg_ = Quote(dir_.Path("out.avi"));
    std::vector<qvtest::FixtureFrame> frames_;
};

// scan prints the scene list, list writes it to a file.
TEST_F(CliSplitTest, ScanPrintsTheSceneListAsTextOrAsJsonAndListWritesIt) {
    CliResult r = Run("scan --output " + outArg_ + " " + tapeArg_);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, SceneList());
    const std::string list = dir_.Path("scenes.txt");
    r = Run("list " + tapeArg_ + " --output " + outArg_ + " -o " + Quote(list));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(qvtest::ReadFileText(list), SceneList());
    EXPECT_EQ(Run("list " + tapeArg_ + " -o " + Quote(dir_.Path("missing/l.txt"))).exitCode, 1);

    r = Run("scan --json --output " + outArg_ + " " + tapeArg_);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_TRUE(nlohmann::json::accept(r.out)) << r.out;
    std::string summary;
    for (const auto& s : nlohmann::json::parse(r.out)) {
        summary += s["outputName"].get<std::string>() + "|" + s["sourceFile"].get<std::string>() +
                   "|" + s["write"].dump() + "|" + s["firstFrame"].dump() + "|" +
                   s["frameCount"].dump() + "|" + s["datestamp"].dump() + "\n";
    }
    EXPECT_EQ(summary, Dated() + "|" + tape_ + "|1|0|50|1089800430\n" + Undated() + "|" + tape_ +
                           "|1|50|25|0\n");
}

TEST_F(CliSplitTest, SplitWritesEverySceneButReplacesAnotherFileOnlyWithYes) {
    CliResult r = Split("");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ExpectScenesWritten();
    EXPECT_TRUE(std::filesystem::exists(tape_));

    ASSERT_TRUE(qvtest::WriteFileBytes(Dated("other"), {1, 2, 3}));
    const std::string other = Quote(dir_.Path("other.avi"));
    r = Run("split " + tapeArg_ + " --output " + other);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not overwritten"), std::string::npos) << r.err;
    EXPECT_EQ(qvtest::ReadFileBytes(Dated("other")), (std::vector<uint8_t>{1, 2, 3}));

    r = Run("split " + tapeArg_ + " --output " + other + " --yes");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ExpectScenesWritten("other");
}

TEST_F(CliSplitTest, DeleteSourcesNeedsYesWhenNobodyCanBeAsked) {
    EXPECT_NE(Split(" --delete-sources").exitCode, 0);
    EXPECT_TRUE(std::filesystem::exists(tape_));
    EXPECT_FALSE(std::filesystem::exists(Dated()) || std::filesystem::exists(Undated()));
    const CliResult r = Split(" --delete-sources --yes");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ExpectScenesWritten();
    EXPECT_FALSE(std::filesystem::exists(tape_));
}

TEST_F(CliSplitTest, OnlyAndSkipUndatedLeaveScenesUnwrittenAndTheirSourceKept) {
    CliResult r = Split(" --only 1,3");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("there is no scene 3"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(Dated()));
    r = Split(" --only 2");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(std::filesystem::exists(Dated()));
    EXPECT_EQ(qvtest::ReadContent(Undated()), qvtest::ContentOf(frames_, 50, 25));
    std::filesystem::remove(Undated());
    // With --delete-sources --yes alone the tape of an unwritten scene is kept.
    for (const char* choice : {" --only 1", " --skip-undated"}) {
        r = Split(std::string(" --delete-sources --yes") + choice);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find("--delete-unwritten deletes them"), std::string::npos) << r.err;
        EXPECT_TRUE(std::filesystem::exists(tape_)) << choice;
        EXPECT_EQ(qvtest::ReadContent(Dated()), qvtest::ContentOf(frames_, 0, 50));
        EXPECT_FALSE(std::filesystem::exists(Undated()));
        std::filesystem::remove(Dated());
    }
    r = Split(" --delete-sources --yes --only 1 --delete-unwritten");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(std::filesystem::exists(tape_));
    EXPECT_EQ(qvtest::ReadContent(Dated()), qvtest::ContentOf(frames_, 0, 50));
}

// The first file in dir whose name ends in ".part", or empty.
std::string PartFileIn(const std::filesystem::path& dir) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = entry.path().string();
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0) {
            return name;
        }
    }
    return {};
}

TEST(CliInterruptTest, InterruptedSplitRemovesTheFileBeingWrittenAndKeepsTheSources) {
    qvtest::TempDir dir;
    // Two tapes of two recordings each, frames of full DV size so that a copy lasts.
    qvtest::FixtureOptions type1;
    type1.type = qvtest::DvType::Type1;
    const std::string a = dir.Path("a.avi"), b = dir.Path("b.avi");
    for (const auto& [path, day] : {std::pair{a, 14}, std::pair{b, 15}}) {
        std::vector<qvtest::FixtureFrame> frames = qvtest::TapeFrames(
            type1, {{100, DvTime{2004, 7, day, 10, 0, 0}, static_cast<uint32_t>(day)},
                    {100, DvTime{2004, 7, day, 11, 0, 0}}});
        for (qvtest::FixtureFrame& f : frames) {
            f.video.resize(qvtest::kPalFrameSize, 0x5A);
        }
        ASSERT_TRUE(qvtest::WriteFixtureAvi(path, type1, frames));
    }
    const size_t sizes = qvtest::ReadFileBytes(a).size() + qvtest::ReadFileBytes(b).size();

    for (int signo : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signo));
        // Each run has outputs of its own.
        const std::string out = dir.Path("out" + std::to_string(signo));
        const std::string last = out + "'20040715 11.00.00.avi";
        const pid_t pid =
            qvtest::StartCli(dir, {"split", a, b, "--output", out, "--delete-sources", "--yes"});
        ASSERT_GT(pid, 0);
        // Caught with the program stopped while a scene other than the last is being
        // written: then the run cannot have ended when the signal comes.
        bool caught = false;
        int status = -1;
        for (int waited = 0; !caught && waited < 60000; ++waited) {
            const std::string part = PartFileIn(dir.Dir());
            if (part.empty() || part.rfind(last, 0) == 0) {
                if (::waitpid(pid, &status, WNOHANG) == pid) {
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            ::kill(pid, SIGSTOP);
            if (::waitpid(pid, &status, WUNTRACED) != pid || !WIFSTOPPED(status)) {
                break;  // it ended meanwhile
            }
            caught = std::filesystem::exists(part);
            ::kill(pid, caught ? signo : SIGCONT);
            ::kill(pid, SIGCONT);
        }
        if (!caught) {
            ::kill(pid, SIGKILL);
        }
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(caught) << "the split ended before a scene other than the last was written";
        const std::string err = qvtest::ReadFileText(dir.Path("stderr"));
        ASSERT_TRUE(WIFEXITED(status)) << status << err;
        EXPECT_EQ(WEXITSTATUS(status), 128 + signo) << err;
        EXPECT_NE(err.find("interrupted"), std::string::npos) << err;
        EXPECT_EQ(PartFileIn(dir.Dir()), "");
        EXPECT_FALSE(std::filesystem::exists(last));
        EXPECT_EQ(qvtest::ReadFileBytes(a).size() + qvtest::ReadFileBytes(b).size(), sizes);
    }
}

TEST(CliAudioErrorTest, UnreadableAudioStopsSplitAndCopyUnlessItIsIgnored) {
    qvtest::TempDir dir;
    const qvtest::FixtureOptions type2;
    const std::vector<qvtest::FixtureFrame> frames =
        qvtest::TapeFrames(type2, {{10, DvTime{2004, 7, 14, 10, 20, 30}, 1}});
    std::vector<uint8_t> bytes = qvtest::BuildFixtureAvi(type2, frames);
    const size_t entries = qvtest::FindFourCC(bytes, "idx1") + 8;
    // Entries in file order: video 0, audio 0, video 1, audio 1, ...
    qvtest::PutLe32(bytes, entries + 5 * 16 + 8, 0x80000000u);  // audio 2 dwChunkOffset
    const std::string tape = dir.Path("tape.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(tape, bytes));
    const std::string out = dir.Path("out'20040714 10.20.30.avi");
    const std::string args = "split " + Quote(tape) + " --output " + Quote(dir.Path("out.avi"));

    CliResult r = qvtest::RunCli(dir, args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("there was an error reading the audio stream - do you want to ignore "
                         "audio-stream errors? (no; --ignore-audio-errors"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(out + ".part"));

    r = qvtest::RunCli(dir, args + " --ignore-audio-errors");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(qvtest::ReadContent(out).video, qvtest::ContentOf(frames, 0, 10).video);

    // The copy command takes the flag too.
    const std::string copy = "copy " + Quote(tape) + " --first 0 --count 10 " +
                             Quote(dir.Path("copy.avi"));
    EXPECT_EQ(qvtest::RunCli(dir, copy).exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("copy.avi")));
    EXPECT_EQ(qvtest::RunCli(dir, copy + " --ignore-audio-errors").exitCode, 0);
}

}  // namespace
