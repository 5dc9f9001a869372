#include "avi/RiffAviWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "avi/RiffAviReader.h"
#include "platform/FileSystem.h"
#include "platform/Platform.h"

namespace qv {

namespace {

constexpr uint64_t kBoundary = 2048;
constexpr uint64_t kPage = 4096;  // the system's page: the unit its copies move
constexpr size_t kSuperIndexBytes = 16416;     // 32-byte header + 1024 entries of 16
constexpr size_t kStandardIndexBytes = 8224;   // 32-byte header + 1024 entries of 8
constexpr uint32_t kIndexEntries = 1024;
constexpr uint32_t kIdx1KeyFrame = 0x10;       // AVIIF_KEYFRAME
constexpr uint32_t kNotKeyFrame = 0x80000000u;
constexpr size_t kOdmlHeaderBytes = 256;       // "dmlh" chunk of 248 data bytes
// What a segment must keep free beyond its data: the "idx1" entries collected and
// the standard indexes and padding written when it ends.
constexpr int64_t kSegmentReserve = 16448;
const char kFiller[] = "quorvandel ";  // JUNK filler, repeated
// Audio chunks of captures hold a frame's or at most a second's worth of sound.
constexpr uint32_t kMaxAudioChunk = 4 << 20;

// Header fields the writer completes (offsets include the 8-byte chunk header).
constexpr size_t kAvihTotalFrames = 8 + 16;  // avih dwTotalFrames
constexpr size_t kDmlhTotalFrames = 8 + 0;   // dmlh dwTotalFrames
constexpr size_t kStrhLength = 8 + 32;       // strh dwLength

void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
    Put32(b, at, static_cast<uint32_t>(v));
    Put32(b, at + 4, static_cast<uint32_t>(v >> 32));
}
void Add32(std::vector<uint8_t>& b, size_t at, int64_t v) {
    Put32(b, at, static_cast<uint32_t>(Le32(b.data() + at) + static_cast<uint64_t>(v)));
}

// A copy of a whole header chunk whose size field matches the bytes it holds.
std::vector<uint8_t> HeaderCopy(ByteSpan chunk) {
    std::vector<uint8_t> copy(chunk.begin(), chunk.end());
    if (copy.size() >= 8) {
        Put32(copy, 4, static_cast<uint32_t>(copy.size() - 8));
    }
    return copy;
}

// The data chunk id of a stream that no index named: "00dc", "01wb", ...
FourCC DefaultChunkId(int number, FourCC type) {
    const char* suffix = type == fcc::auds ? "wb" : type == fcc::iavs ? "db" : "dc";
    return static_cast<FourCC>('0' + number / 10 % 10) |
           static_cast<FourCC>('0' + number % 10) << 8 |
           static_cast<FourCC>(static_cast<uint8_t>(suffix[0])) << 16 |
           static_cast<FourCC>(static_cast<uint8_t>(suffix[1])) << 24;
}

// The source's id for stream number's chunks ("00db" rather than "00dc" for
// some capture programs' video) when it names that stream; a damaged index may
// give one stream another's id, and the copy's walk would then take its chunks
// for the other stream's.
FourCC ChunkIdFor(int number, const RiffAviStream& from) {
    const FourCC fallback = DefaultChunkId(number, from.Type());
    const FourCC id = from.ChunkId();
    return id != 0 && (id & 0xFFFF) == (fallback & 0xFFFF) ? id : fallback;
}

// The bytes of a JUNK chunk at position that make the next byte lie at target's place
// within a unit; 0 when it lies there already. A JUNK chunk cannot be shorter than its
// header: a gap of 1 to 7 bytes takes another unit.
uint64_t JunkBytesTo(uint64_t position, uint64_t target, uint64_t unit) {
    uint64_t j = (target % unit + unit - position % unit) % unit;
    if (j != 0 && j < 8) {
        j += unit;
    }
    return j;
}

}  // namespace

std::string TemporaryNameFor(const std::string& destinationName) {
    return destinationName + ".part";
}

std::unique_ptr<AviWriter> RiffAviReader::CreateWriter(const std::string& destinationName,
                                                       const WriterOptions& options) {
    auto writer = std::make_unique<RiffAviWriter>(destinationName, options);
    if (!writer->Open(*this)) {
        return nullptr;
    }
    return writer;
}

// ---------------------------------------------------------------------------
// RiffAviWriter

