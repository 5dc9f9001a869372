#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/OutputNaming.h"
#include "app/SceneList.h"
#include "support/TimeZone.h"

namespace {

using qv::NameOutputs;
using qv::Scene;
using qv::SceneList;

int32_t Utc(int year, unsigned month, unsigned day, int hour, int minute, int second) {
    using namespace std::chrono;
    const sys_seconds t = sys_days{std::chrono::year{year} / month / day} + hours{hour} +
                          minutes{minute} + seconds{second};
    return static_cast<int32_t>(t.time_since_epoch().count());
}

const int32_t k180309 = Utc(2000, 4, 12, 18, 3, 9);
const int32_t k191000 = Utc(2000, 4, 12, 19, 10, 0);

Scene Unscanned(const std::string& source) {
    Scene s;
    s.sourceFile = source;
    s.unscanned = 1;
    return s;
}

Scene Dated(int32_t datestamp) {  // 0 or below: none
    Scene s;
    s.datestamp = datestamp;
    return s;
}

SceneList ListOf(const std::vector<Scene>& scenes) {
    SceneList list;
    for (const Scene& s : scenes) {
        list.Append(s);
    }
    return list;
}

std::vector<std::string> Names(const SceneList& list) {
    std::vector<std::string> names;
    for (const Scene& s : list) {
        names.push_back(s.outputName);
    }
    return names;
}

// The names /video/holiday'SUFFIX.avi of the given suffixes.
std::vector<std::string> Holiday(std::initializer_list<std::string> suffixes) {
    std::vector<std::string> names;
    for (const std::string& suffix : suffixes) {
        names.push_back("/video/holiday'" + suffix + ".avi");
    }
    return names;
}

class OutputNaming : public testing::Test {
protected:
    qvtest::ScopedTimeZone zone{"UTC"};
};

TEST_F(OutputNaming, TheOutputPathsPartsStayInEveryName) {
    struct Case {
        const char* outputPath;
        const char* base;       // the names are base'20000412 18.03.09 and base'#0001,
        const char* extension;  // each with this extension
    };
    const Case cases[] = {
        {"/video/holiday", "/video/holiday", ".avi"},  // no extension: ".avi"
        // The extension is the last component's, a dot in a folder is none.
        {"/my.videos/holiday", "/my.videos/holiday", ".avi"},
        {"/video/holiday.DV", "/video/holiday", ".DV"},
        {"/video/holiday.2000.avi", "/video/holiday.2000", ".avi"},
        // A path picked from an earlier output file: the base is cut at the apostrophe.
        {"/video/holiday'20000412 18.03.09.avi", "/video/holiday", ".avi"},
        {"/video/holiday'#0007'x.avi", "/video/holiday", ".avi"},
        // Only the file name is cut, not a folder holding an apostrophe.
        {"/bob's videos/holiday.avi", "/bob's videos/holiday", ".avi"},
        {"/video/'old.avi", "/video/", ".avi"},  // an empty base
        {"clips.avi", "clips", ".avi"},          // relative paths stay relative
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outputPath);
        SceneList list = ListOf({Dated(k180309), Dated(0)});
        EXPECT_TRUE(NameOutputs(list, c.outputPath));
        EXPECT_EQ(Names(list), (std::vector<std::string>{
                                   std::string(c.base) + "'20000412 18.03.09" + c.extension,
                                   std::string(c.base) + "'#0001" + c.extension}));
        EXPECT_EQ(list[0].nameSuffix, "20000412 18.03.09");
        EXPECT_EQ(list[1].nameSuffix, "#0001");
    }
}

TEST_F(OutputNaming, TheDateFormIsLocalTime) {
    qvtest::ScopedTimeZone central(qvtest::kCentralEurope);
    SceneList list = ListOf({Dated(k180309), Dated(Utc(2000, 1, 5, 23, 30, 0))});
    NameOutputs(list, "/video/holiday.avi");
    // Summer time (UTC+2) in April, winter time (UTC+1) in January, past midnight.
    EXPECT_EQ(list[0].nameSuffix, "20000412 20.03.09");
    EXPECT_EQ(list[1].nameSuffix, "20000106 00.30.00");
}

