// Our AVI reader and datestamp decoder checked against an independent implementation:
// ffmpeg makes real DV clips (dvvideo pictures, 48 kHz PCM, recording date/time packs)
// as raw DV and as the type-2 AVI files it writes, and ffprobe / ffmpeg say what those
// files hold.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "dv/Datestamp.h"
#include "support/Ffmpeg.h"
#include "support/ReadUnits.h"
#include "support/TimeZone.h"

namespace {

using qvtest::TvSystem;

constexpr qv::Datestamp kRecordedUtc = 1089800430;  // qvtest::kClipRecorded

class FfmpegInterop : public ::testing::TestWithParam<TvSystem> {
  protected:
    void SetUp() override {
        std::string reason;
        clip_ = qvtest::RealDvClip(GetParam(), &reason);
        ASSERT_NE(clip_, nullptr) << reason;
        reader_ = qv::OpenAviFile(clip_->aviPath);
        ASSERT_NE(reader_, nullptr);
        ASSERT_EQ(reader_->StreamCount(), 2);
    }

    const qvtest::DvClip* clip_ = nullptr;
    std::unique_ptr<qv::AviReader> reader_;
};

// ffmpeg's DV muxer fills the recording date pack (0x62) at byte 458 and the recording
// time pack (0x63) at byte 463 of every frame, which is where camcorders put them and
// where we read them. It writes the UTC fields of the creation time plus the frame's
// whole seconds (frame x rateDen / rateNum, rounded down), whatever the local zone: just
// what a camcorder whose clock was set to UTC records.
TEST_P(FfmpegInterop, ReaderAgreesWithFfprobeAndFfmpeg) {
    const TvSystem& sys = GetParam();
    const std::vector<qvtest::ProbeFields> probe = qvtest::Probe(clip_->aviPath);
    ASSERT_EQ(probe.size(), 2u) << "ffprobe failed or found another stream layout";
    // ffmpeg writes small files as AVI 1.0: its OpenDML indexes stay "JUNK".
    EXPECT_EQ(reader_->Kind(), "avi1");
    EXPECT_EQ(std::to_string(reader_->FrameCount()), qvtest::Field(probe[0], "nb_read_packets"));

    // Every frame as the raw DV has it; room for more than a frame, so that a chunk
    // that is too long shows.
    qvtest::ScopedTimeZone utc("UTC");
    qv::AviStream& video = *reader_->Stream(0);
    qv::RefFileCache cache;
    const int frames = static_cast<int>(clip_->frames.size());
    for (int f = 0; f < frames; ++f) {
        ASSERT_TRUE(qvtest::ReadUnits(video, f, 1, sys.frameSize + 4096).bytes ==
                    clip_->frames[static_cast<size_t>(f)])
            << "frame " << f;
        EXPECT_EQ(qv::ReadFrameDatestamp(video, f, cache, nullptr, nullptr),
                  kRecordedUtc + f * sys.rateDen / sys.rateNum)
            << "frame " << f;
    }
    EXPECT_FALSE(qvtest::ReadUnits(video, frames, 1, sys.frameSize + 4096).ok);

    // The audio against the PCM ffmpeg extracts from the same file.
    qv::AviStream& audio = *reader_->Stream(1);
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

INSTANTIATE_TEST_SUITE_P(Systems, FfmpegInterop, ::testing::Values(qvtest::kPal, qvtest::kNtsc),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