RiffAviWriter::RiffAviWriter(const std::string& destinationName, const WriterOptions& options)
    : destinationName_(destinationName),
      temporaryName_(TemporaryNameFor(destinationName)),
      options_(options) {}

RiffAviWriter::~RiffAviWriter() {
    if (!finished_) {
        Abandon();
    }
}

void RiffAviWriter::Abandon() {
    if (file_.IsOpen()) {
        file_.Close();
        RemoveFile(temporaryName_);
    }
    finished_ = true;
}

bool RiffAviWriter::Append(ChunkWriter* chunk, const void* data, int64_t n) {
    for (ChunkWriter* c = chunk; c != nullptr; c = c->parent) {
        c->bytes += static_cast<uint64_t>(n);
    }
    int64_t written = n > 0 ? file_.WriteAt(static_cast<int64_t>(position_), data, n) : 0;
    // The position moves on as if all was written, so that later sizes stay consistent.
    position_ += static_cast<uint64_t>(n);
    if (written != n) {
        failed_ = true;
        return false;
    }
    return true;
}

bool RiffAviWriter::AppendHeader(ChunkWriter* chunk, FourCC id, uint32_t size) {
    uint8_t header[8];
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<uint8_t>(id >> (8 * i));
        header[4 + i] = static_cast<uint8_t>(size >> (8 * i));
    }
    return Append(chunk, header, 8);
}

bool RiffAviWriter::AppendWhole(ChunkWriter* parent, const std::vector<uint8_t>& chunk) {
    bool ok = Append(parent, chunk.data(), static_cast<int64_t>(chunk.size()));
    if (chunk.size() % 2 != 0) {
        const uint8_t pad = 0;  // chunks are word aligned
        ok = Append(parent, &pad, 1) && ok;
    }
    return ok;
}

bool RiffAviWriter::AppendList(ChunkWriter* chunk, FourCC type) {
    uint8_t t[4];
    for (int i = 0; i < 4; ++i) {
        t[i] = static_cast<uint8_t>(type >> (8 * i));
    }
    return Append(chunk, t, 4);
}

void RiffAviWriter::CloseChunk(ChunkWriter& chunk) {
    if (chunk.bytes == 0) {
        return;
    }
    if (chunk.bytes - 8 > 0xFFFFFFFFu) {
        failed_ = true;  // no RIFF size can say that
        return;
    }
    std::vector<uint8_t> size(4);
    Put32(size, 0, static_cast<uint32_t>(chunk.bytes - 8));
    Rewrite(chunk.start + 4, size);
}

void RiffAviWriter::Rewrite(uint64_t position, const std::vector<uint8_t>& bytes) {
    if (file_.WriteAt(static_cast<int64_t>(position), bytes.data(),
                      static_cast<int64_t>(bytes.size())) != static_cast<int64_t>(bytes.size())) {
        failed_ = true;
    }
}

void RiffAviWriter::PadToBoundary(ChunkWriter* chunk, uint64_t extra) {
    if (const uint64_t j = JunkBytesTo(position_ + extra, 0, kBoundary); j != 0) {
        AppendJunk(chunk, j);
    }
}

void RiffAviWriter::AppendJunk(ChunkWriter* chunk, uint64_t size) {
    std::vector<uint8_t> junk(static_cast<size_t>(size));
    Put32(junk, 0, fcc::JUNK);
    Put32(junk, 4, static_cast<uint32_t>(size - 8));
    for (size_t i = 8; i < junk.size(); ++i) {
        junk[i] = static_cast<uint8_t>(kFiller[(i - 8) % (sizeof kFiller - 1)]);
    }
    Append(chunk, junk.data(), static_cast<int64_t>(junk.size()));
}

uint64_t RiffAviWriter::AlignmentPad(int64_t sourceHeader) const {
    if (!alignPending_ || sourceHeader < 0) {
        return 0;
    }
    return JunkBytesTo(position_, static_cast<uint64_t>(sourceHeader), kPage);
}

void RiffAviWriter::AlignWithSource(int64_t sourceHeader) {
    const uint64_t j = AlignmentPad(sourceHeader);
    if (sourceHeader >= 0) {
        alignPending_ = false;
    }
    if (j != 0) {
        AppendJunk(&movi_, j);
    }
}

