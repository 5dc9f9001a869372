#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/SceneList.h"
#include "avi/AviReader.h"
#include "dv/DifFrame.h"
#include "dv/TapeHealth.h"
#include "dv/ThoroughScan.h"
#include "support/FakeQuestions.h"
#include "support/Ffmpeg.h"
#include "support/RecordingProgress.h"
#include "support/SceneSetup.h"
#include "support/Tapes.h"
#include "support/TimeZone.h"

namespace {

using Frame = std::vector<uint8_t>;

// Places of a 625/50 frame: video block k (0..134) of DIF sequence s, and audio block
// j (0..8) of sequence s, as the DIF layout orders them.
size_t VideoBlock(int s, int k) {
    return static_cast<size_t>(s) * 12000 + static_cast<size_t>(7 + 16 * (k / 15) + k % 15) * 80;
}
size_t AudioBlock(int s, int j) {
    return static_cast<size_t>(s) * 12000 + static_cast<size_t>(6 + 16 * j) * 80;
}

// Marks blocks [0, n) of sequence s with status sta; garbles their data too, as a
// worn tape's would be, when garble is set.
void Conceal(Frame& f, int s, int n, uint8_t sta, bool garble) {
    uint32_t v = 12345u + static_cast<uint32_t>(s);
    for (int k = 0; k < n; ++k) {
        uint8_t* b = f.data() + VideoBlock(s, k);
        b[3] = static_cast<uint8_t>(sta << 4 | (b[3] & 0x0F));
        for (int i = 4; garble && i < 80; ++i) {
            v = v * 1103515245u + 12345u;
            b[i] = static_cast<uint8_t>(v >> 16);
        }
    }
}

// The damage a test tape is given: three recordings of ffmpeg's clip one after
// the other (each starts the recording time again: three scenes of 30 frames).
struct DamagedTape {
    std::vector<Frame> frames;
    DamagedTape() {
        std::string why;
        const qvtest::DvClip* clip = qvtest::RealDvClip(qvtest::kPal, &why);
        if (clip == nullptr) {
            ADD_FAILURE() << why;
            return;
        }
        for (int copy = 0; copy < 3; ++copy) {
            for (int i = 0; i < 30; ++i) {
                frames.push_back(clip->frames[static_cast<size_t>(i)]);
            }
        }
        Conceal(frames[33], 0, 15, 0x7, false);  // 15 blocks: error code in the block
        for (int d = 0; d < 10; ++d) {           // 10 samples of sequence 0, block 0
            frames[34][AudioBlock(0, 0) + 8 + 2 * d] = 0x80;
            frames[34][AudioBlock(0, 0) + 9 + 2 * d] = 0x00;
        }
        for (int f = 40; f < 43; ++f) {  // a run of three: 20 + 135 blocks each
            Conceal(frames[static_cast<size_t>(f)], 1, 20, 0xF, true);
            Conceal(frames[static_cast<size_t>(f)], 5, 135, 0x2, false);
        }
        std::fill(frames[70].begin(), frames[70].end(), uint8_t{0});  // a dropout
        frames[75] = frames[74];                                       // a repeat
    }
};

class TapeHealth : public testing::Test {
  protected:
    std::string WriteAvi(const std::vector<Frame>& video, const std::string& name) {
        const std::string path = dir.Path(name);
        const qvtest::FixtureOptions options = qvtest::OptionsOf(
            qvtest::DvType::Type1, qvtest::Generation::Avi1, 0, true, true);
        auto frames = qvtest::MakePatternFrames(options, static_cast<int>(video.size()), 0);
        for (size_t i = 0; i < video.size(); ++i) {
            frames[i].video = video[i];
        }
        EXPECT_TRUE(qvtest::WriteFixtureAvi(path, options, frames));
        return path;
    }

