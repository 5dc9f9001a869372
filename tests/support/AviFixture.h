#pragma once
// Test data made by the tests: synthetic DV frames with chosen recording
// date/time packs, and DV AVI files of every shape the reader meets, written here
// byte by byte without any of the program's own AVI code.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qvtest {

// A recording date and time as the camcorder writes it (local wall-clock time).
struct DvTime {
    int year = 2004;  // four digits; stored as two BCD digits
    int month = 7;
    int day = 14;
    int hour = 10;
    int minute = 20;
    int second = 30;
};

constexpr int kNtscFrameSize = 120000;
constexpr int kPalFrameSize = 144000;

// A DV frame of 144000 (pal) or 120000 bytes whose bytes are a pattern made from
// seed, with the recording date pack (0x62) at byte 458 and the recording time
// pack (0x63) at byte 463; without a time both packs hold 0xFF.
std::vector<uint8_t> MakeDvFrame(bool pal, std::optional<DvTime> time, uint32_t seed);
// Writes the two packs into an existing frame (at least 468 bytes).
void SetDvTime(std::vector<uint8_t>& frame, std::optional<DvTime> time);

// A "REF " chunk: "REF ", the 32-bit position of the frame's chunk header in the
// data file, 8 zero bytes, the zero-terminated name.
std::vector<uint8_t> MakeRefChunk(uint32_t position, const std::string& name);

enum class DvType { Type1, Type2 };            // "iavs" / "vids"+"auds"
enum class Generation { Avi1, OpenDml, OpenDmlCompat };  // compat: OpenDML with "idx1" too

struct FixtureFrame {
    std::vector<uint8_t> video;  // the frame chunk's data as stored (any size, odd too)
    std::vector<uint8_t> audio;  // type-2 only: the audio chunk after it; empty = none
};

struct FixtureOptions {
    DvType type = DvType::Type2;
    Generation generation = Generation::Avi1;
    bool pal = true;                 // 25 fps (dwScale 1, dwRate 25) or 30000/1001
    bool relativeIdx1 = true;        // "idx1" offsets from "movi" or absolute
    int framesPerSegment = 0;        // OpenDML: frames per RIFF segment; 0 = all in the first
    bool withStrn = false;           // a "strn" chunk after each "strh"
    uint32_t audioSampleSize = 4;    // strh dwSampleSize of the audio stream
    uint32_t audioRate = 48000;      // nSamplesPerSec
    uint16_t audioChannels = 2;
    uint16_t audioBits = 16;
};

// Writes a DV AVI file; false when it cannot be written.
bool WriteFixtureAvi(const std::string& path, const FixtureOptions& options,
                     const std::vector<FixtureFrame>& frames);

// count frames of the given size, each with seed = its index and the time
// start + index / fps whole seconds; type-2 frames get 48 kHz stereo audio of
// trunc((i+1)*s) - trunc(i*s) sample frames (s = 48000 / fps) whose bytes are a
// pattern of the sample number.
std::vector<FixtureFrame> MakeFrames(const FixtureOptions& options, int count,
                                     std::optional<DvTime> start);

// A folder of its own under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    const std::filesystem::path& Dir() const { return dir_; }

private:
    std::filesystem::path dir_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace qvtest
