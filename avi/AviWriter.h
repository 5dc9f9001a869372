#pragma once
// Writing a new AVI file with the streams, formats and generation of an open
// source file, chunk by chunk. The file is written under a temporary name beside
// its destination and takes the destination's name only when Finish succeeds.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qv {

class File;

enum class ChunkCopy { Done, ReadFailed, WriteFailed };

// One chunk of a run handed to CopyRun: what WriteChunk would be given for it.
struct RunChunk {
    int stream = 0;
    int64_t size = 0;
    int units = 0;
};

// Segments end 1 MiB under 2 GiB.
constexpr uint32_t kSegmentLimit = 0x7FF00000;

struct WriterOptions {
    uint32_t segmentLimit = kSegmentLimit;  // lower only in tests
    // Write the OpenDML parts even for an AVI 1.0 source: its "idx1" covers only
    // the first segment, so data that will not fit one segment needs them.
    bool forceOpenDml = false;
    // The first source frame the copy is given: a copy whose format is taken from the
    // frames themselves (the sound of raw DV) takes it from this one.
    int firstFrame = 0;
    // Where the header of the first chunk the copy is given lies in its source (-1:
    // unknown): the padding before the output's data then puts that chunk at the same
    // place within a page, so that the system copies whole pages.
    int64_t firstChunkSource = -1;
};

class AviWriter {
public:
    // Destroying a writer that was not finished removes its temporary file.
    virtual ~AviWriter() = default;

    // Appends size bytes holding units units (1 for a frame, sample frames for
    // audio) to stream. False when the data could not be written or indexed.
    virtual bool WriteChunk(int stream, const void* data, int64_t size, int units) = 0;
    // The same for size bytes of source at position, copied without passing through
    // this process where the system allows. ReadFailed when source did not hold them.
    virtual ChunkCopy CopyChunk(int stream, File& source, int64_t position, int64_t size,
                                int units) = 0;
    // Copies the leading chunks of a run that lie in source one after another from
    // position (each with its 8-byte header and no pad byte) exactly as this writer
    // would write them one by one, as one copy of their bytes, and indexes them as
    // WriteChunk would. Only whole groups of perGroup chunks (the parts of a frame)
    // are taken; *taken says how many chunks, 0 when the run must be written chunk by
    // chunk. ReadFailed leaves the file as it was before the call.
    virtual ChunkCopy CopyRun(File& source, int64_t position, const RunChunk* chunks,
                              size_t count, size_t perGroup, size_t* taken) {
        (void)source;
        (void)position;
        (void)chunks;
        (void)count;
        (void)perGroup;
        *taken = 0;
        return ChunkCopy::Done;
    }
    // Starts putting what was written so far on the disk, without waiting for it:
    // the next batch of reads then does not compete with a backlog of writes.
    virtual bool FlushBuffers() { return true; }
    // Completes every size, count and index, sets the modification time (seconds
    // since 1970; 0 leaves it), flushes the file to disk and gives it its final
    // name, replacing any file there. False (and no file left) when any of it failed,
    // but for a failed flush of the folder after the rename: the file stays then.
    virtual bool Finish(int64_t modificationTime) = 0;
    // The name written to until Finish.
    virtual std::string TemporaryName() const = 0;
    // The system's error of the write, flush or rename that failed, or 0.
    virtual int LastError() const { return 0; }
    // Why a chunk the system did not fail was refused: what the output's kind cannot
    // hold (a phrase); empty when there is no such reason.
    virtual std::string Refusal() const { return {}; }
    // The system's error when Finish could not set the modification time, or 0. The
    // file is complete and under its final name all the same.
    virtual int TimeError() const { return 0; }
};

// The temporary name a writer for destinationName writes to.
std::string TemporaryNameFor(const std::string& destinationName);

}  // namespace qv
