#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "app/SceneListExport.h"
#include "support/AviFixture.h"

namespace {

using qv::SceneListText;
using qv::WriteSceneListFile;

// 1500 frames from frame 0 of c:\in.avi, recorded 2000-04-12 18:03:09 UTC, marked. The file
// must hold what SceneListText gives (its exact text is pinned by the CLI's list test).
qv::SceneList Example() {
    qv::SceneList list;
    list.Append({.outputName = "c:\\scenes'20000412 18.03.09.avi", .sourceFile = "c:\\in.avi",
                 .referencedFile = {}, .nameSuffix = {}, .write = 1, .frameCount = 1500,
                 .datestamp = 955562589});
    return list;
}

TEST(SceneListExport, WritesTheFileByteForByteOrReportsWhatFailed) {
    qvtest::TempDir dir;
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
