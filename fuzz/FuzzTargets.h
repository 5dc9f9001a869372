#pragma once
// The fuzz targets' entry functions. Each takes one input of any bytes, runs the
// code under test on it and returns 0; a fault shows as a crash or a sanitizer
// report. The libFuzzer programs call them, and the ordinary test run replays
// the kept inputs through them.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qvfuzz {

// The AVI reader: open, describe, every unit of every stream, index lookups.
int FuzzAviReader(const uint8_t* data, size_t size);
// Datestamps of every frame. The input is an AVI file, optionally followed by
// kRefDataMarker and the bytes of the data file that its "REF " chunks may name
// as "r".
int FuzzDatestamp(const uint8_t* data, size_t size);
// The settings file: parsed, written and parsed again, and loaded and saved
// through the store.
int FuzzSettings(const uint8_t* data, size_t size);
// One scene of the input, as a source file, copied into a new file with a small
// buffer and low segment limit; the output is read back.
int FuzzClipCopier(const uint8_t* data, size_t size);
// The clip sheet options' timecode and integer fields: 4 bytes of frame rate
// (a float), then the text.
int FuzzTimecode(const uint8_t* data, size_t size);
// The still picture edits: 1 byte of flags, 2 x 2 bytes of crop margins, then
// the packed picture's block.
int FuzzBitmap(const uint8_t* data, size_t size);

inline constexpr std::string_view kRefDataMarker = "#QVREF#\n";

struct Target {
    const char* name;
    int (*entry)(const uint8_t*, size_t);
};
inline constexpr Target kTargets[] = {
    {"avi_reader", FuzzAviReader}, {"datestamp", FuzzDatestamp}, {"settings", FuzzSettings},
    {"clip_copier", FuzzClipCopier}, {"timecode", FuzzTimecode}, {"bitmap", FuzzBitmap},
};

}  // namespace qvfuzz
