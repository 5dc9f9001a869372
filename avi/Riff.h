#pragma once
// RIFF basics: four-character codes and little-endian fields read from byte buffers.
// Every field read names the buffer and checks that the field lies inside it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qv {

using FourCC = uint32_t;

constexpr FourCC MakeFourCC(const char (&s)[5]) {
    return static_cast<FourCC>(static_cast<uint8_t>(s[0])) |
           static_cast<FourCC>(static_cast<uint8_t>(s[1])) << 8 |
           static_cast<FourCC>(static_cast<uint8_t>(s[2])) << 16 |
           static_cast<FourCC>(static_cast<uint8_t>(s[3])) << 24;
}

// The four characters of a code, as stored.
std::string FourCCText(FourCC code);

using ByteSpan = std::span<const uint8_t>;

inline uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t Le64(const uint8_t* p) {
    return static_cast<uint64_t>(Le32(p)) | static_cast<uint64_t>(Le32(p + 4)) << 32;
}

// Little-endian field writes into a header being built.
inline void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    }
}

// Field reads that give 0 (and ok = false) when the field does not lie inside the buffer.
inline bool Has(ByteSpan b, size_t offset, size_t width) {
    return offset <= b.size() && width <= b.size() - offset;
}
inline uint16_t Field16(ByteSpan b, size_t offset) {
    return Has(b, offset, 2) ? Le16(b.data() + offset) : 0;
}
inline uint32_t Field32(ByteSpan b, size_t offset) {
    return Has(b, offset, 4) ? Le32(b.data() + offset) : 0;
}
inline uint64_t Field64(ByteSpan b, size_t offset) {
    return Has(b, offset, 8) ? Le64(b.data() + offset) : 0;
}

namespace fcc {
constexpr FourCC RIFF = MakeFourCC("RIFF");
constexpr FourCC LIST = MakeFourCC("LIST");
constexpr FourCC AVI_ = MakeFourCC("AVI ");
constexpr FourCC AVIX = MakeFourCC("AVIX");
constexpr FourCC hdrl = MakeFourCC("hdrl");
constexpr FourCC strl = MakeFourCC("strl");
constexpr FourCC movi = MakeFourCC("movi");
constexpr FourCC odml = MakeFourCC("odml");
constexpr FourCC avih = MakeFourCC("avih");
constexpr FourCC dmlh = MakeFourCC("dmlh");
constexpr FourCC idx1 = MakeFourCC("idx1");
constexpr FourCC strh = MakeFourCC("strh");
constexpr FourCC strf = MakeFourCC("strf");
constexpr FourCC strd = MakeFourCC("strd");
constexpr FourCC strn = MakeFourCC("strn");
constexpr FourCC indx = MakeFourCC("indx");
constexpr FourCC JUNK = MakeFourCC("JUNK");
constexpr FourCC auds = MakeFourCC("auds");
constexpr FourCC vids = MakeFourCC("vids");
constexpr FourCC iavs = MakeFourCC("iavs");
}  // namespace fcc

}  // namespace qv
