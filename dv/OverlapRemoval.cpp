#include "dv/OverlapRemoval.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "avi/Riff.h"
#include "dv/DatestampScan.h"
#include "platform/File.h"
#include "platform/Platform.h"
#include "platform/Questions.h"

namespace qv {

namespace {

constexpr const char* kQuestion =
    "There are overlapping scenes, do you want quorvandel to remove overlapping parts?\n"
    "Please note: scenes have to overlap by more than one seconds to be frame-accurately "
    "merged.";

// Bytes of a frame compared: a whole 625/50 DV frame; larger frames by their start.
constexpr int kCompareBytes = 144000;

// Elapsed seconds beyond any datestamp; keeps absurd rates from overflowing a span.
constexpr double kMaxSpanSeconds = 1e15;

// The video stream of fileName through the shared reader, which is kept when it holds
// that file and replaced otherwise. Null when the file cannot be opened (the reader is
// then null too) or has no stream.
AviStream* HoldFile(OverlapContext& context, const std::string& fileName) {
    std::unique_ptr<AviReader>& reader = context.sourceReader;
    if (!reader || !SameFile(reader->FileName(), fileName)) {
        reader.reset();
        reader = OpenAviFile(fileName);
        if (!reader) {
            return nullptr;
        }
    }
    return reader->Stream(0);
}

int64_t LastFrame(const Scene& scene) {
    return static_cast<int64_t>(scene.firstFrame) + scene.frameCount - 1;
}

// Dated scenes with frames that an int can address; no others are compared.
bool Comparable(const Scene& scene) {
    return !IsUndated(scene.datestamp) && scene.firstFrame >= 0 && scene.frameCount >= 1 &&
           LastFrame(scene) <= std::numeric_limits<int>::max();
}

struct Span {
    int64_t start;
    int64_t end;
};

Span SpanOf(const Scene& scene, double rate) {
    // Elapsed seconds in double precision: a float cannot hold a datestamp to the second.
    const double seconds = std::min(std::trunc(scene.frameCount / rate), kMaxSpanSeconds);
    return {scene.datestamp, scene.datestamp + static_cast<int64_t>(seconds)};
}

// Up to kCompareBytes of a frame's data into data; false when nothing could be read.
// A "REF " chunk is followed into its data file, so that two references to one
// capture, or a reference and a copy of the frame, compare by the frame itself.
bool ReadFrameData(AviStream& stream, int frame, RefFileCache& cache, std::vector<uint8_t>& data) {
    data.resize(kCompareBytes);
    int count = 0;
    stream.Read(frame, 1, nullptr, data.data(), kCompareBytes, &count);
    uint32_t position = 0;
    std::string name;
    if (count > 0 && ParseRefChunk(data.data(), count, &position, &name)) {
        // The chunk header at position gives the frame's size; its data follows.
        uint8_t header[8];
        count = 0;
        if (cache.Follow(name) && cache.file.ReadAt(position, header, 8) == 8) {
            const int64_t size = std::min<int64_t>(Le32(header + 4), kCompareBytes);
            if (size > 0 &&
                cache.file.ReadAt(static_cast<int64_t>(position) + 8, data.data(), size) == size) {
                count = static_cast<int>(size);
            }
        }
    }
    data.resize(count > 0 ? static_cast<size_t>(count) : 0);
    return count > 0;
}

// Frame f of the scene, and the one after it when the scene has it (else empty).
// False when frame f cannot be read.
bool ReadFramePair(OverlapContext& context, const Scene& scene, int f, std::vector<uint8_t>& at,
                   std::vector<uint8_t>& next) {
    next.clear();
    AviStream* stream = HoldFile(context, scene.sourceFile);
    if (stream == nullptr) {
        return false;
    }
    RefFileCache cache;
    if (!ReadFrameData(*stream, f, cache, at)) {
        return false;
    }
    if (f < LastFrame(scene)) {
        ReadFrameData(*stream, f + 1, cache, next);
    }
    return true;
}

// Time alone cannot tell a second capture of a tape from another camcorder that
// recorded the same event. A tape captured twice gives bit-identical DV frames, so
// the frames where the same second begins in both scenes must be equal. A frame one
// capture dropped or repeated there is allowed for by also comparing each frame with
// the other's next one. Unreadable frames count as different: both scenes stay.
bool SameFrames(OverlapContext& context, const Scene& a, int fa, const Scene& b, int fb) {
    std::vector<uint8_t> a0, a1, b0, b1;
    if (!ReadFramePair(context, a, fa, a0, a1) || !ReadFramePair(context, b, fb, b0, b1)) {
        return false;
    }
    return a0 == b0 || (!a1.empty() && a1 == b0) || (!b1.empty() && a0 == b1);
}

// The first frame of second t inside the scene, or -1.
int SecondStartIn(OverlapContext& context, const Scene& scene, int64_t t) {
    if (IsUndated(t) || t > std::numeric_limits<Datestamp>::max()) {
        return -1;
    }
    const int last = static_cast<int>(LastFrame(scene));
    const int f = FindFrameOfTime(context, scene.sourceFile, scene.firstFrame, last,
                                  static_cast<Datestamp>(t));
    return f >= scene.firstFrame && f <= last ? f : -1;
}

// Whether inner, whose span lies within outer's, holds the same recording. Compared
// where its second second begins (its first usually begins before the scene or at the
// file's frame 0, where no start can be found), else where its first does.
bool ContainedIsSame(OverlapContext& context, const Scene& inner, const Scene& outer) {
    for (int64_t t :
         {static_cast<int64_t>(inner.datestamp) + 1, static_cast<int64_t>(inner.datestamp)}) {
        const int fi = SecondStartIn(context, inner, t);
        const int fo = fi < 0 ? -1 : SecondStartIn(context, outer, t);
        if (fo >= 0) {
            return SameFrames(context, inner, fi, outer, fo);
        }
    }
    return false;
}

// Whether scene holds, at frame from or later, a bit-identical copy of frame f of
// other. The copy is looked for among the scene's frames of f's recording second; a
// frame that cannot be read or has no time has no copy.
bool HoldsCopy(OverlapContext& context, const Scene& scene, int from, const Scene& other, int f) {
    AviStream* stream = HoldFile(context, other.sourceFile);
    if (stream == nullptr) {
        return false;
    }
    RefFileCache cache;
    std::vector<uint8_t> wanted;
    const Datestamp t = ReadFrameDatestamp(*stream, f, cache, nullptr, &context.questions);
    if (t == 0 || !ReadFrameData(*stream, f, cache, wanted)) {
        return false;
    }
    stream = HoldFile(context, scene.sourceFile);
    if (stream == nullptr) {
        return false;
    }
    RefFileCache sceneCache;
    const int last = static_cast<int>(LastFrame(scene));
    auto stampAt = [&](int n) {
        return ReadFrameDatestamp(*stream, n, sceneCache, nullptr, &context.questions);
    };
    // The first frame at or after from whose time is not before t (times rise within
    // a scene; frames without one count as earlier).
    int lo = std::max(from, scene.firstFrame);
    int hi = last + 1;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        const Datestamp stamp = stampAt(mid);
        if (stamp == 0 || stamp < t) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    std::vector<uint8_t> data;
    // A second holds at most a few dozen frames; the bound keeps damaged times cheap.
    for (int n = lo, seen = 0; n <= last && seen < 1000; ++n, ++seen) {
        if (stampAt(n) != t) {
            break;
        }
        if (ReadFrameData(*stream, n, sceneCache, data) && data == wanted) {
            return true;
        }
    }
    return false;
}

// Whether outer holds copies of inner's first and last frames, so that deleting inner
// loses nothing. Time spans count whole seconds only: a scene may run on up to a
// second past the one it seems to lie in.
bool HoldsEnds(OverlapContext& context, const Scene& outer, const Scene& inner) {
    return HoldsCopy(context, outer, outer.firstFrame, inner, inner.firstFrame) &&
           HoldsCopy(context, outer, outer.firstFrame, inner, static_cast<int>(LastFrame(inner)));
}

// Where a partly overlapping pair is cut: l ends before frame k, the first frame of
// second t that l's last frame belongs to; m begins with j, the first frame of t in m.
struct Trim {
    int k = 0;
    Datestamp t = 0;
    int j = 0;
};

// False when the pair cannot be cut: no start of that second in both, a cut that
// would leave l without frames (m always keeps j..its last frame), or not the same
// recording.
bool PlanTrim(OverlapContext& context, const Scene& l, const Scene& m, Trim& trim) {
    const int lLast = static_cast<int>(LastFrame(l));
    const int mLast = static_cast<int>(LastFrame(m));
    trim.k = FindSecondStart(context, l.sourceFile, lLast, &trim.t);
    if (trim.k <= l.firstFrame || IsUndated(trim.t)) {
        return false;
    }
    trim.j = FindFrameOfTime(context, m.sourceFile, m.firstFrame, mLast, trim.t);
    if (trim.j < m.firstFrame || trim.j > mLast) {
        return false;
    }
    // What l gives up, its frames from k on, must all be in m: m holds l's last frame.
    return SameFrames(context, l, trim.k, m, trim.j) &&
           HoldsCopy(context, m, trim.j, l, lLast);
}

// One sweep over all pairs, containment first, then partial overlap. Counting
// (act false): found receives the pairs that would be changed. Acting: the first
// change is made and true returned, for the caller to sweep again over the changed
// list; false when the sweep found nothing it could change.
bool Sweep(OverlapContext& context, SceneList& scenes, double rate, bool act, int& found) {
    found = 0;
    for (int rule = 0; rule < 2; ++rule) {
        for (int li = 0; li < scenes.Count(); ++li) {
            scenes[li].mark = 0;
            if (!Comparable(scenes[li])) {
                continue;
            }
            for (int mi = 0; mi < scenes.Count(); ++mi) {
                if (mi == li || !Comparable(scenes[mi])) {
                    continue;
                }
                Scene& l = scenes[li];
                Scene& m = scenes[mi];
                const Span ls = SpanOf(l, rate);
                const Span ms = SpanOf(m, rate);
                if (rule == 0) {
                    // Of two equal spans, m (the later one met as m) goes.
                    int inner = -1;
                    int outer = -1;
                    if (ms.start >= ls.start && ls.end >= ms.end) {
                        inner = mi;
                        outer = li;
                    } else if (ms.start > ls.start) {
                        // m starts later and ends later: rule 1's business.
                    } else if (ms.end >= ls.end) {
                        inner = li;
                        outer = mi;
                    }
                    if (inner < 0 || !ContainedIsSame(context, scenes[inner], scenes[outer])) {
                        continue;
                    }
                    // Deleted only when the other holds both its ends; of two with the
                    // same seconds the longer may be the one that holds the other.
                    if (!HoldsEnds(context, scenes[outer], scenes[inner])) {
                        if (!HoldsEnds(context, scenes[inner], scenes[outer])) {
                            continue;  // a partial overlap at most: rule 1's business
                        }
                        std::swap(inner, outer);
                    }
                    if (!act) {
                        ++found;
                        continue;
                    }
                    scenes.RemoveAt(inner);
                    return true;
                }
                // m begins inside l and ends at or after l's end.
                if (!(ls.start <= ms.start && ms.start < ls.end && ls.end <= ms.end)) {
                    continue;
                }
                Trim trim;
                if (!PlanTrim(context, l, m, trim)) {
                    continue;
                }
                if (!act) {
                    ++found;
                    continue;
                }
                l.frameCount = trim.k - l.firstFrame;
                m.frameCount -= trim.j - m.firstFrame;
                m.firstFrame = trim.j;
                m.datestamp = trim.t;
                l.health.Keep(l.firstFrame, trim.k);
                m.health.Keep(m.firstFrame, m.firstFrame + m.frameCount);
                // Neither covers its whole source any more: moving the file instead of
                // copying the scene would take the cut-off frames along.
                l.wholeFile = 0;
                m.wholeFile = 0;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

int FindSecondStart(OverlapContext& context, const std::string& fileName, int n,
                    Datestamp* second) {
    if (second != nullptr) {
        *second = 0;
    }
    AviStream* stream = HoldFile(context, fileName);
    if (stream == nullptr || n < 0) {
        return -1;
    }
    RefFileCache cache;
    const int64_t b = ReadFrameDatestamp(*stream, n, cache, nullptr, &context.questions);
    if (b == 0) {
        return -1;
    }
    // Back frame by frame while the time stays b; the frame before the start of b
    // must belong to the second before, or the time jumped and there is no boundary.
    for (; n >= 1; --n) {
        const int64_t c = ReadFrameDatestamp(*stream, n - 1, cache, nullptr, &context.questions);
        if (c == b - 1) {
            if (second != nullptr) {
                *second = static_cast<Datestamp>(b);
            }
            return n;
        }
        if (c != b) {
            return -1;
        }
    }
    return -1;
}

int FindFrameOfTime(OverlapContext& context, const std::string& fileName, int first, int last,
                    Datestamp t) {
    AviStream* stream = HoldFile(context, fileName);
    if (stream == nullptr) {
        return -1;
    }
    RefFileCache cache;
    int64_t lo = first;
    const int64_t length = static_cast<int64_t>(last) - first + 1;
    int64_t d = 1;
    while (d * 2 <= length) {
        d *= 2;
    }
    // Gallop forward in steps of d while the frames are earlier than t, halve the step
    // when a frame is later.
    while (d >= 1) {
        const int64_t f = lo + d;
        if (f > last) {
            d /= 2;
            continue;
        }
        const Datestamp stamp =
            ReadFrameDatestamp(*stream, static_cast<int>(f), cache, nullptr, &context.questions);
        if (stamp != 0 && stamp == t) {
            return FindSecondStart(context, fileName, static_cast<int>(f), nullptr);
        }
        if (stamp == 0 || stamp < t) {
            lo = f;
        } else {
            d /= 2;
        }
    }
    return -1;
}

bool RemoveOverlaps(OverlapContext& context, SceneList& scenes) {
    const double rate = framesPerSecond;
    // Without a plausible rate (no file opened yet) no scene has a time span.
    if (!(rate > 0.0) || rate > 1000.0) {
        for (Scene& scene : scenes) {
            scene.mark = 0;
        }
        return false;
    }
    int found = 0;
    Sweep(context, scenes, rate, false, found);
    if (found == 0 || context.questions.Ask(kQuestion, Buttons::YesNo) != Answer::Yes) {
        return false;
    }
    bool changed = false;
    while (Sweep(context, scenes, rate, true, found)) {
        changed = true;
    }
    return changed;
}

}  // namespace qv