TEST_F(OutputNaming, UndatedScenesCountFromOneUnderEachBase) {
    // A datestamp of 0 or below (-1: the time could not be converted) takes the counter.
    SceneList list = ListOf({Dated(0), Dated(k180309), Dated(-1), Dated(0)});
    EXPECT_TRUE(NameOutputs(list, "/video/holiday.avi"));
    EXPECT_EQ(Names(list), Holiday({"#0001", "20000412 18.03.09", "#0002", "#0003"}));
    EXPECT_EQ(list[3].nameSuffix, "#0003");
    // Naming again under another output path: new names, the counters start over.
    EXPECT_TRUE(NameOutputs(list, "/out/trip.avi"));
    EXPECT_EQ(list[3].outputName, "/out/trip'#0003.avi");
}

TEST_F(OutputNaming, UnscannedRecordsKeepTheirSourcePathAndDisableWriting) {
    SceneList list = ListOf({Dated(k180309), Unscanned("/in/tape2.avi"), Dated(0)});
    list[1].outputName = "stale";
    EXPECT_FALSE(NameOutputs(list, "/video/holiday.avi"));
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"/video/holiday'20000412 18.03.09.avi", "/in/tape2.avi",
                                        "/video/holiday'#0001.avi"}));
    SceneList empty;
    EXPECT_FALSE(NameOutputs(empty, "/video/holiday.avi"));
}

TEST_F(OutputNaming, NamesCollideIgnoringTheCaseOfEveryLetterFromAToZ) {
    // An earlier record already holds the first counter's name in other letters.
    SceneList list = ListOf({Unscanned("/VIDEO/ZANZIBAR'#0001.AVI"), Dated(0), Dated(0)});
    NameOutputs(list, "/video/zanzibar.avi");
    EXPECT_EQ(Names(list), (std::vector<std::string>{"/VIDEO/ZANZIBAR'#0001.AVI",
                                                     "/video/zanzibar'#0002.avi",
                                                     "/video/zanzibar'#0003.avi"}));
    // A taken counter in the middle is skipped; the ones around it are used.
    list = ListOf({Dated(0), Unscanned("/video/Holiday'#0003.avi"), Dated(0), Dated(0)});
    NameOutputs(list, "/video/holiday.avi");
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"/video/holiday'#0001.avi", "/video/Holiday'#0003.avi",
                                        "/video/holiday'#0002.avi", "/video/holiday'#0004.avi"}));
}

TEST_F(OutputNaming, ScenesStartingInTheSameSecondGetDistinctNames) {
    SceneList list =
        ListOf({Dated(k180309), Dated(k180309), Dated(k191000), Dated(k180309), Dated(0)});
    EXPECT_TRUE(NameOutputs(list, "/video/holiday.avi"));
    // The undated counter is not disturbed by them.
    EXPECT_EQ(Names(list), Holiday({"20000412 18.03.09", "20000412 18.03.09#0002",
                                    "20000412 19.10.00", "20000412 18.03.09#0003", "#0001"}));
    EXPECT_EQ(list[1].nameSuffix, "20000412 18.03.09#0002");
}

TEST_F(OutputNaming, TheCounterWidensPast9999) {
    SceneList list;
    list.SetSize(10001);
    EXPECT_TRUE(NameOutputs(list, "/video/holiday.avi"));
    EXPECT_EQ(list[9998].outputName, "/video/holiday'#9999.avi");
    EXPECT_EQ(list[9999].outputName, "/video/holiday'#10000.avi");
    EXPECT_EQ(list[10000].nameSuffix, "#10001");
}

TEST(StillPictureName, TheBaseIsCutAtItsApostrophe) {
    struct Case { const char* base; const char* expected; };
    for (const Case c : {Case{"/p/clip.bmp", "/p/clip'20000412 18.03.09.bmp"},
                         Case{"/p/clip'20000101 00.00.00.bmp", "/p/clip'20000412 18.03.09.bmp"},
                         Case{"/p/it's'x.bmp", "/p/it'20000412 18.03.09.bmp"},
                         Case{"/p.d/clip", "/p.d/clip'20000412 18.03.09"}}) {
        EXPECT_EQ(qv::StillPictureName(c.base, "20000412 18.03.09"), c.expected) << c.base;
    }
}

}  // namespace
