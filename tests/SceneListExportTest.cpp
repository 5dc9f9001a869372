#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "app/SceneListExport.h"
#include "support/AviFixture.h"
#include "support/TimeZone.h"

namespace {

using qv::Scene;
using qv::SceneList;
using qv::SceneListText;
using qv::WriteSceneListFile;

const std::string kHeader = "Filename\twrite?\tLength\tDatestamp\torig. file\torig. pos\r\n";

// 1500 frames from frame 0 of c:\in.avi, recorded 2000-04-12 18:03:09 UTC, marked.
SceneList Example() {
    Scene s;
    s.outputName = "c:\\scenes'20000412 18.03.09.avi";
    s.sourceFile = "c:\\in.avi";
    s.write = 1;
    s.frameCount = 1500;
    s.datestamp = 955562589;
    SceneList list;
    list.Append(s);
    return list;
}

class SceneListExport : public testing::Test {
protected:
    SceneListExport() { qv::framesPerSecond = 25.0f; }
    ~SceneListExport() override { qv::framesPerSecond = savedRate_; }

    qvtest::ScopedTimeZone zone{"UTC"};
    qvtest::TempDir dir;

private:
    float savedRate_ = qv::framesPerSecond;
};

TEST_F(SceneListExport, HeaderAndOneLinePerSceneEachEndingInCrLf) {
    EXPECT_EQ(SceneListText(SceneList{}), kHeader);
    SceneList list = Example();
    Scene second;
    second.outputName = "/out/clip'#0001.avi";
    second.sourceFile = "/in/tape 2.avi";
    second.firstFrame = 1524;
    second.frameCount = 24;
    list.Append(second);
    // Empty texts leave empty fields; a tab inside a path is not escaped; any write
    // flag other than 0 is YES.
    Scene third;
    third.write = 7;
    third.sourceFile = "/in/a\tb.avi";
    list.Append(third);

    EXPECT_EQ(SceneListText(list),
              kHeader +
                  "c:\\scenes'20000412 18.03.09.avi\tYES\t01:00:00\t20000412 18:03:09\tc:\\in.avi"
                  "\t00:00:00\r\n"
                  "/out/clip'#0001.avi\tno\t00:00:24\tn/a\t/in/tape 2.avi\t01:00:24\r\n"
                  "\tYES\t00:00:00\tn/a\t/in/a\tb.avi\t00:00:00\r\n");
}

TEST_F(SceneListExport, WritesTheFileByteForByteOrReportsWhatFailed) {
    const std::string path = dir.Path("list.txt");
    ASSERT_TRUE(qvtest::WriteFileBytes(path, std::vector<uint8_t>(10000, 'x')));
    bool openFailed = true;
    EXPECT_TRUE(WriteSceneListFile(path, Example(), &openFailed));
    EXPECT_FALSE(openFailed);
    EXPECT_EQ(qvtest::ReadFileText(path), SceneListText(Example()));  // the older one replaced

    for (const std::string& bad : {dir.Path("no such folder/list.txt"), dir.Dir().string()}) {
        openFailed = false;
        EXPECT_FALSE(WriteSceneListFile(bad, Example(), &openFailed)) << bad;
        EXPECT_TRUE(openFailed) << bad;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.Path("no such folder")));
    if (std::filesystem::exists("/dev/full")) {  // opens, but the bytes do not fit
        EXPECT_FALSE(WriteSceneListFile("/dev/full", Example(), &openFailed));
        EXPECT_FALSE(openFailed);
    }
}

}  // namespace
