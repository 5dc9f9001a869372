#include "dv/ThoroughScan.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "avi/AviReader.h"
#include "dv/Datestamp.h"
#include "dv/DifFrame.h"
#include "dv/DvPacks.h"
#include "dv/TapeHealth.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/Progress.h"
#include "platform/Questions.h"

namespace qv {

namespace {

constexpr int64_t kTolerance = 2;              // seconds, as the default scan allows
constexpr int64_t kReadAheadBytes = 32 << 20;  // asked of the kernel ahead of the frame read
// The frames are read and looked at in batches, by this thread and a helper of its
// own, each through a stream of its own: copying a frame out of the page cache costs
// about as much as looking at it, and a frame is looked at by the core that read it,
// while it is in that core's cache. The scan then takes the looks in frame order.
constexpr int kBatchFrames = 32;
constexpr int kBatchesAhead = 8;  // looked at before the scan has taken them
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

// Reads frame f into buffer; returns the bytes read, or -1 on a read error (in *error).
int ReadFrame(AviStream& stream, int f, std::vector<uint8_t>& buffer, int* error) {
    const int64_t chunk = stream.ChunkSize(f);
    const int want = static_cast<int>(std::clamp<int64_t>(chunk, 0, kMaxFrameBytes));
    if (static_cast<size_t>(want) > buffer.size()) {
        buffer.resize(static_cast<size_t>(want));
    }
    int count = 0;
    if (want > 0) {
        stream.Read(f, 1, nullptr, buffer.data(), want, &count);
    }
    if (count != want && stream.ReadError() != 0) {
        *error = stream.ReadError();
        return -1;
    }
    return std::max(count, 0);
}

// What the look at one frame found.
struct FrameLook {
    DvFrameMarks marks;
    FrameDamage damage;
    bool reference = false;     // a REF chunk: the frame's bytes are in another file
    bool soundUnknown = false;  // no frame of the batch so far named the sound format
};

struct FrameBatch {
    std::vector<FrameLook> frames;  // fewer than the batch's when a read failed
    int readError = 0;              // of the frame after the last one held
    bool knowsSound = false;        // the last sound format a frame of the batch named
    DifAudioFormat sound;
    bool done = false;
};

// Reads frames through one stream and looks at them; one per thread.
class FrameLooker {
public:
    explicit FrameLooker(AviStream& stream)
        : stream_(stream), buffer_(static_cast<size_t>(kDv625FrameBytes)),
          previous_(static_cast<size_t>(kDv625FrameBytes)) {}

    void Look(int first, int end, FrameBatch& batch) {
        batch.frames.clear();
        batch.readError = 0;
        // The frame before the batch, for telling a repeated frame; its read error,
        // if any, is its own batch's to report.
        size_t previousBytes = 0;
        if (first > 0) {
            int error = 0;
            const int count = ReadFrame(stream_, first - 1, previous_, &error);
            previousBytes =
                count > 0 && !IsRefChunk(previous_.data(), count) ? static_cast<size_t>(count) : 0;
        }
        FrameDamageCounter damage;
        for (int f = first; f < end; ++f) {
            const int count = ReadFrame(stream_, f, buffer_, &batch.readError);
            if (count < 0) {
                break;
            }
            FrameLook look;
            if (IsRefChunk(buffer_.data(), count)) {
                look.reference = true;
                previousBytes = 0;
            } else {
                const auto bytes = static_cast<size_t>(count);
                look.marks = DecodeFrameMarks(buffer_.data(), bytes, &datestamps_);
                look.damage = damage.Count(f, buffer_.data(), bytes, previous_.data(), previousBytes);
                look.soundUnknown =
                    !damage.KnowsSound() &&
                    (look.damage.flags & (FrameDamage::kRepeated | FrameDamage::kEmpty)) == 0;
                buffer_.swap(previous_);
                previousBytes = bytes;
            }
            batch.frames.push_back(look);
        }
        batch.knowsSound = damage.KnowsSound();
        batch.sound = damage.Sound();
    }

private:
    AviStream& stream_;
    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> previous_;  // the frame read before; the buffers swap
    DatestampMemo datestamps_;
};

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
    int64_t readAheadEnd = 0;  // where the read-ahead asked for so far ends
    File* readAheadFile = nullptr;
    int readError = 0;
    bool cancelled = false;
    // The sound format of the frames taken so far, for the frames of a batch before
    // the batch's first that names one.
    bool knowsSound = false;
    DifAudioFormat sound;
    std::vector<uint8_t> recount;

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

    // The kernel is asked to read well ahead of the frames, so that every read is of
    // data already in memory while the disk goes on reading.
    auto readAhead = [&](int f) {
        AviStream::ChunkPlace place;
        if (f >= n || !stream->Locate(f, &place) || place.file == nullptr) {
            return;
        }
        if (place.file != readAheadFile || place.position + place.size > readAheadEnd ||
            place.position < readAheadEnd - 2 * kReadAheadBytes) {
            readAheadFile = place.file;
            readAheadEnd = place.position + kReadAheadBytes;
            place.file->WillNeed(place.position, kReadAheadBytes);
        } else if (place.position + kReadAheadBytes / 2 > readAheadEnd) {
            place.file->WillNeed(readAheadEnd, kReadAheadBytes / 2);
            readAheadEnd += kReadAheadBytes / 2;
        }
    };

