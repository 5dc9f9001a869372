#pragma once
// Real DV pictures for tests that decode: frames encoded by libavcodec's
// "dvvideo" encoder from pictures the test describes pixel by pixel.

#include <cstdint>
#include <functional>
#include <vector>

namespace qvtest {

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
};

// One DV frame: 625/50 (720 x 576, 4:2:0, 144000 bytes) when pal, else 525/60
// (720 x 480, 4:1:1, 120000 bytes). pixel gives the colour at (x, y), y from the
// top. Empty when the encoder is missing or fails.
std::vector<uint8_t> EncodeDvPicture(bool pal, const std::function<Rgb(int x, int y)>& pixel);
// A picture whose top half is top and bottom half bottom.
std::vector<uint8_t> EncodeDvHalves(bool pal, Rgb top, Rgb bottom);
inline std::vector<uint8_t> EncodeDvColour(bool pal, Rgb colour) {
    return EncodeDvHalves(pal, colour, colour);
}

}  // namespace qvtest
