// A frame's datestamp: the recording date and time packs of the frame itself, or
// of the frame in the data file a "REF " chunk points into.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "dv/Datestamp.h"
#include "support/AviFixture.h"
#include "support/FakeQuestions.h"
#include "support/MemoryStream.h"
#include "support/SceneSetup.h"
#include "support/Tapes.h"
#include "support/TimeZone.h"

namespace {

using qvtest::DvTime;
using qvtest::MakeDvFrame;
using qvtest::MemoryStream;
using qvtest::Sized;

// Seconds since 1970 of a UTC date, computed without the C library.
int64_t UtcSeconds(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return qvtest::Instant(DvTime{y, mo, d, h, mi, s});
}

const int64_t kAt = UtcSeconds(2004, 7, 14, 10, 20, 30);

// The datestamp of a stream of one chunk.
qv::Datestamp StampOf(const std::vector<uint8_t>& chunk, qv::RefFileCache* cache = nullptr) {
    MemoryStream stream({chunk});
    qv::RefFileCache scratch;
    return qv::ReadFrameDatestamp(stream, 0, cache != nullptr ? *cache : scratch, nullptr, nullptr);
}

// A frame whose date pack holds day, month, year and time pack sec, min, hour as given.
std::vector<uint8_t> Raw(uint8_t day, uint8_t month, uint8_t year, uint8_t sec = 0,
                         uint8_t min = 0, uint8_t hour = 0) {
    auto f = MakeDvFrame(true, DvTime{}, 1);
    const uint8_t packs[] = {day, month, year, f[463], f[464], sec, min, hour};
    std::copy(std::begin(packs), std::end(packs), f.begin() + 460);
    return f;
}

using DatestampTest = qvtest::UtcTest;

TEST_F(DatestampTest, DecodesThePacksOfTheFirst512Bytes) {
    const struct {
        const char* what;
        std::vector<uint8_t> frame;
        int64_t stamp;
    } rows[] = {
        {"23:59:59", Raw(0x14, 0x07, 0x04, 0x59, 0x59, 0x23), UtcSeconds(2004, 7, 14, 23, 59, 59)},
        // Time fields out of range mean no datestamp.
        {"second 60", Raw(0x14, 0x07, 0x04, 0x60, 0x59, 0x23), 0},
        {"minute 60", Raw(0x14, 0x07, 0x04, 0x00, 0x60, 0x00), 0},
        {"hour 24", Raw(0x14, 0x07, 0x04, 0x00, 0x00, 0x24), 0},
        // Bits outside the digit masks (pack flags) do not change the value.
        {"flag bits", Raw(0xD4, 0xE7, 0x04, 0x80 | 0x30, 0x80 | 0x20, 0xC0 | 0x10), kAt},
        // Day and month are normalised by the conversion.
        {"32 July", Raw(0x32, 0x07, 0x04), UtcSeconds(2004, 8, 1)},
        // The last second of the signed 32-bit calendar time, and the one after it.
        {"2038 limit", Raw(0x19, 0x01, 0x38, 0x07, 0x14, 0x03), 0x7FFFFFFF},
        {"2038 overflow", Raw(0x19, 0x01, 0x38, 0x08, 0x14, 0x03), -1},
        // A tape position without a recording date: 0xFF everywhere.
        {"no date", MakeDvFrame(true, std::nullopt, 3), 0},
        {"512 bytes", Sized(MakeDvFrame(true, DvTime{2004, 7, 14, 10, 20, 30}, 0), 512), kAt},
        {"511 bytes", Sized(MakeDvFrame(true, DvTime{2004, 7, 14, 10, 20, 30}, 0), 511), 0},
        // Two-digit years map onto the years of DV; recordings since 2025 keep their dates.
        {"95", Raw(1, 1, 0x95), UtcSeconds(1995, 1, 1)},
        {"00", Raw(1, 1, 0x00), UtcSeconds(2000, 1, 1)},
        {"25", Raw(1, 1, 0x25), UtcSeconds(2025, 1, 1)},
        {"37", Raw(1, 1, 0x37), UtcSeconds(2037, 1, 1)},
        {"94", Raw(1, 1, 0x94), -1},  // 2094
    };
    // The rows in turn through one memo (each differs from the one before in some of
    // the six bytes), then again in reverse: the memo gives what the packs say.
    qv::DatestampMemo memo;
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t i = 0; i < std::size(rows); ++i) {
            const auto& row = rows[pass == 0 ? i : std::size(rows) - 1 - i];
            EXPECT_EQ(StampOf(row.frame), row.stamp) << row.what;
            if (row.frame.size() >= 512) {
                EXPECT_EQ(qv::DecodeDatestamp(row.frame.data(), memo),
                          qv::DecodeDatestamp(row.frame.data()))
                    << row.what;
            }
        }
    }
    // Each of the six bytes alone changes the memo's answer.
    const std::vector<uint8_t> base = Raw(0x14, 0x07, 0x04, 0x30, 0x20, 0x10);
    for (const size_t at : {460, 461, 462, 465, 466, 467}) {
        std::vector<uint8_t> changed = base;
        changed[at] = static_cast<uint8_t>(changed[at] - 1);
        EXPECT_EQ(qv::DecodeDatestamp(base.data(), memo), qv::DecodeDatestamp(base.data()));
        EXPECT_EQ(qv::DecodeDatestamp(changed.data(), memo), qv::DecodeDatestamp(changed.data()))
            << at;
        EXPECT_NE(qv::DecodeDatestamp(changed.data()), qv::DecodeDatestamp(base.data())) << at;
    }
}

