// The command line as scripts and users meet it: help, version, wrong usage and
// exit codes of every command, what info, datestamps and copy print and write, and
// the JSON of info and datestamps.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

#include <string>
#include <tuple>
#include <vector>

#include "app/Version.h"
#include "support/AviFixture.h"
#include "support/CliFixture.h"
#include "support/SceneSetup.h"
#include "support/Shell.h"
#include "support/Tapes.h"

namespace {

using qvtest::CliResult;
using qvtest::Quote;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class CliOptionsTest : public qvtest::CliTest {
  protected:
    // The tape, of frames recorded from 10:20:30 on.
    void MakeTape(int frames) {
        qvtest::WriteTape(tape_, {}, {{frames, qvtest::DvTime{2004, 7, 14, 10, 20, 30}}});
    }

    const std::string tape_ = dir_.Path("tape.avi");
};

// Wrong usage: exit code 2, nothing on standard output, the problem and the usage
// of that command (not of all of them) on standard error; one row per message.
TEST_F(CliOptionsTest, WrongUsageOfACommandGivesItsUsageAndExitCode2) {
    MakeTape(3);
    const std::string t = Quote(tape_);
    const std::string pdf = Quote(dir_.Path("s.pdf"));
    const struct Row {
        std::string args, problem;
    } rows[] = {
        {"copy " + t + " --first 0 --count 1 d.avi --json", "unknown option --json"},
        {"info", "info needs at least one file"},
        {"datestamps", "datestamps needs a file"},
        {"datestamps " + t + " " + t, "datestamps takes one file"},
        {"copy " + t + " --first 1 --count 0 d.avi", "copy needs SOURCE, --first N, --count M"},
        {"split " + t, "split needs --output PATH"},
        {"list " + t, "list needs -o LIST.txt"},
        {"bitmaps " + t + " -o " + Quote(dir_.Dir().string() + "/"), "bitmaps needs -o BASE.bmp"},
        {"sheet " + t, "sheet needs -o SHEET.pdf"},
        {"sheet -o " + pdf, "sheet needs at least one file"},
        {"datestamps " + t + " --count=x", "--count needs a number"},
        {"scan --optical=5 " + t, "--optical takes a sensitivity from 0 to 4"},
        {"split " + t + " --output o.avi --only 1,,2", "--only needs scene numbers from 1"},
        {"split " + t + " --output o.avi --delete-unwritten",
         "--delete-unwritten goes with --delete-sources"},
        {"bitmaps " + t + " -o b.bmp --deinterlace both", "--deinterlace takes none, even or odd"},
        {"bitmaps " + t + " -o b.bmp --crop 3,-1", "--crop needs two numbers H,V"},
        {"sheet " + t + " -o " + pdf + " --pics-per-line 31",
         "--pics-per-line needs a number from"},
        {"sheet " + t + " -o " + pdf + " --timecode-offset xx:99:77",
         "--timecode-offset needs a time MM:SS:FF"},
    };
    const std::string help = Run("--help").out;  // names the commands of this build
    for (const Row& row : rows) {
        const std::string command = row.args.substr(0, row.args.find(' '));
        if (!Has(help, "\n  " + command + " ")) {
            continue;  // not in this build
        }
        SCOPED_TRACE(row.args);
        const CliResult r = Run(row.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("quorvandel-cli: " + row.problem, 0), 0u) << r.err;
        EXPECT_TRUE(Has(r.err, "\nusage: quorvandel-cli " + command + " ")) << r.err;
        EXPECT_TRUE(Has(r.err, command + " --help lists its options")) << r.err;
    }
    // Nothing was written.
    EXPECT_EQ(qvtest::FolderEntries(dir_.Dir()),
              (std::vector<std::string>{"stderr", "stdout", "tape.avi"}));
}

// Without a command: the program's usage or version, and the exit code of each outcome.
TEST_F(CliOptionsTest, ExitCodesWithoutACommandAndOfFailedWork) {
    ASSERT_FALSE(std::string(qv::kProgramVersion).empty());
    const std::string version = std::string(qv::kProgramVersion);
    const std::string missing = Quote(dir_.Path("missing.avi"));
    const struct Row {
        std::string args;
        int exitCode;
        std::string out, err;  // the starts of standard output and standard error
    } rows[] = {
        {"--version", 0, "quorvandel-cli (Quorvandel) " + version + "\n", ""},
        {"--help", 0, "quorvandel-cli " + version + "\n\nusage:", ""},
        {"help", 0, "quorvandel-cli " + version + "\n\nusage:", ""},
        {"", 2, "", "usage: quorvandel-cli COMMAND"},
        {"--version extra", 2, "", "quorvandel-cli: --version takes no arguments\nusage:"},
        {"--version --help", 2, "", "quorvandel-cli: --version and --help go alone\nusage:"},
        {"--bogus", 2, "", "quorvandel-cli: unknown option --bogus\nusage: quorvandel-cli COMMAND"},
        {"frobnicate", 2, "", "quorvandel-cli: unknown command frobnicate\nusage:"},
        {"scan --json " + missing, 1, "[]\n", "quorvandel-cli: "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        const CliResult r = Run(row.args);
        EXPECT_EQ(r.exitCode, row.exitCode);
        EXPECT_EQ(r.out.rfind(row.out, 0), 0u) << r.out;
        EXPECT_EQ(row.out.empty(), r.out.empty()) << r.out;
        EXPECT_EQ(r.err.rfind(row.err, 0), 0u) << r.err;
        EXPECT_EQ(row.err.empty(), r.err.empty()) << r.err;
    }
    // The program's help tells how to get a command's help, and the exit codes of signals.
    const CliResult help = Run("--help");
    EXPECT_TRUE(Has(help.out, "COMMAND --help") && Has(help.out, "(130, 143, 129)")) << help.out;

    // Without a terminal the progress is silent: a log gets no stale percentage.
    MakeTape(30);
    const CliResult scan = Run("scan " + Quote(tape_));
    EXPECT_EQ(std::tie(scan.exitCode, scan.err), std::tuple(0, std::string())) << scan.err;
}

// info and datestamps, as text and as JSON: one file or frame a line, the names
// scan --json gives the same things, valid JSON for any file name; info goes on past
// the files it cannot read.
TEST_F(CliOptionsTest, InfoAndDatestampsAsTextAndAsJson) {
    qvtest::FixtureOptions ntsc = qvtest::Type1Options(false);
    ntsc.generation = qvtest::Generation::OpenDml;
    // A file name with a quote, a backslash, a tab and a byte that is not UTF-8.
    const std::string odd = dir_.Path("a\"b\\c\td\xff.avi");
    auto frames = qvtest::MakeFrames(ntsc, 3, qvtest::DvTime{2004, 7, 14, 10, 20, 30});
    frames[2].video = qvtest::MakeDvFrame(false, std::nullopt, 2);
    ASSERT_TRUE(qvtest::WriteFixtureAvi(odd, ntsc, frames));
    MakeTape(2);
    // Files info cannot read are reported, and the others shown all the same.
    const std::string missing = dir_.Path("missing.avi"), text = dir_.Path("notes.txt"),
                      fifo = dir_.Path("fifo.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(text, {'h', 'e', 'l', 'l', 'o', '\n'}));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    CliResult r = Run("info " + Quote(tape_) + " " + Quote(missing) + " " + Quote(text) + " " +
                      Quote(fifo) + " " + Quote(odd));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out,
              "file tape.avi, 2 frames, type:avi1, 25.00fps, Video:720x576, Audio:16 bits, "
              "48.00kHz, 2 chans\n"
              "file a\"b\\c\td\xff.avi, 3 frames, type:odml-avi2, 29.97fps, Interleaved "
              "Audio/Video (NTSC)\n");
    EXPECT_EQ(r.err, "quorvandel-cli: " + missing +
                         ": No such file or directory\nquorvandel-cli: " + text +
                         ": not an AVI, raw DV or QuickTime file\nquorvandel-cli: " + fifo +
                         ": not a regular file\n");

    r = Run("info --json " + Quote(tape_) + " " + Quote(odd));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(
        r.out,
        "[\n"
        "  {\"sourceFile\": " +
            nlohmann::json(tape_).dump() +
            ", \"type\": \"avi1\", \"frameCount\": 2, \"framesPerSecond\": 25.0, "
            "\"streams\": [{\"type\": \"vids\", \"width\": 720, \"height\": 576}, "
            "{\"type\": \"auds\", \"bitsPerSample\": 16, \"samplesPerSecond\": 48000, "
            "\"channels\": 2}], \"indexRebuilt\": 0, \"endsWithPartialFrame\": 0},\n"
            "  {\"sourceFile\": " +
            nlohmann::json(dir_.Path("a\"b\\c\td\xef\xbf\xbd.avi")).dump() +
            ", \"type\": \"odml-avi2\", \"frameCount\": 3, \"framesPerSecond\": 29.97002997002997, "
            "\"streams\": [{\"type\": \"iavs\"}], \"indexRebuilt\": 0, \"endsWithPartialFrame\": "
            "0}\n"
            "]\n");
    EXPECT_TRUE(nlohmann::json::accept(r.out));

    // From a frame on, one a line; a count beyond the end stops at the last frame.
    r = Run("datestamps " + Quote(odd) + " --from 1 --count 5");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "1\t2004-07-14 10:20:30\n2\tn/a\n");
    r = Run("datestamps --json --from 1 " + Quote(odd));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out,
              "[\n"
              "  {\"frame\": 1, \"datestamp\": 1089800430},\n"
              "  {\"frame\": 2, \"datestamp\": 0}\n"
              "]\n");
}

// copy writes the frames with the recording time of the first, replaces another file
// only with --yes, and refuses frames beyond the source.
TEST_F(CliOptionsTest, CopyWritesTheFramesAskedFor) {
    MakeTape(60);
    const std::string dest = dir_.Path("scene.avi");
    const std::string copy = "copy " + Quote(tape_) + " --first 30 --count 20 " + Quote(dest);
    CliResult r = Run("copy " + Quote(tape_) + " --first 50 --count 11 " + Quote(dest));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("has 60 frames"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dest));

    ASSERT_TRUE(qvtest::WriteFileBytes(dest, {1, 2, 3}));
    r = Run(copy);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Do you want to overwrite"), std::string::npos) << r.err;
    EXPECT_EQ(qvtest::ReadFileBytes(dest), (std::vector<uint8_t>{1, 2, 3}));

    r = Run(copy + " --yes");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Run("info " + Quote(dest));
    EXPECT_EQ(r.out.rfind("file scene.avi, 20 frames, type:avi1, 25.00fps", 0), 0u) << r.out;
    // Frame 30 was recorded at 10:20:31.
    struct stat st {};
    ASSERT_EQ(::stat(dest.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1089800431);
}

}  // namespace
