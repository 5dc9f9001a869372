#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <cstdint>
#include <string>
#include <unordered_set>
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

Scene Scanned(int32_t datestamp, const std::string& source = "/in/tape1.avi") {
    Scene s;
    s.sourceFile = source;
    s.write = 1;
    s.frameCount = 100;
    s.datestamp = datestamp;
    return s;
}

Scene Unscanned(const std::string& source) {
    Scene s;
    s.outputName = source;
    s.sourceFile = source;
    s.write = 1;
    s.wholeFile = 1;
    s.unscanned = 1;
    s.frameCount = 1000;
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

TEST_F(OutputNaming, DateFormWithDotsAfterAnApostrophe) {
    SceneList list = ListOf({Scanned(k180309), Scanned(k191000)});
    EXPECT_TRUE(NameOutputs(list, "/video/holiday.avi"));
    EXPECT_EQ(Names(list), Holiday({"20000412 18.03.09", "20000412 19.10.00"}));
    EXPECT_EQ(list[0].nameSuffix, "20000412 18.03.09");
    EXPECT_EQ(list[1].nameSuffix, "20000412 19.10.00");
}

TEST_F(OutputNaming, TheDateFormIsLocalTime) {
    qvtest::ScopedTimeZone central(qvtest::kCentralEurope);
    SceneList list = ListOf({Scanned(k180309), Scanned(Utc(2000, 1, 5, 23, 30, 0))});
    NameOutputs(list, "/video/holiday.avi");
    // Summer time (UTC+2) in April, winter time (UTC+1) in January, past midnight.
    EXPECT_EQ(list[0].nameSuffix, "20000412 20.03.09");
    EXPECT_EQ(list[1].nameSuffix, "20000106 00.30.00");
}

TEST_F(OutputNaming, UndatedScenesCountFromOneUnderEachBase) {
    // A datestamp of 0 or below (-1: the time could not be converted) takes the counter.
    SceneList list = ListOf({Scanned(0), Scanned(k180309), Scanned(-1), Scanned(0)});
    EXPECT_TRUE(NameOutputs(list, "/video/holiday.avi"));
    EXPECT_EQ(Names(list), Holiday({"#0001", "20000412 18.03.09", "#0002", "#0003"}));
    EXPECT_EQ(list[0].nameSuffix, "#0001");
    EXPECT_EQ(list[3].nameSuffix, "#0003");

    // Naming again rebuilds every name from scratch: the same names.
    const std::vector<std::string> first = Names(list);
    EXPECT_TRUE(NameOutputs(list, "/video/holiday.avi"));
    EXPECT_EQ(Names(list), first);
    EXPECT_EQ(list[3].nameSuffix, "#0003");

    // Another output path: new names, the counters start over.
    EXPECT_TRUE(NameOutputs(list, "/out/trip.avi"));
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"/out/trip'#0001.avi", "/out/trip'20000412 18.03.09.avi",
                                        "/out/trip'#0002.avi", "/out/trip'#0003.avi"}));
}

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
        SceneList list = ListOf({Scanned(k180309), Scanned(0)});
        EXPECT_TRUE(NameOutputs(list, c.outputPath));
        EXPECT_EQ(Names(list), (std::vector<std::string>{
                                   std::string(c.base) + "'20000412 18.03.09" + c.extension,
                                   std::string(c.base) + "'#0001" + c.extension}));
    }
}

TEST_F(OutputNaming, LongPathsAreNotCut) {
    // Names beyond what a platform accepts are reported when written, never shortened here.
    const std::string folder = "/" + std::string(300, 'd') + "/";
    SceneList list = ListOf({Scanned(k180309)});
    NameOutputs(list, folder + "holiday.avi");
    EXPECT_EQ(list[0].outputName, folder + "holiday'20000412 18.03.09.avi");
}

TEST_F(OutputNaming, UnscannedRecordsKeepTheirSourcePathAndDisableWriting) {
    SceneList list = ListOf({Unscanned("/in/tape1.avi")});
    list[0].outputName = "stale";
    EXPECT_FALSE(NameOutputs(list, "/video/holiday.avi"));
    EXPECT_EQ(list[0].outputName, "/in/tape1.avi");

    // Scanned scenes beside them are named; writing stays disabled.
    list = ListOf({Scanned(k180309), Unscanned("/in/tape2.avi"), Scanned(0)});
    EXPECT_FALSE(NameOutputs(list, "/video/holiday.avi"));
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"/video/holiday'20000412 18.03.09.avi", "/in/tape2.avi",
                                        "/video/holiday'#0001.avi"}));

    SceneList empty;
    EXPECT_FALSE(NameOutputs(empty, "/video/holiday.avi"));
}

