#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <tuple>

#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "support/AviFixture.h"

namespace {

// A file of 20011 bytes of a pattern at path; its bytes.
std::vector<uint8_t> PatternFile(const std::string& path) {
    std::vector<uint8_t> bytes(20011);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 13 + i / 251);
    }
    EXPECT_TRUE(qvtest::WriteFileBytes(path, bytes));
    return bytes;
}

TEST(FileSystem, SameFileByIdentityWhereBothExistAndTheFolderThatIsMissing) {
    qvtest::TempDir dir;
    std::string a = dir.Path("a.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(a, {1}) && qvtest::WriteFileBytes(dir.Path("b.avi"), {1}));
    std::filesystem::create_hard_link(a, dir.Path("hard.avi"));
    std::filesystem::create_symlink(a, dir.Path("sym.avi"));
    EXPECT_TRUE(qv::SameFile(a, dir.Path("hard.avi")));
    EXPECT_TRUE(qv::SameFile(a, dir.Path("sym.avi")));
    EXPECT_FALSE(qv::SameFile(a, dir.Path("b.avi")));
    EXPECT_FALSE(qv::SameFile(dir.Path("x.avi"), dir.Path("X.avi")));  // two files here
    // A file and a new name in the same folder are on one device.
    EXPECT_TRUE(qv::OnSameDevice(a, dir.Path("new.avi")));

    // The folder of a name, only when it is no folder.
    EXPECT_EQ(qv::MissingFolderOf("scenes.avi"), "");  // the current folder
    EXPECT_EQ(qv::MissingFolderOf(dir.Path("scenes.avi")), "");
    EXPECT_EQ(qv::MissingFolderOf(dir.Path("gone//scenes.avi")), dir.Path("gone"));
    EXPECT_EQ(qv::MissingFolderOf(a + "/scenes.avi"), a);
    // Relative names, each as short as it can be: shown without their slashes.
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(dir.Dir());
    EXPECT_EQ(qv::MissingFolderOf("g/scenes.avi"), "g");
    EXPECT_EQ(qv::MissingFolderOf("g//scenes.avi"), "g");
    EXPECT_EQ(qv::MissingFolderOf("a.avi/x.avi"), "a.avi");
    EXPECT_EQ(qv::MissingFolderOf("/scenes.avi"), "");  // the root
    std::filesystem::current_path(here);
}

TEST(File, OpensRegularFilesReadsAtPositionsAndStopsAtTheEnd) {
    qvtest::TempDir dir;
    qv::File f;
    EXPECT_FALSE(f.OpenRead(dir.Path("missing"), qv::File::Access::Sequential));
    EXPECT_EQ(f.LastError(), ENOENT);
    EXPECT_FALSE(f.OpenRead("/dev/zero", qv::File::Access::Sequential));
    EXPECT_FALSE(f.IsOpen());

    ASSERT_TRUE(qvtest::WriteFileBytes(dir.Path("f"), {10, 11, 12, 13, 14}));
    ASSERT_TRUE(f.OpenRead(dir.Path("f"), qv::File::Access::Random));
    EXPECT_EQ(f.Size(), 5);
    uint8_t buf[8] = {};
    EXPECT_EQ(f.Read(buf, 2), 2);
    EXPECT_EQ(f.Read(buf, 8), 3);
    EXPECT_EQ(buf[0], 12);
    EXPECT_EQ(f.Read(buf, 8), 0);
    EXPECT_TRUE(f.Seek(int64_t{1} << 40));  // beyond the end is a position, not an error
    EXPECT_EQ(f.Read(buf, 8), 0);
    EXPECT_FALSE(f.Seek(-1));
    EXPECT_TRUE(f.Seek(0) && f.Read(buf, 1) == 1 && buf[0] == 10);  // back to the start
    EXPECT_EQ(f.ReadAt(4, buf, 8), 1);
    EXPECT_EQ(buf[0], 14);
    EXPECT_EQ(f.ReadAt(-5, buf, 1), -1);
    f.Close();

    // Started with its standard input closed, the program gets descriptor 0 for the
    // first file it opens.
    const int saved = ::dup(0);
    ::close(0);
    const bool opened = f.OpenRead(dir.Path("f"), qv::File::Access::Random);
    uint8_t head[1] = {};
    const int64_t got = f.ReadAt(0, buf, 3);
    const int64_t gotTwoParts = f.ReadAt(3, head, 1, buf, 2);  // a header and a buffer
    f.Close();
    ::dup2(saved, 0);
    ::close(saved);
    ASSERT_TRUE(opened);
    EXPECT_EQ(std::make_tuple(got, gotTwoParts, head[0], buf[0]),
              std::make_tuple(int64_t{3}, int64_t{2}, uint8_t{13}, uint8_t{14}));
}

// A chunk copied from one file into another: its header, the source's bytes and its
// pad byte, in the kernel where it can and through memory where it cannot (another
// file system), with the shortfall told apart by side.
TEST(File, WritesCopiesOfRangesAndWhatFitsOnAFullDisk) {
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
        bool sourceFailed = true;
        EXPECT_EQ(out.WriteAtCopying(2, {head, 8}, in, 5, count, {&pad, 1}, &sourceFailed),
                  8 + count + 1);
        EXPECT_FALSE(sourceFailed);
        std::vector<uint8_t> expected(static_cast<size_t>(10 + count + 1), pad);
        std::copy(head, head + 8, expected.begin() + 2);
        std::copy(source.begin() + 5, source.begin() + 5 + count, expected.begin() + 10);
        EXPECT_EQ(qvtest::ReadFileBytes(place), expected);

        // The source ends inside the range.
        EXPECT_EQ(out.WriteAtCopying(0, {head, 8}, in, (3 << 20) - 10, 100, {&pad, 0},
                                     &sourceFailed),
                  8 + 10);
        EXPECT_TRUE(sourceFailed);

        // A full disk: the chunk counts as one write, whatever calls it takes.
        qv::WriteFaults faults{.shortWriteAt = 1};
        qv::SetWriteFaults(&faults);
        EXPECT_EQ(out.WriteAtCopying(0, {head, 8}, in, 0, 1000, {&pad, 0}, &sourceFailed), 1008);
        EXPECT_EQ(out.WriteAtCopying(0, {head, 8}, in, 0, 1000, {&pad, 0}, &sourceFailed), 504);
        EXPECT_FALSE(sourceFailed);
        EXPECT_EQ(out.WriteAtCopying(0, {head, 8}, in, 0, 1000, {&pad, 0}, &sourceFailed), -1);
        qv::SetWriteFaults(nullptr);
        out.Close();
        std::filesystem::remove(place);
    }

    // WriteAt on a full disk: the bytes that fit are written and counted, later writes fail.
    qv::File out;
    ASSERT_TRUE(out.CreateNew(dir.Path("out")));
    qv::WriteFaults faults{.shortWriteAt = 0};
    qv::SetWriteFaults(&faults);
    EXPECT_EQ(out.WriteAt(0, "abcd", 4), 2);
    EXPECT_EQ(out.WriteAt(2, "cd", 2), -1);
    qv::SetWriteFaults(nullptr);
    EXPECT_EQ(std::tuple(out.LastError(), qvtest::ReadFileText(dir.Path("out"))),
              std::tuple(ENOSPC, "ab"));
}

