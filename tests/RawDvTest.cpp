// Raw DV files: told by their content, read frame by frame, scanned and split like
// the AVI of the same frames, and written as raw DV or as type-2 AVI with the sound
// of the frames' audio blocks.

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "avi/AviReader.h"
#include "platform/FileSystem.h"
#include "support/CliFixture.h"
#include "support/Ffmpeg.h"
#include "support/Shell.h"
#include "support/Tapes.h"

namespace {

using qvtest::DvTime;
using qvtest::Quote;
using Frames = std::vector<std::vector<uint8_t>>;

std::vector<uint8_t> Joined(const Frames& frames, size_t first = 0, size_t count = SIZE_MAX) {
    std::vector<uint8_t> bytes;
    for (size_t i = first; i < frames.size() && i - first < count; ++i) {
        bytes.insert(bytes.end(), frames[i].begin(), frames[i].end());
    }
    return bytes;
}

// Synthetic frames of whole DV size: a recording of 30 frames, one of 20 from another
// day, and 10 without datestamp.
Frames TapeOf(bool pal) {
    Frames frames;
    uint32_t seed = 1;
    for (const auto& [count, start] :
         {std::pair{30, std::optional{DvTime{2004, 7, 14, 10, 20, 30}}},
          std::pair{20, std::optional{DvTime{2005, 1, 2, 8, 0, 0}}},
          std::pair{10, std::optional<DvTime>{}}}) {
        for (int j = 0; j < count; ++j) {
            std::optional<DvTime> t;
            if (start) {
                t = qvtest::Plus(*start, pal ? j / 25 : int64_t{j} * 1001 / 30000);
            }
            frames.push_back(qvtest::MakeDvFrame(pal, t, seed++));
        }
    }
    return frames;
}

// A scene as scan --json lists it.
using Listed = std::tuple<int, int, int64_t>;  // firstFrame, frameCount, datestamp

std::vector<Listed> ScenesIn(const std::string& json) {
    std::vector<Listed> scenes;
    if (!nlohmann::json::accept(json)) {
        return scenes;
    }
    for (const auto& s : nlohmann::json::parse(json)) {
        scenes.emplace_back(s["firstFrame"].get<int>(), s["frameCount"].get<int>(),
                            s["datestamp"].get<int64_t>());
    }
    return scenes;
}

// The PCM ffmpeg decodes from audio stream index of file, as 16-bit samples.
std::vector<uint8_t> FfmpegAudio(const std::string& file, int index) {
    const std::string out = file + ".a" + std::to_string(index) + ".pcm";
    const qvtest::ShellResult r = qvtest::RunShell("ffmpeg -v error -y -nostdin -i " + Quote(file) +
                                                   " -map 0:a:" + std::to_string(index) +
                                                   " -f s16le " + Quote(out) + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    return qvtest::ReadFileBytes(out);
}

// Every header field of an AVI made from raw DV, read from the file's bytes and set
// against what the AVI format and the frames make it: the main header, the video and
// sound stream headers and formats, the OpenDML frame count and both indexes' sizes.
// frames: the file's; pairs stereo streams of rate Hz, samples sample frames each.
void ExpectDvAviHeaders(const std::string& path, bool pal, uint32_t frames, int pairs,
                        uint32_t rate, uint32_t samples) {
    using qvtest::FindFourCC;
    using qvtest::GetLe32;
    const std::vector<uint8_t> b = qvtest::ReadFileBytes(path);
    const auto at16 = [&](size_t o) { return static_cast<uint32_t>(b[o] | b[o + 1] << 8); };
    const uint32_t frameBytes = pal ? 144000 : 120000;
    const uint32_t streams = 1 + static_cast<uint32_t>(pairs);
    const size_t avih = FindFourCC(b, "avih");
    ASSERT_NE(avih, qvtest::kNotFound);
    // dwMicroSecPerFrame, dwMaxBytesPerSec (video at its rate and the sound), flags
    // HASINDEX | ISINTERLEAVED, dwTotalFrames, dwStreams, dwSuggestedBufferSize, size.
    const uint32_t avih_[] = {pal ? 40000u : 33367u,
                              (pal ? 3600000u : 3596403u) +
                                  static_cast<uint32_t>(pairs) * rate * 4,
                              0, 0x110, frames, 0, streams, frameBytes, 720, pal ? 576u : 480u};
    for (size_t i = 0; i < std::size(avih_); ++i) {
        EXPECT_EQ(GetLe32(b, avih + 8 + 4 * i), avih_[i]) << "avih field " << i;
    }
    for (uint32_t s = 0; s < streams; ++s) {
        SCOPED_TRACE("stream " + std::to_string(s));
        const size_t strh = FindFourCC(b, "strh", 0, static_cast<int>(s));
        ASSERT_NE(strh, qvtest::kNotFound);
        const size_t h = strh + 8;
        const size_t f = FindFourCC(b, "strf", strh) + 8;
        EXPECT_EQ(GetLe32(b, strh + 4), 56u);
        if (s == 0) {
            // vids dvsd, dwScale/dwRate, dwLength, dwSuggestedBufferSize, quality, the frame.
            EXPECT_EQ(GetLe32(b, h), GetLe32({'v', 'i', 'd', 's'}, 0));
            EXPECT_EQ(GetLe32(b, h + 4), GetLe32({'d', 'v', 's', 'd'}, 0));
            EXPECT_EQ(GetLe32(b, h + 20), pal ? 1u : 1001u);
            EXPECT_EQ(GetLe32(b, h + 24), pal ? 25u : 30000u);
            EXPECT_EQ(GetLe32(b, h + 32), frames);
            EXPECT_EQ(GetLe32(b, h + 36), frameBytes);
            EXPECT_EQ(GetLe32(b, h + 40), 0xFFFFFFFFu);
            EXPECT_EQ(GetLe32(b, h + 44), 0u);
            EXPECT_EQ(at16(h + 52), 720u);
            EXPECT_EQ(at16(h + 54), pal ? 576u : 480u);
            // BITMAPINFOHEADER: size, width, height, planes, bits, dvsd, image size.
            EXPECT_EQ(GetLe32(b, f - 4), 40u);
            EXPECT_EQ(GetLe32(b, f), 40u);
            EXPECT_EQ(GetLe32(b, f + 4), 720u);
            EXPECT_EQ(GetLe32(b, f + 8), pal ? 576u : 480u);
            EXPECT_EQ(at16(f + 12), 1u);
            EXPECT_EQ(at16(f + 14), 24u);
            EXPECT_EQ(GetLe32(b, f + 16), GetLe32({'d', 'v', 's', 'd'}, 0));
            EXPECT_EQ(GetLe32(b, f + 20), frameBytes);
            continue;
        }
        // auds, no handler, dwScale 1, dwRate, dwLength in sample frames, room for the
        // most samples a frame holds (1944), quality, dwSampleSize 4.
        EXPECT_EQ(GetLe32(b, h), GetLe32({'a', 'u', 'd', 's'}, 0));
        EXPECT_EQ(GetLe32(b, h + 4), 0u);
        EXPECT_EQ(GetLe32(b, h + 20), 1u);
        EXPECT_EQ(GetLe32(b, h + 24), rate);
        EXPECT_EQ(GetLe32(b, h + 32), samples);
        EXPECT_EQ(GetLe32(b, h + 36), 1944u * 4);
        EXPECT_EQ(GetLe32(b, h + 40), 0xFFFFFFFFu);
        EXPECT_EQ(GetLe32(b, h + 44), 4u);
        // WAVEFORMATEX: PCM, two channels, rate, bytes a second, block, 16 bits, cbSize.
        EXPECT_EQ(GetLe32(b, f - 4), 18u);
        EXPECT_EQ(at16(f), 1u);
        EXPECT_EQ(at16(f + 2), 2u);
        EXPECT_EQ(GetLe32(b, f + 4), rate);
        EXPECT_EQ(GetLe32(b, f + 8), rate * 4);
        EXPECT_EQ(at16(f + 12), 4u);
        EXPECT_EQ(at16(f + 14), 16u);
        EXPECT_EQ(at16(f + 16), 0u);
    }
    const size_t dmlh = FindFourCC(b, "dmlh");
    ASSERT_NE(dmlh, qvtest::kNotFound);
    EXPECT_EQ(GetLe32(b, dmlh + 8), frames);
    // One chunk a frame per stream: as many "idx1" entries, and one standard index
    // per stream listing them.
    const size_t idx1 = FindFourCC(b, "idx1");
    ASSERT_NE(idx1, qvtest::kNotFound);
    EXPECT_EQ(GetLe32(b, idx1 + 4), 16 * frames * streams);
    // Each entry names its chunk: "00dc" for a frame, "01wb", "02wb" for the sound, in
    // that order frame by frame, and the chunk it points at carries that name.
    // Offsets count from the "movi" list's type, or from the file's start, as the
    // first entry tells.
    const size_t first = GetLe32(b, idx1 + 16);
    const size_t movi = first + 4 <= b.size() && GetLe32(b, first) == GetLe32(b, idx1 + 8)
                            ? 0
                            : FindFourCC(b, "movi");
    for (uint32_t e = 0; e < frames * streams && idx1 + 8 + 16 * (e + 1) <= b.size(); ++e) {
        const uint32_t s = e % streams;
        const std::string id = "0" + std::to_string(s) + (s == 0 ? "dc" : "wb");
        const uint32_t ckid = GetLe32(b, idx1 + 8 + 16 * e);
        EXPECT_EQ(ckid, GetLe32(std::vector<uint8_t>(id.begin(), id.end()), 0)) << "entry " << e;
        const size_t chunk = movi + GetLe32(b, idx1 + 8 + 16 * e + 8);
        ASSERT_LT(chunk + 8, b.size()) << "entry " << e;
        EXPECT_EQ(GetLe32(b, chunk), ckid) << "entry " << e;
    }
    for (uint32_t s = 0; s < streams; ++s) {
        const size_t indx = FindFourCC(b, "indx", 0, static_cast<int>(s));
        ASSERT_NE(indx, qvtest::kNotFound);
        EXPECT_EQ(GetLe32(b, indx + 12), 1u) << "nEntriesInUse of stream " << s;
        EXPECT_EQ(GetLe32(b, indx + 32 + 12), s == 0 ? frames : samples) << "dwDuration";
        const std::string ix = "ix0" + std::to_string(s);
        const size_t standard = FindFourCC(b, ix);
        ASSERT_NE(standard, qvtest::kNotFound) << ix;
        EXPECT_EQ(GetLe32(b, standard + 12), frames) << ix << " nEntriesInUse";
    }
}

class RawDvTest : public qvtest::CliTest {
  protected:
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir_.Path(name);
        EXPECT_TRUE(qvtest::WriteFileBytes(path, bytes)) << path;
        return path;
    }
    // Splits source, one recording made at qvtest::kClipRecorded, into the folder's
    // output name out ("x.avi"): the name written, "" when the split failed.
    std::string SplitClip(const std::string& source, const std::string& out) {
        const qvtest::CliResult r =
            Run("split " + Quote(source) + " --output " + Quote(dir_.Path(out)) + " --yes");
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const size_t dot = out.find('.');
        const std::string written =
            dir_.Path(out.substr(0, dot) + "'20040714 10.20.30" + out.substr(dot));
        return r.exitCode == 0 && qv::FileExists(written) ? written : "";
    }
};

// The scans find in a raw file the scenes of the AVI of the same frames, and every
// output holds the scene's frames byte for byte, whichever kind its name asks for.
TEST_F(RawDvTest, ScannedAndSplitLikeTheAviOfTheSameFrames) {
    for (const bool pal : {true, false}) {
        SCOPED_TRACE(pal ? "625/50" : "525/60");
        const Frames frames = TapeOf(pal);
        const std::string raw = Write("tape.dv", Joined(frames));
        std::vector<qvtest::FixtureFrame> fixture(frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            fixture[i].video = frames[i];
        }
        const std::string avi = dir_.Path("tape.avi");
        ASSERT_TRUE(qvtest::WriteFixtureAvi(avi, qvtest::Type1Options(pal), fixture));

        const qvtest::CliResult info = Run("info " + Quote(raw));
        EXPECT_EQ(info.out, std::string("file tape.dv, 60 frames, type:dv, ") +
                                (pal ? "25.00fps, Interleaved Audio/Video (PAL)\n"
                                     : "29.97fps, Interleaved Audio/Video (NTSC)\n"));
        const auto scenes = ScenesIn(Run("scan --json " + Quote(raw)).out);
        ASSERT_EQ(scenes.size(), 3u);
        EXPECT_EQ(scenes, ScenesIn(Run("scan --json " + Quote(avi)).out));

        for (const std::string out : {"out.dv", "out.DIF", "out.avi", "out.mov"}) {
            SCOPED_TRACE(out);
            const qvtest::CliResult r =
                Run("split " + Quote(raw) + " --output " + Quote(dir_.Path(out)) + " --yes");
            ASSERT_EQ(r.exitCode, 0) << r.err;
            const auto listed = nlohmann::json::parse(
                Run("scan --json --output " + Quote(dir_.Path(out)) + " " + Quote(raw)).out);
            for (const auto& scene : listed) {
                const std::string name = scene["outputName"];
                const int first = scene["firstFrame"], count = scene["frameCount"];
                if (out == "out.dv" || out == "out.DIF") {
                    EXPECT_EQ(
                        qvtest::ReadFileBytes(name),
                        Joined(frames, static_cast<size_t>(first), static_cast<size_t>(count)))
                        << name;
                    continue;
                }
                const auto reader = qv::OpenAviFile(name);
                ASSERT_NE(reader, nullptr) << name;
                EXPECT_EQ(reader->Kind(), out == "out.avi" ? "compat.odml-avi2" : "mov");
                const qvtest::FileContent content = qvtest::ReadContent(name);
                EXPECT_EQ(content.video,
                          Frames(frames.begin() + first, frames.begin() + first + count));
                const auto probed = qvtest::Probe(name);
                ASSERT_FALSE(probed.empty()) << name;
                EXPECT_EQ(qvtest::Field(probed[0], "codec_name"), "dvvideo");
                EXPECT_EQ(qvtest::Field(probed[0], "nb_read_packets"), std::to_string(count));
            }
        }
        // An AVI's frames written as raw DV are its frames, one after another.
        ASSERT_EQ(
            Run("split " + Quote(avi) + " --output " + Quote(dir_.Path("fromavi.dv")) + " --yes")
                .exitCode,
            0);
        const auto listed = nlohmann::json::parse(
            Run("scan --json --output " + Quote(dir_.Path("fromavi.dv")) + " " + Quote(avi)).out);
        EXPECT_EQ(qvtest::ReadFileBytes(listed[0]["outputName"]), Joined(frames, 0, 30));
    }
}

// The sound of an AVI written from raw DV is what ffmpeg's DV demuxer decodes from
// the scene's frames: 16-bit 48 kHz as ffmpeg writes it, and the same frames marked
// as 12-bit 32 kHz four-channel sound (two stereo streams).
TEST_F(RawDvTest, AudioEqualsFfmpegsDecodingOfTheSameFrames) {
    for (const qvtest::TvSystem* sys : {&qvtest::kPal, &qvtest::kNtsc}) {
        SCOPED_TRACE(sys->name);
        std::string why;
        const qvtest::DvClip* clip = qvtest::RealDvClip(*sys, &why);
        ASSERT_NE(clip, nullptr) << why;
        for (const bool twelveBit : {false, true}) {
            SCOPED_TRACE(twelveBit ? "12-bit" : "16-bit");
            Frames frames = clip->frames;
            for (size_t i = 0; i < frames.size(); ++i) {
                // Two recordings: the second scene starts inside the file.
                qvtest::SetDvTime(frames[i], i < 7 ? DvTime{2004, 7, 14, 10, 20, 30}
                                                   : DvTime{2006, 3, 4, 5, 6, 7});
                if (!twelveBit) {
                    continue;
                }
                // The AAUX source pack of every DIF sequence: 32 kHz, 12-bit nonlinear,
                // with the sample count a frame of that rate holds.
                const bool pal = sys == &qvtest::kPal;
                for (size_t c = 0; c < (pal ? 12u : 10u); ++c) {
                    const size_t at = c * 12000 + (6 + (c % 2 != 0 ? 0 : 48)) * 80 + 3;
                    ASSERT_EQ(frames[i][at], 0x50);
                    frames[i][at + 1] =
                        static_cast<uint8_t>((frames[i][at + 1] & 0xC0) | (pal ? 16 : 14));
                    frames[i][at + 4] =
                        static_cast<uint8_t>((frames[i][at + 4] & 0xC0) | 2 << 3 | 1);
                }
            }
            const std::string raw = Write("sound.dv", Joined(frames));
            const std::string second = Write("second.dv", Joined(frames, 7));
            const std::string out = dir_.Path(twelveBit ? "t12.avi" : "t16.avi");
            const qvtest::CliResult r =
                Run("split " + Quote(raw) + " --output " + Quote(out) + " --yes");
            ASSERT_EQ(r.exitCode, 0) << r.err;
            const auto listed = nlohmann::json::parse(
                Run("scan --json --output " + Quote(out) + " " + Quote(raw)).out);
            ASSERT_EQ(listed.size(), 2u);
            const std::string written = listed[1]["outputName"];
            uint32_t samples = 0;
            for (int pair = 0; pair < (twelveBit ? 2 : 1); ++pair) {
                const std::vector<uint8_t> expected = FfmpegAudio(second, pair);
                EXPECT_FALSE(expected.empty());
                EXPECT_EQ(FfmpegAudio(written, pair), expected) << "pair " << pair;
                samples = static_cast<uint32_t>(expected.size() / 4);
            }
            EXPECT_EQ(qvtest::Probe(written).size(), twelveBit ? 3u : 2u);
            ExpectDvAviHeaders(written, sys == &qvtest::kPal, static_cast<uint32_t>(frames.size() - 7),
                               twelveBit ? 2 : 1, twelveBit ? 32000 : 48000, samples);
        }
    }
}

// An AVI frame that is no whole frame of the file's DV system (its header block lost,
// a size not the system's, a frame of the other system) cannot go into raw DV, where
// the frames are told apart by their size alone: the split fails, names the output,
// the frame and what is wrong with it (not a full disk), and leaves no file of it and
// the source as it was. The same AVI without the bad frame splits.
TEST_F(RawDvTest, AFrameThatIsNoFrameOfTheSystemFailsARawDvOutput) {
    for (const qvtest::DvType type : {qvtest::DvType::Type1, qvtest::DvType::Type2}) {
        const qvtest::FixtureOptions options = qvtest::OptionsOf(type, qvtest::Generation::Avi1);
        const auto good = qvtest::MakeFrames(options, 12, DvTime{2004, 7, 14, 10, 20, 30});
        const struct {
            const char* what;
            std::vector<uint8_t> video;
            const char* why;
        } damages[] = {
            {"no header block", [&] {
                 auto v = good[6].video;
                 std::fill(v.begin(), v.begin() + 80, uint8_t{0});
                 return v;
             }(), "begins with no DV header block"},
            {"two bytes short", [&] {
                 auto v = good[6].video;
                 v.resize(v.size() - 2);
                 return v;
             }(), "is 143998 bytes, not the 144000 of a 625/50 DV frame"},
            {"525 frame", qvtest::MakeDvFrame(false, DvTime{2004, 7, 14, 10, 20, 30}, 6),
             "is 525/60 DV among frames of the other system"},
        };
        for (const auto& damage : damages) {
            SCOPED_TRACE(std::string(type == qvtest::DvType::Type1 ? "type-1, " : "type-2, ") +
                         damage.what);
            auto frames = good;
            frames[6].video = damage.video;
            const std::string avi = dir_.Path("bad.avi");
            ASSERT_TRUE(qvtest::WriteFixtureAvi(avi, options, frames));
            const std::vector<uint8_t> before = qvtest::ReadFileBytes(avi);
            const std::string out = dir_.Path("bad.dv");
            const qvtest::CliResult r = Run("split " + Quote(avi) + " --output " + Quote(out) +
                                            " --yes");
            EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
            // The output by name, and the frame and what is wrong with it: not the disk.
            EXPECT_NE(r.err.find(".dv: the scene's frame 7 "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(damage.why), std::string::npos) << r.err;
            EXPECT_EQ(r.err.find("disk full"), std::string::npos) << r.err;
            for (const std::string& name : qvtest::FolderEntries(dir_.Dir())) {
                EXPECT_EQ(name.find("bad'"), std::string::npos) << name << " left";
            }
            EXPECT_EQ(qvtest::ReadFileBytes(avi), before);
        }
        // Without it, the same split writes the frames one after another.
        auto frames = good;
        const std::string avi = dir_.Path("good.avi");
        ASSERT_TRUE(qvtest::WriteFixtureAvi(avi, options, frames));
        const qvtest::CliResult r =
            Run("split " + Quote(avi) + " --output " + Quote(dir_.Path("good.dv")) + " --yes");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const auto listed = nlohmann::json::parse(
            Run("scan --json --output " + Quote(dir_.Path("good.dv")) + " " + Quote(avi)).out);
        ASSERT_EQ(listed.size(), 1u);
        Frames video;
        for (const auto& f : good) {
            video.push_back(f.video);
        }
        EXPECT_EQ(qvtest::ReadFileBytes(listed[0]["outputName"]), Joined(video));
        std::filesystem::remove(avi);
        std::filesystem::remove(std::string(listed[0]["outputName"]));
    }
}

// What is not raw DV of 25 Mbit/s, or not whole, is refused or told as such, and a
// whole-file scene moves by renaming only to a name of its own kind.
TEST_F(RawDvTest, RefusalsPartialFramesAndMoves) {
    const Frames frames = TapeOf(true);
    const auto ExpectRefused = [&](const std::string& path, const std::string& why) {
        for (const std::string command : {"info ", "scan "}) {
            const qvtest::CliResult r = Run(command + Quote(path));
            EXPECT_EQ(r.exitCode, 1) << command << path;
            EXPECT_NE(r.err.find(path + ": " + why), std::string::npos) << r.err;
        }
    };
    ExpectRefused(Write("notes.dv", {'h', 'e', 'l', 'l', 'o', '\n'}),
                  "not an AVI, raw DV or QuickTime file");
    std::vector<uint8_t> dv50 = Joined(frames, 0, 2);
    dv50[448] = 0x60;  // VAUX source pack, signal type 4
    dv50[451] = 0x04;
    ExpectRefused(Write("dv50.dv", dv50), "DV50 (50 Mbit/s) video");
    std::vector<uint8_t> joined = Joined(TapeOf(false), 0, 12);
    const std::vector<uint8_t> pal = Joined(frames, 0, 12);
    joined.insert(joined.end(), pal.begin(), pal.end());
    ExpectRefused(Write("joined.dv", joined), "raw DV whose frames change size");

    // A capture cut inside a frame: the whole frames are read and written, and info
    // tells of the rest.
    std::vector<uint8_t> cut = Joined(frames, 0, 30);
    cut.resize(cut.size() - 1000);
    const std::string cutPath = Write("cut.dv", cut);
    EXPECT_EQ(Run("info " + Quote(cutPath)).out,
              "file cut.dv, 29 frames, type:dv, 25.00fps, Interleaved Audio/Video (PAL), ends "
              "with a partial frame\n");
    EXPECT_NE(Run("info --json " + Quote(cutPath)).out.find("\"endsWithPartialFrame\": 1"),
              std::string::npos);

    // Each frame is checked where it lies: one whose header was overwritten is not read.
    std::vector<uint8_t> damaged = Joined(frames, 0, 30);
    damaged[5 * 144000] = 0x5A;
    auto reader = qv::OpenAviFile(Write("damaged.dv", damaged));
    ASSERT_NE(reader, nullptr);
    std::vector<uint8_t> buffer(144000);
    int units = 0;
    EXPECT_TRUE(reader->Stream(0)->Read(4, 1, &units, buffer.data(), 144000, nullptr));
    EXPECT_FALSE(reader->Stream(0)->Read(5, 1, &units, buffer.data(), 144000, nullptr));
    qv::AviStream::ChunkPlace place;
    EXPECT_FALSE(reader->Stream(0)->Locate(5, &place));

    // One recording: a whole-file scene, moved when its name is of its kind and copied
    // into a real AVI otherwise; both sources end deleted.
    for (const std::string out : {"moved.dv", "copied.avi"}) {
        const std::string source = Write("whole.dv", Joined(frames, 0, 30));
        const qvtest::CliResult r = Run("split " + Quote(source) + " --output " +
                                        Quote(dir_.Path(out)) + " --delete-sources --yes");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_FALSE(qv::FileExists(source));
        const std::string written = dir_.Path(out.substr(0, out.find('.')) + "'20040714 10.20.30" +
                                              out.substr(out.find('.')));
        const auto copy = qv::OpenAviFile(written);
        ASSERT_NE(copy, nullptr) << written;
        EXPECT_EQ(copy->Kind(), out == "moved.dv" ? "dv" : "compat.odml-avi2");
        EXPECT_EQ(qvtest::ReadContent(written).video, Frames(frames.begin(), frames.begin() + 30));
    }
}

// The kind of output a name asks for, by its extension in any letter case; a dot in
// a folder's name is no extension. Every file kind's family.
TEST(OutputKind, ByTheExtensionOfTheNameAlone) {
    const std::pair<const char*, const char*> names[] = {
        {"scenes.dv", "dv"},         {"scenes.DIF", "dv"},     {"/a/b.Dv", "dv"},
        {"scenes.mov", "mov"},       {"x.MOV", "mov"},         {"scenes.avi", "avi"},
        {"scenes", "avi"},           {"tape.dv/scenes", "avi"}, {"tape.mov/x.dv", "dv"},
        {"scenes.dv.avi", "avi"},    {"scenes.avi.dif", "dv"}, {"scenes.dvd", "avi"},
        {"scenes.d", "avi"},         {"scenes.", "avi"},       {"/", "avi"},
    };
    for (const auto& [name, kind] : names) {
        EXPECT_EQ(qv::OutputKindOf(name), kind) << name;
    }
    for (const char* kind : {"avi1", "odml-avi2", "compat.odml-avi2", "odml-avi1", ""}) {
        EXPECT_EQ(qv::KindFamily(kind), "avi") << kind;
    }
    EXPECT_EQ(qv::KindFamily("dv"), "dv");
    EXPECT_EQ(qv::KindFamily("mov"), "mov");
}

// A QuickTime DV tape (ffmpeg's copy of raw DV into a .mov) is scanned as its raw
// DV, and written as AVI and QuickTime (frames byte for byte, the PCM track's
// samples as they are) and as raw DV; a QuickTime file of H.264 is refused.
TEST_F(RawDvTest, QuickTimeDvReadAndWritten) {
    for (const qvtest::TvSystem* sys : {&qvtest::kPal, &qvtest::kNtsc}) {
        SCOPED_TRACE(sys->name);
        std::string why;
        const qvtest::DvClip* clip = qvtest::RealDvClip(*sys, &why);
        ASSERT_NE(clip, nullptr) << why;
        Frames frames = clip->frames;
        for (size_t i = 0; i < frames.size(); ++i) {
            qvtest::SetDvTime(
                frames[i], i < 7 ? DvTime{2004, 7, 14, 10, 20, 30} : DvTime{2006, 3, 4, 5, 6, 7});
        }
        const std::string raw = Write("qt.dv", Joined(frames));
        const std::string mov = dir_.Path("qt.mov");
        const qvtest::ShellResult made =
            qvtest::RunShell("ffmpeg -v error -y -nostdin -i " + Quote(raw) + " -c copy -f mov " +
                             Quote(mov) + " 2>&1");
        ASSERT_EQ(made.status, 0) << made.output;
        EXPECT_EQ(
            Run("info " + Quote(mov))
                .out.find("file qt.mov, " + std::to_string(frames.size()) + " frames, type:mov"),
            0u);
        EXPECT_EQ(ScenesIn(Run("scan --json " + Quote(mov)).out),
                  ScenesIn(Run("scan --json " + Quote(raw)).out));
        const std::vector<uint8_t> sound = FfmpegAudio(mov, 0);
        const double perFrame = 48000.0 * sys->rateDen / sys->rateNum;
        for (const std::string out : {"q.avi", "q.dv", "q.mov"}) {
            SCOPED_TRACE(out);
            const qvtest::CliResult r =
                Run("split " + Quote(mov) + " --output " + Quote(dir_.Path(out)) + " --yes");
            ASSERT_EQ(r.exitCode, 0) << r.err;
            const auto listed = nlohmann::json::parse(
                Run("scan --json --output " + Quote(dir_.Path(out)) + " " + Quote(mov)).out);
            ASSERT_EQ(listed.size(), 2u);
            const std::string second = listed[1]["outputName"];
            const int first = listed[1]["firstFrame"], count = listed[1]["frameCount"];
            EXPECT_EQ(qvtest::ReadContent(second).video,
                      Frames(frames.begin() + first, frames.begin() + first + count));
            if (out != "q.dv") {
                const auto from = static_cast<size_t>(static_cast<int64_t>(first * perFrame) * 4);
                const auto to =
                    static_cast<size_t>(static_cast<int64_t>((first + count) * perFrame) * 4);
                ASSERT_LE(to, sound.size());
                EXPECT_EQ(FfmpegAudio(second, 0),
                          std::vector<uint8_t>(sound.begin() + static_cast<std::ptrdiff_t>(from),
                                               sound.begin() + static_cast<std::ptrdiff_t>(to)));
                const auto samples = static_cast<uint32_t>((to - from) / 4);
                if (out == "q.avi") {
                    ExpectDvAviHeaders(second, sys == &qvtest::kPal, static_cast<uint32_t>(count),
                                       1, 48000, samples);
                } else {
                    // The QuickTime output as ffprobe reads it: each track's kind, size,
                    // rate and length.
                    const auto streams = qvtest::Probe(second);
                    ASSERT_EQ(streams.size(), 2u);
                    const std::string rate =
                        std::to_string(sys->rateNum) + "/" + std::to_string(sys->rateDen);
                    EXPECT_EQ(qvtest::Field(streams[0], "codec_name"), "dvvideo");
                    EXPECT_EQ(qvtest::Field(streams[0], "width"), "720");
                    EXPECT_EQ(qvtest::Field(streams[0], "height"), std::to_string(sys->height));
                    EXPECT_EQ(qvtest::Field(streams[0], "r_frame_rate"), rate);
                    EXPECT_EQ(qvtest::Field(streams[0], "nb_frames"), std::to_string(count));
                    EXPECT_EQ(qvtest::Field(streams[0], "nb_read_packets"), std::to_string(count));
                    EXPECT_EQ(qvtest::Field(streams[1], "codec_type"), "audio");
                    EXPECT_EQ(qvtest::Field(streams[1], "sample_rate"), "48000");
                    EXPECT_EQ(qvtest::Field(streams[1], "channels"), "2");
                }
            }
        }
    }
    const std::string h264 = dir_.Path("h264.mov");
    ASSERT_EQ(
        qvtest::RunShell("ffmpeg -v error -y -nostdin -f lavfi -i testsrc=size=320x240:rate=25 "
                         "-t 0.4 -c:v libx264 " +
                         Quote(h264) + " 2>&1")
            .status,
        0);
    const qvtest::CliResult r = Run("scan " + Quote(h264));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(h264 + ": a QuickTime file that is not DV"), std::string::npos) << r.err;
}

// A disk that fills while a scene is written, whichever writer writes it: the
// system's calls fail for real (strace injects ENOSPC), the command fails, and
// neither the output nor its temporary file is left; the source is not deleted.
// Each kind of 25 Mbit/s DV a raw file may hold, written as AVI, QuickTime and raw
// DV: the frames byte for byte, with the picture format and codec tag that kind of
// output gives it, as ffprobe reads them (4:1:1 DVCPRO of 625/50 is "dvpp" in
// QuickTime, IEC 4:2:0 "dvcp").
TEST_F(RawDvTest, EachKindOfDvIsWrittenWithItsOwnTags) {
    const struct {
        const char* name;
        const char* size;
        const char* rate;
        const char* pixels;
        const char* quickTime;
        size_t frameBytes;
    } kinds[] = {
        {"IEC 625/50", "720x576", "25", "yuv420p", "dvcp", 144000},
        {"DVCPRO 625/50", "720x576", "25", "yuv411p", "dvpp", 144000},
        {"525/60", "720x480", "30000/1001", "yuv411p", "dvc ", 120000},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const std::string raw = dir_.Path("kind.dv");
        const qvtest::ShellResult made = qvtest::RunShell(
            std::string("ffmpeg -v error -y -nostdin -f lavfi -i testsrc=size=") + kind.size +
            ":rate=" + kind.rate + " -f lavfi -i sine=r=48000 -t 0.4 -pix_fmt " + kind.pixels +
            " -c:v dvvideo -c:a pcm_s16le -ac 2 -metadata creation_time=" + qvtest::kClipRecorded +
            " -f dv " + Quote(raw) + " 2>&1");
        ASSERT_EQ(made.status, 0) << made.output;
        const std::vector<uint8_t> bytes = qvtest::ReadFileBytes(raw);
        ASSERT_EQ(bytes.size() % kind.frameBytes, 0u);
        Frames frames;
        for (size_t at = 0; at < bytes.size(); at += kind.frameBytes) {
            frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                bytes.begin() + static_cast<std::ptrdiff_t>(at + kind.frameBytes));
        }
        for (const std::string out : {"k.avi", "k.mov", "k.dv"}) {
            SCOPED_TRACE(out);
            const std::string written = SplitClip(raw, out);
            ASSERT_FALSE(written.empty());
            EXPECT_EQ(qvtest::ReadContent(written).video, frames);
            const auto streams = qvtest::Probe(written);
            ASSERT_FALSE(streams.empty());
            EXPECT_EQ(qvtest::Field(streams[0], "pix_fmt"), kind.pixels);
            if (out != "k.dv") {
                EXPECT_EQ(qvtest::Field(streams[0], "codec_tag_string"),
                          out == "k.avi" ? "dvsd" : kind.quickTime);
            }
            ASSERT_TRUE(qv::RemoveFile(written));
        }
    }
}