bool RiffAviWriter::Open(RiffAviReader& source) {
    AviLayout layout;
    layout.sourceName = source.FileName();
    layout.mainHeader.assign(source.MainHeader().begin(), source.MainHeader().end());
    layout.odmlHeader.assign(source.OpenDmlHeader().begin(), source.OpenDmlHeader().end());
    layout.legacyIndex = source.LegacyIndex().size() >= 8;
    for (int i = 0; i < source.StreamCount(); ++i) {
        const RiffAviStream& from = *source.RiffStream(i);
        AviLayout::Stream stream;
        stream.type = from.Type();
        stream.chunkId = ChunkIdFor(i, from);
        stream.header.assign(from.Header().begin(), from.Header().end());
        stream.format.assign(from.Format().begin(), from.Format().end());
        if (from.IsAudio()) {
            uint32_t largest = 0;
            for (const IndexEntry& e : from.Entries()) {
                largest = std::max(largest, e.size);
            }
            // The size comes from the file: a damaged entry must not claim gigabytes.
            stream.audioChunkBytes = std::min(largest, kMaxAudioChunk);
        }
        layout.streams.push_back(std::move(stream));
    }
    return Open(layout);
}

bool RiffAviWriter::Open(const AviLayout& source) {
    // The writer completes avih dwTotalFrames, dmlh dwTotalFrames and strh dwLength:
    // a source without room for them cannot be copied.
    if (source.mainHeader.size() < kAvihTotalFrames + 4 || source.streams.empty()) {
        return false;
    }
    const bool sourceOdml = !source.odmlHeader.empty();
    if (sourceOdml && source.odmlHeader.size() < kDmlhTotalFrames + 4) {
        return false;
    }
    for (const AviLayout::Stream& from : source.streams) {
        if (from.header.size() < kStrhLength + 4) {
            return false;
        }
    }
    keepIdx1_ = source.legacyIndex;
    // Every chunk written must be indexed: OpenDML parts also when the source has
    // no index of its own to copy, or when an AVI 1.0 copy will not fit one segment.
    openDml_ = sourceOdml || options_.forceOpenDml || !keepIdx1_;

    mainHeader_ = HeaderCopy(source.mainHeader);
    Put32(mainHeader_, kAvihTotalFrames, 0);
    if (openDml_) {
        if (sourceOdml) {
            odmlHeader_ = HeaderCopy(source.odmlHeader);
        } else {
            odmlHeader_.assign(kOdmlHeaderBytes, 0);
            Put32(odmlHeader_, 0, fcc::dmlh);
            Put32(odmlHeader_, 4, static_cast<uint32_t>(kOdmlHeaderBytes - 8));
        }
        Put32(odmlHeader_, kDmlhTotalFrames, 0);
    }

    // Nothing is ever written onto the file being copied.
    if (SameFile(destinationName_, source.sourceName)) {
        errno = 0;  // no system error to tell
        return false;
    }
    // The temporary name may be taken by the very file being copied: then another.
    for (int i = 1; SameFile(temporaryName_, source.sourceName); ++i) {
        temporaryName_ = destinationName_ + "." + std::to_string(i) + ".part";
    }
    // A leftover of a copy that was killed goes; the destination stays.
    RemoveFile(temporaryName_);
    if (!file_.CreateNew(temporaryName_)) {
        return false;
    }

    riff_ = Child(nullptr);
    AppendHeader(&riff_, fcc::RIFF, 0);
    AppendList(&riff_, fcc::AVI_);
    ChunkWriter hdrl = Child(&riff_);
    AppendHeader(&hdrl, fcc::LIST, 0);
    AppendList(&hdrl, fcc::hdrl);
    mainHeaderAt_ = position_;
    AppendWhole(&hdrl, mainHeader_);

    for (size_t i = 0; i < source.streams.size(); ++i) {
        const AviLayout::Stream& from = source.streams[i];
        auto stream = std::make_unique<RiffAviWriteStream>(*this, static_cast<int>(i));
        stream->audio_ = from.type == fcc::auds;
        stream->chunkId_ = from.chunkId;
        if (stream->audio_) {
            stream->audioBuffer_.resize(from.audioChunkBytes);
        }
        stream->header_ = HeaderCopy(from.header);

        ChunkWriter strl = Child(&hdrl);
        AppendHeader(&strl, fcc::LIST, 0);
        AppendList(&strl, fcc::strl);
        stream->headerAt_ = position_;
        AppendWhole(&strl, stream->header_);
        ChunkWriter strf = Child(&strl);
        AppendHeader(&strf, fcc::strf, 0);
        Append(&strf, from.format.data(), static_cast<int64_t>(from.format.size()));
        if (from.format.size() % 2 != 0) {
            uint8_t pad = 0;
            Append(&strl, &pad, 1);  // after the chunk, outside its size
        }
        CloseChunk(strf);
        if (openDml_) {
            auto& super = stream->superIndex_;
            super.assign(kSuperIndexBytes, 0);
            Put32(super, 0, fcc::indx);
            Put32(super, 4, static_cast<uint32_t>(kSuperIndexBytes - 8));
            Put16(super, 8, 4);                 // wLongsPerEntry
            super[10] = 0;                      // bIndexSubType
            super[11] = 0;                      // bIndexType: index of indexes
            Put32(super, 12, 0);                // nEntriesInUse
            Put32(super, 16, stream->chunkId_); // dwChunkId
            PadToBoundary(&strl, 0);
            stream->superIndexAt_ = position_;
            Append(&strl, super.data(), static_cast<int64_t>(super.size()));
        }
        CloseChunk(strl);
        streams_.push_back(std::move(stream));
    }
    if (openDml_) {
        ChunkWriter odml = Child(&hdrl);
        AppendHeader(&odml, fcc::LIST, 0);
        AppendList(&odml, fcc::odml);
        odmlHeaderAt_ = position_;
        AppendWhole(&odml, odmlHeader_);
        CloseChunk(odml);
    }
    CloseChunk(hdrl);
    if (options_.firstChunkSource >= 0) {
        // The first chunk at its source's place within a page (12: the "movi" list's
        // header). Not by a JUNK chunk inside "movi": readers tell the "idx1" offsets
        // counted from "movi" by its first entry lying right after the list's type.
        if (const uint64_t j = JunkBytesTo(position_ + 12,
                                           static_cast<uint64_t>(options_.firstChunkSource), kPage);
            j != 0) {
            AppendJunk(&riff_, j);
        }
    } else {
        PadToBoundary(&riff_, 12);
    }
    movi_ = Child(&riff_);
    AppendHeader(&movi_, fcc::LIST, 0);
    AppendList(&movi_, fcc::movi);
    if (failed_) {
        Abandon();
        return false;
    }
    return true;
}