// A read, write or copy call that fails partway through a chunk, at every call of
// each operation, moving a few bytes a call or many: the operation returns exactly
// the bytes it moved (-1 when none), those bytes are in their places and none after
// them, and the error given is the one that happened; or, where it tried again
// another way, every byte is in its place.
TEST(File, ACallFailingPartwayReturnsWhatWasMovedAndWhy) {
    qvtest::TempDir dir;
    const std::vector<uint8_t> source = PatternFile(dir.Path("src"));
    const uint8_t head[8] = {'0', '1', 'w', 'b', 9, 8, 7, 6};
    const uint8_t pad = 0;
    static constexpr uint8_t kUntouched = 0xEE;
    const auto span = [&](size_t from, size_t n) {
        return std::vector<uint8_t>(source.begin() + static_cast<std::ptrdiff_t>(from),
                                    source.begin() + static_cast<std::ptrdiff_t>(from + n));
    };
    const auto joined = [](std::initializer_list<std::vector<uint8_t>> pieces) {
        std::vector<uint8_t> all;
        for (const auto& p : pieces) {
            all.insert(all.end(), p.begin(), p.end());
        }
        return all;
    };
    const std::vector<uint8_t> headBytes(head, head + 8);
    struct Outcome {
        int64_t result = 0;
        std::vector<uint8_t> bytes;  // where the operation puts them
        int error = 0;
    };
    // Each operation on fresh files: what it returned, the bytes at its place and its error.
    const struct Operation {
        const char* name;
        std::vector<uint8_t> expected;
        std::function<Outcome(qv::File& in, qv::File& out)> run;
    } operations[] = {
        {"ReadAt", span(3, 15000),
         [](qv::File& in, qv::File&) {
             Outcome o{0, std::vector<uint8_t>(15000, kUntouched), 0};
             o.result = in.ReadAt(3, o.bytes.data(), 15000);
             o.error = in.ReadError();
             return o;
         }},
        {"ReadAt with a head", span(7, 4008),
         [](qv::File& in, qv::File&) {
             Outcome o{0, std::vector<uint8_t>(4008, kUntouched), 0};
             o.result = in.ReadAt(7, o.bytes.data(), 8, o.bytes.data() + 8, 4000);
             o.error = in.ReadError();
             return o;
         }},
        {"WriteAt of parts", joined({headBytes, span(1, 9000), {pad}}),
         [&](qv::File&, qv::File& out) {
             const qv::File::Part parts[3] = {{head, 8}, {source.data() + 1, 9000}, {&pad, 1}};
             Outcome o;
             o.result = out.WriteAt(4, parts, 3);
             o.error = out.LastError();
             return o;
         }},
        {"WriteAtCopying", joined({headBytes, span(100, 7001), {pad}}),
         [&](qv::File& in, qv::File& out) {
             bool sourceFailed = false;
             Outcome o;
             o.result = out.WriteAtCopying(4, {head, 8}, in, 100, 7001, {&pad, 1}, &sourceFailed);
             o.error = sourceFailed ? in.LastError() : out.LastError();
             return o;
         }},
    };
    for (const Operation& op : operations) {
        const bool writes = std::string(op.name).starts_with("Write");
        for (const int64_t cap : {1, 997, 4093}) {
            // Runs the operation with call k failing (-1: none); the calls it made.
            const auto trial = [&](int64_t k, Outcome* outcome) {
                qv::File in;
                qv::File out;
                EXPECT_TRUE(in.OpenRead(dir.Path("src"), qv::File::Access::Random));
                std::filesystem::remove(dir.Path("out"));
                EXPECT_TRUE(out.CreateNew(dir.Path("out")));
                const std::vector<uint8_t> blank(20000, kUntouched);
                EXPECT_EQ(out.WriteAt(0, blank.data(), 20000), 20000);
                qv::WriteFaults faults{.bytesPerCall = cap, .failCallAt = k, .failCallError = EIO};
                qv::SetWriteFaults(&faults);
                *outcome = op.run(in, out);
                qv::SetWriteFaults(nullptr);
                if (writes) {
                    const std::vector<uint8_t> file = qvtest::ReadFileBytes(dir.Path("out"));
                    outcome->bytes.assign(file.begin() + 4, file.begin() + 4 +
                                          static_cast<std::ptrdiff_t>(op.expected.size()));
                }
                return faults.calls;
            };
            Outcome clean;
            const int64_t calls = trial(-1, &clean);
            ASSERT_EQ(clean.result, static_cast<int64_t>(op.expected.size())) << op.name;
            ASSERT_EQ(clean.bytes, op.expected) << op.name;
            for (int64_t k = 0; k < std::min<int64_t>(calls, 40); ++k) {
                SCOPED_TRACE(std::string(op.name) + ", " + std::to_string(cap) +
                             " bytes a call, call " + std::to_string(k) + " of " +
                             std::to_string(calls) + " failing");
                Outcome o;
                trial(k, &o);
                ASSERT_NE(o.result, 0);
                const auto moved = static_cast<size_t>(std::max<int64_t>(o.result, 0));
                if (moved == op.expected.size()) {
                    // Tried again another way (a vector write part by part), and done.
                    EXPECT_EQ(o.bytes, op.expected);
                    continue;
                }
                ASSERT_LT(moved, op.expected.size());
                EXPECT_EQ(o.error, EIO);
                EXPECT_TRUE(std::equal(o.bytes.begin(), o.bytes.begin() + static_cast<std::ptrdiff_t>(moved),
                                       op.expected.begin()))
                    << "the bytes moved are not the data";
                EXPECT_EQ(o.bytes[moved], kUntouched) << "a byte after the ones reported was moved";
                if (HasFailure()) {
                    return;
                }
            }
        }
    }
}

