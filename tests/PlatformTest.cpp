#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <limits>

#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "support/AviFixture.h"
#include "support/TimeZone.h"

namespace {

TEST(SplitPath, SplitsFolderNameAndExtension) {
    qv::PathParts p = qv::SplitPath("/home/u/tapes/tape1.avi");
    EXPECT_EQ(p.drive, "");
    EXPECT_EQ(p.folder, "/home/u/tapes/");
    EXPECT_EQ(p.name, "tape1");
    EXPECT_EQ(p.extension, ".avi");

    p = qv::SplitPath("scenes");
    EXPECT_EQ(p.folder, "");
    EXPECT_EQ(p.name, "scenes");
    EXPECT_EQ(p.extension, "");

    // A dot in a folder name is no extension; a leading dot is a hidden file.
    p = qv::SplitPath("/v.1/clip");
    EXPECT_EQ(p.folder, "/v.1/");
    EXPECT_EQ(p.name, "clip");
    EXPECT_EQ(p.extension, "");
    p = qv::SplitPath("/v/.hidden");
    EXPECT_EQ(p.name, ".hidden");
    EXPECT_EQ(p.extension, "");

    p = qv::SplitPath("/v/scenes'20000412 18.03.09.avi");
    EXPECT_EQ(p.name, "scenes'20000412 18.03.09");
    EXPECT_EQ(p.extension, ".avi");
    EXPECT_EQ(qv::FileNameOf("/a/b/tape1.avi"), "tape1.avi");
}

TEST(SameFile, DecidesByIdentityWhereBothExist) {
    qvtest::TempDir dir;
    std::string a = dir.Path("a.avi"), b = dir.Path("b.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(a, {1}));
    ASSERT_TRUE(qvtest::WriteFileBytes(b, {1}));
    std::filesystem::create_hard_link(a, dir.Path("hard.avi"));
    std::filesystem::create_symlink(a, dir.Path("sym.avi"));
    EXPECT_TRUE(qv::SameFile(a, dir.Path("hard.avi")));
    EXPECT_TRUE(qv::SameFile(a, dir.Path("sym.avi")));
    EXPECT_TRUE(qv::SameFile(a, dir.Path("./a.avi")));
    EXPECT_FALSE(qv::SameFile(a, b));
}

TEST(SameFile, DecidesByNameOtherwise) {
    qvtest::TempDir dir;
    EXPECT_TRUE(qv::SameFile(dir.Path("x.avi"), dir.Path("x.avi")));
    // On Linux a.avi and A.avi are two files.
    EXPECT_FALSE(qv::SameFile(dir.Path("x.avi"), dir.Path("X.avi")));
    EXPECT_FALSE(qv::SameFileName("x.avi", "X.avi"));
}

TEST(MissingFolderOf, NamesTheFolderOfANameOnlyWhenItIsNoFolder) {
    qvtest::TempDir dir;
    ASSERT_TRUE(qvtest::WriteFileBytes(dir.Path("file"), {1}));
    EXPECT_EQ(qv::MissingFolderOf("scenes.avi"), "");  // the current folder
    EXPECT_EQ(qv::MissingFolderOf("/scenes.avi"), "");
    EXPECT_EQ(qv::MissingFolderOf(dir.Path("scenes.avi")), "");
    EXPECT_EQ(qv::MissingFolderOf(dir.Path("gone/deeper/scenes.avi")), dir.Path("gone/deeper"));
    EXPECT_EQ(qv::MissingFolderOf(dir.Path("gone//scenes.avi")), dir.Path("gone"));
    EXPECT_EQ(qv::MissingFolderOf(dir.Path("file/scenes.avi")), dir.Path("file"));
}

TEST(File, OpensOnlyExistingRegularFiles) {
    qvtest::TempDir dir;
    qv::File f;
    EXPECT_FALSE(f.OpenRead(dir.Path("missing"), qv::File::Access::Sequential));
    EXPECT_EQ(f.LastError(), ENOENT);
    EXPECT_FALSE(f.OpenRead(dir.Dir().string(), qv::File::Access::Sequential));
    // A FIFO without a writer must not block the open.
    std::string fifo = dir.Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(f.OpenRead(fifo, qv::File::Access::Sequential));
    EXPECT_FALSE(f.OpenRead("/dev/zero", qv::File::Access::Sequential));
    EXPECT_FALSE(f.IsOpen());
}

TEST(File, ReadsAtPositionsAndStopsAtTheEnd) {
    qvtest::TempDir dir;
    std::string path = dir.Path("f");
    ASSERT_TRUE(qvtest::WriteFileBytes(path, {10, 11, 12, 13, 14}));
    qv::File f;
    ASSERT_TRUE(f.OpenRead(path, qv::File::Access::Random));
    EXPECT_EQ(f.Size(), 5);
    uint8_t buf[8] = {};
    EXPECT_EQ(f.Read(buf, 2), 2);
    EXPECT_EQ(buf[1], 11);
    EXPECT_EQ(f.Position(), 2);
    EXPECT_EQ(f.Read(buf, 8), 3);
    EXPECT_EQ(buf[0], 12);
    EXPECT_EQ(f.Read(buf, 8), 0);
    EXPECT_TRUE(f.Seek(int64_t{1} << 40));  // beyond the end is a position, not an error
    EXPECT_EQ(f.Read(buf, 8), 0);
    EXPECT_FALSE(f.Seek(-1));
    EXPECT_TRUE(f.Seek(0));  // back to the start
    EXPECT_EQ(f.Read(buf, 1), 1);
    EXPECT_EQ(buf[0], 10);
    EXPECT_EQ(f.ReadAt(4, buf, 8), 1);
    EXPECT_EQ(buf[0], 14);
    EXPECT_EQ(f.ReadAt(-5, buf, 1), -1);
}

// Started with its standard input closed, the program gets descriptor 0 for the
// first file it opens.
TEST(File, ReadsThroughDescriptorZero) {
    qvtest::TempDir dir;
    const std::string path = dir.Path("f");
    ASSERT_TRUE(qvtest::WriteFileBytes(path, {1, 2, 3}));
    const int saved = ::dup(0);
    ASSERT_GE(saved, 0);
    ::close(0);
    qv::File f;
    const bool opened = f.OpenRead(path, qv::File::Access::Random);
    uint8_t buf[3] = {};
    const int64_t got = opened ? f.ReadAt(0, buf, 3) : -2;
    f.Close();
    ::dup2(saved, 0);
    ::close(saved);
    ASSERT_TRUE(opened);
    EXPECT_EQ(got, 3);
    EXPECT_EQ(buf[2], 3);
}

TEST(File, AFileThatShrinksGivesShortReads) {
    qvtest::TempDir dir;
    std::string path = dir.Path("f");
    ASSERT_TRUE(qvtest::WriteFileBytes(path, std::vector<uint8_t>(1000, 7)));
    qv::File f;
    ASSERT_TRUE(f.OpenRead(path, qv::File::Access::Random));
    ASSERT_EQ(::truncate(path.c_str(), 100), 0);
    std::vector<uint8_t> buf(1000);
    EXPECT_EQ(f.ReadAt(0, buf.data(), 1000), 100);
    EXPECT_EQ(f.ReadAt(500, buf.data(), 10), 0);
}

// A chunk copied from one file into another: its header, the source's bytes and its
// pad byte, in the kernel where it can and through memory where it cannot (another
// file system), with the shortfall told apart by side.
TEST(File, WriteAtCopyingCopiesTheRangeAndTellsWhoseFaultAShortfallIs) {
    qvtest::TempDir dir;
    std::vector<uint8_t> source(3 << 20);
    for (size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<uint8_t>(i * 7 + i / 4093);
    }
    ASSERT_TRUE(qvtest::WriteFileBytes(dir.Path("src"), source));
    qv::File in;
    ASSERT_TRUE(in.OpenRead(dir.Path("src"), qv::File::Access::Sequential));
    const uint8_t head[8] = {'0', '0', 'd', 'c', 1, 2, 3, 4};
    const uint8_t pad = 0;
    const int64_t from = 5;
    const int64_t count = (5 << 19) + 3;  // more than the 1 MiB bounce buffer
    std::vector<std::string> places = {dir.Path("out")};
    if (std::filesystem::is_directory("/dev/shm")) {
        places.push_back("/dev/shm/qv-copy-test-" + std::to_string(::getpid()));
    }
    for (const std::string& place : places) {
        SCOPED_TRACE(place);
        std::filesystem::remove(place);
        qv::File out;
        ASSERT_TRUE(out.CreateNew(place));
        ASSERT_EQ(out.WriteAt(0, "xy", 2), 2);
        bool sourceFailed = true;
        EXPECT_EQ(out.WriteAtCopying(2, {head, 8}, in, from, count, {&pad, 1}, &sourceFailed),
                  8 + count + 1);
        EXPECT_FALSE(sourceFailed);
        std::vector<uint8_t> expected(static_cast<size_t>(2 + 8 + count + 1), 0);
        expected[0] = 'x';
        expected[1] = 'y';
        for (size_t i = 0; i < 8; ++i) {
            expected[2 + i] = head[i];
        }
        for (int64_t i = 0; i < count; ++i) {
            expected[static_cast<size_t>(10 + i)] = source[static_cast<size_t>(from + i)];
        }
        EXPECT_EQ(qvtest::ReadFileBytes(place), expected);

        // The source ends inside the range.
        const int64_t at = static_cast<int64_t>(expected.size());
        EXPECT_EQ(out.WriteAtCopying(at, {head, 8}, in, (3 << 20) - 10, 100, {&pad, 0},
                                     &sourceFailed),
                  8 + 10);
        EXPECT_TRUE(sourceFailed);

        // A full disk: the chunk counts as one write, whatever calls it takes.
        qv::WriteFaults faults;
        faults.shortWriteAt = 1;
        qv::SetWriteFaults(&faults);
        EXPECT_EQ(out.WriteAtCopying(0, {head, 8}, in, 0, 1000, {&pad, 0}, &sourceFailed), 1008);
        EXPECT_EQ(out.WriteAtCopying(0, {head, 8}, in, 0, 1000, {&pad, 0}, &sourceFailed), 504);
        EXPECT_FALSE(sourceFailed);
        EXPECT_EQ(out.WriteAtCopying(0, {head, 8}, in, 0, 1000, {&pad, 0}, &sourceFailed), -1);
        qv::SetWriteFaults(nullptr);
        out.Close();
        std::filesystem::remove(place);
    }
}

TEST(LocalTime, ConvertsLocalWallClockTimeBothWays) {
    qvtest::ScopedTimeZone cet(qvtest::kCentralEurope);
    int32_t t = qv::LocalTimeToCalendar(2000, 4, 12, 20, 3, 9);
    EXPECT_EQ(t, 955562589);  // summer time: 18:03:09 UTC
    EXPECT_EQ(qv::FormatLocalTime(t, "%Y%m%d %H.%M.%S"), "20000412 20.03.09");
}

TEST(LocalTime, TimesOutsideTheSigned32BitRangeFail) {
    qvtest::ScopedTimeZone utc("UTC");
    EXPECT_EQ(qv::LocalTimeToCalendar(2038, 1, 19, 3, 14, 7), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(qv::LocalTimeToCalendar(2038, 1, 19, 3, 14, 8), -1);
    EXPECT_EQ(qv::LocalTimeToCalendar(1969, 12, 31, 23, 59, 59), -1);
    EXPECT_EQ(qv::LocalTimeToCalendar(1925, 6, 1, 0, 0, 0), -1);
    EXPECT_EQ(qv::LocalTimeToCalendar(1970, 1, 1, 0, 0, 0), 0);
}

}  // namespace
