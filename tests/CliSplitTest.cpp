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

#include "support/CliFixture.h"
#include "support/SceneSetup.h"
#include "support/Shell.h"
#include "support/Tapes.h"

namespace {

using qvtest::DvTime;

using qvtest::CliResult;
using qvtest::Quote;

class CliSplitTest : public qvtest::CliTest {
  protected:
    CliSplitTest() {
        // A dated recording of 2 s, then 1 s without datestamp.
        frames_ = qvtest::WriteTape(tape_, qvtest::Type1Options(),
                                    {{50, DvTime{2004, 7, 14, 10, 20, 30}, 1}, {25, std::nullopt}});
    }

    // split of the tape to out.avi, with more arguments.
    CliResult Split(const std::string& more) {
        return Run("split " + tapeArg_ + " --output " + outArg_ + more);
    }

    std::string SceneList() const {
        return "Filename\twrite?\tLength\tDatestamp\torig. file\torig. pos\r\n" + dated_ +
               "\tYES\t00:02:00\t20040714 10:20:30\t" + tape_ + "\t00:00:00\r\n" + undated_ +
               "\tYES\t00:01:00\tn/a\t" + tape_ + "\t00:02:00\r\n";
    }
    void ExpectScenesWritten() {
        EXPECT_EQ(qvtest::ReadContent(dated_), qvtest::ContentOf(frames_, 0, 50));
        EXPECT_EQ(qvtest::ReadContent(undated_), qvtest::ContentOf(frames_, 50, 25));
    }

    const std::string tape_ = dir_.Path("tape.avi");
    const std::string tapeArg_ = Quote(tape_);
    const std::string outArg_ = Quote(dir_.Path("out.avi"));
    const std::string dated_ = dir_.Path("out'20040714 10.20.30.avi");
    const std::string undated_ = dir_.Path("out'#0001.avi");
    std::vector<qvtest::FixtureFrame> frames_;
};

// scan prints the scene list, list writes it to a file; then split writes the scenes.
TEST_F(CliSplitTest, ScanAndListGiveTheSceneListAndSplitWritesItsScenes) {
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
    EXPECT_EQ(summary, dated_ + "|" + tape_ + "|1|0|50|1089800430\n" + undated_ + "|" + tape_ +
                           "|1|50|25|0\n");

    // split writes every scene, replacing another file and deleting the tape only with --yes.
    EXPECT_NE(Split(" --delete-sources").exitCode, 0);
    EXPECT_TRUE(std::filesystem::exists(tape_));
    EXPECT_FALSE(std::filesystem::exists(dated_) || std::filesystem::exists(undated_));
    ASSERT_TRUE(qvtest::WriteFileBytes(dated_, {1, 2, 3}));
    r = Split("");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not overwritten"), std::string::npos) << r.err;
    EXPECT_EQ(qvtest::ReadFileBytes(dated_), (std::vector<uint8_t>{1, 2, 3}));
    r = Split(" --yes");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ExpectScenesWritten();
    EXPECT_TRUE(std::filesystem::exists(tape_));
    const auto written = std::filesystem::file_size(dated_) + std::filesystem::file_size(undated_);
    const std::string folder = dir_.Path("");
    EXPECT_EQ(r.out, "2 of 2 scenes written (" + std::to_string(written) + " bytes) to " + folder +
                         "; sources deleted: none; kept: " + tape_ + "\n");
    // The question names the file it deletes, one to a line.
    const std::string size = std::to_string(std::filesystem::file_size(tape_) / 1000);
    r = Split(" --delete-sources --yes");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ExpectScenesWritten();
    EXPECT_FALSE(std::filesystem::exists(tape_));
    EXPECT_NE(r.err.find("Do you want to proceed?\n\n  1 file, " + size), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("\n  " + tape_ + " (yes, --yes)\n"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("; sources deleted: " + tape_ + "; kept: none\n"), std::string::npos);
}

// Scenes left unwritten by --only or --skip-undated keep their tape, but with
// --delete-unwritten.
// --subtitles: beside each output a SubRip file of its recording time, a cue a
// second; the undated scene's has none.
TEST_F(CliSplitTest, SubtitlesShowTheRecordingTimeOfEverySecondOfEachOutput) {
    const std::string first = "00:00:00,000 --> 00:00:01,000\r\n2004-07-14 10:20:3";
    CliResult r = Split(" --subtitles");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(qvtest::ReadFileText(dir_.Path("out'20040714 10.20.30.srt")),
              "1\r\n" + first +
                  "0\r\n\r\n2\r\n00:00:01,000 --> 00:00:02,000\r\n2004-07-14 10:20:31\r\n\r\n");
    EXPECT_EQ(qvtest::ReadFileText(dir_.Path("out'#0001.srt")), "");
    r = Run("copy " + tapeArg_ + " --first 25 --count 25 " + Quote(dir_.Path("c.avi")) +
            " --subtitles");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(qvtest::ReadFileText(dir_.Path("c.srt")), "1\r\n" + first + "1\r\n\r\n");
}

TEST_F(CliSplitTest, OnlyAndSkipUndatedLeaveScenesUnwrittenAndTheirSourceKept) {
    CliResult r = Split(" --only 1,3");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("there is no scene 3"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dated_));
    r = Split(" --delete-sources --yes --skip-undated");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("--delete-unwritten deletes them"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::exists(tape_));
    EXPECT_FALSE(std::filesystem::exists(undated_));
    std::filesystem::remove(dated_);
    r = Split(" --delete-sources --yes --only 1 --delete-unwritten");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(std::filesystem::exists(tape_));
    EXPECT_EQ(qvtest::ReadContent(dated_), qvtest::ContentOf(frames_, 0, 50));
    EXPECT_FALSE(std::filesystem::exists(undated_));
}

// The first file in dir whose name ends in ".part", or empty.
std::string PartFileIn(const std::filesystem::path& dir) {
    for (const std::string& name : qvtest::FolderEntries(dir)) {
        if (name.ends_with(".part")) {
            return (dir / name).string();
        }
    }
    return {};
}

TEST(CliInterruptTest, InterruptedSplitRemovesTheFileBeingWrittenAndKeepsTheSources) {
    qvtest::TempDir dir;
    // Two tapes of two recordings each, frames of full DV size so that a copy lasts.
    const qvtest::FixtureOptions type1 = qvtest::Type1Options();
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
    EXPECT_NE(r.err.find("there was an error reading the audio stream\n  - do you want to ignore "
                         "audio-stream errors? (no; --ignore-audio-errors"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(out) || std::filesystem::exists(out + ".part"));

    r = qvtest::RunCli(dir, args + " --ignore-audio-errors");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(qvtest::ReadContent(out).video, qvtest::ContentOf(frames, 0, 10).video);

    // The copy command takes the flag too.
    const std::string copy =
        "copy " + Quote(tape) + " --first 0 --count 10 " + Quote(dir.Path("c.avi"));
    EXPECT_EQ(qvtest::RunCli(dir, copy).exitCode, 1);
    EXPECT_EQ(qvtest::RunCli(dir, copy + " --ignore-audio-errors").exitCode, 0);
}

}  // namespace
