#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

#include "dv/Datestamp.h"
#include "support/AviFixture.h"
#include "support/FakeQuestions.h"
#include "support/MemoryStream.h"
#include "support/TimeZone.h"

namespace {

using qvtest::DvTime;
using qvtest::MakeDvFrame;
using qvtest::MemoryStream;

// Seconds since 1970 of a UTC date, computed without the C library.
int64_t UtcSeconds(int y, int mo, int d, int h, int mi, int s) {
    y -= mo <= 2;
    const int64_t era = y / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return (era * 146097 + doe - 719468) * 86400 + h * 3600 + mi * 60 + s;
}

qv::Datestamp StampOf(std::vector<uint8_t> frame, int index = 0) {
    std::vector<std::vector<uint8_t>> frames(static_cast<size_t>(index) + 1, frame);
    MemoryStream stream(frames);
    qv::RefFileCache cache;
    return qv::ReadFrameDatestamp(stream, index, cache, nullptr, nullptr);
}

std::vector<uint8_t> FrameWithRawBytes(uint8_t day, uint8_t month, uint8_t year, uint8_t sec,
                                       uint8_t min, uint8_t hour) {
    auto f = MakeDvFrame(true, DvTime{}, 1);
    f[460] = day;
    f[461] = month;
    f[462] = year;
    f[465] = sec;
    f[466] = min;
    f[467] = hour;
    return f;
}

class DatestampTest : public ::testing::Test {
protected:
    qvtest::ScopedTimeZone utc_{"UTC"};
};

TEST_F(DatestampTest, DecodesTheRecordingDateAndTimePacks) {
    EXPECT_EQ(StampOf(MakeDvFrame(true, DvTime{2004, 7, 14, 10, 20, 30}, 0)),
              UtcSeconds(2004, 7, 14, 10, 20, 30));
    EXPECT_EQ(StampOf(MakeDvFrame(false, DvTime{2000, 4, 12, 18, 3, 9}, 0)), 955562589);
}

TEST_F(DatestampTest, TimeFieldsOutOfRangeMeanNoDatestamp) {
    EXPECT_EQ(StampOf(FrameWithRawBytes(0x14, 0x07, 0x04, 0x59, 0x59, 0x23)),
              UtcSeconds(2004, 7, 14, 23, 59, 59));
    EXPECT_EQ(StampOf(FrameWithRawBytes(0x14, 0x07, 0x04, 0x60, 0x59, 0x23)), 0);
    EXPECT_EQ(StampOf(FrameWithRawBytes(0x14, 0x07, 0x04, 0x00, 0x60, 0x00)), 0);
    EXPECT_EQ(StampOf(FrameWithRawBytes(0x14, 0x07, 0x04, 0x00, 0x00, 0x24)), 0);
    // A tape position without a recording date: 0xFF everywhere.
    EXPECT_EQ(StampOf(MakeDvFrame(true, std::nullopt, 3)), 0);
}

TEST_F(DatestampTest, MasksIgnoreTheFlagBitsAroundTheDigits) {
    // Bits outside the digit masks (pack flags) do not change the value.
    EXPECT_EQ(StampOf(FrameWithRawBytes(0xD4, 0xE7, 0x04, 0x80 | 0x30, 0x80 | 0x20, 0xC0 | 0x10)),
              UtcSeconds(2004, 7, 14, 10, 20, 30));
}

TEST_F(DatestampTest, DayAndMonthAreNormalisedByTheConversion) {
    EXPECT_EQ(StampOf(FrameWithRawBytes(0x32, 0x07, 0x04, 0x00, 0x00, 0x00)),
              UtcSeconds(2004, 8, 1, 0, 0, 0));
}

TEST_F(DatestampTest, TwoDigitYearsMapOntoTheYearsOfDv) {
    auto year = [](uint8_t y) { return StampOf(FrameWithRawBytes(0x01, 0x01, y, 0, 0, 0)); };
    EXPECT_EQ(year(0x95), UtcSeconds(1995, 1, 1, 0, 0, 0));
    EXPECT_EQ(year(0x99), UtcSeconds(1999, 1, 1, 0, 0, 0));
    EXPECT_EQ(year(0x00), UtcSeconds(2000, 1, 1, 0, 0, 0));
    EXPECT_EQ(year(0x24), UtcSeconds(2024, 1, 1, 0, 0, 0));
    // Recordings made since 2025 keep their dates.
    EXPECT_EQ(year(0x25), UtcSeconds(2025, 1, 1, 0, 0, 0));
    EXPECT_EQ(year(0x26), UtcSeconds(2026, 1, 1, 0, 0, 0));
    EXPECT_EQ(year(0x37), UtcSeconds(2037, 1, 1, 0, 0, 0));
    // Beyond the signed 32-bit calendar time: the conversion failure.
    EXPECT_EQ(year(0x39), -1);
    EXPECT_EQ(year(0x94), -1);
}

TEST_F(DatestampTest, LocalTimeWithSummerTimeDecidedByThePlatform) {
    qvtest::ScopedTimeZone cet(qvtest::kCentralEurope);
    EXPECT_EQ(StampOf(MakeDvFrame(true, DvTime{2004, 7, 14, 10, 20, 30}, 0)),
              UtcSeconds(2004, 7, 14, 8, 20, 30));
    EXPECT_EQ(StampOf(MakeDvFrame(true, DvTime{2004, 1, 14, 10, 20, 30}, 0)),
              UtcSeconds(2004, 1, 14, 9, 20, 30));
}

TEST_F(DatestampTest, ShortOrUnreadableFramesHaveNoDatestamp) {
    auto frame = MakeDvFrame(true, DvTime{}, 0);
    frame.resize(511);
    EXPECT_EQ(StampOf(frame), 0);
    frame.resize(0);
    EXPECT_EQ(StampOf(frame), 0);
    MemoryStream empty({});
    qv::RefFileCache cache;
    EXPECT_EQ(qv::ReadFrameDatestamp(empty, 3, cache, nullptr, nullptr), 0);
}

TEST_F(DatestampTest, AFrameOfExactly512BytesIsEnough) {
    auto frame = MakeDvFrame(true, DvTime{2004, 7, 14, 10, 20, 30}, 0);
    frame.resize(512);
    EXPECT_EQ(StampOf(frame), UtcSeconds(2004, 7, 14, 10, 20, 30));
}

class RefChunkTest : public DatestampTest {
protected:
    // A data file holding two DV frames, each behind an 8-byte chunk header.
    void SetUp() override {
        std::vector<uint8_t> data(16, 0);  // something before the first frame
        for (int i = 0; i < 2; ++i) {
            framePositions_.push_back(static_cast<uint32_t>(data.size()));
            std::vector<uint8_t> header = {'0', '0', 'd', 'c', 0, 0, 0, 0};
            data.insert(data.end(), header.begin(), header.end());
            auto f = MakeDvFrame(true, DvTime{2004, 7, 14, 10, 20, 30 + i}, 0);
            data.insert(data.end(), f.begin(), f.end());
        }
        dataFile_ = dir_.Path("capture.dat");
        ASSERT_TRUE(qvtest::WriteFileBytes(dataFile_, data));
    }