// The sound tracks a QuickTime DV file may carry: 16-bit PCM either way round, mono
// or stereo, 48 or 32 kHz, one track or two. Every AVI and QuickTime output of the
// whole file sounds as its source does to ffmpeg, track by track.
TEST_F(RawDvTest, EverySoundTrackOfAQuickTimeFileIsCopiedAsItSounds) {
    std::string why;
    const qvtest::DvClip* clip = qvtest::RealDvClip(qvtest::kPal, &why);
    ASSERT_NE(clip, nullptr) << why;
    const std::string raw = Write("clip.dv", Joined(clip->frames));
    const struct {
        const char* name;
        const char* audio;  // ffmpeg's options for the sound of the QuickTime file
        int tracks;
    } kinds[] = {
        {"big-endian", "-map 0:v -map 0:a -c:a pcm_s16be", 1},
        {"mono 32 kHz", "-map 0:v -map 0:a -c:a pcm_s16le -ac 1 -ar 32000", 1},
        {"two tracks", "-map 0:v -map 0:a -map 0:a -c:a pcm_s16le", 2},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.name);
        const std::string mov = dir_.Path("sound.mov");
        const qvtest::ShellResult made = qvtest::RunShell(
            "ffmpeg -v error -y -nostdin -i " + Quote(raw) + " " + kind.audio +
            " -c:v copy -f mov " + Quote(mov) + " 2>&1");
        ASSERT_EQ(made.status, 0) << made.output;
        for (const std::string out : {"s.avi", "s.mov"}) {
            SCOPED_TRACE(out);
            const std::string written = SplitClip(mov, out);
            ASSERT_FALSE(written.empty());
            EXPECT_EQ(qvtest::ReadContent(written).video, clip->frames);
            for (int track = 0; track < kind.tracks; ++track) {
                const std::vector<uint8_t> heard = FfmpegAudio(mov, track);
                EXPECT_FALSE(heard.empty());
                EXPECT_EQ(FfmpegAudio(written, track), heard) << "track " << track;
            }
            EXPECT_EQ(qvtest::Probe(written).size(), static_cast<size_t>(1 + kind.tracks));
            ASSERT_TRUE(qv::RemoveFile(written));
        }
    }
}

