#pragma once
// The recording date and time that a DV camcorder stores in every frame, and the
// "REF " chunks through which a frame may live in another data file.

#include <cstdint>
#include <string>

#include "platform/File.h"

namespace qv {

class AviStream;
class Questions;

// Seconds since 1970-01-01 00:00 UTC, made from the recorded local time.
// 0 = no datestamp; -1 = a time the platform cannot represent.
using Datestamp = int32_t;

// The one data file that "REF " chunks point into, kept open between frames.
// Each user of "REF " chunks keeps a cache of its own.
struct RefFileCache {
    std::string name;  // as it stood in the last "REF " chunk followed
    File file;         // closed when none is open or the last open failed

    void Close() {
        file.Close();
        name.clear();
    }
    // Makes the cache hold the data file of that name: opened again only when the
    // name changes, so a file that failed to open is not tried again while it stays.
    // Whether the file is open.
    bool Follow(const std::string& fileName);
};

// A "REF " chunk: data of 1..511 bytes starting with "REF ".
constexpr int kRefChunkMaxSize = 511;

// Whether count bytes of chunk data (at most maxSize) are a "REF " chunk, complete or not.
bool IsRefChunk(const uint8_t* data, int count, int maxSize = kRefChunkMaxSize);

// The name of the data file in a "REF " chunk of count bytes (at most maxSize),
// or false when the chunk holds no complete, zero-terminated name.
bool ParseRefChunk(const uint8_t* data, int count, uint32_t* position, std::string* name,
                   int maxSize = kRefChunkMaxSize);

// The datestamp of one video frame. referencedFile (optional) receives the data
// file's name when the frame is a "REF " chunk whose file could be opened.
// A reference that cannot be opened is reported through questions at frame 0 only.
// readError (optional) receives the system's error when the frame could not be read
// (0 otherwise): such a frame has no datestamp to tell, not "no datestamp".
Datestamp ReadFrameDatestamp(AviStream& stream, int frame, RefFileCache& cache,
                             std::string* referencedFile, Questions* questions,
                             int* readError = nullptr);

// The datestamp in the 512 first bytes of a DV frame (DIF sequence 0).
Datestamp DecodeDatestamp(const uint8_t* frameStart);

// The last date and time bytes decoded and what they gave: a scan that reads every
// frame converts each second's local time once, not 25 or 30 times (the conversion
// asks the system for its time zone on every call). Good for one scan: a change of
// the time zone is not seen.
struct DatestampMemo {
    uint8_t bytes[6] = {};
    Datestamp value = 0;
    bool valid = false;
};
Datestamp DecodeDatestamp(const uint8_t* frameStart, DatestampMemo& memo);

}  // namespace qv
