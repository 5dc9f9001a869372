// Our AVI reader and datestamp decoder checked against an independent
// implementation: ffmpeg makes real DV clips (dvvideo pictures, 48 kHz PCM,
// recording date/time packs) as raw DV and as the type-2 AVI files it writes,
// and ffprobe / ffmpeg say what those files hold.
//
// ffmpeg and ffprobe are declared test dependencies: when they are missing the
// tests fail rather than skip, so a build machine without them is noticed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "dv/Datestamp.h"
#include "support/AviFixture.h"
#include "support/Shell.h"
#include "support/TimeZone.h"

namespace {

using qvtest::ReadFileBytes;
using qvtest::ScopedTimeZone;
using qvtest::TempDir;

// The recording time handed to ffmpeg: 2004-07-14 10:20:30 UTC.
constexpr const char* kCreationTime = "2004-07-14T10:20:30Z";
constexpr qv::Datestamp kCreationUtc = 1089800430;

struct TvSystem {
    const char* name;
    int width;
    int height;
    int rateNum;  // frame rate as ffprobe writes it: rateNum / rateDen
    int rateDen;
    const char* pixelFormat;  // what ffmpeg's dvvideo encoder takes for this system
    int frameSize;
    double seconds;  // clip length: a little over one second, so the time advances
};

// Named in test listings by its system only.
void PrintTo(const TvSystem& system, std::ostream* os) {
    *os << system.name;
}

const TvSystem kPal{"pal", 720, 576, 25, 1, "yuv420p", qvtest::kPalFrameSize, 1.2};
const TvSystem kNtsc{"ntsc", 720, 480, 30000, 1001, "yuv411p", qvtest::kNtscFrameSize, 1.2};

using qvtest::Quote;

// Runs a shell command; its standard output, or nothing when it exits non-zero.
std::optional<std::string> RunShell(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    std::string out;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    int status = ::pclose(pipe);
    if (status != 0) {
        return std::nullopt;
    }
    return out;
}

// One clip as ffmpeg made it.
struct Clip {
    std::string dvPath;   // raw DV: frames of frameSize bytes back to back
    std::string aviPath;  // the same frames wrapped by ffmpeg into a type-2 AVI
};

// Clips are made once per process and system: every test of a system shares them.
class ClipStore {
public:
    // Null (and a reason) when ffmpeg could not make the clip.
    const Clip* Get(const TvSystem& system, std::string* reason) {
        auto found = clips_.find(system.name);
        if (found != clips_.end()) {
            return &found->second;
        }
        if (!RunShell("ffmpeg -version >/dev/null 2>&1")) {
            *reason = "ffmpeg is not installed (Debian package ffmpeg; a test dependency)";
            return nullptr;
        }
        Clip clip{dir_.Path(std::string(system.name) + ".dv"),
                  dir_.Path(std::string(system.name) + ".avi")};
        std::ostringstream encode;
        // The raw DV muxer writes the creation time into every frame's recording
        // date and time packs, advanced by the frame's whole seconds.
        encode << "ffmpeg -v error -y -f lavfi -i testsrc=size=" << system.width << "x"
               << system.height << ":rate=" << system.rateNum << "/" << system.rateDen
               << " -f lavfi -i sine=frequency=1000:sample_rate=48000"
               << " -t " << system.seconds << " -c:v dvvideo -pix_fmt " << system.pixelFormat
               << " -c:a pcm_s16le -ac 2 -ar 48000 -metadata creation_time=" << kCreationTime
               << " -f dv " << Quote(clip.dvPath) << " </dev/null";
        if (!RunShell(encode.str())) {
            *reason = "ffmpeg could not encode: " + encode.str();
            return nullptr;
        }
        // Stream copy into AVI: "vids" 00dc and "auds" 01wb chunks with "idx1".
        std::string wrap = "ffmpeg -v error -y -i " + Quote(clip.dvPath) + " -c copy " +
                           Quote(clip.aviPath) + " </dev/null";
        if (!RunShell(wrap)) {
            *reason = "ffmpeg could not wrap: " + wrap;
            return nullptr;
        }
        return &clips_.emplace(system.name, clip).first->second;
    }

private:
    TempDir dir_;
    std::map<std::string, Clip> clips_;
};

ClipStore& Clips() {
    static ClipStore store;
    return store;
}

// ffprobe's view of one stream, as key=value pairs.
using ProbeFields = std::map<std::string, std::string>;

// Streams in file order; ffprobe counts the packets by demuxing the whole file.
std::vector<ProbeFields> Probe(const std::string& path) {
    std::string command =
        "ffprobe -v error -count_packets -show_entries "
        "stream=index,codec_type,codec_name,width,height,r_frame_rate,sample_rate,channels,"
        "nb_frames,nb_read_packets -of compact=p=0 " +
        Quote(path) + " </dev/null";
    std::vector<ProbeFields> streams;
    auto out = RunShell(command);
    if (!out) {
        return streams;
    }
    std::istringstream lines(*out);
    std::string line;
    while (std::getline(lines, line)) {
        ProbeFields fields;
        std::istringstream items(line);
        std::string item;
        while (std::getline(items, item, '|')) {
            auto eq = item.find('=');
            if (eq != std::string::npos) {
                fields[item.substr(0, eq)] = item.substr(eq + 1);
            }
        }
        if (!fields.empty()) {
            streams.push_back(std::move(fields));
        }
    }
    return streams;
}

long long ToInt(const ProbeFields& f, const std::string& key) {
    auto it = f.find(key);
    return it == f.end() ? -1 : std::atoll(it->second.c_str());
}

std::string Text(const ProbeFields& f, const std::string& key) {
    auto it = f.find(key);
    return it == f.end() ? std::string("(missing)") : it->second;
}

class FfmpegInterop : public ::testing::TestWithParam<TvSystem> {
protected:
    void SetUp() override {
        std::string reason;
        clip_ = Clips().Get(GetParam(), &reason);
        ASSERT_NE(clip_, nullptr) << reason;
        dv_ = ReadFileBytes(clip_->dvPath);
        const size_t frameSize = static_cast<size_t>(GetParam().frameSize);
        ASSERT_GT(dv_.size(), 0u);
        ASSERT_EQ(dv_.size() % frameSize, 0u) << "raw DV is not whole frames";
        dvFrames_ = static_cast<int>(dv_.size() / frameSize);
        reader_ = qv::OpenAviFile(clip_->aviPath);
        ASSERT_NE(reader_, nullptr);
    }

