#pragma once
// Reading DV AVI files: AVI 1.0 ("idx1") and OpenDML ("indx" super and standard
// indexes across "AVIX" segments). Units are frames for video and interleaved
// streams, sample frames for audio streams; stream 0 is the video.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "avi/AviWriter.h"
#include "avi/Riff.h"
#include "platform/File.h"

namespace qv {

// The fields of the "strf" data of a "vids" stream (a BITMAPINFOHEADER) we use.
struct VideoFormat {
    int32_t width = 0;   // biWidth
    int32_t height = 0;  // biHeight
};

// The fields of the "strf" data of an "auds" stream (a WAVEFORMATEX) we use.
struct AudioFormat {
    uint16_t formatTag = 0;       // wFormatTag
    uint16_t channels = 0;        // nChannels
    uint32_t samplesPerSec = 0;   // nSamplesPerSec
    uint32_t avgBytesPerSec = 0;  // nAvgBytesPerSec
    uint16_t blockAlign = 0;      // nBlockAlign
    uint16_t bitsPerSample = 0;   // wBitsPerSample
};

class AviStream {
public:
    virtual ~AviStream() = default;

    // The whole "strh" chunk including its 8-byte chunk header; empty when none.
    virtual ByteSpan Header() const = 0;
    // The "strf" chunk data; empty when none.
    virtual ByteSpan Format() const = 0;
    virtual std::optional<VideoFormat> GetVideoFormat() const { return std::nullopt; }
    virtual std::optional<AudioFormat> GetAudioFormat() const { return std::nullopt; }
    virtual double FramesPerSecond() const = 0;
    // Bytes per unit as the stream describes it (for "iavs": the DV frame size).
    // Reporting it does not change how Read counts units.
    virtual uint32_t UnitSize() const = 0;
    virtual int Length() const = 0;
    // Reads whole chunks (video) or runs of units across chunks (audio) into buffer,
    // never more than bufferSize bytes. unitsRead and bytesRead may be null.
    // True when at least one byte was read.
    virtual bool Read(int firstUnit, int unitCount, int* unitsRead, void* buffer, int bufferSize,
                      int* bytesRead) = 0;
    virtual FourCC Type() const = 0;
    // Where the chunk of a stream whose units are whole chunks (frames) lies, checked
    // as Read checks it, so that it can be copied without reading it here. False when
    // it cannot be told (then Read it).
    struct ChunkPlace {
        File* file = nullptr;
        int64_t position = 0;  // of the first data byte
        int64_t size = 0;
    };
    virtual bool Locate(int unit, ChunkPlace* place) {
        (void)unit;
        (void)place;
        return false;
    }
    // Where chunk number chunk of the stream lies as the index says, unchecked; false
    // when the stream cannot tell.
    virtual bool ChunkAt(int chunk, ChunkPlace* place) {
        (void)chunk;
        (void)place;
        return false;
    }
    // Data size of the chunk that holds unit, or -1 when there is none.
    virtual int64_t ChunkSize(int unit) = 0;
    // The system's error of the first read of the stream's file that failed, or 0.
    // A read that failed this way is an error of the file, not a unit that is missing.
    virtual int ReadError() const { return 0; }
    // The stream's chunks as its index lists them, and the first unit of each; -1 when
    // the stream cannot tell.
    virtual int ChunkCount() const { return -1; }
    virtual int64_t ChunkFirstUnit(int chunk) const {
        (void)chunk;
        return -1;
    }

    bool IsAudio() const { return Type() == fcc::auds; }
    bool IsVideo() const { return Type() == fcc::vids; }
    bool IsInterleaved() const { return Type() == fcc::iavs; }
};

class AviReader {
public:
    virtual ~AviReader() = default;

    // "avi1", "odml-avi2" or "compat.odml-avi2"; "dv" for raw DV, "mov" for QuickTime.
    virtual std::string Kind() const = 0;
    virtual AviStream* Stream(int index) = 0;
    virtual int StreamCount() const = 0;
    virtual int FrameCount() const = 0;
    virtual std::string FileName() const = 0;
    virtual bool Open(const std::string& fileName) = 0;
    virtual void Close() {}
    virtual double FramesPerSecond() const = 0;
    // True when the file's index did not cover its data and was completed from the
    // data itself (an unfinished capture).
    virtual bool IndexRebuilt() const { return false; }
    // The system's error of the first read of the file that failed since it was
    // opened, or 0.
    virtual int ReadError() const { return 0; }
    // True when the file ends with the first bytes of a frame that is not complete (a
    // raw DV capture cut short): they are no frame.
    virtual bool EndsWithPartialFrame() const { return false; }

    // A writer for a new file of this file's streams, formats and generation,
    // written to a temporary name beside destinationName until it finishes. Null
    // when this file lacks the headers the writer completes or the file cannot be
    // created; errno then holds the system's reason, or 0 when there is none.
    virtual std::unique_ptr<AviWriter> CreateWriter(const std::string& destinationName,
                                                    const WriterOptions& options) = 0;
    std::unique_ptr<AviWriter> CreateWriter(const std::string& destinationName) {
        return CreateWriter(destinationName, WriterOptions{});
    }

    // One line naming the file, its frames, kind, rate and streams.
    std::string Describe();
};

// Opens fileName with the reader its first bytes call for (RIFF AVI, raw DV or
// QuickTime) and reads its structure and indexes; null when it cannot be opened.
std::unique_ptr<AviReader> OpenAviFile(const std::string& fileName);
// The same; error receives the system's error when opening or reading the file
// failed, 0 when the file could be read but is not one the program reads.
std::unique_ptr<AviReader> OpenAviFile(const std::string& fileName, int* error);
// The same, telling in refusal why not: what the file is not, or the DV format it
// holds that is not read (a phrase to follow the file's name); error (optional) as
// above.
std::unique_ptr<AviReader> OpenAviFile(const std::string& fileName, std::string* refusal,
                                       int* error = nullptr);
// Why fileName is of no kind the program reads, told without walking it (its first
// bytes; for raw DV its first and last frames); empty when it is of one (or cannot be
// read at all: the open tells then).
std::string FileKindRefusal(const std::string& fileName);

// The writer for a copy of source's frames named destinationName: the output name's
// extension picks the kind (".dv" or ".dif" raw DV, ".mov" QuickTime, anything else
// AVI: in the source's own generation for an AVI source, as a type-2 OpenDML AVI
// with the audio carried in the frames otherwise). Null as CreateWriter.
std::unique_ptr<AviWriter> CreateWriterFor(AviReader& source, const std::string& destinationName,
                                           const WriterOptions& options);
// The kind of file an output name asks for: "avi", "dv" or "mov".
std::string OutputKindOf(const std::string& destinationName);
// The same family for an open file's Kind(): "avi" for every AVI generation.
std::string KindFamily(const std::string& kind);

}  // namespace qv
