#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/OutputNaming.h"
#include "app/SceneList.h"
#include "support/Tapes.h"
#include "support/TimeZone.h"

namespace {

using qv::NameOutputs;
using qv::Scene;
using qv::SceneList;

int32_t Utc(int year, int month, int day, int hour, int minute, int second) {
    return static_cast<int32_t>(qvtest::Instant({year, month, day, hour, minute, second}));
}

const int32_t k180309 = Utc(2000, 4, 12, 18, 3, 9);
const int32_t k191000 = Utc(2000, 4, 12, 19, 10, 0);

Scene Unscanned(const std::string& source) {
    Scene s;
    s.outputName = "stale";
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

// The names /video/zanzibar'SUFFIX.avi of the given suffixes.
std::vector<std::string> Zanzibar(std::initializer_list<std::string> suffixes) {
    std::vector<std::string> names;
    for (const std::string& suffix : suffixes) {
        names.push_back("/video/zanzibar'" + suffix + ".avi");
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
        {"/video/.hidden", "/video/.hidden", ".avi"},  // a leading dot starts no extension
        // A path picked from an earlier output file: the base is cut at the apostrophe.
        {"/video/holiday'#0007'x.avi", "/video/holiday", ".avi"},
        // Only the file name is cut, not a folder holding an apostrophe.
        {"/bob's videos/holiday.avi", "/bob's videos/holiday", ".avi"},
        {"clips.avi", "clips", ".avi"},          // relative paths stay relative
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outputPath);
        SceneList list = ListOf({Dated(k180309), Dated(0)});
        EXPECT_TRUE(NameOutputs(list, c.outputPath));
        EXPECT_EQ(Names(list), (std::vector<std::string>{
                                   std::string(c.base) + "'20000412 18.03.09" + c.extension,
                                   std::string(c.base) + "'#0001" + c.extension}));
    }
}

TEST_F(OutputNaming, DatedScenesByTheirTimeTheRestByACounter) {
    struct Case {
        const char* what;
        std::vector<Scene> scenes;
        std::vector<std::string> names;
        bool writable;  // the result: no unscanned records, at least one scene
    };
    const Case cases[] = {
        // A datestamp of 0 or below (-1: the time could not be converted) takes the counter.
        {"undated", {Dated(0), Dated(k180309), Dated(-1), Dated(0)},
         Zanzibar({"#0001", "20000412 18.03.09", "#0002", "#0003"}), true},
        // The undated counter is not disturbed by scenes of the same second.
        {"the same second",
         {Dated(k180309), Dated(k180309), Dated(k191000), Dated(k180309), Dated(0)},
         Zanzibar({"20000412 18.03.09", "20000412 18.03.09#0002", "20000412 19.10.00",
                  "20000412 18.03.09#0003", "#0001"}), true},
        // Unscanned records keep their source path and disable writing.
        {"unscanned", {Dated(k180309), Unscanned("/in/tape2.avi"), Dated(0)},
         {"/video/zanzibar'20000412 18.03.09.avi", "/in/tape2.avi", "/video/zanzibar'#0001.avi"},
         false},
        {"nothing", {}, {}, false},
        // Names collide ignoring the case of every letter from A to Z.
        {"a taken first counter", {Unscanned("/VIDEO/ZANZIBAR'#0001.AVI"), Dated(0), Dated(0)},
         {"/VIDEO/ZANZIBAR'#0001.AVI", "/video/zanzibar'#0002.avi", "/video/zanzibar'#0003.avi"},
         false},
        {"a taken counter in the middle",
         {Dated(0), Unscanned("/video/Zanzibar'#0003.avi"), Dated(0), Dated(0)},
         {"/video/zanzibar'#0001.avi", "/video/Zanzibar'#0003.avi", "/video/zanzibar'#0002.avi",
          "/video/zanzibar'#0004.avi"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SceneList list = ListOf(c.scenes);
        EXPECT_EQ(NameOutputs(list, "/video/zanzibar.avi"), c.writable);
        EXPECT_EQ(Names(list), c.names);
    }
    // The suffixes, and naming again under another output path: the counters start over.
    SceneList list = ListOf({Dated(k180309), Dated(k180309), Dated(0)});
    NameOutputs(list, "/video/holiday.avi");
    EXPECT_EQ(list[1].nameSuffix, "20000412 18.03.09#0002");
    EXPECT_TRUE(NameOutputs(list, "/out/trip.avi"));
    EXPECT_EQ(list[2].outputName, "/out/trip'#0001.avi");
    EXPECT_EQ(list[2].nameSuffix, "#0001");
}

TEST_F(OutputNaming, TheCounterWidensPast9999) {
    SceneList list;
    list.SetSize(10000);
    EXPECT_TRUE(NameOutputs(list, "/video/holiday.avi"));
    EXPECT_EQ(list[9998].outputName, "/video/holiday'#9999.avi");
    EXPECT_EQ(list[9999].outputName, "/video/holiday'#10000.avi");
}

TEST(StillPictureName, TheBaseIsCutAtItsApostrophe) {
    struct Case { const char* base; const char* expected; };
    for (const Case c : {Case{"/p/clip.bmp", "/p/clip'20000412 18.03.09.bmp"},
                         Case{"/p/it's'x.bmp", "/p/it'20000412 18.03.09.bmp"},
                         Case{"/p.d/clip", "/p.d/clip'20000412 18.03.09"}}) {
        EXPECT_EQ(qv::StillPictureName(c.base, "20000412 18.03.09"), c.expected) << c.base;
    }
}

}  // namespace
