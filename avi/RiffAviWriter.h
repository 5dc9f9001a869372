#pragma once
// The RIFF implementation of the AVI writer: one forward pass over the file with
// placeholder sizes, completed in place when the writer finishes.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviWriter.h"
#include "avi/Riff.h"
#include "platform/File.h"

namespace qv {

class RiffAviReader;
class RiffAviWriter;

// One RIFF chunk or list while it is being written: it knows where it starts and
// how many bytes it and its descendants hold, header included, so its size can be
// patched when it closes.
struct ChunkWriter {
    uint64_t start = 0;
    uint64_t bytes = 0;
    ChunkWriter* parent = nullptr;
};

// What a new AVI file is made of: its header chunks, whole with their chunk
// headers, as the writer copies them.
struct AviLayout {
    std::string sourceName;           // the file copied from: never written onto
    std::vector<uint8_t> mainHeader;  // "avih"
    std::vector<uint8_t> odmlHeader;  // "dmlh"; empty for AVI 1.0
    bool legacyIndex = false;         // an "idx1" is written (for the first segment)
    struct Stream {
        FourCC type = 0;
        FourCC chunkId = 0;
        std::vector<uint8_t> header;  // "strh"
        std::vector<uint8_t> format;  // the "strf" data
        // Audio is gathered into chunks of up to this many bytes; 0 keeps each chunk
        // as it is given.
        uint32_t audioChunkBytes = 0;
    };
    std::vector<Stream> streams;
};

class RiffAviWriteStream {
public:
    RiffAviWriteStream(RiffAviWriter& writer, int number);

    bool WriteData(const uint8_t* data, int64_t size, int units);
    ChunkCopy CopyData(File& source, int64_t position, int64_t size, int units);
    bool FlushAudio();
    bool FlushStandardIndex();
    // Indexes a chunk of size bytes that was copied to the end of the file as
    // WriteData would have written it.
    void TakeCopied(int64_t size, int units);
    // Puts the completed stream header and super index in place.
    void Complete();

private:
    friend class RiffAviWriter;

    bool WriteChunkData(const uint8_t* data, int64_t size, int units);
    // Indexes a chunk of size bytes about to be written at the end, fills its header
    // and counts it in its lists; false when the index has no room for it. A chunk
    // copied from sourceHeader (its header's place in the source; -1 for none) is
    // first brought to the source's place within a page, as the writer's
    // AlignWithSource does.
    bool StartChunk(int64_t size, int units, uint8_t (&header)[8], int64_t* total,
                    int64_t sourceHeader = -1);
    // Writes out a full standard index and starts the next; false when the super
    // index has no room for another.
    bool PrepareIndex();
    bool IndexChunk(int64_t size, int units);
    bool StartStandardIndex();

    RiffAviWriter& writer_;
    int number_;
    bool audio_ = false;
    std::vector<uint8_t> header_;   // the whole "strh" chunk
    uint64_t headerAt_ = 0;
    std::vector<uint8_t> audioBuffer_;  // capacity: the source's largest audio chunk
    int64_t audioFill_ = 0;
    int64_t pendingUnits_ = 0;
    uint32_t bytesPerUnit_ = 0;
    int64_t unitsWritten_ = 0;
    FourCC chunkId_ = 0;
    std::vector<uint8_t> superIndex_;  // the whole "indx" chunk
    uint64_t superIndexAt_ = 0;
    std::vector<uint8_t> standardIndex_;  // the current "ix##" chunk, empty when none
    int64_t unitsInStandardIndex_ = 0;
};

class RiffAviWriter final : public AviWriter {
public:
    RiffAviWriter(const std::string& destinationName, const WriterOptions& options);
    ~RiffAviWriter() override;

    // Creates the temporary file and writes the header lists of source's structure.
    bool Open(RiffAviReader& source);
    // The same for a structure made up by the caller.
    bool Open(const AviLayout& layout);

    bool WriteChunk(int stream, const void* data, int64_t size, int units) override;
    ChunkCopy CopyChunk(int stream, File& source, int64_t position, int64_t size,
                        int units) override;
    ChunkCopy CopyRun(File& source, int64_t position, const RunChunk* chunks, size_t count,
                      size_t perGroup, size_t* taken) override;
    bool FlushBuffers() override;
    bool Finish(int64_t modificationTime) override;
    std::string TemporaryName() const override { return temporaryName_; }
    int LastError() const override { return error_ != 0 ? error_ : file_.LastError(); }
    int TimeError() const override { return timeError_; }

private:
    friend class RiffAviWriteStream;

    // Appends n bytes at the end of the file, counted in chunk and its ancestors.
    bool Append(ChunkWriter* chunk, const void* data, int64_t n);
    bool AppendHeader(ChunkWriter* chunk, FourCC id, uint32_t size);
    bool AppendList(ChunkWriter* chunk, FourCC type);
    // Appends a whole chunk kept in a buffer (header included), with its pad byte.
    bool AppendWhole(ChunkWriter* parent, const std::vector<uint8_t>& chunk);
    ChunkWriter Child(ChunkWriter* parent) { return ChunkWriter{position_, 0, parent}; }
    // Patches the size field of a chunk that holds bytes.
    void CloseChunk(ChunkWriter& chunk);
    // Writes bytes at position, outside the counting (completed headers).
    void Rewrite(uint64_t position, const std::vector<uint8_t>& bytes);
    void PadToBoundary(ChunkWriter* chunk, uint64_t extra);
    void AppendJunk(ChunkWriter* chunk, uint64_t size);
    // The system copies a range between two files fastest when it lies at the same
    // place within a page in both (whole pages move; otherwise every page is split
    // in two). Where the output's data breaks off from its source's (the start of
    // "movi", an index written between chunks), the next chunk copied from the source
    // is brought back to its source's place within a page by a JUNK chunk before it:
    // the copy of the run it begins then moves whole pages.
    uint64_t AlignmentPad(int64_t sourceHeader) const;
    void AlignWithSource(int64_t sourceHeader);
    bool NextSegmentIfFull();
    // How many leading chunks of a run at position in source this writer would write
    // as the very bytes that lie there, one after another and nothing between.
    // pad: the JUNK bytes that go before the first chunk.
    size_t CopyableRun(File& source, int64_t position, const RunChunk* chunks, size_t count,
                       uint64_t pad);
    void WriteIdx1();
    void Abandon();

    File file_;
    std::string destinationName_;
    std::string temporaryName_;
    WriterOptions options_;
    bool openDml_ = false;
    bool keepIdx1_ = false;
    bool failed_ = false;   // a header or index write failed: the file is not sound
    int error_ = 0;         // the system's error of a failure outside the file's writes
    int timeError_ = 0;     // of setting the modification time
    bool finished_ = false;
    uint64_t position_ = 0;  // end of the file written so far
    std::vector<std::unique_ptr<RiffAviWriteStream>> streams_;
    std::vector<uint8_t> mainHeader_;  // the whole "avih" chunk
    uint64_t mainHeaderAt_ = 0;
    std::vector<uint8_t> odmlHeader_;  // the whole "dmlh" chunk
    uint64_t odmlHeaderAt_ = 0;
    std::vector<uint8_t> idx1Entries_;  // 16 bytes an entry, first segment only
    ChunkWriter riff_;
    ChunkWriter movi_;
    int segments_ = 0;  // "AVIX" segments started
    bool alignPending_ = false;  // the data broke off: the next copied chunk is aligned
};

}  // namespace qv