TEST_F(OutputNaming, NamesCollideRegardlessOfLetterCase) {
    // An earlier record already holds the first counter's name in other letters.
    SceneList list = ListOf({Unscanned("/VIDEO/HOLIDAY'#0001.AVI"), Scanned(0), Scanned(0)});
    NameOutputs(list, "/video/holiday.avi");
    EXPECT_EQ(Names(list), (std::vector<std::string>{"/VIDEO/HOLIDAY'#0001.AVI",
                                                     "/video/holiday'#0002.avi",
                                                     "/video/holiday'#0003.avi"}));

    // A taken counter in the middle is skipped; the ones around it are used.
    list = ListOf({Scanned(0), Unscanned("/video/Holiday'#0003.avi"), Scanned(0), Scanned(0)});
    NameOutputs(list, "/video/holiday.avi");
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"/video/holiday'#0001.avi", "/video/Holiday'#0003.avi",
                                        "/video/holiday'#0002.avi", "/video/holiday'#0004.avi"}));
}

TEST_F(OutputNaming, ScenesStartingInTheSameSecondGetDistinctNames) {
    SceneList list =
        ListOf({Scanned(k180309), Scanned(k180309), Scanned(k191000), Scanned(k180309)});
    EXPECT_TRUE(NameOutputs(list, "/video/holiday.avi"));
    EXPECT_EQ(Names(list), Holiday({"20000412 18.03.09", "20000412 18.03.09#0002",
                                    "20000412 19.10.00", "20000412 18.03.09#0003"}));
    EXPECT_EQ(list[1].nameSuffix, "20000412 18.03.09#0002");
    // The undated counter is not disturbed by them.
    list.Append(Scanned(0));
    NameOutputs(list, "/video/holiday.avi");
    EXPECT_EQ(list[4].outputName, "/video/holiday'#0001.avi");

    // Distinct datestamps one second apart keep exactly the plain names.
    list = ListOf({Scanned(k180309), Scanned(k180309 + 1), Scanned(k180309 + 2)});
    NameOutputs(list, "/video/holiday.avi");
    EXPECT_EQ(Names(list), Holiday({"20000412 18.03.09", "20000412 18.03.10", "20000412 18.03.11"}));
}

TEST_F(OutputNaming, TheRepeatedHourInAutumnGivesDistinctNames) {
    // 02:30 on 29 October 2000 happened twice in Central Europe: at 00:30 and 01:30 UTC.
    qvtest::ScopedTimeZone central(qvtest::kCentralEurope);
    SceneList list =
        ListOf({Scanned(Utc(2000, 10, 29, 0, 30, 0)), Scanned(Utc(2000, 10, 29, 1, 30, 0))});
    NameOutputs(list, "/video/holiday.avi");
    EXPECT_EQ(Names(list), Holiday({"20001029 02.30.00", "20001029 02.30.00#0002"}));
}

TEST_F(OutputNaming, TheCounterWidensPast9999) {
    // 10,001 undated scenes: every one gets a name of its own.
    SceneList list;
    list.SetSize(10001);
    for (Scene& s : list) {
        s.sourceFile = "/in/tape.avi";
        s.frameCount = 1;
    }
    EXPECT_TRUE(NameOutputs(list, "/video/holiday.avi"));
    EXPECT_EQ(list[0].outputName, "/video/holiday'#0001.avi");
    EXPECT_EQ(list[9998].outputName, "/video/holiday'#9999.avi");
    EXPECT_EQ(list[9999].outputName, "/video/holiday'#10000.avi");
    EXPECT_EQ(list[10000].outputName, "/video/holiday'#10001.avi");
    EXPECT_EQ(list[10000].nameSuffix, "#10001");
    std::unordered_set<std::string> distinct;
    for (const Scene& s : list) {
        distinct.insert(s.outputName);
    }
    EXPECT_EQ(distinct.size(), 10001u);
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