TEST_F(RawDvTest, AFullDiskLeavesNoOutputOfAnyKind) {
    const std::string raw = Write("full.dv", Joined(TapeOf(true), 0, 50));
    // A raw copy is one copy_file_range a scene; the others write header parts first.
    for (const auto& [out, calls, when] : {std::tuple{"f.dv", "copy_file_range", "1+"},
                                           std::tuple{"f.avi", "pwrite64,pwritev", "3+"},
                                           std::tuple{"f.mov", "pwrite64,pwritev", "3+"}}) {
        SCOPED_TRACE(out);
        const qvtest::ShellResult r = qvtest::RunShell(
            // (LeakSanitizer, in a sanitizer build, cannot run under ptrace.)
            std::string("TZ=UTC ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -e trace=") +
            calls + " -e inject=" + calls +
            ":error=ENOSPC:when=" + when + " " + Quote(QV_CLI_PATH) + " split " + Quote(raw) +
            " --output " + Quote(dir_.Path(out)) +
            " --yes --delete-sources --delete-unwritten </dev/null 2>&1");
        EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 1) << r.status << r.output;
        EXPECT_TRUE(qv::FileExists(raw));
        for (const std::string& name : qvtest::FolderEntries(dir_.Path(""))) {
            EXPECT_NE(name.rfind("f'", 0), 0u) << name;
        }
    }
}

