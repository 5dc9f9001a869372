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

// The frames of the cached pictures, in the cache's order.
std::vector<int> Frames(const PictureCache& cache) {
    std::vector<int> frames;
    for (size_t i = 0; i < cache.Count(); ++i) {
        frames.push_back(cache.Entry(i).frame);
    }
    return frames;
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
    EXPECT_EQ(Frames(cache), (std::vector<int>{0, 2, 3, 4}));
}

TEST(PictureCacheTest, EqualTicksEvictTheFirstAndTicksCompareUnsigned) {
    FakeClock clock;
    clock.now = 0xFFFFFFF0u;
    PictureCache cache(300, clock.Source());
    cache.Add(Picture("a.avi", 0));
    cache.Add(Picture("a.avi", 1));  // same tick as frame 0
    cache.Add(Picture("a.avi", 2));
    EXPECT_EQ(Frames(cache), (std::vector<int>{1, 2}));
    // After the tick wraps, small values count as older.
    clock.now = 5;
    cache.Add(Picture("a.avi", 3));
    EXPECT_EQ(Frames(cache), (std::vector<int>{2, 3}));
    clock.now = 6;
    cache.Add(Picture("a.avi", 4));
    EXPECT_EQ(Frames(cache), (std::vector<int>{2, 4}));
}

TEST(PictureCacheTest, BytesPerPictureIsFixedByTheFirstInsertion) {
    FakeClock clock;
    PictureCache cache(1000, clock.Source());
    EXPECT_EQ(cache.BytesPerPicture(), 0);
    // Larger pictures after a 300-byte one count as 300 bytes too: 4 x 300 > 1000
    // before the fifth, so one is evicted.
    for (int f = 0; f < 5; ++f) {
        clock.now += 1;
        cache.Add(Picture("a.avi", f, f == 0 ? 10 : 100, f == 0 ? 10 : 100));
    }
    EXPECT_EQ(cache.BytesPerPicture(), 300);
    EXPECT_EQ(Frames(cache), (std::vector<int>{1, 2, 3, 4}));
    cache.Clear();
    EXPECT_EQ(cache.BytesPerPicture(), 0);
    cache.Add(Picture("a.avi", 0, 20, 10));
    EXPECT_EQ(cache.BytesPerPicture(), 600);
}

TEST(PictureCacheTest, StripBudgetHolds219PicturesOf19206Bytes) {
    FakeClock clock;
    PictureCache cache(PictureCache::kStripBudget, clock.Source());
    for (int f = 0; f < 220; ++f) {  // 97 x 66 x 3 = 19206 bytes
        clock.now += 1;
        cache.Add(Picture("a.avi", f, 97, 66));
    }
    EXPECT_EQ(cache.Count(), 219u);
    EXPECT_EQ(cache.Find("a.avi", 0, 97, 66), nullptr);
    EXPECT_NE(cache.Find("a.avi", 1, 97, 66), nullptr);
}

}  // namespace