    const Clip* clip_ = nullptr;
    std::vector<uint8_t> dv_;
    int dvFrames_ = 0;
    std::unique_ptr<qv::AviReader> reader_;
};

TEST_P(FfmpegInterop, StreamsAgreeWithFfprobe) {
    const TvSystem& sys = GetParam();
    std::vector<ProbeFields> probe = Probe(clip_->aviPath);
    ASSERT_EQ(probe.size(), 2u) << "ffprobe failed or found another stream layout";
    ASSERT_EQ(reader_->StreamCount(), 2);
    // ffmpeg writes small files as AVI 1.0: its OpenDML indexes stay "JUNK".
    EXPECT_EQ(reader_->Kind(), "avi1");

    const ProbeFields& v = probe[0];
    const ProbeFields& a = probe[1];
    qv::AviStream* video = reader_->Stream(0);
    qv::AviStream* audio = reader_->Stream(1);
    ASSERT_NE(video, nullptr);
    ASSERT_NE(audio, nullptr);

    EXPECT_EQ(Text(v, "codec_type"), "video");
    EXPECT_TRUE(video->IsVideo());
    EXPECT_EQ(Text(a, "codec_type"), "audio");
    EXPECT_TRUE(audio->IsAudio());

    // Frames: what ffprobe found by demuxing, what the header says, and the raw DV.
    EXPECT_EQ(reader_->FrameCount(), ToInt(v, "nb_read_packets"));
    EXPECT_EQ(reader_->FrameCount(), ToInt(v, "nb_frames"));
    EXPECT_EQ(reader_->FrameCount(), dvFrames_);

    EXPECT_EQ(Text(v, "r_frame_rate"),
              std::to_string(sys.rateNum) + "/" + std::to_string(sys.rateDen));
    EXPECT_DOUBLE_EQ(reader_->FramesPerSecond(), static_cast<double>(sys.rateNum) / sys.rateDen);

    auto vf = video->GetVideoFormat();
    ASSERT_TRUE(vf.has_value());
    EXPECT_EQ(vf->width, ToInt(v, "width"));
    EXPECT_EQ(vf->height, ToInt(v, "height"));

    auto af = audio->GetAudioFormat();
    ASSERT_TRUE(af.has_value());
    EXPECT_EQ(af->samplesPerSec, ToInt(a, "sample_rate"));
    EXPECT_EQ(af->channels, ToInt(a, "channels"));
    EXPECT_EQ(af->bitsPerSample, 16);
    EXPECT_EQ(af->formatTag, 1);  // PCM
    EXPECT_EQ(af->blockAlign, 4);
    EXPECT_EQ(af->avgBytesPerSec, 4u * 48000u);
    EXPECT_EQ(audio->UnitSize(), 4u);  // one stereo 16-bit sample frame
    EXPECT_DOUBLE_EQ(audio->FramesPerSecond(), 48000.0);
    // ffprobe's sample count for PCM in AVI; ours comes from the index alone.
    EXPECT_EQ(audio->Length(), ToInt(a, "nb_frames"));
}

TEST_P(FfmpegInterop, FramesReadAsTheRawDvStream) {
    const size_t frameSize = static_cast<size_t>(GetParam().frameSize);
    qv::AviStream* video = reader_->Stream(0);
    ASSERT_NE(video, nullptr);
    ASSERT_EQ(video->Length(), dvFrames_);
    // Room for more than a frame: a chunk that is too long shows up as a size mismatch.
    std::vector<uint8_t> buffer(frameSize + 4096);
    for (int f = 0; f < dvFrames_; ++f) {
        int units = -1;
        int bytes = -1;
        ASSERT_TRUE(video->Read(f, 1, &units, buffer.data(), static_cast<int>(buffer.size()),
                                &bytes))
            << "frame " << f;
        ASSERT_EQ(units, 1) << "frame " << f;
        ASSERT_EQ(static_cast<size_t>(bytes), frameSize) << "frame " << f;
        ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + bytes,
                               dv_.begin() + static_cast<std::ptrdiff_t>(f * frameSize)))
            << "frame " << f << " differs from the raw DV stream";
    }
    EXPECT_FALSE(video->Read(dvFrames_, 1, nullptr, buffer.data(),
                             static_cast<int>(buffer.size()), nullptr));
}

