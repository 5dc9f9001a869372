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

int ScanFileDatestamps(DatestampScanContext& context, const std::string& fileName,
                       int64_t& framesDone) {
    std::unique_ptr<AviReader>& reader = context.sourceReader;
    // A reader that met a read error is opened again: the error may have passed.
    if (!reader || !SameFile(reader->FileName(), fileName) || reader->ReadError() != 0) {
        reader.reset();
        int error = 0;
        reader = OpenAviFile(fileName, &error);
        if (!reader) {
            return CannotRead(context.questions, fileName, error);
        }
    }
    RefFileCache cache;
    AviStream* stream = reader->Stream(0);
    // Without a plausible frame rate no time can be expected of any frame.
    if (stream == nullptr || stream->Header().empty() ||
        !AdoptFramesPerSecond(reader->FramesPerSecond())) {
        return CannotRead(context.questions, fileName);
    }
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
        int g = b;
        int f = kFirstStep;
        int e = 0;
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
                    // In double precision: a 32-bit float cannot hold a datestamp to the second.
                    expected = db + static_cast<int64_t>(static_cast<double>(g + f - b) / rate);
                }
                const int m = g + f;
                if (context.onProbe) {
                    context.onProbe(m);
                }
                const int64_t d =
                    ReadFrameDatestamp(*stream, m, cache, nullptr, &context.questions, &readError);
                if (readError != 0) {
                    break;
                }
                if (std::llabs(d - expected) <= kTolerance) {
                    g = m;
                    f *= 2;  // a match keeps the step: the halving below undoes this
                    const uint32_t now = TickCount();
                    if (now - lastPreviewTick > kPreviewIntervalMs) {
                        context.progress.SetPosition(static_cast<int>((framesDone + m) / 256),
                                                     fileName, stream, m);
                        lastPreviewTick = now;
                    }
                }
            }
            f /= 2;
            if (f < 1) {
                break;
            }
            ++e;
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
        context.scenes.Append(scene);
        b = g + 1;
    }
    context.progress.SetPosition(-1, "", nullptr, 0);
    cache.Close();
    if (readError != 0) {
        // A frame that cannot be read has no time to tell: the file's scenes so far
        // would end at a guess, so the file keeps none, as one that cannot be opened.
        while (context.scenes.Count() > scenesBefore) {
            context.scenes.RemoveAt(context.scenes.Count() - 1);
        }
        reader.reset();
        return CannotRead(context.questions, fileName, readError);
    }
    framesDone += b;
    return cancelled ? -1 : 0;
}

}  // namespace qv
