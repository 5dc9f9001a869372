#include "avi/RiffAviReader.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <limits>

namespace qv {

namespace {

// Lists nest three deep in valid files (RIFF > LIST hdrl > LIST strl); deeper
// nesting is skipped rather than walked.
constexpr int kMaxListDepth = 8;
// A super index points at standard indexes; a super index met through another one
// is ignored, so an index that refers back to itself cannot recurse.
constexpr int kMaxIndexLevel = 1;
constexpr uint32_t kKeyFrameFlag = 0x80000000u;
// Header chunks are a few hundred bytes; a damaged size must not make us allocate what
// the file's size allows. Indexes get more room: an "idx1" of 16 bytes an entry lists
// millions of chunks within this.
constexpr int64_t kMaxHeaderChunk = int64_t{1} << 20;
constexpr int64_t kMaxIndexChunk = int64_t{256} << 20;

// The entry's chunk lies wholly inside the file's first fileSize bytes.
bool Within(const IndexEntry& e, uint64_t fileSize) {
    return e.position <= fileSize && e.size <= fileSize - e.position;
}

bool IsHexDigit(int c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int HexValue(int c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// The stream number of a data chunk met in "movi" ("00dc", "01wb", "00__"), or -1 for
// anything else: standard indexes ("ix00"), palette changes ("00pc"), "JUNK".
int StreamOfDataChunk(FourCC id) {
    const int c0 = static_cast<int>(id & 0xFF);
    const int c1 = static_cast<int>((id >> 8) & 0xFF);
    const int c2 = static_cast<int>((id >> 16) & 0xFF);
    const int c3 = static_cast<int>((id >> 24) & 0xFF);
    if (!IsHexDigit(c0) || !IsHexDigit(c1) || (c2 == 'p' && c3 == 'c')) {
        return -1;
    }
    return HexValue(c0) * 16 + HexValue(c1);
}

// Chunk ids are four printable characters; anything else means the walk lost its way.
bool IsPrintableId(FourCC id) {
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t c = (id >> shift) & 0xFF;
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

// The stream number in an "idx1" ckid such as "01wb": two hexadecimal characters.
uint16_t StreamNumberOf(FourCC ckid) {
    auto digit = [](int c) { return c >= 'A' ? c - 55 : c - 48; };
    int first = digit(static_cast<int>(ckid & 0xFF));
    int second = digit(static_cast<int>((ckid >> 8) & 0xFF));
    return static_cast<uint16_t>(first * 16 + second);
}

}  // namespace

// ---------------------------------------------------------------------------
// RiffAviStream

void RiffAviStream::SetHeader(std::vector<uint8_t> header) {
    header_ = std::move(header);
    if (Type() == fcc::auds) {
        sampleIndexed_ = true;
        unitSize_ = Field32(header_, 52);  // dwSampleSize
        if (unitSize_ <= 1) {
            unitSize_ = 4;
        }
    } else {
        sampleIndexed_ = false;
        unitSize_ = 0;
    }
    // Entries read before this header ("indx" first, or a second "strh") were
    // counted in the units of the old type: count them again in the new ones, so
    // that the stream's length and its entries' units agree.
    if (!entries_.empty()) {
        std::vector<IndexEntry> entries = std::move(entries_);
        entries_.clear();
        unitCount_ = 0;
        for (const IndexEntry& e : entries) {
            if (!AddEntry(e.position, e.size)) {
                break;
            }
        }
    }
}

void RiffAviStream::SetFormat(std::vector<uint8_t> format) {
    format_ = std::move(format);
    // Both formats are used up to byte 16; a shorter "strf" counts as absent.
    bool complete = format_.size() >= 16;
    hasAudioFormat_ = complete && Type() == fcc::auds;
    hasVideoFormat_ = complete && Type() == fcc::vids;
}

std::optional<VideoFormat> RiffAviStream::GetVideoFormat() const {
    if (!hasVideoFormat_) {
        return std::nullopt;
    }
    VideoFormat f;
    f.width = static_cast<int32_t>(Field32(format_, 4));   // biWidth
    f.height = static_cast<int32_t>(Field32(format_, 8));  // biHeight
    return f;
}

std::optional<AudioFormat> RiffAviStream::GetAudioFormat() const {
    if (!hasAudioFormat_) {
        return std::nullopt;
    }
    AudioFormat f;
    f.formatTag = Field16(format_, 0);        // wFormatTag
    f.channels = Field16(format_, 2);         // nChannels
    f.samplesPerSec = Field32(format_, 4);    // nSamplesPerSec
    f.avgBytesPerSec = Field32(format_, 8);   // nAvgBytesPerSec
    f.blockAlign = Field16(format_, 12);      // nBlockAlign
    f.bitsPerSample = Field16(format_, 14);   // wBitsPerSample
    return f;
}

FourCC RiffAviStream::Type() const {
    return Field32(header_, 8);  // fccType
}

double RiffAviStream::FramesPerSecond() const {
    if (header_.size() < 64) {
        return 0.0;
    }
    uint32_t scale = Field32(header_, 28);  // dwScale
    uint32_t rate = Field32(header_, 32);   // dwRate
    return scale == 0 ? 0.0 : static_cast<double>(rate) / scale;
}

uint32_t RiffAviStream::UnitSize() const {
    uint32_t sampleSize = Field32(header_, 52);  // dwSampleSize
    if (sampleSize >= 4) {
        return sampleSize;
    }
    if (auto audio = GetAudioFormat(); audio && IsAudio()) {
        if (audio->avgBytesPerSec != 0 && audio->samplesPerSec != 0) {
            return audio->avgBytesPerSec / audio->samplesPerSec;
        }
    }
    return entries_.empty() ? 0 : entries_.front().size;
}

size_t RiffAviStream::KeepEntriesWithin(uint64_t fileSize) {
    // Only the entries after the last chunk the file holds go: what a copy cut short
    // leaves. A damaged entry among good ones stays (reading it fails) so that the
    // frames after it keep their numbers.
    size_t keep = entries_.size();
    while (keep > 0 && !Within(entries_[keep - 1], fileSize)) {
        --keep;
    }
    const size_t dropped = entries_.size() - keep;
    if (dropped != 0) {
        entries_.resize(keep);
        unitCount_ = keep == 0 ? 0
                               : entries_.back().firstUnit +
                                     static_cast<int>(UnitsOf(entries_.back().size));
    }
    return dropped;
}

bool RiffAviStream::AddEntry(uint64_t position, uint32_t size) {
    int64_t units = UnitsOf(size);
    if (units > std::numeric_limits<int>::max() - static_cast<int64_t>(unitCount_)) {
        return false;  // more units than a unit number can hold
    }
    entries_.push_back({position, size, unitCount_});
    unitCount_ += static_cast<int>(units);
    return true;
}

void RiffAviStream::FinishIndex() {
    // Memory is 16 bytes an entry; a copy only when much more was reserved.
    if (entries_.capacity() > entries_.size() + entries_.size() / 16 + 64) {
        entries_.shrink_to_fit();
    }
    size_t n = entries_.size();
    searchStep_ = 1;
    if (n > 2) {
        do {
            searchStep_ *= 2;
        } while (2 * static_cast<size_t>(searchStep_) < n);
    }
}

int RiffAviStream::FindEntry(int unit) {
    const int n = static_cast<int>(entries_.size());
    if (n == 0 || unit < 0) {
        return -1;
    }
    if (!sampleIndexed_) {
        return unit < n ? unit : -1;
    }
    // Sequential reads hit the same or the next entry.
    const int c = lastFound_;
    if (c >= 0 && c < n - 1 && entries_[c].firstUnit <= unit && unit < entries_[c + 1].firstUnit) {
        return c;
    }
    if (c >= 0 && c < n - 2 && entries_[c + 1].firstUnit <= unit &&
        unit < entries_[c + 2].firstUnit) {
        lastFound_ = c + 1;
        return lastFound_;
    }
    // The last entry whose first unit is at or before unit.
    int base = 0;
    int step = searchStep_;
    for (;;) {
        int probe = base + step;
        if (probe < n && entries_[probe].firstUnit <= unit) {
            base = probe;
            if (step == 0) {
                break;
            }
        } else if (step == 0) {
            break;
        } else {
            step /= 2;
        }
    }
    lastFound_ = base;
    return base;
}

int64_t RiffAviStream::ChunkSize(int unit) {
    // FindEntry gives the last audio chunk for units past the end; no chunk holds those.
    int e = unit < unitCount_ ? FindEntry(unit) : -1;
    return e < 0 ? -1 : static_cast<int64_t>(entries_[e].size);
}

// Whether header is the header of the chunk e lists: a data chunk of this stream
// ("##dc", "##wb", "##__": the stream number as the index names it) of e's size. An index
// entry that points elsewhere (a damaged index, a file changed since) reads as an error
// rather than as whatever bytes lie there.
bool RiffAviStream::HoldsChunk(const uint8_t* header, const IndexEntry& e) const {
    const FourCC id = Le32(header);            // ckID
    const uint32_t size = Le32(header + 4);    // ckSize
    return StreamOfDataChunk(id) == number_ && size == e.size;
}

bool RiffAviStream::Locate(int unit, ChunkPlace* place) {
    if (unitSize_ != 0 || unit < 0 || unit >= unitCount_) {
        return false;
    }
    const int ei = FindEntry(unit);
    if (ei < 0) {
        return false;
    }
    const IndexEntry& e = entries_[static_cast<size_t>(ei)];
    if (e.position < 8 || e.position > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return false;
    }
    uint8_t header[8];
    if (owner_->file_.ReadAt(static_cast<int64_t>(e.position) - 8, header, 8) != 8 ||
        !HoldsChunk(header, e)) {
        return false;
    }
    place->file = &owner_->file_;
    place->position = static_cast<int64_t>(e.position);
    place->size = e.size;
    return true;
}

bool RiffAviStream::ChunkAt(int chunk, ChunkPlace* place) {
    if (chunk < 0 || chunk >= ChunkCount()) {
        return false;
    }
    const IndexEntry& e = entries_[static_cast<size_t>(chunk)];
    if (e.position < 8 || e.position > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return false;
    }
    place->file = &owner_->file_;
    place->position = static_cast<int64_t>(e.position);
    place->size = e.size;
    return true;
}

int RiffAviStream::ReadError() const {
    return owner_->ReadError();
}

bool RiffAviStream::Read(int firstUnit, int unitCount, int* unitsRead, void* buffer,
                         int bufferSize, int* bytesRead) {
    int units = 0;
    int bytes = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    File& file = owner_->file_;

    while (unitCount > 0 && bufferSize > 0 && out != nullptr) {
        int ei = FindEntry(firstUnit);
        if (ei < 0) {
            break;
        }
        const IndexEntry& e = entries_[ei];
        const int64_t u = UnitsOf(e.size);
        if (firstUnit < e.firstUnit || firstUnit > e.firstUnit + u ||
            e.position > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            break;
        }
        const auto position = static_cast<int64_t>(e.position);
        if (position < 8) {
            break;  // no room for the chunk's header
        }
        uint8_t header[8];
        if (unitSize_ == 0) {
            // A whole chunk (a frame) with its header, cut to the buffer.
            int64_t want = std::min<int64_t>(bufferSize, e.size);
            int64_t got = file.ReadAt(position - 8, header, 8, out, want) - 8;
            if (got <= 0 || !HoldsChunk(header, e)) {
                break;
            }
            bytes += static_cast<int>(got);
            units += 1;
            firstUnit += 1;
            unitCount -= 1;
            out += got;
            bufferSize -= static_cast<int>(got);
            if (got < want) {
                break;  // the file ends inside the chunk
            }
            continue;
        }
        // A run of whole units inside a chunk.
        const int64_t d = static_cast<int64_t>(firstUnit) - e.firstUnit;
        if (d < 0 || d >= u) {
            break;
        }
        const int64_t offset = d * unitSize_;
        // Whole units only: bytes past the chunk's last whole unit are not audio.
        int64_t length = std::min<int64_t>(u * unitSize_ - offset,
                                           static_cast<int64_t>(unitSize_) * unitCount);
        length = std::min<int64_t>(length, bufferSize);
        int64_t got;
        if (offset == 0) {
            got = file.ReadAt(position - 8, header, 8, out, length) - 8;
        } else {
            // Inside a chunk: its header is a read of its own.
            got = file.ReadAt(position - 8, header, 8) == 8
                      ? file.ReadAt(position + offset, out, length)
                      : -1;
        }
        if (got <= 0 || !HoldsChunk(header, e)) {
            break;
        }
        const int64_t k = got / unitSize_;
        bytes += static_cast<int>(got);
        units += static_cast<int>(k);
        firstUnit += static_cast<int>(k);
        unitCount -= static_cast<int>(k);
        out += got;
        bufferSize -= static_cast<int>(got);
        if (got < length || k == 0) {
            break;  // a short read, or a trailing part of a unit that the buffer cut
        }
    }
    if (unitsRead != nullptr) {
        *unitsRead = units;
    }
    if (bytesRead != nullptr) {
        *bytesRead = bytes;
    }
    return bytes != 0;
}

// ---------------------------------------------------------------------------
// RiffAviReader

std::string RiffAviReader::Kind() const {
    if (odmlHeader_.empty()) {
        return "avi1";
    }
    return legacyIndex_.size() < 8 ? "odml-avi2" : "compat.odml-avi2";
}

AviStream* RiffAviReader::Stream(int index) {
    return RiffStream(index);
}

RiffAviStream* RiffAviReader::RiffStream(int index) {
    if (index < 0 || index >= StreamCount()) {
        return nullptr;
    }
    return streams_[static_cast<size_t>(index)].get();
}

int RiffAviReader::FrameCount() const {
    return streams_.empty() ? 0 : streams_.front()->Length();
}

double RiffAviReader::FramesPerSecond() const {
    return streams_.empty() ? 0.0 : streams_.front()->FramesPerSecond();
}

void RiffAviReader::Close() {
    file_.Close();
    streams_.clear();
    mainHeader_.clear();
    odmlHeader_.clear();
    legacyIndex_.clear();
    moviLists_.clear();
    readIndexes_.clear();
    indexRebuilt_ = false;
    fileSize_ = 0;
    moviPosition_ = 0;
    legacyMoviPosition_ = 0;
    currentStream_ = -1;
}

bool RiffAviReader::Open(const std::string& fileName) {
    fileName_ = fileName;
    openError_ = 0;
    if (!file_.OpenRead(fileName, File::Access::Sequential)) {
        openError_ = file_.LastError();
        return false;
    }
    fileSize_ = file_.Size();
    if (fileSize_ < 0) {
        openError_ = errno;
        Close();
        return false;
    }
    WalkChunks(fileSize_, 0);

    bool odmlIndexed = std::any_of(streams_.begin(), streams_.end(),
                                   [](const auto& s) { return !s->entries_.empty(); });
    if (!odmlIndexed && !legacyIndex_.empty()) {
        ConvertLegacyIndex();
    }
    readIndexes_.clear();
    // A copy cut short keeps index entries for chunks it no longer holds.
    for (auto& s : streams_) {
        if (s->KeepEntriesWithin(static_cast<uint64_t>(fileSize_)) != 0) {
            indexRebuilt_ = true;
        }
    }
    IndexUnlistedChunks();
    for (auto& s : streams_) {
        s->FinishIndex();
    }
    // Headers or indexes that could not be read would make another file of it.
    if (file_.ReadError() != 0) {
        openError_ = file_.ReadError();
        Close();
        return false;
    }
    return true;
}

RiffAviStream* RiffAviReader::Current() {
    return RiffStream(currentStream_);
}

// The whole chunk whose 8-byte header was just read, header included. Never more
// than limit bytes: what its parent and the file hold.
std::vector<uint8_t> RiffAviReader::ReadWholeChunk(uint32_t size, int64_t limit) {
    int64_t start = file_.Position() - 8;
    lastChunkStart_ = start;
    int64_t want = std::min<int64_t>(static_cast<int64_t>(size) + 8, limit);
    want = std::min({want, kMaxIndexChunk, fileSize_ - start});
    std::vector<uint8_t> chunk(static_cast<size_t>(std::max<int64_t>(want, 0)));
    int64_t got = chunk.empty() ? 0 : file_.ReadAt(start, chunk.data(), want);
    chunk.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
    // The walk goes on after the whole chunk, also when less of it was kept.
    file_.Seek(start + 8 + static_cast<int64_t>(size));
    return chunk;
}

void RiffAviReader::WalkChunks(int64_t remaining, int depth) {
    const int savedStream = currentStream_;
    while (remaining > 0) {
        uint8_t header[8];
        if (file_.Read(header, 8) != 8) {
            break;
        }
        const FourCC id = Le32(header);        // ckID
        const uint32_t size = Le32(header + 4);  // ckSize
        const bool isList = id == fcc::RIFF || id == fcc::LIST;
        FourCC listType = 0;
        if (isList) {
            uint8_t type[4];
            if (file_.Read(type, 4) != 4) {
                break;
            }
            listType = Le32(type);
        }
        remaining -= 8;
        // What the parent still holds for this chunk's data (list type included).
        const int64_t room = std::max<int64_t>(remaining, 0);
        int64_t consumed = size;

        if (id == 0) {
            file_.Seek(file_.Position() + remaining);
            break;
        }
        if (isList) {
            // A list size below 4 is what an unfinished capture leaves: its content
            // then runs to the end of the parent.
            int64_t content = size >= 4 ? static_cast<int64_t>(size) - 4 : room - 4;
            if (size < 4) {
                consumed = room;
            }
            int64_t budget = std::min<int64_t>(content, room - 4);
            if (listType == fcc::movi) {
                moviPosition_ = file_.Position() - 8;
                const int64_t begin = file_.Position();
                const int64_t length = std::max<int64_t>(content, 0);
                moviLists_.push_back({begin, std::clamp(fileSize_, begin, begin + length)});
                file_.Seek(begin + length);
            } else if (depth + 1 > kMaxListDepth) {
                file_.Seek(file_.Position() + std::max<int64_t>(content, 0));
            } else {
                if (listType == fcc::strl) {
                    streams_.push_back(std::make_unique<RiffAviStream>(
                        this, static_cast<int>(streams_.size())));
                    currentStream_ = StreamCount() - 1;
                }
                WalkChunks(budget, depth + 1);
            }
        } else if (id == fcc::avih) {
            mainHeader_ = ReadWholeChunk(size, std::min(room + 8, kMaxHeaderChunk));
        } else if (id == fcc::dmlh) {
            odmlHeader_ = ReadWholeChunk(size, std::min(room + 8, kMaxHeaderChunk));
        } else if (id == fcc::idx1) {
            legacyIndex_ = ReadWholeChunk(size, room + 8);
            // Relative offsets count from the "movi" of the RIFF that holds this index,
            // which comes before it; later "AVIX" segments have "movi" lists of their own.
            legacyMoviPosition_ = moviPosition_;
        } else if (id == fcc::strh || id == fcc::strf || id == fcc::strd || id == fcc::strn ||
                   id == fcc::indx) {
            const int64_t limit = id == fcc::indx ? room + 8 : std::min(room + 8, kMaxHeaderChunk);
            std::vector<uint8_t> chunk = ReadWholeChunk(size, limit);
            RiffAviStream* stream = Current();
            if (stream != nullptr) {
                if (id == fcc::strh) {
                    stream->SetHeader(std::move(chunk));
                } else if (id == fcc::indx) {
                    ReadIndexChunk(chunk, 0);
                } else {
                    // The data without the chunk header.
                    std::vector<uint8_t> data(chunk.begin() + std::min<size_t>(8, chunk.size()),
                                              chunk.end());
                    if (id == fcc::strf) {
                        stream->SetFormat(std::move(data));
                    } else if (id == fcc::strd) {
                        stream->extraData_ = std::move(data);
                    } else {
                        stream->name_ = std::move(data);
                    }
                }
            }
        } else {
            file_.Seek(file_.Position() + size);
        }

        remaining -= consumed;
        if (remaining < 0) {
            return;  // the chunk claims more than its parent holds
        }
        if (file_.Position() % 2 != 0) {  // chunks are word aligned
            file_.Seek(file_.Position() + 1);
            remaining -= 1;
        }
    }
    currentStream_ = savedStream;
}

void RiffAviReader::ReadIndexChunk(ByteSpan chunk, int level) {
    RiffAviStream* stream = Current();
    if (chunk.size() < 32 || stream == nullptr) {
        return;
    }
    // Entries lie inside both the bytes read and the chunk's own size.
    const uint64_t declared = static_cast<uint64_t>(Field32(chunk, 4)) + 8;  // ckSize
    const size_t usable = static_cast<size_t>(std::min<uint64_t>(chunk.size(), declared));
    const uint8_t indexType = chunk[11];            // bIndexType
    const uint32_t entriesInUse = Field32(chunk, 12);  // nEntriesInUse

    if (indexType == 0) {  // AVI_INDEX_OF_INDEXES
        if (level >= kMaxIndexLevel) {
            return;
        }
        // The standard indexes' headers are read first, so the entries get their room
        // at once. A standard index is read once however often it is listed, none may
        // overlap one read before (nor this super index), and a damaged dwSize never
        // makes us read more than the standard index's own header says it holds.
        struct Sub {
            uint64_t offset;
            uint64_t bytes;
        };
        std::vector<Sub> subs;
        uint64_t entryRoom = 0;
        const uint64_t superStart = static_cast<uint64_t>(std::max<int64_t>(lastChunkStart_, 0));
        // Ranges never overlap each other, so only the neighbours of begin can.
        auto overlaps = [this](uint64_t begin, uint64_t end) {
            auto next = readIndexes_.lower_bound(begin);
            if (next != readIndexes_.end() && next->first < end) {
                return true;
            }
            return next != readIndexes_.begin() && std::prev(next)->second > begin;
        };
        readIndexes_.emplace(superStart, superStart + chunk.size());
        for (uint64_t i = 0; i < entriesInUse; ++i) {
            const size_t at = 32 + static_cast<size_t>(i) * 16;
            if (!Has(chunk.first(usable), at, 16)) {
                break;
            }
            const uint64_t offset = Le64(chunk.data() + at);   // qwOffset
            const uint32_t size = Le32(chunk.data() + at + 8);  // dwSize; dwDuration unused
            uint8_t head[32];
            if (offset >= static_cast<uint64_t>(fileSize_)) {
                indexRebuilt_ = true;  // a segment the file no longer holds: it was cut
                continue;
            }
            if (size < sizeof head ||
                file_.ReadAt(static_cast<int64_t>(offset), head, sizeof head) != sizeof head) {
                continue;
            }
            // An "ix##" chunk whose bIndexType says index of chunks: anything else (the
            // super index itself, a chunk written over the index) is not one.
            if (head[0] != 'i' || head[1] != 'x' || head[11] != 1) {
                continue;
            }
            const uint64_t held = std::min<uint64_t>(
                static_cast<uint64_t>(Le32(head + 4)) + 8,                // ckSize
                32 + static_cast<uint64_t>(Le32(head + 12)) * 8);        // nEntriesInUse
            const uint64_t bytes = std::min<uint64_t>(
                {size, held, static_cast<uint64_t>(fileSize_) - offset,
                 static_cast<uint64_t>(kMaxIndexChunk)});
            if (bytes < sizeof head || overlaps(offset, offset + bytes)) {
                continue;
            }
            readIndexes_.emplace(offset, offset + bytes);
            entryRoom += (bytes - 32) / 8;
            subs.push_back({offset, bytes});
        }
        stream->entries_.reserve(stream->entries_.size() + static_cast<size_t>(entryRoom));
        std::vector<uint8_t> sub;
        for (const Sub& s : subs) {
            sub.resize(static_cast<size_t>(s.bytes));
            int64_t got = file_.ReadAt(static_cast<int64_t>(s.offset), sub.data(),
                                       static_cast<int64_t>(s.bytes));
            sub.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
            ReadIndexChunk(sub, level + 1);
        }
    } else if (indexType == 1) {  // AVI_INDEX_OF_CHUNKS
        stream->chunkId_ = Field32(chunk, 16);            // dwChunkId
        const uint64_t baseOffset = Field64(chunk, 20);   // qwBaseOffset
        for (uint64_t i = 0; i < entriesInUse; ++i) {
            const size_t at = 32 + static_cast<size_t>(i) * 8;
            if (!Has(chunk.first(usable), at, 8)) {
                break;
            }
            const uint32_t offset = Le32(chunk.data() + at);                // dwOffset
            const uint32_t size = Le32(chunk.data() + at + 4) & ~kKeyFrameFlag;  // dwSize
            if (size == 0) {
                continue;
            }
            if (!stream->AddEntry(baseOffset + offset, size)) {
                break;
            }
        }
    }
}

// An unfinished capture holds chunks its index does not list: the "idx1" is written
// last, a segment's standard index at the segment's end, and a copy cut short loses
// both. The "movi" data past the last listed chunk is walked chunk by chunk and what it
// holds is appended to the streams in file order; a complete file has at most its last
// standard indexes there.
void RiffAviReader::IndexUnlistedChunks() {
    if (moviLists_.empty() || streams_.empty()) {
        return;
    }
    // Per stream the data position of its last listed chunk; the walk starts at the
    // earliest end of those chunks, which is a chunk boundary. A stream without any
    // listed chunk has all of its chunks to find: the walk then starts at the first
    // "movi".
    std::vector<uint64_t> listedUpTo(streams_.size(), 0);
    int64_t start = std::numeric_limits<int64_t>::max();
    bool anyListed = false;
    for (size_t n = 0; n < streams_.size(); ++n) {
        const IndexEntry* last = nullptr;
        for (const IndexEntry& e : streams_[n]->entries_) {
            // A damaged entry pointing outside the file is no chunk's end.
            if (Within(e, static_cast<uint64_t>(fileSize_)) &&
                (last == nullptr || e.position > last->position)) {
                last = &e;
            }
        }
        if (last == nullptr) {
            start = 0;
            continue;
        }
        anyListed = true;
        listedUpTo[n] = last->position;
        const auto end = static_cast<int64_t>(last->position + last->size);
        start = std::min(start, end + (end & 1));
    }
    if (!anyListed && legacyIndex_.empty()) {
        indexRebuilt_ = true;  // no index at all: whatever the data holds is all there is
    }
    for (const MoviRange& list : moviLists_) {
        if (list.end <= start) {
            continue;
        }
        const int64_t from = std::max(list.begin, start);
        // A listed chunk that was not where a chunk ends (a damaged index) leaves the
        // walk on no chunk header: walk that list from its start instead.
        if (!WalkMoviData(from, list.end, listedUpTo) && from != list.begin) {
            WalkMoviData(list.begin, list.end, listedUpTo);
        }
    }
}

// Walks the chunks in [from, end) and appends the data chunks of each stream that lie
// past its listed ones. Returns false when no chunk header was found at from.
bool RiffAviReader::WalkMoviData(int64_t from, int64_t end,
                                 const std::vector<uint64_t>& listedUpTo) {
    int64_t position = from + (from & 1);  // chunks start at even positions
    bool first = true;
    while (position + 8 <= end) {
        uint8_t header[8];
        if (file_.ReadAt(position, header, 8) != 8) {
            break;
        }
        const FourCC id = Le32(header);             // ckID
        const uint32_t size = Le32(header + 4);     // ckSize
        if (!IsPrintableId(id)) {
            return !first;
        }
        first = false;
        if (id == fcc::LIST) {
            position += 12;  // a "rec " list: its chunks follow in line
            continue;
        }
        const int64_t data = position + 8;
        if (static_cast<int64_t>(size) > end - data) {
            break;  // cut off by the end of the file (or of a damaged list): not a chunk
        }
        const int number = StreamOfDataChunk(id);
        if (number >= 0 && number < StreamCount() && size != 0) {
            RiffAviStream& stream = *streams_[static_cast<size_t>(number)];
            if (static_cast<uint64_t>(data) > listedUpTo[static_cast<size_t>(number)]) {
                if (stream.chunkId_ == 0) {
                    stream.chunkId_ = id;
                }
                if (!stream.AddEntry(static_cast<uint64_t>(data), size)) {
                    break;
                }
                indexRebuilt_ = true;
            }
        }
        position = data + size + (size & 1);
    }
    return true;
}

void RiffAviReader::ConvertLegacyIndex() {
    ByteSpan index = legacyIndex_;
    const uint64_t declared = Field32(index, 4);  // ckSize
    const uint64_t held = index.size() >= 8 ? (index.size() - 8) / 16 : 0;
    const uint64_t count = std::min<uint64_t>(declared / 16, held);
    const auto movi =
        static_cast<uint64_t>(legacyMoviPosition_ > 0 ? legacyMoviPosition_ : moviPosition_);
    std::vector<size_t> perStream(streams_.size());
    for (uint64_t i = 0; i < count; ++i) {
        const size_t number = StreamNumberOf(Le32(index.data() + 8 + i * 16));
        if (number < perStream.size()) {
            ++perStream[number];
        }
    }
    for (size_t n = 0; n < streams_.size(); ++n) {
        streams_[n]->entries_.reserve(perStream[n]);
    }
    bool relativeUnknown = true;
    for (uint64_t i = 0; i < count; ++i) {
        const uint8_t* p = index.data() + 8 + i * 16;
        const FourCC ckid = Le32(p);            // ckid
        const uint32_t offset = Le32(p + 8);    // dwChunkOffset (dwFlags at 4 unused)
        const uint32_t length = Le32(p + 12);   // dwChunkLength
        RiffAviStream* stream = RiffStream(StreamNumberOf(ckid));
        if (stream == nullptr) {
            continue;
        }
        // Relative offsets count from the "movi" list type, absolute ones from the
        // file start; both point at the chunk header.
        uint64_t position;
        if (offset < movi) {
            position = movi + offset + 12;
            relativeUnknown = false;
        } else if (relativeUnknown) {
            position = static_cast<uint64_t>(offset) + 8;
        } else {
            position = movi + offset + 12;
        }
        if (stream->entries_.empty()) {
            stream->chunkId_ = ckid;
        }
        stream->AddEntry(position, length);
    }
}

}  // namespace qv
