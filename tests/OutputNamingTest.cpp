#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/OutputNaming.h"
#include "app/SceneList.h"
#include "support/SceneSetup.h"
#include "support/Tapes.h"
#include "support/TimeZone.h"

namespace {

using qv::Scene;
using Names = std::vector<std::string>;

int32_t Utc(int year, int month, int day, int hour, int minute, int second) {
    return static_cast<int32_t>(qvtest::Instant({year, month, day, hour, minute, second}));
}

const int32_t k180309 = Utc(2000, 4, 12, 18, 3, 9), k191000 = Utc(2000, 4, 12, 19, 10, 0);

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

// The names NameOutputs gives scenes under outputPath; a name /video/zanzibar'SUFFIX.avi
// of a scene whose suffix is SUFFIX as that suffix. writable receives the result.
Names Named(const std::vector<Scene>& scenes, const std::string& outputPath,
            bool* writable = nullptr) {
    qv::SceneList list = qvtest::ListOf(scenes);
    const bool result = qv::NameOutputs(list, outputPath);
    if (writable != nullptr) {
        *writable = result;
    }
    Names names;
    for (const Scene& s : list) {
        const bool usual = s.outputName == "/video/zanzibar'" + s.nameSuffix + ".avi";
        names.push_back(usual ? s.nameSuffix : s.outputName);
    }
    return names;
}

using OutputNaming = qvtest::UtcTest;

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
        {"clips.avi", "clips", ".avi"},  // relative paths stay relative
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Named({Dated(k180309), Dated(0)}, c.outputPath),
                  (Names{std::string(c.base) + "'20000412 18.03.09" + c.extension,
                         std::string(c.base) + "'#0001" + c.extension}))
            << c.outputPath;
    }
}

TEST_F(OutputNaming, DatedScenesByTheirTimeTheRestByACounter) {
    struct Case {
        const char* what;
        std::vector<Scene> scenes;
        Names names;
        bool writable;  // the result: no unscanned records, at least one scene
    };
    const Case cases[] = {
        // A datestamp of 0 or below (-1: the time could not be converted) takes the counter.
        {"undated", {Dated(0), Dated(k180309), Dated(-1), Dated(0)},
         {"#0001", "20000412 18.03.09", "#0002", "#0003"}, true},
        // The undated counter is not disturbed by scenes of the same second.
        {"the same second",
         {Dated(k180309), Dated(k180309), Dated(k191000), Dated(k180309), Dated(0)},
         {"20000412 18.03.09", "20000412 18.03.09#0002", "20000412 19.10.00",
          "20000412 18.03.09#0003", "#0001"},
         true},
        // Unscanned records keep their source path and disable writing.
        {"unscanned", {Dated(k180309), Unscanned("/in/tape2.avi"), Dated(0)},
         {"20000412 18.03.09", "/in/tape2.avi", "#0001"}, false},
        {"nothing", {}, {}, false},
        // Names collide ignoring the case of every letter from A to Z.
        {"a taken first counter", {Unscanned("/VIDEO/ZANZIBAR'#0001.AVI"), Dated(0), Dated(0)},
         {"/VIDEO/ZANZIBAR'#0001.AVI", "#0002", "#0003"}, false},
        {"a taken counter in the middle",
         {Dated(0), Unscanned("/video/Zanzibar'#0003.avi"), Dated(0), Dated(0)},
         {"#0001", "/video/Zanzibar'#0003.avi", "#0002", "#0004"}, false},
    };
    for (const Case& c : cases) {
        bool writable = !c.writable;
        EXPECT_EQ(Named(c.scenes, "/video/zanzibar.avi", &writable), c.names) << c.what;
        EXPECT_EQ(writable, c.writable) << c.what;
    }
}

TEST_F(OutputNaming, TheCounterWidensPast9999) {
    const Names names = Named(std::vector<Scene>(10000), "/video/zanzibar.avi");
    EXPECT_EQ(Names(names.end() - 2, names.end()), (Names{"#9999", "#10000"}));
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
