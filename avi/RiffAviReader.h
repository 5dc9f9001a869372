#pragma once
// The RIFF implementation of the AVI reader: walks the chunk tree once at open,
// keeps the header chunks and every index entry in memory, and afterwards reads
// a unit with one positioned read into the caller's buffer.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "avi/AviReader.h"
#include "platform/File.h"

namespace qv {

struct IndexEntry {
    uint64_t position = 0;  // file position of the chunk's first data byte
    uint32_t size = 0;      // data bytes, key-frame bit removed
    int firstUnit = 0;      // units of all earlier entries
};

class RiffAviReader;

class RiffAviStream final : public AviStream {
public:
    RiffAviStream(RiffAviReader* owner, int number) : number_(number), owner_(owner) {}

    ByteSpan Header() const override { return header_; }
    ByteSpan Format() const override { return format_; }
    std::optional<VideoFormat> GetVideoFormat() const override;
    std::optional<AudioFormat> GetAudioFormat() const override;
    double FramesPerSecond() const override;
    uint32_t UnitSize() const override;
    int Length() const override { return unitCount_; }
    bool Read(int firstUnit, int unitCount, int* unitsRead, void* buffer, int bufferSize,
              int* bytesRead) override;
    FourCC Type() const override;
    int64_t ChunkSize(int unit) override;
    bool Locate(int unit, ChunkPlace* place) override;
    bool ChunkAt(int chunk, ChunkPlace* place) override;
    int ReadError() const override;
    int ChunkCount() const override { return static_cast<int>(entries_.size()); }
    int64_t ChunkFirstUnit(int chunk) const override {
        return chunk >= 0 && chunk < ChunkCount() ? entries_[static_cast<size_t>(chunk)].firstUnit
                                                  : -1;
    }

    // The id of the stream's data chunks as the index names it ("00dc", "01wb"); 0 if none.
    FourCC ChunkId() const { return chunkId_; }
    const std::vector<IndexEntry>& Entries() const { return entries_; }
    // Index entry holding unit, or -1.
    int FindEntry(int unit);

private:
    friend class RiffAviReader;

    void SetHeader(std::vector<uint8_t> header);
    void SetFormat(std::vector<uint8_t> format);
    bool AddEntry(uint64_t position, uint32_t size);
    // Drops the entries whose chunk does not lie wholly inside the file's first
    // fileSize bytes and numbers the units again; returns how many were dropped.
    size_t KeepEntriesWithin(uint64_t fileSize);
    void FinishIndex();
    bool HoldsChunk(const uint8_t* header, const IndexEntry& e) const;
    int64_t UnitsOf(uint32_t size) const { return unitSize_ ? size / unitSize_ : 1; }

    int number_;  // the stream's number in the file, as its chunk ids name it
    int searchStep_ = 1;
    int unitCount_ = 0;
    uint32_t unitSize_ = 0;  // 0: every chunk is one unit
    bool sampleIndexed_ = false;
    int lastFound_ = 0;
    FourCC chunkId_ = 0;
    RiffAviReader* owner_;
    std::vector<IndexEntry> entries_;
    std::vector<uint8_t> header_;
    std::vector<uint8_t> format_;
    std::vector<uint8_t> extraData_;
    std::vector<uint8_t> name_;
    bool hasVideoFormat_ = false;
    bool hasAudioFormat_ = false;
};

class RiffAviReader final : public AviReader {
public:
    RiffAviReader() = default;
    ~RiffAviReader() override { Close(); }

    std::string Kind() const override;
    AviStream* Stream(int index) override;
    int StreamCount() const override { return static_cast<int>(streams_.size()); }
    int FrameCount() const override;
    std::string FileName() const override { return fileName_; }
    bool Open(const std::string& fileName) override;
    void Close() override;
    double FramesPerSecond() const override;
    using AviReader::CreateWriter;
    std::unique_ptr<AviWriter> CreateWriter(const std::string& destinationName,
                                            const WriterOptions& options) override;

    // True when chunks the index did not list (or no index at all) were found by walking
    // the "movi" data, or listed chunks lay beyond the end of the file: an unfinished
    // capture.
    bool IndexRebuilt() const override { return indexRebuilt_; }
    int ReadError() const override { return file_.ReadError(); }
    // Why the last Open failed: the system's error, or 0 when the file is no AVI.
    int OpenError() const { return openError_; }

    // The whole "avih", "dmlh" and "idx1" chunks with their chunk headers; empty if none.
    ByteSpan MainHeader() const { return mainHeader_; }
    ByteSpan OpenDmlHeader() const { return odmlHeader_; }
    ByteSpan LegacyIndex() const { return legacyIndex_; }
    RiffAviStream* RiffStream(int index);

private:
    friend class RiffAviStream;

    void WalkChunks(int64_t remaining, int depth);
    std::vector<uint8_t> ReadWholeChunk(uint32_t size, int64_t limit);
    void ReadIndexChunk(ByteSpan chunk, int level);
    void ConvertLegacyIndex();
    void IndexUnlistedChunks();
    bool WalkMoviData(int64_t from, int64_t end, const std::vector<uint64_t>& listedUpTo);
    RiffAviStream* Current();

    // The data of one "movi" list: from its first chunk to its end, cut at the file's end.
    struct MoviRange {
        int64_t begin = 0;
        int64_t end = 0;
    };

    std::string fileName_;
    File file_;
    std::vector<uint8_t> mainHeader_;
    std::vector<uint8_t> odmlHeader_;
    std::vector<uint8_t> legacyIndex_;
    std::vector<std::unique_ptr<RiffAviStream>> streams_;
    std::vector<MoviRange> moviLists_;
    // Standard indexes already read, as [start, end) file ranges keyed by start: each is
    // read once, and none may overlap another.
    std::map<uint64_t, uint64_t> readIndexes_;
    bool indexRebuilt_ = false;
    int64_t lastChunkStart_ = 0;  // file position of the chunk ReadWholeChunk read last
    int64_t fileSize_ = 0;
    int64_t moviPosition_ = 0;        // size field of the "movi" list met last
    int64_t legacyMoviPosition_ = 0;  // the same when "idx1" was met
    int currentStream_ = -1;
    int openError_ = 0;
};

}  // namespace qv