bool RiffAviWriter::WriteChunk(int stream, const void* data, int64_t size, int units) {
    if (finished_ || stream < 0 || stream >= static_cast<int>(streams_.size()) || size < 0 ||
        size > 0xFFFFFFF0 || (size > 0 && units < 1) || units < 0) {
        return false;
    }
    return streams_[static_cast<size_t>(stream)]->WriteData(static_cast<const uint8_t*>(data),
                                                            size, units);
}

ChunkCopy RiffAviWriter::CopyChunk(int stream, File& source, int64_t position, int64_t size,
                                   int units) {
    if (finished_ || stream < 0 || stream >= static_cast<int>(streams_.size()) || size < 0 ||
        size > 0xFFFFFFF0 || (size > 0 && units < 1) || units < 0 || position < 0) {
        return ChunkCopy::WriteFailed;
    }
    return streams_[static_cast<size_t>(stream)]->CopyData(source, position, size, units);
}

size_t RiffAviWriter::CopyableRun(File& source, int64_t position, const RunChunk* chunks,
                                  size_t count, uint64_t pad) {
    // The writer's state as it would be after each chunk, without changing it.
    struct Simulated {
        int64_t indexEntries = -1;  // of the current standard index; -1: none started
        uint32_t bytesPerUnit = 0;
    };
    std::vector<Simulated> sim(streams_.size());
    for (size_t i = 0; i < streams_.size(); ++i) {
        const RiffAviWriteStream& s = *streams_[i];
        if (!s.standardIndex_.empty()) {
            sim[i].indexEntries = Le32(s.standardIndex_.data() + 12);  // nEntriesInUse
        }
        sim[i].bytesPerUnit = s.bytesPerUnit_;
    }
    uint64_t riffBytes = riff_.bytes;
    uint64_t at = position_;
    int64_t idx1Bytes = static_cast<int64_t>(idx1Entries_.size());
    int64_t from = position;
    size_t n = 0;
    for (; n < count; ++n) {
        const RunChunk& c = chunks[n];
        if (c.stream < 0 || c.stream >= static_cast<int>(streams_.size()) || c.size <= 0 ||
            c.size > 0xFFFFFFF0 || c.units < 1) {
            break;
        }
        // A pad byte is written as zero: an odd chunk goes the ordinary way.
        if (c.size % 2 != 0) {
            break;
        }
        const RiffAviWriteStream& s = *streams_[static_cast<size_t>(c.stream)];
        Simulated& state = sim[static_cast<size_t>(c.stream)];
        if (c.stream == 0) {
            // No new segment may begin before this frame.
            const int64_t limit =
                static_cast<int64_t>(options_.segmentLimit) - idx1Bytes - kSegmentReserve;
            if (static_cast<int64_t>(riffBytes) > limit) {
                break;
            }
        }
        if (n == 0) {
            // The JUNK comes after the check for a new segment, as for a single chunk.
            riffBytes += pad;
            at += pad;
        }
        if (!s.audioBuffer_.empty()) {
            // The gathered audio must come out as this one chunk: nothing held back
            // before it, and the buffer full enough after it to be written at once.
            const int64_t perUnit = c.size / c.units;
            const int64_t unit = state.bytesPerUnit != 0 ? state.bytesPerUnit : perUnit;
            const auto capacity = static_cast<int64_t>(s.audioBuffer_.size());
            if (s.audioFill_ != 0 || perUnit == 0 || capacity < unit) {
                break;
            }
            const int64_t left = capacity - c.size;
            if (c.size > capacity / unit * unit || !(left <= 8 || left < unit)) {
                break;
            }
            state.bytesPerUnit = static_cast<uint32_t>(unit);
        }
        if (openDml_) {
            // A standard index that is full is written out before the chunk.
            if (state.indexEntries >= static_cast<int64_t>(kIndexEntries)) {
                break;
            }
            if (state.indexEntries < 0) {
                if (Le32(s.superIndex_.data() + 12) >= kIndexEntries) {  // nEntriesInUse
                    break;
                }
                state.indexEntries = 0;
            }
            ++state.indexEntries;
        }
        // The source's chunk header must be the one this writer writes.
        uint8_t header[8];
        if (source.ReadAt(from, header, 8) != 8 || Le32(header) != s.chunkId_ ||  // ckID
            Le32(header + 4) != static_cast<uint32_t>(c.size)) {                 // ckSize
            break;
        }
        if (keepIdx1_ && segments_ == 0 && at < (uint64_t{1} << 31)) {
            idx1Bytes += 16;
        }
        const auto total = static_cast<uint64_t>(8 + c.size);
        riffBytes += total;
        at += total;
        from += static_cast<int64_t>(total);
    }
    return n;
}

