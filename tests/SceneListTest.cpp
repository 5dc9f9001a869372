#include <gtest/gtest.h>

#include "app/SceneList.h"
#include "dv/DatestampScan.h"
#include "support/AviFixture.h"
#include "support/TimeZone.h"

namespace {

using qv::FormatFrameTime;
using qv::Scene;
using qv::SceneColumnText;

// A file without a usable rate (empty, cut inside its headers) leaves the program-wide
// rate alone, so lengths and positions stay times instead of frame numbers.
TEST(FramesPerSecond, OnlyAPlausibleRateBecomesTheProgramWideRate) {
    qvtest::TempDir dir;
    const std::string empty = dir.Path("empty.avi");
    ASSERT_TRUE(qvtest::WriteFileBytes(empty, {}));
    qv::framesPerSecond = 25.0f;
    EXPECT_EQ(qv::ProbeInputFile(empty, nullptr), 0);
    EXPECT_EQ(qv::framesPerSecond, 25.0f);
    EXPECT_EQ(qv::FormatFrameTime(1500), "01:00:00");
    for (double rate : {0.0, -25.0, 1000.5, 1e9}) {
        EXPECT_FALSE(qv::AdoptFramesPerSecond(rate)) << rate;
        EXPECT_EQ(qv::framesPerSecond, 25.0f);
    }
    EXPECT_TRUE(qv::AdoptFramesPerSecond(30000.0 / 1001.0));
    EXPECT_FLOAT_EQ(qv::framesPerSecond, 29.97003f);
    EXPECT_TRUE(qv::AdoptFramesPerSecond(25.0));
}

TEST(FormatFrameTime, CountsMinutesSecondsFramesAtWholeRates) {
    EXPECT_EQ(FormatFrameTime(0, 25.0f), "00:00:00");
    EXPECT_EQ(FormatFrameTime(24, 25.0f), "00:00:24");
    EXPECT_EQ(FormatFrameTime(1500, 25.0f), "01:00:00");
    // Minutes keep counting past an hour and widen past two digits.
    EXPECT_EQ(FormatFrameTime(90000, 25.0f), "60:00:00");
    EXPECT_EQ(FormatFrameTime(25 * 60 * 150, 25.0f), "150:00:00");
}

TEST(FormatFrameTime, NegativeValuesGetASignAndTheAbsoluteValuesText) {
    EXPECT_EQ(FormatFrameTime(-30, 25.0f), "-00:01:05");
    EXPECT_EQ(FormatFrameTime(-1500, 25.0f), "-01:00:00");
}

TEST(FormatFrameTime, NtscFramesCountAsFramesOfThirty) {
    EXPECT_EQ(FormatFrameTime(1800, 29.97f), "01:00:01");
    EXPECT_EQ(FormatFrameTime(107892, 29.97f), "59:59:29");
}

TEST(FormatFrameTime, RatesBelowHalfAFrameGiveDecimalFrameNumbers) {
    EXPECT_EQ(FormatFrameTime(5, 0.0f), "5");
    EXPECT_EQ(FormatFrameTime(-7, -25.0f), "-7");
    // A nominal rate of 0 would divide by zero.
    EXPECT_EQ(FormatFrameTime(1234, 0.3f), "1234");
    // From 0.5 on the nominal rate is 1 and the usual arithmetic applies.
    EXPECT_EQ(FormatFrameTime(3, 0.5f), "00:04:00");
}

TEST(FormatFrameTime, DefaultsToTheProgramWideRate) {
    float saved = qv::framesPerSecond;
    qv::framesPerSecond = 0.0f;
    EXPECT_EQ(FormatFrameTime(99), "99");
    qv::framesPerSecond = 25.0f;
    EXPECT_EQ(FormatFrameTime(99), "00:03:24");
    qv::framesPerSecond = saved;
}

TEST(SceneColumnText, TitlesAndWidthsOfTheSixColumns) {
    const char* titles[] = {"Filename", "write?", "Length", "Datestamp", "orig. file", "orig. pos"};
    const int widths[] = {213, 50, 68, 118, 190, 63};
    for (int c = 0; c < 6; ++c) {
        int width = -1;
        EXPECT_EQ(SceneColumnText(nullptr, c, &width), titles[c]);
        EXPECT_EQ(width, widths[c]);
    }
    for (int c : {-1, 6, 100}) {
        int width = -1;
        EXPECT_EQ(SceneColumnText(nullptr, c, &width), "?");
        EXPECT_EQ(width, 5);
        Scene s;
        EXPECT_EQ(SceneColumnText(&s, c), "?");
    }
}

TEST(SceneColumnText, CellTexts) {
    qvtest::ScopedTimeZone utc("UTC");
    float saved = qv::framesPerSecond;
    qv::framesPerSecond = 25.0f;
    Scene s;
    s.outputName = "/v/scenes'20000412 18.03.09.avi";
    s.sourceFile = "/v/tape1.avi";
    s.write = 1;
    s.frameCount = 1500;
    s.firstFrame = 90000;
    s.datestamp = 955562589;  // 2000-04-12 18:03:09 UTC
    EXPECT_EQ(SceneColumnText(&s, 0), s.outputName);
    EXPECT_EQ(SceneColumnText(&s, 1), "YES");
    EXPECT_EQ(SceneColumnText(&s, 2), "01:00:00");
    EXPECT_EQ(SceneColumnText(&s, 3), "20000412 18:03:09");
    EXPECT_EQ(SceneColumnText(&s, 4), "/v/tape1.avi");
    EXPECT_EQ(SceneColumnText(&s, 5), "60:00:00");
    s.write = 0;
    s.datestamp = 0;
    EXPECT_EQ(SceneColumnText(&s, 1), "no");
    EXPECT_EQ(SceneColumnText(&s, 3), "n/a");
    qv::framesPerSecond = saved;
}

TEST(SceneColumnText, DatestampIsShownInLocalTime) {
    qvtest::ScopedTimeZone cet(qvtest::kCentralEurope);
    Scene s;
    s.datestamp = 955562589;  // 18:03:09 UTC is 20:03:09 summer time
    EXPECT_EQ(SceneColumnText(&s, 3), "20000412 20:03:09");
}

TEST(SceneList, SetSizeAppendsDefaultScenesAndCutsTheTail) {
    qv::SceneList list;
    Scene a;
    a.sourceFile = "a.avi";
    a.frameCount = 10;
    list.Append(a);
    list.SetSize(3);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0].sourceFile, "a.avi");
    EXPECT_EQ(list[2].sourceFile, "");
    EXPECT_EQ(list[2].frameCount, 0);
    list.SetSize(1);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0].frameCount, 10);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

}  // namespace