    std::vector<uint8_t> Ref(int frame, const std::string& name) {
        return qvtest::MakeRefChunk(framePositions_[static_cast<size_t>(frame)], name);
    }

    qvtest::TempDir dir_;
    std::string dataFile_;
    std::vector<uint32_t> framePositions_;
};

TEST_F(RefChunkTest, FollowsTheReferenceIntoTheDataFile) {
    MemoryStream stream({Ref(0, dataFile_), Ref(1, dataFile_)});
    qv::RefFileCache cache;
    qvtest::FakeQuestions questions;
    std::string referenced = "stale";
    EXPECT_EQ(qv::ReadFrameDatestamp(stream, 1, cache, &referenced, &questions),
              UtcSeconds(2004, 7, 14, 10, 20, 31));
    EXPECT_EQ(referenced, dataFile_);
    EXPECT_EQ(qv::ReadFrameDatestamp(stream, 0, cache, &referenced, &questions),
              UtcSeconds(2004, 7, 14, 10, 20, 30));
    EXPECT_TRUE(questions.asked.empty());
}

TEST_F(RefChunkTest, AReferenceChunkPaddedTo400BytesIsFollowed) {
    auto ref = Ref(0, dataFile_);
    ref.resize(400, 0);
    EXPECT_EQ(StampOf(ref), UtcSeconds(2004, 7, 14, 10, 20, 30));
}

TEST_F(RefChunkTest, ChunksOf512BytesOrMoreAreFramesEvenWhenTheyStartWithREF) {
    auto frame = MakeDvFrame(true, DvTime{2001, 2, 3, 4, 5, 6}, 0);
    frame.resize(600);
    std::memcpy(frame.data(), "REF ", 4);
    EXPECT_EQ(StampOf(frame), UtcSeconds(2001, 2, 3, 4, 5, 6));
}

TEST_F(RefChunkTest, TheOpenFileIsReusedWhileTheNameStaysTheSame) {
    MemoryStream stream({Ref(0, dataFile_), Ref(1, dataFile_)});
    qv::RefFileCache cache;
    ASSERT_NE(qv::ReadFrameDatestamp(stream, 0, cache, nullptr, nullptr), 0);
    // The name is gone from the folder; the cached open file still reads.
    std::filesystem::remove(dataFile_);
    EXPECT_EQ(qv::ReadFrameDatestamp(stream, 1, cache, nullptr, nullptr),
              UtcSeconds(2004, 7, 14, 10, 20, 31));
    cache.Close();
    EXPECT_TRUE(cache.name.empty());
    EXPECT_FALSE(cache.file.IsOpen());
}

TEST_F(RefChunkTest, NamesDifferingInLetterCaseAreDifferentFilesHere) {
    std::string upper = dir_.Path("CAPTURE.DAT");
    MemoryStream stream({Ref(0, dataFile_), Ref(1, upper)});
    qv::RefFileCache cache;
    qvtest::FakeQuestions questions;
    ASSERT_NE(qv::ReadFrameDatestamp(stream, 0, cache, nullptr, &questions), 0);
    EXPECT_EQ(qv::ReadFrameDatestamp(stream, 1, cache, nullptr, &questions), 0);
    EXPECT_EQ(cache.name, upper);
}

TEST_F(RefChunkTest, AMissingDataFileIsReportedAtFrameZeroOnly) {
    std::string missing = dir_.Path("gone.dat");
    MemoryStream stream({Ref(0, missing), Ref(0, missing), Ref(0, missing), Ref(0, missing),
                         Ref(0, missing), Ref(0, missing)});
    qvtest::FakeQuestions questions;
    std::string referenced = "x";
    {
        qv::RefFileCache cache;
        EXPECT_EQ(qv::ReadFrameDatestamp(stream, 5, cache, &referenced, &questions), 0);
        EXPECT_TRUE(questions.asked.empty());
        EXPECT_EQ(referenced, "");
    }
    qv::RefFileCache cache;
    EXPECT_EQ(qv::ReadFrameDatestamp(stream, 0, cache, &referenced, &questions), 0);
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].text, "can't open referenced data file \"" + missing + "\" for reading");
    EXPECT_EQ(questions.asked[0].buttons, qv::Buttons::Ok);
    // Not retried while the name stays the same, even once the file exists.
    ASSERT_TRUE(qvtest::WriteFileBytes(missing, qvtest::ReadFileBytes(dataFile_)));
    EXPECT_EQ(qv::ReadFrameDatestamp(stream, 1, cache, nullptr, &questions), 0);
    EXPECT_EQ(questions.asked.size(), 1u);
}