ChunkCopy RiffAviWriter::CopyRun(File& source, int64_t position, const RunChunk* chunks,
                                 size_t count, size_t perGroup, size_t* taken) {
    *taken = 0;
    if (finished_ || failed_ || perGroup == 0 || position < 0 || chunks == nullptr) {
        return ChunkCopy::Done;
    }
    const size_t n =
        CopyableRun(source, position, chunks, count, AlignmentPad(position)) / perGroup * perGroup;
    if (n == 0) {
        return ChunkCopy::Done;
    }
    AlignWithSource(position);
    int64_t bytes = 0;
    for (size_t i = 0; i < n; ++i) {
        bytes += 8 + chunks[i].size;
    }
    bool sourceFailed = false;
    const int64_t written =
        file_.WriteAtCopying(static_cast<int64_t>(position_), {nullptr, 0}, source, position,
                             bytes, {nullptr, 0}, &sourceFailed);
    if (written != bytes) {
        // A source that lost its bytes is read again chunk by chunk, which tells what
        // failed where; what was copied of it goes.
        if (sourceFailed && file_.Truncate(static_cast<int64_t>(position_))) {
            return ChunkCopy::ReadFailed;
        }
        failed_ = true;  // a file with a hole is never finished
        return ChunkCopy::WriteFailed;
    }
    for (size_t i = 0; i < n; ++i) {
        streams_[static_cast<size_t>(chunks[i].stream)]->TakeCopied(chunks[i].size,
                                                                    chunks[i].units);
    }
    *taken = n;
    return ChunkCopy::Done;
}

