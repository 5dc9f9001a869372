#pragma once
// Test data made by the tests: synthetic DV frames with chosen recording
// date/time packs, and DV AVI files of every shape the reader meets, written here
// byte by byte without any of the program's own AVI code.

#include <cstddef>
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

// A stream after the audio of a type-2 file.
struct ExtraStream {
    std::string type = "auds";  // fccType; anything else gets a 16-byte zero "strf"
    uint16_t formatTag = 1;     // "auds": wFormatTag (1 = PCM); channels and bits as stream 1
    uint32_t rate = 48000;      // "auds": nSamplesPerSec; others: dwRate (dwScale 1)
    // The stream's chunk after frame i's audio: chunks[i] (missing or empty = none).
    std::vector<std::vector<uint8_t>> chunks;
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
    bool emptySuperIndex = false;    // OpenDML: "indx" slots reserved but none in use, as an
                                     // interrupted capture leaves them
    int junkBytes = 0;               // a "JUNK" chunk of this size between "hdrl" and "movi"
    int videoFormatExtra = 0;        // zero bytes appended to stream 0's "strf" data, to move
                                     // everything after it (keep it even: no pad byte)
    std::vector<ExtraStream> extraStreams = {};  // type-2: streams 2, 3, ... (at most 8)
};

// The options of a file of the given shape; the rest as FixtureOptions has it.
FixtureOptions OptionsOf(DvType type, Generation generation, int framesPerSegment = 0,
                         bool relativeIdx1 = true, bool pal = true);
// A plain AVI 1.0 type-1 file, PAL or NTSC.
inline FixtureOptions Type1Options(bool pal = true) {
    return OptionsOf(DvType::Type1, Generation::Avi1, 0, true, pal);
}
// Small files: as OptionsOf, with 2 kHz audio (80 sample frames a 25 fps frame).
FixtureOptions SmallOptions(DvType type, Generation generation, int framesPerSegment = 0);

// Chunk ids: type-1 frames "00__"; type-2 video "00dc", audio "01wb", extra streams
// "02wb" ("auds") or "02tx" (any other type), "03..". Every frame gets a
// video chunk (an empty one too: "idx1" lists it with length 0, a standard index with
// size 0); a frame without audio gets no audio chunk. OpenDML standard indexes are the
// last chunks of their segment's "movi" and mark audio chunks as non-key frames
// (bit 31 of dwSize). With framesPerSegment > 0 the first RIFF holds that many frames
// and each "AVIX" segment the next as many; the compat "idx1" lists the first RIFF's only.

// Writes a DV AVI file; false when it cannot be written.
bool WriteFixtureAvi(const std::string& path, const FixtureOptions& options,
                     const std::vector<FixtureFrame>& frames);

// count frames of the given size, each with seed = its index and the time
// start + index / fps whole seconds; type-2 frames get 48 kHz stereo audio of
// trunc((i+1)*s) - trunc(i*s) sample frames (s = 48000 / fps) whose bytes are a
// pattern of the sample number (rate, channels and bits as the options give them).
std::vector<FixtureFrame> MakeFrames(const FixtureOptions& options, int count,
                                     std::optional<DvTime> start);

// Like MakeFrames, for tests where the DV content does not matter: video chunks of
// videoBytes pattern bytes (seed = index), audio as MakeFrames makes it.
std::vector<FixtureFrame> MakePatternFrames(const FixtureOptions& options, int count,
                                            int videoBytes);

// The audio bytes that MakeFrames writes for the sample frames [first, first + count).
std::vector<uint8_t> AudioPattern(const FixtureOptions& options, int64_t first, int64_t count);
// The first sample frame of video frame `frame` in the fixture's audio, one chunk a
// frame: trunc(frame * s), s = rate / fps.
int64_t FirstSampleOf(const FixtureOptions& options, int frame);
// Bytes per audio sample frame: channels x bits / 8.
int AudioBlockAlign(const FixtureOptions& options);

// The bytes WriteFixtureAvi writes.
std::vector<uint8_t> BuildFixtureAvi(const FixtureOptions& options,
                                     const std::vector<FixtureFrame>& frames);

// Writing RIFF chunks by hand: Begin... writes a chunk header with a placeholder size and
// returns a mark; End(mark) fills in the size and adds the pad byte after odd data.
class RiffBuilder {
public:
    size_t BeginChunk(const std::string& id);
    size_t BeginList(const std::string& id, const std::string& type);  // "RIFF" or "LIST"
    void End(size_t mark);
    // A whole chunk with the given data.
    void Chunk(const std::string& id, const std::vector<uint8_t>& data);

    void U8(uint8_t v) { bytes_.push_back(v); }
    void U16(uint16_t v);
    void U32(uint32_t v);
    void U64(uint64_t v);
    void Code(const std::string& fourcc);  // exactly four characters
    void Append(const std::vector<uint8_t>& data);
    void Zeros(size_t count) { bytes_.resize(bytes_.size() + count, 0); }

    size_t Position() const { return bytes_.size(); }
    std::vector<uint8_t>& Bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// Damaging written files.
constexpr size_t kNotFound = static_cast<size_t>(-1);
// Offset of the nth (from 0) occurrence of a four-character code at or after from.
size_t FindFourCC(const std::vector<uint8_t>& bytes, const std::string& code, size_t from = 0,
                  int nth = 0);
uint32_t GetLe32(const std::vector<uint8_t>& bytes, size_t offset);
void PutLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);
void PutLe64(std::vector<uint8_t>& bytes, size_t offset, uint64_t value);
// Overwrites bytes of an existing file in place; false when that fails.
bool PatchFile(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes);

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
std::string ReadFileText(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// The names in a folder, sorted.
std::vector<std::string> FolderEntries(const std::filesystem::path& dir);

}  // namespace qvtest
