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

TEST(PictureCacheTest, FindMatchesNameFrameAndSizeAndCountsAsUse) {
    FakeClock clock;
    PictureCache cache(1000000, clock.Source());
    cache.Add(Picture("a.avi", 5, 10, 8));
    clock.now = 2000;
    EXPECT_EQ(cache.Find("a.avi", 6, 10, 8), nullptr);
    EXPECT_EQ(cache.Find("a.avi", 5, 11, 8), nullptr);
    EXPECT_EQ(cache.Find("a.avi", 5, 10, 9), nullptr);
    EXPECT_EQ(cache.Find("b.avi", 5, 10, 8), nullptr);
    EXPECT_EQ(cache.Entry(0).lastUse, 1000u);  // misses do not touch it
    CachedPicture* hit = cache.Find("a.avi", 5, 10, 8);
    ASSERT_NE(hit, nullptr);
    EXPECT_EQ(hit->lastUse, 2000u);
}

TEST(PictureCacheTest, EvictsLeastRecentlyUsedWhenTheBudgetIsExceeded) {
    FakeClock clock;
    // 300 bytes per picture: 3 x 300 does not exceed 900, so a fourth is appended.
    PictureCache cache(900, clock.Source());
    for (int f = 0; f < 4; ++f) {
        clock.now = 100 + static_cast<uint32_t>(f);
        cache.Add(Picture("a.avi", f));
    }
    ASSERT_EQ(cache.Count(), 4u);
    // Using frame 0 makes frame 1 the oldest; the rest move up, the new one last.
    clock.now = 200;
    ASSERT_NE(cache.Find("a.avi", 0, 10, 10), nullptr);
    clock.now = 201;
    cache.Add(Picture("a.avi", 4));
    ASSERT_EQ(cache.Count(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(cache.Entry(i).frame, (std::vector<int>{0, 2, 3, 4})[i]);
    }
}

}  // namespace