bool RiffAviWriter::FlushBuffers() {
    return file_.StartWriteback();
}

bool RiffAviWriter::NextSegmentIfFull() {
    const int64_t limit = static_cast<int64_t>(options_.segmentLimit) -
                          static_cast<int64_t>(idx1Entries_.size()) - kSegmentReserve;
    if (static_cast<int64_t>(riff_.bytes) <= limit) {
        return true;
    }
    if (!openDml_) {
        // "idx1" covers only the first segment: frames beyond it would be lost to
        // every reader. Such copies are made with OpenDML indexes (forceOpenDml).
        return false;
    }
    bool ok = true;
    for (auto& s : streams_) {
        ok = s->FlushAudio() && ok;
        ok = s->FlushStandardIndex() && ok;
    }
    WriteIdx1();
    PadToBoundary(&riff_, 12);
    CloseChunk(riff_);
    CloseChunk(movi_);
    riff_ = Child(nullptr);
    AppendHeader(&riff_, fcc::RIFF, 0);
    AppendList(&riff_, fcc::AVIX);
    PadToBoundary(&riff_, 12);
    movi_ = Child(&riff_);
    AppendHeader(&movi_, fcc::LIST, 0);
    AppendList(&movi_, fcc::movi);
    alignPending_ = true;
    ++segments_;
    return ok && !failed_;
}

void RiffAviWriter::WriteIdx1() {
    if (keepIdx1_ && !idx1Entries_.empty()) {
        ChunkWriter idx1 = Child(&riff_);
        AppendHeader(&idx1, fcc::idx1, 0);
        Append(&idx1, idx1Entries_.data(), static_cast<int64_t>(idx1Entries_.size()));
        CloseChunk(idx1);
    }
    idx1Entries_.clear();
    idx1Entries_.shrink_to_fit();
}

bool RiffAviWriter::Finish(int64_t modificationTime) {
    if (finished_) {
        return false;
    }
    for (auto& s : streams_) {
        if (!s->FlushAudio() || !s->FlushStandardIndex()) {
            failed_ = true;
        }
        s->Complete();
    }
    WriteIdx1();
    if (openDml_) {
        Rewrite(odmlHeaderAt_, odmlHeader_);
    }
    Rewrite(mainHeaderAt_, mainHeader_);
    CloseChunk(movi_);
    CloseChunk(riff_);
    bool ok = !failed_ && file_.Flush();
    file_.Close();
    ok = PutInPlace(ok, temporaryName_, destinationName_, modificationTime, &error_, &timeError_);
    finished_ = true;
    return ok;
}

// ---------------------------------------------------------------------------
// RiffAviWriteStream

RiffAviWriteStream::RiffAviWriteStream(RiffAviWriter& writer, int number)
    : writer_(writer), number_(number) {}

bool RiffAviWriteStream::WriteData(const uint8_t* data, int64_t size, int units) {
    if (number_ == 0 && !writer_.NextSegmentIfFull()) {
        return false;
    }
    if (size == 0) {
        return true;  // nothing to store or index
    }
    const auto capacity = static_cast<int64_t>(audioBuffer_.size());
    if (capacity == 0) {
        // A refused chunk is not counted in dwLength.
        if (!WriteChunkData(data, size, units)) {
            return false;
        }
        unitsWritten_ += units;
        return true;
    }
    const int64_t perUnit = size / units;
    if (perUnit == 0) {
        return false;  // fewer bytes than units
    }
    if (bytesPerUnit_ == 0) {
        bytesPerUnit_ = static_cast<uint32_t>(perUnit);
    }
    unitsWritten_ += units;
    if (capacity < bytesPerUnit_) {
        return WriteChunkData(data, size, units);  // not even one unit fits the buffer
    }
    // Audio is gathered into chunks as large as the source's largest, cut only
    // between whole sample frames.
    while (size > 0) {
        const int64_t room = (capacity - audioFill_) / bytesPerUnit_ * bytesPerUnit_;
        const int64_t n = std::min(size, room);
        if (n > 0) {
            std::memcpy(audioBuffer_.data() + audioFill_, data, static_cast<size_t>(n));
            audioFill_ += n;
            pendingUnits_ += n / bytesPerUnit_;
            size -= n;
            data += n;
        }
        if (capacity - audioFill_ <= 8 || capacity - audioFill_ < bytesPerUnit_) {
            if (!FlushAudio()) {
                return false;
            }
        }
    }
    return true;
}

