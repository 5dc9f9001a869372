// Writes seed inputs for the fuzz targets into <folder>/<target>/: small AVI
// files of every shape the test fixture writer makes (whole, cut short, with
// "REF " chunks), settings files, timecodes and packed pictures.
//   qv_fuzz_seeds FOLDER

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "dv/PackedDib.h"
#include "fuzz/FuzzTargets.h"
#include "support/AviFixture.h"

namespace {

using qvtest::DvType;
using qvtest::FixtureOptions;
using qvtest::Generation;

std::filesystem::path root;

void Put(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    const auto dir = root / target;
    std::filesystem::create_directories(dir);
    if (!qvtest::WriteFileBytes((dir / name).string(), bytes)) {
        std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
        std::exit(1);
    }
}

void PutText(const std::string& target, const std::string& name, const std::string& text) {
    Put(target, name, std::vector<uint8_t>(text.begin(), text.end()));
}

// DV frames cut to their first 600 bytes: the datestamp lies in the first 512.
std::vector<qvtest::FixtureFrame> ShortDvFrames(const FixtureOptions& o, int count) {
    auto frames = qvtest::MakeFrames(o, count, qvtest::DvTime{});
    for (auto& f : frames) {
        f.video.resize(600);
        if (f.audio.size() > 64) {
            f.audio.resize(64);
        }
    }
    return frames;
}

void AviSeeds() {
    const struct {
        const char* name;
        DvType type;
        Generation generation;
    } kinds[] = {
        {"type1-avi1", DvType::Type1, Generation::Avi1},
        {"type1-odml", DvType::Type1, Generation::OpenDml},
        {"type1-compat", DvType::Type1, Generation::OpenDmlCompat},
        {"type2-avi1", DvType::Type2, Generation::Avi1},
        {"type2-odml", DvType::Type2, Generation::OpenDml},
        {"type2-compat", DvType::Type2, Generation::OpenDmlCompat},
    };
    for (const auto& k : kinds) {
        FixtureOptions o;
        o.type = k.type;
        o.generation = k.generation;
        const std::string name = k.name;
        // Pattern frames of a few hundred bytes: the reader and the copier never
        // look inside them.
        const auto pattern = qvtest::BuildFixtureAvi(o, qvtest::MakePatternFrames(o, 4, 300));
        const auto dv = qvtest::BuildFixtureAvi(o, ShortDvFrames(o, 3));
        for (const char* target : {"avi_reader", "clip_copier", "datestamp"}) {
            Put(target, name + ".avi", pattern);
            Put(target, name + "-dv.avi", dv);
            // An unfinished capture: cut inside its data, with no index at the end.
            Put(target, name + "-cut.avi",
                std::vector<uint8_t>(pattern.begin(), pattern.begin() + pattern.size() * 2 / 3));
        }
        if (k.generation != Generation::Avi1) {
            FixtureOptions s = o;
            s.framesPerSegment = 2;
            const auto segments = qvtest::BuildFixtureAvi(s, qvtest::MakePatternFrames(s, 5, 200));
            Put("avi_reader", name + "-segments.avi", segments);
            Put("clip_copier", name + "-segments.avi", segments);
            s.framesPerSegment = 0;
            s.emptySuperIndex = true;
            Put("avi_reader", name + "-empty-indx.avi",
                qvtest::BuildFixtureAvi(s, qvtest::MakePatternFrames(s, 3, 200)));
        }
    }
    // Absolute "idx1" offsets, odd chunk sizes, zero-length frames, a name chunk,
    // and a third stream.
    FixtureOptions o;
    o.relativeIdx1 = false;
    o.withStrn = true;
    auto frames = qvtest::MakePatternFrames(o, 4, 301);
    frames[2].video.clear();
    frames[1].audio.clear();
    qvtest::ExtraStream extra;
    extra.chunks = {{1, 2, 3, 4}, {5, 6, 7, 8}};
    o.extraStreams = {extra};
    const auto odd = qvtest::BuildFixtureAvi(o, frames);
    Put("avi_reader", "odd.avi", odd);
    Put("clip_copier", "odd.avi", odd);
    FixtureOptions ntsc;
    ntsc.pal = false;
    ntsc.audioSampleSize = 0;
    Put("avi_reader", "ntsc-samples.avi",
        qvtest::BuildFixtureAvi(ntsc, qvtest::MakePatternFrames(ntsc, 3, 250)));
}

// Frames that are "REF " chunks into the data file "r", which follows the marker.
void RefSeeds() {
    FixtureOptions data;
    data.type = DvType::Type1;
    const auto dataFile = qvtest::BuildFixtureAvi(data, ShortDvFrames(data, 3));
    const size_t movi = qvtest::FindFourCC(dataFile, "movi");
    std::vector<qvtest::FixtureFrame> refs;
    for (int i = 0; i < 3; ++i) {
        const size_t header = qvtest::FindFourCC(dataFile, "00__", movi, i);
        refs.push_back({qvtest::MakeRefChunk(static_cast<uint32_t>(header), "r"), {}});
    }
    refs.push_back({qvtest::MakeRefChunk(0, "missing"), {}});
    for (const auto type : {DvType::Type1, DvType::Type2}) {
        FixtureOptions o;
        o.type = type;
        auto input = qvtest::BuildFixtureAvi(o, refs);
        input.insert(input.end(), qvfuzz::kRefDataMarker.begin(), qvfuzz::kRefDataMarker.end());
        input.insert(input.end(), dataFile.begin(), dataFile.end());
        Put("datestamp", type == DvType::Type1 ? "ref-type1.avi" : "ref-type2.avi", input);
    }
}

void SettingsSeeds() {
    const std::string head =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel]\r\n";
    PutText("settings", "empty.reg", head);
    PutText("settings", "main.reg",
            head + "\"output\"=\"/home/u/scenes.avi\"\r\n\"ran\"=dword:00000002\r\n"
                   "\"InputFile0\"=\"/tapes/a \\\"b\\\" \\\\c.avi\"\r\n\"Quality\"=\"3\"\r\n");
    PutText("settings", "cliplist.reg",
            head + "\"ran\"=dword:00000001\r\n\r\n"
                   "[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel\\ClipList]\r\n"
                   "\"ShowFnames\"=\"1\"\r\n\"PicsPerLine\"=\"6\"\r\n\"Headline\"=\"Tape 3\"\r\n"
                   "\"FontSize\"=\"127\"\r\n\"TimecodeOffsett\"=\"-25\"\r\n");
    PutText("settings", "other-keys.reg",
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n"
            "\"a\"=hex:01,02\n@=\"default\"\n[-HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\"
            "Quorvandel]\n[HKEY_CURRENT_USER\\SOFTWARE\\Quorvandel\\Quorvandel]\n"
            "\"x\"=-\n\"y\"=dword:ffffffff\n; comment\n");
}