// Audio as our users read it, one video frame's share at a time (runs that start
// and end inside chunks), against the PCM that ffmpeg extracts from the same file.
TEST_P(FfmpegInterop, AudioReadsAsFfmpegExtractsIt) {
    const std::string pcmPath = clip_->aviPath + ".pcm";
    ASSERT_TRUE(RunShell("ffmpeg -v error -y -i " + Quote(clip_->aviPath) +
                    " -map 0:a -c:a copy -f s16le " + Quote(pcmPath) + " </dev/null"));
    std::vector<uint8_t> pcm = ReadFileBytes(pcmPath);
    qv::AviStream* audio = reader_->Stream(1);
    ASSERT_NE(audio, nullptr);
    ASSERT_EQ(pcm.size() % 4, 0u);
    ASSERT_EQ(static_cast<size_t>(audio->Length()), pcm.size() / 4);

    const double samplesPerFrame = audio->FramesPerSecond() / reader_->FramesPerSecond();
    std::vector<uint8_t> buffer(8192);
    for (int f = 0; f < dvFrames_; ++f) {
        const int first = static_cast<int>(f * samplesPerFrame);
        const int end = std::min(static_cast<int>((f + 1) * samplesPerFrame), audio->Length());
        const int count = end - first;
        ASSERT_GT(count, 0);
        ASSERT_LE(count * 4, static_cast<int>(buffer.size()));
        int units = -1;
        int bytes = -1;
        ASSERT_TRUE(audio->Read(first, count, &units, buffer.data(),
                                static_cast<int>(buffer.size()), &bytes))
            << "frame " << f;
        ASSERT_EQ(units, count) << "frame " << f;
        ASSERT_EQ(bytes, count * 4) << "frame " << f;
        ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + bytes,
                               pcm.begin() + static_cast<std::ptrdiff_t>(first) * 4))
            << "audio of frame " << f << " (units " << first << ".." << end << ") differs";
    }
}

// ffmpeg's DV muxer fills the recording date pack (0x62) at byte 458 and the
// recording time pack (0x63) at byte 463 of every frame, which is where
// camcorders put them and where we read them. It writes the UTC fields of the
// creation time, plus the frame's whole seconds (frame × rateDen / rateNum,
// rounded down), whatever the local zone: just what a camcorder whose clock
// was set to UTC records.
TEST_P(FfmpegInterop, DatestampsOfFfmpegRecordingPacks) {
    const TvSystem& sys = GetParam();
    qv::AviStream* video = reader_->Stream(0);
    ASSERT_NE(video, nullptr);
    ASSERT_GT(dvFrames_ * sys.rateDen / sys.rateNum, 0) << "the clip must pass a second";

    for (int f = 0; f < dvFrames_; ++f) {
        const size_t at = static_cast<size_t>(f) * static_cast<size_t>(sys.frameSize);
        ASSERT_EQ(dv_[at + 458], 0x62) << "frame " << f << ": no recording date pack";
        ASSERT_EQ(dv_[at + 463], 0x63) << "frame " << f << ": no recording time pack";
    }

    {
        ScopedTimeZone utc("UTC");
        qv::RefFileCache cache;
        for (int f = 0; f < dvFrames_; ++f) {
            const qv::Datestamp elapsed = f * sys.rateDen / sys.rateNum;
            EXPECT_EQ(qv::ReadFrameDatestamp(*video, f, cache, nullptr, nullptr),
                      kCreationUtc + elapsed)
                << "frame " << f;
        }
    }
    {
        // The packs hold wall-clock time: in a zone four hours behind UTC in July
        // (daylight saving time in force), 10:20:30 there is 14:20:30 UTC.
        ScopedTimeZone eastern("EST5EDT,M3.2.0,M11.1.0");
        qv::RefFileCache cache;
        std::string referenced = "stale";
        EXPECT_EQ(qv::ReadFrameDatestamp(*video, 0, cache, &referenced, nullptr),
                  kCreationUtc + 4 * 3600);
        EXPECT_EQ(referenced, "");  // an ordinary frame, no "REF " chunk
    }
}

INSTANTIATE_TEST_SUITE_P(Systems, FfmpegInterop, ::testing::Values(kPal, kNtsc),
                         [](const ::testing::TestParamInfo<TvSystem>& system) {
                             return std::string(system.param.name);
                         });

}  // namespace
