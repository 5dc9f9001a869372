#pragma once
// Rendered pictures kept for reuse: decoding a DV frame is slow, so the picture
// strip and the clip sheet keep what they drew, keyed by source file, frame and
// size, and drop the least recently used pictures when a byte budget is
// exceeded.
//
// Pictures are stored as 24-bit bottom-up PackedDibs, so the cache needs nothing
// from the windows. Bytes per picture is fixed by the first insertion
// (width x height x 3): every user of one cache inserts pictures of one size, so
// eviction needs no size bookkeeping per entry.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dv/PackedDib.h"

namespace qv {

// One rendered picture. frame -1 is also the key of the grey picture drawn for a
// position past a scene's end.
struct CachedPicture {
    std::string name;  // the source file the picture was decoded from
    int frame = -1;
    int width = -1;
    int height = -1;
    PackedDib bitmap;
    uint32_t lastUse = 0;  // millisecond tick of construction, last hit or insertion

    CachedPicture();
    CachedPicture(std::string pictureName, int pictureFrame, int pictureWidth, int pictureHeight,
                  PackedDib picture);
};

class PictureCache {
  public:
    // The tick source; TickCount unless a test gives its own.
    using Clock = std::function<uint32_t()>;

    // The strip's budget.
    static constexpr int kStripBudget = 4194304;

    explicit PictureCache(int budget = 0, Clock clock = {});
    ~PictureCache();
    PictureCache(const PictureCache&) = delete;
    PictureCache& operator=(const PictureCache&) = delete;

    // The first entry of that frame and size whose name is the same file name
    // (by the platform's rule for names); a hit counts as a use. Null on a miss.
    CachedPicture* Find(const std::string& name, int frame, int width, int height);

    // Takes the entry, stamps it as used now and appends it, first evicting the
    // least recently used entries (the first of equal ones) while the entries
    // already held take more than the budget. So the cache may hold one picture
    // more than the budget allows until the next insertion; with budget 0 it
    // keeps only the newest one. Returns the entry as stored; null for null.
    CachedPicture* Add(std::unique_ptr<CachedPicture> entry);

    // Destroys all entries; the next insertion fixes bytes per picture again.
    void Clear();

    int Budget() const { return budget_; }
    void SetBudget(int budget) { budget_ = budget; }
    // Destroys the least recently used entries (the first of equal ones) while
    // the entries take more than the budget: after a lower budget is set.
    void EvictToBudget();
    // 0 until the first insertion.
    int BytesPerPicture() const { return bytesPerPicture_; }
    size_t Count() const { return entries_.size(); }
    // In insertion order.
    const CachedPicture& Entry(size_t index) const { return *entries_[index]; }

  private:
    uint32_t Now() const;

    std::vector<std::unique_ptr<CachedPicture>> entries_;
    int budget_ = 0;
    int bytesPerPicture_ = 0;
    Clock clock_;
};

}  // namespace qv