ChunkCopy RiffAviWriteStream::CopyData(File& source, int64_t position, int64_t size,
                                       int units) {
    if (!audioBuffer_.empty() || size == 0) {
        // Gathered audio is cut into chunks of its own: it goes through memory.
        std::vector<uint8_t> data(static_cast<size_t>(size));
        if (source.ReadAt(position, data.data(), size) != size) {
            return ChunkCopy::ReadFailed;
        }
        return WriteData(data.data(), size, units) ? ChunkCopy::Done : ChunkCopy::WriteFailed;
    }
    if (number_ == 0 && !writer_.NextSegmentIfFull()) {
        return ChunkCopy::WriteFailed;
    }
    uint8_t header[8];
    int64_t total = 0;
    if (!StartChunk(size, units, header, &total, position - 8)) {
        return ChunkCopy::WriteFailed;
    }
    const uint8_t pad = 0;
    bool sourceFailed = false;
    const int64_t written = writer_.file_.WriteAtCopying(
        static_cast<int64_t>(writer_.position_), {header, 8}, source, position, size,
        {&pad, total - 8 - size}, &sourceFailed);
    writer_.position_ += static_cast<uint64_t>(total);
    if (written != total) {
        writer_.failed_ = true;  // a file with a hole is never finished
        return sourceFailed ? ChunkCopy::ReadFailed : ChunkCopy::WriteFailed;
    }
    unitsWritten_ += units;
    return ChunkCopy::Done;
}

void RiffAviWriteStream::TakeCopied(int64_t size, int units) {
    // The same counts as WriteData's: gathered audio is indexed with the units its
    // bytes hold at the stream's first unit size.
    int indexed = units;
    if (!audioBuffer_.empty()) {
        if (bytesPerUnit_ == 0) {
            bytesPerUnit_ = static_cast<uint32_t>(size / units);
        }
        indexed = static_cast<int>(std::max<int64_t>(size / bytesPerUnit_, 1));
    }
    uint8_t header[8];
    int64_t total = 0;
    StartChunk(size, indexed, header, &total);  // CopyableRun made sure it has room
    writer_.position_ += static_cast<uint64_t>(total);
    unitsWritten_ += units;
}

bool RiffAviWriteStream::FlushAudio() {
    if (audioFill_ == 0) {
        return true;
    }
    bool ok = WriteChunkData(audioBuffer_.data(), audioFill_,
                             static_cast<int>(std::max<int64_t>(pendingUnits_, 1)));
    audioFill_ = 0;
    pendingUnits_ = 0;
    return ok;
}

bool RiffAviWriteStream::StartChunk(int64_t size, int units, uint8_t (&header)[8],
                                    int64_t* total, int64_t sourceHeader) {
    if (!PrepareIndex()) {
        return false;
    }
    writer_.AlignWithSource(sourceHeader);
    if (!IndexChunk(size, units)) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<uint8_t>(chunkId_ >> (8 * i));                            // ckID
        header[4 + i] = static_cast<uint8_t>(static_cast<uint32_t>(size) >> (8 * i));     // ckSize
    }
    *total = 8 + size + size % 2;  // chunks are word aligned: a pad byte after odd data
    for (ChunkWriter* c = &writer_.movi_; c != nullptr; c = c->parent) {
        c->bytes += static_cast<uint64_t>(*total);
    }
    return true;
}

bool RiffAviWriteStream::WriteChunkData(const uint8_t* data, int64_t size, int units) {
    uint8_t header[8];
    int64_t total = 0;
    if (!StartChunk(size, units, header, &total)) {
        return false;
    }
    const uint8_t pad = 0;
    File::Part parts[3] = {{header, 8}, {data, size}, {&pad, total - 8 - size}};
    const int64_t written =
        writer_.file_.WriteAt(static_cast<int64_t>(writer_.position_), parts, 3);
    writer_.position_ += static_cast<uint64_t>(total);
    if (written != total) {
        writer_.failed_ = true;  // a file with a hole is never finished
        return false;
    }
    return true;
}

