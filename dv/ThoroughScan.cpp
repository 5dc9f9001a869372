#include "dv/ThoroughScan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dv/Datestamp.h"
#include "dv/DifFrame.h"
#include "dv/DvPacks.h"
#include "dv/TapeHealth.h"
#include "platform/File.h"
#include "platform/Platform.h"
#include "platform/Progress.h"
#include "platform/Questions.h"

namespace qv {

namespace {

constexpr int64_t kTolerance = 2;              // seconds, as the default scan allows
constexpr int64_t kReadAheadBytes = 32 << 20;  // asked of the kernel ahead of the frame read
constexpr int kCancelCheckFrames = 64;
constexpr int kReadAheadCheckFrames = 8;
constexpr uint32_t kPreviewIntervalMs = 2000;
constexpr int kMaxFrameBytes = 1 << 20;  // larger chunks are no 25 Mbit/s DV frame

bool SameFormat(const DvFrameMarks& a, const DvFrameMarks& b) {
    if (a.is625 != b.is625) {
        return false;
    }
    // A pack missing from one frame (a dropout) is no change of format.
    if (a.aspect != 0 && b.aspect != 0 && a.aspect != b.aspect) {
        return false;
    }
    return a.sampleRate == 0 || b.sampleRate == 0 ||
           (a.sampleRate == b.sampleRate && a.audioPairs == b.audioPairs &&
            a.audioTwelveBit == b.audioTwelveBit);
}

}  // namespace

int ScanFileThoroughly(DatestampScanContext& context, const ThoroughSplits& splits,
                       const std::string& fileName, int64_t& framesDone) {
    int opened = 0;
    AviStream* stream = OpenForScan(context, fileName, &opened);
    if (stream == nullptr) {
        return opened;
    }
    const int n = stream->Length();
    const double rate = framesPerSecond;
    const int timecodeRate = rate < 27.5 ? 25 : 30;
    uint32_t localTick = 0;
    uint32_t& lastPreviewTick = context.lastPreviewTick ? *context.lastPreviewTick : localTick;
    const int scenesBefore = context.scenes.Count();
    RefFileCache cache;
    std::vector<uint8_t> buffer(static_cast<size_t>(kDv625FrameBytes));
    // The frame read before, for telling a repeated frame: the buffers swap after
    // each frame, so nothing is copied.
    std::vector<uint8_t> previousFrame;
    size_t previousBytes = 0;
    FrameDamageCounter damage;
    DatestampMemo datestamps;
    int64_t readAheadEnd = 0;  // where the read-ahead asked for so far ends
    File* readAheadFile = nullptr;
    int readError = 0;
    bool cancelled = false;

    Scene scene;
    scene.sourceFile = fileName;
    DvFrameMarks previous;
    int64_t sceneStartTime = 0;  // the datestamp of the scene's first frame
    auto finish = [&](int end) {
        scene.frameCount = end - scene.firstFrame;
        scene.wholeFile = scene.firstFrame == 0 && end == n ? 1 : 0;
        scene.write = context.skipNoDatestamp && scene.datestamp == 0 ? 0 : 1;
        context.scenes.Append(scene);
    };
    char status[64];
    std::snprintf(status, sizeof status, "scene #%d; ", context.scenes.Count() + 1);
    context.progress.SetText(status + fileName + " " + FormatFrameTime(0));

    int f = 0;
    for (; f < n; ++f) {
        if (f % kCancelCheckFrames == 0 && context.progress.CancelRequested()) {
            cancelled = true;
            break;
        }
        // The kernel is asked to read well ahead of the frames, so that every read is
        // of data already in memory while the disk goes on reading.
        // Every few frames is often enough: the read-ahead moves in steps of megabytes.
        AviStream::ChunkPlace place;
        if (f % kReadAheadCheckFrames == 0 && stream->Locate(f, &place) && place.file != nullptr) {
            if (place.file != readAheadFile || place.position + place.size > readAheadEnd ||
                place.position < readAheadEnd - 2 * kReadAheadBytes) {
                readAheadFile = place.file;
                readAheadEnd = place.position + kReadAheadBytes;
                place.file->WillNeed(place.position, kReadAheadBytes);
            } else if (place.position + kReadAheadBytes / 2 > readAheadEnd) {
                place.file->WillNeed(readAheadEnd, kReadAheadBytes / 2);
                readAheadEnd += kReadAheadBytes / 2;
            }
        }
        const int64_t chunk = stream->ChunkSize(f);
        const int want = static_cast<int>(std::clamp<int64_t>(chunk, 0, kMaxFrameBytes));
        if (static_cast<size_t>(want) > buffer.size()) {
            buffer.resize(static_cast<size_t>(want));
        }
        int count = 0;
        if (want > 0) {
            stream->Read(f, 1, nullptr, buffer.data(), want, &count);
        }
        if (count != want && stream->ReadError() != 0) {
            readError = stream->ReadError();
            break;
        }
        DvFrameMarks marks;
        std::string referenced;
        bool countDamage = true;
        if (count >= 4 && count <= kRefChunkMaxSize && std::memcmp(buffer.data(), "REF ", 4) == 0) {
            // A frame kept in another data file: its datestamp as the default scan reads it.
            marks.datestamp = ReadFrameDatestamp(*stream, f, cache, &referenced,
                                                 &context.questions, &readError);
            if (readError != 0) {
                break;
            }
            countDamage = false;  // the frame's bytes are in the other file
        } else {
            marks = DecodeFrameMarks(buffer.data(), static_cast<size_t>(std::max(count, 0)),
                                     &datestamps);
        }
        const bool undated = IsUndated(marks.datestamp);
        SceneStart start = SceneStart::kFile;
        if (f > 0) {
            const bool wasUndated = IsUndated(previous.datestamp);
            const int64_t expected =
                sceneStartTime +
                static_cast<int64_t>(static_cast<double>(f - scene.firstFrame) / rate);
            if (undated != wasUndated ||
                (!undated && (marks.datestamp < previous.datestamp ||
                              marks.datestamp > previous.datestamp + 1 ||
                              std::llabs(marks.datestamp - expected) > kTolerance))) {
                start = SceneStart::kDatestamp;
            } else if (splits.recordingStarts && marks.recordingStart &&
                       !previous.recordingStart) {
                start = SceneStart::kRecordingStart;
            } else if (splits.timecodeBreaks && marks.timecode.valid &&
                       previous.timecode.valid &&
                       !TimecodeFollows(previous.timecode, marks.timecode, timecodeRate)) {
                start = SceneStart::kTimecode;
            } else if (splits.formatChanges && !SameFormat(previous, marks)) {
                start = SceneStart::kFormat;
            } else {
                start = SceneStart::kNone;
            }
        }
        if (start != SceneStart::kNone) {
            if (f > 0) {
                finish(f);
                std::snprintf(status, sizeof status, "scene #%d; ", context.scenes.Count() + 1);
                context.progress.SetText(status + fileName + " " + FormatFrameTime(f));
            }
            scene = Scene{};
            scene.sourceFile = fileName;
            scene.referencedFile = referenced;
            scene.firstFrame = f;
            scene.datestamp = undated ? 0 : marks.datestamp;
            scene.start = start;
            scene.health.counted = true;
            sceneStartTime = marks.datestamp;
        }
        const size_t bytes = static_cast<size_t>(std::max(count, 0));
        if (countDamage) {
            const FrameDamage d =
                damage.Count(f, buffer.data(), bytes, previousFrame.data(), previousBytes);
            if (IsDamaged(d)) {
                scene.health.Add(d);
            }
            buffer.swap(previousFrame);
            previousBytes = bytes;
        } else {
            previousBytes = 0;
        }
        previous = marks;
        const uint32_t now = TickCount();
        if (now - lastPreviewTick > kPreviewIntervalMs) {
            context.progress.SetPosition(static_cast<int>((framesDone + f) / 256), fileName,
                                         stream, f);
            lastPreviewTick = now;
        }
    }
    if (!cancelled && readError == 0 && n > 0) {
        finish(n);
    }
    context.progress.SetPosition(-1, "", nullptr, 0);
    cache.Close();
    if (readError != 0) {
        return FailedFileScan(context, fileName, scenesBefore, readError);
    }
    if (cancelled) {
        return -1;
    }
    framesDone += n;
    return 0;
}

}  // namespace qv
