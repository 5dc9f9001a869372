#include "avi/ClipCopier.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/FileSystem.h"
#include "platform/Platform.h"
#include "platform/Progress.h"
#include "platform/Questions.h"

namespace qv {

namespace {

const char kSourceUnreadable[] = "the sourcefile can't be opened for reading";
const char kDestinationUnwritable[] =
    "the destfile can't be opened for writing (one possible reason:disk full?)";
const char kDestinationIsSource[] = "the destfile is the sourcefile itself; it is not overwritten";
const char kVideoReadError[] = "error reading the video stream";
const char kAudioReadError[] =
    "there was an error reading the audio stream\n- do you want to ignore audio-stream errors?";
const char kVideoWriteError[] = "error writing to the video stream (one possible reason:disk full?)";
const char kAudioWriteError[] = "error writing to the audio stream (one possible reason:disk full?)";
const char kAbortQuestion[] = "do you want to abort?";

const char kDiskFullGuess[] = " (one possible reason:disk full?)";

// text without its guess at a full disk.
std::string WithoutDiskGuess(std::string text) {
    if (const size_t guess = text.find(kDiskFullGuess); guess != std::string::npos) {
        text.erase(guess, std::strlen(kDiskFullGuess));
    }
    return text;
}

// A message that guesses a full disk, and on the next line the file and the system's
// reason; the guess stays only where the reason is a full disk (or unknown).
std::string Failure(const std::string& text, const std::string& file, int error) {
    return WithReason(error != 0 && !IsDiskFull(error) ? WithoutDiskGuess(text) : text, file,
                      error);
}

// A write the writer failed: by what its output cannot hold when it refused the
// chunk, else by the system's reason.
std::string WriteFailure(const std::string& text, const std::string& file,
                         const AviWriter& writer) {
    const std::string refusal = writer.Refusal();
    if (refusal.empty()) {
        return Failure(text, file, writer.LastError());
    }
    return WithoutDiskGuess(text) + "\n" + file + ": " + refusal;
}

constexpr uint32_t kProgressIntervalMs = 2000;
constexpr int kCancelPollFrames = 20;
// Header lists, padding and the indexes a segment keeps room for, generously.
constexpr int64_t kSegmentOverhead = 128 << 10;

constexpr uint16_t kWaveFormatPcm = 1;  // WAVEFORMATEX wFormatTag

// An audio stream copied along with the video, frame by frame as its split says.
struct AudioTrack {
    int number = 0;  // stream number in source and copy
    AviStream* stream = nullptr;
    AudioSplit split;
    uint32_t unitSize = 0;        // as the stream describes it, for the room a frame needs
    int64_t bytesPerUnit = 0;     // as read in this scene; 0 until a read succeeded
};

// Why a stream cannot be cut at frame boundaries, or empty. Only the video (stream
// 0) and PCM audio, whose sample frames divide among the frames, can be.
std::string UncuttableReason(AviReader& reader) {
    for (int i = 0; i < reader.StreamCount(); ++i) {
        AviStream* s = reader.Stream(i);
        bool cuttable = false;
        if (i == 0) {
            cuttable = s->IsVideo() || s->IsInterleaved();
        } else if (s->IsAudio()) {
            auto format = s->GetAudioFormat();
            cuttable = format && format->formatTag == kWaveFormatPcm;
        }
        if (cuttable) {
            continue;
        }
        std::string type = FourCCText(s->Type());
        for (char& c : type) {
            if (c < 0x20 || c > 0x7E) {
                c = '?';  // the code comes from the file
            }
        }
        std::string text = "the sourcefile has a stream that can't be copied (stream " +
                           std::to_string(i) + ", type " + type;
        if (s->IsAudio()) {
            text += ", not PCM";
        }
        return text + "); nothing was written";
    }
    return {};
}

// An AVI 1.0 copy keeps its "idx1", which only covers the first segment: a scene
// that may not fit one segment is written with OpenDML indexes as well.
bool NeedsOpenDml(AviReader& reader, const Scene& scene, const std::vector<AudioTrack>& tracks,
                  uint32_t segmentLimit) {
    AviStream* video = reader.Stream(0);
    // Chunk header, pad byte and "idx1" entry of the frame and of its audio (counted
    // for one audio chunk even when there is none).
    const int64_t perFrame = (1 + static_cast<int64_t>(std::max<size_t>(tracks.size(), 1))) *
                             (8 + 1 + 16);
    int64_t bytes = kSegmentOverhead;
    for (int f = scene.firstFrame; f < scene.firstFrame + scene.frameCount; ++f) {
        bytes += std::max<int64_t>(video->ChunkSize(f), 0) + perFrame;
    }
    for (const AudioTrack& t : tracks) {
        bytes += t.split.UnitsOf(scene.firstFrame, scene.frameCount) *
                 std::max<uint32_t>(t.stream->UnitSize(), 1);
    }
    return bytes > static_cast<int64_t>(segmentLimit);
}

}  // namespace

std::string TimeFailure(const std::string& file, int error) {
    return WithReason("can't give " + file + " its recording time as modification time", file,
                      error);
}

uint64_t DefaultCopyBufferBytes() {
    return std::min<uint64_t>(PhysicalMemory() / 4, uint64_t{64} << 20);
}

int64_t AudioUnitsOf(int64_t first, int64_t count, double samplesPerFrame) {
    auto at = [&](int64_t frame) {
        return static_cast<int64_t>(std::floor(static_cast<double>(frame) * samplesPerFrame + 0.5));
    };
    return at(first + count) - at(first);
}

namespace {

// dwScale and dwRate of a stream: its units per second are rate / scale. False when
// the stream header does not give them.
bool RateOf(const AviStream& stream, uint64_t* rate, uint64_t* scale) {
    const ByteSpan header = stream.Header();  // "strh" with its 8-byte chunk header
    *scale = Field32(header, 8 + 20);         // dwScale
    *rate = Field32(header, 8 + 24);          // dwRate
    return *rate != 0 && *scale != 0;
}

}  // namespace

AudioSplit::AudioSplit(AviStream& video, AviStream& audio)
    : audio_(&audio), frames_(std::max(video.Length(), 0)) {
    uint64_t videoRate = 0, videoScale = 0, audioRate = 0, audioScale = 0;
    if (RateOf(video, &videoRate, &videoScale) && RateOf(audio, &audioRate, &audioScale)) {
        // samples per frame = (audioRate / audioScale) / (videoRate / videoScale);
        // each factor fits 32 bits, so each product fits 64.
        num_ = audioRate * videoScale;
        den_ = audioScale * videoRate;
    } else if (video.FramesPerSecond() > 0) {
        samplesPerFrame_ = audio.FramesPerSecond() / video.FramesPerSecond();
    }
    const int64_t length = std::max(audio.Length(), 0);
    // The chunks are followed only where each begins within a frame's worth of samples
    // of the frame's time: a stream chunked some other way is cut by the rounding.
    const int64_t perFrame = Rounded(1) + 1;
    followsChunks_ = frames_ > 0 && audio.ChunkCount() == frames_;
    for (int64_t f = 0; followsChunks_ && f < frames_; ++f) {
        const int64_t first = audio.ChunkFirstUnit(static_cast<int>(f));
        followsChunks_ = first >= 0 && first <= length && std::abs(first - Rounded(f)) <= perFrame;
    }
    // Audio that goes on past the last frame's time goes with it, up to a frame's worth;
    // audio that ends early leaves the last frames short, their reads failing as
    // those of any missing audio do.
    end_ = followsChunks_ ? length
                          : std::max(Rounded(frames_), std::min(length, Rounded(frames_ + 1)));
}

int64_t AudioSplit::Rounded(int64_t frame) const {
    if (den_ == 0) {
        return static_cast<int64_t>(
            std::floor(static_cast<double>(frame) * samplesPerFrame_ + 0.5));
    }
    // frame * num / den to the nearest sample; frame < 2^31 and num < 2^64.
    __extension__ using Wide = unsigned __int128;
    const Wide twice = 2 * static_cast<Wide>(frame) * num_ + den_;
    const Wide units = twice / (2 * static_cast<Wide>(den_));
    return static_cast<int64_t>(std::min<Wide>(units, INT64_MAX));
}

int64_t AudioSplit::UnitOf(int64_t frame) const {
    if (frame <= 0) {
        return 0;
    }
    if (frame >= frames_) {
        return end_;
    }
    return followsChunks_ ? audio_->ChunkFirstUnit(static_cast<int>(frame)) : Rounded(frame);
}

namespace {

// Frame f of stream as bytes; empty when it cannot be read.
std::vector<uint8_t> FrameBytes(AviStream& stream, int f) {
    const int64_t size = stream.ChunkSize(f);
    if (size <= 0 || size > (int64_t{16} << 20)) {
        return {};
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    int got = 0;
    stream.Read(f, 1, nullptr, bytes.data(), static_cast<int>(size), &got);
    bytes.resize(static_cast<size_t>(std::max(got, 0)));
    return bytes;
}

}  // namespace

// Whether fileName is this scene written earlier: an AVI file of the scene's frame
// count whose first and last frames are the scene's own, byte for byte.
bool ClipCopier::HoldsThisScene(const std::string& fileName, const Scene& scene) {
    std::unique_ptr<AviReader> existing = OpenAviFile(fileName);
    AviStream* source = sourceReader ? sourceReader->Stream(0) : nullptr;
    if (!existing || existing->FrameCount() != scene.frameCount || scene.frameCount <= 0 ||
        existing->Stream(0) == nullptr || source == nullptr) {
        return false;
    }
    const int last = scene.frameCount - 1;
    const std::vector<uint8_t> first = FrameBytes(*existing->Stream(0), 0);
    const std::vector<uint8_t> end = FrameBytes(*existing->Stream(0), last);
    return !first.empty() && !end.empty() && first == FrameBytes(*source, scene.firstFrame) &&
           end == FrameBytes(*source, scene.firstFrame + last);
}

bool ClipCopier::AbortRequested(Progress& progress) {
    return progress.CancelRequested() &&
           questions_.Ask(kAbortQuestion, Buttons::YesNo) == Answer::Yes;
}

int ClipCopier::CopyScene(const std::string& destinationName, const Scene& scene,
                          Progress& progress, int& framesDone, int progressDivisor) {
    // Flushing before each read batch keeps reads and writes on one disk apart.
    const bool sameDevice = OnSameDevice(scene.sourceFile, destinationName);

    // A reader that met a read error is opened again: the error may have passed.
    if (!sourceReader || !SameFile(sourceReader->FileName(), scene.sourceFile) ||
        sourceReader->ReadError() != 0) {
        sourceReader.reset();
        int error = 0;
        sourceReader = OpenAviFile(scene.sourceFile, &error);
        if (!sourceReader || sourceReader->StreamCount() == 0) {
            sourceReader.reset();
            questions_.Tell(Failure(kSourceUnreadable, scene.sourceFile, error));
            return -1;
        }
    }
    AviStream* video = sourceReader->Stream(0);
    const int64_t end = static_cast<int64_t>(scene.firstFrame) + scene.frameCount;
    if (scene.frameCount <= 0 || scene.firstFrame < 0 || end > video->Length()) {
        questions_.Tell(kVideoReadError);
        return -1;
    }
    // Nothing is ever written onto an input.
    if (SameFile(destinationName, scene.sourceFile)) {
        questions_.Tell(kDestinationIsSource);
        return -1;
    }
    // Every stream of the source is created in the copy: one that could not be
    // filled would be lost, with the source deleted after a "successful" run.
    if (std::string reason = UncuttableReason(*sourceReader); !reason.empty()) {
        questions_.Tell(reason);
        return -1;
    }

    // A destination written earlier for this scene carries its recording time and the
    // scene's frames; a file with the same time and other frames (another tape whose
    // camcorder clock said the same) is asked about like any other.
    int64_t existingTime = 0;
    const bool exists = GetModificationTime(destinationName, &existingTime);
    if (!exists && errno != ENOENT) {
        // Whether a file stands there is not known: it would be replaced unasked.
        questions_.Tell(Failure(kDestinationUnwritable, destinationName, errno));
        return -1;
    }
    if (!yesForAll && exists) {
        const int64_t d = existingTime - scene.datestamp;
        if (d < -2 || d > 2 || !HoldsThisScene(destinationName, scene)) {
            char text[4096];
            std::snprintf(text, sizeof text, "Do you want to overwrite\r\n%s?",
                          destinationName.c_str());
            Answer a = questions_.Ask(text, Buttons::YesYesForAllAbort, "Confirm");
            if (a == Answer::YesForAll) {
                yesForAll = true;
            } else if (a != Answer::Yes) {
                return -1;
            }
        }
    }

    std::vector<AudioTrack> tracks;
    for (int i = 1; i < sourceReader->StreamCount(); ++i) {
        AviStream* audio = sourceReader->Stream(i);
        tracks.push_back({i, audio, AudioSplit(*video, *audio), audio->UnitSize()});
    }
    WriterOptions options;
    options.segmentLimit = segmentLimit;
    options.forceOpenDml = sourceReader->Kind() == "avi1" &&
                           NeedsOpenDml(*sourceReader, scene, tracks, segmentLimit);
    options.firstFrame = scene.firstFrame;
    if (AviStream::ChunkPlace first; video->Locate(scene.firstFrame, &first)) {
        options.firstChunkSource = first.position - 8;
    }
    errno = 0;
    std::unique_ptr<AviWriter> writer = CreateWriterFor(*sourceReader, destinationName, options);
    if (!writer) {
        questions_.Tell(Failure(kDestinationUnwritable, destinationName, errno));
        return -1;
    }
    // A read that failed is told with the source and the system's reason.
    auto readFailure = [&] { return Failure(kVideoReadError, scene.sourceFile, video->ReadError()); };

    // A frame's parts: its video, then the audio of each track in stream order.
    const size_t partsPerFrame = 1 + tracks.size();
    const int64_t capacity = static_cast<int64_t>(copyBuffer.size());
    uint8_t* const buffer = copyBuffer.data();
    const int divisor = std::max(progressDivisor, 1);
    queue_.clear();
    size_t head = 0;
    bool firstProgress = true;
    uint32_t lastProgressTick = 0;
    bool aborted = false;
    int64_t written = 0;
    int64_t nextFrame = scene.firstFrame;
    File* videoFile = nullptr;  // the source's file, for chunks copied from it directly
    int64_t advisedEnd = 0;     // the source's bytes up to here were asked for ahead

    // Frames the next batch read into the buffer may hold: after a run the writer
    // refused, first one frame (a segment or index boundary), then more each time.
    int64_t slowFrames = 1;
    int64_t slowEnd = end;
    bool runsAllowed = copyRuns;

    while (written < scene.frameCount && !aborted) {
        const bool polled = written % kCancelPollFrames == 0;
        if (polled && AbortRequested(progress)) {
            aborted = true;
            break;
        }
        if (head == queue_.size() && runsAllowed) {
            // Where the frames' chunks lie in the source one after another, video then
            // the audio of each track in stream order, a chunk a frame, the run's bytes
            // are the copy's bytes: the writer takes as much of it as it would write
            // the same way.
            run_.clear();
            File* runFile = nullptr;
            int64_t runStart = -1;
            int64_t cursor = -1;  // where the next chunk's header must lie
            for (int64_t f = nextFrame; f < end; ++f) {
                const size_t frameStart = run_.size();
                const int64_t frameCursor = cursor;
                AviStream::ChunkPlace v;
                bool whole = video->ChunkFirstUnit(static_cast<int>(f)) == f &&
                             video->ChunkAt(static_cast<int>(f), &v) && v.file != nullptr &&
                             v.size > 0 && (runFile == nullptr || v.file == runFile) &&
                             (cursor < 0 || v.position - 8 == cursor);
                if (whole) {
                    runFile = v.file;
                    if (cursor < 0) {
                        runStart = v.position - 8;
                    }
                    run_.push_back({0, v.size, 1});
                    cursor = v.position + v.size + v.size % 2;
                }
                for (size_t k = 0; k < tracks.size() && whole; ++k) {
                    const AudioTrack& t = tracks[k];
                    const int64_t n = t.split.UnitsOf(f, 1);
                    AviStream::ChunkPlace a;
                    whole = t.split.FollowsChunks() && t.unitSize > 0 && n > 0 && n <= INT_MAX &&
                            t.stream->ChunkFirstUnit(static_cast<int>(f)) == t.split.UnitOf(f) &&
                            t.stream->ChunkAt(static_cast<int>(f), &a) && a.file == runFile &&
                            a.position - 8 == cursor && a.size == n * t.unitSize;
                    if (whole) {
                        run_.push_back({t.number, a.size, static_cast<int>(n)});
                        cursor = a.position + a.size + a.size % 2;
                    }
                }
                // A run spans no more than a batch read into the buffer would.
                if (!whole || cursor - runStart > capacity) {
                    run_.resize(frameStart);
                    cursor = frameCursor;
                    break;
                }
            }
            size_t taken = 0;
            ChunkCopy copied = ChunkCopy::Done;
            if (!run_.empty()) {
                if (!polled && AbortRequested(progress)) {
                    aborted = true;
                    break;
                }
                const uint32_t now = TickCount();
                if (firstProgress || now - lastProgressTick > kProgressIntervalMs) {
                    progress.SetPosition(
                        static_cast<int>((framesDone + nextFrame - scene.firstFrame) / divisor),
                        scene.sourceFile, video, static_cast<int>(nextFrame));
                    lastProgressTick = now;
                    firstProgress = false;
                }
                if (sameDevice) {
                    writer->FlushBuffers();
                }
                // This run and the next are asked for at once, as for a batch.
                const int64_t from = std::max(runStart, advisedEnd);
                const int64_t to = runStart + 2 * capacity;
                if (to > from) {
                    runFile->WillNeed(from, to - from);
                    advisedEnd = to;
                }
                copied = writer->CopyRun(*runFile, runStart, run_.data(), run_.size(),
                                         partsPerFrame, &taken);
            }
            if (copied == ChunkCopy::WriteFailed) {
                questions_.Tell(WriteFailure(kVideoWriteError, destinationName, *writer));
                aborted = true;
                break;
            }
            if (copied == ChunkCopy::ReadFailed) {
                // Read again frame by frame, which tells which read failed and how.
                runsAllowed = false;
                slowEnd = end;
            } else if (taken > 0) {
                const auto frames = static_cast<int64_t>(taken / partsPerFrame);
                written += frames;
                nextFrame += frames;
                slowFrames = 1;
                continue;
            } else if (!run_.empty()) {
                slowEnd = std::min(end, nextFrame + slowFrames);
                slowFrames *= 2;
            } else {
                slowEnd = end;
            }
        }
        if (head == queue_.size()) {
            // Refill: read as many whole frames with their audio as the buffer holds.
            if (sameDevice) {
                writer->FlushBuffers();
            }
            queue_.clear();
            head = 0;
            // fill: bytes in the buffer; batch: those plus the video chunks that are
            // copied from the source directly, so that a batch spans the same frames
            // either way.
            int64_t fill = 0;
            int64_t batch = 0;
            int64_t sourceEnd = -1;
            // The source's bytes of this batch and the next are asked for at once, so
            // that the disk reads the next batch while this one is written.
            AviStream::ChunkPlace first;
            if (video->Locate(static_cast<int>(nextFrame), &first)) {
                const int64_t from = std::max(first.position - 8, advisedEnd);
                const int64_t to = first.position - 8 + 2 * capacity;
                if (to > from) {
                    first.file->WillNeed(from, to - from);
                    advisedEnd = to;
                }
            }
            for (int64_t f = nextFrame; f < slowEnd; ++f) {
                const uint32_t now = TickCount();
                if (firstProgress || now - lastProgressTick > kProgressIntervalMs) {
                    progress.SetPosition(
                        static_cast<int>((framesDone + f - scene.firstFrame) / divisor),
                        scene.sourceFile, video, static_cast<int>(f));
                    lastProgressTick = now;
                    firstProgress = false;
                }
                const int64_t videoSize = video->ChunkSize(static_cast<int>(f));
                int64_t need = std::max<int64_t>(videoSize, 0);
                for (const AudioTrack& t : tracks) {
                    need += t.split.UnitsOf(f, 1) * t.unitSize;
                }
                if (batch + need > capacity) {
                    if (queue_.empty()) {
                        questions_.Tell(kVideoReadError);  // not even one frame fits
                        aborted = true;
                    }
                    break;
                }
                int units = 0;
                int bytes = 0;
                AviStream::ChunkPlace place;
                if (videoSize > 0 && video->Locate(static_cast<int>(f), &place) &&
                    sourceEnd < 0) {
                    sourceEnd = place.file->Size();  // once a batch: the file may shrink
                }
                if (videoSize > 0 && place.file != nullptr && place.size == videoSize &&
                    place.position + place.size <= sourceEnd &&
                    (videoFile == nullptr || videoFile == place.file)) {
                    // The chunk's header was checked where it lies; its data is copied
                    // from there when the frame is written.
                    videoFile = place.file;
                    queue_.push_back({fill, videoSize, 1, place.position});
                    batch += videoSize;
                } else {
                    const int room =
                        static_cast<int>(std::min<int64_t>(capacity - fill, INT_MAX));
                    video->Read(static_cast<int>(f), 1, &units, buffer + fill, room, &bytes);
                    // A frame is copied whole or not at all.
                    if (units == 0 || bytes != videoSize) {
                        questions_.Tell(readFailure());
                        aborted = true;
                        break;
                    }
                    queue_.push_back({fill, bytes, units});
                    fill += bytes;
                    batch += bytes;
                }
                for (AudioTrack& t : tracks) {
                    CopyPart part{fill, 0, 0};
                    const int64_t a = t.split.UnitOf(f);
                    const int64_t n = t.split.UnitOf(f + 1) - a;
                    if (n > 0) {
                        const int audioRoom =
                            static_cast<int>(std::min<int64_t>(capacity - fill, INT_MAX));
                        units = 0;
                        bytes = 0;
                        t.stream->Read(static_cast<int>(a), static_cast<int>(n), &units,
                                       buffer + fill, audioRoom, &bytes);
                        if (units == 0 && t.stream->ReadError() != 0) {
                            // A file that cannot be read is no audio error to ignore.
                            questions_.Tell(Failure("error reading the audio stream",
                                                    scene.sourceFile, t.stream->ReadError()));
                            aborted = true;
                            break;
                        }
                        if (units == 0) {
                            if (!ignoreAudioErrors &&
                                questions_.Ask(kAudioReadError, Buttons::YesNoDefaultNo) ==
                                    Answer::Yes) {
                                ignoreAudioErrors = true;
                            }
                            if (!ignoreAudioErrors) {
                                aborted = true;
                                break;
                            }
                            // Silence of the expected length, once the unit size is known.
                            const int64_t silence =
                                std::min<int64_t>(n * t.bytesPerUnit, capacity - fill);
                            std::memset(buffer + fill, 0, static_cast<size_t>(silence));
                            part.bytes = silence;
                            part.units = t.bytesPerUnit > 0
                                             ? static_cast<int>(silence / t.bytesPerUnit)
                                             : 0;
                        } else {
                            part.bytes = bytes;
                            part.units = units;
                            if (t.bytesPerUnit == 0) {
                                t.bytesPerUnit = bytes / units;
                            }
                        }
                        fill += part.bytes;
                        batch += part.bytes;
                    }
                    queue_.push_back(part);
                }
                if (aborted || AbortRequested(progress)) {
                    aborted = true;
                    break;
                }
            }
            if (aborted) {
                break;
            }
        }
        // Drain one frame.
        const CopyPart& v = queue_[head];
        const ChunkCopy copied =
            v.sourcePosition >= 0
                ? writer->CopyChunk(0, *videoFile, v.sourcePosition, v.bytes, v.units)
                : (writer->WriteChunk(0, buffer + v.offset, v.bytes, v.units)
                       ? ChunkCopy::Done
                       : ChunkCopy::WriteFailed);
        if (copied != ChunkCopy::Done) {
            // The source lost the chunk after its header was checked (a file cut short
            // while it is copied), or the destination could not take it.
            questions_.Tell(copied == ChunkCopy::ReadFailed
                                ? readFailure()
                                : WriteFailure(kVideoWriteError, destinationName, *writer));
            aborted = true;
        }
        for (size_t k = 0; k < tracks.size() && !aborted; ++k) {
            const CopyPart& p = queue_[head + 1 + k];
            if (p.bytes != 0 && !writer->WriteChunk(tracks[k].number, buffer + p.offset,
                                                    p.bytes, p.units)) {
                questions_.Tell(WriteFailure(kAudioWriteError, destinationName, *writer));
                aborted = true;
                break;
            }
        }
        head += partsPerFrame;
        ++written;
        ++nextFrame;
    }

    framesDone += scene.frameCount;
    queue_.clear();
    progress.SetPosition(-1, "", nullptr, 0);
    if (aborted) {
        return -1;  // the writer's temporary file goes with it; the destination stays
    }
    writer->FlushBuffers();
    // 0 is no datestamp and -1 a time that could not be converted: no time to give.
    const int64_t time = scene.datestamp > 0 ? scene.datestamp : 0;
    if (!writer->Finish(time)) {
        questions_.Tell(Failure(kVideoWriteError, destinationName, writer->LastError()));
        return -1;
    }
    if (writer->TimeError() != 0) {
        ++timeErrors;
        questions_.Tell(TimeFailure(destinationName, writer->TimeError()));
    }
    return 0;
}

}  // namespace qv