bool RiffAviWriteStream::PrepareIndex() {
    if (!writer_.openDml_) {
        return true;
    }
    const bool full = !standardIndex_.empty() && Le32(standardIndex_.data() + 12) >= kIndexEntries;
    if (standardIndex_.empty() || full) {
        // The super index has room for 1024 standard indexes and no more.
        const uint32_t used = Le32(superIndex_.data() + 12) + (standardIndex_.empty() ? 0 : 1);
        if (used >= kIndexEntries) {
            return false;
        }
        return StartStandardIndex();
    }
    return true;
}

bool RiffAviWriteStream::IndexChunk(int64_t size, int units) {
    RiffAviWriter& w = writer_;
    if (w.openDml_) {
        const uint64_t p = w.position_;
        uint32_t entries = Le32(standardIndex_.data() + 12);  // nEntriesInUse
        if (entries == 0) {
            Put64(standardIndex_, 20, p);  // qwBaseOffset
        }
        const uint64_t base = Le64(standardIndex_.data() + 20);
        const size_t at = 32 + static_cast<size_t>(entries) * 8;
        Put32(standardIndex_, at, static_cast<uint32_t>(p - base + 8));  // dwOffset: the data
        Put32(standardIndex_, at + 4,
              static_cast<uint32_t>(size) | (number_ != 0 ? kNotKeyFrame : 0));  // dwSize
        Put32(standardIndex_, 12, entries + 1);
    }
    const uint64_t p = w.position_;
    if (w.keepIdx1_ && w.segments_ == 0 && p < (uint64_t{1} << 31)) {
        std::vector<uint8_t>& e = w.idx1Entries_;
        const size_t at = e.size();
        e.resize(at + 16);
        Put32(e, at, chunkId_);                                         // ckid
        Put32(e, at + 4, audio_ ? 0 : kIdx1KeyFrame);                   // dwFlags
        Put32(e, at + 8, static_cast<uint32_t>(p - (w.movi_.start + 8)));  // dwChunkOffset
        Put32(e, at + 12, static_cast<uint32_t>(size));                 // dwChunkLength
    }
    if (number_ == 0) {
        if (w.segments_ == 0) {
            Add32(w.mainHeader_, kAvihTotalFrames, units);
        }
        if (w.openDml_) {
            Add32(w.odmlHeader_, kDmlhTotalFrames, units);
        }
    }
    unitsInStandardIndex_ += units;
    return true;
}

bool RiffAviWriteStream::StartStandardIndex() {
    if (!FlushStandardIndex()) {
        return false;
    }
    standardIndex_.assign(kStandardIndexBytes, 0);
    Put32(standardIndex_, 0, MakeFourCC("ix00") + (static_cast<FourCC>(number_) << 24));
    Put32(standardIndex_, 4, static_cast<uint32_t>(kStandardIndexBytes - 8));
    Put16(standardIndex_, 8, 2);          // wLongsPerEntry
    standardIndex_[10] = 0;               // bIndexSubType
    standardIndex_[11] = 1;               // bIndexType: index of chunks
    Put32(standardIndex_, 16, chunkId_);  // dwChunkId
    return true;
}

bool RiffAviWriteStream::FlushStandardIndex() {
    if (standardIndex_.empty()) {
        return true;
    }
    RiffAviWriter& w = writer_;
    ChunkWriter chunk = w.Child(&w.movi_);
    const uint64_t at = w.position_;
    bool ok = w.Append(&chunk, standardIndex_.data(), static_cast<int64_t>(standardIndex_.size()));
    const uint32_t k = Le32(superIndex_.data() + 12);  // nEntriesInUse
    const size_t e = 32 + static_cast<size_t>(k) * 16;
    Put64(superIndex_, e, at);                                        // qwOffset
    Put32(superIndex_, e + 8, static_cast<uint32_t>(kStandardIndexBytes));  // dwSize
    Put32(superIndex_, e + 12, static_cast<uint32_t>(unitsInStandardIndex_));  // dwDuration
    Put32(superIndex_, 12, k + 1);
    w.alignPending_ = true;  // the data broke off
    unitsInStandardIndex_ = 0;
    standardIndex_.clear();
    standardIndex_.shrink_to_fit();
    return ok;
}

void RiffAviWriteStream::Complete() {
    Put32(header_, kStrhLength, static_cast<uint32_t>(unitsWritten_));
    writer_.Rewrite(headerAt_, header_);
    if (!superIndex_.empty()) {
        writer_.Rewrite(superIndexAt_, superIndex_);
    }
}

}  // namespace qv