void TimecodeSeeds() {
    const float rates[] = {25.0f, 30000.0f / 1001.0f, 0.4f};
    const char* texts[] = {"00:10:00", "1:00:00:00", "-1:02", " 1: 2:3", "23860:55:45:22", "7"};
    int n = 0;
    for (float rate : rates) {
        for (const char* text : texts) {
            std::vector<uint8_t> bytes(sizeof rate);
            std::memcpy(bytes.data(), &rate, sizeof rate);
            bytes.insert(bytes.end(), text, text + std::strlen(text));
            Put("timecode", "tc" + std::to_string(n++), bytes);
        }
    }
}

void BitmapSeeds() {
    auto put = [](const std::string& name, uint8_t flags, int16_t v, int16_t h,
                  const std::vector<uint8_t>& block) {
        std::vector<uint8_t> bytes = {flags, static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                                      static_cast<uint8_t>(h), static_cast<uint8_t>(h >> 8)};
        bytes.insert(bytes.end(), block.begin(), block.end());
        Put("bitmap", name, bytes);
    };
    auto dib = qv::PackedDib::Make24(8, 6);
    std::vector<uint8_t> block = dib.Block();
    for (size_t i = qv::PackedDib::kInfoHeaderSize; i < block.size(); ++i) {
        block[i] = static_cast<uint8_t>(i * 7);
    }
    put("24bit-8x6", 1, 1, 2, block);
    put("24bit-7x5", 0, 2, 1, qv::PackedDib::Make24(7, 5).Block());
    // 8 bits with a colour table of four entries.
    auto eight = qv::PackedDib::Make24(5, 4).Block();
    eight[14] = 8;       // biBitCount
    eight[32] = 4;       // biClrUsed
    eight.resize(40 + 16 + 8 * 4);
    put("8bit-5x4", 1, 1, 1, eight);
    // A 12-byte core header.
    std::vector<uint8_t> core = {12, 0, 0, 0, 4, 0, 3, 0, 1, 0, 24, 0};
    core.resize(12 + 12 * 3);
    put("core-4x3", 0, 0, 0, core);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    root = argv[1];
    AviSeeds();
    RefSeeds();
    SettingsSeeds();
    TimecodeSeeds();
    BitmapSeeds();
    return 0;
}