    // Takes frame f, looked at, in order: false when the scan ends there.
    auto take = [&](int f, FrameLook& look) {
        DvFrameMarks marks = look.marks;
        std::string referenced;
        if (look.reference) {
            // A frame kept in another data file: its datestamp as the default scan reads it.
            marks.datestamp = ReadFrameDatestamp(*stream, f, cache, &referenced,
                                                 &context.questions, &readError);
            if (readError != 0) {
                return false;
            }
        } else if (look.soundUnknown && knowsSound) {
            const int count = ReadFrame(*stream, f, recount, &readError);
            if (count < 0) {
                return false;
            }
            look.damage.audioErrors = static_cast<uint16_t>(std::min(
                CountDifAudioErrors(recount.data(), static_cast<size_t>(count),
                                    (look.damage.flags & FrameDamage::k625) != 0, sound),
                0xFFFF));
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
        if (!look.reference && IsDamaged(look.damage)) {
            scene.health.Add(look.damage);
        }
        previous = marks;
        const uint32_t now = TickCount();
        if (now - lastPreviewTick > kPreviewIntervalMs) {
            context.progress.SetPosition(static_cast<int>((framesDone + f) / 256), fileName,
                                         stream, f);
            lastPreviewTick = now;
        }
        return true;
    };

    const int batches = (n + kBatchFrames - 1) / kBatchFrames;
    std::vector<FrameBatch> slots(kBatchesAhead);
    std::mutex mutex;
    std::condition_variable changed;
    int claimed = 0;  // batches handed to a looker
    int taken = 0;    // batches the scan has taken
    bool stop = false;
    // With the lock held: the next batch to look at, or -1.
    auto claim = [&] {
        return stop || claimed >= batches || claimed >= taken + kBatchesAhead ? -1 : claimed++;
    };
    auto look = [&](FrameLooker& looker, int b, std::unique_lock<std::mutex>& lock) {
        FrameBatch& batch = slots[static_cast<size_t>(b % kBatchesAhead)];
        lock.unlock();
        looker.Look(b * kBatchFrames, std::min(n, (b + 1) * kBatchFrames), batch);
        lock.lock();
        batch.done = true;
        changed.notify_all();
    };

    // The helper's own reader of the file. Not while the test hook counts reads: its
    // count is of this thread's reads.
    std::unique_ptr<AviReader> helperReader;
    AviStream* helperStream = nullptr;
    if (batches > 1 && CurrentWriteFaults() == nullptr) {
        int error = 0;
        helperReader = OpenAviFile(fileName, &error);
        helperStream = helperReader ? helperReader->Stream(0) : nullptr;
        if (helperStream == nullptr || helperStream->Length() != n) {
            helperStream = nullptr;
            helperReader.reset();
        }
    }
    std::thread helper;
    if (helperStream != nullptr) {
        helper = std::thread([&] {
            FrameLooker looker(*helperStream);
            std::unique_lock<std::mutex> lock(mutex);
            for (;;) {
                changed.wait(lock, [&] {
                    return stop || claimed >= batches || claimed < taken + kBatchesAhead;
                });
                const int b = claim();
                if (b < 0) {
                    return;
                }
                look(looker, b, lock);
            }
        });
    }

    // Ends the helper: when the frames are taken, and however else the scan ends, also
    // by an exception (an allocation that failed), as a thread left running would end
    // the program. Called without the lock.
    struct HelperEnd {
        std::thread& thread;
        std::mutex& mutex;
        std::condition_variable& changed;
        bool& stop;
        void operator()() {
            if (!thread.joinable()) {
                return;
            }
            {
                std::lock_guard<std::mutex> guard(mutex);
                stop = true;
            }
            changed.notify_all();
            thread.join();
        }
        ~HelperEnd() { (*this)(); }
    } endHelper{helper, mutex, changed, stop};

    FrameLooker looker(*stream);
    std::unique_lock<std::mutex> lock(mutex);
    while (taken < batches) {
        FrameBatch& next = slots[static_cast<size_t>(taken % kBatchesAhead)];
        if (!next.done) {
            const int b = claim();
            if (b >= 0) {
                lock.unlock();
                readAhead(b * kBatchFrames);
                lock.lock();
                look(looker, b, lock);
                continue;
            }
            changed.wait(lock, [&] { return next.done; });
        }
        lock.unlock();
        const int first = taken * kBatchFrames;
        bool goOn = true;
        if (context.progress.CancelRequested()) {
            cancelled = true;
            goOn = false;
        }
        for (size_t i = 0; goOn && i < next.frames.size(); ++i) {
            goOn = take(first + static_cast<int>(i), next.frames[i]);
        }
        if (goOn && next.readError != 0) {
            readError = next.readError;
            goOn = false;
        }
        if (next.knowsSound) {
            knowsSound = true;
            sound = next.sound;
        }
        lock.lock();
        next.done = false;
        ++taken;
        changed.notify_all();
        if (!goOn) {
            break;
        }
    }
    lock.unlock();
    endHelper();

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
