#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "app/Version.h"
#include "support/AviFixture.h"
#include "support/Shell.h"

namespace {

using qvtest::CliResult;
using qvtest::Quote;

class CliTest : public ::testing::Test {
protected:
    CliResult Run(const std::string& args) { return qvtest::RunCli(dir_, args); }

    std::string MakeAvi(const std::string& name, qvtest::FixtureOptions options, int frames) {
        std::string path = dir_.Path(name);
        EXPECT_TRUE(qvtest::WriteFixtureAvi(
            path, options, qvtest::MakeFrames(options, frames, qvtest::DvTime{2004, 7, 14, 10, 20, 30})));
        return path;
    }

    qvtest::TempDir dir_;
};

TEST_F(CliTest, InfoDescribesEachFileOnOneLine) {
    qvtest::FixtureOptions type2;
    qvtest::FixtureOptions type1;
    type1.type = qvtest::DvType::Type1;
    type1.generation = qvtest::Generation::OpenDml;
    type1.pal = false;
    std::string a = MakeAvi("tape1.avi", type2, 3);
    std::string b = MakeAvi("tape2.avi", type1, 2);
    CliResult r = Run("info " + Quote(a) + " " + Quote(b));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "file tape1.avi, 3 frames, type:avi1, 25.00fps, Video:720x576, Audio:16 bits, "
              "48.00kHz, 2 chans\n"
              "file tape2.avi, 2 frames, type:odml-avi2, 29.97fps, Interleaved Audio/Video (NTSC)\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(CliTest, InfoReportsUnusableFilesAndGoesOn) {
    std::string good = MakeAvi("good.avi", {}, 1);
    std::string text = dir_.Path("notes.txt");
    ASSERT_TRUE(qvtest::WriteFileBytes(text, {'h', 'e', 'l', 'l', 'o', '\n'}));
    std::string fifo = dir_.Path("fifo.avi");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CliResult r = Run("info " + Quote(dir_.Path("missing.avi")) + " " + Quote(text) + " " +
                      Quote(fifo) + " " + Quote(good));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("file good.avi, 1 frames"), std::string::npos);
    std::istringstream lines(r.err);
    std::string line;
    std::vector<std::string> errors;
    while (std::getline(lines, line)) {
        errors.push_back(line);
    }
    ASSERT_EQ(errors.size(), 3u) << r.err;
    EXPECT_NE(errors[0].find("missing.avi: No such file or directory"), std::string::npos);
    EXPECT_NE(errors[1].find("notes.txt: not an AVI file"), std::string::npos);
    EXPECT_NE(errors[2].find("fifo.avi: not a regular file"), std::string::npos);
}

TEST_F(CliTest, DatestampsPrintsOneLinePerFrame) {
    qvtest::FixtureOptions options;
    std::string path = dir_.Path("t.avi");
    auto frames = qvtest::MakeFrames(options, 30, qvtest::DvTime{2004, 7, 14, 10, 20, 30});
    frames[27].video = qvtest::MakeDvFrame(true, std::nullopt, 27);
    ASSERT_TRUE(qvtest::WriteFixtureAvi(path, options, frames));

    CliResult r = Run("datestamps " + Quote(path) + " --from 24 --count 4");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "24\t2004-07-14 10:20:30\n"
              "25\t2004-07-14 10:20:31\n"
              "26\t2004-07-14 10:20:31\n"
              "27\tn/a\n");

    r = Run("datestamps " + Quote(path));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 30);
    r = Run("datestamps " + Quote(path) + " --from 29 --count 1000");
    EXPECT_EQ(r.out, "29\t2004-07-14 10:20:31\n");
    r = Run("datestamps " + Quote(path) + " --from 100");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
}

TEST_F(CliTest, WrongUsageGivesTheUsageTextAndExitCode2) {
    for (const char* args : {"", "frobnicate", "info", "datestamps", "datestamps a b",
                             "datestamps a --count", "datestamps a --count -3",
                             "datestamps a --from x", "datestamps a --bogus"}) {
        CliResult r = Run(args);
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_NE(r.err.find("usage: quorvandel-cli"), std::string::npos) << args;
        EXPECT_EQ(r.out, "") << args;
    }
}

TEST_F(CliTest, VersionAndHelpNameTheProjectVersion) {
    const std::string version = qv::kProgramVersion;
    ASSERT_FALSE(version.empty());
    CliResult r = Run("--version");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "quorvandel-cli (Quorvandel) " + version + "\n");
    EXPECT_EQ(r.err, "");
    for (const char* help : {"--help", "-h"}) {
        r = Run(help);
        EXPECT_EQ(r.exitCode, 0) << help;
        EXPECT_EQ(r.out.rfind("quorvandel-cli " + version + "\n\nusage: quorvandel-cli", 0), 0u)
            << help << ": " << r.out;
        EXPECT_NE(r.out.find("--version"), std::string::npos) << help;
        EXPECT_EQ(r.err, "") << help;
    }
    r = Run("--version extra");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("usage: quorvandel-cli"), std::string::npos);
}

TEST_F(CliTest, CopyWritesTheFramesWithTheRecordingTimeOfTheFirst) {
    std::string source = MakeAvi("tape.avi", {}, 60);
    std::string dest = dir_.Path("scene.avi");
    CliResult r = Run("copy " + Quote(source) + " --first 30 --count 20 " + Quote(dest));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Run("info " + Quote(dest));
    EXPECT_EQ(r.out.rfind("file scene.avi, 20 frames, type:avi1, 25.00fps", 0), 0u) << r.out;
    // Frame 30 was recorded at 10:20:31.
    struct stat st {};
    ASSERT_EQ(::stat(dest.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1089800431);
}

TEST_F(CliTest, CopyOverwritesAnOtherFileOnlyWhenToldTo) {
    std::string source = MakeAvi("tape.avi", {}, 10);
    std::string dest = dir_.Path("scene.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(dest, {1, 2, 3}));
    CliResult r = Run("copy " + Quote(source) + " --first 0 --count 5 " + Quote(dest));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Do you want to overwrite"), std::string::npos) << r.err;
    EXPECT_EQ(qvtest::ReadFileBytes(dest), (std::vector<uint8_t>{1, 2, 3}));
    r = Run("copy " + Quote(source) + " --first 0 --count 5 " + Quote(dest) + " --yes");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_GT(qvtest::ReadFileBytes(dest).size(), 3u);
}

TEST_F(CliTest, CopyRefusesBadRanges) {
    std::string source = MakeAvi("tape.avi", {}, 10);
    std::string dest = dir_.Path("scene.avi");
    CliResult r = Run("copy " + Quote(source) + " --first 8 --count 5 " + Quote(dest));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("has 10 frames"), std::string::npos) << r.err;
    for (const char* args : {"copy", "copy a b", "copy a --first 1 --count 0 b",
                             "copy a --first 1 b", "copy a --count 2 b"}) {
        EXPECT_EQ(Run(args).exitCode, 2) << args;
    }
    EXPECT_FALSE(std::filesystem::exists(dest));
}

TEST_F(CliTest, DatestampsOfAMissingFileFails) {
    CliResult r = Run("datestamps " + Quote(dir_.Path("missing.avi")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("missing.avi"), std::string::npos);
}

}  // namespace