class RefChunkTest : public DatestampTest {
protected:
    // A data file holding two DV frames (10:20:30 and :31), each behind an 8-byte chunk
    // header, after 16 bytes of something else.
    void SetUp() override {
        qvtest::RiffBuilder data;
        data.Zeros(16);
        for (int i = 0; i < 2; ++i) {
            framePositions_.push_back(static_cast<uint32_t>(data.Position()));
            data.Chunk("00dc", MakeDvFrame(true, DvTime{2004, 7, 14, 10, 20, 30 + i}, 0));
        }
        ASSERT_TRUE(qvtest::WriteFileBytes(dataFile_, data.Bytes()));
    }

    std::vector<uint8_t> Ref(int frame, const std::string& name) {
        return qvtest::MakeRefChunk(framePositions_[static_cast<size_t>(frame)], name);
    }

    qvtest::TempDir dir_;
    const std::string dataFile_ = dir_.Path("capture.dat");
    std::vector<uint32_t> framePositions_;
    qv::RefFileCache cache;
    qvtest::FakeQuestions questions;
};

TEST_F(RefChunkTest, FollowsTheReferenceIntoTheDataFileAndKeepsItOpen) {
    // Names differing in letter case are different files here.
    MemoryStream stream({Ref(0, dataFile_), Ref(1, dataFile_), Ref(1, dir_.Path("CAPTURE.DAT"))});
    std::string referenced = "stale";
    EXPECT_EQ(qv::ReadFrameDatestamp(stream, 1, cache, &referenced, &questions), kAt + 1);
    EXPECT_EQ(referenced, dataFile_);
    // The name is gone from the folder; the cached open file still reads.
    std::filesystem::remove(dataFile_);
    EXPECT_EQ(qv::ReadFrameDatestamp(stream, 0, cache, &referenced, &questions), kAt);
    EXPECT_EQ(qv::ReadFrameDatestamp(stream, 2, cache, nullptr, &questions), 0);
    EXPECT_EQ(cache.name, dir_.Path("CAPTURE.DAT"));
    EXPECT_TRUE(questions.asked.empty());
}

TEST_F(RefChunkTest, WhatIsAReferenceAndWhereItMayPoint) {
    const auto size = static_cast<uint32_t>(std::filesystem::file_size(dataFile_));
    auto refStart = Sized(MakeDvFrame(true, DvTime{2001, 2, 3, 4, 5, 6}, 0), 600);
    std::memcpy(refStart.data(), "REF ", 4);
    auto unterminated = Ref(0, dataFile_);
    unterminated.pop_back();  // the name's zero byte
    const struct {
        const char* what;
        std::vector<uint8_t> chunk;
        int64_t stamp;
        bool followed;  // the cache holds the data file's name
    } rows[] = {
        {"padded to 400 bytes", Sized(Ref(0, dataFile_), 400), kAt, true},
        // Chunks of 512 bytes or more are frames even when they start with "REF ".
        {"600 bytes", refStart, UtcSeconds(2001, 2, 3, 4, 5, 6), false},
        // The frame's data would start 100 bytes before the end: a short read.
        {"100 bytes before the end", qvtest::MakeRefChunk(size - 108, dataFile_), 0, true},
        {"far past the end", qvtest::MakeRefChunk(0xFFFFFFF0u, dataFile_), 0, true},
        // Incomplete reference chunks are frames without datestamp.
        {"REF alone", {'R', 'E', 'F', ' '}, 0, false},
        {"no name", {'R', 'E', 'F', ' ', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, false},
        {"unterminated name", unterminated, 0, false},
    };
    for (const auto& row : rows) {
        qv::RefFileCache fresh;
        EXPECT_EQ(StampOf(row.chunk, &fresh), row.stamp) << row.what;
        EXPECT_EQ(fresh.name, row.followed ? dataFile_ : "") << row.what;
    }
}

TEST_F(RefChunkTest, AMissingDataFileIsReportedAtFrameZeroOnly) {
    std::string missing = dir_.Path("gone.dat");
    MemoryStream stream(std::vector<std::vector<uint8_t>>(6, Ref(0, missing)));
    std::string referenced = "x";
    EXPECT_EQ(qv::ReadFrameDatestamp(stream, 5, cache, &referenced, &questions), 0);
    EXPECT_TRUE(questions.asked.empty());
    EXPECT_EQ(referenced, "");
    EXPECT_EQ(qv::ReadFrameDatestamp(stream, 0, cache, nullptr, &questions), 0);
    ASSERT_EQ(questions.asked.size(), 1u);
    EXPECT_EQ(questions.asked[0].text,
              "can't open referenced data file \"" + missing + "\" for reading");
    EXPECT_EQ(questions.asked[0].buttons, qv::Buttons::Ok);
    // Not retried while the name stays the same, even once the file exists.
    ASSERT_TRUE(qvtest::WriteFileBytes(missing, qvtest::ReadFileBytes(dataFile_)));
    EXPECT_EQ(qv::ReadFrameDatestamp(stream, 1, cache, nullptr, &questions), 0);
    EXPECT_EQ(questions.asked.size(), 1u);
}

}  // namespace
