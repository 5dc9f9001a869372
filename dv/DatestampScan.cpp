#include "dv/DatestampScan.h"

#include <cstdio>
#include <cstdlib>

#include "dv/Datestamp.h"
#include "platform/Platform.h"
#include "platform/Progress.h"
#include "platform/Questions.h"

namespace qv {

namespace {

constexpr int kFirstStep = 512;
constexpr int kLongStep = 4096;     // after four matches 512 frames apart
constexpr int kUndatedStep = 32;    // undated stretches end at any dated frame
constexpr int64_t kTolerance = 2;   // seconds either way
constexpr uint32_t kPreviewIntervalMs = 2000;

// Whether a frame's recording time follows on from that of the frame before it: the
// same second or the next.
bool FollowsOn(int64_t before, int64_t time) {
    return time == before || time == before + 1;
}

// "Can't read this file. " with OK (next file) and Cancel (stop); the system's reason
// follows on a line of its own when there is one.
int CannotRead(Questions& questions, const std::string& fileName, int error = 0) {
    const std::string text = WithReason("Can't read this file. " + fileName, fileName, error);
    return questions.Ask(text, Buttons::OkCancel) == Answer::Ok ? 0 : -1;
}

}  // namespace

int ProbeInputFile(const std::string& fileName, std::string* description) {
    if (description != nullptr) {
        description->clear();
    }
    std::unique_ptr<AviReader> reader = OpenAviFile(fileName);
    if (!reader) {
        return 0;
    }
    AdoptFramesPerSecond(reader->FramesPerSecond());
    if (description != nullptr) {
        *description = reader->Describe();
    }
    return reader->FrameCount();
}

AviStream* OpenForScan(DatestampScanContext& context, const std::string& fileName, int* result) {
    std::unique_ptr<AviReader>& reader = context.sourceReader;
    // A reader that met a read error is opened again: the error may have passed.
    if (!reader || !SameFile(reader->FileName(), fileName) || reader->ReadError() != 0) {
        reader.reset();
        int error = 0;
        reader = OpenAviFile(fileName, &error);
        if (!reader) {
            *result = CannotRead(context.questions, fileName, error);
            return nullptr;
        }
    }
    AviStream* stream = reader->Stream(0);
    // Without a plausible frame rate no time can be expected of any frame.
    if (stream == nullptr || stream->Header().empty() ||
        !AdoptFramesPerSecond(reader->FramesPerSecond())) {
        *result = CannotRead(context.questions, fileName);
        return nullptr;
    }
    return stream;
}

int FailedFileScan(DatestampScanContext& context, const std::string& fileName, int scenesBefore,
                   int error) {
    // A frame that cannot be read has no time to tell: the file's scenes so far would
    // end at a guess, so the file keeps none, as one that cannot be opened.
    while (context.scenes.Count() > scenesBefore) {
        context.scenes.RemoveAt(context.scenes.Count() - 1);
    }
    context.sourceReader.reset();
    return CannotRead(context.questions, fileName, error);
}

int ScanFileDatestamps(DatestampScanContext& context, const std::string& fileName,
                       int64_t& framesDone) {
    int opened = 0;
    AviStream* stream = OpenForScan(context, fileName, &opened);
    if (stream == nullptr) {
        return opened;
    }
    RefFileCache cache;
    // The index, not the header's dwLength: a stale header would leave a tail unscanned.
    const int n = stream->Length();
    const double rate = framesPerSecond;
    uint32_t localTick = 0;
    uint32_t& lastPreviewTick = context.lastPreviewTick ? *context.lastPreviewTick : localTick;
    bool cancelled = false;
    int readError = 0;
    const int scenesBefore = context.scenes.Count();
    int b = 0;
    while (b < n && !cancelled && readError == 0) {
        char status[64];
        std::snprintf(status, sizeof status, "scene #%d; ", context.scenes.Count() + 1);
        context.progress.SetText(status + fileName + " " + FormatFrameTime(b));

        std::string referenced;
        int64_t db =
            ReadFrameDatestamp(*stream, b, cache, &referenced, &context.questions, &readError);
        if (readError != 0) {
            break;
        }
        const bool undated = IsUndated(db);
        auto probe = [&](int m) -> int64_t {
            if (context.onProbe) {
                context.onProbe(m);
            }
            return ReadFrameDatestamp(*stream, m, cache, nullptr, &context.questions, &readError);
        };
        int g = b;
        int64_t dg = db;
        // The frame the expected times are counted from: the scene's first, until a
        // failing probe turns out to be no recording's start.
        int r = b;
        int64_t dr = db;
        for (;;) {
            int f = kFirstStep;
            int e = 0;
            int64_t failedAt = db;  // the datestamp of the last probe that failed
            for (;;) {
                if (e == 4 && f == kFirstStep) {
                    f = kLongStep;
                }
                if (context.progress.CancelRequested()) {
                    cancelled = true;
                    break;
                }
                if (static_cast<int64_t>(g) + f < n) {
                    int64_t expected = 0;
                    if (undated) {
                        f = std::min(f, kUndatedStep);
                    } else {
                        // In double precision: a 32-bit float cannot hold a datestamp to
                        // the second.
                        expected = dr + static_cast<int64_t>(static_cast<double>(g + f - r) / rate);
                    }
                    const int m = g + f;
                    const int64_t d = probe(m);
                    if (readError != 0) {
                        break;
                    }
                    if (std::llabs(d - expected) <= kTolerance) {
                        g = m;
                        dg = d;
                        f *= 2;  // a match keeps the step: the halving below undoes this
                        const uint32_t now = TickCount();
                        if (now - lastPreviewTick > kPreviewIntervalMs) {
                            context.progress.SetPosition(static_cast<int>((framesDone + m) / 256),
                                                         fileName, stream, m);
                            lastPreviewTick = now;
                        }
                    } else {
                        failedAt = d;
                    }
                }
                f /= 2;
                if (f < 1) {
                    break;
                }
                ++e;
            }
            // The search ends at g, and the frame after it, when there is one, failed.
            if (cancelled || readError != 0 || g + 1 >= n || undated ||
                !FollowsOn(dg, failedAt)) {
                break;  // an undated scene's test is exact; a jump right after g ends it
            }
            const int failed = g + 1;
            auto belongs = [&](int t, int64_t d) {
                return std::llabs(d - dr - static_cast<int64_t>(static_cast<double>(t - r) / rate)) <=
                       kTolerance;
            };
            // The failing frame's time follows on from g's. Where the second of frames
            // before it passes and the second after it fails, the test changed there for
            // good: the scene ends.
            const int second = std::max(1, static_cast<int>(rate));
            bool flips = false;
            for (int t = std::max(r + 1, g - second); t < g && !flips && readError == 0; ++t) {
                flips = !belongs(t, probe(t));
            }
            for (int t = failed + 1; t < n && t <= failed + second && !flips && readError == 0;
                 ++t) {
                flips = belongs(t, probe(t));
            }
            if (!flips || readError != 0) {
                break;
            }
            // Near a pause of two or three seconds the test flips from frame to frame, and
            // the later recording began before g: where the times, counted from r, cross
            // the middle between the two recordings' levels. Found by bisection, it is
            // taken only if the test changes there and its time does not follow on from
            // the frame before it.
            auto excess = [&](int t, int64_t d) {
                return static_cast<double>(d - dr) - static_cast<double>(t - r) / rate;
            };
            const double middle = excess(failed, failedAt) / 2;
            int before = r;      // in the scene's recording
            int after = failed;  // in the later one
            while (after - before > 1 && readError == 0) {
                const int mid = before + (after - before) / 2;
                const double x = excess(mid, probe(mid));
                ((middle > 0 ? x > middle : x < middle) ? after : before) = mid;
            }
            const int64_t startTime = readError == 0 ? probe(after) : 0;
            const int64_t previousTime = readError == 0 ? probe(after - 1) : 0;
            if (readError != 0) {
                break;
            }
            if (after > b && !belongs(after, startTime) && belongs(after - 1, previousTime) &&
                !FollowsOn(previousTime, startTime)) {
                g = after - 1;
                break;
            }
            // No recording begins there: the scene goes on, its times counted from the
            // frame that failed.
            g = failed;
            dg = failedAt;
            r = failed;
            dr = failedAt;
        }
        if (readError != 0) {
            break;
        }
        Scene scene;
        scene.sourceFile = fileName;
        scene.referencedFile = referenced;
        scene.write = context.skipNoDatestamp && undated ? 0 : 1;
        scene.wholeFile = b == 0 && g + 1 == n ? 1 : 0;
        scene.firstFrame = b;
        scene.frameCount = g - b + 1;
        // A stretch scanned as undated is undated, whatever its first frame held.
        scene.datestamp = undated ? 0 : static_cast<int32_t>(db);
        scene.start = b == 0 ? SceneStart::kFile : SceneStart::kDatestamp;
        context.scenes.Append(scene);
        b = g + 1;
    }
    context.progress.SetPosition(-1, "", nullptr, 0);
    cache.Close();
    if (readError != 0) {
        return FailedFileScan(context, fileName, scenesBefore, readError);
    }
    framesDone += b;
    return cancelled ? -1 : 0;
}

}  // namespace qv