// Calls that move fewer bytes than asked, or none when a signal interrupts them,
// at every size from a byte up: each read, write and copy still moves all its
// bytes, to and from the right places.
TEST(File, ShortAndInterruptedCallsStillMoveEveryByteToItsPlace) {
    qvtest::TempDir dir;
    const std::vector<uint8_t> source = PatternFile(dir.Path("src"));
    qv::File in;
    ASSERT_TRUE(in.OpenRead(dir.Path("src"), qv::File::Access::Random));
    const auto span = [&](size_t from, size_t n) {
        return std::vector<uint8_t>(source.begin() + static_cast<std::ptrdiff_t>(from),
                                    source.begin() + static_cast<std::ptrdiff_t>(from + n));
    };
    const uint8_t head[8] = {'0', '1', 'w', 'b', 9, 8, 7, 6};
    const uint8_t pad = 0;
    for (const int64_t cap : {1, 5, 8, 4093}) {
        for (const int64_t every : {0, 2, 3}) {
            SCOPED_TRACE(std::to_string(cap) + " bytes a call, every " + std::to_string(every) +
                         " interrupted");
            qv::WriteFaults faults{.bytesPerCall = cap, .interruptEvery = every};
            qv::SetWriteFaults(&faults);
            std::vector<uint8_t> buffer(source.size());
            const bool read = in.ReadAt(3, buffer.data(), 15000) == 15000;
            uint8_t header[8] = {};
            const bool readTwo = in.ReadAt(7, header, 8, buffer.data() + 15000, 4000) == 4008;

            qv::File out;
            const bool created = out.CreateNew(dir.Path("out"));
            const qv::File::Part parts[3] = {{head, 8}, {source.data() + 1, 9000}, {&pad, 1}};
            const bool wrote = out.WriteAt(4, parts, 3) == 9009;
            bool sourceFailed = true;
            const bool copied = out.WriteAtCopying(9013, {head, 8}, in, 100, 7001, {&pad, 1},
                                                   &sourceFailed) == 7010;
            qv::SetWriteFaults(nullptr);
            EXPECT_TRUE(read && readTwo && created && wrote && copied && !sourceFailed);
            EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 15000),
                      span(3, 15000));
            EXPECT_EQ(std::vector<uint8_t>(header, header + 8), span(7, 8));
            EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + 15000, buffer.begin() + 19000),
                      span(15, 4000));
            std::vector<uint8_t> expected(4, 0);
            for (const auto& piece : {std::vector<uint8_t>(head, head + 8), span(1, 9000),
                                      std::vector<uint8_t>{pad}, std::vector<uint8_t>(head, head + 8),
                                      span(100, 7001), std::vector<uint8_t>{pad}}) {
                expected.insert(expected.end(), piece.begin(), piece.end());
            }
            EXPECT_EQ(qvtest::ReadFileBytes(dir.Path("out")), expected);
            // However many calls they took, they were one write each.
            EXPECT_EQ(faults.writes, 2);
            out.Close();
            std::filesystem::remove(dir.Path("out"));
        }
    }
}

}  // namespace
