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

Scene Row(const char* output, const char* source, int write, int first, int count,
          int32_t datestamp) {
    Scene s;
    s.outputName = output;
    s.sourceFile = source;
    s.write = write;
    s.firstFrame = first;
    s.frameCount = count;
    s.datestamp = datestamp;
    return s;
}

// 1500 frames from frame 0 of c:\in.avi, recorded 2000-04-12 18:03:09 UTC, marked.
SceneList Example() {
    SceneList list;
    list.Append(Row("c:\\scenes'20000412 18.03.09.avi", "c:\\in.avi", 1, 0, 1500, 955562589));
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