// A capture as dvgrab writes it (its raw format, here from a DV stream on file) is
// read as the frames it holds: the scenes of the stream it was made from, as far as
// dvgrab kept their frames (it paces a file as a camcorder and may drop some).
TEST_F(RawDvTest, DvgrabsRawCaptureHoldsTheScenesOfItsStream) {
    std::string why;
    const qvtest::DvClip* clip = qvtest::RealDvClip(qvtest::kPal, &why);
    ASSERT_NE(clip, nullptr) << why;
    Frames frames = clip->frames;
    for (size_t i = 0; i < frames.size(); ++i) {
        qvtest::SetDvTime(frames[i], DvTime{2004, 7, 14, i < 12 ? 10 : 12, 0, 0});
    }
    const std::string stream = Write("stream.dv", Joined(frames));
    const auto streamScenes = ScenesIn(Run("scan --json " + Quote(stream)).out);
    ASSERT_EQ(streamScenes.size(), 2u);
    const std::string grabbed = dir_.Path("grab-001.dv");
    const size_t frameBytes = frames[0].size();
    // Each frame dvgrab kept is one of the stream's: the scenes expected are the runs
    // of kept frames of each recording, dated as the stream's scenes are. On a busy
    // machine dvgrab may keep frames of one recording only: it is run again then.
    std::vector<Listed> expected;
    for (int attempt = 0; attempt < 5 && expected.size() != 2; ++attempt) {
        std::filesystem::remove(grabbed);
        // dvgrab takes a fraction of a second, but now and then waits without end:
        // bounded, what it left removed, and tried again.
        const qvtest::ShellResult r = qvtest::RunShell(
            "cd " + Quote(dir_.Path("")) +
            " && for i in 1 2 3 4 5 6; do [ -f grab-001.dv ] && break; timeout -k 1 3 dvgrab -I "
            "stream.dv -f raw grab- </dev/null 2>&1 || rm -f grab-*; done");
        ASSERT_TRUE(std::filesystem::exists(grabbed)) << r.output;
        const std::vector<uint8_t> bytes = qvtest::ReadFileBytes(grabbed);
        ASSERT_EQ(bytes.size() % frameBytes, 0u);
        expected.clear();
        for (size_t k = 0; k < bytes.size() / frameBytes; ++k) {
            const auto kept = std::find_if(frames.begin(), frames.end(), [&](const auto& f) {
                return std::equal(f.begin(), f.end(),
                                  bytes.begin() + static_cast<long>(k * frameBytes));
            });
            ASSERT_NE(kept, frames.end()) << "frame " << k << " is none of the stream's";
            const int64_t stamp = std::get<2>(streamScenes[kept - frames.begin() < 12 ? 0 : 1]);
            if (expected.empty() || std::get<2>(expected.back()) != stamp) {
                expected.emplace_back(static_cast<int>(k), 0, stamp);
            }
            ++std::get<1>(expected.back());
        }
    }
    EXPECT_EQ(ScenesIn(Run("scan --json " + Quote(grabbed)).out), expected);
    EXPECT_EQ(expected.size(), 2u) << "dvgrab kept frames of one recording only";
}

}  // namespace
