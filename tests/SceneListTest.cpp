#include <gtest/gtest.h>

#include "app/SceneList.h"

namespace {

using qv::FormatFrameTime;
using qv::SceneColumnText;

TEST(FormatFrameTime, MinutesSecondsFramesOfTheNominalRateOrPlainFrameNumbers) {
    struct Row { int32_t frames; float rate; const char* text; };
    const Row rows[] = {
        {0, 25.0f, "00:00:00"}, {24, 25.0f, "00:00:24"}, {1500, 25.0f, "01:00:00"},
        // Minutes keep counting past an hour and widen past two digits.
        {90000, 25.0f, "60:00:00"}, {25 * 60 * 150, 25.0f, "150:00:00"},
        // Negative values: a sign and the absolute value's text.
        {-30, 25.0f, "-00:01:05"}, {-1500, 25.0f, "-01:00:00"},
        // NTSC frames count as frames of thirty.
        {1800, 29.97f, "01:00:01"}, {107892, 29.97f, "59:59:29"},
        // Below half a frame a second the nominal rate would be 0: frame numbers.
        {5, 0.0f, "5"}, {-7, -25.0f, "-7"}, {1234, 0.3f, "1234"},
        // From 0.5 on the nominal rate is 1 and the usual arithmetic applies.
        {3, 0.5f, "00:04:00"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(FormatFrameTime(row.frames, row.rate), row.text) << row.frames << " at " << row.rate;
    }
}

TEST(SceneColumnText, WidthsOfTheSixColumnsAndUnknownColumns) {
    const int widths[] = {213, 50, 68, 118, 190, 63};
    for (int c = 0; c < 6; ++c) {  // the titles are the header of the scene list file
        int width = -1;
        SceneColumnText(nullptr, c, &width);
        EXPECT_EQ(width, widths[c]);
    }
    for (int c : {-1, 6, 100}) {
        int width = -1;
        EXPECT_EQ(SceneColumnText(nullptr, c, &width), "?");
        EXPECT_EQ(width, 5);
        qv::Scene s;
        EXPECT_EQ(SceneColumnText(&s, c), "?");
    }
}

}  // namespace
