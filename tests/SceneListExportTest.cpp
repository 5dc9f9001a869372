#include <gtest/gtest.h>

#include <chrono>
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

int32_t Utc(int year, unsigned month, unsigned day, int hour, int minute, int second) {
    using namespace std::chrono;
    const sys_seconds t = sys_days{std::chrono::year{year} / month / day} + hours{hour} +
                          minutes{minute} + seconds{second};
    return static_cast<int32_t>(t.time_since_epoch().count());
}

// 1500 frames from frame 0 of c:\in.avi, recorded 2000-04-12 18:03:09 UTC, marked.
Scene Example() {
    Scene s;
    s.outputName = "c:\\scenes'20000412 18.03.09.avi";
    s.sourceFile = "c:\\in.avi";
    s.write = 1;
    s.frameCount = 1500;
    s.datestamp = Utc(2000, 4, 12, 18, 3, 9);
    return s;
}

std::string Text(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
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
    SceneList list;
    list.Append(Example());
    Scene second;
    second.outputName = "/out/clip'#0001.avi";
    second.sourceFile = "/in/tape 2.avi";
    second.write = 0;
    second.firstFrame = 1524;
    second.frameCount = 24;
    second.datestamp = 0;
    list.Append(second);

    EXPECT_EQ(SceneListText(list),
              kHeader +
                  "c:\\scenes'20000412 18.03.09.avi\tYES\t01:00:00\t20000412 18:03:09\tc:\\in.avi"
                  "\t00:00:00\r\n"
                  "/out/clip'#0001.avi\tno\t00:00:24\tn/a\t/in/tape 2.avi\t01:00:24\r\n");
}

TEST_F(SceneListExport, AnEmptyListIsTheHeaderAlone) {
    EXPECT_EQ(SceneListText(SceneList{}), kHeader);
}

TEST_F(SceneListExport, FieldsAreWrittenAsTheyStand) {
    // Empty texts leave empty fields; a tab inside a path is not escaped; any write
    // flag other than 0 is YES.
    Scene s;
    s.write = 7;
    s.sourceFile = "/in/a\tb.avi";
    s.datestamp = Utc(2000, 4, 12, 18, 3, 9);
    SceneList list;
    list.Append(s);
    EXPECT_EQ(SceneListText(list),
              kHeader + "\tYES\t00:00:00\t20000412 18:03:09\t/in/a\tb.avi\t00:00:00\r\n");
}

TEST_F(SceneListExport, TheDatestampIsLocalTime) {
    qvtest::ScopedTimeZone central(qvtest::kCentralEurope);
    SceneList list;
    list.Append(Example());
    const std::string text = SceneListText(list);
    EXPECT_NE(text.find("\t20000412 20:03:09\t"), std::string::npos) << text;
}

TEST_F(SceneListExport, WritesTheFileByteForByteReplacingAnOlderOne) {
    SceneList list;
    list.Append(Example());
    const std::string path = dir.Path("list.txt");
    ASSERT_TRUE(qvtest::WriteFileBytes(path, std::vector<uint8_t>(10000, 'x')));

    bool openFailed = true;
    EXPECT_TRUE(WriteSceneListFile(path, list, &openFailed));
    EXPECT_FALSE(openFailed);
    EXPECT_EQ(Text(qvtest::ReadFileBytes(path)), SceneListText(list));

    // Without asking whether the open failed.
    EXPECT_TRUE(WriteSceneListFile(path, SceneList{}, nullptr));
    EXPECT_EQ(Text(qvtest::ReadFileBytes(path)), kHeader);
}

TEST_F(SceneListExport, AFileThatCannotBeOpenedIsReportedAsSuch) {
    SceneList list;
    list.Append(Example());
    for (const std::string& path : {dir.Path("no such folder/list.txt"), dir.Dir().string()}) {
        SCOPED_TRACE(path);
        bool openFailed = false;
        EXPECT_FALSE(WriteSceneListFile(path, list, &openFailed));
        EXPECT_TRUE(openFailed);
        EXPECT_FALSE(WriteSceneListFile(path, list, nullptr));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.Path("no such folder")));
}

TEST_F(SceneListExport, AFailedWriteIsReported) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    SceneList list;
    list.Append(Example());
    bool openFailed = true;
    EXPECT_FALSE(WriteSceneListFile("/dev/full", list, &openFailed));
    EXPECT_FALSE(openFailed);
}

}  // namespace
