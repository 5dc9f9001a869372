#include "dv/Datestamp.h"

#include <cstring>

#include "avi/AviReader.h"
#include "platform/Platform.h"
#include "platform/Questions.h"

namespace qv {

namespace {

constexpr int kHeadBytes = 512;

int Bcd(uint8_t byte, uint8_t tensMask) {
    return ((byte & tensMask) >> 4) * 10 + (byte & 0x0F);
}

}  // namespace

bool RefFileCache::Follow(const std::string& fileName) {
    if (!SameFileName(fileName, name)) {
        file.Close();
        name = fileName;
        file.OpenRead(fileName, File::Access::Random);
    }
    return file.IsOpen();
}

bool IsRefChunk(const uint8_t* data, int count, int maxSize) {
    return count >= 4 && count <= maxSize && std::memcmp(data, "REF ", 4) == 0;
}

bool ParseRefChunk(const uint8_t* data, int count, uint32_t* position, std::string* name,
                   int maxSize) {
    // "REF " (0..3), byte position of the frame's chunk header (4..7), 8 unused
    // bytes, then the zero-terminated name of the data file (16..).
    if (count < 17 || !IsRefChunk(data, count, maxSize)) {
        return false;
    }
    const auto* nameStart = data + 16;
    const void* end = std::memchr(nameStart, 0, static_cast<size_t>(count - 16));
    if (end == nullptr) {
        return false;
    }
    *position = Le32(data + 4);
    name->assign(reinterpret_cast<const char*>(nameStart),
                 static_cast<const uint8_t*>(end) - nameStart);
    return true;
}

Datestamp DecodeDatestamp(const uint8_t* f) {
    // The third VAUX DIF block of sequence 0 starts at byte 400; its packs of
    // 5 bytes start at 403. Recording date pack (0x62) at 458, recording time
    // pack (0x63) at 463; their pack headers are not checked. BCD digits:
    const int day = Bcd(f[460], 0x30);
    const int month = Bcd(f[461], 0x10);
    const int year = Bcd(f[462], 0xF0);
    const int seconds = Bcd(f[465], 0x70);
    const int minutes = Bcd(f[466], 0x70);
    const int hours = Bcd(f[467], 0x30);
    // A tape position without a recording date holds 0xFF here: 85 seconds.
    if (seconds > 59 || minutes > 59 || hours > 23) {
        return 0;
    }
    // DV appeared in 1995: two-digit years 95..99 are 1995..1999, the rest 2000 on.
    const int fullYear = year >= 95 ? 1900 + year : 2000 + year;
    // Day and month are left to the conversion, which normalises them.
    return LocalTimeToCalendar(fullYear, month, day, hours, minutes, seconds);
}

Datestamp DecodeDatestamp(const uint8_t* f, DatestampMemo& memo) {
    // The date pack's day, month, year and the time pack's seconds, minutes, hours.
    const uint8_t bytes[6] = {f[460], f[461], f[462], f[465], f[466], f[467]};
    if (!memo.valid || std::memcmp(bytes, memo.bytes, sizeof bytes) != 0) {
        std::memcpy(memo.bytes, bytes, sizeof bytes);
        memo.value = DecodeDatestamp(f);
        memo.valid = true;
    }
    return memo.value;
}

Datestamp ReadFrameDatestamp(AviStream& stream, int frame, RefFileCache& cache,
                             std::string* referencedFile, Questions* questions,
                             int* readError) {
    if (referencedFile != nullptr) {
        referencedFile->clear();
    }
    int unusedError = 0;
    int& error = readError != nullptr ? *readError : unusedError;
    error = 0;
    uint8_t head[kHeadBytes];
    int count = 0;
    stream.Read(frame, 1, nullptr, head, kHeadBytes, &count);
    if (count != kHeadBytes && stream.ReadError() != 0) {
        error = stream.ReadError();
        return 0;
    }

    if (IsRefChunk(head, count)) {
        uint32_t position = 0;
        std::string name;
        if (!ParseRefChunk(head, count, &position, &name)) {
            return 0;
        }
        if (!cache.Follow(name)) {
            if (frame == 0 && questions != nullptr) {
                questions->Tell("can't open referenced data file \"" + name + "\" for reading");
            }
            return 0;
        }
        if (referencedFile != nullptr) {
            *referencedFile = name;
        }
        // The frame's data begins 8 bytes after its chunk header.
        int64_t got = cache.file.ReadAt(static_cast<int64_t>(position) + 8, head, kHeadBytes);
        count = got > 0 ? static_cast<int>(got) : 0;
        if (count != kHeadBytes && cache.file.ReadError() != 0) {
            error = cache.file.ReadError();
            return 0;
        }
    }
    if (count != kHeadBytes) {
        return 0;
    }
    return DecodeDatestamp(head);
}

}  // namespace qv
