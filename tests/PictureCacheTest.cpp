#include "progress/PictureCache.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using qv::CachedPicture;
using qv::PictureCache;

// A tick count the test moves by hand.
struct FakeClock {
    uint32_t now = 1000;
    PictureCache::Clock Source() {
        return [this] { return now; };
    }
};

std::unique_ptr<CachedPicture> Picture(const std::string& name, int frame, int width = 10,
                                       int height = 10) {
    return std::make_unique<CachedPicture>(name, frame, width, height,
                                           qv::PackedDib::Make24(width, height));
}

TEST(PictureCacheTest, FindsByNameFrameAndSizeAndEvictsTheLeastRecentlyUsed) {
    FakeClock clock;
    // 300 bytes per picture: 3 x 300 does not exceed 900, so a fourth is appended.
    PictureCache cache(900, clock.Source());
    for (int f = 0; f < 4; ++f) {
        clock.now = 100 + static_cast<uint32_t>(f);
        cache.Add(Picture("a.avi", f));
    }
    // Name, frame and size must all match; a hit counts as a use, a miss does not. Using
    // frame 0 makes frame 1 the oldest; the rest move up, the new one last.
    clock.now = 200;
    EXPECT_EQ(cache.Find("a.avi", 4, 10, 10), nullptr);
    EXPECT_EQ(cache.Find("a.avi", 1, 11, 10), nullptr);
    EXPECT_EQ(cache.Find("a.avi", 1, 10, 11), nullptr);
    EXPECT_EQ(cache.Find("b.avi", 1, 10, 10), nullptr);
    ASSERT_NE(cache.Find("a.avi", 0, 10, 10), nullptr);
    clock.now = 201;
    cache.Add(Picture("a.avi", 4));
    ASSERT_EQ(cache.Count(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(cache.Entry(i).frame, (std::vector<int>{0, 2, 3, 4})[i]);
    }
}

}  // namespace
