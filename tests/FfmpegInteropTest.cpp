// Our AVI reader and datestamp decoder checked against an independent implementation:
// ffmpeg makes real DV clips (dvvideo pictures, 48 kHz PCM, recording date/time packs)
// as raw DV and as the type-2 AVI files it writes, and ffprobe / ffmpeg say what those
// files hold.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "dv/Datestamp.h"
#include "support/Ffmpeg.h"
#include "support/ReadUnits.h"
#include "support/TimeZone.h"

namespace {

using qvtest::Field;
using qvtest::TvSystem;

constexpr qv::Datestamp kRecordedUtc = 1089800430;  // qvtest::kClipRecorded

class FfmpegInterop : public ::testing::TestWithParam<TvSystem> {
  protected:
    void SetUp() override {
        std::string reason;
        clip_ = qvtest::RealDvClip(GetParam(), &reason);
        ASSERT_NE(clip_, nullptr) << reason;
        frames_ = static_cast<int>(clip_->frames.size());
        reader_ = qv::OpenAviFile(clip_->aviPath);
        ASSERT_NE(reader_, nullptr);
        ASSERT_EQ(reader_->StreamCount(), 2);
    }

    const qvtest::DvClip* clip_ = nullptr;
    int frames_ = 0;
    std::unique_ptr<qv::AviReader> reader_;
};

TEST_P(FfmpegInterop, ReaderAgreesWithFfprobeAndFfmpeg) {
    const TvSystem& sys = GetParam();
    const std::vector<qvtest::ProbeFields> probe = qvtest::Probe(clip_->aviPath);
    ASSERT_EQ(probe.size(), 2u) << "ffprobe failed or found another stream layout";
    // ffmpeg writes small files as AVI 1.0: its OpenDML indexes stay "JUNK".
    EXPECT_EQ(reader_->Kind(), "avi1");
    const qvtest::ProbeFields& v = probe[0];
    const qvtest::ProbeFields& a = probe[1];
    qv::AviStream& video = *reader_->Stream(0);
    qv::AviStream& audio = *reader_->Stream(1);
    EXPECT_TRUE(video.IsVideo() && Field(v, "codec_type") == "video");
    EXPECT_TRUE(audio.IsAudio() && Field(a, "codec_type") == "audio");
    EXPECT_EQ(std::to_string(reader_->FrameCount()), Field(v, "nb_read_packets"));
    EXPECT_DOUBLE_EQ(reader_->FramesPerSecond(), static_cast<double>(sys.rateNum) / sys.rateDen);
    const auto vf = video.GetVideoFormat();
    ASSERT_TRUE(vf.has_value());
    EXPECT_EQ(std::to_string(vf->width) + "x" + std::to_string(vf->height),
              Field(v, "width") + "x" + Field(v, "height"));
    const auto af = audio.GetAudioFormat();
    ASSERT_TRUE(af.has_value());
    EXPECT_EQ(std::to_string(af->samplesPerSec), Field(a, "sample_rate"));
    EXPECT_EQ(std::to_string(af->channels), Field(a, "channels"));
    // ffprobe's sample count for PCM in AVI; ours comes from the index alone.
    EXPECT_EQ(std::to_string(audio.Length()), Field(a, "nb_frames"));

    // Every frame as the raw DV has it; room for more than a frame, so that a chunk
    // that is too long shows.
    for (int f = 0; f < frames_; ++f) {
        ASSERT_TRUE(qvtest::ReadUnits(video, f, 1, sys.frameSize + 4096).bytes ==
                    clip_->frames[static_cast<size_t>(f)])
            << "frame " << f;
    }
    EXPECT_FALSE(qvtest::ReadUnits(video, frames_, 1, sys.frameSize + 4096).ok);

    // The audio against the PCM ffmpeg extracts from the same file.
    const std::string pcmPath = clip_->aviPath + ".pcm";
    ASSERT_EQ(qvtest::RunShell("ffmpeg -v error -y -nostdin -i " + qvtest::Quote(clip_->aviPath) +
                               " -map 0:a -c:a copy -f s16le " + qvtest::Quote(pcmPath))
                  .status,
              0);
    const std::vector<uint8_t> pcm = qvtest::ReadFileBytes(pcmPath);
    const auto r = qvtest::ReadUnits(audio, 0, audio.Length(), static_cast<int>(pcm.size()) + 4);
    EXPECT_EQ(r.units, audio.Length());
    EXPECT_TRUE(r.bytes == pcm) << "the audio differs";
}

// ffmpeg's DV muxer fills the recording date pack (0x62) at byte 458 and the recording
// time pack (0x63) at byte 463 of every frame, which is where camcorders put them and
// where we read them. It writes the UTC fields of the creation time plus the frame's
// whole seconds (frame x rateDen / rateNum, rounded down), whatever the local zone: just
// what a camcorder whose clock was set to UTC records.
TEST_P(FfmpegInterop, DatestampsOfFfmpegRecordingPacks) {
    const TvSystem& sys = GetParam();
    qv::AviStream& video = *reader_->Stream(0);
    {
        qvtest::ScopedTimeZone utc("UTC");
        qv::RefFileCache cache;
        for (int f = 0; f < frames_; ++f) {
            EXPECT_EQ(qv::ReadFrameDatestamp(video, f, cache, nullptr, nullptr),
                      kRecordedUtc + f * sys.rateDen / sys.rateNum)
                << "frame " << f;
        }
    }
    // The packs hold wall-clock time: in a zone four hours behind UTC in July (daylight
    // saving time in force), 10:20:30 there is 14:20:30 UTC.
    qvtest::ScopedTimeZone eastern("EST5EDT,M3.2.0,M11.1.0");
    qv::RefFileCache cache;
    std::string referenced = "stale";
    EXPECT_EQ(qv::ReadFrameDatestamp(video, 0, cache, &referenced, nullptr),
              kRecordedUtc + 4 * 3600);
    EXPECT_EQ(referenced, "");  // an ordinary frame, no "REF " chunk
}

INSTANTIATE_TEST_SUITE_P(Systems, FfmpegInterop, ::testing::Values(qvtest::kPal, qvtest::kNtsc),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