    void Scan(const std::string& path, qv::ThoroughSplits splits = {}) {
        scenes.Clear();
        int64_t done = 0;
        EXPECT_EQ(qv::ScanFileThoroughly(context, splits, path, done), 0);
    }

    qvtest::ScopedFrameRate rate{qv::framesPerSecond};
    qvtest::ScopedTimeZone zone{"UTC"};
    qvtest::TempDir dir;
    std::unique_ptr<qv::AviReader> reader;
    qv::SceneList scenes;
    qvtest::FakeQuestions questions;
    qvtest::ProgressLog log;
    qvtest::RecordingProgress progress{log};
    qv::DatestampScanContext context{
        .sourceReader = reader, .scenes = scenes, .questions = questions, .progress = progress,
        .skipNoDatestamp = false, .lastPreviewTick = nullptr, .onProbe = {}};
};

// A scene's damage: damaged frames, concealed blocks, audio errors, repeated,
// empty, the longest run and its first frame.
using Totals = std::vector<int>;
Totals TotalsOf(const qv::SceneHealth& h) {
    return {h.damagedFrames, h.concealedBlocks, h.audioErrors, h.repeatedFrames,
            h.emptyFrames,   h.longestRun,      h.longestRunFirst};
}

TEST_F(TapeHealth, CountsEveryDamagedFrameOfEachScene) {
    const DamagedTape tape;
    for (const std::string& path :
         {WriteAvi(tape.frames, "damaged.avi"), dir.Path("damaged.dv")}) {
        SCOPED_TRACE(path);
        if (path.ends_with(".dv")) {
            Frame bytes;
            for (const Frame& f : tape.frames) {
                bytes.insert(bytes.end(), f.begin(), f.end());
            }
            ASSERT_TRUE(qvtest::WriteFileBytes(path, bytes));
        }
        // The empty frame has no recording time: a scene of its own. The repeat's
        // timecode does not run on; timecode breaks are left out here.
        Scan(path, {true, false, true});
        ASSERT_EQ(scenes.Count(), 5);
        EXPECT_EQ(scenes[4].firstFrame, 71);
        EXPECT_TRUE(scenes[0].health.counted);
        EXPECT_EQ(TotalsOf(scenes[0].health), (Totals{0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(TotalsOf(scenes[1].health), (Totals{5, 15 + 3 * 155, 10, 0, 0, 3, 40}));
        EXPECT_EQ(TotalsOf(scenes[2].health), (Totals{0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(TotalsOf(scenes[3].health), (Totals{1, 0, 0, 0, 1, 1, 70}));
        EXPECT_EQ(TotalsOf(scenes[4].health), (Totals{1, 0, 0, 1, 0, 1, 75}));
        std::vector<std::vector<int>> frames;
        for (const qv::Scene& s : scenes) {
            for (const qv::FrameDamage& d : s.health.frames) {
                frames.push_back({d.frame, d.concealedBlocks, d.audioErrors, d.flags});
            }
        }
        EXPECT_EQ(frames, (std::vector<std::vector<int>>{{33, 15, 0, 4},
                                                         {34, 0, 10, 4},
                                                         {40, 155, 0, 4},
                                                         {41, 155, 0, 4},
                                                         {42, 155, 0, 4},
                                                         {70, 0, 0, 2},
                                                         {75, 0, 0, 1}}));
        EXPECT_FLOAT_EQ(scenes[1].health.frames[2].LostShare(), 155.0f / 1620.0f);
        EXPECT_FLOAT_EQ(scenes[3].health.frames[0].LostShare(), 1.0f);
    }
}

// A frame that lost its last DIF sequence: the blocks cut off count as concealed.
// (Error codes of every place and sound format are counted by the tests below.)
TEST_F(TapeHealth, CutFramesCount) {
    std::string why;
    const qvtest::DvClip* clip = qvtest::RealDvClip(qvtest::kPal, &why);
    ASSERT_NE(clip, nullptr) << why;
    std::vector<Frame> video(clip->frames.begin(), clip->frames.begin() + 4);
    video[3].resize(144000 - 12000);
    Scan(WriteAvi(video, "cut.avi"), {true, true, false});
    ASSERT_EQ(scenes.Count(), 1);
    const auto& frames = scenes[0].health.frames;
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].frame, 3);
    EXPECT_EQ(frames[0].concealedBlocks, 135);
}

// Damage of every kind in random frames, among them runs of frames that lost their
// sound pack (counted with the format of the last frame that named one) and frames
// that name another format: whatever way the scan shares out its reading, each
// frame's count is that of counting the frames one after the other in file order.
TEST_F(TapeHealth, EachFrameCountsAsInOnePassInFileOrder) {
    std::string why;
    const qvtest::DvClip* clip = qvtest::RealDvClip(qvtest::kPal, &why);
    ASSERT_NE(clip, nullptr) << why;
    const auto eachAudioBlock = [](Frame& frame, auto&& action) {
        for (int s = 0; s < 12; ++s) {
            for (int j = 0; j < 9; ++j) {
                action(frame.data() + AudioBlock(s, j));
            }
        }
    };
    for (const uint32_t seed : {7u, 8u}) {
        std::mt19937 random(seed);
        std::vector<Frame> video;
        for (size_t i = 0; i < 260; ++i) {
            video.push_back(clip->frames[i % clip->frames.size()]);
        }
        for (size_t f = 1; f < video.size(); ++f) {
            Frame& frame = video[f];
            const uint32_t kind = random() % 10;
            if (kind == 0) {
                Conceal(frame, static_cast<int>(random() % 12), 1 + static_cast<int>(random() % 135),
                        0xF, false);
            } else if (kind <= 3) {
                // The sound pack lost here and in up to three frames after, error codes in them.
                const size_t run = std::min<size_t>(1 + random() % 4, video.size() - f);
                for (size_t r = 0; r < run; ++r) {
                    eachAudioBlock(video[f + r], [&](uint8_t* b) {
                        if (b[3] == 0x50) {
                            std::fill(b + 3, b + 8, uint8_t{0xFF});
                        }
                        if (random() % 4 == 0) {
                            b[8 + 2 * (random() % 30)] = 0x80;
                        }
                    });
                }
            } else if (kind == 4) {
                frame = video[f - 1];  // a repeat
            } else if (kind == 5) {
                eachAudioBlock(frame, [](uint8_t* b) {
                    if (b[3] == 0x50) {
                        b[7] = static_cast<uint8_t>((b[7] & 0xC0) | 2 << 3 | 1);  // 12-bit
                    }
                });
            }
        }
        qv::FrameDamageCounter counter;
        std::vector<qv::FrameDamage> expected;
        for (size_t f = 0; f < video.size(); ++f) {
            const qv::FrameDamage d =
                counter.Count(static_cast<int32_t>(f), video[f].data(), video[f].size(),
                              f > 0 ? video[f - 1].data() : nullptr, f > 0 ? video[f - 1].size() : 0);
            if (qv::IsDamaged(d)) {
                expected.push_back(d);
            }
        }
        ASSERT_GT(expected.size(), video.size() / 3);
        const std::string avi = WriteAvi(video, "random" + std::to_string(seed) + ".avi");
        const std::string raw = dir.Path("random" + std::to_string(seed) + ".dv");
        Frame bytes;
        for (const Frame& f : video) {
            bytes.insert(bytes.end(), f.begin(), f.end());
        }
        ASSERT_TRUE(qvtest::WriteFileBytes(raw, bytes));
        for (const std::string& path : {avi, raw}) {
            SCOPED_TRACE(path);
            Scan(path, {false, false, false});
            std::vector<qv::FrameDamage> found;
            for (const qv::Scene& scene : scenes) {
                found.insert(found.end(), scene.health.frames.begin(), scene.health.frames.end());
            }
            ASSERT_EQ(found.size(), expected.size());
            for (size_t i = 0; i < found.size(); ++i) {
                SCOPED_TRACE("frame " + std::to_string(expected[i].frame));
                EXPECT_EQ(found[i].frame, expected[i].frame);
                EXPECT_EQ(found[i].concealedBlocks, expected[i].concealedBlocks);
                EXPECT_EQ(found[i].audioErrors, expected[i].audioErrors);
                EXPECT_EQ(found[i].flags, expected[i].flags);
            }
        }
    }
}

// The sound format of every field value of the AAUX source pack, as IEC 61834-4
// gives it, for both systems; and the places the pack is looked for: the first audio
// block of odd DIF sequences and the fourth of even ones, in the first ten sequences.
TEST(DifAudioFormatOfPack, EveryFieldAndEveryPlace) {
    for (const bool pal : {true, false}) {
        SCOPED_TRACE(pal ? "625/50" : "525/60");
        const size_t size = pal ? 144000 : 120000;
        const int rates[3] = {48000, 44100, 32000};
        const int fewest[3] = {pal ? 1896 : 1580, pal ? 1742 : 1452, pal ? 1264 : 1053};
        const auto packAt = [](int sequence, int block) {
            return AudioBlock(sequence, block) + 3;
        };
        for (int c = 0; c < (pal ? 12 : 10); ++c) {
            for (const int block : {0, 3}) {
                Frame frame(size, 0xFF);
                const size_t at = packAt(c, block);
                const uint8_t pack[5] = {0x50, 0xC5, 0x30, 0xC0, 0xC0};  // 48 kHz 16-bit, 5 more
                std::copy_n(pack, 5, frame.begin() + static_cast<std::ptrdiff_t>(at));
                qv::DifAudioFormat f;
                const bool found = qv::DifAudioFormatOf(frame.data(), size, pal, &f);
                EXPECT_EQ(found, c < 10 && block == (c % 2 != 0 ? 0 : 3)) << c << " " << block;
                if (found) {
                    EXPECT_EQ(f.samples, fewest[0] + 5);
                }
                // Cut off before the pack's end: not there.
                EXPECT_FALSE(qv::DifAudioFormatOf(frame.data(), at + 4, pal, &f));
            }
        }
        for (int stype = 0; stype < 32; ++stype) {
            for (int smp = 0; smp < 8; ++smp) {
                for (int qu = 0; qu < 8; ++qu) {
                    for (const int more : {0, 63}) {
                        Frame frame(size, 0xFF);
                        const uint8_t pack[5] = {0x50, static_cast<uint8_t>(0xC0 | more), 0x30,
                                                 static_cast<uint8_t>(0xE0 | stype),
                                                 static_cast<uint8_t>(0xC0 | smp << 3 | qu)};
                        std::copy_n(pack, 5, frame.begin() + static_cast<std::ptrdiff_t>(packAt(1, 0)));
                        qv::DifAudioFormat f;
                        const bool valid = smp <= 2 && qu <= 1 && (stype == 0 || stype == 2 || stype == 3);
                        ASSERT_EQ(qv::DifAudioFormatOf(frame.data(), size, pal, &f), valid)
                            << stype << " " << smp << " " << qu;
                        if (!valid) {
                            continue;
                        }
                        EXPECT_EQ(f.sampleRate, rates[smp]);
                        EXPECT_EQ(f.twelveBit, qu == 1);
                        // Two channels, or four: 12-bit 32 kHz sound has room for a second pair.
                        EXPECT_EQ(f.pairs, stype != 0 || (qu == 1 && smp == 2) ? 2 : 1);
                        EXPECT_EQ(f.samples, fewest[smp] + more);
                    }
                }
            }
        }
    }
}

// Every sample place of every audio block, one at a time, in both systems: each
// error code planted counts once when it lies in the sound and not at all in a
// block's padding (the decoder, which hears it as silence, tells which), so the
// places together count both channels of each pair of the frame's samples; the same
// bytes one byte off (no sample of their own) count nothing. 16-bit 48 kHz as ffmpeg
// writes it, then 12-bit 32 kHz as a camcorder's second sound track.
TEST(TapeHealthCount, EveryErrorCodePlaceCountsOnceAndNoOtherBytes) {
    for (const qvtest::TvSystem* sys : {&qvtest::kPal, &qvtest::kNtsc}) {
        std::string why;
        const qvtest::DvClip* clip = qvtest::RealDvClip(*sys, &why);
        ASSERT_NE(clip, nullptr) << why;
        const bool pal = sys == &qvtest::kPal;
        const int sequences = pal ? 12 : 10;
        for (const bool twelveBit : {false, true}) {
            SCOPED_TRACE(std::string(sys->name) + (twelveBit ? ", 12-bit" : ", 16-bit"));
            Frame frame = clip->frames[0];
            for (int s = 0; s < sequences; ++s) {
                for (int j = 0; j < 9; ++j) {
                    uint8_t* b = frame.data() + AudioBlock(s, j);
                    if (twelveBit && b[3] == 0x50) {
                        b[7] = static_cast<uint8_t>((b[7] & 0xC0) | 2 << 3 | 1);  // SMP 2, QU 1
                    }
                    // Quiet sound: no byte 0x80 anywhere but where it is planted.
                    std::fill(b + 8, b + 80, uint8_t{0x11});
                }
            }
            qv::DifAudioFormat format;
            ASSERT_TRUE(qv::DifAudioFormatOf(frame.data(), frame.size(), pal, &format));
            ASSERT_EQ(format.twelveBit, twelveBit);
            // The decoder hears an error code as silence: the samples it changes are
            // the places of the sound, found without the counter's own reckoning.
            std::vector<uint8_t> clean[2];
            qv::DifAudioFormat decoded;
            ASSERT_TRUE(qv::DecodeDifAudio(frame.data(), frame.size(), pal, &decoded, clean));
            const auto silenced = [&](const Frame& damaged) {
                std::vector<uint8_t> pcm[2];
                EXPECT_TRUE(qv::DecodeDifAudio(damaged.data(), damaged.size(), pal, &decoded, pcm));
                int changed = 0;
                for (int pair = 0; pair < 2; ++pair) {
                    for (size_t i = 0; i + 1 < pcm[pair].size(); i += 2) {
                        changed += pcm[pair][i] != clean[pair][i] || pcm[pair][i + 1] != clean[pair][i + 1];
                    }
                }
                return changed;
            };
            const int step = twelveBit ? 3 : 2;
            int planted = 0;
            int counted = 0;
            for (int s = 0; s < sequences; ++s) {
                for (int j = 0; j < 9; ++j) {
                    for (int d = 8; d + step <= 80; d += step) {
                        for (int channel = 0; channel < (twelveBit ? 2 : 1); ++channel) {
                            Frame damaged = frame;
                            uint8_t* p = damaged.data() + AudioBlock(s, j) + d;
                            if (twelveBit) {
                                p[channel] = 0x80;
                                p[2] = channel == 0 ? 0x01 : 0x10;  // the other nibble not 0
                            } else {
                                p[0] = 0x80, p[1] = 0x00;
                            }
                            const int n = qv::CountDifAudioErrors(damaged.data(), damaged.size(),
                                                                  pal, format);
                            ASSERT_EQ(n, silenced(damaged)) << s << " " << j << " " << d;
                            counted += n;
                            ++planted;
                            // Off by one byte: 0x80 0x00 across two samples is no error code.
                            damaged = frame;
                            p = damaged.data() + AudioBlock(s, j) + d + 1;
                            if (!twelveBit && d + 3 <= 80) {
                                p[0] = 0x80, p[1] = 0x00;
                                EXPECT_EQ(qv::CountDifAudioErrors(damaged.data(), damaged.size(),
                                                                  pal, format),
                                          0)
                                    << s << " " << j << " " << d;
                            }
                        }
                    }
                }
            }
            // Two channels of each stereo pair (12-bit 32 kHz sound has two).
            EXPECT_EQ(counted, 2 * format.pairs * format.samples);
            EXPECT_GT(planted, counted);  // the blocks' padding
        }
    }
}

// ffmpeg reports the blocks it could not decode ("AC EOB marker is absent"): in the
// frames whose blocks were garbled, and in no clean frame. The status field alone,
// the audio error code and empty or repeated frames it does not report.
TEST_F(TapeHealth, AgreesWithFfmpegWhereItReportsErrors) {
    const DamagedTape tape;
    for (int f : {0, 33, 34, 40, 75}) {
        SCOPED_TRACE(f);
        const std::string path = dir.Path("frame" + std::to_string(f) + ".dv");
        ASSERT_TRUE(qvtest::WriteFileBytes(path, tape.frames[static_cast<size_t>(f)]));
        const qvtest::ShellResult r =
            qvtest::RunShell("ffmpeg -nostdin -v debug -i " + qvtest::Quote(path) +
                             " -f null - 2>&1 | grep -c 'AC EOB marker is absent'");
        EXPECT_EQ(std::stoi(r.output) > 0, f == 40) << r.output;
    }
}

TEST_F(TapeHealth, SplittingADamagedTapeWritesItsBytesUnchanged) {
    const DamagedTape tape;
    const std::string path = WriteAvi(tape.frames, "damaged.avi");
    const qvtest::CliResult r = qvtest::RunCli(
        dir, "split --thorough --yes " + qvtest::Quote(path) + " --output " +
                 qvtest::Quote(dir.Path("out.avi")));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<Frame> written;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path(""))) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("out.avi'") || name.starts_with("out'")) {
            const qvtest::FileContent c = qvtest::ReadContent(entry.path().string());
            written.insert(written.end(), c.video.begin(), c.video.end());
        }
    }
    std::sort(written.begin(), written.end());
    std::vector<Frame> source = tape.frames;
    std::sort(source.begin(), source.end());
    EXPECT_EQ(written.size(), 90u);
    EXPECT_TRUE(written == source);
}

TEST_F(TapeHealth, ScanJsonAndListTellTheDamage) {
    const DamagedTape tape;
    const std::string path = WriteAvi(tape.frames, "damaged.avi");
    const qvtest::CliResult json = qvtest::RunCli(dir, "scan --thorough --json " + qvtest::Quote(path));
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const auto found = nlohmann::json::parse(json.out);
    ASSERT_GE(found.size(), 2u);
    EXPECT_EQ(found[0]["health"]["damagedFrames"], 0);
    EXPECT_EQ(found[1]["health"],
              nlohmann::json::parse(R"({"damagedFrames": 5, "concealedBlocks": 480,
                  "audioErrors": 10, "repeatedFrames": 0, "emptyFrames": 0, "longestRun": 3,
                  "longestRunFirstFrame": 40, "longestRunTime": "00:01:15"})"));
    const qvtest::CliResult plain = qvtest::RunCli(dir, "scan --json " + qvtest::Quote(path));
    EXPECT_EQ(plain.out.find("health"), std::string::npos);  // the default scan reads too little

    const qvtest::CliResult list = qvtest::RunCli(
        dir, "list --thorough " + qvtest::Quote(path) + " -o " + qvtest::Quote(dir.Path("l.txt")));
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("scene 2 (" + path +
                            " at 00:01:05): 5 damaged frames: 480 concealed blocks, 10 audio "
                            "errors; longest run 3 frames at 00:01:15\n"),
              std::string::npos)
        << list.out;
    EXPECT_EQ(list.out.find("scene 1 "), std::string::npos);
}

}  // namespace
