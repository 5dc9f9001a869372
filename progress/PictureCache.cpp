#include "progress/PictureCache.h"

#include <utility>

#include "platform/Platform.h"

namespace qv {

CachedPicture::CachedPicture() : lastUse(TickCount()) {}

CachedPicture::CachedPicture(std::string pictureName, int pictureFrame, int pictureWidth,
                             int pictureHeight, PackedDib picture)
    : name(std::move(pictureName)),
      frame(pictureFrame),
      width(pictureWidth),
      height(pictureHeight),
      bitmap(std::move(picture)),
      lastUse(TickCount()) {}

PictureCache::PictureCache(int budget, Clock clock) : budget_(budget), clock_(std::move(clock)) {}

PictureCache::~PictureCache() = default;

uint32_t PictureCache::Now() const {
    return clock_ ? clock_() : TickCount();
}

CachedPicture* PictureCache::Find(const std::string& name, int frame, int width, int height) {
    for (const auto& entry : entries_) {
        if (entry->width == width && entry->height == height && entry->frame == frame &&
            SameFileName(entry->name, name)) {
            entry->lastUse = Now();
            return entry.get();
        }
    }
    return nullptr;
}

CachedPicture* PictureCache::Add(std::unique_ptr<CachedPicture> entry) {
    if (!entry) {
        return nullptr;
    }
    if (bytesPerPicture_ == 0) {
        // 64-bit, then clamped: a size from anywhere cannot overflow the product.
        const int64_t bytes = int64_t{entry->width} * entry->height * 3;
        bytesPerPicture_ = bytes > 0x7fffffff ? 0x7fffffff
                           : bytes < 0        ? 0
                                              : static_cast<int>(bytes);
    }
    entry->lastUse = Now();
    EvictToBudget();
    entries_.push_back(std::move(entry));
    return entries_.back().get();
}

void PictureCache::EvictToBudget() {
    while (!entries_.empty() &&
           static_cast<int64_t>(entries_.size()) * bytesPerPicture_ > int64_t{budget_}) {
        size_t oldest = 0;
        for (size_t i = 1; i < entries_.size(); ++i) {
            if (entries_[i]->lastUse < entries_[oldest]->lastUse) {
                oldest = i;
            }
        }
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(oldest));
    }
}

void PictureCache::Clear() {
    entries_.clear();
    bytesPerPicture_ = 0;
}

}  // namespace qv