TEST_F(RefChunkTest, APositionBeyondTheDataFileGivesNoDatestamp) {
    // The frame's data would start 100 bytes before the end: a short read.
    const auto size = static_cast<uint32_t>(std::filesystem::file_size(dataFile_));
    EXPECT_EQ(StampOf(qvtest::MakeRefChunk(size - 108, dataFile_)), 0);
    EXPECT_EQ(StampOf(qvtest::MakeRefChunk(size + 1000, dataFile_)), 0);
    EXPECT_EQ(StampOf(qvtest::MakeRefChunk(0xFFFFFFF0u, dataFile_)), 0);
}

TEST_F(RefChunkTest, IncompleteReferenceChunksAreFramesWithoutDatestamp) {
    qvtest::FakeQuestions questions;
    auto check = [&](std::vector<uint8_t> chunk) {
        MemoryStream stream({chunk});
        qv::RefFileCache cache;
        EXPECT_EQ(qv::ReadFrameDatestamp(stream, 0, cache, nullptr, &questions), 0);
        EXPECT_TRUE(cache.name.empty());
    };
    check({'R', 'E', 'F', ' '});
    check({'R', 'E', 'F', ' ', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // no name at all
    auto unterminated = Ref(0, dataFile_);
    unterminated.pop_back();  // the name's zero byte
    check(unterminated);
    EXPECT_TRUE(questions.asked.empty());
}

}  // namespace
